#include "modAlloc.h"

#include "../platform/Handles.h"

namespace kiv::modAlloc {

RgbValue TranslateColor(OLE_COLOR color, const HPALETTE& palette) {
    COLORREF rgb = 0;
    if (platform::OleTranslateColor(color, palette, &rgb) != S_OK) return -1;
    return static_cast<RgbValue>(rgb);
}

HPALETTE CreateBufferPalette() {
    platform::ScreenDC screen;
    if (!screen.Get()) return nullptr;
    return platform::CreateHalftonePalette(screen.Get());
}

bool FillArea(HDC dc, long x, long y, long width, long height, OLE_COLOR color) noexcept {
    if (!dc) return false;
    try {
        // FillRect leaves out the right column and the bottom row: exactly width by height pixels.
        RECT area = {x, y, x + width, y + height};
        platform::Brush brush(platform::CreateSolidBrush(static_cast<COLORREF>(TranslateColor(color))));
        // Without the brush there is nothing to fill with: the platform is not asked to fill with
        // whatever the context holds.
        if (!brush) return false;
        platform::FillRect(dc, &area, brush.Get());
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace kiv::modAlloc
