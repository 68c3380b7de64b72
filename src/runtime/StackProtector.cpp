// The stack protector's guard and its failure, which GCC's runtime library (libssp) would otherwise
// bring: that library seeds the guard in a constructor through the platform's cryptographic provider,
// which loads three libraries while the module loads, under the loader's lock, where loading libraries
// is forbidden. The guard is the module's load-configuration directory's cookie instead
// (LoadConfig.c), which the loader sets at every load as for the platform's own compilers. Where it
// still holds the value it was linked with as the module starts (a linker that wrote no directory, a
// loader that set none), the module's entry point seeds it before any other code of the module runs,
// from values that change with every load and process.
//
// This file is compiled without the stack protector, like the whole folder: the seeding changes the
// value that protected functions compare their frames with on return.
#include "Runtime.h"

#include "LinkedStackGuard.h"

#include <windows.h>

#include <cstdint>

extern "C" {
extern std::uintptr_t __stack_chk_guard;
extern const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used;
}

// A protected function found its frame overwritten: nothing of the process can be trusted any more,
// so it ends at once, running nothing else of it, as the platform's own check does: a fail-fast with
// the stack-cookie failure code, which the platform reports as STATUS_STACK_BUFFER_OVERRUN, so that
// crash reports name it. The fail-fast interrupt (the compilers' __fastfail) has no intrinsic in this
// runtime's headers; where the processor or system lacks it, the process ends with the same status.
extern "C" [[noreturn]] void __stack_chk_fail() noexcept {
    if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        __asm__ __volatile__("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    }
    ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    for (;;) ::Sleep(INFINITE);  // TerminateProcess of the own process does not return
}

namespace kiv::runtime {

void SeedStackGuard(HINSTANCE module) noexcept {
    // The guard the loader set, if it did: the directory names it, and the linker may have dropped an
    // unreferenced directory otherwise.
    auto* guard = reinterpret_cast<std::uintptr_t*>(_load_config_used.SecurityCookie);
    if (*guard != static_cast<std::uintptr_t>(KIV_LINKED_STACK_GUARD)) return;
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
    std::uintptr_t value = static_cast<std::uintptr_t>(sizeof(std::uintptr_t) < 8 ? seed ^ (seed >> 32) : seed);
    // The platform keeps a 64-bit cookie's top 16 bits clear, so that a cookie is no valid address.
    if constexpr (sizeof(std::uintptr_t) == 8) value &= 0x0000FFFFFFFFFFFFull;
    *guard = value != *guard && value != 0 ? value : *guard ^ 0x5A5A5A5Au;
}

}  // namespace kiv::runtime
