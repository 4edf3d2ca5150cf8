// Browser viewers against port viewers, side by side in one run: the headless program broadcasting
// the test pattern (640x480, 30 frames per second) with its web server on, and N clients of one kind
// at a time, all read by one epoll thread here: video-port viewers (the 10-byte packets) or browser
// stream clients (GET /live/stream.mjpg, multipart parts). For each phase: every client's frame
// rate, the program's CPU per frame, and the age of the frames on arrival; then the cost of one more
// client per frame sent, for each kind, and their ratio.
//
// The age is measured from the frame's X-Timestamp (the wall-clock moment the encoded frame was
// handed to the viewers); port packets carry no time, so a port viewer's frame is matched by its
// number with the timestamp that one extra stream client, present in every phase, received.
//
//   live_browser [--seconds S] [--counts N,N,...] [--program PATH] [--log-writes 0|1]
// --log-writes 0 switches the "Socket write" entries off in the log settings, to show their share.

#include "bench/live/LiveViewers.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/epoll.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using namespace sw::bench;

struct TOptions {
    double Seconds = 10;
    std::vector<int> Counts = {1, 50};
    std::string Program = SW_BINARY_DIR "/src/app/streamwright";
    bool LogWrites = true; // the "Socket write" entries (message 20) recorded, as by default
};

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Reads a multipart JPEG stream incrementally: the frame number and timestamp of every complete part.
class TPartReader {
public:
    bool Malformed = false;

    template <typename OnFrame>
    void Feed(const char* data, size_t size, OnFrame&& onFrame) {
        static const std::string kBoundaryLine = "--streamwright-frame\r\n";
        FBuffer.append(data, size);
        size_t at = 0;
        for (bool progress = true; progress && !Malformed;) {
            progress = false;
            if (FState == TState::Response || FState == TState::Headers) {
                const size_t end = FBuffer.find("\r\n\r\n", at);
                if (end == std::string::npos) {
                    break;
                }
                const std::string headers = FBuffer.substr(at, end - at);
                at = end + 4;
                progress = true;
                if (FState == TState::Response) {
                    Malformed = headers.rfind("HTTP/1.1 200 OK", 0) != 0;
                    FState = TState::Boundary;
                    continue;
                }
                const size_t length = headers.find("Content-Length: ");
                const size_t number = headers.find("X-Frame-Number: ");
                const size_t stamp = headers.find("X-Timestamp: ");
                if (length == std::string::npos || number == std::string::npos ||
                    stamp == std::string::npos) {
                    Malformed = true;
                    break;
                }
                FRemaining = std::strtoul(headers.c_str() + length + 16, nullptr, 10);
                FNumber = static_cast<uint32_t>(std::strtoul(headers.c_str() + number + 16, nullptr, 10));
                FStamp = std::strtod(headers.c_str() + stamp + 13, nullptr);
                FState = TState::Body;
            } else if (FState == TState::Body) {
                if (FBuffer.size() - at < FRemaining) {
                    break;
                }
                at += FRemaining;
                onFrame(FNumber, FStamp);
                FState = TState::Boundary;
                progress = true;
            } else {
                const size_t line = FBuffer.find(kBoundaryLine, at);
                if (line == std::string::npos) {
                    break;
                }
                // Only the line end of the part before may stand between a part and the boundary.
                Malformed = line - at > 2;
                at = line + kBoundaryLine.size();
                FState = TState::Headers;
                progress = true;
            }
        }
        FBuffer.erase(0, at);
    }

private:
    enum class TState { Response, Boundary, Headers, Body };
    TState FState = TState::Response;
    std::string FBuffer;
    size_t FRemaining = 0;
    uint32_t FNumber = 0;
    double FStamp = 0;
};

struct TClient {
    int Fd = -1;
    bool Stream = false;
    TPacketReader Packets;
    TPartReader Parts;
    uint64_t Frames = 0;
    std::vector<std::pair<uint32_t, double>> Arrivals; // frame number, wall time
};

struct TPhaseResult {
    std::string Kind;
    int Clients = 0;
    double Seconds = 0;
    double MinFps = 0;
    double AvgFps = 0;
    bool Malformed = false;
    double ProcessCpu = 0;
    uint64_t FramesProduced = 0;
    double CpuPerFrameUs = 0;
    double MedianAgeMs = 0;
    double WorstAgeMs = 0;
};

int ConnectStream(int webPort) {
    const int fd = ConnectLoopback(webPort);
    const std::string request =
        "GET /live/stream.mjpg HTTP/1.1\r\nHost: bench\r\nUser-Agent: live_browser\r\n\r\n";
    if (fd >= 0) {
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    return fd;
}

TPhaseResult RunPhase(const std::string& kind, int videoPort, int webPort, pid_t server, int count,
                      double seconds) {
    TPhaseResult result;
    result.Kind = kind;
    result.Clients = count;
    const bool stream = kind == "browser";
    std::vector<TClient> clients(static_cast<size_t>(count) + 1);
    // The reference stream client (last) gives every frame's timestamp by its number.
    for (size_t i = 0; i < clients.size(); ++i) {
        clients[i].Stream = stream || i + 1 == clients.size();
        clients[i].Fd = clients[i].Stream ? ConnectStream(webPort) : ConnectLoopback(videoPort);
    }
    std::mutex lock;
    std::map<uint32_t, double> stamps;
    std::atomic<bool> measuring{false};
    std::atomic<bool> stop{false};
    std::vector<int> fds;
    for (const TClient& client : clients) {
        fds.push_back(client.Fd);
    }
    std::thread reader([&] {
        ReadSockets(
            fds, stop, [] {},
            [&](size_t index, const uint8_t* data, size_t size) {
                TClient& client = clients[index];
                const double now = WallSeconds();
                const bool counting = measuring;
                auto arrived = [&](uint32_t number, double stamp) {
                    if (!counting) {
                        return;
                    }
                    ++client.Frames;
                    client.Arrivals.emplace_back(number, now);
                    if (stamp > 0) {
                        std::lock_guard guard(lock);
                        stamps.emplace(number, stamp);
                    }
                };
                if (client.Stream) {
                    client.Parts.Feed(reinterpret_cast<const char*>(data), size, arrived);
                } else {
                    client.Packets.Feed(data, size, TClock::now(),
                                        [&](uint32_t number, TClock::time_point) { arrived(number, 0); });
                }
            });
    });
    // Everybody connected and receiving before the measurement starts.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const std::string processStat = "/proc/" + std::to_string(server) + "/stat";
    const double cpu0 = CpuSeconds(processStat);
    measuring = true;
    const TClock::time_point start = TClock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    measuring = false;
    const double cpu1 = CpuSeconds(processStat);
    result.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    reader.join();

    const TClient& reference = clients.back();
    result.FramesProduced = reference.Arrivals.empty()
                                ? 0
                                : reference.Arrivals.back().first - reference.Arrivals.front().first + 1;
    result.MinFps = 1e9;
    double sum = 0;
    std::vector<double> ages;
    for (size_t i = 0; i + 1 < clients.size(); ++i) {
        const TClient& client = clients[i];
        const double fps = static_cast<double>(client.Frames) / result.Seconds;
        result.MinFps = std::min(result.MinFps, fps);
        sum += fps;
        result.Malformed = result.Malformed || client.Parts.Malformed || client.Packets.Malformed;
        for (const auto& [number, at] : client.Arrivals) {
            const auto found = stamps.find(number);
            if (found != stamps.end()) {
                ages.push_back((at - found->second) * 1000);
            }
        }
    }
    for (TClient& client : clients) {
        ::close(client.Fd);
    }
    result.AvgFps = sum / count;
    result.ProcessCpu = (cpu1 - cpu0) / result.Seconds;
    result.CpuPerFrameUs =
        (cpu1 - cpu0) * 1e6 / static_cast<double>(std::max<uint64_t>(result.FramesProduced, 1));
    if (!ages.empty()) {
        std::sort(ages.begin(), ages.end());
        result.MedianAgeMs = ages[ages.size() / 2];
        result.WorstAgeMs = ages.back();
    }
    // Let the server see the disconnects before the next phase.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    return result;
}

void Print(const TPhaseResult& r) {
    std::printf("%-8s %5d %6.1f | %7.2f %7.2f %3s | %6.1f%% %9.1f | %8.1f %8.1f\n", r.Kind.c_str(), r.Clients,
                r.Seconds, r.MinFps, r.AvgFps, r.Malformed ? "BAD" : "ok", 100 * r.ProcessCpu,
                r.CpuPerFrameUs, r.MedianAgeMs, r.WorstAgeMs);
    std::fflush(stdout);
}

int WaitForWebPort(const std::string& errFile) {
    for (int i = 0; i < 300; ++i) {
        std::ifstream in(errFile);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t at = text.find(", web port ");
        if (at != std::string::npos) {
            return std::atoi(text.c_str() + at + 11);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seconds") {
            options.Seconds = std::atof(argv[i + 1]);
        } else if (arg == "--program") {
            options.Program = argv[i + 1];
        } else if (arg == "--log-writes") {
            options.LogWrites = std::atoi(argv[i + 1]) != 0;
        } else if (arg == "--counts") {
            options.Counts.clear();
            for (const char* p = argv[i + 1]; *p;) {
                options.Counts.push_back(std::atoi(p));
                while (*p && *p != ',') {
                    ++p;
                }
                p += *p == ',';
            }
        } else {
            std::fprintf(
                stderr,
                "usage: live_browser [--seconds S] [--counts N,N,...] [--program PATH] [--log-writes 0|1]\n");
            return 2;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::sort(options.Counts.begin(), options.Counts.end());
    if (options.Counts.size() < 2) {
        std::fprintf(stderr,
                     "live_browser: give at least two counts (the cost per client is their difference)\n");
        return 2;
    }
    char dirTemplate[] = "/tmp/live-browser-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    const int videoPort = FreeLoopbackPort();
    const int audioPort = FreeLoopbackPort();
    const std::string ini = dir + "/streamwright.ini";
    std::ofstream(ini) << "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=" << videoPort
                       << "\r\n[Audio]\r\nEnabled=0\r\nPort=" << audioPort
                       << "\r\n[Web]\r\nEnabled=1\r\nPort=0\r\nPath=" << dir
                       << "\r\n[Text]\r\nFormat=3\r\n[Log]\r\n20=" << (options.LogWrites ? 1 : 0) << "\r\n";
    const std::string errFile = dir + "/server.err";
    const pid_t server = StartHeadless(options.Program, ini, errFile);
    const int webPort = WaitForWebPort(errFile);
    if (webPort <= 0) {
        std::fprintf(stderr, "the program did not start; see %s\n", errFile.c_str());
        ::kill(server, SIGKILL);
        return 1;
    }
    std::printf(
        "live_browser: %s, 640x480 test pattern at 30 fps, overlay Date & Time, \"Socket write\" entries "
        "on; %u cores; %.0f s per phase\n",
        options.Program.c_str(), std::thread::hardware_concurrency(), options.Seconds);
    std::printf("%-8s %5s %6s | %7s %7s %3s | %7s %9s | %8s %8s\n", "kind", "n", "s", "min fps", "avg fps",
                "", "cpu", "us/frame", "age med", "age max");
    std::map<std::string, std::map<int, TPhaseResult>> results;
    // Alternating kinds at each count, so that a change in the machine's load hits both alike.
    for (int count : options.Counts) {
        for (const char* kind : {"port", "browser"}) {
            const TPhaseResult r = RunPhase(kind, videoPort, webPort, server, count, options.Seconds);
            Print(r);
            results[kind][count] = r;
        }
    }
    ::kill(server, SIGTERM);
    int status = 0;
    ::waitpid(server, &status, 0);

    const int low = options.Counts.front();
    bool ok = true;
    std::printf("\n");
    for (size_t i = 1; i < options.Counts.size(); ++i) {
        const int high = options.Counts[i];
        auto perClient = [&](const std::string& kind) {
            return (results[kind][high].CpuPerFrameUs - results[kind][low].CpuPerFrameUs) / (high - low);
        };
        const double port = perClient("port");
        const double browser = perClient("browser");
        std::printf("one more client per frame sent (%d against %d clients): port %.1f us, browser %.1f us; "
                    "browser / port = %.2f\n",
                    low, high, port, browser, browser / port);
        std::printf(
            "  frame age at %d clients, median / worst: port %.1f / %.1f ms, browser %.1f / %.1f ms\n", high,
            results["port"][high].MedianAgeMs, results["port"][high].WorstAgeMs,
            results["browser"][high].MedianAgeMs, results["browser"][high].WorstAgeMs);
    }
    for (auto& [kind, byCount] : results) {
        for (auto& [count, r] : byCount) {
            ok = ok && !r.Malformed && r.FramesProduced > 0;
        }
    }
    std::printf("%s\n", ok ? "checks passed" : "CHECKS FAILED");
    if (ok) {
        std::system(("rm -rf '" + dir + "'").c_str());
    } else {
        std::printf("server output: %s\n", errFile.c_str());
    }
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
