#include "common/ProgramRunner.h"
#include "common/TestSupport.h"
#include "log/CommaText.h"
#include "log/LogTypes.h"
#include "ui/FormMain.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace sw {
namespace {

// A private X server; nothing when none could be started.
class TXvfb {
public:
    static std::unique_ptr<TXvfb> Start(std::string& why) {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (program.isEmpty()) {
            why = "Xvfb is not installed (scripts/bootstrap installs the package xvfb)";
            return nullptr;
        }
        for (int display = 90 + static_cast<int>(::getpid() % 50); display < 400; display += 7) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(display))) {
                continue;
            }
            auto server = std::unique_ptr<TXvfb>(new TXvfb(display));
            server->FProcess.setProgram(program);
            server->FProcess.setArguments({QStringLiteral(":%1").arg(display), QStringLiteral("-screen"),
                                           QStringLiteral("0"), QStringLiteral("1280x800x24"),
                                           QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            server->FProcess.setProcessChannelMode(QProcess::MergedChannels);
            server->FProcess.start();
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
            const QDeadlineTimer deadline(20000);
            while (!deadline.hasExpired() && server->FProcess.state() != QProcess::NotRunning &&
                   !QFileInfo::exists(socket)) {
                server->FProcess.waitForFinished(100);
            }
            if (server->FProcess.state() == QProcess::Running && QFileInfo::exists(socket)) {
                return server;
            }
            why = "Xvfb did not start: " + server->FProcess.readAll().toStdString();
        }
        return nullptr;
    }
    ~TXvfb() {
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    QString Display() const { return QStringLiteral(":%1").arg(FDisplay); }

private:
    explicit TXvfb(int display) : FDisplay(display) {}
    int FDisplay;
    QProcess FProcess;
};

// The pixels of an X window dump (the format xwd writes: a big-endian header, then the colour map,
// then padded rows of 3- or 4-byte pixels in the server's byte order).
QImage ReadXwd(const QByteArray& data) {
    auto card = [&](int index) -> uint32_t {
        const auto* p = reinterpret_cast<const uint8_t*>(data.constData()) + 4 * index;
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    };
    if (data.size() < 100) {
        return {};
    }
    const uint32_t headerSize = card(0), format = card(2), width = card(4), height = card(5);
    const uint32_t byteOrder = card(7), bitsPerPixel = card(11), bytesPerLine = card(12), colors = card(19);
    const uint32_t pixelBytes = bitsPerPixel / 8;
    const qint64 pixelStart = qint64(headerSize) + qint64(colors) * 12;
    if (format != 2 || (pixelBytes != 3 && pixelBytes != 4) || bytesPerLine < pixelBytes * width ||
        data.size() < pixelStart + qint64(bytesPerLine) * height) {
        return {};
    }
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (uint32_t y = 0; y < height; ++y) {
        const auto* row =
            reinterpret_cast<const uint8_t*>(data.constData()) + pixelStart + qint64(y) * bytesPerLine;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + pixelBytes * x;
            uint32_t value = 0;
            for (uint32_t i = 0; i < pixelBytes; ++i) {
                value |= uint32_t(p[i]) << (8 * (byteOrder == 0 ? i : pixelBytes - 1 - i));
            }
            out[x] = qRgb((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
        }
    }
    return image;
}

class WindowEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        Xvfb = TXvfb::Start(why);
        if (!Xvfb) {
            GTEST_SKIP() << "no X server for the window test: " << why;
        }
        for (const char* tool : {"xdotool", "xwd"}) {
            ASSERT_FALSE(QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                << tool << " is missing; scripts/bootstrap installs it";
        }
        Environment = QProcessEnvironment::systemEnvironment();
        Environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        Environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        Environment.insert(QStringLiteral("DISPLAY"), Xvfb->Display());
    }

    // Runs a tool on the X server and returns its standard output; exit code in code.
    QByteArray X(const QString& program, const QStringList& arguments, int* code = nullptr,
                 int timeoutMs = 20000) {
        QProcess process;
        process.setProcessEnvironment(Environment);
        process.start(program, arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(2000);
            if (code) {
                *code = -1;
            }
            return {};
        }
        if (code) {
            *code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        }
        return process.readAllStandardOutput();
    }
    QByteArray Xdo(const QStringList& arguments, int* code = nullptr) {
        return X(QStringLiteral("xdotool"), arguments, code);
    }
    // The first window whose title matches, waiting for it up to timeoutMs.
    QString FindWindow(const QString& pattern, int timeoutMs = 30000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            const QList<QByteArray> ids = Xdo({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                               QStringLiteral("--name"), pattern})
                                              .split('\n');
            if (!ids.isEmpty() && !ids[0].trimmed().isEmpty()) {
                return QString::fromLatin1(ids[0].trimmed());
            }
            QThread::msleep(200);
        }
        return {};
    }
    QImage Screen() {
        return ReadXwd(X(QStringLiteral("xwd"), {QStringLiteral("-root"), QStringLiteral("-silent")}));
    }
    // Window position and size from xdotool's shell output.
    QRect Geometry(const QString& window) {
        const QByteArray text = Xdo({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
        int values[4] = {-1, -1, -1, -1};
        const char* keys[] = {"X=", "Y=", "WIDTH=", "HEIGHT="};
        for (const QByteArray& line : text.split('\n')) {
            for (int i = 0; i < 4; ++i) {
                if (line.startsWith(keys[i])) {
                    values[i] = line.mid(int(std::strlen(keys[i]))).toInt();
                }
            }
        }
        return {values[0], values[1], values[2], values[3]};
    }
    void ClickLeftBar(const QRect& window, int row) {
        const int x = window.x() + TFormMain::kLeftBarWidth / 2;
        const int y = window.y() + TFormMain::LeftBarButtonTop(row) + TFormMain::kButtonHeight / 2;
        Xdo({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(x), QString::number(y),
             QStringLiteral("click"), QStringLiteral("1")});
    }
    void Keys(const QString& window, const QString& keys) {
        Xdo({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        Xdo({QStringLiteral("key"), keys});
    }
    // The message numbers of the log file's lines.
    std::vector<int> LoggedMessages() {
        std::vector<int> messages;
        for (const QByteArray& line :
             QByteArray::fromStdString(test::ReadFile(Dir.File("streamwright.log"))).split('\n')) {
            const std::vector<std::string> fields = FromCommaText(line.trimmed().toStdString());
            if (fields.size() >= 4) {
                messages.push_back(std::atoi(fields[3].c_str()));
            }
        }
        return messages;
    }
    bool WaitForLogged(int message, int count = 1) {
        return test::ProcessEventsUntil(
            [&] {
                const std::vector<int> messages = LoggedMessages();
                return std::count(messages.begin(), messages.end(), message) >= count;
            },
            20000);
    }
    bool WaitForPixel(const QPoint& at, const std::function<bool(QRgb)>& wanted) {
        return test::ProcessEventsUntil([&] {
            const QImage screen = Screen();
            return !screen.isNull() && wanted(screen.pixel(at));
        });
    }
    // What a failed pixel test saw.
    static std::string Describe(const QImage& screen, const QPoint& at) {
        if (screen.isNull()) {
            return "no screen dump";
        }
        return "pixel " + QString::number(screen.pixel(at), 16).toStdString() + " at " +
               std::to_string(at.x()) + "," + std::to_string(at.y()) + " of " +
               std::to_string(screen.width()) + "x" + std::to_string(screen.height());
    }
    void SavePicture(const QImage& image, const char* name) {
        if (const char* folder = std::getenv("SW_PICTURES_DIR")) {
            QDir().mkpath(QString::fromLocal8Bit(folder));
            image.save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name));
        }
    }

    test::TTempDir Dir;
    std::unique_ptr<TXvfb> Xvfb;
    QProcessEnvironment Environment;
};

TEST_F(WindowEndToEndTest, TheOperatorBroadcastsToTwoViewersFromTheWindowAndClosesIt) {
    const int videoPort = test::FreePort();
    const int audioPort = test::FreePort();
    // A background colour no other pixel of the window has tells which view is shown.
    test::WriteFile(Dir.File("streamwright.ini"),
                    "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=" + std::to_string(videoPort) +
                        "\r\n[Audio]\r\nEnabled=1\r\nDevice=Test Tone\r\nPort=" + std::to_string(audioPort) +
                        "\r\n[Web]\r\nEnabled=0\r\n[Application]\r\nBackgroundColor=65280\r\n");
    QProcess program;
    program.setProcessEnvironment(Environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QString::fromStdString(test::BuiltProgram("src/app/streamwright")),
                  {QStringLiteral("--ini"), QString::fromStdString(Dir.File("streamwright.ini"))});
    ASSERT_TRUE(program.waitForStarted(10000));
    const std::unique_ptr<QProcess, void (*)(QProcess*)> stopper(&program, [](QProcess* running) {
        if (running->state() != QProcess::NotRunning) {
            running->kill();
            running->waitForFinished(5000);
        }
    });

    const QString window = FindWindow(QStringLiteral("^Northlight Streamwright 1\\.0$"));
    ASSERT_FALSE(window.isEmpty()) << "the main window did not appear";
    const QRect geometry = Geometry(window);
    EXPECT_EQ(geometry.size(), QSize(881, 594));
    // The screen is 1280 x 800: the window is centred on it.
    EXPECT_EQ(geometry.x(), (1280 - 881) / 2);
    EXPECT_EQ(geometry.y(), (800 - 594) / 2);

    // A point of the video panel beside the logo and the preview.
    const QPoint panel(geometry.right() - 20, geometry.center().y());
    const QRgb lime = qRgb(0, 255, 0);
    ASSERT_TRUE(WaitForPixel(panel, [&](QRgb pixel) { return pixel == lime; }))
        << "the broadcast view is not shown: " << Describe(Screen(), panel);
    Keys(window, QStringLiteral("alt+l"));
    EXPECT_TRUE(WaitForPixel(panel, [&](QRgb pixel) { return pixel != lime; }))
        << "Alt+L did not leave the broadcast view";
    Keys(window, QStringLiteral("alt+b"));
    ASSERT_TRUE(WaitForPixel(panel, [&](QRgb pixel) { return pixel == lime; }));

    ClickLeftBar(geometry, 8);
    ASSERT_TRUE(WaitForLogged(lmStart)) << "Start was not logged";
    ASSERT_TRUE(
        test::ProcessEventsUntil([&] { return test::CanConnect(videoPort) && test::CanConnect(audioPort); }));

    std::vector<std::unique_ptr<test::TProgramRunner>> viewers;
    for (int i = 0; i < 2; ++i) {
        viewers.push_back(std::make_unique<test::TProgramRunner>(
            test::BuiltProgram("tools/client/streamwright-client"),
            std::vector<std::string>{"-v", std::to_string(videoPort), "-a", std::to_string(audioPort),
                                     "--seconds", "4", "-q"}));
    }
    // The preview moves: the centre of the screen changes between two dumps.
    const QPoint centre(geometry.x() + (TFormMain::kLeftBarWidth + geometry.width()) / 2,
                        geometry.center().y());
    QImage first;
    ASSERT_TRUE(test::ProcessEventsUntil([&] {
        first = Screen();
        return !first.isNull() && first.pixel(panel) == lime && first.pixel(centre) != lime;
    }));
    QImage later;
    EXPECT_TRUE(test::ProcessEventsUntil([&] {
        later = Screen();
        const QRect area(centre - QPoint(150, 100), QSize(300, 200));
        return !later.isNull() && later.copy(area) != first.copy(area);
    })) << "the preview does not move";
    test::ProcessEventsFor(1500);
    SavePicture(Screen(), "xvfb-screen.png");
    for (auto& viewer : viewers) {
        EXPECT_EQ(viewer->WaitForExit(30000), 0) << viewer->Errors();
        const std::string output = viewer->Output();
        EXPECT_EQ(output.find("summary frames=0 "), std::string::npos) << output;
        EXPECT_NE(output.find("summary frames="), std::string::npos) << output;
    }

    ClickLeftBar(geometry, 9);
    ASSERT_TRUE(WaitForLogged(lmStop)) << "Stop was not logged";

    // No keeps the program; Yes ends it.
    ClickLeftBar(geometry, 11);
    QString question = FindWindow(QStringLiteral("^Streamwright 1\\.0$"));
    ASSERT_FALSE(question.isEmpty()) << "the close question did not appear";
    Keys(question, QStringLiteral("Escape"));
    EXPECT_TRUE(test::ProcessEventsUntil(
        [&] { return FindWindow(QStringLiteral("^Streamwright 1\\.0$"), 200).isEmpty(); }));
    EXPECT_FALSE(program.waitForFinished(1000));
    EXPECT_FALSE(FindWindow(QStringLiteral("^Northlight Streamwright 1\\.0$"), 2000).isEmpty());

    ClickLeftBar(geometry, 11);
    question = FindWindow(QStringLiteral("^Streamwright 1\\.0$"));
    ASSERT_FALSE(question.isEmpty());
    Keys(question, QStringLiteral("alt+y"));
    ASSERT_TRUE(program.waitForFinished(30000)) << "Yes did not end the program";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const std::vector<int> messages = LoggedMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), lmStart), 1);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), lmStop), 1);
}

// The windowed program without any display: it says what to do instead of crashing.
TEST(WindowedProgramTest, WithoutADisplayItSuggestsHeadless) {
    test::TTempDir dir;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    // Runs the windowed program to its end; it must end by itself with status 2.
    auto run = [&] {
        program.setProcessEnvironment(environment);
        program.start(QString::fromStdString(test::BuiltProgram("src/app/streamwright")),
                      {QStringLiteral("--ini"), QString::fromStdString(dir.File("streamwright.ini"))});
        EXPECT_TRUE(program.waitForFinished(20000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 2);
        return QString::fromLocal8Bit(program.readAllStandardError());
    };
    const QString errors = run();
    EXPECT_TRUE(errors.contains(QStringLiteral("needs a display"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("--headless"))) << errors.toStdString();
    // Nothing was started: no log file.
    EXPECT_FALSE(test::FileExists(dir.File("streamwright.log")));

    // A display that cannot be opened is reported the same way, without a crash.
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4093"));
    const QString again = run();
    EXPECT_TRUE(again.contains(QStringLiteral("--headless"))) << again.toStdString();
}

// A second start on the same settings file hands over to the first; another file runs beside it.
TEST(WindowedProgramTest, ASecondStartOnTheSameSettingsBringsTheFirstForward) {
    test::TTempDir dir;
    const std::string ini = dir.File("streamwright.ini");
    test::WriteFile(ini, "[Video]\r\nPort=" + std::to_string(test::FreePort()) + "\r\n[Audio]\r\nPort=" +
                             std::to_string(test::FreePort()) + "\r\n[Web]\r\nEnabled=0\r\n");
    const std::string program = test::BuiltProgram("src/app/streamwright");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    test::TProgramRunner first(program, {"--ini", ini});
    // The first program is up once its log holds "Starting".
    ASSERT_TRUE(
        test::ProcessEventsUntil([&] { return test::FileExists(dir.File("streamwright.log")); }, 30000))
        << first.Errors();
    std::string errors;
    EXPECT_EQ(test::RunProgram(program, {"--ini", ini}, &errors), 0) << errors;
    EXPECT_NE(errors.find("its window was brought forward"), std::string::npos) << errors;
    EXPECT_EQ(first.WaitForExit(500), -1) << "the first program ended";

    test::TTempDir other;
    const std::string otherIni = other.File("streamwright.ini");
    test::WriteFile(otherIni, "[Video]\r\nPort=" + std::to_string(test::FreePort()) + "\r\n[Audio]\r\nPort=" +
                                  std::to_string(test::FreePort()) + "\r\n[Web]\r\nEnabled=0\r\n");
    test::TProgramRunner beside(program, {"--ini", otherIni});
    EXPECT_TRUE(
        test::ProcessEventsUntil([&] { return test::FileExists(other.File("streamwright.log")); }, 30000))
        << beside.Errors();
    EXPECT_EQ(beside.WaitForExit(500), -1) << beside.Errors();
}

// --start with the window: the broadcast runs without a click; SIGTERM then ends the program as
// closing the window does, with the broadcast stopped and logged instead of the default action.
TEST(WindowedProgramTest, StartsWithStartAndEndsCleanlyOnSigterm) {
    test::TTempDir dir;
    const std::string ini = dir.File("streamwright.ini");
    test::WriteFile(
        ini, "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=" + std::to_string(test::FreePort()) +
                 "\r\n[Audio]\r\nEnabled=1\r\nDevice=Test Tone\r\nPort=" + std::to_string(test::FreePort()) +
                 "\r\n[Web]\r\nEnabled=0\r\n");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    test::TProgramRunner program(test::BuiltProgram("src/app/streamwright"), {"--start", "--ini", ini});
    auto logged = [&](int message) {
        int count = 0;
        for (const QByteArray& line :
             QByteArray::fromStdString(test::ReadFile(dir.File("streamwright.log"))).split('\n')) {
            const std::vector<std::string> fields = FromCommaText(line.trimmed().toStdString());
            count += fields.size() >= 4 && std::atoi(fields[3].c_str()) == message;
        }
        return count;
    };
    // The log file is written in batches: the entry shows a moment after Start.
    ASSERT_TRUE(
        test::ProcessEventsUntil([&] { return program.WaitForExit(0) == -1 && logged(lmStart) == 1; }, 30000))
        << program.Errors();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(30000), 0) << program.Errors();
    EXPECT_EQ(logged(lmStart), 1);
    EXPECT_EQ(logged(lmStop), 1) << "the broadcast was not stopped before the end";
}

} // namespace
} // namespace sw
