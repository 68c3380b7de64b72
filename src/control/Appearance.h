// The control's stored appearance picture (a bitmap resource of the module): what a container shows
// for the control at design time.
#pragma once

#include <windows.h>

namespace kiv::appearance {

struct Picture {
    const BITMAPINFO* info = nullptr;  // header and colour table, as the resource holds them
    const void* bits = nullptr;
    int width = 0;
    int height = 0;
    explicit operator bool() const noexcept { return info && bits; }
};

// The picture in the module that carries this code; empty when the module holds none.
Picture Find() noexcept;

// Paints the picture stretched over `bounds` of `dc`; false when there is no picture to paint.
// Nothing is selected into the context, and its stretching mode is given back.
bool Paint(HDC dc, const RECT& bounds) noexcept;

}  // namespace kiv::appearance
