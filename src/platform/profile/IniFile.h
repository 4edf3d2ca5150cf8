#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sw {

// Parses an integer the way the settings read them: "0x"/"0X" (when longer than two characters) or
// "$" prefix for hexadecimal, otherwise decimal, an optional sign first; nothing when it is no number.
std::optional<int32_t> ParseProfileInteger(const std::string& text);

// An INI file with the private-profile semantics: section and key names compared without regard to
// letter case, a missing file, section or key giving the default, a write replacing the key in place
// or appending it at the end of its section (and the section at the end of the file).
// The object holds the file's lines between construction and UpdateFile; every other line, comments
// included, is written back byte for byte. Reading the file indexes every section and key once, so a
// lookup costs the same whatever the file's size and a large (or hostile) file reads in linear time.
class TIniFile {
public:
    static constexpr size_t kMaxValueChars = 2047;
    static constexpr size_t kKeyNameBufferChars = 16384;

    // Reads the file; a missing or unreadable file reads as empty.
    explicit TIniFile(std::string fileName);
    // Takes the content as given instead of reading the file (UpdateFile still writes fileName).
    TIniFile(std::string fileName, std::string_view content);
    // Its lines point into its own text.
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

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
    // The lines from one header up to the next; the first section holds the lines before any header.
    // Its keys are indexed when it is first looked into, so sections nobody reads cost only their split.
    struct TSection {
        std::string Name; // as the header gives it, trimmed; empty for the lines before any header
        std::vector<std::string_view> Lines;                  // into FContent or FOwned
        mutable std::unordered_map<std::string, size_t> Keys; // lower-case key name -> its first line
        mutable bool Indexed = false;
    };

    void Parse();
    static void IndexKeys(const TSection& section);
    std::string_view Own(std::string line);
    void IndexSections();
    const TSection* FindSection(const std::string& section) const;
    TSection* FindSection(const std::string& section);
    std::optional<size_t> FindKey(const TSection& section, const std::string& key) const;

    std::string FFileName;
    std::string FContent;
    std::deque<std::string> FOwned; // lines written since the file was read; a deque never moves them
    std::vector<TSection> FSections;
    std::unordered_map<std::string, size_t> FSectionIndex; // lower-case name -> first section with it
    bool FCrLf = true; // new files get CR LF, as the private-profile functions write them
    bool FModified = false;
};

// One-shot private-profile functions: each opens the file afresh.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName);

} // namespace sw
