#include "engine/EngineFixture.h"
#include "engine/ViewerFixture.h"

#include "platform/capture/CaptureDriverTable.h"
#include "video/VideoPacket.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

namespace sw::test {
namespace {

using VideoSendTest = TViewerFixture;

TEST_F(VideoSendTest, PacketsGoWholeOnlyToRegisteredUnblockedViewersEachWithItsHeaderDumped) {
    Clients().Block("127.0.0.3");
    TUniqueFd open = ConnectViewer(VideoPort, "127.0.0.2");
    TUniqueFd blocked = ConnectViewer(VideoPort, "127.0.0.3");
    TUniqueFd unknown = ConnectViewer(VideoPort, "127.0.0.4");
    // Two "Socket connect" entries per viewer: the address, then the send buffer.
    ASSERT_TRUE(WaitFor([&] { return EntriesOf(lmVideoSocketConnect).size() == 6; }));
    Clients().Reset("127.0.0.4");
    Entries.clear();

    std::vector<uint8_t> jpeg(12345);
    for (size_t i = 0; i < jpeg.size(); ++i) {
        jpeg[i] = static_cast<uint8_t>(i * 13 + 1);
    }
    const TVideoPacketHeader header = VideoPacketHeader(1, static_cast<uint32_t>(jpeg.size()));
    TViewerSendCounts counts = Engine->SendVideo(header, jpeg.data(), jpeg.size());
    EXPECT_EQ(counts.Eligible, 1);
    EXPECT_EQ(counts.Sent + counts.Queued, 1);

    std::string received;
    ASSERT_TRUE(WaitFor([&] { return Available(open, &received) >= 0 && received.size() >= 12355; }));
    ASSERT_EQ(received.size(), 12355u);
    EXPECT_EQ(received.substr(0, 10), std::string("\x01\x00\x00\x00\x01\x02\x00\x00\x30\x39", 10));
    EXPECT_EQ(received.substr(10), std::string(jpeg.begin(), jpeg.end()));
    Settle(50);
    EXPECT_EQ(Available(blocked), 0);
    EXPECT_EQ(Available(unknown), 0);

    const std::vector<TAMLog> writes = EntriesOf(lmVideoSocketWrite);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].Level, llInformation);
    EXPECT_EQ(writes[0].Detail, "127.0.0.2");
    const std::string row = "00000000: 01 00 00 00 01 02 00 00 30 39 " + std::string(18, ' ') +
                            " ........09" + std::string(6, ' ');
    EXPECT_EQ(Values(writes[0]), std::vector<std::string>{row});

    // The same frame through the video thread's side of the engine.
    Clients().Unblock("127.0.0.3");
    Engine->SendFrame(VideoPacketHeader(2, 3), jpeg.data(), 3);
    std::string late;
    ASSERT_TRUE(WaitFor([&] { return Available(blocked, &late) >= 0 && late.size() >= 13; }));
    EXPECT_EQ(late.substr(0, 10), std::string("\x01\x00\x00\x00\x02\x02\x00\x00\x00\x03", 10));
}

TEST_F(VideoSendTest, AViewerThatFellBehindGetsTheNextPacketOnlyOnceItCaughtUp) {
    // A send buffer larger than the packets: the kernel takes them whole, so only the viewer's closed
    // receive window shows that it is behind.
    Config->Video().SetBufferSize(1024);
    TUniqueFd reader = ConnectViewer(VideoPort, "127.0.0.2");
    TUniqueFd behind = ConnectViewer(VideoPort, "127.0.0.3", 4096);
    ASSERT_TRUE(WaitFor([&] { return EntriesOf(lmVideoSocketConnect).size() == 4; }));
    std::vector<uint8_t> jpeg(60000);
    auto send = [&](uint32_t number) {
        for (size_t i = 0; i < jpeg.size(); ++i) {
            jpeg[i] = static_cast<uint8_t>(number + i);
        }
        return Engine->SendVideo(VideoPacketHeader(number, static_cast<uint32_t>(jpeg.size())), jpeg.data(),
                                 jpeg.size());
    };
    std::string fromReader;
    std::string fromBehind;
    TViewerSendCounts counts = send(1);
    EXPECT_EQ(counts.Sent, 2);
    ASSERT_TRUE(WaitFor([&] { return Available(reader, &fromReader) >= 0 && fromReader.size() == 60010; }));
    TServerClientSocket* behindSide = ServerSide(Engine->ServerSocketVideo, behind);
    ASSERT_NE(behindSide, nullptr);
    ASSERT_TRUE(WaitFor([&] { return behindSide->UntransmittedBytes() > 0; }));

    counts = send(2);
    EXPECT_EQ(counts.Sent, 1) << "the reader";
    EXPECT_EQ(counts.Skipped, 1) << "the viewer still holding most of packet 1";
    ASSERT_TRUE(
        WaitFor([&] { return Available(reader, &fromReader) >= 0 && fromReader.size() == 2 * 60010; }));

    // It catches up; the next packet is the newest, whole.
    ASSERT_TRUE(WaitFor([&] {
        Available(behind, &fromBehind);
        return fromBehind.size() == 60010 && behindSide->UnsentBytes() == 0;
    }));
    counts = send(3);
    EXPECT_EQ(counts.Sent, 2);
    ASSERT_TRUE(
        WaitFor([&] { return Available(behind, &fromBehind) >= 0 && fromBehind.size() == 2 * 60010; }));
    EXPECT_EQ(fromBehind.substr(0, 10), std::string("\x01\x00\x00\x00\x01\x02\x00\x00\xEA\x60", 10));
    EXPECT_EQ(fromBehind.substr(60010, 10), std::string("\x01\x00\x00\x00\x03\x02\x00\x00\xEA\x60", 10));
    EXPECT_EQ(static_cast<uint8_t>(fromBehind[60020]), 3) << "packet 3's own bytes";
}

TEST_F(VideoSendTest, ASmallBufferSizeIsRaisedSoAWholeFrameGoesOutAtOnce) {
    // "BufferSize" 0 asks for the system's smallest send buffer; a 200 KB frame must still be taken
    // whole, or a fast viewer would get it in pieces and skip the next.
    Config->Video().SetBufferSize(0);
    TUniqueFd reader = ConnectViewer(VideoPort, "127.0.0.2");
    ASSERT_TRUE(WaitFor([&] { return EntriesOf(lmVideoSocketConnect).size() == 2; }));
    std::vector<uint8_t> jpeg(200000, 0x55);
    std::string fromReader;
    for (uint32_t number = 1; number <= 3; ++number) {
        const TViewerSendCounts counts = Engine->SendVideo(
            VideoPacketHeader(number, static_cast<uint32_t>(jpeg.size())), jpeg.data(), jpeg.size());
        EXPECT_EQ(counts.Sent, 1) << number;
        EXPECT_EQ(counts.Queued, 0) << number;
        ASSERT_TRUE(WaitFor(
            [&] { return Available(reader, &fromReader) >= 0 && fromReader.size() == number * 200010; }));
    }
    EXPECT_EQ(EntriesOf(lmVideoSocketConnect).back().Values, "0") << "the log keeps the operator's size";
}

// A viewer of the broadcast: reads whatever has arrived without waiting.
class TRawViewer : public TViewerFixture {
public:
    using TViewerFixture::Available;
    using TViewerFixture::ConnectViewer;
    void TestBody() override {}
};

using BroadcastVideoTest = EngineFixture;

TEST_F(BroadcastVideoTest, StartSendsLiveFramesToAViewerAndStopEndsThemBeforeTheServers) {
    const std::vector<std::string> names = Config->Video().DeviceNameList();
    const auto pattern = std::find(names.begin(), names.end(), kTestPatternName);
    ASSERT_NE(pattern, names.end());
    Config->Video().SetDevice(static_cast<int32_t>(pattern - names.begin()));
    Config->Video().SetEnabled(true);
    Controller->Devices.InitializeVideo();
    ASSERT_EQ(Controller->Capture().VideoState(), vsInitialized);
    ASSERT_TRUE(Controller->Start());
    EXPECT_EQ(Controller->Capture().VideoState(), vsRunning);
    EXPECT_EQ(Controller->FrameRateText(), "0.0 fps");

    TUniqueFd viewer = TRawViewer::ConnectViewer(Engine->ServerSocketVideo.LocalPort());
    std::string stream;
    ASSERT_TRUE(ProcessEventsUntil([&] {
        TRawViewer::Available(viewer, &stream);
        return stream.size() > 10 * 10;
    }));
    ASSERT_EQ(stream[0], '\x01');
    ASSERT_EQ(stream[5], '\x02');
    int rateShown = 0;
    QObject counting;
    QObject::connect(Controller, &TBroadcastController::FrameRateChanged, &counting,
                     [&rateShown] { ++rateShown; });
    // The once-a-second timer shows the thread's rate.
    ASSERT_TRUE(ProcessEventsUntil([&] { return rateShown > 0; }, 3000));
    double rate = 0;
    char unit[8] = {};
    ASSERT_EQ(std::sscanf(Controller->FrameRateText().c_str(), "%lf %7s", &rate, unit), 2)
        << Controller->FrameRateText();
    EXPECT_EQ(std::string(unit), "fps");
    EXPECT_GT(rate, 1.0);
    EXPECT_GT(Controller->FrameRate(), 1.0);

    Controller->Stop();
    EXPECT_EQ(Controller->Capture().VideoState(), vsInitialized);
    EXPECT_EQ(Controller->FrameRateText(), "0.0 fps");
    EXPECT_EQ(Controller->FrameRate(), 0.0);
    Settle(100);
    const int rateShownAtStop = rateShown;
    Settle(1200);
    EXPECT_EQ(rateShown, rateShownAtStop) << "the timer stops with the video";
    // The thread's shut-down requests come before "Stop", which follows the servers' close.
    const std::vector<uint8_t> messages = RecordedMessages();
    const auto stop = std::find(messages.begin(), messages.end(), lmStop);
    ASSERT_NE(stop, messages.end());
    const auto lastUserData = std::find(messages.rbegin(), messages.rend(), lmSetUserData);
    ASSERT_NE(lastUserData, messages.rend());
    EXPECT_LT(lastUserData.base() - messages.begin(), stop - messages.begin() + 1);
    EXPECT_NE(std::find(messages.begin(), messages.end(), lmVideoSocketWrite), messages.end());
}

} // namespace
} // namespace sw::test
