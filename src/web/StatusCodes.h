#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sw {

struct TStatusCode {
    uint16_t Code = 0;
    std::string ReasonPhrase;
};

class TStatusCodes {
public:
    int IndexOf(uint16_t code) const;
    // Adds nothing for code 0, an empty reason or a code already present.
    void Add(uint16_t code, const std::string& reasonPhrase);
    // The reason phrase of a code, "" when the code is not in the table.
    std::string ReasonPhrase(uint16_t code) const;
    int Count() const { return static_cast<int>(FItems.size()); }
    const TStatusCode& Items(int index) const { return FItems.at(static_cast<size_t>(index)); }

private:
    std::vector<TStatusCode> FItems;
};

// The process-wide table, filled once on first use; read-only afterwards.
const TStatusCodes& StatusCodes();

} // namespace sw
