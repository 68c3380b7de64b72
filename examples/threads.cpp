// Threads: a worker thread with an apartment and a control of its own, and a surface of the main
// thread handed to another thread through marshalling while the main thread pumps messages.
#include "KivClient.h"

#include <thread>

using namespace kivclient;

namespace {

// Waits for an event while dispatching this thread's messages: calls from other apartments reach
// this thread's objects as messages.
void WaitPumping(HANDLE event) {
    while (::MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
}

}  // namespace

int main() try {
    Apartment com;
    Checks checks;

    // A worker thread makes everything it uses in its own apartment, and releases it before it ends.
    COLORREF workerPixel = CLR_INVALID;
    std::thread worker([&] {
        Apartment workerCom;
        ComPtr<_KivCtl> ctl = NewControl();
        ComPtr<_KivFactory> bitmaps;
        ctl->get_Bitmaps(&bitmaps);
        ComPtr<_KivBitmap> tile = Create(bitmaps.Get(), L"tile", 16, 16);
        short left = 0, top = 0, size = 16;
        LONG green = RGB(0, 160, 0);
        tile->DrawBox(&left, &top, &size, &size, &green);
        workerPixel = ::GetPixel(DcOf(tile.Get()), 8, 8);
    });
    worker.join();
    checks.Expect(workerPixel == RGB(0, 160, 0), "the worker's own surface");

    ComPtr<_KivCtl> ctl = NewControl();
    ComPtr<_KivFactory> bitmaps;
    ctl->get_Bitmaps(&bitmaps);
    ComPtr<_KivBitmap> canvas = Create(bitmaps.Get(), L"canvas", 32, 32);

    // Another thread draws on this thread's surface through a marshalled reference, never a raw one.
    IStream* stream = nullptr;
    ::CoMarshalInterThreadInterfaceInStream(IID__KivBitmap, canvas.Get(), &stream);
    HRESULT drawn = E_FAIL;
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread painter([&] {
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ComPtr<_KivBitmap> remote;
        if (SUCCEEDED(::CoGetInterfaceAndReleaseStream(stream, IID__KivBitmap, &remote))) {
            short left = 4, top = 4, size = 8;
            LONG blue = RGB(0, 0, 255);
            drawn = remote->DrawBox(&left, &top, &size, &size, &blue);
        }
        remote.Reset();
        ::CoUninitialize();
        ::SetEvent(done);
    });
    WaitPumping(done);
    painter.join();
    ::CloseHandle(done);
    checks.Expect(drawn == S_OK, "the call from the other apartment");
    checks.Expect(::GetPixel(DcOf(canvas.Get()), 6, 6) == RGB(0, 0, 255), "its box, on this thread's surface");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
