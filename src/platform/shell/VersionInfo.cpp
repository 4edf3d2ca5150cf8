#include "platform/shell/VersionInfo.h"

#include "SwVersion.h"

#include <array>
#include <cstdio>

namespace sw {

namespace {

constexpr std::array<const char*, 8> kKeys = {
    "CompanyName",    "FileDescription",  "FileVersion", "InternalName",
    "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion",
};

constexpr std::array<const char*, 8> kValues = {
    SW_COMPANY_NAME,    SW_FILE_DESCRIPTION,  SW_FILE_VERSION, SW_INTERNAL_NAME,
    SW_LEGAL_COPYRIGHT, SW_ORIGINAL_FILENAME, SW_PRODUCT_NAME, SW_PRODUCT_VERSION,
};

} // namespace

TVersionInfo::TVersionInfo() : FileName(SW_ORIGINAL_FILENAME) {}

std::string TVersionInfo::QueryPath(int index) const {
    if (index < 0 || index >= static_cast<int>(kKeys.size())) {
        return {};
    }
    char path[128];
    std::snprintf(path, sizeof path, "StringFileInfo\\%.4x%.4x\\%s", Language, CodePage, kKeys[index]);
    return path;
}

std::string TVersionInfo::Value(int index) const {
    if (index < 0 || index >= static_cast<int>(kKeys.size())) {
        return {};
    }
    // The generated resource holds one string table, English (United States) in code page 1252.
    if (Language != 0x0409 || CodePage != 0x04E4) {
        return {};
    }
    return kValues[index];
}

std::string TVersionInfo::VersionPart(const std::string& text, int n) {
    if (n < 0) {
        return {};
    }
    size_t begin = 0;
    for (int i = 0; i < n; ++i) {
        size_t dot = text.find('.', begin);
        if (dot == std::string::npos) {
            return {};
        }
        begin = dot + 1;
    }
    size_t end = text.find('.', begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string TVersionInfo::FormatVersion(const std::string& format) const {
    const std::string version = Value(FileVersion);
    std::string result;
    int part = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            result += VersionPart(version, part++);
            ++i;
        } else {
            result += format[i];
        }
    }
    return result;
}

const TVersionInfo& VersionInfo() {
    static const TVersionInfo info;
    return info;
}

std::string VersionText() {
    return VersionInfo().FormatVersion("%s.%s.%s");
}

std::string BuildNumber() {
    return TVersionInfo::VersionPart(VersionInfo().Value(TVersionInfo::FileVersion), 3);
}

} // namespace sw
