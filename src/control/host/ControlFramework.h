// The host framework of a control: everything that a control container asks of an ActiveX control,
// so that the control itself only answers its own notifications (resize, terminate), draws its own
// appearance, and reads the device context and the extent that the framework keeps for it.
//
// A control composes one ControlFramework and asks it first in its QueryInterface. The framework's
// interfaces have no identity or reference count of their own: they are the control's, through
// `outer`.
// Towards a container the framework is an in-place object that never takes the focus or becomes
// UI-active, windowless where the site can host it so and otherwise in a child window of its own
// (ControlWindow.h); a document's embedded object that stores itself in a storage, a stream or a
// buffer; a data object that renders the control's picture as metafiles; and a control that form
// containers set up in one call. The methods are spread over files by interface group:
// ControlFramework.cpp (IOleObject, IOleControl), ControlInPlace.cpp (IOleInPlaceObjectWindowless),
// ControlView.cpp (IViewObjectEx, IDataObject), ControlPersist.cpp (the persistence interfaces),
// ControlEvents.cpp (connection points, class information, IQuickActivate), ControlSafety.cpp
// (IObjectSafety).
#pragma once

#include "../../component/ComPtr.h"
#include "ControlDC.h"
#include "ControlWindow.h"
#include "EventPoint.h"

#include <objsafe.h>
#include <ocidl.h>
#include <oleidl.h>

#include <memory>
#include <optional>

namespace kiv::host {

// What the framework needs to know of the control class that it serves.
struct ControlClass {
    CLSID clsid;
    IID events;             // the class's default source interface
    DWORD miscStatus;       // for the content aspect, as registration records it
    DWORD viewStatus;       // VIEWSTATUS flags of the control's appearance where it draws it
    const wchar_t* userType;
};

// The control that the framework hosts, as the framework calls it: its notifications and its
// appearance.
class HostedControl {
public:
    // The host changed the extent; the control may set it again through
    // ControlFramework::SetWidth/SetHeight.
    virtual void Resize() noexcept = 0;
    // The container closed the control: its end as the container sees it.
    virtual void Terminate() noexcept = 0;
    // The control's appearance over `bounds` of `dc`. The framework asks for it only where the control
    // is visible: never at run time for a control that is invisible at run time.
    virtual void Paint(HDC dc, const RECT& bounds) noexcept = 0;

protected:
    ~HostedControl() = default;
};

class ControlFramework final : public IOleObject,
                               public IOleInPlaceObjectWindowless,
                               public IOleControl,
                               public IViewObjectEx,
                               public IDataObject,
                               public IQuickActivate,
                               public IPersistStreamInit,
                               public IPersistStream,
                               public IPersistStorage,
                               public IPersistMemory,
                               public IPersistPropertyBag,
                               public IConnectionPointContainer,
                               public IProvideClassInfo2,
                               public IObjectSafety {
public:
    ControlFramework(IUnknown* outer, HostedControl& control, const ControlClass& description);
    ControlFramework(const ControlFramework&) = delete;
    ControlFramework& operator=(const ControlFramework&) = delete;
    ~ControlFramework();

    // The framework's interfaces and the ones that they extend, for the control's QueryInterface:
    // true, with a counted reference in `out`, when the framework answers `iid`.
    bool Find(REFIID iid, void** out) noexcept;

    // What the control reads and writes of its framework.
    const std::shared_ptr<ControlDC>& DeviceContext() const noexcept { return dc_; }
    float Width() const noexcept { return widthTwips_; }  // the extent, in twips
    float Height() const noexcept { return heightTwips_; }
    void SetWidth(float twips) noexcept { widthTwips_ = twips; }
    void SetHeight(float twips) noexcept { heightTwips_ = twips; }
    // The host changes the extent (in twips): the control's resize notification follows.
    void HostSetsExtent(float widthTwips, float heightTwips) noexcept;

    // IUnknown: the control's.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return outer_->QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

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

    // IViewObject, IViewObject2, IViewObjectEx
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
    STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
    STDMETHODIMP GetViewStatus(DWORD* status) override;
    STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint, DWORD* hit) override;
    STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint, DWORD* hit) override;
    STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetDevice,
                                  DVEXTENTINFO* info, LPSIZEL size) override;

    // IDataObject
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* canonical) override;
    STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advises) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    STDMETHODIMP SetContentExtent(LPSIZEL size) override;
    STDMETHODIMP GetContentExtent(LPSIZEL size) override;

    // IPersist and the persistence interfaces: streams, storages, buffers and property bags.
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew(IStorage* storage) override;
    STDMETHODIMP Load(IStorage* storage) override;
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* storage) override;
    STDMETHODIMP HandsOffStorage() override;
    STDMETHODIMP Load(LPVOID memory, ULONG size) override;
    STDMETHODIMP Save(LPVOID memory, BOOL clearDirty, ULONG size) override;
    STDMETHODIMP GetSizeMax(ULONG* size) override;
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
    STDMETHODIMP Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IObjectSafety
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

private:
    // The states of a storage object, as its container leads it through them.
    enum class StorageState { Uninitialized, Normal, NoScribble, HandsOffFromNormal, HandsOffAfterSave };

    // The extent as the container measures it: pixels of the screen in HIMETRIC units.
    SIZEL ExtentHimetric() const noexcept;
    SIZE ExtentPixels() const noexcept;
    // Conversions of the container's units: HIMETRIC to twips, twips to whole pixels of the screen.
    static float HimetricToTwips(LONG himetric) noexcept;
    static SIZE TwipsToPixels(float widthTwips, float heightTwips) noexcept;
    // The control's stored extent, given back to it as a host's change of the extent.
    void Restore(const SIZEL& himetric) noexcept;
    // The position rectangle that the control accepts: the given top-left corner, its own size.
    RECT OwnPosition(const RECT& asked) const noexcept;
    // The container placed the control at `position`: a size other than the control's own goes
    // through the resize notification, and the container hears once where the control really is.
    void Place(const RECT& position) noexcept;
    // In-place activation through `site` (the verb's active site or the client site): windowless
    // when the site can host it so, otherwise in a child window of the site's window.
    HRESULT ActivateInPlace(IOleClientSite* site, LPCRECT position) noexcept;
    // The container's ambient UserMode: what quick activation gave, else the site's ambient
    // properties; run mode when the site gives none.
    bool UserMode() const noexcept;
    // Whether the control shows at all now: a control invisible at run time shows at design time only.
    bool Visible() const noexcept;
    // The own window shown while the control is visible and hidden otherwise.
    void ShowForMode() noexcept;
    // The picture changed: the view's and the data's sinks hear of it.
    void ViewChanged() noexcept;
    // The view's sink hears that the picture changed, as far as it asked to.
    void TellViewSink() noexcept;
    // The control's picture at its extent as a metafile of the asked format, in `medium`.
    HRESULT Render(const FORMATETC& format, STGMEDIUM& medium);

    IUnknown* outer_;  // the control; not counted (the framework is part of it)
    HostedControl& control_;
    ControlClass class_;
    std::shared_ptr<ControlDC> dc_;
    float widthTwips_ = 0;
    float heightTwips_ = 0;

    // What the container gave the control.
    ComPtr<IOleClientSite> clientSite_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;  // while in-place active
    bool windowless_ = false;              // active without a window, drawn by the container
    ControlWindow window_;                 // active with a window of its own
    ComPtr<IOleAdviseHolder> oleAdvise_;   // made when the first sink arrives
    ComPtr<IDataAdviseHolder> dataAdvise_;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
    RECT position_ = {};
    bool reportingPosition_ = false;     // OnPosRectChange is under way: a nested placement tells nobody
    std::optional<bool> quickUserMode_;  // UserMode as quick activation gave it, until it changes
    DWORD quickEventCookie_ = 0;         // the connection that quick activation made
    // How far the container led the storage calls. No storage is kept: each call reads or writes the
    // one that it is passed.
    StorageState storageState_ = StorageState::Uninitialized;
    DWORD safetyEnabled_ = 0;  // the INTERFACESAFE options that a container turned on
    EventPoint events_;
};

}  // namespace kiv::host
