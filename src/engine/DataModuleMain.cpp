#include "engine/DataModuleMain.h"

#include "config/Configuration.h"
#include "engine/Clients.h"
#include "log/LogFormat.h"
#include "platform/net/NetUtil.h"
#include "platform/shell/ThreadHandOff.h"
#include "platform/shell/VersionInfo.h"
#include "web/WebServerThread.h"

#include <QCoreApplication>

namespace sw {

namespace {

TDataModuleMain* gDataModuleMain = nullptr;

} // namespace

class TDataModuleMain::TMessageWindowObject : public QObject {
public:
    explicit TMessageWindowObject(TDataModuleMain& owner) : FOwner(owner) {}

protected:
    bool event(QEvent* event) override {
        TakeOverFromThread(event);
        if (event->type() == static_cast<QEvent::Type>(WM_LOGENTRY)) {
            auto* logEvent = static_cast<TLogEntryEvent*>(event);
            std::unique_ptr<TAMLog> entry = logEvent->TakeEntry();
            if (entry) {
                FOwner.WriteLogEntry(*entry);
            }
            return true;
        }
        return QObject::event(event);
    }

private:
    TDataModuleMain& FOwner;
};

TDataModuleMain::TDataModuleMain(std::string logFileName, QObject* parent)
    : QObject(parent), FLog(std::move(logFileName)) {
    gDataModuleMain = this;
    FLogFlush.setSingleShot(true);
    FLogFlush.setInterval(kLogFlushIntervalMs);
    connect(&FLogFlush, &QTimer::timeout, this, [this] { FLog.SaveLogAsync(); });
    ConnectServerEvents();
    DataModuleCreate();
}

TDataModuleMain::~TDataModuleMain() {
    StopServers();
    FlushLog();
    DataModuleDestroy();
    if (gDataModuleMain == this) {
        gDataModuleMain = nullptr;
    }
}

void TDataModuleMain::DataModuleCreate() {
    FMessageWindow = std::make_unique<TMessageWindowObject>(*this);
    BuildSystemInfo();
    LoadLog();
    Log(llInformation, lmStarting, Now(), VersionText());
}

void TDataModuleMain::DataModuleDestroy() {
    SystemInfo.clear();
    // Entries still queued for the window die with it.
    FMessageWindow.reset();
}

void TDataModuleMain::PostToMainWindow(int message) const {
    if (FMainWindow) {
        PostWindowMessage(FMainWindow, message);
    }
}

bool TDataModuleMain::Log(uint8_t level, uint8_t message, TDateTime time, const std::string& detail,
                          const std::string& values) {
    return sw::Log(MessageWindow(), level, message, time, detail, values);
}

bool TDataModuleMain::LogHexDump(uint8_t level, uint8_t message, TDateTime time, size_t count,
                                 const uint8_t* buffer, const std::string& detail) {
    return sw::LogHexDump(MessageWindow(), level, message, time, count, buffer, detail);
}

bool TDataModuleMain::PostLogEntry(uint8_t level, uint8_t message, TDateTime time, const std::string& detail,
                                   const std::string& values) {
    return sw::PostLogEntry(MessageWindow(), level, message, time, detail, values);
}

void TDataModuleMain::WriteLogEntry(const TAMLog& entry) {
    if (!ConfigurationExists() || !FLog.WriteLogEntry(entry, Configuration().Log())) {
        return;
    }
    if (entry.Message == lmStop) {
        SaveLog();
    } else if (FLog.Unsaved() && !FLogFlush.isActive()) {
        FLogFlush.start();
    }
    Q_EMIT LogRecorded(entry);
    PostToMainWindow(WM_LOGCHANGED);
}

void TDataModuleMain::LoadLog() {
    FLog.LoadLog();
    PostToMainWindow(WM_LOGCHANGED);
}

void TDataModuleMain::SaveLog() {
    FLogFlush.stop();
    // A failed write leaves the lines unsaved; the next entry or flush tries again.
    FLog.SaveLog();
}

void TDataModuleMain::ClearLog() {
    FLogFlush.stop();
    FLog.ClearLog();
    PostToMainWindow(WM_LOGCHANGED);
}

void TDataModuleMain::FlushLog() {
    if (FMessageWindow) {
        QCoreApplication::sendPostedEvents(FMessageWindow.get(), WM_LOGENTRY);
    }
    if (FLog.Unsaved()) {
        SaveLog();
    } else {
        FLog.WaitWritten();
    }
}

bool TDataModuleMain::PortInUse(int port, const std::string& address) {
    return sw::PortInUse(port, address);
}

void TDataModuleMain::StartServers() {
    TConfiguration& config = Configuration();
    ServerSocketVideo.Port = config.Video().Port();
    ServerSocketAudio.Port = config.Audio().Port();
    ServerSocketWeb.Port = config.Web().Port();
    // Left alone while never set, so whoever drives the engine directly may pick its own address;
    // once taken from the settings it follows them, back to every interface when cleared.
    const std::string listen = config.Broadcast().EffectiveListenAddress();
    if (!listen.empty() || FListenFromSettings) {
        ServerSocketVideo.BindAddress = listen;
        ServerSocketAudio.BindAddress = listen;
        ServerSocketWeb.BindAddress = listen;
        FListenFromSettings = !listen.empty();
    }
    ServerSocketWeb.OnGetThread = [this](TUniqueFd socket, const std::string& address) {
        return ServerSocketWebGetThread(std::move(socket), address);
    };
    ServerSocketVideo.Open();
    ServerSocketAudio.Open();
    if (config.Web().Enabled()) {
        ServerSocketWeb.Open();
    }
}

void TDataModuleMain::StopServers() {
    ServerSocketVideo.Close();
    ServerSocketAudio.Close();
    ServerSocketWeb.Close();
    LiveStreams.Close();
    if (ClientsExists()) {
        Clients().ResetAll();
    }
    if (OnServersStopped) {
        OnServersStopped();
    }
    PostToMainWindow(WM_CONNECTIONSCHANGED);
}

std::unique_ptr<TServerThread> TDataModuleMain::ServerSocketWebGetThread(TUniqueFd socket,
                                                                         const std::string& remoteAddress) {
    if (WebThreadFactory) {
        return WebThreadFactory(std::move(socket), remoteAddress);
    }
    return CreateWebServerThread(std::move(socket), remoteAddress, MessageWindow(), {},
                                 LiveStreams.HandOver());
}

void TDataModuleMain::ApplicationEventsException(const std::string& message) {
    Log(llError, lmException, Now(), message);
}

TDataModuleMain& DataModuleMain() {
    return *gDataModuleMain;
}

bool DataModuleMainExists() {
    return gDataModuleMain != nullptr;
}

} // namespace sw
