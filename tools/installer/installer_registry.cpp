// installer_registry: writes what the module's self-registration puts in the registry as WiX source,
// for the Windows Installer packages, which write it through their Registry table: a package writes
// exactly what regsvr32 writes, and runs none of the module's code to do it.
//
// Usage: installer_registry.exe MODULE FOLDER
//
// It loads MODULE, points HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT at empty
// scratch keys of its own (RegOverridePredefKey), and calls DllRegisterServer; every value and
// every empty key then found below the scratch keys becomes a RegistryValue of the same root, in
// FOLDER\registry-machine.wxi or, when it is one of the values that the two architectures' builds
// share (see Shared below), in FOLDER\registry-machine-shared.wxi. Then the same again, from fresh
// scratch keys, with DllInstall(TRUE, L"user"), the per-user registration (regsvr32 /i:user), into
// registry-user.wxi and registry-user-shared.wxi. Nothing is left in the real registry.
//
// The packages put each file's values into a component of their own: the shared ones into one
// component that every package writing them holds alike, so that Windows Installer counts its
// installations and leaves the values to the last package that uses them. The first value of each
// file carries KeyPath="$(var.RegistryKeyPath)", for the components whose key path is a registry
// value (the shared ones, and every per-user one).
//
// The module's path becomes the installer's reference to its installed file, [#$(var.ModuleFile)],
// wherever a value holds it (InprocServer32, ToolboxBitmap32's "path, 30000", the type library's
// path), and its folder the installed folder, [$(var.ModuleFolder)] (the type library's help folder);
// the package's source defines both names. Built for the module's architecture and run under it,
// it sees what regsvr32 of that architecture writes.
// Exit code 0 on success; otherwise a message on stderr and a non-zero code.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

// One value as the registry holds it, below one of the three roots.
struct Entry {
    std::wstring root;  // HKLM, HKCU or HKCR, as WiX names them
    std::wstring key;
    std::wstring name;  // empty: the key's default value
    DWORD type = REG_NONE;
    std::wstring text;  // REG_SZ
    DWORD number = 0;   // REG_DWORD
    bool keyOnly = false;  // a key with no values and no subkeys
};

class Key {
public:
    Key() = default;
    explicit Key(HKEY key) : key_(key) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_) ::RegCloseKey(key_);
    }
    HKEY Get() const { return key_; }
    HKEY* Put() { return &key_; }

private:
    HKEY key_ = nullptr;
};

void Check(LSTATUS status, const char* what) {
    if (status != ERROR_SUCCESS) throw std::runtime_error(what);
}

// Every value below `key`, depth first; a key with neither values nor subkeys is an entry of its own.
void Collect(HKEY key, const std::wstring& root, const std::wstring& path, std::vector<Entry>& out) {
    DWORD subkeys = 0, values = 0, longestName = 0, longestData = 0;
    Check(::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &longestName,
                             &longestData, nullptr, nullptr),
          "RegQueryInfoKey");
    if (subkeys == 0 && values == 0 && !path.empty()) out.push_back({root, path, L"", REG_NONE, L"", 0, true});
    for (DWORD i = 0; i < values; ++i) {
        std::wstring name(longestName + 1, L'\0');
        std::vector<BYTE> data(longestData + sizeof(wchar_t));
        DWORD nameLength = longestName + 1, size = longestData, type = 0;
        Check(::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size), "RegEnumValue");
        name.resize(nameLength);
        Entry entry{root, path, name, type, L"", 0, false};
        if (type == REG_SZ) {
            entry.text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
            while (!entry.text.empty() && entry.text.back() == L'\0') entry.text.pop_back();
        } else if (type == REG_DWORD && size == sizeof(DWORD)) {
            std::memcpy(&entry.number, data.data(), sizeof(DWORD));
        } else {
            // wixl writes other types wrongly or not at all (an expandable string as a plain one):
            // better no package than a wrong one.
            throw std::runtime_error("registration writes a value of a type other than REG_SZ and REG_DWORD");
        }
        out.push_back(entry);
    }
    for (DWORD i = 0; i < subkeys; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        Check(::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr), "RegEnumKeyEx");
        Key child;
        Check(::RegOpenKeyExW(key, name, 0, KEY_READ, child.Put()), "RegOpenKeyEx");
        Collect(child.Get(), root, path.empty() ? name : path + L"\\" + name, out);
    }
}

// What `registerModule` writes, run with the registry's three roots pointed at scratch keys below `scratch`.
template <typename Register>
std::vector<Entry> Harvest(HKEY scratch, Register registerModule) {
    struct Root {
        HKEY predefined;
        const wchar_t* name;
    };
    const Root roots[] = {{HKEY_LOCAL_MACHINE, L"HKLM"}, {HKEY_CURRENT_USER, L"HKCU"}, {HKEY_CLASSES_ROOT, L"HKCR"}};
    Key keys[3];
    for (int i = 0; i < 3; ++i) {
        ::RegDeleteTreeW(scratch, roots[i].name);
        Check(::RegCreateKeyExW(scratch, roots[i].name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, keys[i].Put(), nullptr),
              "RegCreateKeyEx");
    }
    for (int i = 0; i < 3; ++i) Check(::RegOverridePredefKey(roots[i].predefined, keys[i].Get()), "RegOverridePredefKey");
    const HRESULT status = registerModule();
    for (const Root& root : roots) ::RegOverridePredefKey(root.predefined, nullptr);
    if (FAILED(status)) throw std::runtime_error("the module's registration failed");
    std::vector<Entry> entries;
    for (int i = 0; i < 3; ++i) Collect(keys[i].Get(), roots[i].name, L"", entries);
    if (entries.empty()) throw std::runtime_error("the module's registration wrote nothing");
    return entries;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return ::towlower(c); });
    return text;
}

// Whether a value is one that the 32-bit and the 64-bit build both write, alike, where both registry
// views see it. Windows 7 and later keep one copy of HKEY_LOCAL_MACHINE\Software\Classes and of the
// user's Software\Classes for both views, except the keys below it that each view has for itself (the
// classes, the interfaces, the media keys); the type library's registration is shared, but the path
// of each architecture's library (TypeLib\{id}\version\locale\win32 or win64) is that build's own.
bool Shared(const Entry& entry) {
    const std::wstring classes = L"software\\classes\\";
    std::wstring key = Lower(entry.key);
    if (entry.root == L"HKCR") key = classes + key;
    if (key.rfind(classes, 0) != 0) return false;
    key.erase(0, classes.size());
    const std::wstring first = key.substr(0, key.find(L'\\'));
    for (const wchar_t* own :
         {L"clsid", L"interface", L"directshow", L"media type", L"mediafoundation", L"wow6432node"}) {
        if (first == own) return false;
    }
    return !(first == L"typelib" && std::count(key.begin(), key.end(), L'\\') >= 4);
}

// Replaces every occurrence of `what` (in any case, as Windows compares paths) by `with`.
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& what, const std::wstring& with) {
    const std::wstring lower = Lower(text), needle = Lower(what);
    std::wstring out;
    size_t from = 0;
    for (size_t at; (at = lower.find(needle, from)) != std::wstring::npos; from = at + what.size())
        out += text.substr(from, at - from) + with;
    return out + text.substr(from);
}

// A text as the Registry table's formatted columns carry it: brackets are the installer's own.
std::wstring Formatted(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'[') out += L"[\\[]";
        else if (c == L']') out += L"[\\]]";
        else out += c;
    }
    return out;
}

std::string Xml(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += "&amp;"; break;
        case L'<': out += "&lt;"; break;
        case L'>': out += "&gt;"; break;
        case L'"': out += "&quot;"; break;
        default:
            if (c < 0x20 || c > 0x7E) throw std::runtime_error("a registry text that is not plain ASCII");
            out += static_cast<char>(c);
        }
    }
    return out;
}

// A value that names the module or its folder names the installed ones. The folder comes without
// a trailing backslash (the type library's help folder); the installer's folder ends with one.
std::string InstalledText(const std::wstring& text, const std::wstring& module, const std::wstring& folder) {
    const std::wstring file = L"\x1", dir = L"\x2";  // stand-ins, through the escaping
    std::wstring out = ReplaceAll(text, module, file);
    out = ReplaceAll(out, folder + L"\\", dir);
    if (Lower(out) == Lower(folder)) out = dir;
    if (Lower(out).find(Lower(folder)) != std::wstring::npos)
        throw std::runtime_error("a value names the module's folder in a way the package cannot follow");
    out = Formatted(out);
    std::string xml;
    for (wchar_t c : out) {
        if (c == file[0]) xml += "[#$(var.ModuleFile)]";
        else if (c == dir[0]) xml += "[$(var.ModuleFolder)]";
        else xml += Xml(std::wstring(1, c));
    }
    return xml;
}

void Write(const std::filesystem::path& output, const std::vector<Entry>& entries, const std::wstring& module,
           const std::wstring& folder, const std::string& what) {
    if (entries.empty()) throw std::runtime_error("no values for " + output.filename().string());
    std::string wxs = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    wxs += "<!-- Written by the build (tools/installer): " + what + ". -->\r\n<Include>\r\n";
    bool keyPath = true;
    for (const Entry& entry : entries) {
        const std::string common = "Root=\"" + Xml(entry.root) + "\" Key=\"" + Xml(Formatted(entry.key)) + "\"";
        if (entry.keyOnly) {
            // A key that registration makes without a value: made on install, removed on uninstall.
            wxs += "  <RegistryValue " + common + " Name=\"*\" Type=\"string\"/>\r\n";
            continue;
        }
        std::string line = "  <RegistryValue " + common;
        if (!entry.name.empty()) line += " Name=\"" + Xml(Formatted(entry.name)) + "\"";
        if (entry.type == REG_DWORD) {
            line += " Type=\"integer\" Value=\"" + std::to_string(static_cast<long>(static_cast<LONG>(entry.number))) + "\"";
        } else {
            line += " Type=\"string\" Value=\"" + InstalledText(entry.text, module, folder) + "\"";
        }
        if (keyPath) line += " KeyPath=\"$(var.RegistryKeyPath)\"";
        keyPath = false;
        wxs += line + "/>\r\n";
    }
    wxs += "</Include>\r\n";
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << wxs;
    out.close();
    if (!out) throw std::runtime_error("an output cannot be written");
}

// One registration's values, sorted, into FOLDER\registry-SCOPE.wxi and the shared ones into
// FOLDER\registry-SCOPE-shared.wxi.
void WriteScope(const std::filesystem::path& folder, const std::string& scope, std::vector<Entry> entries,
                const std::wstring& module, const std::wstring& moduleFolder, const std::string& entryPoint) {
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::make_tuple(a.root, Lower(a.key), Lower(a.name)) < std::make_tuple(b.root, Lower(b.key), Lower(b.name));
    });
    std::vector<Entry> own, shared;
    for (const Entry& entry : entries) (Shared(entry) ? shared : own).push_back(entry);
    Write(folder / ("registry-" + scope + ".wxi"), own, module, moduleFolder,
          "what the module's " + entryPoint + " writes for its own architecture");
    Write(folder / ("registry-" + scope + "-shared.wxi"), shared, module, moduleFolder,
          "what the module's " + entryPoint + " writes alike for both architectures");
}

template <typename Function>
Function EntryPointOf(HMODULE module, const char* name) {
    auto address = ::GetProcAddress(module, name);
    if (!address) throw std::runtime_error(std::string("the module exports no ") + name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: installer_registry MODULE FOLDER\n");
        return 2;
    }
    HKEY scratch = nullptr;
    const std::wstring scratchName = L"Software\\KivDraw installer registry " + std::to_wstring(::GetCurrentProcessId());
    try {
        const HMODULE module = ::LoadLibraryW(argv[1]);
        if (!module) throw std::runtime_error("MODULE cannot be loaded");
        wchar_t path[MAX_PATH];
        const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
        if (length == 0 || length == MAX_PATH) throw std::runtime_error("GetModuleFileName");
        const std::wstring modulePath(path, length);
        const std::wstring folder = modulePath.substr(0, modulePath.find_last_of(L'\\'));

        using Plain = HRESULT(STDAPICALLTYPE*)();
        using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
        const auto registerServer = EntryPointOf<Plain>(module, "DllRegisterServer");
        const auto install = EntryPointOf<Install>(module, "DllInstall");

        Check(::RegCreateKeyExW(HKEY_CURRENT_USER, scratchName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch,
                                nullptr),
              "the scratch key cannot be made");
        const std::filesystem::path output(argv[2]);
        WriteScope(output, "machine", Harvest(scratch, [&] { return registerServer(); }), modulePath, folder,
                   "DllRegisterServer");
        WriteScope(output, "user", Harvest(scratch, [&] { return install(TRUE, L"user"); }), modulePath, folder,
                   "DllInstall(TRUE, \"user\")");
        ::RegCloseKey(scratch);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchName.c_str());
        return 0;
    } catch (const std::exception& error) {
        if (scratch) {
            ::RegCloseKey(scratch);
            ::RegDeleteTreeW(HKEY_CURRENT_USER, scratchName.c_str());
        }
        std::fprintf(stderr, "installer_registry: %s\n", error.what());
        return 1;
    }
}
