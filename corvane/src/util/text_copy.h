// Small text helpers shared by the string utilities.
#pragma once

#include <corvane.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace corvane {

// Copies at most size - 1 characters of text into out and terminates it;
// writes nothing when size <= 0.
inline void CopyCut(char* out, int size, std::string_view text)
{
    if (out == nullptr || size <= 0) return;
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

// New string allocated with CvAlloc; null when memory runs out.
inline char* AllocText(std::string_view text)
{
    if (text.size() >= static_cast<std::size_t>(INT32_MAX)) return nullptr;
    auto* copy = static_cast<char*>(CvAlloc(static_cast<int32_t>(text.size() + 1)));
    if (copy != nullptr) std::memcpy(copy, text.data(), text.size());
    return copy;
}

// Appends a CvAlloc copy of text to the list; nothing when memory runs out.
inline void AddText(ArrayList* list, std::string_view text)
{
    if (char* copy = AllocText(text)) ArrayList_Add(list, copy);
}

}  // namespace corvane
