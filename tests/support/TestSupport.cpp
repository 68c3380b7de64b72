#include "TestSupport.h"

#include "component/Module.h"

#include <oleauto.h>
#include <olectl.h>

#include <thread>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);

namespace kivtest {

void ComTest::SetUp() { ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr))); }
void ComTest::TearDown() { ::CoUninitialize(); }

void BalancedTest::SetUp() {
    ComTest::SetUp();
    gdiAtStart = LiveGdiObjects();
    objectsAtStart = kiv::module::LiveObjects();
}

void BalancedTest::TearDown() {
    ReleaseAll();
    EXPECT_EQ(LiveGdiObjects(), gdiAtStart) << "platform objects left behind";
    EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart) << "objects of the module left behind";
    ComTest::TearDown();
}

void ControlTest::SetUp() {
    BalancedTest::SetUp();
    control = NewControl();
    ASSERT_TRUE(control);
    registry = BitmapsOf(control.Get());
    ASSERT_TRUE(registry);
}

void ControlTest::ReleaseAll() {
    registry = nullptr;
    control = nullptr;
}

bool Recorder::Intercept(kiv::platform::Call& call) { return answer && answer(call); }

void Recorder::Observe(const kiv::platform::Call& call) {
    RecordedCall recorded{call, {}};
    const std::string name = call.name;
    if (name == "TextOutA" && call.args[3] && call.args[4] > 0)
        recorded.text.assign(reinterpret_cast<const char*>(call.args[3]), static_cast<size_t>(call.args[4]));
    else if (name == "CreateFontA" && call.args[13])
        recorded.text = reinterpret_cast<const char*>(call.args[13]);
    calls.push_back(std::move(recorded));
}

std::vector<RecordedCall> Recorder::Named(const std::string& name) const {
    std::vector<RecordedCall> out;
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

VARIANT I2(short value) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}

VARIANT I4(long value) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

HRESULT LateBound(IUnknown* object, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
    ComPtr<IDispatch> dispatch;
    if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put())))) return E_NOINTERFACE;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    const bool named = flags == DISPATCH_PROPERTYPUT;
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), named ? &put : nullptr,
                         static_cast<UINT>(reversed.size()), named ? 1u : 0u};
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

DISPID IdOfName(IUnknown* object, const wchar_t* name) {
    ComPtr<IDispatch> dispatch;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()))))
        dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

std::wstring OcxPath() { return BesideProgram(L"KIVDRAW.OCX"); }

ProgramRun RunProgram(std::wstring command, DWORD timeout) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    ProgramRun run;
    if (!::CreatePipe(&read, &write, &inherit, 0)) return run;
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write;
    PROCESS_INFORMATION process = {};
    const BOOL started =
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    ::CloseHandle(write);  // the child's copy is the only writer left: reading ends when it ends
    // Read while it runs, so that a program that prints more than the pipe holds does not wait for us.
    std::thread reader([&run, read] {
        char buffer[512];
        for (DWORD got = 0; ::ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got;) run.output.append(buffer, got);
    });
    if (started) {
        if (::WaitForSingleObject(process.hProcess, timeout) == WAIT_TIMEOUT) {
            ::TerminateProcess(process.hProcess, WAIT_TIMEOUT);
            ::WaitForSingleObject(process.hProcess, INFINITE);
        }
        ::GetExitCodeProcess(process.hProcess, &run.exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    reader.join();
    ::CloseHandle(read);
    return run;
}

std::wstring ThisProgram(const std::wstring& arguments) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return L"\"" + std::wstring(self) + L"\" " + arguments;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return ::lstrcmpiW(a.c_str(), b.c_str()) == 0; }

HDESK OwnDesktop(const wchar_t* name) {
    static HDESK desktop = [name] {
        HDESK made = ::CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (made && !::SetThreadDesktop(made)) made = nullptr;
        return made;
    }();
    return desktop;
}

HWND HostProgramWindow() {
    static HWND window = ::CreateWindowExW(0, L"STATIC", L"Kiv host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                                           300, nullptr, nullptr, nullptr, nullptr);
    return window;
}

void PumpMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

std::wstring ClassesValue(const std::wstring& key, const wchar_t* name) {
    wchar_t data[1024] = {};
    DWORD size = sizeof(data);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
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
