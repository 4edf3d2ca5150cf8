#include "log/LogFileWriter.h"

#include "platform/profile/AtomicFile.h"

#include <pthread.h>
#include <string_view>

namespace sw {

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

void TLogFileWriter::Submit(TSnapshot lines) {
    {
        std::lock_guard lock(FLock);
        FPending = std::move(lines);
        FHasPending = true;
        if (!FThread.joinable()) {
            FThread = std::thread([this] { Run(); });
        }
    }
    FWork.notify_one();
}

bool TLogFileWriter::WaitIdle() {
    std::unique_lock lock(FLock);
    FIdle.wait(lock, [this] { return !FHasPending && !FWriting; });
    return !FFailed;
}

bool TLogFileWriter::Failed() const {
    std::lock_guard lock(FLock);
    return FFailed;
}

void TLogFileWriter::Run() {
    ::pthread_setname_np(::pthread_self(), "log-writer");
    std::unique_lock lock(FLock);
    for (;;) {
        FWork.wait(lock, [this] { return FHasPending || FStop; });
        if (!FHasPending) {
            return;
        }
        TSnapshot lines = std::move(FPending);
        FPending.clear();
        FHasPending = false;
        FWriting = true;
        lock.unlock();

        std::vector<std::string_view> pieces;
        pieces.reserve(lines.size() * 2);
        for (const std::shared_ptr<const std::string>& line : lines) {
            pieces.emplace_back(*line);
            pieces.emplace_back("\r\n", 2);
        }
        bool ok = ReplaceFileContent(FFileName, pieces);
        lines.clear();

        lock.lock();
        FWriting = false;
        FFailed = !ok;
        if (!FHasPending) {
            FIdle.notify_all();
        }
    }
}

} // namespace sw
