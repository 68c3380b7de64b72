// The side-by-side manifest beside the built module, read with the platform's XML parser, against
// what registration wrote into the build's prefix and against the module's own type library: the
// two ways of describing the module must say the same.
#include "TestSupport.h"

#include <msxml2.h>
#include <oleauto.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace kivtest;

namespace {

// IID_IXMLDOMDocument2, which mingw-w64's msxml2.h declares without a definition.
constexpr IID kIXMLDOMDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Identifiers compare without regard to case.
std::wstring Upper(std::wstring text) {
    ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring Text(BSTR text) {
    std::wstring out = text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    ::SysFreeString(text);
    return out;
}

// Comma-separated names turned into bits with a table; unknown names give ~0.
template <class Table>
DWORD Bits(const std::wstring& names, const Table& table) {
    DWORD bits = 0;
    size_t start = 0;
    while (start <= names.size()) {
        const size_t end = std::min(names.find(L',', start), names.size());
        const std::wstring name = names.substr(start, end - start);
        bool known = false;
        for (const auto& [text, bit] : table) {
            if (SameText(name, text)) {
                bits |= bit;
                known = true;
            }
        }
        if (!known) return ~0ul;
        start = end + 1;
    }
    return bits;
}

const std::pair<const wchar_t*, DWORD> kMiscNames[] = {
    {L"recomposeonresize", 0x1},     {L"cantlinkinside", 0x10},       {L"insideout", 0x80},
    {L"activatewhenvisible", 0x100}, {L"invisibleatruntime", 0x400}, {L"nouiactivate", 0x4000},
    {L"setclientsitefirst", 0x20000}};
const std::pair<const wchar_t*, DWORD> kLibraryFlagNames[] = {
    {L"RESTRICTED", 1}, {L"CONTROL", 2}, {L"HIDDEN", 4}, {L"HASDISKIMAGE", 8}};

class Manifest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        CLSID parser = GUID_NULL;
        ASSERT_EQ(::CLSIDFromProgID(L"Msxml2.DOMDocument.3.0", &parser), S_OK);
        ASSERT_EQ(::CoCreateInstance(parser, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2,
                                     reinterpret_cast<void**>(document.Put())),
                  S_OK);
        std::wstring path = OcxPath();
        path.replace(path.size() - 3, 3, L"manifest");
        VARIANT file;
        ::VariantInit(&file);
        file.vt = VT_BSTR;
        file.bstrVal = ::SysAllocString(path.c_str());
        VARIANT_BOOL loaded = VARIANT_FALSE;
        document->put_async(VARIANT_FALSE);
        document->load(file, &loaded);
        ::VariantClear(&file);
        ASSERT_EQ(loaded, VARIANT_TRUE) << "KIVDRAW.manifest beside the module is well-formed XML";
        SetProperty(L"SelectionLanguage", L"XPath");
        SetProperty(L"SelectionNamespaces", L"xmlns:a='urn:schemas-microsoft-com:asm.v1'");
    }
    void TearDown() override {
        document.Reset();
        ComTest::TearDown();
    }

    void SetProperty(const wchar_t* name, const wchar_t* value) {
        VARIANT v;
        ::VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = ::SysAllocString(value);
        BSTR n = ::SysAllocString(name);
        document->setProperty(n, v);
        ::SysFreeString(n);
        ::VariantClear(&v);
    }

    // The elements that an XPath expression selects, each as its attributes by name ("" for the
    // element's text).
    std::vector<std::map<std::wstring, std::wstring>> Select(const wchar_t* path) {
        std::vector<std::map<std::wstring, std::wstring>> found;
        ComPtr<IXMLDOMNodeList> nodes;
        BSTR query = ::SysAllocString(path);
        document->selectNodes(query, nodes.Put());
        ::SysFreeString(query);
        long count = 0;
        if (nodes) nodes->get_length(&count);
        for (long i = 0; i < count; ++i) {
            ComPtr<IXMLDOMNode> node;
            nodes->get_item(i, node.Put());
            std::map<std::wstring, std::wstring> attributes;
            BSTR text = nullptr;
            node->get_text(&text);
            attributes[L""] = Text(text);
            ComPtr<IXMLDOMNamedNodeMap> map;
            node->get_attributes(map.Put());
            long n = 0;
            if (map) map->get_length(&n);
            for (long j = 0; j < n; ++j) {
                ComPtr<IXMLDOMNode> attribute;
                map->get_item(j, attribute.Put());
                BSTR name = nullptr;
                attribute->get_nodeName(&name);
                BSTR value = nullptr;
                attribute->get_text(&value);
                attributes[Text(name)] = Text(value);
            }
            found.push_back(attributes);
        }
        return found;
    }

    ComPtr<IXMLDOMDocument2> document;
};

TEST_F(Manifest, NamesTheAssemblyAndTheModuleOfThisBuild) {
    const auto identity = Select(L"/a:assembly/a:assemblyIdentity");
    ASSERT_EQ(identity.size(), 1u);
    EXPECT_EQ(identity[0].at(L"name"), L"KIVDRAW");
    EXPECT_EQ(identity[0].at(L"type"), L"win32");
    EXPECT_EQ(identity[0].at(L"processorArchitecture"), sizeof(void*) == 8 ? L"amd64" : L"x86");

    // The assembly's version is the build's assembly version, which compatible releases keep, not
    // the module's file version, which each release changes.
    EXPECT_EQ(identity[0].at(L"version"), KIV_ASSEMBLY_VERSION);

    const auto files = Select(L"/a:assembly/a:file");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].at(L"name"), L"KIVDRAW.OCX");
}

TEST_F(Manifest, TheTypeLibraryIsTheRegisteredOne) {
    const auto libraries = Select(L"/a:assembly/a:file/a:typelib");
    ASSERT_EQ(libraries.size(), 1u);
    const auto& library = libraries[0];
    const std::wstring tlbid = library.at(L"tlbid");
    EXPECT_TRUE(SameText(tlbid, GuidText(LIBID_Kiv)));
    EXPECT_EQ(library.at(L"version"), L"21.0");
    // The registry writes the version in hexadecimal, and the library's flags as a number, with the
    // flag that the loader sets on every library read from a file.
    const std::wstring key = L"TypeLib\\" + GuidText(LIBID_Kiv) + L"\\15.0";
    ASSERT_NE(ClassesValue(key), L"(missing)");
    ASSERT_TRUE(library.count(L"flags"));
    const DWORD registered = std::stoul(ClassesValue(key + L"\\FLAGS")) & ~DWORD{LIBFLAG_FHASDISKIMAGE};
    EXPECT_EQ(Bits(library.at(L"flags"), kLibraryFlagNames), registered);
    EXPECT_EQ(Bits(library.at(L"flags"), kLibraryFlagNames), 2ul) << "the library describes a control";
}

TEST_F(Manifest, TheClassesAreTheRegisteredOnes) {
    const auto classes = Select(L"/a:assembly/a:file/a:comClass");
    ASSERT_EQ(classes.size(), 3u);
    std::set<std::wstring> seen;
    for (const auto& entry : classes) {
        const std::wstring key = L"CLSID\\" + entry.at(L"clsid");
        SCOPED_TRACE(std::string(key.begin(), key.end()));
        seen.insert(Upper(entry.at(L"clsid")));
        EXPECT_EQ(entry.at(L"description"), ClassesValue(key));
        EXPECT_EQ(entry.at(L"threadingModel"), ClassesValue(key + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_TRUE(SameText(entry.at(L"tlbid"), ClassesValue(key + L"\\TypeLib")));
        const bool control = SameText(entry.at(L"clsid"), GuidText(CLSID_KivCtl));
        EXPECT_EQ(entry.count(L"progid") == 1, control) << "only the control has ProgIDs";
        EXPECT_EQ(entry.count(L"miscStatusContent") == 1, control);
        EXPECT_FALSE(entry.count(L"miscStatus")) << "registration writes 0 for every other aspect";
        if (!control) continue;
        EXPECT_EQ(entry.at(L"progid"), ClassesValue(key + L"\\ProgID"));
        EXPECT_EQ(Bits(entry.at(L"miscStatusContent"), kMiscNames), std::stoul(ClassesValue(key + L"\\MiscStatus\\1")));
        EXPECT_EQ(ClassesValue(key + L"\\MiscStatus"), L"0");
    }
    EXPECT_EQ(seen, (std::set<std::wstring>{GuidText(CLSID_KivCtl), GuidText(CLSID_KivFactory), GuidText(CLSID_KivBitmap)}));

    const auto progids = Select(L"/a:assembly/a:file/a:comClass/a:progid");
    ASSERT_EQ(progids.size(), 1u);
    EXPECT_EQ(progids[0].at(L""), ClassesValue(L"CLSID\\" + GuidText(CLSID_KivCtl) + L"\\VersionIndependentProgID"));
    EXPECT_EQ(progids[0].at(L""), L"Kiv.KivCtl");
}

TEST_F(Manifest, TheDualInterfacesAreMarshalledAsRegistered) {
    // The dual interfaces of the module's own type library.
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLibEx(OcxPath().c_str(), REGKIND_NONE, library.Put()), S_OK);
    std::set<std::wstring> duals;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(i, info.Put()), S_OK);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        if (attributes->wTypeFlags & TYPEFLAG_FDUAL) duals.insert(GuidText(attributes->guid));
        info->ReleaseTypeAttr(attributes);
    }
    EXPECT_EQ(duals, (std::set<std::wstring>{GuidText(IID__KivCtl), GuidText(IID__KivFactory), GuidText(IID__KivBitmap)}));

    std::set<std::wstring> listed;
    for (const auto& entry : Select(L"/a:assembly/a:comInterfaceExternalProxyStub")) {
        const std::wstring key = L"Interface\\" + entry.at(L"iid");
        SCOPED_TRACE(std::string(key.begin(), key.end()));
        listed.insert(Upper(entry.at(L"iid")));
        EXPECT_EQ(entry.at(L"name"), ClassesValue(key));
        EXPECT_TRUE(SameText(entry.at(L"proxyStubClsid32"), ClassesValue(key + L"\\ProxyStubClsid32")));
        EXPECT_TRUE(SameText(entry.at(L"proxyStubClsid32"), L"{00020424-0000-0000-C000-000000000046}"))
            << "the type library's marshaller";
        EXPECT_TRUE(SameText(entry.at(L"tlbid"), ClassesValue(key + L"\\TypeLib")));
    }
    EXPECT_EQ(listed, duals);
}

}  // namespace
