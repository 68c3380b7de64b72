// The windowed control through a form designer's session, beyond its first activation: after each
// step, where the container sees the window, whether it shows, what it shows, and where the mouse
// over it goes.
#include "FakeSite.h"
#include "TestSupport.h"

#include "component/Resources.h"

#include <olectl.h>

using namespace kivtest;

namespace {

class WindowedSession : public ControlTest {
protected:
    void SetUp() override {
        ASSERT_NE(OwnDesktop(L"KivInPlaceTest"), nullptr);
        ControlTest::SetUp();
        // The designer's form takes the mouse itself (SS_NOTIFY), so a hit test can end on it.
        form = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | SS_NOTIFY, 0, 0, 200,
                                 200, HostProgramWindow(), nullptr, nullptr, nullptr);
        ASSERT_NE(form, nullptr);
        windowed.window = windowless.window = form;
        windowed.userMode = windowless.userMode = false;
        windowed.windowContext = {10, 20, 42, 51};
        windowless.offersWindowless = true;
    }
    void ReleaseAll() override {
        ControlTest::ReleaseAll();
        ::DestroyWindow(form);
        PumpMessages();
    }

    // The window at `place` on the form; when visible, showing the appearance picture pixel for pixel
    // as the module's resource (linked into this program) holds it.
    void ExpectWindow(const char* step, HWND window, const RECT& place, bool visible) {
        SCOPED_TRACE(step);
        RECT rect = {};
        ASSERT_TRUE(::GetWindowRect(window, &rect));
        ::MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_TRUE(::EqualRect(&rect, &place)) << "at " << rect.left << ", " << rect.top;
        EXPECT_EQ(::IsWindowVisible(window) != FALSE, visible);
        if (!visible) return;
        ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        HDC shown = ::GetDC(window), expected = ::CreateCompatibleDC(nullptr);
        HGDIOBJ previous = ::SelectObject(expected, ::LoadImageW(::GetModuleHandleW(nullptr),
                                                                 MAKEINTRESOURCEW(KIV_APPEARANCE_BITMAP),
                                                                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        int wrong = 0;
        for (int y = 0; y < 31; ++y)
            for (int x = 0; x < 32; ++x) wrong += ::GetPixel(shown, x, y) != ::GetPixel(expected, x, y);
        EXPECT_EQ(wrong, 0) << "pixels that are not the appearance picture's";
        ::DeleteObject(::SelectObject(expected, previous));
        ::DeleteDC(expected);
        ::ReleaseDC(window, shown);
    }

    HWND form = nullptr;
    FakeSite windowed;
    FakeSite windowless;
};

TEST_F(WindowedSession, TheWindowFollowsEveryStepOfTheSession) {
    auto ole = control.As<IOleObject>(IID_IOleObject);
    auto inPlace = control.As<IOleInPlaceObject>(IID_IOleInPlaceObject);
    auto activate = [&](FakeSite& site) {
        EXPECT_EQ(ole->SetClientSite(&site), S_OK);
        EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, nullptr), S_OK);
        HWND window = nullptr;
        return inPlace->GetWindow(&window) == S_OK ? window : nullptr;
    };

    // Design mode: at the place the container gives, visible, the picture; the mouse goes through.
    HWND window = activate(windowed);
    ExpectWindow("activated", window, {10, 20, 42, 51}, true);
    POINT over = {26, 35};
    ::ClientToScreen(form, &over);
    EXPECT_EQ(::WindowFromPoint(over), form);

    // Moved at its own size, hidden and shown by verb, hidden while the host program runs.
    const RECT moved = {60, 70, 92, 101};
    ASSERT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    ExpectWindow("moved", window, moved, true);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &windowed, 0, nullptr, nullptr), S_OK);
    ExpectWindow("hidden", window, moved, false);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &windowed, 0, nullptr, nullptr), S_OK);
    ExpectWindow("shown", window, moved, true);
    windowed.userMode = true;
    ASSERT_EQ(control.As<IOleControl>(IID_IOleControl)->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
    ExpectWindow("user mode", window, moved, false);

    // Out of place, then on a windowless site: no window, and the site hears that it is windowless.
    windowed.userMode = false;
    ASSERT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(activate(windowless), nullptr);
    EXPECT_EQ(windowless.activatedExFlags, static_cast<DWORD>(ACTIVATE_WINDOWLESS));
    ASSERT_EQ(inPlace->InPlaceDeactivate(), S_OK);

    // Back on the windowed site: the window is there again.
    window = activate(windowed);
    ExpectWindow("activated again", window, {10, 20, 42, 51}, true);
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
}

}  // namespace
