// Platform functions are bound by name in their library on their first call; the address found
// serves every later call. A library or entry point that cannot be found raises the runtime's error
// at the call that needs it.
#pragma once

#include <windows.h>

#include <atomic>

namespace kiv::platform {

// The address of NAME in LIBRARY, loading the library if needed; raises error 48 or 453.
FARPROC Bind(const char* library, const char* name);

template <class Fn>
class Entry {
public:
    constexpr Entry(const char* library, const char* name) noexcept : library_(library), name_(name) {}

    const char* Name() const noexcept { return name_; }

    Fn operator()() {
        Fn fn = fn_.load(std::memory_order_acquire);
        if (!fn) {
            fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(Bind(library_, name_)));
            fn_.store(fn, std::memory_order_release);
        }
        return fn;
    }

private:
    const char* library_;
    const char* name_;
    std::atomic<Fn> fn_{nullptr};
};

}  // namespace kiv::platform
