// A container site of the tests' own: a client site with an in-place site on `window` (none: its
// GetWindow fails), windowless-capable when `offersWindowless` is set, and with ambient properties
// when `userMode` is set. It counts what the control tells it and may call back into the control.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleidl.h>

#include "kiv.h"

#include <functional>
#include <optional>
#include <vector>

namespace kivtest {

class FakeSite final : public IOleClientSite, public IOleInPlaceSiteWindowless, public IDispatch {
public:
    HWND window = nullptr;
    bool offersWindowless = false;
    HRESULT canWindowless = S_OK;  // CanWindowlessActivate's answer
    std::optional<bool> userMode;  // none: the site offers no ambient properties at all
    RECT windowContext = {0, 0, 100, 100};
    int canActivate = 0;
    int activated = 0;    // OnInPlaceActivate
    int activatedEx = 0;  // OnInPlaceActivateEx
    DWORD activatedExFlags = 0xFFFFFFFF;
    int uiActivated = 0;
    int deactivated = 0;
    std::vector<RECT> positions;                  // every OnPosRectChange, in order
    std::function<void(const RECT&)> onPosition;  // called from inside OnPosRectChange

    ULONG References() const { return references_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }  // lives as long as the test

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* out) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override;
    STDMETHODIMP OnInPlaceActivate() override;
    STDMETHODIMP OnUIActivate() override;
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT position) override;

    // IOleInPlaceSiteEx
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override;
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override { return OnInPlaceDeactivate(); }
    STDMETHODIMP RequestUIActivate() override { return S_FALSE; }

    // IOleInPlaceSiteWindowless: nothing of the container's window is lent out.
    STDMETHODIMP CanWindowlessActivate() override { return canWindowless; }
    STDMETHODIMP GetCapture() override { return S_FALSE; }
    STDMETHODIMP SetCapture(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetFocus() override { return S_FALSE; }
    STDMETHODIMP SetFocus(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetDC(LPCRECT, DWORD, HDC* dc) override;
    STDMETHODIMP ReleaseDC(HDC) override { return E_NOTIMPL; }
    STDMETHODIMP InvalidateRect(LPCRECT, BOOL) override { return S_OK; }
    STDMETHODIMP InvalidateRgn(HRGN, BOOL) override { return S_OK; }
    STDMETHODIMP ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    STDMETHODIMP AdjustRect(LPRECT) override { return S_OK; }
    STDMETHODIMP OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) override;

    // IDispatch: the ambient properties; only UserMode is known.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

private:
    ULONG references_ = 1;
};

// An event sink that answers for the interfaces it is given.
class FakeEventSink final : public IDispatch {
public:
    explicit FakeEventSink(IID events) : events_(events) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != events_) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        ++events;
        return S_OK;
    }
    ULONG References() const { return references_; }
    int events = 0;

private:
    IID events_;
    ULONG references_ = 1;
};

// A sink of each kind that a container connects to the control: advise sink (of the view, the data
// and the OLE object) and event sink. It counts what it hears, and `released` runs when the control
// lets go of it (only the test's own reference is left).
class FakeAdviseSink final : public IAdviseSink, public IDispatch {
public:
    int viewChanges = 0, dataChanges = 0, dataGiven = 0, saves = 0, closes = 0;
    std::function<void()> released;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IAdviseSink) *out = static_cast<IAdviseSink*>(this);
        else if (iid == IID_IDispatch || iid == DIID___KivCtl) *out = static_cast<IDispatch*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        if (--references_ == 1 && released) released();
        return references_;
    }
    STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM* data) override {
        ++dataChanges;
        dataGiven += data && data->tymed != TYMED_NULL;
    }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override { ++viewChanges; }
    STDMETHODIMP_(void) OnRename(IMoniker*) override {}
    STDMETHODIMP_(void) OnSave() override { ++saves; }
    STDMETHODIMP_(void) OnClose() override { ++closes; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return S_OK;
    }
    ULONG References() const { return references_; }

private:
    ULONG references_ = 1;
};

}  // namespace kivtest
