// Every order of release. A control, its registry, two surfaces and a picture of one of them are let
// go in all 120 orders; and a registry that outlived its control, with two surfaces made after the
// control went and a picture, in all 24 orders. Each order runs with both surfaces listed, with one
// removed (RemoveInt), with the list cleared (Clear) before the releases, and cleared right before
// the client lets the registry go. After every single release the objects still alive are exactly
// those that something still reaches, their platform objects are exactly theirs, and whatever the
// client still holds works. At the end nothing is left and the module can be unloaded.
#include "TestSupport.h"

#include "component/Module.h"

#include <olectl.h>

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <vector>

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

enum Item { kControl, kRegistry, kSurfaceA, kSurfaceB, kPicture, kItems };
const char* const kNames[] = {"control", "registry", "surface A", "surface B", "picture"};

enum class Listing { Listed, RemovedA, Cleared, ClearedLate };
const char* const kListings[] = {"both listed", "A removed", "cleared first", "cleared when the registry goes"};

constexpr COLORREF kColourA = RGB(200, 30, 40);
constexpr COLORREF kColourB = RGB(10, 180, 90);

IUnknown* Identity(IUnknown* object) {
    IUnknown* unknown = nullptr;
    object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (unknown) unknown->Release();  // the object is held elsewhere; only its identity is kept
    return unknown;
}

// What the client holds and what the library is known to hold, and so which objects must be alive.
struct Model {
    bool held[kItems] = {};
    bool controlAlive = false;
    bool listedA = false;
    bool listedB = false;

    // The control lives while the client holds it; its registry while the control, the client or a
    // surface that the client holds reaches it; a surface while the client holds it or the living
    // registry lists it. The control's own context lives with the control or the registry.
    bool RegistryAlive() const { return controlAlive || held[kRegistry] || held[kSurfaceA] || held[kSurfaceB]; }
    bool AAlive() const { return held[kSurfaceA] || (listedA && RegistryAlive()); }
    bool BAlive() const { return held[kSurfaceB] || (listedB && RegistryAlive()); }
    long ModuleObjects() const { return controlAlive + RegistryAlive() + AAlive() + BAlive(); }
    short Listed() const { return static_cast<short>(listedA + listedB); }

    void Release(Item item) {
        held[item] = false;
        // The control's last outside reference ends it: it lets go of its registry's list.
        if (item == kControl) {
            controlAlive = false;
            listedA = listedB = false;
        }
    }
};

class Order : public BalancedTest {
protected:
    void SetUp() override {
        BalancedTest::SetUp();
        start = kivtest::LiveGdiObjects();
        objectsAtStart = kiv::module::LiveObjects();
        controlDc = ControlDcObjects();
    }

    // The platform objects of the control's own context (a context and a bitmap), measured.
    kivtest::GdiCounts ControlDcObjects() {
        const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
        ComPtr<_KivCtl> control = NewControl();
        kivtest::GdiCounts with = kivtest::LiveGdiObjects();
        control = nullptr;
        with.dcs -= before.dcs;
        with.bitmaps -= before.bitmaps;
        return with;
    }

    // One order: `orphan` makes the surfaces in a registry whose control has already gone.
    void RunOrder(const std::vector<Item>& order, Listing listing, bool orphan) {
        std::string label = std::string(orphan ? "orphaned registry, " : "") + kListings[static_cast<int>(listing)] + ", order";
        for (Item item : order) label += std::string(" ") + kNames[item];

        Model model;
        ComPtr<_KivCtl> control = NewControl();
        ASSERT_TRUE(control) << label;
        ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
        ASSERT_TRUE(registry) << label;
        IUnknown* const registryIdentity = Identity(registry.Get());
        if (orphan) {
            control = nullptr;
        } else {
            model.held[kControl] = true;
            model.controlAlive = true;
        }
        model.held[kRegistry] = true;

        ComPtr<_KivBitmap> a = Create(registry.Get(), L"a", 5, 4);
        ComPtr<_KivBitmap> b = Create(registry.Get(), L"b", 3, 2);
        ASSERT_TRUE(a && b) << label;
        ::SetPixelV(DcOf(a.Get()), 0, 0, kColourA);
        ::SetPixelV(DcOf(b.Get()), 0, 0, kColourB);
        ComPtr<IPicture> picture;
        ASSERT_EQ(a->get_Picture(picture.Put()), S_OK);
        ASSERT_TRUE(picture) << label;
        model.held[kSurfaceA] = model.held[kSurfaceB] = model.held[kPicture] = true;
        model.listedA = model.listedB = true;

        if (listing == Listing::RemovedA) {
            short first = 1;
            registry->RemoveInt(&first);
            model.listedA = false;
        } else if (listing == Listing::Cleared) {
            registry->Clear();
            model.listedA = model.listedB = false;
        }
        Check(model, label + ", before any release", control.Get(), registry.Get(), registryIdentity, a.Get(), b.Get(),
              picture.Get());

        for (size_t step = 0; step < order.size(); ++step) {
            const Item item = order[step];
            if (item == kRegistry && listing == Listing::ClearedLate) {
                registry->Clear();
                model.listedA = model.listedB = false;
            }
            switch (item) {
            case kControl: control = nullptr; break;
            case kRegistry: registry = nullptr; break;
            case kSurfaceA: a = nullptr; break;
            case kSurfaceB: b = nullptr; break;
            case kPicture: picture = nullptr; break;
            case kItems: break;
            }
            model.Release(item);
            Check(model, label + ", after releasing the " + kNames[item], control.Get(), registry.Get(),
                  registryIdentity, a.Get(), b.Get(), picture.Get());
            if (::testing::Test::HasFailure()) return;
        }
        EXPECT_EQ(kivtest::LiveGdiObjects(), start) << label;
        EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart) << label;
        EXPECT_EQ(DllCanUnloadNow(), S_OK) << label;
    }

    void Check(const Model& model, const std::string& when, _KivCtl* control, _KivFactory* registry,
               IUnknown* registryIdentity, _KivBitmap* a, _KivBitmap* b, IPicture* picture) {
        // Exactly the objects that something reaches are alive, with exactly their platform objects.
        EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart + model.ModuleObjects()) << when;
        const int surfaces = model.AAlive() + model.BAlive();
        const bool contextAlive = model.controlAlive || model.RegistryAlive();
        const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
        EXPECT_EQ(now.dcs, start.dcs + surfaces + (contextAlive ? controlDc.dcs : 0)) << when;
        EXPECT_EQ(now.bitmaps, start.bitmaps + surfaces + (contextAlive ? controlDc.bitmaps : 0)) << when;
        EXPECT_EQ(now.palettes, start.palettes + surfaces) << when;
        EXPECT_EQ(now.pens + now.brushes + now.fonts + now.screenDCs,
                  start.pens + start.brushes + start.fonts + start.screenDCs)
            << when;
        EXPECT_EQ(DllCanUnloadNow(), model.ModuleObjects() ? S_FALSE : S_OK) << when;

        // What the client holds works.
        if (control) {
            ComPtr<_KivFactory> bitmaps = BitmapsOf(control);
            ASSERT_TRUE(bitmaps) << when;
            EXPECT_EQ(Identity(bitmaps.Get()), registryIdentity) << when;
        }
        if (registry) {
            EXPECT_EQ(CountOf(registry), model.Listed()) << when;
            short first = 1;
            ComPtr<_KivBitmap> listed;
            EXPECT_EQ(registry->get_ItemInt(&first, listed.Put()), S_OK) << when;
            if (model.listedA) {
                EXPECT_TRUE(a == nullptr || listed.Get() == a) << when;
            } else if (model.listedB) {
                EXPECT_TRUE(b == nullptr || listed.Get() == b) << when;
            }
            EXPECT_EQ(static_cast<bool>(listed), model.Listed() > 0) << when;
        }
        for (auto [surface, colour, width] : {std::tuple{a, kColourA, 5}, std::tuple{b, kColourB, 3}}) {
            if (!surface) continue;
            short w = 0;
            EXPECT_EQ(surface->get_Width(&w), S_OK) << when;
            EXPECT_EQ(w, width) << when;
            ColourTarget target(8, 8, RGB(1, 2, 3));
            LONG dc = platform::HandleToI4(target.Dc());
            short left = 1, top = 1;
            EXPECT_EQ(surface->Copy(&dc, &left, &top, VARIANT_FALSE), S_OK) << when;
            EXPECT_EQ(PixelAt(target.Dc(), 1, 1), colour) << when << ": the held surface copies its pixels";
            short x = 1, y = 1, one = 1;
            LONG paint = static_cast<LONG>(RGB(5, 6, 7));
            EXPECT_EQ(surface->DrawBox(&x, &y, &one, &one, &paint), S_OK) << when;
            EXPECT_EQ(PixelAt(DcOf(surface), 1, 1), RGB(5, 6, 7)) << when;
        }
        if (picture) {
            OLE_HANDLE handle = 0;
            EXPECT_EQ(picture->get_Handle(&handle), S_OK) << when;
            EXPECT_EQ(::GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle))),
                      static_cast<DWORD>(OBJ_BITMAP))
                << when;
            OLE_XSIZE_HIMETRIC width = 0;
            OLE_YSIZE_HIMETRIC height = 0;
            picture->get_Width(&width);
            picture->get_Height(&height);
            ColourTarget target(5, 4, RGB(1, 2, 3));
            EXPECT_EQ(picture->Render(target.Dc(), 0, 0, 5, 4, 0, height, width, -height, nullptr), S_OK) << when;
            EXPECT_EQ(PixelAt(target.Dc(), 0, 0), kColourA) << when << ": the picture keeps its pixels";
        }
    }

    kivtest::GdiCounts start;
    long objectsAtStart = 0;
    kivtest::GdiCounts controlDc;
};

TEST_F(Order, EveryOrderOfReleaseOfAControlItsRegistryTwoSurfacesAndAPicture) {
    for (Listing listing : {Listing::Listed, Listing::RemovedA, Listing::Cleared, Listing::ClearedLate}) {
        std::vector<Item> order = {kControl, kRegistry, kSurfaceA, kSurfaceB, kPicture};
        int orders = 0;
        do {
            RunOrder(order, listing, false);
            ++orders;
            if (HasFailure()) return;
        } while (std::next_permutation(order.begin(), order.end()));
        EXPECT_EQ(orders, 120);
    }
}

TEST_F(Order, EveryOrderOfReleaseOfARegistryThatOutlivedItsControl) {
    for (Listing listing : {Listing::Listed, Listing::RemovedA, Listing::Cleared, Listing::ClearedLate}) {
        std::vector<Item> order = {kRegistry, kSurfaceA, kSurfaceB, kPicture};
        int orders = 0;
        do {
            RunOrder(order, listing, true);
            ++orders;
            if (HasFailure()) return;
        } while (std::next_permutation(order.begin(), order.end()));
        EXPECT_EQ(orders, 24);
    }
}

}  // namespace
