#include "web/HomeFile.h"

#include "config/Configuration.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sw {

namespace {

uint16_t StatusOfErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case EXDEV:
    case ELOOP:
    case ENAMETOOLONG:
    case EINVAL:
    case EISDIR:
    case ENXIO:
    case ENODEV:
        return 404;
    default:
        return 403;
    }
}

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// -1 with errno set; ENOSYS when the kernel (or a seccomp filter) lacks openat2.
int OpenBeneath(int dirFd, const std::string& relative) {
    struct open_how how {};
    how.flags = kOpenFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd = ::syscall(SYS_openat2, dirFd, relative.c_str(), &how, sizeof how);
    return static_cast<int>(fd);
}

int OpenCanonical(const std::string& home, const std::string& relative) {
    char homeReal[PATH_MAX];
    char fileReal[PATH_MAX];
    if (!::realpath(home.c_str(), homeReal)) {
        return -1;
    }
    std::string candidate = std::string(homeReal) + "/" + relative;
    if (!::realpath(candidate.c_str(), fileReal)) {
        return -1;
    }
    std::string prefix = homeReal;
    if (prefix != "/") {
        prefix += "/";
    }
    if (std::string(fileReal).compare(0, prefix.size(), prefix) != 0) {
        errno = EXDEV;
        return -1;
    }
    return ::open(fileReal, kOpenFlags | O_NOFOLLOW);
}

// The canonical name of a file that may not exist yet: its folder resolved, its own name kept.
std::string CanonicalName(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) {
        return resolved;
    }
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return path;
    }
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    if (!::realpath(folder.c_str(), resolved)) {
        return path;
    }
    std::string base = resolved;
    return (base == "/" ? "" : base) + path.substr(slash);
}

bool SameFile(const struct stat& opened, const std::string& path) {
    struct stat other {};
    return !path.empty() && ::stat(path.c_str(), &other) == 0 && other.st_dev == opened.st_dev &&
           other.st_ino == opened.st_ino;
}

bool AllOf(const std::string& text, size_t begin, size_t end, int (*test)(int)) {
    for (size_t i = begin; i < end; ++i) {
        if (!test(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

// name + "." + the six letters or digits of mkstemp.
bool IsTemporaryOf(const std::string& candidate, const std::string& name) {
    return !name.empty() && candidate.size() == name.size() + 7 && candidate.starts_with(name) &&
           candidate[name.size()] == '.' && AllOf(candidate, name.size() + 1, candidate.size(), std::isalnum);
}

// The page's name with ".yyyymmdd.hhnnss" before its extension.
bool IsBackupOf(const std::string& candidate, const std::string& page) {
    size_t slash = page.rfind('/');
    size_t dot = page.rfind('.');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string stem = hasExtension ? page.substr(0, dot) : page;
    std::string extension = hasExtension ? page.substr(dot) : std::string();
    constexpr size_t kStampChars = 16; // ".yyyymmdd.hhnnss"
    if (page.empty() || candidate.size() != stem.size() + kStampChars + extension.size() ||
        !candidate.starts_with(stem) || !candidate.ends_with(extension)) {
        return false;
    }
    size_t at = stem.size();
    return candidate[at] == '.' && AllOf(candidate, at + 1, at + 9, std::isdigit) &&
           candidate[at + 9] == '.' && AllOf(candidate, at + 10, at + 16, std::isdigit);
}

} // namespace

TPrivateFiles ConfiguredPrivateFiles() {
    TPrivateFiles files;
    if (!ConfigurationExists()) {
        return files;
    }
    TConfiguration& config = Configuration();
    files.SettingsFile = config.FileName();
    files.LogFile = ChangeFileExt(files.SettingsFile, ".log");
    files.PageFile = ViewerPageFileName(config.Web().Path(), config.Web().Page());
    return files;
}

bool IsPrivateFile(int fd, const TPrivateFiles& files) {
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        return true;
    }
    if (SameFile(opened, files.SettingsFile) || SameFile(opened, files.LogFile)) {
        return true;
    }
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0) {
        return true;
    }
    const std::string name(target, static_cast<size_t>(n));
    for (const std::string* own : {&files.SettingsFile, &files.LogFile, &files.PageFile}) {
        if (!own->empty() && IsTemporaryOf(name, CanonicalName(*own))) {
            return true;
        }
    }
    return !files.PageFile.empty() && IsBackupOf(name, CanonicalName(files.PageFile));
}

std::string UriPath(const std::string& uri) {
    if (uri.size() < 7 || ::strncasecmp(uri.c_str(), "http://", 7) != 0) {
        return uri;
    }
    size_t slash = uri.find('/', 7);
    return slash == std::string::npos ? std::string("/") : uri.substr(slash);
}

THomeFile OpenHomeFile(const std::string& home, const std::string& path, TResolveMode mode) {
    THomeFile result;
    if (home.empty() || path.empty() || path[0] != '/' || path.find('\0') != std::string::npos ||
        path.find('\\') != std::string::npos) {
        return result;
    }
    size_t start = path.find_first_not_of('/');
    if (start == std::string::npos) {
        return result;
    }
    std::string relative = path.substr(start);

    TUniqueFd file;
    if (mode != TResolveMode::Canonical) {
        TUniqueFd dir(::open(home.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!dir) {
            result.Status = StatusOfErrno(errno);
            return result;
        }
        file.Reset(OpenBeneath(dir.Get(), relative));
        if (!file && !(errno == ENOSYS && mode == TResolveMode::Auto)) {
            result.Status = StatusOfErrno(errno);
            return result;
        }
    }
    if (!file) {
        file.Reset(OpenCanonical(home, relative));
        if (!file) {
            result.Status = StatusOfErrno(errno);
            return result;
        }
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        result.Status = 403;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        return result;
    }
    result.Status = 200;
    result.Fd = std::move(file);
    result.Size = static_cast<uint64_t>(info.st_size);
    return result;
}

bool TFileContentSource::Read(std::string& out, size_t maxBytes) {
    size_t start = out.size();
    out.resize(start + maxBytes);
    size_t got = 0;
    while (got < maxBytes) {
        ssize_t n = ::pread(FFd.Get(), out.data() + start + got, maxBytes - got, static_cast<off_t>(FOffset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            out.resize(start + got);
            return false;
        }
        got += static_cast<size_t>(n);
        FOffset += static_cast<uint64_t>(n);
    }
    return true;
}

} // namespace sw
