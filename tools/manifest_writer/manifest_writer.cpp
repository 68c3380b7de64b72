// manifest_writer: writes the side-by-side assembly manifest of the module, KIVDRAW.manifest, so
// that a program can use KIVDRAW.OCX through an activation context, with nothing in the registry.
//
// Usage: manifest_writer.exe MODULE VERSION OUTPUT
//
// The manifest says what self-registration writes, from the same sources: the classes, ProgIDs,
// threading model, type library version and misc status of component/ClassRegistry.h, and the type
// library inside MODULE itself (its identifier, version and flags, and its dual interfaces, which
// are marshalled through the type library as registration marks them). The assembly's version is
// VERSION, the build's assembly version: the identity of the interfaces, which compatible releases
// keep, and not the module's own version, which each release changes.
// Built for the module's architecture and run under it, the program also knows the processor
// architecture to name.
// Exit code 0 on success; otherwise a message on stderr and a non-zero code.

#include "ClassRegistry.h"
#include "component/ComPtr.h"
#include "component/TypeDescriptions.h"
#include "kiv.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace reg = kiv::registration;
using kiv::ComPtr;
using kiv::TypeAttr;

// The universal marshaller: the proxy and stub that a type library describes.
constexpr wchar_t kTypeLibraryMarshaller[] = L"{00020424-0000-0000-C000-000000000046}";

// The names that a manifest gives the OLEMISC bits, as its schema spells them.
struct MiscName {
    DWORD bit;
    const char* name;
};
constexpr MiscName kMiscNames[] = {
    {OLEMISC_RECOMPOSEONRESIZE, "recomposeonresize"},
    {OLEMISC_ONLYICONIC, "onlyiconic"},
    {OLEMISC_INSERTNOTREPLACE, "insertnotreplace"},
    {OLEMISC_STATIC, "static"},
    {OLEMISC_CANTLINKINSIDE, "cantlinkinside"},
    {OLEMISC_CANLINKBYOLE1, "canlinkbyole1"},
    {OLEMISC_ISLINKOBJECT, "islinkobject"},
    {OLEMISC_INSIDEOUT, "insideout"},
    {OLEMISC_ACTIVATEWHENVISIBLE, "activatewhenvisible"},
    {OLEMISC_RENDERINGISDEVICEINDEPENDENT, "renderingisdeviceindependent"},
    {OLEMISC_INVISIBLEATRUNTIME, "invisibleatruntime"},
    {OLEMISC_ALWAYSRUN, "alwaysrun"},
    {OLEMISC_ACTSLIKEBUTTON, "actslikebutton"},
    {OLEMISC_ACTSLIKELABEL, "actslikelabel"},
    {OLEMISC_NOUIACTIVATE, "nouiactivate"},
    {OLEMISC_ALIGNABLE, "alignable"},
    {OLEMISC_SIMPLEFRAME, "simpleframe"},
    {OLEMISC_SETCLIENTSITEFIRST, "setclientsitefirst"},
    {OLEMISC_IMEMODE, "imemode"},
    {OLEMISC_IGNOREACTIVATEWHENVISIBLE, "ignoreactivatewhenvisible"},
    {OLEMISC_WANTSTOMENUMERGE, "wantstomenumerge"},
    {OLEMISC_SUPPORTSMULTILEVELUNDO, "supportsmultilevelundo"},
};

// The manifest is UTF-8; every text in it is ASCII (names and identifiers), which this checks.
std::string Ascii(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c < 0x20 || c > 0x7E || c == L'"' || c == L'&' || c == L'<' || c == L'>')
            throw std::runtime_error("a text that the manifest cannot carry as it is");
        out += static_cast<char>(c);
    }
    return out;
}

std::string GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return Ascii(text);
}

std::string MiscStatusNames(DWORD bits) {
    std::string names;
    for (const MiscName& entry : kMiscNames) {
        if (!(bits & entry.bit)) continue;
        if (!names.empty()) names += ',';
        names += entry.name;
        bits &= ~entry.bit;
    }
    if (bits) throw std::runtime_error("a misc status bit that a manifest cannot name");
    return names;
}

std::string LibraryFlags(WORD flags) {
    std::string names;
    const auto add = [&](WORD bit, const char* name) {
        if (!(flags & bit)) return;
        if (!names.empty()) names += ',';
        names += name;
    };
    add(LIBFLAG_FRESTRICTED, "RESTRICTED");
    add(LIBFLAG_FCONTROL, "CONTROL");
    add(LIBFLAG_FHIDDEN, "HIDDEN");
    // LIBFLAG_FHASDISKIMAGE is not the library's: the loader sets it on every library read from a file.
    return names;
}

// The version as the manifest writes it, in decimal ("21.0"), unlike the registry key's hexadecimal.
std::string Version(WORD major, WORD minor) { return std::to_string(major) + "." + std::to_string(minor); }

struct Interface {
    std::string name;
    std::string iid;
};

// The interfaces that registration marks for the type library's marshaller: the dual ones and the
// Automation-compatible ones.
std::vector<Interface> MarshalledInterfaces(ITypeLib* library) {
    std::vector<Interface> found;
    for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) {
        ComPtr<ITypeInfo> info;
        if (FAILED(library->GetTypeInfo(i, info.Put()))) throw std::runtime_error("GetTypeInfo");
        TypeAttr attr(info.Get());
        if (!attr) throw std::runtime_error("GetTypeAttr");
        const bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
        const bool automation = attr->typekind == TKIND_INTERFACE && (attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        if (!dual && !automation) continue;
        BSTR name = nullptr;
        if (FAILED(library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr)))
            throw std::runtime_error("GetDocumentation");
        const std::wstring text = name ? std::wstring(name, ::SysStringLen(name)) : std::wstring();
        ::SysFreeString(name);
        found.push_back({Ascii(text), GuidText(attr->guid)});
    }
    return found;
}

// An assembly's version is four decimal numbers of 0 to 65535, separated by dots; the loader refuses
// a manifest whose version is anything else.
std::string AssemblyVersion(const std::wstring& text) {
    const std::string version = Ascii(text);
    std::vector<std::string> numbers(1);
    for (char c : version) {
        if (c == '.')
            numbers.emplace_back();
        else
            numbers.back() += c;
    }
    const auto valid = [](const std::string& number) {
        return !number.empty() && number.size() <= 5 && number.find_first_not_of("0123456789") == std::string::npos &&
               std::stoul(number) <= 65535;
    };
    if (numbers.size() != 4 || !std::all_of(numbers.begin(), numbers.end(), valid))
        throw std::runtime_error("VERSION is not an assembly's version (four numbers, as 1.0.0.0)");
    return version;
}

std::string Manifest(ITypeLib* library, const std::string& version) {
    TLIBATTR* lib = nullptr;
    if (FAILED(library->GetLibAttr(&lib))) throw std::runtime_error("GetLibAttr");
    const TLIBATTR attr = *lib;
    library->ReleaseTLibAttr(lib);
    if (attr.guid != LIBID_Kiv || attr.wMajorVerNum != reg::kTypeLibMajor || attr.wMinorVerNum != reg::kTypeLibMinor)
        throw std::runtime_error("the module's type library is not the one that registration names");

    const std::string tlbid = GuidText(LIBID_Kiv);
    const std::string architecture = sizeof(void*) == 8 ? "amd64" : "x86";
    std::string xml;
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
    xml += "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n";
    xml += "  <assemblyIdentity type=\"win32\" name=\"KIVDRAW\" version=\"" + version +
           "\" processorArchitecture=\"" + architecture + "\"/>\r\n";
    xml += "  <file name=\"KIVDRAW.OCX\">\r\n";
    xml += "    <typelib tlbid=\"" + tlbid + "\" version=\"" + Version(reg::kTypeLibMajor, reg::kTypeLibMinor) +
           "\" helpdir=\"\"";
    if (const std::string flags = LibraryFlags(attr.wLibFlags); !flags.empty()) xml += " flags=\"" + flags + "\"";
    xml += "/>\r\n";
    for (const reg::ClassInfo& info : reg::kClasses) {
        const bool control = *info.clsid == CLSID_KivCtl;
        xml += "    <comClass clsid=\"" + GuidText(*info.clsid) + "\" description=\"" + Ascii(info.name) +
               "\" threadingModel=\"" + Ascii(reg::kThreadingModel) + "\" tlbid=\"" + tlbid + "\"";
        if (!control) {
            xml += "/>\r\n";
            continue;
        }
        // Registration writes the misc status for the content aspect, and 0 for every other.
        xml += " progid=\"" + Ascii(reg::kProgIdVersion) + "\" miscStatusContent=\"" +
               MiscStatusNames(reg::kMiscStatus) + "\">\r\n";
        xml += "      <progid>" + Ascii(reg::kProgId) + "</progid>\r\n";
        xml += "    </comClass>\r\n";
    }
    xml += "  </file>\r\n";
    for (const Interface& item : MarshalledInterfaces(library)) {
        xml += "  <comInterfaceExternalProxyStub name=\"" + item.name + "\" iid=\"" + item.iid + "\" tlbid=\"" +
               tlbid + "\" proxyStubClsid32=\"" + Ascii(kTypeLibraryMarshaller) + "\"/>\r\n";
    }
    xml += "</assembly>\r\n";
    return xml;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: manifest_writer MODULE VERSION OUTPUT\n");
        return 2;
    }
    try {
        // Read the type library without registering it.
        ComPtr<ITypeLib> library;
        if (FAILED(::LoadTypeLibEx(argv[1], REGKIND_NONE, library.Put()))) throw std::runtime_error("no type library in MODULE");
        const std::string xml = Manifest(library.Get(), AssemblyVersion(argv[2]));
        std::ofstream out(std::filesystem::path(argv[3]), std::ios::binary | std::ios::trunc);
        out << xml;
        out.close();
        if (!out) throw std::runtime_error("OUTPUT cannot be written");
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "manifest_writer: %s\n", error.what());
        return 1;
    }
}
