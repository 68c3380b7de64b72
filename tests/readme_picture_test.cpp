// Every PNG picture that the documents show (an image link ![...](x.png), relative to the document)
// against the one that the demo drew in this run (the test demo_scene), both decoded by the Windows
// Imaging Component as the demo reads its own pictures back: the same size and the same pixels, so
// that no document shows a stale picture. At least one document must show one.
//
//     readme_picture DEMO_PNG DOCUMENT...
//
// Prints PASS, or what differs and how to bring the documents' copy up to date.
#include "PicturePng.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The PNG files that a Markdown document shows, as paths beside the document.
std::vector<std::wstring> PicturesShown(const std::wstring& document) {
    std::ifstream file(document.c_str(), std::ios::binary);
    if (!file) throw std::runtime_error("a document cannot be read");
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::wstring folder = document.substr(0, document.find_last_of(L"\\/") + 1);
    std::vector<std::wstring> pictures;
    for (size_t at = text.find("!["); at != std::string::npos; at = text.find("![", at + 2)) {
        const size_t open = text.find("](", at), close = text.find(')', open);
        if (open == std::string::npos || close == std::string::npos) break;
        const std::string link = text.substr(open + 2, close - open - 2);
        if (link.size() < 4 || link.compare(link.size() - 4, 4, ".png") != 0) continue;
        std::wstring path = folder;
        for (char c : link) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
        pictures.push_back(path);
    }
    return pictures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: readme_picture DEMO_PNG DOCUMENT...\n");
        return 2;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int status = 1;
    try {
        const picturepng::Image drawn = picturepng::ReadPng(argv[1]);
        size_t shown_count = 0, stale = 0;
        for (int i = 2; i < argc; ++i) {
            for (const std::wstring& path : PicturesShown(argv[i])) {
                ++shown_count;
                if (picturepng::ReadPng(path) == drawn) continue;
                std::printf("FAIL: %ls is not, pixel for pixel, what the demo draws\n", path.c_str());
                ++stale;
            }
        }
        if (shown_count == 0) {
            std::printf("FAIL: no document shows a PNG picture\n");
        } else if (stale == 0) {
            std::printf("PASS\n");
            status = 0;
        } else {
            std::printf("make demo, then copy demo/out/scene.png to docs/scene.png\n");
        }
    } catch (const std::exception& error) {
        std::printf("FAIL: %s\n", error.what());
    }
    ::CoUninitialize();
    return status;
}
