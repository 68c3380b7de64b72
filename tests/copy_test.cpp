// Copy: the opaque block transfer and the masked transparent copy, seen in the target's pixels, in the
// surface's own device context, in the platform objects held, and in the platform calls made.
#include "TestSupport.h"

#include <map>
#include <optional>
#include <sstream>
#include <utility>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

constexpr short kWidth = 6;
constexpr short kHeight = 4;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kTargetFill = RGB(20, 140, 220);

// A distinct colour for every pixel of the surface, none of them black, red or the target's fill.
COLORREF PatternAt(int x, int y) { return RGB(30 + 35 * x, 60 + 40 * y, 90 + 10 * x + 5 * y); }

// The colour of every pixel of a width by height area.
std::vector<COLORREF> Pixels(HDC dc, int width, int height) {
    std::vector<COLORREF> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back(PixelAt(dc, x, y));
    return out;
}

// A target whose pixels differ from each other, so that a misplaced copy shows.
void PaintTargetPattern(HDC dc, int width, int height) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ::SetPixelV(dc, x, y, RGB(200 - 7 * x, 100 + 9 * y, 50 + 3 * x));
}

class CopyTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        control = NewControl();
        ASSERT_TRUE(control);
        registry = BitmapsOf(control.Get());
        ASSERT_TRUE(registry);
        Recorder creation;
        surface = Create(registry.Get(), L"sprite", kWidth, kHeight);
        ASSERT_TRUE(surface);
        ASSERT_EQ(creation.Count("CreateHalftonePalette"), 1);
        bufferPalette = creation.Named("CreateHalftonePalette")[0].result;
        dc = DcOf(surface.Get());
        ASSERT_NE(dc, nullptr);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) ::SetPixelV(dc, x, y, PatternAt(x, y));
    }
    void TearDown() override {
        surface = nullptr;
        registry = nullptr;
        control = nullptr;
        ComTest::TearDown();
    }

    // Copy, checking that it succeeds and gives back every platform object that it made.
    void CopyTo(HDC target, short left, short top, VARIANT_BOOL transparent) {
        const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
        LONG targetDc = platform::HandleToI4(target);
        EXPECT_EQ(surface->Copy(&targetDc, &left, &top, transparent), S_OK);
        EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "platform objects held after the copy";
        EXPECT_EQ(targetDc, platform::HandleToI4(target)) << "TargetDC changed";
    }

    void SetTransparentColor(LONG color) { ASSERT_EQ(surface->put_TransparentColor(&color), S_OK); }

    ComPtr<_KivCtl> control;
    ComPtr<_KivFactory> registry;
    ComPtr<_KivBitmap> surface;
    HDC dc = nullptr;
    std::intptr_t bufferPalette = 0;
};

// What a copy onto a target of `fill` at (left, top) must show: the surface's pixel where the surface
// lands and is not transparent (`transparent` says which surface colour leaves the target alone).
std::vector<COLORREF> Expected(HDC surfaceDc, int targetWidth, int targetHeight, const std::vector<COLORREF>& before,
                               int left, int top, std::optional<COLORREF> transparent) {
    std::vector<COLORREF> out = before;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const int tx = left + x, ty = top + y;
            if (tx < 0 || ty < 0 || tx >= targetWidth || ty >= targetHeight) continue;
            const COLORREF pixel = PixelAt(surfaceDc, x, y);
            if (transparent && pixel == *transparent) continue;
            out[ty * targetWidth + tx] = pixel;
        }
    return out;
}

TEST_F(CopyTest, OpaqueCopyChangesExactlyTheSurfacesRectangle) {
    ColourTarget target(16, 12, kTargetFill);
    const auto before = Pixels(target.Dc(), 16, 12);
    CopyTo(target.Dc(), 5, 3, VARIANT_FALSE);
    EXPECT_EQ(Pixels(target.Dc(), 16, 12), Expected(dc, 16, 12, before, 5, 3, std::nullopt));
}

TEST_F(CopyTest, NegativePositionsAreWidenedWithTheirSign) {
    ColourTarget target(16, 12, kTargetFill);
    const auto before = Pixels(target.Dc(), 16, 12);
    CopyTo(target.Dc(), -2, -1, VARIANT_FALSE);
    EXPECT_EQ(Pixels(target.Dc(), 16, 12), Expected(dc, 16, 12, before, -2, -1, std::nullopt));
    EXPECT_EQ(PixelAt(target.Dc(), 0, 0), PatternAt(2, 1));

    ColourTarget second(16, 12, kTargetFill);
    CopyTo(second.Dc(), -3, -2, VARIANT_TRUE);
    EXPECT_EQ(Pixels(second.Dc(), 16, 12), Expected(dc, 16, 12, before, -3, -2, kBlack));
}

TEST_F(CopyTest, ATargetOfZeroChangesNothingAndCallsNoPlatformFunction) {
    const auto surfaceBefore = Pixels(dc, kWidth, kHeight);
    for (VARIANT_BOOL transparent : {VARIANT_FALSE, VARIANT_TRUE}) {
        Recorder recorder;
        CopyTo(nullptr, 1, 1, transparent);
        EXPECT_TRUE(recorder.calls.empty()) << "first call: " << recorder.calls[0].name;
    }
    EXPECT_EQ(Pixels(dc, kWidth, kHeight), surfaceBefore);
}

TEST_F(CopyTest, TransparentCopyLeavesTheTargetWhereTheSurfaceIsInItsKeyColour) {
    // Red pixels in a corner, a column and the middle; black ones must show like any other colour.
    for (auto [x, y] : {std::pair{0, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3}, {1, 2}})
        ::SetPixelV(dc, x, y, kRed);
    for (auto [x, y] : {std::pair{5, 3}, {0, 3}, {2, 1}})
        ::SetPixelV(dc, x, y, kBlack);
    SetTransparentColor(static_cast<LONG>(kRed));

    ColourTarget target(16, 12, kTargetFill);
    PaintTargetPattern(target.Dc(), 16, 12);
    const auto before = Pixels(target.Dc(), 16, 12);
    CopyTo(target.Dc(), 4, 7, VARIANT_TRUE);
    const auto after = Pixels(target.Dc(), 16, 12);
    EXPECT_EQ(after, Expected(dc, 16, 12, before, 4, 7, kRed));
    // Spot checks of the three kinds of pixel.
    EXPECT_EQ(PixelAt(target.Dc(), 4 + 3, 7 + 1), before[(7 + 1) * 16 + 4 + 3]);  // red: target kept
    EXPECT_EQ(PixelAt(target.Dc(), 4 + 5, 7 + 3), kBlack);                         // black shows
    EXPECT_EQ(PixelAt(target.Dc(), 4 + 1, 7 + 0), PatternAt(1, 0));                // others show
}

TEST_F(CopyTest, BlackIsTheKeyByDefaultAndWhenTheStoredColourIsUntranslatable) {
    for (auto [x, y] : {std::pair{1, 1}, {4, 2}, {5, 0}})
        ::SetPixelV(dc, x, y, kBlack);
    ::SetPixelV(dc, 2, 2, kRed);

    LONG stored = -2;
    ASSERT_EQ(surface->get_TransparentColor(&stored), S_OK);
    ASSERT_EQ(stored, 0) << "a new surface's transparent colour";
    {
        ColourTarget target(10, 8, kTargetFill);
        PaintTargetPattern(target.Dc(), 10, 8);
        const auto before = Pixels(target.Dc(), 10, 8);
        CopyTo(target.Dc(), 2, 1, VARIANT_TRUE);
        EXPECT_EQ(Pixels(target.Dc(), 10, 8), Expected(dc, 10, 8, before, 2, 1, kBlack));
        EXPECT_EQ(PixelAt(target.Dc(), 2 + 2, 1 + 2), kRed);
    }

    // A system colour whose index the platform does not know is stored as -1.
    SetTransparentColor(static_cast<LONG>(0x80000099));
    ASSERT_EQ(surface->get_TransparentColor(&stored), S_OK);
    ASSERT_EQ(stored, -1);
    {
        ColourTarget target(10, 8, kTargetFill);
        PaintTargetPattern(target.Dc(), 10, 8);
        const auto before = Pixels(target.Dc(), 10, 8);
        CopyTo(target.Dc(), 3, 2, VARIANT_TRUE);
        EXPECT_EQ(Pixels(target.Dc(), 10, 8), Expected(dc, 10, 8, before, 3, 2, kBlack));
    }
}

TEST_F(CopyTest, ASurfaceAllInItsKeyColourLeavesTheTargetUnchanged) {
    RECT all = {0, 0, kWidth, kHeight};
    HBRUSH red = ::CreateSolidBrush(kRed);
    ::FillRect(dc, &all, red);
    ::DeleteObject(red);
    SetTransparentColor(static_cast<LONG>(kRed));

    ColourTarget target(12, 9, kTargetFill);
    PaintTargetPattern(target.Dc(), 12, 9);
    const auto before = Pixels(target.Dc(), 12, 9);
    CopyTo(target.Dc(), 3, 2, VARIANT_TRUE);
    EXPECT_EQ(Pixels(target.Dc(), 12, 9), before);
}

TEST_F(CopyTest, ASurfaceWithoutItsKeyColourCopiesAsTheOpaqueCopyDoes) {
    SetTransparentColor(static_cast<LONG>(kRed));
    ColourTarget opaque(12, 9, kTargetFill);
    ColourTarget transparent(12, 9, kTargetFill);
    PaintTargetPattern(opaque.Dc(), 12, 9);
    PaintTargetPattern(transparent.Dc(), 12, 9);
    const auto before = Pixels(opaque.Dc(), 12, 9);
    CopyTo(opaque.Dc(), 4, 3, VARIANT_FALSE);
    CopyTo(transparent.Dc(), 4, 3, VARIANT_TRUE);
    const auto opaquePixels = Pixels(opaque.Dc(), 12, 9);
    EXPECT_NE(opaquePixels, before);
    EXPECT_EQ(Pixels(transparent.Dc(), 12, 9), opaquePixels);
}

TEST_F(CopyTest, AnyNonZeroTransparentSelectsTheTransparentCopy) {
    for (auto [x, y] : {std::pair{0, 0}, {2, 3}})
        ::SetPixelV(dc, x, y, kBlack);
    for (VARIANT_BOOL transparent : {VARIANT_BOOL(1), VARIANT_TRUE, VARIANT_BOOL(2)}) {
        ColourTarget target(8, 8, kTargetFill);
        const auto before = Pixels(target.Dc(), 8, 8);
        Recorder recorder;
        CopyTo(target.Dc(), 1, 2, transparent);
        EXPECT_EQ(recorder.Count("CreateBitmap"), 1) << "Transparent " << transparent;
        EXPECT_EQ(Pixels(target.Dc(), 8, 8), Expected(dc, 8, 8, before, 1, 2, kBlack)) << "Transparent " << transparent;
        EXPECT_EQ(PixelAt(target.Dc(), 1, 2), kTargetFill);
    }
}

TEST_F(CopyTest, TheSurfacesDeviceContextIsTheSameAfterwards) {
    LONG fore = static_cast<LONG>(RGB(1, 2, 3));
    LONG back = static_cast<LONG>(RGB(250, 240, 230));
    ASSERT_EQ(surface->put_ForeColor(fore), S_OK);
    ASSERT_EQ(surface->put_BackColor(back), S_OK);
    SetTransparentColor(static_cast<LONG>(PatternAt(1, 1)));
    LONG bitmap = 0;
    ASSERT_EQ(surface->get_hBMP(&bitmap), S_OK);
    const HGDIOBJ paletteBefore = ::GetCurrentObject(dc, OBJ_PAL);
    const auto pixelsBefore = Pixels(dc, kWidth, kHeight);

    for (VARIANT_BOOL transparent : {VARIANT_FALSE, VARIANT_TRUE}) {
        ColourTarget target(10, 10, kTargetFill);
        CopyTo(target.Dc(), 2, 2, transparent);
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_BITMAP), platform::I4ToHandle<HGDIOBJ>(bitmap));
        EXPECT_EQ(::GetCurrentObject(dc, OBJ_PAL), paletteBefore);
        EXPECT_EQ(::GetTextColor(dc), static_cast<COLORREF>(fore));
        EXPECT_EQ(::GetBkColor(dc), static_cast<COLORREF>(back));
        EXPECT_EQ(Pixels(dc, kWidth, kHeight), pixelsBefore);
    }
}

TEST_F(CopyTest, TheTransparentCopyMakesThreeContextsAndThreeBitmapsAndGivesThemBack) {
    ColourTarget target(10, 10, kTargetFill);
    Recorder recorder;
    CopyTo(target.Dc(), 0, 0, VARIANT_TRUE);
    EXPECT_EQ(recorder.Count("GetDC"), 1);
    EXPECT_EQ(recorder.Count("ReleaseDC"), 1);
    EXPECT_EQ(recorder.Count("CreateCompatibleDC"), 3);
    EXPECT_EQ(recorder.Count("DeleteDC"), 3);
    EXPECT_EQ(recorder.Count("CreateCompatibleBitmap"), 2);
    ASSERT_EQ(recorder.Count("CreateBitmap"), 1);
    const auto mono = recorder.Named("CreateBitmap")[0];
    EXPECT_EQ(mono.args[0], kWidth);
    EXPECT_EQ(mono.args[1], kHeight);
    EXPECT_EQ(mono.args[2], 1);  // one plane
    EXPECT_EQ(mono.args[3], 1);  // one bit per pixel
    EXPECT_EQ(mono.args[4], 0);  // no initial bits
    EXPECT_EQ(recorder.Count("DeleteObject"), 3);
    for (const auto& call : recorder.Named("DeleteObject")) EXPECT_NE(call.result, 0);
    for (const auto& call : recorder.Named("DeleteDC")) EXPECT_NE(call.result, 0);
}

TEST_F(CopyTest, TheTransparentCopyWritesTheTargetOnceAndOnlyReadsTheSurface) {
    SetTransparentColor(static_cast<LONG>(kRed));
    ColourTarget target(12, 12, kTargetFill);
    Recorder recorder;
    CopyTo(target.Dc(), 3, 4, VARIANT_TRUE);
    const auto d = reinterpret_cast<std::intptr_t>(target.Dc());
    const auto s = reinterpret_cast<std::intptr_t>(dc);
    int writes = 0, reads = 0;
    for (const auto& call : recorder.calls) {
        const std::string name = call.name;
        if (name == "BitBlt") {
            if (call.args[0] == d) {
                ++writes;
                EXPECT_EQ(call.args[1], 3);
                EXPECT_EQ(call.args[2], 4);
                EXPECT_EQ(call.args[8], SRCCOPY);
            }
            if (call.args[5] == d) ++reads;
            continue;
        }
        // The target and the surface get nothing selected into them and no colour changed.
        if (name == "GetBkColor" || name == "GetTextColor") {
            EXPECT_EQ(call.args[0], s);
            continue;
        }
        for (int i = 0; i < call.argc; ++i) {
            EXPECT_NE(call.args[i], d) << name << " got the target";
            EXPECT_NE(call.args[i], s) << name << " got the surface";
        }
    }
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(recorder.Named("BitBlt").back().args[0], d) << "the write to the target is the last transfer";
}

// The recorded calls as text, with the handles named: the target D, the surface's context S, its buffer
// palette P, the screen context, and the objects made during the call in their order of creation
// (dc1.., bmp1..). An argument that selects back what an earlier selection into the same context
// handed back shows as "prev". The colour reads from S are left out (checked elsewhere).
class Trace {
public:
    Trace(std::intptr_t target, std::intptr_t source, std::intptr_t palette) {
        names_[target] = "D";
        names_[source] = "S";
        names_[palette] = "P";
    }

    std::vector<std::string> Render(const std::vector<kivtest::RecordedCall>& calls) {
        std::vector<std::string> out;
        for (const auto& call : calls) {
            const std::string name = call.name;
            if (name == "GetBkColor" || name == "GetTextColor") continue;
            std::ostringstream line;
            line << name << "(";
            for (int i = 0; i < call.argc; ++i) {
                if (i) line << ",";
                if (name == "OleTranslateColor" && i == 2) line << "&key";
                else if ((name == "SelectObject" || name == "SelectPalette") && i == 1 && IsPrevious(call))
                    line << "prev";
                else line << Arg(call.args[i], name == "BitBlt" && i == 8);
            }
            line << ")";
            if (name == "GetDC") names_[call.result] = "screen";
            else if (name == "CreateCompatibleDC") names_[call.result] = "dc" + std::to_string(++dcs_);
            else if (name == "CreateCompatibleBitmap" || name == "CreateBitmap")
                names_[call.result] = "bmp" + std::to_string(++bitmaps_);
            if ((name == "SelectObject" || name == "SelectPalette") && !IsPrevious(call))
                selected_[{call.args[0], name}] = call.result;
            out.push_back(line.str());
        }
        return out;
    }

private:
    bool IsPrevious(const platform::Call& call) const {
        auto it = selected_.find({call.args[0], call.name});
        return it != selected_.end() && it->second == call.args[1];
    }
    std::string Arg(std::intptr_t value, bool hex) const {
        auto it = names_.find(value);
        if (it != names_.end() && value != 0) return it->second;
        std::ostringstream text;
        if (hex) text << std::hex << std::uppercase << value;
        else text << value;
        return text.str();
    }

    std::map<std::intptr_t, std::string> names_;
    std::map<std::pair<std::intptr_t, std::string>, std::intptr_t> selected_;
    int dcs_ = 0;
    int bitmaps_ = 0;
};

TEST_F(CopyTest, TheTransparentCopyRunsItsStepsInOrderAndCleansUpWorkingCopyBufferMaskScreen) {
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(RGB(1, 2, 3))), S_OK);
    ASSERT_EQ(surface->put_BackColor(static_cast<LONG>(RGB(4, 5, 6))), S_OK);
    SetTransparentColor(static_cast<LONG>(kRed));
    ColourTarget target(12, 12, kTargetFill);
    Recorder recorder;
    CopyTo(target.Dc(), 5, 3, VARIANT_TRUE);

    Trace trace(reinterpret_cast<std::intptr_t>(target.Dc()), reinterpret_cast<std::intptr_t>(dc), bufferPalette);
    // The key is red as the platform translates it for the buffer palette (a palette-relative value).
    COLORREF key = 0;
    ASSERT_EQ(::OleTranslateColor(kRed, reinterpret_cast<HPALETTE>(bufferPalette), &key), S_OK);
    const std::vector<std::string> expected = {
        "GetDC(0)",
        "OleTranslateColor(255,P,&key)",
        // buffer: bitmap, context, palette (forced into the background), the destination as it is
        "CreateCompatibleBitmap(screen,6,4)",
        "CreateCompatibleDC(screen)",
        "SelectObject(dc1,bmp1)",
        "SelectPalette(dc1,P,-1)",
        "RealizePalette(dc1)",
        "BitBlt(dc1,0,0,6,4,D,5,3,CC0020)",
        // working copy and mask bitmaps, then the working copy's context with the source's colours
        "CreateCompatibleBitmap(screen,6,4)",
        "CreateBitmap(6,4,1,1,0)",
        "CreateCompatibleDC(screen)",
        "SelectObject(dc2,bmp2)",
        "SelectPalette(dc2,P,-1)",
        "RealizePalette(dc2)",
        "SetBkColor(dc2,394500)",    // RGB(4, 5, 6)
        "SetTextColor(dc2,197121)",  // RGB(1, 2, 3)
        "BitBlt(dc2,0,0,6,4,S,0,0,CC0020)",
        // the mask's context, the mask white where the key was
        "CreateCompatibleDC(screen)",
        "SelectObject(dc3,bmp3)",
        "SetBkColor(dc2," + std::to_string(key) + ")",
        "SetTextColor(dc2,16777215)",
        "BitBlt(dc3,0,0,6,4,dc2,0,0,CC0020)",
        // key pixels of the working copy black, opaque pixels out of the buffer, combined, written once
        "SetTextColor(dc2,0)",
        "SetBkColor(dc2,16777215)",
        "BitBlt(dc2,0,0,6,4,dc3,0,0,220326)",
        "BitBlt(dc1,0,0,6,4,dc3,0,0,8800C6)",
        "BitBlt(dc1,0,0,6,4,dc2,0,0,EE0086)",
        "BitBlt(D,5,3,6,4,dc1,0,0,CC0020)",
        // clean-up: working copy, buffer, mask, screen
        "SelectObject(dc2,prev)",
        "DeleteObject(bmp2)",
        "SelectPalette(dc2,prev,-1)",
        "RealizePalette(dc2)",
        "DeleteDC(dc2)",
        "SelectObject(dc1,prev)",
        "DeleteObject(bmp1)",
        "SelectPalette(dc1,prev,-1)",
        "RealizePalette(dc1)",
        "DeleteDC(dc1)",
        "SelectObject(dc3,prev)",
        "DeleteObject(bmp3)",
        "DeleteDC(dc3)",
        "ReleaseDC(0,screen)",
    };
    const auto actual = trace.Render(recorder.calls);
    EXPECT_EQ(actual, expected);
    // The tail separately, so that a fault in the clean-up order is named as such.
    ASSERT_GE(actual.size(), 14u);
    EXPECT_EQ(std::vector<std::string>(actual.end() - 14, actual.end()),
              std::vector<std::string>(expected.end() - 14, expected.end()));
    // The source's colours were read from S before they were given to the working copy.
    EXPECT_EQ(recorder.Count("GetBkColor"), 1);
    EXPECT_EQ(recorder.Count("GetTextColor"), 1);
}

TEST_F(CopyTest, TheOpaqueCopyIsOneBlockTransferFromTheSurface) {
    ColourTarget target(12, 12, kTargetFill);
    Recorder recorder;
    CopyTo(target.Dc(), 7, -3, VARIANT_FALSE);
    ASSERT_EQ(recorder.calls.size(), 1u);
    const auto& call = recorder.calls[0];
    EXPECT_STREQ(call.name, "BitBlt");
    const std::intptr_t expected[] = {reinterpret_cast<std::intptr_t>(target.Dc()), 7, -3, kWidth, kHeight,
                                      reinterpret_cast<std::intptr_t>(dc), 0, 0, SRCCOPY};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(call.args[i], expected[i]) << "argument " << i;
}

}  // namespace
