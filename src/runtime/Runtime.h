// GCC's C and C++ runtimes, arranged for a module that its host loads and unloads again and again:
// what the runtime takes while the module is loaded it takes without kernel objects where it can, and
// gives back at unload.
//
// The files of this folder replace pieces of the runtime by definitions of the same names, which the
// linker takes before the runtime's own: the library's objects come first in every link, and the
// module and the test programs link them alike, so the tests run with the runtime that ships.
// ModuleEntry.cpp and StackProtector.cpp are the module's alone.
#pragma once

#include <windows.h>

namespace kiv::runtime {

// The stack protector's guard, seeded from values that differ with every load: the first thing the
// module's entry point does as the module loads.
void SeedStackGuard(HINSTANCE module) noexcept;

// The runtime's leftovers of this load, given back by the module's entry point at unload once the C
// runtime has run every destructor of the module: nothing of the module runs after it.
// - The fiber-local slot of the per-thread exception records, with every thread's record.
// - The index of the unwind tables (32-bit modules), made at the first exception.
// - The emergency pool from which the C++ runtime takes exceptions when memory runs out.
void GiveBack() noexcept;

void ReleaseExceptionRecords() noexcept;
void ReleaseUnwindIndex() noexcept;

}  // namespace kiv::runtime
