#include "KivFactory.h"

#include "../component/Boundary.h"
#include "../component/OwnObject.h"
#include "../platform/Strings.h"
#include "../surface/KivBitmap.h"

#include <utility>

namespace kiv {

KivFactory::KivFactory() { ClearList(); }

KivFactory::~KivFactory() { ClearList(); }

void KivFactory::ClearList() noexcept {
    // The list is empty before any surface goes: a surface's teardown may reach back here.
    std::unique_ptr<BitmapEntry[]> old = std::move(entries_);
    count_ = 0;
    old.reset();
}

void KivFactory::Resize(short count) {
    std::unique_ptr<BitmapEntry[]> fresh = count > 0 ? std::make_unique<BitmapEntry[]>(count) : nullptr;
    const short kept = count < count_ ? count : count_;
    for (short i = 0; i < kept; ++i) fresh[i] = std::move(entries_[i]);
    std::unique_ptr<BitmapEntry[]> old = std::exchange(entries_, std::move(fresh));
    count_ = count;
    old.reset();  // what was not kept goes last, with the list already consistent
}

void KivFactory::RemoveAt(short index) noexcept {
    try {
        if (count_ == 1) {
            ClearList();
            return;
        }
        // Later entries move down one place; the removed surface's reference goes with the list's
        // last slot when the list shrinks.
        ComPtr<_KivBitmap> removed = std::move(entries_[index - 1].Bitmap);
        for (short i = index; i < count_; ++i) entries_[i - 1] = std::move(entries_[i]);
        Resize(static_cast<short>(count_ - 1));
        removed.Reset();
    } catch (...) {
    }
}

STDMETHODIMP KivFactory::Clear() {
    return Boundary(this, ErrorMode::Continue, [&] { ClearList(); });
}

STDMETHODIMP KivFactory::Create(BSTR* Name, short* Width, short* Height, _KivBitmap** Result) {
    if (!Name || !Width || !Height) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, Result, [&] {
        // A surface that cannot make its buffer palette raises while it is made: no surface then.
        ComPtr<_KivBitmap> bitmap;
        Attempt([&] { bitmap = ComPtr<_KivBitmap>::Adopt(new KivBitmap()); });
        if (!bitmap) return;
        KivBitmap& surface = Own<KivBitmap>(bitmap.Get());
        surface.SetName(View(*Name));
        surface.SetFactory(this);
        if (surface.Allocate(*Width, *Height) == VARIANT_FALSE) return;  // the surface goes with `bitmap`
        // A full list takes no more: the count never wraps.
        if (count_ == kMaxEntries) return;
        Resize(static_cast<short>(count_ + 1));
        entries_[count_ - 1].Bitmap = bitmap;
        entries_[count_ - 1].Name.assign(View(*Name));
        *Result = bitmap.Detach();
    });
}

STDMETHODIMP KivFactory::get_Count(short* Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = count_; });
}

STDMETHODIMP KivFactory::get_ItemInt(short* Index, _KivBitmap** Result) {
    if (!Index) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, Result, [&] {
        if (*Index < 1 || *Index > count_) return;
        *Result = ComPtr<_KivBitmap>(entries_[*Index - 1].Bitmap).Detach();
    });
}

STDMETHODIMP KivFactory::get_ItemTxt(BSTR* Name, _KivBitmap** Result) {
    if (!Name) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, Result, [&] {
        // Exact ordinal comparison, code unit by code unit; a null name equals an empty one.
        const std::wstring_view wanted = View(*Name);
        const short count = count_;
        for (short i = 0; i < count; ++i) {
            if (entries_[i].Name == wanted) {
                *Result = ComPtr<_KivBitmap>(entries_[i].Bitmap).Detach();
                return;
            }
        }
    });
}

STDMETHODIMP KivFactory::RemoveInt(short* Index) {
    if (!Index) return E_POINTER;
    return Boundary(this, ErrorMode::Continue, [&] {
        if (*Index > count_ || *Index < 1) return;
        RemoveAt(*Index);
    });
}

ComPtr<_KivCtl> KivFactory::Owner() const { return owner_; }

void KivFactory::SetOwner(_KivCtl* owner) { owner_ = owner; }

void KivFactory::RemoveBitmap(ComPtr<_KivBitmap>& bitmap) noexcept {
    const short count = count_;
    for (short i = 1; i <= count && i <= count_; ++i) {
        if (SameObject(entries_[i - 1].Bitmap.Get(), bitmap.Get())) {
            RemoveAt(i);
            bitmap = nullptr;
            return;
        }
    }
}

void KivFactory::OnReleased(ULONG left) noexcept {
    if (left == static_cast<ULONG>(count_)) CollectIfUnreachable();
}

void KivFactory::CollectIfUnreachable() noexcept {
    if (owner_ || count_ == 0 || collecting_) return;
    // Every listed surface holds one reference to the registry; any other reference is a holder
    // from outside (a client, an unlisted surface, a call in progress).
    if (References() != static_cast<ULONG>(count_)) return;
    for (short i = 0; i < count_; ++i) {
        // Every listed surface was made by this registry as a KivBitmap.
        if (static_cast<KivBitmap*>(entries_[i].Bitmap.Get())->References() != 1) return;
    }
    collecting_ = true;
    ComPtr<_KivFactory> hold(this);  // the registry outlives its own clearing
    ClearList();
    collecting_ = false;
}

long KivFactory::ReferenceDC() const { return referenceDC_; }

void KivFactory::SetReferenceDC(long handle, std::shared_ptr<void> keepAlive) {
    referenceDC_ = handle;
    referenceDCOwner_ = std::move(keepAlive);
}

}  // namespace kiv
