#include "engine/ViewerFixture.h"

#include "log/LogFormat.h"
#include "platform/shell/DateTime.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>

namespace sw::test {
namespace {

class ViewerConnectionsTest : public TViewerFixture {
protected:
    static std::vector<uint8_t> Block(size_t size, uint8_t seed) {
        std::vector<uint8_t> block(size);
        for (size_t i = 0; i < size; ++i) {
            block[i] = static_cast<uint8_t>(seed + i * 7);
        }
        return block;
    }

    static void ExpectDurationValue(const TAMLog& entry, const std::string& duration = "") {
        const std::vector<std::string> values = Values(entry);
        ASSERT_EQ(values.size(), 1u);
        if (duration.empty()) {
            // "Duration: " and DDD:HH:MM:SS.
            const std::string shape = "Duration: 000:00:00:00";
            bool matches = values[0].size() == shape.size();
            for (size_t i = 0; matches && i < shape.size(); ++i) {
                matches = shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(values[0][i])) != 0
                                          : values[0][i] == shape[i];
            }
            EXPECT_TRUE(matches) << values[0];
        } else {
            EXPECT_EQ(values[0], "Duration: " + duration);
        }
    }
};

TEST_F(ViewerConnectionsTest, AVideoViewerIsLoggedCountedAndGivenTheBufferSize) {
    TUniqueFd viewer = ConnectViewer(VideoPort);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(3); }));
    Settle(50);
    ASSERT_EQ(Entries.size(), 3u);
    EXPECT_EQ(Entries[0].Message, lmClientConnect);
    EXPECT_EQ(Entries[0].Level, llInformation);
    EXPECT_EQ(Entries[0].Detail, "127.0.0.1");
    EXPECT_EQ(Entries[0].Values, "");
    EXPECT_EQ(Entries[1].Message, lmVideoSocketConnect);
    EXPECT_EQ(Entries[1].Detail, "127.0.0.1");
    EXPECT_EQ(Entries[1].Values, "");
    EXPECT_EQ(Entries[2].Message, lmVideoSocketConnect);
    EXPECT_EQ(Entries[2].Level, llInformation);
    EXPECT_EQ(Entries[2].Detail, "Ok");
    EXPECT_EQ(Values(Entries[2]), std::vector<std::string>{"32768"});
    ASSERT_NE(Clients().Find("127.0.0.1", false), nullptr);
    EXPECT_EQ(Clients().Find("127.0.0.1", false)->VideoCount, 1);
    EXPECT_GE(Window.ConnectionsChanged, 1);

    TServerClientSocket* server = ServerSide(Engine->ServerSocketVideo, viewer);
    ASSERT_NE(server, nullptr);
    int size = 0;
    socklen_t len = sizeof size;
    ::getsockopt(server->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &size, &len);
    EXPECT_GE(size, 32768);

    Entries.clear();
    viewer.Reset();
    ASSERT_TRUE(WaitFor([&] { return HasEntries(2); }));
    EXPECT_EQ(Entries[0].Message, lmVideoSocketDisconnect);
    EXPECT_EQ(Entries[0].Detail, "127.0.0.1");
    EXPECT_EQ(Entries[1].Message, lmClientDisconnect);
    EXPECT_EQ(Entries[1].Detail, "127.0.0.1");
    ExpectDurationValue(Entries[1]);
    EXPECT_EQ(Clients().Count(), 0u);
}

// A size the socket option cannot hold once wrapped to a small positive one.
TEST_F(ViewerConnectionsTest, ABufferSizeBeyondTheOptionIsLoggedAsFailedAndTheViewerStays) {
    Configuration().Video().SetBufferSize(3000000);
    TUniqueFd viewer = ConnectViewer(VideoPort);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(3); }));
    EXPECT_EQ(Entries[2].Message, lmVideoSocketConnect);
    EXPECT_EQ(Entries[2].Level, llError);
    EXPECT_EQ(Entries[2].Detail, "Failed");
    EXPECT_EQ(Values(Entries[2]), std::vector<std::string>{"3072000000"});
    EXPECT_EQ(Engine->ServerSocketVideo.ConnectionCount(), 1u);
}

TEST_F(ViewerConnectionsTest, VideoThenAudioFromOneAddressIsOneConnectAndOneDisconnect) {
    TUniqueFd video = ConnectViewer(VideoPort);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(3); }));
    // Pretend the first stream opened an hour ago: the final duration must count from it.
    Clients().Find("127.0.0.1", false)->ConnectTicks = TickCount() - 3600u * 1000u;
    TUniqueFd audio = ConnectViewer(AudioPort);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(4); }));
    Settle(50);
    ASSERT_EQ(Entries.size(), 4u);
    EXPECT_EQ(Entries[3].Message, lmAudioSocketConnect);
    EXPECT_EQ(Entries[3].Detail, "127.0.0.1");
    EXPECT_EQ(EntriesOf(lmClientConnect).size(), 1u);
    EXPECT_EQ(Clients().Find("127.0.0.1", false)->AudioCount, 1);

    video.Reset();
    ASSERT_TRUE(WaitFor([&] { return !EntriesOf(lmVideoSocketDisconnect).empty(); }));
    Settle(50);
    EXPECT_TRUE(EntriesOf(lmClientDisconnect).empty());
    audio.Reset();
    ASSERT_TRUE(WaitFor([&] { return !EntriesOf(lmClientDisconnect).empty(); }));
    EXPECT_EQ(Entries[Entries.size() - 2].Message, lmAudioSocketDisconnect);
    ExpectDurationValue(Entries.back(), "000:01:00:00");
    EXPECT_EQ(Clients().Count(), 0u);
}

TEST_F(ViewerConnectionsTest, AViewerThatSendsTextGetsNothingAndStays) {
    TUniqueFd video = ConnectViewer(VideoPort);
    TUniqueFd audio = ConnectViewer(AudioPort);
    ASSERT_TRUE(WaitFor([&] { return EntriesOf(lmAudioSocketConnect).size() == 1 && HasEntries(4); }));
    Entries.clear();
    const std::string request = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(video.Get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    ASSERT_EQ(::send(audio.Get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    // A flood, too: it is read away without holding the main thread.
    std::string flood(1 << 20, 'x');
    std::thread writer([&] { ::send(audio.Get(), flood.data(), flood.size(), MSG_NOSIGNAL); });
    Settle(300);
    writer.join();
    Settle(100);
    EXPECT_TRUE(Entries.empty());
    EXPECT_EQ(Available(video), 0);
    EXPECT_EQ(Available(audio), 0);
    EXPECT_EQ(Engine->ServerSocketVideo.ConnectionCount(), 1u);
    EXPECT_EQ(Engine->ServerSocketAudio.ConnectionCount(), 1u);
}

TEST_F(ViewerConnectionsTest, AResetIsLoggedAsASocketErrorThenTheDisconnectSteps) {
    for (bool isVideo : {false, true}) {
        SCOPED_TRACE(isVideo ? "video" : "audio");
        TUniqueFd viewer = ConnectViewer(isVideo ? VideoPort : AudioPort);
        ASSERT_TRUE(WaitFor([&] { return !Clients().Find("127.0.0.1", false) ? false : true; }));
        Settle(50);
        Entries.clear();
        Reset(viewer);
        ASSERT_TRUE(WaitFor([&] { return !EntriesOf(lmClientDisconnect).empty(); }));
        ASSERT_EQ(Entries.size(), 3u);
        EXPECT_EQ(Entries[0].Message, isVideo ? lmVideoSocketError : lmAudioSocketError);
        EXPECT_EQ(Entries[0].Level, llError);
        EXPECT_EQ(Entries[0].Detail, "Connection reset by peer");
        EXPECT_EQ(Values(Entries[0]), (std::vector<std::string>{"Error event: Receive", "Error code: 10054",
                                                                "Remote address: 127.0.0.1"}));
        EXPECT_EQ(Entries[1].Message, isVideo ? lmVideoSocketDisconnect : lmAudioSocketDisconnect);
        EXPECT_EQ(Entries[2].Message, lmClientDisconnect);
        ExpectDurationValue(Entries[2]);
        EXPECT_EQ(Clients().Count(), 0u);
        EXPECT_EQ(Engine->ServerSocketVideo.ConnectionCount() + Engine->ServerSocketAudio.ConnectionCount(),
                  0u);
    }
}

TEST_F(ViewerConnectionsTest, AudioGoesOnlyToRegisteredUnblockedViewersAndUnblockingResumesIt) {
    Clients().Block("127.0.0.3");
    TUniqueFd open = ConnectViewer(AudioPort, "127.0.0.2");
    TUniqueFd blocked = ConnectViewer(AudioPort, "127.0.0.3");
    ASSERT_TRUE(WaitFor([&] { return EntriesOf(lmAudioSocketConnect).size() == 2; }));
    const std::vector<TAMLog> connects = EntriesOf(lmClientConnectBlocked);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0].Level, llWarning);
    EXPECT_EQ(connects[0].Detail, "127.0.0.3");
    // A connection whose address the registry does not know gets nothing either.
    TUniqueFd unknown = ConnectViewer(AudioPort, "127.0.0.4");
    ASSERT_TRUE(WaitFor([&] { return EntriesOf(lmAudioSocketConnect).size() == 3; }));
    Clients().Reset("127.0.0.4");
    Entries.clear();

    const std::vector<uint8_t> first = Block(100, 1);
    TViewerSendCounts counts = Engine->SendAudio(first.data(), first.size());
    EXPECT_EQ(counts.Eligible, 1);
    EXPECT_EQ(counts.Sent, 1);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(1); }));
    Settle(50);
    ASSERT_EQ(Entries.size(), 1u);
    EXPECT_EQ(Entries[0].Message, lmAudioSocketWrite);
    EXPECT_EQ(Entries[0].Level, llInformation);
    EXPECT_EQ(Entries[0].Detail, "127.0.0.2");
    const std::vector<std::string> rows = Values(Entries[0]);
    ASSERT_EQ(rows.size(), 7u) << "100 bytes are seven rows of sixteen";
    EXPECT_EQ(rows[0].substr(0, 16), "00000000: 01 08 ");
    EXPECT_EQ(rows[6].substr(0, 10), "00000060: ");

    std::string received;
    ASSERT_TRUE(WaitFor([&] { return Available(open, &received) >= 0 && received.size() == first.size(); }));
    EXPECT_EQ(received, std::string(first.begin(), first.end()));
    EXPECT_EQ(Available(blocked), 0);
    EXPECT_EQ(Available(unknown), 0);

    Clients().Unblock("127.0.0.3");
    Entries.clear();
    const std::vector<uint8_t> second = Block(50, 2);
    counts = Engine->SendAudio(second.data(), second.size());
    EXPECT_EQ(counts.Sent, 2);
    ASSERT_TRUE(WaitFor([&] { return HasEntries(2); }));
    EXPECT_EQ(Entries[0].Detail, "127.0.0.2");
    EXPECT_EQ(Entries[1].Detail, "127.0.0.3");
    std::string late;
    ASSERT_TRUE(WaitFor([&] { return Available(blocked, &late) >= 0 && late.size() == second.size(); }));
    EXPECT_EQ(late, std::string(second.begin(), second.end())) << "only the block after the unblock";
}

TEST_F(ViewerConnectionsTest, WriteEntriesFollowTheLogSwitchesWithoutChangingTheSending) {
    Configuration().Log().SetMessageEnabled(lmAudioSocketWrite, false);
    TUniqueFd viewer = ConnectViewer(AudioPort);
    ASSERT_TRUE(WaitFor([&] { return !EntriesOf(lmAudioSocketConnect).empty(); }));
    Entries.clear();
    const std::vector<uint8_t> block = Block(64, 3);
    EXPECT_EQ(Engine->SendAudio(block.data(), block.size()).Sent, 1);
    std::string received;
    ASSERT_TRUE(
        WaitFor([&] { return Available(viewer, &received) >= 0 && received.size() == block.size(); }));
    Settle(50);
    EXPECT_TRUE(Entries.empty());
}

TEST_F(ViewerConnectionsTest, ASendErrorIsLoggedAndClosesOnlyThatViewer) {
    TUniqueFd good = ConnectViewer(AudioPort, "127.0.0.2");
    TUniqueFd bad = ConnectViewer(AudioPort, "127.0.0.3");
    ASSERT_TRUE(WaitFor([&] { return EntriesOf(lmAudioSocketConnect).size() == 2; }));
    Entries.clear();
    // The reset reaches the server socket at once on loopback; the block is offered before the
    // event loop notices it, so the send itself fails.
    TServerClientSocket* badSide = ServerSide(Engine->ServerSocketAudio, bad);
    ASSERT_NE(badSide, nullptr);
    Reset(bad);
    pollfd reset{badSide->SocketHandle(), 0, 0};
    ASSERT_EQ(::poll(&reset, 1, 2000), 1);
    const std::vector<uint8_t> block = Block(200, 4);
    TViewerSendCounts counts = Engine->SendAudio(block.data(), block.size());
    EXPECT_EQ(counts.Eligible, 2);
    EXPECT_EQ(counts.Sent, 1);
    EXPECT_EQ(counts.Failed, 1);
    ASSERT_TRUE(WaitFor([&] { return !EntriesOf(lmClientDisconnect).empty(); }));
    const std::vector<TAMLog> errors = EntriesOf(lmAudioSocketError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Detail, "Connection reset by peer");
    EXPECT_EQ(Values(errors[0])[0], "Error event: Send");
    EXPECT_EQ(Values(errors[0])[2], "Remote address: 127.0.0.3");
    EXPECT_EQ(EntriesOf(lmAudioSocketDisconnect).size(), 1u);
    std::string received;
    ASSERT_TRUE(WaitFor([&] { return Available(good, &received) >= 0 && received.size() == block.size(); }));
    EXPECT_EQ(Engine->ServerSocketAudio.ConnectionCount(), 1u);
}

TEST_F(ViewerConnectionsTest, DisconnectClientClosesBothStreamsOfTheAddressOnly) {
    TUniqueFd video = ConnectViewer(VideoPort, "127.0.0.4");
    TUniqueFd audio = ConnectViewer(AudioPort, "127.0.0.4");
    TUniqueFd other = ConnectViewer(VideoPort, "127.0.0.5");
    ASSERT_TRUE(WaitFor([&] { return Clients().VideoTotal() == 2 && Clients().AudioTotal() == 1; }));
    Settle(50);
    Entries.clear();
    Engine->DisconnectClient("127.0.0.4");
    ASSERT_TRUE(WaitFor([&] { return HasEntries(3); }));
    Settle(50);
    ASSERT_EQ(Entries.size(), 3u);
    EXPECT_EQ(Entries[0].Message, lmVideoSocketDisconnect);
    EXPECT_EQ(Entries[1].Message, lmAudioSocketDisconnect);
    EXPECT_EQ(Entries[2].Message, lmClientDisconnect);
    EXPECT_EQ(Entries[2].Detail, "127.0.0.4");
    EXPECT_EQ(Available(video), -1);
    EXPECT_EQ(Available(audio), -1);
    EXPECT_EQ(Available(other), 0);
    ASSERT_EQ(Clients().Count(), 1u);
    EXPECT_EQ(Clients().Items(0).Address, "127.0.0.5");
}

TEST_F(ViewerConnectionsTest, StopServersLeavesOnlyBlockedEntriesAndLogsNoDisconnects) {
    Clients().Block("127.0.0.6");
    TUniqueFd blocked = ConnectViewer(VideoPort, "127.0.0.6");
    TUniqueFd open = ConnectViewer(AudioPort, "127.0.0.7");
    ASSERT_TRUE(WaitFor([&] { return Clients().VideoTotal() == 1 && Clients().AudioTotal() == 1; }));
    Settle(50);
    Entries.clear();
    Window.ConnectionsChanged = 0;
    Engine->StopServers();
    Settle(100);
    EXPECT_TRUE(Entries.empty());
    EXPECT_EQ(Window.ConnectionsChanged, 1);
    ASSERT_EQ(Clients().Count(), 1u);
    EXPECT_EQ(Clients().Items(0).Address, "127.0.0.6");
    EXPECT_EQ(Clients().Items(0).Connections(), 0);
    EXPECT_EQ(Available(blocked), -1);
    EXPECT_EQ(Available(open), -1);
}

// A viewer that never reads sits next to one that does: the reader gets every byte of every block in
// order, the stalled one never holds more than one block's rest, and what it finally reads is whole
// blocks only.
TEST_F(ViewerConnectionsTest, AStalledAudioViewerHoldsUpNobodyAndOnlyEverGetsWholeBlocks) {
    Configuration().Log().SetMessageEnabled(lmAudioSocketWrite, false);
    constexpr size_t kBlockBytes = 4000;
    constexpr uint32_t kBlocks = 500; // 250 seconds of 8000-byte-per-second audio
    TUniqueFd reader = ConnectViewer(AudioPort, "127.0.0.2");
    TUniqueFd stalled = ConnectViewer(AudioPort, "127.0.0.3", 4096);
    ASSERT_TRUE(WaitFor([&] { return Engine->ServerSocketAudio.ConnectionCount() == 2; }));
    TServerClientSocket* readerSide = ServerSide(Engine->ServerSocketAudio, reader);
    TServerClientSocket* stalledSide = ServerSide(Engine->ServerSocketAudio, stalled);
    ASSERT_NE(readerSide, nullptr);
    ASSERT_NE(stalledSide, nullptr);
    // Loopback lets a send buffer grow to megabytes; a small one makes the stall come within the test.
    const int small = 16384;
    ASSERT_EQ(::setsockopt(stalledSide->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);

    std::string readerData; // the reader thread's until it is joined
    std::atomic<size_t> readerBytes{0};
    std::atomic<bool> stop{false};
    std::thread readerThread([&] {
        char buffer[65536];
        while (!stop.load()) {
            ssize_t n = ::recv(reader.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                readerData.append(buffer, static_cast<size_t>(n));
                readerBytes += static_cast<size_t>(n);
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });

    // Each block carries its number in its first four bytes, then a pattern derived from it.
    auto makeBlock = [&](uint32_t index) {
        std::vector<uint8_t> block(kBlockBytes);
        for (size_t i = 0; i < kBlockBytes; ++i) {
            block[i] = static_cast<uint8_t>(index * 31 + i);
        }
        block[0] = static_cast<uint8_t>(index >> 24);
        block[1] = static_cast<uint8_t>(index >> 16);
        block[2] = static_cast<uint8_t>(index >> 8);
        block[3] = static_cast<uint8_t>(index);
        return block;
    };
    int stalledSkips = 0;
    size_t maxPending = 0;
    for (uint32_t index = 0; index < kBlocks; ++index) {
        // Paced by the reader only: its socket has drained before the next block.
        ASSERT_TRUE(
            WaitFor([&] { return readerSide->PendingBytes() == 0 && readerSide->UnsentBytes() == 0; }));
        const std::vector<uint8_t> block = makeBlock(index);
        const size_t stalledBefore = stalledSide->PendingBytes();
        TViewerSendCounts counts = Engine->SendAudio(block.data(), block.size());
        ASSERT_EQ(counts.Eligible, 2);
        ASSERT_EQ(counts.Failed, 0);
        ASSERT_EQ(counts.Sent + counts.Queued + counts.Skipped, 2);
        if (stalledBefore > 0 || counts.Skipped > 0) {
            ++stalledSkips;
        }
        maxPending = std::max(maxPending, stalledSide->PendingBytes());
        ASSERT_LE(stalledSide->PendingBytes(), kBlockBytes);
    }
    ASSERT_TRUE(WaitFor([&] { return readerSide->UnsentBytes() == 0; }));
    ASSERT_TRUE(WaitFor([&] { return readerBytes.load() >= kBlocks * kBlockBytes; }, 10000));
    stop = true;
    readerThread.join();
    ASSERT_EQ(readerData.size(), kBlocks * kBlockBytes);
    for (uint32_t index = 0; index < kBlocks; ++index) {
        const std::vector<uint8_t> block = makeBlock(index);
        ASSERT_EQ(0, std::memcmp(readerData.data() + size_t{index} * kBlockBytes, block.data(), kBlockBytes))
            << "block " << index;
    }
    EXPECT_GT(stalledSkips, 0) << "the stalled viewer never filled up; the test proves nothing";

    // Now the stalled viewer reads; its rest drains and it has whole blocks, in rising order.
    std::string stalledData;
    ASSERT_TRUE(WaitFor(
        [&] {
            Available(stalled, &stalledData);
            return stalledSide->PendingBytes() == 0 && stalledSide->UnsentBytes() == 0;
        },
        10000));
    Settle(50);
    Available(stalled, &stalledData);
    ASSERT_GT(stalledData.size(), 0u);
    ASSERT_LT(stalledData.size(), kBlocks * kBlockBytes);
    ASSERT_EQ(stalledData.size() % kBlockBytes, 0u);
    long previous = -1;
    for (size_t at = 0; at < stalledData.size(); at += kBlockBytes) {
        const auto* p = reinterpret_cast<const uint8_t*>(stalledData.data() + at);
        const uint32_t index = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        ASSERT_LT(index, kBlocks);
        ASSERT_GT(static_cast<long>(index), previous);
        previous = index;
        const std::vector<uint8_t> block = makeBlock(index);
        ASSERT_EQ(0, std::memcmp(p, block.data(), kBlockBytes)) << "block " << index << " is not whole";
    }
    RecordProperty("StalledMaxPendingBytes", static_cast<int>(maxPending));
}

} // namespace
} // namespace sw::test
