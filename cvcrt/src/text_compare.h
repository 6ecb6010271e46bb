// Case-insensitive text comparison shared by the string maps and their getters.
// Only ASCII letters fold, byte by byte, whatever the process locale.
#pragma once

#include <cstddef>

namespace cvcrt {

constexpr char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Equal when the first `limit` characters match (or both texts end earlier).
constexpr bool EqualsFolded(const char* a, const char* b, size_t limit) {
    for (size_t i = 0; i < limit; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

}  // namespace cvcrt
