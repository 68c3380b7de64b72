// The platform layer: binding by name, errors for what cannot be found, and the counting of objects.
#include "TestSupport.h"

#include "platform/Binding.h"
#include "platform/RuntimeError.h"

using namespace kivtest;
namespace platform = kiv::platform;

TEST(Binding, MissingEntryPointRaisesTheRuntimesError) {
    static platform::Entry<void(WINAPI*)()> missing("gdi32", "NoSuchGdiFunction");
    try {
        missing();
        FAIL() << "no error raised";
    } catch (const kiv::RuntimeError& error) {
        EXPECT_EQ(error.Number(), kiv::errors::EntryPointNotFound);
        EXPECT_EQ(error.Description(), L"Specified DLL function not found");
    }
}

TEST(Binding, MissingLibraryRaisesTheRuntimesError) {
    static platform::Entry<void(WINAPI*)()> missing("no_such_library_here.dll", "Anything");
    try {
        missing();
        FAIL() << "no error raised";
    } catch (const kiv::RuntimeError& error) {
        EXPECT_EQ(error.Number(), kiv::errors::DllNotFound);
    }
}

TEST(Binding, AnAddressIsBoundOnceAndKept) {
    static platform::Entry<decltype(&::GetStockObject)> entry("gdi32", "GetStockObject");
    auto first = entry();
    EXPECT_EQ(first, entry());
    EXPECT_NE(first, nullptr);
}

TEST(Counting, ObjectsAreCountedUntilDeleted) {
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    HDC screen = platform::GetDC(nullptr);
    HDC dc = platform::CreateCompatibleDC(screen);
    HBITMAP bitmap = platform::CreateCompatibleBitmap(screen, 4, 4);
    HPEN pen = platform::CreatePen(PS_SOLID, 1, 0);
    kivtest::GdiCounts during = kivtest::LiveGdiObjects();
    EXPECT_EQ(during.dcs, before.dcs + 1);
    EXPECT_EQ(during.bitmaps, before.bitmaps + 1);
    EXPECT_EQ(during.pens, before.pens + 1);
    EXPECT_EQ(during.screenDCs, before.screenDCs + 1);
    platform::DeleteObject(pen);
    platform::DeleteObject(bitmap);
    platform::DeleteDC(dc);
    platform::ReleaseDC(nullptr, screen);
    EXPECT_EQ(kivtest::LiveGdiObjects(), before);
}

TEST(Counting, AnObserverSeesArgumentsAndMayAnswerACall) {
    Recorder recorder;
    recorder.answer = [](platform::Call& call) {
        if (std::string(call.name) != "GetDeviceCaps") return false;
        call.result = 256;
        return true;
    };
    EXPECT_EQ(platform::GetDeviceCaps(nullptr, SIZEPALETTE), 256);
    ASSERT_EQ(recorder.Count("GetDeviceCaps"), 1);
    EXPECT_EQ(recorder.Named("GetDeviceCaps")[0].args[1], SIZEPALETTE);
}

class Smoke : public ComTest {};

TEST_F(Smoke, AControlMakesAClearedSurface) {
    auto control = NewControl();
    ASSERT_TRUE(control);
    auto registry = BitmapsOf(control.Get());
    ASSERT_TRUE(registry);
    auto surface = Create(registry.Get(), L"a", 8, 6);
    ASSERT_TRUE(surface);
    EXPECT_EQ(CountOf(registry.Get()), 1);
    EXPECT_EQ(PixelAt(DcOf(surface.Get()), 7, 5), Rgb(0x8000000F));
}
