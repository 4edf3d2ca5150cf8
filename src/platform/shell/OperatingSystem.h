#pragma once

#include <cstddef>
#include <string>

namespace sw {

// The running system as the "Operating System" report group shows it.
struct TOperatingSystem {
    std::string Version;     // kernel major.minor, "6.1"
    std::string Build;       // the full kernel release, "6.1.0-18-amd64"
    std::string Platform;    // system name and machine, "Linux x86_64"
    std::string Information; // the distribution's pretty name, at most kMaxInformation bytes of UTF-8
};

inline constexpr size_t kMaxInformation = 128;

TOperatingSystem OperatingSystemDescription();

// From uname's fields and the content of an os-release file (empty when there is none).
TOperatingSystem DescribeOperatingSystem(const std::string& sysname, const std::string& release,
                                         const std::string& machine, const std::string& osRelease);

// PRETTY_NAME of an os-release file, unquoted and unescaped; NAME and VERSION when it is missing.
std::string OsReleasePrettyName(const std::string& osRelease);

// The first two dot-separated numbers of a kernel release ("6.1.0-18-amd64" gives "6.1").
std::string KernelMajorMinor(const std::string& release);

} // namespace sw
