#include "log/EventLog.h"

#include "config/Configuration.h"
#include "log/LogFormat.h"
#include "platform/profile/AtomicFile.h"

#include <unistd.h>

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
        FHeadDropped = true;
    }
    FLogLines.FLines.push_back(line);
    if (!FFileStale) {
        FWriter.Append(std::move(line));
    }
    return true;
}

void TEventLog::LoadLog() {
    FLogLines.FLines.clear();
    FHeadDropped = false;
    std::optional<std::string> content = ReadFileContent(FLogFileName);
    if (!content) {
        FFileStale = ::access(FLogFileName.c_str(), F_OK) == 0;
        return;
    }
    // Lines appended to a last line without its line end would join it.
    FFileStale = !content->empty() && !content->ends_with("\r\n");
    for (std::string& line : SplitFileLines(*content)) {
        FLogLines.FLines.push_back(std::make_shared<const std::string>(std::move(line)));
    }
}

TLogFileWriter::TSnapshot TEventLog::Snapshot() const {
    return TLogFileWriter::TSnapshot(FLogLines.FLines.begin(), FLogLines.FLines.end());
}

bool TEventLog::SaveLog() {
    SaveLogAsync();
    return FWriter.WaitIdle();
}

void TEventLog::SaveLogAsync() {
    FWriter.Submit(Snapshot());
    FHeadDropped = false;
    FFileStale = false;
}

void TEventLog::ClearLog() {
    FLogLines.FLines.clear();
    SaveLog();
}

} // namespace sw
