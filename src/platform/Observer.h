// The platform layer's seam for tests: one observer that sees every call with its arguments and
// result, and may answer a call itself (a refused allocation, a palette device) to reach paths the
// machine does not offer. Nothing here replaces GDI, and with no observer a platform call is the call
// itself: no record is built and nothing is kept.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kiv::platform {

// One call as the observer sees it. Pointer arguments (texts, records) are the caller's and valid
// only while the observer is being told of the call.
struct Call {
    const char* name = nullptr;
    std::intptr_t args[14] = {};
    int argc = 0;
    std::intptr_t result = 0;
};

class Observer {
public:
    virtual ~Observer() = default;
    // Before the call: returning true answers it with call.result, and the platform is not called.
    virtual bool Intercept(Call& call) { return false; }
    // After the call (or its interception), with the result.
    virtual void Observe(const Call& call) {}
};

// Makes `observer` (nullptr: none) the one observer of every platform call of the process, on
// whichever thread it is made. It must stay alive while a call may still reach it.
void SetObserver(Observer* observer) noexcept;

}  // namespace kiv::platform
