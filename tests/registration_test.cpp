// The built module as a COM server: its exports and imports, self-registration (the keys written,
// registering twice, unregistering, registering again), the class objects and DllCanUnloadNow, also
// with the module loaded and freed by COM.
// The suite's register_module step registers the module machine-wide before this program runs; the
// program leaves it registered again, whatever happens in between.
#include "PeImage.h"
#include "TestSupport.h"

#include <objsafe.h>
#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

using namespace kivtest;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgumentsFn = HRESULT(STDAPICALLTYPE*)();

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// ---- the registry, as this process sees HKEY_CLASSES_ROOT ----------------------------------

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// A string value of a key below HKEY_CLASSES_ROOT (the default value when name is null).
std::optional<std::wstring> ReadString(const std::wstring& path, const wchar_t* name = nullptr) {
    DWORD bytes = 0;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    text.resize(bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

const std::wstring kCtl = L"CLSID\\" + GuidText(CLSID_KivCtl);
const std::wstring kFactory = L"CLSID\\" + GuidText(CLSID_KivFactory);
const std::wstring kBitmap = L"CLSID\\" + GuidText(CLSID_KivBitmap);
const std::wstring kLibrary = L"TypeLib\\" + GuidText(LIBID_Kiv);
const wchar_t* const kOwnPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";
const IID* const kDuals[] = {&IID__KivCtl, &IID__KivFactory, &IID__KivBitmap};

// Every key and value that registration must have written, checked one by one.
void ExpectRegistered(const std::wstring& modulePath) {
    const std::wstring module = Lower(modulePath);
    const std::wstring lib = GuidText(LIBID_Kiv);

    for (const std::wstring& clsid : {kCtl, kFactory, kBitmap}) {
        SCOPED_TRACE(testing::Message() << "HKCR\\" << std::string(clsid.begin(), clsid.end()));
        EXPECT_EQ(Lower(ReadString(clsid + L"\\InprocServer32").value_or(L"")), module);
        EXPECT_EQ(ReadString(clsid + L"\\InprocServer32", L"ThreadingModel").value_or(L""), L"Apartment");
        EXPECT_EQ(ReadString(clsid + L"\\TypeLib").value_or(L""), lib);
        EXPECT_EQ(ReadString(clsid + L"\\Version").value_or(L""), L"21.0");
    }
    EXPECT_EQ(ReadString(kCtl + L"\\ProgID").value_or(L""), L"Kiv.KivCtl.1");
    EXPECT_EQ(ReadString(kCtl + L"\\VersionIndependentProgID").value_or(L""), L"Kiv.KivCtl");
    EXPECT_TRUE(KeyExists(kCtl + L"\\Control"));
    EXPECT_EQ(ReadString(kCtl + L"\\MiscStatus").value_or(L"?"), L"0");
    EXPECT_EQ(ReadString(kCtl + L"\\MiscStatus\\1").value_or(L""), L"148881");  // 0x24591
    EXPECT_EQ(Lower(ReadString(kCtl + L"\\ToolboxBitmap32").value_or(L"")), module + L", 30000");
    // Safe to initialise from stored data, and not marked safe for scripting.
    EXPECT_TRUE(KeyExists(kCtl + L"\\Implemented Categories\\" + GuidText(CATID_SafeForInitializing)));
    EXPECT_FALSE(KeyExists(kCtl + L"\\Implemented Categories\\" + GuidText(CATID_SafeForScripting)));
    // Only the control is a control.
    EXPECT_FALSE(KeyExists(kFactory + L"\\Control"));
    EXPECT_FALSE(KeyExists(kBitmap + L"\\Control"));

    EXPECT_EQ(ReadString(L"Kiv.KivCtl\\CLSID").value_or(L""), GuidText(CLSID_KivCtl));
    EXPECT_EQ(ReadString(L"Kiv.KivCtl\\CurVer").value_or(L""), L"Kiv.KivCtl.1");
    EXPECT_EQ(ReadString(L"Kiv.KivCtl.1\\CLSID").value_or(L""), GuidText(CLSID_KivCtl));

    // The library under its version in hexadecimal, for this architecture.
    EXPECT_EQ(Lower(ReadString(kLibrary + L"\\15.0\\0\\" + kOwnPlatform).value_or(L"")), module);
    EXPECT_FALSE(KeyExists(kLibrary + L"\\21.0")) << "the version key is hexadecimal";
    const std::wstring flagsText = ReadString(kLibrary + L"\\15.0\\FLAGS").value_or(L"0");
    const unsigned long flags = std::wcstoul(flagsText.c_str(), nullptr, 10);
    EXPECT_TRUE(flags & LIBFLAG_FCONTROL);

    for (const IID* iid : kDuals) {
        const std::wstring key = L"Interface\\" + GuidText(*iid);
        SCOPED_TRACE(testing::Message() << "HKCR\\" << std::string(key.begin(), key.end()));
        EXPECT_TRUE(ReadString(key).has_value());
        EXPECT_EQ(ReadString(key + L"\\ProxyStubClsid32").value_or(L""), L"{00020424-0000-0000-C000-000000000046}");
        EXPECT_EQ(ReadString(key + L"\\TypeLib").value_or(L""), lib);
    }
}

void ExpectUnregistered() {
    const std::wstring keys[] = {kCtl, kFactory, kBitmap, L"Kiv.KivCtl", L"Kiv.KivCtl.1"};
    for (const std::wstring& key : keys) {
        EXPECT_FALSE(KeyExists(key)) << std::string(key.begin(), key.end());
    }
    EXPECT_FALSE(KeyExists(kLibrary + L"\\15.0\\0\\" + kOwnPlatform));
    for (const IID* iid : kDuals) EXPECT_FALSE(KeyExists(L"Interface\\" + GuidText(*iid)));
}

// ---- the fixture: the module loaded as COM loads an in-process server ----------------------

class Module : public ComTest {
protected:
    static void SetUpTestSuite() { module = ::LoadLibraryW(OcxPath().c_str()); }
    static void TearDownTestSuite() {
        // Other tests rely on the module being registered, whatever happened here.
        if (auto reg = Entry<NoArgumentsFn>("DllRegisterServer")) reg();
        if (module) ::FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_TRUE(module) << "KIVDRAW.OCX does not load from this program's folder";
    }

    template <class Fn>
    static Fn Entry(const char* name) {
        return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
    }

    static std::wstring LoadedPath() {
        wchar_t path[MAX_PATH] = {};
        DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH);
        return std::wstring(path, n);
    }

    // The class object of the module itself, not of this program's own copy of the code.
    static ComPtr<IClassFactory> ClassObject() {
        ComPtr<IClassFactory> factory;
        auto get = Entry<GetClassObjectFn>("DllGetClassObject");
        if (get) get(CLSID_KivCtl, IID_IClassFactory, reinterpret_cast<void**>(factory.Put()));
        return factory;
    }

    static HRESULT CanUnloadNow() { return Entry<NoArgumentsFn>("DllCanUnloadNow")(); }

    static HMODULE module;
};

HMODULE Module::module = nullptr;

TEST_F(Module, ExportsTheEntryPointsByTheirPlainNames) {
    for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject", "DllCanUnloadNow",
                             "DllInstall"}) {
        EXPECT_NE(::GetProcAddress(module, name), nullptr) << name;
    }
    PeImage image(OcxPath());
    ASSERT_TRUE(image.Valid());
    const std::vector<std::string> names = image.ExportedNames();
    EXPECT_EQ(names.size(), 5u);
    for (const std::string& name : names) {
        EXPECT_EQ(name.find('@'), std::string::npos) << "decorated export " << name;
        EXPECT_NE(name.front(), '_') << "decorated export " << name;
    }
}

TEST_F(Module, ImportsSystemLibrariesOnly) {
    PeImage image(OcxPath());
    ASSERT_TRUE(image.Valid());
    EXPECT_EQ(image.Is64(), sizeof(void*) == 8) << "the module of this architecture";
    const std::vector<std::string> dlls = image.ImportedDlls();
    ASSERT_FALSE(dlls.empty());
    const std::string allowed[] = {"kernel32.dll", "user32.dll", "gdi32.dll",   "advapi32.dll",
                                   "ole32.dll",    "oleaut32.dll", "msvcrt.dll"};
    for (std::string dll : dlls) {
        std::transform(dll.begin(), dll.end(), dll.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_NE(std::find(std::begin(allowed), std::end(allowed), dll), std::end(allowed)) << "imports " << dll;
        EXPECT_EQ(dll.find("libstdc++"), std::string::npos);
        EXPECT_EQ(dll.find("libgcc"), std::string::npos);
        EXPECT_EQ(dll.find("libwinpthread"), std::string::npos);
        EXPECT_EQ(dll.find("libssp"), std::string::npos);
    }
}

TEST_F(Module, RegistersUnregistersAndRegistersAgain) {
    auto reg = Entry<NoArgumentsFn>("DllRegisterServer");
    auto unreg = Entry<NoArgumentsFn>("DllUnregisterServer");
    ASSERT_TRUE(reg && unreg);
    const std::wstring path = LoadedPath();

    // Registered already (by the register_module step); once more changes nothing.
    ASSERT_EQ(reg(), S_OK);
    ExpectRegistered(path);
    ASSERT_EQ(reg(), S_OK);
    ExpectRegistered(path);

    ASSERT_EQ(unreg(), S_OK);
    ExpectUnregistered();
    EXPECT_EQ(unreg(), S_OK) << "nothing registered is nothing to remove";
    ExpectUnregistered();

    ASSERT_EQ(reg(), S_OK);
    ExpectRegistered(path);
}

// The registration that the module writes is the one that COM follows.
TEST_F(Module, ComFindsTheControlByItsRegistration) {
    CLSID clsid = {};
    ASSERT_EQ(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_KivCtl));
    ASSERT_EQ(::CLSIDFromProgID(L"Kiv.KivCtl.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_KivCtl));

    ComPtr<_KivCtl> control;
    ASSERT_EQ(::CoCreateInstance(CLSID_KivCtl, nullptr, CLSCTX_INPROC_SERVER, IID__KivCtl,
                                 reinterpret_cast<void**>(control.Put())),
              S_OK);
    EXPECT_TRUE(BitmapsOf(control.Get()));

    // Neither the registry nor the surface is made by class identifier.
    for (const CLSID* other : {&CLSID_KivFactory, &CLSID_KivBitmap}) {
        ComPtr<IUnknown> made;
        EXPECT_TRUE(FAILED(::CoCreateInstance(*other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                              reinterpret_cast<void**>(made.Put()))));
        EXPECT_FALSE(made);
    }

    // The registered library is the module's.
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_Kiv, 21, 0, 0, library.Put()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->wMajorVerNum, 21);
    library->ReleaseTLibAttr(attr);
}

TEST_F(Module, ClassObjectServesTheControlOnly) {
    auto get = Entry<GetClassObjectFn>("DllGetClassObject");
    ASSERT_TRUE(get);
    for (const CLSID* other : {&CLSID_KivFactory, &CLSID_KivBitmap, &LIBID_Kiv}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(get(*other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(out, nullptr);
    }

    ComPtr<IClassFactory> factory = ClassObject();
    ASSERT_TRUE(factory);
    ComPtr<IUnknown> outer;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(outer.Put())), S_OK);
    void* aggregated = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(aggregated, nullptr);

    ComPtr<_KivCtl> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put())), S_OK);
    EXPECT_TRUE(BitmapsOf(control.Get()));
    control.Reset();
    outer.Reset();
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK) << "a refused aggregation leaves nothing behind";
}

TEST_F(Module, CanUnloadOnlyWhenNothingOfItLives) {
    ASSERT_EQ(CanUnloadNow(), S_OK);
    ComPtr<IClassFactory> factory = ClassObject();
    ASSERT_TRUE(factory);
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "a held class object keeps the module";
    ComPtr<IClassFactory> second = ClassObject();
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "every reference counts";
    second.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    factory = ClassObject();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "locked";
    factory = ClassObject();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);

    ComPtr<_KivCtl> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put())), S_OK);
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
    ASSERT_TRUE(registry);
    ComPtr<_KivBitmap> surface = Create(registry.Get(), L"kept", 4, 4);
    ASSERT_TRUE(surface);

    control.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the registry and the surface are held";
    registry.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the surface is held";
    short width = 0;
    EXPECT_EQ(surface->get_Width(&width), S_OK);
    EXPECT_EQ(width, 4);
    surface.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);

    // A registry kept alone after its control is gone.
    factory = ClassObject();
    ASSERT_EQ(factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put())), S_OK);
    factory.Reset();
    registry = BitmapsOf(control.Get());
    control.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the registry is held";
    registry.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A host that keeps the class object from CoGetClassObject and makes controls with it later, while
// COM frees the modules that say they can be unloaded.
class HeldClassObject : public ComTest {};

TEST_F(HeldClassObject, KeepsTheModuleLoadedUntilReleased) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(::CoGetClassObject(CLSID_KivCtl, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                 reinterpret_cast<void**>(factory.Put())),
              S_OK);
    const HMODULE loaded = ::GetModuleHandleW(L"KIVDRAW.OCX");
    ASSERT_NE(loaded, nullptr) << "COM loaded the registered module";
    const auto canUnload = reinterpret_cast<NoArgumentsFn>(reinterpret_cast<void*>(::GetProcAddress(loaded, "DllCanUnloadNow")));
    ASSERT_TRUE(canUnload);
    EXPECT_EQ(canUnload(), S_FALSE);

    ::CoFreeUnusedLibrariesEx(0, 0);
    ASSERT_EQ(::GetModuleHandleW(L"KIVDRAW.OCX"), loaded) << "unloaded under a held class object";
    ComPtr<_KivCtl> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put())), S_OK);
    EXPECT_TRUE(BitmapsOf(control.Get()));
    control.Reset();

    factory.Reset();
    EXPECT_EQ(canUnload(), S_OK);
}

}  // namespace
