// The surface's font settings and its text output.
#include "KivBitmap.h"

#include "../component/Boundary.h"
#include "../platform/Handles.h"
#include "../platform/Strings.h"
#include "../routines/modAlloc.h"

namespace kiv {

STDMETHODIMP KivBitmap::get_FontName(BSTR* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = NewBstr(fontName_); });
}

STDMETHODIMP KivBitmap::put_FontName(BSTR* Value) {
    if (!Value) return E_POINTER;
    return Boundary(this, ErrorMode::Escape, [&] { fontName_.assign(View(*Value)); });
}

STDMETHODIMP KivBitmap::get_FontSize(short* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = fontSize_; });
}

STDMETHODIMP KivBitmap::put_FontSize(short* Value) {
    if (!Value) return E_POINTER;
    return Boundary(this, ErrorMode::Escape, [&] { fontSize_ = *Value; });
}

STDMETHODIMP KivBitmap::get_FontBold(VARIANT_BOOL* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = fontBold_; });
}

STDMETHODIMP KivBitmap::put_FontBold(VARIANT_BOOL* Value) {
    if (!Value) return E_POINTER;
    return Boundary(this, ErrorMode::Escape, [&] { fontBold_ = *Value; });
}

STDMETHODIMP KivBitmap::get_FontItalic(VARIANT_BOOL* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = fontItalic_; });
}

STDMETHODIMP KivBitmap::put_FontItalic(VARIANT_BOOL* Value) {
    if (!Value) return E_POINTER;
    return Boundary(this, ErrorMode::Escape, [&] { fontItalic_ = *Value; });
}

STDMETHODIMP KivBitmap::get_FontUnderline(VARIANT_BOOL* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = fontUnderline_; });
}

STDMETHODIMP KivBitmap::put_FontUnderline(VARIANT_BOOL* Value) {
    if (!Value) return E_POINTER;
    return Boundary(this, ErrorMode::Escape, [&] { fontUnderline_ = *Value; });
}

STDMETHODIMP KivBitmap::BPrint(short* Left, short* Top, BSTR* Text) {
    if (!Left || !Top || !Text) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, [&] {
        platform::Font font(
            modAlloc::MakeFont(fontName_, fontSize_, fontBold_, fontItalic_, fontUnderline_));
        if (!font) return;
        platform::Selection selected(hDC_, font.Get());
        // The length is that of the converted text in bytes: under a double-byte code page it is
        // longer than the number of characters, and counting characters would cut the end off.
        const std::string text = ToAnsi(View(*Text));
        platform::TextOutA(hDC_, *Left, *Top, text.c_str(), static_cast<int>(text.size()));
    });
}

}  // namespace kiv
