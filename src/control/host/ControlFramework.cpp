// The framework as an OLE object and an OLE control: its container site, verbs, extent, misc status,
// advise sinks and the control-level notifications.
#include "ControlFramework.h"

#include "../../component/Boundary.h"
#include "../../platform/ScreenMetrics.h"

#include <ole2.h>
#include <olectl.h>

#include <cmath>
#include <cstring>
#include <cwchar>
#include <utility>

namespace kiv::host {

ControlFramework::ControlFramework(IUnknown* outer, HostedControl& control, const ControlClass& description)
    : outer_(outer),
      control_(control),
      class_(description),
      dc_(std::make_shared<ControlDC>()),
      events_(this, description.events) {}

ControlFramework::~ControlFramework() = default;

bool ControlFramework::Find(REFIID iid, void** out) noexcept {
    IUnknown* found = nullptr;
    if (iid == IID_IOleObject) found = static_cast<IOleObject*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject || iid == IID_IOleInPlaceObjectWindowless)
        found = static_cast<IOleInPlaceObjectWindowless*>(this);
    else if (iid == IID_IOleControl) found = static_cast<IOleControl*>(this);
    else if (iid == IID_IViewObject || iid == IID_IViewObject2 || iid == IID_IViewObjectEx)
        found = static_cast<IViewObjectEx*>(this);
    else if (iid == IID_IDataObject) found = static_cast<IDataObject*>(this);
    else if (iid == IID_IQuickActivate) found = static_cast<IQuickActivate*>(this);
    else if (iid == IID_IPersist || iid == IID_IPersistStreamInit) found = static_cast<IPersistStreamInit*>(this);
    else if (iid == IID_IPersistStream) found = static_cast<IPersistStream*>(this);
    else if (iid == IID_IPersistStorage) found = static_cast<IPersistStorage*>(this);
    else if (iid == IID_IPersistMemory) found = static_cast<IPersistMemory*>(this);
    else if (iid == IID_IPersistPropertyBag) found = static_cast<IPersistPropertyBag*>(this);
    else if (iid == IID_IConnectionPointContainer) found = static_cast<IConnectionPointContainer*>(this);
    else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2)
        found = static_cast<IProvideClassInfo2*>(this);
    else if (iid == IID_IObjectSafety) found = static_cast<IObjectSafety*>(this);
    else return false;
    found->AddRef();
    *out = found;
    return true;
}

void ControlFramework::HostSetsExtent(float widthTwips, float heightTwips) noexcept {
    widthTwips_ = widthTwips;
    heightTwips_ = heightTwips;
    control_.Resize();
}

// 2540 HIMETRIC units and 1440 twips are one inch each.
float ControlFramework::HimetricToTwips(LONG himetric) noexcept {
    return static_cast<float>(himetric) * 1440.0f / 2540.0f;
}

SIZE ControlFramework::TwipsToPixels(float widthTwips, float heightTwips) noexcept {
    const TwipsPerPixel twips = ScreenTwipsPerPixel();
    return {std::lround(widthTwips / twips.x), std::lround(heightTwips / twips.y)};
}

SIZE ControlFramework::ExtentPixels() const noexcept { return TwipsToPixels(widthTwips_, heightTwips_); }

SIZEL ControlFramework::ExtentHimetric() const noexcept {
    // Pixels of the screen, then HIMETRIC (2540 to the inch) at the screen's pixels per inch.
    const TwipsPerPixel twips = ScreenTwipsPerPixel();
    const int dpiX = static_cast<int>(std::lround(1440.0f / twips.x));
    const int dpiY = static_cast<int>(std::lround(1440.0f / twips.y));
    const SIZE pixels = ExtentPixels();
    return {::MulDiv(pixels.cx, 2540, dpiX), ::MulDiv(pixels.cy, 2540, dpiY)};
}

void ControlFramework::Restore(const SIZEL& himetric) noexcept {
    HostSetsExtent(HimetricToTwips(himetric.cx), HimetricToTwips(himetric.cy));
}

// A new site, or none: what the control took from the old one goes with it, the in-place site of a
// container that leaves without deactivating first, and the UserMode that quick activation gave
// with it.
STDMETHODIMP ControlFramework::SetClientSite(IOleClientSite* site) {
    detail::CallReference<IUnknown> hold(outer_);
    if (!site) InPlaceDeactivate();
    quickUserMode_.reset();
    clientSite_ = site;
    return S_OK;
}

STDMETHODIMP ControlFramework::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = ComPtr<IOleClientSite>(clientSite_).Detach();
    return S_OK;
}

STDMETHODIMP ControlFramework::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;  // the control opens no frame window that could show them
}

// Closing the control is its end as the container sees it: out of in-place activity, the advise
// sinks told, and the control's termination. Everything that the control holds for its container's
// notifications goes too: the view's sink, the sinks of the OLE and data advise holders and the event
// sink that quick activation connected. A form's site is often all of these and holds the control
// itself; were any kept, neither would ever be freed. They are taken out first and released after
// the control has terminated, so that a sink's release that calls back finds the control closed.
STDMETHODIMP ControlFramework::Close(DWORD) {
    detail::CallReference<IUnknown> hold(outer_);
    InPlaceDeactivate();
    if (oleAdvise_) oleAdvise_->SendOnClose();
    ComPtr<IAdviseSink> viewSink = std::move(viewSink_);
    viewAspects_ = 0;
    viewFlags_ = 0;
    ComPtr<IOleAdviseHolder> oleAdvise = std::move(oleAdvise_);
    ComPtr<IDataAdviseHolder> dataAdvise = std::move(dataAdvise_);
    ComPtr<IUnknown> eventSink = events_.Disconnect(std::exchange(quickEventCookie_, 0));
    control_.Terminate();
    return S_OK;  // never dirty: nothing to save first
}

STDMETHODIMP ControlFramework::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

STDMETHODIMP ControlFramework::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ControlFramework::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

STDMETHODIMP ControlFramework::GetClipboardData(DWORD, IDataObject** data) {
    if (!data) return E_POINTER;
    *data = nullptr;
    return E_NOTIMPL;
}

// The control's only way of being active is in place, without the focus: every verb that asks to
// show or activate it does that, and hiding takes its window (if it has one) off the container's.
// It has no window to open and no property pages, and no verbs of its own beyond the primary one.
STDMETHODIMP ControlFramework::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND, LPCRECT position) {
    detail::CallReference<IUnknown> hold(outer_);
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

STDMETHODIMP ControlFramework::EnumVerbs(IEnumOLEVERB** verbs) {
    if (!verbs) return E_POINTER;
    *verbs = nullptr;
    return OLEOBJ_E_NOVERBS;  // no verbs to list on a menu
}

STDMETHODIMP ControlFramework::Update() { return S_OK; }

STDMETHODIMP ControlFramework::IsUpToDate() { return S_OK; }

STDMETHODIMP ControlFramework::GetUserClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = class_.clsid;
    return S_OK;
}

// The name as registration records it, in the form asked for: an in-process object has no default
// handler to leave that to (OLE_S_USEREG). Used without registration, from a manifest, the class
// answers with its own name rather than leave the container without one.
STDMETHODIMP ControlFramework::GetUserType(DWORD form, LPOLESTR* userType) {
    if (!userType) return E_POINTER;
    if (SUCCEEDED(::OleRegGetUserType(class_.clsid, form, userType))) return S_OK;
    const size_t bytes = (std::wcslen(class_.userType) + 1) * sizeof(wchar_t);
    *userType = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!*userType) return E_OUTOFMEMORY;
    std::memcpy(*userType, class_.userType, bytes);
    return S_OK;
}

// The host changes the extent: the resize notification runs and the control keeps the size it
// keeps. A size that the control did not keep is refused, so that the container lays out the real
// one instead of stretching the picture; the same size in whole pixels is that size, however the
// container rounded it to HIMETRIC. A container learns the kept size from GetExtent (or, in place,
// from OnPosRectChange when it positions the control).
STDMETHODIMP ControlFramework::SetExtent(DWORD aspect, SIZEL* size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    detail::CallReference<IUnknown> hold(outer_);
    const float widthTwips = HimetricToTwips(size->cx);
    const float heightTwips = HimetricToTwips(size->cy);
    HostSetsExtent(widthTwips, heightTwips);
    const SIZE asked = TwipsToPixels(widthTwips, heightTwips);
    const SIZE kept = ExtentPixels();
    return asked.cx == kept.cx && asked.cy == kept.cy ? S_OK : E_FAIL;
}

STDMETHODIMP ControlFramework::GetExtent(DWORD aspect, SIZEL* size) {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = ExtentHimetric();
    return S_OK;
}

STDMETHODIMP ControlFramework::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!sink) return E_INVALIDARG;  // Wine's holder would take it and hand out a connection to nothing
    if (!oleAdvise_) {
        HRESULT status = ::CreateOleAdviseHolder(oleAdvise_.Put());
        if (FAILED(status)) return status;
    }
    return oleAdvise_->Advise(sink, connection);
}

STDMETHODIMP ControlFramework::Unadvise(DWORD connection) {
    return oleAdvise_ ? oleAdvise_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP ControlFramework::EnumAdvise(IEnumSTATDATA** advises) {
    if (!advises) return E_POINTER;
    *advises = nullptr;
    return oleAdvise_ ? oleAdvise_->EnumAdvise(advises) : S_OK;  // none: an empty answer
}

STDMETHODIMP ControlFramework::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? class_.miscStatus : 0;
    return S_OK;
}

STDMETHODIMP ControlFramework::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// IOleControl

STDMETHODIMP ControlFramework::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    // No mnemonics and no default or cancel button behaviour.
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

STDMETHODIMP ControlFramework::OnMnemonic(MSG*) { return E_NOTIMPL; }

STDMETHODIMP ControlFramework::OnAmbientPropertyChange(DISPID id) {
    // The only ambient property that changes the control's look is UserMode, for a control that is
    // invisible at run time. From now on the site's own answer counts, not quick activation's.
    if (id != DISPID_AMBIENT_USERMODE && id != DISPID_UNKNOWN) return S_OK;
    detail::CallReference<IUnknown> hold(outer_);
    quickUserMode_.reset();
    ShowForMode();
    ViewChanged();
    return S_OK;
}

STDMETHODIMP ControlFramework::FreezeEvents(BOOL) {
    return S_OK;  // the control raises no events to hold back
}

}  // namespace kiv::host
