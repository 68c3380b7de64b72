// A host that runs as long as its process: it makes the registered control through COM, uses it, lets
// it go and has COM unload the idle module, again and again, as Office, script hosts in services and
// test runners do. Every unload gives back what the module took, counted as Windows counts it: kernel
// handles, fiber-local and thread-local storage, heap blocks, GDI objects, windows and their class,
// the type library. Loading the module loads nothing else. And a form that closes the control as
// containers do gets its site and the control freed.
#include "FakeSite.h"
#include "TestSupport.h"

#include <oleauto.h>
#include <olectl.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
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

HMODULE Module() { return ::GetModuleHandleW(L"KIVDRAW.OCX"); }

// The process has a fixed number of each slot: every one that someone took and kept is one fewer free.
template <class Alloc, class Free>
size_t FreeSlots(Alloc alloc, Free free, DWORD none) {
    std::vector<DWORD> slots;
    for (DWORD slot; (slot = alloc()) != none;) slots.push_back(slot);
    for (DWORD slot : slots) free(slot);
    return slots.size();
}
size_t FreeGdiHandles() {  // Wine counts no GDI objects of a process (GetGuiResources answers 0)
    std::vector<HPEN> pens;
    while (HPEN pen = ::CreatePen(PS_SOLID, 1, 0)) pens.push_back(pen);
    for (HPEN pen : pens) ::DeleteObject(pen);
    return pens.size();
}

// The process's kernel handles: the platform's count where it keeps one (Wine answers 0), otherwise
// every handle value that names an open handle. Handle values are given out from the lowest free one
// up, so the search ends after a long enough run of values that name none.
size_t KernelHandles() {
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count) return count;
    size_t open = 0;
    for (ULONG_PTR value = 4, lastOpen = 0; value <= 0x40000 && value - lastOpen <= 0x4000; value += 4) {
        DWORD flags = 0;
        if (!::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) continue;
        ++open;
        lastOpen = value;
    }
    return open;
}

double PrivateBytes() {  // Wine fills in only the basic counters; PagefileUsage is the private bytes
    PROCESS_MEMORY_COUNTERS counters = {};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return static_cast<double>(counters.PagefileUsage);
}

// The platform's heap checks (the checked configuration's free checking) hold freed blocks back for a
// while to catch late writes into them: the heaps' counts then grow with whatever is freed.
bool HeapHoldsFreedBlocks() {
    auto flags = Proc<ULONG(NTAPI*)()>(::GetModuleHandleW(L"ntdll.dll"), "RtlGetNtGlobalFlags");
    constexpr ULONG kFreeChecking = 0x20;  // FLG_HEAP_ENABLE_FREE_CHECK
    return flags && (flags() & kFreeChecking);
}

// What the process holds that an unload must give back, each counted whole; the busy blocks and bytes
// of every heap of the process.
struct Held {
    size_t handles = 0, freeFls = 0, freeTls = 0, heapBlocks = 0, heapBytes = 0;
};
Held Measure() {
    Held held;
    held.handles = KernelHandles();
    held.freeFls = FreeSlots([] { return ::FlsAlloc(nullptr); }, ::FlsFree, FLS_OUT_OF_INDEXES);
    held.freeTls = FreeSlots(::TlsAlloc, ::TlsFree, TLS_OUT_OF_INDEXES);
    HANDLE heaps[64];
    const DWORD count = ::GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i) {
        ::HeapLock(heaps[i]);
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heaps[i], &entry)) {
            if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
            ++held.heapBlocks;
            held.heapBytes += entry.cbData;
        }
        ::HeapUnlock(heaps[i]);
    }
    return held;
}

// Quick activation as a form does it: the form's site, also its view sink and event sink when given.
HRESULT QuickActivate(const ComPtr<IOleObject>& ole, IOleClientSite* site, IAdviseSinkEx* sink, QACONTROL& answer) {
    QACONTAINER container = {};
    container.cbSize = sizeof(container);
    container.pClientSite = site;
    container.pAdviseSink = sink;
    container.pUnkEventSink = sink;
    answer = {};
    answer.cbSize = sizeof(answer);
    return As<IQuickActivate>(ole)->QuickActivate(&container, &answer);
}

// References on the module's type library besides a new load's own: the platform keeps one loaded
// library per file and hands it out again while anyone holds it.
ULONG HeldTypeLibraryReferences() {
    ComPtr<ITypeLib> library;
    const std::wstring path = ClassesValue(L"CLSID\\" + GuidText(CLSID_KivCtl) + L"\\InprocServer32");
    if (::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Put()) != S_OK) return ULONG(-1);
    library->AddRef();
    return library->Release() - 1;
}

// One host's use of every part of the control: quick-activated on a form, in a window of its own,
// drawn, rendered as a metafile, stored and read back; two surfaces, drawn and written on, one copied
// onto the other with a key colour and taken out as a picture; late-bound calls with an overflow that
// the member absorbs and an argument that it refuses; then closed and let go. Returns the class of
// the control's window; `module` is where the module was.
std::wstring UseAndLetGo(HWND form, HINSTANCE& module) {
    ComPtr<IOleObject> ole;
    EXPECT_EQ(::CoCreateInstance(ControlClass(), nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                 reinterpret_cast<void**>(ole.Put())), S_OK);
    if (!ole) return {};
    module = Module();
    FakeSite site;
    site.window = form;
    site.userMode = false;  // a form being designed: the control shows in its window
    QACONTROL answer;
    EXPECT_EQ(QuickActivate(ole, &site, nullptr, answer), S_OK);
    const RECT place = {10, 10, 42, 41};
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, form, &place), S_OK);
    HWND window = nullptr;
    wchar_t windowClass[64] = {};
    EXPECT_EQ(As<IOleInPlaceObject>(ole)->GetWindow(&window), S_OK);
    ::GetClassNameW(window, windowClass, 64);
    ColourTarget target(64, 64, RGB(1, 2, 3));
    EXPECT_EQ(::OleDraw(ole.Get(), DVASPECT_CONTENT, target.Dc(), &place), S_OK);
    FORMATETC format = {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};
    STGMEDIUM medium = {};
    EXPECT_EQ(As<IDataObject>(ole)->GetData(&format, &medium), S_OK);
    ::ReleaseStgMedium(&medium);
    BYTE record[64] = {};
    EXPECT_EQ(As<IPersistMemory>(ole)->Save(record, TRUE, sizeof(record)), S_OK);
    EXPECT_EQ(As<IPersistMemory>(ole)->Load(record, sizeof(record)), S_OK);

    ComPtr<_KivFactory> registry = BitmapsOf(As<_KivCtl>(ole).Get());
    ComPtr<_KivBitmap> sprite = Create(registry.Get(), L"sprite", 32, 32);
    ComPtr<_KivBitmap> back = Create(registry.Get(), L"back", 64, 64);
    EXPECT_TRUE(sprite && back);
    if (!sprite || !back) return {};
    VARIANT text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = ::SysAllocString(L"Kiv");
    const struct { const wchar_t* member; std::vector<VARIANT> args; HRESULT answer; } calls[] = {
        {L"DrawBox", {I2(2), I2(2), I2(20), I2(20), I4(0x0000FF)}, S_OK},
        {L"BPrint", {I2(1), I2(1), text}, S_OK},
        {L"DrawCircle", {I2(32767), I2(32767), I2(1)}, S_OK},         // the overflow is absorbed
        {L"DrawCircle", {I2(1), I2(1), text}, DISP_E_TYPEMISMATCH},  // the argument is refused
    };
    for (const auto& [member, args, expected] : calls)
        EXPECT_EQ(LateBound(sprite.Get(), IdOfName(sprite.Get(), member), DISPATCH_METHOD, args), expected);
    ::VariantClear(&text);
    LONG key = RGB(255, 0, 255), backDc = static_cast<LONG>(reinterpret_cast<LONG_PTR>(DcOf(back.Get())));
    short left = 8, top = 8;
    EXPECT_EQ(sprite->put_TransparentColor(&key), S_OK);
    EXPECT_EQ(sprite->Copy(&backDc, &left, &top, VARIANT_TRUE), S_OK);
    ComPtr<IPicture> picture;
    EXPECT_EQ(back->get_Picture(picture.Put()), S_OK);
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
    return windowClass;
}

TEST(LongRunningHost, EveryUnloadGivesBackWhatTheModuleTook) {
    ASSERT_NE(OwnDesktop(L"KivLongRunningHost"), nullptr) << "error " << ::GetLastError();
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    HWND form = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 200, 200, HostProgramWindow(),
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(form, nullptr);
    // A cycle ends with the module gone; KIV_CYCLES sets the number of cycles (300 when not set).
    HINSTANCE module = nullptr;
    std::wstring windowClass;
    auto cycles = [&](int count) {
        const bool failedBefore = ::testing::Test::HasFailure();
        for (int i = 0; i < count && (failedBefore || !::testing::Test::HasFailure()); ++i) {
            EXPECT_EQ(Module(), nullptr);
            windowClass = UseAndLetGo(form, module);
            PumpMessages();
            ::CoFreeUnusedLibrariesEx(0, 0);  // as a host's idle loop has COM do
            EXPECT_EQ(Module(), nullptr) << "cycle " << i << ": the module is still loaded";
        }
    };
    cycles(50);  // the process's own first uses of the platform settle
    const char* asked = std::getenv("KIV_CYCLES");
    const int count = asked ? std::atoi(asked) : 300;
    const Held before = Measure();
    const double bytes = PrivateBytes();
    cycles(count);
    const double perCycle = (PrivateBytes() - bytes) / count;
    const Held after = Measure();
    std::printf("%d cycles: private bytes %+.1f a cycle; before and after: kernel handles %zu, %zu; free FLS slots "
                "%zu, %zu; free TLS slots %zu, %zu; busy heap blocks %zu, %zu, of %zu, %zu bytes\n",
                count, perCycle, before.handles, after.handles, before.freeFls, after.freeFls, before.freeTls,
                after.freeTls, before.heapBlocks, after.heapBlocks, before.heapBytes, after.heapBytes);
    EXPECT_EQ(after.handles, before.handles) << "kernel handles left behind";
    EXPECT_EQ(after.freeFls, before.freeFls) << "fiber-local storage slots left behind";
    EXPECT_EQ(after.freeTls, before.freeTls) << "thread-local storage slots left behind";
    if (!HeapHoldsFreedBlocks()) {
        EXPECT_EQ(after.heapBlocks, before.heapBlocks) << "heap blocks left behind";
        EXPECT_EQ(after.heapBytes, before.heapBytes) << "heap bytes left behind";
        EXPECT_LT(perCycle, 512.0) << "private bytes grew";
    }
    // Making the GDI objects leaves the heap larger: that count has cycles of its own, after the memory's.
    const size_t gdi = FreeGdiHandles();
    cycles(20);
    EXPECT_EQ(FreeGdiHandles(), gdi) << "GDI objects left behind";
    EXPECT_EQ(::GetWindow(form, GW_CHILD), nullptr) << "a window left on the form";
    WNDCLASSEXW registered = {};
    registered.cbSize = sizeof(registered);
    EXPECT_FALSE(::GetClassInfoExW(module, windowClass.c_str(), &registered)) << "the window class is still there";
    EXPECT_EQ(HeldTypeLibraryReferences(), 0u);
    ::DestroyWindow(form);
    ::CoUninitialize();
}

// The loader's notification of a library loaded (ntdll's LdrRegisterDllNotification).
struct LoadedDll {
    ULONG flags;
    const UNICODE_STRING* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
constexpr ULONG kDllLoaded = 1;
void CALLBACK NoteLoaded(ULONG reason, const LoadedDll* dll, void* names) {
    if (reason == kDllLoaded)
        static_cast<std::vector<std::wstring>*>(names)->emplace_back(dll->baseName->Buffer,
                                                                    dll->baseName->Length / sizeof(wchar_t));
}
BOOL CALLBACK CountWindow(HWND, LPARAM count) { return ++*reinterpret_cast<int*>(count), TRUE; }

// Loading the module runs its start-up under the loader's lock, where loading a library is forbidden
// and whatever it costs, every host pays at every load: it loads no other library and makes no window.
TEST(LongRunningHost, LoadingTheModuleLoadsNothingElse) {
    using Watch = LONG(NTAPI*)(ULONG, decltype(&NoteLoaded), void*, void**);
    using Unwatch = LONG(NTAPI*)(void*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto watch = Proc<Watch>(ntdll, "LdrRegisterDllNotification");
    auto unwatch = Proc<Unwatch>(ntdll, "LdrUnregisterDllNotification");
    ASSERT_TRUE(watch && unwatch);
    std::vector<std::wstring> loaded;
    void* cookie = nullptr;
    ASSERT_EQ(watch(0, &NoteLoaded, &loaded, &cookie), 0);
    auto windows = [] {
        int count = 0;
        ::EnumThreadWindows(::GetCurrentThreadId(), &CountWindow, reinterpret_cast<LPARAM>(&count));
        return count;
    };
    const int windowsBefore = windows();
    HMODULE module = ::LoadLibraryW(OcxPath().c_str());
    const int windowsLoaded = windows();
    if (module) ::FreeLibrary(module);
    unwatch(cookie);
    ASSERT_NE(module, nullptr);
    std::string names;
    for (const std::wstring& name : loaded) names += " " + std::string(name.begin(), name.end());
    ASSERT_EQ(loaded.size(), 1u) << "loaded:" << names;
    EXPECT_TRUE(SameText(loaded[0], L"KIVDRAW.OCX")) << "loaded:" << names;
    EXPECT_EQ(windowsLoaded, windowsBefore);
}

// A destructor of a module may still throw as the module unloads: the runtime gives back the records
// and pools that exceptions use only after the last of them. The probe module has the runtime as the
// control's module has it.
TEST(LongRunningHost, AnExceptionThrownAsAModuleUnloadsIsCaughtAndLeavesNothing) {
    const std::wstring probe = BesideProgram(L"kiv_runtime_probe.dll");
    int caught = 0;
    auto cycle = [&] {
        HMODULE module = ::LoadLibraryW(probe.c_str());
        if (!module) return false;
        auto count = Proc<void (*)(int*)>(module, "CountCatchesIn");
        if (count) count(&caught);
        ::FreeLibrary(module);
        return count != nullptr;
    };
    ASSERT_TRUE(cycle());
    const Held before = Measure();
    for (int i = 0; i < 20; ++i) cycle();
    const Held after = Measure();
    EXPECT_EQ(caught, 21);
    EXPECT_EQ(after.freeFls, before.freeFls) << "an exception record made after the runtime gave its slot back";
    EXPECT_EQ(after.handles, before.handles);
}

// A form's site: the control's client site, view sink, event sink and a sink of its data. It owns
// the control and is freed with its last reference.
class FormSite final : public IOleClientSite, public IAdviseSinkEx, public IDispatch {
public:
    explicit FormSite(bool& freed) : freed_(freed) {}
    ~FormSite() { freed_ = true; }
    ComPtr<IOleObject> control;
    int viewChanges = 0, dataChanges = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IAdviseSink || iid == IID_IAdviseSinkEx) *out = static_cast<IAdviseSinkEx*>(this);
        else if (iid == IID_IDispatch || iid == DIID___KivCtl) *out = static_cast<IDispatch*>(this);
        else return E_NOINTERFACE;
        return AddRef(), S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override { return *moniker = nullptr, E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** container) override { return *container = nullptr, E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    STDMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override { ++dataChanges; }
    STDMETHODIMP_(void) OnViewChange(DWORD, LONG) override { ++viewChanges; }
    STDMETHODIMP_(void) OnRename(IMoniker*) override {}
    STDMETHODIMP_(void) OnSave() override {}
    STDMETHODIMP_(void) OnClose() override {}
    STDMETHODIMP_(void) OnViewStatusChange(DWORD) override {}
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }

private:
    bool& freed_;
    ULONG references_ = 1;
};

TEST(Form, ClosingTheControlFreesTheSiteThatOwnsItAndThenTheControl) {
    ASSERT_EQ(::CoInitialize(nullptr), S_OK);
    ASSERT_EQ(Module(), nullptr);
    bool freed = false;
    auto* site = new FormSite(freed);
    ASSERT_EQ(::CoCreateInstance(ControlClass(), nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                 reinterpret_cast<void**>(site->control.Put())), S_OK);
    QACONTROL answer;
    ASSERT_EQ(QuickActivate(site->control, site, site, answer), S_OK);
    ASSERT_NE(answer.dwEventCookie, 0u);
    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    DWORD connection = 0;
    ASSERT_EQ(As<IDataObject>(site->control)->DAdvise(&format, 0, site, &connection), S_OK);
    // A view sink primed as it is set hears of the picture at once; the data's sinks hear nothing.
    ASSERT_EQ(As<IViewObject>(site->control)->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, site), S_OK);
    EXPECT_TRUE(site->viewChanges == 1 && site->dataChanges == 0) << site->viewChanges << ", " << site->dataChanges;
    // The form closes the control, takes its site away, and lets its site go.
    EXPECT_EQ(site->control->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site->control->SetClientSite(nullptr), S_OK);
    site->Release();
    EXPECT_TRUE(freed) << "the control still holds its site";
    auto canUnloadNow = Proc<HRESULT(STDAPICALLTYPE*)()>(Module(), "DllCanUnloadNow");
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK) << "the control is still alive";
    ::CoUninitialize();
}

}  // namespace
