// Picture: an independent snapshot of the surface's pixels, owning its own bitmap (and, on a 256-entry
// palette device, a copy of the system palette), valid for as long as the client holds it.
#include "TestSupport.h"

#include <ocidl.h>
#include <olectl.h>

#include <string>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

constexpr short kWidth = 7;
constexpr short kHeight = 5;

COLORREF PatternAt(int x, int y) { return RGB(20 + 30 * x, 200 - 35 * y, 40 + 11 * x + 13 * y); }

HBITMAP BitmapOf(IPicture* picture) {
    OLE_HANDLE handle = 0;
    EXPECT_EQ(picture->get_Handle(&handle), S_OK);
    return platform::I4ToHandle<HBITMAP>(static_cast<long>(handle));
}

HPALETTE PaletteOf(IPicture* picture) {
    OLE_HANDLE handle = 0;
    EXPECT_EQ(picture->get_hPal(&handle), S_OK);
    return platform::I4ToHandle<HPALETTE>(static_cast<long>(handle));
}

// The bitmap's pixels, read without selecting it anywhere, as colour references row by row.
std::vector<COLORREF> PixelsOfBitmap(HBITMAP bitmap, int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> bits(static_cast<size_t>(width) * height);
    HDC screen = ::GetDC(nullptr);
    const int rows = ::GetDIBits(screen, bitmap, 0, height, bits.data(), &info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(rows, height);
    std::vector<COLORREF> out;
    for (DWORD bgr : bits) out.push_back(RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF));
    return out;
}

std::vector<COLORREF> PixelsOfDc(HDC dc, int width, int height) {
    std::vector<COLORREF> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back(PixelAt(dc, x, y));
    return out;
}

class PictureTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        baseline = kivtest::LiveGdiObjects();
        control = NewControl();
        ASSERT_TRUE(control);
        registry = BitmapsOf(control.Get());
        ASSERT_TRUE(registry);
        surface = Create(registry.Get(), L"shot", kWidth, kHeight);
        ASSERT_TRUE(surface);
        dc = DcOf(surface.Get());
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) ::SetPixelV(dc, x, y, PatternAt(x, y));
        pattern = PixelsOfDc(dc, kWidth, kHeight);
    }
    void TearDown() override {
        surface = nullptr;
        registry = nullptr;
        control = nullptr;
        EXPECT_EQ(kivtest::LiveGdiObjects(), baseline) << "platform objects left behind";
        ComTest::TearDown();
    }

    ComPtr<IPicture> Take() {
        ComPtr<IPicture> picture;
        EXPECT_EQ(surface->get_Picture(picture.Put()), S_OK);
        EXPECT_TRUE(picture);
        return picture;
    }

    kivtest::GdiCounts baseline;
    ComPtr<_KivCtl> control;
    ComPtr<_KivFactory> registry;
    ComPtr<_KivBitmap> surface;
    HDC dc = nullptr;
    std::vector<COLORREF> pattern;
};

TEST_F(PictureTest, TwoReadsAreDistinctPicturesWithEqualPixels) {
    auto first = Take();
    auto second = Take();
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(kiv::SameObject(first.Get(), second.Get()));
    EXPECT_NE(BitmapOf(first.Get()), BitmapOf(second.Get()));
    EXPECT_EQ(PixelsOfBitmap(BitmapOf(first.Get()), kWidth, kHeight), pattern);
    EXPECT_EQ(PixelsOfBitmap(BitmapOf(second.Get()), kWidth, kHeight), pattern);
    // The surface's own bitmap is not handed out.
    LONG own = 0;
    ASSERT_EQ(surface->get_hBMP(&own), S_OK);
    EXPECT_NE(BitmapOf(first.Get()), platform::I4ToHandle<HBITMAP>(own));
}

TEST_F(PictureTest, DrawingAfterwardsLeavesAnEarlierPictureUnchanged) {
    auto picture = Take();
    ASSERT_TRUE(picture);
    short left = 0, top = 0, width = kWidth, height = kHeight;
    LONG red = static_cast<LONG>(RGB(255, 0, 0));
    ASSERT_EQ(surface->DrawBox(&left, &top, &width, &height, &red), S_OK);
    ASSERT_EQ(PixelAt(dc, 3, 3), RGB(255, 0, 0));
    EXPECT_EQ(PixelsOfBitmap(BitmapOf(picture.Get()), kWidth, kHeight), pattern);
    // A new read sees the drawing.
    auto later = Take();
    ASSERT_TRUE(later);
    EXPECT_EQ(PixelsOfBitmap(BitmapOf(later.Get()), kWidth, kHeight), PixelsOfDc(dc, kWidth, kHeight));
}

TEST_F(PictureTest, APictureOutlivesTheSurfaceTheRegistryAndTheControl) {
    auto picture = Take();
    ASSERT_TRUE(picture);
    const HBITMAP bitmap = BitmapOf(picture.Get());
    surface = nullptr;
    registry = nullptr;
    control = nullptr;
    // Everything the surface, the registry and the control held is gone; the picture's bitmap is not.
    EXPECT_EQ(kivtest::LiveGdiObjects(), baseline);
    EXPECT_EQ(::GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    EXPECT_EQ(PixelsOfBitmap(bitmap, kWidth, kHeight), pattern);
    SHORT type = 0;
    EXPECT_EQ(picture->get_Type(&type), S_OK);
    EXPECT_EQ(type, PICTYPE_BITMAP);
}

TEST_F(PictureTest, ThePictureHasTheSurfacesFullSize) {
    auto picture = Take();
    ASSERT_TRUE(picture);
    BITMAP info = {};
    ASSERT_EQ(::GetObject(BitmapOf(picture.Get()), sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.bmWidth, kWidth);
    EXPECT_EQ(info.bmHeight, kHeight);

    HDC screen = ::GetDC(nullptr);
    const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
    const int dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    ASSERT_EQ(picture->get_Width(&width), S_OK);
    ASSERT_EQ(picture->get_Height(&height), S_OK);
    EXPECT_NEAR(width, ::MulDiv(kWidth, 2540, dpiX), 1);
    EXPECT_NEAR(height, ::MulDiv(kHeight, 2540, dpiY), 1);
}

TEST_F(PictureTest, ReleasingAPictureFreesItsBitmap) {
    auto picture = Take();
    ASSERT_TRUE(picture);
    const HBITMAP bitmap = BitmapOf(picture.Get());
    ASSERT_EQ(::GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    picture = nullptr;
    EXPECT_EQ(::GetObjectType(bitmap), 0u);
}

TEST_F(PictureTest, ATrueColourDisplayGivesAPictureWithoutPalette) {
    HDC screen = ::GetDC(nullptr);
    const bool paletteDisplay = (::GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
    ::ReleaseDC(nullptr, screen);
    if (paletteDisplay) GTEST_SKIP() << "the display works with a palette";
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    Recorder recorder;
    auto picture = Take();
    ASSERT_TRUE(picture);
    EXPECT_EQ(PaletteOf(picture.Get()), nullptr);
    EXPECT_EQ(recorder.Count("CreatePalette"), 0);
    EXPECT_EQ(recorder.Count("GetSystemPaletteEntries"), 0);
    EXPECT_EQ(recorder.Count("SelectPalette"), 0);
    // The memory context is gone; the bitmap belongs to the picture.
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
}

// Whether a picture made by the platform with ownership deletes its palette when released (Wine's
// deletes only the bitmap).
bool PlatformPictureDeletesItsPalette() {
    HDC screen = ::GetDC(nullptr);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 2, 2);
    HPALETTE palette = ::CreateHalftonePalette(screen);
    ::ReleaseDC(nullptr, screen);
    PICTDESC description = {};
    description.cbSizeofstruct = sizeof(description);
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = bitmap;
    description.bmp.hpal = palette;
    IPicture* picture = nullptr;
    if (FAILED(::OleCreatePictureIndirect(&description, IID_IPicture, TRUE, reinterpret_cast<void**>(&picture))))
        return false;
    picture->Release();
    const bool deleted = ::GetObjectType(palette) == 0;
    if (!deleted) ::DeleteObject(palette);
    return deleted;
}

// The recorded calls of a snapshot as text, with the surface's context as S and the objects made in
// it as mem, bmp and pal.
std::vector<std::string> SnapshotTrace(const std::vector<kivtest::RecordedCall>& calls, HDC source) {
    std::intptr_t mem = 0, bmp = 0, pal = 0, stockBitmap = 0, stockPalette = 0;
    const auto s = reinterpret_cast<std::intptr_t>(source);
    auto name = [&](std::intptr_t h) -> std::string {
        if (h == 0) return "0";
        if (h == s) return "S";
        if (h == mem) return "mem";
        if (h == bmp) return "bmp";
        if (h == pal) return "pal";
        if (h == stockBitmap || h == stockPalette) return "prev";
        return "?";
    };
    std::vector<std::string> out;
    for (const auto& call : calls) {
        const std::string n = call.name;
        std::string line = n + "(";
        if (n == "CreateCompatibleDC") { line += name(call.args[0]); mem = call.result; }
        else if (n == "CreateCompatibleBitmap") {
            line += name(call.args[0]) + "," + std::to_string(call.args[1]) + "," + std::to_string(call.args[2]);
            bmp = call.result;
        } else if (n == "SelectObject") {
            line += name(call.args[0]) + "," + name(call.args[1]);
            if (!stockBitmap) stockBitmap = call.result;
        } else if (n == "GetDeviceCaps") line += name(call.args[0]) + "," + std::to_string(call.args[1]);
        else if (n == "GetSystemPaletteEntries")
            line += name(call.args[0]) + "," + std::to_string(call.args[1]) + "," + std::to_string(call.args[2]);
        else if (n == "CreatePalette") pal = call.result;
        else if (n == "SelectPalette") {
            line += name(call.args[0]) + "," + name(call.args[1]) + "," + std::to_string(call.args[2]);
            if (!stockPalette) stockPalette = call.result;
        } else if (n == "RealizePalette" || n == "DeleteDC") line += name(call.args[0]);
        else if (n == "BitBlt") {
            for (int i = 0; i < 9; ++i)
                line += (i ? "," : "") + (i == 0 || i == 5 ? name(call.args[i]) : std::to_string(call.args[i]));
        } else if (n == "OleCreatePictureIndirect") line += std::to_string(call.args[2]);
        out.push_back(line + ")");
    }
    return out;
}

TEST_F(PictureTest, APaletteDisplayGivesAPictureWithACopyOfTheSystemPalette) {
    // The observer answers as a 256-entry palette device and serves a system palette of its own.
    PALETTEENTRY system[256];
    for (int i = 0; i < 256; ++i)
        system[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 7), 0};
    WORD recordVersion = 0, recordEntries = 0;
    BOOL owned = FALSE;
    UINT describedSize = 0;
    SHORT describedType = 0;
    bool askedForDispatch = false;
    Recorder recorder;
    recorder.answer = [&](platform::Call& call) {
        const std::string name = call.name;
        if (name == "GetDeviceCaps" && call.args[1] == RASTERCAPS) {
            call.result = ::GetDeviceCaps(reinterpret_cast<HDC>(call.args[0]), RASTERCAPS) | RC_PALETTE;
            return true;
        }
        if (name == "GetDeviceCaps" && call.args[1] == SIZEPALETTE) {
            call.result = 256;
            return true;
        }
        if (name == "GetSystemPaletteEntries") {
            auto* entries = reinterpret_cast<PALETTEENTRY*>(call.args[3]);
            for (UINT i = 0; i < static_cast<UINT>(call.args[2]); ++i) entries[i] = system[call.args[1] + i];
            call.result = call.args[2];
            return true;
        }
        if (name == "CreatePalette") {  // looked at, then made by the platform
            const auto* record = reinterpret_cast<const LOGPALETTE*>(call.args[0]);
            recordVersion = record->palVersion;
            recordEntries = record->palNumEntries;
        }
        if (name == "OleCreatePictureIndirect") {
            const auto* description = reinterpret_cast<const PICTDESC*>(call.args[0]);
            describedSize = description->cbSizeofstruct;
            describedType = static_cast<SHORT>(description->picType);
            askedForDispatch = IsEqualIID(*reinterpret_cast<const IID*>(call.args[1]), IID_IDispatch);
            owned = static_cast<BOOL>(call.args[2]);
        }
        return false;
    };
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    auto picture = Take();
    recorder.answer = nullptr;
    ASSERT_TRUE(picture);

    EXPECT_EQ(recordVersion, 0x300);
    EXPECT_EQ(recordEntries, 256);
    EXPECT_EQ(describedSize, sizeof(PICTDESC));
    EXPECT_EQ(describedType, PICTYPE_BITMAP);
    EXPECT_TRUE(askedForDispatch);
    EXPECT_TRUE(owned);

    const HPALETTE palette = PaletteOf(picture.Get());
    ASSERT_NE(palette, nullptr);
    EXPECT_EQ(::GetObjectType(palette), static_cast<DWORD>(OBJ_PAL));
    WORD entries = 0;
    ASSERT_EQ(::GetObject(palette, sizeof(entries), &entries), static_cast<int>(sizeof(entries)));
    EXPECT_EQ(entries, 256);
    PALETTEENTRY copied[256] = {};
    ASSERT_EQ(::GetPaletteEntries(palette, 0, 256, copied), 256u);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(copied[i].peRed, system[i].peRed) << "entry " << i;
        EXPECT_EQ(copied[i].peGreen, system[i].peGreen) << "entry " << i;
        EXPECT_EQ(copied[i].peBlue, system[i].peBlue) << "entry " << i;
        if (HasFailure()) break;
    }
    EXPECT_EQ(PixelsOfBitmap(BitmapOf(picture.Get()), kWidth, kHeight), pattern);

    const std::vector<std::string> expected = {
        "CreateCompatibleDC(S)",
        "CreateCompatibleBitmap(S,7,5)",
        "SelectObject(mem,bmp)",
        "GetDeviceCaps(S,38)",
        "GetDeviceCaps(S,104)",
        "GetSystemPaletteEntries(S,0,256)",
        "CreatePalette()",
        "SelectPalette(mem,pal,0)",
        "RealizePalette(mem)",
        "BitBlt(mem,0,0,7,5,S,0,0,13369376)",
        "SelectObject(mem,prev)",
        "SelectPalette(mem,prev,0)",
        "DeleteDC(mem)",
        "OleCreatePictureIndirect(1)",
    };
    EXPECT_EQ(SnapshotTrace(recorder.calls, dc), expected);

    // The picture owns the palette and the bitmap: nothing of them is the library's, and they go
    // with the picture (the palette as far as the platform's picture deletes palettes at all).
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
    const HBITMAP bitmap = BitmapOf(picture.Get());
    const bool platformDeletesPalettes = PlatformPictureDeletesItsPalette();
    picture = nullptr;
    EXPECT_EQ(::GetObjectType(bitmap), 0u);
    EXPECT_EQ(::GetObjectType(palette), platformDeletesPalettes ? 0u : static_cast<DWORD>(OBJ_PAL));
    if (!platformDeletesPalettes) ::DeleteObject(palette);
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
}

TEST_F(PictureTest, ASnapshotWithoutPaletteRunsItsStepsInOrder) {
    Recorder recorder;
    recorder.answer = [](platform::Call& call) {
        // A palette device whose palette is not exactly 256 entries gives no palette either.
        if (std::string(call.name) == "GetDeviceCaps" && call.args[1] == RASTERCAPS) {
            call.result = RC_PALETTE | RC_BITBLT;
            return true;
        }
        if (std::string(call.name) == "GetDeviceCaps" && call.args[1] == SIZEPALETTE) {
            call.result = 16;
            return true;
        }
        return false;
    };
    auto picture = Take();
    recorder.answer = nullptr;
    ASSERT_TRUE(picture);
    EXPECT_EQ(PaletteOf(picture.Get()), nullptr);
    const std::vector<std::string> expected = {
        "CreateCompatibleDC(S)",
        "CreateCompatibleBitmap(S,7,5)",
        "SelectObject(mem,bmp)",
        "GetDeviceCaps(S,38)",
        "GetDeviceCaps(S,104)",
        "BitBlt(mem,0,0,7,5,S,0,0,13369376)",
        "SelectObject(mem,prev)",
        "DeleteDC(mem)",
        "OleCreatePictureIndirect(1)",
    };
    EXPECT_EQ(SnapshotTrace(recorder.calls, dc), expected);
    EXPECT_EQ(PixelsOfBitmap(BitmapOf(picture.Get()), kWidth, kHeight), pattern);
}

}  // namespace
