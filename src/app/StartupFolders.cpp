#include "app/StartupFolders.h"

#include "platform/profile/IniFile.h"

#include <cstdio>

namespace sw {

TProgramFolders StartupFolders(const std::string& iniOption) {
    TProgramFolders folders = ChooseProgramFolders(SystemProgramFoldersInput(iniOption));
    std::string storedPath = GetPrivateProfileString("Web", "Path", "", folders.IniFile);
    if (!storedPath.empty() && storedPath.back() == '/') {
        storedPath.pop_back();
    }
    if (!storedPath.empty() && storedPath != folders.WebHome) {
        folders.InstalledWeb.clear();
    }
    std::string error;
    if (!PrepareProgramFolders(folders, &error)) {
        std::fprintf(stderr, "streamwright: %s\n", error.c_str());
    }
    return folders;
}

} // namespace sw
