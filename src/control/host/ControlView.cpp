// The control's view and its data: the control's appearance where it is visible and nothing where
// it is not (a control invisible at run time is not drawn while the host program runs), its extent,
// its hit testing, and the same picture as metafiles for containers that draw an inactive control
// from its data object.
#include "ControlFramework.h"

#include "../../component/Boundary.h"
#include "Enumerator.h"

#include <olectl.h>

#include <iterator>
#include <memory>
#include <type_traits>
#include <vector>

namespace kiv::host {
namespace {

// The two pictures that the data object renders, both of the content aspect.
constexpr FORMATETC kFormats[] = {
    {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF},
    {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT},
};

// Which of the offered formats a request asks for: S_OK with it in `found`, or why it is none.
HRESULT Offered(const FORMATETC* asked, const FORMATETC** found) noexcept {
    if (!asked) return E_INVALIDARG;
    for (const FORMATETC& format : kFormats) {
        if (asked->cfFormat != format.cfFormat) continue;
        if (asked->dwAspect != DVASPECT_CONTENT) break;
        if (asked->lindex != -1) return DV_E_LINDEX;
        if (!(asked->tymed & format.tymed)) return DV_E_TYMED;
        *found = &format;
        return S_OK;
    }
    return DV_E_FORMATETC;
}

template <class H, auto Free>
struct Deleter {
    void operator()(H handle) const noexcept { Free(handle); }
};
template <class H, auto Free>
using Owned = std::unique_ptr<std::remove_pointer_t<H>, Deleter<H, Free>>;

void DeleteRecording(HDC dc) noexcept { ::DeleteEnhMetaFile(::CloseEnhMetaFile(dc)); }
void DeleteOldRecording(HDC dc) noexcept { ::DeleteMetaFile(::CloseMetaFile(dc)); }
void DeleteMetafilePicture(HGLOBAL global) noexcept {
    if (auto* picture = static_cast<METAFILEPICT*>(::GlobalLock(global))) {
        ::DeleteMetaFile(picture->hMF);
        ::GlobalUnlock(global);
    }
    ::GlobalFree(global);
}

}  // namespace

bool ControlFramework::UserMode() const noexcept {
    if (quickUserMode_) return *quickUserMode_;
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

bool ControlFramework::Visible() const noexcept {
    return !(class_.miscStatus & OLEMISC_INVISIBLEATRUNTIME) || !UserMode();
}

void ControlFramework::ViewChanged() noexcept {
    if (dataAdvise_) dataAdvise_->SendOnDataChange(this, 0, 0);
    TellViewSink();
}

void ControlFramework::TellViewSink() noexcept {
    if (!viewSink_ || !(viewAspects_ & DVASPECT_CONTENT)) return;
    ComPtr<IAdviseSink> sink = viewSink_;
    if (viewFlags_ & ADVF_ONLYONCE) viewSink_ = nullptr;
    sink->OnViewChange(DVASPECT_CONTENT, -1);
    // A windowless container keeps the view status to know what lies under the control.
    if (auto extended = sink.As<IAdviseSinkEx>(IID_IAdviseSinkEx)) {
        DWORD status = 0;
        GetViewStatus(&status);
        extended->OnViewStatusChange(status);
    }
}

STDMETHODIMP ControlFramework::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                           BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc) return E_INVALIDARG;
    // Without bounds the control is drawn where it was placed, which only an in-place control has.
    if (!bounds && !inPlaceSite_) return E_INVALIDARG;
    const RECT where = bounds ? RECT{bounds->left, bounds->top, bounds->right, bounds->bottom} : position_;
    if (Visible()) control_.Paint(dc, where);
    return S_OK;
}

STDMETHODIMP ControlFramework::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) {
    if (!colours) return E_POINTER;
    *colours = nullptr;
    return S_FALSE;  // no colour set of its own to ask the container for
}

STDMETHODIMP ControlFramework::Freeze(DWORD, LONG, void*, DWORD* freeze) {
    if (freeze) *freeze = 0;
    return E_NOTIMPL;
}

STDMETHODIMP ControlFramework::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP ControlFramework::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    detail::CallReference<IUnknown> hold(outer_);
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    // Priming is for the new view sink alone: the picture did not change for anyone else.
    if (sink && (flags & ADVF_PRIMEFIRST)) TellViewSink();
    return S_OK;
}

STDMETHODIMP ControlFramework::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) *sink = ComPtr<IAdviseSink>(viewSink_).Detach();
    return S_OK;
}

// The same extent for every target device as the object's own.
STDMETHODIMP ControlFramework::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

// IViewObjectEx

STDMETHODIMP ControlFramework::GetRect(DWORD aspect, LPRECTL rect) {
    if (!rect) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    const SIZEL size = ExtentHimetric();
    *rect = {0, 0, size.cx, size.cy};
    return S_OK;
}

STDMETHODIMP ControlFramework::GetViewStatus(DWORD* status) {
    if (!status) return E_POINTER;
    // Where it is not visible it draws nothing, and the container's own pixels show through.
    *status = Visible() ? class_.viewStatus : 0;
    return S_OK;
}

// A control that takes no input is hit only so that a designer can select it: where it is visible
// (at design time for a control invisible at run time), inside its rectangle, and close to it within
// the distance that the container gives.
STDMETHODIMP ControlFramework::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint, DWORD* hit) {
    if (!bounds || !hit) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *hit = HITRESULT_OUTSIDE;
    if (!Visible()) return S_OK;
    // The hint is in HIMETRIC, the container's rectangle in the screen's pixels.
    const float closeTwips = HimetricToTwips(closeHint);
    const SIZE closePixels = TwipsToPixels(closeTwips, closeTwips);
    RECT close = *bounds;
    ::InflateRect(&close, closePixels.cx, closePixels.cy);
    if (::PtInRect(bounds, location)) *hit = HITRESULT_HIT;
    else if (closeHint > 0 && ::PtInRect(&close, location)) *hit = HITRESULT_CLOSE;
    return S_OK;
}

STDMETHODIMP ControlFramework::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG, DWORD* hit) {
    if (!bounds || !location || !hit) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    RECT common = {};
    *hit = Visible() && ::IntersectRect(&common, bounds, location) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP ControlFramework::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info,
                                                LPSIZEL size) {
    if (!info || !size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (info->cb < sizeof(DVEXTENTINFO)) return E_INVALIDARG;
    // The size that the control keeps, whether the container asks for its content's or a near one.
    *size = ExtentHimetric();
    return S_OK;
}

// IDataObject: the picture as metafiles, exactly what the view draws at the control's extent.

HRESULT ControlFramework::Render(const FORMATETC& format, STGMEDIUM& medium) {
    const SIZE pixels = ExtentPixels();
    const RECTL bounds = {0, 0, pixels.cx, pixels.cy};
    auto draw = [&](HDC dc) {
        return Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
    };
    // Both pictures measure the control's extent in HIMETRIC, as GetExtent gives it.
    const SIZEL size = ExtentHimetric();
    if (format.cfFormat == CF_ENHMETAFILE) {
        // Drawn in the screen's pixels, as the screen's own metafiles are.
        const RECT frame = {0, 0, size.cx, size.cy};
        Owned<HDC, DeleteRecording> recording(::CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr));
        if (!recording) return E_OUTOFMEMORY;
        if (HRESULT status = draw(recording.get()); FAILED(status)) return status;
        medium.hEnhMetaFile = ::CloseEnhMetaFile(recording.release());
        if (!medium.hEnhMetaFile) return E_OUTOFMEMORY;
        medium.tymed = TYMED_ENHMF;
        return S_OK;
    }
    // A picture of the old kind carries its size in HIMETRIC and plays back scaled to the
    // container's rectangle from the window that it sets.
    Owned<HDC, DeleteOldRecording> recording(::CreateMetaFileW(nullptr));
    Owned<HGLOBAL, DeleteMetafilePicture> global(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(METAFILEPICT)));
    if (!recording || !global) return E_OUTOFMEMORY;
    ::SetWindowOrgEx(recording.get(), 0, 0, nullptr);
    ::SetWindowExtEx(recording.get(), pixels.cx, pixels.cy, nullptr);
    if (HRESULT status = draw(recording.get()); FAILED(status)) return status;
    auto* picture = static_cast<METAFILEPICT*>(::GlobalLock(global.get()));
    if (!picture) return E_OUTOFMEMORY;
    *picture = {MM_ANISOTROPIC, size.cx, size.cy, ::CloseMetaFile(recording.release())};
    const bool made = picture->hMF != nullptr;
    ::GlobalUnlock(global.get());
    if (!made) return E_OUTOFMEMORY;
    medium.tymed = TYMED_MFPICT;
    medium.hMetaFilePict = global.release();
    return S_OK;
}

STDMETHODIMP ControlFramework::GetData(FORMATETC* format, STGMEDIUM* medium) {
    if (!medium) return E_POINTER;
    *medium = {};
    const FORMATETC* offered = nullptr;
    if (HRESULT status = Offered(format, &offered); FAILED(status)) return status;
    detail::CallReference<IUnknown> hold(outer_);
    HRESULT status = E_UNEXPECTED;  // unless the rendering ends, which a missing platform entry prevents
    Attempt([&] { status = Render(*offered, *medium); });
    if (FAILED(status)) *medium = {};
    return status;
}

STDMETHODIMP ControlFramework::GetDataHere(FORMATETC*, STGMEDIUM*) { return E_NOTIMPL; }

STDMETHODIMP ControlFramework::QueryGetData(FORMATETC* format) {
    const FORMATETC* offered = nullptr;
    return Offered(format, &offered);
}

STDMETHODIMP ControlFramework::GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* canonical) {
    if (!format || !canonical) return E_INVALIDARG;
    *canonical = *format;
    canonical->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;  // the picture is the same for every target device
}

STDMETHODIMP ControlFramework::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

STDMETHODIMP ControlFramework::EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) {
    if (!formats) return E_POINTER;
    *formats = nullptr;
    if (direction != DATADIR_GET) return E_NOTIMPL;  // nothing can be set
    try {
        return Enumerator<IEnumFORMATETC, FORMATETC>::Make(
            std::vector<FORMATETC>(std::begin(kFormats), std::end(kFormats)), formats);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP ControlFramework::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!sink) return E_INVALIDARG;
    if (HRESULT status = QueryGetData(format); FAILED(status)) return status;
    if (!dataAdvise_) {
        HRESULT status = ::CreateDataAdviseHolder(dataAdvise_.Put());
        if (FAILED(status)) return status;
    }
    return dataAdvise_->Advise(this, format, flags, sink, connection);
}

STDMETHODIMP ControlFramework::DUnadvise(DWORD connection) {
    return dataAdvise_ ? dataAdvise_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

STDMETHODIMP ControlFramework::EnumDAdvise(IEnumSTATDATA** advises) {
    if (!advises) return E_POINTER;
    *advises = nullptr;
    return dataAdvise_ ? dataAdvise_->EnumAdvise(advises) : S_OK;  // none: an empty answer
}

}  // namespace kiv::host
