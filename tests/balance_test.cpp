// Balance over many rounds: every surface, registry and control that a client makes and lets go
// takes its platform objects with it, and the module can be unloaded at the end.
#include "TestSupport.h"

#include "component/Module.h"

#include <string>

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

class Balance : public ComTest {};

TEST_F(Balance, AThousandRoundsGiveEverythingBack) {
    const kivtest::GdiCounts start = kivtest::LiveGdiObjects();
    const long objectsAtStart = kiv::module::LiveObjects();

    ComPtr<_KivCtl> control = NewControl();
    ASSERT_TRUE(control);
    ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
    ASSERT_TRUE(registry);
    // While a control lives: its context (a memory context with a bitmap of its own), and per listed
    // surface a context, a bitmap and a palette; nothing else between calls.
    auto expectListed = [&](int round) {
        const short listed = CountOf(registry.Get());
        const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
        EXPECT_EQ(now.dcs, start.dcs + 1 + listed) << "round " << round;
        EXPECT_EQ(now.bitmaps, start.bitmaps + 1 + listed) << "round " << round;
        EXPECT_EQ(now.palettes, start.palettes + listed) << "round " << round;
        EXPECT_EQ(now.pens + now.brushes + now.fonts + now.screenDCs,
                  start.pens + start.brushes + start.fonts + start.screenDCs)
            << "round " << round;
        EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart + 2 + listed) << "round " << round;
        return !::testing::Test::HasFailure();
    };

    for (int round = 0; round < 1000; ++round) {
        const short width = static_cast<short>(4 + round % 7), height = static_cast<short>(3 + round % 5);
        ComPtr<_KivBitmap> surface = Create(registry.Get(), L"r" + std::to_wstring(round % 10), width, height);
        ASSERT_TRUE(surface) << "round " << round;
        const COLORREF colour = RGB(round % 256, (round * 7) % 256, (round * 13) % 256);
        surface->put_ForeColor(round % 2 ? static_cast<LONG>(colour) : static_cast<LONG>(0x80000012));
        surface->put_BackColor(round % 3 ? static_cast<LONG>(colour) : static_cast<LONG>(0x8000000F));
        LONG key = static_cast<LONG>(round % 5 ? 0x8000000F : colour);
        surface->put_TransparentColor(&key);
        ASSERT_EQ(surface->Cls(), S_OK);
        const COLORREF back = round % 3 ? colour : Rgb(0x8000000F);
        ASSERT_EQ(PixelAt(DcOf(surface.Get()), width - 1, height - 1), back) << "round " << round;
        surface = nullptr;

        switch (round % 5) {
        case 0: {  // the newest entry
            short last = CountOf(registry.Get());
            registry->RemoveInt(&last);
            break;
        }
        case 1: {  // the oldest entry
            short first = 1;
            registry->RemoveInt(&first);
            break;
        }
        case 2:  // kept listed for a while
        case 3:
            break;
        case 4:
            if (round % 20 == 4) {
                registry->Clear();
                EXPECT_EQ(CountOf(registry.Get()), 0);
            } else if (round % 20 == 14) {
                // The whole control goes, with whatever is still listed.
                registry = nullptr;
                control = NewControl();
                ASSERT_TRUE(control);
                registry = BitmapsOf(control.Get());
                ASSERT_TRUE(registry);
            }
            break;
        }
        if (!expectListed(round)) break;
    }

    registry = nullptr;
    control = nullptr;
    EXPECT_EQ(kivtest::LiveGdiObjects(), start);
    EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// While anything of the module lives, it stays loaded.
TEST_F(Balance, TheModuleStaysWhileAnObjectLives) {
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    ComPtr<_KivBitmap> surface;
    {
        auto control = NewControl();
        ASSERT_TRUE(control);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
        surface = Create(BitmapsOf(control.Get()).Get(), L"kept", 2, 2);
        ASSERT_TRUE(surface);
    }
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a held surface keeps its registry and the module";
    surface = nullptr;
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
