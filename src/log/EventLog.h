#pragma once

#include "log/LogTypes.h"

#include <cstddef>
#include <deque>
#include <string>

namespace sw {

class TLogConfiguration;

// The recorded log: at most kMaxLines formatted lines, oldest first, and the file that mirrors them.
// Main thread only. Saving is the owner's decision (see Unsaved), so a burst of entries costs one
// write instead of one write per entry.
class TEventLog {
public:
    static constexpr size_t kMaxLines = 10000;

    explicit TEventLog(std::string fileName);

    const std::string& LogFileName() const { return FLogFileName; }
    const std::deque<std::string>& LogLines() const { return FLogLines; }

    // True when the entry passes the level and message filters.
    static bool Passes(const TAMLog& entry, const TLogConfiguration& filter);
    // Filters and, when the entry passes, appends its line (dropping the oldest beyond the cap).
    // Returns whether it was recorded.
    bool WriteLogEntry(const TAMLog& entry, const TLogConfiguration& filter);

    // Replaces the lines by the file's; a missing or unreadable file leaves the log empty.
    void LoadLog();
    // Writes every line, each followed by CR LF, replacing the file; false when it could not be written.
    bool SaveLog();
    void ClearLog();

    // Lines changed since the last successful save.
    bool Unsaved() const { return FUnsaved; }

private:
    std::string FLogFileName;
    std::deque<std::string> FLogLines;
    bool FUnsaved = false;
};

} // namespace sw
