#include "Dispatch.h"

#include <oleauto.h>

#include <cstring>

namespace kiv::dispatch {
namespace {

bool IsMissing(const VARIANT* arg) noexcept {
    return !arg || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND);
}

// The arguments of one call in their parameters' exact types, in storage of fixed size; what they
// own goes with them.
struct Values {
    VARIANT value[kMaxParameters];
    UINT used = 0;
    Values() noexcept = default;
    Values(const Values&) = delete;
    Values& operator=(const Values&) = delete;
    ~Values() {
        for (UINT i = 0; i < used; ++i)
            if (Owning(V_VT(&value[i]))) ::VariantClear(&value[i]);
    }
};

// `arg` as a value of `parameter`'s type in `out` (empty on entry). An argument that already has the
// type, or is a reference to one, is copied without asking the platform.
HRESULT Convert(const VARIANT& arg, const Parameter& parameter, VARIANT& out) noexcept {
    const VARIANT* from = &arg;
    // A script engine's variables, which it passes by reference, are aligned for 4 bytes on x86 rather
    // than for a VARIANT's 8: the referenced one is read as bytes into storage of its own. The copy
    // only lends what the variable owns, and is only read.
    VARIANT referenced;
    if (V_VT(from) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(from)) {
        std::memcpy(&referenced, V_VARIANTREF(from), sizeof referenced);
        from = &referenced;
    }
    const VARTYPE vt = V_VT(from);
    if (!parameter.colour && (vt & ~VT_BYREF) == parameter.type) {
        const bool byRef = (vt & VT_BYREF) != 0;
        switch (parameter.type) {
        case VT_I2:
            if (byRef && !V_I2REF(from)) break;
            V_VT(&out) = VT_I2;
            V_I2(&out) = byRef ? *V_I2REF(from) : V_I2(from);
            return S_OK;
        case VT_I4:
            if (byRef && !V_I4REF(from)) break;
            V_VT(&out) = VT_I4;
            V_I4(&out) = byRef ? *V_I4REF(from) : V_I4(from);
            return S_OK;
        case VT_BOOL:
            if (byRef && !V_BOOLREF(from)) break;
            V_VT(&out) = VT_BOOL;
            V_BOOL(&out) = byRef ? *V_BOOLREF(from) : V_BOOL(from);
            return S_OK;
        default: break;
        }
    }
    return ConvertTo(parameter, *from, out);
}

// Which argument the caller gave for each declared parameter of `member` (nullptr: none) and where
// it stood in the caller's list: named ones by position, a put's value by DISPID_PROPERTYPUT or as
// the last positional argument, the rest in order.
struct Arguments {
    const VARIANT* given[kMaxParameters] = {};
    UINT at[kMaxParameters] = {};
};

HRESULT Match(const Member& member, const DISPPARAMS& params, Arguments& arguments, UINT* argError) noexcept {
    const VARIANT** given = arguments.given;
    UINT* givenAt = arguments.at;
    const bool put = member.kind == INVOKE_PROPERTYPUT || member.kind == INVOKE_PROPERTYPUTREF;
    const UINT declared = member.count;
    const UINT named = params.cNamedArgs;
    const UINT positional = params.cArgs - named;
    UINT putValueAt = UINT(-1);
    for (UINT j = 0; j < named; ++j) {
        const DISPID which = params.rgdispidNamedArgs[j];
        if (which == DISPID_PROPERTYPUT && put) {
            putValueAt = j;
            continue;
        }
        if (which < 0 || static_cast<UINT>(which) >= declared || given[which]) {
            if (argError) *argError = j;
            return DISP_E_PARAMNOTFOUND;
        }
        given[which] = &params.rgvarg[j];
        givenAt[which] = j;
    }
    UINT positionalTarget = declared;
    if (put) {
        if (declared == 0) return DISP_E_BADPARAMCOUNT;
        positionalTarget = declared - 1;
        if (putValueAt != UINT(-1)) {
            given[declared - 1] = &params.rgvarg[putValueAt];
            givenAt[declared - 1] = putValueAt;
        } else if (positional == declared) {  // a put whose value came positionally
            positionalTarget = declared;
        }
    }
    if (positional > positionalTarget) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < positional; ++i) {
        const UINT at = params.cArgs - 1 - i;
        if (given[i]) {
            if (argError) *argError = at;
            return DISP_E_PARAMNOTFOUND;
        }
        given[i] = &params.rgvarg[at];
        givenAt[i] = at;
    }
    return S_OK;
}

// A failing member's error object, as IDispatch::Invoke reports it: the status as the exception's code,
// with the error object's texts.
void TakeException(HRESULT status, EXCEPINFO* exception) noexcept {
    if (!exception) return;
    exception->scode = status;
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) != S_OK || !info) return;
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
    info->GetHelpFile(&exception->bstrHelpFile);
    info->GetHelpContext(&exception->dwHelpContext);
    info->Release();
}

}  // namespace

HRESULT GetIDsOfNames(const Table& table, LPOLESTR* names, UINT count, DISPID* ids) noexcept {
    if (!table.Described()) return E_UNEXPECTED;
    // A call without names, with a null name or without room for the identifiers ends here.
    if (!ids) return E_POINTER;
    if (!names || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        if (!names[i]) return E_INVALIDARG;
    return table.IdsOfNames(names, count, ids);
}

HRESULT Invoke(const Table& table, void* instance, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* exception, UINT* argError) noexcept {
    if (!table.Described()) return E_UNEXPECTED;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if (params->cArgs < params->cNamedArgs || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs)) {
        return E_INVALIDARG;
    }

    const Member* member = table.Find(id, flags);
    if (!member) return DISP_E_MEMBERNOTFOUND;

    Arguments arguments;
    if (HRESULT matched = Match(*member, *params, arguments, argError); FAILED(matched)) return matched;
    const VARIANT* const* given = arguments.given;
    const UINT* givenAt = arguments.at;
    const UINT declared = member->count;

    // Each argument as a value of its parameter's exact type, passed by reference where declared so;
    // the return value last, into storage of its own.
    Values values;
    VARIANT references[kMaxParameters + 1];
    VARIANTARG* pass[kMaxParameters + 1];
    VARTYPE types[kMaxParameters + 1];
    for (UINT i = 0; i < declared; ++i) {
        const Parameter& parameter = member->parameters[i];
        VARIANT& value = values.value[i];
        V_VT(&value) = VT_EMPTY;  // the library's own temporaries: no call into the platform for them
        values.used = i + 1;
        HRESULT hr = S_OK;
        if (IsMissing(given[i])) {
            if (!parameter.optional) {
                // Marked missing (a script's `s.DrawCircle , 15, 6`) is an argument that may not be
                // left out, which script engines report as such; not given at all is too few.
                if (argError) *argError = given[i] ? givenAt[i] : 0;
                return given[i] ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
            }
            if (Owning(parameter.type)) hr = ::VariantCopy(&value, const_cast<VARIANT*>(&parameter.omitted));
            else value = parameter.omitted;
        } else {
            hr = Convert(*given[i], parameter, value);
        }
        if (FAILED(hr)) {
            if (argError) *argError = givenAt[i];
            return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
        }
        if (parameter.byRef) {
            V_VT(&references[i]) = VT_BYREF | parameter.type;
            V_BYREF(&references[i]) = &value.lVal;  // every scalar, string and object starts there
            pass[i] = &references[i];
            types[i] = VT_BYREF | parameter.type;
        } else {
            pass[i] = &value;
            types[i] = parameter.type;
        }
    }
    VARIANT returned;
    V_VT(&returned) = VT_EMPTY;
    UINT count = declared;
    if (member->result != VT_EMPTY) {
        V_VT(&returned) = member->result;
        V_I8(&returned) = 0;
        V_VT(&references[count]) = VT_BYREF | member->result;
        V_BYREF(&references[count]) = &returned.lVal;
        pass[count] = &references[count];
        types[count] = VT_BYREF | member->result;
        ++count;
    }

    if (result) ::VariantInit(result);
    VARIANT status;
    V_VT(&status) = VT_EMPTY;
    const HRESULT called = ::DispCallFunc(instance, member->vtableOffset, member->convention, VT_ERROR, count, types,
                                          pass, &status);
    if (FAILED(called)) {
        ::VariantClear(&returned);
        return called;
    }
    if (FAILED(V_ERROR(&status))) {
        ::VariantClear(&returned);  // the member left it empty; nothing escapes a failure
        TakeException(V_ERROR(&status), exception);
        return DISP_E_EXCEPTION;
    }
    if (V_VT(&returned) == VT_UNKNOWN && V_UNKNOWN(&returned)) {
        // Script clients cannot call through IUnknown: hand back the object's IDispatch.
        IDispatch* dispatch = nullptr;
        if (SUCCEEDED(V_UNKNOWN(&returned)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
            ::VariantClear(&returned);
            V_VT(&returned) = VT_DISPATCH;
            V_DISPATCH(&returned) = dispatch;
        }
    }
    if (result) *result = returned;  // the result takes what the return value owns
    else if (Owning(V_VT(&returned))) ::VariantClear(&returned);
    return S_OK;
}

}  // namespace kiv::dispatch
