// The picture at the top of the README (docs/scene.png) against the one that the demo drew in this
// run (the test demo_scene), both decoded by the Windows Imaging Component as the demo reads its own
// pictures back: the same size and the same pixels, so that the README never shows a stale picture.
//
//     readme_picture README_PNG DEMO_PNG
//
// Prints PASS, or what differs and how to bring the README's copy up to date.
#include "PicturePng.h"

#include <windows.h>

#include <cstdio>
#include <exception>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: readme_picture README_PNG DEMO_PNG\n");
        return 2;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int status = 1;
    try {
        const picturepng::Image shown = picturepng::ReadPng(argv[1]);
        const picturepng::Image drawn = picturepng::ReadPng(argv[2]);
        if (shown.width != drawn.width || shown.height != drawn.height) {
            std::printf("FAIL: the README's picture is %u x %u pixels, the demo's %u x %u\n", shown.width,
                        shown.height, drawn.width, drawn.height);
        } else {
            size_t differing = 0;
            for (size_t i = 0; i < shown.pixels.size(); ++i) differing += shown.pixels[i] != drawn.pixels[i];
            if (differing == 0) {
                std::printf("PASS\n");
                status = 0;
            } else {
                std::printf("FAIL: %zu pixels of the README's picture differ from what the demo draws\n", differing);
            }
        }
        if (status != 0) std::printf("make demo, then copy demo/out/scene.png to docs/scene.png\n");
    } catch (const std::exception& error) {
        std::printf("FAIL: %s\n", error.what());
    }
    ::CoUninitialize();
    return status;
}
