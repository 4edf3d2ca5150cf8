#include "platform/profile/AtomicFile.h"

#include "platform/shell/UniqueFd.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

namespace {

bool WriteAll(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string ResolveTarget(const std::string& fileName) {
    char resolved[PATH_MAX];
    struct stat st {};
    if (::lstat(fileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        ::realpath(fileName.c_str(), resolved)) {
        return resolved;
    }
    return fileName;
}

} // namespace

bool ReplaceFileContent(const std::string& fileName, const std::string& content) {
    if (fileName.empty()) {
        return false;
    }
    const std::string target = ResolveTarget(fileName);
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            return false;
        }
        // Root may write anything, so the permission bits themselves decide what "read-only" means.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            return false;
        }
        mode = st.st_mode & 07777;
    }

    std::string temp = target + ".XXXXXX";
    TUniqueFd fd(::mkstemp(temp.data()));
    if (fd.Get() < 0) {
        return false;
    }
    bool ok = ::fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), content) && ::fdatasync(fd.Get()) == 0;
    ok = fd.Reset() && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> ReadFileContent(const std::string& fileName) {
    TUniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
    return content;
}

std::vector<std::string> SplitFileLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t lf = text.find('\n', begin);
        size_t end = lf == std::string::npos ? text.size() : lf;
        size_t stop = end > begin && text[end - 1] == '\r' ? end - 1 : end;
        lines.push_back(text.substr(begin, stop - begin));
        begin = lf == std::string::npos ? text.size() : lf + 1;
    }
    return lines;
}

} // namespace sw
