#include "engine/ViewerPage.h"

#include "config/Configuration.h"
#include "engine/DataModuleMain.h"
#include "engine/LocalAddresses.h"
#include "platform/profile/AtomicFile.h"
#include "platform/shell/OperatorPrompts.h"
#include "platform/shell/UniqueFd.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace sw {

namespace {

unsigned char Fold(unsigned char c, bool caseSensitive) {
    return (!caseSensitive && c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

void ShowError(const std::string& text) {
    Prompts().ShowMessage(text, TMessageKind::Error);
}

enum class TReadOutcome { Ok, OpenFailed, ReadFailed };

TReadOutcome ReadWholeFile(const std::string& fileName, std::string& content) {
    TUniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return TReadOutcome::OpenFailed;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            content.clear();
            return TReadOutcome::ReadFailed;
        }
        if (n == 0) {
            return TReadOutcome::Ok;
        }
        content.append(buffer, static_cast<size_t>(n));
    }
}

void CopyFileOver(const std::string& source, const std::string& target) {
    std::string content;
    if (ReadWholeFile(source, content) != TReadOutcome::Ok) {
        return;
    }
    ReplaceFileContent(target, content);
}

enum class TWriteOutcome { Ok, CreateFailed, WriteFailed };

// Writes beside the page and renames over it, keeping its permissions and owner.
TWriteOutcome ReplacePage(const std::string& fileName, const std::string& content) {
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return TWriteOutcome::CreateFailed;
    }
    switch (ReplaceFileContentWithResult(fileName, {content})) {
    case TReplaceResult::Ok:
        return TWriteOutcome::Ok;
    case TReplaceResult::NotWritable:
        return TWriteOutcome::CreateFailed;
    case TReplaceResult::WriteFailed:
        break;
    }
    return TWriteOutcome::WriteFailed;
}

bool IsExistingFile(const std::string& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string TwoDigits(int value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

} // namespace

size_t SearchText(const std::string& pattern, const std::string& text, size_t start, bool caseSensitive) {
    const size_t m = pattern.size();
    if (m == 0) {
        return 1;
    }
    if (start < 1) {
        start = 1;
    }
    if (start > text.size()) {
        return 0;
    }
    std::array<size_t, 256> shift;
    shift.fill(m);
    for (size_t i = 0; i + 1 < m; ++i) {
        shift[Fold(static_cast<unsigned char>(pattern[i]), caseSensitive)] = m - 1 - i;
    }
    // end is the 0-based text index under the pattern's last character.
    for (size_t end = start - 1 + m - 1; end < text.size();) {
        size_t k = 0;
        while (k < m && Fold(static_cast<unsigned char>(text[end - k]), caseSensitive) ==
                            Fold(static_cast<unsigned char>(pattern[m - 1 - k]), caseSensitive)) {
            ++k;
        }
        if (k == m) {
            return end - m + 2;
        }
        end += shift[Fold(static_cast<unsigned char>(text[end]), caseSensitive)];
    }
    return 0;
}

std::string AppletElement(const std::string& host, int videoPort, int audioPort) {
    const std::string codeBase = AppletCodeBase;
    const std::pair<const char*, std::string> attributes[] = {
        {"name", kAppletName},
        {"code", "Lumiclip.class"},
        {"codeBase", codeBase},
        {"width", "240"},
        {"height", "160"},
        {"archive", "lumiclip.jar"},
        {"alt",
         "Your browser understands the &ltAPPLET&gt tag, but isn't running the applet for some reason."},
    };
    const std::pair<const char*, std::string> params[] = {
        {"name", kAppletName},
        {"code", "Lumiclip.class"},
        {"codeBase", codeBase},
        {"cabbase", "lumiclip.cab"},
        {"width", "240"},
        {"height", "160"},
        {"archive", "lumiclip.jar"},
        {"vport", std::to_string(videoPort)},
        {"aport", std::to_string(audioPort)},
        {"host", host},
        {"FPS", "30"},
        {"isJpeg", "1"},
        {"vidb", "10"},
        {"audb", "3"},
        {"compress", "1"},
        {"xxx", "240"},
        {"yyy", "160"},
        {"buffering", "0"},
        {"debug", "0"},
        {"sleep", "0"},
    };
    std::string element = "<applet";
    for (const auto& [name, value] : attributes) {
        element += " ";
        element += name;
        element += '=';
        element += Quoted(value);
    }
    element += ">\r\n";
    for (const auto& [name, value] : params) {
        element += "<param name=";
        element += Quoted(name);
        element += " value=";
        element += Quoted(value);
        element += ">\r\n";
    }
    element += "Your browser is completely ignoring the &ltAPPLET&gt tag!\r\n";
    element += "</applet>";
    return element;
}

std::string ViewerPageBackupName(const std::string& fileName, TDateTime time) {
    const TDateTimeParts t = DecodeDateTime(time);
    char year[16];
    std::snprintf(year, sizeof year, "%04d", t.Year);
    const std::string stamp = std::string(year) + TwoDigits(t.Month) + TwoDigits(t.Day) + "." +
                              TwoDigits(t.Hour) + TwoDigits(t.Minute) + TwoDigits(t.Second);
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.rfind('/');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string extension = hasExtension ? fileName.substr(dot) : std::string();
    return ChangeFileExt(fileName, "." + stamp + extension);
}

TViewerPageSettings ViewerPageSettings() {
    TConfiguration& config = Configuration();
    TViewerPageSettings settings;
    settings.FileName = ViewerPageFileName(config.Web().Path(), config.Web().Page());
    settings.VideoPort = config.Video().Port();
    settings.AudioPort = config.Audio().Port();
    settings.Host = config.Broadcast().Host() == 0 ? DefaultHostAddress() : config.Broadcast().HostAddress();
    return settings;
}

TViewerPageResult UpdateViewerPage(const TViewerPageSettings& settings, TDateTime now) {
    const std::string& fileName = settings.FileName;
    if (!IsExistingFile(fileName)) {
        ShowError("Error locating \"" + fileName + "\"");
        return TViewerPageResult::NotFound;
    }
    CopyFileOver(fileName, ViewerPageBackupName(fileName, now));

    std::string text;
    switch (ReadWholeFile(fileName, text)) {
    case TReadOutcome::OpenFailed:
        ShowError("Error opening \"" + fileName + "\"");
        return TViewerPageResult::OpenFailed;
    case TReadOutcome::ReadFailed:
        ShowError("Error reading \"" + fileName + "\"");
        return TViewerPageResult::ReadFailed;
    case TReadOutcome::Ok:
        break;
    }
    if (text.empty()) {
        return TViewerPageResult::Empty;
    }

    size_t pos = 0;
    size_t len = 0;
    while (pos <= text.size() && len == 0) {
        pos = SearchText("<applet", text, pos + 1, false);
        if (pos > 0) {
            len = SearchText("</applet>", text, pos, false);
            if (len > 0) {
                len = len - pos + 9;
                if (SearchText(kAppletName, text.substr(pos - 1, len), 1, false) == 0) {
                    len = 0;
                }
            }
        } else {
            pos = text.size() + 1;
        }
    }
    if (len == 0) {
        ShowError("Error locating APPLET tag");
        return TViewerPageResult::NoAppletTag;
    }

    text.replace(pos - 1, len, AppletElement(settings.Host, settings.VideoPort, settings.AudioPort));
    switch (ReplacePage(fileName, text)) {
    case TWriteOutcome::CreateFailed:
        ShowError("Error opening \"" + fileName + "\"");
        return TViewerPageResult::CreateFailed;
    case TWriteOutcome::WriteFailed:
        ShowError("Error writing \"" + fileName + "\"");
        return TViewerPageResult::WriteFailed;
    case TWriteOutcome::Ok:
        break;
    }
    Prompts().ShowMessage("HTML updated", TMessageKind::Information);
    return TViewerPageResult::Updated;
}

TViewerPageResult UpdateViewerPage() {
    return UpdateViewerPage(ViewerPageSettings(), Now());
}

void TDataModuleMain::UpdateViewerPage() const {
    sw::UpdateViewerPage();
}

} // namespace sw
