// KivCtl: the control a host places on a form. It owns one registry of surfaces, gives it its own
// device context as the reference for every surface, hands it out as Bitmaps, offers Blit, and keeps
// its extent at 32 x 31 pixels.
#pragma once

#include "../component/ComObject.h"
#include "ControlDC.h"
#include "kiv.h"

#include <memory>

namespace kiv {

class KivCtl final : public ComObject<KivCtl, _KivCtl> {
public:
    static const CLSID& ClassId() noexcept { return CLSID_KivCtl; }

    // The control's size in pixels, whatever the host asks for.
    static constexpr int kWidthPixels = 32;
    static constexpr int kHeightPixels = 31;

    // How a control makes its registry; tests put a failing maker here.
    using RegistryMaker = ComPtr<_KivFactory> (*)();
    static RegistryMaker& MakeRegistry() noexcept;

    KivCtl();

    // The host framework's notifications.
    HRESULT Initialize() noexcept;
    void Resize() noexcept;
    void Terminate() noexcept;

    // The host changed the extent (in twips); the resize handler then puts it back to 32 x 31 pixels.
    void HostSetsExtent(float widthTwips, float heightTwips) noexcept;
    float WidthTwips() const noexcept { return widthTwips_; }
    float HeightTwips() const noexcept { return heightTwips_; }
    HDC OwnDC() const noexcept { return dc_ ? dc_->Get() : nullptr; }

    // _KivCtl
    STDMETHODIMP get_Bitmaps(_KivFactory** Result) override;
    STDMETHODIMP Blit(LONG hDestDC, LONG X, LONG y, LONG nWidth, LONG nHeight, LONG hSrcDC, LONG xSrc, LONG ySrc,
                      LONG dwRop) override;

    // When only the registry's reference to its owner is left, nobody outside can reach the control
    // any more: it terminates, which lets that reference go too.
    void OnReleased(ULONG left) noexcept;

private:
    friend class ComObject<KivCtl, _KivCtl>;
    ~KivCtl() override;

    ComPtr<_KivFactory> registry_;
    std::shared_ptr<ControlDC> dc_;
    float widthTwips_ = 0;
    float heightTwips_ = 0;
    ULONG ownerReferences_ = 0;  // references that the library's own objects hold on the control
    bool terminated_ = false;
};

}  // namespace kiv
