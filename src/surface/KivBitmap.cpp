// The surface's life (construction, allocation, termination) and its handle, size and colour
// properties.
#include "KivBitmap.h"

#include "../component/Boundary.h"
#include "../component/OwnObject.h"
#include "../platform/Gdi.h"
#include "../platform/Strings.h"
#include "../registry/KivFactory.h"
#include "../routines/modAlloc.h"

namespace kiv {

KivBitmap::KivBitmap() {
    SetName(L"");
    hPal_ = modAlloc::CreateBufferPalette();
    if (!hPal_) Raise(errors::NoBufferPalette, L"Unable to create buffer palette");
}

KivBitmap::~KivBitmap() {
    try {
        platform::DeleteObject(hPal_);  // also when it is 0: harmless
        if (allocated_) {
            platform::SelectObject(hDC_, hOldBMP_);
            platform::DeleteObject(hBMP_);
            platform::DeleteDC(hDC_);
        }
    } catch (...) {
    }
}

VARIANT_BOOL KivBitmap::Allocate(const short& width, const short& height) noexcept {
    // No check of range or sign: the platform decides which sizes it can make.
    Attempt([&] {
        HDC reference = platform::I4ToHandle<HDC>(Own<KivFactory>(factory_.Get()).ReferenceDC());
        hBMP_ = platform::CreateCompatibleBitmap(reference, width, height);
    });
    Attempt([&] {
        HDC reference = platform::I4ToHandle<HDC>(Own<KivFactory>(factory_.Get()).ReferenceDC());
        hDC_ = platform::CreateCompatibleDC(reference);
    });
    if (!hBMP_ || !hDC_) {
        Attempt([&] { if (hBMP_) platform::DeleteObject(hBMP_); });
        Attempt([&] { if (hDC_) platform::DeleteDC(hDC_); });
        hBMP_ = nullptr;
        hDC_ = nullptr;
        return VARIANT_FALSE;
    }
    Attempt([&] { hOldBMP_ = platform::SelectObject(hDC_, hBMP_); });
    allocated_ = true;
    width_ = width;
    height_ = height;
    Attempt([&] { Check(put_ForeColor(static_cast<LONG>(foreColor_))); });
    Attempt([&] { Check(put_BackColor(static_cast<LONG>(backColor_))); });
    Attempt([&] { Check(Cls()); });
    return VARIANT_TRUE;
}

void KivBitmap::OnReleased(ULONG left) noexcept {
    if (left != 1 || !factory_) return;
    // The registry holds itself while it clears, which may end this surface: nothing of the surface
    // is touched after the call. The registry is always the library's own (it made the surface).
    static_cast<KivFactory*>(factory_.Get())->CollectIfUnreachable();
}

void KivBitmap::SetFactory(_KivFactory* factory) { factory_ = factory; }

ComPtr<_KivFactory> KivBitmap::Factory() const { return factory_; }

void KivBitmap::SetName(std::wstring_view name) { name_.assign(name); }

std::wstring KivBitmap::Name() const { return name_; }

STDMETHODIMP KivBitmap::get_Width(short* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = width_; });
}

STDMETHODIMP KivBitmap::get_Height(short* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = height_; });
}

STDMETHODIMP KivBitmap::get_hDC(LONG* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = platform::HandleToI4(hDC_); });
}

STDMETHODIMP KivBitmap::get_hBMP(LONG* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = platform::HandleToI4(hBMP_); });
}

STDMETHODIMP KivBitmap::get_ForeColor(LONG* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = static_cast<LONG>(foreColor_); });
}

STDMETHODIMP KivBitmap::get_BackColor(LONG* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = static_cast<LONG>(backColor_); });
}

STDMETHODIMP KivBitmap::put_ForeColor(LONG NewColor) {
    return Boundary(this, ErrorMode::Escape, [&] {
        foreColor_ = static_cast<OLE_COLOR>(NewColor);
        platform::SetTextColor(hDC_, static_cast<COLORREF>(modAlloc::TranslateColor(foreColor_)));
    });
}

STDMETHODIMP KivBitmap::put_BackColor(LONG NewColor) {
    return Boundary(this, ErrorMode::Escape, [&] {
        backColor_ = static_cast<OLE_COLOR>(NewColor);
        platform::SetBkColor(hDC_, static_cast<COLORREF>(modAlloc::TranslateColor(backColor_)));
    });
}

STDMETHODIMP KivBitmap::put_TransparentColor(LONG* Color) {
    if (!Color) return E_POINTER;
    return Boundary(this, ErrorMode::Escape,
                    [&] { transparentColor_ = modAlloc::TranslateColor(static_cast<OLE_COLOR>(*Color)); });
}

STDMETHODIMP KivBitmap::get_TransparentColor(LONG* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = transparentColor_; });
}

STDMETHODIMP KivBitmap::Cls() {
    return Boundary(this, ErrorMode::Escape, [&] { modAlloc::FillArea(hDC_, 0, 0, width_, height_, backColor_); });
}

}  // namespace kiv
