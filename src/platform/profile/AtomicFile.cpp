#include "platform/profile/AtomicFile.h"

#include "platform/shell/UniqueFd.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace sw {

namespace {

bool WriteAll(int fd, const std::vector<std::string_view>& pieces) {
    size_t index = 0;
    size_t offset = 0; // into pieces[index]
    while (index < pieces.size()) {
        iovec iov[IOV_MAX < 512 ? IOV_MAX : 512];
        int count = 0;
        for (size_t i = index; i < pieces.size() && count < static_cast<int>(std::size(iov)); ++i) {
            size_t skip = i == index ? offset : 0;
            if (pieces[i].size() > skip) {
                iov[count++] = {const_cast<char*>(pieces[i].data() + skip), pieces[i].size() - skip};
            }
        }
        if (count == 0) {
            break;
        }
        ssize_t n = ::writev(fd, iov, count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        size_t done = static_cast<size_t>(n);
        while (index < pieces.size() && done >= pieces[index].size() - offset) {
            done -= pieces[index].size() - offset;
            offset = 0;
            ++index;
        }
        offset += done;
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

// What mkstemp made of base: "." and six letters or digits.
bool IsTempFileOf(const std::string& name, const std::string& base) {
    constexpr size_t kRandomChars = 6;
    if (name.size() != base.size() + 1 + kRandomChars || name.compare(0, base.size(), base) != 0 ||
        name[base.size()] != '.') {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(base.size() + 1), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

} // namespace

bool ReplaceFileContent(const std::string& fileName, const std::string& content) {
    return ReplaceFileContent(fileName, std::vector<std::string_view>{content});
}

bool ReplaceFileContent(const std::string& fileName, const std::vector<std::string_view>& pieces) {
    return ReplaceFileContentWithResult(fileName, pieces) == TReplaceResult::Ok;
}

TReplaceResult ReplaceFileContentWithResult(const std::string& fileName,
                                            const std::vector<std::string_view>& pieces) {
    if (fileName.empty()) {
        return TReplaceResult::NotWritable;
    }
    const std::string target = ResolveTarget(fileName);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            return TReplaceResult::NotWritable;
        }
        // Root may write anything, so the permission bits themselves decide what "read-only" means.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
            return TReplaceResult::NotWritable;
        }
    }

    std::string temp = target + ".XXXXXX";
    TUniqueFd fd(::mkstemp(temp.data()));
    if (fd.Get() < 0) {
        return TReplaceResult::NotWritable;
    }
    if (exists) {
        [[maybe_unused]] int owned = ::fchown(fd.Get(), st.st_uid, st.st_gid);
    }
    bool ok = ::fchmod(fd.Get(), exists ? (st.st_mode & 07777) : 0644) == 0 && WriteAll(fd.Get(), pieces) &&
              ::fdatasync(fd.Get()) == 0;
    ok = fd.Reset() && ok;
    if (!ok || ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return TReplaceResult::WriteFailed;
    }
    return TReplaceResult::Ok;
}

size_t RemoveStaleTempFiles(const std::string& fileName) {
    if (fileName.empty()) {
        return 0;
    }
    const std::string target = ResolveTarget(fileName);
    size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) {
        return 0;
    }
    size_t removed = 0;
    while (dirent* item = ::readdir(dir.get())) {
        std::string name = item->d_name;
        if (!IsTempFileOf(name, base)) {
            continue;
        }
        std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
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
    content.reserve(static_cast<size_t>(st.st_size));
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
