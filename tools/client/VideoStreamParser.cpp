#include "client/VideoStreamParser.h"

#include <algorithm>
#include <cstdio>

namespace sw::client {

namespace {

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

std::string Format(const char* format, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

} // namespace

bool TVideoStreamParser::Fail(const std::string& message) {
    FError = message;
    return false;
}

bool TVideoStreamParser::HeaderComplete() {
    FNumber = Be32(FHeader + 1);
    FLength = Be32(FHeader + 6);
    if (FLength < 4) {
        return Fail(Format("frame %u at stream offset %llu: JPEG length %u is too short for a JPEG", FNumber,
                           static_cast<unsigned long long>(FPacketOffset), FLength));
    }
    if (FLength > FMaxJpegBytes) {
        return Fail(Format("frame %u at stream offset %llu: JPEG length %u exceeds the limit of %zu bytes",
                           FNumber, static_cast<unsigned long long>(FPacketOffset), FLength, FMaxJpegBytes));
    }
    FJpeg.clear();
    FJpeg.reserve(std::min<size_t>(FLength, 1u << 20)); // a lying header must not cost its claim up front
    FInBody = true;
    return true;
}

bool TVideoStreamParser::Feed(const uint8_t* data, size_t size, const TFrameHandler& onFrame) {
    if (Failed()) {
        return false;
    }
    size_t at = 0;
    while (at < size) {
        if (!FInBody) {
            if (FHeaderHave == 0) {
                FPacketOffset = FOffset;
            }
            const uint8_t byte = data[at];
            if (FHeaderHave == 0 && byte != kNumberTag) {
                return Fail(Format("bad packet tag 0x%02X at stream offset %llu (expected 0x01)", byte,
                                   static_cast<unsigned long long>(FOffset)));
            }
            if (FHeaderHave == 5 && byte != kLengthTag) {
                return Fail(Format("bad length tag 0x%02X at stream offset %llu (expected 0x02)", byte,
                                   static_cast<unsigned long long>(FOffset)));
            }
            FHeader[FHeaderHave++] = byte;
            ++at;
            ++FOffset;
            if (FHeaderHave == kHeaderBytes && !HeaderComplete()) {
                return false;
            }
            continue;
        }
        const size_t take = std::min(size - at, static_cast<size_t>(FLength) - FJpeg.size());
        FJpeg.insert(FJpeg.end(), data + at, data + at + take);
        at += take;
        FOffset += take;
        if (FJpeg.size() < FLength) {
            continue;
        }
        if (FJpeg[0] != 0xFF || FJpeg[1] != 0xD8) {
            return Fail(Format("frame %u at stream offset %llu: JPEG data does not start with FF D8", FNumber,
                               static_cast<unsigned long long>(FPacketOffset)));
        }
        if (FJpeg[FLength - 2] != 0xFF || FJpeg[FLength - 1] != 0xD9) {
            return Fail(Format("frame %u at stream offset %llu: JPEG data does not end with FF D9 "
                               "(truncated JPEG)",
                               FNumber, static_cast<unsigned long long>(FPacketOffset)));
        }
        ++FPackets;
        FInBody = false;
        FHeaderHave = 0;
        if (onFrame) {
            onFrame(FNumber, FJpeg.data(), FJpeg.size());
        }
    }
    return true;
}

bool TVideoStreamParser::Finish() {
    if (Failed()) {
        return false;
    }
    if (FInBody) {
        return Fail(Format("the stream ended inside frame %u: %zu of %u JPEG bytes received", FNumber,
                           FJpeg.size(), FLength));
    }
    if (FHeaderHave > 0) {
        return Fail(Format("the stream ended inside a packet header: %zu of 10 bytes received", FHeaderHave));
    }
    return true;
}

void TFrameCounter::Add(uint32_t number) {
    if (Frames == 0) {
        First = number;
    } else {
        const uint32_t step = number - Last;
        if (step == 0 || step >= 0x80000000u) {
            ++OutOfOrder;
        } else if (step > 1) {
            ++Gaps;
            Missed += step - 1;
        }
    }
    ++Frames;
    Last = number;
}

} // namespace sw::client
