// The stack protector's guard value and its failure, which GCC's runtime library (libssp) would
// otherwise bring: that library seeds the guard in a constructor through the platform's cryptographic
// provider, which loads three libraries while the module loads, under the loader's lock, where
// loading libraries is forbidden, and costs more than the rest of the load. The guard is seeded
// instead by the module's entry point before any other code of the module runs (ModuleEntry.cpp), from
// values that change with every load and process, as the platform's compilers seed theirs.
//
// This file is compiled without the stack protector, like the whole folder: the seeding changes the
// value that protected functions compare their frames with on return.
#include "Runtime.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>

extern "C" {
// Read by every protected function; a fixed value until the entry point seeds it.
std::uintptr_t __stack_chk_guard = 0xff0a0000u;
}

// A protected function found its frame overwritten: nothing of the process can be trusted any more,
// so it ends at once, without running anything else of it, and the platform's error reporting sees
// why.
extern "C" [[noreturn]] void __stack_chk_fail() noexcept {
    ::RaiseFailFastException(nullptr, nullptr, 0);
    ::TerminateProcess(::GetCurrentProcess(), 0xC0000409u);  // STATUS_STACK_BUFFER_OVERRUN
    std::abort();
}

namespace kiv::runtime {

void SeedStackGuard(HINSTANCE module) noexcept {
    FILETIME time = {};
    ::GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    std::uint64_t seed = (std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime) ^
                         static_cast<std::uint64_t>(counter.QuadPart) ^
                         (std::uint64_t(::GetCurrentProcessId()) << 32) ^ ::GetCurrentThreadId() ^
                         (std::uint64_t(::GetTickCount()) << 16) ^ reinterpret_cast<std::uintptr_t>(module) ^
                         reinterpret_cast<std::uintptr_t>(&counter);
    // A 64-bit mix (splitmix64's finaliser), so that every input bit reaches every output bit.
    seed = (seed ^ (seed >> 30)) * 0xBF58476D1CE4E5B9ull;
    seed = (seed ^ (seed >> 27)) * 0x94D049BB133111EBull;
    seed ^= seed >> 31;
    std::uintptr_t guard = static_cast<std::uintptr_t>(sizeof(std::uintptr_t) < 8 ? seed ^ (seed >> 32) : seed);
    // A zero byte first stops string copies at the guard, as the platform's guard values do.
    guard &= ~std::uintptr_t(0xff);
    if (guard == 0) guard = 0xff0a0000u;
    __stack_chk_guard = guard;
}

}  // namespace kiv::runtime
