#include "KivCtl.h"

#include "../component/Boundary.h"
#include "../component/OwnObject.h"
#include "../platform/Gdi.h"
#include "../platform/ScreenMetrics.h"
#include "../registry/KivFactory.h"
#include "Appearance.h"

namespace kiv {
namespace {

ComPtr<_KivFactory> NewRegistry() { return ComPtr<_KivFactory>::Adopt(new KivFactory()); }

}  // namespace

KivCtl::RegistryMaker& KivCtl::MakeRegistry() noexcept {
    static RegistryMaker maker = &NewRegistry;
    return maker;
}

KivCtl::KivCtl()
    : framework_(static_cast<_KivCtl*>(this), *this,
                 {CLSID_KivCtl, DIID___KivCtl, kMiscStatus, VIEWSTATUS_OPAQUE /* the picture covers every pixel */,
                  L"KivCtl"}) {}

KivCtl::~KivCtl() = default;

HRESULT KivCtl::Initialize() noexcept {
    detail::CallReference<KivCtl> hold(this);
    ::SetErrorInfo(0, nullptr);
    // A registry that cannot be made fails the initialisation with the error that its making reported.
    try {
        registry_ = MakeRegistry()();
    } catch (const RuntimeError& error) {
        registry_ = nullptr;
        return error.Report();
    } catch (const std::bad_alloc&) {
        registry_ = nullptr;
        return RuntimeError(errors::OutOfMemory, L"Out of memory").Report();
    }
    if (!registry_) return S_OK;
    Attempt([&] {
        Own<KivFactory>(registry_.Get()).SetOwner(this);
        ownerReferences_ = 1;
    });
    Attempt([&] {
        const std::shared_ptr<host::ControlDC>& dc = framework_.DeviceContext();
        Own<KivFactory>(registry_.Get()).SetReferenceDC(platform::HandleToI4(dc->Get()), dc);
    });
    return S_OK;
}

void KivCtl::Resize() noexcept {
    Boundary(this, ErrorMode::Continue, [&] {
        const TwipsPerPixel twips = ScreenTwipsPerPixel();
        framework_.SetWidth(static_cast<float>(kWidthPixels) * twips.x);
        framework_.SetHeight(static_cast<float>(kHeightPixels) * twips.y);
    });
}

void KivCtl::Terminate() noexcept {
    if (terminated_) return;
    terminated_ = true;
    Boundary(this, ErrorMode::Continue, [&] {
        if (!registry_) return;
        // Fixed order: the owner link first, then the list, then the registry itself.
        ownerReferences_ = 0;
        Attempt([&] { Own<KivFactory>(registry_.Get()).SetOwner(nullptr); });
        Attempt([&] { Check(registry_->Clear()); });
        registry_ = nullptr;
    });
}

STDMETHODIMP KivCtl::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    return framework_.Find(iid, out) ? S_OK : KivCtlBase::QueryInterface(iid, out);
}

void KivCtl::Paint(HDC dc, const RECT& bounds) noexcept { appearance::Paint(dc, bounds); }

void KivCtl::OnReleased(ULONG left) noexcept {
    if (!terminated_ && ownerReferences_ > 0 && left == ownerReferences_) Terminate();
}

STDMETHODIMP KivCtl::get_Bitmaps(_KivFactory** Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] { *Result = ComPtr<_KivFactory>(registry_).Detach(); });
}

STDMETHODIMP KivCtl::Blit(LONG hDestDC, LONG X, LONG y, LONG nWidth, LONG nHeight, LONG hSrcDC, LONG xSrc, LONG ySrc,
                          LONG dwRop) {
    return Boundary(this, ErrorMode::Escape, [&] {
        platform::BitBlt(platform::I4ToHandle<HDC>(hDestDC), X, y, nWidth, nHeight, platform::I4ToHandle<HDC>(hSrcDC),
                         xSrc, ySrc, static_cast<DWORD>(dwRop));
    });
}

}  // namespace kiv
