#pragma once

#include <cstdint>
#include <string>

namespace sw {

// The executable's version resource: string values by index and the dotted parts of the file version.
class TVersionInfo {
public:
    enum Index : int {
        CompanyName = 0,
        FileDescription = 1,
        FileVersion = 2,
        InternalName = 3,
        LegalCopyright = 4,
        OriginalFilename = 5,
        ProductName = 6,
        ProductVersion = 7,
    };

    std::string FileName;
    uint16_t Language = 0x0409;
    uint16_t CodePage = 0x04E4;

    TVersionInfo();

    // Empty when the key is missing or no value is stored under this language and code page.
    std::string Value(int index) const;
    std::string QueryPath(int index) const;

    // Text between the n-th and (n+1)-th "." of a dotted text; empty when it has fewer parts.
    static std::string VersionPart(const std::string& text, int n);
    // Fills each "%s" of Format, in order, with parts 0 to 3 of the file version.
    std::string FormatVersion(const std::string& format) const;
};

// The process-wide reader, created on first use.
const TVersionInfo& VersionInfo();

// "%s.%s.%s" of the file version: the version text of "Starting" and the About view.
std::string VersionText();
// The fourth part of the file version, written as the first item of every log line.
std::string BuildNumber();

} // namespace sw
