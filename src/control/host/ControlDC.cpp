#include "ControlDC.h"

namespace kiv::host {

ControlDC::ControlDC() {
    platform::ScreenDC screen;
    dc_ = platform::MemoryDC(platform::CreateCompatibleDC(screen.Get()));
    bitmap_ = platform::Bitmap(platform::CreateCompatibleBitmap(screen.Get(), 1, 1));
    if (dc_ && bitmap_) previous_ = platform::SelectObject(dc_.Get(), bitmap_.Get());
}

ControlDC::~ControlDC() {
    try {
        if (previous_) platform::SelectObject(dc_.Get(), previous_);
    } catch (...) {
    }
    // then the bitmap, then the context (members go in reverse order)
}

}  // namespace kiv::host
