#include "platform/sound/SoundInputTable.h"

#include "SwVersion.h"

#include <alsa/asoundlib.h>
#include <cstring>

namespace sw {

namespace {

uint32_t AlsaLibraryVersion() {
    unsigned major = 0;
    unsigned minor = 0;
    std::sscanf(snd_asoundlib_version(), "%u.%u", &major, &minor);
    return ((major & 0xFF) << 8) | (minor & 0xFF);
}

void AddAlsaCaptureDevices(std::vector<TSoundInputEntry>& entries) {
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        char ctlName[32];
        std::snprintf(ctlName, sizeof ctlName, "hw:%d", card);
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, ctlName, 0) < 0) {
            continue;
        }
        snd_ctl_card_info_t* cardInfo = nullptr;
        snd_ctl_card_info_alloca(&cardInfo);
        std::string cardId;
        std::string cardName;
        if (snd_ctl_card_info(ctl, cardInfo) == 0) {
            cardId = snd_ctl_card_info_get_id(cardInfo);
            cardName = snd_ctl_card_info_get_name(cardInfo);
        }
        int device = -1;
        while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
            snd_pcm_info_t* pcmInfo = nullptr;
            snd_pcm_info_alloca(&pcmInfo);
            snd_pcm_info_set_device(pcmInfo, static_cast<unsigned>(device));
            snd_pcm_info_set_subdevice(pcmInfo, 0);
            snd_pcm_info_set_stream(pcmInfo, SND_PCM_STREAM_CAPTURE);
            if (snd_ctl_pcm_info(ctl, pcmInfo) < 0) {
                continue;
            }
            TSoundInputEntry entry;
            entry.Kind = TSoundInputKind::Alsa;
            entry.AlsaName = "hw:CARD=" + cardId + ",DEV=" + std::to_string(device);
            entry.Name = cardName + ": " + snd_pcm_info_get_name(pcmInfo);
            entry.DriverVersion = AlsaLibraryVersion();
            entries.push_back(std::move(entry));
        }
        snd_ctl_close(ctl);
    }
}

std::string IdentityOf(const TSoundInputEntry& entry) {
    switch (entry.Kind) {
    case TSoundInputKind::TestTone:
        return "builtin:test-tone";
    case TSoundInputKind::Default:
        return "default";
    case TSoundInputKind::Alsa:
        break;
    }
    return entry.AlsaName;
}

} // namespace

std::vector<TSoundInputEntry> SoundInputEntries() {
    std::vector<TSoundInputEntry> entries;
    AddAlsaCaptureDevices(entries);
    TSoundInputEntry tone;
    tone.Kind = TSoundInputKind::TestTone;
    tone.Name = kTestToneName;
    tone.DriverVersion = ((SW_VERSION_MAJOR & 0xFF) << 8) | (SW_VERSION_MINOR & 0xFF);
    entries.push_back(std::move(tone));
    return entries;
}

bool SoundInputEntry(int deviceId, TSoundInputEntry& entry) {
    if (deviceId == WAVE_MAPPER) {
        entry = TSoundInputEntry();
        entry.Kind = TSoundInputKind::Default;
        entry.AlsaName = "default";
        entry.Name = kDefaultSoundInputName;
        entry.DriverVersion = AlsaLibraryVersion();
        return true;
    }
    std::vector<TSoundInputEntry> entries = SoundInputEntries();
    if (deviceId < 0 || static_cast<size_t>(deviceId) >= entries.size()) {
        return false;
    }
    entry = entries[static_cast<size_t>(deviceId)];
    return true;
}

std::string SoundInputIdentity(int deviceId) {
    TSoundInputEntry entry;
    return SoundInputEntry(deviceId, entry) ? IdentityOf(entry) : std::string();
}

std::optional<int> SoundInputByIdentity(const std::string& identity) {
    if (identity == "default") {
        return WAVE_MAPPER;
    }
    const std::vector<TSoundInputEntry> entries = SoundInputEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!identity.empty() && IdentityOf(entries[i]) == identity) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

uint32_t waveInGetNumDevs() {
    return static_cast<uint32_t>(SoundInputEntries().size());
}

uint32_t waveInGetDevCaps(int deviceId, TWaveInCaps* caps) {
    if (!caps) {
        return MMSYSERR_INVALPARAM;
    }
    TSoundInputEntry entry;
    if (!SoundInputEntry(deviceId, entry)) {
        return MMSYSERR_BADDEVICEID;
    }
    std::memset(caps, 0, sizeof *caps);
    caps->vDriverVersion = entry.DriverVersion;
    std::strncpy(caps->szPname, entry.Name.c_str(), sizeof caps->szPname - 1);
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}

} // namespace sw
