// The registered module hosted by a real control container: the AtlAxWin windows of the platform's
// ATL library, in windows on an X display. Each host window makes its control from the ProgID in its
// window text; destroying the window closes the control and lets it go.
#include "TestSupport.h"

#include <ocidl.h>
#include <oleidl.h>

#include <string>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
using DllCanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

LONG I4(HDC dc) { return platform::HandleToI4(dc); }

// The ATL library with its window classes registered (once per process).
HMODULE AtlLibrary() {
    static HMODULE atl = [] {
        HMODULE module = ::LoadLibraryW(L"atl.dll");
        auto init = module ? Proc<AtlAxWinInitFn>(module, "AtlAxWinInit") : nullptr;
        return init && init() ? module : nullptr;
    }();
    return atl;
}

class AtlHost : public ComTest {
protected:
    void SetUp() override {
        // Before COM's apartment window: a thread with windows cannot change its desktop.
        ASSERT_NE(OwnDesktop(L"KivContainerTest"), nullptr) << "error " << ::GetLastError();
        ComTest::SetUp();
        atl_ = AtlLibrary();
        ASSERT_NE(atl_, nullptr);
        getControl_ = Proc<AtlAxGetControlFn>(atl_, "AtlAxGetControl");
        ASSERT_TRUE(getControl_);
        parent_ = HostProgramWindow();
        ASSERT_NE(parent_, nullptr);
    }
    void TearDown() override {
        // Host windows that a failed test left behind go now, while COM still runs.
        while (HWND child = ::GetWindow(parent_, GW_CHILD)) ::DestroyWindow(child);
        Pump();
        ComTest::TearDown();
    }

    // A host window of 100 x 100 pixels that makes the control named by its text.
    HWND Host(int x, int y) {
        return ::CreateWindowExW(0, L"AtlAxWin", L"Kiv.KivCtl", WS_CHILD | WS_VISIBLE, x, y, 100, 100, parent_,
                                 nullptr, nullptr, nullptr);
    }
    ComPtr<IUnknown> ControlIn(HWND host) {
        ComPtr<IUnknown> control;
        if (FAILED(getControl_(host, control.Put()))) return {};
        return control;
    }
    static void Pump() { PumpMessages(); }
    // The module's own DllCanUnloadNow: S_OK once none of its objects lives.
    static HRESULT ModuleCanUnload() {
        HMODULE module = ::GetModuleHandleW(L"KIVDRAW.OCX");
        if (!module) return S_OK;
        auto canUnload = Proc<DllCanUnloadNowFn>(module, "DllCanUnloadNow");
        return canUnload ? canUnload() : E_FAIL;
    }

    HMODULE atl_ = nullptr;
    AtlAxGetControlFn getControl_ = nullptr;
    HWND parent_ = nullptr;
};

ULONG ReferencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

int ScreenDpi(int index) {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, index);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

TEST_F(AtlHost, TheControlMadeByProgIdKeepsItsOwnExtent) {
    HWND host = Host(10, 10);
    ASSERT_NE(host, nullptr);
    ComPtr<IUnknown> control = ControlIn(host);
    ASSERT_TRUE(control) << "the container made the control from Kiv.KivCtl";
    ComPtr<IOleObject> ole = control.As<IOleObject>(IID_IOleObject);
    ASSERT_TRUE(ole);

    const SIZEL own = {::MulDiv(32, 2540, ScreenDpi(LOGPIXELSX)), ::MulDiv(31, 2540, ScreenDpi(LOGPIXELSY))};
    SIZEL extent = {};
    ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, own.cx) << "a 100 x 100 host window, and the control stays 32 x 31 pixels";
    EXPECT_EQ(extent.cy, own.cy);
    if (ScreenDpi(LOGPIXELSX) == 96) {
        EXPECT_EQ(extent.cx, 847);
        EXPECT_EQ(extent.cy, 820);
    }
    // The container sized it to its window and put it in place with its client site.
    ComPtr<IOleClientSite> site;
    ASSERT_EQ(ole->GetClientSite(site.Put()), S_OK);
    EXPECT_TRUE(site);
    site.Reset();

    // The host window changes size: the container passes the new size on, the control keeps its own.
    ASSERT_TRUE(::MoveWindow(host, 10, 10, 250, 60, TRUE));
    Pump();
    ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(extent.cx, own.cx);
    EXPECT_EQ(extent.cy, own.cy);
    ole.Reset();
    control.Reset();
    ASSERT_TRUE(::DestroyWindow(host));
}

TEST_F(AtlHost, BitmapsOfTheHostedControlMakesSurfaces) {
    HWND host = Host(10, 10);
    ComPtr<IUnknown> control = ControlIn(host);
    ASSERT_TRUE(control);
    ComPtr<_KivCtl> kiv = control.As<_KivCtl>(IID__KivCtl);
    ASSERT_TRUE(kiv);
    ComPtr<_KivFactory> registry = BitmapsOf(kiv.Get());
    ASSERT_TRUE(registry);
    EXPECT_TRUE(kiv::SameObject(BitmapsOf(kiv.Get()).Get(), registry.Get()));
    ComPtr<_KivBitmap> surface = Create(registry.Get(), L"drawn", 32, 32);
    ASSERT_TRUE(surface);
    EXPECT_EQ(CountOf(registry.Get()), 1);
    short left = 2, top = 3, width = 10, height = 8;
    LONG red = RGB(255, 0, 0);
    ASSERT_EQ(surface->DrawBox(&left, &top, &width, &height, &red), S_OK);
    EXPECT_EQ(PixelAt(DcOf(surface.Get()), 2, 3), RGB(255, 0, 0));

    // Blit copies the surface onto the device context of a window of the host program.
    ColourTarget target(32, 32, RGB(0, 0, 0));
    ASSERT_EQ(kiv->Blit(I4(target.Dc()), 0, 0, 32, 32, I4(DcOf(surface.Get())), 0, 0, SRCCOPY), S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 2, 3), RGB(255, 0, 0));
    HDC window = ::GetDC(parent_);
    ASSERT_EQ(kiv->Blit(I4(window), 150, 150, 32, 32, I4(DcOf(surface.Get())), 0, 0, SRCCOPY), S_OK);
    EXPECT_EQ(::GetPixel(window, 152, 153), RGB(255, 0, 0));
    ::ReleaseDC(parent_, window);

    surface.Reset();
    registry.Reset();
    kiv.Reset();
    control.Reset();
    ASSERT_TRUE(::DestroyWindow(host));
}

TEST_F(AtlHost, TwoControlsOnOneHostHaveIndependentRegistries) {
    HWND left = Host(0, 0);
    HWND right = Host(120, 0);
    ComPtr<_KivCtl> one = ControlIn(left).As<_KivCtl>(IID__KivCtl);
    ComPtr<_KivCtl> two = ControlIn(right).As<_KivCtl>(IID__KivCtl);
    ASSERT_TRUE(one && two);
    EXPECT_FALSE(kiv::SameObject(one.Get(), two.Get()));
    ComPtr<_KivFactory> first = BitmapsOf(one.Get());
    ComPtr<_KivFactory> second = BitmapsOf(two.Get());
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(kiv::SameObject(first.Get(), second.Get()));

    ComPtr<_KivBitmap> mine = Create(first.Get(), L"mine", 8, 8);
    ASSERT_TRUE(mine);
    EXPECT_EQ(CountOf(first.Get()), 1);
    EXPECT_EQ(CountOf(second.Get()), 0);
    BSTR name = ::SysAllocString(L"mine");
    ComPtr<_KivBitmap> found;
    EXPECT_EQ(second->get_ItemTxt(&name, found.Put()), S_OK);
    ::SysFreeString(name);
    EXPECT_FALSE(found) << "the other control's registry does not list it";

    // Closing one host leaves the other control's registry as it was.
    ComPtr<_KivBitmap> theirs = Create(second.Get(), L"theirs", 8, 8);
    ASSERT_TRUE(::DestroyWindow(left));
    EXPECT_EQ(CountOf(first.Get()), 0);
    EXPECT_EQ(CountOf(second.Get()), 1);
    EXPECT_TRUE(BitmapsOf(two.Get()));
    ASSERT_TRUE(::DestroyWindow(right));
}

// Destroying the host window closes the control: its termination detaches the registry's owner,
// clears the list and releases the registry. A surface and the registry that the test still holds
// stay usable, and nothing else of the control is left.
TEST_F(AtlHost, DestroyingTheHostTerminatesTheControl) {
    HWND host = Host(10, 10);
    ComPtr<IUnknown> control = ControlIn(host);
    ASSERT_TRUE(control);
    ComPtr<_KivCtl> kiv = control.As<_KivCtl>(IID__KivCtl);
    ComPtr<_KivFactory> registry = BitmapsOf(kiv.Get());
    ASSERT_TRUE(registry);
    ComPtr<_KivBitmap> kept = Create(registry.Get(), L"kept", 16, 16);
    ASSERT_TRUE(kept);
    ASSERT_TRUE(Create(registry.Get(), L"listed only", 16, 16));
    EXPECT_EQ(CountOf(registry.Get()), 2);
    EXPECT_EQ(ModuleCanUnload(), S_FALSE);

    ASSERT_TRUE(::DestroyWindow(host));
    Pump();
    EXPECT_EQ(CountOf(registry.Get()), 0) << "the list was cleared";
    EXPECT_FALSE(BitmapsOf(kiv.Get())) << "the control released its registry";
    kiv.Reset();
    EXPECT_EQ(ReferencesOf(control.Get()), 1u) << "neither the container nor the registry's owner holds the control";
    EXPECT_EQ(ReferencesOf(registry.Get()), 2u) << "only the test and the kept surface hold the registry";

    // The kept surface still draws and copies.
    short zero = 0, size = 16;
    LONG blue = RGB(0, 0, 255);
    ASSERT_EQ(kept->DrawBox(&zero, &zero, &size, &size, &blue), S_OK);
    ColourTarget target(16, 16, RGB(255, 255, 255));
    LONG dc = I4(target.Dc());
    short left = 0, top = 0;
    ASSERT_EQ(kept->Copy(&dc, &left, &top, VARIANT_FALSE), S_OK);
    EXPECT_EQ(PixelAt(target.Dc(), 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(PixelAt(target.Dc(), 15, 15), RGB(0, 0, 255));

    // With the last references the module's objects are all gone.
    control.Reset();
    kept.Reset();
    EXPECT_EQ(ModuleCanUnload(), S_FALSE) << "the registry still lives";
    registry.Reset();
    EXPECT_EQ(ModuleCanUnload(), S_OK);
}

// Which way the container activates the control in place depends on the site it offers: windowless
// when it can host windowless objects and agrees, otherwise with a child window of 32 x 31 pixels
// on the host window. Either way nothing of the control stays once the host window is destroyed.
TEST_F(AtlHost, TheControlIsInPlaceAsTheSiteAllows) {
    HWND host = Host(10, 10);
    ComPtr<IUnknown> control = ControlIn(host);
    ASSERT_TRUE(control);
    ComPtr<IOleObject> ole = control.As<IOleObject>(IID_IOleObject);
    ComPtr<IOleClientSite> site;
    ASSERT_EQ(ole->GetClientSite(site.Put()), S_OK);
    auto windowlessSite = site.As<IOleInPlaceSiteWindowless>(IID_IOleInPlaceSiteWindowless);
    const bool windowless = windowlessSite && windowlessSite->CanWindowlessActivate() == S_OK;
    windowlessSite.Reset();
    site.Reset();

    ComPtr<IOleInPlaceObject> inPlace = control.As<IOleInPlaceObject>(IID_IOleInPlaceObject);
    HWND window = nullptr;
    const HRESULT status = inPlace->GetWindow(&window);
    if (windowless) {
        EXPECT_EQ(status, E_FAIL) << "windowless: the container draws the control";
        EXPECT_EQ(window, nullptr);
        EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr) << "nothing on the host window";
    } else {
        ASSERT_EQ(status, S_OK);
        EXPECT_EQ(::GetParent(window), host);
        RECT rect = {};
        ASSERT_TRUE(::GetWindowRect(window, &rect));
        EXPECT_EQ(rect.right - rect.left, 32);
        EXPECT_EQ(rect.bottom - rect.top, 31);
        EXPECT_FALSE(::IsWindowVisible(window)) << "the container runs the program: invisible";
    }
    ole.Reset();
    inPlace.Reset();

    ASSERT_TRUE(::DestroyWindow(host));
    Pump();
    if (window) {
        EXPECT_FALSE(::IsWindow(window));
    }
    window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(control.As<IOleInPlaceObject>(IID_IOleInPlaceObject)->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(ReferencesOf(control.Get()), 1u) << "the container let the control go";
}

}  // namespace
