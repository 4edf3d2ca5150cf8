#pragma once

#include <functional>
#include <string>

namespace sw {

// Where the program keeps its settings, its log and the default web home.
//   portable: the executable's folder is writable (and not under /usr): "name.ini", "name.log" and the
//             web home beside the executable, as a copied folder expects;
//   otherwise: $XDG_CONFIG_HOME/streamwright/name.ini, $XDG_STATE_HOME/streamwright/name.log and
//             $XDG_DATA_HOME/streamwright/www, the latter seeded from the installed www content;
//   --ini FILE: always the settings file; the log is FILE with ".log" when FILE's folder is writable,
//             else the state folder's name.log (a service reads its settings from a read-only /etc).
struct TProgramFolders {
    std::string IniFile;
    std::string LogFile;
    // Default of the web home ("Web" "Path"), without a trailing separator.
    std::string WebHome;
    // Installed content to copy into WebHome when WebHome does not exist yet; empty when portable.
    std::string InstalledWeb;
    bool Portable = false;
};

struct TProgramFoldersInput {
    std::string ExecutablePath;
    // Absolute; empty without --ini.
    std::string IniOption;
    // The environment (XDG_CONFIG_HOME, XDG_STATE_HOME, XDG_DATA_HOME, HOME); null reads as unset.
    std::function<const char*(const char*)> Environment;
    std::function<bool(const std::string&)> FolderWritable;
    // Where the installed www content lies when it is not found relative to the executable.
    std::string InstalledDataDir;
};

TProgramFolders ChooseProgramFolders(const TProgramFoldersInput& input);

// The real inputs: /proc/self/exe, getenv (HOME from the password database when unset), the
// writability probe below, and the data folder the build was configured with.
TProgramFoldersInput SystemProgramFoldersInput(const std::string& iniOption);

// True when a file can really be created in the folder: access() alone says yes to root on a read-only
// mount's neighbours and no to nothing else, so a probe file is created and removed.
bool FolderWritable(const std::string& folder);

// Creates the folders of the settings and log files and, when the web home is missing, copies the
// installed content into it. Returns false with a reason on the first failure; nothing is overwritten.
bool PrepareProgramFolders(const TProgramFolders& folders, std::string* error);

} // namespace sw
