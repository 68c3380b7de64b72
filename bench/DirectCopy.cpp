#include "DirectCopy.h"

namespace kivbench {

void DirectTransparentCopy(HDC dest, int destX, int destY, int width, int height, HDC source, int sourceX,
                           int sourceY, OLE_COLOR transparentColor, HPALETTE palette) {
    constexpr BOOL kForceBackground = -1;
    HDC screen = ::GetDC(nullptr);
    COLORREF key = 0;
    if (FAILED(::OleTranslateColor(transparentColor, palette, &key))) key = 0;

    HBITMAP bufferBitmap = ::CreateCompatibleBitmap(screen, width, height);
    HDC buffer = ::CreateCompatibleDC(screen);
    HGDIOBJ bufferOldBitmap = ::SelectObject(buffer, bufferBitmap);
    HPALETTE bufferOldPalette = ::SelectPalette(buffer, palette, kForceBackground);
    ::RealizePalette(buffer);
    ::BitBlt(buffer, 0, 0, width, height, dest, destX, destY, SRCCOPY);

    HBITMAP workBitmap = ::CreateCompatibleBitmap(screen, width, height);
    HBITMAP maskBitmap = ::CreateBitmap(width, height, 1, 1, nullptr);
    HDC work = ::CreateCompatibleDC(screen);
    HGDIOBJ workOldBitmap = ::SelectObject(work, workBitmap);
    HPALETTE workOldPalette = ::SelectPalette(work, palette, kForceBackground);
    ::RealizePalette(work);
    ::SetBkColor(work, ::GetBkColor(source));
    ::SetTextColor(work, ::GetTextColor(source));
    ::BitBlt(work, 0, 0, width, height, source, sourceX, sourceY, SRCCOPY);

    HDC mask = ::CreateCompatibleDC(screen);
    HGDIOBJ maskOldBitmap = ::SelectObject(mask, maskBitmap);
    ::SetBkColor(work, key);
    ::SetTextColor(work, 0xFFFFFF);
    ::BitBlt(mask, 0, 0, width, height, work, 0, 0, SRCCOPY);
    ::SetTextColor(work, 0);
    ::SetBkColor(work, 0xFFFFFF);
    ::BitBlt(work, 0, 0, width, height, mask, 0, 0, 0x220326);
    ::BitBlt(buffer, 0, 0, width, height, mask, 0, 0, SRCAND);
    ::BitBlt(buffer, 0, 0, width, height, work, 0, 0, SRCPAINT);
    ::BitBlt(dest, destX, destY, width, height, buffer, 0, 0, SRCCOPY);

    ::SelectObject(work, workOldBitmap);
    ::DeleteObject(workBitmap);
    ::SelectPalette(work, workOldPalette, kForceBackground);
    ::RealizePalette(work);
    ::DeleteDC(work);
    ::SelectObject(buffer, bufferOldBitmap);
    ::DeleteObject(bufferBitmap);
    ::SelectPalette(buffer, bufferOldPalette, kForceBackground);
    ::RealizePalette(buffer);
    ::DeleteDC(buffer);
    ::SelectObject(mask, maskOldBitmap);
    ::DeleteObject(maskBitmap);
    ::DeleteDC(mask);
    ::ReleaseDC(nullptr, screen);
}

}  // namespace kivbench
