// Reads the bitmap file that a bitmap picture saves itself as.
#include "Image.h"

#include <stdexcept>

namespace demo {
namespace {

std::uint32_t U32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }
std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

// One colour channel given by a bit mask (BI_BITFIELDS), scaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    explicit Channel(std::uint32_t m) : mask(m) {
        if (mask == 0) throw std::runtime_error("a colour mask is empty");
        while (!((mask >> shift) & 1)) ++shift;
    }
    std::uint32_t operator()(std::uint32_t value) const {
        const std::uint32_t top = mask >> shift;
        return ((value & mask) >> shift) * 255 / top;
    }
};

constexpr std::uint32_t kRgb = 0, kBitFields = 3;

}  // namespace

Image ReadBmp(const std::vector<unsigned char>& file) {
    // BITMAPFILEHEADER (14 bytes), then a BITMAPINFOHEADER or a larger version of it.
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') throw std::runtime_error("not a bitmap file");
    const unsigned char* info = file.data() + 14;
    const std::uint32_t infoSize = U32(info);
    const std::uint32_t pixelOffset = U32(file.data() + 10);
    const auto width = static_cast<std::int32_t>(U32(info + 4));
    const auto rawHeight = static_cast<std::int32_t>(U32(info + 8));
    const std::uint16_t bits = U16(info + 14);
    const std::uint32_t compression = U32(info + 16);
    std::uint32_t colours = U32(info + 32);
    const bool topDown = rawHeight < 0;
    const int height = topDown ? -rawHeight : rawHeight;
    const bool supported = (compression == kRgb && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
                           (compression == kBitFields && (bits == 16 || bits == 32));
    if (width <= 0 || height <= 0 || infoSize < 40 || !supported) throw std::runtime_error("unsupported bitmap format");

    // After the header: three colour masks (red, green, blue) for BI_BITFIELDS, a colour table
    // (blue, green, red, reserved) for 8 bits per pixel.
    // Wine writes BI_BITFIELDS without the masks, the pixels straight after the header; its pixels
    // then have the default layout of their bit count.
    const unsigned char* after = info + infoSize;
    const bool masksGiven = compression == kBitFields && (infoSize > 40 || pixelOffset >= 14 + 40 + 12);
    const unsigned char* masks = infoSize == 40 ? after : info + 40;  // larger headers carry them inside
    const bool fiveFiveFive = bits == 16 && !masksGiven;
    std::vector<std::uint32_t> table;
    if (bits == 8) {
        if (colours == 0) colours = 256;
        if (14 + infoSize + colours * 4 > file.size()) throw std::runtime_error("truncated colour table");
        for (std::uint32_t i = 0; i < colours; ++i, after += 4)
            table.push_back((after[2] << 16) | (after[1] << 8) | after[0]);
    }
    const Channel red(masksGiven ? U32(masks) : fiveFiveFive ? 0x7C00u : 0xFF0000u);
    const Channel green(masksGiven ? U32(masks + 4) : fiveFiveFive ? 0x03E0u : 0x00FF00u);
    const Channel blue(masksGiven ? U32(masks + 8) : fiveFiveFive ? 0x001Fu : 0x0000FFu);

    const size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;  // rows end on 4-byte boundaries
    if (pixelOffset + stride * height > file.size()) throw std::runtime_error("truncated bitmap");
    Image image{width, height, std::vector<std::uint32_t>(static_cast<size_t>(width) * height)};
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = file.data() + pixelOffset + stride * (topDown ? y : height - 1 - y);
        for (int x = 0; x < width; ++x) {
            std::uint32_t value = 0;
            switch (bits) {
            case 8: value = row[x] < table.size() ? table[row[x]] : 0; break;
            case 16: value = U16(row + 2 * x); break;
            case 24: value = row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16); break;
            default: value = U32(row + 4 * x); break;
            }
            image.pixels[static_cast<size_t>(y) * width + x] =
                bits == 8 ? value : (red(value) << 16) | (green(value) << 8) | blue(value);
        }
    }
    return image;
}

}  // namespace demo
