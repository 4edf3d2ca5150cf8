#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

// The order is shared with the Web messages of the event log.
enum class WebMethod : uint8_t {
    Unknown = 0,
    Get = 1,
    Post = 2,
    Put = 3,
    Head = 4,
};

enum class RequestParseState : uint8_t {
    RequestLine = 0,
    Headers = 1,
    Body = 2,
    Complete = 3,
    Invalid = 4,
};

constexpr int kRequestHeaderCount = 37;
extern const std::array<const char*, kRequestHeaderCount> RequestHeaderNames;

constexpr int kRequestConnection = 1;
constexpr int kRequestTransferEncoding = 4;
constexpr int kRequestUserAgent = 24;
constexpr int kRequestContentLength = 29;

// Bounds on what one request may make us hold; past them the request is rejected with the status named.
constexpr size_t kMaxRequestLineBytes = 8 * 1024;  // 414
constexpr size_t kMaxHeaderBlockBytes = 16 * 1024; // 400
constexpr int kMaxHeaderLines = 100;               // 400
constexpr uint64_t kMaxBodyBytes = 1024 * 1024;    // 413

// Words separated by runs of spaces; leading spaces, CR and LF skipped; a word opening with a double or
// single quote runs to the matching quote (or the end of the line) without the quotes; a line ending in
// a space gives an empty last word.
std::vector<std::string> SplitWords(std::string_view line);

// One request being assembled from what a connection receives. The body is only counted: its bytes are
// consumed and dropped, and whatever follows it stays in Buffer as the start of the next request.
class TWebRequest {
public:
    RequestParseState State = RequestParseState::RequestLine;
    WebMethod Method = WebMethod::Unknown;
    std::string MethodName;
    std::string URI;
    std::string Version;
    // Received text not yet consumed.
    std::string Buffer;
    std::vector<std::string> Headers;

    // Status that an Invalid request must be answered with when the request line itself was fine
    // (limits, framing); 0 leaves the choice to the method (400 for Post, 405 otherwise).
    uint16_t ErrorCode = 0;
    // The request's framing cannot be trusted (Transfer-Encoding): answer it, then close the connection
    // rather than read anything after it.
    bool MustClose = false;

    void AddData(std::string_view text);
    bool ParseRequestLine(std::string_view line);
    void ParseHeaderLine(std::string_view line);
    std::string GetHeader(int index) const;
    void SetHeader(int index, const std::string& value);
    void Reset();
    // Starts the next request of the connection: like Reset, but the bytes already received after this
    // request stay and are parsed at once, so a pipelined request may be Complete right away.
    void NextRequest();

    uint64_t BodyLength() const { return FBodyLength; }
    uint64_t BodyReceived() const { return FBodyReceived; }

private:
    void Advance();
    void EndHeaders();
    void ConsumeBody();
    void Reject(uint16_t status);

    size_t FScanned = 0; // Buffer holds no CR LF that starts before this offset
    size_t FHeaderBytes = 0;
    int FHeaderLines = 0;
    int FContentLengthCount = 0;
    uint64_t FBodyLength = 0;
    uint64_t FBodyReceived = 0;
};

} // namespace sw
