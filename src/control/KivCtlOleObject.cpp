// The control as an OLE object and an OLE control: its container site, verbs, extent, misc status,
// advise sinks and the control-level notifications.
#include "KivCtl.h"

#include "../component/Boundary.h"
#include "../platform/ScreenMetrics.h"

#include <olectl.h>

#include <cmath>
#include <cwchar>

namespace kiv {

SIZEL KivCtl::ExtentHimetric() const noexcept {
    // Pixels of the screen, then HIMETRIC (2540 to the inch) at the screen's pixels per inch.
    const TwipsPerPixel twips = ScreenTwipsPerPixel();
    const int dpiX = static_cast<int>(std::lround(1440.0f / twips.x));
    const int dpiY = static_cast<int>(std::lround(1440.0f / twips.y));
    const int width = static_cast<int>(std::lround(widthTwips_ / twips.x));
    const int height = static_cast<int>(std::lround(heightTwips_ / twips.y));
    return {::MulDiv(width, 2540, dpiX), ::MulDiv(height, 2540, dpiY)};
}

STDMETHODIMP KivCtl::SetClientSite(IOleClientSite* site) {
    detail::CallReference<KivCtl> hold(this);
    if (!site) InPlaceDeactivate();  // a container that leaves without deactivating first
    clientSite_ = site;
    return S_OK;
}

STDMETHODIMP KivCtl::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = ComPtr<IOleClientSite>(clientSite_).Detach();
    return S_OK;
}

STDMETHODIMP KivCtl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;  // the control opens no frame window that could show them
}

// Closing the control is its end as the container sees it: out of in-place activity, the advise
// sinks told, and the control's termination run (owner detached, list cleared, registry released).
STDMETHODIMP KivCtl::Close(DWORD) {
    detail::CallReference<KivCtl> hold(this);
    InPlaceDeactivate();
    if (oleAdvise_) oleAdvise_->SendOnClose();
    Terminate();
    return S_OK;  // nothing to save: the control keeps no properties
}

STDMETHODIMP KivCtl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

STDMETHODIMP KivCtl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP KivCtl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

STDMETHODIMP KivCtl::GetClipboardData(DWORD, IDataObject** data) {
    if (!data) return E_POINTER;
    *data = nullptr;
    return E_NOTIMPL;
}

// The control's only way of being active is in place, without the focus: every verb that asks to
// show or activate it does that, and hiding takes its window (if it has one) off the container's.
// It has no window to open and no property pages, and no verbs of its own beyond the primary one.
STDMETHODIMP KivCtl::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND, LPCRECT position) {
    detail::CallReference<KivCtl> hold(this);
    IOleClientSite* site = activeSite ? activeSite : clientSite_.Get();
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:  // never UI-active: activating in place is all it does
        return ActivateInPlace(site, position);
    case OLEIVERB_HIDE:  // no user interface to take away, only the window
        window_.Show(false);
        return S_OK;
    case OLEIVERB_DISCARDUNDOSTATE:  // nothing to undo
        return S_OK;
    case OLEIVERB_OPEN:
    case OLEIVERB_PROPERTIES:
        return E_NOTIMPL;
    default:
        if (verb < 0) return E_NOTIMPL;
        // An unknown positive verb is carried out as the primary one.
        HRESULT status = ActivateInPlace(site, position);
        return FAILED(status) ? status : OLEOBJ_S_INVALIDVERB;
    }
}

STDMETHODIMP KivCtl::EnumVerbs(IEnumOLEVERB** verbs) {
    if (!verbs) return E_POINTER;
    *verbs = nullptr;
    return OLEOBJ_E_NOVERBS;  // no verbs to list on a menu
}

STDMETHODIMP KivCtl::Update() { return S_OK; }

STDMETHODIMP KivCtl::IsUpToDate() { return S_OK; }

STDMETHODIMP KivCtl::GetUserClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_KivCtl;
    return S_OK;
}

STDMETHODIMP KivCtl::GetUserType(DWORD, LPOLESTR* userType) {
    if (!userType) return E_POINTER;
    static constexpr wchar_t kName[] = L"KivCtl";
    *userType = static_cast<LPOLESTR>(::CoTaskMemAlloc(sizeof(kName)));
    if (!*userType) return E_OUTOFMEMORY;
    std::wmemcpy(*userType, kName, sizeof(kName) / sizeof(wchar_t));
    return S_OK;
}

// The host changes the extent: the resize handler runs and puts it back to 32 x 31 pixels. The
// call succeeds; a container learns the size that the control kept from GetExtent (or, in place,
// from OnPosRectChange when it positions the control).
STDMETHODIMP KivCtl::SetExtent(DWORD aspect, SIZEL* size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    detail::CallReference<KivCtl> hold(this);
    // 2540 HIMETRIC units and 1440 twips are one inch each.
    const float widthTwips = static_cast<float>(size->cx) * 1440.0f / 2540.0f;
    const float heightTwips = static_cast<float>(size->cy) * 1440.0f / 2540.0f;
    // The size is fixed: any other size is refused, so that the container lays out the real one
    // instead of stretching the picture. The same size in whole pixels is this size, however the
    // container rounded it to HIMETRIC.
    const TwipsPerPixel twips = ScreenTwipsPerPixel();
    if (std::lround(widthTwips / twips.x) != kWidthPixels || std::lround(heightTwips / twips.y) != kHeightPixels)
        return E_FAIL;
    HostSetsExtent(widthTwips, heightTwips);
    return S_OK;
}

STDMETHODIMP KivCtl::GetExtent(DWORD aspect, SIZEL* size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = ExtentHimetric();
    return S_OK;
}

STDMETHODIMP KivCtl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!oleAdvise_) {
        HRESULT status = ::CreateOleAdviseHolder(oleAdvise_.Put());
        if (FAILED(status)) return status;
    }
    return oleAdvise_->Advise(sink, connection);
}

STDMETHODIMP KivCtl::Unadvise(DWORD connection) {
    return oleAdvise_ ? oleAdvise_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP KivCtl::EnumAdvise(IEnumSTATDATA** advises) {
    if (!advises) return E_POINTER;
    *advises = nullptr;
    return oleAdvise_ ? oleAdvise_->EnumAdvise(advises) : S_OK;  // none: an empty answer
}

STDMETHODIMP KivCtl::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? kMiscStatus : 0;
    return S_OK;
}

STDMETHODIMP KivCtl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// IOleControl

STDMETHODIMP KivCtl::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    // No mnemonics and no default or cancel button behaviour.
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP KivCtl::OnMnemonic(MSG*) { return E_NOTIMPL; }

STDMETHODIMP KivCtl::OnAmbientPropertyChange(DISPID id) {
    // The control's look depends on one ambient property: it is shown in design mode only.
    if (id != DISPID_AMBIENT_USERMODE && id != DISPID_UNKNOWN) return S_OK;
    detail::CallReference<KivCtl> hold(this);
    ShowForMode();
    ViewChanged();
    return S_OK;
}

STDMETHODIMP KivCtl::FreezeEvents(BOOL freeze) {
    // Counted as containers expect; the control has no events to hold back.
    eventFreezes_ += freeze ? 1 : (eventFreezes_ > 0 ? -1 : 0);
    return S_OK;
}

}  // namespace kiv
