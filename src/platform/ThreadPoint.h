// A point of which every thread has a value of its own, as module-level data that exist once per
// apartment. It is kept as two plain numbers in slots of the platform's thread-local storage: nothing
// is allocated for a thread, so nothing of the module has to run when a thread ends. The slots go back
// to the platform with the object, at the module's unload.
#pragma once

#include <windows.h>

namespace kiv::platform {

class ThreadPoint {
public:
    ThreadPoint() noexcept : x_(::TlsAlloc()), y_(::TlsAlloc()) {}
    ~ThreadPoint() {
        Free(x_);
        Free(y_);
    }
    ThreadPoint(const ThreadPoint&) = delete;
    ThreadPoint& operator=(const ThreadPoint&) = delete;

    // The calling thread's point; (0, 0) until the thread sets one.
    POINT Get() const noexcept { return {Read(x_), Read(y_)}; }
    void Set(const POINT& point) noexcept {
        Write(x_, point.x);
        Write(y_, point.y);
    }

private:
    // Without a slot (the platform has none left) the point is not kept.
    static LONG Read(DWORD slot) noexcept {
        if (slot == TLS_OUT_OF_INDEXES) return 0;
        return static_cast<LONG>(reinterpret_cast<LONG_PTR>(::TlsGetValue(slot)));
    }
    static void Write(DWORD slot, LONG value) noexcept {
        if (slot != TLS_OUT_OF_INDEXES) ::TlsSetValue(slot, reinterpret_cast<void*>(static_cast<LONG_PTR>(value)));
    }
    static void Free(DWORD slot) noexcept {
        if (slot != TLS_OUT_OF_INDEXES) ::TlsFree(slot);
    }

    DWORD x_;
    DWORD y_;
};

}  // namespace kiv::platform
