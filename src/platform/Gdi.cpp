#include "Gdi.h"

#include "Binding.h"
#include "Observer.h"

#include <type_traits>
#include <unordered_map>
#include <unordered_set>

namespace kiv::platform {
namespace {

enum class Kind { DC, Bitmap, Pen, Brush, Font, Palette };

// Per thread, as every object of the library lives on the thread that made it.
thread_local Observer* tObserver = nullptr;
thread_local DWORD tLastError = 0;
thread_local std::unordered_map<const void*, Kind> tLive;
thread_local std::unordered_set<HDC> tScreenDCs;

template <class T>
std::intptr_t Arg(T value) noexcept {
    if constexpr (std::is_pointer_v<T>) return reinterpret_cast<std::intptr_t>(value);
    else return static_cast<std::intptr_t>(value);
}

template <class R>
R FromArg(std::intptr_t value) noexcept {
    if constexpr (std::is_pointer_v<R>) return reinterpret_cast<R>(value);
    else return static_cast<R>(value);
}

// Calls the bound function (or lets the observer answer it) and reports the call.
template <class Fn, class... A>
auto Perform(Entry<Fn>& entry, std::string text, A... args) {
    Fn fn = entry();  // binding first: a missing entry point raises before anything happens
    using R = decltype(fn(args...));
    Call call;
    call.name = entry.Name();
    call.argc = sizeof...(A);
    int i = 0;
    ((call.args[i++] = Arg(args)), ...);
    call.text = std::move(text);
    R result{};
    if (tObserver && tObserver->Intercept(call)) {
        result = FromArg<R>(call.result);
    } else {
        result = fn(args...);
        tLastError = ::GetLastError();
        call.result = Arg(result);
    }
    if (tObserver) tObserver->Observe(call);
    return result;
}

// The platform's one shared 1 x 1 monochrome bitmap: what every new memory context holds, and what
// CreateCompatibleBitmap hands out for every request of an empty width or height. It is nobody's to
// delete (deleting it succeeds and changes nothing), so it is no object of the library's.
HGDIOBJ SharedBitmap() noexcept {
    static const HGDIOBJ shared = [] {
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ bitmap = dc ? ::GetCurrentObject(dc, OBJ_BITMAP) : nullptr;
        if (dc) ::DeleteDC(dc);
        return bitmap;
    }();
    return shared;
}

template <class H>
H Track(H handle, Kind kind) {
    if (handle && !(kind == Kind::Bitmap && handle == SharedBitmap())) tLive[handle] = kind;
    return handle;
}

void Forget(const void* handle) { tLive.erase(handle); }

#define KIV_ENTRY(library, name) static Entry<decltype(&::name)> entry(library, #name)

}  // namespace

Observer* SetObserver(Observer* observer) noexcept {
    Observer* previous = tObserver;
    tObserver = observer;
    return previous;
}

Observer* CurrentObserver() noexcept { return tObserver; }

DWORD LastPlatformError() noexcept { return tLastError; }

Counts LiveObjects() {
    Counts counts;
    for (auto it = tLive.begin(); it != tLive.end();) {
        if (::GetObjectType(const_cast<void*>(it->first)) == 0) {  // deleted by someone else
            it = tLive.erase(it);
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
    counts.screenDCs = static_cast<int>(tScreenDCs.size());
    return counts;
}

HDC CreateCompatibleDC(HDC dc) {
    KIV_ENTRY("gdi32", CreateCompatibleDC);
    return Track(Perform(entry, {}, dc), Kind::DC);
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    KIV_ENTRY("gdi32", CreateCompatibleBitmap);
    return Track(Perform(entry, {}, dc, width, height), Kind::Bitmap);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    KIV_ENTRY("gdi32", CreateBitmap);
    return Track(Perform(entry, {}, width, height, planes, bitsPerPixel, bits), Kind::Bitmap);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    KIV_ENTRY("gdi32", SelectObject);
    return Perform(entry, {}, dc, object);
}

BOOL DeleteObject(HGDIOBJ object) {
    KIV_ENTRY("gdi32", DeleteObject);
    BOOL done = Perform(entry, {}, object);
    if (done) Forget(object);
    return done;
}

BOOL DeleteDC(HDC dc) {
    KIV_ENTRY("gdi32", DeleteDC);
    BOOL done = Perform(entry, {}, dc);
    if (done) Forget(dc);
    return done;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground) {
    KIV_ENTRY("gdi32", SelectPalette);
    return Perform(entry, {}, dc, palette, forceBackground);
}

UINT RealizePalette(HDC dc) {
    KIV_ENTRY("gdi32", RealizePalette);
    return Perform(entry, {}, dc);
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int xSrc, int ySrc, DWORD rop) {
    KIV_ENTRY("gdi32", BitBlt);
    return Perform(entry, {}, dest, x, y, width, height, source, xSrc, ySrc, rop);
}

BOOL TextOutA(HDC dc, int x, int y, const char* text, int length) {
    KIV_ENTRY("gdi32", TextOutA);
    std::string seen = text && length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
    return Perform(entry, std::move(seen), dc, x, y, text, length);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    KIV_ENTRY("gdi32", CreateSolidBrush);
    return Track(Perform(entry, {}, color), Kind::Brush);
}

COLORREF GetTextColor(HDC dc) {
    KIV_ENTRY("gdi32", GetTextColor);
    return Perform(entry, {}, dc);
}

COLORREF GetBkColor(HDC dc) {
    KIV_ENTRY("gdi32", GetBkColor);
    return Perform(entry, {}, dc);
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
    KIV_ENTRY("gdi32", SetTextColor);
    return Perform(entry, {}, dc, color);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
    KIV_ENTRY("gdi32", SetBkColor);
    return Perform(entry, {}, dc, color);
}

HPEN CreatePen(int style, int width, COLORREF color) {
    KIV_ENTRY("gdi32", CreatePen);
    return Track(Perform(entry, {}, style, width, color), Kind::Pen);
}

BOOL MoveToEx(HDC dc, int x, int y, POINT* previous) {
    KIV_ENTRY("gdi32", MoveToEx);
    return Perform(entry, {}, dc, x, y, previous);
}

BOOL LineTo(HDC dc, int x, int y) {
    KIV_ENTRY("gdi32", LineTo);
    return Perform(entry, {}, dc, x, y);
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, const char* faceName) {
    KIV_ENTRY("gdi32", CreateFontA);
    return Track(Perform(entry, faceName ? std::string(faceName) : std::string(), height, width, escapement,
                         orientation, weight, italic, underline, strikeOut, charSet, outPrecision,
                         clipPrecision, quality, pitchAndFamily, faceName),
                 Kind::Font);
}

HPALETTE CreateHalftonePalette(HDC dc) {
    KIV_ENTRY("gdi32", CreateHalftonePalette);
    return Track(Perform(entry, {}, dc), Kind::Palette);
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
    KIV_ENTRY("gdi32", CreatePalette);
    return Track(Perform(entry, {}, palette), Kind::Palette);
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
    KIV_ENTRY("GDI32.DLL", Ellipse);
    return Perform(entry, {}, dc, left, top, right, bottom);
}

int GetDeviceCaps(HDC dc, int index) {
    KIV_ENTRY("gdi32", GetDeviceCaps);
    return Perform(entry, {}, dc, index);
}

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
    KIV_ENTRY("gdi32", GetSystemPaletteEntries);
    return Perform(entry, {}, dc, start, count, entries);
}

HDC GetDC(HWND window) {
    KIV_ENTRY("user32", GetDC);
    HDC dc = Perform(entry, {}, window);
    if (dc) tScreenDCs.insert(dc);
    return dc;
}

int ReleaseDC(HWND window, HDC dc) {
    KIV_ENTRY("user32", ReleaseDC);
    int released = Perform(entry, {}, window, dc);
    if (released) tScreenDCs.erase(dc);
    return released;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    KIV_ENTRY("user32", FillRect);
    return Perform(entry, {}, dc, rect, brush);
}

HRESULT OleTranslateColor(OLE_COLOR color, HPALETTE palette, COLORREF* result) {
    KIV_ENTRY("oleaut32.dll", OleTranslateColor);
    return Perform(entry, {}, color, palette, result);
}

HRESULT OleCreatePictureIndirect(PICTDESC* description, REFIID iid, BOOL own, void** picture) {
    // REFIID travels as a pointer; binding it as one lets the call be reported like any other.
    static Entry<HRESULT(WINAPI*)(PICTDESC*, const IID*, BOOL, void**)> entry("olepro32.dll",
                                                                               "OleCreatePictureIndirect");
    HRESULT status = Perform(entry, {}, description, &iid, own, picture);
    // The picture now deletes its bitmap and palette: they are no longer the library's to count.
    if (SUCCEEDED(status) && own && description && description->picType == PICTYPE_BITMAP) {
        Forget(description->bmp.hbitmap);
        Forget(description->bmp.hpal);
    }
    return status;
}

}  // namespace kiv::platform
