// A few conveniences that the C++ examples share: COM for the thread, strings and device contexts
// at the interfaces' boundary, the control by its ProgID, and the examples' own checks.
//
// The examples reach KIVDRAW.OCX as any client does: registered, through COM. They compile with the
// header made from the module's interface description (kiv.h, in the download's include/) and link
// its identifiers (include/kiv_i.c) and ole32, oleaut32 and uuid; none of the module's code is
// linked in. The README's C++ section shows the command line.
#pragma once

#include "kiv.h"

#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace kivclient {

using Microsoft::WRL::ComPtr;

// COM on this thread, in a single-threaded apartment: the module's objects live on the thread that
// made them.
class Apartment {
public:
    Apartment() {
        if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) throw std::runtime_error("CoInitializeEx");
    }
    ~Apartment() { ::CoUninitialize(); }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

// A string for the parameters that the interfaces take by reference (BSTR*).
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b_(::SysAllocString(text)) {}
    ~Bstr() { ::SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR* Ref() { return &b_; }
    std::wstring Text() const { return b_ ? std::wstring(b_, ::SysStringLen(b_)) : std::wstring(); }

private:
    BSTR b_;
};

// A new control, made from its ProgID as any container or script makes it.
inline ComPtr<_KivCtl> NewControl() {
    CLSID clsid{};
    ComPtr<_KivCtl> control;
    if (FAILED(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid)) ||
        FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__KivCtl, &control)))
        throw std::runtime_error("Kiv.KivCtl cannot be made: is KIVDRAW.OCX registered for this architecture?");
    return control;
}

// Create: the surface, or none when the platform cannot make a bitmap of that size.
inline ComPtr<_KivBitmap> Create(_KivFactory* bitmaps, const wchar_t* name, short width, short height) {
    Bstr text(name);
    ComPtr<_KivBitmap> surface;
    bitmaps->Create(text.Ref(), &width, &height, &surface);
    return surface;
}

// Handles cross the interfaces as 32-bit values; GDI handles fit in them on 64-bit Windows too.
inline HDC DcOf(_KivBitmap* surface) {
    LONG dc = 0;
    surface->get_hDC(&dc);
    return reinterpret_cast<HDC>(static_cast<INT_PTR>(dc));
}
inline LONG I4(HDC dc) { return static_cast<LONG>(reinterpret_cast<INT_PTR>(dc)); }

// The examples check what they show and say PASS at the end when all held.
class Checks {
public:
    void Expect(bool ok, const char* what) {
        if (!ok) {
            std::printf("FAIL: %s\n", what);
            ++failures_;
        }
    }
    int Finish() const {
        if (failures_ == 0) std::printf("PASS\n");
        return failures_ == 0 ? 0 : 1;
    }

private:
    int failures_ = 0;
};

}  // namespace kivclient
