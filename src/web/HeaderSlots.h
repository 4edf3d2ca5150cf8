#pragma once

#include <string>
#include <vector>

namespace sw {

// Header values of a request or response, addressed by their index in the header name table: an index
// outside the list reads as empty, and a write grows the list to take it.
inline std::string GetHeaderSlot(const std::vector<std::string>& headers, int index) {
    if (index < 0 || static_cast<size_t>(index) >= headers.size()) {
        return {};
    }
    return headers[static_cast<size_t>(index)];
}

inline void SetHeaderSlot(std::vector<std::string>& headers, int index, const std::string& value) {
    if (index < 0) {
        return;
    }
    if (static_cast<size_t>(index) >= headers.size()) {
        headers.resize(static_cast<size_t>(index) + 1);
    }
    headers[static_cast<size_t>(index)] = value;
}

} // namespace sw
