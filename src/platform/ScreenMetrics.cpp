#include "ScreenMetrics.h"

#include <windows.h>

namespace kiv {

TwipsPerPixel ScreenTwipsPerPixel() noexcept {
    // A twip is 1/1440 inch; at 96 pixels per inch a pixel is 15 twips.
    int dpiX = 96;
    int dpiY = 96;
    if (HDC screen = ::GetDC(nullptr)) {
        dpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
        dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
        ::ReleaseDC(nullptr, screen);
    }
    if (dpiX <= 0) dpiX = 96;
    if (dpiY <= 0) dpiY = 96;
    return {1440.0f / static_cast<float>(dpiX), 1440.0f / static_cast<float>(dpiY)};
}

}  // namespace kiv
