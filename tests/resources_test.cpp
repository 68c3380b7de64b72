// The built module's resources read back from its file (loaded as data, as a container's toolbox
// or a file browser reads them), and its machine-wide registration as COM and containers read it.
#include "TestSupport.h"

#include "component/Resources.h"
#include "control/KivCtl.h"

#include <oleauto.h>
#include <winver.h>

#include <cstring>
#include <string>

using namespace kivtest;

namespace {

// ---- resources ----------------------------------------------------------------------------------

class Resources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = ::LoadLibraryExW(OcxPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << "cannot read the module's resources";
    }
    void TearDown() override {
        if (module_) ::FreeLibrary(module_);
    }

    // A resource's bytes; empty when the module has none of that type and name.
    std::string Bytes(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = ::FindResourceW(module_, name, type);
        if (!found) return {};
        HGLOBAL loaded = ::LoadResource(module_, found);
        const char* data = static_cast<const char*>(::LockResource(loaded));
        return data ? std::string(data, ::SizeofResource(module_, found)) : std::string();
    }

    HMODULE module_ = nullptr;
};

TEST_F(Resources, TheInterfaceRecordsHoldLengthAndIdentifier) {
    struct Record {
        int id;
        const IID* iid;
    };
    const Record records[] = {{KIV_RECORD_KIVBITMAP, &IID__KivBitmap},
                              {KIV_RECORD_KIVFACTORY, &IID__KivFactory},
                              {KIV_RECORD_KIVCTL, &IID__KivCtl},
                              {KIV_RECORD_KIVCTL_EVENTS, &DIID___KivCtl}};
    for (const Record& record : records) {
        SCOPED_TRACE(record.id);
        const std::string bytes = Bytes(L"" KIV_INTERFACE_RECORD_TYPE, MAKEINTRESOURCEW(record.id));
        ASSERT_EQ(bytes.size(), 20u);
        DWORD length = 0;
        std::memcpy(&length, bytes.data(), 4);
        EXPECT_EQ(length, 16u);
        IID held;
        std::memcpy(&held, bytes.data() + 4, 16);
        EXPECT_EQ(held, *record.iid) << "the record's identifier is the interface's: " << ::testing::PrintToString(
                                            std::string(bytes.begin() + 4, bytes.end()));
    }
    EXPECT_TRUE(Bytes(L"" KIV_INTERFACE_RECORD_TYPE, MAKEINTRESOURCEW(5)).empty()) << "four records, no more";
}

TEST_F(Resources, TheAppearancePictureIs32By31With156Colours) {
    const std::string bytes = Bytes(RT_BITMAP, MAKEINTRESOURCEW(KIV_APPEARANCE_BITMAP));
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof(header));
    EXPECT_EQ(header.biWidth, kiv::KivCtl::kWidthPixels);
    EXPECT_EQ(header.biHeight, kiv::KivCtl::kHeightPixels);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 31) << "bottom-up, 31 rows";
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header.biClrUsed, 156u);
    const size_t bitsAt = header.biSize + 156 * sizeof(RGBQUAD);
    ASSERT_EQ(bytes.size(), bitsAt + 32 * 31) << "header, 156 colours, 31 rows of 32 bytes";
    for (size_t i = bitsAt; i < bytes.size(); ++i) {
        ASSERT_LT(static_cast<unsigned char>(bytes[i]), 156) << "every pixel is one of the 156 colours";
    }
}

TEST_F(Resources, TheToolboxBitmapIs16By15At24Bits) {
    const std::string bytes = Bytes(RT_BITMAP, MAKEINTRESOURCEW(KIV_TOOLBOX_BITMAP));
    ASSERT_GE(bytes.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes.data(), sizeof(header));
    EXPECT_EQ(KIV_TOOLBOX_BITMAP, 30000);
    EXPECT_EQ(header.biWidth, 16);
    EXPECT_EQ(header.biHeight, 15);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(bytes.size(), header.biSize + 15 * 48u) << "no colour table, 15 rows of 48 bytes";
    // Loaded as a bitmap, as a toolbox loads it.
    HBITMAP bitmap = static_cast<HBITMAP>(
        ::LoadImageW(module_, MAKEINTRESOURCEW(KIV_TOOLBOX_BITMAP), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info = {};
    ::GetObjectW(bitmap, sizeof(info), &info);
    EXPECT_EQ(info.bmWidth, 16);
    EXPECT_EQ(info.bmHeight, 15);
    EXPECT_EQ(info.bmBitsPixel, 24);
    ::DeleteObject(bitmap);
}

TEST_F(Resources, TheTypeLibraryIsResourceOne) {
    const std::string bytes = Bytes(L"TYPELIB", MAKEINTRESOURCEW(1));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), "MSFT");
}

// The version record as the file's properties show it.
class Version {
public:
    explicit Version(const std::wstring& path) {
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
        data_.resize(size);
        if (size == 0 || !::GetFileVersionInfoW(path.c_str(), 0, size, data_.data())) data_.clear();
    }
    bool Present() const { return !data_.empty(); }
    const void* Query(const std::wstring& what, UINT* length = nullptr) const {
        void* value = nullptr;
        UINT size = 0;
        if (!::VerQueryValueW(data_.data(), what.c_str(), &value, &size)) return nullptr;
        if (length) *length = size;
        return value;
    }
    std::wstring Text(const std::wstring& name) const {
        UINT length = 0;
        const void* value = Query(L"\\StringFileInfo\\040904B0\\" + name, &length);
        if (!value) return L"(missing)";
        std::wstring text(static_cast<const wchar_t*>(value), length);
        return text.substr(0, text.find(L'\0'));
    }

private:
    std::string data_;
};

TEST_F(Resources, TheVersionRecordDescribesTheModule) {
    const Version version(OcxPath());
    ASSERT_TRUE(version.Present());
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(version.Query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    // The release's version, as the build's project version gives it.
    const DWORD major_minor = MAKELONG(KIV_RELEASE_MINOR, KIV_RELEASE_MAJOR);
    const DWORD patch = MAKELONG(0, KIV_RELEASE_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, major_minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch);
    EXPECT_EQ(fixed->dwProductVersionMS, major_minor);
    EXPECT_EQ(fixed->dwProductVersionLS, patch);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

    UINT length = 0;
    const auto* translation = static_cast<const WORD*>(version.Query(L"\\VarFileInfo\\Translation", &length));
    ASSERT_NE(translation, nullptr);
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409) << "US English";
    EXPECT_EQ(translation[1], 0x04B0) << "Unicode";

    EXPECT_EQ(version.Text(L"FileVersion"), KIV_RELEASE_TEXT);
    EXPECT_EQ(version.Text(L"ProductVersion"), KIV_RELEASE_TEXT);
    EXPECT_EQ(version.Text(L"InternalName"), L"KIVDRAW");
    EXPECT_EQ(version.Text(L"OriginalFilename"), L"KIVDRAW.OCX");
    EXPECT_NE(version.Query(L"\\StringFileInfo\\040904B0\\OLESelfRegister"), nullptr)
        << "the self-registration marker";
}

// ---- the machine-wide registration ---------------------------------------------------------------

class Registered : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(::LoadTypeLibEx(OcxPath().c_str(), REGKIND_NONE, library.Put()), S_OK);
    }
    void TearDown() override {
        library.Reset();
        ComTest::TearDown();
    }
    ComPtr<ITypeLib> library;
};

TEST_F(Registered, TheControlIsRegisteredWithItsMiscStatusAndToolboxBitmap) {
    const std::wstring key = L"CLSID\\" + GuidText(CLSID_KivCtl);
    const std::wstring status = ClassesValue(key + L"\\MiscStatus\\1");
    ASSERT_NE(status, L"(missing)");
    EXPECT_EQ(std::stoul(status), 0x24591ul);
    EXPECT_NE(ClassesValue(key + L"\\Control"), L"(missing)") << "registered as a control";
    EXPECT_TRUE(SameText(ClassesValue(key + L"\\ToolboxBitmap32"), OcxPath() + L", 30000"));
    EXPECT_TRUE(SameText(ClassesValue(key + L"\\InprocServer32"), OcxPath())) << "the module of this build";
    EXPECT_EQ(ClassesValue(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
}

TEST_F(Registered, TheTypeLibraryAndTheRegistryNameTheSameClasses) {
    TLIBATTR* libraryAttributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
    const GUID libraryId = libraryAttributes->guid;
    library->ReleaseTLibAttr(libraryAttributes);

    int classes = 0;
    GUID control = GUID_NULL;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(library->GetTypeInfo(i, info.Put()), S_OK);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        const TYPEKIND kind = attributes->typekind;
        const GUID guid = attributes->guid;
        info->ReleaseTypeAttr(attributes);
        if (kind != TKIND_COCLASS) continue;
        ++classes;
        BSTR name = nullptr;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
        const std::wstring className = name ? name : L"";
        ::SysFreeString(name);
        SCOPED_TRACE(::testing::PrintToString(std::string(className.begin(), className.end())));
        const std::wstring key = L"CLSID\\" + GuidText(guid);
        EXPECT_EQ(ClassesValue(key), className) << "the registry knows the class by the library's identifier";
        EXPECT_TRUE(SameText(ClassesValue(key + L"\\TypeLib"), GuidText(libraryId)));
        if (className == L"KivCtl") control = guid;
    }
    EXPECT_EQ(classes, 3);
    EXPECT_EQ(control, CLSID_KivCtl);
    CLSID byProgId = GUID_NULL;
    ASSERT_EQ(::CLSIDFromProgID(L"Kiv.KivCtl", &byProgId), S_OK);
    EXPECT_EQ(byProgId, control) << "the ProgID leads to the library's control";

    // The registered type library is this module's, version 21.0.
    BSTR path = nullptr;
    ASSERT_EQ(::QueryPathOfRegTypeLib(libraryId, 21, 0, 0, &path), S_OK);
    EXPECT_TRUE(SameText(path ? path : L"", OcxPath()));
    ::SysFreeString(path);
}

}  // namespace
