// Persistence: the control keeps no properties, so there is nothing to load or save. Containers
// still ask for these interfaces to create and store a control; the initialisation does not wait
// for them (it happened when the class object made the control), so InitNew and Load change nothing.
#include "KivCtl.h"

namespace kiv {

STDMETHODIMP KivCtl::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_KivCtl;
    return S_OK;
}

STDMETHODIMP KivCtl::IsDirty() { return S_FALSE; }

STDMETHODIMP KivCtl::Load(LPSTREAM stream) { return stream ? S_OK : E_POINTER; }

STDMETHODIMP KivCtl::Save(LPSTREAM stream, BOOL) { return stream ? S_OK : E_POINTER; }

STDMETHODIMP KivCtl::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}

STDMETHODIMP KivCtl::InitNew() { return S_OK; }

STDMETHODIMP KivCtl::Load(IPropertyBag* bag, IErrorLog*) { return bag ? S_OK : E_POINTER; }

STDMETHODIMP KivCtl::Save(IPropertyBag* bag, BOOL, BOOL) { return bag ? S_OK : E_POINTER; }

}  // namespace kiv
