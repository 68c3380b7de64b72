// The edges of two refusals, both sides: the sizes that SetExtent takes and refuses around the
// control's fixed 32 x 31 pixels, and the late-bound argument lists that Invoke refuses, each with its
// status and the argument that it names.
#include "TestSupport.h"

#include <oleauto.h>

#include <vector>

using namespace kivtest;

namespace {

using Refusals = ControlTest;

TEST_F(Refusals, SetExtentTakesOnlyTheFixedSize) {
    HDC screen = ::GetDC(nullptr);
    const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX), dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    // n pixels in HIMETRIC, rounded down and up, as containers round them.
    auto down = [](int n, int dpi) { return static_cast<LONG>(n * 2540 / dpi); };
    auto up = [](int n, int dpi) { return static_cast<LONG>((n * 2540 + dpi - 1) / dpi); };
    const struct {
        const char* what;
        SIZEL size;
        HRESULT expected;
    } cases[] = {
        {"32 x 31 rounded down", {down(32, dpiX), down(31, dpiY)}, S_OK},
        {"32 x 31 rounded up", {up(32, dpiX), up(31, dpiY)}, S_OK},
        {"a pixel wider", {up(33, dpiX), up(31, dpiY)}, E_FAIL},
        {"a pixel narrower", {up(31, dpiX), up(31, dpiY)}, E_FAIL},
        {"a pixel taller", {up(32, dpiX), up(32, dpiY)}, E_FAIL},
        {"a pixel lower", {up(32, dpiX), up(30, dpiY)}, E_FAIL},
        {"a pixel larger both ways", {up(33, dpiX), up(32, dpiY)}, E_FAIL},
        {"a pixel smaller both ways", {down(31, dpiX), down(30, dpiY)}, E_FAIL},
    };
    auto ole = control.As<IOleObject>(IID_IOleObject);
    for (const auto& c : cases) {
        SIZEL size = c.size;
        EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &size), c.expected) << c.what;
    }
    EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, nullptr), E_POINTER) << "no size";
}

TEST_F(Refusals, InvokeNamesTheArgumentThatDoesNotMatch) {
    constexpr DISPID kDrawCircle = 0x60030016;  // Left, Top, Radius
    constexpr UINT kUntouched = 0xDEADBEEF;
    auto surface = Create(registry.Get(), L"s", 8, 8).As<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(surface);
    VARIANT missing = {};
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    const struct {
        const char* what;
        std::vector<VARIANT> args;  // as the caller lays them out: named first, then positional last to first
        std::vector<DISPID> names;  // of the first arguments
        HRESULT expected;
        UINT argError;
    } cases[] = {
        {"Radius, then DISPID 3 named", {I2(1), I2(2), I2(3), I2(4)}, {2, 3}, DISP_E_PARAMNOTFOUND, 1},
        {"a negative DISPID named", {I2(1), I2(2), I2(3)}, {-5}, DISP_E_PARAMNOTFOUND, 0},
        {"Top named twice", {I2(1), I2(2), I2(3)}, {1, 1}, DISP_E_PARAMNOTFOUND, 1},
        {"a put's value for a method", {I2(1), I2(2), I2(3), I2(4)}, {DISPID_PROPERTYPUT}, DISP_E_PARAMNOTFOUND, 0},
        {"four positional for three", {I2(1), I2(2), I2(3), I2(4)}, {}, DISP_E_BADPARAMCOUNT, kUntouched},
        {"Left missing (s.DrawCircle , 15, 6)", {I2(6), I2(15), missing}, {}, DISP_E_PARAMNOTOPTIONAL, 2},
        {"Top missing", {I2(6), missing, I2(5)}, {}, DISP_E_PARAMNOTOPTIONAL, 1},
    };
    for (const auto& c : cases) {
        std::vector<VARIANT> args = c.args;
        std::vector<DISPID> names = c.names;
        DISPPARAMS params = {args.data(), names.data(), static_cast<UINT>(args.size()), static_cast<UINT>(names.size())};
        UINT argError = kUntouched;
        const HRESULT status = surface->Invoke(kDrawCircle, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                               nullptr, nullptr, &argError);
        EXPECT_EQ(status, c.expected) << c.what;
        EXPECT_EQ(argError, c.argError) << c.what;
    }
}

}  // namespace
