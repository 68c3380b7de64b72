// The control's events, class information and quick activation: one connection point for the
// class's event interface, the class's type information from the module's type library, and the
// one call in which a form container hands over its site, ambient properties and event sink.
#include "ControlFramework.h"

#include "../../component/Boundary.h"
#include "../../component/Module.h"
#include "Enumerator.h"

#include <cstddef>
#include <utility>

namespace kiv::host {

// EventPoint

STDMETHODIMP EventPoint::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return E_NOINTERFACE;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP EventPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = events_;
    return S_OK;
}

STDMETHODIMP EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP EventPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // The point keeps the sink's event interface, as every connection point does.
    ComPtr<IUnknown> events;
    if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(events.Put()))) || !events) {
        return CONNECT_E_CANNOTCONNECT;
    }
    try {
        sinks_.emplace_back(nextCookie_, std::move(events));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    *cookie = nextCookie_++;
    return S_OK;
}

ComPtr<IUnknown> EventPoint::Disconnect(DWORD cookie) noexcept {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first != cookie) continue;
        ComPtr<IUnknown> gone = std::move(it->second);
        sinks_.erase(it);
        return gone;
    }
    return nullptr;
}

STDMETHODIMP EventPoint::Unadvise(DWORD cookie) {
    // Out of the list before the sink's release, which may call back into the control.
    return Disconnect(cookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

STDMETHODIMP EventPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    std::vector<CONNECTDATA> data;
    try {
        for (const auto& [cookie, sink] : sinks_) data.push_back({sink.Get(), cookie});
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return Enumerator<IEnumConnections, CONNECTDATA>::Make(std::move(data), connections);
}

// IConnectionPointContainer

STDMETHODIMP ControlFramework::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    *points = nullptr;
    try {
        return Enumerator<IEnumConnectionPoints, IConnectionPoint*>::Make({&events_}, points);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP ControlFramework::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (iid != events_.Events()) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

// IProvideClassInfo2

STDMETHODIMP ControlFramework::GetClassInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* library = module::TypeLibrary();
    if (!library) return TYPE_E_CANTLOADLIBRARY;
    return library->GetTypeInfoOfGuid(class_.clsid, info);
}

STDMETHODIMP ControlFramework::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    *guid = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = class_.events;
    return S_OK;
}

// IQuickActivate: what a form container would otherwise do in several calls. The control has no
// properties to bind, so the container's property sink is not connected.

STDMETHODIMP ControlFramework::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (!container || !control) return E_POINTER;
    if (container->cbSize < offsetof(QACONTAINER, colorFore) || control->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    detail::CallReference<IUnknown> hold(outer_);
    SetClientSite(container->pClientSite);
    quickUserMode_ = (container->dwAmbientFlags & QACONTAINER_USERMODE) != 0;
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwEventCookie = 0;
    if (container->pUnkEventSink && !quickEventCookie_ &&
        SUCCEEDED(events_.Advise(container->pUnkEventSink, &control->dwEventCookie)))
        quickEventCookie_ = control->dwEventCookie;
    control->dwMiscStatus = class_.miscStatus;
    GetViewStatus(&control->dwViewStatus);
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;  // the pointer never activates a control that takes no input
    return S_OK;
}

STDMETHODIMP ControlFramework::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }

STDMETHODIMP ControlFramework::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

}  // namespace kiv::host
