// A counted reference to a COM object.
#pragma once

#include <unknwn.h>

#include <utility>

namespace kiv {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(T* p) noexcept : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& other) noexcept { return *this = ComPtr(other); }
    ComPtr& operator=(ComPtr&& other) noexcept {
        // Take the new reference before letting the old one go: releasing may end the object that
        // holds this very reference.
        T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
        if (old) old->Release();
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept { Reset(); return *this; }

    // Adopts a reference that the caller already counted.
    static ComPtr Adopt(T* p) noexcept { ComPtr out; out.p_ = p; return out; }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Hands the reference over to the caller (an out parameter).
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    T** Put() noexcept { Reset(); return &p_; }

    void Reset() noexcept {
        if (T* old = std::exchange(p_, nullptr)) old->Release();
    }

    template <class U>
    ComPtr<U> As(REFIID iid) const noexcept {
        ComPtr<U> out;
        if (p_) p_->QueryInterface(iid, reinterpret_cast<void**>(out.Put()));
        return out;
    }

private:
    T* p_ = nullptr;
};

// True when the two references reach the same object (identity through IUnknown).
template <class A, class B>
bool SameObject(A* a, B* b) noexcept {
    if (!a || !b) return static_cast<void*>(a) == static_cast<void*>(b);
    IUnknown* ua = nullptr;
    IUnknown* ub = nullptr;
    a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ua));
    b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ub));
    bool same = ua && ua == ub;
    if (ua) ua->Release();
    if (ub) ub->Release();
    return same;
}

}  // namespace kiv
