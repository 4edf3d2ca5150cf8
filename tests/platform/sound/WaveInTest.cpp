#include "platform/sound/WaveIn.h"
#include "WaveInEvents.h"
#include "platform/sound/TestToneSource.h"

#include <QThread>
#include <array>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

namespace sw {
namespace {

using test::Pcm;
using test::TBuffer;
using test::TWaveInEvents;

std::unique_ptr<TWaveIn> OpenTone(const TWaveFormatEx& format, QObject* callback) {
    std::unique_ptr<TWaveIn> device;
    EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), &format, callback, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    return device;
}

TEST(WaveInTest, OpenRefusesWhatNoDeviceCanRecord) {
    const TWaveFormatEx good = Pcm(8000, 8, 1);
    std::unique_ptr<TWaveIn> device;
    EXPECT_EQ(waveInOpen(&device, 4000, &good, nullptr, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(&device, 2147483647, &good, nullptr, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveInOpen(nullptr, TestToneDeviceId(), &good, nullptr, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), nullptr, nullptr, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), &good, nullptr, 0x00030000), MMSYSERR_INVALFLAG);

    TWaveFormatEx bad = good;
    bad.wFormatTag = 2;
    EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), &bad, nullptr, 0), WAVERR_BADFORMAT);
    for (uint16_t bits : {0, 4, 12, 24, 32}) {
        bad = Pcm(8000, bits, 1);
        EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), &bad, nullptr, 0), WAVERR_BADFORMAT) << bits;
    }
    bad = Pcm(8000, 16, 0);
    EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), &bad, nullptr, 0), WAVERR_BADFORMAT);
    bad = Pcm(0, 16, 1);
    EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), &bad, nullptr, 0), WAVERR_BADFORMAT);
    bad = Pcm(8000, 16, 2);
    bad.nBlockAlign = 2;
    EXPECT_EQ(waveInOpen(&device, TestToneDeviceId(), &bad, nullptr, 0), WAVERR_BADFORMAT);
    EXPECT_FALSE(device);

    EXPECT_EQ(waveInOpen(nullptr, TestToneDeviceId(), &good, nullptr, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
}

TEST(WaveInTest, HeadersFollowTheQueueRules) {
    TWaveInEvents events;
    auto device = OpenTone(Pcm(8000, 8, 1), &events);
    ASSERT_TRUE(device);
    std::array<TBuffer, 3> buffers{TBuffer(100), TBuffer(100), TBuffer(100)};
    TWaveHdr noData;

    EXPECT_EQ(device->PrepareHeader(nullptr), MMSYSERR_INVALPARAM);
    EXPECT_EQ(device->PrepareHeader(&noData), MMSYSERR_INVALPARAM);
    EXPECT_EQ(device->AddBuffer(&buffers[0].Header), WAVERR_UNPREPARED);
    for (auto& buffer : buffers) {
        EXPECT_EQ(device->PrepareHeader(&buffer.Header), MMSYSERR_NOERROR);
        EXPECT_EQ(device->AddBuffer(&buffer.Header), MMSYSERR_NOERROR);
        EXPECT_EQ(buffer.Header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    }
    EXPECT_EQ(device->AddBuffer(&buffers[0].Header), WAVERR_STILLPLAYING);
    EXPECT_EQ(device->UnprepareHeader(&buffers[0].Header), WAVERR_STILLPLAYING);
    EXPECT_EQ(device->Close(), WAVERR_STILLPLAYING);

    // Never started: Reset hands every buffer back empty, in queue order.
    EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
    events.Drain();
    ASSERT_EQ(events.Count(MM_WIM_DATA), 3u);
    std::vector<TWaveHdr*> returned;
    for (const auto& n : events.Notifications) {
        EXPECT_EQ(n.Handle, device->Handle());
        if (n.Message == MM_WIM_DATA) {
            returned.push_back(n.Header);
        }
    }
    EXPECT_EQ(returned, (std::vector<TWaveHdr*>{&buffers[0].Header, &buffers[1].Header, &buffers[2].Header}));
    for (auto& buffer : buffers) {
        EXPECT_EQ(buffer.Header.dwFlags, WHDR_PREPARED | WHDR_DONE);
        EXPECT_EQ(buffer.Header.dwBytesRecorded, 0u);
        EXPECT_EQ(device->UnprepareHeader(&buffer.Header), MMSYSERR_NOERROR);
        EXPECT_EQ(buffer.Header.dwFlags, WHDR_DONE);
    }

    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->Start(), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(device->Close(), MMSYSERR_INVALHANDLE);
    events.Drain();
    EXPECT_EQ(events.Count(MM_WIM_OPEN), 1u);
    EXPECT_EQ(events.Count(MM_WIM_CLOSE), 1u);
    EXPECT_EQ(events.Notifications.front().Message, MM_WIM_OPEN);
    EXPECT_EQ(events.Notifications.back().Message, MM_WIM_CLOSE);
}

TEST(WaveInTest, BufferShorterThanOneFrameIsRefused) {
    TWaveInEvents events;
    auto device = OpenTone(Pcm(8000, 16, 2), &events);
    ASSERT_TRUE(device);
    TBuffer small(3);
    ASSERT_EQ(device->PrepareHeader(&small.Header), MMSYSERR_NOERROR);
    EXPECT_EQ(device->AddBuffer(&small.Header), MMSYSERR_INVALPARAM);
}

// The tone as the generator's own formula would not catch a wrong formula: compare with the sine.
TEST(TestToneTest, SamplesAreTheSineAtHalfScale) {
    for (uint32_t rate : {8000u, 11025u, 44100u}) {
        for (uint64_t frame : {0ull, 1ull, 2ull, 7ull, 1000ull, 123456789ull}) {
            const double expected =
                16383.5 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(frame) / rate);
            EXPECT_NEAR(TTestToneSource::Sample(frame, rate, 1000), expected, 1.0) << rate << " " << frame;
        }
    }
}

TEST(TestToneTest, FillsBuffersInOrderOnEveryChannel) {
    struct TCase {
        uint32_t Rate;
        uint16_t Bits;
        uint16_t Channels;
    };
    for (const TCase c : {TCase{8000, 8, 1}, TCase{11025, 16, 2}, TCase{48000, 8, 2}}) {
        SCOPED_TRACE(std::to_string(c.Rate) + " " + std::to_string(c.Bits) + " " +
                     std::to_string(c.Channels));
        TWaveInEvents events;
        const TWaveFormatEx format = Pcm(c.Rate, c.Bits, c.Channels);
        auto device = OpenTone(format, &events);
        ASSERT_TRUE(device);
        // 20 ms buffers with a partial frame at the end, which stays unused.
        const uint32_t frames = c.Rate / 50;
        const uint32_t bytes = frames * format.nBlockAlign + format.nBlockAlign - 1;
        std::array<TBuffer, 3> buffers{TBuffer(bytes), TBuffer(bytes), TBuffer(bytes)};
        for (auto& buffer : buffers) {
            ASSERT_EQ(device->PrepareHeader(&buffer.Header), MMSYSERR_NOERROR);
            ASSERT_EQ(device->AddBuffer(&buffer.Header), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
        ASSERT_TRUE(events.WaitForData(3));
        uint64_t frame = 0;
        for (auto& buffer : buffers) {
            ASSERT_EQ(buffer.Header.dwBytesRecorded, frames * format.nBlockAlign);
            const uint8_t* p = buffer.Data.data();
            for (uint32_t i = 0; i < frames; ++i, ++frame) {
                const int16_t expected = TTestToneSource::Sample(frame, c.Rate, 1000);
                for (uint16_t channel = 0; channel < c.Channels; ++channel) {
                    if (c.Bits == 8) {
                        ASSERT_EQ(*p++, static_cast<uint8_t>((static_cast<uint16_t>(expected) >> 8) ^ 0x80))
                            << frame;
                    } else {
                        ASSERT_EQ(static_cast<int16_t>(p[0] | (p[1] << 8)), expected) << frame;
                        p += 2;
                    }
                }
            }
        }
        EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
        EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
    }
}

TEST(TestToneTest, PacedByTheClock) {
    TWaveInEvents events;
    auto device = OpenTone(Pcm(8000, 8, 1), &events);
    ASSERT_TRUE(device);
    // 50 ms buffers, requeued as they come back, as the capture does.
    std::array<TBuffer, 8> buffers{TBuffer(400), TBuffer(400), TBuffer(400), TBuffer(400),
                                   TBuffer(400), TBuffer(400), TBuffer(400), TBuffer(400)};
    events.OnData = [&](TWaveHdr* header) {
        device->UnprepareHeader(header);
        device->PrepareHeader(header);
        device->AddBuffer(header);
    };
    for (auto& buffer : buffers) {
        device->PrepareHeader(&buffer.Header);
        device->AddBuffer(&buffer.Header);
    }
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(events.WaitForData(30));
    const double elapsed =
        std::chrono::duration<double>(events.Notifications.back().Received - start).count();
    // The 30th buffer is due at 1.5 s; it can come late (a loaded machine) but never early.
    EXPECT_GE(elapsed, 1.5);
    events.OnData = nullptr;
    EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
}

TEST(TestToneTest, StopHandsBackThePartBufferAndKeepsEmptyOnes) {
    TWaveInEvents events;
    auto device = OpenTone(Pcm(8000, 8, 1), &events);
    ASSERT_TRUE(device);
    // Five seconds: the generator delivers 4096 frames at a time, the first after 0.512 s.
    TBuffer big(40000);
    TBuffer empty(100);
    for (TBuffer* buffer : {&big, &empty}) {
        device->PrepareHeader(&buffer->Header);
        device->AddBuffer(&buffer->Header);
    }
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    QThread::msleep(700);
    EXPECT_EQ(device->Stop(), MMSYSERR_NOERROR);
    events.Drain();
    ASSERT_EQ(events.Count(MM_WIM_DATA), 1u);
    EXPECT_GT(big.Header.dwBytesRecorded, 0u);
    EXPECT_LT(big.Header.dwBytesRecorded, 40000u);
    EXPECT_EQ(big.Header.dwBytesRecorded % 4096, 0u);
    EXPECT_TRUE(big.Header.dwFlags & WHDR_DONE);
    EXPECT_TRUE(empty.Header.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(device->Close(), WAVERR_STILLPLAYING);
    EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->Close(), MMSYSERR_NOERROR);
}

// A sound card keeps a limited ring buffer; the tone keeps one second, so a late reader gets recent
// sound rather than a growing delay.
TEST(TestToneTest, FramesUnreadForOverASecondAreDropped) {
    setenv("SW_TEST_TONE_HZ", "1", 1); // one period per second: the phase tells the frame number
    TWaveInEvents events;
    auto device = OpenTone(Pcm(8000, 16, 1), &events);
    unsetenv("SW_TEST_TONE_HZ");
    ASSERT_TRUE(device);
    ASSERT_EQ(device->Start(), MMSYSERR_NOERROR);
    QThread::msleep(1500);
    TBuffer buffer(200);
    device->PrepareHeader(&buffer.Header);
    device->AddBuffer(&buffer.Header);
    ASSERT_TRUE(events.WaitForData(1));
    // Without the drop this would be frames 0 to 99 (rising from 0); with it, frames from about 4000
    // on, half a period later (falling through 0).
    const auto* samples = reinterpret_cast<const int16_t*>(buffer.Data.data());
    for (int i = 1; i < 100; ++i) {
        ASSERT_LT(samples[i], samples[i - 1]) << i;
    }
    EXPECT_EQ(device->Reset(), MMSYSERR_NOERROR);
}

TEST(TestToneTest, FrequencyComesFromTheEnvironment) {
    const struct {
        const char* Text;
        int Expected;
    } cases[] = {{"440", 440}, {"20000", 20000}, {"0", 1000}, {"20001", 1000}, {"12x", 1000}, {"", 1000}};
    for (const auto& c : cases) {
        setenv("SW_TEST_TONE_HZ", c.Text, 1);
        EXPECT_EQ(TestToneFrequency(), c.Expected) << c.Text;
    }
    unsetenv("SW_TEST_TONE_HZ");
    EXPECT_EQ(TestToneFrequency(), 1000);
}

} // namespace
} // namespace sw
