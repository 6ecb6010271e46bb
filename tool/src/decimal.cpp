#include "decimal.h"

#include <cctype>
#include <limits>

namespace firmstep {

std::int32_t ParseDecimal(const char* text)
{
    if (text == nullptr)
        return 0;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // Accumulate the magnitude in 64 bits and stop growing once it is past the
    // 32-bit range, so arbitrarily long digit strings cannot overflow.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    while (*p >= '0' && *p <= '9') {
        if (magnitude <= kLimit)
            magnitude = magnitude * 10 + (*p - '0');
        ++p;
    }
    if (negative)
        return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::min()
                                   : static_cast<std::int32_t>(-magnitude);
    return magnitude >= kLimit ? std::numeric_limits<std::int32_t>::max()
                               : static_cast<std::int32_t>(magnitude);
}

}  // namespace firmstep
