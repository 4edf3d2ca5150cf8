#include "publish/PublishSession.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <numeric>

namespace sw {

namespace {

constexpr double kConnectSeconds = 10;
constexpr double kWriteSeconds = 5;
constexpr double kTrailerSeconds = 0.5;
// Sound that drifts this far from its capture time is padded with silence or trimmed.
constexpr double kAudioResyncSeconds = 0.2;
// A longer gap in the sound is jumped over instead of filled.
constexpr double kAudioMaxFillSeconds = 5;

thread_local std::string tLastLibraryError;

// FFmpeg would print to standard error, which is the log's in the headless program: its messages are
// dropped, and the last error of the thread is kept to explain the next failure.
void LibraryLog(void* object, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[1024];
    int printPrefix = 0;
    av_log_format_line2(object, level, format, arguments, line, sizeof line, &printPrefix);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    // The first error since the last report is the cause; the ones after it tell what gave up.
    if (!text.empty() && tLastLibraryError.empty()) {
        tLastLibraryError = text;
    }
}

void InstallLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(LibraryLog); });
}

double Seconds(TPublishClock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(TPublishClock::now().time_since_epoch())
        .count();
}

} // namespace

int32_t DefaultVideoBitrateKbps(int32_t width, int32_t height, double framesPerSecond) {
    const double kbps = static_cast<double>(width) * height * framesPerSecond * 0.1 / 1000.0;
    return static_cast<int32_t>(std::clamp(std::lround(kbps), 250L, 6000L));
}

int AacSampleRate(int captureRate, bool needsStandardRate) {
    if (needsStandardRate) {
        return captureRate == 44100 || captureRate == 48000 ? captureRate : 48000;
    }
    constexpr std::array<int, 13> kAacRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                               22050, 16000, 12000, 11025, 8000,  7350};
    return std::find(kAacRates.begin(), kAacRates.end(), captureRate) != kAacRates.end() ? captureRate
                                                                                         : 48000;
}

void FrameRateOf(uint32_t microSecPerFrame, int& numerator, int& denominator) {
    if (microSecPerFrame == 0) {
        numerator = 30;
        denominator = 1;
        return;
    }
    const double fps = 1e6 / microSecPerFrame;
    const double whole = std::round(fps);
    // Periods are whole microseconds: 33333 is 30 fps and 33367 the NTSC 29.97.
    if (whole >= 1 && std::abs(fps - whole) < 0.0002 * fps) {
        numerator = static_cast<int>(whole);
        denominator = 1;
        return;
    }
    const double ntsc = std::round(fps * 1.001);
    if (ntsc >= 1 && std::abs(fps * 1.001 - ntsc) < 0.0002 * fps) {
        numerator = static_cast<int>(ntsc) * 1000;
        denominator = 1001;
        return;
    }
    const uint32_t common = std::gcd(1000000u, microSecPerFrame);
    numerator = static_cast<int>(1000000u / common);
    denominator = static_cast<int>(microSecPerFrame / common);
}

std::string FfmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    std::string result = text;
    if (!tLastLibraryError.empty() && tLastLibraryError.find(result) == std::string::npos) {
        result += " (" + tLastLibraryError + ")";
    }
    tLastLibraryError.clear();
    return result;
}

TPublishSession::TPublishSession(TPublishTarget target, TPublishFormat format, const std::atomic<bool>& stop)
    : FTarget(std::move(target)), FFormat(std::move(format)), FStop(stop) {
    InstallLibraryLog();
}

TPublishSession::~TPublishSession() {
    Close();
}

void TPublishSession::Arm(double seconds) {
    FDeadlineNs = NowNs() + static_cast<int64_t>(seconds * 1e9);
}

int TPublishSession::Interrupt(void* opaque) {
    auto* session = static_cast<TPublishSession*>(opaque);
    if (session->FStop && !session->FClosing) {
        return 1;
    }
    const int64_t deadline = session->FDeadlineNs;
    return deadline != 0 && NowNs() > deadline ? 1 : 0;
}

bool TPublishSession::Open(std::string& error) {
    tLastLibraryError.clear();
    int result =
        avformat_alloc_output_context2(&FOutput, nullptr, FTarget.Muxer.c_str(), FTarget.Url.c_str());
    if (result < 0 || !FOutput) {
        error = "Muxer: " + FfmpegErrorText(result);
        return false;
    }
    FOutput->interrupt_callback.callback = &TPublishSession::Interrupt;
    FOutput->interrupt_callback.opaque = this;
    FOutput->max_interleave_delta = 1000000;
    FOutput->flush_packets = 1;
    FPacket = av_packet_alloc();
    if (!FPacket) {
        error = "Out of memory";
        return false;
    }
    if (FFormat.Video && !OpenVideo(error)) {
        return false;
    }
    if (FFormat.Audio && !OpenAudio(error)) {
        return false;
    }
    return Connect(error);
}

bool TPublishSession::OpenVideo(std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        error = "Encoder: the H.264 encoder libx264 is not available";
        return false;
    }
    FVideoCodec = avcodec_alloc_context3(codec);
    if (!FVideoCodec) {
        error = "Out of memory";
        return false;
    }
    AVCodecContext& c = *FVideoCodec;
    // 4:2:0 needs even sizes; an odd last row or column is scaled away.
    c.width = std::max(2, FFormat.Width & ~1);
    c.height = std::max(2, FFormat.Height & ~1);
    c.time_base = AVRational{FFormat.FrameRateDen, FFormat.FrameRateNum};
    c.framerate = AVRational{FFormat.FrameRateNum, FFormat.FrameRateDen};
    c.pix_fmt = AV_PIX_FMT_YUV420P;
    const double fps = static_cast<double>(FFormat.FrameRateNum) / FFormat.FrameRateDen;
    c.gop_size = std::max(1, static_cast<int>(std::lround(std::max(1, FFormat.KeyframeSeconds) * fps)));
    c.max_b_frames = 0;
    FBitrateKbps = FFormat.VideoBitrateKbps > 0 ? FFormat.VideoBitrateKbps
                                                : DefaultVideoBitrateKbps(c.width, c.height, fps);
    c.bit_rate = static_cast<int64_t>(FBitrateKbps) * 1000;
    c.rc_max_rate = c.bit_rate;
    // One second of buffer: a steady rate that a live ingest accepts.
    c.rc_buffer_size = static_cast<int>(std::min<int64_t>(c.bit_rate, INT32_MAX));
    c.colorspace = AVCOL_SPC_SMPTE170M;
    c.color_primaries = AVCOL_PRI_SMPTE170M;
    c.color_trc = AVCOL_TRC_SMPTE170M;
    c.color_range = AVCOL_RANGE_MPEG;
    if (FOutput->oformat->flags & AVFMT_GLOBALHEADER) {
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", FFormat.Preset.c_str(), 0);
    av_dict_set(&options, "tune", "zerolatency", 0);
    // Keyframes exactly every gop_size frames, so that HLS segments and late joiners line up.
    av_dict_set(&options, "x264-params", "scenecut=0:open-gop=0", 0);
    const int result = avcodec_open2(FVideoCodec, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        error = "Video encoder: " + FfmpegErrorText(result);
        return false;
    }
    FVideoFrame = av_frame_alloc();
    if (!FVideoFrame) {
        error = "Out of memory";
        return false;
    }
    FVideoFrame->format = c.pix_fmt;
    FVideoFrame->width = c.width;
    FVideoFrame->height = c.height;
    if (av_frame_get_buffer(FVideoFrame, 0) < 0) {
        error = "Out of memory";
        return false;
    }
    FVideoStream = avformat_new_stream(FOutput, nullptr);
    if (!FVideoStream || avcodec_parameters_from_context(FVideoStream->codecpar, FVideoCodec) < 0) {
        error = "Muxer: cannot add the video stream";
        return false;
    }
    FVideoStream->time_base = c.time_base;
    FVideoStream->avg_frame_rate = c.framerate;
    return true;
}

bool TPublishSession::OpenAudio(std::string& error) {
    const TWaveFormatEx& in = FFormat.AudioFormat;
    const AVSampleFormat inFormat = in.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    FAudioRate = AacSampleRate(static_cast<int>(in.nSamplesPerSec), FTarget.NeedsStandardSampleRate);
    FAudioChannels = std::clamp<int>(in.nChannels, 1, 2);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        error = "Encoder: no AAC encoder is available";
        return false;
    }
    FAudioCodec = avcodec_alloc_context3(codec);
    if (!FAudioCodec) {
        error = "Out of memory";
        return false;
    }
    AVCodecContext& c = *FAudioCodec;
    c.sample_fmt = AV_SAMPLE_FMT_FLTP;
    c.sample_rate = FAudioRate;
    av_channel_layout_default(&c.ch_layout, FAudioChannels);
    c.bit_rate = 64000 * FAudioChannels;
    c.time_base = AVRational{1, FAudioRate};
    if (FOutput->oformat->flags & AVFMT_GLOBALHEADER) {
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    int result = avcodec_open2(FAudioCodec, codec, nullptr);
    if (result < 0) {
        error = "Audio encoder: " + FfmpegErrorText(result);
        return false;
    }
    FAudioFrame = av_frame_alloc();
    if (!FAudioFrame) {
        error = "Out of memory";
        return false;
    }
    FAudioFrame->format = c.sample_fmt;
    FAudioFrame->sample_rate = c.sample_rate;
    FAudioFrame->nb_samples = c.frame_size > 0 ? c.frame_size : 1024;
    av_channel_layout_copy(&FAudioFrame->ch_layout, &c.ch_layout);
    if (av_frame_get_buffer(FAudioFrame, 0) < 0) {
        error = "Out of memory";
        return false;
    }
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, std::max<int>(in.nChannels, 1));
    result = swr_alloc_set_opts2(&FResampler, &c.ch_layout, c.sample_fmt, FAudioRate, &inLayout, inFormat,
                                 static_cast<int>(in.nSamplesPerSec), 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (result < 0 || (result = swr_init(FResampler)) < 0) {
        error = "Resampler: " + FfmpegErrorText(result);
        return false;
    }
    FFifo = av_audio_fifo_alloc(c.sample_fmt, FAudioChannels, FAudioRate);
    if (!FFifo) {
        error = "Out of memory";
        return false;
    }
    FAudioStream = avformat_new_stream(FOutput, nullptr);
    if (!FAudioStream || avcodec_parameters_from_context(FAudioStream->codecpar, FAudioCodec) < 0) {
        error = "Muxer: cannot add the audio stream";
        return false;
    }
    FAudioStream->time_base = c.time_base;
    return true;
}

bool TPublishSession::Connect(std::string& error) {
    auto failed = [&](const char* stage, int result) {
        const bool timedOut = FDeadlineNs != 0 && NowNs() > FDeadlineNs && !FStop;
        error = std::string(stage) + ": " +
                (timedOut ? "no answer within " + std::to_string(static_cast<int>(kConnectSeconds)) + " s"
                          : FfmpegErrorText(result));
        return false;
    };
    Arm(kConnectSeconds);
    if (!(FOutput->oformat->flags & AVFMT_NOFILE)) {
        const int result = avio_open2(&FOutput->pb, FTarget.Url.c_str(), AVIO_FLAG_WRITE,
                                      &FOutput->interrupt_callback, nullptr);
        if (result < 0) {
            return failed("Connect", result);
        }
    }
    AVDictionary* options = nullptr;
    if (FTarget.Muxer == "flv") {
        av_dict_set(&options, "flvflags", "no_duration_filesize", 0);
    } else if (FTarget.Muxer == "rtsp") {
        av_dict_set(&options, "rtsp_transport", "tcp", 0);
    }
    const int result = avformat_write_header(FOutput, &options);
    av_dict_free(&options);
    if (result < 0) {
        return failed(FOutput->oformat->flags & AVFMT_NOFILE ? "Connect" : "Stream header", result);
    }
    FHeaderWritten = true;
    FDeadlineNs = 0;
    return true;
}

void TPublishSession::StartClock(TPublishClock::time_point time) {
    if (!FClockStarted) {
        FClockStarted = true;
        FOrigin = time;
    }
}

bool TPublishSession::Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string& error) {
    int result = avcodec_send_frame(codec, frame);
    if (result < 0) {
        error = "Encoder: " + FfmpegErrorText(result);
        return false;
    }
    while (true) {
        result = avcodec_receive_packet(codec, FPacket);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return true;
        }
        if (result < 0) {
            error = "Encoder: " + FfmpegErrorText(result);
            return false;
        }
        av_packet_rescale_ts(FPacket, codec->time_base, stream->time_base);
        FPacket->stream_index = stream->index;
        Arm(kWriteSeconds);
        const auto writeStarted = TPublishClock::now();
        result = av_interleaved_write_frame(FOutput, FPacket);
        FWriteSeconds += Seconds(TPublishClock::now() - writeStarted);
        const bool timedOut = result < 0 && NowNs() > FDeadlineNs && !FStop;
        FDeadlineNs = 0;
        if (result < 0) {
            error = "Send: " + (timedOut ? "the server took nothing for " +
                                               std::to_string(static_cast<int>(kWriteSeconds)) + " s"
                                         : FfmpegErrorText(result));
            return false;
        }
    }
}

bool TPublishSession::WriteFrame(const TQueuedFrame& frame, std::string& error) {
    if (!FVideoStream || frame.Width <= 0 || frame.Height <= 0 ||
        (frame.BitsPerPixel != 24 && frame.BitsPerPixel != 8)) {
        return true;
    }
    StartClock(frame.Time);
    const double exact = Seconds(frame.Time - FOrigin) * FFormat.FrameRateNum / FFormat.FrameRateDen;
    if (exact < -0.5) {
        ++FFramesSkipped;
        return true;
    }
    int64_t pts = std::llround(exact);
    if (pts <= FLastVideoPts) {
        // Its slot is taken: a frame stamped more than a frame late would stretch the stream's clock.
        if (static_cast<double>(FLastVideoPts + 1) - exact > 1.0) {
            ++FFramesSkipped;
            return true;
        }
        pts = FLastVideoPts + 1;
    }
    const auto started = TPublishClock::now();
    const AVPixelFormat source = frame.BitsPerPixel == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_GRAY8;
    FScaler = sws_getCachedContext(FScaler, frame.Width, frame.Height, source, FVideoCodec->width,
                                   FVideoCodec->height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                   nullptr);
    if (!FScaler || av_frame_make_writable(FVideoFrame) < 0) {
        error = "Scaler: cannot convert the frame";
        return false;
    }
    // The bitmap holds its bottom row first: a negative stride from the last row reads it upright.
    const uint8_t* rows[1] = {frame.Pixels.data() + (static_cast<size_t>(frame.Height) - 1) * frame.Stride};
    const int strides[1] = {-static_cast<int>(frame.Stride)};
    sws_scale(FScaler, rows, strides, 0, frame.Height, FVideoFrame->data, FVideoFrame->linesize);
    FVideoFrame->pts = pts;
    FLastVideoPts = pts;
    const double writeBefore = FWriteSeconds;
    const bool ok = Encode(FVideoCodec, FVideoStream, FVideoFrame, error);
    FEncodeSeconds += Seconds(TPublishClock::now() - started) - (FWriteSeconds - writeBefore);
    if (ok) {
        ++FFramesWritten;
    }
    return ok;
}

bool TPublishSession::EncodeAudioFifo(std::string& error) {
    const int frameSize = FAudioFrame->nb_samples;
    while (av_audio_fifo_size(FFifo) >= frameSize) {
        if (av_frame_make_writable(FAudioFrame) < 0) {
            error = "Out of memory";
            return false;
        }
        av_audio_fifo_read(FFifo, reinterpret_cast<void**>(FAudioFrame->data), frameSize);
        FAudioFrame->pts = FAudioPts;
        FAudioPts += frameSize;
        if (!Encode(FAudioCodec, FAudioStream, FAudioFrame, error)) {
            return false;
        }
    }
    return true;
}

bool TPublishSession::WriteSilence(int64_t samples, std::string& error) {
    std::vector<float> zeros(static_cast<size_t>(FAudioFrame->nb_samples), 0.0f);
    std::array<void*, 2> planes = {zeros.data(), zeros.data()};
    while (samples > 0) {
        const int count = static_cast<int>(std::min<int64_t>(samples, static_cast<int64_t>(zeros.size())));
        av_audio_fifo_write(FFifo, planes.data(), count);
        FAudioSamples += count;
        samples -= count;
        if (!EncodeAudioFifo(error)) {
            return false;
        }
    }
    return true;
}

bool TPublishSession::WritePcm(const TQueuedPcm& pcm, std::string& error) {
    const TWaveFormatEx& in = pcm.Format;
    const size_t frameBytes =
        static_cast<size_t>(in.wBitsPerSample / 8) * std::max<uint16_t>(in.nChannels, 1);
    if (!FAudioStream || frameBytes == 0 || in.nSamplesPerSec == 0 ||
        in.wBitsPerSample != FFormat.AudioFormat.wBitsPerSample ||
        in.nChannels != FFormat.AudioFormat.nChannels ||
        in.nSamplesPerSec != FFormat.AudioFormat.nSamplesPerSec) {
        return true;
    }
    const int inSamples = static_cast<int>(pcm.Bytes.size() / frameBytes);
    if (inSamples == 0) {
        return true;
    }
    const auto start =
        pcm.Time - std::chrono::duration_cast<TPublishClock::duration>(
                       std::chrono::duration<double>(static_cast<double>(inSamples) / in.nSamplesPerSec));
    StartClock(start);

    const int capacity = swr_get_out_samples(FResampler, inSamples);
    if (capacity <= 0) {
        return true;
    }
    FAudioScratch.resize(static_cast<size_t>(capacity) * FAudioChannels);
    float* second = FAudioChannels > 1 ? FAudioScratch.data() + capacity : FAudioScratch.data();
    std::array<uint8_t*, 2> out = {reinterpret_cast<uint8_t*>(FAudioScratch.data()),
                                   reinterpret_cast<uint8_t*>(second)};
    const uint8_t* input[1] = {pcm.Bytes.data()};
    const int produced = swr_convert(FResampler, out.data(), capacity, input, inSamples);
    if (produced < 0) {
        error = "Resampler: " + FfmpegErrorText(produced);
        return false;
    }
    // The viewers' sound is scaled by "Volume"; here it saturates instead of wrapping around.
    const auto gain = static_cast<float>(std::max(pcm.Volume, 1));
    for (int channel = 0; channel < FAudioChannels; ++channel) {
        float* samples = reinterpret_cast<float*>(out[static_cast<size_t>(channel)]);
        for (int i = 0; i < produced; ++i) {
            samples[i] = std::clamp(samples[i] * gain, -1.0f, 1.0f);
        }
    }

    // Keep the sound on the capture clock: buffers dropped on the way, or a device clock that drifts,
    // would otherwise shift it against the picture.
    const auto startSample = static_cast<int64_t>(std::llround(Seconds(start - FOrigin) * FAudioRate));
    const auto tolerance = static_cast<int64_t>(FAudioStarted ? kAudioResyncSeconds * FAudioRate : 0);
    FAudioStarted = true;
    int skip = 0;
    if (startSample > FAudioSamples + tolerance) {
        const int64_t gap = startSample - FAudioSamples;
        if (gap > static_cast<int64_t>(kAudioMaxFillSeconds * FAudioRate)) {
            const int64_t partial = av_audio_fifo_size(FFifo);
            if (partial > 0 && !WriteSilence(FAudioFrame->nb_samples - partial, error)) {
                return false;
            }
            FAudioSamples = FAudioPts = startSample;
        } else if (!WriteSilence(gap, error)) {
            return false;
        }
    } else if (startSample < FAudioSamples - tolerance) {
        skip = static_cast<int>(std::min<int64_t>(FAudioSamples - startSample, produced));
    }
    if (produced > skip) {
        std::array<void*, 2> planes = {out[0] + static_cast<size_t>(skip) * sizeof(float),
                                       out[1] + static_cast<size_t>(skip) * sizeof(float)};
        av_audio_fifo_write(FFifo, planes.data(), produced - skip);
        FAudioSamples += produced - skip;
    }
    return EncodeAudioFifo(error);
}

void TPublishSession::Close() {
    if (FOutput) {
        FClosing = true;
        if (FHeaderWritten) {
            Arm(kTrailerSeconds);
            av_write_trailer(FOutput);
        }
        if (!(FOutput->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&FOutput->pb);
        }
        avformat_free_context(FOutput);
        FOutput = nullptr;
        FVideoStream = nullptr;
        FAudioStream = nullptr;
        FHeaderWritten = false;
    }
    avcodec_free_context(&FVideoCodec);
    avcodec_free_context(&FAudioCodec);
    av_frame_free(&FVideoFrame);
    av_frame_free(&FAudioFrame);
    av_packet_free(&FPacket);
    sws_freeContext(FScaler);
    FScaler = nullptr;
    swr_free(&FResampler);
    if (FFifo) {
        av_audio_fifo_free(FFifo);
        FFifo = nullptr;
    }
    FDeadlineNs = 0;
}

std::string TPublishSession::VideoDescription() const {
    if (!FVideoCodec) {
        return {};
    }
    char rate[32];
    if (FFormat.FrameRateDen == 1) {
        std::snprintf(rate, sizeof rate, "%d fps", FFormat.FrameRateNum);
    } else {
        std::snprintf(rate, sizeof rate, "%.3f fps",
                      static_cast<double>(FFormat.FrameRateNum) / FFormat.FrameRateDen);
    }
    return "Video: H.264 " + std::to_string(FVideoCodec->width) + "x" + std::to_string(FVideoCodec->height) +
           " " + rate + ", " + std::to_string(FBitrateKbps) + " kbit/s, " + FFormat.Preset +
           ", keyframe every " + std::to_string(FVideoCodec->gop_size) + " frames";
}

std::string TPublishSession::AudioDescription() const {
    if (!FAudioCodec) {
        return {};
    }
    return "Audio: AAC " + std::to_string(FAudioRate) + " Hz, " + std::to_string(FAudioChannels) +
           (FAudioChannels == 1 ? " channel, " : " channels, ") +
           std::to_string(FAudioCodec->bit_rate / 1000) + " kbit/s";
}

double TPublishSession::MeanEncodeSeconds() const {
    return FFramesWritten == 0 ? 0.0 : FEncodeSeconds / static_cast<double>(FFramesWritten);
}

double TPublishSession::FramePeriodSeconds() const {
    return static_cast<double>(FFormat.FrameRateDen) / FFormat.FrameRateNum;
}

} // namespace sw
