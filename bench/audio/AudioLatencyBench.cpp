// Delay from the moment a capture buffer's last sample is due (the test tone runs on the clock) to the
// moment its encoded bytes have left the server socket for every viewer and have arrived at each of
// them, with the real test tone, event loop, encoder, engine and non-blocking server on 127.0.0.1.
// Each block goes through the engine's audio sending, "Socket write" entries and all, and the log
// records them as the program does (its file in a temporary folder). The worst case is printed next
// to its target of 5 ms.
// Usage: bench_audio_latency [seconds=20] [viewers=20] [frameSize=1000]

#include "audio/AudioCapture.h"
#include "config/Configuration.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Milliseconds(TClock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

constexpr double kTargetMs = 5;

class TEngineSink : public sw::TAudioSink {
public:
    explicit TEngineSink(sw::TDataModuleMain& engine) : FEngine(engine) {}
    TClock::time_point Start;
    double BufferSeconds = 0.25;
    std::vector<double> HandedMs; // when the encoded block reached SendAudio
    std::vector<double> SentMs;   // after the last viewer's send returned
    std::vector<double> WorkMs;   // time spent inside SendAudio
    long Skipped = 0;

    TClock::time_point Due(size_t block) const {
        return Start + std::chrono::duration_cast<TClock::duration>(
                           std::chrono::duration<double>(BufferSeconds * static_cast<double>(block + 1)));
    }

    void SendAudio(const uint8_t* buffer, int count) override {
        const auto entered = TClock::now();
        HandedMs.push_back(Milliseconds(entered - Due(HandedMs.size())));
        const sw::TViewerSendCounts counts = FEngine.SendAudio(buffer, static_cast<size_t>(count));
        const auto left = TClock::now();
        Skipped += counts.Eligible - counts.Sent;
        SentMs.push_back(Milliseconds(left - Due(SentMs.size())));
        WorkMs.push_back(Milliseconds(left - entered));
    }

private:
    sw::TDataModuleMain& FEngine;
};

// The viewers: one thread reading every socket and noting when each whole block has arrived.
class TViewers {
public:
    TViewers(int count, int port, size_t blockBytes) : FBlockBytes(blockBytes) {
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                FFds.push_back(fd);
            } else {
                ::close(fd);
            }
        }
        FReceived.assign(FFds.size(), 0);
        FThread = std::thread([this] { Run(); });
    }
    ~TViewers() {
        FQuit = true;
        FThread.join();
        for (int fd : FFds) {
            ::close(fd);
        }
    }
    size_t Count() const { return FFds.size(); }
    // Arrival times of whole blocks: viewer, block index, time.
    struct TArrival {
        size_t Viewer;
        size_t Block;
        TClock::time_point Time;
    };
    std::vector<TArrival> Arrivals() {
        std::lock_guard lock(FLock);
        return FArrivals;
    }
    size_t Bytes() {
        std::lock_guard lock(FLock);
        size_t total = 0;
        for (size_t received : FReceived) {
            total += received;
        }
        return total;
    }

private:
    void Run() {
        pthread_setname_np(pthread_self(), "bench-viewers");
        std::vector<pollfd> fds;
        for (int fd : FFds) {
            fds.push_back({fd, POLLIN, 0});
        }
        std::vector<uint8_t> buffer(65536);
        while (!FQuit) {
            if (::poll(fds.data(), fds.size(), 100) <= 0) {
                continue;
            }
            const auto now = TClock::now();
            for (size_t i = 0; i < fds.size(); ++i) {
                if (!(fds[i].revents & POLLIN)) {
                    continue;
                }
                const ssize_t got = ::recv(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                if (got <= 0) {
                    continue;
                }
                std::lock_guard lock(FLock);
                const size_t before = FReceived[i] / FBlockBytes;
                FReceived[i] += static_cast<size_t>(got);
                for (size_t block = before; block < FReceived[i] / FBlockBytes; ++block) {
                    FArrivals.push_back({i, block, now});
                }
            }
        }
    }

    size_t FBlockBytes;
    std::vector<int> FFds;
    std::thread FThread;
    std::atomic<bool> FQuit{false};
    std::mutex FLock;
    std::vector<size_t> FReceived;
    std::vector<TArrival> FArrivals;
};

void Summary(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("%-34s median %8.3f ms  p99 %8.3f ms  worst %8.3f ms  (worst / %.0f ms target = %.2f)\n",
                what, values[values.size() / 2],
                values[std::min(values.size() - 1, values.size() * 99 / 100)], values.back(), kTargetMs,
                values.back() / kTargetMs);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int viewerCount = argc > 2 ? std::max(0, std::atoi(argv[2])) : 20;
    const int frameSize = argc > 3 ? std::max(8, std::atoi(argv[3])) : 1000;

    QTemporaryDir dir;
    const std::string ini = (dir.path() + QStringLiteral("/streamwright.ini")).toStdString();
    std::ofstream(ini) << "[Video]\r\nEnabled=0\r\nPort=0\r\n[Audio]\r\nEnabled=1\r\nPort=0\r\n"
                       << "[Web]\r\nEnabled=0\r\n";
    sw::TProgramLifecycle program(ini);
    program.CreateEngine();
    sw::TDataModuleMain& engine = program.Engine();
    sw::TAudioConfiguration& audio = program.Configuration().Audio();
    for (int i = 0; i < audio.DeviceCount(); ++i) {
        if (audio.DeviceIds(i) == sw::TestToneDeviceId()) {
            audio.SetDevice(i);
        }
    }
    audio.SetFrameSize(frameSize);
    engine.ServerSocketAudio.BindAddress = "127.0.0.1";
    engine.ServerSocketVideo.BindAddress = "127.0.0.1";
    engine.StartServers();

    const size_t blockBytes = 2 * static_cast<size_t>(frameSize);
    TViewers viewers(viewerCount, engine.ServerSocketAudio.LocalPort(), blockBytes);
    while (engine.ServerSocketAudio.ConnectionCount() < viewers.Count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    TEngineSink sink(engine);
    sink.BufferSeconds = static_cast<double>(blockBytes) / 8000.0;
    sw::TAudioCapture capture(audio, engine.MessageWindow(), sink);
    capture.InitializeAudio();
    sink.Start = TClock::now();
    if (!capture.StartAudioCapture()) {
        std::fprintf(stderr, "cannot start the test tone\n");
        return 1;
    }
    QTimer::singleShot(seconds * 1000, &application, [] { QCoreApplication::quit(); });
    application.exec();
    capture.StopAudioCapture();
    QThread::msleep(200);

    std::vector<double> arrivedMs;
    for (const auto& arrival : viewers.Arrivals()) {
        arrivedMs.push_back(Milliseconds(arrival.Time - sink.Due(arrival.Block)));
    }
    std::printf("%zu viewers, %zu blocks of %zu bytes (%.3f s of sound), %zu bytes received, %ld sends not "
                "taken whole, %zu log lines; %u cores\n",
                viewers.Count(), sink.SentMs.size(), blockBytes, sink.BufferSeconds, viewers.Bytes(),
                sink.Skipped, engine.LogLines().size(), std::thread::hardware_concurrency());
    Summary("due -> encoded block handed on", sink.HandedMs);
    Summary("time inside SendAudio", sink.WorkMs);
    Summary("due -> sent to every viewer", sink.SentMs);
    Summary("due -> whole block at a viewer", arrivedMs);
    engine.StopServers();
    return 0;
}
