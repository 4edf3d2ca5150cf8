#include "platform/paths/ProgramFolders.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace sw {

namespace {

constexpr const char* kFolderName = "streamwright";

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Relative XDG values are to be ignored, as if unset.
std::string XdgFolder(const TProgramFoldersInput& input, const char* variable, const char* underHome) {
    const char* value = input.Environment ? input.Environment(variable) : nullptr;
    if (value && value[0] == '/') {
        return value;
    }
    const char* home = input.Environment ? input.Environment("HOME") : nullptr;
    if (home && home[0] == '/') {
        return std::string(home) + "/" + underHome;
    }
    return {};
}

// The system's own folders are never the program's to write, even for root.
bool SystemFolder(const std::string& folder) {
    for (const char* prefix : {"/usr", "/bin", "/sbin", "/lib"}) {
        size_t n = std::strlen(prefix);
        if (folder.compare(0, n, prefix) == 0 && (folder.size() == n || folder[n] == '/')) {
            return true;
        }
    }
    return false;
}

bool Writable(const TProgramFoldersInput& input, const std::string& folder) {
    return input.FolderWritable && input.FolderWritable(folder);
}

} // namespace

TProgramFolders ChooseProgramFolders(const TProgramFoldersInput& input) {
    const std::string exeFolder = FolderOf(input.ExecutablePath);
    const std::string name = WithoutExtension(BaseName(input.ExecutablePath));
    const std::string config = XdgFolder(input, "XDG_CONFIG_HOME", ".config");
    const std::string state = XdgFolder(input, "XDG_STATE_HOME", ".local/state");
    const std::string data = XdgFolder(input, "XDG_DATA_HOME", ".local/share");

    TProgramFolders folders;
    // Without a home there is nowhere better than beside the executable, writable or not.
    folders.Portable = (!SystemFolder(exeFolder) && Writable(input, exeFolder)) || config.empty() ||
                       state.empty() || data.empty();
    if (folders.Portable) {
        folders.IniFile = exeFolder + "/" + name + ".ini";
        folders.LogFile = exeFolder + "/" + name + ".log";
        folders.WebHome = exeFolder;
    } else {
        folders.IniFile = config + "/" + kFolderName + "/" + name + ".ini";
        folders.LogFile = state + "/" + kFolderName + "/" + name + ".log";
        folders.WebHome = data + "/" + kFolderName + "/www";
        const std::string beside = FolderOf(exeFolder) + "/share/streamwright/www";
        std::error_code ec;
        folders.InstalledWeb = std::filesystem::is_directory(beside, ec) || input.InstalledDataDir.empty()
                                   ? beside
                                   : input.InstalledDataDir + "/streamwright/www";
    }
    if (!input.IniOption.empty()) {
        folders.IniFile = input.IniOption;
        const std::string iniFolder = FolderOf(input.IniOption);
        const std::string logName = WithoutExtension(BaseName(input.IniOption)) + ".log";
        if (Writable(input, iniFolder) || state.empty()) {
            folders.LogFile = iniFolder + "/" + logName;
        } else {
            folders.LogFile = state + "/" + kFolderName + "/" + logName;
        }
    }
    return folders;
}

TProgramFoldersInput SystemProgramFoldersInput(const std::string& iniOption) {
    TProgramFoldersInput input;
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    input.ExecutablePath = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "streamwright";
    input.IniOption = iniOption;
    input.Environment = [](const char* variable) -> const char* {
        const char* value = std::getenv(variable);
        if (!value && std::strcmp(variable, "HOME") == 0) {
            // A service started without HOME still has a home in the password database.
            static std::string home;
            if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir) {
                home = entry->pw_dir;
                return home.c_str();
            }
        }
        return value;
    };
    input.FolderWritable = [](const std::string& folder) { return FolderWritable(folder); };
#ifdef SW_INSTALL_DATADIR
    input.InstalledDataDir = SW_INSTALL_DATADIR;
#endif
    return input;
}

bool FolderWritable(const std::string& folder) {
    // A folder that does not exist yet is writable when its nearest existing parent is.
    std::string existing = folder.empty() ? "." : folder;
    struct stat info {};
    while (::stat(existing.c_str(), &info) != 0) {
        if (errno != ENOENT || existing == "/" || existing == ".") {
            return false;
        }
        existing = FolderOf(existing);
    }
    if (!S_ISDIR(info.st_mode) || ::access(existing.c_str(), W_OK | X_OK) != 0) {
        return false;
    }
    // access() answers from permission bits, which root passes and which an immutable folder, a
    // read-only bind mount under a sandbox or NFS root squashing contradict; only a real file tells.
    std::string probe = existing + "/.streamwright-probe-XXXXXX";
    std::vector<char> name(probe.begin(), probe.end());
    name.push_back('\0');
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    ::unlink(name.data());
    return true;
}

bool PrepareProgramFolders(const TProgramFolders& folders, std::string* error) {
    namespace fs = std::filesystem;
    auto fail = [&](const std::string& what, const std::error_code& ec) {
        if (error) {
            *error = what + ": " + ec.message();
        }
        return false;
    };
    std::error_code ec;
    for (const std::string& file : {folders.IniFile, folders.LogFile}) {
        const std::string folder = FolderOf(file);
        if (!fs::is_directory(folder, ec)) {
            fs::create_directories(folder, ec);
            if (ec) {
                return fail("Cannot create " + folder, ec);
            }
        }
    }
    if (folders.InstalledWeb.empty() || fs::exists(folders.WebHome, ec) ||
        !fs::is_directory(folders.InstalledWeb, ec)) {
        return true;
    }
    // Copied into a sibling first and renamed, so an interrupted copy is not taken for a finished one.
    const std::string partial = folders.WebHome + ".partial";
    fs::remove_all(partial, ec);
    fs::create_directories(FolderOf(folders.WebHome), ec);
    if (ec) {
        return fail("Cannot create " + FolderOf(folders.WebHome), ec);
    }
    // File by file rather than fs::copy, which would give the copy the installed folders' read-only
    // modes and then fail to fill them; the viewer page updater rewrites the copy in place.
    std::error_code ignored;
    auto copyFailed = [&](const std::error_code& reason) {
        fs::remove_all(partial, ignored);
        return fail("Cannot copy " + folders.InstalledWeb, reason);
    };
    fs::create_directory(partial, ec);
    for (fs::recursive_directory_iterator it(folders.InstalledWeb, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path target = partial / fs::relative(it->path(), folders.InstalledWeb, ec);
        if (!ec && it->is_directory(ec)) {
            fs::create_directory(target, ec);
        } else if (!ec && it->is_regular_file(ec)) {
            fs::copy_file(it->path(), target, ec);
            if (!ec) {
                fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, ec);
            }
        }
        if (ec) {
            break;
        }
    }
    if (ec) {
        return copyFailed(ec);
    }
    fs::rename(partial, folders.WebHome, ec);
    if (ec) {
        return fail("Cannot create " + folders.WebHome, ec);
    }
    return true;
}

} // namespace sw
