#include "FakeSite.h"

#include <olectl.h>

namespace kivtest {

STDMETHODIMP FakeSite::QueryInterface(REFIID iid, void** out) {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleInPlaceSite || iid == IID_IOleWindow) *out = static_cast<IOleInPlaceSite*>(this);
    else if ((iid == IID_IOleInPlaceSiteEx || iid == IID_IOleInPlaceSiteWindowless) && offersWindowless)
        *out = static_cast<IOleInPlaceSiteWindowless*>(this);
    else if (iid == IID_IDispatch && userMode) *out = static_cast<IDispatch*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP FakeSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FakeSite::GetContainer(IOleContainer** container) {
    *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FakeSite::GetWindow(HWND* out) {
    *out = window;
    return window ? S_OK : E_FAIL;
}

STDMETHODIMP FakeSite::CanInPlaceActivate() {
    ++canActivate;
    return S_OK;
}

STDMETHODIMP FakeSite::OnInPlaceActivate() {
    ++activated;
    return S_OK;
}

STDMETHODIMP FakeSite::OnUIActivate() {
    ++uiActivated;
    return S_OK;
}

STDMETHODIMP FakeSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                        LPRECT clip, LPOLEINPLACEFRAMEINFO) {
    *frame = nullptr;
    *document = nullptr;
    *position = windowContext;
    *clip = windowContext;
    return S_OK;
}

STDMETHODIMP FakeSite::OnInPlaceDeactivate() {
    ++deactivated;
    return S_OK;
}

STDMETHODIMP FakeSite::OnPosRectChange(LPCRECT position) {
    positions.push_back(*position);
    if (onPosition) onPosition(*position);
    return S_OK;
}

STDMETHODIMP FakeSite::OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) {
    ++activatedEx;
    activatedExFlags = flags;
    if (noRedraw) *noRedraw = FALSE;
    return S_OK;
}

STDMETHODIMP FakeSite::GetDC(LPCRECT, DWORD, HDC* dc) {
    *dc = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP FakeSite::OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
    *result = 0;
    return S_OK;
}

STDMETHODIMP FakeSite::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP FakeSite::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
    if (id != DISPID_AMBIENT_USERMODE || !(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = *userMode ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

}  // namespace kivtest
