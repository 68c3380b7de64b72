// Picture: an independent OLE picture of the surface's pixels at the moment of the call. It owns
// its own bitmap, so it stays as it was when the surface changes, and it outlives the surface, the
// registry and the control. A client shows it with IPicture::Render.
#include "KivClient.h"

#include <ocidl.h>

using namespace kivclient;

namespace {

// A memory DC of the screen's format with a bitmap of its own, for rendering into.
class RenderTarget {
public:
    RenderTarget(int width, int height) {
        HDC screen = ::GetDC(nullptr);
        dc_ = ::CreateCompatibleDC(screen);
        bitmap_ = ::CreateCompatibleBitmap(screen, width, height);
        ::ReleaseDC(nullptr, screen);
        previous_ = ::SelectObject(dc_, bitmap_);
    }
    ~RenderTarget() {
        ::SelectObject(dc_, previous_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }
    RenderTarget(const RenderTarget&) = delete;
    RenderTarget& operator=(const RenderTarget&) = delete;
    HDC Dc() const { return dc_; }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
};

// A pixel of the picture, drawn at its own size with IPicture::Render.
COLORREF RenderedPixel(IPicture* picture, int width, int height, int x, int y) {
    RenderTarget target(width, height);
    OLE_XSIZE_HIMETRIC w = 0;
    OLE_YSIZE_HIMETRIC h = 0;
    picture->get_Width(&w);
    picture->get_Height(&h);
    // The picture's own size is in HIMETRIC, measured upwards: its top is at h.
    picture->Render(target.Dc(), 0, 0, width, height, 0, h, w, -h, nullptr);
    return ::GetPixel(target.Dc(), x, y);
}

}  // namespace

int main() try {
    Apartment com;
    Checks checks;
    ComPtr<IPicture> before, after;
    {
        ComPtr<_KivCtl> ctl = NewControl();
        ComPtr<_KivFactory> bitmaps;
        ctl->get_Bitmaps(&bitmaps);
        ComPtr<_KivBitmap> s = Create(bitmaps.Get(), L"photo", 40, 30);
        if (!s) throw std::runtime_error("no surface");
        s->put_BackColor(RGB(0, 0, 255));
        s->Cls();
        s->get_Picture(&before);

        short left = 0, top = 0, width = 40, height = 30;
        LONG red = RGB(255, 0, 0);
        s->DrawBox(&left, &top, &width, &height, &red);
        s->get_Picture(&after);
    }  // the surface, the registry and the control are gone now

    checks.Expect(before && after && before.Get() != after.Get(), "each read of Picture makes a new picture");
    if (!before || !after) return checks.Finish();
    SHORT type = 0;
    before->get_Type(&type);
    checks.Expect(type == PICTYPE_BITMAP, "a bitmap picture");

    OLE_HANDLE handle = 0;
    before->get_Handle(&handle);
    BITMAP info{};
    ::GetObjectW(reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(static_cast<LONG>(handle))), sizeof info, &info);
    checks.Expect(info.bmWidth == 40 && info.bmHeight == 30, "the picture has the surface's size in pixels");

    checks.Expect(RenderedPixel(before.Get(), 40, 30, 20, 15) == RGB(0, 0, 255),
                  "the first picture kept the pixels of its moment");
    checks.Expect(RenderedPixel(after.Get(), 40, 30, 20, 15) == RGB(255, 0, 0), "the second shows the box");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
