// A module built as KIVDRAW.OCX is, with GCC's runtime arranged the same way (its objects, the
// module's entry point, guard and load-configuration directory), through which the tests reach that
// runtime as the module has it: its statics' guards, its exceptions, its stack guard, and an unload
// whose last destructor throws and catches.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <stdexcept>

extern "C" {
extern std::uintptr_t __stack_chk_guard;
[[noreturn]] void __stack_chk_fail() noexcept;
}

namespace {

int* gCaught = nullptr;
bool (*gAtProcessEnd)() = nullptr;

// Throws and catches as the module unloads, once a host has lent it a flag to count that on.
struct ThrowsAtUnload {
    ~ThrowsAtUnload() {
        if (!gCaught) return;
        try {
            throw std::runtime_error("unloading");
        } catch (const std::exception&) {
            ++*gCaught;
        }
    }
} gThrowsAtUnload;

std::atomic<long> gSlowMade{0};
std::atomic<long> gFlakyTries{0};

// Made slowly, so that other threads come for it while it is being made.
struct Slow {
    explicit Slow(int delay) {
        ::Sleep(delay);
        ++gSlowMade;
    }
    int value = 42;
};

// Its first making throws after a while; the next one succeeds.
struct Flaky {
    explicit Flaky(int delay) {
        ::Sleep(delay);
        if (gFlakyTries++ == 0) throw std::runtime_error("first try");
    }
    long made = gFlakyTries.load();
};

}  // namespace

extern "C" {

__declspec(dllexport) void CountCatchesIn(int* caught) { gCaught = caught; }

// The static's value; how often it was made.
__declspec(dllexport) int SlowStatic(int delay) {
    static Slow slow(delay);
    return slow.value;
}
__declspec(dllexport) long SlowStaticsMade() { return gSlowMade.load(); }

// The number of the try that made the static; -1 when this call's try threw.
__declspec(dllexport) long FlakyStatic(int delay) {
    try {
        static Flaky flaky(delay);
        return flaky.made;
    } catch (const std::runtime_error&) {
        return -1;
    }
}

__declspec(dllexport) std::uintptr_t StackGuard() { return __stack_chk_guard; }
__declspec(dllexport) void FailStackCheck() { __stack_chk_fail(); }

// As the process ends, this module asks `check` and ends the process with status 4 when it answers
// false. A copy loaded before another module is told of the process's end after it.
__declspec(dllexport) void CheckAtProcessEnd(bool (*check)()) { gAtProcessEnd = check; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved && gAtProcessEnd && !gAtProcessEnd())
        ::TerminateProcess(::GetCurrentProcess(), 4);
    return TRUE;
}

}  // extern "C"

#if defined(__i386__)
// The search of the 32-bit unwind tables, as the module's unwinder calls it: the first address of the
// function whose entry holds `pc`, or null.
struct Bases {
    void* text;
    void* data;
    void* function;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, Bases* bases) noexcept;

extern "C" __declspec(dllexport) void* FunctionHolding(void* pc) {
    Bases bases = {};
    return _Unwind_Find_FDE(pc, &bases) ? bases.function : nullptr;
}

// The last function of the module's code: its section's name sorts after every other, and its unwind
// entry covers [KivProbeLast, KivProbeLastEnd) exactly; a few bytes of no function follow it.
asm(".section \".text$~~last\",\"xr\"\n"
    ".globl _KivProbeLast\n"
    ".globl _KivProbeLastEnd\n"
    "_KivProbeLast:\n"
    ".cfi_startproc\n"
    "    xorl %eax, %eax\n"
    "    ret\n"
    ".cfi_endproc\n"
    "_KivProbeLastEnd:\n"
    "    int3\n    int3\n    int3\n    int3\n"
    ".text\n");
extern "C" void KivProbeLast();
extern "C" void KivProbeLastEnd();
extern "C" __declspec(dllexport) void* LastFunction(int end) {
    return reinterpret_cast<void*>(end ? &KivProbeLastEnd : &KivProbeLast);
}
#endif
