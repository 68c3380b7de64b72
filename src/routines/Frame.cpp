#include "modAlloc.h"

#include "../platform/Handles.h"

namespace kiv::modAlloc {

platform::ThreadPoint& ReplacedPosition() noexcept {
    static platform::ThreadPoint position;
    return position;
}

void DrawFrame(HDC dc, long x, long y, long width, long height, const OLE_COLOR& outline, const OLE_COLOR& fill) {
    // A frame whose brush or pen cannot be made is not drawn, rather than drawn with what the
    // context holds. The fill and the outline cover the same area's border in the same colour, so a
    // pen refused after the fill leaves the filled box exactly as the outline would have.
    if (fill != static_cast<OLE_COLOR>(-1) && !FillArea(dc, x, y, width, height, fill)) return;

    platform::Pen pen(platform::CreatePen(PS_SOLID, 1, static_cast<COLORREF>(TranslateColor(outline))));
    if (!pen) return;
    platform::Selection selected(dc, pen.Get());
    // One path from the top-right corner: top edge leftward, left edge down, bottom edge rightward,
    // right edge up. Each segment stops one pixel short of its end, so every border pixel is drawn
    // once and the position ends back at the top-right corner.
    const long right = x + width - 1;
    const long bottom = y + height - 1;
    platform::MoveToEx(dc, right, y, &ReplacedPosition());
    platform::LineTo(dc, x, y);
    platform::LineTo(dc, x, bottom);
    platform::LineTo(dc, right, bottom);
    platform::LineTo(dc, right, y);
}

}  // namespace kiv::modAlloc
