// KIVDRAW.OCX where it was never registered, reached as any client reaches it (kiv.h and COM only).
// With an activation context made from KIVDRAW.manifest beside it, as a plug-in or an add-in makes
// one, a container makes the control by ProgID, and the type library, the class information, the
// misc status come through the context. Without the
// manifest nothing is found, and the module is not even loaded.
#include "BesideProgram.h"
#include "kiv.h"

#include <gtest/gtest.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>
#include <wrl/client.h>

#include <string>

using kivtest::BesideProgram;
using Microsoft::WRL::ComPtr;

namespace {

HANDLE ContextFrom(const std::wstring& manifest) {
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.lpSource = manifest.c_str();
    return ::CreateActCtxW(&request);
}

class Apartment : public ::testing::Test {
protected:
    // S_FALSE too: the ATL library keeps COM initialised on the thread once it has hosted a control.
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { ::CoUninitialize(); }
};

// The context made from the manifest beside this program, active on the test's thread.
class ActivatedContext : public Apartment {
protected:
    void SetUp() override {
        // Before COM's apartment window: a thread with windows cannot change its desktop. The
        // desktop's own process then starts with this program's X display.
        static HDESK desktop = ::CreateDesktopW(L"KivUnregistered", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        ASSERT_TRUE(desktop && ::SetThreadDesktop(desktop));
        Apartment::SetUp();
        context_ = ContextFrom(BesideProgram(L"KIVDRAW.manifest"));
        ASSERT_NE(context_, INVALID_HANDLE_VALUE) << "error " << ::GetLastError();
        ASSERT_TRUE(::ActivateActCtx(context_, &cookie_));
    }
    void TearDown() override {
        if (cookie_) ::DeactivateActCtx(0, cookie_);
        if (context_ != INVALID_HANDLE_VALUE) ::ReleaseActCtx(context_);
        Apartment::TearDown();
    }

    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
};

TEST_F(ActivatedContext, WinesAtlContainerMakesTheControlByProgId) {
    HMODULE atl = ::LoadLibraryW(L"atl.dll");
    ASSERT_NE(atl, nullptr);
    using InitFn = BOOL(WINAPI*)();
    using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    auto init = reinterpret_cast<InitFn>(reinterpret_cast<void (*)()>(::GetProcAddress(atl, "AtlAxWinInit")));
    auto getControl =
        reinterpret_cast<GetControlFn>(reinterpret_cast<void (*)()>(::GetProcAddress(atl, "AtlAxGetControl")));
    ASSERT_TRUE(init && getControl && init());

    HWND parent = ::CreateWindowExW(0, L"STATIC", L"Kiv host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 200,
                                    nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND host = ::CreateWindowExW(0, L"AtlAxWin", L"Kiv.KivCtl", WS_CHILD | WS_VISIBLE, 10, 10, 100, 100, parent,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    {
        ComPtr<IUnknown> control;
        ASSERT_EQ(getControl(host, &control), S_OK) << "the container made Kiv.KivCtl through the context";
        ComPtr<_KivCtl> kiv;
        ASSERT_EQ(control.As(&kiv), S_OK);
        ComPtr<_KivFactory> bitmaps;
        ASSERT_EQ(kiv->get_Bitmaps(&bitmaps), S_OK);
        short count = -1;
        bitmaps->get_Count(&count);
        EXPECT_EQ(count, 0);

        // The control's class information is the class of the library that the context names.
        ComPtr<IProvideClassInfo> provider;
        ASSERT_EQ(control.As(&provider), S_OK);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(provider->GetClassInfo(&info), S_OK);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        EXPECT_EQ(attributes->guid, CLSID_KivCtl);
        EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
        info->ReleaseTypeAttr(attributes);
        ComPtr<ITypeLib> containing;
        UINT index = 0;
        ASSERT_EQ(info->GetContainingTypeLib(&containing, &index), S_OK);
        TLIBATTR* library = nullptr;
        ASSERT_EQ(containing->GetLibAttr(&library), S_OK);
        EXPECT_EQ(library->guid, LIBID_Kiv);
        containing->ReleaseTLibAttr(library);
    }
    ::DestroyWindow(host);
    ::DestroyWindow(parent);
}

TEST_F(ActivatedContext, TheTypeLibraryMiscStatusAndProgIdsComeFromTheManifest) {
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_Kiv, 21, 0, LOCALE_NEUTRAL, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->wMajorVerNum, 21);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_TRUE(attributes->wLibFlags & LIBFLAG_FCONTROL);
    library->ReleaseTLibAttr(attributes);
    BSTR path = nullptr;
    ASSERT_EQ(::QueryPathOfRegTypeLib(LIBID_Kiv, 21, 0, LOCALE_NEUTRAL, &path), S_OK);
    EXPECT_EQ(::lstrcmpiW(path, BesideProgram(L"KIVDRAW.OCX").c_str()), 0) << "the module beside the manifest";
    ::SysFreeString(path);

    DWORD status = 0;
    ASSERT_EQ(::OleRegGetMiscStatus(CLSID_KivCtl, DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x24591ul) << "invisible at run time, no UI activation, set client site first, ...";

    // Both ProgIDs lead to the control. Under a context the identifier that CLSIDFromProgID gives may
    // be the context's alias of the class rather than its CLSID: COM resolves it through the context.
    for (const wchar_t* progId : {L"Kiv.KivCtl.1", L"Kiv.KivCtl"}) {
        CLSID clsid = GUID_NULL;
        ASSERT_EQ(::CLSIDFromProgID(progId, &clsid), S_OK);
        ComPtr<IProvideClassInfo> control;
        ASSERT_EQ(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IProvideClassInfo, &control), S_OK);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(control->GetClassInfo(&info), S_OK);
        TYPEATTR* type = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
        EXPECT_EQ(type->guid, CLSID_KivCtl);
        info->ReleaseTypeAttr(type);
    }
}

// The module beside this program, with no manifest and no registration.
using Unregistered = Apartment;

TEST_F(Unregistered, NothingIsFoundAndNothingIsLoaded) {
    ASSERT_EQ(::GetFileAttributesW(BesideProgram(L"KIVDRAW.manifest").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(::GetFileAttributesW(BesideProgram(L"KIVDRAW.OCX").c_str()), INVALID_FILE_ATTRIBUTES);

    CLSID clsid = GUID_NULL;
    EXPECT_EQ(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid), CO_E_CLASSSTRING);
    IUnknown* control = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(::CoCreateInstance(CLSID_KivCtl, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(&control)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(control, nullptr);
    ComPtr<ITypeLib> library;
    EXPECT_EQ(::LoadRegTypeLib(LIBID_Kiv, 21, 0, LOCALE_NEUTRAL, &library), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(::GetModuleHandleW(L"KIVDRAW.OCX"), nullptr) << "the module was never loaded";

    // A host that looks for the manifest finds none, and says so.
    EXPECT_EQ(ContextFrom(BesideProgram(L"KIVDRAW.manifest")), INVALID_HANDLE_VALUE);
}

}  // namespace
