#include "publish/PublishQueue.h"

#include <gtest/gtest.h>
#include <thread>

namespace sw {
namespace {

TBitmap Filled(uint8_t value) {
    TBitmap bitmap;
    bitmap.SetSize(8, 4, 24);
    std::fill(bitmap.Bits(), bitmap.Bits() + bitmap.ImageBytes(), value);
    return bitmap;
}

TEST(PublishQueueTest, NewestFrameWinsAndEveryReplacedFrameIsCounted) {
    TPublishQueue queue;
    const auto now = TPublishClock::now();
    for (uint32_t n = 1; n <= 3; ++n) {
        queue.PutFrame(Filled(static_cast<uint8_t>(n)), n, now);
    }
    std::unique_ptr<TQueuedFrame> frame;
    ASSERT_TRUE(queue.TakeFrame(frame));
    EXPECT_EQ(frame->Number, 3u);
    EXPECT_EQ(frame->Pixels.front(), 3);
    EXPECT_FALSE(queue.TakeFrame(frame)) << "a frame is taken once";
    EXPECT_EQ(queue.Counts().FramesIn, 3u);
    EXPECT_EQ(queue.Counts().FramesReplaced, 2u);
}

TEST(PublishQueueTest, ATakenFrameKeepsItsPixelsWhileNewerFramesArrive) {
    TPublishQueue queue;
    const auto now = TPublishClock::now();
    queue.PutFrame(Filled(10), 1, now);
    std::unique_ptr<TQueuedFrame> taken;
    ASSERT_TRUE(queue.TakeFrame(taken));
    for (uint8_t n = 2; n < 6; ++n) {
        queue.PutFrame(Filled(n * 10), n, now);
    }
    EXPECT_EQ(taken->Number, 1u);
    EXPECT_TRUE(std::all_of(taken->Pixels.begin(), taken->Pixels.end(), [](uint8_t b) { return b == 10; }));
    ASSERT_TRUE(queue.TakeFrame(taken));
    EXPECT_EQ(taken->Number, 5u);
    EXPECT_EQ(taken->Pixels.back(), 50);
    EXPECT_EQ(taken->Width, 8);
    EXPECT_EQ(taken->Stride, TBitmap::StrideOf(8, 24));
}

TEST(PublishQueueTest, FullSoundQueueDropsItsOldestBuffers) {
    TPublishQueue queue(3);
    TWaveFormatEx format;
    format.wBitsPerSample = 8;
    for (uint8_t n = 1; n <= 5; ++n) {
        queue.PutPcm(format, &n, 1, 1, TPublishClock::now());
    }
    EXPECT_EQ(queue.Counts().PcmIn, 5u);
    EXPECT_EQ(queue.Counts().PcmDropped, 2u);
    TQueuedPcm pcm;
    for (uint8_t expected = 3; expected <= 5; ++expected) {
        ASSERT_TRUE(queue.TakePcm(pcm));
        EXPECT_EQ(pcm.Bytes.at(0), expected);
    }
    EXPECT_FALSE(queue.TakePcm(pcm));
}

TEST(PublishQueueTest, WakeEndsAWaitAndResetForgetsIt) {
    TPublishQueue queue;
    std::thread waker([&] { queue.Wake(); });
    queue.WaitUntil(TPublishClock::now() + std::chrono::hours(1));
    waker.join();
    EXPECT_TRUE(queue.Woken());
    queue.Reset();
    EXPECT_FALSE(queue.Woken());
    EXPECT_EQ(queue.Counts().FramesIn, 0u);
}

} // namespace
} // namespace sw
