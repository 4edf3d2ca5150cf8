#include "log/fuzz/CommaTextFuzzCheck.h"

#include "log/CommaText.h"

#include <vector>

namespace sw::test {

std::string CheckCommaTextInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> items = FromCommaText(text);
    size_t itemBytes = 0;
    for (const std::string& item : items) {
        itemBytes += item.size();
    }
    if (itemBytes > size || items.size() > size + 1) {
        return "more items than the text holds";
    }
    if (FromCommaText(ToCommaText(items)) != items) {
        return "the items written back read differently";
    }
    return {};
}

} // namespace sw::test
