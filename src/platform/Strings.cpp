#include "Strings.h"

#include "RuntimeError.h"

namespace kiv {

BSTR NewBstr(std::wstring_view text) {
    BSTR out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!out) RaiseOutOfMemory();
    return out;
}

std::string ToAnsi(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                              nullptr, nullptr);
    }
    return out;
}

}  // namespace kiv
