// What tests see of the platform layer: every call with its arguments and result, and the objects
// that the library made and has not deleted yet. Nothing here replaces GDI; an observer may answer a
// call itself (a refused allocation, a palette device) to reach paths the machine does not offer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kiv::platform {

struct Call {
    const char* name = nullptr;
    std::intptr_t args[14] = {};
    int argc = 0;
    std::intptr_t result = 0;
    std::string text;  // the 8-bit text of TextOutA and the face name of CreateFontA
};

class Observer {
public:
    virtual ~Observer() = default;
    // Before the call: returning true answers it with call.result, and the platform is not called.
    virtual bool Intercept(Call& call) { return false; }
    // After the call (or its interception), with the result.
    virtual void Observe(const Call& call) {}
};

// Installs an observer for the calling thread (nullptr removes it); returns the previous one.
Observer* SetObserver(Observer* observer) noexcept;
Observer* CurrentObserver() noexcept;

// Platform objects that the library made through this layer and that still exist. A handle that GDI
// no longer knows (deleted by its new owner) is not counted, nor the platform's shared 1 x 1 bitmap
// that it hands out for a bitmap of an empty size.
struct Counts {
    int dcs = 0;
    int bitmaps = 0;
    int pens = 0;
    int brushes = 0;
    int fonts = 0;
    int palettes = 0;
    int screenDCs = 0;  // GetDC without its ReleaseDC yet

    int Total() const noexcept { return dcs + bitmaps + pens + brushes + fonts + palettes + screenDCs; }
    bool operator==(const Counts&) const = default;
};

Counts LiveObjects();

// The value of GetLastError after the latest platform call on this thread; the library never reads it.
DWORD LastPlatformError() noexcept;

}  // namespace kiv::platform
