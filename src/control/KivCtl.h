// KivCtl: the control a host places on a form. It owns one registry of surfaces, gives it its own
// device context as the reference for every surface, hands it out as Bitmaps, offers Blit, and keeps
// its extent at 32 x 31 pixels.
//
// Towards a control container it is an in-place object that is invisible at run time, shows its
// stored appearance picture only at design time, keeps no properties, raises no events (its event
// interface has no members) and never takes the focus. In place it goes windowless when the
// container can host it so, and otherwise has a child window of its own (ControlWindow.h).
// The OLE side is spread over files by interface group: KivCtlOleObject.cpp (IOleObject,
// IOleControl), KivCtlInPlace.cpp (IOleInPlaceObjectWindowless), KivCtlView.cpp (IViewObject2),
// KivCtlPersist.cpp (IPersistStreamInit, IPersistPropertyBag), KivCtlEvents.cpp
// (IConnectionPointContainer, IProvideClassInfo2).
#pragma once

#include "../component/ClassRegistry.h"
#include "../component/ComObject.h"
#include "ControlDC.h"
#include "ControlWindow.h"
#include "EventPoint.h"
#include "kiv.h"

#include <ocidl.h>
#include <oleidl.h>

#include <memory>

namespace kiv {

class KivCtl;
using KivCtlBase = ComObject<KivCtl, _KivCtl, IOleObject, IOleInPlaceObjectWindowless, IOleControl, IViewObject2,
                             IPersistStreamInit, IPersistPropertyBag, IConnectionPointContainer, IProvideClassInfo2>;

class KivCtl final : public KivCtlBase {
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
    void Resize() noexcept;
    void Terminate() noexcept;

    // The host changed the extent (in twips); the resize handler then puts it back to 32 x 31 pixels.
    void HostSetsExtent(float widthTwips, float heightTwips) noexcept;
    float WidthTwips() const noexcept { return widthTwips_; }
    float HeightTwips() const noexcept { return heightTwips_; }
    HDC OwnDC() const noexcept { return dc_ ? dc_->Get() : nullptr; }

    // IUnknown: the base answers the listed interfaces; the control adds the bases they extend.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;

    // _KivCtl
    STDMETHODIMP get_Bitmaps(_KivFactory** Result) override;
    STDMETHODIMP Blit(LONG hDestDC, LONG X, LONG y, LONG nWidth, LONG nHeight, LONG hSrcDC, LONG xSrc, LONG ySrc,
                      LONG dwRop) override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD which, IMoniker* moniker) override;
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index, HWND parent,
                        LPCRECT position) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* userType) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL enterMode) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    STDMETHODIMP OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    STDMETHODIMP GetDropTarget(IDropTarget** target) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG* message) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID id) override;
    STDMETHODIMP FreezeEvents(BOOL freeze) override;

    // IViewObject, IViewObject2
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                      HDC dc, LPCRECTL bounds, LPCRECTL metafileBounds, BOOL(STDMETHODCALLTYPE* keepDrawing)(ULONG_PTR),
                      ULONG_PTR keepDrawingArgument) override;
    STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device, HDC targetDevice,
                             LOGPALETTE** colours) override;
    STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
    STDMETHODIMP Unfreeze(DWORD freeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag: the control keeps no properties.
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // When only the registry's reference to its owner is left, nobody outside can reach the control
    // any more: it terminates, which lets that reference go too.
    void OnReleased(ULONG left) noexcept;

private:
    friend KivCtlBase;
    ~KivCtl() override;

    // The extent as the container measures it: pixels of the screen in HIMETRIC units.
    SIZEL ExtentHimetric() const noexcept;
    // The position rectangle that the control accepts: the given top-left corner, its own size.
    RECT OwnPosition(const RECT& asked) const noexcept;
    // The container placed the control at `position`: a size other than the control's own goes
    // through the resize handler, and the container hears once where the control really is.
    void Place(const RECT& position) noexcept;
    // In-place activation through `site` (the verb's active site or the client site): windowless
    // when the site can host it so, otherwise in a child window of the site's window.
    HRESULT ActivateInPlace(IOleClientSite* site, LPCRECT position) noexcept;
    // The own window shown in design mode and hidden while the host program runs.
    void ShowForMode() noexcept;
    // The container's ambient UserMode; run mode when the site gives no ambient properties.
    bool UserMode() const noexcept;
    void ViewChanged() noexcept;

    ComPtr<_KivFactory> registry_;
    std::shared_ptr<ControlDC> dc_;
    float widthTwips_ = 0;
    float heightTwips_ = 0;
    ULONG ownerReferences_ = 0;  // references that the library's own objects hold on the control
    bool terminated_ = false;

    // What the container gave the control.
    ComPtr<IOleClientSite> clientSite_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;  // while in-place active
    bool windowless_ = false;              // active without a window, drawn by the container
    ControlWindow window_;                 // active with a window of its own
    ComPtr<IOleAdviseHolder> oleAdvise_;   // made when the first sink arrives
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
    RECT position_ = {};
    bool telling_ = false;  // OnPosRectChange is under way: a nested placement tells nobody
    LONG eventFreezes_ = 0;
    EventPoint events_;
};

}  // namespace kiv
