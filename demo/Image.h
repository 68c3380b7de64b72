// A picture's pixels in memory, and the two file formats that the demo reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace demo {

// Top-down rows of 0x00RRGGBB pixels.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The colour written as RGB(r, g, b) in Windows code: red in the low byte.
constexpr std::uint32_t FromColorRef(unsigned long colorRef) {
    return ((colorRef & 0xFF) << 16) | (colorRef & 0xFF00) | ((colorRef >> 16) & 0xFF);
}

// Decodes a Windows bitmap file (what a bitmap picture saves itself as): 8 bits per pixel with a
// colour table, 24 bits, or 16 and 32 bits with or without colour masks; bottom-up or top-down.
// Throws std::runtime_error for anything else.
Image ReadBmp(const std::vector<unsigned char>& file);

// Writes the image as a PNG file (8-bit RGB, stored deflate blocks). Throws std::runtime_error when
// the file cannot be written.
void WritePng(const std::wstring& path, const Image& image);

}  // namespace demo
