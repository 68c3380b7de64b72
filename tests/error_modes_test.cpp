// The error mode of every member that an error can reach, member by member as the interface tables
// give it. The error is the runtime's "Error in loading DLL", raised at one platform call of the
// member as a missing library raises it: in mode escape it ends the member and is its failure status
// (a get's result stays empty), in mode continue the step is abandoned and the member succeeds.
// Members whose every step is a plain assignment (the font properties, Width, Height, hDC, hBMP,
// the colour gets, Count, Bitmaps) have no step that can fail.
#include "TestSupport.h"

#include "component/Module.h"
#include "platform/RuntimeError.h"

#include <oleauto.h>

#include <functional>
#include <string>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

enum class Mode { Continue, Escape };

constexpr HRESULT kDllNotFound = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, kiv::errors::DllNotFound);

struct Objects {
    ComPtr<_KivCtl> control;
    ComPtr<_KivFactory> registry;
    ComPtr<_KivBitmap> surface;
    HDC target = nullptr;
};

struct Case {
    const char* member;
    Mode mode;
    const char* raisingCall;
    std::function<HRESULT(Objects&)> call;
    std::function<void(Objects&)> after = nullptr;  // what must hold once the member returned
};

LONG I4(HDC dc) { return platform::HandleToI4(dc); }

std::wstring TakeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK || !info) return L"(none)";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    ::SysFreeString(text);
    info->Release();
    return description;
}

const Case kCases[] = {
    // _KivCtl
    {"Blit", Mode::Escape, "BitBlt",
     [](Objects& o) { return o.control->Blit(I4(o.target), 0, 0, 4, 4, I4(DcOf(o.surface.Get())), 0, 0, SRCCOPY); }},
    // _KivFactory
    {"Create (surface construction)", Mode::Continue, "CreateHalftonePalette",
     [](Objects& o) {
         BSTR name = ::SysAllocString(L"late");
         short width = 4, height = 4;
         _KivBitmap* made = reinterpret_cast<_KivBitmap*>(1);
         const HRESULT status = o.registry->Create(&name, &width, &height, &made);
         ::SysFreeString(name);
         EXPECT_EQ(made, nullptr) << "none made";
         return status;
     },
     [](Objects& o) { EXPECT_EQ(CountOf(o.registry.Get()), 1); }},
    {"Create (allocation)", Mode::Continue, "CreateCompatibleBitmap",
     [](Objects& o) {
         BSTR name = ::SysAllocString(L"late");
         short width = 4, height = 4;
         _KivBitmap* made = nullptr;
         const HRESULT status = o.registry->Create(&name, &width, &height, &made);
         ::SysFreeString(name);
         EXPECT_EQ(made, nullptr) << "none made";
         return status;
     },
     [](Objects& o) { EXPECT_EQ(CountOf(o.registry.Get()), 1); }},
    // _KivBitmap
    {"Picture (get)", Mode::Escape, "CreateCompatibleDC",
     [](Objects& o) {
         IPicture* picture = reinterpret_cast<IPicture*>(1);
         const HRESULT status = o.surface->get_Picture(&picture);
         EXPECT_EQ(picture, nullptr) << "an escaping get leaves its result empty";
         return status;
     }},
    {"ForeColor (let)", Mode::Escape, "SetTextColor", [](Objects& o) { return o.surface->put_ForeColor(0xFF); }},
    {"BackColor (let)", Mode::Escape, "SetBkColor", [](Objects& o) { return o.surface->put_BackColor(0xFF); }},
    {"TransparentColor (let)", Mode::Escape, "OleTranslateColor",
     [](Objects& o) {
         LONG colour = RGB(9, 9, 9);
         return o.surface->put_TransparentColor(&colour);
     },
     [](Objects& o) {
         LONG now = 0;
         o.surface->get_TransparentColor(&now);
         EXPECT_NE(now, static_cast<LONG>(RGB(9, 9, 9))) << "the escaped let stored nothing";
     }},
    {"Copy (opaque)", Mode::Continue, "BitBlt",
     [](Objects& o) {
         LONG dc = I4(o.target);
         short left = 0, top = 0;
         return o.surface->Copy(&dc, &left, &top, VARIANT_FALSE);
     }},
    {"Copy (transparent)", Mode::Continue, "CreateCompatibleBitmap",
     [](Objects& o) {
         LONG dc = I4(o.target);
         short left = 0, top = 0;
         return o.surface->Copy(&dc, &left, &top, VARIANT_TRUE);
     }},
    {"DrawBox", Mode::Continue, "CreatePen",
     [](Objects& o) {
         short left = 1, top = 1, width = 5, height = 5;
         return o.surface->DrawBox(&left, &top, &width, &height, nullptr);
     }},
    {"DrawElipse", Mode::Continue, "Ellipse",
     [](Objects& o) {
         short left = 1, top = 1, right = 8, bottom = 8;
         return o.surface->DrawElipse(&left, &top, &right, &bottom);
     }},
    {"DrawCircle", Mode::Continue, "Ellipse",
     [](Objects& o) {
         short left = 6, top = 6, radius = 3;
         return o.surface->DrawCircle(&left, &top, &radius);
     }},
    {"DrawLine", Mode::Continue, "LineTo", [](Objects& o) { return o.surface->DrawLine(0, 0, 9, 9, nullptr); }},
    {"BPrint", Mode::Continue, "TextOutA",
     [](Objects& o) {
         short left = 0, top = 0;
         BSTR text = ::SysAllocString(L"Kiv");
         const HRESULT status = o.surface->BPrint(&left, &top, &text);
         ::SysFreeString(text);
         return status;
     }},
};

class ErrorModes : public ComTest {};

TEST_F(ErrorModes, EveryMemberThatAnErrorCanReachRunsInItsMode) {
    const long objectsAtStart = kiv::module::LiveObjects();
    const kivtest::GdiCounts gdiAtStart = kivtest::LiveGdiObjects();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.member);
        ColourTarget target(16, 16, RGB(255, 255, 255));
        Objects o;
        o.control = NewControl();
        ASSERT_TRUE(o.control);
        o.registry = BitmapsOf(o.control.Get());
        o.surface = Create(o.registry.Get(), L"s", 16, 12);
        ASSERT_TRUE(o.surface);
        o.target = target.Dc();

        bool reached = false;
        Recorder recorder;
        const std::string raising = c.raisingCall;
        recorder.answer = [&](platform::Call& call) -> bool {
            if (raising == call.name) {
                reached = true;
                kiv::Raise(kiv::errors::DllNotFound, kiv::RuntimeErrorText(kiv::errors::DllNotFound));
            }
            return false;
        };
        ::SetErrorInfo(0, nullptr);
        const HRESULT status = c.call(o);
        recorder.answer = nullptr;
        EXPECT_TRUE(reached) << c.raisingCall << " was not called: the case tests nothing";
        if (c.mode == Mode::Escape) {
            EXPECT_EQ(status, kDllNotFound) << "escape: the error is the member's failure";
            EXPECT_EQ(TakeErrorDescription(), L"Error in loading DLL");
        } else {
            EXPECT_EQ(status, S_OK) << "continue: the member succeeds";
            EXPECT_EQ(TakeErrorDescription(), L"(none)");
        }
        if (c.after) c.after(o);
        // The objects still work after the error.
        short count = -1;
        EXPECT_EQ(o.registry->get_Count(&count), S_OK);
        EXPECT_EQ(o.surface->Cls(), S_OK);
    }
    EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart);
    EXPECT_EQ(kivtest::LiveGdiObjects(), gdiAtStart) << "what the members made went with the errors";
}

}  // namespace
