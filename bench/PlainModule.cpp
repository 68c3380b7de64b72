// The baseline of the module's load and unload: a module built by the same toolchain with the same
// options that does nothing as it loads.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
