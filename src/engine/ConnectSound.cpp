#include "engine/ConnectSound.h"

#include "config/Configuration.h"
#include "platform/shell/SoundPlayer.h"

#include <sys/stat.h>

namespace sw {

bool PlayConnectSound(TSoundPlayer& player) {
    if (!ConfigurationExists() || !Configuration().SoundConnect()) {
        return false;
    }
    const std::string fileName = Configuration().SoundConnectFile();
    struct stat st {};
    if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    return player.PlayAsync(fileName);
}

} // namespace sw
