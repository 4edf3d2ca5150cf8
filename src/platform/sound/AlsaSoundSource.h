#pragma once

#include "platform/shell/UniqueFd.h"
#include "platform/sound/ThreadedWaveIn.h"

#include <alsa/asoundlib.h>
#include <memory>
#include <string>
#include <vector>

namespace sw {

struct TPcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using TUniquePcm = std::unique_ptr<snd_pcm_t, TPcmCloser>;

// An ALSA capture PCM opened non-blocking in exactly the requested format (U8 or S16_LE, interleaved).
// Read waits in poll() on the PCM and an eventfd that Wake signals; overruns are recovered by
// restarting the stream, losing the frames that did not fit.
class TAlsaSoundSource : public TSoundSource {
public:
    // Opens pcmName; a waveform-audio result code, the source being usable only on success.
    static uint32_t Open(const std::string& pcmName, const TWaveFormatEx& format,
                         std::unique_ptr<TAlsaSoundSource>& source);
    // Whether pcmName can record format, without keeping it open.
    static uint32_t Query(const std::string& pcmName, const TWaveFormatEx& format);

    uint32_t Begin() override;
    void Halt() override;
    long Read(uint8_t* data, uint32_t maxFrames) override;
    void Wake() override;

    // Overruns recovered since Begin.
    unsigned Overruns() const { return FOverruns; }

private:
    TAlsaSoundSource(TUniquePcm pcm, TUniqueFd wakeFd);
    bool Recover(int error);

    TUniquePcm FPcm;
    TUniqueFd FWakeFd;
    std::vector<struct pollfd> FPollFds;
    unsigned FOverruns = 0;
};

// Maps a negative ALSA or errno result to the waveform-audio numbering.
uint32_t AlsaResultCode(int error);

} // namespace sw
