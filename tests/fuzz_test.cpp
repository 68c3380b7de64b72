// Hostile late-bound callers: a seeded, repeatable IDispatch fuzzer over every member of the three
// interfaces and some identifiers that none of them has. Each call takes random argument counts,
// every VARIANT type by value and by reference (objects of the caller's own among them), random
// invocation kinds, named arguments right and wrong, and null pointers where a caller may leave them
// out or should not. Every call must come back with S_OK or a failure that IDispatch may report, an
// exception only with its EXCEPINFO filled, a result of the member's type, the caller's arguments
// untouched; and every 5,000 calls everything is released, and every object of the module, of the
// platform and of the caller's own that went in as an argument must be gone.
//
// Seed and size: --seed=N --calls=N on the command line, or KIV_FUZZ_SEED and KIV_FUZZ_CALLS;
// KIV_FUZZ_TRACE=1 prints each call before it is made (to find the call that ends the process).
#include "TestSupport.h"
#include "robustness.h"

#include "component/Module.h"
#include "platform/RuntimeError.h"

#include <oleauto.h>
#include <olectl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

// ---- what the three interfaces publish ----------------------------------------------------------

enum Face { kControl, kRegistry, kSurface };
enum Kind : unsigned { kMethod = 1, kGet = 2, kPut = 4 };

struct Member {
    Face face;
    DISPID id;
    const char* name;
    unsigned kinds;
    std::vector<VARTYPE> params;  // of the method or the get; a put adds its value
    int optional;                 // trailing optional parameters
    VARTYPE putType;
    VARTYPE result;  // of the get or the method; VT_EMPTY for none
};

const std::vector<Member>& Members() {
    static const std::vector<Member> members = {
        {kControl, 0x68030000, "Bitmaps", kGet, {}, 0, VT_EMPTY, VT_DISPATCH},
        {kControl, 0x60030004, "Blit", kMethod, {VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4}, 0,
         VT_EMPTY, VT_EMPTY},
        {kRegistry, 0x60030007, "Clear", kMethod, {}, 0, VT_EMPTY, VT_EMPTY},
        {kRegistry, 0x60030008, "Create", kMethod, {VT_BSTR, VT_I2, VT_I2}, 0, VT_EMPTY, VT_DISPATCH},
        {kRegistry, 0x68030004, "Count", kGet, {}, 0, VT_EMPTY, VT_I2},
        {kRegistry, 0x68030003, "ItemInt", kGet, {VT_I2}, 0, VT_EMPTY, VT_DISPATCH},
        {kRegistry, 0x68030002, "ItemTxt", kGet, {VT_BSTR}, 0, VT_EMPTY, VT_DISPATCH},
        {kRegistry, 0x60030009, "RemoveInt", kMethod, {VT_I2}, 0, VT_EMPTY, VT_EMPTY},
        {kSurface, 0x6803000C, "Picture", kGet, {}, 0, VT_EMPTY, VT_DISPATCH},
        {kSurface, 0x6803000B, "FontName", kGet | kPut, {}, 0, VT_BSTR, VT_BSTR},
        {kSurface, 0x6803000A, "FontSize", kGet | kPut, {}, 0, VT_I2, VT_I2},
        {kSurface, 0x68030009, "FontBold", kGet | kPut, {}, 0, VT_BOOL, VT_BOOL},
        {kSurface, 0x68030008, "FontItalic", kGet | kPut, {}, 0, VT_BOOL, VT_BOOL},
        {kSurface, 0x68030007, "FontUnderline", kGet | kPut, {}, 0, VT_BOOL, VT_BOOL},
        {kSurface, 0x68030006, "Width", kGet, {}, 0, VT_EMPTY, VT_I2},
        {kSurface, 0x68030005, "Height", kGet, {}, 0, VT_EMPTY, VT_I2},
        {kSurface, 0x68030004, "hDC", kGet, {}, 0, VT_EMPTY, VT_I4},
        {kSurface, 0x68030003, "hBMP", kGet, {}, 0, VT_EMPTY, VT_I4},
        {kSurface, 0x68030002, "ForeColor", kGet | kPut, {}, 0, VT_I4, VT_I4},
        {kSurface, 0x68030001, "BackColor", kGet | kPut, {}, 0, VT_I4, VT_I4},
        {kSurface, 0x68030000, "TransparentColor", kGet | kPut, {}, 0, VT_I4, VT_I4},
        {kSurface, 0x60030012, "Copy", kMethod, {VT_I4, VT_I2, VT_I2, VT_BOOL}, 1, VT_EMPTY, VT_EMPTY},
        {kSurface, 0x60030013, "Cls", kMethod, {}, 0, VT_EMPTY, VT_EMPTY},
        {kSurface, 0x60030014, "DrawBox", kMethod, {VT_I2, VT_I2, VT_I2, VT_I2, VT_I4}, 1, VT_EMPTY, VT_EMPTY},
        {kSurface, 0x60030015, "DrawElipse", kMethod, {VT_I2, VT_I2, VT_I2, VT_I2}, 0, VT_EMPTY, VT_EMPTY},
        {kSurface, 0x60030016, "DrawCircle", kMethod, {VT_I2, VT_I2, VT_I2}, 0, VT_EMPTY, VT_EMPTY},
        {kSurface, 0x60030017, "DrawLine", kMethod, {VT_I4, VT_I4, VT_I4, VT_I4, VT_I4}, 1, VT_EMPTY, VT_EMPTY},
        {kSurface, 0x60030018, "BPrint", kMethod, {VT_I2, VT_I2, VT_BSTR}, 0, VT_EMPTY, VT_EMPTY},
    };
    return members;
}

// Identifiers that no published member carries: the default member, the special ones, the gaps of the
// numbering, the inherited IUnknown and IDispatch slots, and the extremes.
const DISPID kUnknownIds[] = {0,          DISPID_UNKNOWN, DISPID_PROPERTYPUT, DISPID_NEWENUM, DISPID_EVALUATE,
                              0x60000000, 0x60000001,     0x60000002,         0x60010000,     0x60010003,
                              0x60030000, 0x60030005,     0x6803000D,         0x68030001 + 0x100,
                              0x7FFFFFFF, static_cast<DISPID>(0x80000000),    1,              -7};

// ---- objects of the caller's own ----------------------------------------------------------------

long gForeignAlive = 0;
long gForeignAsked = 0;  // how often the platform's conversions asked one of them for its value

// An object that a caller hands over as an argument. The platform's conversions ask it for its value
// through Invoke, and it answers anything: numbers, strings, itself again, nothing, failures, and
// exceptions with their EXCEPINFO.
class Foreign final : public IDispatch {
public:
    Foreign(Random& random, bool dispatch) : random_(random), dispatch_(dispatch) { ++gForeignAlive; }
    Foreign(const Foreign&) = delete;
    Foreign& operator=(const Foreign&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || (dispatch_ && iid == IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO* exception,
                        UINT*) override {
        ++gForeignAsked;
        switch (random_.Below(11)) {
        case 0:
            if (result) {
                V_VT(result) = VT_I4;
                V_I4(result) = static_cast<LONG>(random_.Next());
            }
            return S_OK;
        case 1:
            if (result) {
                V_VT(result) = VT_I2;
                V_I2(result) = static_cast<SHORT>(random_.Below(20));
            }
            return S_OK;
        case 2:
            if (result) {
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = ::SysAllocString(random_.Chance(50) ? L"12" : L"not a number");
            }
            return S_OK;
        case 3:  // itself again, a few levels deep at most
            if (result && depth_ < 3) {
                ++depth_;
                V_VT(result) = VT_DISPATCH;
                V_DISPATCH(result) = this;
                AddRef();
                return S_OK;
            }
            depth_ = 0;
            return S_OK;
        case 4: return S_OK;  // success, and no value at all
        case 5: return E_FAIL;
        case 6: return DISP_E_MEMBERNOTFOUND;
        case 7:
            if (exception) {
                exception->wCode = 0;
                exception->scode = E_UNEXPECTED;
                exception->bstrSource = ::SysAllocString(L"foreign");
                exception->bstrDescription = ::SysAllocString(L"the caller's own object failed");
            }
            return DISP_E_EXCEPTION;
        case 8:
            if (result) {
                V_VT(result) = VT_R8;
                V_R8(result) = random_.Chance(50) ? 1e300 : -0.5;
            }
            return S_OK;
        case 9:
            if (result) {
                V_VT(result) = VT_NULL;
            }
            return S_FALSE;
        default:
            if (result) {
                V_VT(result) = VT_BOOL;
                V_BOOL(result) = VARIANT_TRUE;
            }
            return S_OK;
        }
    }

private:
    ~Foreign() { --gForeignAlive; }

    Random& random_;
    bool dispatch_;
    ULONG references_ = 1;
    int depth_ = 0;
};

// ---- the objects under test ---------------------------------------------------------------------

struct Pool {
    std::vector<ComPtr<_KivCtl>> controls;
    std::vector<ComPtr<_KivFactory>> registries;
    std::vector<ComPtr<_KivBitmap>> surfaces;
    std::vector<ComPtr<IDispatch>> pictures;
    std::deque<LONG> handles;  // device contexts of surfaces, live or gone

    void Keep(IDispatch* object, Random& random) {
        if (ComPtr<_KivBitmap> surface = ComPtr<IDispatch>(object).As<_KivBitmap>(IID__KivBitmap)) {
            for (const auto& known : surfaces)
                if (known.Get() == surface.Get()) return;
            LONG dc = 0;
            surface->get_hDC(&dc);
            handles.push_back(dc);
            if (handles.size() > 24) handles.pop_front();
            if (surfaces.size() < 12) surfaces.push_back(surface);
            else surfaces[random.Below(12)] = surface;
        } else if (ComPtr<_KivFactory> registry = ComPtr<IDispatch>(object).As<_KivFactory>(IID__KivFactory)) {
            for (const auto& known : registries)
                if (known.Get() == registry.Get()) return;
            if (registries.size() < 4) registries.push_back(registry);
        } else if (ComPtr<IPicture> picture = ComPtr<IDispatch>(object).As<IPicture>(IID_IPicture)) {
            if (pictures.size() < 4) pictures.push_back(ComPtr<IDispatch>(object));
            else pictures[random.Below(4)] = ComPtr<IDispatch>(object);
        }
    }

    void ReleaseAll() {
        pictures.clear();
        surfaces.clear();
        registries.clear();
        controls.clear();
    }
};

// Keeps the fuzzer fast. The platform refuses bitmaps of more than kMaxPixels pixels, as it refuses
// those it has no memory for (sizes up to 32767 in one direction still reach it). Its text output
// works glyph by glyph even far outside the surface, and renders each glyph at the font's height: a
// text of a million characters, or glyphs 30,000 pixels high, take a second under Wine. So after the
// first kHuge of each it fails to draw texts longer than kMaxText and refuses fonts taller than
// kMaxFont, as it would when out of resources; BPrint draws nothing then, as without a font.
class Limits : public ThreadObserver {
public:
    static constexpr std::int64_t kMaxPixels = 1 << 17;
    static constexpr std::intptr_t kMaxText = 4096;
    static constexpr int kMaxFont = 2000;
    static constexpr long kHuge = 2;
    bool Intercept(platform::Call& call) override {
        const std::string name = call.name;
        if (!missing.empty() && name == missing) {
            ++raised;
            kiv::Raise(kiv::errors::EntryPointNotFound, kiv::RuntimeErrorText(kiv::errors::EntryPointNotFound));
        }
        if (name == "TextOutA") {
            if (call.args[4] <= kMaxText || ++longTexts <= kHuge) return false;
            ++refusedTexts;
            call.result = FALSE;
            return true;
        }
        if (name == "CreateFontA") {
            const int height = static_cast<int>(call.args[0]);
            if ((height < 0 ? -height : height) <= kMaxFont || ++tallFonts <= kHuge) return false;
            ++refusedFonts;
            call.result = 0;
            return true;
        }
        if (name != "CreateCompatibleBitmap" && name != "CreateBitmap") return false;
        const int at = name == "CreateBitmap" ? 0 : 1;
        const std::int64_t w = static_cast<int>(call.args[at]), h = static_cast<int>(call.args[at + 1]);
        if ((w < 0 ? -w : w) * (h < 0 ? -h : h) <= kMaxPixels) return false;
        ++refusedBitmaps;
        call.result = 0;
        return true;
    }
    long refusedBitmaps = 0;
    long longTexts = 0;
    long refusedTexts = 0;
    long tallFonts = 0;
    long refusedFonts = 0;
    // A platform function that is missing for the current call: every call to it raises the runtime's
    // error, as an entry point that cannot be found does.
    std::string missing;
    long raised = 0;
};

// The functions that may go missing: any but those that give objects back (without them nothing could
// be given back, by any code).
const char* const kMayGoMissing[] = {"BitBlt",       "TextOutA",         "Ellipse",           "LineTo",
                                     "MoveToEx",     "FillRect",         "OleTranslateColor", "OleCreatePictureIndirect",
                                     "CreateFontA",  "CreatePen",        "CreateSolidBrush",  "GetDeviceCaps",
                                     "SetTextColor", "SetBkColor",       "CreateCompatibleBitmap",
                                     "CreateCompatibleDC", "CreateHalftonePalette", "GetDC", "CreateBitmap"};

// The failures that IDispatch::Invoke may report, and those of the look-ups.
bool InvokeFailure(HRESULT hr) {
    switch (hr) {
    case DISP_E_BADPARAMCOUNT:
    case DISP_E_BADVARTYPE:
    case DISP_E_EXCEPTION:
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_NONAMEDARGS:
    case DISP_E_OVERFLOW:
    case DISP_E_PARAMNOTFOUND:
    case DISP_E_TYPEMISMATCH:
    case DISP_E_UNKNOWNINTERFACE:
    case DISP_E_UNKNOWNLCID:
    case DISP_E_PARAMNOTOPTIONAL:
    case E_INVALIDARG:
    case E_OUTOFMEMORY: return true;
    default: return false;
    }
}

bool LookupFailure(HRESULT hr) {
    switch (hr) {
    case DISP_E_UNKNOWNNAME:
    case DISP_E_UNKNOWNLCID:
    case DISP_E_BADINDEX:
    case TYPE_E_ELEMENTNOTFOUND:
    case E_INVALIDARG:
    case E_POINTER:
    case E_OUTOFMEMORY: return true;
    default: return false;
    }
}

// ---- arguments ----------------------------------------------------------------------------------

const std::int64_t kInts[] = {0,      1,          -1,          2,          3,          7,          8,
                              16,     31,         100,         255,        256,        1000,       32767,
                              -32768, 32768,      -32769,      65535,      65536,      2147483647, -2147483647 - 1,
                              -2,     0x8000000F, 0x80000012,  0x800000FF, 0x01000005, 0x02FF00FF, 0xFFFFFF,
                              SRCCOPY, 0x220326,  0x00FF0062,  -100000,    4000000000ll};
const double kDoubles[] = {0.0,       -0.0,     0.5,          -0.5,     1.5,   2.5,     32767.4, 32767.5,
                           -32768.5,  32768.0,  2147483647.5, -2.2e9,   1e10,  -1e300,  1e308,   4.9e-324,
                           -1.0,      100.25};

struct Arguments {
    std::vector<VARIANT> values;  // in the caller's order (first parameter first)
    std::deque<VARIANT> slots;    // what by-reference arguments point at
    ~Arguments() {
        for (auto& v : values) Clear(v);
        for (auto& v : slots) Clear(v);
    }
    static void Clear(VARIANT& v) {
        // A type that the platform does not know is the caller's own nonsense: nothing to free.
        if (::VariantClear(&v) == DISP_E_BADVARTYPE) V_VT(&v) = VT_EMPTY;
    }
};

class Maker {
public:
    Maker(Random& random, Pool& pool) : random_(random), pool_(pool) {
        huge_.assign(1 << 20, L'x');  // 1 M characters
        for (size_t i = 0; i < huge_.size(); i += 61) huge_[i] = L'A' + static_cast<wchar_t>(i % 26);
    }

    std::int64_t Int() {
        const std::uint32_t pick = random_.Below(100);
        if (pick < 55) return random_.Pick(kInts);
        if (pick < 75) return static_cast<std::int64_t>(random_.Below(40)) - 5;
        if (pick < 85 && !pool_.handles.empty()) return pool_.handles[random_.Below(static_cast<std::uint32_t>(pool_.handles.size()))];
        return static_cast<std::int32_t>(random_.Next());
    }
    double Double() {
        const std::uint32_t pick = random_.Below(10);
        if (pick == 0) return std::numeric_limits<double>::quiet_NaN();
        if (pick == 1) return random_.Chance(50) ? std::numeric_limits<double>::infinity()
                                                 : -std::numeric_limits<double>::infinity();
        if (pick < 6) return random_.Pick(kDoubles);
        return static_cast<double>(Int());
    }
    BSTR String() {
        static const wchar_t* const kTexts[] = {L"",     L"a",     L"A",    L"s0",    L"s1",   L"s2",
                                                L"12",   L"-1",    L"32768", L"1e5",  L"&H8000000F",
                                                L"&HFF", L" 7 ",   L"True", L"False", L"abc",  L"Arial",
                                                L"MS Sans Serif",  L"Create", L"\u00e9\u00e8\u4e2d\u6587"};
        const std::uint32_t pick = random_.Below(1000);
        if (pick < 80) return nullptr;
        if (pick < 82) return ::SysAllocStringLen(huge_.data(), static_cast<UINT>(huge_.size()));
        if (pick < 92) return ::SysAllocStringLen(huge_.data(), 1 + random_.Below(70000));
        if (pick < 120) return ::SysAllocStringLen(L"a\0b", 3);  // an embedded NUL
        return ::SysAllocString(random_.Pick(kTexts));
    }
    IDispatch* Object(bool allowForeignUnknown) {
        const std::uint32_t pick = random_.Below(100);
        if (pick < 15) return nullptr;
        if (pick < 60 || (pool_.surfaces.empty() && pool_.registries.empty())) {
            return new Foreign(random_, !(allowForeignUnknown && random_.Chance(30)));
        }
        IDispatch* own = nullptr;
        if (pick < 75 && !pool_.pictures.empty()) {
            own = pool_.pictures[random_.Below(static_cast<std::uint32_t>(pool_.pictures.size()))].Get();
        } else if (pick < 90 && !pool_.surfaces.empty()) {
            own = pool_.surfaces[random_.Below(static_cast<std::uint32_t>(pool_.surfaces.size()))].Get();
        } else if (!pool_.registries.empty()) {
            own = pool_.registries[random_.Below(static_cast<std::uint32_t>(pool_.registries.size()))].Get();
        }
        if (own) own->AddRef();
        return own;
    }
    SAFEARRAY* Array(VARTYPE element) {
        if (random_.Chance(10)) return nullptr;
        const ULONG n = random_.Pick({0u, 1u, 3u});
        SAFEARRAY* array = ::SafeArrayCreateVector(element, 0, n);
        for (LONG i = 0; array && i < static_cast<LONG>(n); ++i) {
            if (element == VT_I2) {
                SHORT v = static_cast<SHORT>(Int());
                ::SafeArrayPutElement(array, &i, &v);
            } else if (element == VT_BSTR) {
                BSTR v = ::SysAllocString(L"e");
                ::SafeArrayPutElement(array, &i, v);
                ::SysFreeString(v);
            } else {
                VARIANT v;
                ::VariantInit(&v);
                V_VT(&v) = VT_I4;
                V_I4(&v) = static_cast<LONG>(Int());
                ::SafeArrayPutElement(array, &i, &v);
            }
        }
        return array;
    }

    // A value of type `vt` (by value).
    VARIANT Value(VARTYPE vt) {
        VARIANT v;
        std::memset(&v, 0, sizeof v);
        V_VT(&v) = vt;
        switch (vt) {
        case VT_EMPTY:
        case VT_NULL: break;
        case VT_I1: V_I1(&v) = static_cast<CHAR>(Int()); break;
        case VT_UI1: V_UI1(&v) = static_cast<BYTE>(Int()); break;
        case VT_I2: V_I2(&v) = static_cast<SHORT>(Int()); break;
        case VT_UI2: V_UI2(&v) = static_cast<USHORT>(Int()); break;
        case VT_I4: V_I4(&v) = static_cast<LONG>(Int()); break;
        case VT_UI4: V_UI4(&v) = static_cast<ULONG>(Int()); break;
        case VT_INT: V_INT(&v) = static_cast<INT>(Int()); break;
        case VT_UINT: V_UINT(&v) = static_cast<UINT>(Int()); break;
        case VT_I8: V_I8(&v) = random_.Chance(20) ? static_cast<LONGLONG>(random_.Next()) : Int(); break;
        case VT_UI8: V_UI8(&v) = random_.Chance(20) ? random_.Next() : static_cast<ULONGLONG>(Int()); break;
        case VT_R4: V_R4(&v) = static_cast<float>(Double()); break;
        case VT_R8: V_R8(&v) = Double(); break;
        case VT_DATE: V_DATE(&v) = Double(); break;
        case VT_CY:
            V_CY(&v).int64 = random_.Chance(10) ? static_cast<LONGLONG>(random_.Next()) : Int() * 10000 + random_.Below(10000);
            break;
        case VT_BSTR: V_BSTR(&v) = String(); break;
        case VT_BOOL: {
            static const SHORT kBools[] = {VARIANT_TRUE, VARIANT_FALSE, 1, 0x7FFF, -2};
            V_BOOL(&v) = random_.Chance(80) ? random_.Pick(kBools) : static_cast<SHORT>(random_.Next());
            break;
        }
        case VT_ERROR: {
            static const SCODE kErrors[] = {DISP_E_PARAMNOTFOUND, DISP_E_PARAMNOTFOUND, 0, E_FAIL,
                                            static_cast<SCODE>(0x800A0006)};
            V_ERROR(&v) = random_.Pick(kErrors);
            break;
        }
        case VT_DISPATCH: V_DISPATCH(&v) = Object(false); break;
        case VT_UNKNOWN: V_UNKNOWN(&v) = Object(true); break;
        case VT_DECIMAL: {
            DECIMAL d{};
            d.scale = static_cast<BYTE>(random_.Chance(20) ? random_.Below(29) : 0);
            d.sign = random_.Chance(30) ? DECIMAL_NEG : 0;
            d.Hi32 = random_.Chance(10) ? 0xFFFFFFFFu : 0;
            d.Lo64 = static_cast<ULONGLONG>(random_.Chance(80) ? static_cast<std::uint64_t>(Int() & 0xFFFFFFFF) : random_.Next());
            V_DECIMAL(&v) = d;
            V_VT(&v) = VT_DECIMAL;
            break;
        }
        case VT_ARRAY | VT_I2: V_ARRAY(&v) = Array(VT_I2); break;
        case VT_ARRAY | VT_BSTR: V_ARRAY(&v) = Array(VT_BSTR); break;
        case VT_ARRAY | VT_VARIANT: V_ARRAY(&v) = Array(VT_VARIANT); break;
        default: V_I8(&v) = static_cast<LONGLONG>(random_.Next()); break;  // a type that does not exist
        }
        return v;
    }

    // A by-reference argument to a slot of type `vt` (VT_VARIANT: to a whole VARIANT).
    VARIANT Reference(VARTYPE vt, Arguments& into) {
        VARIANT v;
        std::memset(&v, 0, sizeof v);
        if (vt == VT_VARIANT) {
            VARIANT& slot = into.slots.emplace_back(random_.Chance(10) ? Reference(AnyValueType(), into)
                                                                       : Value(AnyValueType()));
            V_VT(&v) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&v) = &slot;
            return v;
        }
        VARIANT& slot = into.slots.emplace_back(Value(vt));
        V_VT(&v) = static_cast<VARTYPE>(VT_BYREF | vt);
        if (vt == VT_DECIMAL) V_DECIMALREF(&v) = &V_DECIMAL(&slot);
        else V_BYREF(&v) = &V_I8(&slot);  // every value sits at the same place in the VARIANT
        return v;
    }

    VARTYPE AnyValueType() {
        static const VARTYPE kTypes[] = {
            VT_EMPTY, VT_NULL, VT_I1,      VT_UI1,     VT_I2,          VT_UI2,          VT_I4,
            VT_UI4,   VT_INT,  VT_UINT,    VT_I8,      VT_UI8,         VT_R4,           VT_R8,
            VT_CY,    VT_DATE, VT_BSTR,    VT_BOOL,    VT_ERROR,       VT_DISPATCH,     VT_UNKNOWN,
            VT_DECIMAL, VT_ARRAY | VT_I2, VT_ARRAY | VT_BSTR, VT_ARRAY | VT_VARIANT, VT_BSTR, VT_I4, VT_I2};
        static const VARTYPE kNonsense[] = {VT_VOID, VT_HRESULT, VT_PTR, VT_CLSID, 0x0FFF, VT_LPSTR};
        return random_.Chance(2) ? random_.Pick(kNonsense) : random_.Pick(kTypes);
    }

    // Any argument: a value, a reference to a typed slot, or a reference to a VARIANT.
    VARIANT Any(Arguments& into) {
        const std::uint32_t pick = random_.Below(100);
        if (pick < 60) return Value(AnyValueType());
        if (pick < 80) return Reference(VT_VARIANT, into);
        VARTYPE vt = AnyValueType();
        if (vt == VT_EMPTY || vt == VT_NULL || (vt >= VT_VOID && !(vt & VT_ARRAY))) vt = VT_I4;
        return Reference(vt, into);
    }

    // An argument meant for a parameter of type `declared`: most often of that type, by value or in a
    // script's by-reference VARIANT, sometimes anything at all.
    VARIANT For(VARTYPE declared, Arguments& into) {
        const std::uint32_t pick = random_.Below(100);
        if (pick < 45) return Value(declared);
        if (pick < 60) {
            VARIANT& slot = into.slots.emplace_back(Value(declared));
            VARIANT v;
            std::memset(&v, 0, sizeof v);
            V_VT(&v) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&v) = &slot;
            return v;
        }
        if (pick < 70) return Reference(declared, into);
        if (pick < 74) return Value(VT_ERROR);  // mostly "omitted"
        if (pick < 82) return Value(random_.Chance(70) ? VT_DISPATCH : VT_UNKNOWN);  // asked for its value
        return Any(into);
    }

private:
    Random& random_;
    Pool& pool_;
    std::wstring huge_;
};

// What an argument looked like before the call: the VARIANT, what it points at, and its text.
std::string Fingerprint(const VARIANT& v) {
    std::string out(reinterpret_cast<const char*>(&v), sizeof v);
    auto text = [&](BSTR s) {
        if (!s) return;
        const UINT n = ::SysStringLen(s);
        out.append(reinterpret_cast<const char*>(&n), sizeof n);
        out.append(reinterpret_cast<const char*>(s), sizeof(wchar_t) * (n < 64 ? n : 64));
        if (n > 64) out.append(reinterpret_cast<const char*>(s + n - 64), sizeof(wchar_t) * 64);
    };
    if (V_VT(&v) == VT_BSTR) text(V_BSTR(&v));
    if (V_VT(&v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&v)) out += Fingerprint(*V_VARIANTREF(&v));
    else if (V_VT(&v) == (VT_BYREF | VT_DECIMAL)) out.append(reinterpret_cast<const char*>(V_DECIMALREF(&v)), sizeof(DECIMAL));
    else if (V_VT(&v) == (VT_BYREF | VT_BSTR)) {
        out.append(reinterpret_cast<const char*>(V_BSTRREF(&v)), sizeof(BSTR));
        text(*V_BSTRREF(&v));
    } else if (V_VT(&v) & VT_BYREF) {
        out.append(reinterpret_cast<const char*>(V_BYREF(&v)), 8);
    }
    return out;
}

std::string Hex(long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

// ---- the fuzzer ---------------------------------------------------------------------------------

class Fuzzer {
public:
    Fuzzer(std::uint64_t seed, bool trace) : seed_(seed), random_(seed), maker_(random_, pool_), trace_(trace) {}

    void Run(std::uint64_t calls, std::uint64_t epoch) {
        objectsAtStart_ = kiv::module::LiveObjects();
        gdiAtStart_ = kivtest::LiveGdiObjects();
        Limits limits;
        limits_ = &limits;
        Start();
        for (std::uint64_t i = 0; i < calls; ++i) {
            index_ = i;
            if (random_.Chance(2)) Names();
            else OneCall();
            if ((i + 1) % epoch == 0 || i + 1 == calls) {
                EndEpoch();
                if (i + 1 < calls) Start();
            }
        }
        refusedBitmaps = limits.refusedBitmaps;
        longTexts = limits.longTexts;
        refusedTexts = limits.refusedTexts;
        tallFonts = limits.tallFonts;
        refusedFonts = limits.refusedFonts;
        raised = limits.raised;
        limits_ = nullptr;
    }

    std::vector<std::string> problems;
    std::map<HRESULT, long> statuses;
    struct Timing {
        double seconds = 0;
        long calls = 0;
        double slowest = 0;
        std::string slowestCall;
    };
    std::map<std::string, Timing> timings;  // time spent inside Invoke, per member
    long refusedBitmaps = 0;
    long longTexts = 0;
    long refusedTexts = 0;
    long tallFonts = 0;
    long refusedFonts = 0;
    long raised = 0;

private:
    void Problem(const std::string& what) {
        if (problems.size() < 40)
            problems.push_back("seed " + std::to_string(seed_) + ", call " + std::to_string(index_) + " (" +
                               description_ + "): " + what);
        else if (problems.size() == 40)
            problems.push_back("... more");
    }

    // A control, its registry and a few surfaces made early bound; the calls find the rest.
    void Start() {
        ComPtr<_KivCtl> control = NewControl();
        if (!control) {
            Problem("no control");
            return;
        }
        pool_.controls.push_back(control);
        ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
        pool_.registries.push_back(registry);
        for (int i = 0; i < 3; ++i) {
            ComPtr<_KivBitmap> surface = Create(registry.Get(), L"s" + std::to_wstring(i), 16 + 8 * i, 12);
            if (surface) pool_.Keep(surface.Get(), random_);
        }
    }

    void EndEpoch() {
        pool_.ReleaseAll();
        description_ = "after releasing everything";
        if (kiv::module::LiveObjects() != objectsAtStart_)
            Problem("objects of the module alive: " + std::to_string(kiv::module::LiveObjects() - objectsAtStart_));
        const kivtest::GdiCounts now = kivtest::LiveGdiObjects();
        if (!(now == gdiAtStart_))
            Problem("platform objects alive: dcs " + std::to_string(now.dcs - gdiAtStart_.dcs) + ", bitmaps " +
                    std::to_string(now.bitmaps - gdiAtStart_.bitmaps) + ", palettes " +
                    std::to_string(now.palettes - gdiAtStart_.palettes) + ", other " +
                    std::to_string(now.Total() - gdiAtStart_.Total()));
        if (gForeignAlive != 0) Problem("the caller's own objects still referenced: " + std::to_string(gForeignAlive));
    }

    // The object that receives the call.
    IDispatch* Target(Face& face) {
        const std::uint32_t pick = random_.Below(100);
        if (pick < 72 && !pool_.surfaces.empty()) {
            face = kSurface;
            return pool_.surfaces[random_.Below(static_cast<std::uint32_t>(pool_.surfaces.size()))].Get();
        }
        if (pick < 95 && !pool_.registries.empty()) {
            face = kRegistry;
            return pool_.registries[random_.Below(static_cast<std::uint32_t>(pool_.registries.size()))].Get();
        }
        if (pool_.controls.empty()) return nullptr;
        face = kControl;
        return pool_.controls[random_.Below(static_cast<std::uint32_t>(pool_.controls.size()))].Get();
    }

    void OneCall() {
        Face face = kSurface;
        IDispatch* target = Target(face);
        if (!target) {
            Start();
            return;
        }
        ComPtr<IDispatch> hold(target);  // the call may release the pool's reference (RemoveInt, Clear)

        // The member: mostly one of the target's own, sometimes another interface's or none at all.
        const auto& members = Members();
        const Member* member = nullptr;
        DISPID id = 0;
        const std::uint32_t which = random_.Below(100);
        if (which < 88) {
            std::vector<const Member*> own;
            for (const auto& m : members)
                if (m.face == face) own.push_back(&m);
            member = own[random_.Below(static_cast<std::uint32_t>(own.size()))];
            id = member->id;
        } else if (which < 95) {
            member = &members[random_.Below(static_cast<std::uint32_t>(members.size()))];
            id = member->id;
        } else {
            id = random_.Pick(kUnknownIds);
        }

        // The kind of call: the member's own, or anything.
        unsigned chosen = 0;
        WORD flags = 0;
        if (member && random_.Chance(78)) {
            unsigned kinds[3];
            unsigned n = 0;
            for (unsigned k : {kMethod, kGet, kPut})
                if (member->kinds & k) kinds[n++] = k;
            chosen = kinds[random_.Below(n)];
            flags = chosen == kMethod   ? (random_.Chance(50) ? DISPATCH_METHOD : DISPATCH_METHOD | DISPATCH_PROPERTYGET)
                    : chosen == kGet    ? DISPATCH_PROPERTYGET
                                        : (random_.Chance(85) ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYPUTREF);
        } else {
            static const WORD kFlags[] = {0,
                                          DISPATCH_METHOD,
                                          DISPATCH_PROPERTYGET,
                                          DISPATCH_PROPERTYPUT,
                                          DISPATCH_PROPERTYPUTREF,
                                          DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                          DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT,
                                          DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF,
                                          DISPATCH_METHOD | DISPATCH_PROPERTYPUT,
                                          0x000F,
                                          0x0010,
                                          0xFFFF};
            flags = random_.Chance(85) ? random_.Pick(kFlags) : static_cast<WORD>(random_.Next());
        }

        // The arguments, first parameter first.
        Arguments args;
        std::vector<DISPID> named;
        const bool proper = chosen != 0 && random_.Chance(75);
        if (proper && chosen == kPut) {
            args.values.push_back(maker_.For(member->putType, args));
            named.push_back(DISPID_PROPERTYPUT);
        } else if (proper) {
            size_t count = member->params.size();
            if (member->optional && random_.Chance(40)) count -= random_.Below(member->optional + 1);
            for (size_t i = 0; i < count; ++i) args.values.push_back(maker_.For(member->params[i], args));
        } else {
            static const size_t kCounts[] = {0, 1, 2, 3, 4, 5, 6, 9, 10, 16};
            const size_t count = random_.Chance(1) ? 200 : random_.Pick(kCounts);
            for (size_t i = 0; i < count; ++i) args.values.push_back(maker_.Any(args));
            static const DISPID kNamed[] = {DISPID_PROPERTYPUT, DISPID_PROPERTYPUT, 0, 1, 2, 3, 4, 5, 8,
                                            -1, -5, 100, std::numeric_limits<DISPID>::min(),
                                            std::numeric_limits<DISPID>::max()};
            const size_t namedCount = random_.Below(static_cast<std::uint32_t>(count < 4 ? count + 1 : 5));
            for (size_t i = 0; i < namedCount; ++i)
                named.push_back(!named.empty() && random_.Chance(20) ? named.back() : random_.Pick(kNamed));
        }

        // The platform's order: last argument first; the named ones are the first of the array.
        std::vector<VARIANT> rgvarg(args.values.rbegin(), args.values.rend());
        std::vector<DISPID> rgdispid(named);
        DISPPARAMS params = {rgvarg.empty() ? nullptr : rgvarg.data(), rgdispid.empty() ? nullptr : rgdispid.data(),
                             static_cast<UINT>(rgvarg.size()), static_cast<UINT>(rgdispid.size())};
        DISPPARAMS* passed = &params;
        const std::uint32_t hostile = random_.Below(100);
        std::vector<VARIANT> padding;
        if (hostile < 3) {
            passed = nullptr;
        } else if (hostile < 5 && params.cArgs) {
            params.rgvarg = nullptr;
        } else if (hostile < 7 && params.cNamedArgs) {
            params.rgdispidNamedArgs = nullptr;
        } else if (hostile < 9) {
            // More named arguments than arguments; both arrays are as long as their counts say.
            params.cNamedArgs = params.cArgs + 1 + random_.Below(3);
            rgdispid.resize(params.cNamedArgs, 0);
            padding.assign(rgvarg.begin(), rgvarg.end());
            padding.resize(params.cNamedArgs);
            for (size_t i = rgvarg.size(); i < padding.size(); ++i) ::VariantInit(&padding[i]);
            params.rgvarg = padding.data();
            params.rgdispidNamedArgs = rgdispid.data();
        }

        std::vector<std::string> before;
        for (const auto& v : args.values) before.push_back(Fingerprint(v));

        VARIANT result;
        ::VariantInit(&result);
        EXCEPINFO exception{};
        UINT argError = 0xDEADBEEF;
        const bool giveResult = random_.Chance(80);
        const bool giveException = random_.Chance(80);
        const bool giveArgError = random_.Chance(80);
        const IID& iid = random_.Chance(2) ? IID_IDispatch : IID_NULL;
        const LCID lcid = random_.Chance(90) ? LOCALE_USER_DEFAULT : static_cast<LCID>(random_.Next());

        Describe(face, member, id, flags, args.values, named, passed, giveResult, giveException, giveArgError);
        if (random_.Chance(3)) {
            limits_->missing = random_.Pick(kMayGoMissing);
            description_ += " with " + limits_->missing + " missing";
        }
        if (trace_) {
            std::printf("call %llu: %s\n", static_cast<unsigned long long>(index_), description_.c_str());
            std::fflush(stdout);
        }
        const auto callStarted = std::chrono::steady_clock::now();
        const HRESULT hr = target->Invoke(id, iid, lcid, flags, passed, giveResult ? &result : nullptr,
                                          giveException ? &exception : nullptr, giveArgError ? &argError : nullptr);
        {
            Timing& timing = timings[std::string(member && member->id == id ? member->name : "(unknown)")];
            const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - callStarted).count();
            timing.seconds += spent;
            ++timing.calls;
            if (spent > timing.slowest) {
                timing.slowest = spent;
                timing.slowestCall = description_;
            }
        }
        limits_->missing.clear();
        ++statuses[hr];
        description_ += " -> " + Hex(hr);

        if (hr != S_OK && !InvokeFailure(hr)) Problem("neither S_OK nor a failure that Invoke may report");
        if (giveException) {
            const bool filled = exception.wCode != 0 || exception.scode != 0 || exception.bstrSource ||
                                exception.bstrDescription || exception.bstrHelpFile;
            if (hr == DISP_E_EXCEPTION) {
                if ((exception.wCode != 0) == (exception.scode != 0)) Problem("exception without exactly one of wCode, scode");
                if (exception.scode != 0 && !FAILED(exception.scode)) Problem("exception whose scode is no failure");
                if (!exception.bstrDescription) Problem("exception without description");
            } else if (filled) {
                Problem("EXCEPINFO filled without DISP_E_EXCEPTION");
            }
            ::SysFreeString(exception.bstrSource);
            ::SysFreeString(exception.bstrDescription);
            ::SysFreeString(exception.bstrHelpFile);
        }
        if (giveArgError && argError != 0xDEADBEEF && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) &&
            passed && argError >= passed->cArgs) {
            Problem("puArgErr " + std::to_string(argError) + " outside the arguments");
        }
        if (giveResult) {
            // An empty result: nothing, or a null reference where the member's result is an object.
            const bool empty = V_VT(&result) == VT_EMPTY || (V_VT(&result) == VT_DISPATCH && !V_DISPATCH(&result)) ||
                               (V_VT(&result) == VT_UNKNOWN && !V_UNKNOWN(&result));
            if (FAILED(hr) && !empty) Problem("a failure with a result that holds something");
            if (hr == S_OK) CheckResult(face, member, chosen, flags, result);
            if (V_VT(&result) == VT_DISPATCH && V_DISPATCH(&result)) pool_.Keep(V_DISPATCH(&result), random_);
            if (::VariantClear(&result) != S_OK) Problem("a result that VariantClear refuses");
        }
        for (size_t i = 0; i < args.values.size(); ++i)
            if (Fingerprint(args.values[i]) != before[i]) Problem("argument " + std::to_string(i) + " was changed");
    }

    // A published member called as what it is gives a result of its declared type.
    void CheckResult(Face face, const Member* member, unsigned chosen, WORD flags, const VARIANT& result) {
        if (!member || member->face != face || chosen == 0) return;
        const bool asGet = chosen == kGet && flags == DISPATCH_PROPERTYGET;
        const bool asMethod = chosen == kMethod;
        const bool asPut = chosen == kPut;
        VARTYPE expected = VT_EMPTY;
        if (asGet || asMethod) expected = member->result;
        else if (!asPut) return;
        const VARTYPE got = V_VT(&result);
        if (expected == VT_DISPATCH && got == VT_UNKNOWN && !V_UNKNOWN(&result)) return;  // no object
        if (got != expected) {
            char text[64];
            std::snprintf(text, sizeof text, "result of type %u, not %u", got, expected);
            Problem(text);
        }
    }

    // Hostile name look-ups and type information requests.
    void Names() {
        Face face = kSurface;
        IDispatch* target = Target(face);
        if (!target) return;
        ComPtr<IDispatch> hold(target);
        static const wchar_t* const kNames[] = {L"Create", L"CREATE", L"DrawBox", L"Left",   L"Width",
                                                L"Nope",   L"",       L"Bitmaps", L"Count",  L"Picture",
                                                L"Color",  L"Text",   L"hDC",     L"Invoke", L"QueryInterface"};
        std::wstring longName(random_.Chance(10) ? 70000 : 300, L'n');
        std::vector<LPOLESTR> names;
        const UINT count = random_.Below(4);
        for (UINT i = 0; i < count; ++i) {
            if (random_.Chance(5)) names.push_back(longName.data());
            else names.push_back(const_cast<LPOLESTR>(random_.Pick(kNames)));
        }
        std::vector<DISPID> ids(count + 1, 12345);
        const std::uint32_t what = random_.Below(100);
        HRESULT hr = S_OK;
        description_ = "GetIDsOfNames/GetTypeInfo on face " + std::to_string(face) + ", case " + std::to_string(what);
        if (trace_) {
            std::printf("call %llu: %s\n", static_cast<unsigned long long>(index_), description_.c_str());
            std::fflush(stdout);
        }
        if (what < 60) {
            hr = target->GetIDsOfNames(IID_NULL, names.empty() ? nullptr : names.data(), count, LOCALE_USER_DEFAULT,
                                       ids.data());
        } else if (what < 65) {
            hr = target->GetIDsOfNames(IID_NULL, nullptr, count + 1, LOCALE_USER_DEFAULT, ids.data());
        } else if (what < 70) {
            names.push_back(nullptr);
            hr = target->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                       ids.data());
        } else if (what < 75) {
            names.push_back(const_cast<LPOLESTR>(L"Create"));
            hr = target->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                       nullptr);
        } else if (what < 80) {
            hr = target->GetIDsOfNames(IID_IDispatch, names.empty() ? nullptr : names.data(), count,
                                       LOCALE_USER_DEFAULT, ids.data());
        } else if (what < 92) {
            ComPtr<ITypeInfo> info;
            const UINT index = random_.Pick({0u, 0u, 1u, 0xFFFFFFFFu});
            hr = target->GetTypeInfo(index, LOCALE_USER_DEFAULT, random_.Chance(80) ? info.Put() : nullptr);
            if (SUCCEEDED(hr) && !info) Problem("GetTypeInfo succeeded without a type info");
        } else {
            UINT n = 7;
            hr = target->GetTypeInfoCount(random_.Chance(50) ? &n : nullptr);
        }
        ++statuses[hr];
        if (hr != S_OK && !LookupFailure(hr)) Problem("neither S_OK nor a failure of a look-up: " + Hex(hr));
    }

    void Describe(Face face, const Member* member, DISPID id, WORD flags, const std::vector<VARIANT>& args,
                  const std::vector<DISPID>& named, const DISPPARAMS* passed, bool result, bool exception,
                  bool argError) {
        static const char* const kFaces[] = {"control", "registry", "surface"};
        std::ostringstream out;
        out << kFaces[face] << "." << (member && member->id == id ? member->name : "?") << " id " << Hex(id)
            << " flags " << flags << " args [";
        for (const auto& v : args) out << " " << V_VT(&v);
        out << " ] named [";
        for (DISPID d : named) out << " " << d;
        out << " ]";
        if (!passed) out << " no DISPPARAMS";
        else {
            if (!passed->rgvarg && passed->cArgs) out << " rgvarg null";
            if (!passed->rgdispidNamedArgs && passed->cNamedArgs) out << " named ids null";
            if (passed->cNamedArgs > passed->cArgs) out << " more named than arguments";
        }
        if (!result) out << " no result";
        if (!exception) out << " no EXCEPINFO";
        if (!argError) out << " no puArgErr";
        description_ = out.str();
    }

    std::uint64_t seed_;
    Random random_;
    Pool pool_;
    Maker maker_;
    bool trace_;
    std::uint64_t index_ = 0;
    std::string description_;
    Limits* limits_ = nullptr;
    long objectsAtStart_ = 0;
    kivtest::GdiCounts gdiAtStart_;
};

class Fuzz : public BalancedTest {};

TEST_F(Fuzz, HostileLateBoundCallsFailProperlyAndLeaveNothingBehind) {
    const std::uint64_t seed = Parameter("seed", "KIV_FUZZ_SEED", 20240601);
    const std::uint64_t calls = Parameter("calls", "KIV_FUZZ_CALLS", 100000);
    const bool trace = Parameter("trace", "KIV_FUZZ_TRACE", 0) != 0;
    const long objectsAtStart = kiv::module::LiveObjects();
    const kivtest::GdiCounts gdiAtStart = kivtest::LiveGdiObjects();

    const auto started = std::chrono::steady_clock::now();
    Fuzzer fuzzer(seed, trace);
    fuzzer.Run(calls, 5000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    long succeeded = 0;
    for (const auto& [status, n] : fuzzer.statuses)
        if (status == S_OK) succeeded += n;
    std::printf("seed %llu: %llu calls in %.1f s (%.0f calls/s), %ld succeeded; refused: %ld bitmaps over %lld "
                "pixels, %ld of %ld texts over %d characters, %ld of %ld fonts over %d pixels\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(calls), seconds,
                calls / (seconds > 0 ? seconds : 1), succeeded, fuzzer.refusedBitmaps,
                static_cast<long long>(Limits::kMaxPixels), fuzzer.refusedTexts, fuzzer.longTexts,
                static_cast<int>(Limits::kMaxText), fuzzer.refusedFonts, fuzzer.tallFonts, Limits::kMaxFont);
    for (const auto& [status, n] : fuzzer.statuses) std::printf("  %s: %ld\n", Hex(status).c_str(), n);
    std::printf("the caller's own objects were asked for their value %ld times; %ld platform calls raised a missing "
                "entry point\n",
                gForeignAsked, fuzzer.raised);
    // Where the time goes: the members that took longest inside Invoke.
    std::vector<std::pair<std::string, Fuzzer::Timing>> timings(fuzzer.timings.begin(), fuzzer.timings.end());
    std::sort(timings.begin(), timings.end(), [](const auto& a, const auto& b) { return a.second.seconds > b.second.seconds; });
    double inside = 0;
    for (const auto& [name, timing] : timings) inside += timing.seconds;
    std::printf("time inside Invoke: %.1f s; longest:\n", inside);
    for (size_t i = 0; i < timings.size() && i < 5; ++i)
        std::printf("  %-16s %6ld calls %6.2f s, slowest %.3f s: %s\n", timings[i].first.c_str(), timings[i].second.calls,
                    timings[i].second.seconds, timings[i].second.slowest, timings[i].second.slowestCall.substr(0, 120).c_str());

    for (const auto& problem : fuzzer.problems) ADD_FAILURE() << problem;
    EXPECT_GT(succeeded, static_cast<long>(calls / 10)) << "the calls hardly ever reached a member";
    EXPECT_EQ(kiv::module::LiveObjects(), objectsAtStart);
    EXPECT_EQ(kivtest::LiveGdiObjects(), gdiAtStart);
    EXPECT_EQ(gForeignAlive, 0);
}

// What the fuzzer found, kept as plain cases. A name look-up without names (a count of 0 and no array),
// with a null name among them, or without room for the identifiers ended the process inside the
// platform's look-up, which reads the first name whatever the count: each is refused now, on every
// object, and a proper look-up still answers.
TEST_F(Fuzz, NameLookUpsWithoutNamesOrRoomAreRefused) {
    ComPtr<_KivCtl> control = NewControl();
    ASSERT_TRUE(control);
    ComPtr<_KivFactory> registry = BitmapsOf(control.Get());
    ComPtr<_KivBitmap> surface = Create(registry.Get(), L"s", 4, 4);
    ASSERT_TRUE(surface);
    for (IUnknown* object : {static_cast<IUnknown*>(control.Get()), static_cast<IUnknown*>(registry.Get()),
                             static_cast<IUnknown*>(surface.Get())}) {
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put())), S_OK);
        DISPID ids[2] = {7, 7};
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, nullptr, 0, LOCALE_USER_DEFAULT, ids), E_INVALIDARG);
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, nullptr, 1, LOCALE_USER_DEFAULT, ids), E_INVALIDARG);
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"Count"), nullptr};
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 0, LOCALE_USER_DEFAULT, ids), E_INVALIDARG);
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), E_INVALIDARG);
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
        EXPECT_EQ(ids[0], 7) << "a refused look-up writes no identifier";
    }
    ComPtr<IDispatch> dispatch;
    registry->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put()));
    LPOLESTR create[] = {const_cast<LPOLESTR>(L"Create"), const_cast<LPOLESTR>(L"Height")};
    DISPID ids[2] = {};
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, create, 2, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60030008);
    EXPECT_EQ(ids[1], 2);
}

}  // namespace
