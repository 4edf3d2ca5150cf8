#include "audio/AudioFormatChoice.h"

#include <array>
#include <cstdio>

namespace sw {

TWaveFormatEx PcmFormat(uint32_t samplesPerSec, uint16_t bitsPerSample, uint16_t channels) {
    TWaveFormatEx format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nSamplesPerSec = samplesPerSec;
    format.wBitsPerSample = bitsPerSample;
    format.nChannels = channels;
    format.nBlockAlign = static_cast<uint16_t>(channels * bitsPerSample / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * samplesPerSec;
    format.cbSize = 0;
    return format;
}

std::vector<TWaveFormatEx> CandidateFormats() {
    constexpr std::array<uint32_t, 6> kRates{8000, 11025, 16000, 22050, 44100, 48000};
    std::vector<TWaveFormatEx> formats;
    for (uint32_t rate : kRates) {
        for (uint16_t bits : {uint16_t{8}, uint16_t{16}}) {
            for (uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
                formats.push_back(PcmFormat(rate, bits, channels));
            }
        }
    }
    return formats;
}

std::vector<TWaveFormatEx> RecordableFormats(const TWaveInOpener& open, int deviceId, uint32_t& failure) {
    std::vector<TWaveFormatEx> formats;
    failure = ACMERR_NOTPOSSIBLE;
    for (const TWaveFormatEx& candidate : CandidateFormats()) {
        const uint32_t result = open(nullptr, deviceId, &candidate, nullptr, WAVE_FORMAT_QUERY);
        if (result == MMSYSERR_NOERROR) {
            formats.push_back(candidate);
        } else {
            failure = result;
        }
    }
    if (!formats.empty()) {
        failure = MMSYSERR_NOERROR;
    }
    return formats;
}

std::string WaveFormatName(const TWaveFormatEx& format) {
    char text[64];
    const char* channels = format.nChannels == 1 ? "Mono" : format.nChannels == 2 ? "Stereo" : nullptr;
    char channelText[16];
    if (!channels) {
        std::snprintf(channelText, sizeof channelText, "%u Channels",
                      static_cast<unsigned>(format.nChannels));
        channels = channelText;
    }
    std::snprintf(text, sizeof text, "%u.%03u kHz, %u Bit, %s", format.nSamplesPerSec / 1000,
                  format.nSamplesPerSec % 1000, static_cast<unsigned>(format.wBitsPerSample), channels);
    return text;
}

} // namespace sw
