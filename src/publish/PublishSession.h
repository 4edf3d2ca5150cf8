#pragma once

#include "publish/PublishQueue.h"
#include "publish/PublishUrl.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct AVAudioFifo;
struct SwsContext;
struct SwrContext;

namespace sw {

// What one connection carries: the broadcast's picture and sound as H.264 and AAC.
struct TPublishFormat {
    bool Video = false;
    int32_t Width = 0;
    int32_t Height = 0;
    // The capture's rate as a fraction, frames per second.
    int FrameRateNum = 30;
    int FrameRateDen = 1;
    int32_t VideoBitrateKbps = 0; // 0 or less: by frame size and rate
    int32_t KeyframeSeconds = 2;
    // x264's preset: "veryfast", or "ultrafast" when the machine cannot keep up.
    std::string Preset = "veryfast";

    bool Audio = false;
    TWaveFormatEx AudioFormat;
};

// The bit rate a format gets when the setting leaves it open: about 0.1 bit per pixel and frame,
// between 250 and 6000 kbit/s (640x480 at 30 fps: 922 kbit/s).
int32_t DefaultVideoBitrateKbps(int32_t width, int32_t height, double framesPerSecond);
// The sample rate the AAC stream gets: the capture's when AAC and the server take it, else 48000.
int AacSampleRate(int captureRate, bool needsStandardRate);
// The capture rate from its period, snapped to a whole or an NTSC rate when it is that close.
void FrameRateOf(uint32_t microSecPerFrame, int& numerator, int& denominator);
// Text of an FFmpeg error code, with the library's last logged error on this thread when it says more.
std::string FfmpegErrorText(int code);

// One connection to the media server: the encoders, the muxer and the network output. Blocking calls
// give up when stop is set, or when a call runs past its own deadline (connect 10 s, a write 5 s), so
// a stalled server never holds the publisher's thread for long.
class TPublishSession {
public:
    TPublishSession(TPublishTarget target, TPublishFormat format, const std::atomic<bool>& stop);
    ~TPublishSession();
    TPublishSession(const TPublishSession&) = delete;
    TPublishSession& operator=(const TPublishSession&) = delete;

    // Opens the encoders, connects and writes the stream header; false with the reason.
    bool Open(std::string& error);
    // The first frame or buffer written fixes the session's time origin. False with the reason when
    // the connection failed.
    bool WriteFrame(const TQueuedFrame& frame, std::string& error);
    bool WritePcm(const TQueuedPcm& pcm, std::string& error);
    // Writes the trailer (briefly) when the header went out, and disconnects.
    void Close();

    // What the session carries, for the log: "H.264 640x480 30 fps 922 kbit/s veryfast", "AAC 48000 Hz 1 ch".
    std::string VideoDescription() const;
    std::string AudioDescription() const;
    bool HasVideo() const { return FVideoStream != nullptr; }
    bool HasAudio() const { return FAudioStream != nullptr; }

    uint64_t FramesWritten() const { return FFramesWritten; }
    // Frames that arrived too close behind the last one for a slot of their own at the stream's rate.
    uint64_t FramesSkipped() const { return FFramesSkipped; }
    // Mean wall time of encoding one frame so far, in seconds, and the frame period.
    double MeanEncodeSeconds() const;
    double FramePeriodSeconds() const;

private:
    struct TDeleters;
    bool OpenVideo(std::string& error);
    bool OpenAudio(std::string& error);
    bool Connect(std::string& error);
    bool Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string& error);
    bool EncodeAudioFifo(std::string& error);
    bool WriteSilence(int64_t samples, std::string& error);
    void StartClock(TPublishClock::time_point time);
    void Arm(double seconds);
    static int Interrupt(void* opaque);

    TPublishTarget FTarget;
    TPublishFormat FFormat;
    const std::atomic<bool>& FStop;
    std::atomic<int64_t> FDeadlineNs{0};
    bool FClosing = false;

    AVFormatContext* FOutput = nullptr;
    AVCodecContext* FVideoCodec = nullptr;
    AVCodecContext* FAudioCodec = nullptr;
    AVStream* FVideoStream = nullptr;
    AVStream* FAudioStream = nullptr;
    AVFrame* FVideoFrame = nullptr;
    AVFrame* FAudioFrame = nullptr;
    AVPacket* FPacket = nullptr;
    SwsContext* FScaler = nullptr;
    SwrContext* FResampler = nullptr;
    AVAudioFifo* FFifo = nullptr;
    bool FHeaderWritten = false;
    int FAudioRate = 0;
    int FAudioChannels = 0;
    int32_t FBitrateKbps = 0;

    bool FClockStarted = false;
    TPublishClock::time_point FOrigin;
    int64_t FLastVideoPts = -1;
    // Samples at the output rate placed on the sound's timeline so far, and the next frame's pts.
    int64_t FAudioSamples = 0;
    int64_t FAudioPts = 0;
    bool FAudioStarted = false;
    std::vector<float> FAudioScratch;

    uint64_t FFramesWritten = 0;
    uint64_t FFramesSkipped = 0;
    double FEncodeSeconds = 0;
    double FWriteSeconds = 0;
};

} // namespace sw
