#pragma once

#include "platform/shell/UniqueFd.h"
#include "web/WebResponse.h"

#include <cstdint>
#include <string>

namespace sw {

// The path part of a request URI: an absolute "http://host/..." form loses its scheme and host ("/"
// when nothing is left); anything else stays as it stands. No percent-decoding.
std::string UriPath(const std::string& uri);

enum class TResolveMode {
    Auto,      // resolve beneath the home directory in the kernel, the canonical check where that is missing
    Beneath,   // openat2 with RESOLVE_BENEATH only
    Canonical, // realpath of the home directory and of the file, prefix check
};

struct THomeFile {
    uint16_t Status = 404; // 200, 403 or 404
    TUniqueFd Fd;
    uint64_t Size = 0;
};

// Opens the regular file that a URI path names beneath the home directory. Anything that would lead
// outside it (".." segments, symlinks, a path not starting with "/", NUL or backslash) is 404, like a
// missing file or a directory; a file that exists but cannot be opened is 403.
THomeFile OpenHomeFile(const std::string& home, const std::string& path,
                       TResolveMode mode = TResolveMode::Auto);

// The program's own files, which may lie in the home directory (by default it is the executable's
// folder): never served, whatever the home directory.
struct TPrivateFiles {
    std::string SettingsFile;
    std::string LogFile;
    std::string PageFile; // its updater's backups and temporary file are private, the page is not
};

// From the configuration: its file, the log beside it (".log") and the viewer page of "Web".
TPrivateFiles ConfiguredPrivateFiles();

// True when the open file is the settings or log file (under any name), one of their temporary files,
// the page's temporary file or one of the page's time-stamped backups.
bool IsPrivateFile(int fd, const TPrivateFiles& files);

// A file served in pieces, read from its start.
class TFileContentSource : public TContentSource {
public:
    TFileContentSource(TUniqueFd fd, uint64_t size) : FFd(std::move(fd)), FSize(size) {}
    uint64_t Size() const override { return FSize; }
    bool Read(std::string& out, size_t maxBytes) override;

private:
    TUniqueFd FFd;
    uint64_t FSize;
    uint64_t FOffset = 0;
};

} // namespace sw
