#include "GdiCounter.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <cstring>

namespace kivtest {
namespace {

thread_local GdiCounter* tCounter = nullptr;

// The platform's one shared 1 x 1 monochrome bitmap: what every new memory context holds, and what
// CreateCompatibleBitmap hands out for every request of an empty width or height. It is nobody's to
// delete (deleting it succeeds and changes nothing), so it is no object of the library's.
const void* SharedBitmap() {
    static const void* shared = [] {
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ bitmap = dc ? ::GetCurrentObject(dc, OBJ_BITMAP) : nullptr;
        if (dc) ::DeleteDC(dc);
        return bitmap;
    }();
    return shared;
}

const void* Handle(std::intptr_t value) { return reinterpret_cast<const void*>(value); }

// The main thread counts from the program's start, before any test makes an object.
GdiCounter gMainThread;

}  // namespace

GdiCounter::GdiCounter() : previous_(tCounter) { tCounter = this; }

GdiCounter::~GdiCounter() { tCounter = previous_; }

void GdiCounter::Observe(const kiv::platform::Call& call) {
    const char* name = call.name;
    const void* result = Handle(call.result);
    auto made = [&](Kind kind) {
        if (result && !(kind == Kind::Bitmap && result == SharedBitmap())) live_[result] = kind;
    };
    auto is = [name](const char* which) { return std::strcmp(name, which) == 0; };

    if (is("CreateCompatibleDC")) made(Kind::DC);
    else if (is("CreateCompatibleBitmap") || is("CreateBitmap")) made(Kind::Bitmap);
    else if (is("CreatePen")) made(Kind::Pen);
    else if (is("CreateSolidBrush")) made(Kind::Brush);
    else if (is("CreateFontA")) made(Kind::Font);
    else if (is("CreateHalftonePalette") || is("CreatePalette")) made(Kind::Palette);
    else if ((is("DeleteObject") || is("DeleteDC")) && call.result) live_.erase(Handle(call.args[0]));
    else if (is("GetDC") && result) screenDCs_.insert(result);
    else if (is("ReleaseDC") && call.result) screenDCs_.erase(Handle(call.args[1]));
    else if (is("OleCreatePictureIndirect") && SUCCEEDED(static_cast<HRESULT>(call.result)) && call.args[2]) {
        // The picture now deletes its bitmap and palette: they are no longer the library's to count.
        const auto* description = reinterpret_cast<const PICTDESC*>(call.args[0]);
        if (description && description->picType == PICTYPE_BITMAP) {
            live_.erase(description->bmp.hbitmap);
            live_.erase(description->bmp.hpal);
        }
    }
}

GdiCounts GdiCounter::Live() {
    GdiCounts counts;
    for (auto it = live_.begin(); it != live_.end();) {
        if (::GetObjectType(const_cast<void*>(it->first)) == 0) {  // deleted by someone else
            it = live_.erase(it);
            continue;
        }
        switch (it->second) {
        case Kind::DC: ++counts.dcs; break;
        case Kind::Bitmap: ++counts.bitmaps; break;
        case Kind::Pen: ++counts.pens; break;
        case Kind::Brush: ++counts.brushes; break;
        case Kind::Font: ++counts.fonts; break;
        case Kind::Palette: ++counts.palettes; break;
        }
        ++it;
    }
    counts.screenDCs = static_cast<int>(screenDCs_.size());
    return counts;
}

GdiCounts LiveGdiObjects() {
    if (!tCounter) {
        ADD_FAILURE() << "no GDI counter on this thread";
        return {};
    }
    return tCounter->Live();
}

}  // namespace kivtest
