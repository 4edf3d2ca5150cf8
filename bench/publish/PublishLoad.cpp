// Publishing at 640x480, 30 fps: the engine broadcasts the test pattern and the test tone in this
// process, once without publishing, once publishing to a private nginx-rtmp, and once more publishing
// without the tone, with one viewer on the built-in video port each time. Prints, side by side: the video
// thread's frame rate, the viewer's rate, the CPU share of the publisher's threads (the "publish" thread and
// the encoder threads it starts) and of the main thread, and the delay from the frame's hand-over to the
// publisher to its arrival, decoded, at an RTMP client of nginx (matched by the frame number the test pattern
// draws). Exits 1 when the viewer falls below 29 fps while publishing.
//
//   publish_load [--seconds S]

#include "bench/live/LiveViewers.h"
#include "common/NginxRtmp.h"
#include "common/PatternReader.h"
#include "config/Configuration.h"
#include "engine/BroadcastController.h"
#include "engine/Clients.h"
#include "engine/DataModuleMain.h"
#include "engine/ProgramLifecycle.h"
#include "video/JpegConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;

// CPU seconds of this process's threads, by thread name.
std::map<std::string, double> ThreadCpuSeconds() {
    std::map<std::string, double> seconds;
    const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) {
        return seconds;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t open = stat.find('(');
        const size_t close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) {
            continue;
        }
        const std::string name = stat.substr(open + 1, close - open - 1);
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double utime = 0;
        double stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14) {
                utime = std::atof(field.c_str());
            } else if (i == 15) {
                stime = std::atof(field.c_str());
                break;
            }
        }
        seconds[name] += (utime + stime) / tick;
    }
    ::closedir(dir);
    return seconds;
}

// Notes when each frame number of the test pattern was handed to the publisher, then hands it on.
class TTimingTap : public TFrameTap {
public:
    explicit TTimingTap(TFrameTap& next) : FNext(next) {}
    void FrameReady(const TBitmap& frame, uint32_t frameNumber) override {
        const long number = test::ReadPatternCounter(frame.ScanLine(0), frame.Width(), frame.Height(),
                                                     -static_cast<std::ptrdiff_t>(frame.Stride()));
        if (number >= 0) {
            std::lock_guard lock(Lock);
            HandedOver[number] = TClock::now();
        }
        FNext.FrameReady(frame, frameNumber);
    }
    std::mutex Lock;
    std::map<long, TClock::time_point> HandedOver;

private:
    TFrameTap& FNext;
};

// An RTMP client of nginx that decodes every frame and notes when each frame number arrived.
class TRtmpWatcher {
public:
    explicit TRtmpWatcher(std::string url) : FUrl(std::move(url)), FThread([this] { Run(); }) {}
    ~TRtmpWatcher() {
        Stop = true;
        FThread.join();
    }
    std::atomic<bool> Stop{false};
    std::mutex Lock;
    std::map<long, TClock::time_point> Arrived;

private:
    static int Interrupt(void* opaque) { return static_cast<TRtmpWatcher*>(opaque)->Stop ? 1 : 0; }

    void Run() {
        AVFormatContext* input = avformat_alloc_context();
        input->interrupt_callback = {&TRtmpWatcher::Interrupt, this};
        input->flags |= AVFMT_FLAG_NOBUFFER;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "rtmp_live", "live", 0);
        if (avformat_open_input(&input, FUrl.c_str(), nullptr, &options) < 0) {
            av_dict_free(&options);
            return;
        }
        av_dict_free(&options);
        // No stream probing: the decoder opens on the first video packet, whose stream then has its
        // parameters, so the frames are timed from the start.
        int stream = -1;
        AVCodecContext* decoder = nullptr;
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        SwsContext* scaler = nullptr;
        std::vector<uint8_t> rgb;
        while (!Stop && av_read_frame(input, packet) >= 0) {
            const AVCodecParameters* parameters = input->streams[packet->stream_index]->codecpar;
            if (stream < 0 && parameters->codec_type == AVMEDIA_TYPE_VIDEO) {
                const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
                decoder = avcodec_alloc_context3(codec);
                avcodec_parameters_to_context(decoder, parameters);
                decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
                if (avcodec_open2(decoder, codec, nullptr) >= 0) {
                    stream = packet->stream_index;
                }
            }
            if (packet->stream_index == stream && avcodec_send_packet(decoder, packet) >= 0) {
                while (avcodec_receive_frame(decoder, frame) >= 0) {
                    const auto now = TClock::now();
                    scaler = sws_getCachedContext(
                        scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                        frame->width, frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
                    rgb.resize(static_cast<size_t>(frame->width) * frame->height * 3);
                    uint8_t* rows[1] = {rgb.data()};
                    const int strides[1] = {frame->width * 3};
                    sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, rows, strides);
                    const long number =
                        test::ReadPatternCounter(rgb.data(), frame->width, frame->height, frame->width * 3);
                    if (number >= 0) {
                        std::lock_guard lock(Lock);
                        Arrived.emplace(number, now);
                    }
                }
            }
            av_packet_unref(packet);
        }
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&input);
    }

    std::string FUrl;
    std::thread FThread;
};

struct TPassResult {
    double VideoFps = 0;
    double ViewerFps = 0;
    double PublisherCpu = 0;
    double MainCpu = 0;
    std::vector<double> DelaysMs;
    TPublisher::TCounts Counts;
    // How long Stop held the main thread.
    double StopMs = 0;
};

void RunFor(double seconds) {
    const auto until = TClock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (TClock::now() < until) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

TPassResult RunPass(TBroadcastController& controller, TDataModuleMain& engine, double seconds,
                    const std::string& url, TTimingTap& tap) {
    TPassResult result;
    Configuration().Publish().SetRunUrl(url);
    if (!controller.Start()) {
        std::fprintf(stderr, "the broadcast did not start\n");
        return result;
    }
    const int port = engine.ServerSocketVideo.LocalPort();
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> viewerFrames{0};
    std::thread viewer([&] {
        const int fd = ConnectLoopback(port);
        TPacketReader reader;
        uint8_t buffer[65536];
        while (fd >= 0 && !stop) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                break;
            }
            reader.Feed(buffer, static_cast<size_t>(n), TClock::now(),
                        [&](uint32_t, TClock::time_point) { ++viewerFrames; });
        }
        if (fd >= 0) {
            ::close(fd);
        }
    });
    std::unique_ptr<TRtmpWatcher> watcher;
    // Settle: the connection, the encoder's start and the viewer's registration.
    RunFor(3);
    if (!url.empty()) {
        watcher = std::make_unique<TRtmpWatcher>(url);
        RunFor(2);
    }

    const auto cpuBefore = ThreadCpuSeconds();
    const uint32_t framesBefore = controller.Capture().VideoThread()->FramesSent();
    const uint64_t viewerBefore = viewerFrames;
    const auto started = TClock::now();
    RunFor(seconds);
    const double wall = MsBetween(started, TClock::now()) / 1000;
    const auto cpuAfter = ThreadCpuSeconds();
    result.VideoFps = (controller.Capture().VideoThread()->FramesSent() - framesBefore) / wall;
    result.ViewerFps = static_cast<double>(viewerFrames - viewerBefore) / wall;
    auto share = [&](const std::string& name) {
        auto after = cpuAfter.find(name);
        auto before = cpuBefore.find(name);
        return after == cpuAfter.end()
                   ? 0.0
                   : (after->second - (before == cpuBefore.end() ? 0.0 : before->second)) / wall;
    };
    result.PublisherCpu = share("publish");
    result.MainCpu = share(QCoreApplication::applicationName().toStdString().substr(0, 15));
    result.Counts = controller.Publisher().Counts();

    if (watcher) {
        watcher->Stop = true;
        std::lock_guard arrivedLock(watcher->Lock);
        std::lock_guard handedLock(tap.Lock);
        for (const auto& [number, arrived] : watcher->Arrived) {
            auto handed = tap.HandedOver.find(number);
            if (handed != tap.HandedOver.end()) {
                result.DelaysMs.push_back(MsBetween(handed->second, arrived));
            }
        }
    }
    watcher.reset();
    stop = true;
    const auto stopping = TClock::now();
    controller.Stop();
    result.StopMs = MsBetween(stopping, TClock::now());
    viewer.join();
    {
        std::lock_guard lock(tap.Lock);
        tap.HandedOver.clear();
    }
    return result;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 15;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--seconds") {
            seconds = std::atof(argv[i + 1]);
        } else {
            std::fprintf(stderr, "usage: publish_load [--seconds S]\n");
            return 2;
        }
    }
    const std::string missing = test::TNginxRtmp::Missing();
    if (!missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    test::TTempDir dir;
    const std::string ini = dir.File("streamwright.ini");
    std::ofstream(ini) << "[Video]\r\nEnabled=1\r\nDevice=Test Pattern\r\nPort=0\r\n"
                       << "[Audio]\r\nEnabled=1\r\nDevice=Test Tone\r\nPort=0\r\n[Web]\r\nEnabled=0\r\n"
                       << "[Text]\r\nFormat=3\r\nAlignmentVertical=2\r\n";
    QGuiApplication application(argc, argv);
    LoadIjl();
    auto program = std::make_unique<TProgramLifecycle>(ini);
    program->CreateEngine();
    TConfiguration* configuration = &program->Configuration();
    TDataModuleMain* engine = &program->Engine();
    engine->ServerSocketVideo.BindAddress = "127.0.0.1";
    TBroadcastController* controller = &program->Controller();
    TTimingTap tap(controller->Publisher());
    controller->Capture().SetFrameTap(&tap);
    while (!controller->DevicesInitialized()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }

    test::TNginxRtmp nginx;
    if (!nginx.Start()) {
        std::fprintf(stderr, "nginx did not start: %s\n", nginx.Errors().c_str());
        return 1;
    }
    const TPassResult without = RunPass(*controller, *engine, seconds, "", tap);
    const TPassResult with = RunPass(*controller, *engine, seconds, nginx.RtmpUrl("bench"), tap);
    // Without sound the muxer never waits for a sound packet to interleave with: the picture's own delay.
    configuration->Audio().SetEnabled(false);
    const TPassResult videoOnly = RunPass(*controller, *engine, seconds, nginx.RtmpUrl("bench2"), tap);

    std::printf("640x480 test pattern at 30 fps with the test tone, %.0f s per pass\n", seconds);
    std::printf("%-18s %10s %11s %14s %9s %12s %12s\n", "pass", "video fps", "viewer fps", "publisher CPU",
                "main CPU", "delay p50 ms", "delay p95 ms");
    std::printf("%-18s %10.1f %11.1f %14s %8.0f%% %12s %12s\n", "without publishing", without.VideoFps,
                without.ViewerFps, "-", without.MainCpu * 100, "-", "-");
    std::printf("%-18s %10.1f %11.1f %13.0f%% %8.0f%% %12.0f %12.0f\n", "publishing", with.VideoFps,
                with.ViewerFps, with.PublisherCpu * 100, with.MainCpu * 100, Percentile(with.DelaysMs, 0.5),
                Percentile(with.DelaysMs, 0.95));
    std::printf("%-18s %10.1f %11.1f %13.0f%% %8.0f%% %12.0f %12.0f\n", "publishing, no tone",
                videoOnly.VideoFps, videoOnly.ViewerFps, videoOnly.PublisherCpu * 100,
                videoOnly.MainCpu * 100, Percentile(videoOnly.DelaysMs, 0.5),
                Percentile(videoOnly.DelaysMs, 0.95));
    std::printf("viewer fps publishing / without: %.3f\n",
                without.ViewerFps > 0 ? with.ViewerFps / without.ViewerFps : 0);
    std::printf("Stop held the main thread %.0f ms without publishing, %.0f ms publishing\n", without.StopMs,
                with.StopMs);
    std::printf("frames handed to the publisher %llu, published %llu, matched at the RTMP client %zu\n",
                static_cast<unsigned long long>(with.Counts.FramesIn),
                static_cast<unsigned long long>(with.Counts.FramesPublished), with.DelaysMs.size());

    program.reset();
    UnloadIjl();
    return with.ViewerFps >= 29 ? 0 : 1;
}
