#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace sw {

// Writes console lines to a descriptor (standard error) on a thread of its own, so a terminal or a
// pipe whose reader stops reading never blocks the caller: lines wait in a bounded queue, and when it
// is full they are dropped and counted; the count is written once the writer has caught up. The
// writer waits in poll() and writes at most one pipe buffer at a time, so it never blocks either and
// its destruction (which gives pending lines a short while to go) always ends.
class TConsoleWriter {
public:
    static constexpr size_t kMaxQueuedBytes = 1024 * 1024;
    static constexpr int kDrainOnExitMs = 2000;

    explicit TConsoleWriter(int fd = 2);
    ~TConsoleWriter();
    TConsoleWriter(const TConsoleWriter&) = delete;
    TConsoleWriter& operator=(const TConsoleWriter&) = delete;

    // Queues the text and a line end; never waits for the descriptor.
    void WriteLine(const std::string& text);
    // Waits up to timeoutMs until every queued line was written; false when some are still waiting.
    bool Flush(int timeoutMs);
    size_t Dropped() const;

private:
    void Run();
    bool WriteSome(const std::string& text, size_t& offset);

    const int FFd;
    mutable std::mutex FLock;
    std::condition_variable FWork;
    std::condition_variable FIdle;
    std::deque<std::string> FQueue;
    size_t FQueuedBytes = 0;
    size_t FDropped = 0; // since the last count was written
    size_t FDroppedTotal = 0;
    bool FWriting = false;
    bool FStop = false;
    std::thread FThread;
};

// The process's console writer while one is installed (the program installs one for its run);
// without one, lines go straight to standard error.
void SetConsoleWriter(TConsoleWriter* writer);
// Installs a writer for the life of the scope.
class TConsoleWriterScope {
public:
    explicit TConsoleWriterScope(TConsoleWriter& writer) { SetConsoleWriter(&writer); }
    ~TConsoleWriterScope() { SetConsoleWriter(nullptr); }
    TConsoleWriterScope(const TConsoleWriterScope&) = delete;
    TConsoleWriterScope& operator=(const TConsoleWriterScope&) = delete;
};
// One line on standard error, through the installed writer when there is one.
void WriteConsoleLine(const std::string& text);

} // namespace sw
