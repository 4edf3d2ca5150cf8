#include "platform/profile/fuzz/IniFileFuzzCheck.h"

#include "platform/profile/IniFile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <unistd.h>

namespace sw::test {

namespace {

// Only the first few sections are compared, so a file of thousands of headers stays quick.
constexpr size_t kMaxSections = 16;
const std::string kAddedKey = "zz_fuzz_added";
const std::string kAddedValue = "added value";

// One scratch file per process, removed at exit.
const std::string& ScratchFile() {
    static const std::string path = [] {
        char folder[] = "/tmp/sw-ini-fuzz-XXXXXX";
        if (!::mkdtemp(folder)) {
            std::perror("mkdtemp");
            std::abort();
        }
        return std::string(folder) + "/fuzz.ini";
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::remove(path.c_str());
            std::remove(path.substr(0, path.rfind('/')).c_str());
        });
        return true;
    }();
    (void)cleanup;
    return path;
}

TIniFile Load(const std::string& bytes) {
    {
        std::ofstream out(ScratchFile(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return TIniFile(ScratchFile());
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

using TValues = std::map<std::pair<size_t, std::string>, std::string>;

// The value every key of the first sections reads as, by section position and key name.
TValues ValuesOf(const TIniFile& file, const std::vector<std::string>& sections) {
    TValues values;
    for (size_t s = 0; s < sections.size() && s < kMaxSections; ++s) {
        for (const std::string& key : file.ReadKeyNames(sections[s])) {
            values[{s, key}] = file.ReadString(sections[s], key, "\x01missing");
        }
    }
    return values;
}

} // namespace

std::string CheckIniFileInput(const uint8_t* data, size_t size) {
    const TIniFile original = Load(std::string(reinterpret_cast<const char*>(data), size));
    const std::vector<std::string> sections = original.ReadSectionNames();
    const TValues before = ValuesOf(original, sections);
    for (const std::string& section : sections) {
        (void)original.ReadInteger(section, "Port", 0);
        (void)original.SectionExists(section);
    }

    TIniFile rewritten = Load(original.Text());
    if (rewritten.ReadSectionNames() != sections) {
        return "sections differ after writing the file back unchanged";
    }
    if (ValuesOf(rewritten, sections) != before) {
        return "values differ after writing the file back unchanged";
    }

    std::vector<bool> written;
    for (size_t s = 0; s < sections.size() && s < kMaxSections; ++s) {
        // Refused for names that could break the file (an empty one, or one holding a CR).
        written.push_back(rewritten.WriteString(sections[s], kAddedKey, kAddedValue));
    }
    const TIniFile added = Load(rewritten.Text());
    for (size_t s = 0; s < written.size(); ++s) {
        if (written[s] && added.ReadString(sections[s], kAddedKey, "") != kAddedValue) {
            return "an added key reads back as another value";
        }
    }
    for (const auto& [where, value] : before) {
        if (!SameNameIgnoringCase(where.second, kAddedKey) &&
            added.ReadString(sections[where.first], where.second, "\x01missing") != value) {
            return "adding a key changed another key's value";
        }
    }
    return {};
}

} // namespace sw::test
