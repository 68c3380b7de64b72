// KivFactory: the registry of a control's surfaces, a 1-based list of named entries.
#pragma once

#include "../component/ComObject.h"
#include "kiv.h"

#include <memory>
#include <string>

namespace kiv {

class KivFactory final : public ComObject<KivFactory, _KivFactory> {
public:
    static const CLSID& ClassId() noexcept { return CLSID_KivFactory; }

    // The most entries a list holds: the count is a 16-bit signed integer.
    static constexpr short kMaxEntries = 32767;

    KivFactory();

    // _KivFactory
    STDMETHODIMP Clear() override;
    STDMETHODIMP Create(BSTR* Name, short* Width, short* Height, _KivBitmap** Result) override;
    STDMETHODIMP get_Count(short* Result) override;
    STDMETHODIMP get_ItemInt(short* Index, _KivBitmap** Result) override;
    STDMETHODIMP get_ItemTxt(BSTR* Name, _KivBitmap** Result) override;
    STDMETHODIMP RemoveInt(short* Index) override;

    // Internal members, for the control that owns the registry.
    ComPtr<_KivCtl> Owner() const;
    void SetOwner(_KivCtl* owner);
    // Removes the entry that holds exactly this surface and clears the caller's reference; nothing
    // changes when no entry holds it.
    void RemoveBitmap(ComPtr<_KivBitmap>& bitmap) noexcept;
    long ReferenceDC() const;
    // The handle, and the owner of the device context behind it: the registry keeps that context
    // alive for as long as it may still hand the handle to the platform.
    void SetReferenceDC(long handle, std::shared_ptr<void> keepAlive = nullptr);

    // A registry without an owner whose only holders are the surfaces it lists, each held by nothing
    // but the list, can no longer be reached: it lets the list go, which ends them all. Checked when
    // a reference to the registry or to a listed surface goes.
    void CollectIfUnreachable() noexcept;
    void OnReleased(ULONG left) noexcept;

private:
    friend class ComObject<KivFactory, _KivFactory>;
    ~KivFactory() override;

    struct BitmapEntry {
        ComPtr<_KivBitmap> Bitmap;
        std::wstring Name;
    };

    void ClearList() noexcept;
    void RemoveAt(short index) noexcept;  // 1-based, within 1..count
    void Resize(short count);             // exactly count slots, entries kept

    short count_ = 0;
    std::unique_ptr<BitmapEntry[]> entries_;  // exactly count_ long; none while empty
    long referenceDC_ = 0;
    std::shared_ptr<void> referenceDCOwner_;
    ComPtr<_KivCtl> owner_;
    bool collecting_ = false;
};

}  // namespace kiv
