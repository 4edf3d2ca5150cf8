// Load driver for the viewer connections: many concurrent viewers and a connect/disconnect storm
// against the real engine on 127.0.0.1, with the same storm against the bare socket layer beside it.
// Prints connections handled per second and the main thread's longest stall for every phase, checks
// the counts, the registry and the descriptors, and exits non-zero when a check fails.
//
//   viewer_load [--viewers N] [--addresses N] [--storm N] [--storm-threads N]

#include "config/Configuration.h"
#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace sw;
using TClock = std::chrono::steady_clock;

struct TOptions {
    int Viewers = 500;
    int Addresses = 50;
    int Storm = 10000;
    int StormThreads = 4;
};

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

int ConnectFrom(const std::string& from, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the driver thread may see of the main thread's state, copied there.
struct TSnapshot {
    int VideoTotal = 0;
    int AudioTotal = 0;
    size_t Entries = 0;
    size_t VideoConnections = 0;
    size_t AudioConnections = 0;
    long BareConnects = 0;
    long BareDisconnects = 0;
    std::map<int, long> Messages;
};

class TLoad {
public:
    TLoad(TDataModuleMain& engine, TServerSocket& bare, TOptions options)
        : FEngine(engine), FBare(bare), FOptions(options), FVideoPort(engine.ServerSocketVideo.LocalPort()),
          FAudioPort(engine.ServerSocketAudio.LocalPort()), FBarePort(bare.LocalPort()) {}

    std::map<int, long> Messages; // main thread
    long BareConnects = 0;        // main thread
    long BareDisconnects = 0;     // main thread
    // The longest wait, in microseconds, of a request posted to the main thread every two
    // milliseconds: how long the main thread leaves the rest of its work (and a user) waiting.
    std::atomic<long long> LongestGapUs{0};
    std::atomic<bool> Probing{true};
    bool Failed = false;

    void Run() {
        const int baseline = OnMain<int>([] { return OpenDescriptors(); });
        ConcurrentViewers(baseline);
        Storm("storm (engine)", FVideoPort, FAudioPort, false);
        const double engineRate = FLastRate;
        const double engineCpu = FLastCpuUs;
        Storm("storm (bare socket layer)", FBarePort, FBarePort, true);
        std::printf(
            "\nstorm, engine against the bare socket layer: %.2f x the connections per second, %.2f x the "
            "main thread's CPU per connection\n",
            engineRate / FLastRate, engineCpu / FLastCpuUs);
        const int after = OnMain<int>([] { return OpenDescriptors(); });
        Check(after == baseline, "descriptors back to the baseline after every phase (" +
                                     std::to_string(after) + " open, " + std::to_string(baseline) +
                                     " before)");
    }

private:
    template <typename T>
    T OnMain(const std::function<T()>& body) {
        T result{};
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { result = body(); }, Qt::BlockingQueuedConnection);
        return result;
    }

    TSnapshot Snapshot() {
        return OnMain<TSnapshot>([this] {
            TSnapshot s;
            s.VideoTotal = Clients().VideoTotal();
            s.AudioTotal = Clients().AudioTotal();
            s.Entries = Clients().Count();
            s.VideoConnections = FEngine.ServerSocketVideo.ConnectionCount();
            s.AudioConnections = FEngine.ServerSocketAudio.ConnectionCount();
            s.BareConnects = BareConnects;
            s.BareDisconnects = BareDisconnects;
            s.Messages = Messages;
            return s;
        });
    }

    bool WaitUntil(const std::function<bool(const TSnapshot&)>& done, double timeoutSeconds,
                   TSnapshot& last) {
        const TClock::time_point deadline =
            TClock::now() +
            std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(timeoutSeconds));
        for (;;) {
            last = Snapshot();
            if (done(last)) {
                return true;
            }
            if (TClock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void Check(bool ok, const std::string& what) {
        std::printf("  [%s] %s\n", ok ? " ok " : "FAIL", what.c_str());
        if (!ok) {
            Failed = true;
        }
    }

    // Lets the probes of the last phase finish before the stall measure starts again.
    void StartPhase() {
        OnMain<int>([] { return 0; });
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        OnMain<int>([] { return 0; });
        LongestGapUs = 0;
    }

    static double ThreadCpuSeconds() {
        rusage usage{};
        ::getrusage(RUSAGE_THREAD, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }

    double MainCpu() {
        return OnMain<double>([] { return ThreadCpuSeconds(); });
    }

    void Report(const char* phase, long connections, double seconds, double mainCpuSeconds) {
        FLastRate = static_cast<double>(connections) / seconds;
        FLastCpuUs = mainCpuSeconds * 1e6 / static_cast<double>(connections);
        std::printf(
            "%-31s %6ld conn %7.3f s %8.0f conn/s   main thread %5.1f us CPU/conn   longest stall %6.1f ms\n",
            phase, connections, seconds, FLastRate, FLastCpuUs,
            static_cast<double>(LongestGapUs.load()) / 1000.0);
        std::fflush(stdout);
    }

    std::string Address(int i) const { return "127.0.1." + std::to_string(1 + i % FOptions.Addresses); }

    long Count(const TSnapshot& s, int message) const {
        auto it = s.Messages.find(message);
        return it == s.Messages.end() ? 0 : it->second;
    }

    void ConcurrentViewers(int baseline) {
        const int n = FOptions.Viewers;
        const TSnapshot before = Snapshot();
        std::vector<int> fds;
        StartPhase();
        double cpu = MainCpu();
        TClock::time_point start = TClock::now();
        for (int i = 0; i < n; ++i) {
            fds.push_back(ConnectFrom(Address(i), FVideoPort));
            fds.push_back(ConnectFrom(Address(i), FAudioPort));
        }
        Check(std::count(fds.begin(), fds.end(), -1) == 0, "every viewer connected");
        TSnapshot s;
        bool all = WaitUntil(
            [&](const TSnapshot& x) {
                return x.VideoTotal == n && x.AudioTotal == n && x.VideoConnections == size_t(n) &&
                       x.AudioConnections == size_t(n) &&
                       Count(x, lmAudioSocketConnect) - Count(before, lmAudioSocketConnect) == n &&
                       Count(x, lmVideoSocketConnect) - Count(before, lmVideoSocketConnect) == 2L * n;
            },
            30, s);
        Report("viewers connect (video + audio)", 2L * n,
               std::chrono::duration<double>(TClock::now() - start).count(), MainCpu() - cpu);
        Check(all, "registry counts " + std::to_string(s.VideoTotal) + " video and " +
                       std::to_string(s.AudioTotal) + " audio connections, expected " + std::to_string(n) +
                       " each");
        Check(s.Entries == size_t(std::min(n, FOptions.Addresses)),
              "one registry entry per address: " + std::to_string(s.Entries));
        Check(Count(s, lmClientConnect) - Count(before, lmClientConnect) == std::min(n, FOptions.Addresses),
              "one \"Connect\" per address");
        Check(Count(s, lmVideoSocketConnect) - Count(before, lmVideoSocketConnect) == 2L * n,
              "two video \"Socket connect\" entries per viewer");
        Check(Count(s, lmAudioSocketConnect) - Count(before, lmAudioSocketConnect) == n,
              "one audio \"Socket connect\" per viewer");

        AudioFanOut(n);

        StartPhase();
        cpu = MainCpu();
        start = TClock::now();
        for (int fd : fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        all = WaitUntil(
            [&](const TSnapshot& x) {
                return x.Entries == 0 && x.VideoConnections == 0 && x.AudioConnections == 0 &&
                       Count(x, lmClientDisconnect) - Count(before, lmClientDisconnect) ==
                           std::min(n, FOptions.Addresses);
            },
            30, s);
        Report("all viewers dropped at once", 2L * n,
               std::chrono::duration<double>(TClock::now() - start).count(), MainCpu() - cpu);
        Check(all, "registry empty and no connection left (" + std::to_string(s.Entries) + " entries, " +
                       std::to_string(s.VideoConnections + s.AudioConnections) + " connections)");
        Check(Count(s, lmVideoSocketDisconnect) - Count(before, lmVideoSocketDisconnect) == n &&
                  Count(s, lmAudioSocketDisconnect) - Count(before, lmAudioSocketDisconnect) == n,
              "one \"Socket disconnect\" per connection");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int open = OnMain<int>([] { return OpenDescriptors(); });
        Check(open == baseline, "no descriptor leaked (" + std::to_string(open) + " open, " +
                                    std::to_string(baseline) + " before)");
    }

    // One audio block to every viewer, with and without the per-viewer write entries (their recording
    // included), and what the log file's rewrite costs once it is full of them.
    void AudioFanOut(int n) {
        std::vector<uint8_t> block(800);
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<uint8_t>(i * 7);
        }
        constexpr int kBlocks = 10;
        double perBlock[2] = {};
        for (int logged = 1; logged >= 0; --logged) {
            perBlock[logged] = OnMain<double>([&] {
                Configuration().Log().SetMessageEnabled(lmAudioSocketWrite, logged != 0);
                int sent = 0;
                const TClock::time_point start = TClock::now();
                for (int b = 0; b < kBlocks; ++b) {
                    sent += FEngine.SendAudio(block.data(), block.size()).Sent;
                    QCoreApplication::sendPostedEvents(FEngine.MessageWindow(), WM_LOGENTRY);
                }
                const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
                if (sent != kBlocks * n) {
                    Failed = true;
                    std::printf("  [FAIL] audio reached %d of %d viewer blocks\n", sent, kBlocks * n);
                }
                return seconds / kBlocks;
            });
        }
        std::printf("%-31s %6d viewers: %.3f ms per 800-byte block with write entries, %.3f ms without "
                    "(ratio %.2f)\n",
                    "audio block to every viewer", n, perBlock[1] * 1000, perBlock[0] * 1000,
                    perBlock[1] / perBlock[0]);
        const double saveSeconds = OnMain<double>([this] {
            Configuration().Log().SetMessageEnabled(lmAudioSocketWrite, true);
            const TClock::time_point start = TClock::now();
            FEngine.SaveLog();
            const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
            FEngine.ClearLog();
            return seconds;
        });
        std::printf("%-31s %.1f ms to rewrite the log file once full of write entries (then cleared)\n",
                    "log file", saveSeconds * 1000);
    }

    void Storm(const char* phase, int videoPort, int audioPort, bool bare) {
        const int total = FOptions.Storm;
        const int threads = FOptions.StormThreads;
        const TSnapshot before = Snapshot();
        std::atomic<int> failures{0};
        StartPhase();
        const double cpu = MainCpu();
        const TClock::time_point start = TClock::now();
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = t; i < total; i += threads) {
                    int fd = ConnectFrom(Address(i), i % 2 ? audioPort : videoPort);
                    if (fd < 0) {
                        ++failures;
                        continue;
                    }
                    ::close(fd);
                }
            });
        }
        for (std::thread& w : workers) {
            w.join();
        }
        TSnapshot s;
        const long want = total - failures.load();
        bool all = WaitUntil(
            [&](const TSnapshot& x) {
                if (bare) {
                    return x.BareDisconnects - before.BareDisconnects == want;
                }
                return Count(x, lmVideoSocketDisconnect) + Count(x, lmAudioSocketDisconnect) -
                           Count(before, lmVideoSocketDisconnect) - Count(before, lmAudioSocketDisconnect) ==
                       want;
            },
            60, s);
        Report(phase, want, std::chrono::duration<double>(TClock::now() - start).count(), MainCpu() - cpu);
        Check(failures.load() == 0,
              "every storm connection was made (" + std::to_string(failures.load()) + " failed)");
        if (bare) {
            Check(all && s.BareConnects - before.BareConnects == want,
                  "bare server saw every connect and disconnect");
        } else {
            Check(all && s.Entries == 0 && s.VideoTotal == 0 && s.AudioTotal == 0,
                  "every connection counted in and out, registry empty");
        }
    }

    TDataModuleMain& FEngine;
    TServerSocket& FBare;
    TOptions FOptions;
    int FVideoPort;
    int FAudioPort;
    int FBarePort;
    double FLastRate = 0;
    double FLastCpuUs = 0;
};

bool ParseInt(const char* text, int& value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < 1 || v > 1000000) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        int* target = arg == "--viewers"         ? &options.Viewers
                      : arg == "--addresses"     ? &options.Addresses
                      : arg == "--storm"         ? &options.Storm
                      : arg == "--storm-threads" ? &options.StormThreads
                                                 : nullptr;
        if (!target || i + 1 >= argc || !ParseInt(argv[++i], *target)) {
            std::fprintf(
                stderr, "usage: viewer_load [--viewers N] [--addresses N] [--storm N] [--storm-threads N]\n");
            return 2;
        }
    }
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    const rlim_t needed = static_cast<rlim_t>(options.Viewers) * 4 + 256;
    if (files.rlim_cur < needed) {
        std::fprintf(stderr, "viewer_load: the file limit %llu is below the %llu needed\n",
                     static_cast<unsigned long long>(files.rlim_cur),
                     static_cast<unsigned long long>(needed));
        return 2;
    }

    QCoreApplication application(argc, argv);
    QTemporaryDir dir;
    const std::string ini = dir.filePath(QStringLiteral("streamwright.ini")).toStdString();
    if (FILE* f = std::fopen(ini.c_str(), "wb")) {
        std::fputs("[Video]\r\nPort=0\r\n[Audio]\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n", f);
        std::fclose(f);
    }
    TProgramLifecycle program(ini);
    int exitCode = 0;
    {
        program.CreateEngine();
        TDataModuleMain& engine = program.Engine();
        engine.ServerSocketVideo.BindAddress = "127.0.0.1";
        engine.ServerSocketAudio.BindAddress = "127.0.0.1";
        engine.StartServers();

        TServerSocket bare;
        bare.BindAddress = "127.0.0.1";
        bare.Open();

        TLoad load(engine, bare, options);
        QObject::connect(&engine, &TDataModuleMain::LogRecorded, &application,
                         [&load](const TAMLog& entry) { ++load.Messages[entry.Message]; });
        bare.OnClientConnect = [&](TServerClientSocket&) { ++load.BareConnects; };
        bare.OnClientDisconnect = [&](TServerClientSocket&) { ++load.BareDisconnects; };

        std::thread probe([&] {
            while (load.Probing.load()) {
                const TClock::time_point posted = TClock::now();
                QMetaObject::invokeMethod(
                    &application,
                    [&load, posted] {
                        const long long waited =
                            std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - posted)
                                .count();
                        if (waited > load.LongestGapUs.load()) {
                            load.LongestGapUs = waited;
                        }
                    },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });

        std::printf(
            "viewer load: %d viewers from %d loopback addresses, storm of %d connections on %d threads\n\n",
            options.Viewers, options.Addresses, options.Storm, options.StormThreads);
        std::thread driver([&] {
            load.Run();
            QMetaObject::invokeMethod(
                &application, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        });
        application.exec();
        driver.join();
        load.Probing = false;
        probe.join();
        QCoreApplication::sendPostedEvents();
        QObject::disconnect(&engine, &TDataModuleMain::LogRecorded, &application, nullptr);
        exitCode = load.Failed ? 1 : 0;
        std::printf("\n%s\n", load.Failed ? "FAILED" : "all checks passed");
        program.DestroyEngine();
    }
    return exitCode;
}
