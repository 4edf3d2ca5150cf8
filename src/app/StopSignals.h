#pragma once

#include "platform/shell/UniqueFd.h"

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace sw {

// SIGINT and SIGTERM delivered as the Received signal on the thread that made this object, through a
// pipe that the handler writes to and a socket notifier reads, so the program ends through its event
// loop (broadcast stopped, log written) rather than at the default action. One at a time; the default
// actions come back when it goes.
class TStopSignals : public QObject {
    Q_OBJECT
public:
    TStopSignals();
    ~TStopSignals() override;
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // False when the pipe could not be made: the signals keep their default actions.
    bool Installed() const { return FNotifier != nullptr; }

Q_SIGNALS:
    void Received();

private:
    TUniqueFd FRead;
    TUniqueFd FWrite;
    std::unique_ptr<QSocketNotifier> FNotifier;
};

} // namespace sw
