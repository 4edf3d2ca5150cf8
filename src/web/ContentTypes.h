#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace sw {

struct TContentType {
    std::string ContentType;
    std::string Extension; // with its leading dot
};

// Extensions are unique without regard to letter case; the first registration of one wins.
class TContentTypes {
public:
    int IndexOf(const std::string& extension) const;
    // Adds nothing when either string is empty or the extension is already present.
    void Add(const std::string& contentType, const std::string& extension);
    int Count() const { return static_cast<int>(FItems.size()); }
    const TContentType& Items(int index) const { return FItems.at(static_cast<size_t>(index)); }

private:
    std::vector<TContentType> FItems;
    // Lower-cased extension to position: the table holds a few thousand entries and is consulted for
    // every request, so a scan would cost more than the request itself.
    std::unordered_map<std::string, int> FIndex;
};

// The text from the last "." of a file name to its end, dot included, provided no "/", "\" or ":"
// follows that dot; "" otherwise.
std::string ExtractFileExt(const std::string& fileName);

// The process-wide table, filled once on first use from this machine's content type sources.
const TContentTypes& ContentTypes();

} // namespace sw
