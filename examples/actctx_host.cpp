// Without registration, in a program that does not own its process's manifest: a plug-in, an Office
// add-in, a DLL loaded by someone else's program. It activates a context of its own from
// KIVDRAW.manifest (CreateActCtx, ActivateActCtx) around the code that makes the control; while the
// context is active, the ProgID, the class and the type library are found through it, with nothing
// in the registry.
//
// Put beside this module: KIVDRAW.OCX and KIVDRAW.manifest of the host process's architecture.
#include "KivClient.h"

#include <oleauto.h>

using namespace kivclient;

namespace {

// The folder of the module that holds this code (an EXE here; the same call finds a plug-in DLL's).
std::wstring OwnFolder() {
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&OwnFolder), &self);
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// An activation context made from a manifest file, released when it goes.
class ActivationContext {
public:
    explicit ActivationContext(const std::wstring& manifest) {
        ACTCTXW request{};
        request.cbSize = sizeof request;
        request.lpSource = manifest.c_str();
        context_ = ::CreateActCtxW(&request);
        if (context_ == INVALID_HANDLE_VALUE) throw std::runtime_error("KIVDRAW.manifest cannot be read");
    }
    ~ActivationContext() { ::ReleaseActCtx(context_); }
    ActivationContext(const ActivationContext&) = delete;
    ActivationContext& operator=(const ActivationContext&) = delete;
    HANDLE Get() const { return context_; }

private:
    HANDLE context_;
};

// The context active on this thread for as long as this lives.
class Activation {
public:
    explicit Activation(const ActivationContext& context) {
        if (!::ActivateActCtx(context.Get(), &cookie_)) throw std::runtime_error("ActivateActCtx");
    }
    ~Activation() { ::DeactivateActCtx(0, cookie_); }
    Activation(const Activation&) = delete;
    Activation& operator=(const Activation&) = delete;

private:
    ULONG_PTR cookie_ = 0;
};

}  // namespace

int main() try {
    Apartment com;
    Checks checks;

    ActivationContext kivdraw(OwnFolder() + L"KIVDRAW.manifest");
    ComPtr<_KivCtl> ctl;
    ComPtr<ITypeLib> library;
    {
        Activation active(kivdraw);
        ctl = NewControl();  // CLSIDFromProgID(L"Kiv.KivCtl") and CoCreateInstance, as when registered
        ::LoadRegTypeLib(LIBID_Kiv, 21, 0, LOCALE_NEUTRAL, &library);
    }
    checks.Expect(library != nullptr, "the type library Kiv 21.0 is found through the context");

    // The objects made while the context was active keep working after it.
    ComPtr<_KivFactory> bitmaps;
    ctl->get_Bitmaps(&bitmaps);
    ComPtr<_KivBitmap> canvas = Create(bitmaps.Get(), L"canvas", 40, 20);
    if (!canvas) throw std::runtime_error("no surface");
    canvas->put_BackColor(RGB(255, 255, 0));
    canvas->Cls();
    OLE_COLOR red = RGB(255, 0, 0);
    canvas->DrawLine(0, 10, 40, 10, &red);
    HDC dc = DcOf(canvas.Get());
    checks.Expect(::GetPixel(dc, 20, 10) == RGB(255, 0, 0), "the line is on the surface");
    checks.Expect(::GetPixel(dc, 20, 5) == RGB(255, 255, 0), "the background is around it");

    // Outside the context the module is unknown again: nothing was registered.
    CLSID clsid{};
    checks.Expect(FAILED(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid)), "no ProgID outside the context");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
