#include "video/YuvRows.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#define SW_YUV_X86 1
#include <immintrin.h>
#endif

namespace sw {

namespace {

void UyvyPixelsScalar(const uint8_t* frame, size_t frameBytes, size_t p, size_t count, uint8_t* dst) {
    for (size_t end = p + count; p < end; ++p, dst += 3) {
        int y = frame[2 * p + 1];
        int u;
        int v;
        if ((p & 1) == 0) {
            u = frame[2 * p];
            v = 2 * p + 2 < frameBytes ? frame[2 * p + 2] : 128;
        } else {
            u = frame[2 * p - 2];
            v = frame[2 * p];
        }
        YuvToBgr(y, u, v, dst);
    }
}

void PlanarScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, int chromaShift, size_t chromaCount,
                  size_t x, size_t width, uint8_t* dst) {
    for (dst += 3 * x; x < width; ++x, dst += 3) {
        int cu = 128;
        int cv = 128;
        if (u && v && chromaCount > 0) {
            size_t c = std::min(x >> chromaShift, chromaCount - 1);
            cu = u[c];
            cv = v[c];
        }
        YuvToBgr(y[x], cu, cv, dst);
    }
}

#ifdef SW_YUV_X86

// pshufb masks that spread 16 blue, 16 green and 16 red bytes over three 16-byte chunks of BGR triples.
struct TInterleaveMasks {
    alignas(16) std::array<std::array<std::array<int8_t, 16>, 3>, 3> Mask; // [chunk][channel][byte]
    constexpr TInterleaveMasks() : Mask() {
        for (int chunk = 0; chunk < 3; ++chunk) {
            for (int channel = 0; channel < 3; ++channel) {
                for (int i = 0; i < 16; ++i) {
                    int k = 16 * chunk + i;
                    Mask[chunk][channel][i] = static_cast<int8_t>(k % 3 == channel ? k / 3 : -128);
                }
            }
        }
    }
};
constexpr TInterleaveMasks kInterleave;

__attribute__((target("ssse3"), always_inline)) inline __m128i Mask(int chunk, int channel) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.Mask[chunk][channel].data()));
}

// floor(n / 1000) for eight int32 sums: floor(floor(n / 8) / 125), the second division by a
// multiply-high that is exact for 0 <= n / 8 <= 31875 and gives 255 or more above that, which the
// final pack to bytes saturates to 255.
__attribute__((target("ssse3"), always_inline)) inline __m128i Thousandths(__m128i lo, __m128i hi) {
    __m128i p = _mm_packs_epi32(_mm_srai_epi32(lo, 3), _mm_srai_epi32(hi, 3));
    p = _mm_max_epi16(p, _mm_setzero_si128());
    return _mm_srli_epi16(_mm_mulhi_epu16(p, _mm_set1_epi16(static_cast<int16_t>(33555))), 6);
}

// Eight pixels from 16-bit Y, U, V lanes to 16-bit blue, green and red.
__attribute__((target("ssse3"), always_inline)) inline void Kernel8(__m128i y, __m128i u, __m128i v,
                                                                    __m128i& b, __m128i& g, __m128i& r) {
    y = _mm_sub_epi16(y, _mm_set1_epi16(16));
    u = _mm_sub_epi16(u, _mm_set1_epi16(128));
    v = _mm_sub_epi16(v, _mm_set1_epi16(128));
    const __m128i kBlue = _mm_setr_epi16(1164, 2017, 1164, 2017, 1164, 2017, 1164, 2017);
    const __m128i kRed = _mm_setr_epi16(1164, 1596, 1164, 1596, 1164, 1596, 1164, 1596);
    const __m128i kGreenU = _mm_setr_epi16(1164, -392, 1164, -392, 1164, -392, 1164, -392);
    const __m128i kGreenV = _mm_setr_epi16(0, -813, 0, -813, 0, -813, 0, -813);
    __m128i yuLo = _mm_unpacklo_epi16(y, u);
    __m128i yuHi = _mm_unpackhi_epi16(y, u);
    __m128i yvLo = _mm_unpacklo_epi16(y, v);
    __m128i yvHi = _mm_unpackhi_epi16(y, v);
    b = Thousandths(_mm_madd_epi16(yuLo, kBlue), _mm_madd_epi16(yuHi, kBlue));
    r = Thousandths(_mm_madd_epi16(yvLo, kRed), _mm_madd_epi16(yvHi, kRed));
    g = Thousandths(_mm_add_epi32(_mm_madd_epi16(yuLo, kGreenU), _mm_madd_epi16(yvLo, kGreenV)),
                    _mm_add_epi32(_mm_madd_epi16(yuHi, kGreenU), _mm_madd_epi16(yvHi, kGreenV)));
}

// Sixteen pixels given as two groups of eight 16-bit lanes, stored as 48 bytes of BGR triples.
__attribute__((target("ssse3"), always_inline)) inline void
Store16(__m128i y0, __m128i u0, __m128i v0, __m128i y1, __m128i u1, __m128i v1, uint8_t* dst) {
    __m128i b0, g0, r0, b1, g1, r1;
    Kernel8(y0, u0, v0, b0, g0, r0);
    Kernel8(y1, u1, v1, b1, g1, r1);
    __m128i b = _mm_packus_epi16(b0, b1);
    __m128i g = _mm_packus_epi16(g0, g1);
    __m128i r = _mm_packus_epi16(r0, r1);
    for (int chunk = 0; chunk < 3; ++chunk) {
        __m128i out = _mm_or_si128(
            _mm_or_si128(_mm_shuffle_epi8(b, Mask(chunk, 0)), _mm_shuffle_epi8(g, Mask(chunk, 1))),
            _mm_shuffle_epi8(r, Mask(chunk, 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * chunk), out);
    }
}

// Even first pixel, count a multiple of 16.
__attribute__((target("ssse3"))) void UyvyBodySsse3(const uint8_t* src, size_t count, uint8_t* dst) {
    const __m128i kU = _mm_setr_epi8(0, -1, 0, -1, 4, -1, 4, -1, 8, -1, 8, -1, 12, -1, 12, -1);
    const __m128i kV = _mm_setr_epi8(2, -1, 2, -1, 6, -1, 6, -1, 10, -1, 10, -1, 14, -1, 14, -1);
    for (size_t i = 0; i < count; i += 16, src += 32, dst += 48) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        Store16(_mm_srli_epi16(a, 8), _mm_shuffle_epi8(a, kU), _mm_shuffle_epi8(a, kV), _mm_srli_epi16(c, 8),
                _mm_shuffle_epi8(c, kU), _mm_shuffle_epi8(c, kV), dst);
    }
}

// Chroma bytes for 16 pixels starting at chroma index c, widened to two groups of eight 16-bit lanes.
__attribute__((target("ssse3"), always_inline)) inline void
Chroma16(const uint8_t* plane, size_t c, int chromaShift, __m128i& lo, __m128i& hi) {
    __m128i wide;
    if (chromaShift == 1) {
        __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + c));
        wide = _mm_unpacklo_epi8(bytes, bytes);
    } else {
        int32_t four;
        std::memcpy(&four, plane + c, 4);
        wide = _mm_shuffle_epi8(_mm_cvtsi32_si128(four),
                                _mm_setr_epi8(0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3));
    }
    lo = _mm_unpacklo_epi8(wide, _mm_setzero_si128());
    hi = _mm_unpackhi_epi8(wide, _mm_setzero_si128());
}

// Returns the number of pixels converted (a multiple of 16 that keeps every chroma read in range).
__attribute__((target("ssse3"))) size_t PlanarBodySsse3(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                                        int chromaShift, size_t chromaCount, size_t width,
                                                        uint8_t* dst) {
    if (!u || !v || chromaCount == 0 || (chromaShift != 1 && chromaShift != 2)) {
        return 0;
    }
    size_t limit = std::min(width, chromaCount << chromaShift);
    size_t x = 0;
    for (; x + 16 <= limit; x += 16, dst += 48) {
        __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        __m128i u0, u1, v0, v1;
        Chroma16(u, x >> chromaShift, chromaShift, u0, u1);
        Chroma16(v, x >> chromaShift, chromaShift, v0, v1);
        Store16(_mm_unpacklo_epi8(luma, _mm_setzero_si128()), u0, v0,
                _mm_unpackhi_epi8(luma, _mm_setzero_si128()), u1, v1, dst);
    }
    return x;
}

// The same arithmetic on 256-bit registers, with the luma and chroma terms computed apart: pixels
// come in pairs that share U and V, so the chroma products are made once per pair.
__attribute__((target("avx2"), always_inline)) inline __m256i Thousandths256(__m256i lo, __m256i hi) {
    __m256i p = _mm256_packus_epi32(_mm256_srai_epi32(lo, 3), _mm256_srai_epi32(hi, 3));
    return _mm256_srli_epi16(_mm256_mulhi_epu16(p, _mm256_set1_epi16(static_cast<int16_t>(33555))), 6);
}

constexpr int32_t Pair(int low, int high) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16 |
                                static_cast<uint16_t>(low));
}

// Sixteen pixels: y holds their 16-bit luma in order, uv the 16-bit U, V of the eight pixel pairs
// (each 128-bit lane eight pixels and their four pairs). The 16-bit results come per lane in the order
// of pixels 0, 2, 4, 6, 1, 3, 5, 7.
__attribute__((target("avx2"), always_inline)) inline void KernelPairs16(__m256i y, __m256i uv, __m256i& b,
                                                                         __m256i& g, __m256i& r) {
    y = _mm256_sub_epi16(y, _mm256_set1_epi16(16));
    uv = _mm256_sub_epi16(uv, _mm256_set1_epi16(128));
    __m256i lumaEven = _mm256_madd_epi16(y, _mm256_set1_epi32(Pair(1164, 0)));
    __m256i lumaOdd = _mm256_madd_epi16(y, _mm256_set1_epi32(Pair(0, 1164)));
    __m256i blue = _mm256_madd_epi16(uv, _mm256_set1_epi32(Pair(2017, 0)));
    __m256i green = _mm256_madd_epi16(uv, _mm256_set1_epi32(Pair(-392, -813)));
    __m256i red = _mm256_madd_epi16(uv, _mm256_set1_epi32(Pair(0, 1596)));
    b = Thousandths256(_mm256_add_epi32(lumaEven, blue), _mm256_add_epi32(lumaOdd, blue));
    g = Thousandths256(_mm256_add_epi32(lumaEven, green), _mm256_add_epi32(lumaOdd, green));
    r = Thousandths256(_mm256_add_epi32(lumaEven, red), _mm256_add_epi32(lumaOdd, red));
}

// pshufb masks like kInterleave, reading each 16-pixel lane in the kernel's even-then-odd order.
struct TPairInterleaveMasks {
    alignas(32) std::array<std::array<std::array<int8_t, 32>, 3>, 3> Mask; // [chunk][channel][byte]
    constexpr TPairInterleaveMasks() : Mask() {
        for (int chunk = 0; chunk < 3; ++chunk) {
            for (int channel = 0; channel < 3; ++channel) {
                for (int i = 0; i < 32; ++i) {
                    int k = 16 * chunk + i % 16;
                    int p = k / 3;
                    int position = (p & 8) | (p & 1) << 2 | (p & 7) >> 1;
                    Mask[chunk][channel][i] = static_cast<int8_t>(k % 3 == channel ? position : -128);
                }
            }
        }
    }
};
constexpr TPairInterleaveMasks kPairInterleave;

__attribute__((target("avx2"), always_inline)) inline __m256i PairMask(int chunk, int channel) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(kPairInterleave.Mask[chunk][channel].data()));
}

// Thirty-two pixels in two kernel calls, stored as 96 bytes of BGR triples.
__attribute__((target("avx2"), always_inline)) inline void StorePairs32(__m256i y0, __m256i uv0, __m256i y1,
                                                                        __m256i uv1, uint8_t* dst) {
    __m256i b0, g0, r0, b1, g1, r1;
    KernelPairs16(y0, uv0, b0, g0, r0);
    KernelPairs16(y1, uv1, b1, g1, r1);
    // Packing works per 128-bit lane; the permute puts pixels 0..15 in lane 0 and 16..31 in lane 1.
    __m256i b = _mm256_permute4x64_epi64(_mm256_packus_epi16(b0, b1), 0xD8);
    __m256i g = _mm256_permute4x64_epi64(_mm256_packus_epi16(g0, g1), 0xD8);
    __m256i r = _mm256_permute4x64_epi64(_mm256_packus_epi16(r0, r1), 0xD8);
    __m256i out[3];
    for (int chunk = 0; chunk < 3; ++chunk) {
        out[chunk] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, PairMask(chunk, 0)),
                                                     _mm256_shuffle_epi8(g, PairMask(chunk, 1))),
                                     _mm256_shuffle_epi8(r, PairMask(chunk, 2)));
    }
    // Lane 0 holds bytes 0..47 of the output, lane 1 bytes 48..95.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_permute2x128_si256(out[0], out[1], 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 32),
                        _mm256_permute2x128_si256(out[2], out[0], 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 64),
                        _mm256_permute2x128_si256(out[1], out[2], 0x31));
}

// Even first pixel, count a multiple of 32. The even bytes of UYVY are the U, V pairs already.
__attribute__((target("avx2"))) void UyvyBodyAvx2(const uint8_t* src, size_t count, uint8_t* dst) {
    const __m256i kLowBytes = _mm256_set1_epi16(0x00FF);
    for (size_t i = 0; i < count; i += 32, src += 64, dst += 96) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
        __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 32));
        StorePairs32(_mm256_srli_epi16(a, 8), _mm256_and_si256(a, kLowBytes), _mm256_srli_epi16(c, 8),
                     _mm256_and_si256(c, kLowBytes), dst);
    }
}

// The U, V pairs of 32 pixels starting at chroma index c, as two vectors of sixteen 16-bit values.
__attribute__((target("avx2"), always_inline)) inline void
ChromaPairs32(const uint8_t* u, const uint8_t* v, size_t c, int chromaShift, __m256i& lo, __m256i& hi) {
    __m128i us;
    __m128i vs;
    if (chromaShift == 1) {
        us = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + c));
        vs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + c));
    } else {
        // One chroma sample covers two pairs.
        __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + c));
        __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + c));
        us = _mm_unpacklo_epi8(u8, u8);
        vs = _mm_unpacklo_epi8(v8, v8);
    }
    lo = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(us, vs));
    hi = _mm256_cvtepu8_epi16(_mm_unpackhi_epi8(us, vs));
}

__attribute__((target("avx2"))) size_t PlanarBodyAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                                      int chromaShift, size_t chromaCount, size_t width,
                                                      uint8_t* dst) {
    if (!u || !v || chromaCount == 0 || (chromaShift != 1 && chromaShift != 2)) {
        return 0;
    }
    size_t limit = std::min(width, chromaCount << chromaShift);
    size_t x = 0;
    for (; x + 32 <= limit; x += 32, dst += 96) {
        __m256i y0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
        __m256i y1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x + 16)));
        __m256i uv0, uv1;
        ChromaPairs32(u, v, x >> chromaShift, chromaShift, uv0, uv1);
        StorePairs32(y0, uv0, y1, uv1, dst);
    }
    return x;
}

// The pair kernel on 512-bit registers for processors with AVX-512 BW and VBMI. VBMI's two-source byte
// permute builds the BGR triples in two instructions per 64 output bytes, where the 256-bit kernel
// needs seven.
#define SW_AVX512 target("avx512f,avx512bw,avx512vbmi")
// GCC 12 takes the deliberately undefined start value inside its own AVX-512 intrinsics for an
// uninitialised variable once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The zero-masking shift: GCC 12 warns that the plain one's undefined start value is uninitialised.
__attribute__((SW_AVX512, always_inline)) inline __m512i Thousandths512(__m512i lo, __m512i hi) {
    constexpr __mmask16 kAll = 0xFFFF;
    __m512i p =
        _mm512_packus_epi32(_mm512_maskz_srai_epi32(kAll, lo, 3), _mm512_maskz_srai_epi32(kAll, hi, 3));
    return _mm512_srli_epi16(_mm512_mulhi_epu16(p, _mm512_set1_epi16(static_cast<int16_t>(33555))), 6);
}

// Thirty-two pixels, 16-bit luma in y and the U, V of their sixteen pairs in uv; per 128-bit lane the
// results come in the order of pixels 0, 2, 4, 6, 1, 3, 5, 7 as in KernelPairs16.
__attribute__((SW_AVX512, always_inline)) inline void KernelPairs32(__m512i y, __m512i uv, __m512i& b,
                                                                    __m512i& g, __m512i& r) {
    y = _mm512_sub_epi16(y, _mm512_set1_epi16(16));
    uv = _mm512_sub_epi16(uv, _mm512_set1_epi16(128));
    __m512i lumaEven = _mm512_madd_epi16(y, _mm512_set1_epi32(Pair(1164, 0)));
    __m512i lumaOdd = _mm512_madd_epi16(y, _mm512_set1_epi32(Pair(0, 1164)));
    __m512i blue = _mm512_madd_epi16(uv, _mm512_set1_epi32(Pair(2017, 0)));
    __m512i green = _mm512_madd_epi16(uv, _mm512_set1_epi32(Pair(-392, -813)));
    __m512i red = _mm512_madd_epi16(uv, _mm512_set1_epi32(Pair(0, 1596)));
    b = Thousandths512(_mm512_add_epi32(lumaEven, blue), _mm512_add_epi32(lumaOdd, blue));
    g = Thousandths512(_mm512_add_epi32(lumaEven, green), _mm512_add_epi32(lumaOdd, green));
    r = Thousandths512(_mm512_add_epi32(lumaEven, red), _mm512_add_epi32(lumaOdd, red));
}

// Where pixel q of 64 sits in the bytes that _mm512_packus_epi16 makes of two KernelPairs32 results:
// per 128-bit lane eight bytes of the first 32 pixels, then eight of the second, each in kernel order.
constexpr int PackedPosition(int q) {
    int half = q / 32;
    int p = q % 32;
    int r = p % 8;
    return 16 * (p / 8) + 8 * half + (r % 2 == 0 ? r / 2 : 4 + r / 2);
}

// Per output vector: an index that takes blue from the first source and green from the second of a
// two-source permute (bit 6), and the lanes that take red in a masked permute after it.
struct TTripleIndex {
    alignas(64) std::array<std::array<uint8_t, 64>, 3> Index;
    std::array<uint64_t, 3> RedLanes;
    constexpr TTripleIndex() : Index(), RedLanes() {
        for (int o = 0; o < 3; ++o) {
            for (int i = 0; i < 64; ++i) {
                int k = 64 * o + i;
                int channel = k % 3;
                int position = PackedPosition(k / 3);
                Index[o][i] = static_cast<uint8_t>(channel == 1 ? 64 + position : position);
                if (channel == 2) {
                    RedLanes[o] |= uint64_t{1} << i;
                }
            }
        }
    }
};
constexpr TTripleIndex kTriples;

// Sixty-four pixels in two kernel calls, stored as 192 bytes of BGR triples.
__attribute__((SW_AVX512, always_inline)) inline void StorePairs64(__m512i y0, __m512i uv0, __m512i y1,
                                                                   __m512i uv1, uint8_t* dst) {
    __m512i b0, g0, r0, b1, g1, r1;
    KernelPairs32(y0, uv0, b0, g0, r0);
    KernelPairs32(y1, uv1, b1, g1, r1);
    __m512i b = _mm512_packus_epi16(b0, b1);
    __m512i g = _mm512_packus_epi16(g0, g1);
    __m512i r = _mm512_packus_epi16(r0, r1);
    for (int o = 0; o < 3; ++o) {
        __m512i index = _mm512_load_si512(kTriples.Index[o].data());
        __m512i blueGreen = _mm512_permutex2var_epi8(b, index, g);
        _mm512_storeu_si512(dst + 64 * o,
                            _mm512_mask_permutexvar_epi8(blueGreen, kTriples.RedLanes[o], index, r));
    }
}

// Even first pixel, count a multiple of 64.
__attribute__((SW_AVX512)) void UyvyBodyAvx512(const uint8_t* src, size_t count, uint8_t* dst) {
    const __m512i kLowBytes = _mm512_set1_epi16(0x00FF);
    for (size_t i = 0; i < count; i += 64, src += 128, dst += 192) {
        __m512i a = _mm512_loadu_si512(src);
        __m512i c = _mm512_loadu_si512(src + 64);
        StorePairs64(_mm512_srli_epi16(a, 8), _mm512_and_si512(a, kLowBytes), _mm512_srli_epi16(c, 8),
                     _mm512_and_si512(c, kLowBytes), dst);
    }
}

// The U, V pairs of 32 pixels starting at chroma index c, as one vector of thirty-two 16-bit values.
__attribute__((SW_AVX512, always_inline)) inline __m512i ChromaPairs32x2(const uint8_t* u, const uint8_t* v,
                                                                         size_t c, int chromaShift) {
    __m256i lo;
    __m256i hi;
    ChromaPairs32(u, v, c, chromaShift, lo, hi);
    return _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
}

__attribute__((SW_AVX512)) size_t PlanarBodyAvx512(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                                   int chromaShift, size_t chromaCount, size_t width,
                                                   uint8_t* dst) {
    if (!u || !v || chromaCount == 0 || (chromaShift != 1 && chromaShift != 2)) {
        return 0;
    }
    size_t limit = std::min(width, chromaCount << chromaShift);
    size_t x = 0;
    for (; x + 64 <= limit; x += 64, dst += 192) {
        __m512i y0 = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x)));
        __m512i y1 = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x + 32)));
        StorePairs64(y0, ChromaPairs32x2(u, v, x >> chromaShift, chromaShift), y1,
                     ChromaPairs32x2(u, v, (x + 32) >> chromaShift, chromaShift), dst);
    }
    return x;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

TYuvKernel BestKernel() {
#ifdef SW_YUV_X86
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")) {
        return TYuvKernel::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return TYuvKernel::Avx2;
    }
    if (__builtin_cpu_supports("ssse3")) {
        return TYuvKernel::Ssse3;
    }
#endif
    return TYuvKernel::Scalar;
}

std::atomic<TYuvKernel> gKernel{BestKernel()};

} // namespace

bool YuvKernelSupported(TYuvKernel kernel) {
    TYuvKernel best = BestKernel();
    return kernel <= best;
}

const char* YuvKernelName(TYuvKernel kernel) {
    constexpr const char* kNames[] = {"Scalar", "Ssse3", "Avx2", "Avx512"};
    return kNames[static_cast<int>(kernel)];
}

TYuvKernel BestYuvKernel() {
    return BestKernel();
}

TYuvKernel ActiveYuvKernel() {
    return gKernel.load(std::memory_order_relaxed);
}

void SetYuvKernel(TYuvKernel kernel) {
    gKernel.store(YuvKernelSupported(kernel) ? kernel : TYuvKernel::Scalar, std::memory_order_relaxed);
}

void UyvyPixelsToBgr(const uint8_t* frame, size_t frameBytes, size_t firstPixel, size_t count, uint8_t* dst) {
    size_t p = firstPixel;
    size_t end = firstPixel + count;
#ifdef SW_YUV_X86
    TYuvKernel kernel = ActiveYuvKernel();
    if (kernel != TYuvKernel::Scalar) {
        if ((p & 1) != 0 && p < end) {
            UyvyPixelsScalar(frame, frameBytes, p, 1, dst);
            ++p;
            dst += 3;
        }
        // Each kernel takes the longest run of whole blocks it can; the narrower ones and the scalar
        // loop take what is left.
        auto blocks = [&](void (*body)(const uint8_t*, size_t, uint8_t*), size_t block) {
            const size_t n = (end - p) / block * block;
            body(frame + 2 * p, n, dst);
            p += n;
            dst += 3 * n;
        };
        if (kernel == TYuvKernel::Avx512) {
            blocks(UyvyBodyAvx512, 64);
        }
        if (kernel >= TYuvKernel::Avx2) {
            blocks(UyvyBodyAvx2, 32);
        }
        blocks(UyvyBodySsse3, 16);
    }
#endif
    UyvyPixelsScalar(frame, frameBytes, p, end - p, dst);
}

void PlanarRowToBgr(const uint8_t* y, const uint8_t* u, const uint8_t* v, int chromaShift, size_t chromaCount,
                    size_t width, uint8_t* dst) {
    size_t x = 0;
#ifdef SW_YUV_X86
    TYuvKernel kernel = ActiveYuvKernel();
    // Each kernel goes on from where the wider one stopped, with the chroma planes advanced to match.
    auto more =
        [&](size_t (*body)(const uint8_t*, const uint8_t*, const uint8_t*, int, size_t, size_t, uint8_t*)) {
            const size_t c = x >> chromaShift;
            x += body(y + x, u ? u + c : nullptr, v ? v + c : nullptr, chromaShift,
                      chromaCount > c ? chromaCount - c : 0, width - x, dst + 3 * x);
        };
    if (kernel == TYuvKernel::Avx512) {
        more(PlanarBodyAvx512);
    }
    if (kernel >= TYuvKernel::Avx2) {
        more(PlanarBodyAvx2);
    }
    if (kernel != TYuvKernel::Scalar) {
        more(PlanarBodySsse3);
    }
#endif
    PlanarScalar(y, u, v, chromaShift, chromaCount, x, width, dst);
}

} // namespace sw
