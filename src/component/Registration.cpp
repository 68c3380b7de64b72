#include "Registration.h"

#include "ClassRegistry.h"
#include "Module.h"
#include "kiv.h"

#include <objsafe.h>
#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

#if defined(__MINGW32__)
// In oleaut32 and in the Windows SDK's oleauto.h, but not in mingw-w64's headers.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDir);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
#endif

namespace kiv::registration {
namespace {

// A number in decimal, as the registry's texts write it (std::to_wstring would bring a whole printf
// into the module for three numbers).
std::wstring Decimal(unsigned long value) {
    wchar_t digits[12];
    wchar_t* first = digits + 12;
    do *--first = static_cast<wchar_t>(L'0' + value % 10);
    while (value /= 10);
    return std::wstring(first, digits + 12);
}

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
    const std::wstring version = Decimal(kTypeLibMajor) + L"." + Decimal(kTypeLibMinor);
    std::vector<Value> values;
    for (const ClassInfo& info : kClasses) {
        const std::wstring key = L"CLSID\\" + GuidText(*info.clsid);
        values.push_back({key, L"", info.name});
        values.push_back({key + L"\\InprocServer32", L"", path});
        values.push_back({key + L"\\InprocServer32", L"ThreadingModel", kThreadingModel});
        values.push_back({key + L"\\TypeLib", L"", lib});
        values.push_back({key + L"\\Version", L"", version});
    }
    const std::wstring control = L"CLSID\\" + GuidText(CLSID_KivCtl);
    values.push_back({control + L"\\ProgID", L"", kProgIdVersion});
    values.push_back({control + L"\\VersionIndependentProgID", L"", kProgId});
    values.push_back({control + L"\\Control", L"", L""});
    values.push_back({control + L"\\MiscStatus", L"", L"0"});
    values.push_back({control + L"\\MiscStatus\\1", L"", Decimal(kMiscStatus)});
    values.push_back({control + L"\\ToolboxBitmap32", L"", path + L", " + Decimal(kToolboxBitmap)});
    // Safe to initialise from stored data (its IObjectSafety says the same), and nothing more: it is
    // not marked safe for scripting.
    values.push_back({control + L"\\Implemented Categories\\" + GuidText(CATID_SafeForInitializing), L"", L""});
    values.push_back({kProgId, L"", L"KivCtl"});
    values.push_back({std::wstring(kProgId) + L"\\CLSID", L"", GuidText(CLSID_KivCtl)});
    values.push_back({std::wstring(kProgId) + L"\\CurVer", L"", kProgIdVersion});
    values.push_back({kProgIdVersion, L"", L"KivCtl"});
    values.push_back({std::wstring(kProgIdVersion) + L"\\CLSID", L"", GuidText(CLSID_KivCtl)});
    return values;
}

// The keys whose whole trees belong to this build alone: on 64-bit Windows the class keys of a
// 32-bit module live in the 32-bit view of the registry, apart from those of a 64-bit module.
std::vector<std::wstring> ClassKeys() {
    std::vector<std::wstring> keys;
    for (const ClassInfo& info : kClasses) keys.push_back(L"CLSID\\" + GuidText(*info.clsid));
    return keys;
}

// The ProgID keys, which both views share: the other architecture's build may rely on them too.
std::vector<std::wstring> ProgIdKeys() { return {kProgId, kProgIdVersion}; }

HKEY Hive(Scope scope) noexcept { return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Where this scope's classes live, opened directly: HKEY_LOCAL_MACHINE\Software\Classes or
// HKEY_CURRENT_USER\Software\Classes. Never the merged HKEY_CLASSES_ROOT, through which Windows writes
// and deletes in the user's copy of a key whenever the user has one.
class ClassesRoot {
public:
    explicit ClassesRoot(Scope scope) noexcept {
        if (::RegCreateKeyExW(Hive(scope), L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                              nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ClassesRoot(const ClassesRoot&) = delete;
    ClassesRoot& operator=(const ClassesRoot&) = delete;
    ~ClassesRoot() {
        if (key_) ::RegCloseKey(key_);
    }
    HKEY Get() const noexcept { return key_; }

private:
    HKEY key_ = nullptr;
};

// The registry view of the other architecture's build, if this system has one: the 32-bit view
// for a 64-bit module; the 64-bit view for a 32-bit module under WOW64; none on 32-bit Windows.
std::optional<REGSAM> OtherView() noexcept {
    if constexpr (sizeof(void*) == 8) {
        return KEY_WOW64_32KEY;
    } else {
        BOOL wow64 = FALSE;
        if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) return KEY_WOW64_64KEY;
        return std::nullopt;
    }
}

// Whether the other architecture's build has the control registered in this scope.
bool OtherBuildRegistered(Scope scope) {
    const std::optional<REGSAM> view = OtherView();
    if (!view) return false;
    const std::wstring server = L"Software\\Classes\\CLSID\\" + GuidText(CLSID_KivCtl) + L"\\InprocServer32";
    HKEY key = nullptr;
    if (::RegOpenKeyExW(Hive(scope), server.c_str(), 0, KEY_QUERY_VALUE | *view, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

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

// HKEY_CLASSES_ROOT stands for this scope's classes while the type library calls run, since they
// write and delete through HKEY_CLASSES_ROOT themselves. Machine-wide that keeps them out of the
// user's copies of the keys; per user, Windows' RegisterTypeLibForUser writes there by itself, but
// Wine's writes machine-wide, and its UnRegisterTypeLibForUser would remove a machine-wide
// registration of the library.
class ClassesAsRoot {
public:
    explicit ClassesAsRoot(HKEY classes) noexcept
        : active_(classes && ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes) == ERROR_SUCCESS) {}
    ClassesAsRoot(const ClassesAsRoot&) = delete;
    ClassesAsRoot& operator=(const ClassesAsRoot&) = delete;
    ~ClassesAsRoot() {
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
        {
            ClassesAsRoot classes(root.Get());
            LPOLESTR file = const_cast<LPOLESTR>(path.c_str());
            status = scope == Scope::Machine ? ::RegisterTypeLib(library, file, nullptr)
                                             : ::RegisterTypeLibForUser(library, file, nullptr);
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
        for (const std::wstring& key : ClassKeys()) ::RegDeleteTreeW(root.Get(), key.c_str());
        if (!OtherBuildRegistered(scope)) {
            for (const std::wstring& key : ProgIdKeys()) ::RegDeleteTreeW(root.Get(), key.c_str());
        }
        // Nothing registered is nothing to remove. The library's registration keeps the other
        // architecture's entry (win32 beside win64) when there is one.
        ClassesAsRoot classes(root.Get());
        if (scope == Scope::Machine) {
            ::UnRegisterTypeLib(LIBID_Kiv, kTypeLibMajor, kTypeLibMinor, 0, OwnSysKind());
        } else {
            ::UnRegisterTypeLibForUser(LIBID_Kiv, kTypeLibMajor, kTypeLibMinor, 0, OwnSysKind());
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace kiv::registration
