// Conversions behind the typed getters of the string maps. Each returns the default
// when the text is null or is not converted whole.
#pragma once

#include <cstdint>

namespace cvcrt {

int32_t ToInt32(const char* text, int32_t defaultValue);
int64_t ToInt64(const char* text, int64_t defaultValue);
double ToDouble(const char* text, double defaultValue);
int ToBool(const char* text, int defaultValue);

}  // namespace cvcrt
