#include "log/CommaText.h"

namespace sw {

namespace {

bool NeedsQuotes(const std::string& item) {
    for (char c : item) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 32 || c == '"' || c == ',') {
            return true;
        }
    }
    return false;
}

// NUL counts as blank like every other control character; treated as neither blank nor part of an
// item, it made the reader add empty items for ever.
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

} // namespace

std::string ToCommaText(const std::vector<std::string>& items) {
    if (items.size() == 1 && items[0].empty()) {
        return "\"\"";
    }
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        const std::string& item = items[i];
        if (!NeedsQuotes(item)) {
            text += item;
            continue;
        }
        text += '"';
        for (char c : item) {
            if (c == '"') {
                text += '"';
            }
            text += c;
        }
        text += '"';
    }
    return text;
}

std::vector<std::string> FromCommaText(const std::string& text) {
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && IsBlank(text[i])) {
            ++i;
        }
    };
    skipBlanks();
    while (i < n) {
        std::string item;
        if (text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > 32) {
                item += text[i++];
            }
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (i < n && text[i] == ',') {
            if (i == n - 1) {
                items.emplace_back();
            }
            ++i;
            skipBlanks();
        }
    }
    return items;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(begin, i - begin));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            begin = ++i;
        } else {
            ++i;
        }
    }
    if (begin < text.size()) {
        lines.push_back(text.substr(begin));
    }
    return lines;
}

} // namespace sw
