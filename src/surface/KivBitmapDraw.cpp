// The surface's shapes: boxes, ellipses, circles and lines.
#include "KivBitmap.h"

#include "../component/Boundary.h"
#include "../platform/Handles.h"
#include "../platform/Integers.h"
#include "../routines/modAlloc.h"

namespace kiv {

STDMETHODIMP KivBitmap::DrawBox(short* Left, short* Top, short* Width, short* Height, LONG* Color) {
    if (!Left || !Top || !Width || !Height) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, [&] {
        // 0 (also an omitted colour) means the foreground colour; the test is on the raw value.
        const LONG given = Color ? *Color : 0;
        const OLE_COLOR chosen = given == 0 ? foreColor_ : static_cast<OLE_COLOR>(given);
        modAlloc::DrawFrame(hDC_, *Left, *Top, *Width, *Height, chosen, chosen);
    });
}

STDMETHODIMP KivBitmap::DrawElipse(short* Left, short* Top, short* Right, short* Bottom) {
    if (!Left || !Top || !Right || !Bottom) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, [&] { platform::Ellipse(hDC_, *Left, *Top, *Right, *Bottom); });
}

STDMETHODIMP KivBitmap::DrawCircle(short* Left, short* Top, short* Radius) {
    if (!Left || !Top || !Radius) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, [&] {
        // The bounding box in 16-bit arithmetic: an overflow abandons the drawing.
        const short bottom = AddI2(*Top, *Radius);
        const short right = AddI2(*Left, *Radius);
        const short top = SubI2(*Top, *Radius);
        const short left = SubI2(*Left, *Radius);
        platform::Ellipse(hDC_, left, top, right, bottom);
    });
}

STDMETHODIMP KivBitmap::DrawLine(LONG X1, LONG Y1, LONG X2, LONG Y2, OLE_COLOR* Color) {
    return Boundary(this, ErrorMode::Continue, [&] {
        // -1 (also an omitted colour) means the foreground colour; 0 is black.
        const OLE_COLOR given = Color ? *Color : static_cast<OLE_COLOR>(-1);
        const modAlloc::RgbValue fore = modAlloc::TranslateColor(foreColor_);
        const modAlloc::RgbValue other = modAlloc::TranslateColor(given);
        const modAlloc::RgbValue color = given == static_cast<OLE_COLOR>(-1) ? fore : other;
        platform::Pen pen(platform::CreatePen(PS_SOLID, 1, static_cast<COLORREF>(color)));
        // Without its own pen the platform would draw with the context's current one, in a colour
        // that is not the line's: a line that cannot be drawn in its colour is not drawn.
        if (!pen) return;
        platform::Selection selected(hDC_, pen.Get());
        platform::MoveToEx(hDC_, X1, Y1, &modAlloc::ReplacedPosition());
        platform::LineTo(hDC_, X2, Y2);
    });
}

}  // namespace kiv
