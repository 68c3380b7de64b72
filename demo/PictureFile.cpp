#include "PictureFile.h"

#include <objbase.h>
#include <wrl/client.h>

#include <cstring>
#include <stdexcept>

using Microsoft::WRL::ComPtr;

namespace demo {
namespace {

// Everything written to the stream so far.
std::vector<unsigned char> Contents(IStream* stream) {
    const LARGE_INTEGER zero{};
    ULARGE_INTEGER end{};
    if (FAILED(stream->Seek(zero, STREAM_SEEK_CUR, &end)) || end.QuadPart > 0x7FFFFFFF)
        throw std::runtime_error("the saved picture cannot be read back");
    std::vector<unsigned char> bytes(static_cast<size_t>(end.QuadPart));
    ULONG read = 0;
    if (!bytes.empty() && (FAILED(stream->Seek(zero, STREAM_SEEK_SET, nullptr)) ||
                           FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read)) ||
                           read != bytes.size()))
        throw std::runtime_error("the saved picture cannot be read back");
    return bytes;
}

ComPtr<IStream> MemoryStream() {
    ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream))) throw std::runtime_error("no memory stream");
    return stream;
}

}  // namespace

Image PictureImage(IPicture* picture) {
    if (!picture) throw std::runtime_error("no picture");
    ComPtr<IStream> stream = MemoryStream();
    LONG reported = 0;
    std::vector<unsigned char> file;
    if (SUCCEEDED(picture->SaveAsFile(stream.Get(), TRUE, &reported))) file = Contents(stream.Get());

    // Wine's SaveAsFile writes nothing for a picture made in memory. Its IPersistStream::Save
    // writes the same bitmap file behind an 8-byte header ("lt\0\0" and the file's length).
    if (file.empty()) {
        ComPtr<IPersistStream> persist;
        stream = MemoryStream();
        if (FAILED(picture->QueryInterface(IID_IPersistStream, &persist)) || FAILED(persist->Save(stream.Get(), TRUE)))
            throw std::runtime_error("the picture did not save itself");
        std::vector<unsigned char> saved = Contents(stream.Get());
        if (saved.size() > 8 && std::memcmp(saved.data(), "lt\0\0", 4) == 0)
            file.assign(saved.begin() + 8, saved.end());
    }
    if (file.empty()) throw std::runtime_error("the picture saved nothing");
    return ReadBmp(file);
}

}  // namespace demo
