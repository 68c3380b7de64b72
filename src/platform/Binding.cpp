#include "Binding.h"

#include "RuntimeError.h"

namespace kiv::platform {
namespace {

// The library, kept loaded for the rest of the process: addresses bound in it stay valid, and a host
// that loads and unloads the module again and again does not add a reference to it at every load
// (none could be given back: a module may not free a library while it is being unloaded).
HMODULE Library(const char* name) noexcept {
    HMODULE module = nullptr;
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, name, &module)) return module;
    HMODULE loaded = ::LoadLibraryA(name);
    if (!loaded) return nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, name, &module)) return loaded;  // stays, referenced
    ::FreeLibrary(loaded);  // the pin keeps it
    return module;
}

}  // namespace

FARPROC Bind(const char* library, const char* name) {
    HMODULE module = Library(library);
    if (!module) Raise(errors::DllNotFound, RuntimeErrorText(errors::DllNotFound));
    FARPROC address = ::GetProcAddress(module, name);
    if (!address) Raise(errors::EntryPointNotFound, RuntimeErrorText(errors::EntryPointNotFound));
    return address;
}

}  // namespace kiv::platform
