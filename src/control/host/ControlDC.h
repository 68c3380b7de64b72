// The control's own device context: a memory context in the screen's colour format (a 1 x 1 bitmap
// of the screen's format is selected in), so that surfaces made compatible with it are colour
// surfaces. It needs no window and no display, and lives as long as anything that refers to it.
#pragma once

#include "../../platform/Handles.h"

namespace kiv::host {

class ControlDC {
public:
    ControlDC();
    ControlDC(const ControlDC&) = delete;
    ControlDC& operator=(const ControlDC&) = delete;
    ~ControlDC();

    HDC Get() const noexcept { return dc_.Get(); }

private:
    platform::MemoryDC dc_;
    platform::Bitmap bitmap_;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace kiv::host
