// Text fields of fixed width in descriptors that plug-ins fill: a field that is
// full need not be terminated, so it is read up to its width at most.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace corvane {

template <std::size_t N>
std::string_view FixedView(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// A terminated copy, for messages.
template <std::size_t N>
std::string FixedText(const char (&field)[N])
{
    return std::string(FixedView(field));
}

// Terminates the manager's own copy of a field, so that it can be handed on as
// a C string.
template <std::size_t N>
void TerminateField(char (&field)[N])
{
    field[N - 1] = '\0';
}

}  // namespace corvane
