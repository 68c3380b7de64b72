// Late binding for the dual interfaces, answered from each interface's description.
#pragma once

#include "DispatchTable.h"

#include <windows.h>
#include <oaidl.h>

namespace kiv::dispatch {

HRESULT GetIDsOfNames(const Table& table, LPOLESTR* names, UINT count, DISPID* ids) noexcept;

// Calls member `id` of `instance` (the dual interface's vtable) as IDispatch::Invoke does, with the
// arguments brought into the exact form that the member declares: omitted optional arguments take
// their declared default (or zero of their type), and every argument is converted to its parameter's
// type in a temporary, so that a script's by-reference VARIANT reaches a by-reference typed
// parameter. The platform makes the call at the member's vtable slot. An object result given as
// IUnknown is handed back as its IDispatch; a failing member's error object becomes the exception.
HRESULT Invoke(const Table& table, void* instance, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception, UINT* argError) noexcept;

}  // namespace kiv::dispatch
