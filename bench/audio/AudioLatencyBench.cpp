// Delay from the moment a capture buffer's last sample is due (the test tone runs on the clock) to the
// moment its encoded bytes have been handed on, over a run of real capture through the event loop.
// Usage: bench_audio_latency [seconds=60] [frameSize=1000]

#include "audio/AudioCapture.h"
#include "config/Configuration.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

class TTimingSink : public sw::TAudioSink {
public:
    TClock::time_point Start;
    double BufferSeconds = 0.25;
    std::vector<double> DelaysMs;
    long Bytes = 0;

    void SendAudio(const uint8_t*, int count) override {
        const auto now = TClock::now();
        Bytes += count;
        const double due = BufferSeconds * static_cast<double>(DelaysMs.size() + 1);
        DelaysMs.push_back(std::chrono::duration<double, std::milli>(now - Start).count() - due * 1000.0);
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int frameSize = argc > 2 ? std::max(8, std::atoi(argv[2])) : 1000;

    QTemporaryDir dir;
    sw::TConfiguration config((dir.path() + QStringLiteral("/bench.ini")).toStdString());
    config.Reload();
    sw::TAudioConfiguration& audio = config.Audio();
    int tone = -1;
    for (int i = 0; i < audio.DeviceCount(); ++i) {
        if (audio.DeviceIds(i) == sw::TestToneDeviceId()) {
            tone = i;
        }
    }
    audio.SetDevice(tone);
    audio.SetEnabled(true);
    audio.SetFrameSize(frameSize);

    TTimingSink sink;
    sink.BufferSeconds = 2.0 * frameSize / 8000.0;
    sw::TAudioCapture capture(audio, nullptr, sink);
    capture.InitializeAudio();
    sink.Start = TClock::now();
    if (!capture.StartAudioCapture()) {
        std::fprintf(stderr, "cannot start the test tone\n");
        return 1;
    }
    QTimer::singleShot(seconds * 1000, &application, [] { QCoreApplication::quit(); });
    application.exec();
    capture.StopAudioCapture();

    std::vector<double> delays = sink.DelaysMs;
    if (delays.empty()) {
        std::fprintf(stderr, "no buffers\n");
        return 1;
    }
    std::sort(delays.begin(), delays.end());
    const double median = delays[delays.size() / 2];
    const double worst = delays.back();
    const double elapsed = std::chrono::duration<double>(TClock::now() - sink.Start).count();
    std::printf("buffers %zu of %.3f s, bytes %ld over %.1f s = %.1f bytes/s\n", delays.size(),
                sink.BufferSeconds, sink.Bytes, elapsed,
                sink.Bytes / (sink.BufferSeconds * static_cast<double>(delays.size())));
    std::printf("fill-to-send delay: median %.3f ms, p99 %.3f ms, worst %.3f ms\n", median,
                delays[std::min(delays.size() - 1, delays.size() * 99 / 100)], worst);
    std::printf("worst / 5 ms target = %.3f\n", worst / 5.0);
    return 0;
}
