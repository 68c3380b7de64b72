#include "Binding.h"

#include "RuntimeError.h"

namespace kiv::platform {

FARPROC Bind(const char* library, const char* name) {
    // The library stays loaded for the life of the process: bound addresses are kept.
    HMODULE module = ::LoadLibraryA(library);
    if (!module) Raise(errors::DllNotFound, RuntimeErrorText(errors::DllNotFound));
    FARPROC address = ::GetProcAddress(module, name);
    if (!address) Raise(errors::EntryPointNotFound, RuntimeErrorText(errors::EntryPointNotFound));
    return address;
}

}  // namespace kiv::platform
