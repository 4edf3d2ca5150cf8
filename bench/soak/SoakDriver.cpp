// Long-run driver: a broadcast of the test pattern and the test tone with 20 viewers joining and
// leaving, the web server under steady requests and the viewer page updated every minute, for a chosen
// time. After a warm-up it samples the process's resident memory, descriptors and threads, and at the
// end checks that they stayed within a small margin of the warm-up values, that the log file holds at
// most 10000 lines and that no error entry was recorded except those the driver provoked (with
// --unplug-every, the device loss and its report; the resets of viewers that leave with data unread). Exits
// non-zero when a check fails.
//
//   soak_driver [--seconds S] [--warmup S] [--viewers N] [--page-every S] [--unplug-every S]
//               [--report-every S]

#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"
#include "engine/ViewerPage.h"
#include "platform/capture/TestPatternDriver.h"
#include "platform/sound/TestToneSource.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace sw;
using TClock = std::chrono::steady_clock;

struct TOptions {
    double Seconds = 120;
    double Warmup = 20;
    int Viewers = 20;
    double PageEvery = 60;
    double UnplugEvery = 0;
    double ReportEvery = 10;
};

int CountEntries(const char* folder) {
    int count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

long ResidentKB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// The driver's own sockets, so that the process's descriptors can be told apart from them.
std::atomic<int> gDriverSockets{0};

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return -1;
    }
    ++gDriverSockets;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        --gDriverSockets;
        return -1;
    }
    return fd;
}

void Close(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        --gDriverSockets;
        fd = -1;
    }
}

struct TSample {
    double Seconds = 0;
    long ResidentKB = 0;
    int Descriptors = 0;
    int Threads = 0;
    size_t LogLines = 0;
};

// 20 viewers, each with a video and an audio connection that read what they are sent; every quarter
// second one of them leaves and a new one joins.
class TViewers {
public:
    TViewers(int count, int videoPort, int audioPort) : FVideoPort(videoPort), FAudioPort(audioPort) {
        FViewers.resize(static_cast<size_t>(count));
        FThread = std::thread([this] { Run(); });
    }
    ~TViewers() {
        FQuit = true;
        FThread.join();
    }
    long long VideoBytes() const { return FVideoBytes; }
    long long AudioBytes() const { return FAudioBytes; }
    long Rejoins() const { return FRejoins; }
    long Dropped() const { return FDropped; }

private:
    struct TViewer {
        int Video = -1;
        int Audio = -1;
    };

    void Join(TViewer& viewer) {
        viewer.Video = Connect(FVideoPort);
        viewer.Audio = Connect(FAudioPort);
    }
    void Leave(TViewer& viewer) {
        Close(viewer.Video);
        Close(viewer.Audio);
    }

    void Run() {
        ::pthread_setname_np(::pthread_self(), "soak-viewers");
        std::mt19937 random(7);
        for (TViewer& viewer : FViewers) {
            Join(viewer);
        }
        std::vector<uint8_t> scratch(256 * 1024);
        auto nextRejoin = TClock::now();
        while (!FQuit) {
            std::vector<pollfd> fds;
            for (const TViewer& viewer : FViewers) {
                fds.push_back({viewer.Video, POLLIN, 0});
                fds.push_back({viewer.Audio, POLLIN, 0});
            }
            ::poll(fds.data(), fds.size(), 50);
            for (size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                    const ssize_t got = ::recv(fds[i].fd, scratch.data(), scratch.size(), MSG_DONTWAIT);
                    if (got > 0) {
                        (i % 2 == 0 ? FVideoBytes : FAudioBytes) += got;
                    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                        // The server closed a viewer it should have kept; it joins again.
                        ++FDropped;
                        TViewer& viewer = FViewers[i / 2];
                        Leave(viewer);
                        Join(viewer);
                        break;
                    }
                }
            }
            if (TClock::now() >= nextRejoin) {
                TViewer& viewer = FViewers[random() % FViewers.size()];
                Leave(viewer);
                Join(viewer);
                ++FRejoins;
                nextRejoin += std::chrono::milliseconds(250);
            }
        }
        for (TViewer& viewer : FViewers) {
            Leave(viewer);
        }
    }

    const int FVideoPort;
    const int FAudioPort;
    std::vector<TViewer> FViewers;
    std::atomic<bool> FQuit{false};
    std::atomic<long long> FVideoBytes{0};
    std::atomic<long long> FAudioBytes{0};
    std::atomic<long> FRejoins{0};
    std::atomic<long> FDropped{0};
    std::thread FThread;
};

// Steady web requests: the page and a larger file, alternately on kept-alive and closed connections,
// about twenty a second.
class TWebClient {
public:
    explicit TWebClient(int port) : FPort(port) {
        FThread = std::thread([this] { Run(); });
    }
    ~TWebClient() {
        FQuit = true;
        FThread.join();
    }
    long Responses() const { return FResponses; }
    long Failures() const { return FFailures; }

private:
    // Sends the request and reads until the whole response (by its Content-Length) arrived.
    bool Exchange(int fd, const std::string& request) {
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            return false;
        }
        std::string response;
        char buffer[16384];
        const auto deadline = TClock::now() + std::chrono::seconds(10);
        while (TClock::now() < deadline && !FQuit) {
            pollfd descriptor{fd, POLLIN, 0};
            if (::poll(&descriptor, 1, 100) <= 0) {
                continue;
            }
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return false;
            }
            response.append(buffer, static_cast<size_t>(got));
            const size_t end = response.find("\r\n\r\n");
            if (end == std::string::npos) {
                continue;
            }
            const size_t length = response.find("Content-Length: ");
            const size_t body =
                length == std::string::npos ? 0 : std::strtoul(response.c_str() + length + 16, nullptr, 10);
            if (response.size() >= end + 4 + body) {
                return response.rfind("HTTP/1.1 200", 0) == 0;
            }
        }
        return false;
    }

    void Run() {
        ::pthread_setname_np(::pthread_self(), "soak-web");
        long n = 0;
        while (!FQuit) {
            int fd = Connect(FPort);
            pollfd descriptor{fd, POLLOUT, 0};
            bool ok = fd >= 0 && ::poll(&descriptor, 1, 5000) == 1;
            const bool keepAlive = n % 2 == 0;
            for (int i = 0; ok && i < (keepAlive ? 3 : 1) && !FQuit; ++i, ++n) {
                const std::string file = n % 3 == 0 ? "/large.bin" : "/index.htm";
                ok = Exchange(fd, "GET " + file + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                      (keepAlive ? "Connection: Keep-Alive\r\n" : "") + "\r\n");
                (ok ? FResponses : FFailures) += 1;
            }
            Close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    const int FPort;
    std::atomic<bool> FQuit{false};
    std::atomic<long> FResponses{0};
    std::atomic<long> FFailures{0};
    std::thread FThread;
};

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; i += 2) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const double value = std::atof(argv[i + 1]);
        if (arg == "--seconds") {
            options.Seconds = value;
        } else if (arg == "--warmup") {
            options.Warmup = value;
        } else if (arg == "--viewers") {
            options.Viewers = static_cast<int>(value);
        } else if (arg == "--page-every") {
            options.PageEvery = value;
        } else if (arg == "--unplug-every") {
            options.UnplugEvery = value;
        } else if (arg == "--report-every") {
            options.ReportEvery = value;
        } else {
            return false;
        }
    }
    return options.Seconds > options.Warmup && options.Viewers > 0 && options.ReportEvery > 0;
}

const char* kPage = "<html><body>\r\n<applet code=\"Lumiclip.class\" width=320 height=240>\r\n</applet>\r\n"
                    "</body></html>\r\n";

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: soak_driver [--seconds S] [--warmup S] [--viewers N] [--page-every S] "
                             "[--unplug-every S] [--report-every S]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    char dirTemplate[] = "/tmp/soak-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    const std::string www = dir + "/www";
    ::mkdir(www.c_str(), 0755);
    std::ofstream(www + "/index.htm") << kPage;
    std::ofstream(www + "/large.bin") << std::string(200 * 1024, 'x');
    const std::string ini = dir + "/streamwright.ini";
    std::ofstream(ini) << "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0\r\n"
                       << "[Audio]\r\nEnabled=1\r\nDevice=Test Tone\r\nPort=0\r\n"
                       << "[Web]\r\nEnabled=1\r\nPort=0\r\nPath=" << www << "\r\nPage=index.htm\r\n"
                       << "[Text]\r\nFormat=3\r\n";

    QGuiApplication application(argc, argv);
    auto program = std::make_unique<TProgramLifecycle>(ini);
    program->CreateEngine();
    TDataModuleMain& engine = program->Engine();
    engine.ServerSocketVideo.BindAddress = "127.0.0.1";
    engine.ServerSocketAudio.BindAddress = "127.0.0.1";
    engine.ServerSocketWeb.BindAddress = "127.0.0.1";
    TBroadcastController& controller = program->Controller();
    while (!controller.DevicesInitialized()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    std::string reason;
    if (!controller.CanStart(&reason) || !controller.Start()) {
        std::fprintf(stderr, "soak: the broadcast does not start: %s\n", reason.c_str());
        return 1;
    }

    // Error entries the driver provokes by unplugging the devices.
    // A capture device still gone at the end cannot be disconnected either.
    const std::set<int> provoked = {lmVideoError, lmVideoDeviceLost, lmAudioDeviceLost, lmDriverDisconnect};
    long errors = 0;
    long provokedErrors = 0;
    QObject::connect(&engine, &TDataModuleMain::LogRecorded, [&](const TAMLog& entry) {
        if (entry.Level != llError) {
            return;
        }
        // A viewer that leaves with data still unread resets its connection, as a real one does, and a
        // send to it may then find the connection shut down.
        const bool socketError = entry.Message == lmVideoSocketError || entry.Message == lmAudioSocketError;
        const bool leaving = socketError && (entry.Values.find("Error code: 10054") != std::string::npos ||
                                             entry.Values.find("Error code: 10058") != std::string::npos);
        if (leaving || (options.UnplugEvery > 0 && provoked.count(entry.Message))) {
            ++provokedErrors;
            return;
        }
        ++errors;
        std::fprintf(stderr, "soak: error entry %d \"%s\" %s %s\n", entry.Message, MessageText(entry.Message),
                     entry.Detail.c_str(), entry.Values.c_str());
    });

    const auto started = TClock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(TClock::now() - started).count(); };
    auto viewers = std::make_unique<TViewers>(options.Viewers, engine.ServerSocketVideo.LocalPort(),
                                              engine.ServerSocketAudio.LocalPort());
    auto web = std::make_unique<TWebClient>(engine.ServerSocketWeb.LocalPort());

    std::vector<TSample> samples;
    auto sample = [&] {
        TSample s;
        s.Seconds = elapsed();
        s.ResidentKB = ResidentKB();
        s.Descriptors = CountEntries("/proc/self/fd") - gDriverSockets;
        s.Threads = CountEntries("/proc/self/task");
        s.LogLines = engine.LogLines().size();
        samples.push_back(s);
        std::printf("%7.0f s  RSS %7ld kB  descriptors %4d  threads %3d  log lines %5zu  viewers' bytes %lld "
                    "video %lld audio  web %ld ok %ld failed\n",
                    s.Seconds, s.ResidentKB, s.Descriptors, s.Threads, s.LogLines, viewers->VideoBytes(),
                    viewers->AudioBytes(), web->Responses(), web->Failures());
        std::fflush(stdout);
    };
    TSample baseline;
    bool haveBaseline = false;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        sample();
        if (!haveBaseline && samples.back().Seconds >= options.Warmup) {
            baseline = samples.back();
            haveBaseline = true;
            std::printf("warm-up over: the values above are the baseline\n");
        }
    });
    report.start(static_cast<int>(options.ReportEvery * 1000));

    long pageUpdates = 0;
    long pageFailures = 0;
    QTimer page;
    QObject::connect(&page, &QTimer::timeout, [&] {
        (UpdateViewerPage() == TViewerPageResult::Updated ? pageUpdates : pageFailures) += 1;
    });
    page.start(static_cast<int>(options.PageEvery * 1000));

    // Each unplug lasts a third of the period, long enough for the loss to be noticed and reported.
    QTimer unplug;
    bool unplugged = false;
    long unplugs = 0;
    QObject::connect(&unplug, &QTimer::timeout, [&] {
        if (!unplugged) {
            TestPatternFaults().Unplug();
            TestToneFaults().Unplug();
            ++unplugs;
            unplug.start(static_cast<int>(options.UnplugEvery * 1000 / 3));
        } else {
            TestPatternFaults().Replug();
            TestToneFaults().Replug();
            unplug.start(static_cast<int>(options.UnplugEvery * 1000 * 2 / 3));
        }
        unplugged = !unplugged;
    });
    if (options.UnplugEvery > 0) {
        unplug.start(static_cast<int>(options.UnplugEvery * 1000 * 2 / 3));
    }

    QTimer::singleShot(static_cast<int>(options.Seconds * 1000), [&] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    TestPatternFaults().Replug();
    TestToneFaults().Replug();
    sample();
    const TSample last = samples.back();
    const long long videoBytes = viewers->VideoBytes();
    const long long audioBytes = viewers->AudioBytes();
    const long rejoins = viewers->Rejoins();
    const long dropped = viewers->Dropped();
    const long responses = web->Responses();
    const long failures = web->Failures();
    viewers.reset();
    web.reset();
    controller.Stop();
    const std::string logFile = engine.LogFileName();
    program.reset();

    long fileLines = 0;
    {
        std::ifstream log(logFile);
        std::string line;
        while (std::getline(log, line)) {
            ++fileLines;
        }
    }
    std::system(("rm -rf '" + dir + "'").c_str());

    bool ok = true;
    auto check = [&](bool condition, const std::string& what) {
        std::printf("%s %s\n", condition ? "ok  " : "FAIL", what.c_str());
        ok = ok && condition;
    };
    std::printf(
        "\n%.0f s, %d viewers, %ld rejoins, %lld video and %lld audio bytes to viewers, %ld web responses, "
        "%ld page updates, %ld unplugs\n",
        last.Seconds, options.Viewers, rejoins, videoBytes, audioBytes, responses, pageUpdates, unplugs);
    check(haveBaseline, "a baseline after the warm-up");
    if (haveBaseline) {
        // Allocator arenas and Qt's caches settle slowly; a leak of a frame or a connection per second
        // is far above this margin over minutes.
        const long rssMargin = std::max(4096L, baseline.ResidentKB / 10);
        check(last.ResidentKB <= baseline.ResidentKB + rssMargin,
              "resident memory " + std::to_string(last.ResidentKB) + " kB within " +
                  std::to_string(rssMargin) + " kB of the " + std::to_string(baseline.ResidentKB) +
                  " kB after warm-up");
        // A web connection and its thread may be in flight at either sample.
        check(last.Descriptors <= baseline.Descriptors + 3,
              "descriptors " + std::to_string(last.Descriptors) + " within 3 of " +
                  std::to_string(baseline.Descriptors));
        check(last.Threads <= baseline.Threads + 2,
              "threads " + std::to_string(last.Threads) + " within 2 of " + std::to_string(baseline.Threads));
    }
    check(fileLines <= 10000, "log file " + std::to_string(fileLines) + " lines, at most 10000");
    check(errors == 0, std::to_string(errors) + " error entries not provoked by the driver (" +
                           std::to_string(provokedErrors) + " provoked)");
    check(videoBytes > 0 && audioBytes > 0, "viewers received video and audio");
    check(dropped == 0, std::to_string(dropped) + " viewers closed by the server");
    check(responses > 0 && failures == 0, std::to_string(failures) + " failed web requests");
    check(pageFailures == 0 && (pageUpdates > 0 || options.Seconds < options.PageEvery),
          std::to_string(pageFailures) + " failed page updates");
    return ok ? 0 : 1;
}
