// A module built as KIVDRAW.OCX is, with GCC's runtime arranged the same way, whose last destructor
// throws and catches an exception as the module unloads: the runtime's records and pools must still
// be there then. It tells its host through a flag that the host lends it.
#include <windows.h>

#include <stdexcept>

namespace {

int* gCaught = nullptr;

struct ThrowsAtUnload {
    ~ThrowsAtUnload() {
        try {
            throw std::runtime_error("unloading");
        } catch (const std::exception&) {
            if (gCaught) ++*gCaught;
        }
    }
} gThrowsAtUnload;

}  // namespace

extern "C" __declspec(dllexport) void CountCatchesIn(int* caught) { gCaught = caught; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
