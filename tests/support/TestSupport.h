// What the test programs share: a COM apartment per test, a recording observer of the platform
// layer, and short ways to make a control and a surface in-process.
#pragma once

#include "BesideProgram.h"
#include "GdiCounter.h"
#include "component/ComPtr.h"
#include "kiv.h"
#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kivtest {

using kiv::ComPtr;

// Every test runs in a single-threaded apartment of its own.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// A test after which every object of the module and every platform object the library made is gone
// again, with the test's own references.
class BalancedTest : public ComTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Drops the test's own references before the counts are compared.
    virtual void ReleaseAll() {}

    GdiCounts gdiAtStart;
    long objectsAtStart = 0;
};

// A balanced test with a control made as a container makes it, and its registry.
class ControlTest : public BalancedTest {
protected:
    void SetUp() override;
    void ReleaseAll() override;

    ComPtr<_KivCtl> control;
    ComPtr<_KivFactory> registry;
};

// A platform call as a recorder keeps it, with its 8-bit text copied: the text of TextOutA and the
// face name of CreateFontA.
struct RecordedCall : kiv::platform::Call {
    std::string text;
};

// Records every platform call on this thread while it lives; `answer` may answer calls itself.
class Recorder : public ThreadObserver {
public:
    bool Intercept(kiv::platform::Call& call) override;
    void Observe(const kiv::platform::Call& call) override;

    std::vector<RecordedCall> calls;
    std::function<bool(kiv::platform::Call&)> answer;

    std::vector<RecordedCall> Named(const std::string& name) const;
    int Count(const std::string& name) const;
    void Clear() { calls.clear(); }
};

// A control made through the module's class object, as a container makes it.
ComPtr<_KivCtl> NewControl();
ComPtr<_KivFactory> BitmapsOf(_KivCtl* control);
// A surface from the registry's Create; none when Create gave none.
ComPtr<_KivBitmap> Create(_KivFactory* registry, const std::wstring& name, short width, short height);
short CountOf(_KivFactory* registry);
HDC DcOf(_KivBitmap* surface);

COLORREF PixelAt(HDC dc, int x, int y);
// The translation of an OLE colour as the platform gives it now.
COLORREF Rgb(OLE_COLOR color);

// Arguments for late-bound calls.
VARIANT I2(short value);
VARIANT I4(long value);

// A late-bound call as a client makes it: the arguments in their declared order, a put's value as
// the named DISPID_PROPERTYPUT argument. The arguments stay the caller's.
HRESULT LateBound(IUnknown* object, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr);
// The identifier that GetIDsOfNames gives for a member's name; DISPID_UNKNOWN when there is none.
DISPID IdOfName(IUnknown* object, const wchar_t* name);

// The built module beside this test program (BesideProgram.h), as the tests that load it by path find it.
std::wstring OcxPath();
// A program run to its end, or ended after `timeout` milliseconds with exit code WAIT_TIMEOUT: its exit
// code and what it printed; exit code -1 when it did not start. `command` is a command line.
struct ProgramRun {
    DWORD exitCode = static_cast<DWORD>(-1);
    std::string output;
};
ProgramRun RunProgram(std::wstring command, DWORD timeout = 120000);
// The command line of this test program with `arguments`.
std::wstring ThisProgram(const std::wstring& arguments);
// An exported function by name (through the generic function pointer type, as GetProcAddress's
// result is meant to be cast); null when there is none.
template <class Fn>
Fn Proc(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}
std::wstring GuidText(REFGUID guid);
bool SameText(const std::wstring& a, const std::wstring& b);  // case-insensitive
// A string value below HKEY_CLASSES_ROOT; "(missing)" when there is none.
std::wstring ClassesValue(const std::wstring& key, const wchar_t* name = nullptr);

// Windows on an X display. A program's windows live on a desktop named `name` of its own: Wine's
// desktop process for it starts with this program's environment, so it uses this program's display
// (the default desktop of a prefix may have been started before there was any display). Call it
// before COM's apartment window exists: a thread with windows cannot change its desktop.
HDESK OwnDesktop(const wchar_t* name);
// A visible top-level window that lives as long as the program (taking a top-level window off an
// X display without a window manager waits for seconds); tests put their windows in it.
HWND HostProgramWindow();
// Dispatches every message waiting for this thread.
void PumpMessages();

// A colour memory context of the screen's format, for targets of copies.
class ColourTarget {
public:
    ColourTarget(int width, int height, COLORREF fill);
    ~ColourTarget();
    HDC Dc() const { return dc_; }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
};

}  // namespace kivtest
