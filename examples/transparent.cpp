// Copy, opaque and transparent. A transparent copy leaves the target as it was wherever the surface
// has its TransparentColor, which is black until it is set.
#include "KivClient.h"

using namespace kivclient;

namespace {

const COLORREF kBlack = RGB(0, 0, 0), kRed = RGB(255, 0, 0), kGreen = RGB(0, 160, 0);

void Fill(_KivBitmap* s, COLORREF color) {
    s->put_BackColor(color);
    s->Cls();
}

void CopyOnto(_KivBitmap* sprite, _KivBitmap* target, short left, short top, bool transparent) {
    LONG dc = I4(DcOf(target));
    sprite->Copy(&dc, &left, &top, transparent ? VARIANT_TRUE : VARIANT_FALSE);
}

}  // namespace

int main() try {
    Apartment com;
    Checks checks;
    ComPtr<_KivCtl> ctl = NewControl();
    ComPtr<_KivFactory> bitmaps;
    ctl->get_Bitmaps(&bitmaps);

    // The sprite: a red 4 x 4 square in the middle of 8 x 8 black pixels.
    ComPtr<_KivBitmap> sprite = Create(bitmaps.Get(), L"sprite", 8, 8);
    ComPtr<_KivBitmap> target = Create(bitmaps.Get(), L"target", 16, 16);
    if (!sprite || !target) throw std::runtime_error("no surface");
    Fill(sprite.Get(), kBlack);
    short left = 2, top = 2, side = 4;
    LONG red = kRed;
    sprite->DrawBox(&left, &top, &side, &side, &red);
    HDC t = DcOf(target.Get());

    // Never set, the key colour is black: the black border stays out.
    Fill(target.Get(), kGreen);
    CopyOnto(sprite.Get(), target.Get(), 4, 4, true);
    checks.Expect(::GetPixel(t, 4, 4) == kGreen, "black pixels are transparent until TransparentColor is set");
    checks.Expect(::GetPixel(t, 6, 6) == kRed, "the red square is copied");

    // With red as the key, red stays out and black is copied.
    LONG key = kRed;
    sprite->put_TransparentColor(&key);
    Fill(target.Get(), kGreen);
    CopyOnto(sprite.Get(), target.Get(), 4, 4, true);
    checks.Expect(::GetPixel(t, 6, 6) == kGreen, "red pixels are transparent once red is the key");
    checks.Expect(::GetPixel(t, 4, 4) == kBlack, "black is copied like any other colour");

    // Opaque: every pixel, at the given position, and nothing else.
    Fill(target.Get(), kGreen);
    CopyOnto(sprite.Get(), target.Get(), 8, 8, false);
    checks.Expect(::GetPixel(t, 8, 8) == kBlack && ::GetPixel(t, 10, 10) == kRed, "an opaque copy copies all");
    checks.Expect(::GetPixel(t, 7, 7) == kGreen, "nothing outside the copied area");

    // The control's Blit copies between any two device contexts with any raster operation.
    ctl->Blit(I4(t), 0, 0, 8, 8, I4(DcOf(sprite.Get())), 0, 0, SRCCOPY);
    checks.Expect(::GetPixel(t, 3, 3) == kRed, "Blit copies from the sprite's hDC");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
