// The surface's shapes: which pixels DrawBox, DrawLine, DrawElipse and DrawCircle colour, in which
// colour, and that they leave the surface's device context with the pen and brush it had.
#include "surface_fixture.h"

#include <functional>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr OLE_COLOR kButtonFace = 0x8000000F;

// A pixel that a check leaves out.
constexpr COLORREF kAny = CLR_INVALID;

// Every pixel of `pixels` is what `expected(x, y)` says (kAny: whatever it is).
void ExpectPixels(const Pixels& pixels, const std::function<COLORREF(int, int)>& expected) {
    int wrong = 0;
    for (int y = 0; y < pixels.height; ++y) {
        for (int x = 0; x < pixels.width; ++x) {
            const COLORREF want = expected(x, y);
            if (want != kAny && pixels.At(x, y) != want && ++wrong <= 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is 0x" << std::hex << pixels.At(x, y)
                              << ", not 0x" << want;
        }
    }
    EXPECT_EQ(wrong, 0);
}

// `inside` where `in(x, y)` holds, `outside` elsewhere.
std::function<COLORREF(int, int)> Where(std::function<bool(int, int)> in, COLORREF inside, COLORREF outside) {
    return [=](int x, int y) { return in(x, y) ? inside : outside; };
}

int Differences(const Pixels& a, const Pixels& b) {
    int count = 0;
    for (size_t i = 0; i < a.values.size(); ++i) count += a.values[i] != b.values[i];
    return count;
}

class DrawBox : public SurfaceTest {
protected:
    HRESULT Box(short left, short top, short width, short height, LONG* color) {
        return surface->DrawBox(&left, &top, &width, &height, color);
    }
    HRESULT Box(short left, short top, short width, short height, LONG color) {
        return Box(left, top, width, height, &color);
    }
    static std::function<bool(int, int)> Area(int left, int top, int width, int height) {
        return [=](int x, int y) { return x >= left && x < left + width && y >= top && y < top + height; };
    }
};

TEST_F(DrawBox, ColoursExactlyItsWidthByHeightPixels) {
    ASSERT_EQ(Box(2, 3, 4, 5, static_cast<LONG>(kRed)), S_OK);
    ExpectPixels(Read(), Where(Area(2, 3, 4, 5), kRed, kBackground));

    ASSERT_EQ(Box(2, 3, 4, 5, static_cast<LONG>(kBackground)), S_OK);
    ASSERT_EQ(Box(7, 9, 1, 1, static_cast<LONG>(kRed)), S_OK);
    ExpectPixels(Read(), Where(Area(7, 9, 1, 1), kRed, kBackground));
}

TEST_F(DrawBox, ColourMinusOneDrawsTheOutlineOnlyWithThatPenColour) {
    ASSERT_EQ(Box(5, 6, 10, 8, static_cast<LONG>(kGreen)), S_OK);
    Recorder recorder;
    ASSERT_EQ(Box(5, 6, 10, 8, -1), S_OK);
    EXPECT_EQ(recorder.Count("FillRect"), 0);
    EXPECT_EQ(recorder.Count("CreateSolidBrush"), 0);
    ASSERT_EQ(recorder.Count("CreatePen"), 1);
    const auto pen = recorder.Named("CreatePen")[0];
    EXPECT_EQ(pen.args[0], PS_SOLID);
    EXPECT_EQ(pen.args[1], 1);
    EXPECT_EQ(static_cast<COLORREF>(pen.args[2]), 0xFFFFFFFFu);
    EXPECT_EQ(recorder.Count("LineTo"), 4);
    // Whatever the platform makes of that pen, the inside and the outside stay as they were.
    const auto inside = Area(6, 7, 8, 6);
    const auto box = Area(5, 6, 10, 8);
    ExpectPixels(Read(), [&](int x, int y) { return inside(x, y) ? kGreen : box(x, y) ? kAny : kBackground; });
}

TEST_F(DrawBox, ZeroOrNoColourDrawsInTheForeColourOfTheMoment) {
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(kBlue)), S_OK);
    ASSERT_EQ(Box(1, 1, 3, 3, nullptr), S_OK);
    ASSERT_EQ(Box(10, 1, 3, 3, 0L), S_OK);
    const Pixels blue = Read();
    ExpectPixels(blue, Where([](int x, int y) { return y >= 1 && y < 4 && ((x >= 1 && x < 4) || (x >= 10 && x < 13)); },
                             kBlue, kBackground));

    // The stored OLE colour is translated when drawn with: a system colour gives its RGB value now.
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(kButtonFace)), S_OK);
    ASSERT_EQ(Box(20, 20, 2, 2, nullptr), S_OK);
    EXPECT_EQ(PixelAt(dc, 20, 20), Rgb(kButtonFace));
    EXPECT_EQ(PixelAt(dc, 21, 21), Rgb(kButtonFace));
}

TEST_F(DrawBox, ASystemColourDrawsInItsCurrentRgbValue) {
    ASSERT_NE(Rgb(kButtonFace), kBackground);
    ASSERT_EQ(Box(4, 4, 6, 3, static_cast<LONG>(kButtonFace)), S_OK);
    ExpectPixels(Read(), Where(Area(4, 4, 6, 3), Rgb(kButtonFace), kBackground));
}

TEST_F(DrawBox, TheOutlineIsOnePathFromTheTopRightCorner) {
    Recorder recorder;
    ASSERT_EQ(Box(3, 4, 6, 5, static_cast<LONG>(kRed)), S_OK);
    const long x = 3, y = 4, x2 = 3 + 6 - 1, y2 = 4 + 5 - 1;
    std::vector<std::vector<long>> path;
    for (const auto& call : recorder.calls) {
        const std::string name = call.name;
        if (name == "MoveToEx" || name == "LineTo")
            path.push_back({name == "MoveToEx" ? 0L : 1L, static_cast<long>(call.args[1]),
                            static_cast<long>(call.args[2])});
    }
    const std::vector<std::vector<long>> expected = {
        {0, x2, y}, {1, x, y}, {1, x, y2}, {1, x2, y2}, {1, x2, y}};
    EXPECT_EQ(path, expected);
    // The fill comes first, with a brush of the same colour.
    ASSERT_EQ(recorder.Count("CreateSolidBrush"), 1);
    EXPECT_EQ(static_cast<COLORREF>(recorder.Named("CreateSolidBrush")[0].args[0]), kRed);
    EXPECT_EQ(static_cast<COLORREF>(recorder.Named("CreatePen")[0].args[2]), kRed);
    const POINT at = CurrentPosition();
    EXPECT_EQ(at.x, x2);
    EXPECT_EQ(at.y, y);
}

class DrawLine : public SurfaceTest {};

TEST_F(DrawLine, CoversItsStartAndStopsOnePixelShortOfItsEnd) {
    OLE_COLOR red = kRed;
    ASSERT_EQ(surface->DrawLine(0, 0, 10, 0, &red), S_OK);
    ExpectPixels(Read(), Where([](int x, int y) { return y == 0 && x < 10; }, kRed, kBackground));
    const POINT at = CurrentPosition();
    EXPECT_EQ(at.x, 10);
    EXPECT_EQ(at.y, 0);
}

TEST_F(DrawLine, MinusOneOrNoColourIsTheForeColourAndZeroIsBlack) {
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(kGreen)), S_OK);
    {
        Recorder recorder;
        ASSERT_EQ(surface->DrawLine(0, 1, 5, 1, nullptr), S_OK);
        // Both colours are translated, the foreground colour first.
        const auto translations = recorder.Named("OleTranslateColor");
        ASSERT_EQ(translations.size(), 2u);
        EXPECT_EQ(static_cast<OLE_COLOR>(translations[0].args[0]), kGreen);
        EXPECT_EQ(static_cast<OLE_COLOR>(translations[1].args[0]), static_cast<OLE_COLOR>(-1));
    }
    OLE_COLOR minusOne = static_cast<OLE_COLOR>(-1);
    ASSERT_EQ(surface->DrawLine(0, 3, 5, 3, &minusOne), S_OK);
    OLE_COLOR black = 0;
    ASSERT_EQ(surface->DrawLine(0, 5, 5, 5, &black), S_OK);
    EXPECT_EQ(black, 0u);
    ExpectPixels(Read(), [](int x, int y) {
        if (x >= 5) return kBackground;
        return y == 1 || y == 3 ? kGreen : y == 5 ? RGB(0, 0, 0) : kBackground;
    });
}

class Ellipses : public SurfaceTest {};

TEST_F(Ellipses, ACircleIsTheEllipseOfItsBoundingSquare) {
    auto circle = NewSurface(L"circle", 128, 128);
    auto ellipse = NewSurface(L"ellipse", 128, 128);
    ASSERT_TRUE(circle && ellipse);
    const Pixels blank = ReadPixels(DcOf(circle.Get()), 128, 128);

    short cx = 100, cy = 100, radius = 10;
    Recorder recorder;
    ASSERT_EQ(circle->DrawCircle(&cx, &cy, &radius), S_OK);
    short l = 90, t = 90, r = 110, b = 110;
    ASSERT_EQ(ellipse->DrawElipse(&l, &t, &r, &b), S_OK);

    const auto ellipses = recorder.Named("Ellipse");
    ASSERT_EQ(ellipses.size(), 2u);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(ellipses[0].args[i], ellipses[1].args[i]);
    EXPECT_EQ(cx, 100);
    EXPECT_EQ(radius, 10);

    const Pixels a = ReadPixels(DcOf(circle.Get()), 128, 128);
    const Pixels b2 = ReadPixels(DcOf(ellipse.Get()), 128, 128);
    EXPECT_GT(Differences(a, blank), 200) << "the circle drew too little";
    EXPECT_EQ(Differences(a, b2), 0);
}

TEST_F(Ellipses, ACircleThatOverflowsSixteenBitsDrawsNothing) {
    const Pixels before = Read();
    Recorder recorder;
    short left = 32760, top = 0, radius = 10;
    EXPECT_EQ(surface->DrawCircle(&left, &top, &radius), S_OK);
    short left2 = 5, top2 = -32760;
    EXPECT_EQ(surface->DrawCircle(&left2, &top2, &radius), S_OK);
    EXPECT_EQ(recorder.Count("Ellipse"), 0);
    EXPECT_EQ(Differences(Read(), before), 0);
    ComPtr<IErrorInfo> error;
    EXPECT_NE(::GetErrorInfo(0, error.Put()), S_OK) << "an error object was left for the client";
}

TEST_F(Ellipses, UseTheDeviceContextsPenAndBrush) {
    // A new surface: the platform's black pen and white brush, whatever the surface's colours.
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(kRed)), S_OK);
    ASSERT_EQ(surface->put_BackColor(static_cast<LONG>(kGreen)), S_OK);
    Recorder recorder;
    short l = 2, t = 2, r = 22, b = 22;
    ASSERT_EQ(surface->DrawElipse(&l, &t, &r, &b), S_OK);
    EXPECT_EQ(recorder.Count("SelectObject"), 0);
    EXPECT_EQ(recorder.Count("CreatePen") + recorder.Count("CreateSolidBrush"), 0);
    const Pixels first = Read();
    EXPECT_EQ(first.At(12, 12), RGB(255, 255, 255));
    int black = 0, other = 0;
    for (COLORREF pixel : first.values) {
        if (pixel == RGB(0, 0, 0)) ++black;
        else if (pixel != RGB(255, 255, 255) && pixel != kBackground) ++other;
    }
    EXPECT_GT(black, 40);
    EXPECT_EQ(other, 0);
    // Along the middle row the outline comes first, then the interior.
    int x = 0;
    while (x < kWidth && first.At(x, 12) == kBackground) ++x;
    EXPECT_EQ(first.At(x, 12), RGB(0, 0, 0));

    // The client's own pen and brush, selected through hDC, are what the next ellipses use.
    HPEN pen = ::CreatePen(PS_SOLID, 1, kBlue);
    HBRUSH brush = ::CreateSolidBrush(kRed);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, brush);
    ASSERT_EQ(surface->Cls(), S_OK);
    ASSERT_EQ(surface->DrawElipse(&l, &t, &r, &b), S_OK);
    short cx = 30, cy = 15, radius = 6;
    ASSERT_EQ(surface->DrawCircle(&cx, &cy, &radius), S_OK);
    const Pixels second = Read();
    EXPECT_EQ(second.At(12, 12), kRed);
    EXPECT_EQ(second.At(30, 15), kRed);
    x = 0;
    while (x < kWidth && second.At(x, 12) == kGreen) ++x;
    EXPECT_EQ(second.At(x, 12), kBlue);
    x = 22;
    while (x < kWidth && second.At(x, 15) == kGreen) ++x;
    EXPECT_EQ(second.At(x, 15), kBlue);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), brush);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(pen);
    ::DeleteObject(brush);
}

class Objects : public SurfaceTest {};

TEST_F(Objects, AClientsPenSurvivesBoxesAndLines) {
    HPEN pen = ::CreatePen(PS_SOLID, 1, kBlue);
    HGDIOBJ old = ::SelectObject(dc, pen);
    short l = 1, t = 1, w = 5, h = 5;
    LONG red = static_cast<LONG>(kRed);
    ASSERT_EQ(surface->DrawBox(&l, &t, &w, &h, &red), S_OK);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(::GetObjectType(pen), static_cast<DWORD>(OBJ_PEN));
    OLE_COLOR green = kGreen;
    ASSERT_EQ(surface->DrawLine(0, 20, 30, 20, &green), S_OK);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(::GetObjectType(pen), static_cast<DWORD>(OBJ_PEN));
    // The members drew with their own pens, not with the client's.
    EXPECT_EQ(PixelAt(dc, 1, 1), kRed);
    EXPECT_EQ(PixelAt(dc, 0, 20), kGreen);
    // And the client's pen still draws.
    ::MoveToEx(dc, 0, 25, nullptr);
    ::LineTo(dc, 3, 25);
    EXPECT_EQ(PixelAt(dc, 1, 25), kBlue);
    ::SelectObject(dc, old);
    ::DeleteObject(pen);
}

TEST_F(Objects, EveryMemberGivesBackWhatItMadeAndSelected) {
    short l = 2, t = 2, w = 6, h = 4, r = 20, b = 20, radius = 5;
    LONG red = static_cast<LONG>(kRed), none = -1;
    OLE_COLOR blue = kBlue;
    Text text(L"Abc");
    const std::vector<std::pair<const char*, std::function<HRESULT()>>> members = {
        {"DrawBox", [&] { return surface->DrawBox(&l, &t, &w, &h, &red); }},
        {"DrawBox outline", [&] { return surface->DrawBox(&l, &t, &w, &h, &none); }},
        {"DrawLine", [&] { return surface->DrawLine(0, 0, 9, 9, &blue); }},
        {"DrawElipse", [&] { return surface->DrawElipse(&l, &t, &r, &b); }},
        {"DrawCircle", [&] { return surface->DrawCircle(&r, &r, &radius); }},
        {"BPrint", [&] { return surface->BPrint(&l, &t, text.Ref()); }},
    };
    const int madeExpected[] = {2, 1, 1, 0, 0, 1};
    for (size_t i = 0; i < members.size(); ++i) {
        SCOPED_TRACE(members[i].first);
        const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
        const HGDIOBJ pen = ::GetCurrentObject(dc, OBJ_PEN);
        const HGDIOBJ brush = ::GetCurrentObject(dc, OBJ_BRUSH);
        const HGDIOBJ font = ::GetCurrentObject(dc, OBJ_FONT);
        Recorder recorder;
        ASSERT_EQ(members[i].second(), S_OK);
        EXPECT_EQ(ExpectMadeSelectedRestoredDeleted(recorder, dc), madeExpected[i]);
        EXPECT_EQ(kivtest::LiveGdiObjects(), before);
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), pen);
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), brush);
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), font);
    }
}

TEST_F(Objects, AThousandMixedCallsLeaveNoObjectBehind) {
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    const HGDIOBJ pen = ::GetCurrentObject(dc, OBJ_PEN);
    const HGDIOBJ brush = ::GetCurrentObject(dc, OBJ_BRUSH);
    const HGDIOBJ font = ::GetCurrentObject(dc, OBJ_FONT);
    unsigned seed = 12345;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<short>((seed >> 16) % static_cast<unsigned>(range));
    };
    Text text(L"Kiv 123");
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        short a = next(kWidth), b = next(kHeight), c = next(12), d = next(12);
        LONG colours[] = {0, -1, static_cast<LONG>(kRed), static_cast<LONG>(kButtonFace)};
        LONG colour = colours[next(4)];
        OLE_COLOR lineColour = static_cast<OLE_COLOR>(colours[next(4)]);
        HRESULT status = S_OK;
        switch (i % 6) {
        case 0: status = surface->DrawBox(&a, &b, &c, &d, next(2) ? &colour : nullptr); break;
        case 1: status = surface->DrawLine(a, b, c, d, next(2) ? &lineColour : nullptr); break;
        case 2: status = surface->DrawElipse(&a, &b, &c, &d); break;
        case 3: status = surface->DrawCircle(&a, &b, &c); break;
        case 4: {
            short size = static_cast<short>(8 + next(20));
            VARIANT_BOOL flag = next(2) ? VARIANT_TRUE : VARIANT_FALSE;
            surface->put_FontSize(&size);
            surface->put_FontBold(&flag);
            surface->put_FontItalic(&flag);
            status = surface->BPrint(&a, &b, text.Ref());
            break;
        }
        default: status = surface->put_ForeColor(colour); break;
        }
        failures += status != S_OK;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_BRUSH), brush);
    EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), font);
}

}  // namespace
