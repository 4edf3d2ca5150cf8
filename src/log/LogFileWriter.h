#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sw {

// Writes the log file on a thread of its own, so a full log (10000 lines, megabytes when hex dumps
// fill it) never stalls the main thread. Only the newest submitted snapshot matters: one that is
// replaced before it was written is skipped.
class TLogFileWriter {
public:
    using TSnapshot = std::vector<std::shared_ptr<const std::string>>;

    explicit TLogFileWriter(std::string fileName);
    ~TLogFileWriter();
    TLogFileWriter(const TLogFileWriter&) = delete;
    TLogFileWriter& operator=(const TLogFileWriter&) = delete;

    void Submit(TSnapshot lines);
    // Waits until every submitted snapshot is on disk or was replaced; false when the last write failed.
    bool WaitIdle();
    // The last write failed, so the file is behind the lines.
    bool Failed() const;

private:
    void Run();

    const std::string FFileName;
    mutable std::mutex FLock;
    std::condition_variable FWork;
    std::condition_variable FIdle;
    TSnapshot FPending;
    bool FHasPending = false;
    bool FWriting = false;
    bool FFailed = false;
    bool FStop = false;
    std::thread FThread;
};

} // namespace sw
