#include "log/EventLog.h"

#include "config/Configuration.h"
#include "log/LogFormat.h"
#include "platform/profile/AtomicFile.h"

namespace sw {

TEventLog::TEventLog(std::string fileName) : FLogFileName(std::move(fileName)) {}

bool TEventLog::Passes(const TAMLog& entry, const TLogConfiguration& filter) {
    switch (entry.Level) {
    case llInformation:
        if (!filter.Information()) {
            return false;
        }
        break;
    case llWarning:
        if (!filter.Warning()) {
            return false;
        }
        break;
    case llError:
        if (!filter.Error()) {
            return false;
        }
        break;
    default:
        break;
    }
    return filter.MessageEnabled(entry.Message);
}

bool TEventLog::WriteLogEntry(const TAMLog& entry, const TLogConfiguration& filter) {
    if (!Passes(entry, filter)) {
        return false;
    }
    std::string line = FormatLogLine(entry);
    while (FLogLines.size() >= kMaxLines) {
        FLogLines.pop_front();
    }
    FLogLines.push_back(std::move(line));
    FUnsaved = true;
    return true;
}

void TEventLog::LoadLog() {
    FLogLines.clear();
    std::optional<std::string> content = ReadFileContent(FLogFileName);
    if (!content) {
        return;
    }
    std::vector<std::string> lines = SplitFileLines(*content);
    FLogLines.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
}

bool TEventLog::SaveLog() {
    std::string text;
    size_t size = 0;
    for (const std::string& line : FLogLines) {
        size += line.size() + 2;
    }
    text.reserve(size);
    for (const std::string& line : FLogLines) {
        text += line;
        text += "\r\n";
    }
    if (!ReplaceFileContent(FLogFileName, text)) {
        return false;
    }
    FUnsaved = false;
    return true;
}

void TEventLog::ClearLog() {
    FLogLines.clear();
    FUnsaved = true;
    SaveLog();
}

} // namespace sw
