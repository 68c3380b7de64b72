// Exhausted platform resources. Surfaces are made, large ones and then small ones, until the platform
// refuses them; and every object that a member asks the platform for is refused in turn through the
// platform layer's seam (the first, the second, ... the last). Whatever the platform refuses, the
// members report success, draw no more than their documented steps leave, hold nothing afterwards,
// and everything comes back when the surfaces go.
//
// The real exhaustion needs a bound: Wine's own limits (some 65,000 GDI handles, all the memory that a
// 64-bit process can get) are not Windows' 10,000 objects per process. The test's command limits the
// process's memory (prlimit --data); a platform that never refuses within kMaxLarge large surfaces
// fails the test rather than taking the machine's memory.
#include "TestSupport.h"

#include "component/Module.h"
#include "platform/RuntimeError.h"

#include <oleauto.h>
#include <olectl.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

// The platform calls that make an object: a device context, a bitmap, a pen, a brush, a font, a
// palette, the screen's context, a picture.
bool MakesAnObject(const std::string& name) {
    static const std::set<std::string> kMaking = {"GetDC",        "CreateCompatibleDC", "CreateCompatibleBitmap",
                                                  "CreateBitmap", "CreateSolidBrush",   "CreatePen",
                                                  "CreateFontA",  "CreateHalftonePalette", "CreatePalette",
                                                  "OleCreatePictureIndirect"};
    return kMaking.count(name) != 0;
}

// While it lives, the platform refuses the n-th object that it is asked for (n = 0: none), as it does
// when it has no room for one: a null handle, or E_OUTOFMEMORY for a picture.
class Refuser {
public:
    explicit Refuser(int n) : n_(n) {
        recorder_.answer = [this](platform::Call& call) {
            const std::string name = call.name;
            if (!MakesAnObject(name)) return false;
            ++asked_;
            const int ordinal = ++perName_[name];
            if (asked_ != n_) return false;
            refused_ = name + "#" + std::to_string(ordinal);
            call.result = name == "OleCreatePictureIndirect" ? E_OUTOFMEMORY : 0;
            return true;
        };
    }
    int Asked() const noexcept { return asked_; }
    // The refused call as NAME#k (its k-th call of that name); empty when nothing was refused.
    const std::string& Refused() const noexcept { return refused_; }
    const std::vector<kivtest::RecordedCall>& Calls() const noexcept { return recorder_.calls; }

private:
    Recorder recorder_;
    int n_;
    int asked_ = 0;
    std::map<std::string, int> perName_;
    std::string refused_;
};

// What a surface's device context holds between calls.
struct DcState {
    HGDIOBJ bitmap, pen, brush, font, palette;
    COLORREF text, back;
    bool operator==(const DcState&) const = default;
};

DcState StateOf(HDC dc) {
    return {::GetCurrentObject(dc, OBJ_BITMAP), ::GetCurrentObject(dc, OBJ_PEN),  ::GetCurrentObject(dc, OBJ_BRUSH),
            ::GetCurrentObject(dc, OBJ_FONT),   ::GetCurrentObject(dc, OBJ_PAL), ::GetTextColor(dc),
            ::GetBkColor(dc)};
}

std::vector<COLORREF> Pixels(HDC dc, int width, int height) {
    std::vector<COLORREF> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.push_back(PixelAt(dc, x, y));
    return out;
}

bool ErrorObjectLeft() {
    ComPtr<IErrorInfo> info;
    return ::GetErrorInfo(0, info.Put()) == S_OK && info;
}

constexpr short kWidth = 12;
constexpr short kHeight = 10;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);

// A distinct colour for every pixel, none of them red, green, black or white.
COLORREF PatternAt(int x, int y) { return RGB(40 + 15 * x, 30 + 20 * y, 100 + 5 * x + 3 * y); }

// One run of a member: a fresh control with one surface (painted with the pattern), the state before
// the call, and what the call did.
struct Trial {
    ComPtr<_KivCtl> control;
    ComPtr<_KivFactory> registry;
    ComPtr<_KivBitmap> surface;
    HDC dc = nullptr;
    std::vector<COLORREF> pixels;  // before the call
    DcState state{};               // before the call
    kivtest::GdiCounts gdi;          // before the call
    long objects = 0;              // before the call

    int n = 0;
    std::string refused;
    HRESULT hr = E_FAIL;
    std::vector<kivtest::RecordedCall> calls;
    HDC target = nullptr;                 // a target of the member's, if it has one
    std::vector<COLORREF> targetPixels;  // after the call

    std::string Label() const { return "refusing " + (refused.empty() ? std::string("nothing") : refused); }
};

class Refusals : public BalancedTest {
protected:
    // Runs `member` once refusing nothing, which counts the objects that it asks the platform for, then
    // once for each of them with that one refused. `check` sees each run; afterwards everything is
    // released and the platform objects and the module's objects must be back where they started.
    // Returns the number of objects that the member asks for.
    int EveryRefusal(const std::function<HRESULT(Trial&)>& member, const std::function<void(Trial&)>& check) {
        const kivtest::GdiCounts start = kivtest::LiveGdiObjects();
        const long objectsAtStart = kiv::module::LiveObjects();
        int asked = 0;
        for (int n = 0; n <= asked; ++n) {
            {
                Trial run;
                run.control = NewControl();
                if (!run.control) {
                    ADD_FAILURE() << "no control";
                    return asked;
                }
                run.registry = BitmapsOf(run.control.Get());
                run.surface = Create(run.registry.Get(), L"s", kWidth, kHeight);
                if (!run.surface) {
                    ADD_FAILURE() << "no surface";
                    return asked;
                }
                run.dc = DcOf(run.surface.Get());
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x) ::SetPixelV(run.dc, x, y, PatternAt(x, y));
                run.pixels = Pixels(run.dc, kWidth, kHeight);
                run.state = StateOf(run.dc);
                run.n = n;
                ::SetErrorInfo(0, nullptr);
                {
                    Refuser refuser(n);
                    run.gdi = kivtest::LiveGdiObjects();
                    run.objects = kiv::module::LiveObjects();
                    run.hr = member(run);
                    if (n == 0) asked = refuser.Asked();
                    run.refused = refuser.Refused();
                    run.calls = refuser.Calls();
                }
                if (n > 0) {
                    EXPECT_FALSE(run.refused.empty()) << "the " << n << "th object was not asked for again";
                }
                EXPECT_FALSE(ErrorObjectLeft()) << run.Label();
                check(run);
            }
            EXPECT_EQ(kivtest::LiveGdiObjects(), start) << "after releasing everything, refused object " << n;
            EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart) << "refused object " << n;
        }
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
        return asked;
    }

    // What every member keeps to, whatever was refused: success, nothing held afterwards, and the
    // surface's context as it was.
    static void Kept(const Trial& run) {
        EXPECT_EQ(run.hr, S_OK) << run.Label();
        EXPECT_EQ(kivtest::LiveGdiObjects(), run.gdi) << run.Label();
        EXPECT_EQ(kiv::module::LiveObjects(), run.objects) << run.Label();
        EXPECT_TRUE(StateOf(run.dc) == run.state) << run.Label() << ": the surface's context changed";
    }
};

// A fill, line or box whose brush or pen the platform refuses is not asked of the platform at all:
// given a null brush or pen, the platform would draw with whatever the context holds (Wine fills with
// the context's current brush and draws with its current pen), a mark in a colour that is not the
// shape's.
TEST_F(Refusals, ClsWithoutItsBrushPaintsNothing) {
    const int asked = EveryRefusal([](Trial& run) { return run.surface->Cls(); },
                                   [](Trial& run) {
                                       Kept(run);
                                       const std::vector<COLORREF> now = Pixels(run.dc, kWidth, kHeight);
                                       if (run.refused.empty()) {
                                           EXPECT_EQ(now, std::vector<COLORREF>(now.size(), Rgb(0x8000000F)));
                                       } else {
                                           EXPECT_EQ(now, run.pixels) << run.Label();
                                       }
                                   });
    EXPECT_EQ(asked, 1);
}

TEST_F(Refusals, BPrintWithoutItsFontDrawsNothing) {
    const int asked = EveryRefusal(
        [](Trial& run) {
            BSTR text = ::SysAllocString(L"Hi");
            short left = 1, top = 1;
            const HRESULT hr = run.surface->BPrint(&left, &top, &text);
            ::SysFreeString(text);
            return hr;
        },
        [](Trial& run) {
            Kept(run);
            if (run.refused.empty()) {
                EXPECT_NE(Pixels(run.dc, kWidth, kHeight), run.pixels) << "the text left no mark";
            } else {
                EXPECT_EQ(Pixels(run.dc, kWidth, kHeight), run.pixels) << run.Label();
                EXPECT_EQ(run.refused, "CreateFontA#1");
            }
        });
    EXPECT_EQ(asked, 1);
}

// The surface's pixels with the shape's pixels in its colour.
std::vector<COLORREF> Painted(std::vector<COLORREF> pixels, const std::function<bool(int, int)>& inShape, COLORREF colour) {
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (inShape(x, y)) pixels[y * kWidth + x] = colour;
    return pixels;
}

constexpr int kBoxLeft = 2, kBoxTop = 3, kBoxWidth = 5, kBoxHeight = 4;
bool InBox(int x, int y) {
    return x >= kBoxLeft && x < kBoxLeft + kBoxWidth && y >= kBoxTop && y < kBoxTop + kBoxHeight;
}
HRESULT DrawRedBox(_KivBitmap* surface) {
    short l = kBoxLeft, t = kBoxTop, w = kBoxWidth, h = kBoxHeight;
    LONG colour = kRed;
    return surface->DrawBox(&l, &t, &w, &h, &colour);
}

// From (1, 1) to (8, 1): the end point is left out.
bool OnLine(int x, int y) { return y == 1 && x >= 1 && x < 8; }
HRESULT DrawGreenLine(_KivBitmap* surface) {
    OLE_COLOR colour = kGreen;
    return surface->DrawLine(1, 1, 8, 1, &colour);
}

// A box whose brush cannot be made is not drawn at all. The pen comes after the fill, which already
// covers the box's border in its colour: without the pen the box is exactly the box.
TEST_F(Refusals, DrawBoxIsNotDrawnWithoutItsBrushAndKeepsItsFillWithoutItsPen) {
    const int asked = EveryRefusal([](Trial& run) { return DrawRedBox(run.surface.Get()); },
                                   [](Trial& run) {
                                       Kept(run);
                                       const std::vector<COLORREF> now = Pixels(run.dc, kWidth, kHeight);
                                       if (run.refused == "CreateSolidBrush#1") {
                                           EXPECT_EQ(now, run.pixels) << run.Label();
                                       } else {
                                           EXPECT_EQ(now, Painted(run.pixels, InBox, kRed)) << run.Label();
                                       }
                                   });
    EXPECT_EQ(asked, 2);
}

TEST_F(Refusals, DrawLineWithoutItsPenIsNotDrawn) {
    const int asked = EveryRefusal([](Trial& run) { return DrawGreenLine(run.surface.Get()); },
                                   [](Trial& run) {
                                       Kept(run);
                                       const std::vector<COLORREF> now = Pixels(run.dc, kWidth, kHeight);
                                       if (run.refused.empty()) {
                                           EXPECT_EQ(now, Painted(run.pixels, OnLine, kGreen));
                                       } else {
                                           EXPECT_EQ(now, run.pixels) << run.Label();
                                       }
                                   });
    EXPECT_EQ(asked, 1);
}

// The objects that a call made, named by the call that made them (NAME#k, its k-th call of that name),
// and the order in which it gave them back.
struct Lifetimes {
    std::set<std::string> made;
    std::vector<std::string> givenBack;
    std::string refused;  // the first object that the platform did not make
};

Lifetimes LifetimesIn(const std::vector<kivtest::RecordedCall>& calls) {
    Lifetimes out;
    std::map<std::intptr_t, std::string> names;
    std::map<std::string, int> perName;
    for (const auto& call : calls) {
        const std::string name = call.name;
        if (MakesAnObject(name)) {
            const std::string label = name + "#" + std::to_string(++perName[name]);
            if (call.result) {
                names[call.result] = label;
                out.made.insert(label);
            } else if (out.refused.empty()) {
                out.refused = label;
            }
        } else if (name == "DeleteObject" || name == "DeleteDC" || name == "ReleaseDC") {
            const auto it = names.find(call.args[name == "ReleaseDC" ? 1 : 0]);
            if (it != names.end()) out.givenBack.push_back(it->second);
        }
    }
    return out;
}

// The transparent copy asks for the screen, then the buffer's bitmap and context, the working copy's
// bitmap, the mask's bitmap, and the working copy's and the mask's contexts. Whichever is refused, the
// copy stops there: the target gets no block transfer and keeps every pixel, the surface is only read,
// and what was made is given back in the order in which a whole copy gives it back.
TEST_F(Refusals, TheTransparentCopyWithoutOneOfItsObjectsLeavesItsTargetAsItWas) {
    constexpr int targetWidth = 20, targetHeight = 16, at = 3;
    constexpr COLORREF kFill = RGB(20, 140, 220);
    std::vector<std::string> wholeGivingBack;  // as the copy that was refused nothing gave its objects back
    const int asked = EveryRefusal(
        [&](Trial& run) {
            LONG key = static_cast<LONG>(kRed);
            run.surface->put_TransparentColor(&key);
            for (int y = 0; y < kHeight; ++y) ::SetPixelV(run.dc, 0, y, kRed);  // the left column is left out
            run.pixels = Pixels(run.dc, kWidth, kHeight);
            ColourTarget target(targetWidth, targetHeight, kFill);
            LONG dc = platform::HandleToI4(target.Dc());
            short left = at, top = at;
            const HRESULT hr = run.surface->Copy(&dc, &left, &top, VARIANT_TRUE);
            run.target = target.Dc();
            run.targetPixels = Pixels(target.Dc(), targetWidth, targetHeight);
            return hr;
        },
        [&](Trial& run) {
            Kept(run);
            EXPECT_EQ(Pixels(run.dc, kWidth, kHeight), run.pixels) << run.Label() << ": the surface changed";

            int writes = 0;
            for (const auto& call : run.calls)
                writes += std::string(call.name) == "BitBlt" && reinterpret_cast<HDC>(call.args[0]) == run.target;
            EXPECT_EQ(writes, run.refused.empty() ? 1 : 0) << run.Label();

            int wrong = 0;
            for (int y = 0; y < targetHeight; ++y) {
                for (int x = 0; x < targetWidth; ++x) {
                    const bool inside = x >= at && x < at + kWidth && y >= at && y < at + kHeight;
                    COLORREF expected = kFill;
                    if (inside && run.refused.empty()) {
                        const COLORREF source = run.pixels[(y - at) * kWidth + (x - at)];
                        expected = source == kRed ? kFill : source;
                    }
                    wrong += run.targetPixels[y * targetWidth + x] != expected;
                }
            }
            EXPECT_EQ(wrong, 0) << run.Label() << ": pixels of the target not as expected";

            const Lifetimes lifetimes = LifetimesIn(run.calls);
            if (run.refused.empty()) {
                wholeGivingBack = lifetimes.givenBack;
                EXPECT_EQ(lifetimes.made.size(), 7u);
                EXPECT_EQ(wholeGivingBack.size(), 7u);
            } else {
                std::vector<std::string> expected;
                for (const std::string& label : wholeGivingBack)
                    if (lifetimes.made.count(label)) expected.push_back(label);
                EXPECT_EQ(lifetimes.givenBack, expected) << run.Label();
                std::printf("refusing %s: %zu objects made and given back, %d target pixels changed\n",
                            run.refused.c_str(), lifetimes.givenBack.size(), wrong);
            }
        });
    EXPECT_EQ(asked, 7);
}

TEST_F(Refusals, TheOpaqueCopyAsksForNothing) {
    const int asked = EveryRefusal(
        [](Trial& run) {
            ColourTarget target(kWidth, kHeight, RGB(1, 2, 3));
            LONG dc = platform::HandleToI4(target.Dc());
            short left = 0, top = 0;
            const HRESULT hr = run.surface->Copy(&dc, &left, &top, VARIANT_FALSE);
            EXPECT_EQ(Pixels(target.Dc(), kWidth, kHeight), run.pixels);
            return hr;
        },
        [](Trial& run) { Kept(run); });
    EXPECT_EQ(asked, 0);
}

// The snapshot asks for a memory context, a bitmap and the picture: the picture comes or not, and
// whatever was made belongs to the picture or is given back.
TEST_F(Refusals, APictureWithoutItsObjectsComesOrNotAndHoldsNothingBehind) {
    const int asked = EveryRefusal(
        [](Trial& run) {
            ComPtr<IPicture> picture;
            const HRESULT hr = run.surface->get_Picture(picture.Put());
            if (run.n == 0) {
                EXPECT_TRUE(picture);
            }
            if (picture) {
                OLE_HANDLE handle = 0;
                EXPECT_EQ(picture->get_Handle(&handle), S_OK);
                const HGDIOBJ bitmap = reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle));
                picture = nullptr;
                if (bitmap) {
                    EXPECT_EQ(::GetObjectType(bitmap), 0u) << "the picture's bitmap outlived it";
                }
            }
            return hr;
        },
        [](Trial& run) { Kept(run); });
    EXPECT_GE(asked, 3);
}

// Create asks for the screen and a halftone palette (the surface's construction), a bitmap and a
// context (its allocation) and a brush (the first Cls). Without one of the first four there is no
// surface; without the brush the surface is made but not cleared.
TEST_F(Refusals, CreateWithoutOneOfItsObjectsGivesNoneOrAnUnclearedSurface) {
    std::set<std::string> refusedSeen;
    const int asked = EveryRefusal(
        [](Trial& run) {
            BSTR name = ::SysAllocString(L"new");
            short width = 8, height = 6;
            ComPtr<_KivBitmap> made;
            const HRESULT hr = run.registry->Create(&name, &width, &height, made.Put());
            ::SysFreeString(name);
            const short count = CountOf(run.registry.Get());
            if (made) {
                EXPECT_EQ(count, 2);
                // Listed, with its three objects; they go with the list.
                const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
                EXPECT_EQ(now.dcs, run.gdi.dcs + 1);
                EXPECT_EQ(now.bitmaps, run.gdi.bitmaps + 1);
                EXPECT_EQ(now.palettes, run.gdi.palettes + 1);
                made = nullptr;
                short last = 2;
                run.registry->RemoveInt(&last);
            } else {
                EXPECT_EQ(count, 1);
            }
            return hr;
        },
        [&](Trial& run) {
            Kept(run);  // a surface that was made has gone again with its entry
            refusedSeen.insert(run.refused);
            if (run.refused == "GetDC#1" || run.refused == "CreateHalftonePalette#1" ||
                run.refused == "CreateCompatibleBitmap#1" || run.refused == "CreateCompatibleDC#1") {
                EXPECT_EQ(CountOf(run.registry.Get()), 1) << run.Label();
            }
        });
    EXPECT_EQ(asked, 5);
    EXPECT_EQ(refusedSeen, (std::set<std::string>{"", "GetDC#1", "CreateHalftonePalette#1", "CreateCompatibleBitmap#1",
                                                  "CreateCompatibleDC#1", "CreateSolidBrush#1"}));
}

// The control asks for the screen, a memory context and a bitmap for its own context. Whichever is
// refused, a container still gets a control with its registry; a surface then comes or not, and
// everything goes with the control.
TEST_F(Refusals, AControlWithoutOneOfItsObjectsStillStartsAndGivesEverythingBack) {
    const kivtest::GdiCounts start = kivtest::LiveGdiObjects();
    const long objectsAtStart = kiv::module::LiveObjects();
    int asked = 0;
    for (int n = 0; n <= asked; ++n) {
        std::string refused;
        {
            ComPtr<_KivCtl> control;
            {
                Refuser refuser(n);
                control = NewControl();
                if (n == 0) asked = refuser.Asked();
                refused = refuser.Refused();
            }
            const std::string label = "refusing " + (refused.empty() ? std::string("nothing") : refused);
            ASSERT_TRUE(control) << label;
            ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
            ASSERT_TRUE(registry) << label;
            ComPtr<_KivBitmap> surface = Create(registry.Get(), L"s", 4, 4);
            if (n == 0) {
                EXPECT_TRUE(surface);
            }
            EXPECT_EQ(CountOf(registry.Get()), surface ? 1 : 0) << label;
            EXPECT_FALSE(ErrorObjectLeft()) << label;
        }
        EXPECT_EQ(kivtest::LiveGdiObjects(), start) << "refused object " << n;
        EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart) << "refused object " << n;
    }
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// ---- the platform's own refusal -----------------------------------------------------------------

constexpr short kLarge = 2048;  // 16 MB each in a 32-bit colour format
constexpr int kMaxLarge = 256;  // 4 GB: a platform that has not refused by then is not limited

// Create as a client calls it: the status and the surface, or none.
std::pair<HRESULT, ComPtr<_KivBitmap>> TryCreate(_KivFactory* registry, BSTR name, short width, short height) {
    ComPtr<_KivBitmap> surface;
    const HRESULT hr = registry->Create(&name, &width, &height, surface.Put());
    return {hr, surface};
}

class Exhaustion : public BalancedTest {};

// Large surfaces until the platform has no memory for one more, then small ones until it has no memory
// or no handle for one more: each refused Create gives none without an error, and leaves nothing
// behind. At that edge every member still answers without leaving anything behind, and after Clear
// everything comes back and the platform has room again.
TEST_F(Exhaustion, SurfacesLargeThenSmallUntilThePlatformRefuses) {
    const kivtest::GdiCounts start = kivtest::LiveGdiObjects();
    const long objectsAtStart = kiv::module::LiveObjects();
    const auto started = std::chrono::steady_clock::now();
    int large = 0, small = 0;
    {
        ComPtr<_KivCtl> control = NewControl();
        ASSERT_TRUE(control);
        ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
        ASSERT_TRUE(registry);
        const kivtest::GdiCounts withControl = kivtest::LiveGdiObjects();
        // Every platform object alive is the control's or a listed surface's: a context, a bitmap and
        // a palette each.
        auto accounted = [&](const char* when) {
            const short listed = CountOf(registry.Get());
            const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
            EXPECT_EQ(now.dcs, withControl.dcs + listed) << when;
            EXPECT_EQ(now.bitmaps, withControl.bitmaps + listed) << when;
            EXPECT_EQ(now.palettes, withControl.palettes + listed) << when;
            EXPECT_EQ(now.pens + now.brushes + now.fonts + now.screenDCs,
                      withControl.pens + withControl.brushes + withControl.fonts + withControl.screenDCs)
                << when;
            EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart + 2 + listed) << when;
        };

        BSTR largeName = ::SysAllocString(L"large");
        BSTR smallName = ::SysAllocString(L"small");
        for (;;) {
            ASSERT_LT(large, kMaxLarge) << "the platform made " << kMaxLarge << " surfaces of " << kLarge << " x "
                                        << kLarge << " pixels: the test runs without its memory limit";
            auto [hr, surface] = TryCreate(registry.Get(), largeName, kLarge, kLarge);
            ASSERT_EQ(hr, S_OK) << "large surface " << large;
            if (!surface) break;
            ++large;
        }
        EXPECT_FALSE(ErrorObjectLeft());
        EXPECT_EQ(CountOf(registry.Get()), large);
        accounted("after the first large surface that the platform refused");

        for (;;) {
            ASSERT_LT(CountOf(registry.Get()), 32767) << "the list filled before the platform refused";
            auto [hr, surface] = TryCreate(registry.Get(), smallName, 4, 4);
            ASSERT_EQ(hr, S_OK) << "small surface " << small;
            if (!surface) break;
            ++small;
        }
        EXPECT_FALSE(ErrorObjectLeft());
        EXPECT_EQ(CountOf(registry.Get()), large + small);
        accounted("after the first small surface that the platform refused");

        // At the edge: every member of a listed surface answers, the drawing ones with success, and
        // whatever the platform still gives is given back.
        if (large + small > 0) {
            short last = CountOf(registry.Get());
            ComPtr<_KivBitmap> surface;
            EXPECT_EQ(registry->get_ItemInt(&last, surface.Put()), S_OK);
            ASSERT_TRUE(surface);
            ComPtr<_KivBitmap> other;
            short first = 1;
            registry->get_ItemInt(&first, other.Put());
            LONG target = platform::HandleToI4(DcOf(other.Get()));
            short zero = 0, one = 1, four = 4;
            BSTR text = ::SysAllocString(L"edge");
            LONG red = static_cast<LONG>(kRed);
            OLE_COLOR green = kGreen;
            EXPECT_EQ(surface->Copy(&target, &one, &one, VARIANT_TRUE), S_OK);
            EXPECT_EQ(surface->Copy(&target, &one, &one, VARIANT_FALSE), S_OK);
            EXPECT_EQ(surface->BPrint(&zero, &zero, &text), S_OK);
            EXPECT_EQ(surface->DrawBox(&zero, &zero, &four, &four, &red), S_OK);
            EXPECT_EQ(surface->DrawLine(0, 0, 3, 3, &green), S_OK);
            EXPECT_EQ(surface->DrawCircle(&one, &one, &one), S_OK);
            EXPECT_EQ(surface->DrawElipse(&zero, &zero, &four, &four), S_OK);
            EXPECT_EQ(surface->Cls(), S_OK);
            EXPECT_EQ(surface->put_ForeColor(0x80000012), S_OK);
            EXPECT_EQ(surface->put_TransparentColor(&red), S_OK);
            EXPECT_EQ(surface->put_FontName(&text), S_OK);
            ::SysFreeString(text);
            {
                // Escape members may meet the runtime's out of memory; nothing else.
                BSTR name = nullptr;
                const HRESULT hr = surface->get_FontName(&name);
                EXPECT_TRUE(hr == S_OK || hr == MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, kiv::errors::OutOfMemory))
                    << std::hex << hr;
                ::SysFreeString(name);
                ComPtr<IPicture> picture;
                const HRESULT got = surface->get_Picture(picture.Put());
                EXPECT_TRUE(got == S_OK || got == MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, kiv::errors::OutOfMemory))
                    << std::hex << got;
            }
            surface = nullptr;
            other = nullptr;
            ::SetErrorInfo(0, nullptr);
            accounted("after every member at the edge");
        }

        EXPECT_EQ(registry->Clear(), S_OK);
        EXPECT_EQ(CountOf(registry.Get()), 0);
        accounted("after Clear");
        // The platform has room again.
        auto [hr, again] = TryCreate(registry.Get(), largeName, kLarge, kLarge);
        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(again) << "no large surface after Clear";
        again = nullptr;
        registry->Clear();
        ::SysFreeString(largeName);
        ::SysFreeString(smallName);
    }
    EXPECT_EQ(kivtest::LiveGdiObjects(), start);
    EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    std::printf("%d surfaces of %d x %d pixels, then %d of 4 x 4, before the platform refused; %.1f s\n", large,
                kLarge, kLarge, small,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
}

// The process's GDI handles used up by the client itself (pens of its own, as a client that leaks them
// elsewhere would): then given back one at a time, so that the platform has room for no object, one,
// two, ... and refuses the next one for real. With each amount of room: Create gives a surface or none
// and keeps the list right, BPrint draws the text or nothing, DrawLine and DrawBox draw their shape
// exactly or nothing, the transparent copy writes its whole result or leaves the target as it was
// (with some room it fails part-way) and never touches the surface, and nothing that a member made
// stays behind.
TEST_F(Exhaustion, AtTheHandleLimitEveryMemberStillAnswersAndKeepsNothing) {
    const kivtest::GdiCounts start = kivtest::LiveGdiObjects();
    const long objectsAtStart = kiv::module::LiveObjects();
    {
        ComPtr<_KivCtl> control = NewControl();
        ASSERT_TRUE(control);
        ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
        ComPtr<_KivBitmap> surface = Create(registry.Get(), L"s", kWidth, kHeight);
        ASSERT_TRUE(surface);
        const HDC dc = DcOf(surface.Get());
        LONG key = static_cast<LONG>(kRed);
        surface->put_TransparentColor(&key);
        constexpr COLORREF kFill = RGB(20, 140, 220);
        constexpr int at = 2, targetWidth = kWidth + 4, targetHeight = kHeight + 4;
        ColourTarget target(targetWidth, targetHeight, kFill);
        BSTR name = ::SysAllocString(L"n");
        BSTR text = ::SysAllocString(L"Hi");

        std::vector<HPEN> pens;
        pens.reserve(70000);
        for (;;) {
            HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
            if (!pen) break;
            pens.push_back(pen);
            ASSERT_LT(pens.size(), 70000u) << "the platform gives GDI objects without end";
        }
        const size_t held = pens.size();

        std::set<int> drawnFrom, madeFrom;  // room (free handles) at which BPrint drew, Create made a surface
        std::set<int> lineFrom, boxFrom, copiedFrom;  // ... at which the shapes were drawn, the copy written
        std::map<int, Lifetimes> partWay;             // copies that made some of their objects, by room
        std::vector<COLORREF> composite(targetWidth * targetHeight, kFill);  // the target after a whole copy
        for (int y = 0; y < kHeight; ++y)
            for (int x = 1; x < kWidth; ++x) composite[(y + at) * targetWidth + x + at] = PatternAt(x, y);
        const std::vector<COLORREF> untouched(targetWidth * targetHeight, kFill);
        for (int room = 0; room <= 12; ++room) {
            while (held - pens.size() < static_cast<size_t>(room)) {
                ::DeleteObject(pens.back());
                pens.pop_back();
            }
            const std::string when = "with room for " + std::to_string(room) + " objects";
            const short listed = CountOf(registry.Get());
            const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
            const long objects = kiv::module::LiveObjects();

            // The surface: the pattern, the left column in its key colour.
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) ::SetPixelV(dc, x, y, x == 0 ? kRed : PatternAt(x, y));
            const std::vector<COLORREF> pixels = Pixels(dc, kWidth, kHeight);
            const DcState state = StateOf(dc);

            short left = 0, top = 0;
            EXPECT_EQ(surface->BPrint(&left, &top, &text), S_OK) << when;
            if (Pixels(dc, kWidth, kHeight) != pixels) drawnFrom.insert(room);
            EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "BPrint " << when;
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) ::SetPixelV(dc, x, y, pixels[y * kWidth + x]);

            // A shape is drawn whole or not at all.
            auto shape = [&](const char* member, HRESULT hr, const std::vector<COLORREF>& whole, std::set<int>& from) {
                EXPECT_EQ(hr, S_OK) << member << " " << when;
                const std::vector<COLORREF> now = Pixels(dc, kWidth, kHeight);
                if (now == whole) {
                    from.insert(room);
                } else {
                    EXPECT_EQ(now, pixels) << member << " left a mark other than its shape " << when;
                }
                EXPECT_EQ(kivtest::LiveGdiObjects(), before) << member << " " << when;
                for (int y = 0; y < kHeight; ++y)
                    for (int x = 0; x < kWidth; ++x) ::SetPixelV(dc, x, y, pixels[y * kWidth + x]);
            };
            shape("DrawLine", DrawGreenLine(surface.Get()), Painted(pixels, OnLine, kGreen), lineFrom);
            shape("DrawBox", DrawRedBox(surface.Get()), Painted(pixels, InBox, kRed), boxFrom);

            RECT all = {0, 0, targetWidth, targetHeight};
            HBRUSH fill = reinterpret_cast<HBRUSH>(::GetStockObject(DC_BRUSH));
            ::SetDCBrushColor(target.Dc(), kFill);
            ::FillRect(target.Dc(), &all, fill);
            LONG targetDc = platform::HandleToI4(target.Dc());
            short x0 = at, y0 = at;
            Lifetimes copy;
            {
                Recorder recorder;  // only watches: which objects the platform made, which it refused
                EXPECT_EQ(surface->Copy(&targetDc, &x0, &y0, VARIANT_TRUE), S_OK) << when;
                copy = LifetimesIn(recorder.calls);
            }
            EXPECT_EQ(Pixels(dc, kWidth, kHeight), pixels) << "the copy changed its surface " << when;
            EXPECT_TRUE(StateOf(dc) == state) << "the copy changed its surface's context " << when;
            const std::vector<COLORREF> written = Pixels(target.Dc(), targetWidth, targetHeight);
            if (written == composite) {
                copiedFrom.insert(room);
            } else {
                EXPECT_EQ(written, untouched) << "the copy " << when << " refused " << copy.refused;
                if (!copy.made.empty()) partWay[room] = copy;
            }
            EXPECT_EQ(copy.givenBack.size(), copy.made.size()) << "Copy " << when;
            EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "Copy " << when;

            {
                ComPtr<IPicture> picture;
                EXPECT_EQ(surface->get_Picture(picture.Put()), S_OK) << when;
            }
            EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "Picture " << when;

            short width = 3, height = 3;
            ComPtr<_KivBitmap> made;
            EXPECT_EQ(registry->Create(&name, &width, &height, made.Put()), S_OK) << when;
            EXPECT_EQ(CountOf(registry.Get()), listed + (made ? 1 : 0)) << when;
            if (made) {
                madeFrom.insert(room);
                made = nullptr;
                short last = CountOf(registry.Get());
                registry->RemoveInt(&last);
            }
            EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "Create " << when;
            EXPECT_EQ(kiv::module::LiveObjects(), objects) << when;
            EXPECT_FALSE(ErrorObjectLeft()) << when;
        }
        for (HPEN pen : pens) ::DeleteObject(pen);
        pens.clear();
        // Nothing drew or was made without room, and everything did with room enough.
        EXPECT_EQ(drawnFrom.count(0), 0u) << "BPrint drew without a font";
        EXPECT_EQ(madeFrom.count(0), 0u) << "a surface without a single object";
        EXPECT_EQ(drawnFrom.count(12), 1u);
        EXPECT_EQ(madeFrom.count(12), 1u);
        for (const std::set<int>* from : {&lineFrom, &boxFrom, &copiedFrom}) {
            EXPECT_EQ(from->count(0), 0u) << "drawn without room for a single object";
            EXPECT_EQ(from->count(12), 1u) << "not drawn with room enough";
        }
        EXPECT_FALSE(partWay.empty()) << "no amount of room made the copy fail part-way";
        for (const auto& [room, copy] : partWay)
            std::printf("room for %d: the copy made %zu objects, was refused %s, gave %zu back, left its target as it "
                        "was\n",
                        room, copy.made.size(), copy.refused.c_str(), copy.givenBack.size());
        std::printf("DrawLine drew from room for %d, DrawBox from %d, the copy wrote its target from %d\n",
                    lineFrom.empty() ? -1 : *lineFrom.begin(), boxFrom.empty() ? -1 : *boxFrom.begin(),
                    copiedFrom.empty() ? -1 : *copiedFrom.begin());
        std::printf("%zu GDI objects of the client's own filled the process; BPrint drew from room for %d, Create made "
                    "a surface from room for %d\n",
                    held, drawnFrom.empty() ? -1 : *drawnFrom.begin(), madeFrom.empty() ? -1 : *madeFrom.begin());
        ::SysFreeString(name);
        ::SysFreeString(text);
        // Afterwards the platform makes surfaces again.
        EXPECT_TRUE(Create(registry.Get(), L"after", 8, 8));
    }
    EXPECT_EQ(kivtest::LiveGdiObjects(), start);
    EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
