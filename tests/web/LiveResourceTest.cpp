#include "web/LiveResource.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

TEST(LiveResourceTest, NamesTheThreeResourcesAndNothingElse) {
    struct TCase {
        const char* Path;
        bool Live;
        TLiveResource Resource;
        int Fps;
    };
    const TCase cases[] = {
        {"/live/stream.mjpg", true, TLiveResource::Stream, 0},
        {"/live/stream.mjpg?fps=12", true, TLiveResource::Stream, 12},
        {"/live/stream.mjpg?x=1&fps=5&y", true, TLiveResource::Stream, 5},
        {"/live/stream.mjpg?fps=0", true, TLiveResource::Stream, 0},
        {"/live/stream.mjpg?fps=-3", true, TLiveResource::Stream, 0},
        {"/live/stream.mjpg?fps=7x", true, TLiveResource::Stream, 0},
        {"/live/stream.mjpg?fps=99999999999", true, TLiveResource::Stream, 0},
        {"/live/stream.mjpg?fps=5000", true, TLiveResource::Stream, kLiveMaxFps},
        {"/live/stream.mjpg?xfps=3", true, TLiveResource::Stream, 0},
        {"/live/snapshot.jpg", true, TLiveResource::Snapshot, 0},
        {"/live/snapshot.jpg?t=123", true, TLiveResource::Snapshot, 0},
        {"/live/audio", true, TLiveResource::Audio, 0},
        {"/live/audio?fps=3", true, TLiveResource::Audio, 0},
        {"/live/stream.mjpgx", false, TLiveResource::Stream, 0},
        {"/live/", false, TLiveResource::Stream, 0},
        {"/LIVE/audio", false, TLiveResource::Stream, 0},
        {"/live//audio", false, TLiveResource::Stream, 0},
        {"/x/../live/audio", false, TLiveResource::Stream, 0},
        {"live/audio", false, TLiveResource::Stream, 0},
        {"/index.htm", false, TLiveResource::Stream, 0},
    };
    for (const TCase& c : cases) {
        const std::optional<TLiveRequest> live = LiveResourceOf(c.Path);
        ASSERT_EQ(live.has_value(), c.Live) << c.Path;
        if (live) {
            EXPECT_EQ(live->Resource, c.Resource) << c.Path;
            EXPECT_EQ(live->Fps, c.Fps) << c.Path;
        }
    }
}

TEST(LiveResourceTest, StreamHeaderEndsWithTheFirstBoundaryAndEveryPartWithTheNext) {
    const std::string header = LiveStreamHeader("Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(header.rfind("HTTP/1.1 200 OK\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n", 0), 0u);
    EXPECT_NE(header.find("\r\nContent-Type: multipart/x-mixed-replace; boundary=streamwright-frame\r\n"),
              std::string::npos);
    EXPECT_NE(header.find("\r\nCache-Control: no-cache, no-store, must-revalidate\r\n"), std::string::npos);
    EXPECT_EQ(header.find("Content-Length"), std::string::npos);
    const std::string end = "\r\n\r\n--streamwright-frame\r\n";
    EXPECT_EQ(header.substr(header.size() - end.size()), end);

    EXPECT_EQ(LivePartHeader(4294967295u, 12345, 1700000000.25),
              "Content-Type: image/jpeg\r\nContent-Length: 12345\r\nX-Frame-Number: 4294967295\r\n"
              "X-Timestamp: 1700000000.250000\r\n\r\n");
    EXPECT_EQ(LivePartTrailer(), "\r\n--streamwright-frame\r\n");
}

TEST(LiveResourceTest, UnavailableIsA503WithItsLength) {
    const std::string answer = LiveUnavailable("D");
    EXPECT_EQ(answer.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u);
    const size_t end = answer.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    const std::string body = answer.substr(end + 4);
    EXPECT_FALSE(body.empty());
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
}

} // namespace
} // namespace sw
