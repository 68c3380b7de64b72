// Copying the surface onto any device context, opaque or with its transparent colour left out.
#include "KivBitmap.h"

#include "../component/Boundary.h"
#include "../platform/Handles.h"

#include <optional>

namespace kiv {
namespace {

constexpr DWORD kDestAndNotSource = 0x220326;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kBlack = 0;
// The palettes go in forced into the background, with the library's true (all bits set).
constexpr BOOL kForceBackground = -1;

// A scratch memory context with its own bitmap (and, for the colour ones, the palette) selected in.
// The bitmap comes first and the context later, as the copy asks for them in that order; either may
// be refused. Given back in a fixed order: bitmap out and deleted, palette out and realised, context
// deleted; whatever was not made is skipped.
class Scratch {
public:
    // Takes the bitmap; false when the platform made none.
    bool Hold(HBITMAP bitmap) noexcept {
        bitmap_ = platform::Bitmap(bitmap);
        return static_cast<bool>(bitmap_);
    }
    // Makes the context and selects the bitmap into it; false when the platform made no context.
    bool Open(HDC screen) {
        dc_ = platform::MemoryDC(platform::CreateCompatibleDC(screen));
        if (!dc_) return false;
        bitmapSelected_.emplace(dc_.Get(), bitmap_.Get());
        return true;
    }
    void SelectPalette(HPALETTE palette) { paletteSelected_.emplace(dc_.Get(), palette, kForceBackground); }
    HDC Dc() const noexcept { return dc_.Get(); }

    ~Scratch() {
        if (bitmapSelected_) bitmapSelected_->Restore();
        bitmap_.Reset();
        if (paletteSelected_) paletteSelected_->Restore();
        dc_.Reset();
    }

private:
    platform::Bitmap bitmap_;
    platform::MemoryDC dc_;
    std::optional<platform::Selection> bitmapSelected_;
    std::optional<platform::PaletteSelection> paletteSelected_;
};

}  // namespace

STDMETHODIMP KivBitmap::Copy(LONG* TargetDC, short* Left, short* Top, VARIANT_BOOL Transparent) {
    if (!TargetDC || !Left || !Top) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, [&] {
        if (*TargetDC == 0) return;
        HDC target = platform::I4ToHandle<HDC>(*TargetDC);
        if (Transparent == VARIANT_FALSE) {
            platform::BitBlt(target, *Left, *Top, width_, height_, hDC_, 0, 0, SRCCOPY);
        } else {
            TransparentBlit(target, *Left, *Top, width_, height_, hDC_, 0, 0,
                            static_cast<OLE_COLOR>(transparentColor_), nullptr);
        }
    });
}

void KivBitmap::TransparentBlit(HDC dest, long destX, long destY, long width, long height, HDC source,
                                long sourceX, long sourceY, OLE_COLOR transparentColor,
                                HPALETTE palette) noexcept {
    try {
        // Every object of the copy is made before the destination is written: when the platform
        // refuses one, the copy stops there and the destination keeps its pixels. Whatever was made
        // is given back on the way out, in the order of the declarations below reversed: working
        // copy, buffer, mask, then the screen.
        platform::ScreenDC screen;
        if (!screen.Get()) return;
        if (!palette) palette = hPal_;
        // The key colour is black when the colour cannot be translated.
        COLORREF key = 0;
        if (FAILED(platform::OleTranslateColor(transparentColor, palette, &key))) key = 0;

        Scratch mask;
        Scratch buffer;
        Scratch work;

        // The destination as it is now.
        if (!buffer.Hold(platform::CreateCompatibleBitmap(screen.Get(), width, height)) || !buffer.Open(screen.Get()))
            return;
        buffer.SelectPalette(palette);
        platform::BitBlt(buffer.Dc(), 0, 0, width, height, dest, destX, destY, SRCCOPY);

        // The source, with the source's own colours.
        if (!work.Hold(platform::CreateCompatibleBitmap(screen.Get(), width, height)) ||
            !mask.Hold(platform::CreateBitmap(width, height, 1, 1, nullptr)) || !work.Open(screen.Get()))
            return;
        work.SelectPalette(palette);
        platform::SetBkColor(work.Dc(), platform::GetBkColor(source));
        platform::SetTextColor(work.Dc(), platform::GetTextColor(source));
        platform::BitBlt(work.Dc(), 0, 0, width, height, source, sourceX, sourceY, SRCCOPY);

        // The mask is white where the key colour was, black elsewhere.
        if (!mask.Open(screen.Get())) return;
        platform::SetBkColor(work.Dc(), key);
        platform::SetTextColor(work.Dc(), kWhite);
        platform::BitBlt(mask.Dc(), 0, 0, width, height, work.Dc(), 0, 0, SRCCOPY);

        // Key pixels of the source turn black.
        platform::SetTextColor(work.Dc(), kBlack);
        platform::SetBkColor(work.Dc(), kWhite);
        platform::BitBlt(work.Dc(), 0, 0, width, height, mask.Dc(), 0, 0, kDestAndNotSource);

        // The old destination survives only under the key pixels; the source fills the rest.
        platform::BitBlt(buffer.Dc(), 0, 0, width, height, mask.Dc(), 0, 0, SRCAND);
        platform::BitBlt(buffer.Dc(), 0, 0, width, height, work.Dc(), 0, 0, SRCPAINT);

        // The only write to the destination.
        platform::BitBlt(dest, destX, destY, width, height, buffer.Dc(), 0, 0, SRCCOPY);
    } catch (...) {
        // A platform function that cannot be found ends the copy; everything made is given back.
    }
}

}  // namespace kiv
