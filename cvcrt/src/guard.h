// Keeps C++ exceptions (in practice only std::bad_alloc) from crossing the C ABI.
#pragma once

#include <new>
#include <utility>

namespace cvcrt {

// Runs fn; if it throws, returns fallback instead. Operations that run out of
// memory therefore leave their container as it was.
template <typename R, typename Fn>
R NoThrow(R fallback, Fn&& fn) noexcept {
    try {
        return std::forward<Fn>(fn)();
    } catch (...) {
        return fallback;
    }
}

template <typename Fn>
void NoThrow(Fn&& fn) noexcept {
    try {
        std::forward<Fn>(fn)();
    } catch (...) {
    }
}

}  // namespace cvcrt
