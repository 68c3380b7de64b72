// The control in place: activation through the container's in-place site, its position, and
// deactivation. The control has no window; it is placed, never shown in a window of its own.
#include "KivCtl.h"

#include "../component/Boundary.h"
#include "../platform/ScreenMetrics.h"

#include <cmath>

namespace kiv {

RECT KivCtl::OwnPosition(const RECT& asked) const noexcept {
    const TwipsPerPixel twips = ScreenTwipsPerPixel();
    const LONG width = std::lround(widthTwips_ / twips.x);
    const LONG height = std::lround(heightTwips_ / twips.y);
    return {asked.left, asked.top, asked.left + width, asked.top + height};
}

void KivCtl::Place(const RECT& asked) noexcept {
    position_ = OwnPosition(asked);
    const LONG width = asked.right - asked.left;
    const LONG height = asked.bottom - asked.top;
    if (width == position_.right - position_.left && height == position_.bottom - position_.top) return;
    // Another size is an extent change: the resize handler puts the control back to its own size.
    const TwipsPerPixel twips = ScreenTwipsPerPixel();
    HostSetsExtent(static_cast<float>(width) * twips.x, static_cast<float>(height) * twips.y);
    position_ = OwnPosition(asked);
    // The container hears once where the control really is. A container that places the control
    // again from inside that notification is not told again: that would never end with a container
    // that insists on its own size.
    if (telling_) return;
    ComPtr<IOleInPlaceSite> site = inPlaceSite_;
    if (!site && clientSite_) site = clientSite_.As<IOleInPlaceSite>(IID_IOleInPlaceSite);
    if (!site) return;
    telling_ = true;
    RECT own = position_;
    site->OnPosRectChange(&own);  // a container that ignores it (E_NOTIMPL) keeps its own idea
    telling_ = false;
}

HRESULT KivCtl::ActivateInPlace(IOleClientSite* site, LPCRECT position) noexcept {
    if (inPlaceSite_) {  // already in place: only the position may be new
        if (position) Place(*position);
        return S_OK;
    }
    if (!site) return E_UNEXPECTED;
    ComPtr<IOleInPlaceSite> inPlace;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(inPlace.Put()))) || !inPlace) {
        return E_FAIL;
    }
    if (inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
    HRESULT status = inPlace->OnInPlaceActivate();
    if (FAILED(status)) return status;
    inPlaceSite_ = inPlace;

    RECT where = {};
    RECT clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof(frameInfo);
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    const bool known = SUCCEEDED(inPlace->GetWindowContext(frame.Put(), document.Put(), &where, &clip, &frameInfo));
    if (position) Place(*position);
    else if (known) Place(where);
    return S_OK;
}

STDMETHODIMP KivCtl::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = nullptr;
    return E_FAIL;  // windowless
}

STDMETHODIMP KivCtl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP KivCtl::InPlaceDeactivate() {
    if (!inPlaceSite_) return S_OK;
    detail::CallReference<KivCtl> hold(this);
    ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP KivCtl::UIDeactivate() { return S_OK; }  // never UI-active

STDMETHODIMP KivCtl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (!position) return E_POINTER;
    detail::CallReference<KivCtl> hold(this);
    Place(*position);
    return S_OK;
}

STDMETHODIMP KivCtl::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

}  // namespace kiv
