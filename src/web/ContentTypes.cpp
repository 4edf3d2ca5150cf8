#include "web/ContentTypes.h"

#include "platform/mime/MimeSources.h"

#include <algorithm>
#include <cctype>

namespace sw {

namespace {

std::string Lower(const std::string& text) {
    std::string result = text;
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

} // namespace

int TContentTypes::IndexOf(const std::string& extension) const {
    auto it = FIndex.find(Lower(extension));
    return it == FIndex.end() ? -1 : it->second;
}

void TContentTypes::Add(const std::string& contentType, const std::string& extension) {
    if (contentType.empty() || extension.empty()) {
        return;
    }
    auto [it, inserted] = FIndex.emplace(Lower(extension), static_cast<int>(FItems.size()));
    if (inserted) {
        FItems.push_back({contentType, extension});
    }
}

std::string ExtractFileExt(const std::string& fileName) {
    size_t dot = fileName.find_last_of(".");
    if (dot == std::string::npos || fileName.find_first_of("/\\:", dot) != std::string::npos) {
        return {};
    }
    return fileName.substr(dot);
}

const TContentTypes& ContentTypes() {
    static const TContentTypes table = [] {
        TContentTypes types;
        EnumerateContentTypes(
            [&types](const std::string& type, const std::string& extension) { types.Add(type, extension); });
        return types;
    }();
    return table;
}

} // namespace sw
