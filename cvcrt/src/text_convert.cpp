#include "text_convert.h"

#include <climits>
#include <cstdlib>
#include <initializer_list>

#include "text_compare.h"

namespace cvcrt {

// Base-10 signed conversion, leading blanks and a sign accepted, clamped to the
// limits of long long; any leftover character means "not a number". "" gives 0.
static bool ConvertWhole(const char* text, long long& out) {
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    return *end == '\0';
}

int32_t ToInt32(const char* text, int32_t defaultValue) {
    long long value = 0;
    if (!text || !ConvertWhole(text, value)) return defaultValue;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

int64_t ToInt64(const char* text, int64_t defaultValue) {
    long long value = 0;
    if (!text || !ConvertWhole(text, value)) return defaultValue;
    return static_cast<int64_t>(value);
}

double ToDouble(const char* text, double defaultValue) {
    if (!text) return defaultValue;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return *end == '\0' ? value : defaultValue;
}

int ToBool(const char* text, int defaultValue) {
    if (!text) return defaultValue;
    for (const char* word : {"true", "t", "yes", "y"})
        if (EqualsFolded(text, word, SIZE_MAX)) return 1;
    for (const char* word : {"false", "f", "no", "n"})
        if (EqualsFolded(text, word, SIZE_MAX)) return 0;
    return defaultValue;
}

}  // namespace cvcrt
