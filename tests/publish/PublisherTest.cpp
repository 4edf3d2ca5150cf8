#include "publish/Publisher.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

class PublisherTest : public ::testing::Test {
protected:
    static TPublishSettings VideoOnly(const std::string& url) {
        TPublishSettings settings;
        settings.Url = url;
        settings.Video = true;
        settings.Width = 160;
        settings.Height = 120;
        return settings;
    }

    const TAMLog* Find(uint8_t message) const {
        for (const TAMLog& entry : Log.Entries) {
            if (entry.Message == message) {
                return &entry;
            }
        }
        return nullptr;
    }
    size_t Count(uint8_t message) const {
        return static_cast<size_t>(std::count_if(Log.Entries.begin(), Log.Entries.end(),
                                                 [&](const TAMLog& e) { return e.Message == message; }));
    }

    test::TLogCollector Log;
};

TEST_F(PublisherTest, AnUnusableUrlIsOneErrorEntryAndNoThread) {
    TPublisher publisher(Log.Window());
    for (const char* url : {"ftp://server/live/key", "rtmp://server", "not a url"}) {
        Log.Entries.clear();
        EXPECT_FALSE(publisher.Start(VideoOnly(url))) << url;
        EXPECT_FALSE(publisher.Running());
        test::ProcessEventsFor(50);
        ASSERT_EQ(Log.Entries.size(), 1u) << url;
        EXPECT_EQ(Log.Entries[0].Message, lmPublishError);
        EXPECT_EQ(Log.Entries[0].Level, llError);
        publisher.Stop();
        test::ProcessEventsFor(20);
        EXPECT_EQ(Log.Entries.size(), 1u) << "nothing started, nothing to stop";
    }
    TPublishSettings silent = VideoOnly("rtmp://server/live/key");
    silent.Video = false;
    Log.Entries.clear();
    EXPECT_FALSE(publisher.Start(silent));
    test::ProcessEventsFor(50);
    ASSERT_EQ(Log.Entries.size(), 1u);
    EXPECT_NE(Log.Entries[0].Values.find("Nothing to publish"), std::string::npos);
}

TEST_F(PublisherTest, ARefusingServerIsOneErrorThenReconnectAttemptsAndStopCountsTheDrops) {
    const int port = test::FreePort();
    TPublisher publisher(Log.Window());
    ASSERT_TRUE(publisher.Start(VideoOnly("rtmp://127.0.0.1:" + std::to_string(port) + "/live/SECRETKEY")));
    TBitmap frame;
    frame.SetSize(160, 120, 24);
    for (uint32_t n = 1; n <= 5; ++n) {
        publisher.FrameReady(frame, n);
    }
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return Count(lmPublishReconnect) >= 2; }, 30000));
    publisher.Stop();
    EXPECT_FALSE(publisher.Running());
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return Find(lmPublishStop) != nullptr; }));

    EXPECT_EQ(Log.Entries.front().Message, lmPublishStart);
    EXPECT_EQ(Log.Entries.front().Detail, "rtmp://127.0.0.1:" + std::to_string(port) + "/live");
    EXPECT_EQ(Count(lmPublishError), 1u) << "the same failure again is told by the reconnect entries";
    ASSERT_TRUE(Find(lmPublishError));
    EXPECT_NE(Find(lmPublishError)->Values.find("Connection refused"), std::string::npos)
        << Find(lmPublishError)->Values;
    EXPECT_EQ(Find(lmPublishReconnect)->Values, "\"Attempt 1 after 1 s\"");
    EXPECT_EQ(Find(lmPublishStop)->Values, "\"Frames published: 0\",\"Frames dropped: 5\"");
    for (const TAMLog& entry : Log.Entries) {
        EXPECT_EQ((entry.Detail + entry.Values).find("SECRETKEY"), std::string::npos) << entry.Values;
    }
    const TPublisher::TCounts counts = publisher.Counts();
    EXPECT_EQ(counts.FramesIn, 5u);
    EXPECT_EQ(counts.Connects, 0u);

    Log.Entries.clear();
    publisher.FrameReady(frame, 6);
    EXPECT_EQ(publisher.Counts().FramesIn, 5u) << "frames after Stop are not taken";
}

TEST(PublisherBackoffTest, DoublesFromOneSecondUpToThirty) {
    const int expected[] = {1, 2, 4, 8, 16, 30, 30, 30};
    for (int attempt = 1; attempt <= 8; ++attempt) {
        EXPECT_EQ(TPublisher::BackoffSeconds(attempt), expected[attempt - 1]) << attempt;
    }
    EXPECT_EQ(TPublisher::BackoffSeconds(1000), 30);
}

} // namespace
} // namespace sw
