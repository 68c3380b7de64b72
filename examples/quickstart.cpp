// Quick start in C++: the control from its ProgID, a surface, a box and a line, and the pixels
// read back through the surface's device context.
#include "KivClient.h"

using namespace kivclient;

int main() try {
    Apartment com;
    Checks checks;

    ComPtr<_KivCtl> ctl = NewControl();
    ComPtr<_KivFactory> bitmaps;
    ctl->get_Bitmaps(&bitmaps);

    ComPtr<_KivBitmap> canvas = Create(bitmaps.Get(), L"canvas", 200, 100);
    if (!canvas) throw std::runtime_error("no surface");  // Create gives none when the size cannot be had
    canvas->put_BackColor(RGB(255, 255, 255));
    canvas->Cls();

    // Most parameters are passed by reference, as Automation passes a script's variables.
    short left = 10, top = 10, width = 80, height = 40;
    LONG blue = RGB(0, 128, 255);
    canvas->DrawBox(&left, &top, &width, &height, &blue);
    OLE_COLOR red = RGB(255, 0, 0);
    canvas->DrawLine(0, 99, 199, 0, &red);

    // The surface's device context is an ordinary memory DC: read it, or draw into it yourself.
    HDC dc = DcOf(canvas.Get());
    checks.Expect(::GetPixel(dc, 10, 10) == RGB(0, 128, 255), "the box's top-left pixel");
    checks.Expect(::GetPixel(dc, 89, 49) == RGB(0, 128, 255), "the box's bottom-right pixel");
    checks.Expect(::GetPixel(dc, 90, 50) == RGB(255, 255, 255), "nothing beyond the box");
    checks.Expect(::GetPixel(dc, 0, 99) == RGB(255, 0, 0), "the line starts at its first point");

    short count = 0;
    bitmaps->get_Count(&count);
    std::printf("canvas: 200 x 100 pixels; surfaces: %d\n", count);
    checks.Expect(count == 1, "one surface listed");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
