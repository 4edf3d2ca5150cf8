// Frame conversion speed, side by side in one run: the literal per-byte definition, the plain
// per-pixel loop, the row-at-a-time stream, libyuv's SIMD converter for the same format, and
// libjpeg-turbo encoding the converted frame at quality 75. Prints the ratios the targets are about.

#include "video/VideoImageStream.h"
#include "video/YuvReference.h"
#include "video/YuvRows.h"

#include "shared/RatioReporter.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <libyuv.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace sw;

struct TCase {
    const char* Name;
    uint32_t Compression;
    int32_t Width;
    int32_t Height;
};

const TCase kCases[] = {
    {"UYVY", kFourCcUyvy, 640, 480},  {"YV12", kFourCcYv12, 640, 480},  {"YVU9", kFourCcYvu9, 640, 480},
    {"UYVY", kFourCcUyvy, 1280, 720}, {"YV12", kFourCcYv12, 1280, 720}, {"YVU9", kFourCcYvu9, 1280, 720},
};

// A camera-like picture: smooth shading with sensor noise, so the encoder works as hard as on video.
struct TFrame {
    TBitmapInfoHeader Info{};
    TVideoFormatBuffer Format{};
    std::vector<uint8_t> Bytes;
    TVideoHdr Header;

    explicit TFrame(const TCase& c) {
        Info.biSize = 40;
        Info.biWidth = c.Width;
        Info.biHeight = c.Height;
        Info.biPlanes = 1;
        Info.biBitCount = 16;
        Info.biCompression = c.Compression;
        Info.biSizeImage = FrameBytesOf(Info);
        Format = VideoFormatOf(Info);
        Bytes.resize(Info.biSizeImage);
        std::mt19937 random(1);
        for (size_t i = 0; i < Bytes.size(); ++i) {
            double x = static_cast<double>(i % static_cast<size_t>(c.Width));
            double y = static_cast<double>(i / static_cast<size_t>(c.Width));
            double shade =
                128 + 70 * std::sin(x / 37.0) * std::cos(y / 29.0) + static_cast<int>(random() % 9) - 4;
            Bytes[i] = static_cast<uint8_t>(std::clamp(shade, 0.0, 255.0));
        }
        Header.lpData = Bytes.data();
        Header.dwBufferLength = Header.dwBytesUsed = static_cast<uint32_t>(Bytes.size());
    }
    size_t Stride() const { return (static_cast<size_t>(Info.biWidth) * 3 + 3) & ~size_t{3}; }
    size_t PixelBytes() const { return Stride() * static_cast<size_t>(Info.biHeight); }
};

// Reads the presented file the way a bitmap loader does: headers, then the pixel area in one go.
void ReadStream(TFrame& frame, std::vector<uint8_t>& out) {
    TVideoImageStream stream(frame.Format);
    stream.SetFrame(&frame.Header);
    stream.Seek(0, TStream::soBeginning);
    out.resize(stream.FileSize());
    stream.Read(out.data(), 14);
    stream.Read(out.data() + 14, 40);
    stream.Read(out.data() + 54, static_cast<int32_t>(out.size() - 54));
}

class TJpegEncoder {
public:
    TJpegEncoder() {
        FInfo.err = jpeg_std_error(&FError);
        jpeg_create_compress(&FInfo);
    }
    ~TJpegEncoder() {
        jpeg_destroy_compress(&FInfo);
        std::free(FBuffer);
    }
    // Encodes a bottom-up BGR pixel area, picture upright, reusing the output buffer.
    size_t Encode(const uint8_t* pixels, int width, int height, size_t stride) {
        jpeg_mem_dest(&FInfo, &FBuffer, &FSize);
        FInfo.image_width = static_cast<JDIMENSION>(width);
        FInfo.image_height = static_cast<JDIMENSION>(height);
        FInfo.input_components = 3;
        FInfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&FInfo);
        jpeg_set_quality(&FInfo, 75, TRUE);
        jpeg_start_compress(&FInfo, TRUE);
        while (FInfo.next_scanline < FInfo.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(
                pixels + (static_cast<size_t>(height) - 1 - FInfo.next_scanline) * stride);
            jpeg_write_scanlines(&FInfo, &row, 1);
        }
        jpeg_finish_compress(&FInfo);
        return FSize;
    }

private:
    jpeg_compress_struct FInfo{};
    jpeg_error_mgr FError{};
    unsigned char* FBuffer = nullptr;
    unsigned long FSize = 0;
};

std::string Key(const TCase& c, const char* contender) {
    return std::string(c.Name) + "/" + std::to_string(c.Width) + "x" + std::to_string(c.Height) + "/" +
           contender;
}

void Register(const TCase& c) {
    benchmark::RegisterBenchmark(Key(c, "reference").c_str(), [c](benchmark::State& state) {
        TFrame frame(c);
        std::vector<uint8_t> out(frame.PixelBytes());
        for (auto _ : state) {
            for (size_t o = 0; o < out.size(); ++o) {
                out[o] = test::ReferencePixelByte(frame.Info, frame.Bytes, static_cast<long>(o)).Value;
            }
            benchmark::DoNotOptimize(out.data());
        }
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(Key(c, "per-pixel").c_str(), [c](benchmark::State& state) {
        TFrame frame(c);
        std::vector<uint8_t> out;
        SetYuvKernel(TYuvKernel::Scalar);
        for (auto _ : state) {
            ReadStream(frame, out);
            benchmark::DoNotOptimize(out.data());
        }
        SetYuvKernel(BestYuvKernel());
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(Key(c, "stream").c_str(), [c](benchmark::State& state) {
        TFrame frame(c);
        std::vector<uint8_t> out;
        for (auto _ : state) {
            ReadStream(frame, out);
            benchmark::DoNotOptimize(out.data());
        }
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(Key(c, "libyuv").c_str(), [c](benchmark::State& state) {
        TFrame frame(c);
        int w = c.Width;
        int h = c.Height;
        std::vector<uint8_t> out(frame.PixelBytes());
        std::vector<uint8_t> argb(static_cast<size_t>(w) * 4 * static_cast<size_t>(h));
        // libyuv has no 4:1:0 converter: YVU9 is compared with its 4:2:0 converter on a frame of the
        // same size, the nearest it offers.
        TFrame yv12({"YV12", kFourCcYv12, w, h});
        const uint8_t* y = yv12.Bytes.data();
        const uint8_t* v = y + static_cast<size_t>(w) * h;
        const uint8_t* u = v + static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2);
        int stride = static_cast<int>(frame.Stride());
        for (auto _ : state) {
            if (c.Compression == kFourCcUyvy) {
                // Negative heights turn the picture bottom-up, as the bitmap is.
                libyuv::UYVYToARGB(frame.Bytes.data(), 2 * w, argb.data(), 4 * w, w, -h);
                libyuv::ARGBToRGB24(argb.data(), 4 * w, out.data(), stride, w, h);
            } else {
                libyuv::I420ToRGB24(y, w, u, (w + 1) / 2, v, (w + 1) / 2, out.data(), stride, w, -h);
            }
            benchmark::DoNotOptimize(out.data());
        }
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(Key(c, "jpeg").c_str(), [c](benchmark::State& state) {
        TFrame frame(c);
        std::vector<uint8_t> bmp;
        ReadStream(frame, bmp);
        TJpegEncoder encoder;
        size_t bytes = 0;
        for (auto _ : state) {
            bytes = encoder.Encode(bmp.data() + 54, c.Width, c.Height, frame.Stride());
            benchmark::DoNotOptimize(bytes);
        }
        state.counters["jpeg_bytes"] = static_cast<double>(bytes);
    })->Unit(benchmark::kMicrosecond);
}

using TRatioReporter = sw::bench::TRatioReporter;

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (const TCase& c : kCases) {
        Register(c);
    }
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-16s %12s %12s %12s %12s %12s | %10s %10s %10s %10s\n", "frame", "reference", "per-pixel",
                "stream", "libyuv", "jpeg q75", "ref/strm", "strm/yuv", "strm/jpeg", "pix/jpeg");
    std::printf("%-16s %12s %12s %12s %12s %12s | %10s %10s %10s %10s\n", "", "us", "us", "us", "us", "us",
                ">= 20", "<= 1.5", "<= 0.25", "");
    for (const TCase& c : kCases) {
        auto time = [&](const char* contender) {
            auto found = reporter.Times.find(Key(c, contender));
            return found == reporter.Times.end() ? NAN : found->second;
        };
        double reference = time("reference");
        double perPixel = time("per-pixel");
        double stream = time("stream");
        double yuv = time("libyuv");
        double jpeg = time("jpeg");
        std::string frame =
            std::string(c.Name) + " " + std::to_string(c.Width) + "x" + std::to_string(c.Height);
        std::printf("%-16s %12.1f %12.1f %12.1f %12.1f %12.1f | %10.1f %10.2f %10.3f %10.3f\n", frame.c_str(),
                    reference, perPixel, stream, yuv, jpeg, reference / stream, stream / yuv, stream / jpeg,
                    perPixel / jpeg);
    }
    return 0;
}
