#pragma once

#include "platform/shell/ThreadHandOff.h"

#include "log/LogTypes.h"
#include "platform/shell/CustomEvents.h"

#include <QEvent>
#include <QObject>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sw {

// Window messages, delivered as posted Qt events whose type is the message number.
enum TWindowMessage : int {
    WM_USER = kEventUserBase,
    WM_INITIALIZEDEVICES = kEventInitializeDevices,
    WM_CONNECTIONSCHANGED = kEventConnectionsChanged,
    WM_LOGCHANGED = kEventLogChanged,
    WM_SYSTEMINFOCHANGED = kEventSystemInfoChanged,
    WM_LOGENTRY = kEventLogEntry,
};

// WM_LOGENTRY: carries one record; whoever holds the event owns the record.
class TLogEntryEvent : public QEvent {
public:
    explicit TLogEntryEvent(std::unique_ptr<TAMLog> entry)
        : QEvent(static_cast<QEvent::Type>(WM_LOGENTRY)), Entry(std::move(entry)) {}
    // On the receiving thread: the record, taken over from the thread that posted it.
    const TAMLog* Record() const {
        TakeOverFromThread(this);
        return Entry.get();
    }
    std::unique_ptr<TAMLog> TakeEntry() {
        TakeOverFromThread(this);
        return std::move(Entry);
    }
    std::unique_ptr<TAMLog> Entry;
};

// Posts a message without parameters; false (nothing posted) when the target is none.
bool PostWindowMessage(QObject* target, int message);

// The engine's message window as producers hold it: safe to copy to any thread and to post to from
// there while the engine lives.
using TMessageWindow = QObject*;

// Posts one entry to the message window; an entry that cannot be posted is dropped silently.
bool PostLogEntry(TMessageWindow window, uint8_t level, uint8_t message, TDateTime time,
                  const std::string& detail, const std::string& values);
// Values is a multi-line text, one value per line.
bool Log(TMessageWindow window, uint8_t level, uint8_t message, TDateTime time, const std::string& detail,
         const std::string& values = {});
// Values are the hex dump rows of the first count bytes of buffer.
bool LogHexDump(TMessageWindow window, uint8_t level, uint8_t message, TDateTime time, size_t count,
                const uint8_t* buffer, const std::string& detail);

} // namespace sw
