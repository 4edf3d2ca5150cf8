#include "video/VideoThread.h"

#include "config/Configuration.h"

#include "video/NoSignalCard.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <pthread.h>

namespace sw {

double TFrameRateWindow::Add(uint32_t tick) {
    FrameTimes[FrameTimeHead] = tick;
    if (FrameTimeCount < kFrames) {
        ++FrameTimeCount;
    }
    if (FrameTimeHead == FrameTimeTail) {
        FrameRate = 0;
    } else {
        const uint32_t span = FrameTimes[FrameTimeHead] - FrameTimes[FrameTimeTail];
        if (span > 0) {
            FrameRate = static_cast<double>(FrameTimeCount - 1) / static_cast<double>(span) * 1000.0;
        }
    }
    if (FrameTimeCount == kFrames) {
        FrameTimeTail = (FrameTimeTail + 1) % kFrames;
    }
    FrameTimeHead = (FrameTimeHead + 1) % kFrames;
    return FrameRate;
}

TVideoThread::TVideoThread(TCaptureWindow& captureWindow, TVideoPacketSink* videoServer,
                           TMessageWindow logWindow, TFramePreview* preview, TFrameTap* frameTap)
    : CaptureWindow(captureWindow), VideoServer(videoServer), LogWindow(logWindow), Preview(preview),
      FrameTap(frameTap) {
    FThread = std::thread([this] { Execute(); });
}

TVideoThread::~TVideoThread() {
    Terminate();
    WaitFor();
}

void TVideoThread::WaitFor() {
    if (!FThread.joinable()) {
        return;
    }
    CaptureWindow.WaitServing([this] { return Finished(); });
    FThread.join();
}

bool TVideoThread::PostLogEntry(uint8_t level, uint8_t message, const std::string& detail,
                                const std::string& values, TDateTime time) {
    return sw::PostLogEntry(LogWindow, level, message, time, detail, values);
}

bool TVideoThread::LogRequest(uint8_t message, bool ok) {
    PostLogEntry(ok ? llInformation : llError, message, ok ? "Ok" : "Failed", "", Now());
    return ok;
}

void TVideoThread::Execute() {
    ::pthread_setname_np(::pthread_self(), "video");
    ImageStream = std::make_unique<TVideoImageStream>(VideoFormat);
    FrameBitmap = std::make_unique<TBitmap>();
    Converter = std::make_unique<TJpegConverter>();
    JpegStream = std::make_unique<TMemoryStream>();

    LogRequest(lmGetVideoFormat, CaptureWindow.GetVideoFormat(
                                     VideoFormat.data(), static_cast<uint32_t>(VideoFormat.size())) != 0);
    LogRequest(lmSetUserData, CaptureWindow.SetUserData(reinterpret_cast<intptr_t>(this)));
    LogRequest(lmSetCallbackOnFrame, CaptureWindow.SetCallbackOnFrame(&TVideoThread::FrameCallback));
    LogRequest(lmSetCallbackOnError, CaptureWindow.SetCallbackOnError(&TVideoThread::ErrorCallback));

    using TClock = std::chrono::steady_clock;
    auto lastFrame = TClock::now();
    while (!FTerminated) {
        if (FLost) {
            if (ServeLoss()) {
                const auto seconds =
                    std::chrono::duration_cast<std::chrono::seconds>(TClock::now() - FLostSince).count();
                FLost = false;
                FGrabError = kCapErrNone;
                lastFrame = TClock::now();
                PostLogEntry(llInformation, lmVideoDeviceRestored, "",
                             "Frames resumed after " + std::to_string(seconds) + " s without signal", Now());
            }
            continue;
        }
        // A failed grab returns at once and its error went to the error callback. This thread has no
        // message queue of its own to drain.
        if (CaptureWindow.GrabFrameNoStop()) {
            lastFrame = TClock::now();
            FGrabError = kCapErrNone;
            FGrabErrorText.clear();
        } else if (FGrabError == kCapErrDevice || !CaptureWindow.Connected() ||
                   TClock::now() - lastFrame >= std::chrono::milliseconds(kLossAfterMs)) {
            FLostSince = TClock::now();
            FNextCard = FLostSince;
            FRetryMs = kFirstRetryMs;
            FNextRetry = FLostSince + std::chrono::milliseconds(FRetryMs);
            FLost = true;
            PostLogEntry(llError, lmVideoDeviceLost, "",
                         FGrabErrorText.empty() ? "No frame for " + std::to_string(kLossAfterMs) + " ms"
                                                : FGrabErrorText,
                         Now());
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    LogRequest(lmSetCallbackOnError, CaptureWindow.SetCallbackOnError(nullptr));
    LogRequest(lmSetCallbackOnFrame, CaptureWindow.SetCallbackOnFrame(nullptr));
    LogRequest(lmSetUserData, CaptureWindow.SetUserData(0));
    // No callback reaches this object any more: the requests above ran on the main thread in order.
    JpegStream.reset();
    Converter.reset();
    FrameBitmap.reset();
    ImageStream.reset();

    FFinished = true;
    CaptureWindow.Wake();
}

bool TVideoThread::ServeLoss() {
    using TClock = std::chrono::steady_clock;
    auto now = TClock::now();
    if (now >= FNextCard) {
        CaptureWindow.Call([this] { SendNoSignal(); });
        FNextCard += std::chrono::milliseconds(kNoSignalPeriodMs);
        if (FNextCard < now) {
            FNextCard = now + std::chrono::milliseconds(kNoSignalPeriodMs);
        }
    }
    if (now >= FNextRetry) {
        if (CaptureWindow.DriverReconnect()) {
            // The device may come back in another format; the image stream reads it for every frame.
            CaptureWindow.GetVideoFormat(VideoFormat.data(), static_cast<uint32_t>(VideoFormat.size()));
        }
        FRetryMs = std::min(2 * FRetryMs, kMaxRetryMs);
        FNextRetry = TClock::now() + std::chrono::milliseconds(FRetryMs);
    }
    // A device that is back delivers here; a dead one fails after a frame period, a silent one after
    // its frame timeout, so the cards keep coming.
    if (CaptureWindow.Connected() && CaptureWindow.GrabFrameNoStop()) {
        return true;
    }
    now = TClock::now();
    const auto wake = std::min({FNextCard, FNextRetry, now + std::chrono::milliseconds(50)});
    if (!CaptureWindow.Connected() && wake > now) {
        std::this_thread::sleep_until(wake);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool TVideoThread::FrameCallback(TCaptureWindow* window, TVideoHdr* header) {
    if (window && header) {
        if (auto* thread = reinterpret_cast<TVideoThread*>(window->GetUserData())) {
            // The callback may run inside Stop's wait, where no event handler would report an exception
            // and one escaping would leave the thread unjoined: it is logged here and the frame is lost.
            try {
                thread->ProcessFrame(*header);
            } catch (const std::exception& e) {
                thread->PostLogEntry(llError, lmException, e.what(), "", Now());
            }
        }
    }
    return true;
}

bool TVideoThread::ErrorCallback(TCaptureWindow* window, int errorNumber, const char* text) {
    if (window) {
        if (auto* thread = reinterpret_cast<TVideoThread*>(window->GetUserData())) {
            thread->FGrabError = errorNumber;
            thread->FGrabErrorText = text ? text : "";
            // A lost device's failures while it is being reconnected were told by the loss entry.
            if (thread->FLost) {
                return true;
            }
            thread->PostLogEntry(llError, lmVideoError, "",
                                 std::string(text ? text : "") + " (" + std::to_string(errorNumber) + ")",
                                 Now());
        }
    }
    return true;
}

void TVideoThread::FrameNotSent(const std::string& reason) {
    ++FFramesNotSent;
    // Once per broadcast: a camera format the pipeline cannot encode would otherwise log every frame.
    if (FFailureReported) {
        return;
    }
    FFailureReported = true;
    char number[16];
    std::snprintf(number, sizeof number, "%08X", FFrameNumber);
    Log(LogWindow, llError, lmVideoError, Now(), "", std::string("Frame ") + number + " not sent: " + reason);
}

void TVideoThread::ProcessFrame(const TVideoHdr& header) {
    if (!ImageStream) {
        return;
    }
    FRateWindow.Add(TickCount());
    ++FFrameNumber;
    ImageStream->SetFrame(&header);
    ImageStream->Seek(0, TStream::soBeginning);
    std::string error;
    if (!FrameBitmap->LoadFromStream(*ImageStream, error)) {
        FrameNotSent("the frame could not be loaded as a bitmap (" + error + ")");
        return;
    }
    FinishFrame();
}

void TVideoThread::SendNoSignal() {
    if (!FrameBitmap) {
        return;
    }
    TBitmapInfoHeader format{};
    std::memcpy(&format, VideoFormat.data(), sizeof format);
    int32_t width = format.biWidth;
    int32_t height = format.biHeight < 0 ? -format.biHeight : format.biHeight;
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192) {
        width = 320;
        height = 240;
    }
    if (FNoSignalCard.Width() != width || FNoSignalCard.Height() != height) {
        if (!DrawNoSignalCard(FNoSignalCard, width, height)) {
            return;
        }
    }
    FRateWindow.Add(TickCount());
    ++FFrameNumber;
    ++FNoSignalFrames;
    *FrameBitmap = FNoSignalCard;
    FinishFrame();
}

void TVideoThread::FinishFrame() {
    JpegStream->Clear();
    DrawOverlay();
    // The operator sees what the viewers get, overlay included.
    if (Preview) {
        Preview->Present(*FrameBitmap);
    }
    if (FrameTap) {
        FrameTap->FrameReady(*FrameBitmap, FFrameNumber);
    }
    Converter->Quality = ConfigurationExists() ? Configuration().JpegQuality() : 75;
    if (!Converter->Convert(*FrameBitmap, *JpegStream)) {
        FrameNotSent("the frame could not be encoded (" + Converter->ErrorText() + ")");
        return;
    }
    SendFrame();
}

void TVideoThread::DrawOverlay() {
    if (!ConfigurationExists()) {
        return;
    }
    const TOverlaySettings settings = TOverlaySettings::FromConfiguration();
    FOverlay.Draw(*FrameBitmap, OverlayText(settings, FrameRate(), FFrameNumber), settings);
}

void TVideoThread::SendFrame() {
    const auto size = static_cast<uint32_t>(JpegStream->StreamSize());
    const TVideoPacketHeader header = VideoPacketHeader(FFrameNumber, size);
    ++FFramesSent;
    if (VideoServer) {
        // The JPEG goes out from the stream's memory, behind the header, without a copy.
        VideoServer->SendFrame(header, JpegStream->Memory(), size);
    }
}

} // namespace sw
