// Without registration, through the application's own manifest. app_manifest.manifest, built into
// this program as its resource 1 (app_manifest.rc), names the assembly KIVDRAW as a dependency.
// Windows finds KIVDRAW.manifest and KIVDRAW.OCX in the program's folder and serves the control's
// ProgID, its class and its type library from them: the code is the same as for the registered
// module, and nothing is written to the registry.
//
// Put beside the program: KIVDRAW.OCX and KIVDRAW.manifest of the program's own architecture.
#include "KivClient.h"

#include <ocidl.h>

#include <initializer_list>
#include <vector>

using namespace kivclient;

namespace {

// A VARIANT that frees what it holds.
class Variant {
public:
    Variant() { ::VariantInit(&v_); }
    explicit Variant(long value) : Variant() { v_.vt = VT_I4; v_.lVal = value; }
    explicit Variant(const wchar_t* text) : Variant() { v_.vt = VT_BSTR; v_.bstrVal = ::SysAllocString(text); }
    Variant(const Variant& other) : Variant() { ::VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)); }
    ~Variant() { ::VariantClear(&v_); }
    Variant& operator=(const Variant&) = delete;
    VARIANT* Get() { return &v_; }
    long Long() const {
        VARIANT i4;
        ::VariantInit(&i4);
        if (FAILED(::VariantChangeType(&i4, const_cast<VARIANT*>(&v_), 0, VT_I4))) throw std::runtime_error("not a number");
        return i4.lVal;
    }
    IDispatch* Object() const {
        if (v_.vt != VT_DISPATCH || !v_.pdispVal) throw std::runtime_error("not an object");
        return v_.pdispVal;
    }

private:
    VARIANT v_;
};

// A member called by name, as a script calls it: its identifier from its name, then Invoke with the
// arguments in the caller's order (IDispatch takes them last first).
Variant Call(IDispatch* object, const wchar_t* name, WORD kind, std::initializer_list<Variant> arguments = {}) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        throw std::runtime_error("no member of that name");
    std::vector<Variant> reversed(std::rbegin(arguments), std::rend(arguments));
    std::vector<VARIANT> values;
    for (Variant& argument : reversed) values.push_back(*argument.Get());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{values.data(), kind == DISPATCH_PROPERTYPUT ? &named : nullptr,
                          static_cast<UINT>(values.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    Variant result;
    if (FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters,
                              kind == DISPATCH_PROPERTYPUT ? nullptr : result.Get(), nullptr, nullptr)))
        throw std::runtime_error("the call failed");
    return result;
}

// A pixel of a bitmap handle, read through a memory DC of its own.
COLORREF PixelOf(HBITMAP bitmap, int x, int y) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ previous = ::SelectObject(dc, bitmap);
    const COLORREF pixel = ::GetPixel(dc, x, y);
    ::SelectObject(dc, previous);
    ::DeleteDC(dc);
    return pixel;
}

}  // namespace

int main() try {
    Apartment com;
    Checks checks;

    CLSID clsid{};
    ComPtr<IDispatch> ctl;
    if (FAILED(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid)) ||
        FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &ctl)))
        throw std::runtime_error("Kiv.KivCtl cannot be made: are KIVDRAW.OCX and KIVDRAW.manifest beside the program?");

    Variant bitmaps = Call(ctl.Get(), L"Bitmaps", DISPATCH_PROPERTYGET);
    Variant canvas = Call(bitmaps.Object(), L"Create", DISPATCH_METHOD, {Variant(L"canvas"), Variant(64), Variant(32)});
    Call(canvas.Object(), L"BackColor", DISPATCH_PROPERTYPUT, {Variant(static_cast<long>(RGB(255, 255, 255)))});
    Call(canvas.Object(), L"Cls", DISPATCH_METHOD);
    Call(canvas.Object(), L"DrawBox", DISPATCH_METHOD,
         {Variant(8), Variant(8), Variant(16), Variant(16), Variant(static_cast<long>(RGB(0, 0, 255)))});

    // The picture holds a copy of the pixels in a bitmap of its own.
    Variant picture = Call(canvas.Object(), L"Picture", DISPATCH_PROPERTYGET);
    ComPtr<IPicture> pic;
    picture.Object()->QueryInterface(IID_IPicture, &pic);
    OLE_HANDLE handle = 0;
    if (!pic || FAILED(pic->get_Handle(&handle))) throw std::runtime_error("no picture");
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(handle));
    BITMAP size{};
    ::GetObjectW(bitmap, sizeof size, &size);
    checks.Expect(size.bmWidth == 64 && size.bmHeight == 32, "the picture is 64 x 32 pixels");
    checks.Expect(PixelOf(bitmap, 8, 8) == RGB(0, 0, 255), "the box is in the picture");
    checks.Expect(PixelOf(bitmap, 24, 24) == RGB(255, 255, 255), "the background is in the picture");

    const long count = Call(bitmaps.Object(), L"Count", DISPATCH_PROPERTYGET).Long();
    std::printf("surfaces: %ld\n", count);
    checks.Expect(count == 1, "one surface listed");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
