#include "platform/sound/AlsaSoundSource.h"

#include <cerrno>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>

namespace sw {

namespace {

// How long Read waits in poll() before looking again; Wake ends the wait at once.
constexpr int kPollTimeoutMs = 500;
// Period and buffer the stream asks for: short periods keep the latency to the buffers the caller
// queues; half a second of ring buffer rides out a busy main thread.
constexpr unsigned kPeriodTimeUs = 20000;
constexpr unsigned kBufferTimeUs = 500000;

void SilentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(SilentErrorHandler); });
}

struct THwParamsFree {
    void operator()(snd_pcm_hw_params_t* params) const { snd_pcm_hw_params_free(params); }
};

// Narrows the configuration space to format; false when the PCM cannot record it.
bool RestrictToFormat(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, const TWaveFormatEx& format) {
    const snd_pcm_format_t sampleFormat =
        format.wBitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    unsigned rate = format.nSamplesPerSec;
    int dir = 0;
    return snd_pcm_hw_params_any(pcm, params) >= 0 &&
           snd_pcm_hw_params_set_rate_resample(pcm, params, 1) >= 0 &&
           snd_pcm_hw_params_set_access(pcm, params, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
           snd_pcm_hw_params_set_format(pcm, params, sampleFormat) >= 0 &&
           snd_pcm_hw_params_set_channels(pcm, params, format.nChannels) >= 0 &&
           snd_pcm_hw_params_set_rate(pcm, params, rate, dir) >= 0;
}

uint32_t OpenPcm(const std::string& pcmName, TUniquePcm& pcm) {
    SilenceAlsaLibrary();
    snd_pcm_t* raw = nullptr;
    const int result = snd_pcm_open(&raw, pcmName.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (result < 0) {
        return AlsaResultCode(result);
    }
    pcm.reset(raw);
    return MMSYSERR_NOERROR;
}

} // namespace

uint32_t AlsaResultCode(int error) {
    switch (-error) {
    case EBUSY:
    case EAGAIN:
        return MMSYSERR_ALLOCATED;
    case ENOMEM:
        return MMSYSERR_NOMEM;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return MMSYSERR_NODRIVER;
    case EINVAL:
        return WAVERR_BADFORMAT;
    default:
        return MMSYSERR_ERROR;
    }
}

TAlsaSoundSource::TAlsaSoundSource(TUniquePcm pcm, TUniqueFd wakeFd)
    : FPcm(std::move(pcm)), FWakeFd(std::move(wakeFd)) {}

uint32_t TAlsaSoundSource::Query(const std::string& pcmName, const TWaveFormatEx& format) {
    TUniquePcm pcm;
    if (const uint32_t result = OpenPcm(pcmName, pcm); result != MMSYSERR_NOERROR) {
        return result;
    }
    snd_pcm_hw_params_t* raw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw) < 0) {
        return MMSYSERR_NOMEM;
    }
    std::unique_ptr<snd_pcm_hw_params_t, THwParamsFree> params(raw);
    return RestrictToFormat(pcm.get(), params.get(), format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
}

uint32_t TAlsaSoundSource::Open(const std::string& pcmName, const TWaveFormatEx& format,
                                std::unique_ptr<TAlsaSoundSource>& source) {
    TUniquePcm pcm;
    if (const uint32_t result = OpenPcm(pcmName, pcm); result != MMSYSERR_NOERROR) {
        return result;
    }
    snd_pcm_hw_params_t* raw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw) < 0) {
        return MMSYSERR_NOMEM;
    }
    std::unique_ptr<snd_pcm_hw_params_t, THwParamsFree> params(raw);
    if (!RestrictToFormat(pcm.get(), params.get(), format)) {
        return WAVERR_BADFORMAT;
    }
    unsigned periodUs = kPeriodTimeUs;
    unsigned bufferUs = kBufferTimeUs;
    int dir = 0;
    snd_pcm_hw_params_set_buffer_time_near(pcm.get(), params.get(), &bufferUs, &dir);
    dir = 0;
    snd_pcm_hw_params_set_period_time_near(pcm.get(), params.get(), &periodUs, &dir);
    if (const int result = snd_pcm_hw_params(pcm.get(), params.get()); result < 0) {
        return AlsaResultCode(result);
    }
    TUniqueFd wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeFd) {
        return MMSYSERR_NOMEM;
    }
    const int count = snd_pcm_poll_descriptors_count(pcm.get());
    if (count <= 0) {
        return MMSYSERR_ERROR;
    }
    std::unique_ptr<TAlsaSoundSource> created(new TAlsaSoundSource(std::move(pcm), std::move(wakeFd)));
    created->FPollFds.resize(static_cast<size_t>(count) + 1);
    if (snd_pcm_poll_descriptors(created->FPcm.get(), created->FPollFds.data(),
                                 static_cast<unsigned>(count)) != count) {
        return MMSYSERR_ERROR;
    }
    created->FPollFds.back() = {created->FWakeFd.Get(), POLLIN, 0};
    source = std::move(created);
    return MMSYSERR_NOERROR;
}

uint32_t TAlsaSoundSource::Begin() {
    FOverruns = 0;
    int result = snd_pcm_prepare(FPcm.get());
    if (result >= 0) {
        result = snd_pcm_start(FPcm.get());
    }
    return result < 0 ? AlsaResultCode(result) : MMSYSERR_NOERROR;
}

void TAlsaSoundSource::Halt() {
    snd_pcm_drop(FPcm.get());
}

bool TAlsaSoundSource::Recover(int error) {
    if (error == -EPIPE) {
        ++FOverruns;
    }
    if (snd_pcm_recover(FPcm.get(), error, 1) < 0) {
        return false;
    }
    // A recovered capture stream is only prepared; poll() reports nothing until it runs again.
    return snd_pcm_start(FPcm.get()) >= 0 || snd_pcm_state(FPcm.get()) == SND_PCM_STATE_RUNNING;
}

long TAlsaSoundSource::Read(uint8_t* data, uint32_t maxFrames) {
    for (auto& fd : FPollFds) {
        fd.revents = 0;
    }
    const int ready = poll(FPollFds.data(), FPollFds.size(), kPollTimeoutMs);
    if (ready < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (FPollFds.back().revents & POLLIN) {
        uint64_t counter = 0;
        [[maybe_unused]] ssize_t drained = ::read(FWakeFd.Get(), &counter, sizeof counter);
        return 0;
    }
    // An overrun shows as POLLERR; the read below reports it with its proper code.
    const snd_pcm_sframes_t got = snd_pcm_readi(FPcm.get(), data, maxFrames);
    if (got >= 0) {
        return static_cast<long>(got);
    }
    if (got == -EAGAIN) {
        return 0;
    }
    return Recover(static_cast<int>(got)) ? 0 : -1;
}

void TAlsaSoundSource::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(FWakeFd.Get(), &one, sizeof one);
}

} // namespace sw
