// A long mixed workload: surfaces made, removed, cleared, held and dropped; drawn on, printed on,
// copied opaque and transparent, taken out as pictures; their colours and fonts set; the client's own
// GDI calls on their contexts; some calls late bound. Every kSample operations the platform objects
// alive are counted: they must be exactly those of the control's context and of the surfaces that the
// registry lists or the client holds (a context, a bitmap and a palette each; a surface of an empty
// size has the platform's shared bitmap, which is nobody's), with no pen, brush, font or screen context
// left over, and the module's objects exactly the control, its registry and those surfaces. So the
// counts follow the live surfaces and nothing else: no trend of their own.
//
// Size and seed: --ops=N --seed=N on the command line, or KIV_SOAK_OPS and KIV_SOAK_SEED; make test
// runs a short workload, the long one is --ops=100000.
#include "TestSupport.h"
#include "robustness.h"

#include "component/Module.h"

#include <oleauto.h>
#include <olectl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow();

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

constexpr std::uint64_t kSample = 1000;
constexpr short kMaxListed = 48;
constexpr size_t kMaxHeld = 8;
constexpr size_t kMaxPictures = 3;

// DISPIDs of the members that the workload also calls late bound.
constexpr DISPID kCreate = 0x60030008;
constexpr DISPID kDrawBox = 0x60030014;
constexpr DISPID kBPrint = 0x60030018;
constexpr DISPID kCopy = 0x60030012;
constexpr DISPID kForeColor = 0x68030002;

VARIANT Text(const std::wstring& text) {
    VARIANT x;
    ::VariantInit(&x);
    V_VT(&x) = VT_BSTR;
    V_BSTR(&x) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return x;
}

// A late-bound call with its arguments in declared order (a put's value named); the arguments are
// cleared afterwards.
HRESULT Call(IUnknown* object, DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr) {
    const HRESULT hr = LateBound(object, id, flags, args, result);
    for (auto& v : args) ::VariantClear(&v);
    return hr;
}

// The platform's shared 1 x 1 bitmap, which a new memory context holds and an empty size gets.
HGDIOBJ SharedBitmap() {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ bitmap = ::GetCurrentObject(dc, OBJ_BITMAP);
    ::DeleteDC(dc);
    return bitmap;
}

// Whether a surface has a bitmap of its own: not when its size is empty.
bool OwnsABitmap(_KivBitmap* surface) {
    short width = 0, height = 0;
    surface->get_Width(&width);
    surface->get_Height(&height);
    return width != 0 && height != 0;
}

double PrivateMegabytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage / 1048576.0;
}

struct Sample {
    std::uint64_t op;
    int platformObjects;
    int surfaces;
    double megabytes;
};

class Workload {
public:
    Workload(std::uint64_t seed, kivtest::GdiCounts start, long objectsAtStart, kivtest::GdiCounts controlDc)
        : random_(seed), start_(start), objectsAtStart_(objectsAtStart), controlDc_(controlDc),
          target_(64, 48, RGB(9, 9, 9)) {
        StartControl();
    }

    void Run(std::uint64_t ops) {
        Measure(0);
        for (op_ = 1; op_ <= ops; ++op_) {
            One();
            if (op_ % kSample == 0 || op_ == ops) Measure(op_);
            if (::testing::Test::HasFatalFailure() || failures_ > 20) return;
        }
    }

    void ReleaseAll() {
        for (auto& picture : pictures_) DropPicture(picture);
        pictures_.clear();
        held_.clear();
        registry_ = nullptr;
        control_ = nullptr;
    }

    std::vector<Sample> samples;
    std::map<std::string, long> done;  // operations by kind

private:
    void StartControl() {
        control_ = NewControl();
        ASSERT_TRUE(control_);
        registry_ = BitmapsOf(control_.Get());
        ASSERT_TRUE(registry_);
    }

    // Exactly the surfaces that the registry lists or the client holds are alive, with exactly their
    // objects and the control's.
    void Measure(std::uint64_t op) {
        std::map<IUnknown*, bool> alive;  // each surface, and whether it has a bitmap of its own
        const short listed = CountOf(registry_.Get());
        for (short i = 1; i <= listed; ++i) {
            short index = i;
            ComPtr<_KivBitmap> surface;
            registry_->get_ItemInt(&index, surface.Put());
            alive[Identity(surface.Get())] = OwnsABitmap(surface.Get());
        }
        for (const auto& surface : held_) alive[Identity(surface.Get())] = OwnsABitmap(surface.Get());
        const int surfaces = static_cast<int>(alive.size());
        int bitmaps = 0;
        for (const auto& [surface, owns] : alive) bitmaps += owns;

        const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
        const std::string when = "after operation " + std::to_string(op);
        EXPECT_EQ(now.dcs, start_.dcs + controlDc_.dcs + surfaces) << when;
        EXPECT_EQ(now.bitmaps, start_.bitmaps + controlDc_.bitmaps + bitmaps) << when;
        EXPECT_EQ(now.palettes, start_.palettes + surfaces) << when;
        EXPECT_EQ(now.pens, start_.pens) << when;
        EXPECT_EQ(now.brushes, start_.brushes) << when;
        EXPECT_EQ(now.fonts, start_.fonts) << when;
        EXPECT_EQ(now.screenDCs, start_.screenDCs) << when;
        EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart_ + 2 + surfaces) << when;
        if (::testing::Test::HasFailure()) ++failures_;
        samples.push_back({op, now.Total(), surfaces, PrivateMegabytes()});
    }

    static IUnknown* Identity(IUnknown* object) {
        if (!object) return nullptr;
        IUnknown* unknown = nullptr;
        object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
        if (unknown) unknown->Release();
        return unknown;
    }

    // A surface to work on: one that the client holds, or one of the list.
    ComPtr<_KivBitmap> Some() {
        if (!held_.empty() && random_.Chance(40)) return held_[random_.Below(static_cast<std::uint32_t>(held_.size()))];
        const short listed = CountOf(registry_.Get());
        if (listed == 0) return held_.empty() ? nullptr : held_[0];
        short index = static_cast<short>(1 + random_.Below(static_cast<std::uint32_t>(listed)));
        ComPtr<_KivBitmap> surface;
        registry_->get_ItemInt(&index, surface.Put());
        return surface;
    }

    void Hold(ComPtr<_KivBitmap> surface) {
        if (!surface) return;
        if (held_.size() < kMaxHeld) held_.push_back(surface);
        else held_[random_.Below(kMaxHeld)] = surface;
    }

    // A picture goes with its bitmap (unless that is the platform's shared one, of an empty surface).
    void DropPicture(ComPtr<IPicture>& picture) {
        OLE_HANDLE handle = 0;
        picture->get_Handle(&handle);
        picture = nullptr;
        const HGDIOBJ bitmap = reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle));
        if (bitmap != shared_) {
            EXPECT_EQ(::GetObjectType(bitmap), 0u) << "a released picture's bitmap is alive, operation " << op_;
        }
    }

    static short Coordinate(Random& random) { return static_cast<short>(static_cast<int>(random.Below(90)) - 15); }

    OLE_COLOR Colour() {
        static const OLE_COLOR kSystem[] = {0x8000000F, 0x80000012, 0x80000005, 0x800000FF /* unknown */};
        return random_.Chance(20) ? random_.Pick(kSystem)
                                  : static_cast<OLE_COLOR>(random_.Next() & 0xFFFFFF);
    }

    void One() {
        const std::uint32_t pick = random_.Below(1000);
        const bool late = random_.Chance(25);
        if (pick < 120) {
            ++done["create"];
            if (CountOf(registry_.Get()) >= kMaxListed) {
                short first = 1;
                registry_->RemoveInt(&first);
            }
            static const wchar_t* const kNames[] = {L"a", L"b", L"c", L"d", L"e", L"f", L"g", L"h"};
            const std::wstring name = random_.Pick(kNames);
            short width = static_cast<short>(1 + random_.Below(64)), height = static_cast<short>(1 + random_.Below(48));
            const std::uint32_t size = random_.Below(100);
            if (size < 10) {
                width = static_cast<short>(100 + random_.Below(200));
                height = static_cast<short>(80 + random_.Below(150));
            } else if (size < 14) {
                static const short kOdd[] = {0, -1, 1, -20};
                width = random_.Pick(kOdd);
            }
            ComPtr<_KivBitmap> made;
            if (late) {
                VARIANT result;
                ::VariantInit(&result);
                EXPECT_EQ(Call(registry_.Get(), kCreate, DISPATCH_METHOD, {Text(name), I2(width), I2(height)}, &result),
                          S_OK);
                if (V_VT(&result) == VT_DISPATCH && V_DISPATCH(&result))
                    made = ComPtr<IDispatch>(V_DISPATCH(&result)).As<_KivBitmap>(IID__KivBitmap);
                ::VariantClear(&result);
            } else {
                made = Create(registry_.Get(), name, width, height);
            }
            if (made && random_.Chance(30)) Hold(made);
        } else if (pick < 200) {
            ++done["remove"];
            short index = static_cast<short>(random_.Below(static_cast<std::uint32_t>(CountOf(registry_.Get()) + 2)));
            EXPECT_EQ(registry_->RemoveInt(&index), S_OK);
        } else if (pick < 205) {
            ++done["clear"];
            EXPECT_EQ(registry_->Clear(), S_OK);
        } else if (pick < 255) {
            ++done["hold"];
            if (random_.Chance(50)) {
                Hold(Some());
            } else {
                BSTR name = ::SysAllocString(random_.Chance(50) ? L"a" : L"b");
                ComPtr<_KivBitmap> found;
                EXPECT_EQ(registry_->get_ItemTxt(&name, found.Put()), S_OK);
                ::SysFreeString(name);
                Hold(found);
            }
        } else if (pick < 305) {
            ++done["drop"];
            if (!held_.empty()) held_.erase(held_.begin() + random_.Below(static_cast<std::uint32_t>(held_.size())));
        } else if (pick < 550) {
            ++done["draw"];
            ComPtr<_KivBitmap> surface = Some();
            if (!surface) return;
            short a = Coordinate(random_), b = Coordinate(random_), c = Coordinate(random_), d = Coordinate(random_);
            switch (random_.Below(5)) {
            case 0:
                if (late) {
                    EXPECT_EQ(Call(surface.Get(), kDrawBox, DISPATCH_METHOD,
                                   {I2(a), I2(b), I2(c), I2(d), I4(static_cast<long>(Colour()))}),
                              S_OK);
                } else {
                    LONG colour = static_cast<LONG>(Colour());
                    EXPECT_EQ(surface->DrawBox(&a, &b, &c, &d, random_.Chance(20) ? nullptr : &colour), S_OK);
                }
                break;
            case 1: {
                OLE_COLOR colour = random_.Chance(30) ? static_cast<OLE_COLOR>(-1) : Colour();
                EXPECT_EQ(surface->DrawLine(a, b, c, d, &colour), S_OK);
                break;
            }
            case 2: EXPECT_EQ(surface->DrawCircle(&a, &b, &c), S_OK); break;
            case 3: EXPECT_EQ(surface->DrawElipse(&a, &b, &c, &d), S_OK); break;
            default: EXPECT_EQ(surface->Cls(), S_OK); break;
            }
        } else if (pick < 630) {
            ++done["text"];
            ComPtr<_KivBitmap> surface = Some();
            if (!surface) return;
            std::wstring text(random_.Below(40), L'x');
            for (auto& c : text) c = static_cast<wchar_t>(L' ' + random_.Below(95));
            short left = Coordinate(random_), top = Coordinate(random_);
            if (late) {
                EXPECT_EQ(Call(surface.Get(), kBPrint, DISPATCH_METHOD, {I2(left), I2(top), Text(text)}), S_OK);
            } else {
                BSTR bstr = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
                EXPECT_EQ(surface->BPrint(&left, &top, &bstr), S_OK);
                ::SysFreeString(bstr);
            }
        } else if (pick < 750) {
            ++done["copy"];
            ComPtr<_KivBitmap> surface = Some();
            if (!surface) return;
            HDC target = target_.Dc();
            if (random_.Chance(50)) {
                if (ComPtr<_KivBitmap> other = Some()) target = DcOf(other.Get());
            }
            LONG dc = platform::HandleToI4(target);
            short left = Coordinate(random_), top = Coordinate(random_);
            const VARIANT_BOOL transparent = random_.Chance(50) ? VARIANT_TRUE : VARIANT_FALSE;
            if (late) {
                EXPECT_EQ(Call(surface.Get(), kCopy, DISPATCH_METHOD,
                               {I4(dc), I2(left), I2(top), I2(transparent ? -1 : 0)}),
                          S_OK);
            } else {
                EXPECT_EQ(surface->Copy(&dc, &left, &top, transparent), S_OK);
            }
        } else if (pick < 810) {
            ++done["picture"];
            ComPtr<_KivBitmap> surface = Some();
            if (!surface) return;
            ComPtr<IPicture> picture;
            EXPECT_EQ(surface->get_Picture(picture.Put()), S_OK);
            if (!picture) return;
            if (random_.Chance(50)) {
                OLE_XSIZE_HIMETRIC width = 0;
                OLE_YSIZE_HIMETRIC height = 0;
                picture->get_Width(&width);
                picture->get_Height(&height);
                picture->Render(target_.Dc(), 0, 0, 16, 16, 0, height, width, -height, nullptr);
            }
            if (random_.Chance(20)) {
                if (pictures_.size() < kMaxPictures) {
                    pictures_.push_back(picture);
                    picture = nullptr;
                } else {
                    std::swap(pictures_[random_.Below(kMaxPictures)], picture);
                }
            }
            if (picture) DropPicture(picture);
        } else if (pick < 890) {
            ++done["colour"];
            ComPtr<_KivBitmap> surface = Some();
            if (!surface) return;
            switch (random_.Below(3)) {
            case 0:
                if (late) {
                    EXPECT_EQ(Call(surface.Get(), kForeColor, DISPATCH_PROPERTYPUT, {I4(static_cast<long>(Colour()))}),
                              S_OK);
                } else {
                    EXPECT_EQ(surface->put_ForeColor(static_cast<LONG>(Colour())), S_OK);
                }
                break;
            case 1: EXPECT_EQ(surface->put_BackColor(static_cast<LONG>(Colour())), S_OK); break;
            default: {
                LONG colour = static_cast<LONG>(Colour());
                EXPECT_EQ(surface->put_TransparentColor(&colour), S_OK);
            }
            }
        } else if (pick < 970) {
            ++done["font"];
            ComPtr<_KivBitmap> surface = Some();
            if (!surface) return;
            switch (random_.Below(5)) {
            case 0: {
                static const wchar_t* const kFaces[] = {L"Arial", L"MS Sans Serif", L"Courier New", L"", L"No Such Face"};
                BSTR face = ::SysAllocString(random_.Pick(kFaces));
                EXPECT_EQ(surface->put_FontName(&face), S_OK);
                ::SysFreeString(face);
                break;
            }
            case 1: {
                static const short kSizes[] = {8, 12, 20, 0, -12, 40};
                short size = random_.Pick(kSizes);
                EXPECT_EQ(surface->put_FontSize(&size), S_OK);
                break;
            }
            default: {
                VARIANT_BOOL flag = random_.Chance(50) ? VARIANT_TRUE : (random_.Chance(50) ? VARIANT_FALSE : 1);
                const std::uint32_t which = random_.Below(3);
                if (which == 0) {
                    EXPECT_EQ(surface->put_FontBold(&flag), S_OK);
                } else if (which == 1) {
                    EXPECT_EQ(surface->put_FontItalic(&flag), S_OK);
                } else {
                    EXPECT_EQ(surface->put_FontUnderline(&flag), S_OK);
                }
            }
            }
        } else if (pick < 995) {
            ++done["client GDI"];
            // The client draws on the context with a pen of its own and puts the context back.
            ComPtr<_KivBitmap> surface = Some();
            if (!surface) return;
            const HDC dc = DcOf(surface.Get());
            HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(random_.Below(256), 0, 0));
            HGDIOBJ previous = ::SelectObject(dc, pen);
            ::MoveToEx(dc, 0, 0, nullptr);
            ::LineTo(dc, Coordinate(random_), Coordinate(random_));
            ::SelectObject(dc, previous);
            ::DeleteObject(pen);
        } else {
            ++done["new control"];
            ReleaseAll();
            StartControl();
        }
    }

    Random random_;
    kivtest::GdiCounts start_;
    long objectsAtStart_;
    kivtest::GdiCounts controlDc_;
    ColourTarget target_;
    ComPtr<_KivCtl> control_;
    ComPtr<_KivFactory> registry_;
    std::vector<ComPtr<_KivBitmap>> held_;
    std::vector<ComPtr<IPicture>> pictures_;
    std::uint64_t op_ = 0;
    int failures_ = 0;
    const HGDIOBJ shared_ = SharedBitmap();
};

class Soak : public BalancedTest {};

TEST_F(Soak, PlatformObjectsFollowTheLiveSurfacesOverAMixedWorkload) {
    const std::uint64_t ops = Parameter("ops", "KIV_SOAK_OPS", 20000);
    const std::uint64_t seed = Parameter("seed", "KIV_SOAK_SEED", 7);
    const kivtest::GdiCounts start = kivtest::LiveGdiObjects();
    const long objectsAtStart = kiv::module::LiveObjects();
    kivtest::GdiCounts controlDc;
    {
        ComPtr<_KivCtl> control = NewControl();
        controlDc = kivtest::LiveGdiObjects();
        controlDc.dcs -= start.dcs;
        controlDc.bitmaps -= start.bitmaps;
    }
    ASSERT_EQ(kivtest::LiveGdiObjects(), start);

    const auto started = std::chrono::steady_clock::now();
    std::vector<Sample> samples;
    std::map<std::string, long> done;
    {
        Workload workload(seed, start, objectsAtStart, controlDc);
        workload.Run(ops);
        workload.ReleaseAll();
        samples = workload.samples;
        done = workload.done;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(kivtest::LiveGdiObjects(), start);
    EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    ASSERT_FALSE(samples.empty());
    auto [minObjects, maxObjects] = std::minmax_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
        return a.platformObjects < b.platformObjects;
    });
    auto [minSurfaces, maxSurfaces] = std::minmax_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
        return a.surfaces < b.surfaces;
    });
    auto [minMemory, maxMemory] = std::minmax_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) {
        return a.megabytes < b.megabytes;
    });
    std::printf("seed %llu: %llu operations in %.1f s, %zu samples; platform objects %d..%d for %d..%d live surfaces "
                "(every sample exactly theirs); private memory %.1f..%.1f MB (first %.1f, last %.1f)\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(ops), seconds, samples.size(),
                minObjects->platformObjects, maxObjects->platformObjects, minSurfaces->surfaces, maxSurfaces->surfaces,
                minMemory->megabytes, maxMemory->megabytes, samples.front().megabytes, samples.back().megabytes);
    // The course of the run at ten points: operation, platform objects / live surfaces, private memory.
    std::printf("course:");
    for (size_t i = 0; i < 10; ++i) {
        const Sample& sample = samples[(samples.size() - 1) * (i + 1) / 10];
        std::printf(" %llu: %d/%d %.1f MB;", static_cast<unsigned long long>(sample.op), sample.platformObjects,
                    sample.surfaces, sample.megabytes);
    }
    std::printf("\n");
    for (const auto& [kind, n] : done) std::printf("  %-12s %ld\n", kind.c_str(), n);
}

// Surfaces of an empty size all get the platform's one shared bitmap, which deleting does not delete:
// each surface counts with its context and palette only, and neither a picture of one nor the end of
// the other changes what the others count.
TEST_F(Soak, SurfacesOfAnEmptySizeCountNoBitmapOfTheirOwn) {
    const kivtest::GdiCounts start = kivtest::LiveGdiObjects();
    {
        ComPtr<_KivCtl> control = NewControl();
        ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
        const kivtest::GdiCounts withControl = kivtest::LiveGdiObjects();
        ComPtr<_KivBitmap> tall = Create(registry.Get(), L"tall", 0, 5);
        ComPtr<_KivBitmap> wide = Create(registry.Get(), L"wide", 7, 0);
        ASSERT_TRUE(tall && wide) << "the platform makes a bitmap of an empty size";
        EXPECT_EQ(::GetCurrentObject(DcOf(tall.Get()), OBJ_BITMAP), SharedBitmap());
        auto expect = [&](int surfaces, const char* when) {
            const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
            EXPECT_EQ(now.dcs, withControl.dcs + surfaces) << when;
            EXPECT_EQ(now.palettes, withControl.palettes + surfaces) << when;
            EXPECT_EQ(now.bitmaps, withControl.bitmaps) << when;
        };
        expect(2, "two empty surfaces");
        {
            ComPtr<IPicture> picture;
            EXPECT_EQ(tall->get_Picture(picture.Put()), S_OK);
            expect(2, "with a picture of one");
        }
        expect(2, "after the picture");
        short first = 1;
        registry->RemoveInt(&first);
        tall = nullptr;
        expect(1, "after the first went");
        ComPtr<_KivBitmap> real = Create(registry.Get(), L"real", 3, 3);
        const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
        EXPECT_EQ(now.bitmaps, withControl.bitmaps + 1) << "a surface of a real size has its bitmap";
    }
    EXPECT_EQ(kivtest::LiveGdiObjects(), start);
}

}  // namespace
