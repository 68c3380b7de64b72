// The guards of statics that a function makes at its first call (__cxa_guard_acquire, _release,
// _abort). GCC's runtime serialises them with a mutex of its thread layer whose semaphore is made at
// the first guarded static and never closed: one kernel handle left in the host at every unload of
// the module. Here they wait on the platform's slim lock and condition variable, which need no kernel
// object and nothing done at unload.
//
// The guard is the ABI's 64-bit word (`long long`, as the compilers declare these functions). Its
// first byte says the static is made; the compiled code reads it without a call, so it is written
// last, with release order. The second byte says a thread is making it, and bytes 4 to 7 which one.
// Those are written under the lock only.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <exception>

namespace {

SRWLOCK gLock = SRWLOCK_INIT;
CONDITION_VARIABLE gChanged = CONDITION_VARIABLE_INIT;

std::atomic_ref<unsigned char> Made(long long* guard) noexcept {
    return std::atomic_ref<unsigned char>(*reinterpret_cast<unsigned char*>(guard));
}
unsigned char& UnderWay(long long* guard) noexcept { return reinterpret_cast<unsigned char*>(guard)[1]; }

DWORD Maker(long long* guard) noexcept {
    DWORD thread = 0;
    std::memcpy(&thread, reinterpret_cast<unsigned char*>(guard) + 4, sizeof(thread));
    return thread;
}
void SetMaker(long long* guard, DWORD thread) noexcept {
    std::memcpy(reinterpret_cast<unsigned char*>(guard) + 4, &thread, sizeof(thread));
}

// Ends the making of a static, made or given up, and wakes whoever waits for one.
void Finish(long long* guard, bool made) noexcept {
    ::AcquireSRWLockExclusive(&gLock);
    UnderWay(guard) = 0;
    SetMaker(guard, 0);
    if (made) Made(guard).store(1, std::memory_order_release);
    ::ReleaseSRWLockExclusive(&gLock);
    ::WakeAllConditionVariable(&gChanged);
}

}  // namespace

// 1: the caller makes the static now; 0: it is made already. A thread that asks again for a static
// that it is making itself would wait for ever: the language leaves that undefined. GCC's runtime
// throws its recursive-initialisation error there; this one ends the process, as LLVM's runtime does.
extern "C" int __cxa_guard_acquire(long long* guard) noexcept {
    if (Made(guard).load(std::memory_order_acquire)) return 0;
    const DWORD self = ::GetCurrentThreadId();
    ::AcquireSRWLockExclusive(&gLock);
    for (;;) {
        if (Made(guard).load(std::memory_order_relaxed)) {
            ::ReleaseSRWLockExclusive(&gLock);
            return 0;
        }
        if (!UnderWay(guard)) {
            UnderWay(guard) = 1;
            SetMaker(guard, self);
            ::ReleaseSRWLockExclusive(&gLock);
            return 1;
        }
        if (Maker(guard) == self) {
            ::ReleaseSRWLockExclusive(&gLock);
            std::terminate();
        }
        ::SleepConditionVariableSRW(&gChanged, &gLock, INFINITE, 0);
    }
}

extern "C" void __cxa_guard_release(long long* guard) noexcept { Finish(guard, true); }

// The static's constructor threw: another thread (or a later call) makes it again.
extern "C" void __cxa_guard_abort(long long* guard) noexcept { Finish(guard, false); }
