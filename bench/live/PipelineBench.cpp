// Per-frame cost of the live pipeline, side by side in one run: the video thread's ProcessFrame (present
// the UYVY frame as a BMP, load the bitmap, draw the "Date & Time" overlay, encode at quality 75, build
// the packet) against libjpeg-turbo alone encoding the same BGR frame, at 640x480 and 1280x720, with
// TurboJPEG and with the linked libjpeg. Prints the ratios the target is about (pipeline / bare <= 1.25)
// for the fastest repetitions (by default 12 repetitions, in random order). The median and 90th
// percentile come from the same contenders alternating in short blocks of frames, timed in the
// thread's CPU time (see Alternate): on a shared machine whole repetitions drift apart by 20 % and
// more, so pairing them measured the machine more than the pipeline.

#include "config/Configuration.h"
#include "platform/capture/CaptureDriverTable.h"
#include "platform/capture/TestPatternDriver.h"
#include "video/CaptureControl.h"
#include "video/Overlay.h"
#include "video/VideoImageStream.h"
#include "video/VideoThread.h"
#include "video/YuvRows.h"

#include "shared/RatioReporter.h"
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sw;

struct TSize {
    int32_t Width;
    int32_t Height;
};
const TSize kSizes[] = {{640, 480}, {1280, 720}};
constexpr int kBlockFrames = 4;
constexpr int kBlockPairs = 100;

// A camera-like UYVY frame: smooth shading with sensor noise, so the encoder works as hard as on video.
struct TFrame {
    TBitmapInfoHeader Info;
    TVideoFormatBuffer Format;
    std::vector<uint8_t> Bytes;
    TVideoHdr Header;
    TBitmap Bgr;

    explicit TFrame(TSize size) : Info(TTestPatternDriver::FormatOf(size.Width, size.Height, kFourCcUyvy)) {
        Format = VideoFormatOf(Info);
        Bytes.resize(FrameBytesOf(Info));
        std::mt19937 random(1);
        const auto rowBytes = static_cast<size_t>(size.Width) * 2;
        for (size_t i = 0; i < Bytes.size(); ++i) {
            const double x = static_cast<double>(i % rowBytes) / 2;
            const double y = static_cast<double>(i / rowBytes);
            const double shade =
                128 + 70 * std::sin(x / 37.0) * std::cos(y / 29.0) + static_cast<int>(random() % 9) - 4;
            Bytes[i] = static_cast<uint8_t>(std::clamp(shade, 0.0, 255.0));
        }
        Header.lpData = Bytes.data();
        Header.dwBufferLength = Header.dwBytesUsed = static_cast<uint32_t>(Bytes.size());
        TVideoImageStream stream(Format);
        stream.SetFrame(&Header);
        stream.Seek(0, TStream::soBeginning);
        std::string error;
        if (!Bgr.LoadFromStream(stream, error)) {
            std::fprintf(stderr, "frame: %s\n", error.c_str());
            std::exit(1);
        }
    }
};

// libjpeg-turbo's libjpeg API alone: compressor and output block kept, all bottom-up BGR rows in one call.
class TBareLibjpeg {
public:
    TBareLibjpeg() {
        FInfo.err = jpeg_std_error(&FError);
        jpeg_create_compress(&FInfo);
    }
    ~TBareLibjpeg() {
        jpeg_destroy_compress(&FInfo);
        std::free(FBuffer);
    }
    size_t Encode(const TBitmap& bitmap) {
        if (!FBuffer) {
            // Room for any picture of this size, so the destination never grows while encoding.
            FCapacity = bitmap.ImageBytes() + 65536;
            FBuffer = static_cast<unsigned char*>(std::malloc(FCapacity));
        }
        FSize = FCapacity;
        jpeg_mem_dest(&FInfo, &FBuffer, &FSize);
        FRows.resize(static_cast<size_t>(bitmap.Height()));
        for (int32_t y = 0; y < bitmap.Height(); ++y) {
            FRows[static_cast<size_t>(y)] = const_cast<JSAMPROW>(bitmap.ScanLine(y));
        }
        FInfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
        FInfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
        FInfo.input_components = 3;
        FInfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&FInfo);
        jpeg_set_quality(&FInfo, 75, TRUE);
        jpeg_start_compress(&FInfo, TRUE);
        while (FInfo.next_scanline < FInfo.image_height) {
            jpeg_write_scanlines(&FInfo, FRows.data() + FInfo.next_scanline,
                                 FInfo.image_height - FInfo.next_scanline);
        }
        jpeg_finish_compress(&FInfo);
        return FSize;
    }

private:
    jpeg_compress_struct FInfo{};
    jpeg_error_mgr FError{};
    unsigned char* FBuffer = nullptr;
    unsigned long FCapacity = 0;
    unsigned long FSize = 0;
    std::vector<JSAMPROW> FRows;
};

// TurboJPEG alone, as libturbojpeg is linked here: one call on the bottom-up BGR bitmap.
class TBareTurbo {
public:
    ~TBareTurbo() { tjDestroy(FHandle); }
    size_t Encode(const TBitmap& bitmap) {
        const unsigned long room = tjBufSize(bitmap.Width(), bitmap.Height(), TJSAMP_420);
        FBuffer.resize(room);
        unsigned char* out = FBuffer.data();
        unsigned long size = room;
        tjCompress2(FHandle, bitmap.Bits(), bitmap.Width(), static_cast<int>(bitmap.Stride()),
                    bitmap.Height(), TJPF_BGR, &out, &size, TJSAMP_420, 75,
                    TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        return size;
    }

private:
    tjhandle FHandle = tjInitCompress();
    std::vector<unsigned char> FBuffer;
};

class TCountingSink : public TVideoPacketSink {
public:
    void SendFrame(const TVideoPacketHeader&, const uint8_t*, size_t jpegBytes) override {
        Bytes = jpegBytes;
    }
    size_t Bytes = 0;
};

class TNullWindow : public QObject {
protected:
    bool event(QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(WM_LOGENTRY)) {
            return true;
        }
        return QObject::event(e);
    }
};

// The capture control on the test pattern device with its video thread started; the bench calls the
// thread's ProcessFrame itself on this (the main) thread and never serves the thread's grabs.
struct TRig {
    QTemporaryDir Dir;
    std::unique_ptr<TConfiguration> Config;
    TNullWindow Window;
    TCountingSink Sink;
    std::unique_ptr<TCaptureControl> Control;

    explicit TRig(TSize size) {
        Config = std::make_unique<TConfiguration>(Dir.filePath(QStringLiteral("bench.ini")).toStdString());
        Config->Reload();
        SetConfiguration(Config.get());
        const std::vector<std::string> names = Config->Video().DeviceNameList();
        Config->Video().SetDevice(
            static_cast<int32_t>(std::find(names.begin(), names.end(), kTestPatternName) - names.begin()));
        Config->Video().SetEnabled(true);
        Config->Text().SetFormat(3);
        Config->SetJpegQuality(75);
        Control = std::make_unique<TCaptureControl>(&Window);
        Control->SetVideoServer(&Sink);
        if (!Control->InitializeVideo()) {
            std::exit(1);
        }
        dynamic_cast<TTestPatternDriver&>(*Control->CaptureWindow()->Driver())
            .SetFormat(size.Width, size.Height, kFourCcUyvy);
        Control->StartVideo();
        while (Control->CaptureWindow()->GetUserData() == 0 ||
               Control->CaptureWindow()->PendingRequests() > 0) {
            Control->CaptureWindow()->ServeRequests();
        }
    }
    ~TRig() {
        Control.reset();
        SetConfiguration(nullptr);
        QCoreApplication::sendPostedEvents();
    }
};

std::string Key(TSize size, const char* contender) {
    return std::to_string(size.Width) + "x" + std::to_string(size.Height) + "/" + contender;
}

void Register(TSize size) {
    benchmark::RegisterBenchmark(Key(size, "bare-libjpeg").c_str(), [size](benchmark::State& state) {
        TFrame frame(size);
        TBareLibjpeg encoder;
        size_t bytes = 0;
        for (auto _ : state) {
            bytes = encoder.Encode(frame.Bgr);
            benchmark::DoNotOptimize(bytes);
        }
        state.counters["jpeg_bytes"] = static_cast<double>(bytes);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(Key(size, "bare-turbo").c_str(), [size](benchmark::State& state) {
        TFrame frame(size);
        TBareTurbo encoder;
        size_t bytes = 0;
        for (auto _ : state) {
            bytes = encoder.Encode(frame.Bgr);
            benchmark::DoNotOptimize(bytes);
        }
        state.counters["jpeg_bytes"] = static_cast<double>(bytes);
    })->Unit(benchmark::kMicrosecond);
    for (const bool turbo : {false, true}) {
        benchmark::RegisterBenchmark(Key(size, turbo ? "pipeline-turbo" : "pipeline-libjpeg").c_str(),
                                     [size, turbo](benchmark::State& state) {
                                         turbo ? LoadIjl() : (UnloadIjl(), true);
                                         TFrame frame(size);
                                         TRig rig(size);
                                         TVideoThread& thread = *rig.Control->VideoThread();
                                         const uint32_t notSent = thread.FramesNotSent();
                                         for (auto _ : state) {
                                             thread.ProcessFrame(frame.Header);
                                         }
                                         if (thread.FramesNotSent() != notSent || rig.Sink.Bytes == 0) {
                                             state.SkipWithError("frames were not sent");
                                         }
                                         state.counters["jpeg_bytes"] = static_cast<double>(rig.Sink.Bytes);
                                         LoadIjl();
                                     })
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark(Key(size, "present+load").c_str(), [size](benchmark::State& state) {
        TFrame frame(size);
        TVideoImageStream stream(frame.Format);
        TBitmap bitmap;
        std::string error;
        for (auto _ : state) {
            stream.SetFrame(&frame.Header);
            stream.Seek(0, TStream::soBeginning);
            bitmap.LoadFromStream(stream, error);
            benchmark::DoNotOptimize(bitmap.Bits());
        }
    })->Unit(benchmark::kMicrosecond);
    // The clock changes the text once a second: at 30 frames per second 29 frames reuse the painted text.
    for (const bool fresh : {false, true}) {
        benchmark::RegisterBenchmark(Key(size, fresh ? "overlay-new-text" : "overlay-same-text").c_str(),
                                     [size, fresh](benchmark::State& state) {
                                         TFrame frame(size);
                                         TOverlaySettings settings;
                                         settings.Format = 3;
                                         TOverlayPainter painter;
                                         uint32_t n = 0;
                                         for (auto _ : state) {
                                             const std::string text = OverlayText(settings, 30.0, ++n, [&] {
                                                 return fresh ? n / 86400.0 : 1.0;
                                             });
                                             painter.Draw(frame.Bgr, text, settings);
                                         }
                                     })
            ->Unit(benchmark::kMicrosecond);
    }
}

using TRatioReporter = sw::bench::TRatioReporter;

double ThreadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Seconds of this thread's CPU per frame over a block of frames.
template <typename F>
double TimeBlock(F&& encodeOne, int frames) {
    const double start = ThreadSeconds();
    for (int i = 0; i < frames; ++i) {
        encodeOne();
    }
    return (ThreadSeconds() - start) / frames;
}

struct TAlternation {
    std::vector<double> Ratios; // pipeline / bare per pair of blocks, sorted
    double BareMedian = 0;
    double PipelineMedian = 0;
};

// Blocks of a few frames, bare then pipeline and pipeline then bare by turns, so that a slow moment of
// the machine or a frequency change weighs on both sides of a pair alike. Thread CPU time leaves out the
// time other processes hold the core.
TAlternation Alternate(TSize size, bool turbo, int pairs, int frames) {
    turbo ? LoadIjl() : (UnloadIjl(), true);
    TFrame frame(size);
    TRig rig(size);
    TVideoThread& thread = *rig.Control->VideoThread();
    TBareLibjpeg bareLibjpeg;
    TBareTurbo bareTurbo;
    auto bare = [&] {
        benchmark::DoNotOptimize(turbo ? bareTurbo.Encode(frame.Bgr) : bareLibjpeg.Encode(frame.Bgr));
    };
    auto pipeline = [&] { thread.ProcessFrame(frame.Header); };
    TimeBlock(bare, frames);
    TimeBlock(pipeline, frames);
    TAlternation result;
    std::vector<double> bareTimes;
    std::vector<double> pipelineTimes;
    for (int i = 0; i < pairs; ++i) {
        double b;
        double p;
        if (i % 2 == 0) {
            b = TimeBlock(bare, frames);
            p = TimeBlock(pipeline, frames);
        } else {
            p = TimeBlock(pipeline, frames);
            b = TimeBlock(bare, frames);
        }
        bareTimes.push_back(b);
        pipelineTimes.push_back(p);
        result.Ratios.push_back(p / b);
    }
    std::sort(result.Ratios.begin(), result.Ratios.end());
    std::sort(bareTimes.begin(), bareTimes.end());
    std::sort(pipelineTimes.begin(), pipelineTimes.end());
    result.BareMedian = bench::Quantile(bareTimes, 0.5);
    result.PipelineMedian = bench::Quantile(pipelineTimes, 0.5);
    LoadIjl();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QGuiApplication application(argc, argv);
    LoadIjl();
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=12";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    auto given = [&](const char* prefix) {
        return std::any_of(args.begin(), args.end(),
                           [&](const char* a) { return std::strncmp(a, prefix, std::strlen(prefix)) == 0; });
    };
    if (!given("--benchmark_repetitions")) {
        args.push_back(repetitions.data());
    }
    if (!given("--benchmark_enable_random_interleaving")) {
        args.push_back(interleaving.data());
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    for (const TSize& size : kSizes) {
        Register(size);
    }
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-10s %10s %10s %10s %10s %10s %10s %10s | %10s %10s\n", "frame", "bare jpeg", "bare tj",
                "pipe jpeg", "pipe tj", "load", "ovl same", "ovl new", "jpeg ratio", "tj ratio");
    std::printf("%-10s %10s %10s %10s %10s %10s %10s %10s | %10s %10s\n", "", "us", "us", "us", "us", "us",
                "us", "us", "<= 1.25", "<= 1.25");
    for (const TSize& size : kSizes) {
        auto time = [&](const char* contender) {
            const auto found = reporter.Times.find(Key(size, contender));
            return found == reporter.Times.end() ? NAN : found->second;
        };
        const std::string frame = std::to_string(size.Width) + "x" + std::to_string(size.Height);
        std::printf("%-10s %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f | %10.3f %10.3f\n", frame.c_str(),
                    time("bare-libjpeg"), time("bare-turbo"), time("pipeline-libjpeg"),
                    time("pipeline-turbo"), time("present+load"), time("overlay-same-text"),
                    time("overlay-new-text"), time("pipeline-libjpeg") / time("bare-libjpeg"),
                    time("pipeline-turbo") / time("bare-turbo"));
    }
    // The 256-bit kernel alongside the best one, where the best is wider, shows what the wider one buys.
    std::vector<TYuvKernel> kernels = {BestYuvKernel()};
    if (BestYuvKernel() == TYuvKernel::Avx512) {
        kernels.push_back(TYuvKernel::Avx2);
    }
    std::printf(
        "\n%-10s %-8s %-7s %10s %10s %14s %14s   (alternating blocks of %d frames, %d pairs, target <= "
        "1.25)\n",
        "frame", "encoder", "kernel", "bare us", "pipe us", "median ratio", "p90 ratio", kBlockFrames,
        kBlockPairs);
    for (const TSize& size : kSizes) {
        for (const bool turbo : {false, true}) {
            for (const TYuvKernel kernel : kernels) {
                SetYuvKernel(kernel);
                const TAlternation run = Alternate(size, turbo, kBlockPairs, kBlockFrames);
                const std::string frame = std::to_string(size.Width) + "x" + std::to_string(size.Height);
                std::printf("%-10s %-8s %-7s %10.1f %10.1f %14.3f %14.3f\n", frame.c_str(),
                            turbo ? "turbo" : "libjpeg", YuvKernelName(kernel), run.BareMedian * 1e6,
                            run.PipelineMedian * 1e6, bench::Quantile(run.Ratios, 0.5),
                            bench::Quantile(run.Ratios, 0.9));
            }
        }
    }
    SetYuvKernel(BestYuvKernel());
    UnloadIjl();
    return 0;
}
