// Small text helpers shared by the description parser and the identify pages.
#include "simdrive/text_fields.h"

#include <algorithm>
#include <cctype>

namespace simdrive {

std::string_view trimBlanks(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string toLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t max) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit > max || value > (max - digit) / base) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

std::optional<bool> parseSwitch(std::string_view text) {
    std::string lower = toLower(text);
    if (lower == "yes" || lower == "true" || lower == "1" || lower == "on") return true;
    if (lower == "no" || lower == "false" || lower == "0" || lower == "off") return false;
    return std::nullopt;
}

void putBlankPadded(std::span<uint8_t> field, std::string_view text) {
    for (std::size_t i = 0; i < field.size(); ++i) {
        field[i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
    }
}

uint64_t hashText(std::string_view text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace simdrive
