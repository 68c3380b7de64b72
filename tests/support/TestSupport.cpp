#include "TestSupport.h"

#include <oleauto.h>
#include <olectl.h>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);

namespace kivtest {

void ComTest::SetUp() { ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr))); }
void ComTest::TearDown() { ::CoUninitialize(); }

Recorder::Recorder() : previous_(kiv::platform::SetObserver(this)) {}
Recorder::~Recorder() { kiv::platform::SetObserver(previous_); }

bool Recorder::Intercept(kiv::platform::Call& call) { return answer && answer(call); }
void Recorder::Observe(const kiv::platform::Call& call) { calls.push_back(call); }

std::vector<kiv::platform::Call> Recorder::Named(const std::string& name) const {
    std::vector<kiv::platform::Call> out;
    for (const auto& call : calls)
        if (name == call.name) out.push_back(call);
    return out;
}

int Recorder::Count(const std::string& name) const { return static_cast<int>(Named(name).size()); }

ComPtr<_KivCtl> NewControl() {
    ComPtr<IClassFactory> factory;
    if (FAILED(DllGetClassObject(CLSID_KivCtl, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())))) return {};
    ComPtr<_KivCtl> control;
    factory->CreateInstance(nullptr, IID__KivCtl, reinterpret_cast<void**>(control.Put()));
    return control;
}

ComPtr<_KivFactory> BitmapsOf(_KivCtl* control) {
    ComPtr<_KivFactory> registry;
    control->get_Bitmaps(registry.Put());
    return registry;
}

ComPtr<_KivBitmap> Create(_KivFactory* registry, const std::wstring& name, short width, short height) {
    BSTR text = ::SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    ComPtr<_KivBitmap> surface;
    registry->Create(&text, &width, &height, surface.Put());
    ::SysFreeString(text);
    return surface;
}

short CountOf(_KivFactory* registry) {
    short count = -1;
    registry->get_Count(&count);
    return count;
}

HDC DcOf(_KivBitmap* surface) {
    LONG dc = 0;
    surface->get_hDC(&dc);
    return kiv::platform::I4ToHandle<HDC>(dc);
}

COLORREF PixelAt(HDC dc, int x, int y) { return ::GetPixel(dc, x, y); }

COLORREF Rgb(OLE_COLOR color) {
    COLORREF rgb = 0;
    return SUCCEEDED(::OleTranslateColor(color, nullptr, &rgb)) ? rgb : CLR_INVALID;
}

ColourTarget::ColourTarget(int width, int height, COLORREF fill) {
    HDC screen = ::GetDC(nullptr);
    dc_ = ::CreateCompatibleDC(screen);
    bitmap_ = ::CreateCompatibleBitmap(screen, width, height);
    ::ReleaseDC(nullptr, screen);
    previous_ = ::SelectObject(dc_, bitmap_);
    RECT all = {0, 0, width, height};
    HBRUSH brush = ::CreateSolidBrush(fill);
    ::FillRect(dc_, &all, brush);
    ::DeleteObject(brush);
}

ColourTarget::~ColourTarget() {
    ::SelectObject(dc_, previous_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
}

}  // namespace kivtest
