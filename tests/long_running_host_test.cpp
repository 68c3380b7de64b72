// A host that runs for as long as its process: it makes the registered control through COM, uses it,
// lets it go and has COM unload the module when it is idle, again and again, as Office and its
// macros, script hosts in services and test runners do. Every unload gives back what the module took:
// the platform's thread-local storage, memory, GDI and window-manager objects, the type library. And a
// form that closes the control as containers do gets its site and the control freed.
#include "FakeSite.h"
#include "TestSupport.h"

#include <oleauto.h>
#include <olectl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kivtest;

namespace {

template <class I, class T>
ComPtr<I> As(const ComPtr<T>& object) {
    return object.template As<I>(__uuidof(I));
}

CLSID ControlClass() {
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid), S_OK);
    return clsid;
}

bool ModuleLoaded() { return ::GetModuleHandleW(L"KIVDRAW.OCX") != nullptr; }

// What COM does when a host's idle loop runs: it unloads every module that says it may go.
void UnloadIdleModules() { ::CoFreeUnusedLibrariesEx(0, 0); }

// How many slots of the platform's thread-local storage are free: the process has a fixed number, and
// every slot that someone took and never gave back is one fewer.
size_t FreeTlsSlots() {
    std::vector<DWORD> slots;
    for (DWORD slot; (slot = ::TlsAlloc()) != TLS_OUT_OF_INDEXES;) slots.push_back(slot);
    for (DWORD slot : slots) ::TlsFree(slot);
    return slots.size();
}

SIZE_T PrivateBytes() {  // Wine fills in only the basic counters; PagefileUsage is the private bytes
    PROCESS_MEMORY_COUNTERS counters = {};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

// How many more GDI objects this process can make. Wine does not count a process's GDI objects
// (GetGuiResources answers 0), but the process's table of handles holds a fixed number: every object
// left behind is one fewer to make.
size_t FreeGdiHandles() {
    std::vector<HPEN> pens;
    pens.reserve(1 << 16);
    while (HPEN pen = ::CreatePen(PS_SOLID, 1, 0)) pens.push_back(pen);
    for (HPEN pen : pens) ::DeleteObject(pen);
    return pens.size();
}

BOOL CALLBACK CountWindow(HWND, LPARAM count) {
    ++*reinterpret_cast<size_t*>(count);
    return TRUE;
}

size_t ChildWindows(HWND parent) {
    size_t count = 0;
    ::EnumChildWindows(parent, &CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// References on the module's type library besides a new load's own: the platform keeps one loaded
// library per file and hands it out again while anyone holds it.
ULONG HeldTypeLibraryReferences(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put()) != S_OK) return ULONG(-1);
    library->AddRef();
    return library->Release() - 1;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(text);
    return v;
}

// Where the module was while loaded, and the class of the window that it put on the form.
struct Traces {
    HINSTANCE module = nullptr;
    std::wstring windowClass;
};

// One host's use of the control, of every part of it: made by COM and quick-activated on a form in a
// window of its own, drawn, rendered as a metafile, stored and read back; surfaces made, drawn on,
// written on, copied with a key colour and taken out as a picture, called late-bound with an
// overflow that a member absorbs and an argument that it refuses; then closed and let go.
void UseAndLetGo(HWND form, Traces& traces) {
    ComPtr<IOleObject> ole;
    ASSERT_EQ(::CoCreateInstance(ControlClass(), nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                 reinterpret_cast<void**>(ole.Put())), S_OK);
    traces.module = ::GetModuleHandleW(L"KIVDRAW.OCX");
    FakeSite site;
    site.window = form;
    site.userMode = false;  // a form being designed: the control shows in its window
    QACONTAINER container = {};
    container.cbSize = sizeof(container);
    container.pClientSite = &site;
    QACONTROL answer = {};
    answer.cbSize = sizeof(answer);
    ASSERT_EQ(As<IQuickActivate>(ole)->QuickActivate(&container, &answer), S_OK);
    const RECT place = {10, 10, 42, 41};
    ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, form, &place), S_OK);
    HWND window = nullptr;
    ASSERT_EQ(As<IOleInPlaceObject>(ole)->GetWindow(&window), S_OK);
    wchar_t name[64] = {};
    ASSERT_GT(::GetClassNameW(window, name, 64), 0);
    traces.windowClass = name;

    ColourTarget target(64, 64, RGB(1, 2, 3));
    const RECTL bounds = {0, 0, 32, 31};
    ASSERT_EQ(::OleDraw(ole.Get(), DVASPECT_CONTENT, target.Dc(), reinterpret_cast<const RECT*>(&bounds)), S_OK);
    FORMATETC format = {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
    STGMEDIUM medium = {};
    ASSERT_EQ(As<IDataObject>(ole)->GetData(&format, &medium), S_OK);
    ::ReleaseStgMedium(&medium);
    BYTE record[64] = {};
    ASSERT_EQ(As<IPersistMemory>(ole)->Save(record, TRUE, sizeof(record)), S_OK);
    ASSERT_EQ(As<IPersistMemory>(ole)->Load(record, sizeof(record)), S_OK);

    ComPtr<_KivFactory> registry = BitmapsOf(As<_KivCtl>(ole).Get());
    ASSERT_TRUE(registry);
    ComPtr<_KivBitmap> sprite = Create(registry.Get(), L"sprite", 32, 32);
    ComPtr<_KivBitmap> back = Create(registry.Get(), L"back", 64, 64);
    ASSERT_TRUE(sprite && back);
    LONG key = RGB(255, 0, 255);
    ASSERT_EQ(sprite->put_BackColor(key), S_OK);
    ASSERT_EQ(sprite->put_TransparentColor(&key), S_OK);
    ASSERT_EQ(sprite->Cls(), S_OK);
    auto call = [&](const wchar_t* member, std::vector<VARIANT> args, WORD flags = DISPATCH_METHOD) {
        const HRESULT status = LateBound(sprite.Get(), IdOfName(sprite.Get(), member), flags, args);
        for (VARIANT& arg : args) ::VariantClear(&arg);
        return status;
    };
    EXPECT_EQ(call(L"DrawBox", {I2(2), I2(2), I2(20), I2(20), I4(0x0000FF)}), S_OK);
    EXPECT_EQ(call(L"DrawLine", {I4(0), I4(0), I4(31), I4(31)}), S_OK);
    EXPECT_EQ(call(L"DrawCircle", {I2(16), I2(16), I2(8)}), S_OK);
    EXPECT_EQ(call(L"DrawElipse", {I2(4), I2(8), I2(28), I2(24)}), S_OK);
    EXPECT_EQ(call(L"FontSize", {I2(14)}, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(call(L"BPrint", {I2(1), I2(1), Text(L"Kiv")}), S_OK);
    EXPECT_EQ(call(L"DrawCircle", {I2(32767), I2(32767), I2(1)}), S_OK) << "the overflow is absorbed";
    EXPECT_EQ(call(L"DrawCircle", {I2(1), I2(1), Text(L"wide")}), DISP_E_TYPEMISMATCH) << "the argument is refused";
    LONG backDc = static_cast<LONG>(reinterpret_cast<LONG_PTR>(DcOf(back.Get())));
    short left = 8, top = 8;
    EXPECT_EQ(sprite->Copy(&backDc, &left, &top, VARIANT_TRUE), S_OK);
    ComPtr<IPicture> picture;
    EXPECT_EQ(back->get_Picture(picture.Put()), S_OK);
    EXPECT_TRUE(picture);
    short first = 1;
    EXPECT_EQ(registry->RemoveInt(&first), S_OK);
    EXPECT_EQ(CountOf(registry.Get()), 1);

    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
}

// The number of cycles: `usual`, or KIV_CYCLES's for a longer run by hand.
int Cycles(int usual) {
    wchar_t text[16] = {};
    return ::GetEnvironmentVariableW(L"KIV_CYCLES", text, 16) ? std::max(1, _wtoi(text)) : usual;
}

class LongRunningHost : public ComTest {
protected:
    void SetUp() override {
        ASSERT_NE(OwnDesktop(L"KivLongRunningHost"), nullptr) << "error " << ::GetLastError();
        ComTest::SetUp();
        ASSERT_NE(HostProgramWindow(), nullptr);
        form = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 200, 200,
                                 HostProgramWindow(), nullptr, nullptr, nullptr);
        ASSERT_NE(form, nullptr);
    }
    void TearDown() override {
        if (form) ::DestroyWindow(form);
        PumpMessages();
        ComTest::TearDown();
    }

    // One cycle: the module is gone again at its end.
    void Cycle(Traces& traces) {
        ASSERT_FALSE(ModuleLoaded());
        UseAndLetGo(form, traces);
        PumpMessages();
        UnloadIdleModules();
        ASSERT_FALSE(ModuleLoaded()) << "the module unloaded";
    }

    HWND form = nullptr;
};

TEST_F(LongRunningHost, EveryUnloadGivesBackWhatTheModuleTook) {
    constexpr int kWarmUp = 50;  // the process's own first uses of the platform settle
    const int kCycles = Cycles(300);
    constexpr int kGdiCycles = 20;
    constexpr double kBytesPerCycle = 512;
    Traces traces;
    for (int i = 0; i < kWarmUp; ++i) ASSERT_NO_FATAL_FAILURE(Cycle(traces)) << "cycle " << i;
    const SIZE_T bytes = PrivateBytes();
    const size_t tls = FreeTlsSlots();
    const size_t windows = ChildWindows(form);
    for (int i = 0; i < kCycles; ++i) ASSERT_NO_FATAL_FAILURE(Cycle(traces)) << "cycle " << i;
    const SIZE_T after = PrivateBytes();
    const double perCycle = (static_cast<double>(after) - static_cast<double>(bytes)) / kCycles;
    const size_t tlsAfter = FreeTlsSlots();
    std::printf("%d cycles: private bytes %+.1f a cycle, free TLS slots %zu before, %zu after\n", kCycles, perCycle,
                tls, tlsAfter);
    EXPECT_LT(perCycle, kBytesPerCycle) << "private bytes grew";
    EXPECT_EQ(tlsAfter, tls) << "thread-local storage slots left behind";
    // Counting the free GDI handles makes and frees many objects, which leaves the heap larger: it
    // comes after the memory's measure, around cycles of its own.
    const size_t gdi = FreeGdiHandles();
    for (int i = 0; i < kGdiCycles; ++i) ASSERT_NO_FATAL_FAILURE(Cycle(traces)) << "cycle " << i;
    EXPECT_EQ(FreeGdiHandles(), gdi) << "GDI objects left behind";
    EXPECT_EQ(ChildWindows(form), windows) << "windows left on the form";
    WNDCLASSEXW description = {};
    description.cbSize = sizeof(description);
    EXPECT_FALSE(::GetClassInfoExW(traces.module, traces.windowClass.c_str(), &description))
        << "the window class still registered";
    EXPECT_EQ(HeldTypeLibraryReferences(ClassesValue(L"CLSID\\" + GuidText(CLSID_KivCtl) + L"\\InprocServer32")), 0u);
}

// A form's site: the control's client site, its view sink (through quick activation) and a sink of
// its data, and the sink of its events. It owns the control and is freed with its last reference.
class FormSite final : public IOleClientSite, public IAdviseSinkEx, public IDispatch {
public:
    explicit FormSite(bool& freed) : freed_(freed) {}
    ~FormSite() { freed_ = true; }

    ComPtr<IOleObject> control;
    int viewChanges = 0;
    int dataChanges = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IAdviseSink || iid == IID_IAdviseSinkEx) *out = static_cast<IAdviseSinkEx*>(this);
        else if (iid == IID_IDispatch || iid == DIID___KivCtl) *out = static_cast<IDispatch*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override { return *moniker = nullptr, E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** container) override { return *container = nullptr, E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IAdviseSink, IAdviseSinkEx
    STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override { ++dataChanges; }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override { ++viewChanges; }
    STDMETHODIMP_(void) OnRename(IMoniker*) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override {}
    STDMETHODIMP_(void) OnViewStatusChange(DWORD) override {}

    // IDispatch: the control's events, of which there are none.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return S_OK;
    }

private:
    bool& freed_;
    ULONG references_ = 1;
};

using Form = ComTest;

TEST_F(Form, ClosingTheControlFreesTheSiteThatOwnsItAndThenTheControl) {
    ASSERT_FALSE(ModuleLoaded());
    bool freed = false;
    auto* site = new FormSite(freed);
    ASSERT_EQ(::CoCreateInstance(ControlClass(), nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                 reinterpret_cast<void**>(site->control.Put())), S_OK);
    QACONTAINER container = {};
    container.cbSize = sizeof(container);
    container.pClientSite = site;
    container.pAdviseSink = site;
    container.pUnkEventSink = static_cast<IDispatch*>(site);
    QACONTROL answer = {};
    answer.cbSize = sizeof(answer);
    ASSERT_EQ(As<IQuickActivate>(site->control)->QuickActivate(&container, &answer), S_OK);
    ASSERT_NE(answer.dwEventCookie, 0u);
    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    DWORD connection = 0;
    IAdviseSinkEx* sink = site;
    ASSERT_EQ(As<IDataObject>(site->control)->DAdvise(&format, 0, sink, &connection), S_OK);
    // A view sink primed when it is set hears of the picture at once; the data's sinks hear nothing,
    // for nothing changed.
    ASSERT_EQ(As<IViewObject>(site->control)->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, sink), S_OK);
    EXPECT_EQ(site->viewChanges, 1);
    EXPECT_EQ(site->dataChanges, 0) << "priming the view's sink told the data's sinks";

    // The form closes: the control, its client site, and its own reference to the site.
    EXPECT_EQ(site->control->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site->control->SetClientSite(nullptr), S_OK);
    site->Release();
    EXPECT_TRUE(freed) << "the control still holds its site";
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    HMODULE module = ::GetModuleHandleW(L"KIVDRAW.OCX");
    ASSERT_NE(module, nullptr);
    auto canUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK) << "the control is still alive";
    UnloadIdleModules();
    EXPECT_FALSE(ModuleLoaded());
}

}  // namespace
