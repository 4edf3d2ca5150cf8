#include "publish/Publisher.h"

#include <algorithm>
#include <pthread.h>

namespace sw {

namespace {

constexpr int kMaxBackoffSeconds = 30;
// The encoder falls back to the ultrafast preset when one frame takes this share of the frame period,
// judged over this many seconds of frames.
constexpr double kSlowEncoderShare = 0.8;
constexpr double kSlowEncoderJudgedSeconds = 3;

} // namespace

TPublisher::TPublisher(TMessageWindow logWindow) : FLogWindow(logWindow) {}

TPublisher::~TPublisher() {
    Stop();
}

int TPublisher::BackoffSeconds(int attempt) {
    if (attempt <= 1) {
        return 1;
    }
    return attempt > 5 ? kMaxBackoffSeconds : std::min(kMaxBackoffSeconds, 1 << (attempt - 1));
}

void TPublisher::LogEntry(uint8_t level, uint8_t message, const std::string& values) {
    Log(FLogWindow, level, message, Now(), FTarget.Redacted, ScrubSecrets(values, FTarget));
}

bool TPublisher::Start(const TPublishSettings& settings) {
    Stop();
    FTarget = ParsePublishUrl(settings.Url);
    if (!FTarget.Valid) {
        LogEntry(llError, lmPublishError, FTarget.Problem);
        return false;
    }
    const TWaveFormatEx& sound = settings.AudioFormat;
    const bool audio = settings.Audio && (sound.wBitsPerSample == 8 || sound.wBitsPerSample == 16) &&
                       sound.nChannels >= 1 && sound.nSamplesPerSec > 0;
    if (!settings.Video && !audio) {
        LogEntry(llError, lmPublishError, "Nothing to publish: video and audio are off");
        return false;
    }
    FFormat = TPublishFormat{};
    FFormat.Video = settings.Video;
    FFormat.Width = settings.Width;
    FFormat.Height = settings.Height;
    FrameRateOf(settings.MicroSecPerFrame, FFormat.FrameRateNum, FFormat.FrameRateDen);
    FFormat.VideoBitrateKbps = settings.VideoBitrateKbps;
    FFormat.KeyframeSeconds = settings.KeyframeSeconds > 0 ? settings.KeyframeSeconds : 2;
    FFormat.Audio = audio;
    FFormat.AudioFormat = sound;

    FQueue.Reset();
    FFramesPublished = 0;
    FPcmPublished = 0;
    FConnects = 0;
    FStop = false;
    LogEntry(llInformation, lmPublishStart);
    FRunning = true;
    FThread = std::thread([this] { Execute(); });
    return true;
}

void TPublisher::Stop() {
    if (!FRunning) {
        return;
    }
    FRunning = false;
    FStop = true;
    FQueue.Wake();
    if (FThread.joinable()) {
        FThread.join();
    }
    const TCounts counts = Counts();
    std::string values = "Frames published: " + std::to_string(counts.FramesPublished) +
                         "\nFrames dropped: " + std::to_string(counts.FramesIn - counts.FramesPublished);
    if (FFormat.Audio) {
        values += "\nAudio buffers dropped: " + std::to_string(counts.PcmIn - counts.PcmPublished);
    }
    LogEntry(llInformation, lmPublishStop, values);
}

void TPublisher::FrameReady(const TBitmap& frame, uint32_t frameNumber) {
    if (FRunning && FFormat.Video && !frame.Empty()) {
        FQueue.PutFrame(frame, frameNumber, TPublishClock::now());
    }
}

void TPublisher::PcmReady(const TWaveFormatEx& format, const uint8_t* data, size_t bytes, int32_t volume) {
    if (FRunning && FFormat.Audio && bytes > 0) {
        FQueue.PutPcm(format, data, bytes, volume, TPublishClock::now());
    }
}

TPublisher::TCounts TPublisher::Counts() const {
    const TPublishQueue::TCounts queued = FQueue.Counts();
    TCounts counts;
    counts.FramesIn = queued.FramesIn;
    counts.FramesPublished = FFramesPublished;
    counts.PcmIn = queued.PcmIn;
    counts.PcmPublished = FPcmPublished;
    counts.Connects = FConnects;
    return counts;
}

void TPublisher::Pause(int seconds) {
    const auto until = TPublishClock::now() + std::chrono::seconds(seconds);
    while (!FStop && TPublishClock::now() < until) {
        FQueue.WaitUntil(until);
        // What arrives meanwhile cannot be sent: it is dropped (and counted) rather than sent late.
        Discard();
    }
}

void TPublisher::Discard() {
    std::unique_ptr<TQueuedFrame> frame;
    while (FQueue.TakeFrame(frame)) {
    }
    TQueuedPcm pcm;
    while (FQueue.TakePcm(pcm)) {
    }
}

bool TPublisher::Stream(TPublishSession& session, std::string& error, bool& slowEncoder) {
    std::unique_ptr<TQueuedFrame> frame;
    TQueuedPcm pcm;
    const double judgedFrames = kSlowEncoderJudgedSeconds / session.FramePeriodSeconds();
    while (!FStop) {
        FQueue.WaitUntil(TPublishClock::now() + std::chrono::milliseconds(200));
        if (FQueue.TakeFrame(frame)) {
            const uint64_t before = session.FramesWritten();
            if (!session.WriteFrame(*frame, error)) {
                return false;
            }
            FFramesPublished += session.FramesWritten() - before;
        }
        while (FQueue.TakePcm(pcm)) {
            if (!session.WritePcm(pcm, error)) {
                return false;
            }
            ++FPcmPublished;
        }
        if (FFormat.Preset != "ultrafast" && static_cast<double>(session.FramesWritten()) >= judgedFrames &&
            session.MeanEncodeSeconds() > kSlowEncoderShare * session.FramePeriodSeconds()) {
            slowEncoder = true;
            return true;
        }
    }
    return true;
}

void TPublisher::Execute() {
    ::pthread_setname_np(::pthread_self(), "publish");
    int failures = 0;
    std::string lastError;
    while (!FStop) {
        if (failures > 0) {
            const int pause = BackoffSeconds(failures);
            Pause(pause);
            if (FStop) {
                break;
            }
            LogEntry(llWarning, lmPublishReconnect,
                     "Attempt " + std::to_string(failures) + " after " + std::to_string(pause) + " s");
        }
        TPublishSession session(FTarget, FFormat, FStop);
        std::string error;
        if (!session.Open(error)) {
            if (FStop) {
                break;
            }
            ++failures;
            // The same failure again is told by the next "Reconnect" alone.
            if (error != lastError) {
                LogEntry(llError, lmPublishError, error);
                lastError = error;
            }
            continue;
        }
        // Frames and sound from before the connection would arrive late: the stream starts afresh.
        Discard();
        ++FConnects;
        std::string described = session.VideoDescription();
        if (session.HasAudio()) {
            if (!described.empty()) {
                described += '\n';
            }
            described += session.AudioDescription();
        }
        LogEntry(llInformation, lmPublishConnect, described);
        failures = 0;
        lastError.clear();

        bool slowEncoder = false;
        const bool ok = Stream(session, error, slowEncoder);
        session.Close();
        if (slowEncoder) {
            FFormat.Preset = "ultrafast";
            LogEntry(llWarning, lmPublishReconnect,
                     "The encoder cannot keep up: reconnecting with the ultrafast preset");
        } else if (!ok && !FStop) {
            LogEntry(llError, lmPublishError, error);
            lastError = error;
            failures = 1;
        }
    }
}

} // namespace sw
