#include "log/fuzz/CommaTextFuzzCheck.h"

#include "log/CommaText.h"

namespace sw::test {

std::string CheckCommaTextInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> items = FromCommaText(text);
    const std::string written = ToCommaText(items);
    if (FromCommaText(written) != items) {
        return "items read back from their own comma text differ";
    }
    if (ToCommaText(FromCommaText(written)) != written) {
        return "comma text of read-back items is not stable";
    }
    size_t lineBytes = 0;
    for (const std::string& line : SplitLines(text)) {
        if (line.find_first_of("\r\n") != std::string::npos) {
            return "a split line holds a line break";
        }
        lineBytes += line.size();
    }
    if (lineBytes > size) {
        return "split lines hold more bytes than the text";
    }
    return {};
}

} // namespace sw::test
