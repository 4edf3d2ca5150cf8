#include "platform/capture/CaptureWindow.h"

#include "platform/capture/CaptureDriverTable.h"
#include "platform/capture/TestPatternDriver.h"
#include "platform/shell/ThreadHandOff.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace sw {
namespace {

uint32_t TestPatternIndex() {
    return static_cast<uint32_t>(CaptureDriverEntries().size() - 1);
}

// What the callbacks saw; reached through the window's user data as a frame callback must.
struct TCallbackLog {
    std::atomic<int> Frames{0};
    std::atomic<int> Errors{0};
    int LastError = 0;
    std::string LastErrorText;
    TVideoHdr LastHeader;
    std::thread::id CallbackThread;
};

bool FrameCallback(TCaptureWindow* window, TVideoHdr* header) {
    auto* log = reinterpret_cast<TCallbackLog*>(window->GetUserData());
    if (log) {
        log->LastHeader = *header;
        log->CallbackThread = std::this_thread::get_id();
        ++log->Frames;
    }
    return true;
}

bool ErrorCallback(TCaptureWindow* window, int number, const char* text) {
    auto* log = reinterpret_cast<TCallbackLog*>(window->GetUserData());
    if (log) {
        log->LastError = number;
        log->LastErrorText = text;
        ++log->Errors;
    }
    return true;
}

class CaptureWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Window = std::make_unique<TCaptureWindow>("Streamwright Capture Window", false,
                                                  TWindowRect{-10, 5, 320, 160});
    }
    void TearDown() override { TestPatternFaults().Reset(); }

    std::unique_ptr<TCaptureWindow> Window;
};

TEST_F(CaptureWindowTest, ConnectsByDriverIndexAndAnswersQueries) {
    EXPECT_EQ(Window->Rect().X, -10);
    EXPECT_FALSE(Window->Visible());
    EXPECT_FALSE(Window->DriverConnect(65535));
    EXPECT_FALSE(Window->Connected());
    TCapStatus status{};
    EXPECT_FALSE(Window->GetStatus(status));
    uint8_t format[44];
    EXPECT_EQ(Window->GetVideoFormat(format, sizeof format), 0u);
    EXPECT_FALSE(Window->DriverDisconnect());

    ASSERT_TRUE(Window->DriverConnect(TestPatternIndex()));
    TCapDriverCaps caps{};
    ASSERT_TRUE(Window->DriverGetCaps(caps));
    EXPECT_EQ(caps.wDeviceIndex, TestPatternIndex());
    ASSERT_TRUE(Window->GetStatus(status));
    EXPECT_EQ(status.uiImageWidth, 640u);
    EXPECT_EQ(status.uiImageHeight, 480u);

    std::fill(std::begin(format), std::end(format), 0xAA);
    ASSERT_EQ(Window->GetVideoFormat(format, sizeof format), 44u);
    TBitmapInfoHeader info = InfoHeaderOf(format);
    EXPECT_EQ(info.biSize, 40u);
    EXPECT_EQ(info.biWidth, 640);
    EXPECT_EQ(info.biCompression, kFourCcUyvy);
    EXPECT_EQ(format[40] | format[41] | format[42] | format[43], 0);

    TCaptureParms parms{};
    ASSERT_TRUE(Window->GetSequenceSetup(parms));
    EXPECT_EQ(parms.dwRequestMicroSecPerFrame, 33333u);
    parms.dwAudioBufferSize = 4096;
    ASSERT_TRUE(Window->SetSequenceSetup(parms));
    TCaptureParms again{};
    ASSERT_TRUE(Window->GetSequenceSetup(again));
    EXPECT_EQ(again.dwAudioBufferSize, 4096u);

    EXPECT_TRUE(Window->DriverDisconnect());
    EXPECT_FALSE(Window->DriverDisconnect());
    EXPECT_FALSE(Window->GrabFrameNoStop());

    TestPatternFaults().FailConnect = true;
    EXPECT_FALSE(Window->DriverConnect(TestPatternIndex()));
}

TEST_F(CaptureWindowTest, GrabCallsTheFrameCallbackBeforeReturning) {
    TCallbackLog log;
    ASSERT_TRUE(Window->DriverConnect(TestPatternIndex()));
    EXPECT_TRUE(Window->GrabFrameNoStop()); // no callback yet
    ASSERT_TRUE(Window->SetUserData(reinterpret_cast<intptr_t>(&log)));
    ASSERT_TRUE(Window->SetCallbackOnFrame(FrameCallback));
    EXPECT_TRUE(Window->GrabFrameNoStop());
    EXPECT_EQ(log.Frames, 1);
    EXPECT_NE(log.LastHeader.lpData, nullptr);
    EXPECT_EQ(log.LastHeader.dwBytesUsed, 640u * 480 * 2);
    EXPECT_EQ(log.LastHeader.dwFlags & VHDR_DONE, VHDR_DONE);
    Window->SetCallbackOnFrame(nullptr);
    EXPECT_TRUE(Window->GrabFrameNoStop());
    EXPECT_EQ(log.Frames, 1);
}

TEST_F(CaptureWindowTest, GrabFailureReachesTheErrorCallbackOncePerRun) {
    TCallbackLog log;
    ASSERT_TRUE(Window->DriverConnect(TestPatternIndex()));
    Window->SetUserData(reinterpret_cast<intptr_t>(&log));
    Window->SetCallbackOnFrame(FrameCallback);
    Window->SetCallbackOnError(ErrorCallback);
    TestPatternFaults().FailGrab = true;
    EXPECT_FALSE(Window->GrabFrameNoStop());
    EXPECT_FALSE(Window->GrabFrameNoStop());
    EXPECT_EQ(log.Errors, 1);
    EXPECT_EQ(log.LastError, kCapErrInjected);
    EXPECT_EQ(log.LastErrorText, "Test pattern grab failure");
    EXPECT_EQ(log.Frames, 0);
    TestPatternFaults().FailGrab = false;
    EXPECT_TRUE(Window->GrabFrameNoStop());
    TestPatternFaults().FailGrab = true;
    EXPECT_FALSE(Window->GrabFrameNoStop());
    EXPECT_EQ(log.Errors, 2);
    EXPECT_EQ(log.Frames, 1);
}

TEST_F(CaptureWindowTest, AnUnpluggedDeviceIsReconnectedByItsIdentityWithItsSettings) {
    TCallbackLog log;
    ASSERT_TRUE(Window->DriverConnect(TestPatternIndex()));
    EXPECT_EQ(CaptureDriverStableId(TestPatternIndex()), "builtin:test-pattern");
    EXPECT_EQ(CaptureDriverStableId(65535), "");
    Window->SetUserData(reinterpret_cast<intptr_t>(&log));
    Window->SetCallbackOnFrame(FrameCallback);
    Window->SetCallbackOnError(ErrorCallback);
    TCaptureFormat applied;
    ASSERT_TRUE(Window->ApplyFormat(TCaptureFormat{320, 240, 0, 0}, applied));
    TCaptureParms parms{};
    ASSERT_TRUE(Window->GetSequenceSetup(parms));
    parms.dwRequestMicroSecPerFrame = 50000;
    ASSERT_TRUE(Window->SetSequenceSetup(parms));
    ASSERT_TRUE(Window->GrabFrameNoStop());

    TestPatternFaults().Unplug();
    EXPECT_FALSE(Window->GrabFrameNoStop());
    EXPECT_EQ(log.LastError, kCapErrDevice);
    EXPECT_FALSE(Window->DriverReconnect()) << "not there yet";
    EXPECT_FALSE(Window->Connected());
    TestPatternFaults().Replug();
    EXPECT_FALSE(Window->GrabFrameNoStop()) << "no driver until reconnected";
    ASSERT_TRUE(Window->DriverReconnect());
    EXPECT_TRUE(Window->GrabFrameNoStop());
    TCaptureParms now{};
    ASSERT_TRUE(Window->GetSequenceSetup(now));
    EXPECT_EQ(now.dwRequestMicroSecPerFrame, 50000u);
    EXPECT_EQ(Window->CurrentFormat().Width, 320u) << "the returning device lost the format settings";
    EXPECT_EQ(Window->CurrentFormat().Height, 240u);

    // A device plugged out and in again between two grabs: the old connection stays dead.
    TestPatternFaults().Unplug();
    TestPatternFaults().Replug();
    EXPECT_FALSE(Window->GrabFrameNoStop());
    ASSERT_TRUE(Window->DriverReconnect());
    EXPECT_TRUE(Window->GrabFrameNoStop());
    EXPECT_EQ(ConnectCaptureDriverById("bus:usb-0000:00:14.0-9/none", 0), nullptr);
}

// Records events that reach it, to show what a serving wait leaves in the queue.
class TEventRecorder : public QObject {
public:
    int Received = 0;
    bool event(QEvent* event) override {
        TakeOverFromThread(event);
        if (event->type() == QEvent::User) {
            ++Received;
            return true;
        }
        return QObject::event(event);
    }
};

TEST_F(CaptureWindowTest, AnotherThreadGrabsWhileTheOwnerStopsIt) {
    TCallbackLog log;
    ASSERT_TRUE(Window->DriverConnect(TestPatternIndex()));
    TCaptureParms parms{};
    Window->GetSequenceSetup(parms);
    parms.dwRequestMicroSecPerFrame = 5000;
    Window->SetSequenceSetup(parms);

    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    std::atomic<int> grabbed{0};
    std::thread grabber([&] {
        // The thread's own start-up requests, as the video thread makes them.
        Window->SetUserData(reinterpret_cast<intptr_t>(&log));
        Window->SetCallbackOnFrame(FrameCallback);
        while (!stop) {
            if (Window->GrabFrameNoStop()) {
                ++grabbed;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        Window->SetCallbackOnFrame(nullptr);
        Window->SetUserData(0);
        finished = true;
        Window->Wake();
    });

    // The owner's ordinary event loop serves the requests.
    QElapsedTimer timer;
    timer.start();
    while (log.Frames < 5 && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_GE(log.Frames, 5);

    // The stop: the owner waits for the thread while serving only its requests.
    TEventRecorder recorder;
    QCoreApplication::postEvent(&recorder, new QEvent(QEvent::User));
    stop = true;
    EXPECT_TRUE(Window->WaitServing([&] { return finished.load(); }, 10000));
    grabber.join();
    EXPECT_EQ(recorder.Received, 0);
    EXPECT_EQ(log.CallbackThread, std::this_thread::get_id());
    EXPECT_EQ(log.Frames.load(), grabbed.load());
    EXPECT_EQ(Window->GetUserData(), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.Received, 1);
}

TEST_F(CaptureWindowTest, WaitServingWakesWithoutRequests) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Window->WaitServing([] { return false; }, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    std::atomic<bool> done{false};
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        done = true;
        Window->Wake();
    });
    EXPECT_TRUE(Window->WaitServing([&] { return done.load(); }, 10000));
    waker.join();
}

TEST_F(CaptureWindowTest, WaitingRequestFailsWhenTheWindowGoes) {
    ASSERT_TRUE(Window->DriverConnect(TestPatternIndex()));
    std::atomic<int> result{-1};
    TCaptureWindow* window = Window.get();
    std::thread requester([&] {
        TCapStatus status{};
        result = window->GetStatus(status) ? 1 : 0;
    });
    while (Window->PendingRequests() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Window.reset();
    requester.join();
    EXPECT_EQ(result, 0);
}

} // namespace
} // namespace sw
