#include "platform/shell/SoundPlayer.h"

#include "platform/shell/UniqueFd.h"
#include "platform/shell/WavFile.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace sw {

namespace {

// Enough for the format and data chunk headers behind any sensible metadata.
constexpr size_t kMaxHeadBytes = 1 << 20;
constexpr unsigned kLatencyUs = 200000;
// Each write covers this much sound, so a stop request is seen within about this time.
constexpr unsigned kChunkMs = 50;
// How long the end of a sound may take to drain beyond the device latency.
constexpr int kDrainGraceMs = 1000;

struct TPcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using TPcmHandle = std::unique_ptr<snd_pcm_t, TPcmCloser>;

extern "C" void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints every failed device lookup on standard error; a missing sound card is normal here.
void SilenceAlsa() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(SilentAlsaError); });
}

bool ReadAt(int fd, uint8_t* buffer, size_t size, uint64_t offset, size_t& got) {
    got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd, buffer + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

snd_pcm_format_t AlsaFormat(uint16_t bits) {
    switch (bits) {
    case 8:
        return SND_PCM_FORMAT_U8;
    case 16:
        return SND_PCM_FORMAT_S16_LE;
    case 24:
        return SND_PCM_FORMAT_S24_3LE;
    default:
        return SND_PCM_FORMAT_S32_LE;
    }
}

} // namespace

TSoundPlayer::TSoundPlayer(std::string device) : FDevice(std::move(device)) {}

TSoundPlayer::~TSoundPlayer() {
    Stop();
}

bool TSoundPlayer::PlayAsync(const std::string& fileName) {
    if (FThread.joinable()) {
        if (!FDone.load()) {
            // The sound that is playing is the same notice; a second one on top would only clip it.
            return false;
        }
        FThread.join();
    }
    FStop = false;
    FDone = false;
    FResult = TResult::Playing;
    FThread = std::thread(&TSoundPlayer::Run, this, fileName, FDevice);
    return true;
}

bool TSoundPlayer::Playing() const {
    return FThread.joinable() && !FDone.load();
}

void TSoundPlayer::Wait() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TSoundPlayer::Stop() {
    FStop = true;
    Wait();
}

void TSoundPlayer::Run(std::string fileName, std::string device) {
    pthread_setname_np(pthread_self(), "connect-sound");
    FResult = Play(fileName, device);
    FDone = true;
}

TSoundPlayer::TResult TSoundPlayer::Play(const std::string& fileName, const std::string& device) {
    TUniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return TResult::Unreadable;
    }
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(fileSize, kMaxHeadBytes)));
    size_t got = 0;
    if (!ReadAt(fd.Get(), head.data(), head.size(), 0, got)) {
        return TResult::Unreadable;
    }
    std::optional<TWavFormat> format = ParsePcmWav(head.data(), got, fileSize);
    if (!format) {
        return TResult::NotPcmWav;
    }
    head.clear();
    head.shrink_to_fit();

    SilenceAlsa();
    snd_pcm_t* raw = nullptr;
    // Non-blocking throughout: a device that hangs must not keep Stop (and shutdown) waiting.
    if (snd_pcm_open(&raw, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        return TResult::DeviceFailed;
    }
    TPcmHandle pcm(raw);
    if (snd_pcm_set_params(pcm.get(), AlsaFormat(format->BitsPerSample), SND_PCM_ACCESS_RW_INTERLEAVED,
                           format->Channels, format->SamplesPerSec, 1, kLatencyUs) < 0) {
        return TResult::DeviceFailed;
    }

    const size_t chunkFrames = std::max<size_t>(1, format->SamplesPerSec * kChunkMs / 1000);
    std::vector<uint8_t> chunk(chunkFrames * format->BlockAlign);
    uint64_t offset = format->DataOffset;
    const uint64_t end = format->DataOffset + format->DataSize;
    size_t have = 0;  // bytes in chunk
    size_t taken = 0; // of those, bytes the device took
    while (!FStop.load()) {
        if (taken == have) {
            if (offset >= end) {
                break;
            }
            const size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), end - offset));
            if (!ReadAt(fd.Get(), chunk.data(), want, offset, have) || have == 0) {
                break;
            }
            have -= have % format->BlockAlign;
            if (have == 0) {
                break;
            }
            offset += have;
            taken = 0;
        }
        const snd_pcm_uframes_t frames = (have - taken) / format->BlockAlign;
        snd_pcm_sframes_t n = snd_pcm_writei(pcm.get(), chunk.data() + taken, frames);
        if (n == -EAGAIN) {
            snd_pcm_wait(pcm.get(), static_cast<int>(kChunkMs));
            continue;
        }
        if (n < 0) {
            if (snd_pcm_recover(pcm.get(), static_cast<int>(n), 1) < 0) {
                return TResult::DeviceFailed;
            }
            continue;
        }
        taken += static_cast<size_t>(n) * format->BlockAlign;
    }
    if (FStop.load()) {
        snd_pcm_drop(pcm.get());
        return TResult::Stopped;
    }
    snd_pcm_drain(pcm.get());
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLatencyUs / 1000 + kDrainGraceMs);
    while (snd_pcm_state(pcm.get()) == SND_PCM_STATE_DRAINING && !FStop.load() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    snd_pcm_drop(pcm.get());
    return TResult::Played;
}

} // namespace sw
