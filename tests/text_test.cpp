// The surface's five font settings and BPrint: the font asked of the platform, the text handed to it,
// the opaque box behind the text, and the device context left as it was.
#include "surface_fixture.h"

#include <string>
#include <vector>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

constexpr COLORREF kInk = RGB(0, 0, 255);
constexpr COLORREF kPaper = RGB(255, 255, 0);

std::string Ansi(const std::wstring& text, UINT codePage = CP_ACP) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
}

class TextTest : public SurfaceTest {
protected:
    // The one CreateFontA call of a BPrint of "x".
    kivtest::RecordedCall FontAskedFor() {
        Recorder recorder;
        short left = 0, top = 0;
        Text text(L"x");
        EXPECT_EQ(surface->BPrint(&left, &top, text.Ref()), S_OK);
        const auto fonts = recorder.Named("CreateFontA");
        EXPECT_EQ(fonts.size(), 1u);
        return fonts.empty() ? kivtest::RecordedCall{} : fonts[0];
    }
    std::wstring FontName() {
        BSTR name = nullptr;
        EXPECT_EQ(surface->get_FontName(&name), S_OK);
        std::wstring out(name ? name : L"", name ? ::SysStringLen(name) : 0);
        ::SysFreeString(name);
        return out;
    }
};

using Fonts = TextTest;

TEST_F(Fonts, ANewSurfaceAsksForTheDefaultFont) {
    const kivtest::RecordedCall font = FontAskedFor();
    ASSERT_EQ(font.argc, 14);
    const std::intptr_t expected[13] = {8, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0x50};
    for (int i = 0; i < 13; ++i) EXPECT_EQ(font.args[i], expected[i]) << "argument " << i;
    EXPECT_EQ(font.args[8], 1);
    EXPECT_EQ(font.text, "MS Sans Serif");
    EXPECT_NE(font.args[13], 0);
}

TEST_F(Fonts, TheSettingsReachThePlatformAsStored) {
    short size = 20;
    ASSERT_EQ(surface->put_FontSize(&size), S_OK);
    EXPECT_EQ(FontAskedFor().args[0], 20) << "the size is a height in pixels, not scaled";
    size = -12;
    ASSERT_EQ(surface->put_FontSize(&size), S_OK);
    EXPECT_EQ(FontAskedFor().args[0], -12);

    VARIANT_BOOL flag = VARIANT_TRUE;
    ASSERT_EQ(surface->put_FontBold(&flag), S_OK);
    EXPECT_EQ(FontAskedFor().args[4], 1100);
    flag = 1;
    ASSERT_EQ(surface->put_FontBold(&flag), S_OK);
    EXPECT_EQ(FontAskedFor().args[4], 400) << "only -1 is bold";

    flag = 1;
    ASSERT_EQ(surface->put_FontItalic(&flag), S_OK);
    ASSERT_EQ(surface->put_FontUnderline(&flag), S_OK);
    kivtest::RecordedCall font = FontAskedFor();
    EXPECT_EQ(static_cast<DWORD>(font.args[5]), 1u);
    EXPECT_EQ(static_cast<DWORD>(font.args[6]), 1u);
    EXPECT_EQ(font.args[7], 0) << "never struck out";

    flag = VARIANT_TRUE;
    ASSERT_EQ(surface->put_FontItalic(&flag), S_OK);
    ASSERT_EQ(surface->put_FontUnderline(&flag), S_OK);
    font = FontAskedFor();
    EXPECT_EQ(static_cast<DWORD>(font.args[5]), 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<DWORD>(font.args[6]), 0xFFFFFFFFu);

    Text face(L"Caf\u00e9 Sans");
    ASSERT_EQ(surface->put_FontName(face.Ref()), S_OK);
    EXPECT_EQ(FontAskedFor().text, Ansi(L"Caf\u00e9 Sans"));
}

TEST_F(Fonts, PropertiesReadBackExactlyWhatWasWritten) {
    for (const std::wstring& name : {std::wstring(), std::wstring(L"Arial"), std::wstring(L" x\u00e9\u65e5 ")}) {
        Text value(name);
        ASSERT_EQ(surface->put_FontName(value.Ref()), S_OK);
        EXPECT_EQ(FontName(), name);
    }
    BSTR none = nullptr;
    ASSERT_EQ(surface->put_FontName(&none), S_OK);
    EXPECT_EQ(FontName(), L"");

    for (short value : {short(0), short(-1), short(-32768), short(32767), short(20)}) {
        short in = value, out = 1234;
        ASSERT_EQ(surface->put_FontSize(&in), S_OK);
        ASSERT_EQ(surface->get_FontSize(&out), S_OK);
        EXPECT_EQ(out, value);
    }

    using Put = HRESULT (STDMETHODCALLTYPE _KivBitmap::*)(VARIANT_BOOL*);
    using Get = HRESULT (STDMETHODCALLTYPE _KivBitmap::*)(VARIANT_BOOL*);
    const std::pair<Put, Get> flags[] = {{&_KivBitmap::put_FontBold, &_KivBitmap::get_FontBold},
                                         {&_KivBitmap::put_FontItalic, &_KivBitmap::get_FontItalic},
                                         {&_KivBitmap::put_FontUnderline, &_KivBitmap::get_FontUnderline}};
    for (const auto& [put, get] : flags) {
        for (VARIANT_BOOL value : {VARIANT_BOOL(1), VARIANT_BOOL(2), VARIANT_BOOL(-2), VARIANT_BOOL(0x7FFF),
                                   VARIANT_BOOL(-32768), VARIANT_TRUE, VARIANT_FALSE}) {
            VARIANT_BOOL in = value, out = 99;
            ASSERT_EQ((surface.Get()->*put)(&in), S_OK);
            ASSERT_EQ((surface.Get()->*get)(&out), S_OK);
            EXPECT_EQ(out, value);
        }
    }
}

using BPrint = TextTest;

TEST_F(BPrint, HandsTheTextAndItsPositionToThePlatform) {
    Recorder recorder;
    short left = -3, top = 7;
    Text text(L"Hello");
    ASSERT_EQ(surface->BPrint(&left, &top, text.Ref()), S_OK);
    const auto outputs = recorder.Named("TextOutA");
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(outputs[0].args[0], reinterpret_cast<std::intptr_t>(dc));
    EXPECT_EQ(outputs[0].args[1], -3);
    EXPECT_EQ(outputs[0].args[2], 7);
    EXPECT_EQ(outputs[0].text, "Hello");
    EXPECT_EQ(outputs[0].args[4], 5);
    EXPECT_EQ(left, -3);
    EXPECT_EQ(top, 7);
}

TEST_F(BPrint, EmptyTextStillMakesSelectsRestoresAndDeletesOneFont) {
    const Pixels before = Read();
    for (bool null : {false, true}) {
        SCOPED_TRACE(null ? "null string" : "empty string");
        Text empty(L"");
        BSTR none = nullptr;
        Recorder recorder;
        short left = 4, top = 5;
        ASSERT_EQ(surface->BPrint(&left, &top, null ? &none : empty.Ref()), S_OK);
        EXPECT_EQ(recorder.Count("CreateFontA"), 1);
        EXPECT_EQ(ExpectMadeSelectedRestoredDeleted(recorder, dc), 1);
        const auto outputs = recorder.Named("TextOutA");
        ASSERT_EQ(outputs.size(), 1u);
        EXPECT_EQ(outputs[0].args[1], 4);
        EXPECT_EQ(outputs[0].args[2], 5);
        EXPECT_EQ(outputs[0].args[4], 0);
    }
    const Pixels after = Read();
    EXPECT_EQ(after.values, before.values);
}

TEST_F(BPrint, TextSitsOnAnOpaqueBoxOfTheBackgroundColour) {
    constexpr short kW = 160, kH = 50;
    auto wide = NewSurface(L"wide", kW, kH);
    ASSERT_TRUE(wide);
    HDC wideDc = DcOf(wide.Get());
    const Pixels below = ReadPixels(wideDc, kW, kH);
    ASSERT_EQ(wide->put_ForeColor(static_cast<LONG>(kInk)), S_OK);
    ASSERT_EQ(wide->put_BackColor(static_cast<LONG>(kPaper)), S_OK);
    short size = 18;
    ASSERT_EQ(wide->put_FontSize(&size), S_OK);

    short left = 5, top = 6;
    Text text(L"  HiH");
    ASSERT_EQ(wide->BPrint(&left, &top, text.Ref()), S_OK);
    const Pixels after = ReadPixels(wideDc, kW, kH);

    // The cells of the text, measured with the same font as the platform makes it.
    HFONT same = ::CreateFontA(18, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0x50, "MS Sans Serif");
    ASSERT_NE(same, nullptr);
    HGDIOBJ previous = ::SelectObject(wideDc, same);
    SIZE all{}, spaces{};
    ::GetTextExtentPoint32A(wideDc, "  HiH", 5, &all);
    ::GetTextExtentPoint32A(wideDc, "  ", 2, &spaces);
    ::SelectObject(wideDc, previous);
    ::DeleteObject(same);
    ASSERT_GT(all.cx, spaces.cx);
    ASSERT_GT(spaces.cx, 0);
    ASSERT_LT(left + all.cx, kW);
    ASSERT_LT(top + all.cy, kH);

    int ink = 0, paper = 0, untouched = 0, outsideChanged = 0, spaceNotPaper = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const COLORREF pixel = after.At(x, y);
            const bool inBox = x >= left && x < left + all.cx && y >= top && y < top + all.cy;
            if (!inBox) {
                outsideChanged += pixel != below.At(x, y);
                continue;
            }
            ink += pixel == kInk;
            paper += pixel == kPaper;
            untouched += pixel == below.At(x, y);
            if (x < left + spaces.cx) spaceNotPaper += pixel != kPaper;
        }
    }
    EXPECT_EQ(outsideChanged, 0);
    EXPECT_EQ(untouched, 0) << "a pixel of the text's box kept what was below it";
    EXPECT_EQ(spaceNotPaper, 0) << "the cells of the spaces are not all background colour";
    EXPECT_GT(ink, 10);
    EXPECT_GT(paper, all.cx * all.cy / 2);
}

TEST_F(BPrint, LeavesTheDeviceContextAsItWas) {
    HFONT mine = ::CreateFontA(-11, 0, 0, 0, 700, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
    ASSERT_NE(mine, nullptr);
    HGDIOBJ previous = ::SelectObject(dc, mine);
    OLE_COLOR red = RGB(255, 0, 0);
    ASSERT_EQ(surface->DrawLine(1, 1, 17, 9, &red), S_OK);
    const COLORREF textColour = ::GetTextColor(dc);
    const COLORREF backColour = ::GetBkColor(dc);
    const int mode = ::GetBkMode(dc);
    const UINT align = ::GetTextAlign(dc);
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();

    Recorder recorder;
    short left = 2, top = 3;
    Text text(L"Mine");
    ASSERT_EQ(surface->BPrint(&left, &top, text.Ref()), S_OK);
    EXPECT_EQ(ExpectMadeSelectedRestoredDeleted(recorder, dc), 1);
    const auto selects = recorder.Named("SelectObject");
    ASSERT_EQ(selects.size(), 2u);
    EXPECT_EQ(selects[0].result, reinterpret_cast<std::intptr_t>(mine));
    EXPECT_EQ(selects[1].args[1], reinterpret_cast<std::intptr_t>(mine));

    EXPECT_EQ(::GetCurrentObject(dc, OBJ_FONT), mine);
    EXPECT_EQ(::GetObjectType(mine), static_cast<DWORD>(OBJ_FONT));
    EXPECT_EQ(::GetTextColor(dc), textColour);
    EXPECT_EQ(::GetBkColor(dc), backColour);
    EXPECT_EQ(::GetBkMode(dc), mode);
    EXPECT_EQ(::GetTextAlign(dc), align);
    const POINT at = CurrentPosition();
    EXPECT_EQ(at.x, 17);
    EXPECT_EQ(at.y, 9);
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
    ::SelectObject(dc, previous);
    ::DeleteObject(mine);
}

TEST_F(BPrint, AFontThatCannotBeMadeDrawsNothing) {
    const Pixels before = Read();
    Recorder recorder;
    recorder.answer = [](platform::Call& call) {
        if (std::string(call.name) != "CreateFontA") return false;
        call.result = 0;
        return true;
    };
    short left = 1, top = 1;
    Text text(L"Nothing");
    EXPECT_EQ(surface->BPrint(&left, &top, text.Ref()), S_OK);
    EXPECT_EQ(recorder.Count("CreateFontA"), 1);
    EXPECT_EQ(recorder.Count("SelectObject"), 0);
    EXPECT_EQ(recorder.Count("TextOutA"), 0);
    EXPECT_EQ(recorder.Count("DeleteObject"), 0);
    EXPECT_EQ(Read().values, before.values);
}

}  // namespace
