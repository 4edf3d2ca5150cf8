#include "platform/profile/IniFile.h"

#include "platform/profile/AtomicFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace sw {

namespace {

std::string_view TrimView(std::string_view text) {
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

std::string Trim(std::string_view text) {
    return std::string(TrimView(text));
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// Name of the section a header line opens, or nothing when the line is no header.
std::optional<std::string_view> HeaderName(std::string_view line) {
    std::string_view text = TrimView(line);
    if (text.empty() || text[0] != '[') {
        return std::nullopt;
    }
    size_t close = text.find(']');
    return TrimView(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

bool IsComment(std::string_view trimmed) {
    return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// Key name and raw value of a key line.
std::optional<std::pair<std::string_view, std::string_view>> KeyLine(std::string_view line) {
    std::string_view text = TrimView(line);
    if (text.empty() || IsComment(text) || text[0] == '[') {
        return std::nullopt;
    }
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(TrimView(text.substr(0, eq)), TrimView(text.substr(eq + 1)));
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
    FContent = ReadFileContent(FFileName).value_or(std::string());
    Parse();
}

TIniFile::TIniFile(std::string fileName, std::string_view content)
    : FFileName(std::move(fileName)), FContent(content) {
    Parse();
}

void TIniFile::Parse() {
    const std::string_view text = FContent;
    size_t firstLf = text.find('\n');
    if (firstLf != std::string_view::npos && (firstLf == 0 || text[firstLf - 1] != '\r')) {
        FCrLf = false;
    }
    FSections.emplace_back();
    size_t begin = 0;
    while (begin < text.size()) {
        size_t lf = text.find('\n', begin);
        size_t end = lf == std::string_view::npos ? text.size() : lf;
        size_t stop = end > begin && text[end - 1] == '\r' ? end - 1 : end;
        std::string_view line = text.substr(begin, stop - begin);
        if (std::optional<std::string_view> name = HeaderName(line)) {
            FSections.emplace_back();
            FSections.back().Name = std::string(*name);
        }
        FSections.back().Lines.push_back(line);
        begin = lf == std::string_view::npos ? text.size() : lf + 1;
    }
    IndexSections();
}

std::string_view TIniFile::Own(std::string line) {
    FOwned.push_back(std::move(line));
    return FOwned.back();
}

void TIniFile::IndexKeys(const TSection& section) {
    section.Keys.clear();
    // A header's own line is the first line of its section and is never a key line.
    for (size_t i = 0; i < section.Lines.size(); ++i) {
        if (std::optional<std::pair<std::string_view, std::string_view>> kv = KeyLine(section.Lines[i])) {
            section.Keys.try_emplace(Lower(kv->first), i);
        }
    }
    section.Indexed = true;
}

void TIniFile::IndexSections() {
    FSectionIndex.clear();
    for (size_t i = 1; i < FSections.size(); ++i) {
        FSectionIndex.try_emplace(Lower(FSections[i].Name), i);
    }
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& section) const {
    auto it = FSectionIndex.find(Lower(section));
    return it == FSectionIndex.end() ? nullptr : &FSections[it->second];
}

TIniFile::TSection* TIniFile::FindSection(const std::string& section) {
    auto it = FSectionIndex.find(Lower(section));
    return it == FSectionIndex.end() ? nullptr : &FSections[it->second];
}

std::optional<size_t> TIniFile::FindKey(const TSection& section, const std::string& key) const {
    if (!section.Indexed) {
        IndexKeys(section);
    }
    auto it = section.Keys.find(Lower(key));
    if (it == section.Keys.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const TSection* found = FindSection(section);
    std::optional<size_t> line = found ? FindKey(*found, key) : std::nullopt;
    if (!line) {
        return defaultValue.substr(0, kMaxValueChars);
    }
    std::string_view value = KeyLine(found->Lines[*line])->second;
    if (value.size() >= 2 &&
        ((value.front() == '"' && value.back() == '"') || (value.front() == '\'' && value.back() == '\''))) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kMaxValueChars));
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
    return FindSection(section) != nullptr;
}

std::vector<std::string> TIniFile::ReadKeyNames(const std::string& section, size_t bufferChars) const {
    std::vector<std::string> names;
    const TSection* found = FindSection(section);
    if (!found || bufferChars < 2) {
        return names;
    }
    size_t used = 1; // the final zero
    for (std::string_view line : found->Lines) {
        std::optional<std::pair<std::string_view, std::string_view>> kv = KeyLine(line);
        if (!kv || kv->first.empty()) {
            continue;
        }
        if (used + kv->first.size() + 1 > bufferChars) {
            break;
        }
        used += kv->first.size() + 1;
        names.emplace_back(kv->first);
    }
    return names;
}

std::vector<std::string> TIniFile::ReadSectionNames() const {
    std::vector<std::string> names;
    for (size_t i = 1; i < FSections.size(); ++i) {
        names.push_back(FSections[i].Name);
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

    TSection* found = FindSection(sectionName);
    if (!found) {
        FSections.emplace_back();
        TSection& added = FSections.back();
        added.Name = sectionName;
        added.Lines.push_back(Own("[" + sectionName + "]"));
        added.Lines.push_back(Own(std::move(line)));
        added.Keys.emplace(Lower(keyName), 1);
        added.Indexed = true;
        FSectionIndex.try_emplace(Lower(sectionName), FSections.size() - 1);
    } else if (std::optional<size_t> existing = FindKey(*found, keyName)) {
        found->Lines[*existing] = Own(std::move(line));
    } else {
        // After the section's last non-blank line, so blank lines separating sections stay where they
        // are; only blank lines follow it, so no indexed key moves.
        size_t insertAt = found->Lines.size();
        while (insertAt > 1 && TrimView(found->Lines[insertAt - 1]).empty()) {
            --insertAt;
        }
        found->Lines.insert(found->Lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                            Own(std::move(line)));
        found->Keys.emplace(Lower(keyName), insertAt);
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
    TSection* found = FindSection(section);
    if (!found) {
        return true;
    }
    if (std::optional<size_t> line = FindKey(*found, key)) {
        found->Lines.erase(found->Lines.begin() + static_cast<std::ptrdiff_t>(*line));
        IndexKeys(*found);
        FModified = true;
    }
    return true;
}

bool TIniFile::EraseSection(const std::string& section) {
    const std::string name = Lower(section);
    auto first = FSections.begin() + 1;
    auto kept =
        std::remove_if(first, FSections.end(), [&](const TSection& s) { return Lower(s.Name) == name; });
    if (kept != FSections.end()) {
        FSections.erase(kept, FSections.end());
        IndexSections();
        FModified = true;
    }
    return true;
}

std::string TIniFile::Text() const {
    const char* lineEnd = FCrLf ? "\r\n" : "\n";
    size_t bytes = 0;
    for (const TSection& section : FSections) {
        for (std::string_view line : section.Lines) {
            bytes += line.size() + 2;
        }
    }
    std::string text;
    text.reserve(bytes);
    for (const TSection& section : FSections) {
        for (std::string_view line : section.Lines) {
            text += line;
            text += lineEnd;
        }
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
