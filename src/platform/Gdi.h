// The platform operations as the library calls them. Each is bound by name in its library on first
// use (a missing one raises the runtime's error) and reported to the observer, if there is one.
#pragma once

#include <windows.h>
#include <olectl.h>

namespace kiv::platform {

class ThreadPoint;

// gdi32
HDC CreateCompatibleDC(HDC dc);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
BOOL DeleteDC(HDC dc);
HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC dc);
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int xSrc, int ySrc, DWORD rop);
BOOL TextOutA(HDC dc, int x, int y, const char* text, int length);
HBRUSH CreateSolidBrush(COLORREF color);
COLORREF GetTextColor(HDC dc);
COLORREF GetBkColor(HDC dc);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
HPEN CreatePen(int style, int width, COLORREF color);
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
// MoveToEx keeping the position that it replaces as the calling thread's value of `previous`.
BOOL MoveToEx(HDC dc, int x, int y, ThreadPoint* previous);
BOOL LineTo(HDC dc, int x, int y);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, const char* faceName);
HPALETTE CreateHalftonePalette(HDC dc);
HPALETTE CreatePalette(const LOGPALETTE* palette);
BOOL Ellipse(HDC dc, int left, int top, int right, int bottom);
int GetDeviceCaps(HDC dc, int index);
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);

// user32
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);

// OLE automation
HRESULT OleTranslateColor(OLE_COLOR color, HPALETTE palette, COLORREF* result);
HRESULT OleCreatePictureIndirect(PICTDESC* description, REFIID iid, BOOL own, void** picture);

// Handles cross the interface as 32-bit signed integers; GDI handles fit in 32 bits on both
// architectures, and widening with the sign gives the handle back.
inline long HandleToI4(const void* handle) noexcept {
    return static_cast<long>(reinterpret_cast<LONG_PTR>(handle));
}
template <class H>
inline H I4ToHandle(long value) noexcept {
    return reinterpret_cast<H>(static_cast<LONG_PTR>(value));
}

}  // namespace kiv::platform
