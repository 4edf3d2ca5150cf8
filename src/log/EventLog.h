#pragma once

#include "log/LogTypes.h"

#include "log/LogFileWriter.h"

#include <cstddef>
#include <deque>
#include <iterator>
#include <memory>
#include <string>

namespace sw {

class TLogConfiguration;

// The recorded lines, oldest first. Each line is shared with the file writer's snapshots, so saving
// never copies the text.
class TLogLines {
public:
    using TStore = std::deque<std::shared_ptr<const std::string>>;

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::string;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::string*;
        using reference = const std::string&;

        const_iterator() = default;
        explicit const_iterator(TStore::const_iterator it) : FIt(it) {}
        reference operator*() const { return **FIt; }
        pointer operator->() const { return FIt->get(); }
        const_iterator& operator++() {
            ++FIt;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(FIt++); }
        difference_type operator-(const const_iterator& other) const { return FIt - other.FIt; }
        bool operator==(const const_iterator& other) const = default;

    private:
        TStore::const_iterator FIt;
    };

    size_t size() const { return FLines.size(); }
    bool empty() const { return FLines.empty(); }
    const std::string& operator[](size_t index) const { return *FLines[index]; }
    const std::string& front() const { return *FLines.front(); }
    const std::string& back() const { return *FLines.back(); }
    const_iterator begin() const { return const_iterator(FLines.begin()); }
    const_iterator end() const { return const_iterator(FLines.end()); }
    bool operator==(const TLogLines& other) const;

private:
    friend class TEventLog;
    TStore FLines;
};

// The recorded log: at most kMaxLines formatted lines, oldest first, and the file that mirrors them.
// Main thread only. Each recorded line is appended to the file by the writer thread, so the file is
// current to the last entry at the cost of one small write per entry. The file is rewritten whole
// only when the owner asks (SaveLog, SaveLogAsync), which it does when Unsaved says the file holds
// more or other lines than LogLines: the cap dropped lines from the head, a write failed, or the
// loaded file could not take appends.
class TEventLog {
public:
    static constexpr size_t kMaxLines = 10000;

    explicit TEventLog(std::string fileName);

    const std::string& LogFileName() const { return FLogFileName; }
    const TLogLines& LogLines() const { return FLogLines; }

    // True when the entry passes the level and message filters.
    static bool Passes(const TAMLog& entry, const TLogConfiguration& filter);
    // Filters and, when the entry passes, appends its line (dropping the oldest beyond the cap) and
    // hands it to the file. Returns whether it was recorded.
    bool WriteLogEntry(const TAMLog& entry, const TLogConfiguration& filter);

    // Replaces the lines by the file's; a missing or unreadable file leaves the log empty.
    void LoadLog();
    // Writes every line, each followed by CR LF, replacing the file, and waits for it; false when the
    // file could not be written.
    bool SaveLog();
    // Hands the lines to the writer thread for a rewrite and returns at once.
    void SaveLogAsync();
    void ClearLog();
    // Waits until every line handed over is on disk; false when a write failed.
    bool WaitWritten() { return FWriter.WaitIdle(); }

    // The file needs a rewrite to match the lines.
    bool Unsaved() const { return FHeadDropped || FFileStale || FWriter.Failed(); }
    size_t Rewrites() const { return FWriter.Rewrites(); }

private:
    TLogFileWriter::TSnapshot Snapshot() const;

    std::string FLogFileName;
    TLogLines FLogLines;
    bool FHeadDropped = false; // the file still holds lines the cap dropped
    bool FFileStale = false;   // appending would not give the lines (no final line end, unreadable)
    TLogFileWriter FWriter;
};

} // namespace sw
