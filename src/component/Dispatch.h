// Late binding for the dual interfaces, through the type information of the embedded library.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace kiv::dispatch {

HRESULT GetIDsOfNames(ITypeInfo* vtable, LPOLESTR* names, UINT count, DISPID* ids) noexcept;

// Calls member `id` of `instance` (the dual interface's vtable) as the platform's ITypeInfo::Invoke
// does, after bringing the arguments into the exact form that the member declares: omitted optional
// arguments take their declared default (or zero of their type), and every argument is coerced to
// its parameter's type in a temporary, so that a script's by-reference VARIANT reaches a by-reference
// typed parameter. An object result given as IUnknown is handed back as its IDispatch.
HRESULT Invoke(ITypeInfo* vtable, void* instance, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception, UINT* argError) noexcept;

}  // namespace kiv::dispatch
