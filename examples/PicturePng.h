// A bitmap picture (what KivBitmap's Picture gives) saved as a PNG file, and a PNG file read back,
// with the Windows Imaging Component (WIC), which is part of Windows: link windowscodecs as well as
// ole32 and oleaut32. WIC is a COM library: call it on a thread that has COM (an apartment).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace picturepng {

using Microsoft::WRL::ComPtr;

inline void Check(HRESULT status, const char* what) {
    if (FAILED(status)) throw std::runtime_error(std::string(what) + " failed");
}

inline ComPtr<IWICImagingFactory> ImagingFactory() {
    ComPtr<IWICImagingFactory> factory;
    Check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)),
          "creating the WIC imaging factory");
    return factory;
}

// The picture's own bitmap and palette, as WIC pixels. OLE_HANDLE is 32 bits; GDI handles fit in
// it on 64-bit Windows too, widened with their sign.
inline ComPtr<IWICBitmap> PictureBitmap(IWICImagingFactory* wic, IPicture* picture) {
    OLE_HANDLE bitmap = 0, palette = 0;
    Check(picture->get_Handle(&bitmap), "IPicture::get_Handle");
    picture->get_hPal(&palette);  // a palette only on 256-colour displays
    auto handle = [](OLE_HANDLE h) { return reinterpret_cast<void*>(static_cast<INT_PTR>(static_cast<LONG>(h))); };
    ComPtr<IWICBitmap> pixels;
    Check(wic->CreateBitmapFromHBITMAP(static_cast<HBITMAP>(handle(bitmap)), static_cast<HPALETTE>(handle(palette)),
                                       WICBitmapIgnoreAlpha, &pixels),
          "IWICImagingFactory::CreateBitmapFromHBITMAP");
    return pixels;
}

// Writes the picture as a PNG file (24-bit colour), replacing any file of that name.
inline void SavePng(IPicture* picture, const std::wstring& path) {
    ComPtr<IWICImagingFactory> wic = ImagingFactory();
    ComPtr<IWICBitmap> pixels = PictureBitmap(wic.Get(), picture);
    UINT width = 0, height = 0;
    Check(pixels->GetSize(&width, &height), "IWICBitmap::GetSize");

    ComPtr<IWICStream> file;
    Check(wic->CreateStream(&file), "IWICImagingFactory::CreateStream");
    Check(file->InitializeFromFilename(path.c_str(), GENERIC_WRITE), "IWICStream::InitializeFromFilename");
    ComPtr<IWICBitmapEncoder> encoder;
    Check(wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder), "IWICImagingFactory::CreateEncoder");
    Check(encoder->Initialize(file.Get(), WICBitmapEncoderNoCache), "IWICBitmapEncoder::Initialize");
    ComPtr<IWICBitmapFrameEncode> frame;
    Check(encoder->CreateNewFrame(&frame, nullptr), "IWICBitmapEncoder::CreateNewFrame");
    Check(frame->Initialize(nullptr), "IWICBitmapFrameEncode::Initialize");
    Check(frame->SetSize(width, height), "IWICBitmapFrameEncode::SetSize");
    // The encoder answers with the format that it will write, the nearest that it has.
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    Check(frame->SetPixelFormat(&format), "IWICBitmapFrameEncode::SetPixelFormat");
    ComPtr<IWICFormatConverter> converted;
    Check(wic->CreateFormatConverter(&converted), "IWICImagingFactory::CreateFormatConverter");
    Check(converted->Initialize(pixels.Get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          "IWICFormatConverter::Initialize");
    Check(frame->WriteSource(converted.Get(), nullptr), "IWICBitmapFrameEncode::WriteSource");
    Check(frame->Commit(), "IWICBitmapFrameEncode::Commit");
    Check(encoder->Commit(), "IWICBitmapEncoder::Commit");
}

// Top-down rows of 0x00RRGGBB pixels.
struct Image {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t At(UINT x, UINT y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool operator==(const Image&) const = default;
};

// Any WIC pixels as 0x00RRGGBB: 32-bit BGR in memory is blue, green, red and a spare byte.
inline Image ImageOf(IWICImagingFactory* wic, IWICBitmapSource* source) {
    ComPtr<IWICFormatConverter> converted;
    Check(wic->CreateFormatConverter(&converted), "IWICImagingFactory::CreateFormatConverter");
    Check(converted->Initialize(source, GUID_WICPixelFormat32bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          "IWICFormatConverter::Initialize");
    Image image;
    Check(converted->GetSize(&image.width, &image.height), "IWICBitmapSource::GetSize");
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    Check(converted->CopyPixels(nullptr, image.width * 4, static_cast<UINT>(image.pixels.size() * 4),
                                reinterpret_cast<BYTE*>(image.pixels.data())),
          "IWICBitmapSource::CopyPixels");
    for (std::uint32_t& pixel : image.pixels) pixel &= 0xFFFFFF;
    return image;
}

// The picture's pixels in memory.
inline Image PictureImage(IPicture* picture) {
    ComPtr<IWICImagingFactory> wic = ImagingFactory();
    return ImageOf(wic.Get(), PictureBitmap(wic.Get(), picture).Get());
}

// A PNG file's pixels, decoded by WIC; throws when the file is not a PNG.
inline Image ReadPng(const std::wstring& path) {
    ComPtr<IWICImagingFactory> wic = ImagingFactory();
    ComPtr<IWICBitmapDecoder> decoder;
    Check(wic->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                         &decoder),
          "IWICImagingFactory::CreateDecoderFromFilename");
    GUID container{};
    Check(decoder->GetContainerFormat(&container), "IWICBitmapDecoder::GetContainerFormat");
    if (container != GUID_ContainerFormatPng) throw std::runtime_error("not a PNG file");
    ComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(0, &frame), "IWICBitmapDecoder::GetFrame");
    return ImageOf(wic.Get(), frame.Get());
}

}  // namespace picturepng
