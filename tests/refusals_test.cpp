// The edges of two refusals, on both sides: the sizes that SetExtent takes and refuses around the
// control's fixed 32 x 31 pixels, and the late-bound argument lists that Invoke refuses, each with
// its status and the argument it names.
#include "TestSupport.h"

#include <oleauto.h>

#include <vector>

using namespace kivtest;

namespace {

constexpr DISPID kDrawCircle = 0x60030016;  // Left, Top, Radius
constexpr UINT kUntouched = 0xDEADBEEF;

using Refusals = ControlTest;

TEST_F(Refusals, SetExtentTakesOnlyTheFixedSize) {
    HDC screen = ::GetDC(nullptr);
    const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX), dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    // HIMETRIC of n pixels, rounded down and up as containers do.
    auto down = [](int n, int dpi) { return static_cast<LONG>(n * 2540 / dpi); };
    auto up = [](int n, int dpi) { return static_cast<LONG>((n * 2540 + dpi - 1) / dpi); };
    struct Case {
        const char* what;
        SIZEL size;
        HRESULT expected;
    };
    const Case cases[] = {
        {"32 x 31 rounded down", {down(32, dpiX), down(31, dpiY)}, S_OK},
        {"32 x 31 rounded up", {up(32, dpiX), up(31, dpiY)}, S_OK},
        {"a pixel wider", {up(33, dpiX), up(31, dpiY)}, E_FAIL},
        {"a pixel narrower", {up(31, dpiX), up(31, dpiY)}, E_FAIL},
        {"a pixel taller", {up(32, dpiX), up(32, dpiY)}, E_FAIL},
        {"a pixel lower", {up(32, dpiX), up(30, dpiY)}, E_FAIL},
        {"a pixel larger both ways", {up(33, dpiX), up(32, dpiY)}, E_FAIL},
        {"a pixel smaller both ways", {down(31, dpiX), down(30, dpiY)}, E_FAIL},
    };
    ComPtr<IOleObject> ole = control.As<IOleObject>(IID_IOleObject);
    for (const Case& c : cases) {
        SIZEL size = c.size;
        EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &size), c.expected) << c.what;
    }
    EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, nullptr), E_POINTER) << "no size";
}

VARIANT Missing() {
    VARIANT missing = I4(0);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    return missing;
}

TEST_F(Refusals, InvokeNamesTheArgumentThatDoesNotMatch) {
    ComPtr<_KivBitmap> surface = Create(registry.Get(), L"s", 8, 8);
    ASSERT_TRUE(surface);
    ComPtr<IDispatch> dispatch = surface.As<IDispatch>(IID_IDispatch);
    struct Case {
        const char* what;
        std::vector<VARIANT> args;    // as the caller lays them out: named first, positional last to first
        std::vector<DISPID> names;    // of the first arguments
        HRESULT expected;
        UINT argError;
    };
    const Case cases[] = {
        {"named Radius, then DISPID 3 (past the last parameter)", {I2(1), I2(2), I2(3), I2(4)}, {2, 3},
         DISP_E_PARAMNOTFOUND, 1},
        {"a negative DISPID", {I2(1), I2(2), I2(3)}, {-5}, DISP_E_PARAMNOTFOUND, 0},
        {"Top named twice", {I2(1), I2(2), I2(3)}, {1, 1}, DISP_E_PARAMNOTFOUND, 1},
        {"a put's value for a method", {I2(1), I2(2), I2(3), I2(4)}, {DISPID_PROPERTYPUT}, DISP_E_PARAMNOTFOUND, 0},
        {"four positional for three", {I2(1), I2(2), I2(3), I2(4)}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
        {"Left missing (s.DrawCircle , 15, 6)", {I2(6), I2(15), Missing()}, {}, DISP_E_PARAMNOTOPTIONAL, 2},
        {"Top missing", {I2(6), Missing(), I2(5)}, {}, DISP_E_PARAMNOTOPTIONAL, 1},
    };
    for (const Case& c : cases) {
        std::vector<VARIANT> args = c.args;
        std::vector<DISPID> names = c.names;
        DISPPARAMS params = {args.data(), names.empty() ? nullptr : names.data(), static_cast<UINT>(args.size()),
                             static_cast<UINT>(names.size())};
        UINT argError = kUntouched;
        EXPECT_EQ(dispatch->Invoke(kDrawCircle, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                   nullptr, &argError),
                  c.expected)
            << c.what;
        EXPECT_EQ(argError, c.argError) << c.what;
    }
}

}  // namespace
