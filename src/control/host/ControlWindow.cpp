#include "ControlWindow.h"

#include "../../component/Module.h"
#include "ControlFramework.h"

#include <memory>
#include <type_traits>
#include <utility>

namespace kiv::host {

namespace {

constexpr wchar_t kClassName[] = L"KivCtlWindow";

// BeginPaint and EndPaint as one pair.
class PaintScope {
public:
    explicit PaintScope(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { ::EndPaint(window_, &paint_); }
    HDC Dc() const noexcept { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_ = {};
    HDC dc_;
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE:  // the control that paints the window, for as long as the window lives
        ::SetWindowLongPtrW(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        return ::DefWindowProcW(window, message, wParam, lParam);
    case WM_PAINT: {
        // Only ever shown while the control is visible, so painting means its appearance.
        PaintScope paint(window);
        RECT client = {};
        ::GetClientRect(window, &client);
        auto* control = reinterpret_cast<HostedControl*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (paint.Dc() && control) control->Paint(paint.Dc(), client);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;  // the appearance covers every pixel
    case WM_NCHITTEST:
        return HTTRANSPARENT;  // no mouse input of its own: the container beneath handles it
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

// The window class, registered for the module while any of its windows lives.
class ControlWindowClass {
public:
    ControlWindowClass() noexcept {
        WNDCLASSEXW description = {};
        description.cbSize = sizeof(description);
        description.lpfnWndProc = &WindowProcedure;
        description.hInstance = module::Handle();
        description.lpszClassName = kClassName;
        atom_ = ::RegisterClassExW(&description);
    }
    ControlWindowClass(const ControlWindowClass&) = delete;
    ControlWindowClass& operator=(const ControlWindowClass&) = delete;
    ~ControlWindowClass() {
        if (atom_) ::UnregisterClassW(kClassName, module::Handle());
    }
    explicit operator bool() const noexcept { return atom_ != 0; }

    // The registration that the windows share; made again after the last one went.
    static std::shared_ptr<const ControlWindowClass> Acquire() noexcept {
        // Controls of several apartments share the process's class. The platform's lock cannot fail
        // and needs no destruction.
        static SRWLOCK guard = SRWLOCK_INIT;
        static std::weak_ptr<const ControlWindowClass> shared;
        struct Lock {
            Lock() noexcept { ::AcquireSRWLockExclusive(&guard); }
            ~Lock() { ::ReleaseSRWLockExclusive(&guard); }
        } lock;
        std::shared_ptr<const ControlWindowClass> held = shared.lock();
        if (held) return held;
        try {
            held = std::make_shared<const ControlWindowClass>();
        } catch (...) {
            return nullptr;
        }
        if (!*held) return nullptr;
        shared = held;
        return held;
    }

private:
    ATOM atom_ = 0;
};

ControlWindow::ControlWindow(HWND parent, const RECT& position, bool visible, HostedControl& control) noexcept
    : class_(ControlWindowClass::Acquire()) {
    if (!class_) return;
    const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (visible ? WS_VISIBLE : 0);
    window_ = ::CreateWindowExW(0, kClassName, L"", style, position.left, position.top, position.right - position.left,
                                position.bottom - position.top, parent, nullptr, module::Handle(), &control);
    if (!window_) class_.reset();
}

ControlWindow::ControlWindow(ControlWindow&& other) noexcept
    : class_(std::move(other.class_)), window_(std::exchange(other.window_, nullptr)) {}

ControlWindow& ControlWindow::operator=(ControlWindow&& other) noexcept {
    if (this != &other) {
        Reset();
        class_ = std::move(other.class_);
        window_ = std::exchange(other.window_, nullptr);
    }
    return *this;
}

ControlWindow::~ControlWindow() { Reset(); }

void ControlWindow::Reset() noexcept {
    // A window that went with its parent before the control left in-place activity is not there
    // to destroy any more.
    if (HWND window = std::exchange(window_, nullptr); window && ::IsWindow(window)) ::DestroyWindow(window);
    class_.reset();  // the class after its window
}

void ControlWindow::Move(const RECT& position) noexcept {
    if (!window_) return;
    ::SetWindowPos(window_, nullptr, position.left, position.top, position.right - position.left,
                   position.bottom - position.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void ControlWindow::ClipTo(const RECT& clip) noexcept {
    if (!window_) return;
    RECT place = {};
    ::GetWindowRect(window_, &place);
    ::MapWindowPoints(nullptr, ::GetParent(window_), reinterpret_cast<POINT*>(&place), 2);
    RECT visible = {};
    ::IntersectRect(&visible, &place, &clip);
    if (::EqualRect(&visible, &place)) {
        ::SetWindowRgn(window_, nullptr, TRUE);  // all of it
        return;
    }
    ::OffsetRect(&visible, -place.left, -place.top);  // a window region is in window coordinates
    std::unique_ptr<std::remove_pointer_t<HRGN>, decltype(&::DeleteObject)> region(::CreateRectRgnIndirect(&visible),
                                                                                     &::DeleteObject);
    // The window owns its region once it is set.
    if (region && ::SetWindowRgn(window_, region.get(), TRUE)) region.release();
}

void ControlWindow::Show(bool visible) noexcept {
    if (window_) ::ShowWindow(window_, visible ? SW_SHOWNA : SW_HIDE);
}

}  // namespace kiv::host
