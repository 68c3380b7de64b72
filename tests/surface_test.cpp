// The surface: its defaults, its colours (ForeColor and BackColor kept as given, TransparentColor
// kept translated), Cls, its platform objects from allocation to termination, and the modAlloc
// routines under them (TranslateColor, FillArea, CreateBufferPalette).
#include "TestSupport.h"

#include "component/Module.h"
#include "component/OwnObject.h"
#include "routines/modAlloc.h"
#include "surface/KivBitmap.h"

#include <string>
#include <vector>

using namespace kivtest;
namespace platform = kiv::platform;
namespace modAlloc = kiv::modAlloc;

namespace {

constexpr OLE_COLOR kButtonFace = 0x8000000F;
constexpr OLE_COLOR kUnknownSystemColour = 0x80000099;

class Surface : public ControlTest {};

LONG Get(_KivBitmap* surface, HRESULT (STDMETHODCALLTYPE _KivBitmap::*getter)(LONG*)) {
    LONG value = 0x5A5A5A5A;
    EXPECT_EQ((surface->*getter)(&value), S_OK);
    return value;
}

// The first pixel that differs from `expected`, as "(x, y) = value", or "" when all are equal.
std::string FirstOtherPixel(HDC dc, int width, int height, COLORREF expected) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (COLORREF seen = PixelAt(dc, x, y); seen != expected)
                return "(" + std::to_string(x) + ", " + std::to_string(y) + ") = " + std::to_string(seen);
    return "";
}

int ScreenBitsPerPixel() {
    HDC screen = ::GetDC(nullptr);
    const int bits = ::GetDeviceCaps(screen, BITSPIXEL) * ::GetDeviceCaps(screen, PLANES);
    ::ReleaseDC(nullptr, screen);
    return bits;
}

TEST_F(Surface, ANewSurfaceHasItsDefaultsAndIsClearedToTheButtonFace) {
    auto surface = Create(registry.Get(), L"new", 13, 7);
    ASSERT_TRUE(surface);
    EXPECT_EQ(Get(surface.Get(), &_KivBitmap::get_ForeColor), 0);
    EXPECT_EQ(static_cast<OLE_COLOR>(Get(surface.Get(), &_KivBitmap::get_BackColor)), kButtonFace);
    EXPECT_EQ(Get(surface.Get(), &_KivBitmap::get_TransparentColor), 0);

    BSTR face = nullptr;
    ASSERT_EQ(surface->get_FontName(&face), S_OK);
    EXPECT_EQ(std::wstring(face ? face : L""), L"MS Sans Serif");
    ::SysFreeString(face);
    short size = 0, width = 0, height = 0;
    surface->get_FontSize(&size);
    surface->get_Width(&width);
    surface->get_Height(&height);
    EXPECT_EQ(size, 8);
    EXPECT_EQ(width, 13);
    EXPECT_EQ(height, 7);
    VARIANT_BOOL bold = 1, italic = 1, underline = 1;
    surface->get_FontBold(&bold);
    surface->get_FontItalic(&italic);
    surface->get_FontUnderline(&underline);
    EXPECT_EQ(bold, VARIANT_FALSE);
    EXPECT_EQ(italic, VARIANT_FALSE);
    EXPECT_EQ(underline, VARIANT_FALSE);

    // The bitmap is selected into the device context and has exactly the requested size.
    HDC dc = DcOf(surface.Get());
    HBITMAP bitmap = platform::I4ToHandle<HBITMAP>(Get(surface.Get(), &_KivBitmap::get_hBMP));
    ASSERT_NE(dc, nullptr);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(::GetObjectType(dc), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_BITMAP), bitmap);
    BITMAP info = {};
    ASSERT_NE(::GetObject(bitmap, sizeof info, &info), 0);
    EXPECT_EQ(info.bmWidth, 13);
    EXPECT_EQ(info.bmHeight, 7);

    EXPECT_EQ(FirstOtherPixel(dc, 13, 7, Rgb(kButtonFace)), "");
    EXPECT_EQ(::GetTextColor(dc), Rgb(0));
    EXPECT_EQ(::GetBkColor(dc), Rgb(kButtonFace));
}

// Surfaces are made against the control's device context, which has the screen's format: a colour
// surface, never the monochrome one that a bare memory context would give.
TEST_F(Surface, ItsDeviceContextHasTheScreensColourFormat) {
    auto surface = Create(registry.Get(), L"colour", 5, 5);
    ASSERT_TRUE(surface);
    HDC dc = DcOf(surface.Get());
    BITMAP info = {};
    ASSERT_NE(::GetObject(platform::I4ToHandle<HBITMAP>(Get(surface.Get(), &_KivBitmap::get_hBMP)), sizeof info,
                          &info),
              0);
    EXPECT_EQ(info.bmBitsPixel * info.bmPlanes, ScreenBitsPerPixel());
    EXPECT_EQ(::GetDeviceCaps(dc, BITSPIXEL) * ::GetDeviceCaps(dc, PLANES), ScreenBitsPerPixel());
    // A colour that a monochrome surface could not hold survives.
    const COLORREF teal = RGB(0, 128, 128);
    ::SetPixel(dc, 2, 2, teal);
    EXPECT_EQ(PixelAt(dc, 2, 2), teal);
}

// Allocation sets the two colours and clears; pen, brush and font stay the platform's defaults.
TEST_F(Surface, AllocationLeavesTheContextsOtherDefaults) {
    auto surface = Create(registry.Get(), L"defaults", 4, 4);
    ASSERT_TRUE(surface);
    HDC dc = DcOf(surface.Get());
    HDC fresh = ::CreateCompatibleDC(dc);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), ::GetCurrentObject(fresh, OBJ_PEN));
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), ::GetCurrentObject(fresh, OBJ_BRUSH));
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), ::GetCurrentObject(fresh, OBJ_FONT));
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_PAL), ::GetCurrentObject(fresh, OBJ_PAL)) << "the buffer palette stays out";
    EXPECT_EQ(::GetBkMode(dc), ::GetBkMode(fresh));
    EXPECT_EQ(::GetMapMode(dc), ::GetMapMode(fresh));
    ::DeleteDC(fresh);
}

TEST_F(Surface, ClsFillsEveryPixelWithTheTranslatedBackColour) {
    auto surface = Create(registry.Get(), L"cls", 9, 6);
    ASSERT_TRUE(surface);
    HDC dc = DcOf(surface.Get());
    // Something of the client's own in the surface, and its own pen, brush and position.
    RECT all = {0, 0, 9, 6};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
    HBRUSH brush = ::CreateSolidBrush(RGB(4, 5, 6));
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, brush);
    ::MoveToEx(dc, 3, 4, nullptr);

    const COLORREF plum = RGB(142, 69, 133);
    ASSERT_EQ(surface->put_BackColor(static_cast<LONG>(plum)), S_OK);
    ASSERT_EQ(surface->Cls(), S_OK);
    EXPECT_EQ(FirstOtherPixel(dc, 9, 6, plum), "");

    ASSERT_EQ(surface->put_BackColor(static_cast<LONG>(kButtonFace)), S_OK);
    ASSERT_EQ(surface->Cls(), S_OK);
    EXPECT_EQ(FirstOtherPixel(dc, 9, 6, Rgb(kButtonFace)), "");

    EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), brush);
    POINT at = {};
    ::GetCurrentPositionEx(dc, &at);
    EXPECT_EQ(at.x, 3);
    EXPECT_EQ(at.y, 4);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(pen);
    ::DeleteObject(brush);
}

TEST_F(Surface, ForeAndBackColourKeepWhatWasGivenAndSetTheContextsColours) {
    auto surface = Create(registry.Get(), L"colours", 4, 4);
    ASSERT_TRUE(surface);
    HDC dc = DcOf(surface.Get());

    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(kButtonFace)), S_OK);
    EXPECT_EQ(static_cast<OLE_COLOR>(Get(surface.Get(), &_KivBitmap::get_ForeColor)), kButtonFace)
        << "a system colour stays a system colour";
    EXPECT_EQ(::GetTextColor(dc), Rgb(kButtonFace));

    const COLORREF olive = RGB(128, 128, 0), navy = RGB(0, 0, 128);
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(olive)), S_OK);
    EXPECT_EQ(Get(surface.Get(), &_KivBitmap::get_ForeColor), static_cast<LONG>(olive));
    EXPECT_EQ(::GetTextColor(dc), olive);

    ASSERT_EQ(surface->put_BackColor(static_cast<LONG>(navy)), S_OK);
    EXPECT_EQ(Get(surface.Get(), &_KivBitmap::get_BackColor), static_cast<LONG>(navy));
    EXPECT_EQ(::GetBkColor(dc), navy);
    EXPECT_EQ(::GetTextColor(dc), olive) << "each setter sets its own colour only";

    const OLE_COLOR windowText = 0x80000008;
    ASSERT_EQ(surface->put_BackColor(static_cast<LONG>(windowText)), S_OK);
    EXPECT_EQ(static_cast<OLE_COLOR>(Get(surface.Get(), &_KivBitmap::get_BackColor)), windowText);
    EXPECT_EQ(::GetBkColor(dc), Rgb(windowText));

    // A colour the platform cannot translate is kept as given and reaches the context as -1.
    Recorder recorder;
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(kUnknownSystemColour)), S_OK);
    ASSERT_EQ(surface->put_BackColor(static_cast<LONG>(kUnknownSystemColour)), S_OK);
    EXPECT_EQ(static_cast<OLE_COLOR>(Get(surface.Get(), &_KivBitmap::get_ForeColor)), kUnknownSystemColour);
    EXPECT_EQ(static_cast<OLE_COLOR>(Get(surface.Get(), &_KivBitmap::get_BackColor)), kUnknownSystemColour);
    ASSERT_EQ(recorder.Count("SetTextColor"), 1);
    ASSERT_EQ(recorder.Count("SetBkColor"), 1);
    EXPECT_EQ(recorder.Named("SetTextColor")[0].args[0], reinterpret_cast<std::intptr_t>(dc));
    EXPECT_EQ(static_cast<COLORREF>(recorder.Named("SetTextColor")[0].args[1]), CLR_INVALID);
    EXPECT_EQ(static_cast<COLORREF>(recorder.Named("SetBkColor")[0].args[1]), CLR_INVALID);
}

TEST_F(Surface, TransparentColourIsStoredTranslated) {
    auto surface = Create(registry.Get(), L"key", 4, 4);
    ASSERT_TRUE(surface);
    HDC dc = DcOf(surface.Get());
    const COLORREF text = ::GetTextColor(dc), back = ::GetBkColor(dc);

    Recorder recorder;
    struct Case {
        OLE_COLOR given;
        LONG stored;
    } cases[] = {
        {kButtonFace, static_cast<LONG>(Rgb(kButtonFace))},
        {0x80000005, static_cast<LONG>(Rgb(0x80000005))},  // the window background
        {RGB(12, 34, 56), static_cast<LONG>(RGB(12, 34, 56))},
        {kUnknownSystemColour, -1},
        {0, 0},
    };
    for (const Case& c : cases) {
        LONG variable = static_cast<LONG>(c.given);
        ASSERT_EQ(surface->put_TransparentColor(&variable), S_OK);
        EXPECT_EQ(variable, static_cast<LONG>(c.given)) << "the caller's variable is left as it was";
        EXPECT_EQ(Get(surface.Get(), &_KivBitmap::get_TransparentColor), c.stored) << std::hex << c.given;
    }
    // The context's colours are not the transparent colour's business.
    EXPECT_EQ(recorder.Count("SetTextColor") + recorder.Count("SetBkColor"), 0);
    EXPECT_EQ(::GetTextColor(dc), text);
    EXPECT_EQ(::GetBkColor(dc), back);
}

// The platform refuses one of the two objects of the surface: what was made is deleted, the
// surface that goes deletes its buffer palette and nothing else.
class RefusedAllocation : public Surface, public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedAllocation, DeletesWhatWasMadeAndThenOnlyThePalette) {
    const std::string refused = GetParam();
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    ComPtr<_KivBitmap> surface;
    Recorder recorder;
    recorder.answer = [&](platform::Call& call) {
        if (refused != call.name) return false;
        call.result = 0;
        return true;
    };
    surface = Create(registry.Get(), L"refused", 8, 8);
    EXPECT_FALSE(surface);
    EXPECT_EQ(CountOf(registry.Get()), 0);

    ASSERT_EQ(recorder.Count("CreateHalftonePalette"), 1);
    const std::intptr_t palette = recorder.Named("CreateHalftonePalette")[0].result;
    const std::intptr_t bitmap = recorder.Named("CreateCompatibleBitmap")[0].result;
    const std::intptr_t dc = recorder.Named("CreateCompatibleDC")[0].result;
    ASSERT_NE(palette, 0);

    // The deletions, in order: the one object that was made, then the palette.
    std::vector<std::string> seen;
    for (const auto& call : recorder.calls) {
        const std::string name = call.name;
        if (name == "DeleteObject" || name == "DeleteDC" || name == "SelectObject")
            seen.push_back(name + "(" + std::to_string(call.args[0]) + ")");
    }
    const std::vector<std::string> expected =
        refused == "CreateCompatibleBitmap"
            ? std::vector<std::string>{"DeleteDC(" + std::to_string(dc) + ")",
                                       "DeleteObject(" + std::to_string(palette) + ")"}
            : std::vector<std::string>{"DeleteObject(" + std::to_string(bitmap) + ")",
                                       "DeleteObject(" + std::to_string(palette) + ")"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(recorder.Count("FillRect"), 0) << "a surface that was not made is not cleared";
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
}

INSTANTIATE_TEST_SUITE_P(Refused, RefusedAllocation,
                         ::testing::Values("CreateCompatibleBitmap", "CreateCompatibleDC"));

// Without a buffer palette there is no surface: the error stays inside Create.
TEST_F(Surface, NoBufferPaletteMeansNoSurfaceAndNoError) {
    auto listed = Create(registry.Get(), L"listed", 3, 3);
    ASSERT_TRUE(listed);
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    const long objects = kiv::module::LiveObjects();

    Recorder recorder;
    recorder.answer = [](platform::Call& call) {
        if (std::string(call.name) != "CreateHalftonePalette") return false;
        call.result = 0;
        return true;
    };
    BSTR name = ::SysAllocString(L"x");
    short width = 8, height = 8;
    ComPtr<_KivBitmap> surface;
    EXPECT_EQ(registry->Create(&name, &width, &height, surface.Put()), S_OK);
    ::SysFreeString(name);
    EXPECT_FALSE(surface);
    ComPtr<IErrorInfo> error;
    EXPECT_NE(::GetErrorInfo(0, error.Put()), S_OK) << "an error object was left for the client";

    EXPECT_EQ(CountOf(registry.Get()), 1);
    EXPECT_EQ(recorder.Count("CreateCompatibleBitmap"), 0) << "a surface without a palette is not allocated";
    ASSERT_EQ(recorder.Count("GetDC"), 1);
    ASSERT_EQ(recorder.Count("ReleaseDC"), 1) << "the screen is given back also when no palette was made";
    EXPECT_EQ(recorder.Named("ReleaseDC")[0].args[1], recorder.Named("GetDC")[0].result);
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
    EXPECT_EQ(kiv::module::LiveObjects(), objects);
}

// Termination: palette, bitmap back out, bitmap, context, in this order, and nothing else.
TEST_F(Surface, TerminationDeletesItsObjectsInOrder) {
    std::intptr_t palette = 0, previous = 0;
    ComPtr<_KivBitmap> surface;
    {
        Recorder recorder;
        surface = Create(registry.Get(), L"ends", 6, 6);
        ASSERT_TRUE(surface);
        ASSERT_EQ(recorder.Count("CreateHalftonePalette"), 1);
        palette = recorder.Named("CreateHalftonePalette")[0].result;
        ASSERT_EQ(recorder.Count("SelectObject"), 1) << "only the bitmap is selected into the new context";
        previous = recorder.Named("SelectObject")[0].result;
    }
    const std::intptr_t dc = reinterpret_cast<std::intptr_t>(DcOf(surface.Get()));
    const std::intptr_t bitmap = Get(surface.Get(), &_KivBitmap::get_hBMP);
    ASSERT_EQ(registry->Clear(), S_OK);

    Recorder recorder;
    surface = nullptr;
    std::vector<std::string> seen;
    for (const auto& call : recorder.calls) {
        std::string line = call.name;
        for (int i = 0; i < call.argc; ++i) line += " " + std::to_string(call.args[i]);
        seen.push_back(line);
    }
    const std::vector<std::string> expected = {
        "DeleteObject " + std::to_string(palette),
        "SelectObject " + std::to_string(dc) + " " + std::to_string(previous),
        "DeleteObject " + std::to_string(bitmap),
        "DeleteDC " + std::to_string(dc),
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(::GetObjectType(reinterpret_cast<HGDIOBJ>(palette)), 0u);
    EXPECT_EQ(::GetObjectType(reinterpret_cast<HGDIOBJ>(bitmap)), 0u);
    EXPECT_EQ(::GetObjectType(reinterpret_cast<HGDIOBJ>(dc)), 0u);
}

// modAlloc's routines on their own.
class Routines : public ComTest {};

TEST_F(Routines, TranslateColorGivesThePlatformsRgbOrMinusOne) {
    for (OLE_COLOR colour : {OLE_COLOR(0), OLE_COLOR(0x00FFFFFF), OLE_COLOR(RGB(1, 2, 3)), kButtonFace,
                             OLE_COLOR(0x80000000), OLE_COLOR(0x80000012)}) {
        ASSERT_NE(Rgb(colour), CLR_INVALID) << std::hex << colour;
        EXPECT_EQ(modAlloc::TranslateColor(colour), static_cast<modAlloc::RgbValue>(Rgb(colour))) << std::hex << colour;
    }
    EXPECT_EQ(modAlloc::TranslateColor(RGB(1, 2, 3)), static_cast<modAlloc::RgbValue>(RGB(1, 2, 3)));
    for (OLE_COLOR refused : {kUnknownSystemColour, OLE_COLOR(0x7F000000), OLE_COLOR(0xFFFFFFFF)})
        EXPECT_EQ(modAlloc::TranslateColor(refused), -1) << std::hex << refused;

    // No palette is given, and the one passed is left as it was.
    Recorder recorder;
    const HPALETTE none = nullptr;
    modAlloc::TranslateColor(kButtonFace, none);
    ASSERT_EQ(recorder.Count("OleTranslateColor"), 1);
    EXPECT_EQ(recorder.Named("OleTranslateColor")[0].args[1], 0);
}

TEST_F(Routines, FillAreaFillsExactlyTheRectangle) {
    const COLORREF white = RGB(255, 255, 255), red = RGB(220, 20, 60);
    ColourTarget target(12, 12, white);
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    HGDIOBJ brush = ::GetCurrentObject(target.Dc(), OBJ_BRUSH);
    Recorder recorder;
    modAlloc::FillArea(target.Dc(), 2, 3, 4, 5, red);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 3 && y < 8;
            ASSERT_EQ(PixelAt(target.Dc(), x, y), inside ? red : white) << "(" << x << ", " << y << ")";
        }
    EXPECT_EQ(recorder.Count("SelectObject"), 0) << "nothing is selected into the context";
    EXPECT_EQ(::GetCurrentObject(target.Dc(), OBJ_BRUSH), brush);
    EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "the brush lives for the call only";

    modAlloc::FillArea(target.Dc(), 0, 0, 1, 1, kButtonFace);
    EXPECT_EQ(PixelAt(target.Dc(), 0, 0), Rgb(kButtonFace));
    EXPECT_EQ(PixelAt(target.Dc(), 1, 0), white);

    recorder.Clear();
    modAlloc::FillArea(nullptr, 0, 0, 5, 5, red);
    EXPECT_TRUE(recorder.calls.empty()) << "a context of 0 gets no platform call at all";
}

TEST_F(Routines, CreateBufferPaletteMakesAHalftonePaletteAndGivesTheScreenBack) {
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    {
        Recorder recorder;
        HPALETTE palette = modAlloc::CreateBufferPalette();
        ASSERT_NE(palette, nullptr);
        EXPECT_EQ(::GetObjectType(palette), static_cast<DWORD>(OBJ_PAL));
        ASSERT_EQ(recorder.Count("CreateHalftonePalette"), 1);
        EXPECT_EQ(recorder.Named("CreateHalftonePalette")[0].args[0], recorder.Named("GetDC")[0].result);
        EXPECT_EQ(recorder.Named("GetDC")[0].args[0], 0) << "the whole screen";
        EXPECT_EQ(kivtest::LiveGdiObjects().screenDCs, before.screenDCs);
        EXPECT_EQ(kivtest::LiveGdiObjects().palettes, before.palettes + 1);
        platform::DeleteObject(palette);
    }
    {
        Recorder recorder;
        recorder.answer = [](platform::Call& call) {
            if (std::string(call.name) != "GetDC") return false;
            call.result = 0;
            return true;
        };
        EXPECT_EQ(modAlloc::CreateBufferPalette(), nullptr);
        EXPECT_EQ(recorder.Count("CreateHalftonePalette"), 0) << "no screen, no palette";
        EXPECT_EQ(recorder.Count("ReleaseDC"), 0);
    }
    {
        Recorder recorder;
        recorder.answer = [](platform::Call& call) {
            if (std::string(call.name) != "CreateHalftonePalette") return false;
            call.result = 0;
            return true;
        };
        EXPECT_EQ(modAlloc::CreateBufferPalette(), nullptr);
        EXPECT_EQ(recorder.Count("ReleaseDC"), 1);
    }
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
}

// Construction on its own: without a palette it raises -1 with its description.
TEST_F(Routines, ASurfaceWithoutBufferPaletteRaisesMinusOne) {
    const long objects = kiv::module::LiveObjects();
    Recorder recorder;
    recorder.answer = [](platform::Call& call) {
        if (std::string(call.name) != "CreateHalftonePalette") return false;
        call.result = 0;
        return true;
    };
    try {
        auto surface = kiv::MakeObject<kiv::KivBitmap>();
        FAIL() << "a surface without a buffer palette was made";
    } catch (const kiv::RuntimeError& error) {
        EXPECT_EQ(error.Number(), -1);
        EXPECT_EQ(error.Description(), L"Unable to create buffer palette");
    }
    EXPECT_EQ(kiv::module::LiveObjects(), objects);
}

}  // namespace
