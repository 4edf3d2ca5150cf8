// Freshness and full rate: the engine broadcasting test pattern frames in this process, one viewer
// reading as fast as it can and one reading at a third of the stream's rate through a small receive
// buffer. The normal viewer must
// get every frame whatever the frame size and "BufferSize" (at least 98% of the frames made while it
// watched, allowing for a loaded machine); for every frame the slow viewer completes, how far it is
// behind the newest frame the normal viewer has at that moment, and how old it is (since the normal
// viewer had the same frame): fewer frames, never old ones, at most 250 ms behind, whole packets only.
// Exits 1 when a check fails.
//
// One pass per size, quality and "BufferSize" (default 640x480 and 1280x720, 75 and 100, 0, 32, 128).
//
//   live_freshness [--seconds S] [--size WxH[,WxH...]] [--quality Q[,Q...]] [--buffer KB[,KB...]]
//                  [--pattern N]

#include "bench/live/LiveViewers.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"
#include "platform/capture/TestPatternDriver.h"
#include "video/JpegConverter.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;

struct TSize {
    int Width;
    int Height;
};

struct TOptions {
    double Seconds = 6;
    std::vector<TSize> Sizes = {{640, 480}, {1280, 720}};
    std::vector<int> Quality = {75, 100};
    std::vector<int> BufferKB = {0, 32, 128};
    int Pattern = TTestPatternDriver::GreyRamp;
};

// At least this share of the frames made must reach the normal viewer.
constexpr double kNormalShare = 0.98;
constexpr double kMaxBehindMs = 250;
// The slow viewer stands for one behind a slow link, where what it has not taken waits at the server:
// a small receive buffer, or its own kernel would hold a second of small frames out of the server's
// sight (a viewer program that reads slowly from a large buffer is stale by its own choice).
constexpr int kSlowReceiveBufferBytes = 2048; // the kernel's smallest

constexpr size_t kMaxFrames = 1 << 20;

struct TShared {
    std::atomic<bool> Stop{false};
    // Arrival time at the normal viewer of each frame number, in microseconds since the start; 0 none yet.
    std::vector<std::atomic<int64_t>> NormalAt = std::vector<std::atomic<int64_t>>(kMaxFrames);
    std::atomic<uint32_t> NormalNewest{0};
    std::atomic<uint64_t> NormalBytesSoFar{0};
    TClock::time_point Start = TClock::now();
    uint64_t NormalFrames = 0;
    uint64_t NormalGaps = 0;
    uint32_t NormalFirst = 0;
    uint64_t NormalBytes = 0;
    uint64_t SlowFrames = 0;
    uint64_t SlowBytes = 0;
    std::vector<double> BehindMs;
    std::vector<double> AgeMs;
    bool Malformed = false;
};

int64_t MicrosSince(const TShared& shared, TClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t - shared.Start).count() + 1;
}

void NormalViewer(int fd, TShared& shared) {
    TPacketReader reader;
    std::vector<uint8_t> buffer(256 * 1024);
    while (!shared.Stop) {
        const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            break;
        }
        shared.NormalBytes += static_cast<uint64_t>(got);
        shared.NormalBytesSoFar = shared.NormalBytes;
        reader.Feed(buffer.data(), static_cast<size_t>(got), TClock::now(),
                    [&](uint32_t number, TClock::time_point at) {
                        if (number < kMaxFrames) {
                            shared.NormalAt[number] = MicrosSince(shared, at);
                        }
                        if (shared.NormalFirst == 0) {
                            shared.NormalFirst = number;
                        }
                        shared.NormalNewest = number;
                    });
    }
    shared.NormalFrames = reader.Frames;
    shared.NormalGaps = reader.Gaps;
    shared.Malformed = shared.Malformed || reader.Malformed;
}

// Reads a third of what the normal viewer has read so far: a third of the stream's rate.
void SlowViewer(int fd, TShared& shared) {
    TPacketReader reader;
    std::vector<uint8_t> buffer(16 * 1024);
    uint64_t consumed = 0;
    while (!shared.Stop) {
        const double allowed =
            static_cast<double>(shared.NormalBytesSoFar.load()) / 3 - static_cast<double>(consumed);
        if (allowed < 4096) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const size_t want = std::min(buffer.size(), static_cast<size_t>(allowed));
        const ssize_t got = ::recv(fd, buffer.data(), want, 0);
        if (got <= 0) {
            break;
        }
        consumed += static_cast<uint64_t>(got);
        reader.Feed(buffer.data(), static_cast<size_t>(got), TClock::now(),
                    [&](uint32_t number, TClock::time_point at) {
                        const uint32_t newest = shared.NormalNewest;
                        if (number >= kMaxFrames || newest >= kMaxFrames) {
                            return;
                        }
                        const int64_t sameAt = shared.NormalAt[number];
                        const int64_t newestAt = shared.NormalAt[newest];
                        if (sameAt == 0 || newestAt == 0) {
                            return;
                        }
                        shared.BehindMs.push_back(
                            static_cast<double>(std::max<int64_t>(newestAt - sameAt, 0)) / 1000);
                        shared.AgeMs.push_back(static_cast<double>(MicrosSince(shared, at) - sameAt) / 1000);
                    });
    }
    shared.SlowFrames = reader.Frames;
    shared.SlowBytes = consumed;
    shared.Malformed = shared.Malformed || reader.Malformed;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return NAN;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

struct TPass {
    TSize Size;
    int Quality;
    int BufferKB;
};

bool RunPass(TBroadcastController& controller, TDataModuleMain& engine, const TOptions& options,
             const TPass& pass) {
    if (!controller.Start()) {
        std::fprintf(stderr, "the broadcast did not start\n");
        return false;
    }
    const int port = engine.ServerSocketVideo.LocalPort();
    TShared shared;
    const int normalFd = ConnectLoopback(port);
    const int slowFd = ConnectLoopback(port, kSlowReceiveBufferBytes);
    std::thread normal(NormalViewer, normalFd, std::ref(shared));
    std::thread slow(SlowViewer, slowFd, std::ref(shared));
    QTimer::singleShot(static_cast<int>(options.Seconds * 1000), [&] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    shared.Stop = true;
    ::shutdown(normalFd, SHUT_RDWR);
    ::shutdown(slowFd, SHUT_RDWR);
    normal.join();
    slow.join();
    ::close(normalFd);
    ::close(slowFd);
    controller.Stop();
    const double seconds = options.Seconds;
    const uint32_t made = shared.NormalNewest - shared.NormalFirst + 1;
    const double share = static_cast<double>(shared.NormalFrames) / std::max<double>(1, made);
    const double behindMax = Percentile(shared.BehindMs, 1.0);
    std::printf("live_freshness: %dx%d test pattern %d at quality %d, BufferSize %d KB, %.0f s; %u cores\n",
                pass.Size.Width, pass.Size.Height, options.Pattern, pass.Quality, pass.BufferKB, seconds,
                std::thread::hardware_concurrency());
    std::printf("  frames made: %u (%.1f fps), mean frame %.0f bytes\n", made, made / seconds,
                static_cast<double>(shared.NormalBytes) /
                    std::max<double>(1, static_cast<double>(shared.NormalFrames)));
    std::printf(
        "  normal viewer: %llu frames (%.1f fps, %.1f%% of those made, >= %.0f%%), %llu gaps, %.2f MB/s\n",
        static_cast<unsigned long long>(shared.NormalFrames),
        static_cast<double>(shared.NormalFrames) / seconds, 100 * share, 100 * kNormalShare,
        static_cast<unsigned long long>(shared.NormalGaps),
        static_cast<double>(shared.NormalBytes) / seconds / 1e6);
    std::printf("  slow viewer:   %llu frames (%.1f fps), %.2f MB/s\n",
                static_cast<unsigned long long>(shared.SlowFrames),
                static_cast<double>(shared.SlowFrames) / seconds,
                static_cast<double>(shared.SlowBytes) / seconds / 1e6);
    std::printf("  slow frame behind the normal viewer's newest: median %.0f ms, p95 %.0f ms, max %.0f ms "
                "(<= %.0f)\n",
                Percentile(shared.BehindMs, 0.5), Percentile(shared.BehindMs, 0.95), behindMax, kMaxBehindMs);
    std::printf("  slow frame's age when complete: median %.0f ms, p95 %.0f ms, max %.0f ms\n",
                Percentile(shared.AgeMs, 0.5), Percentile(shared.AgeMs, 0.95), Percentile(shared.AgeMs, 1.0));
    const bool ok = !shared.Malformed && shared.NormalFrames > 0 && share >= kNormalShare &&
                    shared.SlowFrames > 0 && behindMax <= kMaxBehindMs;
    std::printf("  %s\n", ok ? "checks passed" : "CHECKS FAILED");
    std::fflush(stdout);
    return ok;
}

std::vector<std::string> SplitList(const char* text) {
    std::vector<std::string> items;
    std::string item;
    for (const char* p = text;; ++p) {
        if (*p == ',' || *p == '\0') {
            items.push_back(item);
            item.clear();
            if (*p == '\0') {
                break;
            }
        } else {
            item += *p;
        }
    }
    return items;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        std::vector<int> numbers;
        for (const std::string& item : SplitList(argv[i + 1])) {
            numbers.push_back(std::atoi(item.c_str()));
        }
        if (arg == "--seconds") {
            options.Seconds = std::atof(argv[i + 1]);
        } else if (arg == "--size") {
            options.Sizes.clear();
            for (const std::string& item : SplitList(argv[i + 1])) {
                int width = 0;
                int height = 0;
                std::sscanf(item.c_str(), "%dx%d", &width, &height);
                options.Sizes.push_back({width, height});
            }
        } else if (arg == "--quality") {
            options.Quality = numbers;
        } else if (arg == "--buffer") {
            options.BufferKB = numbers;
        } else if (arg == "--pattern") {
            options.Pattern = numbers.empty() ? 0 : numbers.front();
        } else {
            std::fprintf(stderr,
                         "usage: live_freshness [--seconds S] [--size WxH[,WxH...]] [--quality Q[,Q...]] "
                         "[--buffer KB[,KB...]] [--pattern N]\n");
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    char dirTemplate[] = "/tmp/live-freshness-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    const std::string ini = dir + "/streamwright.ini";
    std::ofstream(ini) << "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0"
                       << "\r\n[Audio]\r\nEnabled=0\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n[Text]\r\nFormat=3\r\n"
                       << "[Application]\r\nJpegQuality=75\r\n";

    QGuiApplication application(argc, argv);
    LoadIjl();
    auto program = std::make_unique<TProgramLifecycle>(ini);
    program->CreateEngine();
    TDataModuleMain* engine = &program->Engine();
    engine->ServerSocketVideo.BindAddress = "127.0.0.1";
    TBroadcastController* controller = &program->Controller();
    TConfiguration* configuration = &program->Configuration();
    while (!controller->DevicesInitialized()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    auto* driver = dynamic_cast<TTestPatternDriver*>(
        controller->Capture().CaptureWindow() ? controller->Capture().CaptureWindow()->Driver() : nullptr);
    if (!driver) {
        std::fprintf(stderr, "no test pattern device\n");
        return 1;
    }
    driver->SetPattern(options.Pattern);
    bool ok = true;
    for (const TSize& size : options.Sizes) {
        if (!driver->SetFormat(size.Width, size.Height, kFourCcUyvy)) {
            std::fprintf(stderr, "the test pattern does not offer %dx%d\n", size.Width, size.Height);
            ok = false;
            continue;
        }
        for (const int quality : options.Quality) {
            for (const int bufferKB : options.BufferKB) {
                configuration->SetJpegQuality(quality);
                configuration->Video().SetBufferSize(bufferKB);
                ok = RunPass(*controller, *engine, options, {size, quality, bufferKB}) && ok;
            }
        }
    }
    std::printf("live_freshness: %s\n", ok ? "all checks passed" : "SOME CHECKS FAILED");
    program.reset();
    UnloadIjl();
    std::system(("rm -rf '" + dir + "'").c_str());

    return ok ? 0 : 1;
}
