// Decimal conversion of switch values.
#pragma once

#include <cstdint>

namespace firmstep {

// Converts like the C library's atoi: leading white space, an optional sign and
// the leading digits; 0 when there are none. Unlike atoi, a value outside the
// 32-bit range does not invoke undefined behaviour: it saturates at INT32_MIN or
// INT32_MAX.
std::int32_t ParseDecimal(const char* text);

// The 8-bit switches keep the low 8 bits of the converted value.
inline std::uint8_t LowByte(std::int32_t value)
{
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFFu);
}

}  // namespace firmstep
