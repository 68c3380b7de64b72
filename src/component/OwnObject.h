// The internal-call check: internal members are reached only on the library's own implementation of
// a class. The class identifier, asked for as an interface, answers with the object itself; a
// foreign object implementing the same interface does not, and gets the runtime's error.
#pragma once

#include "../platform/RuntimeError.h"

#include <unknwn.h>

namespace kiv {

template <class T>
T& Own(IUnknown* object) {
    if (!object) Raise(91, L"Object variable or With block variable not set");
    T* own = nullptr;
    if (FAILED(object->QueryInterface(T::ClassId(), reinterpret_cast<void**>(&own))) || !own) {
        Raise(errors::ForeignObject, RuntimeErrorText(errors::ForeignObject));
    }
    own->Release();  // the caller holds the object through `object`
    return *own;
}

}  // namespace kiv
