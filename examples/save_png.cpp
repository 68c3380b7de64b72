// Saving a surface as a PNG file. Picture gives an OLE bitmap picture; the Windows Imaging Component
// encodes its bitmap as a compressed PNG (PicturePng.h, linked with windowscodecs). The file lands in
// the current folder as save_png.png.
#include "KivClient.h"
#include "PicturePng.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace kivclient;

namespace {

// The file's bytes, to look at them as any PNG reader would.
std::vector<unsigned char> Bytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A 32-bit big-endian value, as PNG stores its numbers.
std::uint32_t BigEndian(const std::vector<unsigned char>& bytes, size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
           bytes[at + 3];
}

}  // namespace

int main() try {
    Apartment com;
    Checks checks;
    const std::wstring path = L"save_png.png";
    ComPtr<IPicture> picture;
    {
        ComPtr<_KivCtl> ctl = NewControl();
        ComPtr<_KivFactory> bitmaps;
        ctl->get_Bitmaps(&bitmaps);
        ComPtr<_KivBitmap> s = Create(bitmaps.Get(), L"badge", 60, 40);
        if (!s) throw std::runtime_error("no surface");
        s->put_BackColor(RGB(0, 0, 255));
        s->Cls();
        short left = 10, top = 5, width = 20, height = 10;
        LONG red = RGB(255, 0, 0);
        s->DrawBox(&left, &top, &width, &height, &red);

        // The picture, saved as a PNG file.
        s->get_Picture(&picture);
        if (!picture) throw std::runtime_error("no picture");
        picturepng::SavePng(picture.Get(), path);
    }

    // A PNG file starts with its 8-byte signature and then its header chunk, IHDR, which gives the
    // width and the height.
    const std::vector<unsigned char> file = Bytes(path);
    const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    checks.Expect(file.size() > 24 && std::equal(std::begin(signature), std::end(signature), file.begin()),
                  "the file is a PNG file");
    if (file.size() <= 24) return checks.Finish();
    checks.Expect(std::string(file.begin() + 12, file.begin() + 16) == "IHDR", "its header chunk comes first");
    checks.Expect(BigEndian(file, 16) == 60 && BigEndian(file, 20) == 40, "it is 60 x 40 pixels");
    checks.Expect(file.size() < 60 * 40 * 3, "it is compressed");

    // Read back, it holds the surface's pixels.
    const picturepng::Image image = picturepng::ReadPng(path);
    checks.Expect(image.At(0, 0) == 0x0000FF && image.At(59, 39) == 0x0000FF, "the blue background");
    checks.Expect(image.At(10, 5) == 0xFF0000 && image.At(29, 14) == 0xFF0000, "the red box's corners");
    checks.Expect(image.At(30, 15) == 0x0000FF, "nothing beyond the box");
    return checks.Finish();
} catch (const std::exception& error) {
    std::printf("FAIL: %s\n", error.what());
    return 1;
}
