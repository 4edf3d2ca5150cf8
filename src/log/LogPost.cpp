#include "log/LogPost.h"

#include "log/LogFormat.h"

#include <QCoreApplication>

namespace sw {

bool PostWindowMessage(QObject* target, int message) {
    if (!target) {
        return false;
    }
    QCoreApplication::postEvent(target, new QEvent(static_cast<QEvent::Type>(message)));
    return true;
}

bool PostLogEntry(TMessageWindow window, uint8_t level, uint8_t message, TDateTime time,
                  const std::string& detail, const std::string& values) {
    if (!window) {
        return false;
    }
    auto entry = std::make_unique<TAMLog>();
    entry->Time = time;
    entry->Level = level;
    entry->Message = message;
    entry->Detail = detail;
    entry->Values = values;
    auto event = std::make_unique<TLogEntryEvent>(std::move(entry));
    // postEvent owns the event from here on, and deletes it with its record if the target goes away.
    HandOffToThread(event.get());
    QCoreApplication::postEvent(window, event.release());
    return true;
}

bool Log(TMessageWindow window, uint8_t level, uint8_t message, TDateTime time, const std::string& detail,
         const std::string& values) {
    return PostLogEntry(window, level, message, time, detail, ValuesFromText(values));
}

bool LogHexDump(TMessageWindow window, uint8_t level, uint8_t message, TDateTime time, size_t count,
                const uint8_t* buffer, const std::string& detail) {
    return PostLogEntry(window, level, message, time, detail, HexDumpValues(buffer, count));
}

} // namespace sw
