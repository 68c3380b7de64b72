// The error boundary of the members (escape and continue), the error object, the internal-call check,
// and what a late-bound client gets through IDispatch::Invoke: converted and omitted arguments,
// by-reference VARIANTs, named put values, wrong calls, and errors as exceptions.
#include "TestSupport.h"

#include "component/Module.h"
#include "component/OwnObject.h"
#include "platform/RuntimeError.h"
#include "registry/KivFactory.h"
#include "surface/KivBitmap.h"

#include <oleauto.h>
#include <olectl.h>

#include <functional>
#include <string>
#include <vector>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

// DISPIDs of _KivBitmap, _KivFactory and _KivCtl as the type library publishes them.
constexpr DISPID kPicture = 0x6803000C;
constexpr DISPID kFontSize = 0x6803000A;
constexpr DISPID kWidth = 0x68030006;
constexpr DISPID kForeColor = 0x68030002;
constexpr DISPID kCopy = 0x60030012;
constexpr DISPID kCls = 0x60030013;
constexpr DISPID kDrawBox = 0x60030014;
constexpr DISPID kDrawCircle = 0x60030016;
constexpr DISPID kDrawLine = 0x60030017;
constexpr DISPID kItemInt = 0x68030003;
constexpr DISPID kBlit = 0x60030004;

constexpr HRESULT kEntryPointNotFound = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 453);
constexpr HRESULT kDllNotFound = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 48);

struct Var : VARIANT {
    Var() { ::VariantInit(this); }
    ~Var() { ::VariantClear(this); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

struct Exception : EXCEPINFO {
    Exception() : EXCEPINFO{} {}
    ~Exception() {
        ::SysFreeString(bstrSource);
        ::SysFreeString(bstrDescription);
        ::SysFreeString(bstrHelpFile);
    }
    std::wstring Description() const {
        return bstrDescription ? std::wstring(bstrDescription, ::SysStringLen(bstrDescription)) : std::wstring();
    }
};

VARIANT Missing() {
    VARIANT x;
    ::VariantInit(&x);
    V_VT(&x) = VT_ERROR;
    V_ERROR(&x) = DISP_E_PARAMNOTFOUND;
    return x;
}

VARIANT RefTo(VARIANT* inner) {
    VARIANT x;
    ::VariantInit(&x);
    V_VT(&x) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&x) = inner;
    return x;
}

// A late-bound call as a client makes it: arguments in their declared order, a put's value named.
struct Call {
    HRESULT status = E_FAIL;
    UINT argError = UINT(-1);
};

Call Invoke(IUnknown* object, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
            EXCEPINFO* exception = nullptr) {
    ComPtr<IDispatch> dispatch;
    object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()));
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    const bool named = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), named ? &put : nullptr,
                         static_cast<UINT>(reversed.size()), named ? 1u : 0u};
    Call call;
    call.status =
        dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception, &call.argError);
    return call;
}

// What the thread's error object holds now (and takes it).
struct Reported {
    bool present = false;
    std::wstring description;
    std::wstring source;
};

Reported TakeErrorInfo() {
    Reported reported;
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK || !info) return reported;
    reported.present = true;
    BSTR text = nullptr;
    if (SUCCEEDED(info->GetDescription(&text)) && text) reported.description.assign(text, ::SysStringLen(text));
    ::SysFreeString(text);
    BSTR source = nullptr;
    if (SUCCEEDED(info->GetSource(&source)) && source) reported.source.assign(source, ::SysStringLen(source));
    ::SysFreeString(source);
    info->Release();
    return reported;
}

// An answer that makes one platform call raise the runtime's error, as a missing library or entry
// point does at the call that needs it.
std::function<bool(platform::Call&)> Raising(std::string name, long number) {
    return [name, number](platform::Call& call) -> bool {
        if (name == call.name) kiv::Raise(number, kiv::RuntimeErrorText(number));
        return false;
    };
}

class Errors : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        surface = Create(registry.Get(), L"s", 16, 12);
        ASSERT_TRUE(surface);
    }
    void ReleaseAll() override {
        surface.Reset();
        ControlTest::ReleaseAll();
    }

    ComPtr<_KivBitmap> surface;
};

// ---- the error object ---------------------------------------------------------------------------

TEST_F(Errors, TheLibrarysOwnErrorReachesTheErrorObject) {
    ::SetErrorInfo(0, nullptr);
    const HRESULT status = kiv::RuntimeError(-1, L"Unable to create buffer palette").Report();
    EXPECT_EQ(static_cast<unsigned long>(status), 0xFFFFFFFFul);
    const Reported reported = TakeErrorInfo();
    ASSERT_TRUE(reported.present);
    EXPECT_EQ(reported.description, L"Unable to create buffer palette");
    EXPECT_FALSE(reported.source.empty());

    // A runtime number travels in the automation-error facility.
    EXPECT_EQ(kiv::RuntimeError(6, L"Overflow").Report(), MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 6));
    EXPECT_EQ(TakeErrorInfo().description, L"Overflow");
}

// ---- escape and continue --------------------------------------------------------------------------

TEST_F(Errors, AnEscapingErrorIsTheMembersFailureAndTheClientsException) {
    ColourTarget from(4, 4, RGB(1, 2, 3));
    ColourTarget to(4, 4, RGB(0, 0, 0));
    Recorder recorder;
    recorder.answer = Raising("BitBlt", kiv::errors::EntryPointNotFound);

    // Early bound: the status, with the error object set.
    EXPECT_EQ(control->Blit(platform::HandleToI4(to.Dc()), 0, 0, 4, 4, platform::HandleToI4(from.Dc()), 0, 0,
                            SRCCOPY),
              kEntryPointNotFound);
    const Reported reported = TakeErrorInfo();
    ASSERT_TRUE(reported.present);
    EXPECT_EQ(reported.description, L"Specified DLL function not found");

    // Late bound: an exception that carries the number and the description.
    Exception exception;
    const Call call = Invoke(control.Get(), kBlit, DISPATCH_METHOD,
                             {I4(platform::HandleToI4(to.Dc())), I4(0), I4(0), I4(4), I4(4),
                              I4(platform::HandleToI4(from.Dc())), I4(0), I4(0), I4(SRCCOPY)},
                             nullptr, &exception);
    EXPECT_EQ(call.status, DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, kEntryPointNotFound);
    EXPECT_EQ(exception.Description(), L"Specified DLL function not found");
    EXPECT_EQ(PixelAt(to.Dc(), 0, 0), RGB(0, 0, 0)) << "nothing was copied";
}

TEST_F(Errors, AGetWhoseErrorEscapesGivesAnEmptyResult) {
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    Recorder recorder;
    recorder.answer = Raising("OleCreatePictureIndirect", kiv::errors::DllNotFound);

    IPicture* picture = reinterpret_cast<IPicture*>(1);
    EXPECT_EQ(surface->get_Picture(&picture), kDllNotFound);
    EXPECT_EQ(picture, nullptr);
    EXPECT_EQ(TakeErrorInfo().description, L"Error in loading DLL");

    Var result;
    Exception exception;
    EXPECT_EQ(Invoke(surface.Get(), kPicture, DISPATCH_PROPERTYGET, {}, &result, &exception).status, DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, kDllNotFound);
    EXPECT_TRUE(V_VT(&result) == VT_EMPTY || (V_VT(&result) == VT_DISPATCH && !V_DISPATCH(&result)) ||
                (V_VT(&result) == VT_UNKNOWN && !V_UNKNOWN(&result)));
    EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "the snapshot's bitmap went with the error";
}

TEST_F(Errors, AMemberInModeContinueSucceedsWhenAStepFails) {
    Recorder recorder;
    ::SetErrorInfo(0, nullptr);

    // 32760 + 10 overflows a 16-bit result: the circle is abandoned, the member succeeds.
    short left = 32760, top = 0, radius = 10;
    EXPECT_EQ(surface->DrawCircle(&left, &top, &radius), S_OK);
    EXPECT_EQ(recorder.Count("Ellipse"), 0);
    EXPECT_FALSE(TakeErrorInfo().present);
    EXPECT_EQ(Invoke(surface.Get(), kDrawCircle, DISPATCH_METHOD, {I2(32760), I2(0), I2(10)}).status, S_OK);
    EXPECT_EQ(recorder.Count("Ellipse"), 0);

    // Within range, the same member draws.
    EXPECT_EQ(Invoke(surface.Get(), kDrawCircle, DISPATCH_METHOD, {I2(8), I2(6), I2(3)}).status, S_OK);
    EXPECT_EQ(recorder.Count("Ellipse"), 1);

    // An error raised by a platform call is absorbed as well, and what was made is given back.
    recorder.answer = Raising("LineTo", kiv::errors::EntryPointNotFound);
    const kivtest::GdiCounts before = kivtest::LiveGdiObjects();
    EXPECT_EQ(surface->DrawLine(0, 0, 5, 5, nullptr), S_OK);
    EXPECT_EQ(Invoke(surface.Get(), kDrawLine, DISPATCH_METHOD, {I4(0), I4(0), I4(5), I4(5)}).status, S_OK);
    EXPECT_EQ(recorder.Count("CreatePen"), 2);
    EXPECT_EQ(kivtest::LiveGdiObjects(), before) << "the pens were deleted";
    EXPECT_FALSE(TakeErrorInfo().present);
}

TEST_F(Errors, ASurfaceWithoutBufferPaletteIsNotMade) {
    const long objects = kiv::module::LiveObjects();
    const kivtest::GdiCounts gdi = kivtest::LiveGdiObjects();
    Recorder recorder;
    recorder.answer = [](platform::Call& call) {
        if (std::string(call.name) != "CreateHalftonePalette") return false;
        call.result = 0;
        return true;
    };

    // Made directly, the surface raises the library's own error.
    try {
        kiv::MakeObject<kiv::KivBitmap>();
        ADD_FAILURE() << "no error raised";
    } catch (const kiv::RuntimeError& error) {
        EXPECT_EQ(error.Number(), -1);
        EXPECT_EQ(error.Description(), L"Unable to create buffer palette");
    }
    EXPECT_EQ(kiv::module::LiveObjects(), objects);

    // Create runs in mode continue: no surface, no error, nothing listed, nothing left behind.
    ::SetErrorInfo(0, nullptr);
    EXPECT_FALSE(Create(registry.Get(), L"none", 8, 8));
    EXPECT_FALSE(TakeErrorInfo().present);
    EXPECT_EQ(CountOf(registry.Get()), 1);
    Var result;
    // The name 0 converts to the text "0".
    EXPECT_EQ(Invoke(registry.Get(), 0x60030008, DISPATCH_METHOD, {I4(0), I2(8), I2(8)}, &result).status, S_OK);
    EXPECT_TRUE(V_VT(&result) == VT_DISPATCH || V_VT(&result) == VT_UNKNOWN);
    EXPECT_EQ(V_UNKNOWN(&result), nullptr);
    EXPECT_EQ(recorder.Count("CreateHalftonePalette"), 3);
    EXPECT_EQ(recorder.Count("CreateCompatibleBitmap"), 0) << "no allocation without a surface";
    EXPECT_EQ(CountOf(registry.Get()), 1);
    EXPECT_EQ(kiv::module::LiveObjects(), objects);
    EXPECT_EQ(kivtest::LiveGdiObjects(), gdi);
}

// ---- the internal-call check ------------------------------------------------------------------

// Another implementation of _KivFactory: it counts every call that reaches it.
class ForeignFactory final : public _KivFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID__KivFactory) return E_NOINTERFACE;
        *out = static_cast<_KivFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override { return --references; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return Touch(); }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Touch(); }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return Touch(); }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return Touch();
    }
    STDMETHODIMP Clear() override { return Touch(); }
    STDMETHODIMP Create(BSTR*, short*, short*, _KivBitmap**) override { return Touch(); }
    STDMETHODIMP get_Count(short*) override { return Touch(); }
    STDMETHODIMP get_ItemInt(short*, _KivBitmap**) override { return Touch(); }
    STDMETHODIMP get_ItemTxt(BSTR*, _KivBitmap**) override { return Touch(); }
    STDMETHODIMP RemoveInt(short*) override { return Touch(); }

    ULONG references = 1;
    int calls = 0;

private:
    HRESULT Touch() {
        ++calls;
        return E_NOTIMPL;
    }
};

TEST_F(Errors, InternalMembersRefuseAForeignObject) {
    ForeignFactory foreign;
    // Reached as a client's interface pointer, whose implementation the library cannot know.
    IUnknown* volatile given = &foreign;
    try {
        kiv::Own<kiv::KivFactory>(given).SetReferenceDC(1234);
        ADD_FAILURE() << "no error raised";
    } catch (const kiv::RuntimeError& error) {
        EXPECT_EQ(error.Number(), kiv::errors::ForeignObject);
        EXPECT_EQ(error.Number(), 438);
    }
    EXPECT_EQ(foreign.references, 1u) << "the foreign object is left as it was";
    EXPECT_EQ(foreign.calls, 0);

    // One of the library's own objects of another class is just as foreign to the check.
    EXPECT_THROW(kiv::Own<kiv::KivBitmap>(registry.Get()), kiv::RuntimeError);

    // The library's own registry passes, and is not held by the check.
    registry->AddRef();
    const ULONG references = registry->Release();
    kiv::KivFactory& own = kiv::Own<kiv::KivFactory>(registry.Get());
    EXPECT_NE(own.ReferenceDC(), 0) << "the control's device context";
    registry->AddRef();
    EXPECT_EQ(registry->Release(), references);
}

// ---- late binding: arguments ----------------------------------------------------------------------

TEST_F(Errors, AnArgumentOutOfRangeIsAnOverflow) {
    Recorder recorder;
    // 70000 given for DrawBox's Left, a 16-bit by-reference parameter.
    const Call call = Invoke(surface.Get(), kDrawBox, DISPATCH_METHOD, {I4(70000), I4(0), I4(5), I4(5)});
    EXPECT_EQ(call.status, DISP_E_OVERFLOW);
    EXPECT_EQ(call.argError, 3u) << "the first argument, last in the list";
    EXPECT_EQ(recorder.Count("CreatePen"), 0) << "the member was not called";
    EXPECT_EQ(recorder.Count("FillRect"), 0);
}

TEST_F(Errors, OmittedOptionalArgumentsTakeTheirDefaults) {
    const OLE_COLOR fore = 0x00336699;
    ASSERT_EQ(surface->put_ForeColor(static_cast<LONG>(fore)), S_OK);
    HDC dc = DcOf(surface.Get());
    Recorder recorder;

    // DrawLine without Color draws in the foreground colour, left out or marked missing.
    EXPECT_EQ(Invoke(surface.Get(), kDrawLine, DISPATCH_METHOD, {I4(0), I4(1), I4(10), I4(1)}).status, S_OK);
    EXPECT_EQ(Invoke(surface.Get(), kDrawLine, DISPATCH_METHOD, {I4(0), I4(3), I4(10), I4(3), Missing()}).status,
              S_OK);
    auto pens = recorder.Named("CreatePen");
    ASSERT_EQ(pens.size(), 2u);
    for (const auto& pen : pens) EXPECT_EQ(static_cast<COLORREF>(pen.args[2]), Rgb(fore));
    EXPECT_EQ(PixelAt(dc, 5, 1), Rgb(fore));
    EXPECT_EQ(PixelAt(dc, 5, 3), Rgb(fore));

    // DrawBox without Color outlines and fills in the foreground colour.
    recorder.Clear();
    EXPECT_EQ(Invoke(surface.Get(), kDrawBox, DISPATCH_METHOD, {I2(2), I2(5), I2(4), I2(4)}).status, S_OK);
    ASSERT_EQ(recorder.Count("CreatePen"), 1);
    EXPECT_EQ(static_cast<COLORREF>(recorder.Named("CreatePen")[0].args[2]), Rgb(fore));
    ASSERT_EQ(recorder.Count("CreateSolidBrush"), 1);
    EXPECT_EQ(static_cast<COLORREF>(recorder.Named("CreateSolidBrush")[0].args[0]), Rgb(fore));
    EXPECT_EQ(PixelAt(dc, 3, 6), Rgb(fore));

    // Copy without Transparent is the opaque copy: one block transfer.
    ColourTarget target(20, 20, RGB(0, 0, 0));
    recorder.Clear();
    EXPECT_EQ(Invoke(surface.Get(), kCopy, DISPATCH_METHOD, {I4(platform::HandleToI4(target.Dc())), I2(1), I2(1)})
                  .status,
              S_OK);
    ASSERT_EQ(recorder.Count("BitBlt"), 1);
    EXPECT_EQ(static_cast<DWORD>(recorder.Named("BitBlt")[0].args[8]), static_cast<DWORD>(SRCCOPY));
    EXPECT_EQ(PixelAt(target.Dc(), 1 + 5, 1 + 1), Rgb(fore));
    EXPECT_EQ(PixelAt(target.Dc(), 1 + 15, 1 + 11), PixelAt(dc, 15, 11));
    EXPECT_EQ(PixelAt(target.Dc(), 0, 0), RGB(0, 0, 0));
}

TEST_F(Errors, AByReferenceVariantReachesATypedByReferenceParameter) {
    Recorder recorder;
    // A script passes its variables as VT_BYREF | VT_VARIANT; here holding 32-bit integers.
    VARIANT left = I4(2), top = I4(3), width = I4(6), height = I4(5);
    const Call call = Invoke(surface.Get(), kDrawBox, DISPATCH_METHOD,
                             {RefTo(&left), RefTo(&top), RefTo(&width), RefTo(&height)});
    EXPECT_EQ(call.status, S_OK);
    const auto moves = recorder.Named("MoveToEx");
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].args[1], 2 + 6 - 1) << "right edge";
    EXPECT_EQ(moves[0].args[2], 3) << "top";
    const auto lines = recorder.Named("LineTo");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].args[1], 2) << "left edge";
    // The caller's variables are left as they were.
    EXPECT_EQ(V_VT(&left), VT_I4);
    EXPECT_EQ(V_I4(&left), 2);
    EXPECT_EQ(V_I4(&height), 5);

    // A position given the same way finds its surface.
    VARIANT index = I4(1);
    Var found;
    EXPECT_EQ(Invoke(registry.Get(), kItemInt, DISPATCH_PROPERTYGET, {RefTo(&index)}, &found).status, S_OK);
    ASSERT_EQ(V_VT(&found), VT_DISPATCH);
    EXPECT_TRUE(kiv::SameObject(V_DISPATCH(&found), surface.Get()));
}

TEST_F(Errors, PutsTakeTheirValueAsTheNamedArgument) {
    EXPECT_EQ(Invoke(surface.Get(), kForeColor, DISPATCH_PROPERTYPUT, {I4(0x00102030)}).status, S_OK);
    LONG fore = 0;
    surface->get_ForeColor(&fore);
    EXPECT_EQ(fore, 0x00102030);
    Var read;
    EXPECT_EQ(Invoke(surface.Get(), kForeColor, DISPATCH_PROPERTYGET, {}, &read).status, S_OK);
    EXPECT_EQ(V_VT(&read), VT_I4);
    EXPECT_EQ(V_I4(&read), 0x00102030);

    // A 32-bit value for a 16-bit by-reference property.
    EXPECT_EQ(Invoke(surface.Get(), kFontSize, DISPATCH_PROPERTYPUT, {I4(17)}).status, S_OK);
    short size = 0;
    surface->get_FontSize(&size);
    EXPECT_EQ(size, 17);
}

TEST_F(Errors, WrongCallsAreRefused) {
    Recorder recorder;
    EXPECT_EQ(Invoke(surface.Get(), kDrawCircle, DISPATCH_METHOD, {I2(1), I2(2)}).status, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(surface.Get(), kCls, DISPATCH_METHOD, {I2(1)}).status, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(surface.Get(), 0x12345, DISPATCH_METHOD, {}).status, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(surface.Get(), DISPID_VALUE, DISPATCH_PROPERTYGET, {}).status, DISP_E_MEMBERNOTFOUND)
        << "no default member";
    EXPECT_EQ(Invoke(surface.Get(), kWidth, DISPATCH_PROPERTYPUT, {I2(5)}).status, DISP_E_MEMBERNOTFOUND)
        << "Width has no let";
    EXPECT_EQ(recorder.calls.size(), 0u) << "no member ran";
    short width = 0;
    surface->get_Width(&width);
    EXPECT_EQ(width, 16);
}

TEST_F(Errors, ObjectResultsComeBackAsIDispatch) {
    Var picture;
    ASSERT_EQ(Invoke(surface.Get(), kPicture, DISPATCH_PROPERTYGET, {}, &picture).status, S_OK);
    ASSERT_EQ(V_VT(&picture), VT_DISPATCH);
    ASSERT_TRUE(V_DISPATCH(&picture));
    ComPtr<IPicture> asPicture;
    ASSERT_EQ(V_DISPATCH(&picture)->QueryInterface(IID_IPicture, reinterpret_cast<void**>(asPicture.Put())), S_OK);
    OLE_XSIZE_HIMETRIC width = 0;
    asPicture->get_Width(&width);
    EXPECT_GT(width, 0);

    Var none;
    EXPECT_EQ(Invoke(registry.Get(), kItemInt, DISPATCH_PROPERTYGET, {I2(0)}, &none).status, S_OK);
    EXPECT_EQ(V_VT(&none), VT_DISPATCH);
    EXPECT_EQ(V_DISPATCH(&none), nullptr) << "position 0 finds nothing";
}

}  // namespace
