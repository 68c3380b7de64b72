// KivBitmap: one named off-screen surface, a memory device context with a bitmap of the reference
// context's format, its colours, font settings and buffer palette.
#pragma once

#include "../component/ComObject.h"
#include "kiv.h"

#include <string>

namespace kiv {

class KivBitmap final : public ComObject<KivBitmap, _KivBitmap> {
public:
    static const CLSID& ClassId() noexcept { return CLSID_KivBitmap; }

    // Sets the defaults and makes the buffer palette; raises -1 "Unable to create buffer palette".
    KivBitmap();

    // Internal members, for the registry that makes the surface.
    VARIANT_BOOL Allocate(const short& width, const short& height) noexcept;
    void SetFactory(_KivFactory* factory);
    ComPtr<_KivFactory> Factory() const;
    void SetName(std::wstring_view name);
    std::wstring Name() const;
    // The masked copy: every pixel of the key colour leaves the destination as it was.
    void TransparentBlit(HDC dest, long destX, long destY, long width, long height, HDC source, long sourceX,
                         long sourceY, OLE_COLOR transparentColor, HPALETTE palette) noexcept;

    // Held by nothing but its registry's list: the registry may be unreachable now.
    void OnReleased(ULONG left) noexcept;

    // _KivBitmap
    STDMETHODIMP get_Picture(IPicture** Result) override;
    STDMETHODIMP get_FontName(BSTR* Result) override;
    STDMETHODIMP put_FontName(BSTR* Value) override;
    STDMETHODIMP get_FontSize(short* Result) override;
    STDMETHODIMP put_FontSize(short* Value) override;
    STDMETHODIMP get_FontBold(VARIANT_BOOL* Result) override;
    STDMETHODIMP put_FontBold(VARIANT_BOOL* Value) override;
    STDMETHODIMP get_FontItalic(VARIANT_BOOL* Result) override;
    STDMETHODIMP put_FontItalic(VARIANT_BOOL* Value) override;
    STDMETHODIMP get_FontUnderline(VARIANT_BOOL* Result) override;
    STDMETHODIMP put_FontUnderline(VARIANT_BOOL* Value) override;
    STDMETHODIMP get_Width(short* Result) override;
    STDMETHODIMP get_Height(short* Result) override;
    STDMETHODIMP get_hDC(LONG* Result) override;
    STDMETHODIMP get_hBMP(LONG* Result) override;
    STDMETHODIMP get_ForeColor(LONG* Result) override;
    STDMETHODIMP get_BackColor(LONG* Result) override;
    STDMETHODIMP put_ForeColor(LONG NewColor) override;
    STDMETHODIMP put_BackColor(LONG NewColor) override;
    STDMETHODIMP put_TransparentColor(LONG* Color) override;
    STDMETHODIMP get_TransparentColor(LONG* Result) override;
    STDMETHODIMP Copy(LONG* TargetDC, short* Left, short* Top, VARIANT_BOOL Transparent) override;
    STDMETHODIMP Cls() override;
    STDMETHODIMP DrawBox(short* Left, short* Top, short* Width, short* Height, LONG* Color) override;
    STDMETHODIMP DrawElipse(short* Left, short* Top, short* Right, short* Bottom) override;
    STDMETHODIMP DrawCircle(short* Left, short* Top, short* Radius) override;
    STDMETHODIMP DrawLine(LONG X1, LONG Y1, LONG X2, LONG Y2, OLE_COLOR* Color) override;
    STDMETHODIMP BPrint(short* Left, short* Top, BSTR* Text) override;

private:
    friend class ComObject<KivBitmap, _KivBitmap>;
    ~KivBitmap() override;

    std::wstring name_;
    ComPtr<_KivFactory> factory_;
    HBITMAP hBMP_ = nullptr;
    HDC hDC_ = nullptr;
    HGDIOBJ hOldBMP_ = nullptr;
    short width_ = 0;
    short height_ = 0;
    OLE_COLOR foreColor_ = 0;
    OLE_COLOR backColor_ = 0x8000000F;  // the button-face colour
    long transparentColor_ = 0;         // stored translated
    bool allocated_ = false;
    VARIANT_BOOL fontBold_ = VARIANT_FALSE;
    VARIANT_BOOL fontItalic_ = VARIANT_FALSE;
    VARIANT_BOOL fontUnderline_ = VARIANT_FALSE;
    std::wstring fontName_ = L"MS Sans Serif";
    short fontSize_ = 8;
    HPALETTE hPal_ = nullptr;
};

}  // namespace kiv
