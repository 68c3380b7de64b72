// What an object browser shows for each member of the three interfaces: the description (helpstring)
// that the module's type library gives it, read by member identifier as a browser reads it, from the
// interface as a client gets it (its dispatch view) and from its vtable view. Each one is a single
// line of text.
#include "TestSupport.h"

#include <oleauto.h>

#include <string>

using namespace kivtest;

namespace {

class MemberDescriptions : public ComTest {};

TEST_F(MemberDescriptions, EveryMemberHasALineOfItsOwn) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLibEx(OcxPath().c_str(), REGKIND_NONE, library.Put()), S_OK);
    for (const IID* iid : {&IID__KivCtl, &IID__KivFactory, &IID__KivBitmap}) {
        ComPtr<ITypeInfo> dispatch, vtable;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*iid, dispatch.Put()), S_OK);
        HREFTYPE ref = 0;
        ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
        ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.Put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
        const UINT count = attr->cFuncs;
        vtable->ReleaseTypeAttr(attr);
        ASSERT_GT(count, 0u);

        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* func = nullptr;
            ASSERT_EQ(vtable->GetFuncDesc(i, &func), S_OK);
            const MEMBERID id = func->memid;
            vtable->ReleaseFuncDesc(func);
            for (ITypeInfo* view : {dispatch.Get(), vtable.Get()}) {
                BSTR name = nullptr, doc = nullptr;
                ASSERT_EQ(view->GetDocumentation(id, &name, &doc, nullptr, nullptr), S_OK);
                const std::wstring member = name ? name : L"", text = doc ? doc : L"";
                ::SysFreeString(name);
                ::SysFreeString(doc);
                SCOPED_TRACE(testing::Message() << "member " << std::hex << id << " " << member.c_str());
                EXPECT_FALSE(text.empty()) << "no description";
                EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << "more than one line";
            }
        }
    }
}

}  // namespace
