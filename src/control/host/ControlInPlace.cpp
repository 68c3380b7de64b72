// The control in place: activation through the container's in-place site, its position, and
// deactivation. A container that can host windowless objects draws the control through its view;
// any other gets a child window of the control's own on the window it gives, which is the one that
// GetWindow answers. The control takes no input either way.
#include "ControlFramework.h"

#include "../../component/Boundary.h"
#include "../../platform/ScreenMetrics.h"

namespace kiv::host {

RECT ControlFramework::OwnPosition(const RECT& asked) const noexcept {
    const SIZE own = ExtentPixels();
    return {asked.left, asked.top, asked.left + own.cx, asked.top + own.cy};
}

void ControlFramework::Place(const RECT& asked) noexcept {
    position_ = OwnPosition(asked);
    const LONG width = asked.right - asked.left;
    const LONG height = asked.bottom - asked.top;
    if (width == position_.right - position_.left && height == position_.bottom - position_.top) {
        window_.Move(position_);
        return;
    }
    // Another size is an extent change, and the control's resize notification decides what it keeps.
    const TwipsPerPixel twips = ScreenTwipsPerPixel();
    HostSetsExtent(static_cast<float>(width) * twips.x, static_cast<float>(height) * twips.y);
    position_ = OwnPosition(asked);
    window_.Move(position_);
    // The container hears once where the control really is. A container that places the control
    // again from inside that notification is not told again: that would never end with a container
    // that insists on its own size.
    if (reportingPosition_) return;
    ComPtr<IOleInPlaceSite> site = inPlaceSite_;
    if (!site && clientSite_) site = clientSite_.As<IOleInPlaceSite>(IID_IOleInPlaceSite);
    if (!site) return;
    reportingPosition_ = true;
    RECT own = position_;
    site->OnPosRectChange(&own);  // a container that ignores it (E_NOTIMPL) keeps its own idea
    reportingPosition_ = false;
}

HRESULT ControlFramework::ActivateInPlace(IOleClientSite* site, LPCRECT position) noexcept {
    if (inPlaceSite_) {  // already in place: only the position may be new, and the window shows again
        if (position) Place(*position);
        ShowForMode();
        return S_OK;
    }
    if (!site) return E_UNEXPECTED;
    ComPtr<IOleInPlaceSite> inPlace;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(inPlace.Put()))) || !inPlace) {
        return E_FAIL;
    }
    if (inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;

    // Windowless when the site offers it and agrees. Whether the site wants a redraw after the
    // activation does not matter: the control draws only when the container asks its view.
    auto windowless = inPlace.As<IOleInPlaceSiteWindowless>(IID_IOleInPlaceSiteWindowless);
    HRESULT status = S_OK;
    if (windowless && windowless->CanWindowlessActivate() == S_OK) {
        BOOL noRedraw = FALSE;
        status = windowless->OnInPlaceActivateEx(&noRedraw, ACTIVATE_WINDOWLESS);
        windowless_ = SUCCEEDED(status);
    } else {
        status = inPlace->OnInPlaceActivate();
    }
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
    if (windowless_) return S_OK;

    // A window of its own on the site's window. A site that gives no window gets none: the control
    // is then in place without one, and only its view can show it.
    HWND parent = nullptr;
    if (FAILED(inPlace->GetWindow(&parent)) || !parent) return S_OK;
    window_ = ControlWindow(parent, position_, Visible(), control_);
    if (window_) {
        if (known) window_.ClipTo(clip);
        return S_OK;
    }
    // The site was told of a windowed activation that cannot be: it hears that it is over.
    inPlaceSite_ = nullptr;
    inPlace->OnInPlaceDeactivate();
    return E_FAIL;
}

void ControlFramework::ShowForMode() noexcept {
    if (window_) window_.Show(Visible());
}

STDMETHODIMP ControlFramework::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = window_.Get();
    return window_ ? S_OK : E_FAIL;  // windowless, or not in place
}

STDMETHODIMP ControlFramework::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP ControlFramework::InPlaceDeactivate() {
    if (!inPlaceSite_) return S_OK;
    detail::CallReference<IUnknown> hold(outer_);
    ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    window_.Reset();
    windowless_ = false;
    site->OnInPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP ControlFramework::UIDeactivate() { return S_OK; }  // never UI-active

STDMETHODIMP ControlFramework::SetObjectRects(LPCRECT position, LPCRECT clip) {
    if (!position) return E_POINTER;
    detail::CallReference<IUnknown> hold(outer_);
    Place(*position);
    if (clip) window_.ClipTo(*clip);
    return S_OK;
}

STDMETHODIMP ControlFramework::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// Windowless, the container passes on the messages meant for the control. It handles none: the
// container does what it would do without the control.
STDMETHODIMP ControlFramework::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
    if (result) *result = 0;
    return S_FALSE;
}

STDMETHODIMP ControlFramework::GetDropTarget(IDropTarget** target) {
    if (!target) return E_POINTER;
    *target = nullptr;
    return E_NOTIMPL;  // nothing can be dropped on the control
}

}  // namespace kiv::host
