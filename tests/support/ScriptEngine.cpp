#include "ScriptEngine.h"

#include <activscp.h>

#include <atomic>
#include <cstdio>

namespace kivtest {
namespace {

// The VBScript engine's class: {B54F3741-5B07-11CF-A4B0-00AA004A55E8}.
constexpr CLSID kVBScript = {0xB54F3741, 0x5B07, 0x11CF, {0xA4, 0xB0, 0x00, 0xAA, 0x00, 0x4A, 0x55, 0xE8}};

}  // namespace

// What the engine calls back: it asks for the named items and reports errors here.
class ScriptEngine::Site final : public IActiveScriptSite {
public:
    std::vector<std::pair<std::wstring, kiv::ComPtr<IDispatch>>> items;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != __uuidof(IActiveScriptSite)) return E_NOINTERFACE;
        *out = static_cast<IActiveScriptSite*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
        if (item) *item = nullptr;
        if (info) *info = nullptr;
        if (mask & SCRIPTINFO_ITYPEINFO) return TYPE_E_ELEMENTNOTFOUND;
        for (auto& [itemName, object] : items) {
            if (::CompareStringOrdinal(name, -1, itemName.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
            if ((mask & SCRIPTINFO_IUNKNOWN) && item) {
                *item = object.Get();
                object->AddRef();
            }
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override {
        EXCEPINFO info{};
        ULONG line = 0;
        DWORD context = 0;
        LONG column = 0;
        error->GetExceptionInfo(&info);
        error->GetSourcePosition(&context, &line, &column);
        std::printf("script error at line %lu: %ls\n", line + 1, info.bstrDescription ? info.bstrDescription : L"");
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    std::atomic<ULONG> references_{1};
};

ScriptEngine::ScriptEngine() : site_(new Site) {}

ScriptEngine::~ScriptEngine() {
    globals_.Reset();
    if (auto script = engine_.As<IActiveScript>(__uuidof(IActiveScript))) script->Close();
    engine_.Reset();
    site_->items.clear();
    site_->Release();
}

void ScriptEngine::Add(const wchar_t* name, IDispatch* object) { site_->items.emplace_back(name, object); }

bool ScriptEngine::Run(const wchar_t* text) {
    kiv::ComPtr<IActiveScript> script;
    if (FAILED(::CoCreateInstance(kVBScript, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                                  reinterpret_cast<void**>(script.Put()))))
        return false;
    auto parse = script.As<IActiveScriptParse>(__uuidof(IActiveScriptParse));
    if (!parse || FAILED(parse->InitNew()) || FAILED(script->SetScriptSite(site_))) return false;
    engine_ = script.As<IUnknown>(IID_IUnknown);
    for (auto& item : site_->items)
        if (FAILED(script->AddNamedItem(item.first.c_str(), SCRIPTITEM_ISVISIBLE))) return false;
    if (FAILED(script->SetScriptState(SCRIPTSTATE_STARTED))) return false;
    EXCEPINFO exception{};
    const HRESULT status = parse->ParseScriptText(text, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &exception);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return SUCCEEDED(status) && SUCCEEDED(script->GetScriptDispatch(nullptr, globals_.Put()));
}

DISPID ScriptEngine::Find(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (!globals_ || FAILED(globals_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return DISPID_UNKNOWN;
    return id;
}

bool ScriptEngine::Call(DISPID id, long argument) {
    VARIANT arg;
    ::VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = argument;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    return SUCCEEDED(globals_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                      nullptr));
}

}  // namespace kivtest
