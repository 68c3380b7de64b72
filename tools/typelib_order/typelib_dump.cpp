// typelib_dump: prints a type library as plain text in a stable form, so that two libraries
// (for instance widl's output and the one typelib_order rewrote from it) can be compared with diff.
//
// Usage: typelib_dump.exe LIB.tlb
//
// Everything is read through the ordinary ITypeLib/ITypeInfo interfaces, i.e. exactly what a client
// of the library sees. Member names and doc strings can only be asked for by member id, and the
// loader answers with the first function that has that id; a property's second accessor therefore
// shows "names: as #N" instead of names of its own.

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Owning pointer for COM interfaces; just enough for this program.
template <class T> class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
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
private:
    BSTR s_ = nullptr;
};

std::string utf8(const wchar_t* s)
{
    if (!s || !*s) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
    return out;
}

// Keeps every item on one line: control characters (widl ends its creator note with a newline)
// are written as \xNN.
std::string escaped(const wchar_t* s)
{
    std::string out;
    for (char c : utf8(s)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(c));
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string quoted(BSTR s) { return "\"" + escaped(s) + "\""; }

std::string hex(unsigned long v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%lX", v);
    return buf;
}

std::string guid_text(const GUID& g)
{
    wchar_t buf[40] = {};
    StringFromGUID2(g, buf, 40);
    return utf8(buf);
}

const char* kind_name(TYPEKIND k)
{
    switch (k) {
    case TKIND_ENUM: return "enum";
    case TKIND_RECORD: return "record";
    case TKIND_MODULE: return "module";
    case TKIND_INTERFACE: return "interface";
    case TKIND_DISPATCH: return "dispinterface";
    case TKIND_COCLASS: return "coclass";
    case TKIND_ALIAS: return "alias";
    case TKIND_UNION: return "union";
    default: return "?";
    }
}

const char* invkind_name(INVOKEKIND k)
{
    switch (k) {
    case INVOKE_FUNC: return "func";
    case INVOKE_PROPERTYGET: return "propget";
    case INVOKE_PROPERTYPUT: return "propput";
    case INVOKE_PROPERTYPUTREF: return "propputref";
    default: return "?";
    }
}

const char* vt_name(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY: return "EMPTY";       case VT_NULL: return "NULL";
    case VT_I2: return "I2";             case VT_I4: return "I4";
    case VT_R4: return "R4";             case VT_R8: return "R8";
    case VT_CY: return "CY";             case VT_DATE: return "DATE";
    case VT_BSTR: return "BSTR";         case VT_DISPATCH: return "DISPATCH";
    case VT_ERROR: return "ERROR";       case VT_BOOL: return "BOOL";
    case VT_VARIANT: return "VARIANT";   case VT_UNKNOWN: return "UNKNOWN";
    case VT_DECIMAL: return "DECIMAL";   case VT_I1: return "I1";
    case VT_UI1: return "UI1";           case VT_UI2: return "UI2";
    case VT_UI4: return "UI4";           case VT_I8: return "I8";
    case VT_UI8: return "UI8";           case VT_INT: return "INT";
    case VT_UINT: return "UINT";         case VT_VOID: return "VOID";
    case VT_HRESULT: return "HRESULT";   case VT_PTR: return "PTR";
    case VT_SAFEARRAY: return "SAFEARRAY"; case VT_CARRAY: return "CARRAY";
    case VT_USERDEFINED: return "USERDEFINED"; case VT_LPSTR: return "LPSTR";
    case VT_LPWSTR: return "LPWSTR";
    default: return nullptr;
    }
}

// Name of a referenced type, qualified with the library it lives in, so that a reference into
// stdole2 is told apart from one into the library itself.
std::string ref_name(ITypeInfo* owner, HREFTYPE href)
{
    Ptr<ITypeInfo> ref;
    if (FAILED(owner->GetRefTypeInfo(href, ref.put()))) return "<bad hreftype " + hex(href) + ">";
    Bstr name, lib_name;
    ref->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
    Ptr<ITypeLib> lib;
    UINT index = 0;
    if (SUCCEEDED(ref->GetContainingTypeLib(lib.put(), &index)))
        lib->GetDocumentation(-1, lib_name.put(), nullptr, nullptr, nullptr);
    std::string kind = "?";
    TYPEATTR* ta = nullptr;
    if (SUCCEEDED(ref->GetTypeAttr(&ta))) {
        kind = kind_name(ta->typekind);
        ref->ReleaseTypeAttr(ta);
    }
    return utf8(lib_name.get()) + "." + utf8(name.get()) + "(" + kind + ")";
}

std::string type_text(ITypeInfo* owner, const TYPEDESC& td)
{
    const VARTYPE base = td.vt & VT_TYPEMASK;
    std::string s;
    if (td.vt & VT_BYREF) s += "BYREF|";
    if (td.vt & VT_ARRAY) s += "ARRAY|";
    if (td.vt & VT_VECTOR) s += "VECTOR|";
    const char* n = vt_name(base);
    s += n ? n : "VT" + std::to_string(base);
    switch (base) {
    case VT_PTR:
    case VT_SAFEARRAY:
        return s + " -> " + type_text(owner, *td.lptdesc);
    case VT_CARRAY: {
        s += "[";
        for (USHORT i = 0; i < td.lpadesc->cDims; ++i)
            s += (i ? "," : "") + std::to_string(td.lpadesc->rgbounds[i].lLbound) + ":" +
                 std::to_string(td.lpadesc->rgbounds[i].cElements);
        return s + "] -> " + type_text(owner, td.lpadesc->tdescElem);
    }
    case VT_USERDEFINED:
        return s + " " + ref_name(owner, td.hreftype);
    default:
        return s;
    }
}

std::string variant_text(const VARIANT& v)
{
    VARIANT text;
    VariantInit(&text);
    std::string s = std::string(vt_name(v.vt) ? vt_name(v.vt) : "VT?") + ":";
    // mingw-w64 declares the source argument without const (the Windows SDK has it const).
    if (SUCCEEDED(VariantChangeTypeEx(&text, const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0, VT_BSTR)))
        s += escaped(text.bstrVal);
    else s += "<unprintable>";
    VariantClear(&text);
    return s;
}

std::string param_text(ITypeInfo* owner, const ELEMDESC& e)
{
    std::string s = type_text(owner, e.tdesc) + " flags=" + hex(e.paramdesc.wParamFlags);
    if ((e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
        s += " default=" + variant_text(e.paramdesc.pparamdescex->varDefaultValue);
    return s;
}

// Custom data of an ITypeInfo2 or ITypeLib2, as "{guid}=value" entries sorted by GUID text (the
// order in which a library hands them out carries no meaning and differs between writers).
template <class T> std::string cust_text(T* obj)
{
    CUSTDATA cd = {};
    if (!obj || FAILED(obj->GetAllCustData(&cd))) return "n/a";
    std::vector<std::string> items;
    for (DWORD i = 0; i < cd.cCustData; ++i)
        items.push_back(guid_text(cd.prgCustData[i].guid) + "=" + variant_text(cd.prgCustData[i].varValue));
    ClearCustData(&cd);
    std::sort(items.begin(), items.end());
    std::string s = "[";
    for (size_t i = 0; i < items.size(); ++i) s += (i ? " " : "") + items[i];
    return s + "]";
}

bool dump_view(ITypeInfo* ti, const char* view)
{
    TYPEATTR* ta = nullptr;
    if (FAILED(ti->GetTypeAttr(&ta))) { std::printf("  <GetTypeAttr failed>\n"); return false; }
    Bstr name, doc, help_file;
    DWORD help_ctx = 0;
    ti->GetDocumentation(MEMBERID_NIL, name.put(), doc.put(), &help_ctx, help_file.put());
    Ptr<ITypeInfo2> ti2;
    ti->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(ti2.put()));

    std::printf("  view %s: kind=%s flags=%s version=%u.%u guid=%s lcid=%s\n", view,
                kind_name(ta->typekind), hex(ta->wTypeFlags).c_str(), ta->wMajorVerNum,
                ta->wMinorVerNum, guid_text(ta->guid).c_str(), hex(ta->lcid).c_str());
    std::printf("    doc=%s helpctx=%lu helpfile=%s custdata=%s\n", quoted(doc.get()).c_str(),
                help_ctx, quoted(help_file.get()).c_str(), cust_text(ti2.get()).c_str());
    std::printf("    funcs=%u vars=%u impltypes=%u cbSizeVft=%u cbSizeInstance=%lu cbAlignment=%u\n",
                ta->cFuncs, ta->cVars, ta->cImplTypes, ta->cbSizeVft, ta->cbSizeInstance,
                ta->cbAlignment);
    if (ta->typekind == TKIND_ALIAS)
        std::printf("    alias of %s\n", type_text(ti, ta->tdescAlias).c_str());

    for (UINT i = 0; i < ta->cImplTypes; ++i) {
        HREFTYPE href = 0;
        INT flags = 0;
        ti->GetRefTypeOfImplType(i, &href);
        ti->GetImplTypeFlags(i, &flags);
        std::printf("    impl %u: %s implflags=%s\n", i, ref_name(ti, href).c_str(), hex(flags).c_str());
    }

    bool ok = true;
    std::vector<MEMBERID> seen;   // member id of every function so far, by index
    for (UINT i = 0; i < ta->cFuncs; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(ti->GetFuncDesc(i, &fd))) {
            std::printf("    func %u: <GetFuncDesc failed>\n", i);
            seen.push_back(MEMBERID_NIL);
            ok = false;
            continue;
        }
        std::printf("    func %u: memid=%s %s oVft=%d callconv=%d funckind=%d funcflags=%s "
                    "cParams=%d cParamsOpt=%d cScodes=%d\n",
                    i, hex(fd->memid).c_str(), invkind_name(fd->invkind), fd->oVft, fd->callconv,
                    fd->funckind, hex(fd->wFuncFlags).c_str(), fd->cParams, fd->cParamsOpt, fd->cScodes);
        std::printf("      returns %s\n", param_text(ti, fd->elemdescFunc).c_str());

        // GetNames and GetDocumentation answer for the first function with this member id.
        UINT first = i;
        for (UINT j = 0; j < seen.size(); ++j)
            if (seen[j] == fd->memid) { first = j; break; }
        seen.push_back(fd->memid);
        if (first == i) {
            std::vector<BSTR> names(fd->cParams + 1u, nullptr);
            UINT got = 0;
            ti->GetNames(fd->memid, names.data(), static_cast<UINT>(names.size()), &got);
            std::string line;
            for (UINT n = 0; n < got; ++n) {
                line += (n ? " " : "") + utf8(names[n]);
                SysFreeString(names[n]);
            }
            Bstr fdoc;
            DWORD fctx = 0;
            ti->GetDocumentation(fd->memid, nullptr, fdoc.put(), &fctx, nullptr);
            std::printf("      names: %s\n      doc=%s helpctx=%lu\n", line.c_str(),
                        quoted(fdoc.get()).c_str(), fctx);
        } else {
            std::printf("      names: as #%u\n", first);
        }
        for (SHORT p = 0; p < fd->cParams; ++p)
            std::printf("      param %d: %s\n", p, param_text(ti, fd->lprgelemdescParam[p]).c_str());
        ti->ReleaseFuncDesc(fd);
    }

    for (UINT i = 0; i < ta->cVars; ++i) {
        VARDESC* vd = nullptr;
        if (FAILED(ti->GetVarDesc(i, &vd))) {
            std::printf("    var %u: <GetVarDesc failed>\n", i);
            ok = false;
            continue;
        }
        Bstr vname;
        UINT got = 0;
        ti->GetNames(vd->memid, vname.put(), 1, &got);
        std::printf("    var %u: memid=%s name=%s varkind=%d varflags=%s type=%s", i,
                    hex(vd->memid).c_str(), utf8(vname.get()).c_str(), vd->varkind,
                    hex(vd->wVarFlags).c_str(), param_text(ti, vd->elemdescVar).c_str());
        if (vd->varkind == VAR_CONST && vd->lpvarValue)
            std::printf(" value=%s", variant_text(*vd->lpvarValue).c_str());
        std::printf("\n");
        ti->ReleaseVarDesc(vd);
    }

    ti->ReleaseTypeAttr(ta);
    return ok;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: typelib_dump LIB.tlb\n");
        return 2;
    }
    Ptr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(argv[1], REGKIND_NONE, lib.put());
    if (FAILED(hr)) {
        std::fprintf(stderr, "typelib_dump: cannot load %s (hr=0x%08lX)\n", utf8(argv[1]).c_str(),
                     static_cast<unsigned long>(hr));
        return 1;
    }

    TLIBATTR* la = nullptr;
    if (FAILED(lib->GetLibAttr(&la))) {
        std::fprintf(stderr, "typelib_dump: GetLibAttr failed\n");
        return 1;
    }
    Bstr name, doc, help_file;
    DWORD help_ctx = 0;
    lib->GetDocumentation(-1, name.put(), doc.put(), &help_ctx, help_file.put());
    Ptr<ITypeLib2> lib2;
    lib->QueryInterface(IID_ITypeLib2, reinterpret_cast<void**>(lib2.put()));
    std::printf("library %s guid=%s lcid=%s syskind=%d version=%u.%u libflags=%s\n",
                utf8(name.get()).c_str(), guid_text(la->guid).c_str(), hex(la->lcid).c_str(),
                la->syskind, la->wMajorVerNum, la->wMinorVerNum, hex(la->wLibFlags).c_str());
    std::printf("  doc=%s helpctx=%lu helpfile=%s custdata=%s\n", quoted(doc.get()).c_str(), help_ctx,
                quoted(help_file.get()).c_str(), cust_text(lib2.get()).c_str());
    lib->ReleaseTLibAttr(la);

    bool ok = true;
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        Ptr<ITypeInfo> ti;
        Bstr tname;
        lib->GetDocumentation(static_cast<INT>(i), tname.put(), nullptr, nullptr, nullptr);
        std::printf("type %u %s\n", i, utf8(tname.get()).c_str());
        if (FAILED(lib->GetTypeInfo(i, ti.put()))) { std::printf("  <GetTypeInfo failed>\n"); ok = false; continue; }
        ok = dump_view(ti.get(), "main") && ok;

        // A dual interface comes back as its dispatch view; its vtable view hangs off impl type -1.
        TYPEATTR* ta = nullptr;
        if (FAILED(ti->GetTypeAttr(&ta))) continue;   // already reported by dump_view
        const bool dual = ta->typekind == TKIND_DISPATCH && (ta->wTypeFlags & TYPEFLAG_FDUAL);
        ti->ReleaseTypeAttr(ta);
        if (dual) {
            HREFTYPE href = 0;
            Ptr<ITypeInfo> vtable;
            if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &href)) &&
                SUCCEEDED(ti->GetRefTypeInfo(href, vtable.put())))
                ok = dump_view(vtable.get(), "vtable") && ok;
            else { std::printf("  <no vtable view>\n"); ok = false; }
        }
    }
    std::fflush(stdout);
    return ok ? 0 : 1;
}
