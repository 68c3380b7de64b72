// The module's entry point, which the loader calls before and after everything else of the module.
// As the module loads it seeds the stack protector's guard, where the loader did not, before any
// protected function runs, and takes what the runtime needs of the process once per load; when the
// process has none of it left, the module refuses to load (LoadLibrary and CoCreateInstance then
// answer with a status) rather than end its host later. Then the C runtime's own entry point makes the
// module's statics and calls DllMain. A refused load is followed by a detach, for which the C runtime
// does nothing, as it never attached. At unload, once the C
// runtime has called DllMain and run every destructor, it gives back what the runtime kept for this
// load (GiveBack): nothing of the module runs after that, so no exception can find the emergency pool
// or the records gone. A process that is ending frees nothing: its other threads are gone already and
// may have held the heap's lock.
#include "Runtime.h"

namespace __gnu_cxx {
void __freeres() noexcept;
}

// The C runtime's entry point for a module (mingw-w64's start file).
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

namespace kiv::runtime {

void GiveBack() noexcept {
    ReleaseExceptionRecords();
#if defined(__i386__)
    ReleaseUnwindIndex();
#endif
    __gnu_cxx::__freeres();
}

}  // namespace kiv::runtime

extern "C" BOOL WINAPI KivModuleEntry(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        kiv::runtime::SeedStackGuard(module);
        if (!kiv::runtime::MakeExceptionRecords()) return FALSE;
    }
    const BOOL result = DllMainCRTStartup(module, reason, reserved);
    if (reason == DLL_PROCESS_DETACH && !reserved) kiv::runtime::GiveBack();
    return result;
}
