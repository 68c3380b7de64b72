// The control: one registry per control handed out as Bitmaps, its fixed extent of 32 x 31 pixels,
// Blit as a plain block transfer, and its termination, which empties the registry while what a
// client still holds stays usable.
#include "TestSupport.h"

#include "component/Module.h"
#include "component/OwnObject.h"
#include "control/KivCtl.h"
#include "registry/KivFactory.h"

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

class Control : public BalancedTest {};

constexpr COLORREF kWhite = RGB(255, 255, 255);

LONG I4(HDC dc) { return platform::HandleToI4(dc); }

kiv::KivCtl& Own(_KivCtl* control) { return kiv::Own<kiv::KivCtl>(control); }
kiv::KivFactory& Own(_KivFactory* registry) { return kiv::Own<kiv::KivFactory>(registry); }

// A surface filled with one colour by the client's own platform calls.
ComPtr<_KivBitmap> Filled(_KivFactory* registry, short width, short height, COLORREF colour) {
    auto surface = Create(registry, L"filled", width, height);
    if (!surface) return surface;
    RECT all = {0, 0, width, height};
    HBRUSH brush = ::CreateSolidBrush(colour);
    ::FillRect(DcOf(surface.Get()), &all, brush);
    ::DeleteObject(brush);
    return surface;
}

int BitsPerPixel(HDC dc) { return ::GetDeviceCaps(dc, BITSPIXEL) * ::GetDeviceCaps(dc, PLANES); }

TEST_F(Control, BitmapsIsTheSameRegistryAtEveryCall) {
    auto control = NewControl();
    ASSERT_TRUE(control);
    auto first = BitmapsOf(control.Get());
    auto second = BitmapsOf(control.Get());
    ASSERT_TRUE(first);
    EXPECT_TRUE(kiv::SameObject(first.Get(), second.Get()));
    auto made = Create(first.Get(), L"a", 2, 2);
    EXPECT_EQ(CountOf(second.Get()), 1);
}

// The extent is kept at 32 x 31 pixels of the screen, in twips.
TEST_F(Control, TheExtentIs32By31PixelsWhateverTheHostAsks) {
    HDC screen = ::GetDC(nullptr);
    const float twipsX = 1440.0f / static_cast<float>(::GetDeviceCaps(screen, LOGPIXELSX));
    const float twipsY = 1440.0f / static_cast<float>(::GetDeviceCaps(screen, LOGPIXELSY));
    ::ReleaseDC(nullptr, screen);

    auto control = NewControl();
    ASSERT_TRUE(control);
    kiv::KivCtl& own = Own(control.Get());
    EXPECT_FLOAT_EQ(own.WidthTwips(), 32 * twipsX) << "a new control is sized already";
    EXPECT_FLOAT_EQ(own.HeightTwips(), 31 * twipsY);

    own.HostSetsExtent(100 * twipsX, 100 * twipsY);
    EXPECT_FLOAT_EQ(own.WidthTwips(), 32 * twipsX);
    EXPECT_FLOAT_EQ(own.HeightTwips(), 31 * twipsY);
    if (twipsX == 15.0f && twipsY == 15.0f) {
        EXPECT_EQ(own.WidthTwips(), 480.0f);
        EXPECT_EQ(own.HeightTwips(), 465.0f);
    }
    // A resize that finds the extent already right changes nothing.
    own.HostSetsExtent(own.WidthTwips(), own.HeightTwips());
    EXPECT_FLOAT_EQ(own.WidthTwips(), 32 * twipsX);
    EXPECT_FLOAT_EQ(own.HeightTwips(), 31 * twipsY);
    own.HostSetsExtent(1, 0);
    EXPECT_FLOAT_EQ(own.HeightTwips(), 31 * twipsY);
}

TEST_F(Control, BlitCopiesASurfaceOntoAnotherContext) {
    auto control = NewControl();
    ASSERT_TRUE(control);
    const COLORREF orange = RGB(255, 140, 0), green = RGB(0, 160, 60);
    auto surface = Filled(BitmapsOf(control.Get()).Get(), 8, 6, orange);
    ASSERT_TRUE(surface);
    HDC source = DcOf(surface.Get());
    ::SetPixel(source, 7, 5, green);  // the bottom-right corner, to see where the copy ends

    ColourTarget target(20, 20, kWhite);
    Recorder recorder;
    ASSERT_EQ(control->Blit(I4(target.Dc()), 5, 7, 8, 6, I4(source), 0, 0, static_cast<LONG>(SRCCOPY)), S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 5, 7), orange);
    EXPECT_EQ(PixelAt(target.Dc(), 11, 11), orange);
    EXPECT_EQ(PixelAt(target.Dc(), 12, 12), green);
    EXPECT_EQ(PixelAt(target.Dc(), 4, 7), kWhite);
    EXPECT_EQ(PixelAt(target.Dc(), 13, 7), kWhite);
    EXPECT_EQ(PixelAt(target.Dc(), 5, 6), kWhite);
    EXPECT_EQ(PixelAt(target.Dc(), 5, 13), kWhite);

    // The nine values reach the platform unchanged and in order, once.
    ASSERT_EQ(recorder.Count("BitBlt"), 1);
    const kivtest::RecordedCall call = recorder.Named("BitBlt")[0];
    const std::intptr_t expected[] = {reinterpret_cast<std::intptr_t>(target.Dc()), 5, 7, 8, 6,
                                      reinterpret_cast<std::intptr_t>(source), 0, 0, SRCCOPY};
    ASSERT_EQ(call.argc, 9);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(call.args[i], expected[i]) << "argument " << i;

    // A part of the source, with another raster operation.
    ASSERT_EQ(control->Blit(I4(target.Dc()), 0, 0, 2, 2, I4(source), 6, 4, static_cast<LONG>(SRCCOPY)), S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 0, 0), orange);
    EXPECT_EQ(PixelAt(target.Dc(), 1, 1), green);
    ASSERT_EQ(control->Blit(I4(target.Dc()), 0, 0, 1, 1, 0, 0, 0, static_cast<LONG>(BLACKNESS)), S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(PixelAt(target.Dc(), 1, 1), green);
}

TEST_F(Control, BlitWithNothingToDoOrBadHandlesReportsNothing) {
    auto control = NewControl();
    ASSERT_TRUE(control);
    auto surface = Filled(BitmapsOf(control.Get()).Get(), 4, 4, RGB(10, 20, 30));
    ASSERT_TRUE(surface);
    ColourTarget target(6, 6, kWhite);
    const LONG rop = static_cast<LONG>(SRCCOPY);
    const LONG source = I4(DcOf(surface.Get())), dest = I4(target.Dc());
    const LONG bogus = 0x00123456;
    ASSERT_EQ(::GetObjectType(platform::I4ToHandle<HDC>(bogus)), 0u);

    Recorder recorder;
    const LONG calls[][9] = {
        {dest, 0, 0, 0, 4, source, 0, 0, rop},  {dest, 0, 0, 4, 0, source, 0, 0, rop},
        {dest, 0, 0, 4, 4, 0, 0, 0, rop},       {0, 0, 0, 4, 4, source, 0, 0, rop},
        {bogus, 0, 0, 4, 4, source, 0, 0, rop}, {dest, 0, 0, 4, 4, bogus, 0, 0, rop},
        {dest, 0, 0, 4, 4, source, 0, 0, -1},
    };
    for (const auto& c : calls) {
        EXPECT_EQ(control->Blit(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8]), S_OK);
        ComPtr<IErrorInfo> error;
        EXPECT_NE(::GetErrorInfo(0, error.Put()), S_OK) << "an error object was left for the client";
    }
    EXPECT_EQ(recorder.Count("BitBlt"), 7) << "every call goes to the platform, as it is";
    for (int x = 0; x < 6; ++x) EXPECT_EQ(PixelAt(target.Dc(), x, x), kWhite);
}

// The client lets the control go while it keeps the registry and one surface.
TEST_F(Control, TerminationEmptiesTheRegistryAndLeavesHeldObjectsUsable) {
    ComPtr<_KivFactory> registry;
    ComPtr<_KivBitmap> held;
    long reference = 0;
    {
        auto control = NewControl();
        ASSERT_TRUE(control);
        registry = BitmapsOf(control.Get());
        ASSERT_TRUE(registry);
        held = Create(registry.Get(), L"held", 6, 5);
        auto listed = Create(registry.Get(), L"listed", 6, 5);
        ASSERT_TRUE(held && listed);
        EXPECT_TRUE(kiv::SameObject(Own(registry.Get()).Owner().Get(), control.Get()));
        reference = Own(registry.Get()).ReferenceDC();
        EXPECT_EQ(reference, I4(Own(control.Get()).OwnDC()));
        const long objects = kiv::module::LiveObjects();
        control = nullptr;
        listed = nullptr;
        // The control went with the client's reference, the listed surface with the list.
        EXPECT_EQ(kiv::module::LiveObjects(), objects - 2);
    }
    EXPECT_EQ(CountOf(registry.Get()), 0);
    EXPECT_FALSE(Own(registry.Get()).Owner()) << "no owner after termination";
    EXPECT_EQ(Own(registry.Get()).ReferenceDC(), reference) << "the last reference context is kept";
    EXPECT_EQ(::GetObjectType(platform::I4ToHandle<HDC>(reference)), static_cast<DWORD>(OBJ_MEMDC))
        << "the registry's reference context outlives the control";

    // The held surface still draws and copies.
    const COLORREF violet = RGB(138, 43, 226);
    short left = 0, top = 0, width = 6, height = 5;
    LONG colour = static_cast<LONG>(violet);
    EXPECT_EQ(held->DrawBox(&left, &top, &width, &height, &colour), S_OK);
    EXPECT_EQ(PixelAt(DcOf(held.Get()), 3, 2), violet);
    auto other = NewControl();
    ASSERT_TRUE(other);
    ColourTarget target(10, 10, kWhite);
    EXPECT_EQ(other->Blit(I4(target.Dc()), 1, 1, 6, 5, I4(DcOf(held.Get())), 0, 0, static_cast<LONG>(SRCCOPY)), S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 1, 1), violet);
    EXPECT_EQ(PixelAt(target.Dc(), 6, 5), violet);
    EXPECT_EQ(PixelAt(target.Dc(), 7, 6), kWhite);

    // The registry still makes colour surfaces against the context it was last given.
    auto later = Create(registry.Get(), L"later", 4, 4);
    ASSERT_TRUE(later);
    EXPECT_EQ(CountOf(registry.Get()), 1);
    HDC dc = DcOf(later.Get());
    EXPECT_EQ(BitsPerPixel(dc), BitsPerPixel(platform::I4ToHandle<HDC>(reference)));
    BITMAP info = {};
    LONG bitmap = 0;
    later->get_hBMP(&bitmap);
    ASSERT_NE(::GetObject(platform::I4ToHandle<HBITMAP>(bitmap), sizeof info, &info), 0);
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(info.bmBitsPixel * info.bmPlanes, BitsPerPixel(screen)) << "a colour surface, not a monochrome one";
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(PixelAt(dc, 3, 3), Rgb(0x8000000F));

    // The control's context goes with the last thing that refers to it. A surface listed after the
    // control's end holds the registry that lists it: only the client can break that cycle.
    const kivtest::GdiCounts withRegistry = kivtest::LiveGdiObjects();
    EXPECT_EQ(registry->Clear(), S_OK);
    later = nullptr;
    held = nullptr;
    registry = nullptr;
    const kivtest::GdiCounts without = kivtest::LiveGdiObjects();
    EXPECT_EQ(without.dcs, withRegistry.dcs - 3) << "two surfaces and the control's context";
    EXPECT_EQ(without.bitmaps, withRegistry.bitmaps - 3);
}

// A registry that outlived its control, and the surfaces it lists, go when the client lets go of
// them, although each surface holds the registry and the registry holds each listed surface.
TEST_F(Control, ADetachedRegistryAndItsListedSurfacesGoWithTheirLastOutsideReference) {
    ComPtr<_KivFactory> registry = BitmapsOf(NewControl().Get());
    ASSERT_TRUE(registry);
    auto first = Create(registry.Get(), L"first", 5, 5);
    auto second = Create(registry.Get(), L"second", 5, 5);
    ASSERT_TRUE(first && second);
    const long objects = kiv::module::LiveObjects();

    registry = nullptr;  // the surfaces still reach the registry
    EXPECT_EQ(kiv::module::LiveObjects(), objects);
    EXPECT_EQ(first->Cls(), S_OK);
    second = nullptr;  // still listed, and the first surface keeps the registry
    EXPECT_EQ(kiv::module::LiveObjects(), objects);
    first = nullptr;  // nothing outside reaches the registry or its list any more
    EXPECT_EQ(kiv::module::LiveObjects(), objects - 3);
}

// The host terminates the control while the client still holds it.
TEST_F(Control, TerminationDetachesTheOwnerThenClearsThenLetsTheRegistryGo) {
    auto control = NewControl();
    ASSERT_TRUE(control);
    auto registry = BitmapsOf(control.Get());
    ASSERT_TRUE(registry);
    auto surface = Create(registry.Get(), L"a", 3, 3);
    ASSERT_TRUE(surface);
    EXPECT_TRUE(kiv::SameObject(Own(registry.Get()).Owner().Get(), control.Get()));

    Own(control.Get()).Terminate();
    EXPECT_FALSE(Own(registry.Get()).Owner());
    EXPECT_EQ(CountOf(registry.Get()), 0);
    EXPECT_FALSE(BitmapsOf(control.Get())) << "a terminated control has no registry";
    Own(control.Get()).Terminate();  // a second notification finds nothing to do
    EXPECT_EQ(CountOf(registry.Get()), 0);
    EXPECT_EQ(surface->Cls(), S_OK);
}

// Nothing from outside holds the control any more: the registry's Owner does not keep it alive.
TEST_F(Control, ReleasedByTheClientTheControlTerminates) {
    const long before = kiv::module::LiveObjects();
    {
        auto control = NewControl();
        ASSERT_TRUE(control);
        auto registry = BitmapsOf(control.Get());
        auto a = Create(registry.Get(), L"a", 4, 4);
        auto b = Create(registry.Get(), L"b", 4, 4);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(kiv::module::LiveObjects(), before + 4);
        // References the client takes and gives back meanwhile change nothing.
        ComPtr<IUnknown> extra = control.As<IUnknown>(IID_IUnknown);
        extra = nullptr;
        EXPECT_EQ(CountOf(registry.Get()), 2);
    }
    EXPECT_EQ(kiv::module::LiveObjects(), before) << "control, registry and surfaces are gone";
    EXPECT_EQ(kivtest::LiveGdiObjects(), gdiAtStart);
}

TEST_F(Control, TwoControlsHaveIndependentRegistries) {
    auto one = NewControl();
    auto two = NewControl();
    ASSERT_TRUE(one && two);
    auto first = BitmapsOf(one.Get());
    auto second = BitmapsOf(two.Get());
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(kiv::SameObject(first.Get(), second.Get()));
    EXPECT_NE(Own(first.Get()).ReferenceDC(), Own(second.Get()).ReferenceDC()) << "each its own context";
    EXPECT_EQ(Own(second.Get()).ReferenceDC(), I4(Own(two.Get()).OwnDC()));

    auto mine = Create(first.Get(), L"mine", 4, 4);
    ASSERT_TRUE(mine);
    EXPECT_EQ(CountOf(first.Get()), 1);
    EXPECT_EQ(CountOf(second.Get()), 0);
    BSTR name = ::SysAllocString(L"mine");
    ComPtr<_KivBitmap> found;
    second->get_ItemTxt(&name, found.Put());
    ::SysFreeString(name);
    EXPECT_FALSE(found);

    // Letting one control go leaves the other's list alone.
    auto theirs = Create(second.Get(), L"theirs", 4, 4);
    one = nullptr;
    EXPECT_EQ(CountOf(first.Get()), 0);
    EXPECT_EQ(CountOf(second.Get()), 1);
    EXPECT_TRUE(kiv::SameObject(Own(second.Get()).Owner().Get(), two.Get()));
}

// A registry that cannot be made fails the initialisation with its error; such a control has no
// registry, still blits, and terminates without a word.
TEST_F(Control, AFailedInitialisationReportsTheRegistrysError) {
    struct MakerSwap {
        kiv::KivCtl::RegistryMaker saved = kiv::KivCtl::MakeRegistry();
        MakerSwap() {
            kiv::KivCtl::MakeRegistry() = []() -> kiv::ComPtr<_KivFactory> {
                kiv::Raise(321, L"No registry today");
            };
        }
        ~MakerSwap() { kiv::KivCtl::MakeRegistry() = saved; }
    } swap;

    ComPtr<IClassFactory> factory;
    ComPtr<_KivCtl> control;
    ASSERT_EQ(DllGetClassObject(CLSID_KivCtl, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())), S_OK);
    const HRESULT status = factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put()));
    EXPECT_EQ(status, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 321));
    EXPECT_FALSE(control);
    ComPtr<IErrorInfo> error;
    ASSERT_EQ(::GetErrorInfo(0, error.Put()), S_OK);
    BSTR description = nullptr;
    error->GetDescription(&description);
    EXPECT_EQ(std::wstring(description ? description : L""), L"No registry today");
    ::SysFreeString(description);

    auto direct = kiv::MakeObject<kiv::KivCtl>();
    EXPECT_EQ(direct->Initialize(), MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 321));
    ::SetErrorInfo(0, nullptr);
    ComPtr<_KivFactory> none;
    EXPECT_EQ(direct->get_Bitmaps(none.Put()), S_OK);
    EXPECT_FALSE(none);
    ColourTarget target(2, 2, kWhite);
    EXPECT_EQ(direct->Blit(I4(target.Dc()), 0, 0, 1, 1, 0, 0, 0, static_cast<LONG>(BLACKNESS)), S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 0, 0), RGB(0, 0, 0));
    direct->Terminate();
    ComPtr<IErrorInfo> after;
    EXPECT_NE(::GetErrorInfo(0, after.Put()), S_OK) << "termination reports nothing";
}

}  // namespace
