// GCC's C and C++ runtimes, arranged for a module that its host loads and unloads again and again:
// what the runtime takes while the module is loaded it takes without kernel objects where it can, and
// gives back at unload.
//
// The files of this folder replace pieces of the runtime by definitions of the same names, which the
// linker takes before the runtime's own: the library's objects come first in every link. The test
// programs link them too, but with the runtime built on POSIX threads and a program's entry point; the
// runtime as the module has it (the runtime built on the platform's threads, the module's entry point,
// the load-configuration directory) is what the tests' probe modules link, built as the module is.
// ModuleEntry.cpp, StackProtector.cpp and LoadConfig.c are the modules' alone.
#pragma once

#include <windows.h>

namespace kiv::runtime {

// The stack protector's guard, which the loader sets through the module's load-configuration
// directory; seeded here only where it still holds the value it was linked with (a linker that writes
// no directory, a loader that sets none). The first thing the module's entry point does as the module
// loads.
void SeedStackGuard(HINSTANCE module) noexcept;

// What the runtime needs of the process once per load, taken as the module loads: the fiber-local slot
// of the exception records. False when the process has none left: the module then refuses to load.
bool MakeExceptionRecords() noexcept;

// The runtime's leftovers of this load, given back by the module's entry point at unload once the C
// runtime has run every destructor of the module: nothing of the module runs after it.
// - The fiber-local slot of the per-thread exception records, with every thread's record.
// - The index of the unwind tables (32-bit modules), made at the first exception.
// - The emergency pool from which the C++ runtime takes exceptions when memory runs out.
void GiveBack() noexcept;

void ReleaseExceptionRecords() noexcept;
void ReleaseUnwindIndex() noexcept;

}  // namespace kiv::runtime
