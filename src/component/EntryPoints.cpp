// The module's entry points.
#include "ClassFactory.h"
#include "Module.h"
#include "Registration.h"
#include "kiv.h"

#include <olectl.h>

#include <cwchar>

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
    // A detach with `reserved` set is the process ending rather than an unload.
    if (reason == DLL_PROCESS_DETACH) kiv::module::Detached(reserved != nullptr);
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // Only the control is made through a class object; the registry and the surface are made by
    // the control and the registry.
    if (clsid != CLSID_KivCtl) return CLASS_E_CLASSNOTAVAILABLE;
    return kiv::ControlClassObject()->QueryInterface(iid, out);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return kiv::module::LiveObjects() == 0 && kiv::module::Locks() == 0 ? S_OK : S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
    return kiv::registration::Register(kiv::registration::Scope::Machine);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return kiv::registration::Unregister(kiv::registration::Scope::Machine);
}

// regsvr32 /i:user registers for the current user only (no administrator rights needed);
// with /u it removes that registration.
HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    const bool user = commandLine && _wcsicmp(commandLine, L"user") == 0;
    if (!user) return E_INVALIDARG;
    return install ? kiv::registration::Register(kiv::registration::Scope::User)
                   : kiv::registration::Unregister(kiv::registration::Scope::User);
}

}  // extern "C"
