// Splitting text into lists of strings and into key/value maps.
#include <corvane.h>

#include <string>
#include <string_view>

#include "text_copy.h"

namespace {

using corvane::AddText;

// fn(piece) for every non-empty piece between separators, in order.
template <class Fn>
void ForEachPiece(std::string_view text, char separator, Fn&& fn)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) fn(text.substr(start, end - start));
        start = end + 1;
    }
}

void AddPair(std::string_view piece, char separator, StringMap* map)
{
    const std::size_t split = piece.find(separator);
    const std::string key(piece.substr(0, split));
    const std::string value(split == std::string_view::npos ? std::string_view() : piece.substr(split + 1));
    StringMap_AddValue(map, key.c_str(), value.c_str());
}

}  // namespace

void CvUtil_SplitStringIntoList(const char* text, char separator, ArrayList* list)
{
    if (text == nullptr || list == nullptr) return;
    ForEachPiece(text, separator, [list](std::string_view piece) { AddText(list, piece); });
}

void CvUtil_SplitStringIntoListUsingWhitespaceAndQuotes(const char* text, ArrayList* list)
{
    if (text == nullptr || list == nullptr) return;
    std::string token;
    const auto endToken = [&] {
        if (!token.empty()) AddText(list, token);
        token.clear();
    };
    bool quoted = false;
    for (const char* p = text; *p != '\0'; ++p) {
        const char c = *p;
        if (quoted) {
            if (c == '"') {
                endToken();
                quoted = false;
            } else {
                token += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n') {
            endToken();
        } else if (c == '"') {
            endToken();
            quoted = true;
        } else {
            token += c;
        }
    }
    endToken();  // also ends an unterminated quote
}

void CvUtil_SplitStringIntoPair(const char* text, char separator, StringMap* map)
{
    if (text == nullptr || map == nullptr) return;
    AddPair(text, separator, map);
}

void CvUtil_SplitStringIntoPairs(const char* text, char pairSeparator, char keyValueSeparator, StringMap* map)
{
    if (text == nullptr || map == nullptr) return;
    ForEachPiece(text, pairSeparator,
                 [keyValueSeparator, map](std::string_view piece) { AddPair(piece, keyValueSeparator, map); });
}

void CvUtil_DestroyListAndData(ArrayList* list)
{
    if (list == nullptr) return;
    const int32_t size = ArrayList_GetSize(list);
    for (int32_t i = 0; i < size; ++i) CvFree(ArrayList_Get(list, i));
    ArrayList_Destroy(list);
}
