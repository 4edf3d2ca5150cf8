#include "platform/shell/OperatingSystem.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <sys/utsname.h>

namespace sw {

namespace {

std::string ReadSmallFile(const char* fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A shell-style value: double quotes allow backslash escapes, single quotes none.
std::string UnquoteValue(const std::string& raw) {
    std::string value;
    char quote = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else if (quote != 0 && c == quote) {
            quote = 0;
        } else if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
            value += raw[++i];
        } else if (quote == 0 && c == '#') {
            break;
        } else {
            value += c;
        }
    }
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) {
        value.pop_back();
    }
    return value;
}

std::string OsReleaseValue(const std::string& osRelease, const std::string& key) {
    std::istringstream lines(osRelease);
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
        size_t begin = line.find_first_not_of(" \t");
        if (begin == std::string::npos || line.compare(begin, key.size(), key) != 0 ||
            line.size() <= begin + key.size() || line[begin + key.size()] != '=') {
            continue;
        }
        found = UnquoteValue(line.substr(begin + key.size() + 1));
    }
    return found;
}

// Cuts at most limit bytes without splitting a UTF-8 sequence.
std::string Truncated(const std::string& text, size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

} // namespace

std::string OsReleasePrettyName(const std::string& osRelease) {
    std::string pretty = OsReleaseValue(osRelease, "PRETTY_NAME");
    if (!pretty.empty()) {
        return pretty;
    }
    std::string name = OsReleaseValue(osRelease, "NAME");
    std::string version = OsReleaseValue(osRelease, "VERSION");
    if (!name.empty() && !version.empty()) {
        return name + " " + version;
    }
    return name.empty() ? version : name;
}

std::string KernelMajorMinor(const std::string& release) {
    size_t end = 0;
    int parts = 0;
    while (parts < 2) {
        size_t digits = end;
        while (digits < release.size() && std::isdigit(static_cast<unsigned char>(release[digits]))) {
            ++digits;
        }
        if (digits == end) {
            break;
        }
        end = digits;
        ++parts;
        if (parts < 2) {
            if (end >= release.size() || release[end] != '.') {
                break;
            }
            ++end;
        }
    }
    if (parts == 0) {
        return {};
    }
    std::string version = release.substr(0, end);
    if (!version.empty() && version.back() == '.') {
        version.pop_back();
    }
    return version;
}

TOperatingSystem DescribeOperatingSystem(const std::string& sysname, const std::string& release,
                                         const std::string& machine, const std::string& osRelease) {
    TOperatingSystem os;
    os.Version = KernelMajorMinor(release);
    os.Build = release;
    os.Platform = machine.empty() ? sysname : sysname + " " + machine;
    os.Information = Truncated(OsReleasePrettyName(osRelease), kMaxInformation);
    return os;
}

TOperatingSystem OperatingSystemDescription() {
    struct utsname names {};
    if (::uname(&names) != 0) {
        return DescribeOperatingSystem({}, {}, {}, {});
    }
    std::string osRelease = ReadSmallFile("/etc/os-release");
    if (osRelease.empty()) {
        osRelease = ReadSmallFile("/usr/lib/os-release");
    }
    return DescribeOperatingSystem(names.sysname, names.release, names.machine, osRelease);
}

} // namespace sw
