// typelib_order: rewrites a type library so that its type descriptions come in a chosen order,
// and chosen types carry TYPEFLAG_FNONEXTENSIBLE.
//
// widl writes the descriptions in the order in which it meets them (referenced interfaces first) and
// refuses `nonextensible` on a dispinterface. ICreateTypeLib2 has neither limit, so the build runs
// widl first and this program afterwards, under Wine.
//
// Usage: typelib_order.exe IN.tlb OUT.tlb NAME1 NAME2 ... [--nonextensible NAME]...
//
// Every type of IN must be named exactly once. Parameters keep their flags and default values, as
// widl wrote them. Names and doc strings are copied
// as the loader answers them, by member id. OUT gets the syskind of this program's own build
// (SYS_WIN32 or SYS_WIN64), so the 32-bit build rewrites the 32-bit library and the 64-bit build
// the 64-bit one. Exit code 0 on success; otherwise a message on stderr and a non-zero code.
//
// What Wine 8's oleaut32 does differently from widl, whatever this program asks for:
// - every dispinterface is laid out with IDispatch's seven slots, and the loader then lists
//   IDispatch's methods (restricted) first among the dispinterface's functions;
// - a record's instance size comes out as 0, and on Win64 an enum's as 8.
// The Kiv library has no records or enums, and its one dispinterface has no members.

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <deque>
#include <exception>
#include <string>
#include <vector>

namespace {

// Owning pointer for COM interfaces; just enough for this program.
template <class T> class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    Ptr(Ptr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ptr& operator=(Ptr&& other) noexcept
    {
        if (this != &other) {
            if (p_) p_->Release();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    ~Ptr() { if (p_) p_->Release(); }
    T** put() { if (p_) { p_->Release(); p_ = nullptr; } return &p_; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
private:
    T* p_ = nullptr;
};

class Bstr {
public:
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(s_); }
    BSTR* put() { SysFreeString(s_); s_ = nullptr; return &s_; }
    BSTR get() const { return s_; }
    bool empty() const { return SysStringLen(s_) == 0; }
private:
    BSTR s_ = nullptr;
};

struct Failure {
    std::string message;
};

std::string utf8(const wchar_t* s)
{
    if (!s || !*s) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    return out;
}

void check(HRESULT hr, const std::string& what)
{
    if (SUCCEEDED(hr)) return;
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw Failure{what + " failed (hr=" + code + ")"};
}

// The descriptions an ITypeInfo lends out, handed back when the holder goes.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo* ti) : ti_(ti) { check(ti->GetTypeAttr(&p_), "GetTypeAttr"); }
    TypeAttr(const TypeAttr&) = delete;
    TypeAttr& operator=(const TypeAttr&) = delete;
    ~TypeAttr() { ti_->ReleaseTypeAttr(p_); }
    const TYPEATTR* operator->() const { return p_; }
    const TYPEATTR& operator*() const { return *p_; }
private:
    ITypeInfo* ti_;
    TYPEATTR* p_ = nullptr;
};

class FuncDesc {
public:
    FuncDesc(ITypeInfo* ti, UINT index) : ti_(ti) { check(ti->GetFuncDesc(index, &p_), "GetFuncDesc"); }
    FuncDesc(const FuncDesc&) = delete;
    FuncDesc& operator=(const FuncDesc&) = delete;
    ~FuncDesc() { ti_->ReleaseFuncDesc(p_); }
    const FUNCDESC* operator->() const { return p_; }
    const FUNCDESC& operator*() const { return *p_; }
private:
    ITypeInfo* ti_;
    FUNCDESC* p_ = nullptr;
};

class VarDesc {
public:
    VarDesc(ITypeInfo* ti, UINT index) : ti_(ti) { check(ti->GetVarDesc(index, &p_), "GetVarDesc"); }
    VarDesc(const VarDesc&) = delete;
    VarDesc& operator=(const VarDesc&) = delete;
    ~VarDesc() { ti_->ReleaseVarDesc(p_); }
    const VARDESC* operator->() const { return p_; }
    const VARDESC& operator*() const { return *p_; }
private:
    ITypeInfo* ti_;
    VARDESC* p_ = nullptr;
};

// Copies custom data entries: get fills a CUSTDATA, set stores one entry. Keeping them makes OUT
// differ from IN only where intended (widl's own entries on the library aside: see below).
template <class Get, class Set> void copy_custdata(Get get, Set set, const std::string& what)
{
    CUSTDATA cd = {};
    if (FAILED(get(&cd))) return;
    for (DWORD i = 0; i < cd.cCustData; ++i) {
        const HRESULT hr = set(cd.prgCustData[i].guid, &cd.prgCustData[i].varValue);
        if (FAILED(hr)) {
            ClearCustData(&cd);
            check(hr, what);
        }
    }
    ClearCustData(&cd);
}

// widl's time stamp and its note "Created by WIDL version ... at <time>" on the library hold the time
// of the build: the library goes without them, so that the same sources make the same library, and the
// same module. Its version entry stays.
constexpr GUID widl_time_stamp = {0xDE77BA63, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}};
constexpr GUID widl_creator_note = {0xDE77BA65, 0x517C, 0x11D1, {0xA2, 0xDA, 0x00, 0x00, 0xF8, 0x77, 0x3C, 0xE9}};

// "Library.Type {GUID}", to tell whether two ITypeInfo describe the same type.
std::string type_identity(ITypeInfo* ti)
{
    Bstr name, lib_name;
    check(ti->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr), "GetDocumentation");
    Ptr<ITypeLib> lib;
    UINT index = 0;
    check(ti->GetContainingTypeLib(lib.put(), &index), "GetContainingTypeLib");
    check(lib->GetDocumentation(-1, lib_name.put(), nullptr, nullptr, nullptr), "GetDocumentation");
    wchar_t guid[40] = {};
    StringFromGUID2(TypeAttr(ti)->guid, guid, 40);
    return utf8(lib_name.get()) + "." + utf8(name.get()) + " " + utf8(guid);
}

// Member ids of all functions along a type's chain of base interfaces (impl type 0, then its
// impl type 0, ...): for a dispinterface, those of IDispatch and IUnknown.
std::vector<MEMBERID> base_memids(ITypeInfo* ti)
{
    std::vector<MEMBERID> ids;
    Ptr<ITypeInfo> base;
    HREFTYPE href = 0;
    if (FAILED(ti->GetRefTypeOfImplType(0, &href)) || FAILED(ti->GetRefTypeInfo(href, base.put())))
        return ids;
    while (base.get()) {
        Ptr<ITypeInfo> next;
        {
            TypeAttr a(base.get());
            for (UINT i = 0; i < a->cFuncs; ++i) ids.push_back(FuncDesc(base.get(), i)->memid);
            if (a->cImplTypes == 0 || FAILED(base->GetRefTypeOfImplType(0, &href)) ||
                FAILED(base->GetRefTypeInfo(href, next.put())))
                break;
        }
        base = std::move(next);
    }
    return ids;
}

struct NewType {
    std::wstring name;
    Ptr<ITypeInfo> src;           // the view copied: for a dual interface its vtable view
    TYPEKIND kind = TKIND_MAX;
    bool nonextensible = false;
    Ptr<ICreateTypeInfo2> out;
    Ptr<ITypeInfo> out_info;      // the same object as `out`, for AddRefTypeInfo
};

class Rewriter {
public:
    explicit Rewriter(ITypeLib* in) : in_(in)
    {
        TLIBATTR* la = nullptr;
        check(in->GetLibAttr(&la), "GetLibAttr");
        in_guid_ = la->guid;
        in->ReleaseTLibAttr(la);
    }

    void run(const wchar_t* out_path, const std::vector<std::wstring>& order,
             const std::vector<std::wstring>& nonextensible);

private:
    void create_library(const wchar_t* out_path);
    void create_type(NewType& t);
    void fill_type(NewType& t);
    void copy_impl_types(NewType& t, const TYPEATTR& a);
    void copy_functions(NewType& t, const TYPEATTR& a);
    void copy_variables(NewType& t, const TYPEATTR& a);

    HREFTYPE map_ref(ITypeInfo* owner, HREFTYPE href, ICreateTypeInfo2* dst);
    TYPEDESC copy_typedesc(const TYPEDESC& td, ITypeInfo* owner, ICreateTypeInfo2* dst,
                           std::deque<TYPEDESC>& store);
    ELEMDESC copy_elemdesc(const ELEMDESC& ed, ITypeInfo* owner, ICreateTypeInfo2* dst,
                           std::deque<TYPEDESC>& store);

    ITypeLib* in_;
    GUID in_guid_ = {};
    Ptr<ICreateTypeLib2> lib_;
    std::vector<NewType> types_;          // in the wanted order
    std::vector<size_t> slot_of_index_;   // IN's type index -> position in types_
};

void Rewriter::run(const wchar_t* out_path, const std::vector<std::wstring>& order,
                   const std::vector<std::wstring>& nonextensible)
{
    // Check the list of names against IN before anything is written.
    const UINT count = in_->GetTypeInfoCount();
    std::vector<std::wstring> in_names(count);
    for (UINT i = 0; i < count; ++i) {
        Bstr name;
        check(in_->GetDocumentation(static_cast<INT>(i), name.put(), nullptr, nullptr, nullptr),
              "GetDocumentation of type " + std::to_string(i));
        in_names[i] = name.get() ? name.get() : L"";
    }
    slot_of_index_.assign(count, SIZE_MAX);
    for (const std::wstring& name : order) {
        const auto it = std::find(in_names.begin(), in_names.end(), name);
        if (it == in_names.end()) throw Failure{"the input library has no type " + utf8(name.c_str())};
        const size_t index = static_cast<size_t>(it - in_names.begin());
        if (slot_of_index_[index] != SIZE_MAX) throw Failure{utf8(name.c_str()) + " is named twice"};
        slot_of_index_[index] = types_.size();
        NewType t;
        t.name = name;
        check(in_->GetTypeInfo(static_cast<UINT>(index), t.src.put()), "GetTypeInfo " + utf8(name.c_str()));
        types_.push_back(std::move(t));
    }
    for (UINT i = 0; i < count; ++i)
        if (slot_of_index_[i] == SIZE_MAX)
            throw Failure{"type " + utf8(in_names[i].c_str()) + " of the input library is not named"};
    for (const std::wstring& name : nonextensible) {
        const auto it = std::find(order.begin(), order.end(), name);
        if (it == order.end()) throw Failure{"--nonextensible " + utf8(name.c_str()) + " is not in the list"};
        types_[static_cast<size_t>(it - order.begin())].nonextensible = true;
    }

    create_library(out_path);
    // All descriptions exist before any is filled in, so that references between them (in either
    // direction of the new order) can point at the new descriptions.
    for (NewType& t : types_) create_type(t);
    for (NewType& t : types_) fill_type(t);
    for (NewType& t : types_) check(t.out->LayOut(), "LayOut " + utf8(t.name.c_str()));
    check(lib_->SaveAllChanges(), "SaveAllChanges");
}

void Rewriter::create_library(const wchar_t* out_path)
{
    const SYSKIND syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    check(CreateTypeLib2(syskind, out_path, lib_.put()), "CreateTypeLib2 " + utf8(out_path));

    TLIBATTR* la = nullptr;
    check(in_->GetLibAttr(&la), "GetLibAttr");
    const TLIBATTR attr = *la;
    in_->ReleaseTLibAttr(la);
    Bstr name, doc, help_file;
    DWORD help_context = 0;
    check(in_->GetDocumentation(-1, name.put(), doc.put(), &help_context, help_file.put()),
          "GetDocumentation of the library");

    check(lib_->SetName(name.get()), "SetName");
    check(lib_->SetGuid(attr.guid), "SetGuid");
    check(lib_->SetLcid(attr.lcid), "SetLcid");
    check(lib_->SetVersion(attr.wMajorVerNum, attr.wMinorVerNum), "SetVersion");
    check(lib_->SetLibFlags(attr.wLibFlags), "SetLibFlags");
    if (!doc.empty()) check(lib_->SetDocString(doc.get()), "SetDocString");
    check(lib_->SetHelpContext(help_context), "SetHelpContext");
    if (!help_file.empty()) check(lib_->SetHelpFileName(help_file.get()), "SetHelpFileName");

    Ptr<ITypeLib2> in2;
    if (SUCCEEDED(in_->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(in2.put()))))
        copy_custdata([&](CUSTDATA* cd) { return in2->GetAllCustData(cd); },
                      [&](REFGUID g, VARIANT* v) {
                          if (IsEqualGUID(g, widl_time_stamp) || IsEqualGUID(g, widl_creator_note)) return S_OK;
                          return lib_->SetCustData(g, v);
                      },
                      "SetCustData of the library");
}

void Rewriter::create_type(NewType& t)
{
    const std::string name = utf8(t.name.c_str());
    {
        TypeAttr a(t.src.get());
        t.kind = a->typekind;
        // A dual interface loads as its dispatch view; the library stores the vtable interface
        // (flagged dual), from which the loader makes the dispatch view again.
        if (a->typekind == TKIND_DISPATCH && (a->wTypeFlags & TYPEFLAG_FDUAL)) {
            HREFTYPE href = 0;
            Ptr<ITypeInfo> vtable;
            check(t.src->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), "vtable view of " + name);
            check(t.src->GetRefTypeInfo(href, vtable.put()), "vtable view of " + name);
            t.src = std::move(vtable);
            t.kind = TKIND_INTERFACE;
        }
    }
    if (t.kind == TKIND_MODULE) throw Failure{name + ": modules are not supported"};

    Ptr<ICreateTypeInfo> created;
    check(lib_->CreateTypeInfo(const_cast<LPOLESTR>(t.name.c_str()), t.kind, created.put()),
          "CreateTypeInfo " + name);
    check(created->QueryInterface(IID_ICreateTypeInfo2, reinterpret_cast<void**>(t.out.put())),
          "ICreateTypeInfo2 of " + name);
    check(created->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(t.out_info.put())),
          "ITypeInfo of " + name);
}

void Rewriter::fill_type(NewType& t)
{
    const std::string name = utf8(t.name.c_str());
    TypeAttr a(t.src.get());
    check(t.out->SetGuid(a->guid), "SetGuid " + name);
    // Flags go in first, so that members are added to a type that is already dual, and once more
    // at the end (see there).
    WORD flags = a->wTypeFlags;
    if (t.nonextensible) flags |= TYPEFLAG_FNONEXTENSIBLE;
    check(t.out->SetTypeFlags(flags), "SetTypeFlags " + name);
    check(t.out->SetVersion(a->wMajorVerNum, a->wMinorVerNum), "SetVersion " + name);

    Bstr doc;
    DWORD help_context = 0;
    check(t.src->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), &help_context, nullptr),
          "GetDocumentation " + name);
    if (!doc.empty()) check(t.out->SetDocString(doc.get()), "SetDocString " + name);
    check(t.out->SetHelpContext(help_context), "SetHelpContext " + name);

    Ptr<ITypeInfo2> src2;
    if (SUCCEEDED(t.src->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(src2.put()))))
        copy_custdata([&](CUSTDATA* cd) { return src2->GetAllCustData(cd); },
                      [&](REFGUID g, VARIANT* v) { return t.out->SetCustData(g, v); },
                      "SetCustData " + name);

    if (a->typekind == TKIND_ALIAS) {
        std::deque<TYPEDESC> store;
        TYPEDESC alias = copy_typedesc(a->tdescAlias, t.src.get(), t.out.get(), store);
        check(t.out->SetTypeDescAlias(&alias), "SetTypeDescAlias " + name);
    }
    copy_impl_types(t, *a);
    copy_functions(t, *a);
    copy_variables(t, *a);
    // Wine's AddImplType marks a coclass that implements a dispinterface TYPEFLAG_FDISPATCHABLE,
    // which widl does not; setting the flags again keeps exactly those of IN. Wine's layout also
    // gives interfaces an alignment of 4 where widl writes the pointer size.
    check(t.out->SetAlignment(a->cbAlignment), "SetAlignment " + name);
    check(t.out->SetTypeFlags(flags), "SetTypeFlags " + name);
}

void Rewriter::copy_impl_types(NewType& t, const TYPEATTR& a)
{
    const std::string name = utf8(t.name.c_str());
    // Wine's SetTypeFlags(TYPEFLAG_FDUAL) only records a reference to stdole2's IDispatch and adds
    // no impl type (measured with Wine 8), so the base is added here like any other. Should an
    // oleaut32 add it on its own, the count below keeps it from being added twice.
    UINT present = 0;
    {
        TypeAttr now(t.out_info.get());
        present = now->cImplTypes;
    }
    for (UINT i = 0; i < a.cImplTypes; ++i) {
        HREFTYPE href = 0;
        INT impl_flags = 0;
        check(t.src->GetRefTypeOfImplType(i, &href), "GetRefTypeOfImplType " + name);
        check(t.src->GetImplTypeFlags(i, &impl_flags), "GetImplTypeFlags " + name);
        const HREFTYPE mapped = map_ref(t.src.get(), href, t.out.get());
        if (i >= present) check(t.out->AddImplType(i, mapped), "AddImplType " + name);
        // Only a coclass's impl types carry flags; Wine refuses the call on an interface
        // (TYPE_E_BADMODULEKIND) even for zero.
        if (impl_flags != 0) check(t.out->SetImplTypeFlags(i, impl_flags), "SetImplTypeFlags " + name);
    }
}

void Rewriter::copy_functions(NewType& t, const TYPEATTR& a)
{
    // A dispinterface written through ICreateTypeInfo (as this program's own output is) reads back
    // under Wine with IUnknown's and IDispatch's methods listed first among its functions; they
    // belong to the base and are not copied.
    const std::vector<MEMBERID> inherited =
        a.typekind == TKIND_DISPATCH ? base_memids(t.src.get()) : std::vector<MEMBERID>();
    std::vector<MEMBERID> seen;
    UINT index = 0;   // position in the new description
    for (UINT i = 0; i < a.cFuncs; ++i) {
        const std::string where = utf8(t.name.c_str()) + " function " + std::to_string(i);
        FuncDesc fd(t.src.get(), i);
        if (std::find(inherited.begin(), inherited.end(), fd->memid) != inherited.end()) continue;

        // Same description with the references re-targeted; default values (PARAMDESCEX) and
        // scodes are read by AddFuncDesc while fd is still alive.
        std::deque<TYPEDESC> store;
        std::vector<ELEMDESC> params(static_cast<size_t>(fd->cParams));
        for (SHORT p = 0; p < fd->cParams; ++p)
            params[static_cast<size_t>(p)] = copy_elemdesc(fd->lprgelemdescParam[p], t.src.get(), t.out.get(), store);
        FUNCDESC copy = *fd;
        copy.lprgelemdescParam = params.empty() ? nullptr : params.data();
        copy.elemdescFunc = copy_elemdesc(fd->elemdescFunc, t.src.get(), t.out.get(), store);
        check(t.out->AddFuncDesc(index, &copy), "AddFuncDesc " + where);

        // Names are only to be had by member id, and the answer comes from the first function with
        // that id (a property's first accessor). Later accessors get their name without parameter
        // names, which reads back the same through GetNames.
        const bool first = std::find(seen.begin(), seen.end(), fd->memid) == seen.end();
        seen.push_back(fd->memid);
        std::vector<BSTR> names(static_cast<size_t>(fd->cParams) + 1, nullptr);
        UINT got = 0;
        if (first) {
            check(t.src->GetNames(fd->memid, names.data(), static_cast<UINT>(names.size()), &got),
                  "GetNames " + where);
        } else {
            check(t.src->GetDocumentation(fd->memid, &names[0], nullptr, nullptr, nullptr),
                  "GetDocumentation " + where);
            got = 1;
        }
        // A property put's last parameter is the assigned value; type libraries keep no name for it
        // and SetFuncAndParamNames refuses one.
        const bool put = (fd->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
        const UINT allowed = static_cast<UINT>(fd->cParams) + (put ? 0u : 1u);
        const HRESULT named = t.out->SetFuncAndParamNames(index, names.data(), std::min(got, allowed));
        for (BSTR s : names) SysFreeString(s);
        check(named, "SetFuncAndParamNames " + where);

        Bstr doc;
        DWORD help_context = 0;
        check(t.src->GetDocumentation(fd->memid, nullptr, doc.put(), &help_context, nullptr),
              "GetDocumentation " + where);
        if (!doc.empty()) check(t.out->SetFuncDocString(index, doc.get()), "SetFuncDocString " + where);
        if (help_context) check(t.out->SetFuncHelpContext(index, help_context), "SetFuncHelpContext " + where);
        ++index;
    }
}

void Rewriter::copy_variables(NewType& t, const TYPEATTR& a)
{
    for (UINT i = 0; i < a.cVars; ++i) {
        const std::string where = utf8(t.name.c_str()) + " variable " + std::to_string(i);
        VarDesc vd(t.src.get(), i);
        std::deque<TYPEDESC> store;
        VARDESC copy = *vd;
        copy.elemdescVar = copy_elemdesc(vd->elemdescVar, t.src.get(), t.out.get(), store);
        check(t.out->AddVarDesc(i, &copy), "AddVarDesc " + where);

        Bstr name, doc;
        DWORD help_context = 0;
        check(t.src->GetDocumentation(vd->memid, name.put(), doc.put(), &help_context, nullptr),
              "GetDocumentation " + where);
        check(t.out->SetVarName(i, name.get()), "SetVarName " + where);
        if (!doc.empty()) check(t.out->SetVarDocString(i, doc.get()), "SetVarDocString " + where);
        if (help_context) check(t.out->SetVarHelpContext(i, help_context), "SetVarHelpContext " + where);
    }
}

// A reference found in IN becomes a reference from `dst`: to the new description when it points
// into IN itself, to the very same type otherwise (stdole2's IDispatch, IPicture, OLE_COLOR).
HREFTYPE Rewriter::map_ref(ITypeInfo* owner, HREFTYPE href, ICreateTypeInfo2* dst)
{
    Ptr<ITypeInfo> ref;
    check(owner->GetRefTypeInfo(href, ref.put()), "GetRefTypeInfo");
    Ptr<ITypeLib> lib;
    UINT index = 0;
    check(ref->GetContainingTypeLib(lib.put(), &index), "GetContainingTypeLib");
    TLIBATTR* la = nullptr;
    check(lib->GetLibAttr(&la), "GetLibAttr of a referenced library");
    const bool own = IsEqualGUID(la->guid, in_guid_) != FALSE;
    lib->ReleaseTLibAttr(la);

    ITypeInfo* target = ref.get();
    if (own) {
        if (index >= slot_of_index_.size()) throw Failure{"reference to an unknown type index"};
        target = types_[slot_of_index_[index]].out_info.get();
    }
    HREFTYPE mapped = 0;
    check(dst->AddRefTypeInfo(target, &mapped), "AddRefTypeInfo");

    // Make sure the reference reads back as the type it was made for: Wine's AddRefTypeInfo gave
    // stdole2's records without a GUID (GUID, DISPPARAMS, EXCEPINFO) one and the same reference.
    Ptr<ITypeInfo> dst_info, back;
    check(dst->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(dst_info.put())), "ITypeInfo");
    check(dst_info->GetRefTypeInfo(mapped, back.put()), "GetRefTypeInfo of a new reference");
    const std::string wanted = type_identity(target), got = type_identity(back.get());
    if (wanted != got) throw Failure{"a reference to " + wanted + " reads back as " + got};
    return mapped;
}

// Deep copy of a TYPEDESC chain (VT_PTR, VT_SAFEARRAY down to a base type or VT_USERDEFINED);
// the copied nodes live in `store` until the description has been handed to ICreateTypeInfo.
TYPEDESC Rewriter::copy_typedesc(const TYPEDESC& td, ITypeInfo* owner, ICreateTypeInfo2* dst,
                                 std::deque<TYPEDESC>& store)
{
    TYPEDESC out = td;
    switch (td.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        store.push_back(copy_typedesc(*td.lptdesc, owner, dst, store));
        out.lptdesc = &store.back();   // deque elements stay where they are
        break;
    case VT_CARRAY:
        throw Failure{"fixed-size arrays (VT_CARRAY) are not supported"};
    case VT_USERDEFINED:
        out.hreftype = map_ref(owner, td.hreftype, dst);
        break;
    default:
        break;
    }
    return out;
}

ELEMDESC Rewriter::copy_elemdesc(const ELEMDESC& ed, ITypeInfo* owner, ICreateTypeInfo2* dst,
                                 std::deque<TYPEDESC>& store)
{
    ELEMDESC out = ed;   // PARAMDESC (flags, default value) unchanged
    out.tdesc = copy_typedesc(ed.tdesc, owner, dst, store);
    return out;
}

int usage()
{
    std::fputs("usage: typelib_order IN.tlb OUT.tlb NAME1 NAME2 ... [--nonextensible NAME]...\n", stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) return usage();
    if (lstrcmpiW(argv[1], argv[2]) == 0) {
        std::fputs("typelib_order: IN and OUT must be different files\n", stderr);
        return 2;
    }
    std::vector<std::wstring> order, nonextensible;
    for (int i = 3; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--nonextensible") {
            if (++i >= argc) return usage();
            nonextensible.push_back(argv[i]);
        } else {
            order.push_back(arg);
        }
    }

    try {
        Ptr<ITypeLib> in;
        check(LoadTypeLibEx(argv[1], REGKIND_NONE, in.put()), "LoadTypeLibEx " + utf8(argv[1]));
        Rewriter(in.get()).run(argv[2], order, nonextensible);
    } catch (const Failure& f) {
        std::fprintf(stderr, "typelib_order: %s\n", f.message.c_str());
        DeleteFileW(argv[2]);   // no stale or half-written library for the build to pick up
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "typelib_order: %s\n", e.what());
        DeleteFileW(argv[2]);
        return 1;
    }
    return 0;
}
