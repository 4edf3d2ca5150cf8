#pragma once

#include "common/TestSupport.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"

#include <QCoreApplication>
#include <QDir>
#include <QWidget>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace sw::test {

// Writes the widget as NAME.png into the folder named by SW_VIEW_PICTURES, for looking at; does
// nothing without it.
inline void SavePicture(QWidget& widget, const char* name) {
    const char* folder = std::getenv("SW_VIEW_PICTURES");
    if (!folder) {
        return;
    }
    QDir().mkpath(QString::fromUtf8(folder));
    widget.grab().save(QString::fromUtf8(folder) + QStringLiteral("/") + QString::fromUtf8(name) +
                       QStringLiteral(".png"));
}

// Shows a view at a size like the main window's page, laid out and painted once.
inline void ShowView(QWidget& widget) {
    widget.resize(744, 480);
    widget.show();
    QCoreApplication::processEvents();
}

// The program's engine on a temporary settings file, without devices and with the web server off;
// a log file can be put in place first, as an earlier run would have left it.
class TViewFixture : public ::testing::Test {
protected:
    void TearDown() override { DestroyEngine(); }

    void CreateEngine(const std::string& logFile = {}) {
        IniFile = Dir.File("streamwright.ini");
        WriteFile(IniFile, "[Video]\r\nPort=0\r\nDevice=-1\r\nEnabled=0\r\n[Audio]\r\nPort=0\r\nDevice=-1\r\n"
                           "Enabled=0\r\n[Web]\r\nEnabled=0\r\n[Log]\r\n33=1\r\n20=1\r\n");
        if (!logFile.empty()) {
            WriteFile(Dir.File("streamwright.log"), logFile);
        }
        Program = std::make_unique<TProgramLifecycle>(IniFile);
        Program->CreateEngine();
        Engine = &Program->Engine();
        Controller = &Program->Controller();
    }

    // Views are destroyed by the test before this runs, as the window goes before the engine.
    void DestroyEngine() {
        Engine = nullptr;
        Controller = nullptr;
        Program.reset();
        QCoreApplication::sendPostedEvents();
    }

    static bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 10000) {
        return ProcessEventsUntil(pred, timeoutMs);
    }

    TTempDir Dir;
    std::string IniFile;
    std::unique_ptr<TProgramLifecycle> Program;
    TDataModuleMain* Engine = nullptr;
    TBroadcastController* Controller = nullptr;
};

} // namespace sw::test
