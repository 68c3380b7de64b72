// The surface's pixels as an independent picture object.
#include "KivBitmap.h"

#include "../component/Boundary.h"
#include "../routines/modAlloc.h"

namespace kiv {

STDMETHODIMP KivBitmap::get_Picture(IPicture** Result) {
    return Boundary(this, ErrorMode::Escape, Result, [&] {
        ComPtr<IPictureDisp> snapshot = modAlloc::SnapshotPicture(hDC_, 0, 0, width_, height_);
        if (snapshot) *Result = snapshot.As<IPicture>(IID_IPicture).Detach();
    });
}

}  // namespace kiv
