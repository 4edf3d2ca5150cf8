#include "web/LiveResource.h"

#include <charconv>
#include <cstdio>
#include <string_view>

namespace sw {

namespace {

constexpr const char* kNoCache = "Cache-Control: no-cache, no-store, must-revalidate\r\nPragma: no-cache\r\n";

// The fps parameter of a query ("fps=12&x=1"); 0 when absent or not a positive number.
int FpsOf(std::string_view query) {
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view item = query.substr(0, end);
        if (item.substr(0, 4) == "fps=") {
            const std::string_view digits = item.substr(4);
            int value = 0;
            const auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
            if (error == std::errc() && rest == digits.data() + digits.size() && value > 0) {
                return value < kLiveMaxFps ? value : kLiveMaxFps;
            }
            return 0;
        }
        query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
    }
    return 0;
}

std::string Header(const char* contentType, const std::string& httpDate) {
    return "HTTP/1.1 200 OK\r\nDate: " + httpDate + "\r\nContent-Type: " + contentType + "\r\n" + kNoCache +
           "Connection: close\r\n\r\n";
}

} // namespace

std::optional<TLiveRequest> LiveResourceOf(const std::string& path) {
    const std::string_view whole(path);
    const size_t mark = whole.find('?');
    const std::string_view name = whole.substr(0, mark);
    const std::string_view query =
        mark == std::string_view::npos ? std::string_view() : whole.substr(mark + 1);
    TLiveRequest request;
    if (name == "/live/stream.mjpg") {
        request.Resource = TLiveResource::Stream;
        request.Fps = FpsOf(query);
    } else if (name == "/live/snapshot.jpg") {
        request.Resource = TLiveResource::Snapshot;
    } else if (name == "/live/audio") {
        request.Resource = TLiveResource::Audio;
    } else {
        return std::nullopt;
    }
    return request;
}

std::string LiveStreamHeader(const std::string& httpDate) {
    return Header((std::string("multipart/x-mixed-replace; boundary=") + kLiveBoundary).c_str(), httpDate) +
           "--" + kLiveBoundary + "\r\n";
}

std::string LivePartHeader(uint32_t frameNumber, size_t jpegBytes, double sentSeconds) {
    char text[160];
    const int n = std::snprintf(text, sizeof text,
                                "Content-Type: image/jpeg\r\nContent-Length: %zu\r\nX-Frame-Number: %u\r\n"
                                "X-Timestamp: %.6f\r\n\r\n",
                                jpegBytes, frameNumber, sentSeconds);
    return std::string(text, static_cast<size_t>(n));
}

std::string LivePartTrailer() {
    return std::string("\r\n--") + kLiveBoundary + "\r\n";
}

std::string LiveAudioHeader(const std::string& httpDate) {
    // G.711 mu-law, 8000 samples per second, one channel: exactly what "audio/basic" names.
    return Header("audio/basic", httpDate);
}

std::string LiveSnapshotHeader(const std::string& httpDate, size_t jpegBytes) {
    return "HTTP/1.1 200 OK\r\nDate: " + httpDate +
           "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpegBytes) + "\r\n" +
           kNoCache + "Connection: close\r\n\r\n";
}

std::string LiveUnavailable(const std::string& httpDate) {
    const std::string text = "No video is running.\r\n";
    return "HTTP/1.1 503 Service Unavailable\r\nDate: " + httpDate +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size()) + "\r\n" +
           kNoCache + "Connection: close\r\n\r\n" + text;
}

} // namespace sw
