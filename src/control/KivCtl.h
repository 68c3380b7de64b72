// KivCtl: the control a host places on a form. It owns one registry of surfaces, gives it its own
// device context as the reference for every surface, hands it out as Bitmaps, offers Blit, and keeps
// its extent at 32 x 31 pixels.
//
// Everything that a container asks of a control is its host framework's (host/ControlFramework.h): the
// control answers the framework's notifications (initialise, resize, terminate), paints its stored
// appearance picture, and reads the device context and the extent that the framework keeps for it.
// Registration makes it invisible at run time, so the framework shows the picture at design time
// only.
#pragma once

#include "../component/ClassRegistry.h"
#include "../component/ComObject.h"
#include "host/ControlFramework.h"
#include "kiv.h"

namespace kiv {

class KivCtl;
using KivCtlBase = ComObject<KivCtl, _KivCtl>;

class KivCtl final : public KivCtlBase, private host::HostedControl {
public:
    static const CLSID& ClassId() noexcept { return CLSID_KivCtl; }

    // The control's size in pixels, whatever the host asks for: the size of its appearance picture.
    static constexpr int kWidthPixels = 32;
    static constexpr int kHeightPixels = 31;

    // The control's misc status for its content aspect, as registration records it.
    static constexpr DWORD kMiscStatus = registration::kMiscStatus;

    // How a control makes its registry; tests put a failing maker here.
    using RegistryMaker = ComPtr<_KivFactory> (*)();
    static RegistryMaker& MakeRegistry() noexcept;

    KivCtl();

    // The host framework's notifications.
    HRESULT Initialize() noexcept;
    void Resize() noexcept override;
    void Terminate() noexcept override;

    // The host changed the extent (in twips); the resize handler then puts it back to 32 x 31 pixels.
    void HostSetsExtent(float widthTwips, float heightTwips) noexcept {
        framework_.HostSetsExtent(widthTwips, heightTwips);
    }
    float WidthTwips() const noexcept { return framework_.Width(); }
    float HeightTwips() const noexcept { return framework_.Height(); }
    HDC OwnDC() const noexcept { return framework_.DeviceContext() ? framework_.DeviceContext()->Get() : nullptr; }

    // IUnknown: the base answers _KivCtl, the framework the container's interfaces.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;

    // _KivCtl
    STDMETHODIMP get_Bitmaps(_KivFactory** Result) override;
    STDMETHODIMP Blit(LONG hDestDC, LONG X, LONG y, LONG nWidth, LONG nHeight, LONG hSrcDC, LONG xSrc, LONG ySrc,
                      LONG dwRop) override;

    // When only the registry's reference to its owner is left, nobody outside can reach the control
    // any more: it terminates, which lets that reference go too.
    void OnReleased(ULONG left) noexcept;

private:
    friend KivCtlBase;
    ~KivCtl() override;

    // The appearance: the stored picture over the bounds the framework gives.
    void Paint(HDC dc, const RECT& bounds) noexcept override;

    host::ControlFramework framework_;
    ComPtr<_KivFactory> registry_;
    ULONG ownerReferences_ = 0;  // references that the library's own objects hold on the control
    bool terminated_ = false;
};

}  // namespace kiv
