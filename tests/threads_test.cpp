// Apartments as hosts use them: controls made on worker threads that come and go, with the module
// still loaded or unloaded before the thread ends; several single-threaded apartments drawing at once;
// and a surface called from the multithreaded apartment through the platform's marshalling.
#include "TestSupport.h"

#include <oleauto.h>
#include <olectl.h>

#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using namespace kivtest;

namespace {

// A crash ends the program at once with a line that says so, rather than in a debugger that waits.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    std::fprintf(stderr, "crash: exception 0x%08lX\n", info->ExceptionRecord->ExceptionCode);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}
const bool kQuickCrash = [] {
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
    ::SetUnhandledExceptionFilter(ReportCrash);
    return true;
}();

struct Job {
    DWORD apartment;
    const std::function<void()>& work;
};

DWORD WINAPI RunJob(void* context) {
    const Job& job = *static_cast<Job*>(context);
    if (FAILED(::CoInitializeEx(nullptr, job.apartment))) return 1;
    job.work();
    ::CoUninitialize();
    return 0;
}

// Runs `work` on a new thread in an apartment of the given kind and waits for the thread to end,
// dispatching this thread's messages meanwhile (calls into this thread's apartment arrive as messages).
void OnThread(DWORD apartment, const std::function<void()>& work) {
    Job job{apartment, work};
    HANDLE thread = ::CreateThread(nullptr, 0, RunJob, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) PumpMessages();
    DWORD code = 1;
    ::GetExitCodeThread(thread, &code);
    ::CloseHandle(thread);
    EXPECT_EQ(code, 0u) << "the thread's apartment";
}

// A late-bound call by name, as a script makes it; the arguments are cleared afterwards.
HRESULT ByName(IUnknown* target, const wchar_t* name, WORD flags, std::vector<VARIANT> args = {},
               VARIANT* result = nullptr) {
    const HRESULT hr = LateBound(target, IdOfName(target, name), flags, args, result);
    for (VARIANT& arg : args) ::VariantClear(&arg);
    return hr;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(text);
    return v;
}

// A 20 x 20 surface of the registered module, made on the calling thread, with a red box drawn
// through late binding; true when its pixels show it.
bool DrawOnRegisteredModule() {
    ComPtr<_KivCtl> control;
    if (FAILED(::CoCreateInstance(CLSID_KivCtl, nullptr, CLSCTX_INPROC_SERVER, IID__KivCtl,
                                  reinterpret_cast<void**>(control.Put()))))
        return false;
    auto surface = Create(BitmapsOf(control.Get()).Get(), L"worker", 20, 20);
    if (!surface) return false;
    const HRESULT hr = ByName(surface.Get(), L"DrawBox", DISPATCH_METHOD, {I2(2), I2(2), I2(8), I2(8), I4(0xFF)});
    return hr == S_OK && PixelAt(DcOf(surface.Get()), 5, 5) == RGB(255, 0, 0) &&
           PixelAt(DcOf(surface.Get()), 15, 15) == Rgb(0x8000000F);
}

bool ModuleLoaded() { return ::GetModuleHandleW(L"KIVDRAW.OCX") != nullptr; }

// Each way a worker thread can leave the module: loaded by someone else when the thread ends, or
// unloaded before it ends by the thread's own call or by its CoUninitialize. Two threads in turn each.
TEST(Lifecycle, WorkerThreadsComeAndGo) {
    enum class End { StillLoaded, FreeUnusedLibraries, Uninitialize };
    for (End end : {End::StillLoaded, End::FreeUnusedLibraries, End::Uninitialize}) {
        SCOPED_TRACE(testing::Message() << "way out " << static_cast<int>(end));
        ASSERT_FALSE(ModuleLoaded()) << "no apartment of the process holds the module yet";
        HMODULE pinned = end == End::StillLoaded ? ::LoadLibraryW(OcxPath().c_str()) : nullptr;
        for (int round = 0; round < 2; ++round) {
            bool drawn = false, loadedAfterRelease = false;
            OnThread(COINIT_APARTMENTTHREADED, [&] {
                drawn = DrawOnRegisteredModule();
                if (end == End::FreeUnusedLibraries) ::CoFreeUnusedLibrariesEx(0, 0);
                loadedAfterRelease = ModuleLoaded();
            });
            EXPECT_TRUE(drawn) << "round " << round;
            EXPECT_EQ(loadedAfterRelease, end != End::FreeUnusedLibraries) << "round " << round;
            EXPECT_EQ(ModuleLoaded(), end == End::StillLoaded) << "after the thread, round " << round;
        }
        if (pinned) ::FreeLibrary(pinned);
        EXPECT_FALSE(ModuleLoaded());
    }
}

// Four apartments at once, each with its own control, registry and surfaces and its own colour; each
// reads back its own pixels, and each thread's platform objects balance once it has released all.
TEST(Concurrent, FourApartmentsDrawAtOnce) {
    constexpr int kThreads = 4, kRounds = 750;
    struct Outcome {
        int wrongPixels = -1;
        GdiCounts held;  // while the thread's control and two surfaces live
        int objectsLeft = -1;
    };
    std::vector<Outcome> outcomes(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &outcomes] {
            if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return;
            {
                GdiCounter counter;
                const long colour = RGB(40 * t + 60, 200 - 40 * t, 30 * t);
                Outcome outcome{0, {}};
                {
                    auto control = NewControl();
                    auto registry = BitmapsOf(control.Get());
                    auto sprite = Create(registry.Get(), L"sprite", 16, 16);
                    auto scene = Create(registry.Get(), L"scene", 64, 48);
                    long key = 0;
                    sprite->put_TransparentColor(&key);
                    short x = 0, y = 0;
                    for (int round = 0; round < kRounds; ++round) {
                        x = static_cast<short>(round % 48), y = static_cast<short>(round % 32);
                        short one = 1, four = 4, ten = 10;
                        long c = colour;
                        OLE_COLOR line = colour;
                        sprite->Cls();
                        sprite->DrawBox(&four, &four, &ten, &ten, &c);
                        sprite->DrawLine(0, 0, 15, 15, &line);
                        sprite->DrawCircle(&ten, &ten, &four);
                        BSTR text = ::SysAllocString(L"Kiv");
                        scene->BPrint(&one, &one, &text);
                        ::SysFreeString(text);
                        long target = 0;
                        scene->get_hDC(&target);
                        sprite->Copy(&target, &x, &y, VARIANT_TRUE);
                        if (round % 50 == 0) {
                            ComPtr<IPicture> picture;
                            sprite->get_Picture(picture.Put());
                        }
                    }
                    // The box's left edge, clear of the circle's white disc, on the sprite and where the
                    // last copy put it on the scene.
                    for (POINT p : {POINT{5, 4}, POINT{4, 12}}) {
                        outcome.wrongPixels += PixelAt(DcOf(sprite.Get()), p.x, p.y) != static_cast<COLORREF>(colour);
                        outcome.wrongPixels += PixelAt(DcOf(scene.Get()), x + p.x, y + p.y) != static_cast<COLORREF>(colour);
                    }
                    outcome.held = counter.Live();
                }
                outcome.objectsLeft = counter.Live().Total();
                outcomes[t] = outcome;
            }
            ::CoUninitialize();
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(outcomes[t].wrongPixels, 0) << "thread " << t;
        // The control's context and bitmap, each surface's and its palette, counted on their thread only.
        EXPECT_EQ(outcomes[t].held, (GdiCounts{.dcs = 3, .bitmaps = 3, .palettes = 2})) << "thread " << t;
        EXPECT_EQ(outcomes[t].objectsLeft, 0) << "thread " << t;
    }
}

class Marshalled : public ComTest {};

// A surface of this apartment called from the multithreaded apartment: by name through IDispatch and
// through the dual interface's vtable, both by the type library's marshaller; its pixels show it.
TEST_F(Marshalled, TheMultithreadedApartmentDrawsOnASurface) {
    // The library's code in this program, so that this thread's recorder sees the calls arrive; the
    // interfaces' registration serves the marshaller.
    auto control = NewControl();
    ASSERT_TRUE(control);
    auto surface = Create(BitmapsOf(control.Get()).Get(), L"shared", 40, 30);
    ASSERT_TRUE(surface);
    IStream* byName = nullptr;
    IStream* byVtable = nullptr;
    ASSERT_EQ(::CoMarshalInterThreadInterfaceInStream(IID_IDispatch, surface.Get(), &byName), S_OK);
    ASSERT_EQ(::CoMarshalInterThreadInterfaceInStream(IID__KivBitmap, surface.Get(), &byVtable), S_OK);

    struct Seen {
        HRESULT drawBox = E_FAIL, print = E_FAIL, width = E_FAIL, picture = E_FAIL, vtableBox = E_FAIL;
        long widthValue = 0;
        COLORREF picturePixel = CLR_INVALID;
        size_t callsThere = 1;  // platform calls of the library on the calling thread
    } seen;
    Recorder here;
    OnThread(COINIT_MULTITHREADED, [&] {
        Recorder there;
        ComPtr<IDispatch> dispatch;
        ComPtr<_KivBitmap> dual;
        if (FAILED(::CoGetInterfaceAndReleaseStream(byName, IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()))) ||
            FAILED(::CoGetInterfaceAndReleaseStream(byVtable, IID__KivBitmap, reinterpret_cast<void**>(dual.Put()))))
            return;
        seen.drawBox = ByName(dispatch.Get(), L"DrawBox", DISPATCH_METHOD, {I2(0), I2(0), I2(10), I2(10), I4(0xFF0000)});
        seen.print = ByName(dispatch.Get(), L"BPrint", DISPATCH_METHOD, {I2(12), I2(12), Text(L"M")});
        VARIANT width;
        ::VariantInit(&width);
        seen.width = ByName(dispatch.Get(), L"Width", DISPATCH_PROPERTYGET, {}, &width);
        seen.widthValue = V_VT(&width) == VT_I2 ? V_I2(&width) : -1;
        VARIANT picture;
        ::VariantInit(&picture);
        seen.picture = ByName(dispatch.Get(), L"Picture", DISPATCH_PROPERTYGET, {}, &picture);
        if (SUCCEEDED(seen.picture) && V_VT(&picture) == VT_DISPATCH && V_DISPATCH(&picture)) {
            // The picture's own bitmap, read here: it holds the blue box drawn a moment ago.
            VARIANT handle;
            ::VariantInit(&handle);
            if (ByName(V_DISPATCH(&picture), L"Handle", DISPATCH_PROPERTYGET, {}, &handle) == S_OK &&
                SUCCEEDED(::VariantChangeType(&handle, &handle, 0, VT_I4))) {
                HDC dc = ::CreateCompatibleDC(nullptr);
                HGDIOBJ old = ::SelectObject(dc, kiv::platform::I4ToHandle<HBITMAP>(V_I4(&handle)));
                seen.picturePixel = ::GetPixel(dc, 5, 5);
                ::SelectObject(dc, old);
                ::DeleteDC(dc);
            }
        }
        ::VariantClear(&picture);
        short left = 20, top = 2, size = 6;
        long green = 0x00FF00;
        seen.vtableBox = dual->DrawBox(&left, &top, &size, &size, &green);
        seen.callsThere = there.calls.size();
    });
    // The calls ran here, on the surface's own thread, by way of the marshaller.
    EXPECT_EQ(seen.callsThere, 0u);
    EXPECT_EQ(here.Count("LineTo"), 8) << "the outlines of both boxes";
    EXPECT_EQ(here.Count("TextOutA"), 1);
    EXPECT_EQ(seen.drawBox, S_OK);
    EXPECT_EQ(seen.print, S_OK);
    EXPECT_EQ(seen.width, S_OK);
    EXPECT_EQ(seen.widthValue, 40);
    EXPECT_EQ(seen.picture, S_OK);
    EXPECT_EQ(seen.picturePixel, RGB(0, 0, 255));
    EXPECT_EQ(seen.vtableBox, S_OK);
    const HDC dc = DcOf(surface.Get());
    EXPECT_EQ(PixelAt(dc, 5, 5), RGB(0, 0, 255)) << "the box drawn by name";
    EXPECT_EQ(PixelAt(dc, 22, 4), RGB(0, 255, 0)) << "the box drawn through the vtable";
    int printed = 0;  // the letter's pixels in its cell, which was of the background colour
    for (int y = 12; y < 30; ++y)
        for (int x = 12; x < 20; ++x) printed += PixelAt(dc, x, y) != Rgb(0x8000000F);
    EXPECT_GT(printed, 0) << "the text printed by name";
}

}  // namespace
