#include "Dispatch.h"

#include <oleauto.h>

#include <vector>

namespace kiv::dispatch {
namespace {

// A FUNCDESC of the vtable view, released with its type info.
class FuncDesc {
public:
    FuncDesc(ITypeInfo* info, FUNCDESC* desc) noexcept : info_(info), desc_(desc) {}
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    ~FuncDesc() { if (desc_) info_->ReleaseFuncDesc(desc_); }
    const FUNCDESC* operator->() const noexcept { return desc_; }
    explicit operator bool() const noexcept { return desc_ != nullptr; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_;
};

bool WantsKind(WORD flags, INVOKEKIND kind) noexcept {
    switch (kind) {
    case INVOKE_FUNC: return (flags & DISPATCH_METHOD) != 0;
    case INVOKE_PROPERTYGET: return (flags & DISPATCH_PROPERTYGET) != 0;
    case INVOKE_PROPERTYPUT: return (flags & DISPATCH_PROPERTYPUT) != 0;
    case INVOKE_PROPERTYPUTREF: return (flags & DISPATCH_PROPERTYPUTREF) != 0;
    }
    return false;
}

// The member `id` of the kind that `flags` asks for; a method is preferred to a get when both are asked.
FUNCDESC* FindFunction(ITypeInfo* info, DISPID id, WORD flags) noexcept {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr))) return nullptr;
    WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    FUNCDESC* found = nullptr;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc))) continue;
        if (desc->memid == id && WantsKind(flags, desc->invkind) &&
            (!found || (desc->invkind == INVOKE_FUNC && found->invkind != INVOKE_FUNC))) {
            if (found) info->ReleaseFuncDesc(found);
            found = desc;
        } else {
            info->ReleaseFuncDesc(desc);
        }
    }
    return found;
}

// The automation type that a parameter's TYPEDESC stands for, aliases (OLE_COLOR) resolved.
VARTYPE BaseType(ITypeInfo* info, const TYPEDESC& desc) noexcept {
    if (desc.vt != VT_USERDEFINED) return desc.vt;
    ITypeInfo* ref = nullptr;
    VARTYPE vt = VT_EMPTY;
    if (SUCCEEDED(info->GetRefTypeInfo(desc.hreftype, &ref))) {
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(ref->GetTypeAttr(&attr))) {
            if (attr->typekind == TKIND_ALIAS) vt = BaseType(ref, attr->tdescAlias);
            else if (attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH) vt = VT_DISPATCH;
            ref->ReleaseTypeAttr(attr);
        }
        ref->Release();
    }
    return vt;
}

bool IsMissing(const VARIANT* arg) noexcept {
    return !arg || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND);
}

// Clears a list of VARIANTs when it goes.
struct Temporaries {
    std::vector<VARIANT> values;
    explicit Temporaries(size_t n) : values(n) { for (auto& v : values) ::VariantInit(&v); }
    ~Temporaries() { for (auto& v : values) ::VariantClear(&v); }
};

void* ValueAddress(VARIANT& v) noexcept {
    switch (V_VT(&v)) {
    case VT_I2: return &V_I2(&v);
    case VT_I4: return &V_I4(&v);
    case VT_UI4: return &V_UI4(&v);
    case VT_BOOL: return &V_BOOL(&v);
    case VT_BSTR: return &V_BSTR(&v);
    case VT_R4: return &V_R4(&v);
    case VT_R8: return &V_R8(&v);
    case VT_DISPATCH: return &V_DISPATCH(&v);
    case VT_UNKNOWN: return &V_UNKNOWN(&v);
    default: return &v.lVal;
    }
}

}  // namespace

HRESULT GetIDsOfNames(ITypeInfo* vtable, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
    if (!vtable) return E_UNEXPECTED;
    // The platform's look-up reads the first name whatever the count and follows every pointer that it
    // is given: a call without names, with a null name or without room for the identifiers ends here.
    if (!ids) return E_POINTER;
    if (!names || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        if (!names[i]) return E_INVALIDARG;
    return vtable->GetIDsOfNames(names, count, ids);
}

HRESULT Invoke(ITypeInfo* vtable, void* instance, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception, UINT* argError) noexcept {
    if (!vtable) return E_UNEXPECTED;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if (params->cArgs < params->cNamedArgs || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs)) {
        return E_INVALIDARG;
    }

    FuncDesc func(vtable, FindFunction(vtable, id, flags));
    if (!func) return DISP_E_MEMBERNOTFOUND;

    const bool put = func->invkind == INVOKE_PROPERTYPUT || func->invkind == INVOKE_PROPERTYPUTREF;
    UINT declared = static_cast<UINT>(func->cParams);
    const bool hasRetval =
        declared > 0 && (func->lprgelemdescParam[declared - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
    if (hasRetval) --declared;

    // Which argument the caller gave for each declared parameter (nullptr: none).
    std::vector<VARIANT*> given(declared, nullptr);
    std::vector<UINT> givenAt(declared, 0);
    const UINT named = params->cNamedArgs;
    const UINT positional = params->cArgs - named;
    UINT putValueAt = UINT(-1);
    for (UINT j = 0; j < named; ++j) {
        DISPID which = params->rgdispidNamedArgs[j];
        if (which == DISPID_PROPERTYPUT && put) {
            putValueAt = j;
            continue;
        }
        if (which < 0 || static_cast<UINT>(which) >= declared || given[which]) {
            if (argError) *argError = j;
            return DISP_E_PARAMNOTFOUND;
        }
        given[which] = &params->rgvarg[j];
        givenAt[which] = j;
    }
    UINT positionalTarget = declared;
    if (put) {
        if (declared == 0) return DISP_E_BADPARAMCOUNT;
        positionalTarget = declared - 1;
        if (putValueAt != UINT(-1)) {
            given[declared - 1] = &params->rgvarg[putValueAt];
            givenAt[declared - 1] = putValueAt;
        } else if (positional == declared) {  // a put whose value came positionally
            positionalTarget = declared;
        }
    }
    if (positional > positionalTarget) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < positional; ++i) {
        UINT at = params->cArgs - 1 - i;
        if (given[i]) {
            if (argError) *argError = at;
            return DISP_E_PARAMNOTFOUND;
        }
        given[i] = &params->rgvarg[at];
        givenAt[i] = at;
    }

    // Each argument as a value of its parameter's exact type, passed by reference where declared so.
    Temporaries values(declared);
    std::vector<VARIANT> args(declared);
    for (UINT i = 0; i < declared; ++i) {
        const ELEMDESC& elem = func->lprgelemdescParam[i];
        const bool byRef = elem.tdesc.vt == VT_PTR;
        const VARTYPE type = BaseType(vtable, byRef ? *elem.tdesc.lptdesc : elem.tdesc);
        VARIANT& value = values.values[i];
        HRESULT hr = S_OK;
        if (IsMissing(given[i])) {
            if (!(elem.paramdesc.wParamFlags & PARAMFLAG_FOPT)) {
                if (argError) *argError = given[i] ? givenAt[i] : 0;
                return given[i] ? DISP_E_PARAMNOTFOUND : DISP_E_BADPARAMCOUNT;
            }
            if ((elem.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && elem.paramdesc.pparamdescex) {
                hr = ::VariantChangeType(&value, &elem.paramdesc.pparamdescex->varDefaultValue, 0, type);
            } else {
                VARIANT zero;
                ::VariantInit(&zero);
                V_VT(&zero) = VT_I4;
                V_I4(&zero) = 0;
                hr = ::VariantChangeType(&value, &zero, 0, type);
            }
        } else {
            hr = ::VariantChangeType(&value, given[i], 0, type);
        }
        if (FAILED(hr)) {
            if (argError) *argError = givenAt[i];
            return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
        }
        VARIANT& arg = args[declared - 1 - i];  // the platform takes arguments last to first
        ::VariantInit(&arg);
        if (byRef) {
            V_VT(&arg) = VT_BYREF | type;
            V_BYREF(&arg) = ValueAddress(value);
        } else {
            arg = value;  // a shallow copy: the temporary keeps ownership
        }
    }

    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS exact = {args.empty() ? nullptr : args.data(), put ? &putId : nullptr, declared, put ? 1u : 0u};
    WORD kind = func->invkind == INVOKE_FUNC             ? DISPATCH_METHOD
                : func->invkind == INVOKE_PROPERTYGET    ? DISPATCH_PROPERTYGET
                : func->invkind == INVOKE_PROPERTYPUTREF ? DISPATCH_PROPERTYPUTREF
                                                         : DISPATCH_PROPERTYPUT;
    VARIANT discarded;
    ::VariantInit(&discarded);
    VARIANT* out = result ? result : (hasRetval ? &discarded : nullptr);
    const DISPID memberId = func->memid;
    HRESULT hr = vtable->Invoke(instance, memberId, kind, &exact, out, exception, argError);
    if (out && V_VT(out) == VT_UNKNOWN && V_UNKNOWN(out)) {
        // Script clients cannot call through IUnknown: hand back the object's IDispatch.
        IDispatch* dispatch = nullptr;
        if (SUCCEEDED(V_UNKNOWN(out)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
            ::VariantClear(out);
            V_VT(out) = VT_DISPATCH;
            V_DISPATCH(out) = dispatch;
        }
    }
    ::VariantClear(&discarded);
    return hr;
}

}  // namespace kiv::dispatch
