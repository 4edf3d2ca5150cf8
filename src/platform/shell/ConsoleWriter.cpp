#include "platform/shell/ConsoleWriter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

namespace sw {

namespace {

std::atomic<TConsoleWriter*> gConsoleWriter{nullptr};

// A pipe that reports room to write takes at least this much without blocking.
constexpr size_t kWriteBytes = 4096;
constexpr int kPollMs = 100;

} // namespace

TConsoleWriter::TConsoleWriter(int fd) : FFd(fd) {
    FThread = std::thread([this] { Run(); });
}

TConsoleWriter::~TConsoleWriter() {
    Flush(kDrainOnExitMs);
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    FWork.notify_all();
    FThread.join();
}

void TConsoleWriter::WriteLine(const std::string& text) {
    {
        std::lock_guard lock(FLock);
        if (FQueuedBytes + text.size() + 1 > kMaxQueuedBytes) {
            ++FDropped;
            ++FDroppedTotal;
            return;
        }
        FQueue.push_back(text + "\n");
        FQueuedBytes += text.size() + 1;
    }
    FWork.notify_one();
}

bool TConsoleWriter::Flush(int timeoutMs) {
    std::unique_lock lock(FLock);
    return FIdle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return FQueue.empty() && FDropped == 0 && !FWriting; });
}

size_t TConsoleWriter::Dropped() const {
    std::lock_guard lock(FLock);
    return FDroppedTotal;
}

bool TConsoleWriter::WriteSome(const std::string& text, size_t& offset) {
    pollfd item{FFd, POLLOUT, 0};
    int ready = ::poll(&item, 1, kPollMs);
    if (ready <= 0) {
        return ready == 0 || errno == EINTR;
    }
    if (item.revents & (POLLERR | POLLHUP | POLLNVAL)) {
        return false;
    }
    size_t count = std::min(kWriteBytes, text.size() - offset);
    ssize_t n = ::write(FFd, text.data() + offset, count);
    if (n > 0) {
        offset += static_cast<size_t>(n);
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

void TConsoleWriter::Run() {
    ::pthread_setname_np(::pthread_self(), "console");
    std::unique_lock lock(FLock);
    bool broken = false; // the reader is gone: lines are only counted off
    for (;;) {
        FWork.wait(lock, [this] { return !FQueue.empty() || FDropped > 0 || FStop; });
        if (FQueue.empty() && FDropped == 0) {
            return;
        }
        std::string text;
        if (!FQueue.empty()) {
            text = std::move(FQueue.front());
            FQueue.pop_front();
            FQueuedBytes -= text.size();
        } else {
            text = std::to_string(FDropped) + " console lines dropped: standard error was not read\n";
            FDropped = 0;
        }
        FWriting = true;
        lock.unlock();
        size_t offset = 0;
        while (!broken && offset < text.size()) {
            if (!WriteSome(text, offset)) {
                broken = true;
            }
            std::lock_guard stopCheck(FLock);
            if (FStop) {
                break;
            }
        }
        lock.lock();
        FWriting = false;
        if (FQueue.empty() && FDropped == 0) {
            FIdle.notify_all();
        }
        if (FStop) {
            return;
        }
    }
}

void SetConsoleWriter(TConsoleWriter* writer) {
    gConsoleWriter.store(writer);
}

void WriteConsoleLine(const std::string& text) {
    if (TConsoleWriter* writer = gConsoleWriter.load()) {
        writer->WriteLine(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace sw
