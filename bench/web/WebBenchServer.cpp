// The web server as the engine runs it, for load drivers: connection threads post every request's log
// entry to a message window on the main thread, which formats it into the in-memory log the way the
// engine records an entry (the log file write left out). Prints the port, serves until standard input
// closes, then prints how many entries were recorded.
#include "config/Configuration.h"
#include "log/LogFormat.h"
#include "log/LogPost.h"
#include "platform/net/ThreadedServer.h"
#include "web/WebServerThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <cstdio>
#include <deque>
#include <exception>
#include <thread>
#include <unistd.h>

namespace {

constexpr size_t kMaxLogLines = 10000;

class TLogWindow : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() != static_cast<QEvent::Type>(sw::WM_LOGENTRY)) {
            return QObject::event(event);
        }
        auto* entry = static_cast<sw::TLogEntryEvent*>(event);
        while (Lines.size() >= kMaxLogLines) {
            Lines.pop_front();
        }
        Lines.push_back(sw::FormatLogLine(*entry->Entry));
        ++Recorded;
        return true;
    }
    std::deque<std::string> Lines;
    uint64_t Recorded = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: web_bench_server HOME PORT INI\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    sw::TConfiguration configuration(argv[3]);
    configuration.Reload();
    configuration.Web().SetPath(argv[1]);
    sw::SetConfiguration(&configuration);

    TLogWindow window;
    sw::TMessageWindow messageWindow = &window;
    sw::TThreadedServer server;
    server.Port = std::atoi(argv[2]);
    server.BindAddress = "127.0.0.1";
    server.OnGetThread = [messageWindow](sw::TUniqueFd socket, const std::string& address) {
        return sw::CreateWebServerThread(std::move(socket), address, messageWindow);
    };
    try {
        server.Open();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("%d\n", server.LocalPort());
    std::fflush(stdout);

    std::thread stdinWatch([&app] {
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    server.Close();
    QCoreApplication::sendPostedEvents(&window);
    stdinWatch.join();
    std::printf("recorded %llu\n", static_cast<unsigned long long>(window.Recorded));
    sw::SetConfiguration(nullptr);
    return 0;
}
