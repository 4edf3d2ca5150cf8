#pragma once

// Viewers for the live load drivers: raw loopback sockets on the video port, parsed packet by packet
// (0x01, frame number, 0x02, length, JPEG), with the arrival time of every complete frame.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace sw::bench {

using TClock = std::chrono::steady_clock;

inline double MsBetween(TClock::time_point from, TClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// utime + stime of a process or one of its threads, in seconds.
inline double CpuSeconds(const std::string& statPath) {
    std::ifstream in(statPath);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return NAN;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    // Fields 3 to 13 precede utime (14) and stime (15).
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A blocking socket connected to 127.0.0.1:port, -1 on failure; receiveBuffer > 0 sets SO_RCVBUF first.
inline int ConnectLoopback(int port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

// A port that was free a moment ago.
inline int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

// Reads every socket of fds on the calling thread with one epoll set until stop is set: beforeWait()
// before each wait, then onRead(index, bytes, size) for each read that returned data.
template <typename BeforeWait, typename OnRead>
void ReadSockets(const std::vector<int>& fds, const std::atomic<bool>& stop, BeforeWait&& beforeWait,
                 OnRead&& onRead) {
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    for (size_t i = 0; i < fds.size(); ++i) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = i;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fds[i], &event);
    }
    std::vector<uint8_t> buffer(256 * 1024);
    epoll_event events[64];
    while (!stop) {
        beforeWait();
        const int n = ::epoll_wait(epoll, events, 64, 50);
        for (int e = 0; e < n; ++e) {
            const size_t index = events[e].data.u64;
            const ssize_t got = ::recv(fds[index], buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (got > 0) {
                onRead(index, buffer.data(), static_cast<size_t>(got));
            }
        }
    }
    ::close(epoll);
}

// Starts the program headless with the settings file, standard output and error into errFile.
inline pid_t StartHeadless(const std::string& program, const std::string& ini, const std::string& errFile) {
    const pid_t child = ::fork();
    if (child == 0) {
        // Every log entry goes to standard error, as when the program runs headless with its output kept.
        const int out = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execl(program.c_str(), program.c_str(), "--headless", "--start", "--ini", ini.c_str(),
                static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    return child;
}

// Parses one viewer's byte stream and keeps its frame statistics.
class TPacketReader {
public:
    // Frames since the last ResetStats, gaps in their numbers, the longest time between two frames.
    uint64_t Frames = 0;
    uint64_t Gaps = 0;
    double WorstIntervalMs = 0;
    uint32_t LastNumber = 0;
    bool Malformed = false;
    TClock::time_point LastFrameAt{};

    void ResetStats() {
        Frames = 0;
        Gaps = 0;
        WorstIntervalMs = 0;
    }

    // Feeds received bytes; onFrame(number, time) for every complete packet.
    template <typename OnFrame>
    void Feed(const uint8_t* data, size_t size, TClock::time_point now, OnFrame&& onFrame) {
        while (size > 0 && !Malformed) {
            if (FHave < 10) {
                const size_t n = std::min(size, 10 - FHave);
                std::memcpy(FHeader + FHave, data, n);
                FHave += n;
                data += n;
                size -= n;
                if (FHave == 10) {
                    if (FHeader[0] != 0x01 || FHeader[5] != 0x02) {
                        Malformed = true;
                        return;
                    }
                    FRemaining = Be32(FHeader + 6);
                }
                if (FHave < 10 || FRemaining > 0) {
                    continue;
                }
            } else {
                const size_t n = std::min<size_t>(size, FRemaining);
                FRemaining -= static_cast<uint32_t>(n);
                data += n;
                size -= n;
                if (FRemaining > 0) {
                    continue;
                }
            }
            const uint32_t number = Be32(FHeader + 1);
            if (FAnyFrame) {
                if (number != LastNumber + 1) {
                    ++Gaps;
                }
                WorstIntervalMs = std::max(WorstIntervalMs, MsBetween(LastFrameAt, now));
            }
            FAnyFrame = true;
            ++Frames;
            LastNumber = number;
            LastFrameAt = now;
            FHave = 0;
            onFrame(number, now);
        }
    }

private:
    static uint32_t Be32(const uint8_t* p) {
        return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
               static_cast<uint32_t>(p[2]) << 8 | p[3];
    }
    uint8_t FHeader[10] = {};
    size_t FHave = 0;
    uint32_t FRemaining = 0;
    bool FAnyFrame = false;
};

} // namespace sw::bench
