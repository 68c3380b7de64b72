#include "Registration.h"

#include "ClassRegistry.h"
#include "Module.h"
#include "kiv.h"

#include <oleauto.h>

#include <string>
#include <vector>

#if defined(__MINGW32__)
// In oleaut32 and in the Windows SDK's oleauto.h, but not in mingw-w64's headers.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDir);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
#endif

namespace kiv::registration {
namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

struct Value {
    std::wstring key;   // below the classes root
    std::wstring name;  // empty: the key's default value
    std::wstring data;
};

std::vector<Value> Values(const std::wstring& path) {
    const std::wstring lib = GuidText(LIBID_Kiv);
    std::vector<Value> values;
    for (const ClassInfo& info : kClasses) {
        const std::wstring key = L"CLSID\\" + GuidText(*info.clsid);
        values.push_back({key, L"", info.name});
        values.push_back({key + L"\\InprocServer32", L"", path});
        values.push_back({key + L"\\InprocServer32", L"ThreadingModel", kThreadingModel});
        values.push_back({key + L"\\TypeLib", L"", lib});
        values.push_back({key + L"\\Version", L"", kTypeLibVersion});
    }
    const std::wstring control = L"CLSID\\" + GuidText(CLSID_KivCtl);
    values.push_back({control + L"\\ProgID", L"", kProgIdVersion});
    values.push_back({control + L"\\VersionIndependentProgID", L"", kProgId});
    values.push_back({control + L"\\Control", L"", L""});
    values.push_back({control + L"\\MiscStatus", L"", L"0"});
    values.push_back({control + L"\\MiscStatus\\1", L"", kMiscStatus});
    values.push_back({control + L"\\ToolboxBitmap32", L"", path + L", " + std::to_wstring(kToolboxBitmap)});
    values.push_back({kProgId, L"", L"KivCtl"});
    values.push_back({std::wstring(kProgId) + L"\\CLSID", L"", GuidText(CLSID_KivCtl)});
    values.push_back({std::wstring(kProgId) + L"\\CurVer", L"", kProgIdVersion});
    values.push_back({kProgIdVersion, L"", L"KivCtl"});
    values.push_back({std::wstring(kProgIdVersion) + L"\\CLSID", L"", GuidText(CLSID_KivCtl)});
    return values;
}

// The keys whose whole trees this module owns.
std::vector<std::wstring> OwnedKeys() {
    std::vector<std::wstring> keys;
    for (const ClassInfo& info : kClasses) keys.push_back(L"CLSID\\" + GuidText(*info.clsid));
    keys.push_back(kProgId);
    keys.push_back(kProgIdVersion);
    return keys;
}

// Where the classes live: HKEY_CLASSES_ROOT, or the current user's Software\Classes.
class ClassesRoot {
public:
    explicit ClassesRoot(Scope scope) {
        if (scope == Scope::Machine) {
            key_ = HKEY_CLASSES_ROOT;
        } else if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     &key_, nullptr) == ERROR_SUCCESS) {
            owned_ = true;
        } else {
            key_ = nullptr;
        }
    }
    ClassesRoot(const ClassesRoot&) = delete;
    ClassesRoot& operator=(const ClassesRoot&) = delete;
    ~ClassesRoot() {
        if (owned_) ::RegCloseKey(key_);
    }
    HKEY Get() const noexcept { return key_; }

private:
    HKEY key_ = nullptr;
    bool owned_ = false;
};

HRESULT Write(HKEY root, const Value& value) {
    HKEY key = nullptr;
    LSTATUS status = ::RegCreateKeyExW(root, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = ::RegSetValueExW(key, value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(value.data.c_str()),
                              static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

SYSKIND OwnSysKind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

// For the type library calls of a per-user registration, HKEY_CLASSES_ROOT stands for the user's
// classes. Windows' RegisterTypeLibForUser writes there by itself; Wine's writes machine-wide, and
// its UnRegisterTypeLibForUser would remove a machine-wide registration of the library.
class UserClassesAsRoot {
public:
    explicit UserClassesAsRoot(HKEY userClasses) noexcept
        : active_(userClasses && ::RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses) == ERROR_SUCCESS) {}
    UserClassesAsRoot(const UserClassesAsRoot&) = delete;
    UserClassesAsRoot& operator=(const UserClassesAsRoot&) = delete;
    ~UserClassesAsRoot() {
        if (active_) ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }

private:
    bool active_;
};

}  // namespace

HRESULT Register(Scope scope) noexcept {
    try {
        ClassesRoot root(scope);
        if (!root.Get()) return SELFREG_E_CLASS;
        const std::wstring path = module::Path();
        ITypeLib* library = module::TypeLibrary();
        if (!library) return SELFREG_E_TYPELIB;
        HRESULT status = S_OK;
        if (scope == Scope::Machine) {
            status = ::RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
        } else {
            UserClassesAsRoot user(root.Get());
            status = ::RegisterTypeLibForUser(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
        }
        if (FAILED(status)) return SELFREG_E_TYPELIB;
        for (const Value& value : Values(path)) {
            if (FAILED(Write(root.Get(), value))) return SELFREG_E_CLASS;
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Unregister(Scope scope) noexcept {
    try {
        ClassesRoot root(scope);
        if (!root.Get()) return SELFREG_E_CLASS;
        for (const std::wstring& key : OwnedKeys()) ::RegDeleteTreeW(root.Get(), key.c_str());
        // Nothing registered is nothing to remove.
        if (scope == Scope::Machine) {
            ::UnRegisterTypeLib(LIBID_Kiv, kTypeLibMajor, kTypeLibMinor, 0, OwnSysKind());
        } else {
            UserClassesAsRoot user(root.Get());
            ::UnRegisterTypeLibForUser(LIBID_Kiv, kTypeLibMajor, kTypeLibMinor, 0, OwnSysKind());
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace kiv::registration
