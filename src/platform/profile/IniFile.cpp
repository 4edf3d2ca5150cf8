#include "platform/profile/IniFile.h"

#include "platform/profile/AtomicFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace sw {

namespace {

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Name of the section a header line opens, or nothing when the line is no header.
std::optional<std::string> HeaderName(const std::string& line) {
    std::string text = Trim(line);
    if (text.empty() || text[0] != '[') {
        return std::nullopt;
    }
    size_t close = text.find(']');
    return Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

bool IsComment(const std::string& trimmed) {
    return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// Key name and raw value of a key line.
std::optional<std::pair<std::string, std::string>> KeyLine(const std::string& line) {
    std::string text = Trim(line);
    if (text.empty() || IsComment(text) || text[0] == '[') {
        return std::nullopt;
    }
    size_t eq = text.find('=');
    if (eq == std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(Trim(text.substr(0, eq)), Trim(text.substr(eq + 1)));
}

std::optional<uint32_t> ParseDigits(const std::string& digits, int base) {
    if (digits.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

} // namespace

std::optional<int32_t> ParseProfileInteger(const std::string& text) {
    std::string s = Trim(text);
    bool negative = false;
    size_t pos = 0;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        pos = 1;
    }
    std::string rest = s.substr(pos);
    std::optional<uint32_t> magnitude;
    if (s.size() > 2 && rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        // Hexadecimal covers all 32 bits, so colours such as 0xFF000005 read as the negative value.
        magnitude = ParseDigits(rest.substr(2), 16);
    } else if (!rest.empty() && rest[0] == '$') {
        magnitude = ParseDigits(rest.substr(1), 16);
    } else {
        magnitude = ParseDigits(rest, 10);
        if (magnitude && *magnitude > (negative ? 2147483648u : 2147483647u)) {
            return std::nullopt;
        }
    }
    if (!magnitude) {
        return std::nullopt;
    }
    uint32_t bits = negative ? 0u - *magnitude : *magnitude;
    return static_cast<int32_t>(bits);
}

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)) {
    std::optional<std::string> content = ReadFileContent(FFileName);
    if (!content) {
        return;
    }
    const std::string& text = *content;
    size_t firstLf = text.find('\n');
    if (firstLf != std::string::npos && (firstLf == 0 || text[firstLf - 1] != '\r')) {
        FCrLf = false;
    }
    FLines = SplitFileLines(text);
}

std::optional<size_t> TIniFile::FindSection(const std::string& section) const {
    for (size_t i = 0; i < FLines.size(); ++i) {
        std::optional<std::string> name = HeaderName(FLines[i]);
        if (name && SameName(*name, section)) {
            return i;
        }
    }
    return std::nullopt;
}

size_t TIniFile::SectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < FLines.size() && !HeaderName(FLines[i])) {
        ++i;
    }
    return i;
}

std::optional<size_t> TIniFile::FindKey(size_t header, const std::string& key) const {
    size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        std::optional<std::pair<std::string, std::string>> kv = KeyLine(FLines[i]);
        if (kv && SameName(kv->first, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    std::optional<size_t> header = FindSection(section);
    if (!header) {
        return defaultValue.substr(0, kMaxValueChars);
    }
    std::optional<size_t> line = FindKey(*header, key);
    if (!line) {
        return defaultValue.substr(0, kMaxValueChars);
    }
    std::string value = KeyLine(FLines[*line])->second;
    if (value.size() >= 2 &&
        ((value.front() == '"' && value.back() == '"') || (value.front() == '\'' && value.back() == '\''))) {
        value = value.substr(1, value.size() - 2);
    }
    return value.substr(0, kMaxValueChars);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                              int32_t defaultValue) const {
    std::string text = ReadString(section, key, "");
    if (text.empty()) {
        return defaultValue;
    }
    return ParseProfileInteger(text).value_or(defaultValue);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& section) const {
    return FindSection(section).has_value();
}

std::vector<std::string> TIniFile::ReadKeyNames(const std::string& section, size_t bufferChars) const {
    std::vector<std::string> names;
    std::optional<size_t> header = FindSection(section);
    if (!header || bufferChars < 2) {
        return names;
    }
    size_t used = 1; // the final zero
    size_t end = SectionEnd(*header);
    for (size_t i = *header + 1; i < end; ++i) {
        std::optional<std::pair<std::string, std::string>> kv = KeyLine(FLines[i]);
        if (!kv || kv->first.empty()) {
            continue;
        }
        if (used + kv->first.size() + 1 > bufferChars) {
            break;
        }
        used += kv->first.size() + 1;
        names.push_back(kv->first);
    }
    return names;
}

std::vector<std::string> TIniFile::ReadSectionNames() const {
    std::vector<std::string> names;
    for (const std::string& line : FLines) {
        if (std::optional<std::string> name = HeaderName(line)) {
            names.push_back(*name);
        }
    }
    return names;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    std::string sectionName = Trim(section);
    std::string keyName = Trim(key);
    if (sectionName.empty() || keyName.empty() || HasLineBreakOrNul(section) || HasLineBreakOrNul(key) ||
        sectionName.find(']') != std::string::npos || keyName.find('=') != std::string::npos ||
        keyName[0] == '[' || IsComment(keyName)) {
        return false;
    }
    std::string cleanValue;
    cleanValue.reserve(value.size());
    for (char c : value) {
        if (c != '\r' && c != '\n' && c != '\0') {
            cleanValue += c;
        }
    }
    std::string line = keyName + "=" + cleanValue;

    std::optional<size_t> header = FindSection(sectionName);
    if (!header) {
        FLines.push_back("[" + sectionName + "]");
        FLines.push_back(line);
    } else if (std::optional<size_t> existing = FindKey(*header, keyName)) {
        FLines[*existing] = line;
    } else {
        // After the section's last non-blank line, so blank lines separating sections stay where they are.
        size_t insertAt = SectionEnd(*header);
        while (insertAt > *header + 1 && Trim(FLines[insertAt - 1]).empty()) {
            --insertAt;
        }
        FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
    }
    FModified = true;
    return true;
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    std::optional<size_t> header = FindSection(section);
    if (!header) {
        return true;
    }
    if (std::optional<size_t> line = FindKey(*header, key)) {
        FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(*line));
        FModified = true;
    }
    return true;
}

bool TIniFile::EraseSection(const std::string& section) {
    while (std::optional<size_t> header = FindSection(section)) {
        size_t end = SectionEnd(*header);
        FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(*header),
                     FLines.begin() + static_cast<std::ptrdiff_t>(end));
        FModified = true;
    }
    return true;
}

std::string TIniFile::Text() const {
    std::string text;
    for (const std::string& line : FLines) {
        text += line;
        text += FCrLf ? "\r\n" : "\n";
    }
    return text;
}

bool TIniFile::UpdateFile() {
    if (!ReplaceFileContent(FFileName, Text())) {
        return false;
    }
    FModified = false;
    return true;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
    return TIniFile(fileName).ReadString(section, key, defaultValue);
}

bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName) {
    TIniFile file(fileName);
    return file.WriteString(section, key, value) && file.UpdateFile();
}

} // namespace sw
