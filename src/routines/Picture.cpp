#include "modAlloc.h"

#include "../platform/Handles.h"

#include <optional>
#include <vector>

namespace kiv::modAlloc {

ComPtr<IPictureDisp> SnapshotPicture(HDC source, long left, long top, long width, long height) {
    platform::MemoryDC memory(platform::CreateCompatibleDC(source));
    platform::Bitmap bitmap(platform::CreateCompatibleBitmap(source, width, height));
    platform::Palette palette;
    {
        platform::Selection selectedBitmap(memory.Get(), bitmap.Get());
        std::optional<platform::PaletteSelection> selectedPalette;

        const bool paletteDevice = (platform::GetDeviceCaps(source, RASTERCAPS) & RC_PALETTE) != 0;
        const int paletteSize = platform::GetDeviceCaps(source, SIZEPALETTE);
        if (paletteDevice && paletteSize == 256) {
            // A copy of the system palette as it is now goes with the pixels.
            std::vector<unsigned char> record(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
            auto* logical = reinterpret_cast<LOGPALETTE*>(record.data());
            logical->palVersion = 0x300;
            logical->palNumEntries = 256;
            platform::GetSystemPaletteEntries(source, 0, 256, logical->palPalEntry);
            palette = platform::Palette(platform::CreatePalette(logical));
            selectedPalette.emplace(memory.Get(), palette.Get(), FALSE);
        }
        platform::BitBlt(memory.Get(), 0, 0, width, height, source, left, top, SRCCOPY);
        // The bitmap comes out of the memory context first, then the palette.
        selectedBitmap.Restore();
        if (selectedPalette) selectedPalette->Restore(false);
    }
    memory.Reset();
    return BitmapToPicture(bitmap.Release(), palette.Release());
}

ComPtr<IPictureDisp> BitmapToPicture(HBITMAP bitmap, HPALETTE palette) {
    // Until the picture owns them, the handles are ours to delete.
    platform::Bitmap ownedBitmap(bitmap);
    platform::Palette ownedPalette(palette);
    PICTDESC description = {};
    description.cbSizeofstruct = sizeof(PICTDESC);
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = bitmap;
    description.bmp.hpal = palette;
    ComPtr<IPictureDisp> picture;
    if (SUCCEEDED(platform::OleCreatePictureIndirect(&description, IID_IDispatch, TRUE,
                                                     reinterpret_cast<void**>(picture.Put()))) &&
        picture) {
        ownedBitmap.Release();
        ownedPalette.Release();
    }
    return picture;
}

}  // namespace kiv::modAlloc
