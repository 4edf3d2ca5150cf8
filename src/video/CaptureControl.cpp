#include "video/CaptureControl.h"

#include "config/Configuration.h"
#include "platform/shell/OperatorPrompts.h"

#include <algorithm>
#include <cstdio>

namespace sw {

namespace {

constexpr size_t kDumpNameWidth = 28;

std::string Line(std::string name, const std::string& value) {
    if (name.size() < kDumpNameWidth) {
        name.resize(kDumpNameWidth, ' ');
    }
    return name + "= " + value;
}

std::string U(uint32_t value) {
    return std::to_string(value);
}

std::string S(int32_t value) {
    return std::to_string(value);
}

std::string B(int32_t value) {
    return value != 0 ? "Yes" : "No";
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

} // namespace

TCaptureControl::TCaptureControl(TMessageWindow logWindow) : FLogWindow(logWindow) {}

TCaptureControl::~TCaptureControl() {
    StopVideo();
}

void TCaptureControl::SetPanelSize(int width, int height) {
    FPanelWidth = width;
    FPanelHeight = height;
}

std::vector<std::string> TCaptureControl::DriverCapsDump(const TCapDriverCaps& c) {
    return {
        Line("wDeviceIndex", U(c.wDeviceIndex)),
        Line("fHasOverlay", B(c.fHasOverlay)),
        Line("fHasDlgVideoSource", B(c.fHasDlgVideoSource)),
        Line("fHasDlgVideoFormat", B(c.fHasDlgVideoFormat)),
        Line("fHasDlgVideoDisplay", B(c.fHasDlgVideoDisplay)),
        Line("fCaptureInitialized", B(c.fCaptureInitialized)),
        Line("fDriverSuppliesPalettes", B(c.fDriverSuppliesPalettes)),
        Line("hVideoIn", S(c.hVideoIn)),
        Line("hVideoOut", S(c.hVideoOut)),
        Line("hVideoExtIn", S(c.hVideoExtIn)),
        Line("hVideoExtOut", S(c.hVideoExtOut)),
    };
}

std::vector<std::string> TCaptureControl::CaptureStatusDump(const TCapStatus& s) {
    return {
        Line("uiImageWidth", S(static_cast<int32_t>(s.uiImageWidth))),
        Line("uiImageHeight", S(static_cast<int32_t>(s.uiImageHeight))),
        Line("fLiveWindow", B(s.fLiveWindow)),
        Line("fOverlayWindow", B(s.fOverlayWindow)),
        Line("fScale", B(s.fScale)),
        Line("ptScroll.X", S(s.ptScroll.X)),
        Line("ptScroll.Y", S(s.ptScroll.Y)),
        Line("fUsingDefaultPalette", B(s.fUsingDefaultPalette)),
        Line("fAudioHardware", B(s.fAudioHardware)),
        Line("fCapFileExists", B(s.fCapFileExists)),
        Line("dwCurrentVideoFrame", U(s.dwCurrentVideoFrame)),
        Line("dwCurrentVideoFramesDropped", U(s.dwCurrentVideoFramesDropped)),
        Line("dwCurrentWaveSamples", U(s.dwCurrentWaveSamples)),
        Line("dwCurrentTimeElapsedMS", U(s.dwCurrentTimeElapsedMS)),
        Line("hPalCurrent", S(s.hPalCurrent)),
        Line("fCapturingNow", B(s.fCapturingNow)),
        Line("dwReturn", U(s.dwReturn)),
        Line("wNumVideoAllocated", U(s.wNumVideoAllocated)),
        Line("wNumAudioAllocated", U(s.wNumAudioAllocated)),
    };
}

std::vector<std::string> TCaptureControl::CaptureParmsDump(const TCaptureParms& p) {
    return {
        Line("dwRequestMicroSecPerFrame", U(p.dwRequestMicroSecPerFrame)),
        Line("fMakeUserHitOKToCapture", B(p.fMakeUserHitOKToCapture)),
        Line("wPercentDropForError", S(static_cast<int32_t>(p.wPercentDropForError))),
        Line("fYield", B(p.fYield)),
        Line("dwIndexSize", U(p.dwIndexSize)),
        Line("wChunkGranularity", S(static_cast<int32_t>(p.wChunkGranularity))),
        Line("fUsingDOSMemory", B(p.fUsingDOSMemory)),
        Line("wNumVideoRequested", S(static_cast<int32_t>(p.wNumVideoRequested))),
        Line("fCaptureAudio", B(p.fCaptureAudio)),
        Line("wNumAudioRequested", S(static_cast<int32_t>(p.wNumAudioRequested))),
        Line("vKeyAbort", S(static_cast<int32_t>(p.vKeyAbort))),
        Line("fAbortLeftMouse", B(p.fAbortLeftMouse)),
        Line("fAbortRightMouse", B(p.fAbortRightMouse)),
        Line("fLimitEnabled", B(p.fLimitEnabled)),
        Line("wTimeLimit", S(static_cast<int32_t>(p.wTimeLimit))),
        Line("fMCIControl", B(p.fMCIControl)),
        Line("fStepMCIDevice", B(p.fStepMCIDevice)),
        Line("dwMCIStartTime", U(p.dwMCIStartTime)),
        Line("dwMCIStopTime", U(p.dwMCIStopTime)),
        Line("fStepCaptureAt2x", B(p.fStepCaptureAt2x)),
        Line("wStepCaptureAverageFrames", S(static_cast<int32_t>(p.wStepCaptureAverageFrames))),
        Line("dwAudioBufferSize", U(p.dwAudioBufferSize)),
        Line("fDisableWriteCache", B(p.fDisableWriteCache)),
        Line("AVStreamMaster", S(static_cast<int32_t>(p.AVStreamMaster))),
    };
}

std::vector<std::string> TCaptureControl::VideoFormatDump(const TBitmapInfoHeader& f) {
    return {
        Line("biSize", U(f.biSize)),
        Line("biWidth", S(f.biWidth)),
        Line("biHeight", S(f.biHeight)),
        Line("biPlanes", S(f.biPlanes)),
        Line("biBitCount", S(f.biBitCount)),
        Line("biCompression", U(f.biCompression)),
        Line("biSizeImage", U(f.biSizeImage)),
        Line("biXPelsPerMeter", S(f.biXPelsPerMeter)),
        Line("biYPelsPerMeter", S(f.biYPelsPerMeter)),
        Line("biClrUsed", U(f.biClrUsed)),
        Line("biClrImportant", U(f.biClrImportant)),
    };
}

bool TCaptureControl::LogResult(uint8_t message, bool ok, const std::vector<std::string>& values) {
    Log(FLogWindow, ok ? llInformation : llError, message, Now(), ok ? "Ok" : "Failed", JoinLines(values));
    return ok;
}

bool TCaptureControl::CreateCaptureWindow() {
    int x = (FPanelWidth - kCaptureWindowWidth) / 2;
    int y = (FPanelHeight - kCaptureWindowHeight) / 2;
    FCaptureWindow = std::make_unique<TCaptureWindow>(
        kCaptureWindowTitle, false, TWindowRect{x, y, kCaptureWindowWidth, kCaptureWindowHeight});
    return LogResult(lmCreateCaptureWindow, FCaptureWindow != nullptr);
}

bool TCaptureControl::DestroyCaptureWindow() {
    bool ok = FCaptureWindow != nullptr;
    FCaptureWindow.reset();
    return LogResult(lmDestroyWindow, ok);
}

bool TCaptureControl::DriverConnect() {
    TVideoConfiguration& video = Configuration().Video();
    // An index outside the device list yields 2147483647, whose low 16 bits name no driver.
    auto index = static_cast<uint32_t>(video.DeviceIds(video.Device())) & 0xFFFF;
    return LogResult(lmDriverConnect, FCaptureWindow && FCaptureWindow->DriverConnect(index));
}

bool TCaptureControl::DriverDisconnect() {
    return LogResult(lmDriverDisconnect, FCaptureWindow && FCaptureWindow->DriverDisconnect());
}

bool TCaptureControl::DriverGetCaps() {
    bool ok = FCaptureWindow && FCaptureWindow->DriverGetCaps(FDriverCaps);
    return LogResult(lmDriverGetCapabilities, ok,
                     ok ? DriverCapsDump(FDriverCaps) : std::vector<std::string>{});
}

bool TCaptureControl::CaptureGetStatus() {
    bool ok = FCaptureWindow && FCaptureWindow->GetStatus(FCaptureStatus);
    if (ok) {
        return LogResult(lmGetStatus, true, CaptureStatusDump(FCaptureStatus));
    }
    // The call's result, eight hex digits and decimal; on this path it is always 0.
    uint32_t result = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%08X (%u)", result, result);
    return LogResult(lmGetStatus, false, {text});
}

bool TCaptureControl::CaptureGetSetup() {
    bool ok = FCaptureWindow && FCaptureWindow->GetSequenceSetup(FCaptureParms);
    return LogResult(lmCaptureGetSetup, ok,
                     ok ? CaptureParmsDump(FCaptureParms) : std::vector<std::string>{});
}

bool TCaptureControl::CaptureSetSetup() {
    return LogResult(lmCaptureSetSetup, FCaptureWindow && FCaptureWindow->SetSequenceSetup(FCaptureParms));
}

bool TCaptureControl::GetVideoFormat() {
    bool ok = FCaptureWindow && FCaptureWindow->GetVideoFormat(
                                    FVideoFormat.data(), static_cast<uint32_t>(FVideoFormat.size())) != 0;
    return LogResult(lmGetVideoFormat, ok,
                     ok ? VideoFormatDump(InfoHeaderOf(FVideoFormat.data())) : std::vector<std::string>{});
}

bool TCaptureControl::InitializeVideo() {
    if (FVideoState == vsInitialized) {
        FinalizeVideo();
    }
    FDriverCaps = TCapDriverCaps{};
    FCaptureStatus = TCapStatus{};
    FCaptureParms = TCaptureParms{};
    TVideoConfiguration& video = Configuration().Video();
    Log(FLogWindow, llInformation, lmVideoInitializing, Now(), video.DeviceNames(video.Device()));
    if (CreateCaptureWindow()) {
        if (DriverConnect()) {
            if (DriverGetCaps() && CaptureGetStatus()) {
                ApplyConfiguredFormat();
                RefreshCaptureSettings();
                FVideoState = vsInitialized;
                return true;
            }
            DriverDisconnect();
        }
        DestroyCaptureWindow();
    }
    Prompts().ShowMessage("Unable to initialize video!", TMessageKind::Error);
    return false;
}

void TCaptureControl::ApplyConfiguredFormat() {
    const TVideoConfiguration& video = Configuration().Video();
    const std::string pixelFormatText = video.PixelFormat();
    auto positive = [](int32_t value) { return static_cast<uint32_t>(std::max(value, 0)); };
    TCaptureFormat request{positive(video.Width()), positive(video.Height()), positive(video.FrameRate()),
                           FourCcOf(pixelFormatText)};
    const bool sizeAsked = request.Width > 0 && request.Height > 0;
    if (!sizeAsked && request.FrameRate == 0 && pixelFormatText.empty()) {
        return;
    }
    TCaptureFormat applied;
    const bool exact = FCaptureWindow && FCaptureWindow->ApplyFormat(request, applied) &&
                       (pixelFormatText.empty() || request.PixelFormat != 0);
    if (exact || !FCaptureWindow) {
        return;
    }
    std::string asked;
    auto part = [&](const std::string& text) { asked += (asked.empty() ? "" : " ") + text; };
    if (sizeAsked) {
        part(std::to_string(request.Width) + " x " + std::to_string(request.Height));
    }
    if (!pixelFormatText.empty()) {
        part(pixelFormatText);
    }
    if (request.FrameRate > 0) {
        part("at " + std::to_string(request.FrameRate) + " fps");
    }
    Log(FLogWindow, llWarning, lmVideoError, Now(),
        "Format " + asked + " not offered, using " + DescribeCaptureFormat(applied),
        JoinLines(FCaptureWindow->OfferedFormats()));
}

bool TCaptureControl::FinalizeVideo() {
    if (FVideoState != vsInitialized) {
        return true;
    }
    bool ok = DriverDisconnect() && DestroyCaptureWindow();
    // Whatever failed, the window is forgotten; here that also frees it, without a second entry.
    FCaptureWindow.reset();
    FVideoState = vsNone;
    return ok;
}

bool TCaptureControl::RefreshCaptureSettings() {
    if (!CaptureGetStatus() || !CaptureGetSetup()) {
        return false;
    }
    FCaptureParms.dwAudioBufferSize = static_cast<uint32_t>(2 * Configuration().Audio().FrameSize());
    if (!CaptureSetSetup()) {
        return false;
    }
    return GetVideoFormat();
}

bool TCaptureControl::PositionCaptureWindow() {
    if (!FCaptureWindow) {
        return false;
    }
    int width = static_cast<int>(FCaptureStatus.uiImageWidth);
    int height = static_cast<int>(FCaptureStatus.uiImageHeight);
    FCaptureWindow->SetWindowPos({(FPanelWidth - width) / 2, (FPanelHeight - height) / 2, width, height});
    return true;
}

bool TCaptureControl::StartVideo() {
    if (!Configuration().Video().Enabled()) {
        return true;
    }
    // Start is offered only with an initialised device; without a window the thread would have
    // nothing to grab from.
    if (!FCaptureWindow || FVideoState == vsRunning) {
        return FVideoState == vsRunning;
    }
    PositionCaptureWindow();
    FCaptureWindow->Show(true);
    FVideoThread =
        std::make_unique<TVideoThread>(*FCaptureWindow, FVideoServer, FLogWindow, &FPreview, FFrameTap);
    FVideoState = vsRunning;
    return true;
}

bool TCaptureControl::StopVideo() {
    if (FVideoState != vsRunning) {
        return true;
    }
    if (FCaptureWindow) {
        FCaptureWindow->Show(false);
    }
    if (FVideoThread) {
        FVideoThread->Terminate();
        FVideoThread->WaitFor();
        FVideoThread.reset();
    }
    FPreview.Clear();
    FVideoState = vsInitialized;
    return true;
}

bool TCaptureControl::RefreshAfterDialog(bool shown) {
    RefreshCaptureSettings();
    return shown;
}

bool TCaptureControl::VideoFormatDialog() {
    if (FVideoState != vsInitialized) {
        return false;
    }
    const bool chosen = FDriverCaps.fHasDlgVideoFormat != 0 && FCaptureWindow->DlgVideoFormat();
    if (chosen) {
        // The choice holds for the next initialisation too, with or without windows.
        const TCaptureFormat format = FCaptureWindow->CurrentFormat();
        TVideoConfiguration& video = Configuration().Video();
        video.BeginUpdate();
        video.SetWidth(static_cast<int32_t>(format.Width));
        video.SetHeight(static_cast<int32_t>(format.Height));
        video.SetPixelFormat(format.PixelFormat != 0 ? FourCcText(format.PixelFormat) : std::string());
        video.EndUpdate();
    }
    return RefreshAfterDialog(chosen);
}

bool TCaptureControl::VideoSourceDialog() {
    if (FVideoState != vsInitialized) {
        return false;
    }
    return RefreshAfterDialog(FDriverCaps.fHasDlgVideoSource != 0 && FCaptureWindow->DlgVideoSource());
}

bool TCaptureControl::VideoDisplayDialog() {
    if (FVideoState != vsInitialized) {
        return false;
    }
    return RefreshAfterDialog(FDriverCaps.fHasDlgVideoDisplay != 0 && FCaptureWindow->DlgVideoDisplay());
}

bool TCaptureControl::VideoCompressionDialog() {
    if (FVideoState != vsInitialized) {
        return false;
    }
    return RefreshAfterDialog(FCaptureWindow->DlgVideoCompression());
}

} // namespace sw
