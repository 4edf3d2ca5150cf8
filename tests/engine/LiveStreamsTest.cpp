#include "ViewerFixture.h"

#include "common/MultipartParts.h"

#include "log/LogTypes.h"
#include "video/VideoPacket.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>

namespace sw::test {
namespace {

constexpr const char* kBoundary = "--streamwright-frame";

// The browser side of a live resource: a raw socket to the web port that is read without blocking,
// so that the engine on this thread keeps running.
struct TLiveClient {
    TUniqueFd Fd;
    std::string Data; // everything received so far
    bool Closed = false;

    void Read() {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(Fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0) {
                Closed = true;
                return;
            }
            if (n < 0) {
                return;
            }
            Data.append(buffer, static_cast<size_t>(n));
        }
    }
    std::string HeaderBlock() const {
        const size_t end = Data.find("\r\n\r\n");
        return end == std::string::npos ? std::string() : Data.substr(0, end + 4);
    }
};

// A stand-in for an encoded frame: JPEG markers around a body that tells its frame number.
std::string FakeJpeg(uint32_t number, size_t size) {
    std::string jpeg(size, static_cast<char>('a' + number % 26));
    jpeg[0] = static_cast<char>(0xFF);
    jpeg[1] = static_cast<char>(0xD8);
    // Appended piece by piece: GCC's optimised build warns of a false overlap in "#" + ....
    std::string tag(1, '#');
    tag.append(std::to_string(number)).push_back('#');
    jpeg.replace(2, tag.size(), tag);
    jpeg[size - 2] = static_cast<char>(0xFF);
    jpeg[size - 1] = static_cast<char>(0xD9);
    return jpeg;
}

class LiveStreamsTest : public TViewerFixture {
protected:
    void SetUp() override {
        IniFile = Dir.File("streamwright.ini");
        ::mkdir(Dir.File("www").c_str(), 0755);
        WriteFile(IniFile, "[Video]\r\nPort=0\r\n[Audio]\r\nPort=0\r\n[Web]\r\nEnabled=1\r\nPort=0\r\nPath=" +
                               Dir.File("www") + "\r\n");
        CreateEngine();
        // Listen on the loopback address only.
        Engine->StopServers();
        Engine->ServerSocketWeb.BindAddress = "127.0.0.1";
        Engine->StartServers();
        WebPort = Engine->ServerSocketWeb.LocalPort();
        ASSERT_GT(WebPort, 0);
        VideoPort = Engine->ServerSocketVideo.LocalPort();
        Settle(50);
        Entries.clear();
    }

    TLiveClient Request(const std::string& method, const std::string& uri, const char* from = "127.0.0.1",
                        int receiveBuffer = 0) {
        TLiveClient client;
        client.Fd = ConnectViewer(WebPort, from, receiveBuffer);
        const std::string request =
            method + " " + uri + " HTTP/1.1\r\nHost: test\r\nUser-Agent: live-test\r\n\r\n";
        EXPECT_EQ(::send(client.Fd.Get(), request.data(), request.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(request.size()));
        return client;
    }
    TLiveClient Get(const std::string& uri, const char* from = "127.0.0.1", int receiveBuffer = 0) {
        return Request("GET", uri, from, receiveBuffer);
    }

    // The engine's view of the viewer: counted once the hand-over has arrived.
    bool Adopted(TServerSocket& server, size_t count) {
        return WaitFor([&] { return server.ConnectionCount() == count; });
    }

    void SendFrame(uint32_t number, const std::string& jpeg) {
        Engine->SendFrame(VideoPacketHeader(number, static_cast<uint32_t>(jpeg.size())),
                          reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size());
    }

    std::vector<TAMLog> WebEntries() const { return EntriesOf(lmWebGet); }

    int WebPort = 0;
};

TEST_F(LiveStreamsTest, StreamPartsAreWholeJpegsInFrameOrderWithWellFormedHeaders) {
    TLiveClient client = Get("/live/stream.mjpg");
    ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 1));
    ASSERT_TRUE(WaitFor([&] {
        client.Read();
        return !client.HeaderBlock().empty();
    }));
    const std::string header = client.HeaderBlock();
    EXPECT_EQ(header.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << header;
    EXPECT_NE(header.find("\r\nContent-Type: multipart/x-mixed-replace; boundary=streamwright-frame\r\n"),
              std::string::npos)
        << header;
    EXPECT_NE(header.find("\r\nCache-Control: no-cache"), std::string::npos) << header;

    std::vector<std::string> sent;
    for (uint32_t n = 1; n <= 20; ++n) {
        sent.push_back(FakeJpeg(n, 1000 + n * 997));
        SendFrame(n, sent.back());
        ProcessEventsFor(5);
        client.Read();
    }
    bool malformed = false;
    std::vector<TStreamPart> parts;
    ASSERT_TRUE(WaitFor([&] {
        client.Read();
        parts = ParseStreamParts(client.Data, malformed);
        return parts.size() == sent.size() || malformed;
    }));
    ASSERT_FALSE(malformed);
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].Number, i + 1);
        EXPECT_EQ(parts[i].Body, sent[i]) << "part " << i;
    }

    // Counted and logged like a video viewer, the request like any other.
    ASSERT_NE(Registry->Find("127.0.0.1", false), nullptr);
    EXPECT_EQ(Registry->Find("127.0.0.1", false)->VideoCount, 1);
    ASSERT_FALSE(EntriesOf(lmClientConnect).empty());
    ASSERT_EQ(EntriesOf(lmVideoSocketConnect).size(), 2u);
    EXPECT_EQ(EntriesOf(lmVideoSocketConnect)[0].Detail, "127.0.0.1");
    ASSERT_EQ(WebEntries().size(), 1u);
    EXPECT_EQ(WebEntries()[0].Detail, "/live/stream.mjpg");
    EXPECT_EQ(
        Values(WebEntries()[0]),
        (std::vector<std::string>{"Status code: 200", "Remote Address: 127.0.0.1", "Agent: live-test"}));
    ASSERT_EQ(EntriesOf(lmVideoSocketWrite).size(), sent.size());
    // Each write shows the frame's packet header, as for a port viewer: frame 1 of 1997 bytes.
    EXPECT_EQ(Values(EntriesOf(lmVideoSocketWrite)[0]).at(0).substr(0, 40),
              "00000000: 01 00 00 00 01 02 00 00 07 CD ");

    client.Fd.Reset();
    ASSERT_TRUE(WaitFor([&] { return Registry->Find("127.0.0.1", false) == nullptr; }));
    EXPECT_TRUE(WaitFor([&] { return EntriesOf(lmClientDisconnect).size() == 1; }));
    EXPECT_EQ(EntriesOf(lmVideoSocketDisconnect).size(), 1u);
}

TEST_F(LiveStreamsTest, AStalledViewerGetsWholePartsOnlyAndCatchesUpWhileTheOtherGetsEveryFrame) {
    TLiveClient normal = Get("/live/stream.mjpg");
    TLiveClient stalled = Get("/live/stream.mjpg", "127.0.0.1", 8192);
    ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 2));
    const uint32_t frames = 150;
    for (uint32_t n = 1; n <= frames; ++n) {
        SendFrame(n, FakeJpeg(n, 30000));
        // The normal viewer reads everything between frames; the stalled one reads nothing.
        ProcessEventsUntil(
            [&] {
                normal.Read();
                bool bad = false;
                return ParseStreamParts(normal.Data, bad).size() >= n || bad;
            },
            2000);
    }
    bool malformed = false;
    const std::vector<TStreamPart> all = ParseStreamParts(normal.Data, malformed);
    ASSERT_FALSE(malformed);
    ASSERT_EQ(all.size(), frames);
    for (uint32_t i = 0; i < frames; ++i) {
        EXPECT_EQ(all[i].Number, i + 1);
    }

    // Now the stalled viewer reads what it was given: whole parts, numbers rising, most frames skipped.
    ASSERT_TRUE(WaitFor([&] {
        stalled.Read();
        ProcessEventsFor(10);
        stalled.Read();
        bool bad = false;
        const std::vector<TStreamPart> parts = ParseStreamParts(stalled.Data, bad);
        return bad || (!parts.empty() && stalled.Data.size() - stalled.Data.rfind(kBoundary) ==
                                             std::string(kBoundary).size() + 2);
    }));
    std::vector<TStreamPart> parts = ParseStreamParts(stalled.Data, malformed);
    ASSERT_FALSE(malformed);
    ASSERT_FALSE(parts.empty());
    EXPECT_LT(parts.size(), frames / 2);
    for (size_t i = 1; i < parts.size(); ++i) {
        EXPECT_GT(parts[i].Number, parts[i - 1].Number);
    }
    for (const TStreamPart& part : parts) {
        EXPECT_EQ(part.Body, FakeJpeg(part.Number, 30000));
    }
    // Reading again, it gets the newest frame next.
    SendFrame(frames + 1, FakeJpeg(frames + 1, 30000));
    ASSERT_TRUE(WaitFor([&] {
        stalled.Read();
        bool bad = false;
        return ParseStreamParts(stalled.Data, bad).size() > parts.size() || bad;
    }));
    parts = ParseStreamParts(stalled.Data, malformed);
    ASSERT_FALSE(malformed);
    EXPECT_EQ(parts.back().Number, frames + 1);
}

TEST_F(LiveStreamsTest, AViewerLeavingInTheMiddleOfAPartLeavesNothingBehind) {
    const int descriptors = OpenDescriptorCount();
    for (int round = 0; round < 3; ++round) {
        TLiveClient client = Get("/live/stream.mjpg", "127.0.0.1", 4096);
        ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 1));
        // Far more than the reader takes: the rest of the part waits in the send buffer (grown to hold
        // whole packets) or in the engine when the viewer goes.
        SendFrame(1, FakeJpeg(1, 2000000));
        ProcessEventsFor(20);
        char head[4096];
        ASSERT_TRUE(WaitFor([&] { return ::recv(client.Fd.Get(), head, sizeof head, MSG_DONTWAIT) > 0; }))
            << "the viewer must leave in the middle of the part";
        Reset(client.Fd);
        ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 0));
        SendFrame(2, FakeJpeg(2, 1000));
        ProcessEventsFor(20);
        EXPECT_EQ(Registry->Find("127.0.0.1", false), nullptr);
    }
    // The web threads' own descriptors go when the server reaps them.
    EXPECT_TRUE(WaitFor([&] { return OpenDescriptorCount() == descriptors; })) << OpenDescriptorCount();
    EXPECT_TRUE(WaitFor([&] { return EntriesOf(lmVideoSocketDisconnect).size() == 3; }));
}

TEST_F(LiveStreamsTest, ABlockedAddressGetsNoByteOfStreamSnapshotOrSoundUntilUnblocked) {
    Registry->Block("127.0.0.2");
    SendFrame(1, FakeJpeg(1, 5000));
    TLiveClient stream = Get("/live/stream.mjpg", "127.0.0.2");
    TLiveClient sound = Get("/live/audio", "127.0.0.2");
    TLiveClient snapshot = Get("/live/snapshot.jpg", "127.0.0.2");
    ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 1));
    ASSERT_TRUE(Adopted(Engine->LiveStreams.AudioServer, 1));
    ASSERT_TRUE(WaitFor([&] {
        snapshot.Read();
        return snapshot.Closed;
    }));
    EXPECT_EQ(snapshot.Data, "");
    const uint8_t block[400] = {0x7F, 0xFF};
    for (uint32_t n = 2; n < 6; ++n) {
        SendFrame(n, FakeJpeg(n, 5000));
        Engine->SendAudio(block, sizeof block);
        ProcessEventsFor(20);
    }
    stream.Read();
    sound.Read();
    EXPECT_EQ(stream.Data, "");
    EXPECT_EQ(sound.Data, "");
    EXPECT_FALSE(stream.Closed);
    EXPECT_FALSE(sound.Closed);
    ASSERT_FALSE(EntriesOf(lmClientConnectBlocked).empty());
    EXPECT_EQ(EntriesOf(lmClientConnectBlocked)[0].Detail, "127.0.0.2");
    EXPECT_EQ(Registry->Find("127.0.0.2", false)->VideoCount, 1);
    EXPECT_EQ(Registry->Find("127.0.0.2", false)->AudioCount, 1);

    // Unblocked, both start at the next frame and block, each with its header first.
    Registry->Unblock("127.0.0.2");
    SendFrame(6, FakeJpeg(6, 5000));
    Engine->SendAudio(block, sizeof block);
    bool malformed = false;
    ASSERT_TRUE(WaitFor([&] {
        stream.Read();
        sound.Read();
        return !ParseStreamParts(stream.Data, malformed).empty() && sound.Data.size() > sizeof block;
    }));
    EXPECT_EQ(ParseStreamParts(stream.Data, malformed).front().Number, 6u);
    const std::string soundHeader = sound.HeaderBlock();
    EXPECT_EQ(soundHeader.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(soundHeader.find("\r\nContent-Type: audio/basic\r\n"), std::string::npos);
    EXPECT_EQ(sound.Data.substr(soundHeader.size()),
              std::string(reinterpret_cast<const char*>(block), sizeof block));
}

TEST_F(LiveStreamsTest, SnapshotIsTheNewestFrameAnd503WithoutVideo) {
    auto snapshot = [this] {
        TLiveClient client = Get("/live/snapshot.jpg");
        EXPECT_TRUE(WaitFor([&] {
            client.Read();
            return client.Closed;
        }));
        return client.Data;
    };
    std::string answer = snapshot();
    EXPECT_EQ(answer.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Type: text/plain"), std::string::npos);

    SendFrame(1, FakeJpeg(1, 3000));
    SendFrame(2, FakeJpeg(2, 70000));
    answer = snapshot();
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
    EXPECT_NE(answer.find("\r\nContent-Type: image/jpeg\r\nContent-Length: 70000\r\n"), std::string::npos);
    const size_t body = answer.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(answer.substr(body + 4), FakeJpeg(2, 70000));

    // A stop forgets the frame: the next broadcast without video has none.
    Engine->StopServers();
    Engine->StartServers();
    WebPort = Engine->ServerSocketWeb.LocalPort();
    answer = snapshot();
    EXPECT_EQ(answer.rfind("HTTP/1.1 503 ", 0), 0u) << answer;

    std::vector<std::string> statuses;
    for (const TAMLog& entry : WebEntries()) {
        statuses.push_back(Values(entry).at(0));
    }
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Status code: 503", "Status code: 200", "Status code: 503"}));
}

TEST_F(LiveStreamsTest, LiveNamesAreAnsweredBeforeTheHomeDirectoryAndHeadGetsTheHeaderOnly) {
    ::mkdir(Dir.File("www/live").c_str(), 0755);
    WriteFile(Dir.File("www/live/snapshot.jpg"), "a file of the same name");
    WriteFile(Dir.File("www/live/other.txt"), "served");
    SendFrame(1, FakeJpeg(1, 3000));
    TLiveClient snapshot = Get("/live/snapshot.jpg");
    TLiveClient other = Get("/live/other.txt");
    TLiveClient head = Request("HEAD", "/live/stream.mjpg");
    ASSERT_TRUE(WaitFor([&] {
        snapshot.Read();
        other.Read();
        head.Read();
        return snapshot.Closed && other.Closed && head.Closed;
    }));
    EXPECT_NE(snapshot.Data.find(FakeJpeg(1, 3000)), std::string::npos);
    EXPECT_NE(other.Data.find("\r\n\r\nserved"), std::string::npos);
    EXPECT_EQ(head.Data.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_NE(head.Data.find("multipart/x-mixed-replace"), std::string::npos);
    EXPECT_EQ(Engine->LiveStreams.StreamServer.ConnectionCount(), 0u);
    EXPECT_EQ(Registry->Find("127.0.0.1", false), nullptr) << "a HEAD request is no viewer";
}

TEST_F(LiveStreamsTest, AFrameRateLimitThinsTheStreamForThatViewerOnly) {
    TLiveClient thin = Get("/live/stream.mjpg?fps=5");
    TLiveClient full = Get("/live/stream.mjpg");
    ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 2));
    const auto start = std::chrono::steady_clock::now();
    const uint32_t frames = 40;
    for (uint32_t n = 1; n <= frames; ++n) {
        SendFrame(n, FakeJpeg(n, 2000));
        ProcessEventsFor(25);
        thin.Read();
        full.Read();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bool malformed = false;
    ASSERT_TRUE(WaitFor([&] {
        full.Read();
        return ParseStreamParts(full.Data, malformed).size() == frames;
    }));
    thin.Read();
    const std::vector<TStreamPart> parts = ParseStreamParts(thin.Data, malformed);
    ASSERT_FALSE(malformed);
    EXPECT_GE(parts.size(), 1u);
    // However slowly the frames came, no more than five a second (and the first one).
    EXPECT_LE(static_cast<double>(parts.size()), seconds * 5 + 1.5) << seconds << " s";
    EXPECT_LT(parts.size(), frames);
}

TEST_F(LiveStreamsTest, DisconnectClientAndStopCloseTheLiveConnections) {
    TLiveClient stream = Get("/live/stream.mjpg");
    TLiveClient sound = Get("/live/audio");
    ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 1));
    ASSERT_TRUE(Adopted(Engine->LiveStreams.AudioServer, 1));
    Engine->DisconnectClient("127.0.0.1");
    ASSERT_TRUE(WaitFor([&] {
        stream.Read();
        sound.Read();
        return stream.Closed && sound.Closed;
    }));
    EXPECT_EQ(Registry->Find("127.0.0.1", false), nullptr);
    EXPECT_TRUE(WaitFor([&] { return EntriesOf(lmClientDisconnect).size() == 1; }));

    TLiveClient again = Get("/live/stream.mjpg");
    ASSERT_TRUE(Adopted(Engine->LiveStreams.StreamServer, 1));
    Engine->StopServers();
    ASSERT_TRUE(WaitFor([&] {
        again.Read();
        return again.Closed;
    }));
    EXPECT_EQ(Engine->LiveStreams.StreamServer.ConnectionCount(), 0u);
}

} // namespace
} // namespace sw::test
