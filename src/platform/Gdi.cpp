#include "Gdi.h"

#include "Binding.h"
#include "Observer.h"
#include "ThreadPoint.h"

#include <atomic>
#include <type_traits>

namespace kiv::platform {
namespace {

// Tests install an observer before the calls that it is to see and keep it while calls may reach it;
// a call only needs to find it published, so reading it costs one load on the path without one.
std::atomic<Observer*> gObserver{nullptr};

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

// The call as the observer sees it: when the observer answers it, the answer stands in for the
// platform, and the observer is told of it afterwards either way.
template <class Fn, class... A>
auto Observed(Observer& observer, const char* name, Fn fn, A... args) {
    using R = decltype(fn(args...));
    Call call;
    call.name = name;
    call.argc = sizeof...(A);
    int i = 0;
    ((call.args[i++] = Arg(args)), ...);
    R result{};
    if (observer.Intercept(call)) {
        result = FromArg<R>(call.result);
    } else {
        result = fn(args...);
        call.result = Arg(result);
    }
    observer.Observe(call);
    return result;
}

// Calls the bound function; without an observer, that is all it does.
template <class Fn, class... A>
auto Perform(Entry<Fn>& entry, A... args) {
    Fn fn = entry();  // binding first: a missing entry point raises before anything happens
    if (Observer* observer = gObserver.load(std::memory_order_acquire))
        return Observed(*observer, entry.Name(), fn, args...);
    return fn(args...);
}

#define KIV_ENTRY(library, name) static Entry<decltype(&::name)> entry(library, #name)

}  // namespace

void SetObserver(Observer* observer) noexcept { gObserver.store(observer, std::memory_order_release); }

HDC CreateCompatibleDC(HDC dc) {
    KIV_ENTRY("gdi32", CreateCompatibleDC);
    return Perform(entry, dc);
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
    KIV_ENTRY("gdi32", CreateCompatibleBitmap);
    return Perform(entry, dc, width, height);
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
    KIV_ENTRY("gdi32", CreateBitmap);
    return Perform(entry, width, height, planes, bitsPerPixel, bits);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    KIV_ENTRY("gdi32", SelectObject);
    return Perform(entry, dc, object);
}

BOOL DeleteObject(HGDIOBJ object) {
    KIV_ENTRY("gdi32", DeleteObject);
    return Perform(entry, object);
}

BOOL DeleteDC(HDC dc) {
    KIV_ENTRY("gdi32", DeleteDC);
    return Perform(entry, dc);
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground) {
    KIV_ENTRY("gdi32", SelectPalette);
    return Perform(entry, dc, palette, forceBackground);
}

UINT RealizePalette(HDC dc) {
    KIV_ENTRY("gdi32", RealizePalette);
    return Perform(entry, dc);
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int xSrc, int ySrc, DWORD rop) {
    KIV_ENTRY("gdi32", BitBlt);
    return Perform(entry, dest, x, y, width, height, source, xSrc, ySrc, rop);
}

BOOL TextOutA(HDC dc, int x, int y, const char* text, int length) {
    KIV_ENTRY("gdi32", TextOutA);
    return Perform(entry, dc, x, y, text, length);
}

HBRUSH CreateSolidBrush(COLORREF color) {
    KIV_ENTRY("gdi32", CreateSolidBrush);
    return Perform(entry, color);
}

COLORREF GetTextColor(HDC dc) {
    KIV_ENTRY("gdi32", GetTextColor);
    return Perform(entry, dc);
}

COLORREF GetBkColor(HDC dc) {
    KIV_ENTRY("gdi32", GetBkColor);
    return Perform(entry, dc);
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
    KIV_ENTRY("gdi32", SetTextColor);
    return Perform(entry, dc, color);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
    KIV_ENTRY("gdi32", SetBkColor);
    return Perform(entry, dc, color);
}

HPEN CreatePen(int style, int width, COLORREF color) {
    KIV_ENTRY("gdi32", CreatePen);
    return Perform(entry, style, width, color);
}

BOOL MoveToEx(HDC dc, int x, int y, POINT* previous) {
    KIV_ENTRY("gdi32", MoveToEx);
    return Perform(entry, dc, x, y, previous);
}

BOOL MoveToEx(HDC dc, int x, int y, ThreadPoint* previous) {
    // Where the platform does not move (or writes nothing), the thread's point stays as it was.
    POINT replaced = previous ? previous->Get() : POINT{};
    const BOOL moved = platform::MoveToEx(dc, x, y, &replaced);
    if (previous) previous->Set(replaced);
    return moved;
}

BOOL LineTo(HDC dc, int x, int y) {
    KIV_ENTRY("gdi32", LineTo);
    return Perform(entry, dc, x, y);
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, const char* faceName) {
    KIV_ENTRY("gdi32", CreateFontA);
    return Perform(entry, height, width, escapement, orientation, weight, italic, underline, strikeOut, charSet,
                   outPrecision, clipPrecision, quality, pitchAndFamily, faceName);
}

HPALETTE CreateHalftonePalette(HDC dc) {
    KIV_ENTRY("gdi32", CreateHalftonePalette);
    return Perform(entry, dc);
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
    KIV_ENTRY("gdi32", CreatePalette);
    return Perform(entry, palette);
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
    KIV_ENTRY("GDI32.DLL", Ellipse);
    return Perform(entry, dc, left, top, right, bottom);
}

int GetDeviceCaps(HDC dc, int index) {
    KIV_ENTRY("gdi32", GetDeviceCaps);
    return Perform(entry, dc, index);
}

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
    KIV_ENTRY("gdi32", GetSystemPaletteEntries);
    return Perform(entry, dc, start, count, entries);
}

HDC GetDC(HWND window) {
    KIV_ENTRY("user32", GetDC);
    return Perform(entry, window);
}

int ReleaseDC(HWND window, HDC dc) {
    KIV_ENTRY("user32", ReleaseDC);
    return Perform(entry, window, dc);
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    KIV_ENTRY("user32", FillRect);
    return Perform(entry, dc, rect, brush);
}

HRESULT OleTranslateColor(OLE_COLOR color, HPALETTE palette, COLORREF* result) {
    KIV_ENTRY("oleaut32.dll", OleTranslateColor);
    return Perform(entry, color, palette, result);
}

HRESULT OleCreatePictureIndirect(PICTDESC* description, REFIID iid, BOOL own, void** picture) {
    // REFIID travels as a pointer; binding it as one lets the call be reported like any other.
    static Entry<HRESULT(WINAPI*)(PICTDESC*, const IID*, BOOL, void**)> entry("olepro32.dll",
                                                                               "OleCreatePictureIndirect");
    return Perform(entry, description, &iid, own, picture);
}

}  // namespace kiv::platform
