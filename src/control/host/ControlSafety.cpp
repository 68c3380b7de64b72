// What the control declares safe to a container that asks before it trusts it (Office opening a
// document, a browser loading a page). Loading its stored data from any source is safe, through every
// interface that loads it: each record is checked before anything is taken from it, and a bad one is
// refused. Calls from a script that the container does not trust are not declared safe: through
// the control a caller draws on any device context that it names.
#include "ControlFramework.h"

namespace kiv::host {
namespace {

bool LoadsStoredData(REFIID iid) noexcept {
    return iid == IID_IPersistStreamInit || iid == IID_IPersistStream || iid == IID_IPersistStorage ||
           iid == IID_IPersistMemory || iid == IID_IPersistPropertyBag;
}

}  // namespace

STDMETHODIMP ControlFramework::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
    if (!supported || !enabled) return E_POINTER;
    *supported = 0;
    *enabled = 0;
    ComPtr<IUnknown> known;
    if (FAILED(outer_->QueryInterface(iid, reinterpret_cast<void**>(known.Put())))) return E_NOINTERFACE;
    if (LoadsStoredData(iid)) {
        *supported = INTERFACESAFE_FOR_UNTRUSTED_DATA;
        *enabled = safetyEnabled_ & INTERFACESAFE_FOR_UNTRUSTED_DATA;
    }
    return S_OK;
}

// A container turns on the safety that the control declares. A mask that names any other option
// fails, even to turn it off, as the interface's contract says: the container then knows that the
// control does not offer it, and changes nothing.
STDMETHODIMP ControlFramework::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
    DWORD supported = 0;
    DWORD current = 0;
    if (HRESULT status = GetInterfaceSafetyOptions(iid, &supported, &current); FAILED(status)) return status;
    if (mask & ~supported) return E_FAIL;
    safetyEnabled_ = (safetyEnabled_ & ~mask) | (enabled & mask);
    return S_OK;
}

}  // namespace kiv::host
