// The type library as the built module carries it: library attributes, the seven descriptions in
// their order, every member of the three dual interfaces (identifier, kind, parameters, passing,
// vtable slot), the classes' interfaces, and late binding by name and by identifier reaching the
// right member of a real object.
#include "TestSupport.h"

#include <oleauto.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

using namespace kivtest;

namespace {

constexpr UINT kDispatchSlots = 7;  // IUnknown's three and IDispatch's four
constexpr UINT kSlot = sizeof(void*);

// ---- reading the library -------------------------------------------------------------------

struct Bstr {
    BSTR s = nullptr;
    ~Bstr() { ::SysFreeString(s); }
    std::wstring Str() const { return s ? std::wstring(s, ::SysStringLen(s)) : std::wstring(); }
};

class Attr {
public:
    explicit Attr(ITypeInfo* info) : info_(info) { EXPECT_EQ(info->GetTypeAttr(&attr_), S_OK); }
    ~Attr() { if (attr_) info_->ReleaseTypeAttr(attr_); }
    const TYPEATTR* operator->() const { return attr_; }

private:
    ITypeInfo* info_;
    TYPEATTR* attr_ = nullptr;
};

class Func {
public:
    Func(ITypeInfo* info, UINT index) : info_(info) { EXPECT_EQ(info->GetFuncDesc(index, &desc_), S_OK); }
    ~Func() { if (desc_) info_->ReleaseFuncDesc(desc_); }
    const FUNCDESC* operator->() const { return desc_; }
    explicit operator bool() const { return desc_ != nullptr; }

private:
    ITypeInfo* info_;
    FUNCDESC* desc_ = nullptr;
};

std::wstring NameOf(ITypeInfo* info) {
    Bstr name;
    info->GetDocumentation(MEMBERID_NIL, &name.s, nullptr, nullptr, nullptr);
    return name.Str();
}

// A TYPEDESC as text: "I2", "BSTR*", "_KivBitmap**", "OLE_COLOR*".
std::wstring TypeText(ITypeInfo* owner, const TYPEDESC& desc) {
    switch (desc.vt) {
    case VT_PTR: return TypeText(owner, *desc.lptdesc) + L"*";
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> ref;
        if (FAILED(owner->GetRefTypeInfo(desc.hreftype, ref.Put()))) return L"?";
        return NameOf(ref.Get());
    }
    case VT_I2: return L"I2";
    case VT_I4: return L"I4";
    case VT_BSTR: return L"BSTR";
    case VT_BOOL: return L"BOOL";
    case VT_HRESULT: return L"HRESULT";
    case VT_VOID: return L"VOID";
    case VT_VARIANT: return L"VARIANT";
    default: return L"VT" + std::to_wstring(desc.vt);
    }
}

// The vtable view of a dual interface (its dispatch view is what the library hands out by GUID).
ComPtr<ITypeInfo> VtableView(ITypeInfo* dispatch) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    if (SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))) {
        dispatch->GetRefTypeInfo(ref, vtable.Put());
    }
    return vtable;
}

// ---- what the library must say ---------------------------------------------------------------

constexpr USHORT In = PARAMFLAG_FIN;
constexpr USHORT Ref = PARAMFLAG_FIN | PARAMFLAG_FOUT;
constexpr USHORT Opt = PARAMFLAG_FOPT;
constexpr USHORT Def = PARAMFLAG_FHASDEFAULT;
constexpr USHORT Retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

struct Param {
    const wchar_t* name;
    const wchar_t* type;
    USHORT flags;
};

struct Member {
    const wchar_t* name;
    INVOKEKIND kind;
    MEMBERID id;
    std::vector<Param> params;
    const wchar_t* result;  // the retval parameter's type; nullptr: none
};

struct Interface {
    const wchar_t* name;
    const IID* iid;
    std::vector<Member> members;
};

constexpr INVOKEKIND Get = INVOKE_PROPERTYGET;
constexpr INVOKEKIND Let = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND Method = INVOKE_FUNC;

const Interface& KivCtlInterface() {
    static const Interface published{L"_KivCtl", &IID__KivCtl, {
        {L"Bitmaps", Get, 0x68030000, {}, L"_KivFactory**"},
        {L"Blit", Method, 0x60030004,
         {{L"hDestDC", L"I4", In}, {L"X", L"I4", In}, {L"y", L"I4", In}, {L"nWidth", L"I4", In},
          {L"nHeight", L"I4", In}, {L"hSrcDC", L"I4", In}, {L"xSrc", L"I4", In}, {L"ySrc", L"I4", In},
          {L"dwRop", L"I4", In}},
         nullptr},
    }};
    return published;
}

const Interface& KivFactoryInterface() {
    static const Interface published{L"_KivFactory", &IID__KivFactory, {
        {L"Clear", Method, 0x60030007, {}, nullptr},
        {L"Create", Method, 0x60030008,
         {{L"Name", L"BSTR*", Ref}, {L"Width", L"I2*", Ref}, {L"Height", L"I2*", Ref}}, L"_KivBitmap**"},
        {L"Count", Get, 0x68030004, {}, L"I2*"},
        {L"ItemInt", Get, 0x68030003, {{L"Index", L"I2*", Ref}}, L"_KivBitmap**"},
        {L"ItemTxt", Get, 0x68030002, {{L"Name", L"BSTR*", Ref}}, L"_KivBitmap**"},
        {L"RemoveInt", Method, 0x60030009, {{L"Index", L"I2*", Ref}}, nullptr},
    }};
    return published;
}

const Interface& KivBitmapInterface() {
    static const Interface published{L"_KivBitmap", &IID__KivBitmap, {
        {L"Picture", Get, 0x6803000C, {}, L"IPicture**"},
        {L"FontName", Get, 0x6803000B, {}, L"BSTR*"},
        {L"FontName", Let, 0x6803000B, {{L"Value", L"BSTR*", Ref}}, nullptr},
        {L"FontSize", Get, 0x6803000A, {}, L"I2*"},
        {L"FontSize", Let, 0x6803000A, {{L"Value", L"I2*", Ref}}, nullptr},
        {L"FontBold", Get, 0x68030009, {}, L"BOOL*"},
        {L"FontBold", Let, 0x68030009, {{L"Value", L"BOOL*", Ref}}, nullptr},
        {L"FontItalic", Get, 0x68030008, {}, L"BOOL*"},
        {L"FontItalic", Let, 0x68030008, {{L"Value", L"BOOL*", Ref}}, nullptr},
        {L"FontUnderline", Get, 0x68030007, {}, L"BOOL*"},
        {L"FontUnderline", Let, 0x68030007, {{L"Value", L"BOOL*", Ref}}, nullptr},
        {L"Width", Get, 0x68030006, {}, L"I2*"},
        {L"Height", Get, 0x68030005, {}, L"I2*"},
        {L"hDC", Get, 0x68030004, {}, L"I4*"},
        {L"hBMP", Get, 0x68030003, {}, L"I4*"},
        {L"ForeColor", Get, 0x68030002, {}, L"I4*"},
        {L"BackColor", Get, 0x68030001, {}, L"I4*"},
        {L"ForeColor", Let, 0x68030002, {{L"NewColor", L"I4", In}}, nullptr},
        {L"BackColor", Let, 0x68030001, {{L"NewColor", L"I4", In}}, nullptr},
        {L"TransparentColor", Let, 0x68030000, {{L"Color", L"I4*", Ref}}, nullptr},
        {L"TransparentColor", Get, 0x68030000, {}, L"I4*"},
        {L"Copy", Method, 0x60030012,
         {{L"TargetDC", L"I4*", Ref}, {L"Left", L"I2*", Ref}, {L"Top", L"I2*", Ref},
          {L"Transparent", L"BOOL", In | Opt}},
         nullptr},
        {L"Cls", Method, 0x60030013, {}, nullptr},
        {L"DrawBox", Method, 0x60030014,
         {{L"Left", L"I2*", Ref}, {L"Top", L"I2*", Ref}, {L"Width", L"I2*", Ref}, {L"Height", L"I2*", Ref},
          {L"Color", L"I4*", Ref | Opt}},
         nullptr},
        {L"DrawElipse", Method, 0x60030015,
         {{L"Left", L"I2*", Ref}, {L"Top", L"I2*", Ref}, {L"Right", L"I2*", Ref}, {L"Bottom", L"I2*", Ref}},
         nullptr},
        {L"DrawCircle", Method, 0x60030016,
         {{L"Left", L"I2*", Ref}, {L"Top", L"I2*", Ref}, {L"Radius", L"I2*", Ref}}, nullptr},
        {L"DrawLine", Method, 0x60030017,
         {{L"X1", L"I4", In}, {L"Y1", L"I4", In}, {L"X2", L"I4", In}, {L"Y2", L"I4", In},
          {L"Color", L"OLE_COLOR*", Ref | Opt | Def}},
         nullptr},
        {L"BPrint", Method, 0x60030018,
         {{L"Left", L"I2*", Ref}, {L"Top", L"I2*", Ref}, {L"Text", L"BSTR*", Ref}}, nullptr},
    }};
    return published;
}

const Interface* const kInterfaces[] = {&KivCtlInterface(), &KivFactoryInterface(), &KivBitmapInterface()};

// ---- the fixture: the module's library, loaded from the file as any client loads it ---------

class TypeLibrary : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(::LoadTypeLibEx(OcxPath().c_str(), REGKIND_NONE, library.Put()), S_OK)
            << "the module beside this program carries no type library";
    }
    void TearDown() override {
        library.Reset();
        ComTest::TearDown();
    }

    ComPtr<ITypeInfo> Info(REFGUID guid) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(library->GetTypeInfoOfGuid(guid, info.Put()), S_OK);
        return info;
    }

    ComPtr<ITypeLib> library;
};

TEST_F(TypeLibrary, LibraryAttributes) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_Kiv));
    EXPECT_EQ(attr->wMajorVerNum, 21);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0u);
    EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    EXPECT_TRUE(attr->wLibFlags & LIBFLAG_FCONTROL);
    EXPECT_FALSE(attr->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FHIDDEN));
    library->ReleaseTLibAttr(attr);

    Bstr name, doc, helpFile;
    DWORD helpContext = 1;
    ASSERT_EQ(library->GetDocumentation(-1, &name.s, &doc.s, &helpContext, &helpFile.s), S_OK);
    EXPECT_EQ(name.Str(), L"Kiv");
    EXPECT_FALSE(doc.Str().empty()) << "a one-line description as help string";
    EXPECT_EQ(doc.Str().find(L'\n'), std::wstring::npos);
    EXPECT_TRUE(helpFile.Str().empty()) << "no help file";
    EXPECT_EQ(helpContext, 0u);
}

TEST_F(TypeLibrary, SevenDescriptionsInTheirOrder) {
    struct Expected {
        const wchar_t* name;
        TYPEKIND kind;
        const GUID* guid;
    };
    const Expected expected[] = {
        {L"_KivCtl", TKIND_DISPATCH, &IID__KivCtl},         {L"KivCtl", TKIND_COCLASS, &CLSID_KivCtl},
        {L"_KivFactory", TKIND_DISPATCH, &IID__KivFactory}, {L"KivFactory", TKIND_COCLASS, &CLSID_KivFactory},
        {L"_KivBitmap", TKIND_DISPATCH, &IID__KivBitmap},   {L"KivBitmap", TKIND_COCLASS, &CLSID_KivBitmap},
        {L"__KivCtl", TKIND_DISPATCH, &DIID___KivCtl},
    };
    ASSERT_EQ(static_cast<size_t>(library->GetTypeInfoCount()), std::size(expected));
    for (UINT i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        Bstr name;
        ASSERT_EQ(library->GetDocumentation(static_cast<INT>(i), &name.s, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(name.Str(), expected[i].name);
        TYPEKIND kind = TKIND_MAX;
        ASSERT_EQ(library->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, expected[i].kind);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(i, info.Put()), S_OK);
        EXPECT_TRUE(IsEqualGUID(Attr(info.Get())->guid, *expected[i].guid));
    }
}

TEST_F(TypeLibrary, DualInterfacesAndTheirViews) {
    const WORD common = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    for (const Interface* published : kInterfaces) {
        SCOPED_TRACE(testing::Message() << published->name);
        ComPtr<ITypeInfo> dispatch = Info(*published->iid);
        ASSERT_TRUE(dispatch);
        EXPECT_EQ(NameOf(dispatch.Get()), published->name);
        {
            Attr attr(dispatch.Get());
            EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
            EXPECT_EQ(attr->wTypeFlags & common, common);
            EXPECT_EQ(attr->wTypeFlags & ~(common | TYPEFLAG_FOLEAUTOMATION), 0) << std::hex << attr->wTypeFlags;
        }
        ComPtr<ITypeInfo> vtable = VtableView(dispatch.Get());
        ASSERT_TRUE(vtable) << "a dual interface has a vtable view";
        Attr attr(vtable.Get());
        EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
        EXPECT_EQ(attr->wTypeFlags, common | TYPEFLAG_FOLEAUTOMATION) << std::hex << attr->wTypeFlags;
        EXPECT_TRUE(IsEqualGUID(attr->guid, *published->iid));
        EXPECT_EQ(attr->cVars, 0);
        EXPECT_EQ(static_cast<size_t>(attr->cFuncs), published->members.size());
        EXPECT_EQ(static_cast<size_t>(attr->cbSizeVft), (kDispatchSlots + published->members.size()) * kSlot);
        ASSERT_EQ(attr->cImplTypes, 1);
        HREFTYPE baseRef = 0;
        ComPtr<ITypeInfo> base;
        ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &baseRef), S_OK);
        ASSERT_EQ(vtable->GetRefTypeInfo(baseRef, base.Put()), S_OK);
        EXPECT_TRUE(IsEqualGUID(Attr(base.Get())->guid, IID_IDispatch));
    }
}

TEST_F(TypeLibrary, EveryMemberAsPublished) {
    for (const Interface* published : kInterfaces) {
        ComPtr<ITypeInfo> vtable = VtableView(Info(*published->iid).Get());
        ASSERT_TRUE(vtable);
        std::vector<MEMBERID> named;  // identifiers whose names were read (GetNames answers by identifier)
        for (UINT i = 0; i < published->members.size(); ++i) {
            const Member& m = published->members[i];
            SCOPED_TRACE(testing::Message() << published->name << " #" << (i + 1) << " " << m.name);
            Func f(vtable.Get(), i);
            ASSERT_TRUE(f);
            EXPECT_EQ(f->memid, m.id);
            EXPECT_NE(f->memid, DISPID_VALUE) << "no default member";
            EXPECT_EQ(f->invkind, m.kind);
            EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
            EXPECT_EQ(f->callconv, CC_STDCALL);
            EXPECT_EQ(f->wFuncFlags & (FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED), 0) << "neither hidden nor restricted";
            EXPECT_EQ(f->oVft, static_cast<SHORT>((kDispatchSlots + i) * kSlot)) << "slots follow IDispatch's";
            EXPECT_EQ(TypeText(vtable.Get(), f->elemdescFunc.tdesc), L"HRESULT");

            const size_t declared = m.params.size() + (m.result ? 1 : 0);
            ASSERT_EQ(static_cast<size_t>(f->cParams), declared);
            for (size_t p = 0; p < m.params.size(); ++p) {
                SCOPED_TRACE(testing::Message() << "parameter " << p);
                const ELEMDESC& e = f->lprgelemdescParam[p];
                EXPECT_EQ(TypeText(vtable.Get(), e.tdesc), m.params[p].type);
                EXPECT_EQ(e.paramdesc.wParamFlags, m.params[p].flags);
                if (m.params[p].flags & Def) {
                    ASSERT_TRUE(e.paramdesc.pparamdescex);
                    VARIANT value;
                    ::VariantInit(&value);
                    ASSERT_EQ(::VariantChangeType(&value, &e.paramdesc.pparamdescex->varDefaultValue, 0, VT_I4),
                              S_OK);
                    EXPECT_EQ(V_I4(&value), -1);
                }
            }
            if (m.result) {
                const ELEMDESC& e = f->lprgelemdescParam[declared - 1];
                EXPECT_EQ(TypeText(vtable.Get(), e.tdesc), m.result);
                EXPECT_EQ(e.paramdesc.wParamFlags, Retval);
            }

            Bstr docName;
            ASSERT_EQ(vtable->GetDocumentation(f->memid, &docName.s, nullptr, nullptr, nullptr), S_OK);
            EXPECT_EQ(docName.Str(), m.name);

            // Names are answered for the first accessor of an identifier. A property put's value
            // parameter may go without its name; any name that comes back must be the right one.
            if (std::find(named.begin(), named.end(), f->memid) != named.end()) continue;
            named.push_back(f->memid);
            BSTR names[16] = {};
            UINT got = 0;
            ASSERT_EQ(vtable->GetNames(f->memid, names, 16, &got), S_OK);
            std::vector<std::wstring> read;
            for (UINT n = 0; n < got; ++n) {
                read.emplace_back(names[n], ::SysStringLen(names[n]));
                ::SysFreeString(names[n]);
            }
            ASSERT_GE(read.size(), 1u);
            EXPECT_EQ(read[0], m.name);
            const size_t wanted = m.kind == Let ? read.size() - 1 : m.params.size();
            ASSERT_GE(read.size() - 1, wanted);
            ASSERT_LE(wanted, m.params.size());
            for (size_t p = 0; p < wanted; ++p) EXPECT_EQ(read[p + 1], m.params[p].name);
        }
    }
}

TEST_F(TypeLibrary, TheEventInterfaceHasNoMembers) {
    ComPtr<ITypeInfo> events = Info(DIID___KivCtl);
    ASSERT_TRUE(events);
    EXPECT_EQ(NameOf(events.Get()), L"__KivCtl");
    Attr attr(events.Get());
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE)
        << std::hex << attr->wTypeFlags;
    EXPECT_EQ(attr->cVars, 0);
    HREFTYPE ref = 0;
    EXPECT_TRUE(FAILED(events->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))) << "not dual";
    // What the loader may list are IDispatch's own methods, restricted; nothing of the control's.
    const std::wstring inherited[] = {L"QueryInterface", L"AddRef",      L"Release", L"GetTypeInfoCount",
                                      L"GetTypeInfo",    L"GetIDsOfNames", L"Invoke"};
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        Func f(events.Get(), i);
        ASSERT_TRUE(f);
        Bstr name;
        events->GetDocumentation(f->memid, &name.s, nullptr, nullptr, nullptr);
        SCOPED_TRACE(testing::Message() << "function " << i);
        EXPECT_TRUE(f->wFuncFlags & FUNCFLAG_FRESTRICTED);
        EXPECT_NE(std::find(std::begin(inherited), std::end(inherited), name.Str()), std::end(inherited));
    }
}

TEST_F(TypeLibrary, ClassesAndTheirInterfaces) {
    struct Impl {
        const IID* iid;
        INT flags;
    };
    struct Class {
        const CLSID* clsid;
        const wchar_t* name;
        WORD flags;
        std::vector<Impl> impls;
    };
    const Class classes[] = {
        {&CLSID_KivCtl, L"KivCtl", TYPEFLAG_FCONTROL,
         {{&IID__KivCtl, IMPLTYPEFLAG_FDEFAULT}, {&DIID___KivCtl, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}},
        {&CLSID_KivFactory, L"KivFactory", 0, {{&IID__KivFactory, IMPLTYPEFLAG_FDEFAULT}}},
        {&CLSID_KivBitmap, L"KivBitmap", 0, {{&IID__KivBitmap, IMPLTYPEFLAG_FDEFAULT}}},
    };
    for (const Class& c : classes) {
        SCOPED_TRACE(testing::Message() << c.name);
        ComPtr<ITypeInfo> info = Info(*c.clsid);
        ASSERT_TRUE(info);
        EXPECT_EQ(NameOf(info.Get()), c.name);
        Attr attr(info.Get());
        EXPECT_EQ(attr->typekind, TKIND_COCLASS);
        EXPECT_EQ(attr->wTypeFlags, c.flags) << "never creatable: " << std::hex << attr->wTypeFlags;
        ASSERT_EQ(static_cast<size_t>(attr->cImplTypes), c.impls.size());
        for (UINT i = 0; i < c.impls.size(); ++i) {
            HREFTYPE ref = 0;
            ComPtr<ITypeInfo> impl;
            ASSERT_EQ(info->GetRefTypeOfImplType(i, &ref), S_OK);
            ASSERT_EQ(info->GetRefTypeInfo(ref, impl.Put()), S_OK);
            EXPECT_TRUE(IsEqualGUID(Attr(impl.Get())->guid, *c.impls[i].iid)) << "impl type " << i;
            INT flags = -1;
            ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
            EXPECT_EQ(flags, c.impls[i].flags) << "impl type " << i;
        }
    }
}

// ---- late binding on real objects ---------------------------------------------------------------

// A VARIANT that clears itself.
struct Var : VARIANT {
    Var() { ::VariantInit(this); }
    ~Var() { ::VariantClear(this); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

VARIANT ByRef(VARTYPE type, void* where) {
    VARIANT x;
    ::VariantInit(&x);
    V_VT(&x) = VT_BYREF | type;
    V_BYREF(&x) = where;
    return x;
}

// Calls member `id` of `instance` through the library's vtable view, with arguments in their
// declared order; a put gets its value as the named DISPID_PROPERTYPUT argument.
HRESULT CallThrough(ITypeInfo* vtable, void* instance, MEMBERID id, WORD kind, std::vector<VARIANT> args,
                    VARIANT* result) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = kind == DISPATCH_PROPERTYPUT;
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), isPut ? &put : nullptr,
                         static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
    EXCEPINFO exception = {};
    UINT argError = 0;
    HRESULT hr = vtable->Invoke(instance, id, kind, &params, result, &exception, &argError);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return hr;
}

class LateBinding : public TypeLibrary {
protected:
    void SetUp() override {
        TypeLibrary::SetUp();
        control = NewControl();
        ASSERT_TRUE(control);
        registry = BitmapsOf(control.Get());
        ASSERT_TRUE(registry);
        surface = Create(registry.Get(), L"first", 20, 10);
        ASSERT_TRUE(surface);
    }
    void TearDown() override {
        surface.Reset();
        registry.Reset();
        control.Reset();
        TypeLibrary::TearDown();
    }

    ComPtr<ITypeInfo> Vtable(REFIID iid) { return VtableView(Info(iid).Get()); }

    ComPtr<_KivCtl> control;
    ComPtr<_KivFactory> registry;
    ComPtr<_KivBitmap> surface;
};

// Every get of the surface, called by identifier through the module's library, answers what the
// member of that name holds: the values are made different so that a shifted slot shows.
TEST_F(LateBinding, GetsOfTheSurfaceReachTheirMembers) {
    ComPtr<ITypeInfo> vtable = Vtable(IID__KivBitmap);
    ASSERT_TRUE(vtable);
    BSTR face = ::SysAllocString(L"Courier New");
    ASSERT_EQ(surface->put_FontName(&face), S_OK);
    ::SysFreeString(face);
    short size = 13;
    ASSERT_EQ(surface->put_FontSize(&size), S_OK);
    ASSERT_EQ(surface->put_ForeColor(0x123456), S_OK);
    ASSERT_EQ(surface->put_BackColor(0x00654321), S_OK);
    LONG key = 0x000A0B0C;
    ASSERT_EQ(surface->put_TransparentColor(&key), S_OK);

    auto get = [&](MEMBERID id, VARTYPE type) {
        Var out;
        EXPECT_EQ(CallThrough(vtable.Get(), surface.Get(), id, DISPATCH_PROPERTYGET, {}, &out), S_OK)
            << std::hex << id;
        Var converted;
        EXPECT_EQ(::VariantChangeType(&converted, &out, 0, type), S_OK);
        if (type == VT_BSTR) return std::wstring(V_BSTR(&converted), ::SysStringLen(V_BSTR(&converted)));
        const long value = type == VT_I2 ? V_I2(&converted) : type == VT_BOOL ? V_BOOL(&converted) : V_I4(&converted);
        return std::to_wstring(value);
    };
    EXPECT_EQ(get(0x6803000B, VT_BSTR), L"Courier New");
    EXPECT_EQ(get(0x6803000A, VT_I2), L"13");
    EXPECT_EQ(get(0x68030006, VT_I2), L"20");
    EXPECT_EQ(get(0x68030005, VT_I2), L"10");
    EXPECT_EQ(get(0x68030002, VT_I4), std::to_wstring(0x123456));
    EXPECT_EQ(get(0x68030001, VT_I4), std::to_wstring(0x654321));
    EXPECT_EQ(get(0x68030000, VT_I4), std::to_wstring(0x0A0B0C));

    // The handles, against the platform's own view of them.
    const long dc = std::stol(get(0x68030004, VT_I4));
    const long bitmap = std::stol(get(0x68030003, VT_I4));
    HDC hdc = kiv::platform::I4ToHandle<HDC>(dc);
    EXPECT_EQ(::GetObjectType(hdc), static_cast<DWORD>(OBJ_MEMDC));
    EXPECT_EQ(::GetCurrentObject(hdc, OBJ_BITMAP), kiv::platform::I4ToHandle<HGDIOBJ>(bitmap));

    // The three switches, each the only one set in turn.
    const MEMBERID switches[] = {0x68030009, 0x68030008, 0x68030007};
    for (int on = 0; on < 3; ++on) {
        VARIANT_BOOL values[3] = {VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE};
        values[on] = VARIANT_TRUE;
        surface->put_FontBold(&values[0]);
        surface->put_FontItalic(&values[1]);
        surface->put_FontUnderline(&values[2]);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(get(switches[i], VT_BOOL), std::to_wstring(values[i])) << "switch " << i << " with " << on;
        }
    }

    Var picture;
    ASSERT_EQ(CallThrough(vtable.Get(), surface.Get(), 0x6803000C, DISPATCH_PROPERTYGET, {}, &picture), S_OK);
    ASSERT_TRUE(V_VT(&picture) == VT_UNKNOWN || V_VT(&picture) == VT_DISPATCH);
    ComPtr<IPicture> asPicture;
    ASSERT_EQ(V_UNKNOWN(&picture)->QueryInterface(IID_IPicture, reinterpret_cast<void**>(asPicture.Put())), S_OK);
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    asPicture->get_Width(&width);
    asPicture->get_Height(&height);
    EXPECT_GT(width, height) << "20 x 10 pixels";
}

TEST_F(LateBinding, PutsOfTheSurfaceReachTheirMembers) {
    ComPtr<ITypeInfo> vtable = Vtable(IID__KivBitmap);
    ASSERT_TRUE(vtable);
    auto put = [&](MEMBERID id, VARIANT value) {
        return CallThrough(vtable.Get(), surface.Get(), id, DISPATCH_PROPERTYPUT, {value}, nullptr);
    };
    EXPECT_EQ(put(0x68030002, I4(0x0000FF)), S_OK);
    EXPECT_EQ(put(0x68030001, I4(0x00FF00)), S_OK);
    LONG key = 0xFF0000;
    EXPECT_EQ(put(0x68030000, ByRef(VT_I4, &key)), S_OK);
    short size = 21;
    EXPECT_EQ(put(0x6803000A, ByRef(VT_I2, &size)), S_OK);
    VARIANT_BOOL italic = VARIANT_TRUE;
    EXPECT_EQ(put(0x68030008, ByRef(VT_BOOL, &italic)), S_OK);

    LONG fore = 0, back = 0, transparent = 0;
    short readSize = 0;
    VARIANT_BOOL bold = VARIANT_TRUE, readItalic = VARIANT_FALSE;
    surface->get_ForeColor(&fore);
    surface->get_BackColor(&back);
    surface->get_TransparentColor(&transparent);
    surface->get_FontSize(&readSize);
    surface->get_FontBold(&bold);
    surface->get_FontItalic(&readItalic);
    EXPECT_EQ(fore, 0x0000FF);
    EXPECT_EQ(back, 0x00FF00);
    EXPECT_EQ(transparent, 0xFF0000);
    EXPECT_EQ(readSize, 21);
    EXPECT_EQ(bold, VARIANT_FALSE);
    EXPECT_EQ(readItalic, VARIANT_TRUE);
    // The foreground colour reached the surface's device context too.
    EXPECT_EQ(::GetTextColor(DcOf(surface.Get())), 0x0000FFu);
}

TEST_F(LateBinding, MembersOfTheRegistryAndTheControlReachTheirMembers) {
    ComPtr<ITypeInfo> registryInfo = Vtable(IID__KivFactory);
    ComPtr<ITypeInfo> controlInfo = Vtable(IID__KivCtl);
    ASSERT_TRUE(registryInfo && controlInfo);

    Var bitmaps;
    ASSERT_EQ(CallThrough(controlInfo.Get(), control.Get(), 0x68030000, DISPATCH_PROPERTYGET, {}, &bitmaps), S_OK);
    ASSERT_TRUE(V_VT(&bitmaps) == VT_DISPATCH || V_VT(&bitmaps) == VT_UNKNOWN);
    EXPECT_TRUE(kiv::SameObject(V_UNKNOWN(&bitmaps), registry.Get()));

    BSTR name = ::SysAllocString(L"second");
    short width = 7, height = 5;
    Var created;
    EXPECT_EQ(CallThrough(registryInfo.Get(), registry.Get(), 0x60030008, DISPATCH_METHOD,
                          {ByRef(VT_BSTR, &name), ByRef(VT_I2, &width), ByRef(VT_I2, &height)}, &created),
              S_OK);
    ::SysFreeString(name);
    ASSERT_TRUE(V_VT(&created) == VT_DISPATCH || V_VT(&created) == VT_UNKNOWN);
    ASSERT_TRUE(V_UNKNOWN(&created));

    Var count;
    EXPECT_EQ(CallThrough(registryInfo.Get(), registry.Get(), 0x68030004, DISPATCH_PROPERTYGET, {}, &count), S_OK);
    EXPECT_EQ(V_VT(&count), VT_I2);
    EXPECT_EQ(V_I2(&count), 2);

    short index = 2;
    Var second;
    EXPECT_EQ(CallThrough(registryInfo.Get(), registry.Get(), 0x68030003, DISPATCH_PROPERTYGET,
                          {ByRef(VT_I2, &index)}, &second),
              S_OK);
    EXPECT_TRUE(kiv::SameObject(V_UNKNOWN(&second), V_UNKNOWN(&created)));
    BSTR first = ::SysAllocString(L"first");
    Var byName;
    EXPECT_EQ(CallThrough(registryInfo.Get(), registry.Get(), 0x68030002, DISPATCH_PROPERTYGET,
                          {ByRef(VT_BSTR, &first)}, &byName),
              S_OK);
    ::SysFreeString(first);
    EXPECT_TRUE(kiv::SameObject(V_UNKNOWN(&byName), surface.Get()));

    index = 1;
    EXPECT_EQ(CallThrough(registryInfo.Get(), registry.Get(), 0x60030009, DISPATCH_METHOD, {ByRef(VT_I2, &index)},
                          nullptr),
              S_OK);
    EXPECT_EQ(CountOf(registry.Get()), 1);
    EXPECT_EQ(CallThrough(registryInfo.Get(), registry.Get(), 0x60030007, DISPATCH_METHOD, {}, nullptr), S_OK);
    EXPECT_EQ(CountOf(registry.Get()), 0);

    // Blit: the control's block transfer between two device contexts.
    ColourTarget from(4, 4, RGB(200, 10, 10));
    ColourTarget to(4, 4, RGB(0, 0, 0));
    EXPECT_EQ(CallThrough(controlInfo.Get(), control.Get(), 0x60030004, DISPATCH_METHOD,
                          {I4(kiv::platform::HandleToI4(to.Dc())), I4(1), I4(1), I4(2), I4(2),
                           I4(kiv::platform::HandleToI4(from.Dc())), I4(0), I4(0), I4(SRCCOPY)},
                          nullptr),
              S_OK);
    EXPECT_EQ(PixelAt(to.Dc(), 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(PixelAt(to.Dc(), 1, 1), PixelAt(from.Dc(), 0, 0));
    EXPECT_EQ(PixelAt(to.Dc(), 2, 2), PixelAt(from.Dc(), 0, 0));
    EXPECT_EQ(PixelAt(to.Dc(), 3, 3), RGB(0, 0, 0));
}

// Names resolve to the published identifiers, both in the module's library and on the objects;
// a property's get and let share theirs.
TEST_F(LateBinding, NamesResolveToThePublishedIdentifiers) {
    IUnknown* objects[] = {control.Get(), registry.Get(), surface.Get()};
    for (size_t k = 0; k < std::size(kInterfaces); ++k) {
        const Interface* published = kInterfaces[k];
        ComPtr<ITypeInfo> vtable = Vtable(*published->iid);
        ComPtr<IDispatch> object;
        ASSERT_EQ(objects[k]->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object.Put())), S_OK);
        for (const Member& m : published->members) {
            SCOPED_TRACE(testing::Message() << published->name << "." << m.name);
            LPOLESTR name = const_cast<LPOLESTR>(m.name);
            MEMBERID fromLibrary = 0;
            ASSERT_EQ(vtable->GetIDsOfNames(&name, 1, &fromLibrary), S_OK);
            EXPECT_EQ(fromLibrary, m.id);
            DISPID fromObject = 0;
            ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &fromObject), S_OK);
            EXPECT_EQ(fromObject, m.id);
        }
    }

    ComPtr<IDispatch> bitmap;
    ASSERT_EQ(surface->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(bitmap.Put())), S_OK);
    // Names are not case-sensitive; parameter names resolve to their positions.
    LPOLESTR lineAndColor[] = {const_cast<LPOLESTR>(L"drawline"), const_cast<LPOLESTR>(L"Color")};
    DISPID ids[2] = {};
    ASSERT_EQ(bitmap->GetIDsOfNames(IID_NULL, lineAndColor, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60030017);
    EXPECT_EQ(ids[1], 4);
    LPOLESTR unknown = const_cast<LPOLESTR>(L"NoSuchMember");
    DISPID none = 0;
    EXPECT_EQ(bitmap->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &none), DISP_E_UNKNOWNNAME);
}

}  // namespace
