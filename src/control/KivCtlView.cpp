// The control's view: its stored appearance picture at design time, nothing at run time (the
// control is invisible while the host program runs), and its extent.
#include "Appearance.h"
#include "KivCtl.h"

#include <olectl.h>

namespace kiv {

bool KivCtl::UserMode() const noexcept {
    // The container's ambient properties come through its site's IDispatch; without them the
    // control assumes that the host program runs.
    ComPtr<IDispatch> ambient = clientSite_ ? clientSite_.As<IDispatch>(IID_IDispatch) : nullptr;
    if (!ambient) return true;
    DISPPARAMS none = {};
    VARIANT value;
    ::VariantInit(&value);
    bool user = true;
    if (SUCCEEDED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                  &value, nullptr, nullptr)) &&
        SUCCEEDED(::VariantChangeType(&value, &value, 0, VT_BOOL))) {
        user = V_BOOL(&value) != VARIANT_FALSE;
    }
    ::VariantClear(&value);
    return user;
}

void KivCtl::ViewChanged() noexcept {
    if (!viewSink_ || !(viewAspects_ & DVASPECT_CONTENT)) return;
    ComPtr<IAdviseSink> sink = viewSink_;
    if (viewFlags_ & ADVF_ONLYONCE) viewSink_ = nullptr;
    sink->OnViewChange(DVASPECT_CONTENT, -1);
}

STDMETHODIMP KivCtl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                          BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc) return E_INVALIDARG;
    // Without bounds the control is drawn where it was placed, which only an in-place control has.
    if (!bounds && !inPlaceSite_) return E_INVALIDARG;
    const RECT where = bounds ? RECT{bounds->left, bounds->top, bounds->right, bounds->bottom} : position_;
    if (UserMode()) return S_OK;  // invisible at run time
    appearance::Paint(dc, where);
    return S_OK;
}

STDMETHODIMP KivCtl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) {
    if (!colours) return E_POINTER;
    *colours = nullptr;
    return S_FALSE;  // no colour set of its own to ask the container for
}

STDMETHODIMP KivCtl::Freeze(DWORD, LONG, void*, DWORD* freeze) {
    if (freeze) *freeze = 0;
    return E_NOTIMPL;
}

STDMETHODIMP KivCtl::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP KivCtl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    if (sink && (flags & ADVF_PRIMEFIRST)) ViewChanged();
    return S_OK;
}

STDMETHODIMP KivCtl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) *sink = ComPtr<IAdviseSink>(viewSink_).Detach();
    return S_OK;
}

STDMETHODIMP KivCtl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = ExtentHimetric();
    return S_OK;
}

}  // namespace kiv
