// The methods of the control framework's interfaces that the other tests leave out, each with the
// answer that the interface's documentation gives for a control that is only ever active in place
// (the control frameworks' answer where it leaves the choice); the sinks that containers connect,
// listed and let go; and the enumerators' positions.
#include "FakeSite.h"
#include "TestSupport.h"

#include <ocidl.h>
#include <olectl.h>

#include <functional>

using namespace kivtest;

namespace {

// A method that gives nothing back must clear its out pointer.
template <class T>
HRESULT GivesNothing(const std::function<HRESULT(T**)>& call) {
    T* out = reinterpret_cast<T*>(16);
    const HRESULT status = call(&out);
    EXPECT_EQ(out, nullptr);
    return status;
}

// QueryInterface as a caller asks: a reference given is let go at once, and a refusal gives nothing.
HRESULT Asked(IUnknown* object, REFIID iid) {
    void* out = &out;
    const HRESULT status = object->QueryInterface(iid, &out);
    if (SUCCEEDED(status)) static_cast<IUnknown*>(out)->Release();
    else EXPECT_EQ(out, nullptr);
    return status;
}

FORMATETC kEnhanced = {CF_ENHMETAFILE, nullptr, DVASPECT_CONTENT, -1, TYMED_ENHMF};

class Methods : public ControlTest {
protected:
    template <class I>
    ComPtr<I> As() const { return control.As<I>(__uuidof(I)); }
};

TEST_F(Methods, EachGivesItsDocumentedAnswer) {
    auto ole = As<IOleObject>();
    auto inPlace = As<IOleInPlaceObject>();
    auto view = As<IViewObjectEx>();
    auto data = As<IDataObject>();
    FakeAdviseSink sink;
    DWORD key = 99;
    MSG message = {};
    DVEXTENTINFO small = {sizeof(DVEXTENTINFO) - 1, DVEXTENT_CONTENT, {}};
    SIZEL size = {};
    FORMATETC bitmap = {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI}, canonical = {};
    DVTARGETDEVICE printer = {};
    printer.tdSize = sizeof(printer);
    FORMATETC forPrinter = kEnhanced;
    forPrinter.ptd = &printer;
    ComPtr<IEnumFORMATETC> formats;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, formats.Put()), S_OK);
    ASSERT_EQ(As<IConnectionPointContainer>()->FindConnectionPoint(DIID___KivCtl, point.Put()), S_OK);
    const struct { const char* method; HRESULT answer; std::function<HRESULT()> call; } methods[] = {
        {"IOleObject::SetMoniker", E_NOTIMPL, [&] { return ole->SetMoniker(OLEWHICHMK_CONTAINER, nullptr); }},
        {"IOleObject::GetMoniker", E_NOTIMPL, [&] { return GivesNothing<IMoniker>([&](IMoniker** out) {
             return ole->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, out); }); }},
        {"IOleObject::InitFromData", E_NOTIMPL, [&] { return ole->InitFromData(data.Get(), TRUE, 0); }},
        {"IOleObject::GetClipboardData", E_NOTIMPL, [&] { return GivesNothing<IDataObject>([&](IDataObject** out) {
             return ole->GetClipboardData(0, out); }); }},
        {"IOleObject::DoVerb, nothing to undo", S_OK, [&] {
             return ole->DoVerb(OLEIVERB_DISCARDUNDOSTATE, nullptr, nullptr, -1, nullptr, nullptr); }},
        {"IOleObject::DoVerb, an unknown negative verb", E_NOTIMPL, [&] {
             return ole->DoVerb(-99, nullptr, nullptr, -1, nullptr, nullptr); }},
        {"IOleObject::Update", S_OK, [&] { return ole->Update(); }},
        {"IOleObject::IsUpToDate", S_OK, [&] { return ole->IsUpToDate(); }},
        {"IOleObject::SetColorScheme", E_NOTIMPL, [&] { return ole->SetColorScheme(nullptr); }},
        {"IOleObject::Advise without a sink", E_INVALIDARG, [&] { return ole->Advise(nullptr, &key); }},
        {"IOleObject::Unadvise, no connection", OLE_E_NOCONNECTION, [&] { return ole->Unadvise(1); }},
        {"IOleObject::EnumAdvise, no connection", S_OK, [&] { return GivesNothing<IEnumSTATDATA>(
             [&](IEnumSTATDATA** out) { return ole->EnumAdvise(out); }); }},
        {"IOleInPlaceObject::ContextSensitiveHelp", E_NOTIMPL, [&] { return inPlace->ContextSensitiveHelp(TRUE); }},
        {"IOleInPlaceObject::ReactivateAndUndo", INPLACE_E_NOTUNDOABLE, [&] { return inPlace->ReactivateAndUndo(); }},
        {"IOleControl::OnMnemonic", E_NOTIMPL, [&] { return As<IOleControl>()->OnMnemonic(&message); }},
        {"IViewObject::Freeze", E_NOTIMPL, [&] { return view->Freeze(DVASPECT_CONTENT, -1, nullptr, &key); }},
        {"IViewObject::Unfreeze", E_NOTIMPL, [&] { return view->Unfreeze(key); }},
        {"IViewObject::GetColorSet, no palette", S_FALSE, [&] { return GivesNothing<LOGPALETTE>([&](LOGPALETTE** out) {
             return view->GetColorSet(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, out); }); }},
        {"IViewObjectEx::GetNaturalExtent, short information", E_INVALIDARG, [&] {
             return view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &small, &size); }},
        {"IDataObject::GetCanonicalFormatEtc, the same for every device", DATA_S_SAMEFORMATETC, [&] {
             const HRESULT status = data->GetCanonicalFormatEtc(&forPrinter, &canonical);
             EXPECT_EQ(canonical.cfFormat, CF_ENHMETAFILE);
             EXPECT_EQ(canonical.ptd, nullptr);
             EXPECT_EQ(canonical.lindex, -1);
             return status; }},
        {"IDataObject::EnumFormatEtc, nothing to set", E_NOTIMPL, [&] { return GivesNothing<IEnumFORMATETC>(
             [&](IEnumFORMATETC** out) { return data->EnumFormatEtc(DATADIR_SET, out); }); }},
        {"IDataObject::DAdvise without a sink", E_INVALIDARG, [&] {
             return data->DAdvise(&kEnhanced, 0, nullptr, &key); }},
        {"IDataObject::DAdvise, a format not given", DV_E_FORMATETC, [&] {
             return data->DAdvise(&bitmap, 0, &sink, &key); }},
        {"IDataObject::DUnadvise, no connection", OLE_E_NOCONNECTION, [&] { return data->DUnadvise(1); }},
        {"IDataObject::EnumDAdvise, no connection", S_OK, [&] { return GivesNothing<IEnumSTATDATA>(
             [&](IEnumSTATDATA** out) { return data->EnumDAdvise(out); }); }},
        {"IEnumFORMATETC::QueryInterface", S_OK, [&] { return Asked(formats.Get(), IID_IEnumFORMATETC); }},
        {"IEnumFORMATETC::QueryInterface, another enumerator", E_NOINTERFACE, [&] {
             return Asked(formats.Get(), IID_IEnumSTATDATA); }},
        {"IConnectionPoint::QueryInterface", S_OK, [&] { return Asked(point.Get(), IID_IConnectionPoint); }},
        {"IConnectionPoint::QueryInterface, its container", E_NOINTERFACE, [&] {
             return Asked(point.Get(), IID_IConnectionPointContainer); }},
    };
    for (const auto& [method, answer, call] : methods) {
        SCOPED_TRACE(method);
        EXPECT_EQ(call(), answer);
    }
    EXPECT_EQ(sink.References(), 1u) << "no connection was made";
}

// The user type as registration records it, in each form; a form that registration does not name
// is the full name, and a class that it does not name, as used from a manifest, gives its own.
TEST_F(Methods, TheUserTypeIsTheRegisteredOne) {
    const std::wstring key = L"CLSID\\" + GuidText(CLSID_KivCtl);
    const std::wstring registered = ClassesValue(key);
    ASSERT_NE(registered, L"(missing)") << "the module is registered";
    ASSERT_EQ(::RegSetValueW(HKEY_CLASSES_ROOT, (key + L"\\AuxUserType\\3").c_str(), REG_SZ, L"Kiv drawing", 0),
              ERROR_SUCCESS);
    const std::pair<DWORD, std::wstring> forms[] = {
        {USERCLASSTYPE_FULL, registered}, {USERCLASSTYPE_SHORT, registered}, {USERCLASSTYPE_APPNAME, L"Kiv drawing"},
        {0, L"(the registered name taken away)"}, {USERCLASSTYPE_FULL, L"KivCtl"}};
    for (const auto& [form, name] : forms) {
        if (!form) {
            EXPECT_EQ(::RegDeleteKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr), ERROR_SUCCESS);
            continue;
        }
        LPOLESTR type = nullptr;
        EXPECT_EQ(As<IOleObject>()->GetUserType(form, &type), S_OK);
        EXPECT_EQ(type ? std::wstring(type) : L"(none)", name) << "form " << form;
        ::CoTaskMemFree(type);
    }
    EXPECT_EQ(::RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, registered.c_str(), 0), ERROR_SUCCESS);
    EXPECT_EQ(::RegDeleteTreeW(HKEY_CLASSES_ROOT, (key + L"\\AuxUserType").c_str()), ERROR_SUCCESS);
}

// A sink that a container connects goes when the control closes, after the control has ended: a
// release that calls back finds it closed.
TEST_F(Methods, CloseLetsEverySinkGoAfterTheControlEnded) {
    const std::pair<const char*, std::function<HRESULT(FakeAdviseSink&)>> connections[] = {
        {"IOleObject::Advise", [&](FakeAdviseSink& sink) { DWORD c; return As<IOleObject>()->Advise(&sink, &c); }},
        {"IDataObject::DAdvise", [&](FakeAdviseSink& sink) {
             DWORD c;
             return As<IDataObject>()->DAdvise(&kEnhanced, 0, &sink, &c); }},
        {"IViewObject::SetAdvise", [&](FakeAdviseSink& sink) {
             return As<IViewObject>()->SetAdvise(DVASPECT_CONTENT, 0, &sink); }},
        {"IQuickActivate::QuickActivate", [&](FakeAdviseSink& sink) {
             QACONTAINER container = {};
             QACONTROL answer = {};
             container.cbSize = sizeof(container), answer.cbSize = sizeof(answer);
             container.pUnkEventSink = static_cast<IDispatch*>(&sink);
             return As<IQuickActivate>()->QuickActivate(&container, &answer); }},
    };
    for (const auto& [how, connect] : connections) {
        SCOPED_TRACE(how);
        control = NewControl();
        FakeAdviseSink sink;
        ASSERT_EQ(connect(sink), S_OK);
        EXPECT_EQ(sink.References(), 2u) << "held once";
        bool closedFirst = false;
        sink.released = [&] { closedFirst = !BitmapsOf(control.Get()); };
        EXPECT_EQ(As<IOleObject>()->Close(OLECLOSE_NOSAVE), S_OK);
        EXPECT_EQ(sink.References(), 1u) << "let go while the container still holds the control";
        EXPECT_TRUE(closedFirst);
        EXPECT_EQ(sink.closes, how == connections[0].first ? 1 : 0);
    }
}

TEST_F(Methods, AdviseSinksAreListedUntilTheyAreDisconnected) {
    FakeAdviseSink sink;
    DWORD ole = 0, data = 0;
    ASSERT_EQ(As<IOleObject>()->Advise(&sink, &ole), S_OK);
    ASSERT_EQ(As<IDataObject>()->DAdvise(&kEnhanced, ADVF_PRIMEFIRST, &sink, &data), S_OK);
    EXPECT_EQ(sink.dataChanges, 1) << "primed with the picture";
    EXPECT_EQ(sink.dataGiven, 1) << "primed with the picture";
    ComPtr<IEnumSTATDATA> listings[2];
    ASSERT_EQ(As<IOleObject>()->EnumAdvise(listings[0].Put()), S_OK);
    ASSERT_EQ(As<IDataObject>()->EnumDAdvise(listings[1].Put()), S_OK);
    for (const DWORD kind : {0, 1}) {
        STATDATA listed[2] = {};
        ULONG count = 0;
        EXPECT_EQ(listings[kind]->Next(2, listed, &count), S_FALSE);
        ASSERT_EQ(count, 1u);
        EXPECT_EQ(listed[0].pAdvSink, static_cast<IAdviseSink*>(&sink));
        EXPECT_EQ(listed[0].dwConnection, kind ? data : ole);
        listed[0].pAdvSink->Release();
        listings[kind].Reset();
    }
    // A document stored tells the OLE sink; a change of the picture tells the data sink.
    auto storage = As<IPersistStorage>();
    ComPtr<ILockBytes> bytes;
    ComPtr<IStorage> document;
    ASSERT_EQ(::CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.Put()), S_OK);
    ASSERT_EQ(::StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                             document.Put()), S_OK);
    EXPECT_EQ(storage->InitNew(document.Get()), S_OK);
    EXPECT_EQ(storage->Save(document.Get(), TRUE), S_OK);
    EXPECT_EQ(storage->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(sink.saves, 1);
    ASSERT_EQ(As<IOleControl>()->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
    EXPECT_EQ(sink.dataChanges, 2);
    EXPECT_EQ(As<IOleObject>()->Unadvise(ole), S_OK);
    EXPECT_EQ(As<IDataObject>()->DUnadvise(data), S_OK);
    EXPECT_EQ(sink.References(), 1u);
    EXPECT_EQ(As<IOleObject>()->Unadvise(ole), OLE_E_NOCONNECTION);
    EXPECT_EQ(As<IDataObject>()->DUnadvise(data), OLE_E_NOCONNECTION);
}

// Each enumerator keeps its own position and a reference on each item while it lives.
TEST_F(Methods, EnumeratorsSkipResetAndClone) {
    ComPtr<IEnumFORMATETC> formats, copy;
    ASSERT_EQ(As<IDataObject>()->EnumFormatEtc(DATADIR_GET, formats.Put()), S_OK);
    FORMATETC format = {};
    EXPECT_EQ(formats->Skip(1), S_OK);
    ASSERT_EQ(formats->Clone(copy.Put()), S_OK);
    EXPECT_EQ(formats->Next(1, &format, nullptr), S_OK);
    EXPECT_EQ(format.cfFormat, CF_METAFILEPICT);
    EXPECT_EQ(formats->Skip(1), S_FALSE) << "past the end";
    EXPECT_EQ(copy->Next(1, &format, nullptr), S_OK) << "the copy still where the original was";
    EXPECT_EQ(format.cfFormat, CF_METAFILEPICT);
    EXPECT_EQ(formats->Reset(), S_OK);
    EXPECT_EQ(formats->Next(1, &format, nullptr), S_OK);
    EXPECT_EQ(format.cfFormat, CF_ENHMETAFILE);
    EXPECT_EQ(formats->Next(2, &format, nullptr), E_POINTER) << "how many came must be asked for";

    FakeAdviseSink sink;
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(As<IConnectionPointContainer>()->FindConnectionPoint(DIID___KivCtl, point.Put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(static_cast<IDispatch*>(&sink), &cookie), S_OK);
    ComPtr<IEnumConnections> connections, again;
    ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
    ASSERT_EQ(connections->Clone(again.Put()), S_OK);
    EXPECT_EQ(sink.References(), 4u) << "the point, the enumerator and its copy";
    connections.Reset();
    again.Reset();
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(sink.References(), 1u);
}

}  // namespace
