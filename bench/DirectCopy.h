// The transparent copy's GDI sequence written directly against the platform, step for step as the
// library's surface does it: the baseline that the library's own copy is measured against.
#pragma once

#include <windows.h>
#include <olectl.h>

namespace kivbench {

void DirectTransparentCopy(HDC dest, int destX, int destY, int width, int height, HDC source, int sourceX,
                           int sourceY, OLE_COLOR transparentColor, HPALETTE palette);

}  // namespace kivbench
