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
// Given back in a fixed order: bitmap out and deleted, palette out and realised, context deleted.
class Scratch {
public:
    void Make(HDC screen, platform::Bitmap bitmap) {
        bitmap_ = std::move(bitmap);
        dc_ = platform::MemoryDC(platform::CreateCompatibleDC(screen));
        bitmapSelected_.emplace(dc_.Get(), bitmap_.Get());
    }
    void SelectPalette(HPALETTE palette) { paletteSelected_.emplace(dc_.Get(), palette, kForceBackground); }
    HDC Dc() const noexcept { return dc_.Get(); }

    void Release() noexcept {
        if (bitmapSelected_) bitmapSelected_->Restore();
        bitmap_.Reset();
        if (paletteSelected_) paletteSelected_->Restore();
        dc_.Reset();
    }
    ~Scratch() { Release(); }

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
        platform::ScreenDC screen;
        if (!palette) palette = hPal_;
        // The key colour is black when the colour cannot be translated.
        COLORREF key = 0;
        if (FAILED(platform::OleTranslateColor(transparentColor, palette, &key))) key = 0;

        // Declared so that an early exit gives them back in the same order as the end does.
        Scratch mask;
        Scratch buffer;
        Scratch work;

        // The destination as it is now.
        buffer.Make(screen.Get(), platform::Bitmap(platform::CreateCompatibleBitmap(screen.Get(), width, height)));
        buffer.SelectPalette(palette);
        platform::BitBlt(buffer.Dc(), 0, 0, width, height, dest, destX, destY, SRCCOPY);

        // The source, with the source's own colours.
        platform::Bitmap workBitmap(platform::CreateCompatibleBitmap(screen.Get(), width, height));
        platform::Bitmap maskBitmap(platform::CreateBitmap(width, height, 1, 1, nullptr));
        work.Make(screen.Get(), std::move(workBitmap));
        work.SelectPalette(palette);
        platform::SetBkColor(work.Dc(), platform::GetBkColor(source));
        platform::SetTextColor(work.Dc(), platform::GetTextColor(source));
        platform::BitBlt(work.Dc(), 0, 0, width, height, source, sourceX, sourceY, SRCCOPY);

        // The mask is white where the key colour was, black elsewhere.
        mask.Make(screen.Get(), std::move(maskBitmap));
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

        work.Release();
        buffer.Release();
        mask.Release();
        screen.Reset();
    } catch (...) {
        // A platform function that cannot be found ends the copy; everything made is given back.
    }
}

}  // namespace kiv
