// Process-wide state whose destructor never runs. The framework's globals stay
// valid during process exit, when plug-in threads or late callers may still use
// them, and a std::thread inside one never terminates the process on exit.
#pragma once

#include <new>
#include <utility>

namespace corvane {

template <class T>
class NeverDestroyed {
public:
    template <class... Args>
    constexpr explicit NeverDestroyed(Args&&... args) : value_(std::forward<Args>(args)...) {}
    ~NeverDestroyed() {}

    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;

    T& operator*() { return value_; }
    T* operator->() { return &value_; }
    const T& operator*() const { return value_; }
    const T* operator->() const { return &value_; }

private:
    union {
        T value_;
    };
};

}  // namespace corvane
