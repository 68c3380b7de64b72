// kiv_bench: the library's copies, late-bound calls and surface creation against the platform doing
// the same work directly. Prints "ratio NAME: VALUE" (library time / baseline time) per comparison.
#include "BesideProgram.h"
#include "DirectCopy.h"
#include "ScriptHost.h"
#include "Timing.h"

#include "component/ComPtr.h"
#include "kiv.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);

using kiv::ComPtr;
using kivtest::BesideProgram;
using namespace kivbench;

namespace {

constexpr COLORREF kKey = RGB(255, 0, 0);

long I4(const void* handle) { return static_cast<long>(reinterpret_cast<LONG_PTR>(handle)); }

// A memory context of the screen's format, the target of every copy.
class Target {
public:
    Target(int width, int height) {
        HDC screen = ::GetDC(nullptr);
        dc_ = ::CreateCompatibleDC(screen);
        bitmap_ = ::CreateCompatibleBitmap(screen, width, height);
        ::ReleaseDC(nullptr, screen);
        previous_ = ::SelectObject(dc_, bitmap_);
        RECT all = {0, 0, width, height};
        HBRUSH brush = ::CreateSolidBrush(RGB(20, 140, 220));
        ::FillRect(dc_, &all, brush);
        ::DeleteObject(brush);
    }
    ~Target() {
        ::SelectObject(dc_, previous_);
        ::DeleteObject(bitmap_);
        ::DeleteDC(dc_);
    }
    HDC Dc() const { return dc_; }

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
};

// The pixels of the bitmap selected in a memory context, as 32-bit values.
std::vector<DWORD> PixelsOf(HDC dc, int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> bits(static_cast<size_t>(width) * height);
    ::GetDIBits(dc, static_cast<HBITMAP>(::GetCurrentObject(dc, OBJ_BITMAP)), 0, height, bits.data(), &info,
                DIB_RGB_COLORS);
    return bits;
}

ComPtr<_KivBitmap> MakeSurface(_KivFactory* registry, const wchar_t* name, short width, short height) {
    BSTR text = ::SysAllocString(name);
    ComPtr<_KivBitmap> surface;
    registry->Create(&text, &width, &height, surface.Put());
    ::SysFreeString(text);
    if (!surface) return surface;
    // Stripes of the key colour over a gradient: about a third of the pixels are transparent.
    LONG dcValue = 0;
    surface->get_hDC(&dcValue);
    HDC dc = reinterpret_cast<HDC>(static_cast<LONG_PTR>(dcValue));
    for (int y = 0; y < height; y += 3) {
        RECT row = {0, y, width, y + 1};
        HBRUSH key = ::CreateSolidBrush(kKey);
        ::FillRect(dc, &row, key);
        ::DeleteObject(key);
        RECT rest = {0, y + 1, width, std::min<int>(y + 3, height)};
        HBRUSH other = ::CreateSolidBrush(RGB(y % 256, 80, 255 - y % 256));
        ::FillRect(dc, &rest, other);
        ::DeleteObject(other);
    }
    LONG key = static_cast<LONG>(kKey);
    surface->put_TransparentColor(&key);
    return surface;
}

HDC DcOf(_KivBitmap* surface) {
    LONG value = 0;
    surface->get_hDC(&value);
    return reinterpret_cast<HDC>(static_cast<LONG_PTR>(value));
}

void CompareCopies(_KivFactory* registry, HDC target, HPALETTE palette, short width, short height,
                   const std::string& suffix, bool withOpaque) {
    ComPtr<_KivBitmap> surface = MakeSurface(registry, L"bench", width, height);
    if (!surface) {
        std::printf("no surface of %d x %d\n", width, height);
        return;
    }
    HDC source = DcOf(surface.Get());
    LONG targetDc = I4(target);
    short left = 0, top = 0;

    // The comparison is fair only if both ways give the same picture.
    {
        Target byLibrary(width, height), direct(width, height);
        LONG libraryDc = I4(byLibrary.Dc());
        surface->Copy(&libraryDc, &left, &top, VARIANT_TRUE);
        DirectTransparentCopy(direct.Dc(), 0, 0, width, height, source, 0, 0, kKey, palette);
        if (PixelsOf(byLibrary.Dc(), width, height) != PixelsOf(direct.Dc(), width, height))
            std::printf("warning: the library's and the direct transparent copy differ at %s\n", suffix.c_str());
    }

    auto libraryTransparent = [&] { surface->Copy(&targetDc, &left, &top, VARIANT_TRUE); };
    Compare(("copy_transparent_vs_direct_" + suffix).c_str(), libraryTransparent,
            [&] { DirectTransparentCopy(target, 0, 0, width, height, source, 0, 0, kKey, palette); });
    Compare(("copy_transparent_vs_TransparentBlt_" + suffix).c_str(), libraryTransparent,
            [&] { ::TransparentBlt(target, 0, 0, width, height, source, 0, 0, width, height, kKey); });
    if (withOpaque)
        Compare(("copy_opaque_vs_BitBlt_" + suffix).c_str(),
                [&] { surface->Copy(&targetDc, &left, &top, VARIANT_FALSE); },
                [&] { ::BitBlt(target, 0, 0, width, height, source, 0, 0, SRCCOPY); });
    short one = 1;
    registry->RemoveInt(&one);
}

void CompareInvoke(_KivFactory* registry) {
    ComPtr<_KivBitmap> surface = MakeSurface(registry, L"invoke", 32, 32);
    ComPtr<IDispatch> late = surface.As<IDispatch>(IID_IDispatch);
    short left = 2, top = 3, width = 2, height = 2;
    LONG color = static_cast<LONG>(RGB(0, 200, 0));
    VARIANT args[5];  // in reverse order, as late binding passes them
    for (auto& arg : args) ::VariantInit(&arg);
    args[4].vt = VT_I2 | VT_BYREF; args[4].piVal = &left;
    args[3].vt = VT_I2 | VT_BYREF; args[3].piVal = &top;
    args[2].vt = VT_I2 | VT_BYREF; args[2].piVal = &width;
    args[1].vt = VT_I2 | VT_BYREF; args[1].piVal = &height;
    args[0].vt = VT_I4 | VT_BYREF; args[0].plVal = &color;
    DISPPARAMS params = {args, nullptr, 5, 0};
    constexpr DISPID kDrawBox = 0x60030014;
    Compare("invoke_vs_vtable_DrawBox",
            [&] { late->Invoke(kDrawBox, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr); },
            [&] { surface->DrawBox(&left, &top, &width, &height, &color); });
    short one = 1;
    registry->RemoveInt(&one);
}

// The platform's own Automation object for the same kinds of call: a Scripting.Dictionary, whose
// IDispatch answers through the platform's type information.
ComPtr<IDispatch> NewDictionary() {
    CLSID clsid;
    ComPtr<IDispatch> dictionary;
    if (SUCCEEDED(::CLSIDFromProgID(L"Scripting.Dictionary", &clsid)))
        ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                           reinterpret_cast<void**>(dictionary.Put()));
    return dictionary;
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

// A property get with no arguments through IDispatch::Invoke, its result dropped.
void Get(IDispatch* object, DISPID id) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    ::VariantInit(&result);
    object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
    ::VariantClear(&result);
}

// Late-bound calls of a surface against the same kind of call to the platform's dictionary: a
// property get, a name look-up, and a script reading the property in a loop.
void CompareWithDictionary(_KivFactory* registry) {
    ComPtr<IDispatch> dictionary = NewDictionary();
    if (!dictionary) {
        std::printf("no Scripting.Dictionary\n");
        return;
    }
    ComPtr<_KivBitmap> surface = MakeSurface(registry, L"late", 32, 32);
    ComPtr<IDispatch> late = surface.As<IDispatch>(IID_IDispatch);
    const DISPID width = IdOf(late.Get(), L"Width");
    const DISPID count = IdOf(dictionary.Get(), L"Count");
    Compare("invoke_get_vs_dictionary", [&] { Get(late.Get(), width); }, [&] { Get(dictionary.Get(), count); });

    auto lookUp = [](IDispatch* object, const wchar_t* name) {
        return [object, name] { IdOf(object, name); };
    };
    Compare("getidsofnames_vs_dictionary", lookUp(late.Get(), L"DrawBox"), lookUp(dictionary.Get(), L"Count"));
    Compare("getidsofnames_last_vs_dictionary", lookUp(late.Get(), L"BPrint"), lookUp(dictionary.Get(), L"Count"));

    // Both loops run in one VBScript engine, which looks each name up and calls Invoke on every pass.
    {
        demo::ScriptHost script([](const std::wstring& line) { std::printf("%ls\n", line.c_str()); });
        script.Add(L"s", late.Get());
        script.Add(L"d", dictionary.Get());
        const bool ran = script.Run(
            L"Sub ReadWidth(n)\n  Dim i, x\n  For i = 1 To n\n    x = s.Width\n  Next\nEnd Sub\n"
            L"Sub ReadCount(n)\n  Dim i, x\n  For i = 1 To n\n    x = d.Count\n  Next\nEnd Sub\n");
        const DISPID readWidth = script.Find(L"ReadWidth"), readCount = script.Find(L"ReadCount");
        constexpr long kPasses = 100;
        if (!ran || readWidth == DISPID_UNKNOWN || readCount == DISPID_UNKNOWN ||
            !script.Call(readWidth, 1) || !script.Call(readCount, 1))
            std::printf("the script engine refused the loops\n");
        else
            Compare("script_get_vs_dictionary", [&] { script.Call(readWidth, kPasses); },
                    [&] { script.Call(readCount, kPasses); });
    }
    short one = 1;
    registry->RemoveInt(&one);
}

// What making and dropping a 32 x 32 surface asks of the platform, written directly.
void RawSurface(HDC reference) {
    HDC screen = ::GetDC(nullptr);
    HPALETTE palette = ::CreateHalftonePalette(screen);
    ::ReleaseDC(nullptr, screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(reference, 32, 32);
    HDC dc = ::CreateCompatibleDC(reference);
    HGDIOBJ previous = ::SelectObject(dc, bitmap);
    COLORREF fore = 0, back = 0;
    ::OleTranslateColor(0, nullptr, &fore);
    ::SetTextColor(dc, fore);
    ::OleTranslateColor(0x8000000F, nullptr, &back);
    ::SetBkColor(dc, back);
    ::OleTranslateColor(0x8000000F, nullptr, &back);
    HBRUSH brush = ::CreateSolidBrush(back);
    RECT all = {0, 0, 32, 32};
    ::FillRect(dc, &all, brush);
    ::DeleteObject(brush);
    ::DeleteObject(palette);
    ::SelectObject(dc, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
}

void CompareCreate(_KivFactory* registry) {
    HDC screen = ::GetDC(nullptr);
    HDC reference = ::CreateCompatibleDC(screen);
    HBITMAP one = ::CreateCompatibleBitmap(screen, 1, 1);
    ::ReleaseDC(nullptr, screen);
    HGDIOBJ previous = ::SelectObject(reference, one);
    BSTR name = ::SysAllocString(L"made");
    Compare("create_release_vs_raw_32",
            [&] {
                short width = 32, height = 32, first = 1;
                ComPtr<_KivBitmap> surface;
                registry->Create(&name, &width, &height, surface.Put());
                registry->RemoveInt(&first);
            },
            [&] { RawSurface(reference); });
    ::SysFreeString(name);
    ::SelectObject(reference, previous);
    ::DeleteObject(one);
    ::DeleteDC(reference);
}

// The size of the module beside this program, as it is shipped.
void PrintModuleSize() {
    const std::wstring path = BesideProgram(L"KIVDRAW.OCX");
    WIN32_FILE_ATTRIBUTE_DATA file = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &file)) {
        std::printf("no KIVDRAW.OCX beside the benchmark\n");
        return;
    }
    const unsigned long long bytes = (static_cast<unsigned long long>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    std::printf("size KIVDRAW.OCX %s: %llu bytes\n", sizeof(void*) == 8 ? "x86_64" : "i686", bytes);
}

// The module loaded and unloaded by a host that holds the system libraries already (this program
// imports them), against a module that does nothing as it loads: what the module's own start-up and
// end cost every host that loads it.
void CompareLoading() {
    const std::wstring module = BesideProgram(L"KIVDRAW.OCX"), plain = BesideProgram(L"kiv_bench_plain.dll");
    auto loadAndUnload = [](const std::wstring& path) {
        return [path] {
            if (HMODULE loaded = ::LoadLibraryW(path.c_str())) ::FreeLibrary(loaded);
        };
    };
    HMODULE check = ::LoadLibraryW(plain.c_str());
    if (!check) {
        std::printf("no %ls beside the benchmark\n", plain.c_str());
        return;
    }
    ::FreeLibrary(check);
    Compare("load_unload_vs_plain_module", loadAndUnload(module), loadAndUnload(plain), {0.05, 51});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) Filter() = argv[1];
    if (FAILED(::CoInitialize(nullptr))) return 1;
    int status = 0;
    {
        ComPtr<IClassFactory> factory;
        ComPtr<_KivCtl> control;
        if (SUCCEEDED(DllGetClassObject(CLSID_KivCtl, IID_IClassFactory, reinterpret_cast<void**>(factory.Put()))))
            factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put()));
        ComPtr<_KivFactory> registry;
        if (control) control->get_Bitmaps(registry.Put());
        if (!registry) {
            std::printf("no control\n");
            status = 1;
        } else {
            std::printf("kiv_bench, %d-bit\n", static_cast<int>(sizeof(void*) * 8));
            PrintModuleSize();
            HDC screen = ::GetDC(nullptr);
            HPALETTE palette = ::CreateHalftonePalette(screen);
            ::ReleaseDC(nullptr, screen);
            {
                Target target(1024, 768);
                CompareCopies(registry.Get(), target.Dc(), palette, 32, 32, "32", false);
                CompareCopies(registry.Get(), target.Dc(), palette, 256, 256, "256", true);
                CompareCopies(registry.Get(), target.Dc(), palette, 1024, 768, "1024x768", false);
            }
            ::DeleteObject(palette);
            CompareInvoke(registry.Get());
            CompareWithDictionary(registry.Get());
            CompareCreate(registry.Get());
            CompareLoading();
        }
    }
    ::CoUninitialize();
    return status;
}
