// The control in place on a real window: a site of the test's own plays the container, once able to
// host windowless objects and once not. Windowless, the control makes no window; otherwise it puts a
// child window of its fixed size on the site's window, shown in design mode only, and takes it away
// when it leaves in-place activity.
#include "FakeSite.h"
#include "TestSupport.h"

#include "control/Appearance.h"

#include <ocidl.h>
#include <olectl.h>

#include <list>
#include <optional>

using namespace kivtest;

namespace {

// Where a window is, in its parent's client coordinates.
RECT PlaceOf(HWND window) {
    RECT rect = {};
    ::GetWindowRect(window, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

class InPlace : public ControlTest {
protected:
    void SetUp() override {
        ASSERT_NE(OwnDesktop(L"KivInPlaceTest"), nullptr) << "error " << ::GetLastError();
        ControlTest::SetUp();
        registry = nullptr;
        ASSERT_NE(HostProgramWindow(), nullptr);
        // The container's window: a plain child of the host program's, holding nothing yet.
        form = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 200, 200,
                                 HostProgramWindow(), nullptr, nullptr, nullptr);
        ASSERT_NE(form, nullptr);
        ole = control.As<IOleObject>(IID_IOleObject);
        inPlace = control.As<IOleInPlaceObject>(IID_IOleInPlaceObject);
        ASSERT_TRUE(ole && inPlace);
    }
    void ReleaseAll() override {
        inPlace.Reset();
        ole.Reset();
        ControlTest::ReleaseAll();
        sites_.clear();  // after the control, which may still hold one when a test stopped early
        if (form) ::DestroyWindow(form);
        PumpMessages();
    }

    // A site on the container's window that lives as long as the test.
    FakeSite& NewSite() {
        FakeSite& site = sites_.emplace_back();
        site.window = form;
        return site;
    }

    HRESULT Activate(FakeSite& site) {
        EXPECT_EQ(ole->SetClientSite(&site), S_OK);
        return ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, nullptr);
    }
    HWND OnlyChild() const {
        HWND child = ::GetWindow(form, GW_CHILD);
        EXPECT_TRUE(!child || !::GetWindow(child, GW_HWNDNEXT)) << "one window at most";
        return child;
    }

    HWND form = nullptr;
    ComPtr<IOleObject> ole;
    ComPtr<IOleInPlaceObject> inPlace;

private:
    std::list<FakeSite> sites_;
};

TEST_F(InPlace, AWindowlessSiteGetsNoWindow) {
    FakeSite& site = NewSite();
    site.offersWindowless = true;
    site.userMode = false;
    ASSERT_EQ(Activate(site), S_OK);
    EXPECT_EQ(site.activatedEx, 1);
    EXPECT_EQ(site.activatedExFlags, static_cast<DWORD>(ACTIVATE_WINDOWLESS));
    EXPECT_EQ(site.activated, 0) << "a windowless object does not announce a window";
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(OnlyChild(), nullptr) << "nothing was put on the container's window";

    // The container passes on its messages; the control handles none of them.
    ComPtr<IOleInPlaceObjectWindowless> windowless =
        control.As<IOleInPlaceObjectWindowless>(IID_IOleInPlaceObjectWindowless);
    ASSERT_TRUE(windowless);
    LRESULT result = 1;
    EXPECT_EQ(windowless->OnWindowMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(15, 15), &result), S_FALSE);
    EXPECT_EQ(windowless->OnWindowMessage(WM_SETCURSOR, 0, 0, &result), S_FALSE);
    ComPtr<IDropTarget> target;
    EXPECT_EQ(windowless->GetDropTarget(target.Put()), E_NOTIMPL);
    EXPECT_FALSE(target);
    windowless.Reset();

    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.deactivated, 1);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.References(), 1u) << "the control let the site go";
}

// Design mode: the window shows the appearance picture at the control's own size, follows the
// container's placements, hides when the host program runs, and goes with Close. A windowless-capable
// site that does not want the control windowless gets the same.
TEST_F(InPlace, AnOrdinarySiteGetsAWindowOfTheControlsSize) {
    for (bool refusingWindowless : {false, true}) {
        SCOPED_TRACE(refusingWindowless ? "windowless refused" : "plain site");
        FakeSite& site = NewSite();
        site.offersWindowless = refusingWindowless;
        site.canWindowless = S_FALSE;
        site.userMode = false;
        site.windowContext = {10, 20, 110, 120};  // the container's idea of the size is not the control's
        ASSERT_EQ(Activate(site), S_OK);
        EXPECT_EQ(site.activated, 1);
        EXPECT_EQ(site.activatedEx, 0);

        HWND window = nullptr;
        ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(OnlyChild(), window);
        EXPECT_EQ(::GetParent(window), form);
        EXPECT_TRUE(::GetWindowLongW(window, GWL_STYLE) & WS_CHILD);
        RECT place = PlaceOf(window);
        EXPECT_EQ(place.left, 10);
        EXPECT_EQ(place.top, 20);
        EXPECT_EQ(place.right - place.left, 32);
        EXPECT_EQ(place.bottom - place.top, 31);
        EXPECT_TRUE(::IsWindowVisible(window)) << "design mode";

        // What the window shows is the appearance picture.
        const kiv::appearance::Picture picture = kiv::appearance::Find();
        ASSERT_TRUE(picture);
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        ColourTarget shown(32, 31, RGB(1, 2, 3));
        HDC windowDc = ::GetDC(window);
        ::BitBlt(shown.Dc(), 0, 0, 32, 31, windowDc, 0, 0, SRCCOPY);
        ::ReleaseDC(window, windowDc);
        ColourTarget expected(32, 31, RGB(1, 2, 3));
        const RECT all = {0, 0, 32, 31};
        ASSERT_TRUE(kiv::appearance::Paint(expected.Dc(), all));
        for (int y = 0; y < 31; y += 3)
            for (int x = 0; x < 32; x += 3)
                ASSERT_EQ(PixelAt(shown.Dc(), x, y), PixelAt(expected.Dc(), x, y)) << "at " << x << ", " << y;

        // Moved by the container, at its own size whatever size the container gives, and showing
        // only what lies inside the container's clipping rectangle.
        const RECT moved = {50, 60, 150, 160};
        const RECT leftHalf = {0, 0, 66, 200};
        ASSERT_EQ(inPlace->SetObjectRects(&moved, &leftHalf), S_OK);
        place = PlaceOf(window);
        EXPECT_EQ(place.left, 50);
        EXPECT_EQ(place.top, 60);
        EXPECT_EQ(place.right - place.left, 32);
        EXPECT_EQ(place.bottom - place.top, 31);
        RECT shownPart = {};
        EXPECT_EQ(::GetWindowRgnBox(window, &shownPart), SIMPLEREGION);
        EXPECT_EQ(shownPart.left, 0);
        EXPECT_EQ(shownPart.right, 16);
        EXPECT_EQ(shownPart.bottom, 31);
        ASSERT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
        EXPECT_EQ(::GetWindowRgnBox(window, &shownPart), ERROR) << "all of it shown again";

        // The host program runs: the control is invisible; back in design mode it shows again.
        auto olecontrol = control.As<IOleControl>(IID_IOleControl);
        site.userMode = true;
        ASSERT_EQ(olecontrol->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
        EXPECT_FALSE(::IsWindowVisible(window));
        site.userMode = false;
        ASSERT_EQ(olecontrol->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
        EXPECT_TRUE(::IsWindowVisible(window));

        EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
        EXPECT_FALSE(::IsWindow(window)) << "Close destroys the window";
        EXPECT_EQ(OnlyChild(), nullptr);
        EXPECT_EQ(site.deactivated, 1);
        EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
        EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);

        // Closed is the control's end; the next round needs a new one.
        ole.Reset();
        inPlace.Reset();
        control = NewControl();
        ASSERT_TRUE(control);
        ole = control.As<IOleObject>(IID_IOleObject);
        inPlace = control.As<IOleInPlaceObject>(IID_IOleInPlaceObject);
    }
}

// While the host program runs (or the container gives no ambient properties) the window is there
// but hidden; leaving in-place activity takes it away, and activating again makes a new one.
TEST_F(InPlace, AtRunTimeTheWindowIsHiddenAndGoesWithDeactivation) {
    for (std::optional<bool> mode : {std::optional<bool>(true), std::optional<bool>()}) {
        FakeSite& site = NewSite();
        site.userMode = mode;
        ASSERT_EQ(Activate(site), S_OK);
        HWND window = nullptr;
        ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
        EXPECT_EQ(OnlyChild(), window);
        EXPECT_FALSE(::IsWindowVisible(window));
        RECT place = PlaceOf(window);
        EXPECT_EQ(place.right - place.left, 32);
        EXPECT_EQ(place.bottom - place.top, 31);

        // Hiding and showing again by verb keeps it invisible at run time.
        EXPECT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, nullptr, nullptr), S_OK);
        EXPECT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr), S_OK);
        EXPECT_FALSE(::IsWindowVisible(window));

        wchar_t className[64] = {};
        ASSERT_GT(::GetClassNameW(window, className, 64), 0);
        EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
        EXPECT_EQ(site.deactivated, 1);
        EXPECT_FALSE(::IsWindow(window));
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        EXPECT_FALSE(::GetClassInfoExW(::GetModuleHandleW(nullptr), className, &windowClass))
            << "the window class goes with the last window";
        EXPECT_EQ(OnlyChild(), nullptr);
        EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
        EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
    }
}

}  // namespace
