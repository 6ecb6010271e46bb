// Small text helpers shared by the description parser, the identify pages and
// the simulator plug-in's settings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace simdrive {

std::string_view trimBlanks(std::string_view text);
std::string toLower(std::string_view text);

// Decimal or 0x-prefixed hexadecimal, no sign, at most max.
std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t max);
// yes/no, true/false, 1/0, on/off in any case.
std::optional<bool> parseSwitch(std::string_view text);

// Copies text into the field and fills the rest with blanks.
void putBlankPadded(std::span<uint8_t> field, std::string_view text);

// FNV-1a, used to derive stable identifiers from serial numbers.
uint64_t hashText(std::string_view text);

}  // namespace simdrive
