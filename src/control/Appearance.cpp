#include "Appearance.h"

#include "../component/Module.h"
#include "../component/Resources.h"

namespace kiv::appearance {

Picture Find() noexcept {
    Picture picture;
    HMODULE module = module::Handle();
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(KIV_APPEARANCE_BITMAP), MAKEINTRESOURCEW(2) /* bitmap */);
    if (!found) return picture;
    HGLOBAL loaded = ::LoadResource(module, found);  // a resource lives as long as its module
    const auto* info = loaded ? static_cast<const BITMAPINFO*>(::LockResource(loaded)) : nullptr;
    if (!info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return picture;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    DWORD colours = header.biClrUsed;
    if (colours == 0 && header.biBitCount <= 8) colours = 1u << header.biBitCount;
    picture.info = info;
    picture.bits = reinterpret_cast<const BYTE*>(info) + header.biSize + colours * sizeof(RGBQUAD);
    picture.width = header.biWidth;
    picture.height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    return picture;
}

bool Paint(HDC dc, const RECT& bounds) noexcept {
    const Picture picture = Find();
    if (!picture) return false;
    // Whole pixels only: a stretched design-time picture should not smear its colours together.
    const int previous = ::SetStretchBltMode(dc, COLORONCOLOR);
    ::StretchDIBits(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, 0, 0,
                    picture.width, picture.height, picture.bits, picture.info, DIB_RGB_COLORS, SRCCOPY);
    if (previous) ::SetStretchBltMode(dc, previous);
    return true;
}

}  // namespace kiv::appearance
