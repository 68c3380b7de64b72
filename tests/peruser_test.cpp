// Per-user registration, as a user without administrator rights runs it:
//     regsvr32 /n /i:user KIVDRAW.OCX      and      regsvr32 /u /n /i:user KIVDRAW.OCX
// The keys go below HKEY_CURRENT_USER\Software\Classes and nowhere else, and are gone again after
// the removal. Wine does not show the user's classes through HKEY_CLASSES_ROOT (Windows does), so
// creation by ProgID is tried with the user's keys copied machine-wide for that moment. The
// machine-wide registration is taken away for the test and put back as it was found. A machine-wide
// registration and removal, in turn, leave the user's own copies of the keys alone.
#include "TestSupport.h"

#include <oleauto.h>

#include <string>
#include <vector>

using namespace kivtest;

namespace {

const wchar_t kUserClasses[] = L"Software\\Classes";

bool KeyExists(HKEY root, const std::wstring& key) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    ::RegCloseKey(opened);
    return true;
}

std::wstring Value(HKEY root, const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t data[1024] = {};
    DWORD size = sizeof(data);
    if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

std::wstring User(const std::wstring& key) { return std::wstring(kUserClasses) + L"\\" + key; }

// regsvr32 of this machine (of the module's architecture: the same as this program's), to its end.
DWORD RunRegsvr32(const std::wstring& options) {
    return RunProgram(L"regsvr32.exe /s " + options + L" \"" + OcxPath() + L"\"", INFINITE).exitCode;
}

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

// The module's machine-wide registration, taken away for a test and put back as it was found.
class MachineRegistrationAside {
public:
    MachineRegistrationAside() {
        wasRegistered_ = KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_KivCtl));
        module_ = ::LoadLibraryW(OcxPath().c_str());
        if (module_) Call("DllUnregisterServer");
    }
    ~MachineRegistrationAside() {
        if (module_) Call(wasRegistered_ ? "DllRegisterServer" : "DllUnregisterServer");
        EXPECT_EQ(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_KivCtl)), wasRegistered_)
            << "the machine-wide registration is as it was";
        if (module_) ::FreeLibrary(module_);
    }
    bool Loaded() const { return module_ != nullptr; }

private:
    void Call(const char* name) {
        auto entry = Proc<EntryPoint>(module_, name);
        EXPECT_TRUE(entry && SUCCEEDED(entry())) << name;
    }
    HMODULE module_ = nullptr;
    bool wasRegistered_ = false;
};

// Copies of the user's keys below the machine's classes, removed again when the copy goes.
class MadeVisibleMachineWide {
public:
    explicit MadeVisibleMachineWide(std::vector<std::wstring> keys) : keys_(std::move(keys)) {
        for (const std::wstring& key : keys_) {
            HKEY from = nullptr;
            HKEY to = nullptr;
            ::RegOpenKeyExW(HKEY_CURRENT_USER, User(key).c_str(), 0, KEY_READ, &from);
            ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to, nullptr);
            EXPECT_EQ(from && to ? ::RegCopyTreeW(from, nullptr, to) : ERROR_INVALID_HANDLE, ERROR_SUCCESS);
            if (from) ::RegCloseKey(from);
            if (to) ::RegCloseKey(to);
        }
    }
    ~MadeVisibleMachineWide() {
        for (const std::wstring& key : keys_) ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    }

private:
    std::vector<std::wstring> keys_;
};

// Keys of the user's own below HKEY_CURRENT_USER\Software\Classes, each with a value that no
// registration writes; removed when the test ends.
class UsersOwnKeys {
public:
    explicit UsersOwnKeys(std::vector<std::wstring> keys) : keys_(std::move(keys)) {
        for (const std::wstring& key : keys_) {
            EXPECT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, User(key).c_str(), L"Mine", REG_SZ, kMark, sizeof(kMark)),
                      ERROR_SUCCESS);
        }
    }
    ~UsersOwnKeys() {
        for (const std::wstring& key : keys_) ::RegDeleteTreeW(HKEY_CURRENT_USER, User(key).c_str());
    }
    // Each key with its value and nothing below it.
    void ExpectUntouched() const {
        for (const std::wstring& key : keys_) {
            SCOPED_TRACE(std::string(key.begin(), key.end()));
            EXPECT_EQ(Value(HKEY_CURRENT_USER, User(key), L"Mine"), kMark);
            HKEY opened = nullptr;
            DWORD subkeys = 99;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, User(key).c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS) {
                ::RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
                ::RegCloseKey(opened);
            }
            EXPECT_EQ(subkeys, 0u) << "nothing written below the user's key";
        }
    }

private:
    static constexpr wchar_t kMark[] = L"the user's own";
    std::vector<std::wstring> keys_;
};

// HKEY_CLASSES_ROOT as Windows shows it to a user who has copies of the keys: writes and deletions
// through it reach the user's copies. Wine does not merge the two, so for this process it stands
// for the user's classes alone while this lives.
class ClassesRootShowsTheUsers {
public:
    ClassesRootShowsTheUsers() {
        ::RegOpenKeyExW(HKEY_CURRENT_USER, kUserClasses, 0, KEY_ALL_ACCESS, &classes_);
        EXPECT_EQ(::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes_), ERROR_SUCCESS);
    }
    ~ClassesRootShowsTheUsers() {
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        if (classes_) ::RegCloseKey(classes_);
    }

private:
    HKEY classes_ = nullptr;
};

class PerUser : public ComTest {};

TEST_F(PerUser, MachineWideRegistrationLeavesTheUsersCopiesAlone) {
    MachineRegistrationAside aside;
    ASSERT_TRUE(aside.Loaded());
    const std::wstring control = L"CLSID\\" + GuidText(CLSID_KivCtl);
    const std::wstring library = L"TypeLib\\" + GuidText(LIBID_Kiv);
    UsersOwnKeys own({control, L"Kiv.KivCtl", library});
    HMODULE module = ::LoadLibraryW(OcxPath().c_str());
    ASSERT_NE(module, nullptr);
    const auto entry = [&](const char* name) { return Proc<EntryPoint>(module, name); };
    HKEY machine = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_READ, &machine), ERROR_SUCCESS);

    {
        ClassesRootShowsTheUsers merged;
        EXPECT_EQ(entry("DllRegisterServer")(), S_OK);
    }
    own.ExpectUntouched();
    const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
    EXPECT_TRUE(SameText(Value(machine, control + L"\\InprocServer32"), OcxPath()));
    EXPECT_EQ(Value(machine, L"Kiv.KivCtl\\CLSID"), GuidText(CLSID_KivCtl));
    EXPECT_TRUE(SameText(Value(machine, library + L"\\15.0\\0\\" + platform), OcxPath()));

    {
        ClassesRootShowsTheUsers merged;
        EXPECT_EQ(entry("DllUnregisterServer")(), S_OK);
    }
    own.ExpectUntouched();
    EXPECT_FALSE(KeyExists(machine, control));
    EXPECT_FALSE(KeyExists(machine, L"Kiv.KivCtl"));
    EXPECT_FALSE(KeyExists(machine, library + L"\\15.0\\0\\" + platform));
    ::RegCloseKey(machine);
    ::FreeLibrary(module);
}

TEST_F(PerUser, RegistrationForTheUserWritesItsKeysThereAndRemovesThem) {
    MachineRegistrationAside aside;
    ASSERT_TRUE(aside.Loaded());
    const std::wstring control = L"CLSID\\" + GuidText(CLSID_KivCtl);
    const std::wstring library = L"TypeLib\\" + GuidText(LIBID_Kiv);
    ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, control)) << "no machine-wide registration during the test";

    ASSERT_EQ(RunRegsvr32(L"/n /i:user"), 0u);

    // The control, as a container finds it.
    const std::wstring path = OcxPath();
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(control)), L"KivCtl");
    EXPECT_TRUE(SameText(Value(HKEY_CURRENT_USER, User(control + L"\\InprocServer32")), path));
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(control + L"\\InprocServer32"), L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(control + L"\\ProgID")), L"Kiv.KivCtl.1");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(control + L"\\VersionIndependentProgID")), L"Kiv.KivCtl");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, User(control + L"\\Control")));
    EXPECT_EQ(std::stoul(Value(HKEY_CURRENT_USER, User(control + L"\\MiscStatus\\1"))), 0x24591ul);
    EXPECT_TRUE(SameText(Value(HKEY_CURRENT_USER, User(control + L"\\ToolboxBitmap32")), path + L", 30000"));
    EXPECT_TRUE(SameText(Value(HKEY_CURRENT_USER, User(control + L"\\TypeLib")), GuidText(LIBID_Kiv)));
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(L"CLSID\\" + GuidText(CLSID_KivFactory))), L"KivFactory");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(L"CLSID\\" + GuidText(CLSID_KivBitmap))), L"KivBitmap");
    // The ProgIDs.
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(L"Kiv.KivCtl\\CLSID")), GuidText(CLSID_KivCtl));
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(L"Kiv.KivCtl\\CurVer")), L"Kiv.KivCtl.1");
    EXPECT_EQ(Value(HKEY_CURRENT_USER, User(L"Kiv.KivCtl.1\\CLSID")), GuidText(CLSID_KivCtl));
    // The type library, version 21.0 (written in hex), for this module's architecture.
    const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
    EXPECT_TRUE(SameText(Value(HKEY_CURRENT_USER, User(library + L"\\15.0\\0\\" + platform)), path));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, User(L"Interface\\" + GuidText(IID__KivCtl))));

    // Nothing machine-wide: a per-user registration needs no rights over the machine's classes.
    HKEY machine = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_READ, &machine), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(machine, control));
    EXPECT_FALSE(KeyExists(machine, L"Kiv.KivCtl"));
    EXPECT_FALSE(KeyExists(machine, library)) << "the type library too is registered for the user only";
    ::RegCloseKey(machine);

    // Creation by ProgID, with the user's keys where this platform looks for them.
    {
        MadeVisibleMachineWide visible({control, L"Kiv.KivCtl", L"Kiv.KivCtl.1"});
        CLSID clsid = GUID_NULL;
        ASSERT_EQ(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_KivCtl);
        ComPtr<_KivCtl> made;
        ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__KivCtl,
                                     reinterpret_cast<void**>(made.Put())),
                  S_OK);
        ComPtr<_KivFactory> registry = BitmapsOf(made.Get());
        ASSERT_TRUE(registry);
        ComPtr<_KivBitmap> surface = Create(registry.Get(), L"per user", 8, 8);
        ASSERT_TRUE(surface);
        EXPECT_EQ(CountOf(registry.Get()), 1);
    }
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, control)) << "the copies are gone";

    ASSERT_EQ(RunRegsvr32(L"/u /n /i:user"), 0u);
    for (const std::wstring& key :
         {control, L"CLSID\\" + GuidText(CLSID_KivFactory), L"CLSID\\" + GuidText(CLSID_KivBitmap),
          std::wstring(L"Kiv.KivCtl"), std::wstring(L"Kiv.KivCtl.1"), library,
          L"Interface\\" + GuidText(IID__KivCtl), L"Interface\\" + GuidText(IID__KivFactory),
          L"Interface\\" + GuidText(IID__KivBitmap)}) {
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, User(key))) << "left behind: " << ::testing::PrintToString(
                                                                    std::string(key.begin(), key.end()));
    }
}

}  // namespace
