// The control's one connection point, for its event interface. It lives inside the control and
// counts its references on the control, so the point lasts exactly as long as the control. The
// event interface has no members: the point only keeps the sinks that containers connect.
#pragma once

#include "../../component/ComPtr.h"

#include <ocidl.h>

#include <utility>
#include <vector>

namespace kiv::host {

class EventPoint final : public IConnectionPoint {
public:
    EventPoint(IConnectionPointContainer* container, REFIID events) noexcept
        : container_(container), events_(events) {}
    EventPoint(const EventPoint&) = delete;
    EventPoint& operator=(const EventPoint&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_->Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    const IID& Events() const noexcept { return events_; }
    // The sink of a connection, out of the list and handed to the caller to release when it is
    // ready for the calls back that a release may make; none for an unknown connection.
    ComPtr<IUnknown> Disconnect(DWORD cookie) noexcept;

private:
    IConnectionPointContainer* container_;  // the control; not counted (the point is part of it)
    IID events_;
    std::vector<std::pair<DWORD, ComPtr<IUnknown>>> sinks_;
    DWORD nextCookie_ = 1;
};

}  // namespace kiv::host
