#include "modAlloc.h"

#include "../platform/Gdi.h"
#include "../platform/Strings.h"

namespace kiv::modAlloc {

HFONT MakeFont(std::wstring_view faceName, long height, VARIANT_BOOL bold, VARIANT_BOOL italic,
               VARIANT_BOOL underline) {
    // Only a true flag of exactly -1 is bold, and then the weight is 400 + 700.
    const int weight = bold == VARIANT_TRUE ? 400 + 700 : 400;
    const std::string face = ToAnsi(faceName);
    // The flags go out widened with their sign: true is all bits set.
    return platform::CreateFontA(height, 0, 0, 0, weight, static_cast<DWORD>(static_cast<long>(italic)),
                                 static_cast<DWORD>(static_cast<long>(underline)), 0, DEFAULT_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_DECORATIVE, face.c_str());
}

}  // namespace kiv::modAlloc
