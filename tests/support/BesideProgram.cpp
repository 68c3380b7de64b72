#include "BesideProgram.h"

#include <windows.h>

namespace kivtest {

std::wstring BesideProgram(const wchar_t* name) {
    wchar_t self[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

}  // namespace kivtest
