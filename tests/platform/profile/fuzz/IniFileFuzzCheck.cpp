#include "platform/profile/fuzz/IniFileFuzzCheck.h"

#include "platform/profile/IniFile.h"

#include <cctype>
#include <map>
#include <utility>

namespace sw::test {

namespace {

using TValues = std::map<std::pair<std::string, std::string>, std::string>;

const std::string kMissing = "\x01missing";

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// Every key of every section, as the settings would read it; empty when one listed key is unreadable.
bool ReadAll(const TIniFile& file, TValues& values) {
    for (const std::string& section : file.ReadSectionNames()) {
        for (const std::string& key : file.ReadKeyNames(section, 1 << 20)) {
            std::string value = file.ReadString(section, key, kMissing);
            if (value == kMissing) {
                return false;
            }
            values.try_emplace({section, key}, value);
        }
    }
    return true;
}

} // namespace

std::string CheckIniFileInput(const uint8_t* data, size_t size) {
    const TIniFile file("fuzz.ini", std::string_view(reinterpret_cast<const char*>(data), size));
    TValues values;
    if (!ReadAll(file, values)) {
        return "a listed key does not read";
    }
    // The text may lose a CR that ends a line of a file written with LF alone; the values never change.
    TIniFile again("fuzz.ini", file.Text());
    if (again.ReadSectionNames() != file.ReadSectionNames()) {
        return "the written text has other sections";
    }
    TValues againValues;
    if (!ReadAll(again, againValues) || againValues != values) {
        return "the written text gives other values";
    }
    // A name holding a line break cannot be written to; any other section can.
    std::string section = values.empty() ? "Fuzz" : values.begin()->first.first;
    if (!again.WriteString(section, "FuzzKey", "written")) {
        section = "Fuzz";
        if (!again.WriteString(section, "FuzzKey", "written")) {
            return "a plain key could not be written";
        }
    }
    TIniFile written("fuzz.ini", again.Text());
    if (written.ReadString(section, "FuzzKey", kMissing) != "written") {
        return "the written key does not read back";
    }
    for (const auto& [where, value] : values) {
        bool same = written.ReadString(where.first, where.second, kMissing) == value;
        bool replaced = Lower(where.second) == "fuzzkey" && Lower(where.first) == Lower(section);
        if (!same && !replaced) {
            return "writing one key changed another";
        }
    }
    return {};
}

} // namespace sw::test
