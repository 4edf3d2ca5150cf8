#include "log/LogFileWriter.h"

#include "platform/profile/AtomicFile.h"
#include "platform/shell/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pthread.h>
#include <string_view>
#include <sys/uio.h>
#include <unistd.h>

namespace sw {

namespace {

bool WriteLines(int fd, const std::vector<TLogFileWriter::TLine>& lines) {
    static const char kLineEnd[] = "\r\n";
    constexpr size_t kLinesPerCall = (IOV_MAX < 1024 ? IOV_MAX : 1024) / 2;
    for (size_t first = 0; first < lines.size(); first += kLinesPerCall) {
        size_t count = std::min(kLinesPerCall, lines.size() - first);
        std::vector<iovec> pieces;
        pieces.reserve(count * 2);
        size_t total = 0;
        for (size_t i = first; i < first + count; ++i) {
            pieces.push_back({const_cast<char*>(lines[i]->data()), lines[i]->size()});
            pieces.push_back({const_cast<char*>(kLineEnd), 2});
            total += lines[i]->size() + 2;
        }
        ssize_t n;
        do {
            n = ::writev(fd, pieces.data(), static_cast<int>(pieces.size()));
        } while (n < 0 && errno == EINTR);
        // A short write to a regular file means the disk is full; the rewrite repairs the tail.
        if (n < 0 || static_cast<size_t>(n) != total) {
            return false;
        }
    }
    return true;
}

} // namespace

TLogFileWriter::TLogFileWriter(std::string fileName) : FFileName(std::move(fileName)) {}

TLogFileWriter::~TLogFileWriter() {
    WaitIdle();
    {
        std::lock_guard lock(FLock);
        FStop = true;
    }
    FWork.notify_all();
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TLogFileWriter::StartLocked() {
    if (!FThread.joinable()) {
        FThread = std::thread([this] { Run(); });
    }
}

void TLogFileWriter::Submit(TSnapshot lines) {
    {
        std::lock_guard lock(FLock);
        FPending = std::move(lines);
        FHasPending = true;
        FAppends.clear();
        StartLocked();
    }
    FWork.notify_one();
}

void TLogFileWriter::Append(TLine line) {
    {
        std::lock_guard lock(FLock);
        FAppends.push_back(std::move(line));
        StartLocked();
    }
    FWork.notify_one();
}

bool TLogFileWriter::WaitIdle() {
    std::unique_lock lock(FLock);
    FIdle.wait(lock, [this] { return !FHasPending && FAppends.empty() && !FWriting; });
    return !FFailed;
}

bool TLogFileWriter::Failed() const {
    std::lock_guard lock(FLock);
    return FFailed;
}

size_t TLogFileWriter::Rewrites() const {
    std::lock_guard lock(FLock);
    return FRewrites;
}

bool TLogFileWriter::AppendLines(const std::vector<TLine>& lines) {
    TUniqueFd fd(::open(FFileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
    return fd.Get() >= 0 && WriteLines(fd.Get(), lines) && fd.Reset();
}

void TLogFileWriter::Run() {
    ::pthread_setname_np(::pthread_self(), "log-writer");
    std::unique_lock lock(FLock);
    for (;;) {
        FWork.wait(lock, [this] { return FHasPending || !FAppends.empty() || FStop; });
        if (!FHasPending && FAppends.empty()) {
            return;
        }
        const bool rewrite = FHasPending;
        TSnapshot lines = std::move(FPending);
        FPending.clear();
        FHasPending = false;
        std::vector<TLine> appends = std::move(FAppends);
        FAppends.clear();
        bool failed = FFailed;
        FWriting = true;
        lock.unlock();

        if (rewrite) {
            std::vector<std::string_view> pieces;
            pieces.reserve(lines.size() * 2);
            for (const TLine& line : lines) {
                pieces.emplace_back(*line);
                pieces.emplace_back("\r\n", 2);
            }
            failed = !ReplaceFileContent(FFileName, pieces);
            lines.clear();
        }
        if (!failed && !appends.empty()) {
            failed = !AppendLines(appends);
        }
        appends.clear();

        lock.lock();
        FWriting = false;
        FFailed = failed;
        FRewrites += rewrite ? 1 : 0;
        if (!FHasPending && FAppends.empty()) {
            FIdle.notify_all();
        }
    }
}

} // namespace sw
