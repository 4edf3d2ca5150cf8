#pragma once

#include "client/VideoStreamParser.h"
#include "client/WavWriter.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace sw::client {

enum TExitCode : int {
    ecOk = 0,
    ecMalformed = 1, // the video stream broke its format (bad tag, bad JPEG, truncated packet)
    ecUsage = 2,
    ecConnection = 3, // a port could not be reached, or a connection failed
    ecOutput = 4,     // an output file could not be written
};

struct TClientOptions {
    std::string Host = "127.0.0.1";
    std::string BindAddress;
    int VideoPort = 2001;
    int AudioPort = 2002;
    bool Video = true;
    bool Audio = true;
    uint64_t MaxFrames = 0; // 0: no limit
    double Seconds = 0;     // 0: no limit
    double ConnectTimeout = 5;
    double Interval = 1; // progress lines on standard error; 0: none
    size_t MaxJpegBytes = TVideoStreamParser::kDefaultMaxJpegBytes;
    std::string JpegDir;
    std::string MjpegFile;
    std::string WavFile;    // mu-law, as received
    std::string PcmWavFile; // decoded to 16-bit linear PCM
    bool Quiet = false;
};

extern const char* const kClientUsage;

// Parses the command line. Nothing, with a message in error, when it is wrong; help is set for
// -h/--help (then nothing is returned and error is empty).
std::optional<TClientOptions> ParseClientOptions(int argc, char** argv, std::string& error, bool& help);

// One viewer: connects to the video and/or audio port, checks and counts what arrives, saves it on
// request, and stops after the frame or time limit, at the end of every stream, or when stopFd
// becomes readable (the program's Ctrl-C).
class TViewerClient {
public:
    explicit TViewerClient(TClientOptions options);
    ~TViewerClient();

    // Returns the process exit code; the summary goes to out, messages and progress to err.
    int Run(int stopFd, FILE* out, FILE* err);

    const TFrameCounter& Frames() const { return FFrames; }
    uint64_t VideoBytes() const { return FVideoBytes; }
    uint64_t AudioBytes() const { return FAudioBytes; }

private:
    struct TStream;
    int OpenOutputs(FILE* err);
    int Connect(TStream& stream, int port, FILE* err);
    int ReadVideo(FILE* err);
    int ReadAudio(FILE* err);
    int OnFrame(uint32_t number, const uint8_t* jpeg, size_t size, FILE* err);
    int FinishOutputs(FILE* err);
    void Progress(double seconds, FILE* err);
    void Summary(double seconds, FILE* out);

    TClientOptions FOptions;
    std::unique_ptr<TStream> FVideo;
    std::unique_ptr<TStream> FAudio;
    TVideoStreamParser FParser;
    TFrameCounter FFrames;
    uint64_t FVideoBytes = 0;
    uint64_t FAudioBytes = 0;
    uint64_t FLastFrames = 0;
    uint64_t FLastVideoBytes = 0;
    uint64_t FLastAudioBytes = 0;
    double FLastProgress = 0;
    FILE* FMjpeg = nullptr;
    std::unique_ptr<TWavWriter> FWav;
    std::unique_ptr<TWavWriter> FPcmWav;
    bool FFrameLimitReached = false;
};

} // namespace sw::client
