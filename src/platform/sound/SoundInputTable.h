#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

// Result codes in the waveform-audio numbering.
constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_ERROR = 1;
constexpr uint32_t MMSYSERR_BADDEVICEID = 2;
constexpr uint32_t MMSYSERR_ALLOCATED = 4;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_NODRIVER = 6;
constexpr uint32_t MMSYSERR_NOMEM = 7;
constexpr uint32_t MMSYSERR_INVALFLAG = 10;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t WAVERR_BADFORMAT = 32;
constexpr uint32_t WAVERR_STILLPLAYING = 33;
constexpr uint32_t WAVERR_UNPREPARED = 34;

// The system's default device, listed last.
constexpr int WAVE_MAPPER = -1;

// The 48-byte capabilities record of a sound input.
struct TWaveInCaps {
    uint16_t wMid;
    uint16_t wPid;
    uint32_t vDriverVersion; // major in bits 8 to 15, minor in bits 0 to 7
    char szPname[32];
    uint32_t dwFormats;
    uint16_t wChannels;
    uint16_t wReserved1;
};
static_assert(sizeof(TWaveInCaps) == 48);

enum class TSoundInputKind { Alsa, TestTone, Default };

struct TSoundInputEntry {
    TSoundInputKind Kind = TSoundInputKind::TestTone;
    std::string AlsaName; // "hw:CARD=...,DEV=n" or "default"
    std::string Name;
    uint32_t DriverVersion = 0;
};

// The sound input table: the machine's ALSA capture devices, then the built-in test tone generator.
// Numbered from 0; the default device is not part of it (it answers as WAVE_MAPPER).
std::vector<TSoundInputEntry> SoundInputEntries();
// The entry of a device number, WAVE_MAPPER included; false when there is none.
bool SoundInputEntry(int deviceId, TSoundInputEntry& entry);

// What names the same input after its card was reset or plugged in again, when its place in the table
// may have changed: the ALSA card id and device, "builtin:test-tone" or "default"; "" for no device.
std::string SoundInputIdentity(int deviceId);
// The device number of that input now (WAVE_MAPPER for the default device); nothing when it is gone.
std::optional<int> SoundInputByIdentity(const std::string& identity);

uint32_t waveInGetNumDevs();
uint32_t waveInGetDevCaps(int deviceId, TWaveInCaps* caps);

inline constexpr const char* kTestToneName = "Test Tone";
inline constexpr const char* kDefaultSoundInputName = "System Default";

} // namespace sw
