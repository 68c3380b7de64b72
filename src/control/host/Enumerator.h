// A COM enumerator over a snapshot of items (connection points, connections, formats): each item
// handed out carries its own reference, and the enumerator keeps one on every item while it lives.
#pragma once

#include "../../component/Module.h"

#include <ocidl.h>

#include <atomic>
#include <utility>
#include <vector>

namespace kiv::host {

namespace items {

inline void Hold(IUnknown* item) noexcept { if (item) item->AddRef(); }
inline void Drop(IUnknown* item) noexcept { if (item) item->Release(); }
inline void Hold(const CONNECTDATA& item) noexcept { Hold(item.pUnk); }
inline void Drop(const CONNECTDATA& item) noexcept { Drop(item.pUnk); }
// Formats hold nothing: the framework offers none for a target device.
inline void Hold(const FORMATETC&) noexcept {}
inline void Drop(const FORMATETC&) noexcept {}

}  // namespace items

template <class IEnum, class Item>
class Enumerator final : public IEnum {
public:
    // A new enumerator, owned by the caller through `out`.
    static HRESULT Make(std::vector<Item> items, IEnum** out, size_t position = 0) noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        try {
            *out = new Enumerator(std::move(items), position);
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != __uuidof(IEnum)) return E_NOINTERFACE;
        *out = static_cast<IEnum*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        while (given < count && position_ < items_.size()) {
            out[given] = items_[position_++];
            items::Hold(out[given]);
            ++given;
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** out) override { return Make(items_, out, position_); }

private:
    Enumerator(std::vector<Item> items, size_t position) : items_(std::move(items)), position_(position) {
        for (const Item& item : items_) items::Hold(item);
        module::ObjectCreated();
    }
    ~Enumerator() {
        for (const Item& item : items_) items::Drop(item);
        module::ObjectDestroyed();
    }

    std::vector<Item> items_;
    size_t position_;
    std::atomic<ULONG> references_{1};
};

}  // namespace kiv::host
