#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sw {

enum class ResponseSendState : uint8_t {
    StatusLine = 0,
    Headers = 1,
    Content = 2,
    Done = 3,
};

constexpr int kResponseHeaderCount = 29;
extern const std::array<const char*, kResponseHeaderCount> ResponseHeaderNames;

constexpr int kResponseConnection = 1;
constexpr int kResponseDate = 2;
constexpr int kResponseContentLength = 21;
constexpr int kResponseContentType = 25;

// A body that is produced piece by piece (a file), so that it never has to fit in memory.
class TContentSource {
public:
    virtual ~TContentSource() = default;
    virtual uint64_t Size() const = 0;
    // Appends up to maxBytes of the next bytes to out; false when the bytes cannot be read, which
    // includes running out before Size bytes were given.
    virtual bool Read(std::string& out, size_t maxBytes) = 0;
};

// The response to one request, handed out as status line, header block and content.
class TWebResponse {
public:
    static constexpr size_t kContentPieceBytes = 64 * 1024;

    ResponseSendState State = ResponseSendState::StatusLine;
    uint16_t StatusCode = 0;
    std::string Content;
    std::vector<std::string> Headers;

    std::string GetHeader(int index) const;
    void SetHeader(int index, const std::string& value);
    // The next piece of the response text. A content source is handed out in pieces of at most
    // kContentPieceBytes; the other pieces come whole.
    std::string GetNext();
    void Reset();

    // Replaces Content by a source; nullptr drops the source.
    void SetContentSource(std::unique_ptr<TContentSource> source);
    bool HasContentSource() const { return FSource != nullptr; }
    uint64_t ContentLength() const;
    // The content source failed after the header block promised its length.
    bool ContentFailed() const { return FContentFailed; }

private:
    std::unique_ptr<TContentSource> FSource;
    uint64_t FSent = 0;
    bool FContentFailed = false;
};

} // namespace sw
