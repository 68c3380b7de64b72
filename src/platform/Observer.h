// The platform layer's seam for tests: observers that see every call with its arguments and result,
// and may answer a call themselves (a refused allocation, a palette device) to reach paths the
// machine does not offer. Nothing here replaces GDI, and with no observer on a thread a platform
// call is the call itself: no record is built and nothing is kept.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kiv::platform {

// One call as an observer sees it. Pointer arguments (texts, records) are the caller's and valid
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

private:
    friend void Attach(Observer*) noexcept;
    friend void Detach(Observer*) noexcept;
    friend Observer* Below(const Observer*) noexcept;
    Observer* below_ = nullptr;
};

// The calling thread's observers form a stack: the newest is asked first to answer a call, and every
// one of them sees it. Detach removes an observer wherever it stands.
void Attach(Observer* observer) noexcept;
void Detach(Observer* observer) noexcept;
Observer* Below(const Observer* observer) noexcept;

// The value of GetLastError after the latest platform call on this thread; the library never reads it.
DWORD LastPlatformError() noexcept;

}  // namespace kiv::platform
