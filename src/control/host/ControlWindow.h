// The control's own child window, for containers that activate it in place with a window: it sits
// on the container's window at the control's size and shows the control's appearance while the
// control is visible (a control invisible at run time has it hidden while the host program runs).
// It takes no input: the mouse goes through it to the container beneath.
#pragma once

#include <windows.h>

#include <memory>

namespace kiv::host {

class HostedControl;

class ControlWindowClass;

class ControlWindow {
public:
    ControlWindow() noexcept = default;
    // A child of `parent` at `position` (in the parent's client coordinates) that `control` paints;
    // empty when the window cannot be made.
    ControlWindow(HWND parent, const RECT& position, bool visible, HostedControl& control) noexcept;
    ControlWindow(ControlWindow&& other) noexcept;
    ControlWindow& operator=(ControlWindow&& other) noexcept;
    ~ControlWindow();

    HWND Get() const noexcept { return window_; }
    explicit operator bool() const noexcept { return window_ != nullptr; }

    void Move(const RECT& position) noexcept;
    // Only the part of the window inside `clip` (in the parent's client coordinates) is shown, as
    // when the container scrolls the control partly out of its view.
    void ClipTo(const RECT& clip) noexcept;
    void Show(bool visible) noexcept;
    void Reset() noexcept;

private:
    // Held while the window lives: the class goes when its last window has gone.
    std::shared_ptr<const ControlWindowClass> class_;
    HWND window_ = nullptr;
};

}  // namespace kiv::host
