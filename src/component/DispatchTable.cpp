#include "DispatchTable.h"

#include "ComPtr.h"
#include "Module.h"
#include "TypeDescriptions.h"

#include <oleauto.h>

#include <algorithm>
#include <new>

namespace kiv::dispatch {
namespace {

// The OLE_COLOR alias of the standard OLE types (stdole), by its identifier.
constexpr GUID kOleColor = {0x66504301, 0xBE0F, 0x101A, {0x8B, 0xBB, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};

// The names that GetNames hands out, freed with it.
struct Names {
    BSTR text[kMaxParameters + 2] = {};
    UINT count = 0;
    Names() = default;
    Names(const Names&) = delete;
    Names& operator=(const Names&) = delete;
    ~Names() { for (UINT n = 0; n < count; ++n) ::SysFreeString(text[n]); }
    UINT Length(UINT n) const noexcept { return ::SysStringLen(text[n]); }
};

// The types that a member's parameters and return value may have here: those that a call can pass
// in one VARIANT and that VariantChangeType converts to.
bool Callable(VARTYPE vt) noexcept {
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BOOL: case VT_ERROR:
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

// The automation type of a value that a TYPEDESC describes: an alias resolved to its base type (and
// reported when it is OLE_COLOR), a pointer to an interface that Automation reaches through IDispatch
// (dual, or a dispatch interface) as VT_DISPATCH and to any other interface as VT_UNKNOWN. VT_EMPTY for
// anything else, a pointer to a value among them.
VARTYPE Resolve(ITypeInfo* owner, const TYPEDESC& desc, bool* colour) noexcept {
    const bool pointer = desc.vt == VT_PTR;
    const TYPEDESC& named = pointer ? *desc.lptdesc : desc;
    if (named.vt != VT_USERDEFINED) return pointer ? VARTYPE(VT_EMPTY) : desc.vt;
    ComPtr<ITypeInfo> ref;
    if (FAILED(owner->GetRefTypeInfo(named.hreftype, ref.Put()))) return VT_EMPTY;
    TypeAttr attr(ref.Get());
    if (!attr) return VT_EMPTY;
    switch (attr->typekind) {
    case TKIND_ALIAS:
        if (pointer) return VT_EMPTY;
        if (colour && attr->guid == kOleColor) *colour = true;
        return Resolve(ref.Get(), attr->tdescAlias, colour);
    case TKIND_ENUM: return pointer ? VT_EMPTY : VT_I4;
    case TKIND_DISPATCH: return pointer ? VT_DISPATCH : VT_EMPTY;
    case TKIND_INTERFACE:
        if (!pointer) return VT_EMPTY;
        return (attr->wTypeFlags & TYPEFLAG_FDUAL) ? VT_DISPATCH : VT_UNKNOWN;
    default: return VT_EMPTY;
    }
}

// Automation's names match without regard to case; ASCII is folded here, anything else is left to
// the platform's own look-up.
constexpr wchar_t Fold(wchar_t c) noexcept { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// The folded name's hash (FNV-1a); false when the name holds a character outside ASCII.
bool FoldedHash(const wchar_t* name, std::uint32_t& hash) noexcept {
    std::uint32_t h = 2166136261u;
    for (; *name; ++name) {
        if (*name >= 0x80) return false;
        h = (h ^ static_cast<std::uint32_t>(Fold(*name))) * 16777619u;
    }
    hash = h;
    return true;
}

std::wstring Folded(const wchar_t* text, UINT length) {
    std::wstring folded(text, length);
    for (wchar_t& c : folded) c = Fold(c);
    return folded;
}

bool SameFolded(const wchar_t* name, const std::wstring& folded) noexcept {
    size_t i = 0;
    for (; name[i]; ++i)
        if (i == folded.size() || Fold(name[i]) != folded[i]) return false;
    return i == folded.size();
}

// The value that an omitted optional parameter takes: its declared default, or zero.
bool Omitted(const PARAMDESC& desc, const Parameter& parameter, VARIANT& value) noexcept {
    VARIANT zero;
    ::VariantInit(&zero);
    V_VT(&zero) = VT_I4;
    V_I4(&zero) = 0;
    const VARIANT* from = &zero;
    if ((desc.wParamFlags & PARAMFLAG_FHASDEFAULT) && desc.pparamdescex) from = &desc.pparamdescex->varDefaultValue;
    return SUCCEEDED(ConvertTo(parameter, *from, value));
}

}  // namespace

HRESULT ConvertTo(const Parameter& parameter, const VARIANT& from, VARIANT& out) noexcept {
    // The platform's conversions only read their source, though some headers declare it writable.
    VARIANT* source = const_cast<VARIANT*>(&from);
    if (parameter.colour) {
        // A colour is taken by its bits, as a Long: a script's -1 or &HFF00 (Integers) reaches the member.
        // A value above the Long range that is still a colour (a number from JScript) is taken as it is.
        HRESULT hr = ::VariantChangeType(&out, source, 0, VT_I4);
        if (hr == DISP_E_OVERFLOW) hr = ::VariantChangeType(&out, source, 0, VT_UI4);
        if (SUCCEEDED(hr)) V_VT(&out) = VT_UI4;
        return hr;
    }
    return ::VariantChangeType(&out, source, 0, parameter.type);
}

Table::Table(ITypeInfo* vtable) noexcept : info_(vtable) {
    try {
        described_ = info_ && Describe();
    } catch (const std::bad_alloc&) {
        described_ = false;
    }
}

Table::~Table() {
    // While the process ends no other DLL may be called: the platform's descriptions are left to the
    // process's end. At an unload the module gives back what it holds.
    if (module::ProcessEnding()) return;
    if (info_) info_->Release();
    for (Member& member : members_)
        for (Parameter& parameter : member.parameters)
            if (Owning(V_VT(&parameter.omitted))) ::VariantClear(&parameter.omitted);
}

bool Table::Describe() {
    TypeAttr attr(info_);
    if (!attr) return false;
    const UINT functions = attr->cFuncs;
    members_.reserve(functions);
    for (UINT i = 0; i < functions; ++i) {
        FuncDesc func(info_, i);
        if (!func || func->funckind != FUNC_PUREVIRTUAL || func->elemdescFunc.tdesc.vt != VT_HRESULT) return false;
        Member& member = members_.emplace_back();
        member.id = func->memid;
        member.kind = func->invkind;
        member.vtableOffset = static_cast<ULONG_PTR>(static_cast<USHORT>(func->oVft));
        member.convention = func->callconv;
        UINT declared = static_cast<UINT>(func->cParams);
        const ELEMDESC* params = func->lprgelemdescParam;
        if (declared > 0 && (params[declared - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) {
            const TYPEDESC& out = params[declared - 1].tdesc;  // where the member writes its result
            if (out.vt != VT_PTR) return false;
            member.result = Resolve(info_, *out.lptdesc, nullptr);
            if (!Callable(member.result)) return false;
            --declared;
        }
        if (declared > kMaxParameters) return false;
        member.count = declared;
        for (UINT p = 0; p < declared; ++p) {
            Parameter& parameter = member.parameters[p];
            const ELEMDESC& elem = params[p];
            // A pointer is a parameter by reference unless it is an object's interface pointer.
            parameter.type = Resolve(info_, elem.tdesc, &parameter.colour);
            if (parameter.type == VT_EMPTY && elem.tdesc.vt == VT_PTR) {
                parameter.byRef = true;
                parameter.type = Resolve(info_, *elem.tdesc.lptdesc, &parameter.colour);
            }
            parameter.optional = (elem.paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0;
            if (!Callable(parameter.type)) return false;
            if (parameter.optional && !Omitted(elem.paramdesc, parameter, parameter.omitted)) return false;
        }

        // One identifier per DISPID, kept in order of identifier; GetNames answers by identifier with the
        // first member that has it, so a property's get and put share one name and one list of
        // parameter names.
        auto at = std::lower_bound(identifiers_.begin(), identifiers_.end(), member.id,
                                   [](const Identifier& known, DISPID id) { return known.id < id; });
        if (at == identifiers_.end() || at->id != member.id) {
            at = identifiers_.emplace(at);
            Identifier& identifier = *at;
            identifier.id = member.id;
            Names names;
            if (FAILED(info_->GetNames(member.id, names.text, kMaxParameters + 2, &names.count)) || names.count == 0)
                return false;
            identifier.name.assign(names.text[0], names.Length(0));
            identifier.folded = Folded(names.text[0], names.Length(0));
            for (UINT n = 1; n < names.count; ++n)
                identifier.parameters.push_back(Folded(names.text[n], names.Length(n)));
            if (!FoldedHash(identifier.folded.c_str(), identifier.hash)) identifier.hash = 0;
        }
        member.name = at->name;
        const size_t kind = member.kind == INVOKE_FUNC          ? 0
                            : member.kind == INVOKE_PROPERTYGET ? 1
                            : member.kind == INVOKE_PROPERTYPUT ? 2
                                                                : 3;
        if (at->byKind[kind] >= 0) return false;  // two members of one kind under one identifier
        at->byKind[kind] = static_cast<int>(members_.size() - 1);
    }
    ids_.reserve(identifiers_.size());
    for (const Identifier& identifier : identifiers_) ids_.push_back(identifier.id);
    return true;
}

const Member* Table::Find(DISPID id, WORD flags) const noexcept {
    const auto found = std::lower_bound(ids_.begin(), ids_.end(), id);
    if (found == ids_.end() || *found != id) return nullptr;
    const Identifier* at = &identifiers_[static_cast<size_t>(found - ids_.begin())];
    int index = -1;
    if (flags & DISPATCH_METHOD) index = at->byKind[0];
    if (index < 0 && (flags & DISPATCH_PROPERTYGET)) index = at->byKind[1];
    if (index < 0 && (flags & DISPATCH_PROPERTYPUT)) index = at->byKind[2];
    if (index < 0 && (flags & DISPATCH_PROPERTYPUTREF)) index = at->byKind[3];
    return index < 0 ? nullptr : &members_[static_cast<size_t>(index)];
}

const Table::Identifier* Table::ByName(const wchar_t* name) const noexcept {
    std::uint32_t hash = 0;
    if (!FoldedHash(name, hash)) return nullptr;
    for (const Identifier& known : identifiers_)
        if (known.hash == hash && SameFolded(name, known.folded)) return &known;
    return nullptr;
}

HRESULT Table::IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const noexcept {
    for (UINT i = 0; i < count; ++i)
        for (const wchar_t* c = names[i]; *c; ++c)
            if (*c >= 0x80) return info_->GetIDsOfNames(names, count, ids);  // the platform folds the rest

    const Identifier* member = ByName(names[0]);
    if (!member) {
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = member->id;
    HRESULT status = S_OK;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (size_t p = 0; p < member->parameters.size(); ++p) {
            if (SameFolded(names[i], member->parameters[p])) {
                ids[i] = static_cast<DISPID>(p);
                break;
            }
        }
        if (ids[i] == DISPID_UNKNOWN) status = DISP_E_UNKNOWNNAME;
    }
    return status;
}

}  // namespace kiv::dispatch
