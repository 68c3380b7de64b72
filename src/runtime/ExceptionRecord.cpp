// The per-thread exception record of the C++ ABI (__cxa_get_globals), which every throw and catch goes
// through. GCC's runtime keeps it in emulated thread-local storage, which takes a slot of the
// platform's thread-local storage and never gives it back: every unload of a module that had thrown
// once would leave one slot behind, until the process has none left and dies. Here each thread's
// record lives in a fiber-local slot: a thread's record is freed when the thread ends, and at unload
// the slot goes back to the platform, which frees the records that are left.
//
// A module makes the slot as it loads (MakeExceptionRecords), and refuses to load when the process has
// none left: without one no exception could be thrown or caught, and the runtime's answer to that is to
// end the process, the host's included. A program that links these objects makes it at its first
// exception.
#include "Runtime.h"

#include <windows.h>

#include <atomic>
#include <exception>

namespace {

// As the C++ ABI lays it out: the exceptions caught and not yet finished, innermost first, and how
// many are thrown and not yet caught.
struct ExceptionRecord {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

void WINAPI FreeRecord(void* record) noexcept {
    if (record) ::HeapFree(::GetProcessHeap(), 0, record);
}

std::atomic<DWORD> gSlot{FLS_OUT_OF_INDEXES};

// The slot, made as the module loads or else by the first thread that throws.
DWORD Slot() noexcept {
    DWORD slot = gSlot.load(std::memory_order_acquire);
    if (slot != FLS_OUT_OF_INDEXES) return slot;
    const DWORD made = ::FlsAlloc(&FreeRecord);
    if (made == FLS_OUT_OF_INDEXES || gSlot.compare_exchange_strong(slot, made, std::memory_order_acq_rel)) return made;
    ::FlsFree(made);  // another thread made it first
    return slot;
}

}  // namespace

namespace kiv::runtime {

bool MakeExceptionRecords() noexcept { return Slot() != FLS_OUT_OF_INDEXES; }

void ReleaseExceptionRecords() noexcept {
    if (const DWORD slot = gSlot.exchange(FLS_OUT_OF_INDEXES); slot != FLS_OUT_OF_INDEXES) ::FlsFree(slot);
}

}  // namespace kiv::runtime

extern "C" ExceptionRecord* __cxa_get_globals() noexcept {
    const DWORD slot = Slot();
    // Without a record no exception can be thrown or caught: the runtime's own answer to that is to
    // end the process.
    if (slot == FLS_OUT_OF_INDEXES) std::terminate();
    if (auto* record = static_cast<ExceptionRecord*>(::FlsGetValue(slot))) return record;
    auto* record =
        static_cast<ExceptionRecord*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExceptionRecord)));
    if (!record) std::terminate();
    if (!::FlsSetValue(slot, record)) {
        FreeRecord(record);
        std::terminate();
    }
    return record;
}

// The runtime asks for the record this way only where one exists already, in its own implementation;
// making it on demand serves a first call on a thread as well.
extern "C" ExceptionRecord* __cxa_get_globals_fast() noexcept { return __cxa_get_globals(); }
