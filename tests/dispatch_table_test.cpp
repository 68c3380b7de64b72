// The description that late binding answers from, against the type information it was read from:
// every member of each dual interface, with its kind, vtable slot, parameters, defaults and result, is
// in it, and nothing else; every member's name and its parameters' names resolve without regard to case.
#include "TestSupport.h"

#include "component/DispatchTable.h"
#include "component/Module.h"

#include <oleauto.h>

#include <cwctype>
#include <string>
#include <vector>

using namespace kivtest;
using kiv::dispatch::Member;
using kiv::dispatch::Table;

namespace {

class Described : public ComTest {};

// A parameter's type as the platform's type information gives it: an alias followed to its base
// type, an interface as the kind of pointer that Automation passes for it.
struct Declared {
    VARTYPE type = VT_EMPTY;
    bool colour = false;
};

Declared DeclaredType(ITypeInfo* owner, const TYPEDESC& desc) {
    const TYPEDESC& named = desc.vt == VT_PTR ? *desc.lptdesc : desc;  // an object: a pointer to its interface
    if (named.vt != VT_USERDEFINED) return {desc.vt, false};
    ComPtr<ITypeInfo> ref;
    EXPECT_EQ(owner->GetRefTypeInfo(named.hreftype, ref.Put()), S_OK);
    if (!ref) return {};
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(ref->GetTypeAttr(&attr), S_OK);
    Declared declared;
    BSTR name = nullptr;
    ref->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    if (attr->typekind == TKIND_ALIAS) {
        declared = DeclaredType(ref.Get(), attr->tdescAlias);
        declared.colour = name && std::wstring(name) == L"OLE_COLOR";
    } else if (attr->typekind == TKIND_DISPATCH) {
        declared.type = VT_DISPATCH;
    } else if (attr->typekind == TKIND_INTERFACE) {
        declared.type = (attr->wTypeFlags & TYPEFLAG_FDUAL) ? VT_DISPATCH : VT_UNKNOWN;
    }
    ::SysFreeString(name);
    ref->ReleaseTypeAttr(attr);
    return declared;
}

WORD FlagOf(INVOKEKIND kind) {
    switch (kind) {
    case INVOKE_PROPERTYGET: return DISPATCH_PROPERTYGET;
    case INVOKE_PROPERTYPUT: return DISPATCH_PROPERTYPUT;
    case INVOKE_PROPERTYPUTREF: return DISPATCH_PROPERTYPUTREF;
    default: return DISPATCH_METHOD;
    }
}

std::wstring Cased(std::wstring text, bool upper) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(upper ? std::towupper(c) : std::towlower(c));
    return text;
}

DISPID IdOf(const Table& table, std::vector<std::wstring> names, std::vector<DISPID>* rest = nullptr) {
    std::vector<LPOLESTR> pointers;
    for (auto& name : names) pointers.push_back(name.data());
    std::vector<DISPID> ids(names.size(), 12345);
    const HRESULT hr = table.IdsOfNames(pointers.data(), static_cast<UINT>(pointers.size()), ids.data());
    if (rest) rest->assign(ids.begin() + 1, ids.end());
    return hr == S_OK ? ids[0] : DISPID_UNKNOWN;
}

TEST_F(Described, EveryMemberAsTheTypeLibraryDeclaresItAndNothingElse) {
    for (const IID* iid : {&IID__KivCtl, &IID__KivFactory, &IID__KivBitmap}) {
        ComPtr<ITypeInfo> info = ComPtr<ITypeInfo>::Adopt(kiv::module::VtableTypeInfo(*iid));
        ASSERT_TRUE(info);
        const Table table(ComPtr<ITypeInfo>(info).Detach());  // the table keeps a reference of its own
        ASSERT_TRUE(table.Described());
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        const UINT functions = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        EXPECT_EQ(table.Members().size(), functions) << "one described member per function, nothing more";

        for (UINT f = 0; f < functions; ++f) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(info->GetFuncDesc(f, &func), S_OK);
            BSTR name = nullptr;
            info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
            const std::wstring memberName(name, ::SysStringLen(name));
            ::SysFreeString(name);
            SCOPED_TRACE(testing::Message() << "member " << std::string(memberName.begin(), memberName.end())
                                            << " of kind " << func->invkind);

            const Member* member = table.Find(func->memid, FlagOf(func->invkind));
            ASSERT_NE(member, nullptr);
            EXPECT_EQ(member->id, func->memid);
            EXPECT_EQ(member->kind, func->invkind);
            EXPECT_EQ(member->name, memberName);
            EXPECT_EQ(member->vtableOffset, static_cast<ULONG_PTR>(func->oVft));
            EXPECT_EQ(member->convention, func->callconv);

            UINT declared = static_cast<UINT>(func->cParams);
            VARTYPE result = VT_EMPTY;
            if (declared && (func->lprgelemdescParam[declared - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) {
                --declared;
                result = DeclaredType(info.Get(), *func->lprgelemdescParam[declared].tdesc.lptdesc).type;
            }
            EXPECT_EQ(member->count, declared);
            EXPECT_EQ(member->result, result);
            for (UINT p = 0; p < declared && p < member->count; ++p) {
                SCOPED_TRACE(testing::Message() << "parameter " << p);
                const ELEMDESC& elem = func->lprgelemdescParam[p];
                const bool byRef = elem.tdesc.vt == VT_PTR;
                const Declared type = DeclaredType(info.Get(), byRef ? *elem.tdesc.lptdesc : elem.tdesc);
                const auto& parameter = member->parameters[p];
                EXPECT_EQ(parameter.byRef, byRef);
                EXPECT_EQ(parameter.type, type.type);
                EXPECT_EQ(parameter.colour, type.colour);
                const bool optional = (elem.paramdesc.wParamFlags & PARAMFLAG_FOPT) != 0;
                EXPECT_EQ(parameter.optional, optional);
                if (!optional) continue;
                // Omitted, it takes the declared default, or zero.
                EXPECT_EQ(V_VT(&parameter.omitted), type.type);
                LONG expected = 0;
                if (elem.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) {
                    const VARIANT& given = elem.paramdesc.pparamdescex->varDefaultValue;
                    ASSERT_TRUE(V_VT(&given) == VT_I4 || V_VT(&given) == VT_UI4 || V_VT(&given) == VT_I2);
                    expected = V_VT(&given) == VT_I2 ? V_I2(&given) : V_I4(&given);
                }
                EXPECT_EQ(type.type == VT_BOOL ? V_BOOL(&parameter.omitted) : V_I4(&parameter.omitted), expected);
            }

            // The name in any case, and the parameters' names as GetNames gives them for the identifier.
            EXPECT_EQ(IdOf(table, {Cased(memberName, true)}), func->memid);
            EXPECT_EQ(IdOf(table, {Cased(memberName, false)}), func->memid);
            BSTR names[kiv::dispatch::kMaxParameters + 2] = {};
            UINT got = 0;
            ASSERT_EQ(info->GetNames(func->memid, names, kiv::dispatch::kMaxParameters + 2, &got), S_OK);
            for (UINT n = 1; n < got; ++n) {
                std::vector<DISPID> position;
                EXPECT_EQ(IdOf(table, {memberName, Cased(std::wstring(names[n]), n % 2 == 0)}, &position),
                          func->memid);
                EXPECT_EQ(position, std::vector<DISPID>{static_cast<DISPID>(n - 1)});
            }
            for (UINT n = 0; n < got; ++n) ::SysFreeString(names[n]);
            info->ReleaseFuncDesc(func);
        }

        std::vector<DISPID> rest;
        EXPECT_EQ(IdOf(table, {L"NoSuchMember", L"Color"}, &rest), DISPID_UNKNOWN);
        EXPECT_EQ(rest, std::vector<DISPID>{DISPID_UNKNOWN});
        EXPECT_EQ(table.Find(0x12345, DISPATCH_METHOD | DISPATCH_PROPERTYGET), nullptr);
    }
}

}  // namespace
