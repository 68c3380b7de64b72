// Text: BPrint writes in ForeColor on a box of BackColor, with a font made from the surface's
// settings for that one call. FontSize is the character cell's height in pixels (not points), and
// only FontBold = -1 (VARIANT_TRUE) is bold: a C++ client passing 1 gets normal weight.
#include "KivClient.h"

using namespace kivclient;

namespace {

// Pixels of `color` on the surface, and rows that hold any pixel other than `paper`.
int Count(HDC dc, int width, int height, COLORREF color) {
    int n = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) n += ::GetPixel(dc, x, y) == color;
    return n;
}
int RowsTouched(HDC dc, int width, int height, COLORREF paper) {
    int rows = 0;
    for (int y = 0; y < height; ++y) {
        bool touched = false;
        for (int x = 0; x < width && !touched; ++x) touched = ::GetPixel(dc, x, y) != paper;
        rows += touched;
    }
    return rows;
}

// Clears the surface to white and prints "Kiv" at (2, 2) in black on yellow, with these settings.
void PrintSample(_KivBitmap* s, short size, VARIANT_BOOL bold) {
    s->put_BackColor(RGB(255, 255, 255));
    s->Cls();
    s->put_BackColor(RGB(255, 255, 0));
    s->put_ForeColor(0);
    Bstr face(L"Arial"), text(L"Kiv");
    s->put_FontName(face.Ref());
    s->put_FontSize(&size);
    s->put_FontBold(&bold);
    short left = 2, top = 2;
    s->BPrint(&left, &top, text.Ref());
}

}  // namespace

int main() try {
    Apartment com;
    Checks checks;
    ComPtr<_KivCtl> ctl = NewControl();
    ComPtr<_KivFactory> bitmaps;
    ctl->get_Bitmaps(&bitmaps);
    const int width = 120, height = 60;
    ComPtr<_KivBitmap> s = Create(bitmaps.Get(), L"text", width, height);
    if (!s) throw std::runtime_error("no surface");
    HDC dc = DcOf(s.Get());

    // FontSize 20: a box 20 pixels high (20 points would be about 27 pixels on a 96-dpi screen).
    PrintSample(s.Get(), 20, VARIANT_FALSE);
    const int rows = RowsTouched(dc, width, height, RGB(255, 255, 255));
    std::printf("FontSize 20 gives a text box %d pixels high\n", rows);
    checks.Expect(rows == 20, "FontSize is the cell height in pixels");
    checks.Expect(::GetPixel(dc, 2, 2) == RGB(255, 255, 0), "the box behind the text is BackColor");
    const int normalInk = Count(dc, width, height, RGB(0, 0, 0));
    checks.Expect(normalInk > 0, "the text is drawn in ForeColor");

    PrintSample(s.Get(), 20, VARIANT_BOOL(1));
    const int oneInk = Count(dc, width, height, RGB(0, 0, 0));
    PrintSample(s.Get(), 20, VARIANT_TRUE);
    const int boldInk = Count(dc, width, height, RGB(0, 0, 0));
    std::printf("ink pixels: FontBold 0: %d, 1: %d, -1: %d\n", normalInk, oneInk, boldInk);
    checks.Expect(oneInk == normalInk, "FontBold = 1 is not bold");
    checks.Expect(boldInk > normalInk, "FontBold = -1 is bold");

    VARIANT_BOOL stored = 0;
    short one = 1;
    s->put_FontBold(reinterpret_cast<VARIANT_BOOL*>(&one));
    s->get_FontBold(&stored);
    checks.Expect(stored == 1, "FontBold keeps the value given");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
