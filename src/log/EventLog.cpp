#include "log/EventLog.h"

#include "config/Configuration.h"
#include "log/LogFormat.h"
#include "platform/profile/AtomicFile.h"

namespace sw {

static_assert(TLogConfiguration::kMessageSwitches == kOriginalLogMessageCount);
static_assert(TLogConfiguration::kAllMessageSwitches == kLogMessageCount);

bool TLogLines::operator==(const TLogLines& other) const {
    if (size() != other.size()) {
        return false;
    }
    for (size_t i = 0; i < size(); ++i) {
        if ((*this)[i] != other[i]) {
            return false;
        }
    }
    return true;
}

TEventLog::TEventLog(std::string fileName) : FLogFileName(fileName), FWriter(std::move(fileName)) {}

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
    auto line = std::make_shared<const std::string>(FormatLogLine(entry));
    while (FLogLines.FLines.size() >= kMaxLines) {
        FLogLines.FLines.pop_front();
    }
    FLogLines.FLines.push_back(std::move(line));
    FUnsaved = true;
    return true;
}

void TEventLog::LoadLog() {
    FLogLines.FLines.clear();
    std::optional<std::string> content = ReadFileContent(FLogFileName);
    if (!content) {
        return;
    }
    for (std::string& line : SplitFileLines(*content)) {
        FLogLines.FLines.push_back(std::make_shared<const std::string>(std::move(line)));
    }
}

TLogFileWriter::TSnapshot TEventLog::Snapshot() const {
    return TLogFileWriter::TSnapshot(FLogLines.FLines.begin(), FLogLines.FLines.end());
}

bool TEventLog::SaveLog() {
    FWriter.Submit(Snapshot());
    FUnsaved = false;
    return FWriter.WaitIdle();
}

void TEventLog::SaveLogAsync() {
    FWriter.Submit(Snapshot());
    FUnsaved = false;
}

void TEventLog::ClearLog() {
    FLogLines.FLines.clear();
    SaveLog();
}

} // namespace sw
