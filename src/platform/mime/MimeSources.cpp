#include "platform/mime/MimeSources.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sw {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        if (i > start) {
            fields.push_back(line.substr(start, i - start));
        }
    }
    return fields;
}

bool PlainExtension(const std::string& extension) {
    if (extension.empty()) {
        return false;
    }
    for (char c : extension) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '.' || c == '/' || c == '\\' ||
            static_cast<unsigned char>(c) <= ' ') {
            return false;
        }
    }
    return true;
}

} // namespace

void ReadMimeTypes(std::istream& input, const TAddContentType& add) {
    std::string line;
    while (std::getline(input, line)) {
        size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.erase(hash);
        }
        std::vector<std::string> fields = Fields(line);
        for (size_t i = 1; i < fields.size(); ++i) {
            if (PlainExtension(fields[i])) {
                add(fields[0], "." + fields[i]);
            }
        }
    }
}

void ReadGlobs2(std::istream& input, const TAddContentType& add) {
    std::string line;
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t first = line.find(':');
        size_t second = first == std::string::npos ? std::string::npos : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        std::string type = line.substr(first + 1, second - first - 1);
        size_t third = line.find(':', second + 1);
        std::string glob =
            line.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
        if (type.empty() || glob.size() < 3 || glob[0] != '*' || glob[1] != '.') {
            continue;
        }
        std::string extension = glob.substr(2);
        if (PlainExtension(extension)) {
            add(type, "." + extension);
        }
    }
}

void AddBuiltInContentTypes(const TAddContentType& add) {
    static const char* const kTable[][2] = {
        {"text/html", ".htm"},
        {"text/html", ".html"},
        {"text/css", ".css"},
        {"text/javascript", ".js"},
        {"application/json", ".json"},
        {"text/plain", ".txt"},
        {"image/jpeg", ".jpg"},
        {"image/jpeg", ".jpeg"},
        {"image/png", ".png"},
        {"image/gif", ".gif"},
        {"image/vnd.microsoft.icon", ".ico"},
        {"image/svg+xml", ".svg"},
        {"audio/x-wav", ".wav"},
        {"application/java-archive", ".jar"},
        {"application/java-vm", ".class"},
        {"application/vnd.ms-cab-compressed", ".cab"},
        {"application/wasm", ".wasm"},
    };
    for (const auto& entry : kTable) {
        add(entry[0], entry[1]);
    }
}

std::vector<std::string> Globs2FileNames() {
    std::vector<std::string> dirs;
    const char* home = std::getenv("XDG_DATA_HOME");
    if (home && *home) {
        dirs.emplace_back(home);
    } else if (const char* user = std::getenv("HOME"); user && *user) {
        dirs.push_back(std::string(user) + "/.local/share");
    }
    const char* system = std::getenv("XDG_DATA_DIRS");
    std::string list = system && *system ? system : "/usr/local/share:/usr/share";
    std::stringstream stream(list);
    std::string dir;
    while (std::getline(stream, dir, ':')) {
        if (!dir.empty()) {
            dirs.push_back(dir);
        }
    }
    std::vector<std::string> files;
    for (std::string& d : dirs) {
        while (d.size() > 1 && d.back() == '/') {
            d.pop_back();
        }
        files.push_back(d + "/mime/globs2");
    }
    return files;
}

void EnumerateContentTypes(const TAddContentType& add, const std::string& mimeTypesFile,
                           const std::vector<std::string>& globs2Files) {
    if (std::ifstream types(mimeTypesFile); types) {
        ReadMimeTypes(types, add);
    }
    for (const std::string& name : globs2Files) {
        if (std::ifstream globs(name); globs) {
            ReadGlobs2(globs, add);
        }
    }
    AddBuiltInContentTypes(add);
}

} // namespace sw
