// The drawing members' rules, checked pixel by pixel:
//  - DrawBox fills exactly Width x Height pixels from (Left, Top); a colour of 0 (or none) means
//    ForeColor, so black comes from ForeColor = 0.
//  - DrawLine covers its first point and stops one pixel short of its second; a colour of -1 (or
//    none) means ForeColor, and 0 is black.
//  - DrawElipse and DrawCircle use the device context's own pen and brush (black outline, white
//    inside on a new surface); select your own through hDC to change them.
#include "KivClient.h"

using namespace kivclient;

namespace {

void Box(_KivBitmap* s, short left, short top, short width, short height, LONG* color) {
    s->DrawBox(&left, &top, &width, &height, color);
}

// A brush of our own, selected into a device context while it lives; the old brush goes back.
class OwnBrush {
public:
    OwnBrush(HDC dc, COLORREF color)
        : dc_(dc), brush_(::CreateSolidBrush(color)), previous_(::SelectObject(dc, brush_)) {}
    ~OwnBrush() {
        ::SelectObject(dc_, previous_);
        ::DeleteObject(brush_);
    }
    OwnBrush(const OwnBrush&) = delete;
    OwnBrush& operator=(const OwnBrush&) = delete;

private:
    HDC dc_;
    HBRUSH brush_;
    HGDIOBJ previous_;
};

}  // namespace

int main() try {
    Apartment com;
    Checks checks;
    ComPtr<_KivCtl> ctl = NewControl();
    ComPtr<_KivFactory> bitmaps;
    ctl->get_Bitmaps(&bitmaps);
    ComPtr<_KivBitmap> s = Create(bitmaps.Get(), L"rules", 60, 40);
    if (!s) throw std::runtime_error("no surface");
    HDC dc = DcOf(s.Get());
    const COLORREF white = RGB(255, 255, 255), green = RGB(0, 160, 0), blue = RGB(0, 0, 255);
    s->put_BackColor(white);
    s->Cls();
    s->put_ForeColor(green);

    // A red box at (2, 3), 4 x 5 pixels: x from 2 to 5, y from 3 to 7.
    LONG red = RGB(255, 0, 0);
    Box(s.Get(), 2, 3, 4, 5, &red);
    checks.Expect(::GetPixel(dc, 2, 3) == RGB(255, 0, 0) && ::GetPixel(dc, 5, 7) == RGB(255, 0, 0),
                  "the box's corners");
    checks.Expect(::GetPixel(dc, 6, 7) == white && ::GetPixel(dc, 5, 8) == white, "nothing beyond the box");

    // Colour 0 and no colour both mean ForeColor.
    LONG zero = 0;
    Box(s.Get(), 10, 0, 3, 3, &zero);
    Box(s.Get(), 14, 0, 3, 3, nullptr);
    checks.Expect(::GetPixel(dc, 11, 1) == green, "DrawBox with colour 0 draws in ForeColor");
    checks.Expect(::GetPixel(dc, 15, 1) == green, "DrawBox without a colour draws in ForeColor");
    // A black box: make ForeColor black.
    s->put_ForeColor(0);
    Box(s.Get(), 18, 0, 3, 3, &zero);
    checks.Expect(::GetPixel(dc, 19, 1) == RGB(0, 0, 0), "black through ForeColor = 0");
    s->put_ForeColor(green);

    // Lines: -1 and no colour mean ForeColor; 0 is black. The end point is left out.
    OLE_COLOR minusOne = static_cast<OLE_COLOR>(-1), black = 0, blueLine = blue;
    s->DrawLine(0, 12, 10, 12, &minusOne);
    s->DrawLine(0, 13, 10, 13, nullptr);
    s->DrawLine(0, 14, 10, 14, &black);
    s->DrawLine(0, 15, 10, 15, &blueLine);
    checks.Expect(::GetPixel(dc, 0, 12) == green && ::GetPixel(dc, 9, 12) == green, "DrawLine with -1: ForeColor");
    checks.Expect(::GetPixel(dc, 10, 12) == white, "the line stops one pixel short of its end");
    checks.Expect(::GetPixel(dc, 5, 13) == green, "DrawLine without a colour: ForeColor");
    checks.Expect(::GetPixel(dc, 5, 14) == RGB(0, 0, 0), "DrawLine with 0: black");
    checks.Expect(::GetPixel(dc, 5, 15) == blue, "DrawLine with a colour: that colour");

    // Ellipses: black outline and white inside on a new surface, whatever ForeColor says.
    short l = 20, t = 20, r = 40, b = 40;
    s->DrawElipse(&l, &t, &r, &b);
    checks.Expect(::GetPixel(dc, 30, 30) == white && ::GetPixel(dc, 20, 30) == RGB(0, 0, 0),
                  "an ellipse in the context's default pen and brush");
    // With a brush of our own selected through hDC.
    {
        OwnBrush yellow(dc, RGB(255, 255, 0));
        short cx = 50, cy = 30, radius = 8;  // DrawCircle takes the centre and the radius
        s->DrawCircle(&cx, &cy, &radius);
    }
    checks.Expect(::GetPixel(dc, 50, 30) == RGB(255, 255, 0), "a circle filled with the brush we selected");
    checks.Expect(::GetPixel(dc, 42, 30) == RGB(0, 0, 0), "its outline in the context's pen");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
