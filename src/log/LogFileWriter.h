#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sw {

// Writes the log file on a thread of its own, so the main thread never waits for the disk. Work is
// done in the order it was handed over: a whole-file rewrite (atomic, through a temporary file) or
// lines appended at the end. A rewrite makes every earlier piece of work pointless, so it replaces it.
// After a failed write the file is behind: appends are skipped until a rewrite succeeds.
class TLogFileWriter {
public:
    using TLine = std::shared_ptr<const std::string>;
    using TSnapshot = std::vector<TLine>;

    explicit TLogFileWriter(std::string fileName);
    ~TLogFileWriter();
    TLogFileWriter(const TLogFileWriter&) = delete;
    TLogFileWriter& operator=(const TLogFileWriter&) = delete;

    // Replaces the file's content by these lines.
    void Submit(TSnapshot lines);
    // Adds one line (and its CR LF) at the end of the file, in one write.
    void Append(TLine line);
    // Waits until everything handed over is on disk or was replaced; false when the last write failed.
    bool WaitIdle();
    // The last write failed, so the file is behind the lines.
    bool Failed() const;
    // How many whole-file rewrites were made.
    size_t Rewrites() const;

private:
    void Run();
    void StartLocked();
    bool AppendLines(const std::vector<TLine>& lines);

    const std::string FFileName;
    mutable std::mutex FLock;
    std::condition_variable FWork;
    std::condition_variable FIdle;
    TSnapshot FPending;
    bool FHasPending = false;
    std::vector<TLine> FAppends;
    bool FWriting = false;
    bool FFailed = false;
    bool FStop = false;
    size_t FRewrites = 0;
    std::thread FThread;
};

} // namespace sw
