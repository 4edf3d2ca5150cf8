#pragma once

#include "platform/sound/WaveIn.h"

#include <string>
#include <vector>

namespace sw {

// The chooser's cancel result and its "nothing to choose from" result.
constexpr uint32_t ACMERR_NOTPOSSIBLE = 512;
constexpr uint32_t ACMERR_CANCELED = 515;

// A PCM format with its block alignment and byte rate worked out.
TWaveFormatEx PcmFormat(uint32_t samplesPerSec, uint16_t bitsPerSample, uint16_t channels);

// The formats the chooser offers when the device can record them: 8 and 16 bits; 8000, 11025, 16000,
// 22050, 44100 and 48000 Hz; mono and stereo.
std::vector<TWaveFormatEx> CandidateFormats();

// The candidates that deviceId can record, asked through open with WAVE_FORMAT_QUERY. When none can,
// failure is the device's last result code (ACMERR_NOTPOSSIBLE if it gave none).
std::vector<TWaveFormatEx> RecordableFormats(const TWaveInOpener& open, int deviceId, uint32_t& failure);

// "44.100 kHz, 16 Bit, Stereo".
std::string WaveFormatName(const TWaveFormatEx& format);

} // namespace sw
