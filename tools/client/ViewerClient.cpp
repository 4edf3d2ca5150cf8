#include "client/ViewerClient.h"

#include "client/MuLaw.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sw::client {

const char* const kClientUsage =
    "Usage: streamwright-client [OPTIONS] [HOST]\n"
    "       streamwright-client --host HOST --video-port VPORT --audio-port APORT\n"
    "\n"
    "Connects to a Streamwright broadcast as a viewer, checks every video packet (0x01, frame number,\n"
    "0x02, JPEG length, a JPEG from FF D8 to FF D9) and reports frames, frame-number gaps, frames per\n"
    "second and bytes per second. HOST is a name or IPv4 address (default 127.0.0.1).\n"
    "\n"
    "Streams:\n"
    "  -H, --host HOST          the broadcasting machine, as the last argument does\n"
    "  -v, --video-port PORT    video port (default 2001)\n"
    "  -a, --audio-port PORT    audio port (default 2002)\n"
    "      --no-video           do not connect to the video port\n"
    "      --no-audio           do not connect to the audio port\n"
    "  -b, --bind ADDRESS       local IPv4 address to connect from\n"
    "\n"
    "Stopping (otherwise when every connection has ended, or on Ctrl-C):\n"
    "  -n, --frames N           stop after N video frames\n"
    "  -t, --seconds S          stop after S seconds (fractions allowed)\n"
    "\n"
    "Saving:\n"
    "  -j, --jpeg-dir DIR       save each frame as DIR/frame-NNNNNN.jpg (created if missing)\n"
    "  -m, --mjpeg FILE         save the frames back to back as one MJPEG file\n"
    "  -w, --wav FILE           record the audio as a mu-law WAV file (8000 Hz, mono)\n"
    "  -p, --pcm-wav FILE       record the audio decoded to 16-bit PCM WAV (8000 Hz, mono)\n"
    "\n"
    "Other:\n"
    "      --max-jpeg BYTES     largest JPEG accepted (default 67108864)\n"
    "      --connect-timeout S  give up connecting after S seconds (default 5)\n"
    "  -i, --interval S         progress line on standard error every S seconds; 0 for none (default 1)\n"
    "  -q, --quiet              no progress lines\n"
    "  -h, --help               print this text and exit\n"
    "\n"
    "The summary goes to standard output, ending with one line of key=value pairs:\n"
    "  summary frames= gaps= missed= out_of_order= video_bytes= audio_bytes= seconds= fps=\n"
    "\n"
    "Exit status: 0 success; 1 malformed video stream (bad tag, bad or truncated JPEG, stream ended\n"
    "inside a packet); 2 usage error; 3 a port could not be reached or a connection failed;\n"
    "4 an output file could not be written.\n";

namespace {

constexpr size_t kReadBytes = 256 * 1024;

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) {
    return std::chrono::duration<double>(TClock::now() - start).count();
}

bool ParseUnsigned(const char* text, uint64_t max, uint64_t& value) {
    if (!text || !*text || *text == '-' || *text == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max) {
        return false;
    }
    value = v;
    return true;
}

bool ParseSeconds(const char* text, double& value) {
    if (!text || !*text) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > 1e9) {
        return false;
    }
    value = v;
    return true;
}

} // namespace

std::optional<TClientOptions> ParseClientOptions(int argc, char** argv, std::string& error, bool& help) {
    enum { kNoVideo = 1000, kNoAudio, kMaxJpeg, kConnectTimeout };
    static const option kLong[] = {
        {"host", required_argument, nullptr, 'H'},
        {"video-port", required_argument, nullptr, 'v'},
        {"audio-port", required_argument, nullptr, 'a'},
        {"no-video", no_argument, nullptr, kNoVideo},
        {"no-audio", no_argument, nullptr, kNoAudio},
        {"bind", required_argument, nullptr, 'b'},
        {"frames", required_argument, nullptr, 'n'},
        {"seconds", required_argument, nullptr, 't'},
        {"jpeg-dir", required_argument, nullptr, 'j'},
        {"mjpeg", required_argument, nullptr, 'm'},
        {"wav", required_argument, nullptr, 'w'},
        {"pcm-wav", required_argument, nullptr, 'p'},
        {"max-jpeg", required_argument, nullptr, kMaxJpeg},
        {"connect-timeout", required_argument, nullptr, kConnectTimeout},
        {"interval", required_argument, nullptr, 'i'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    TClientOptions options;
    help = false;
    error.clear();
    optind = 1;
    opterr = 0;
    int c;
    uint64_t number = 0;
    bool hostGiven = false;
    auto bad = [&](const std::string& what) {
        error = what;
        return std::nullopt;
    };
    while ((c = getopt_long(argc, argv, ":H:v:a:b:n:t:j:m:w:p:i:qh", kLong, nullptr)) != -1) {
        const std::string arg = optarg ? optarg : "";
        switch (c) {
        case 'v':
        case 'a':
            if (!ParseUnsigned(optarg, 65535, number) || number == 0) {
                return bad("invalid port: " + arg);
            }
            (c == 'v' ? options.VideoPort : options.AudioPort) = static_cast<int>(number);
            break;
        case 'H':
            if (arg.empty()) {
                return bad("invalid host: an empty name");
            }
            options.Host = arg;
            hostGiven = true;
            break;
        case kNoVideo:
            options.Video = false;
            break;
        case kNoAudio:
            options.Audio = false;
            break;
        case 'b': {
            in_addr addr{};
            if (::inet_pton(AF_INET, optarg, &addr) != 1) {
                return bad("invalid local address: " + arg);
            }
            options.BindAddress = arg;
            break;
        }
        case 'n':
            if (!ParseUnsigned(optarg, UINT64_MAX, number) || number == 0) {
                return bad("invalid frame count: " + arg);
            }
            options.MaxFrames = number;
            break;
        case 't':
            if (!ParseSeconds(optarg, options.Seconds) || options.Seconds == 0) {
                return bad("invalid number of seconds: " + arg);
            }
            break;
        case 'j':
            options.JpegDir = arg;
            break;
        case 'm':
            options.MjpegFile = arg;
            break;
        case 'w':
            options.WavFile = arg;
            break;
        case 'p':
            options.PcmWavFile = arg;
            break;
        case kMaxJpeg:
            if (!ParseUnsigned(optarg, UINT32_MAX, number) || number < 4) {
                return bad("invalid JPEG size limit: " + arg);
            }
            options.MaxJpegBytes = static_cast<size_t>(number);
            break;
        case kConnectTimeout:
            if (!ParseSeconds(optarg, options.ConnectTimeout) || options.ConnectTimeout == 0) {
                return bad("invalid connect timeout: " + arg);
            }
            break;
        case 'i':
            if (!ParseSeconds(optarg, options.Interval)) {
                return bad("invalid interval: " + arg);
            }
            break;
        case 'q':
            options.Quiet = true;
            break;
        case 'h':
            help = true;
            return std::nullopt;
        case ':':
            return bad(std::string("option ") + argv[optind - 1] + " needs a value");
        default:
            return bad(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind < argc) {
        if (hostGiven) {
            return bad(std::string("two hosts: --host and ") + argv[optind]);
        }
        options.Host = argv[optind++];
    }
    if (optind < argc) {
        return bad(std::string("unexpected argument ") + argv[optind]);
    }
    if (!options.Video && !options.Audio) {
        return bad("--no-video and --no-audio leave nothing to connect to");
    }
    if (!options.Video && (options.MaxFrames || !options.JpegDir.empty() || !options.MjpegFile.empty())) {
        return bad("--frames, --jpeg-dir and --mjpeg need the video stream");
    }
    if (!options.Audio && (!options.WavFile.empty() || !options.PcmWavFile.empty())) {
        return bad("--wav and --pcm-wav need the audio stream");
    }
    return options;
}

struct TViewerClient::TStream {
    const char* Name;
    int Fd = -1;
    int Port = 0;
    bool Open = false;
    ~TStream() { Close(); }
    void Close() {
        if (Fd >= 0) {
            ::close(Fd);
            Fd = -1;
        }
        Open = false;
    }
};

TViewerClient::TViewerClient(TClientOptions options)
    : FOptions(std::move(options)), FParser(FOptions.MaxJpegBytes) {
    FVideo = std::make_unique<TStream>();
    FVideo->Name = "video";
    FAudio = std::make_unique<TStream>();
    FAudio->Name = "audio";
}

TViewerClient::~TViewerClient() {
    if (FMjpeg) {
        std::fclose(FMjpeg);
    }
}

int TViewerClient::OpenOutputs(FILE* err) {
    if (!FOptions.JpegDir.empty()) {
        struct stat st {};
        if (::mkdir(FOptions.JpegDir.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(err, "streamwright-client: cannot create %s: %s\n", FOptions.JpegDir.c_str(),
                         std::strerror(errno));
            return ecOutput;
        }
        if (::stat(FOptions.JpegDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(err, "streamwright-client: %s is not a folder\n", FOptions.JpegDir.c_str());
            return ecOutput;
        }
    }
    if (!FOptions.MjpegFile.empty()) {
        FMjpeg = std::fopen(FOptions.MjpegFile.c_str(), "wbe");
        if (!FMjpeg) {
            std::fprintf(err, "streamwright-client: cannot create %s: %s\n", FOptions.MjpegFile.c_str(),
                         std::strerror(errno));
            return ecOutput;
        }
    }
    auto openWav = [&](const std::string& name, TWavWriter::TEncoding encoding,
                       std::unique_ptr<TWavWriter>& writer) {
        if (name.empty()) {
            return true;
        }
        writer = std::make_unique<TWavWriter>(encoding, 8000);
        if (!writer->Open(name)) {
            std::fprintf(err, "streamwright-client: %s\n", writer->Error().c_str());
            return false;
        }
        return true;
    };
    if (!openWav(FOptions.WavFile, TWavWriter::TEncoding::MuLaw, FWav) ||
        !openWav(FOptions.PcmWavFile, TWavWriter::TEncoding::Pcm16, FPcmWav)) {
        return ecOutput;
    }
    return ecOk;
}

int TViewerClient::Connect(TStream& stream, int port, FILE* err) {
    stream.Port = port;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(FOptions.Host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0 || !found) {
        std::fprintf(err, "streamwright-client: cannot resolve %s: %s\n", FOptions.Host.c_str(),
                     ::gai_strerror(rc));
        return ecConnection;
    }
    sockaddr_in target{};
    std::memcpy(&target, found->ai_addr, sizeof target);
    ::freeaddrinfo(found);

    stream.Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (stream.Fd < 0) {
        std::fprintf(err, "streamwright-client: cannot create a socket: %s\n", std::strerror(errno));
        return ecConnection;
    }
    if (!FOptions.BindAddress.empty()) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, FOptions.BindAddress.c_str(), &local.sin_addr);
        if (::bind(stream.Fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            std::fprintf(err, "streamwright-client: cannot bind to %s: %s\n", FOptions.BindAddress.c_str(),
                         std::strerror(errno));
            return ecConnection;
        }
    }
    int error = 0;
    if (::connect(stream.Fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p{stream.Fd, POLLOUT, 0};
            int n;
            do {
                n = ::poll(&p, 1, static_cast<int>(FOptions.ConnectTimeout * 1000));
            } while (n < 0 && errno == EINTR);
            socklen_t len = sizeof error;
            if (n == 0) {
                error = ETIMEDOUT;
            } else if (n < 0 || ::getsockopt(stream.Fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
                error = errno;
            }
        }
    }
    if (error != 0) {
        std::fprintf(err, "streamwright-client: cannot connect to the %s port %s:%d: %s\n", stream.Name,
                     FOptions.Host.c_str(), port, std::strerror(error));
        return ecConnection;
    }
    stream.Open = true;
    return ecOk;
}

int TViewerClient::OnFrame(uint32_t number, const uint8_t* jpeg, size_t size, FILE* err) {
    if (FFrameLimitReached) {
        return ecOk;
    }
    FFrames.Add(number);
    if (!FOptions.JpegDir.empty()) {
        char name[64];
        std::snprintf(name, sizeof name, "/frame-%06llu.jpg",
                      static_cast<unsigned long long>(FFrames.Frames));
        const std::string path = FOptions.JpegDir + name;
        FILE* file = std::fopen(path.c_str(), "wbe");
        bool ok = file && std::fwrite(jpeg, 1, size, file) == size;
        ok = (file && std::fclose(file) == 0) && ok;
        if (!ok) {
            std::fprintf(err, "streamwright-client: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return ecOutput;
        }
    }
    if (FMjpeg && std::fwrite(jpeg, 1, size, FMjpeg) != size) {
        std::fprintf(err, "streamwright-client: cannot write %s: %s\n", FOptions.MjpegFile.c_str(),
                     std::strerror(errno));
        return ecOutput;
    }
    if (FOptions.MaxFrames && FFrames.Frames >= FOptions.MaxFrames) {
        FFrameLimitReached = true;
    }
    return ecOk;
}

int TViewerClient::ReadVideo(FILE* err) {
    std::vector<uint8_t> buffer(kReadBytes);
    ssize_t n;
    do {
        n = ::recv(FVideo->Fd, buffer.data(), buffer.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return ecOk;
    }
    if (n < 0) {
        std::fprintf(err, "streamwright-client: video connection lost: %s\n", std::strerror(errno));
        FVideo->Open = false;
        return ecConnection;
    }
    if (n == 0) {
        FVideo->Open = false;
        if (!FParser.Finish()) {
            std::fprintf(err, "streamwright-client: malformed video stream: %s\n", FParser.Error().c_str());
            return ecMalformed;
        }
        if (!FOptions.Quiet) {
            std::fprintf(err, "streamwright-client: the server closed the video connection\n");
        }
        return ecOk;
    }
    FVideoBytes += static_cast<uint64_t>(n);
    int result = ecOk;
    const bool ok = FParser.Feed(buffer.data(), static_cast<size_t>(n),
                                 [&](uint32_t number, const uint8_t* jpeg, size_t size) {
                                     if (result == ecOk) {
                                         result = OnFrame(number, jpeg, size, err);
                                     }
                                 });
    if (!ok) {
        std::fprintf(err, "streamwright-client: malformed video stream: %s\n", FParser.Error().c_str());
        return ecMalformed;
    }
    return result;
}

int TViewerClient::ReadAudio(FILE* err) {
    std::vector<uint8_t> buffer(kReadBytes);
    ssize_t n;
    do {
        n = ::recv(FAudio->Fd, buffer.data(), buffer.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return ecOk;
    }
    if (n < 0) {
        std::fprintf(err, "streamwright-client: audio connection lost: %s\n", std::strerror(errno));
        FAudio->Open = false;
        return ecConnection;
    }
    if (n == 0) {
        FAudio->Open = false;
        if (!FOptions.Quiet) {
            std::fprintf(err, "streamwright-client: the server closed the audio connection\n");
        }
        return ecOk;
    }
    const size_t count = static_cast<size_t>(n);
    FAudioBytes += count;
    if (FWav && !FWav->Write(buffer.data(), count)) {
        std::fprintf(err, "streamwright-client: %s\n", FWav->Error().c_str());
        return ecOutput;
    }
    if (FPcmWav) {
        std::vector<int16_t> samples(count);
        MuLawDecode(buffer.data(), count, samples.data());
        // WAV samples are little-endian, as is every machine this runs on.
        static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
        if (!FPcmWav->Write(samples.data(), count * sizeof(int16_t))) {
            std::fprintf(err, "streamwright-client: %s\n", FPcmWav->Error().c_str());
            return ecOutput;
        }
    }
    return ecOk;
}

int TViewerClient::FinishOutputs(FILE* err) {
    int result = ecOk;
    if (FMjpeg) {
        if (std::fclose(FMjpeg) != 0) {
            std::fprintf(err, "streamwright-client: cannot write %s: %s\n", FOptions.MjpegFile.c_str(),
                         std::strerror(errno));
            result = ecOutput;
        }
        FMjpeg = nullptr;
    }
    for (std::unique_ptr<TWavWriter>* writer : {&FWav, &FPcmWav}) {
        if (*writer && !(*writer)->Finish()) {
            std::fprintf(err, "streamwright-client: %s\n", (*writer)->Error().c_str());
            result = ecOutput;
        }
    }
    return result;
}

void TViewerClient::Progress(double seconds, FILE* err) {
    const double span = seconds - FLastProgress;
    if (span <= 0) {
        return;
    }
    std::fprintf(err, "%7.1f s  frames %llu (%.1f fps)  gaps %llu  video %.1f kB/s  audio %.1f kB/s\n",
                 seconds, static_cast<unsigned long long>(FFrames.Frames),
                 (FFrames.Frames - FLastFrames) / span, static_cast<unsigned long long>(FFrames.Gaps),
                 (FVideoBytes - FLastVideoBytes) / span / 1000,
                 (FAudioBytes - FLastAudioBytes) / span / 1000);
    std::fflush(err);
    FLastProgress = seconds;
    FLastFrames = FFrames.Frames;
    FLastVideoBytes = FVideoBytes;
    FLastAudioBytes = FAudioBytes;
}

void TViewerClient::Summary(double seconds, FILE* out) {
    const double span = seconds > 0 ? seconds : 1;
    const double fps = FFrames.Frames / span;
    if (FOptions.Video) {
        std::fprintf(
            out,
            "video %s:%d: %llu frames in %.3f s (%.2f fps), %llu bytes (%.0f B/s), %llu gaps "
            "(%llu frames missed), %llu out of order",
            FOptions.Host.c_str(), FOptions.VideoPort, static_cast<unsigned long long>(FFrames.Frames),
            seconds, fps, static_cast<unsigned long long>(FVideoBytes), FVideoBytes / span,
            static_cast<unsigned long long>(FFrames.Gaps), static_cast<unsigned long long>(FFrames.Missed),
            static_cast<unsigned long long>(FFrames.OutOfOrder));
        if (FFrames.Frames > 0) {
            std::fprintf(out, ", frame numbers %u to %u", FFrames.First, FFrames.Last);
        }
        std::fprintf(out, "\n");
    }
    if (FOptions.Audio) {
        std::fprintf(out, "audio %s:%d: %llu bytes in %.3f s (%.0f B/s)\n", FOptions.Host.c_str(),
                     FOptions.AudioPort, static_cast<unsigned long long>(FAudioBytes), seconds,
                     FAudioBytes / span);
    }
    std::fprintf(
        out,
        "summary frames=%llu gaps=%llu missed=%llu out_of_order=%llu video_bytes=%llu audio_bytes=%llu "
        "seconds=%.3f fps=%.2f\n",
        static_cast<unsigned long long>(FFrames.Frames), static_cast<unsigned long long>(FFrames.Gaps),
        static_cast<unsigned long long>(FFrames.Missed), static_cast<unsigned long long>(FFrames.OutOfOrder),
        static_cast<unsigned long long>(FVideoBytes), static_cast<unsigned long long>(FAudioBytes), seconds,
        fps);
    std::fflush(out);
}

int TViewerClient::Run(int stopFd, FILE* out, FILE* err) {
    int result = OpenOutputs(err);
    if (result == ecOk && FOptions.Video) {
        result = Connect(*FVideo, FOptions.VideoPort, err);
    }
    if (result == ecOk && FOptions.Audio) {
        result = Connect(*FAudio, FOptions.AudioPort, err);
    }
    if (result != ecOk) {
        FinishOutputs(err);
        return result;
    }
    const TClock::time_point start = TClock::now();
    const bool showProgress = !FOptions.Quiet && FOptions.Interval > 0;
    double nextProgress = FOptions.Interval;
    while (result == ecOk && !FFrameLimitReached && (FVideo->Open || FAudio->Open)) {
        const double now = SecondsSince(start);
        if (FOptions.Seconds > 0 && now >= FOptions.Seconds) {
            break;
        }
        if (showProgress && now >= nextProgress) {
            Progress(now, err);
            nextProgress = now + FOptions.Interval;
            for (TWavWriter* writer : {FWav.get(), FPcmWav.get()}) {
                if (writer) {
                    writer->Flush();
                }
            }
        }
        double wait = 1.0;
        if (FOptions.Seconds > 0) {
            wait = std::min(wait, FOptions.Seconds - now);
        }
        if (showProgress) {
            wait = std::min(wait, nextProgress - now);
        }
        pollfd fds[3];
        nfds_t count = 0;
        const int stopIndex = stopFd >= 0 ? static_cast<int>(count) : -1;
        if (stopFd >= 0) {
            fds[count++] = {stopFd, POLLIN, 0};
        }
        const int videoIndex = FVideo->Open ? static_cast<int>(count) : -1;
        if (FVideo->Open) {
            fds[count++] = {FVideo->Fd, POLLIN, 0};
        }
        const int audioIndex = FAudio->Open ? static_cast<int>(count) : -1;
        if (FAudio->Open) {
            fds[count++] = {FAudio->Fd, POLLIN, 0};
        }
        const int n = ::poll(fds, count, std::max(0, static_cast<int>(std::ceil(wait * 1000))));
        if (n < 0 && errno != EINTR) {
            std::fprintf(err, "streamwright-client: poll: %s\n", std::strerror(errno));
            result = ecConnection;
            break;
        }
        if (n <= 0) {
            continue;
        }
        if (stopIndex >= 0 && fds[stopIndex].revents) {
            break;
        }
        if (videoIndex >= 0 && fds[videoIndex].revents) {
            result = ReadVideo(err);
        }
        if (result == ecOk && audioIndex >= 0 && fds[audioIndex].revents) {
            result = ReadAudio(err);
        }
    }
    const double seconds = SecondsSince(start);
    // Video first, then audio: the order in which they were opened.
    FVideo->Close();
    FAudio->Close();
    const int outputs = FinishOutputs(err);
    if (result == ecOk) {
        result = outputs;
    }
    Summary(seconds, out);
    return result;
}

} // namespace sw::client
