#pragma once

// Decodes JPEG pictures with the linked libjpeg, independently of the encoders under test, and
// compares pictures.

#include "video/Bitmap.h"

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace sw::test {

struct TDecodedJpeg {
    bool Ok = false;
    std::string Error;
    int Width = 0;
    int Height = 0;
    int Components = 0; // in the file
    bool Progressive = false;
    std::vector<uint8_t> Bgr; // top-down rows of Width blue-green-red pixels
    const uint8_t* Pixel(int x, int y) const { return Bgr.data() + (static_cast<size_t>(y) * Width + x) * 3; }
};

namespace detail {
struct TDecodeError {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};
inline void DecodeErrorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<TDecodeError*>(info->err);
    (*info->err->format_message)(info, error->Message);
    std::longjmp(error->Jump, 1);
}
inline bool DecodeInto(jpeg_decompress_struct& info, TDecodeError& error, const uint8_t* data, size_t size,
                       TDecodedJpeg& out) {
    if (setjmp(error.Jump) != 0) {
        return false;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    out.Components = info.num_components;
    out.Progressive = info.progressive_mode != 0;
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    out.Width = static_cast<int>(info.output_width);
    out.Height = static_cast<int>(info.output_height);
    out.Bgr.resize(static_cast<size_t>(out.Width) * static_cast<size_t>(out.Height) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.Bgr.data() + static_cast<size_t>(info.output_scanline) * out.Width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}
} // namespace detail

inline TDecodedJpeg DecodeJpeg(const uint8_t* data, size_t size) {
    TDecodedJpeg out;
    jpeg_decompress_struct info{};
    detail::TDecodeError error{};
    info.err = jpeg_std_error(&error.Manager);
    error.Manager.error_exit = detail::DecodeErrorExit;
    error.Manager.output_message = [](j_common_ptr) {};
    jpeg_create_decompress(&info);
    out.Ok = detail::DecodeInto(info, error, data, size, out);
    if (!out.Ok) {
        out.Error = error.Message;
    }
    jpeg_destroy_decompress(&info);
    return out;
}

// Peak signal-to-noise ratio in dB of a decoded picture against a 24-bit (or grey) bitmap, upright.
inline double Psnr(const TDecodedJpeg& decoded, const TBitmap& source) {
    if (decoded.Width != source.Width() || decoded.Height != source.Height()) {
        return 0;
    }
    double squares = 0;
    size_t count = 0;
    for (int y = 0; y < source.Height(); ++y) {
        const uint8_t* row = source.ScanLine(y);
        for (int x = 0; x < source.Width(); ++x) {
            const uint8_t* d = decoded.Pixel(x, y);
            for (int c = 0; c < 3; ++c) {
                const int s = source.BitsPerPixel() == 8 ? row[x] : row[3 * x + c];
                squares += static_cast<double>((s - d[c]) * (s - d[c]));
                ++count;
            }
        }
    }
    const double mse = squares / static_cast<double>(count);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

inline double Psnr(const TDecodedJpeg& a, const TDecodedJpeg& b) {
    if (a.Width != b.Width || a.Height != b.Height || a.Bgr.empty()) {
        return 0;
    }
    double squares = 0;
    for (size_t i = 0; i < a.Bgr.size(); ++i) {
        const int d = a.Bgr[i] - b.Bgr[i];
        squares += static_cast<double>(d * d);
    }
    const double mse = squares / static_cast<double>(a.Bgr.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace sw::test
