// The runtime's screen metrics: twips per pixel of the screen, horizontally and vertically.
#pragma once

namespace kiv {

struct TwipsPerPixel {
    float x;
    float y;
};

TwipsPerPixel ScreenTwipsPerPixel() noexcept;

}  // namespace kiv
