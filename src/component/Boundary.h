// The call protocol of every public member and handler: a reference on the object for the call,
// the out parameter emptied on entry, the member run in its error mode, and what escapes turned into
// a failure status with the error object set.
#pragma once

#include "../platform/RuntimeError.h"

#include <windows.h>
#include <oleauto.h>

#include <new>
#include <type_traits>

namespace kiv {

enum class ErrorMode {
    Continue,  // a failing step is abandoned, the member goes on and reports success
    Escape,    // the first error ends the member and becomes its failure status
};

namespace detail {

template <class T>
void Empty(T* out) noexcept {
    if constexpr (std::is_same_v<T, BSTR>) {
        if (*out) ::SysFreeString(*out);
        *out = nullptr;
    } else if constexpr (std::is_pointer_v<T> && std::is_base_of_v<IUnknown, std::remove_pointer_t<T>>) {
        if (*out) (*out)->Release();
        *out = nullptr;
    } else {
        *out = T{};
    }
}

template <class Body>
HRESULT Run(ErrorMode mode, Body& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (const RuntimeError& error) {
        return mode == ErrorMode::Continue ? S_OK : error.Report();
    } catch (const std::bad_alloc&) {
        return mode == ErrorMode::Continue ? S_OK : RuntimeError(errors::OutOfMemory, L"Out of memory").Report();
    } catch (...) {
        return mode == ErrorMode::Continue ? S_OK : E_UNEXPECTED;
    }
}

template <class Self>
class CallReference {
public:
    explicit CallReference(Self* self) noexcept : self_(self) { self_->AddRef(); }
    CallReference(const CallReference&) = delete;
    CallReference& operator=(const CallReference&) = delete;
    ~CallReference() { self_->Release(); }

private:
    Self* self_;
};

}  // namespace detail

// A member without a result.
template <class Self, class Body>
HRESULT Boundary(Self* self, ErrorMode mode, Body&& body) noexcept {
    detail::CallReference<Self> hold(self);
    ::SetErrorInfo(0, nullptr);
    return detail::Run(mode, body);
}

// A member whose result travels in `out`: empty on entry, and empty again when an error escapes.
// A null `out` is refused with E_POINTER, as every COM out parameter is.
template <class Self, class T, class Body>
HRESULT Boundary(Self* self, ErrorMode mode, T* out, Body&& body) noexcept {
    if (!out) return E_POINTER;
    *out = T{};
    detail::CallReference<Self> hold(self);
    ::SetErrorInfo(0, nullptr);
    HRESULT status = detail::Run(mode, body);
    if (FAILED(status)) detail::Empty(out);
    return status;
}

// Runs one step of a member in mode continue: an error it raises abandons the step only.
template <class Step>
void Attempt(Step&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

// Raises the failure status of a call into one of the library's own public members as an error.
inline void Check(HRESULT status) {
    if (FAILED(status)) RaiseFromStatus(status);
}

}  // namespace kiv
