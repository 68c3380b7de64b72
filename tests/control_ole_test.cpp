// The control's OLE side without a real container: a small client site of the test's own plays the
// container (it counts what the control tells it and may call back into the control), and the
// control is made through the module's class object, as a container makes it.
#include "FakeSite.h"
#include "TestSupport.h"

#include "component/Module.h"
#include "component/OwnObject.h"
#include "control/Appearance.h"
#include "control/KivCtl.h"
#include "registry/KivFactory.h"

#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <optional>
#include <vector>

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);

using namespace kivtest;
namespace platform = kiv::platform;

namespace {

// ---- the test's container ---------------------------------------------------------------------

// A property bag that counts what is read from it and written to it.
class FakeBag final : public IPropertyBag {
public:
    int reads = 0;
    int writes = 0;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IPropertyBag) return E_NOINTERFACE;
        *out = static_cast<IPropertyBag*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(LPCOLESTR, VARIANT*, IErrorLog*) override {
        ++reads;
        return E_INVALIDARG;
    }
    STDMETHODIMP Write(LPCOLESTR, VARIANT*) override {
        ++writes;
        return S_OK;
    }
};

// ---- the fixture ------------------------------------------------------------------------------

int ScreenDpi(int index) {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, index);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

// The control's own size in HIMETRIC on this screen: 847 x 820 at 96 dots per inch.
SIZEL OwnExtent() {
    return {::MulDiv(32, 2540, ScreenDpi(LOGPIXELSX)), ::MulDiv(31, 2540, ScreenDpi(LOGPIXELSY))};
}

bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class Ole : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        registry = nullptr;
        ole = As<IOleObject>(IID_IOleObject);
        inPlace = As<IOleInPlaceObject>(IID_IOleInPlaceObject);
        ASSERT_TRUE(ole && inPlace);
    }
    void ReleaseAll() override {
        inPlace.Reset();
        ole.Reset();
        ControlTest::ReleaseAll();
    }

    template <class I>
    ComPtr<I> As(REFIID iid) const {
        return control.As<I>(iid);
    }

    SIZEL Extent() const {
        SIZEL size = {-1, -1};
        EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &size), S_OK);
        return size;
    }

    // The control in place at `where`, through `site`.
    void Activate(FakeSite& site, RECT where) {
        ASSERT_EQ(ole->SetClientSite(&site), S_OK);
        ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, &where), S_OK);
    }

    ComPtr<IOleObject> ole;
    ComPtr<IOleInPlaceObject> inPlace;
};

// ---- identity and creation -------------------------------------------------------------------

TEST_F(Ole, EveryInterfaceIsTheSameObject) {
    const IID interfaces[] = {IID_IOleObject,        IID_IOleInPlaceObject,  IID_IOleWindow,
                              IID_IOleControl,       IID_IViewObject,        IID_IViewObject2,
                              IID_IPersist,          IID_IPersistStreamInit, IID_IPersistPropertyBag,
                              IID_IConnectionPointContainer, IID_IProvideClassInfo, IID_IProvideClassInfo2,
                              IID_IDispatch,         IID__KivCtl,            IID_IOleInPlaceObjectWindowless,
                              IID_IObjectSafety};
    for (const IID& iid : interfaces) {
        ComPtr<IUnknown> asked = As<IUnknown>(iid);
        ASSERT_TRUE(asked) << "interface #" << (&iid - interfaces);
        EXPECT_TRUE(kiv::SameObject(asked.Get(), control.Get()));
    }
    // Nothing that the control does not do: no window of its own, no UI activation.
    EXPECT_FALSE(As<IUnknown>(IID_IOleInPlaceActiveObject));
    EXPECT_FALSE(As<IUnknown>(IID_IConnectionPoint));
}

TEST_F(Ole, TheControlIsReadyWhateverTheContainerCallsFirst) {
    // Made by the class object, before any site, InitNew or Load: the registry is there.
    ComPtr<_KivFactory> first = BitmapsOf(control.Get());
    ASSERT_TRUE(first);
    auto persist = As<IPersistStreamInit>(IID_IPersistStreamInit);
    ASSERT_TRUE(persist);
    EXPECT_EQ(persist->InitNew(), S_OK);
    FakeSite site;
    EXPECT_EQ(ole->SetClientSite(&site), S_OK);
    EXPECT_EQ(persist->InitNew(), S_OK);  // a container that calls it after the site
    auto bag = As<IPersistPropertyBag>(IID_IPersistPropertyBag);
    FakeBag values;
    EXPECT_EQ(bag->Load(&values, nullptr), S_OK);
    // Still the same registry: none of these starts the control again.
    EXPECT_TRUE(kiv::SameObject(BitmapsOf(control.Get()).Get(), first.Get()));
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
}

// A container makes the control as AtlAxCreateControl does (asking for IOleObject). When the
// registry cannot be made, the creation fails with the registry's error and nothing is left.
TEST_F(Ole, AControlThatCannotStartIsNotHandedToTheContainer) {
    struct MakerSwap {
        kiv::KivCtl::RegistryMaker saved = kiv::KivCtl::MakeRegistry();
        MakerSwap() {
            kiv::KivCtl::MakeRegistry() = []() -> ComPtr<_KivFactory> {
                kiv::Raise(kiv::errors::OutOfMemory, L"Out of memory");
            };
        }
        ~MakerSwap() { kiv::KivCtl::MakeRegistry() = saved; }
    };
    const long objects = kiv::module::LiveObjects();
    const kivtest::GdiCounts gdi = kivtest::LiveGdiObjects();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_KivCtl, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())), S_OK);
    ComPtr<IOleObject> made;
    HRESULT status = S_OK;
    {
        MakerSwap swap;
        status = factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(made.Put()));
    }
    EXPECT_EQ(status, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, kiv::errors::OutOfMemory));
    EXPECT_FALSE(made);
    ComPtr<IErrorInfo> error;
    ASSERT_EQ(::GetErrorInfo(0, error.Put()), S_OK) << "the container can show the error's description";
    BSTR description = nullptr;
    error->GetDescription(&description);
    EXPECT_STREQ(description, L"Out of memory");
    ::SysFreeString(description);
    EXPECT_EQ(kiv::module::LiveObjects(), objects) << "the control that could not start is gone";
    EXPECT_EQ(kivtest::LiveGdiObjects(), gdi) << "with its device context";

    // With the registry maker back, the next control starts.
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, reinterpret_cast<void**>(made.Put())), S_OK);
    EXPECT_TRUE(BitmapsOf(made.As<_KivCtl>(IID__KivCtl).Get()));
}

// ---- the site, verbs and misc status ---------------------------------------------------------

TEST_F(Ole, TheClientSiteIsKeptWithACountedReference) {
    FakeSite site;
    const ULONG before = site.References();
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    EXPECT_EQ(site.References(), before + 1);
    ComPtr<IOleClientSite> given;
    ASSERT_EQ(ole->GetClientSite(given.Put()), S_OK);
    EXPECT_EQ(given.Get(), static_cast<IOleClientSite*>(&site));
    given.Reset();
    EXPECT_EQ(ole->SetHostNames(L"Host", L"Form"), S_OK);
    ASSERT_EQ(ole->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(site.References(), before);
    ASSERT_EQ(ole->GetClientSite(given.Put()), S_OK);
    EXPECT_FALSE(given);
}

TEST_F(Ole, MiscStatusSaysInvisibleAtRunTimeAndNeverUiActive) {
    DWORD status = 0;
    ASSERT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x24591u);
    const DWORD expected = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                           OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME | OLEMISC_NOUIACTIVATE |
                           OLEMISC_SETCLIENTSITEFIRST;
    EXPECT_EQ(status, expected);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(ole->GetUserClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_KivCtl);
}

TEST_F(Ole, VerbsActivateInPlaceWithoutUserInterface) {
    FakeSite site;
    site.windowContext = {10, 20, 110, 120};
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);

    // No position with the verb: the site's window context tells where the control goes.
    EXPECT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site.canActivate, 1);
    EXPECT_EQ(site.activated, 1);
    EXPECT_EQ(site.uiActivated, 0) << "the control never takes UI activation";
    ASSERT_EQ(site.positions.size(), 1u) << "the host's 100 x 100 was answered with the control's own size";
    EXPECT_TRUE(site.positions[0] == (RECT{10, 20, 42, 51}));
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL) << "windowless";
    EXPECT_EQ(window, nullptr);

    // Activating again, or by another activating verb, does not activate twice.
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_PRIMARY, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site.activated, 1);
    EXPECT_EQ(ole->DoVerb(7, nullptr, &site, 0, nullptr, nullptr), OLEOBJ_S_INVALIDVERB) << "done as the primary verb";
    EXPECT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_OPEN, nullptr, &site, 0, nullptr, nullptr), E_NOTIMPL) << "no window to open";
    EXPECT_EQ(ole->DoVerb(OLEIVERB_PROPERTIES, nullptr, &site, 0, nullptr, nullptr), E_NOTIMPL);
    IEnumOLEVERB* verbs = reinterpret_cast<IEnumOLEVERB*>(1);
    EXPECT_EQ(ole->EnumVerbs(&verbs), OLEOBJ_E_NOVERBS);
    EXPECT_EQ(verbs, nullptr);

    EXPECT_EQ(inPlace->UIDeactivate(), S_OK);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site.deactivated, 1);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site.deactivated, 1) << "deactivated once only";
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);

    // Without any site there is nowhere to activate.
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr), E_UNEXPECTED);
}

// ---- the extent ------------------------------------------------------------------------------

TEST_F(Ole, SetExtentRefusesEverySizeButTheControlsOwn) {
    const SIZEL own = OwnExtent();
    if (ScreenDpi(LOGPIXELSX) == 96 && ScreenDpi(LOGPIXELSY) == 96) {
        EXPECT_EQ(own.cx, 847);
        EXPECT_EQ(own.cy, 820);
    }
    EXPECT_EQ(Extent().cx, own.cx) << "from the start";
    EXPECT_EQ(Extent().cy, own.cy);
    const SIZEL asked[] = {{2646, 2646}, {1, 1}, {0, 0}, {847, 820}, {100000, 15}, {104, 104}};
    kiv::KivCtl& self = kiv::Own<kiv::KivCtl>(control.Get());
    const float twipsX = 1440.0f / static_cast<float>(ScreenDpi(LOGPIXELSX));
    for (SIZEL size : asked) {
        SIZEL request = size;
        const bool ownSize = size.cx == own.cx && size.cy == own.cy;
        EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &request), ownSize ? S_OK : E_FAIL)
            << "asked " << size.cx << " x " << size.cy;
        const SIZEL now = Extent();
        EXPECT_EQ(now.cx, own.cx) << "asked " << size.cx << " x " << size.cy;
        EXPECT_EQ(now.cy, own.cy) << "asked " << size.cx << " x " << size.cy;
        EXPECT_FLOAT_EQ(self.WidthTwips(), 32.0f * twipsX);
    }
    // The own size as a container rounds it from twips (480 x 465 at 96 dots per inch) is the own size.
    SIZEL rounded = {own.cx - 1, own.cy + 1};
    EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &rounded), S_OK);
    SIZEL wider = {::MulDiv(33, 2540, ScreenDpi(LOGPIXELSX)), own.cy};
    EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &wider), E_FAIL) << "one pixel wider";
    // The view reports the same extent; other aspects are not the control's.
    auto view = As<IViewObject2>(IID_IViewObject2);
    SIZEL viewed = {};
    ASSERT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &viewed), S_OK);
    EXPECT_EQ(viewed.cx, own.cx);
    EXPECT_EQ(viewed.cy, own.cy);
    SIZEL other = {100, 100};
    EXPECT_EQ(ole->SetExtent(DVASPECT_ICON, &other), DV_E_DVASPECT);
    EXPECT_EQ(ole->GetExtent(DVASPECT_ICON, &other), DV_E_DVASPECT);
}

TEST_F(Ole, AWrongPositionIsAnsweredOnceWithTheControlsOwnSize) {
    FakeSite site;
    Activate(site, {0, 0, 32, 31});
    EXPECT_TRUE(site.positions.empty()) << "the right size needs no answer";

    const RECT hundred = {5, 6, 105, 106};
    const RECT clip = {0, 0, 200, 200};
    EXPECT_EQ(inPlace->SetObjectRects(&hundred, &clip), S_OK);
    ASSERT_EQ(site.positions.size(), 1u);
    EXPECT_TRUE(site.positions[0] == (RECT{5, 6, 37, 37}));
    EXPECT_EQ(Extent().cx, OwnExtent().cx);

    // The container moves the control without resizing it: nothing to answer.
    const RECT moved = {40, 50, 72, 81};
    EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    EXPECT_EQ(site.positions.size(), 1u);
    // Each wrong size gets its one answer.
    const RECT small = {0, 0, 3, 3};
    EXPECT_EQ(inPlace->SetObjectRects(&small, &small), S_OK);
    ASSERT_EQ(site.positions.size(), 2u);
    EXPECT_TRUE(site.positions[1] == (RECT{0, 0, 32, 31}));
    EXPECT_EQ(inPlace->SetObjectRects(nullptr, &small), E_POINTER);
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.deactivated, 1) << "closing leaves in-place activity first";
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
}

// A container that resizes the control again from inside the notification finds 32 x 31 and
// changes nothing; one that insists on its own size is not answered again and again.
TEST_F(Ole, AResizeFromInsideTheNotificationChangesNothing) {
    FakeSite site;
    Activate(site, {0, 0, 32, 31});
    const SIZEL own = OwnExtent();
    std::vector<SIZEL> seenInside;
    site.onPosition = [&](const RECT& given) {
        SIZEL inside = {};
        ole->GetExtent(DVASPECT_CONTENT, &inside);
        seenInside.push_back(inside);
        // Placed where the control said: nothing to answer.
        EXPECT_EQ(inPlace->SetObjectRects(&given, &given), S_OK);
        SIZEL same = inside;
        EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &same), S_OK);
        // Insisting on the container's own size: refused, and no second answer comes.
        SIZEL big = {5000, 5000};
        EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &big), E_FAIL);
        const RECT insisted = {0, 0, 200, 200};
        EXPECT_EQ(inPlace->SetObjectRects(&insisted, &insisted), S_OK);
    };
    const RECT wrong = {0, 0, 100, 100};
    EXPECT_EQ(inPlace->SetObjectRects(&wrong, &wrong), S_OK);
    EXPECT_EQ(site.positions.size(), 1u) << "one answer for one wrong placement";
    ASSERT_EQ(seenInside.size(), 1u);
    EXPECT_EQ(seenInside[0].cx, own.cx) << "inside the notification the extent is already 32 x 31";
    EXPECT_EQ(seenInside[0].cy, own.cy);
    EXPECT_EQ(Extent().cx, own.cx);
    EXPECT_EQ(Extent().cy, own.cy);

    // The guard is over with the notification: the next wrong placement is answered again.
    site.onPosition = nullptr;
    EXPECT_EQ(inPlace->SetObjectRects(&wrong, &wrong), S_OK);
    EXPECT_EQ(site.positions.size(), 2u);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
}

// ---- the view ----------------------------------------------------------------------------------

// The appearance picture's colour at (x, y), as the resource holds it.
COLORREF AppearanceAt(const kiv::appearance::Picture& picture, int x, int y) {
    const auto* indices = static_cast<const BYTE*>(picture.bits);
    const int stride = (picture.width + 3) & ~3;
    const BYTE index = indices[(picture.height - 1 - y) * stride + x];
    const RGBQUAD colour = picture.info->bmiColors[index];
    return RGB(colour.rgbRed, colour.rgbGreen, colour.rgbBlue);
}

TEST_F(Ole, DesignModeDrawsTheAppearancePictureAndRunModeNothing) {
    const kiv::appearance::Picture picture = kiv::appearance::Find();
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture.width, kiv::KivCtl::kWidthPixels) << "the control's size is its picture's";
    ASSERT_EQ(picture.height, kiv::KivCtl::kHeightPixels);
    auto view = As<IViewObject2>(IID_IViewObject2);
    const COLORREF background = RGB(1, 2, 3);
    const RECTL bounds = {0, 0, 32, 31};

    // No ambient properties: the host program runs, and the control is invisible.
    {
        ColourTarget target(32, 31, background);
        EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, target.Dc(), &bounds, nullptr, nullptr, 0),
                  S_OK);
        for (int y = 0; y < 31; y += 5)
            for (int x = 0; x < 32; x += 5) ASSERT_EQ(PixelAt(target.Dc(), x, y), background);
    }
    FakeSite site;
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    site.userMode = true;
    {
        ColourTarget target(32, 31, background);
        EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, target.Dc(), &bounds, nullptr, nullptr, 0),
                  S_OK);
        for (int y = 0; y < 31; y += 5)
            for (int x = 0; x < 32; x += 5) ASSERT_EQ(PixelAt(target.Dc(), x, y), background);
    }
    // Design mode: every pixel is the picture's.
    site.userMode = false;
    {
        ColourTarget target(32, 31, background);
        EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, target.Dc(), &bounds, nullptr, nullptr, 0),
                  S_OK);
        for (int y = 0; y < 31; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(PixelAt(target.Dc(), x, y), AppearanceAt(picture, x, y)) << "at " << x << ", " << y;
    }
    // Stretched over twice the size, each picture pixel covers two by two.
    {
        ColourTarget target(64, 62, background);
        const RECTL twice = {0, 0, 64, 62};
        EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, target.Dc(), &twice, nullptr, nullptr, 0),
                  S_OK);
        for (int y = 0; y < 31; y += 3)
            for (int x = 0; x < 32; x += 3) ASSERT_EQ(PixelAt(target.Dc(), 2 * x + 1, 2 * y + 1), AppearanceAt(picture, x, y));
    }
    ColourTarget target(4, 4, background);
    EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, target.Dc(), &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr, nullptr, 0),
              E_INVALIDARG);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
}

TEST_F(Ole, AChangeOfUserModeTellsTheViewSink) {
    auto view = As<IViewObject2>(IID_IViewObject2);
    auto olecontrol = As<IOleControl>(IID_IOleControl);
    FakeAdviseSink sink;
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    DWORD aspects = 0;
    ComPtr<IAdviseSink> given;
    ASSERT_EQ(view->GetAdvise(&aspects, nullptr, given.Put()), S_OK);
    EXPECT_EQ(aspects, static_cast<DWORD>(DVASPECT_CONTENT));
    EXPECT_EQ(given.Get(), static_cast<IAdviseSink*>(&sink));
    given.Reset();

    EXPECT_EQ(olecontrol->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
    EXPECT_EQ(sink.viewChanges, 0) << "the look does not depend on the back colour";
    EXPECT_EQ(olecontrol->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
    EXPECT_EQ(sink.viewChanges, 1);
    EXPECT_EQ(olecontrol->OnAmbientPropertyChange(DISPID_UNKNOWN), S_OK);
    EXPECT_EQ(sink.viewChanges, 2);

    CONTROLINFO info = {sizeof(info), reinterpret_cast<HACCEL>(1), 5, 7};
    EXPECT_EQ(olecontrol->GetControlInfo(&info), S_OK);
    EXPECT_EQ(info.cAccel, 0) << "no mnemonics";
    EXPECT_EQ(info.hAccel, nullptr);
    EXPECT_EQ(olecontrol->FreezeEvents(TRUE), S_OK);
    EXPECT_EQ(olecontrol->FreezeEvents(FALSE), S_OK);

    const ULONG held = sink.References();
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, nullptr), S_OK);
    EXPECT_EQ(sink.References(), held - 1) << "the sink is let go";
}

// ---- persistence ------------------------------------------------------------------------------

TEST_F(Ole, ThereIsNothingToLoadOrSave) {
    auto stream = As<IPersistStreamInit>(IID_IPersistStreamInit);
    auto bag = As<IPersistPropertyBag>(IID_IPersistPropertyBag);
    auto persist = As<IPersist>(IID_IPersist);
    ASSERT_TRUE(stream && bag && persist);
    CLSID clsid = GUID_NULL;
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_KivCtl);
    clsid = GUID_NULL;
    EXPECT_EQ(bag->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_KivCtl);
    EXPECT_EQ(stream->IsDirty(), S_FALSE);

    ComPtr<IStream> memory;
    ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, memory.Put()), S_OK);
    EXPECT_EQ(stream->Save(memory.Get(), TRUE), S_OK);
    STATSTG stat = {};
    ASSERT_EQ(memory->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 0u) << "no properties written";
    ULARGE_INTEGER size = {};
    size.QuadPart = 99;
    EXPECT_EQ(stream->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 0u);
    EXPECT_EQ(stream->Load(memory.Get()), S_OK);
    EXPECT_EQ(stream->IsDirty(), S_FALSE);

    FakeBag values;
    EXPECT_EQ(bag->InitNew(), S_OK);
    EXPECT_EQ(bag->Save(&values, TRUE, TRUE), S_OK);
    EXPECT_EQ(bag->Load(&values, nullptr), S_OK);
    EXPECT_EQ(values.writes, 0);
    EXPECT_EQ(values.reads, 0);
}

// Safe to initialise from any stored data, through every interface that loads it; nothing is safe
// for a script that the container does not trust. A mask that names an option that the interface
// does not offer fails, whether it turns the option on or off.
TEST_F(Ole, ItIsSafeToInitialiseFromStoredDataAndNotForScripting) {
    auto safety = As<IObjectSafety>(IID_IObjectSafety);
    ASSERT_TRUE(safety);
    constexpr DWORD kData = INTERFACESAFE_FOR_UNTRUSTED_DATA, kCaller = INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    const struct { const IID* iid; DWORD asked; DWORD supported; HRESULT answer; } cases[] = {
        {&IID_IPersistStorage, kData, kData, S_OK},
        {&IID_IPersistStreamInit, kData, kData, S_OK},
        {&IID_IPersistPropertyBag, kData, kData, S_OK},
        {&IID_IPersistMemory, kData | kCaller, kData, E_FAIL},
        {&IID_IPersistStream, kCaller, kData, E_FAIL},
        {&IID_IDispatch, kCaller, 0, E_FAIL},
        {&IID__KivCtl, kCaller, 0, E_FAIL},
        {&IID_IOleObject, kData, 0, E_FAIL},
        {&IID_IClassFactory, kData, 0, E_NOINTERFACE},
    };
    for (const auto& [iid, asked, supported, answer] : cases) {
        SCOPED_TRACE(testing::Message() << "case " << GuidText(*iid).c_str());
        DWORD offered = 99, enabled = 99;
        EXPECT_EQ(safety->GetInterfaceSafetyOptions(*iid, &offered, &enabled),
                  answer == E_NOINTERFACE ? E_NOINTERFACE : S_OK);
        EXPECT_TRUE(offered == supported && enabled == 0) << offered << ", " << enabled;
        EXPECT_EQ(safety->SetInterfaceSafetyOptions(*iid, asked, asked), answer);
        EXPECT_EQ(safety->GetInterfaceSafetyOptions(*iid, &offered, &enabled) == S_OK ? enabled : 0,
                  answer == S_OK ? asked : 0) << "turned on only where it is declared";
        EXPECT_EQ(safety->SetInterfaceSafetyOptions(*iid, asked, 0), answer) << "turning it off again";
    }
}

// ---- class information and events ----------------------------------------------------------------

TEST_F(Ole, ClassInformationComesFromTheTypeLibrary) {
    auto provide = As<IProvideClassInfo2>(IID_IProvideClassInfo2);
    ASSERT_TRUE(provide);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(provide->GetClassInfo(info.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, CLSID_KivCtl);
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    // The class's default source interface, as the type library gives it.
    GUID source = GUID_NULL;
    for (UINT i = 0; i < attributes->cImplTypes; ++i) {
        INT flags = 0;
        info->GetImplTypeFlags(i, &flags);
        if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> events;
        ASSERT_EQ(info->GetRefTypeOfImplType(i, &reference), S_OK);
        ASSERT_EQ(info->GetRefTypeInfo(reference, events.Put()), S_OK);
        TYPEATTR* eventAttributes = nullptr;
        events->GetTypeAttr(&eventAttributes);
        source = eventAttributes->guid;
        events->ReleaseTypeAttr(eventAttributes);
    }
    info->ReleaseTypeAttr(attributes);
    EXPECT_EQ(source, DIID___KivCtl);

    GUID guid = GUID_NULL;
    ASSERT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
    EXPECT_EQ(guid, DIID___KivCtl);
    EXPECT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &guid), E_INVALIDARG);
    // Through the interface it extends, the same class.
    auto plain = As<IProvideClassInfo>(IID_IProvideClassInfo);
    ComPtr<ITypeInfo> again;
    ASSERT_EQ(plain->GetClassInfo(again.Put()), S_OK);
    EXPECT_EQ(again->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, CLSID_KivCtl);
    again->ReleaseTypeAttr(attributes);
}

TEST_F(Ole, OneConnectionPointForTheEventInterface) {
    auto container = As<IConnectionPointContainer>(IID_IConnectionPointContainer);
    ASSERT_TRUE(container);
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, point.Put()), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(DIID___KivCtl, point.Put()), S_OK);
    IID iid = GUID_NULL;
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, DIID___KivCtl);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_TRUE(kiv::SameObject(back.Get(), control.Get()));

    // The enumeration lists exactly that point.
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.Put()), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0], point.Get());
    listed[0]->Release();
    EXPECT_EQ(points->Reset(), S_OK);
    ComPtr<IEnumConnectionPoints> copy;
    ASSERT_EQ(points->Clone(copy.Put()), S_OK);
    EXPECT_EQ(copy->Skip(1), S_OK);
    EXPECT_EQ(copy->Next(1, listed, nullptr), S_FALSE);

    // Sinks are kept, listed and let go; a sink without the event interface cannot connect.
    FakeEventSink sink(DIID___KivCtl);
    FakeEventSink stranger(IID_IPropertyNotifySink);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(&stranger, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(stranger.References(), 1u);
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(sink.References(), 2u);
    DWORD second = 0;
    ASSERT_EQ(point->Advise(&sink, &second), S_OK);
    EXPECT_NE(second, cookie);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
    CONNECTDATA data[3] = {};
    ASSERT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[0].dwCookie, cookie);
    EXPECT_EQ(data[1].dwCookie, second);
    EXPECT_TRUE(kiv::SameObject(data[0].pUnk, static_cast<IDispatch*>(&sink)));
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    connections.Reset();
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(sink.References(), 2u);
    EXPECT_EQ(sink.events, 0) << "the control raises no events";

    // The point lives as long as the control; the control's end lets the last sink go.
    points.Reset();
    copy.Reset();
    back.Reset();
    point.Reset();
    container.Reset();
    inPlace.Reset();
    ole.Reset();
    control.Reset();
    EXPECT_EQ(sink.References(), 1u);
}

// ---- the end --------------------------------------------------------------------------------------

// Close is the termination: the registry's Owner goes first, then the list is cleared while the
// control still holds the registry, and the registry is released last. What the client holds lives on.
TEST_F(Ole, CloseDetachesTheOwnerThenClearsThenReleasesTheRegistry) {
    auto registry = BitmapsOf(control.Get());
    ASSERT_TRUE(registry);
    auto kept = Create(registry.Get(), L"kept", 4, 4);
    ASSERT_TRUE(kept);
    HDC listedDc = nullptr;
    {
        auto listed = Create(registry.Get(), L"listed", 4, 4);
        ASSERT_TRUE(listed);
        listedDc = DcOf(listed.Get());
    }
    struct Moment {
        bool seen = false;
        bool ownerGone = false;
        bool controlHoldsRegistry = false;
    } clearing;
    Recorder recorder;
    recorder.answer = [&](platform::Call& call) {
        // The listed surface goes when the list is cleared.
        if (std::string(call.name) == "DeleteDC" && call.args[0] == reinterpret_cast<std::intptr_t>(listedDc) &&
            !clearing.seen) {
            clearing.seen = true;
            clearing.ownerGone = !kiv::Own<kiv::KivFactory>(registry.Get()).Owner();
            ComPtr<_KivFactory> held;
            control->get_Bitmaps(held.Put());
            clearing.controlHoldsRegistry = kiv::SameObject(held.Get(), registry.Get());
        }
        return false;
    };
    FakeSite site;
    Activate(site, {0, 0, 32, 31});
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    ASSERT_TRUE(clearing.seen) << "the list was cleared";
    EXPECT_TRUE(clearing.ownerGone) << "the owner was detached before";
    EXPECT_TRUE(clearing.controlHoldsRegistry) << "the registry was released after";
    EXPECT_FALSE(BitmapsOf(control.Get())) << "released";
    EXPECT_EQ(CountOf(registry.Get()), 0);
    registry->AddRef();
    EXPECT_EQ(registry->Release(), 2u) << "held by the test and by the kept surface only";
    EXPECT_EQ(site.deactivated, 1);

    // The kept surface still draws.
    short zero = 0, four = 4;
    LONG red = RGB(255, 0, 0);
    EXPECT_EQ(kept->DrawBox(&zero, &zero, &four, &four, &red), S_OK);
    EXPECT_EQ(PixelAt(DcOf(kept.Get()), 0, 0), RGB(255, 0, 0));
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK) << "a second close finds nothing to do";
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
}

}  // namespace
