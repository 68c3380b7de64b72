// The control's events and class information: one connection point for the event interface
// __KivCtl (which has no members, so nothing is ever raised through it) and the class's type
// information from the module's type library.
#include "Enumerator.h"
#include "EventPoint.h"
#include "KivCtl.h"

namespace kiv {

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

STDMETHODIMP EventPoint::Unadvise(DWORD cookie) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
        if (it->first != cookie) continue;
        // Out of the list first: the sink's release may call back into the control.
        ComPtr<IUnknown> gone = std::move(it->second);
        sinks_.erase(it);
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
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

STDMETHODIMP KivCtl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    *points = nullptr;
    try {
        return Enumerator<IEnumConnectionPoints, IConnectionPoint*>::Make({&events_}, points);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP KivCtl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (iid != events_.Events()) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

// IProvideClassInfo2

STDMETHODIMP KivCtl::GetClassInfo(ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* library = module::TypeLibrary();
    if (!library) return TYPE_E_CANTLOADLIBRARY;
    return library->GetTypeInfoOfGuid(CLSID_KivCtl, info);
}

STDMETHODIMP KivCtl::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    *guid = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = DIID___KivCtl;
    return S_OK;
}

}  // namespace kiv
