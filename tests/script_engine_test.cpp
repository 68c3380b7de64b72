// A script engine inside the test program calls a surface as a script client does: names looked up on
// every access, numbers as the engine types them (a literal -1 is an Integer), variables by reference.
#include "TestSupport.h"
#include "ScriptHost.h"

#include <cstdio>

using namespace kivtest;

namespace {

class ScriptClient : public ControlTest {};

TEST_F(ScriptClient, AColourOfMinusOneDrawsInTheForegroundColour) {
    ComPtr<_KivBitmap> surface = Create(registry.Get(), L"s", 12, 8);
    ASSERT_TRUE(surface);
    const COLORREF before = PixelAt(DcOf(surface.Get()), 4, 1);
    {
        demo::ScriptHost script([](const std::wstring& line) { std::printf("%ls\n", line.c_str()); });
        script.Add(L"s", surface.As<IDispatch>(IID_IDispatch).Get());
        EXPECT_TRUE(script.Run(L"s.ForeColor = RGB(10, 200, 30)\n"
                               L"s.DrawLine 0, 1, 9, 1, -1\n"
                               L"c = -1\n"
                               L"s.DrawLine 0, 3, 9, 3, c\n"
                               L"s.DrawLine 0, 5, 9, 5, &HFF\n"));
    }
    HDC dc = DcOf(surface.Get());
    EXPECT_NE(before, RGB(10, 200, 30));
    EXPECT_EQ(PixelAt(dc, 4, 1), RGB(10, 200, 30)) << "a literal -1";
    EXPECT_EQ(PixelAt(dc, 4, 3), RGB(10, 200, 30)) << "a variable holding -1";
    EXPECT_EQ(PixelAt(dc, 4, 5), RGB(255, 0, 0)) << "an RGB value";
    EXPECT_EQ(PixelAt(dc, 4, 2), before) << "nothing between the lines";
}

}  // namespace
