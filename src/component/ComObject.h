// The one COM base of the library's classes: reference count, QueryInterface table, IDispatch
// through the type library, ISupportErrorInfo, the module's object count, and the private identity
// through which the library recognises its own objects.
#pragma once

#include "ComPtr.h"
#include "Dispatch.h"
#include "Module.h"

#include <windows.h>
#include <oaidl.h>

#include <atomic>

namespace kiv {

// Derived: the class; Dual: its default dual interface; Extra: further interfaces it implements.
// Derived provides `static const CLSID& ClassId()`; the class identifier doubles as the private
// interface identifier that answers with the object itself, which only the library's own objects do.
template <class Derived, class Dual, class... Extra>
class ComObject : public Dual, public ISupportErrorInfo, public Extra... {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(Dual)) {
            *out = static_cast<Dual*>(this);
        } else if (iid == IID_ISupportErrorInfo) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else if (iid == Derived::ClassId()) {
            *out = static_cast<Derived*>(this);
        } else if (!(FindExtra<Extra>(iid, out) || ...)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (left == 0) delete static_cast<Derived*>(this);
        else static_cast<Derived*>(this)->OnReleased(left);
        return left;
    }

    // IDispatch, through the type information of Dual
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        *info = module::DispatchTypeInfo(__uuidof(Dual));
        return *info ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return dispatch::GetIDsOfNames(Description(), names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ::SetErrorInfo(0, nullptr);  // no stale error reaches this call's exception
        return dispatch::Invoke(Description(), static_cast<Dual*>(this), id, flags, params, result, exception,
                                argError);
    }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == __uuidof(Dual) ? S_OK : S_FALSE;
    }

    ULONG References() const noexcept { return references_; }

protected:
    ComObject() noexcept { module::ObjectCreated(); }
    virtual ~ComObject() { module::ObjectDestroyed(); }

    // Called after a Release that left references; a class that must act when only its own
    // library's references remain overrides it.
    void OnReleased(ULONG) noexcept {}

private:
    template <class I>
    bool FindExtra(REFIID iid, void** out) noexcept {
        if (iid != __uuidof(I)) return false;
        *out = static_cast<I*>(static_cast<Derived*>(this));
        return true;
    }

    // Dual's members as late binding calls them, described once, on the first call from any thread.
    static const dispatch::Table& Description() noexcept {
        static const dispatch::Table table(module::VtableTypeInfo(__uuidof(Dual)));
        return table;
    }

    std::atomic<ULONG> references_{1};
};

// A new object of the library's class T, owned by the returned reference.
template <class T, class... A>
ComPtr<T> MakeObject(A&&... args) {
    return ComPtr<T>::Adopt(new T(std::forward<A>(args)...));
}

}  // namespace kiv
