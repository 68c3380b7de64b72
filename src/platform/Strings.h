// Strings at the boundary: counted wide strings (BSTR, where null equals empty) and their 8-bit form.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>

namespace kiv {

inline std::wstring_view View(BSTR text) noexcept {
    return text ? std::wstring_view(text, ::SysStringLen(text)) : std::wstring_view();
}

// A new BSTR holding text; raises Out of memory when none can be had.
BSTR NewBstr(std::wstring_view text);

// The text in the system's 8-bit (ANSI) code page, or in codePage when given.
std::string ToAnsi(std::wstring_view text, UINT codePage = CP_ACP);

}  // namespace kiv
