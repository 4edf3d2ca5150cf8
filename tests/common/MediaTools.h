#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sw::test {

// ffprobe's and ffmpeg's view of a media file or stream URL (package ffmpeg).
bool MediaToolsInstalled();

struct TMediaStream {
    std::string CodecType; // "video" or "audio"
    std::string CodecName; // "h264", "aac"
    int Width = 0;
    int Height = 0;
    double FrameRate = 0;
    int SampleRate = 0;
    int Channels = 0;
};
// The streams ffprobe finds; none when it found nothing (errors then says why).
std::vector<TMediaStream> ProbeStreams(const std::string& input, std::string* errors = nullptr,
                                       int timeoutMs = 30000);
const TMediaStream* FindStream(const std::vector<TMediaStream>& streams, const std::string& codecType);

struct TMediaPacket {
    double Time = 0;
    bool Key = false;
};
// The packets of the first video ("v") or audio ("a") stream, in file order.
std::vector<TMediaPacket> ProbePackets(const std::string& input, const std::string& streamType,
                                       int timeoutMs = 30000);

// One picture decoded to top-down RGB rows of width x height; empty on failure. skipFrames frames are
// decoded and dropped first.
struct TRgbPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
    const uint8_t* At(int x, int y) const {
        return Pixels.data() +
               (static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)) * 3;
    }
};
TRgbPicture DecodePicture(const std::string& input, int width, int height, int skipFrames = 0,
                          int timeoutMs = 30000);

} // namespace sw::test
