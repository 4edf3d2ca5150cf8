// The test pattern (640x480, 30 fps) broadcast from this process with one viewer on the video port,
// in two phases of S seconds each: the main window shown on the broadcast view (the live preview
// copies and paints every frame), then the window hidden (no preview: the headless program's work).
// Prints per phase the viewer's frame rate, the video thread's and the preview's painted frames per
// second, and the ratio of the viewer's rates. Runs on the display in DISPLAY, else offscreen.
//
//   window_frame_rate [--seconds S]

#include "bench/live/LiveViewers.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/DataModuleMain.h"
#include "engine/EngineApplication.h"
#include "engine/ProgramLifecycle.h"
#include "ui/CaptureView.h"
#include "ui/FormMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

using namespace sw;
using namespace sw::bench;

struct TPhase {
    double ViewerFps = 0;
    double ThreadFps = 0;
    double PreviewFps = 0;
};

// Frames that reach one viewer, counted on a thread of its own.
class TCountingViewer {
public:
    explicit TCountingViewer(int port) : FFd(ConnectLoopback(port)) {
        FThread = std::thread([this] {
            uint8_t buffer[65536];
            while (!FStop) {
                const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    break;
                }
                FReader.Feed(buffer, static_cast<size_t>(n), TClock::now(),
                             [this](uint32_t, TClock::time_point) { ++FFrames; });
            }
        });
    }
    ~TCountingViewer() {
        FStop = true;
        ::shutdown(FFd, SHUT_RDWR);
        FThread.join();
        ::close(FFd);
    }
    uint64_t Frames() const { return FFrames; }

private:
    int FFd;
    TPacketReader FReader;
    std::atomic<bool> FStop{false};
    std::atomic<uint64_t> FFrames{0};
    std::thread FThread;
};

TPhase Measure(TFormMain& form, TCountingViewer& viewer, double seconds) {
    auto* preview = form.findChild<TCaptureView*>(QStringLiteral("CaptureWindow"));
    // Settle first: the window's state change and the rate window of the video thread.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    const uint64_t frames = viewer.Frames();
    const uint32_t painted = preview->FramesPainted();
    double threadFps = 0;
    int samples = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (timer.elapsed() / 500 > samples) {
            threadFps += form.Controller().FrameRate();
            ++samples;
        }
    }
    const double elapsed = static_cast<double>(timer.elapsed()) / 1000.0;
    return {static_cast<double>(viewer.Frames() - frames) / elapsed, samples ? threadFps / samples : 0,
            static_cast<double>(preview->FramesPainted() - painted) / elapsed};
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[i + 1]);
        }
    }
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    char folder[] = "/tmp/window-frame-rate-XXXXXX";
    if (!::mkdtemp(folder)) {
        return 2;
    }
    const std::string ini = std::string(folder) + "/streamwright.ini";
    const int videoPort = FreeLoopbackPort();
    {
        FILE* file = std::fopen(ini.c_str(), "w");
        std::fprintf(
            file,
            "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=%d\r\n[Audio]\r\nEnabled=0\r\nPort=%d\r\n"
            "[Web]\r\nEnabled=0\r\n[Text]\r\nFormat=4\r\n",
            videoPort, FreeLoopbackPort());
        std::fclose(file);
    }
    TEngineApplication<QApplication> application(argc, argv);
    TPhase visible;
    TPhase hidden;
    {
        TProgramLifecycle program(ini);
        program.CreateEngine();
        {
            TFormMain form(program.Controller());
            form.show();
            while (!program.Controller().DevicesInitialized()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            }
            if (!form.ExecuteAction(TMainAction::Start)) {
                std::fprintf(stderr, "window_frame_rate: the broadcast did not start\n");
                return 1;
            }
            TCountingViewer viewer(videoPort);
            visible = Measure(form, viewer, seconds);
            form.hide();
            hidden = Measure(form, viewer, seconds);
            form.ExecuteAction(TMainAction::Stop);
        }
        program.DestroyEngine();
    }
    std::printf("platform %s, %.0f s per phase\n", QGuiApplication::platformName().toUtf8().constData(),
                seconds);
    std::printf("%-28s %10s %10s %10s\n", "phase", "viewer fps", "thread fps", "preview fps");
    std::printf("%-28s %10.1f %10.1f %10.1f\n", "window visible (preview on)", visible.ViewerFps,
                visible.ThreadFps, visible.PreviewFps);
    std::printf("%-28s %10.1f %10.1f %10.1f\n", "window hidden (no preview)", hidden.ViewerFps,
                hidden.ThreadFps, hidden.PreviewFps);
    std::printf("viewer fps ratio visible/hidden: %.3f\n",
                hidden.ViewerFps > 0 ? visible.ViewerFps / hidden.ViewerFps : 0);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
