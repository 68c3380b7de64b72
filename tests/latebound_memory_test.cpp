// References and memory on the late-bound path, as the client sees them: thousands of late-bound
// pictures and calls with long string arguments leave a picture with exactly the client's references,
// no bitmap of a released picture, and the process's private bytes where they were.
#include "TestSupport.h"

#include <oleauto.h>
#include <psapi.h>

#include <string>
#include <vector>

using namespace kivtest;

namespace {

// Growth of private bytes allowed over 2,000 rounds. Measured: none on either architecture under
// Wine; the copies of the strings left unfreed would be 240 MB, the pictures kept alive 33 MB.
constexpr SIZE_T kPrivateBytesBound = 2 * 1024 * 1024;

// The process's commit charge: its private bytes. The extended counters' PrivateUsage is the same
// figure, but Wine fills in only the basic counters.
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

using LateBoundMemory = ControlTest;

TEST_F(LateBoundMemory, ThousandsOfCallsLeaveNoReferenceBitmapOrMemoryBehind) {
    constexpr DISPID kPicture = 0x6803000C, kFontName = 0x6803000B, kBPrint = 0x60030018, kItemTxt = 0x68030002;
    ComPtr<_KivBitmap> surface = Create(registry.Get(), L"s", 64, 64);
    ASSERT_TRUE(surface);
    BSTR text = ::SysAllocString(std::wstring(20000, L'k').c_str());
    int survivors = 0;  // pictures whose bitmap outlived the client's release
    // A picture taken and released; FontName, ItemTxt and BPrint given the text as a string, a
    // reference to a string or a reference to a VARIANT that holds it.
    auto round = [&](int i) {
        VARIANT picture = {}, found = {};
        ASSERT_EQ(LateBound(surface.Get(), kPicture, DISPATCH_PROPERTYGET, {}, &picture), S_OK);
        OLE_HANDLE bitmap = 0;
        ComPtr<IDispatch>(V_DISPATCH(&picture)).As<IPicture>(IID_IPicture)->get_Handle(&bitmap);
        ::VariantClear(&picture);
        survivors += ::GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(bitmap))) != 0;
        VARIANT value = {}, arg = {};
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = text;
        V_VT(&arg) = i % 3 == 0 ? VT_BSTR : i % 3 == 1 ? VT_BSTR | VT_BYREF : VT_VARIANT | VT_BYREF;
        if (i % 3 == 0) V_BSTR(&arg) = text;
        else if (i % 3 == 1) V_BSTRREF(&arg) = &text;
        else V_VARIANTREF(&arg) = &value;
        EXPECT_EQ(LateBound(surface.Get(), kFontName, DISPATCH_PROPERTYPUT, {arg}), S_OK);
        EXPECT_EQ(LateBound(registry.Get(), kItemTxt, DISPATCH_PROPERTYGET, {arg}, &found), S_OK);
        EXPECT_EQ(V_DISPATCH(&found), nullptr) << "no surface of that name";
        EXPECT_EQ(LateBound(surface.Get(), kBPrint, DISPATCH_METHOD, {I2(0), I2(0), arg}), S_OK);
    };
    for (int i = 0; i < 100; ++i) round(i);  // the heap settles
    const SIZE_T before = PrivateBytes();
    ASSERT_GT(before, 0u) << "no measure of private bytes";
    for (int i = 0; i < 2000 && !HasFailure(); ++i) round(i);
    const SIZE_T after = PrivateBytes();
    ::SysFreeString(text);
    EXPECT_EQ(survivors, 0);
    EXPECT_LE(after, before + kPrivateBytesBound) << "grew from " << before << " to " << after << " bytes";

    // A picture handed out late-bound carries exactly the client's reference.
    VARIANT picture = {};
    ASSERT_EQ(LateBound(surface.Get(), kPicture, DISPATCH_PROPERTYGET, {}, &picture), S_OK);
    ASSERT_EQ(V_VT(&picture), VT_DISPATCH);
    EXPECT_EQ(V_DISPATCH(&picture)->AddRef(), 2u);
    EXPECT_EQ(V_DISPATCH(&picture)->Release(), 1u);
    ::VariantClear(&picture);
}

}  // namespace
