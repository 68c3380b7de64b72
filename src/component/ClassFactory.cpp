#include "ClassFactory.h"

#include "../control/KivCtl.h"
#include "Module.h"

#include <atomic>

namespace kiv {
namespace {

class ControlFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // A static object, but a host that holds it may call CreateInstance at any later time: every
    // reference handed out keeps the module loaded like a lock (DllCanUnloadNow), and the count
    // goes back to the module's own one reference.
    STDMETHODIMP_(ULONG) AddRef() override {
        module::LockServer(true);
        return static_cast<ULONG>(++references_);
    }
    STDMETHODIMP_(ULONG) Release() override {
        module::LockServer(false);
        return static_cast<ULONG>(--references_);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        ComPtr<KivCtl> control;
        try {
            control = MakeObject<KivCtl>();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        // A control whose initialisation failed (its registry could not be made) is not handed
        // out: the creation fails with the initialisation's status, and the error object keeps the
        // number and description, which is how every container learns of a control that could not
        // start (CoCreateInstance, and a container's "cannot create control" with the description).
        // The control itself goes at once; its termination has nothing to do.
        HRESULT status = control->Initialize();
        if (FAILED(status)) return status;
        control->Resize();  // the host's first sizing of a new control
        return control->QueryInterface(iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        module::LockServer(lock != FALSE);
        return S_OK;
    }

private:
    std::atomic<long> references_{1};  // the module's own
};

}  // namespace

IClassFactory* ControlClassObject() noexcept {
    static ControlFactory factory;
    return &factory;
}

}  // namespace kiv
