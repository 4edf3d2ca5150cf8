#include "common/MediaTools.h"

#include "common/ProgramRunner.h"

#include <cstdlib>
#include <map>
#include <sstream>
#include <unistd.h>

namespace sw::test {

namespace {

constexpr const char* kFfprobe = "/usr/bin/ffprobe";
constexpr const char* kFfmpeg = "/usr/bin/ffmpeg";

// "key=value|key=value" lines of ffprobe's compact output.
std::vector<std::map<std::string, std::string>> CompactLines(const std::string& output) {
    std::vector<std::map<std::string, std::string>> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        std::string part;
        while (std::getline(parts, part, '|')) {
            const size_t equals = part.find('=');
            if (equals != std::string::npos) {
                fields[part.substr(0, equals)] = part.substr(equals + 1);
            }
        }
        if (!fields.empty()) {
            lines.push_back(std::move(fields));
        }
    }
    return lines;
}

double Rate(const std::string& fraction) {
    const size_t slash = fraction.find('/');
    if (slash == std::string::npos) {
        return std::atof(fraction.c_str());
    }
    const double den = std::atof(fraction.c_str() + slash + 1);
    return den == 0 ? 0 : std::atof(fraction.substr(0, slash).c_str()) / den;
}

} // namespace

bool MediaToolsInstalled() {
    return ::access(kFfprobe, X_OK) == 0 && ::access(kFfmpeg, X_OK) == 0;
}

std::vector<TMediaStream> ProbeStreams(const std::string& input, std::string* errors, int timeoutMs) {
    std::string output;
    RunProgram(kFfprobe,
               {"-v", "error", "-rw_timeout", "10000000", "-show_entries",
                "stream=codec_type,codec_name,width,height,r_frame_rate,avg_frame_rate,sample_rate,channels",
                "-of", "compact=p=0", input},
               errors, &output, timeoutMs);
    std::vector<TMediaStream> streams;
    for (auto& fields : CompactLines(output)) {
        TMediaStream stream;
        stream.CodecType = fields["codec_type"];
        stream.CodecName = fields["codec_name"];
        stream.Width = std::atoi(fields["width"].c_str());
        stream.Height = std::atoi(fields["height"].c_str());
        stream.FrameRate = Rate(fields["avg_frame_rate"]);
        if (stream.FrameRate == 0) {
            stream.FrameRate = Rate(fields["r_frame_rate"]);
        }
        stream.SampleRate = std::atoi(fields["sample_rate"].c_str());
        stream.Channels = std::atoi(fields["channels"].c_str());
        streams.push_back(stream);
    }
    return streams;
}

const TMediaStream* FindStream(const std::vector<TMediaStream>& streams, const std::string& codecType) {
    for (const TMediaStream& stream : streams) {
        if (stream.CodecType == codecType) {
            return &stream;
        }
    }
    return nullptr;
}

std::vector<TMediaPacket> ProbePackets(const std::string& input, const std::string& streamType,
                                       int timeoutMs) {
    std::string output;
    RunProgram(kFfprobe,
               {"-v", "error", "-select_streams", streamType + ":0", "-show_entries", "packet=pts_time,flags",
                "-of", "compact=p=0", input},
               nullptr, &output, timeoutMs);
    std::vector<TMediaPacket> packets;
    for (auto& fields : CompactLines(output)) {
        packets.push_back(
            {std::atof(fields["pts_time"].c_str()), fields["flags"].find('K') != std::string::npos});
    }
    return packets;
}

TRgbPicture DecodePicture(const std::string& input, int width, int height, int skipFrames, int timeoutMs) {
    std::string output;
    std::vector<std::string> arguments = {"-v", "error", "-rw_timeout", "10000000", "-i", input};
    if (skipFrames > 0) {
        arguments.insert(arguments.end(), {"-vf", "select=gte(n\\," + std::to_string(skipFrames) + ")"});
    }
    arguments.insert(arguments.end(),
                     {"-frames:v", "1", "-s", std::to_string(width) + "x" + std::to_string(height), "-f",
                      "rawvideo", "-pix_fmt", "rgb24", "-"});
    RunProgram(kFfmpeg, arguments, nullptr, &output, timeoutMs);
    TRgbPicture picture;
    if (output.size() == static_cast<size_t>(width) * static_cast<size_t>(height) * 3) {
        picture.Width = width;
        picture.Height = height;
        picture.Pixels.assign(output.begin(), output.end());
    }
    return picture;
}

} // namespace sw::test
