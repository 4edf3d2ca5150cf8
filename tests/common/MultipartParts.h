#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace sw::test {

// One part of a multipart JPEG stream: its X-Frame-Number and its bytes.
struct TStreamPart {
    uint32_t Number = 0;
    std::string Body;
};

// Parses a "multipart/x-mixed-replace" answer as a strict reader would, written independently of the
// server: the response header, the first boundary line, then per part its headers (Content-Type
// image/jpeg, Content-Length, X-Frame-Number), Content-Length bytes and the next boundary line.
// Sets malformed on anything else; a part still arriving is left out.
inline std::vector<TStreamPart> ParseStreamParts(const std::string& data, bool& malformed,
                                                 const std::string& boundary = "--streamwright-frame") {
    std::vector<TStreamPart> parts;
    malformed = false;
    size_t at = data.find("\r\n\r\n");
    if (at == std::string::npos) {
        return parts;
    }
    at += 4;
    const std::string first = boundary + "\r\n";
    if (data.compare(at, first.size(), first) != 0) {
        malformed = data.size() >= at + first.size();
        return parts;
    }
    at += first.size();
    const std::string trailer = "\r\n" + boundary + "\r\n";
    for (;;) {
        const size_t end = data.find("\r\n\r\n", at);
        if (end == std::string::npos) {
            return parts;
        }
        const std::string headers = data.substr(at, end + 2 - at);
        const size_t length = headers.find("\r\nContent-Length: ");
        const size_t number = headers.find("\r\nX-Frame-Number: ");
        if (headers.rfind("Content-Type: image/jpeg\r\n", 0) != 0 || length == std::string::npos ||
            number == std::string::npos) {
            malformed = true;
            return parts;
        }
        const size_t size = std::strtoul(headers.c_str() + length + 18, nullptr, 10);
        const size_t body = end + 4;
        if (data.size() < body + size + trailer.size()) {
            return parts;
        }
        if (data.compare(body + size, trailer.size(), trailer) != 0) {
            malformed = true;
            return parts;
        }
        parts.push_back({static_cast<uint32_t>(std::strtoul(headers.c_str() + number + 18, nullptr, 10)),
                         data.substr(body, size)});
        at = body + size + trailer.size();
    }
}

} // namespace sw::test
