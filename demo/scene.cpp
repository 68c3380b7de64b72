// The demo's scene, drawn by a C++ program through the registered module: the same night street as
// scene.vbs, made with vtable calls through the interfaces of the generated header kiv.h. The module
// is reached as any client reaches it, by its ProgID through COM; nothing of it is linked in.
//
//     kiv_demo OUT_DIR [SCRIPT]
//
// Writes OUT_DIR\scene.png. Given the script (scene.vbs), it also runs the script inside this
// program, writes what the script drew to OUT_DIR\scene-vbs.png and compares the two pictures.
// The pictures are saved through the Windows Imaging Component as the example save_png.cpp saves
// them (examples/PicturePng.h), and read back from their files for the checks.
#include "PicturePng.h"
#include "ScriptHost.h"

#include "kiv.h"

#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

using Microsoft::WRL::ComPtr;
using picturepng::Image;

namespace {

constexpr short W = 480, H = 320;
const COLORREF kSky = RGB(24, 32, 72), kGrass = RGB(40, 80, 44), kRoad = RGB(72, 72, 80);
const COLORREF kWhite = RGB(255, 255, 255), kLit = RGB(250, 214, 90), kMagenta = RGB(255, 0, 255);
const COLORREF kCarRed = RGB(200, 30, 30), kGlow = RGB(210, 255, 110);

void Check(HRESULT status, const char* what) {
    if (FAILED(status)) {
        char text[160];
        std::snprintf(text, sizeof text, "%s failed: 0x%08lX", what, static_cast<unsigned long>(status));
        throw std::runtime_error(text);
    }
}

void Progress(const char* text) { std::printf("  %s\n", text); }

// A string for parameters that the interfaces take by reference.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b_(::SysAllocString(text)) {}
    ~Bstr() { ::SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR* Ref() { return &b_; }

private:
    BSTR b_;
};

// Most parameters of _KivBitmap are passed by reference, as Automation clients pass variables; these
// few lines let the scene pass values.
class Surface {
public:
    Surface(_KivFactory* bitmaps, const wchar_t* name, short width, short height) {
        Bstr text(name);
        Check(bitmaps->Create(text.Ref(), &width, &height, &s_), "Create");
        if (!s_) throw std::runtime_error("Create gave no surface");  // Nothing: the platform refused the size
    }
    _KivBitmap* operator->() const { return s_.Get(); }
    _KivBitmap* Get() const { return s_.Get(); }

    LONG Dc() const {
        LONG dc = 0;
        Check(s_->get_hDC(&dc), "hDC");
        return dc;
    }
    void Box(short left, short top, short width, short height, LONG color) {
        Check(s_->DrawBox(&left, &top, &width, &height, &color), "DrawBox");
    }
    void Line(LONG x1, LONG y1, LONG x2, LONG y2, OLE_COLOR color = OLE_COLOR(-1)) {  // -1: ForeColor
        Check(s_->DrawLine(x1, y1, x2, y2, &color), "DrawLine");
    }
    void Circle(short x, short y, short radius) { Check(s_->DrawCircle(&x, &y, &radius), "DrawCircle"); }
    void Ellipse(short left, short top, short right, short bottom) {
        Check(s_->DrawElipse(&left, &top, &right, &bottom), "DrawElipse");
    }
    void Font(const wchar_t* name, short size, bool bold, bool italic, bool underline) {
        Bstr face(name);
        VARIANT_BOOL b = bold ? VARIANT_TRUE : VARIANT_FALSE, i = italic ? VARIANT_TRUE : VARIANT_FALSE,
                     u = underline ? VARIANT_TRUE : VARIANT_FALSE;
        Check(s_->put_FontName(face.Ref()), "FontName");
        Check(s_->put_FontSize(&size), "FontSize");
        Check(s_->put_FontBold(&b), "FontBold");
        Check(s_->put_FontItalic(&i), "FontItalic");
        Check(s_->put_FontUnderline(&u), "FontUnderline");
    }
    void Print(short left, short top, const wchar_t* text) {
        Bstr line(text);
        Check(s_->BPrint(&left, &top, line.Ref()), "BPrint");
    }
    void CopyOnto(LONG targetDC, short left, short top, bool transparent) {
        Check(s_->Copy(&targetDC, &left, &top, transparent ? VARIANT_TRUE : VARIANT_FALSE), "Copy");
    }

private:
    ComPtr<_KivBitmap> s_;
};

// The scene, call for call as scene.vbs draws it; returns its picture.
ComPtr<IPicture> DrawScene(_KivCtl* ctl) {
    ComPtr<_KivFactory> bitmaps;
    Check(ctl->get_Bitmaps(&bitmaps), "Bitmaps");

    Progress("background, 480 x 320 pixels: sky, stars, moon and clouds");
    Surface scene(bitmaps.Get(), L"scene", W, H);
    Check(scene->put_BackColor(kSky), "BackColor");
    Check(scene->Cls(), "Cls");
    const short stars[][2] = {{30, 120}, {96, 150}, {150, 104}, {214, 92}, {262, 118}, {318, 26},
                              {352, 96}, {452, 120}, {40, 188},  {232, 132}, {456, 24}};
    for (const auto& star : stars) {
        const LONG x = star[0], y = star[1];
        scene.Line(x - 3, y, x + 4, y, RGB(255, 240, 170));
        scene.Line(x, y - 3, x, y + 4, RGB(255, 240, 170));
    }
    // Ellipses and circles use the surface's own pen and brush: a black outline and a white inside.
    scene.Circle(410, 64, 30);
    scene.Circle(400, 56, 6);
    scene.Circle(420, 78, 4);
    scene.Ellipse(40, 150, 130, 180);
    scene.Ellipse(90, 140, 190, 176);
    scene.Ellipse(290, 104, 370, 132);

    Progress("text in three fonts (sizes are in pixels)");
    Check(scene->put_ForeColor(kWhite), "ForeColor");
    scene.Font(L"Arial", 40, true, false, false);
    scene.Print(24, 14, L"KIVDRAW");
    Check(scene->put_ForeColor(RGB(200, 210, 255)), "ForeColor");
    scene.Font(L"Times New Roman", 20, false, true, false);
    scene.Print(26, 62, L"a night in an off-screen town");

    Progress("ground, road and two houses: boxes and lines");
    scene.Box(0, 240, W, H - 240, kGrass);
    scene.Box(0, 280, W, 30, kRoad);
    scene.Line(0, 280, W, 280, RGB(150, 150, 150));
    for (LONG x = 8; x <= W; x += 40) scene.Line(x, 295, x + 20, 295, RGB(230, 230, 230));
    scene.Box(150, 170, 90, 70, RGB(150, 60, 50));
    for (LONG y = 132; y <= 169; ++y) {
        const LONG half = (y - 132) * 52 / 37;
        scene.Line(195 - half, y, 195 + half + 1, y, RGB(90, 40, 40));
    }
    scene.Box(162, 184, 20, 18, kLit);
    scene.Box(208, 184, 20, 18, kLit);
    scene.Box(186, 208, 18, 32, RGB(90, 56, 34));
    scene.Box(290, 150, 76, 90, RGB(70, 96, 150));
    scene.Box(284, 144, 88, 8, RGB(50, 60, 90));
    for (short r = 0; r <= 2; ++r)
        for (short c = 0; c <= 2; ++c)
            scene.Box(298 + c * 22, 160 + r * 24, 14, 14, (r + c) % 2 == 0 ? kLit : RGB(40, 48, 70));
    Check(scene->put_BackColor(kGrass), "BackColor");
    scene.Font(L"Courier New", 14, false, false, true);
    scene.Print(12, 252, L"Courier New, 14 pixels");

    Progress("a sign, copied opaque with the control's Blit");
    Surface sign(bitmaps.Get(), L"sign", 132, 30);
    Check(sign->put_BackColor(RGB(240, 230, 200)), "BackColor");
    Check(sign->Cls(), "Cls");
    Check(sign->put_ForeColor(RGB(120, 40, 20)), "ForeColor");
    sign.Font(L"Courier New", 16, true, false, false);
    sign.Print(10, 6, L"KIV STREET");
    // DrawLine without a colour draws in ForeColor; each line stops one pixel short of its end.
    sign.Line(0, 0, 131, 0);
    sign.Line(131, 0, 131, 29);
    sign.Line(131, 29, 0, 29);
    sign.Line(0, 29, 0, 0);
    Check(ctl->Blit(scene.Dc(), 330, 246, 132, 30, sign.Dc(), 0, 0, SRCCOPY), "Blit");

    Progress("a car sprite on magenta, copied three times with magenta left out");
    Surface car(bitmaps.Get(), L"car", 64, 32);
    Check(car->put_BackColor(kMagenta), "BackColor");
    Check(car->Cls(), "Cls");
    car.Box(2, 12, 60, 12, kCarRed);
    car.Box(14, 3, 34, 10, kCarRed);
    car.Box(18, 5, 12, 7, RGB(170, 210, 240));
    car.Box(33, 5, 12, 7, RGB(170, 210, 240));
    car.Box(58, 14, 4, 4, RGB(255, 230, 120));
    car.Circle(16, 25, 6);
    car.Circle(48, 25, 6);
    LONG key = kMagenta;
    Check(car->put_TransparentColor(&key), "TransparentColor");
    car.CopyOnto(scene.Dc(), 24, 276, true);
    car.CopyOnto(scene.Dc(), 196, 276, true);
    car.CopyOnto(scene.Dc(), 360, 276, true);

    Progress("a firefly sprite on black, copied five times: black is the key until TransparentColor is set");
    Surface firefly(bitmaps.Get(), L"firefly", 13, 13);
    Check(firefly->put_BackColor(0), "BackColor");
    Check(firefly->Cls(), "Cls");
    firefly.Circle(6, 6, 5);
    firefly.Box(4, 4, 5, 5, kGlow);
    const short flights[][2] = {{58, 220}, {108, 230}, {248, 224}, {428, 212}, {18, 198}};
    for (const auto& at : flights) firefly.CopyOnto(scene.Dc(), at[0], at[1], true);

    short count = 0;
    Check(bitmaps->get_Count(&count), "Count");
    if (count != 4) throw std::runtime_error("the registry should list four surfaces");

    ComPtr<IPicture> picture;
    Check(scene->get_Picture(&picture), "Picture");
    if (!picture) throw std::runtime_error("Picture gave no picture");
    return picture;
}

// The colour written as RGB(r, g, b) in Windows code (red in the low byte) as a pixel 0x00RRGGBB.
constexpr std::uint32_t FromColorRef(COLORREF colorRef) {
    return ((colorRef & 0xFF) << 16) | (colorRef & 0xFF00) | ((colorRef >> 16) & 0xFF);
}

// What the eye should see, checked on the saved picture's pixels.
int CheckScene(const Image& image) {
    int failures = 0;
    auto expect = [&](bool ok, const char* what) {
        if (!ok) {
            std::printf("FAIL: %s\n", what);
            ++failures;
        }
    };
    expect(image.width == W && image.height == H, "the picture is 480 x 320 pixels");
    if (failures) return failures;
    int magenta = 0;
    for (std::uint32_t p : image.pixels) magenta += p == FromColorRef(kMagenta);
    expect(magenta == 0, "no pixel of the car's key colour is left");
    expect(image.At(5, 5) == FromColorRef(kSky), "the sky");
    expect(image.At(24 + 30, 276 + 17) == FromColorRef(kCarRed), "the first car's body");
    expect(image.At(24, 276) == FromColorRef(kGrass), "grass where the car's corner is its key colour");
    expect(image.At(360 + 63, 276 + 31) == FromColorRef(kRoad), "road under the last car's key-coloured corner");
    expect(image.At(58, 220) == FromColorRef(kSky), "sky where a firefly's corner is black");
    expect(image.At(58 + 6, 220 + 6) == FromColorRef(kGlow), "a firefly's glow");
    expect(image.At(330 + 1, 246 + 1) == FromColorRef(RGB(240, 230, 200)), "the sign, copied opaque");
    expect(image.At(330, 246) == FromColorRef(RGB(120, 40, 20)), "the sign's border in its ForeColor");
    return failures;
}

std::wstring ReadText(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);  // the script is ASCII (UTF-8 at most)
    if (!in) throw std::runtime_error("cannot read the script");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring text(bytes.size(), L'\0');
    text.resize(::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                                      static_cast<int>(text.size())));
    return text;
}

// Saves the picture as OUT_DIR\NAME, a PNG file, and reads the file back: it must hold the picture's
// pixels exactly. Returns the pixels read from the file.
Image SaveAndReadBack(IPicture* picture, const std::wstring& outDir, const std::wstring& name, int& failures) {
    const std::wstring path = outDir + L"\\" + name;
    picturepng::SavePng(picture, path);
    const Image saved = picturepng::ReadPng(path);
    const auto bytes = std::filesystem::file_size(std::filesystem::path(path));
    std::printf("  wrote %ls, %u x %u pixels, %llu bytes\n", name.c_str(), saved.width, saved.height,
                static_cast<unsigned long long>(bytes));
    if (bytes >= std::uintmax_t{saved.width} * saved.height * 3) {
        std::printf("FAIL: %ls is not compressed\n", name.c_str());
        ++failures;
    }
    if (!(saved == picturepng::PictureImage(picture))) {
        std::printf("FAIL: %ls does not hold the picture's pixels\n", name.c_str());
        ++failures;
    }
    return saved;
}

// The apartment of this thread, for as long as the program runs.
struct Apartment {
    Apartment() { Check(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), "CoInitializeEx"); }
    ~Apartment() { ::CoUninitialize(); }
};

int Run(const std::wstring& outDir, const std::wstring& script) {
    std::filesystem::create_directories(std::filesystem::path(outDir));
    Apartment apartment;
    CLSID clsid{};
    Check(::CLSIDFromProgID(L"Kiv.KivCtl", &clsid), "CLSIDFromProgID(Kiv.KivCtl): is KIVDRAW.OCX registered?");

    std::printf("-- the scene in C++: vtable calls on the registered module\n");
    ComPtr<IPicture> picture;
    {
        ComPtr<_KivCtl> ctl;
        Check(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__KivCtl, &ctl), "CoCreateInstance");
        picture = DrawScene(ctl.Get());
    }
    int failures = 0;
    const Image image = SaveAndReadBack(picture.Get(), outDir, L"scene.png", failures);
    failures += CheckScene(image);

    if (!script.empty()) {
        std::printf("-- the same scene in VBScript, run inside this program so that its picture can be saved\n");
        int lines = 0;
        demo::ScriptHost host([&](const std::wstring& line) {
            ++lines;
            if (line.rfind(L"FAIL", 0) == 0 || line.rfind(L"script error", 0) == 0) {
                std::printf("%ls\n", line.c_str());
                ++failures;
            }
        });
        if (!host.Run(ReadText(script))) throw std::runtime_error("the script failed");
        ComPtr<_KivBitmap> scene;
        if (ComPtr<IDispatch> global = host.Global(L"scene")) global.As(&scene);
        if (!scene) throw std::runtime_error("the script left no surface in its variable scene");
        ComPtr<IPicture> scriptPicture;
        Check(scene->get_Picture(&scriptPicture), "Picture");
        std::printf("  the script wrote %d lines\n", lines);
        const Image scripted = SaveAndReadBack(scriptPicture.Get(), outDir, L"scene-vbs.png", failures);
        int differing = scripted.width == image.width && scripted.height == image.height ? 0 : -1;
        if (differing == 0)
            for (size_t i = 0; i < image.pixels.size(); ++i) differing += image.pixels[i] != scripted.pixels[i];
        if (differing == 0) {
            std::printf("  scene-vbs.png and scene.png are the same, pixel for pixel\n");
        } else {
            std::printf("FAIL: the script's scene differs from the C++ scene (%d pixels)\n", differing);
            ++failures;
        }
    }
    return failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kiv_demo OUT_DIR [SCRIPT]\n");
        return 2;
    }
    try {
        const int failures = Run(argv[1], argc > 2 ? argv[2] : L"");
        if (failures) return 1;
        std::printf("PASS\n");
        return 0;
    } catch (const std::exception& error) {
        std::printf("FAIL: %s\n", error.what());
        return 1;
    }
}
