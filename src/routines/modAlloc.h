// modAlloc: the drawing routines that the surface's members share.
#pragma once

#include "../component/ComPtr.h"
#include "../platform/ThreadPoint.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string_view>

namespace kiv::modAlloc {

// An RGB value, or -1 for a colour whose translation failed (handed to the platform unchanged).
using RgbValue = long;

// OLE colour to RGB value through the platform's translation; -1 when it refuses the colour.
RgbValue TranslateColor(OLE_COLOR color, const HPALETTE& palette = nullptr);

// A halftone palette for the screen, or nullptr when none can be made.
HPALETTE CreateBufferPalette();

// Fills exactly the width by height pixels from (x, y) with the colour. Nothing is filled for a dc of
// 0 or when no brush can be made; the result says whether the fill was asked of the platform.
bool FillArea(HDC dc, long x, long y, long width, long height, OLE_COLOR color) noexcept;

// A one-pixel outline on the outermost pixels of the width by height area, filled inside unless the
// fill colour is -1. The current position ends at the top-right corner. Nothing more is drawn once
// the brush or the pen cannot be made.
void DrawFrame(HDC dc, long x, long y, long width, long height, const OLE_COLOR& outline, const OLE_COLOR& fill);

// A font from the surface's settings; nullptr when the platform makes none. The caller deletes it.
HFONT MakeFont(std::wstring_view faceName, long height, VARIANT_BOOL bold, VARIANT_BOOL italic,
               VARIANT_BOOL underline);

// A picture that owns a copy of the rectangle's pixels (and of the system palette on a 256-entry
// palette device); none when the platform makes none.
ComPtr<IPictureDisp> SnapshotPicture(HDC source, long left, long top, long width, long height);

// A picture that owns the bitmap and the palette; when none is made, both are deleted here.
ComPtr<IPictureDisp> BitmapToPicture(HBITMAP bitmap, HPALETTE palette);

// The line routines' point record, where MoveToEx puts the position that it replaces: one per
// apartment, and nothing reads it.
platform::ThreadPoint& ReplacedPosition() noexcept;

}  // namespace kiv::modAlloc
