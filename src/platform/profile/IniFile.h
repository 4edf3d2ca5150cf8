#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {

// Parses an integer the way the settings read them: "0x"/"0X" (when longer than two characters) or
// "$" prefix for hexadecimal, otherwise decimal, an optional sign first; nothing when it is no number.
std::optional<int32_t> ParseProfileInteger(const std::string& text);

// An INI file with the private-profile semantics: section and key names compared without regard to
// letter case, a missing file, section or key giving the default, a write replacing the key in place
// or appending it at the end of its section (and the section at the end of the file).
// The object holds the file's lines between construction and UpdateFile; every other line, comments
// included, is written back byte for byte.
class TIniFile {
public:
    static constexpr size_t kMaxValueChars = 2047;
    static constexpr size_t kKeyNameBufferChars = 16384;

    // Reads the file; a missing or unreadable file reads as empty.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    int32_t ReadInteger(const std::string& section, const std::string& key, int32_t defaultValue) const;
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    bool SectionExists(const std::string& section) const;
    // The key names of a section as a zero-separated buffer of bufferChars characters would hold them:
    // each name with its terminating zero, plus the final zero; names that do not fit are left out.
    std::vector<std::string> ReadKeyNames(const std::string& section,
                                          size_t bufferChars = kKeyNameBufferChars) const;
    std::vector<std::string> ReadSectionNames() const;

    // The writers change memory only; false when a name could break the file's structure
    // (CR, LF or NUL, "]" in a section name, "=" in a key name, an empty name). CR, LF and NUL
    // are removed from values.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int32_t value);
    bool WriteBool(const std::string& section, const std::string& key, bool value);
    bool DeleteKey(const std::string& section, const std::string& key);
    bool EraseSection(const std::string& section);

    // Replaces the file through a temporary file and a rename, so a crash never leaves half a file.
    // False (file untouched) when the file is read-only or cannot be written.
    bool UpdateFile();
    bool Modified() const { return FModified; }

    // The text UpdateFile would write.
    std::string Text() const;

private:
    struct TLine {
        std::string Text;
    };

    std::optional<size_t> FindSection(const std::string& section) const;
    // Index of the first line after the section's header that is not part of the section.
    size_t SectionEnd(size_t header) const;
    std::optional<size_t> FindKey(size_t header, const std::string& key) const;

    std::string FFileName;
    std::vector<std::string> FLines;
    bool FCrLf = true; // new files get CR LF, as the private-profile functions write them
    bool FModified = false;
};

// One-shot private-profile functions: each opens the file afresh.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName);

} // namespace sw
