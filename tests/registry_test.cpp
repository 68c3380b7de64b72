// The registry: a 1-based list of named surfaces that the control hands out as Bitmaps. Names are
// tags (first match wins, case-sensitive), positions outside the list give none, removals close the
// gap, and a surface that the platform cannot make is never listed.
#include "TestSupport.h"

#include "component/Module.h"
#include "component/OwnObject.h"
#include "control/KivCtl.h"
#include "registry/KivFactory.h"
#include "surface/KivBitmap.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

class Registry : public ControlTest {
protected:
    kiv::KivFactory& Own() { return kiv::Own<kiv::KivFactory>(registry.Get()); }

    ComPtr<_KivBitmap> ItemInt(short index) {
        ComPtr<_KivBitmap> out;
        EXPECT_EQ(registry->get_ItemInt(&index, out.Put()), S_OK) << "ItemInt(" << index << ")";
        return out;
    }
    // A null name is the null BSTR, which stands for the empty string.
    ComPtr<_KivBitmap> ItemTxt(const wchar_t* name) {
        BSTR text = name ? ::SysAllocString(name) : nullptr;
        ComPtr<_KivBitmap> out;
        EXPECT_EQ(registry->get_ItemTxt(&text, out.Put()), S_OK);
        ::SysFreeString(text);
        return out;
    }
    void RemoveInt(short index) { EXPECT_EQ(registry->RemoveInt(&index), S_OK) << "RemoveInt(" << index << ")"; }
    short Count() { return CountOf(registry.Get()); }

};

bool Same(_KivBitmap* a, _KivBitmap* b) { return a && b && kiv::SameObject(a, b); }

short WidthOf(_KivBitmap* surface) {
    short width = -999;
    EXPECT_EQ(surface->get_Width(&width), S_OK);
    return width;
}

TEST_F(Registry, ANewRegistryIsEmptyAndAnswersNoneEverywhere) {
    EXPECT_EQ(Count(), 0);
    EXPECT_FALSE(ItemInt(1));
    EXPECT_FALSE(ItemTxt(L"a"));
    EXPECT_FALSE(ItemTxt(L""));
    EXPECT_FALSE(ItemTxt(nullptr));
    RemoveInt(1);
    EXPECT_EQ(registry->Clear(), S_OK);
    EXPECT_EQ(Count(), 0);
    // A registry is attached to its control before any client sees it.
    EXPECT_TRUE(kiv::SameObject(Own().Owner().Get(), control.Get()));
    EXPECT_EQ(Own().ReferenceDC(), platform::HandleToI4(kiv::Own<kiv::KivCtl>(control.Get()).OwnDC()));
    EXPECT_NE(Own().ReferenceDC(), 0);
}

TEST_F(Registry, CreateAppendsTheSurfaceItReturns) {
    const short sizes[][2] = {{16, 8}, {3, 5}, {1, 1}};
    for (const auto& size : sizes) {
        const short before = Count();
        auto surface = Create(registry.Get(), L"s", size[0], size[1]);
        ASSERT_TRUE(surface);
        EXPECT_EQ(Count(), before + 1);
        EXPECT_TRUE(Same(ItemInt(Count()).Get(), surface.Get())) << "Create must return what it listed";
        short height = 0;
        surface->get_Height(&height);
        EXPECT_EQ(WidthOf(surface.Get()), size[0]);
        EXPECT_EQ(height, size[1]);
        // The surface is linked to this registry and carries the name it was listed under.
        auto& own = kiv::Own<kiv::KivBitmap>(surface.Get());
        EXPECT_TRUE(kiv::SameObject(own.Factory().Get(), registry.Get()));
        EXPECT_EQ(own.Name(), L"s");
    }
    // Earlier entries keep their places.
    EXPECT_EQ(WidthOf(ItemInt(1).Get()), 16);
    EXPECT_EQ(WidthOf(ItemInt(2).Get()), 3);
}

TEST_F(Registry, NamesAreTagsFoundFirstInListOrderAndExactly) {
    auto first = Create(registry.Get(), L"a", 4, 4);
    auto second = Create(registry.Get(), L"a", 5, 5);
    auto upper = Create(registry.Get(), L"B", 6, 6);
    ASSERT_TRUE(first && second && upper);

    EXPECT_TRUE(Same(ItemTxt(L"a").Get(), first.Get())) << "the earlier of two equal names";
    EXPECT_FALSE(ItemTxt(L"A")) << "names are case-sensitive";
    EXPECT_FALSE(ItemTxt(L"b"));
    EXPECT_TRUE(Same(ItemTxt(L"B").Get(), upper.Get()));
    EXPECT_FALSE(ItemTxt(L"a ")) << "no trimming";
    EXPECT_FALSE(ItemTxt(L""));

    RemoveInt(1);
    EXPECT_TRUE(Same(ItemTxt(L"a").Get(), second.Get())) << "the later one once the earlier is removed";
    RemoveInt(1);
    EXPECT_FALSE(ItemTxt(L"a"));
    EXPECT_TRUE(Same(ItemTxt(L"B").Get(), upper.Get()));
}

TEST_F(Registry, AnEmptyNameAndAnAbsentNameAreEqual) {
    BSTR absent = nullptr;
    short w = 4, h = 4;
    ComPtr<_KivBitmap> unnamed;
    ASSERT_EQ(registry->Create(&absent, &w, &h, unnamed.Put()), S_OK);
    ASSERT_TRUE(unnamed);
    auto empty = Create(registry.Get(), L"", 5, 5);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(Same(ItemTxt(L"").Get(), unnamed.Get()));
    EXPECT_TRUE(Same(ItemTxt(nullptr).Get(), unnamed.Get()));
    RemoveInt(1);
    EXPECT_TRUE(Same(ItemTxt(nullptr).Get(), empty.Get()));
    EXPECT_FALSE(ItemTxt(L" "));
}

TEST_F(Registry, PositionsOutsideTheListGiveNoneAndRemoveNothing) {
    auto a = Create(registry.Get(), L"a", 2, 2);
    auto b = Create(registry.Get(), L"b", 3, 3);
    ASSERT_TRUE(a && b);
    for (short index : {short(0), short(-1), short(3), short(-32768), short(32767)}) {
        EXPECT_FALSE(ItemInt(index)) << "ItemInt(" << index << ")";
        RemoveInt(index);
        ASSERT_EQ(Count(), 2) << "RemoveInt(" << index << ")";
        EXPECT_TRUE(Same(ItemInt(1).Get(), a.Get()));
        EXPECT_TRUE(Same(ItemInt(2).Get(), b.Get()));
    }
}

// [A, B, C] with one position removed: the rest keep their order without a hole, and the registry
// lets its reference to the removed surface go.
class RemoveOne : public Registry, public ::testing::WithParamInterface<short> {};

TEST_P(RemoveOne, ClosesTheGapAndReleasesTheSurface) {
    const short removed = GetParam();
    std::vector<ComPtr<_KivBitmap>> abc;
    for (const wchar_t* name : {L"A", L"B", L"C"}) abc.push_back(Create(registry.Get(), name, 4, 4));
    ASSERT_TRUE(abc[0] && abc[1] && abc[2]);
    ComPtr<_KivBitmap> gone = abc[removed - 1];
    abc.erase(abc.begin() + (removed - 1));

    RemoveInt(removed);
    ASSERT_EQ(Count(), 2);
    EXPECT_TRUE(Same(ItemInt(1).Get(), abc[0].Get()));
    EXPECT_TRUE(Same(ItemInt(2).Get(), abc[1].Get()));
    EXPECT_FALSE(ItemInt(3));
    EXPECT_FALSE(ItemTxt(removed == 1 ? L"A" : removed == 2 ? L"B" : L"C"));

    // Still fully usable by the client that holds it...
    EXPECT_EQ(WidthOf(gone.Get()), 4);
    EXPECT_EQ(gone->Cls(), S_OK);
    // ...and its platform objects go with the client's reference, the last one.
    const kivtest::GdiCounts held = kivtest::LiveGdiObjects();
    gone = nullptr;
    const kivtest::GdiCounts after = kivtest::LiveGdiObjects();
    EXPECT_EQ(after.dcs, held.dcs - 1);
    EXPECT_EQ(after.bitmaps, held.bitmaps - 1);
    EXPECT_EQ(after.palettes, held.palettes - 1);
}

INSTANTIATE_TEST_SUITE_P(Position, RemoveOne, ::testing::Values(short(1), short(2), short(3)));

TEST_F(Registry, RemovingTheOnlyEntryEmptiesTheListButKeepsItsAttachments) {
    const long reference = Own().ReferenceDC();
    auto only = Create(registry.Get(), L"only", 4, 4);
    ASSERT_TRUE(only);
    RemoveInt(1);
    EXPECT_EQ(Count(), 0);
    EXPECT_FALSE(ItemInt(1));
    EXPECT_FALSE(ItemTxt(L"only"));
    EXPECT_TRUE(kiv::SameObject(Own().Owner().Get(), control.Get()));
    EXPECT_EQ(Own().ReferenceDC(), reference);

    auto next = Create(registry.Get(), L"next", 5, 5);
    ASSERT_TRUE(next);
    EXPECT_EQ(Count(), 1);
    EXPECT_TRUE(Same(ItemInt(1).Get(), next.Get()));
}

// Sizes are not checked by the library: the platform decides. Whatever it refuses leaves no surface,
// no listed entry and no platform object behind; whatever it makes is the surface.
TEST_F(Registry, CreateFollowsWhatThePlatformMakes) {
    HDC reference = platform::I4ToHandle<HDC>(Own().ReferenceDC());
    const short sizes[][2] = {{-1, 5}, {0, 0}, {32767, 32767}};
    for (const auto& size : sizes) {
        HBITMAP probe = ::CreateCompatibleBitmap(reference, size[0], size[1]);
        const bool refused = probe == nullptr;
        if (probe) ::DeleteObject(probe);
        std::printf("the platform %s a %d x %d bitmap\n", refused ? "refuses" : "makes", size[0], size[1]);

        const short before = Count();
        const kivtest::GdiCounts gdi = kivtest::LiveGdiObjects();
        const long objects = kiv::module::LiveObjects();
        auto surface = Create(registry.Get(), L"x", size[0], size[1]);
        if (refused) {
            EXPECT_FALSE(surface) << size[0] << " x " << size[1];
            EXPECT_EQ(Count(), before);
            EXPECT_EQ(kivtest::LiveGdiObjects(), gdi);
            EXPECT_EQ(kiv::module::LiveObjects(), objects);
        } else {
            ASSERT_TRUE(surface) << size[0] << " x " << size[1];
            EXPECT_EQ(Count(), before + 1);
            EXPECT_EQ(WidthOf(surface.Get()), size[0]) << "the requested size, as given";
            surface = nullptr;
            RemoveInt(Count());
            EXPECT_EQ(kivtest::LiveGdiObjects(), gdi);
        }
    }
    // 32767 x 32767 pixels is more than any platform here makes.
    EXPECT_EQ(Count(), 0);
}

// Refusals that do not depend on the machine: the platform is made to refuse the bitmap, then the
// device context.
TEST_F(Registry, CreateGivesNoneWhenThePlatformRefusesTheSurface) {
    auto keep = Create(registry.Get(), L"keep", 4, 4);
    ASSERT_TRUE(keep);
    for (const char* refused : {"CreateCompatibleBitmap", "CreateCompatibleDC"}) {
        const kivtest::GdiCounts gdi = kivtest::LiveGdiObjects();
        const long objects = kiv::module::LiveObjects();
        ComPtr<_KivBitmap> surface;
        {
            Recorder recorder;
            recorder.answer = [&](platform::Call& call) {
                if (std::string(call.name) != refused) return false;
                call.result = 0;
                return true;
            };
            surface = Create(registry.Get(), L"x", 8, 8);
            EXPECT_EQ(recorder.Count(refused), 1);
        }
        EXPECT_FALSE(surface) << refused;
        EXPECT_EQ(Count(), 1);
        EXPECT_FALSE(ItemTxt(L"x"));
        EXPECT_EQ(kivtest::LiveGdiObjects(), gdi) << refused;
        EXPECT_EQ(kiv::module::LiveObjects(), objects) << refused;
    }
    EXPECT_TRUE(Same(ItemInt(1).Get(), keep.Get()));
}

TEST_F(Registry, ClearReleasesTheListWhileAHeldSurfaceStaysUsable) {
    auto held = Create(registry.Get(), L"held", 6, 4);
    auto dropped = Create(registry.Get(), L"dropped", 6, 4);
    ASSERT_TRUE(held && dropped);
    dropped = nullptr;
    const kivtest::GdiCounts listed = kivtest::LiveGdiObjects();

    EXPECT_EQ(registry->Clear(), S_OK);
    EXPECT_EQ(Count(), 0);
    EXPECT_FALSE(ItemInt(1));
    EXPECT_FALSE(ItemTxt(L"held"));
    EXPECT_EQ(kivtest::LiveGdiObjects().dcs, listed.dcs - 1) << "the unheld surface goes with the list";
    EXPECT_TRUE(kiv::SameObject(Own().Owner().Get(), control.Get())) << "Clear keeps the owner";

    // Drawing still reaches the held surface...
    const COLORREF red = RGB(200, 10, 20);
    short left = 1, top = 1, width = 3, height = 2;
    LONG colour = static_cast<LONG>(red);
    EXPECT_EQ(held->DrawBox(&left, &top, &width, &height, &colour), S_OK);
    HDC dc = DcOf(held.Get());
    EXPECT_EQ(PixelAt(dc, 1, 1), red);
    EXPECT_EQ(PixelAt(dc, 3, 2), red);
    EXPECT_EQ(PixelAt(dc, 0, 0), Rgb(0x8000000F));
    // ...and the control copies it.
    ColourTarget target(10, 10, RGB(255, 255, 255));
    EXPECT_EQ(control->Blit(platform::HandleToI4(target.Dc()), 2, 3, 6, 4, platform::HandleToI4(dc), 0, 0,
                            static_cast<LONG>(SRCCOPY)),
              S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 3, 4), red);
    EXPECT_EQ(PixelAt(target.Dc(), 2, 3), Rgb(0x8000000F));
    EXPECT_EQ(PixelAt(target.Dc(), 1, 3), RGB(255, 255, 255));
    EXPECT_EQ(PixelAt(target.Dc(), 8, 3), RGB(255, 255, 255));
}

TEST_F(Registry, RemoveBitmapRemovesOnlyAListedSurfaceAndClearsTheReference) {
    auto a = Create(registry.Get(), L"a", 2, 2);
    auto b = Create(registry.Get(), L"b", 3, 3);
    auto c = Create(registry.Get(), L"c", 4, 4);
    ASSERT_TRUE(a && b && c);

    ComPtr<_KivBitmap> reference = b;
    Own().RemoveBitmap(reference);
    EXPECT_FALSE(reference) << "the caller's reference is cleared";
    ASSERT_EQ(Count(), 2);
    EXPECT_TRUE(Same(ItemInt(1).Get(), a.Get()));
    EXPECT_TRUE(Same(ItemInt(2).Get(), c.Get()));

    // b is no longer listed: nothing changes, its reference included.
    reference = b;
    Own().RemoveBitmap(reference);
    EXPECT_TRUE(Same(reference.Get(), b.Get()));
    EXPECT_EQ(Count(), 2);

    // A surface of another registry is not this one's to remove.
    auto other = NewControl();
    ASSERT_TRUE(other);
    auto foreign = Create(BitmapsOf(other.Get()).Get(), L"a", 2, 2);
    ASSERT_TRUE(foreign);
    reference = foreign;
    Own().RemoveBitmap(reference);
    EXPECT_TRUE(Same(reference.Get(), foreign.Get()));
    EXPECT_EQ(Count(), 2);

    reference = nullptr;
    Own().RemoveBitmap(reference);
    EXPECT_EQ(Count(), 2);

    reference = c;
    Own().RemoveBitmap(reference);
    EXPECT_FALSE(reference);
    ASSERT_EQ(Count(), 1);
    EXPECT_TRUE(Same(ItemInt(1).Get(), a.Get()));
    reference = a;
    Own().RemoveBitmap(reference);
    EXPECT_FALSE(reference);
    EXPECT_EQ(Count(), 0);
}

// The count is a 16-bit signed integer. Filling the list takes the platform out of the way: the
// observer answers every call with handles that name no real object, so no GDI object is made.
TEST_F(Registry, TheListStopsAt32767Entries) {
    constexpr std::intptr_t kFakeBitmap = 0x00010000, kFakeDC = 0x00020000, kFakePalette = 0x00030000,
                            kFakeBrush = 0x00040000, kFakeScreen = 0x00050000;
    for (std::intptr_t fake : {kFakeBitmap, kFakeDC, kFakePalette, kFakeBrush, kFakeScreen})
        ASSERT_EQ(::GetObjectType(reinterpret_cast<HGDIOBJ>(fake)), 0u) << "a fake handle names a real object";

    std::set<std::string> unexpected;
    Recorder recorder;
    recorder.answer = [&](platform::Call& call) {
        const std::string name = call.name;
        if (name == "CreateCompatibleBitmap") call.result = kFakeBitmap;
        else if (name == "CreateCompatibleDC") call.result = kFakeDC;
        else if (name == "CreateHalftonePalette") call.result = kFakePalette;
        else if (name == "CreateSolidBrush") call.result = kFakeBrush;
        else if (name == "GetDC") call.result = kFakeScreen;
        else if (name == "OleTranslateColor") {
            *reinterpret_cast<COLORREF*>(call.args[2]) = 0;
            call.result = S_OK;
        } else if (name == "SelectObject" || name == "DeleteObject" || name == "DeleteDC" || name == "ReleaseDC" ||
                   name == "SetTextColor" || name == "SetBkColor" || name == "FillRect")
            call.result = 1;
        else {
            unexpected.insert(name);
            return false;
        }
        return true;
    };

    const auto started = std::chrono::steady_clock::now();
    const long objects = kiv::module::LiveObjects();
    short count = 0;
    for (int i = 0; i < kiv::KivFactory::kMaxEntries; ++i) {
        ComPtr<_KivBitmap> surface = Create(registry.Get(), L"n", 2, 2);
        if (!surface) break;
        count = Count();
        if (count != i + 1) break;
        if (i % 1024 == 0) recorder.Clear();
    }
    const double filled = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("filling the list to %d entries took %.1f s\n", count, filled);
    ASSERT_EQ(count, 32767);
    EXPECT_EQ(kiv::module::LiveObjects(), objects + 32767);

    recorder.Clear();
    auto overflow = Create(registry.Get(), L"over", 2, 2);
    EXPECT_FALSE(overflow) << "a full list takes no more";
    EXPECT_EQ(Count(), 32767) << "the count never wraps";
    EXPECT_EQ(kiv::module::LiveObjects(), objects + 32767) << "the surface that was not listed is gone";
    // It was made, allocated and then let go with everything it held.
    EXPECT_EQ(recorder.Count("CreateCompatibleBitmap"), 1);
    EXPECT_EQ(recorder.Count("DeleteDC"), 1);
    EXPECT_FALSE(ItemTxt(L"over"));
    EXPECT_TRUE(ItemInt(32767));
    EXPECT_FALSE(ItemInt(-32768));

    EXPECT_EQ(registry->Clear(), S_OK);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(kiv::module::LiveObjects(), objects);
    EXPECT_TRUE(unexpected.empty()) << "a platform call went through: " << *unexpected.begin();
}

}  // namespace
