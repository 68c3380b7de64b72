#include "ScriptHost.h"

#include <activscp.h>

#include <atomic>
#include <string>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace demo {
namespace {

// The VBScript engine's class: {B54F3741-5B07-11CF-A4B0-00AA004A55E8}.
constexpr CLSID kVBScript = {0xB54F3741, 0x5B07, 0x11CF, {0xA4, 0xB0, 0x00, 0xAA, 0x00, 0x4A, 0x55, 0xE8}};
constexpr DISPID kEchoId = 1;

// A COM object whose references are counted here; it deletes itself with the last one.
template <class Derived, class... Interfaces>
class Counted : public Interfaces... {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    virtual ~Counted() = default;

private:
    std::atomic<ULONG> references_{1};
};

// The script's `WScript` object: only Echo, which is all the demo's script uses of its host.
class WScriptObject final : public Counted<WScriptObject, IDispatch> {
public:
    explicit WScriptObject(std::function<void(const std::wstring&)> echo) : echo_(std::move(echo)) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count == 1 && ::CompareStringOrdinal(names[0], -1, L"Echo", -1, TRUE) == CSTR_EQUAL) {
            ids[0] = kEchoId;
            return S_OK;
        }
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (id != kEchoId) return DISP_E_MEMBERNOTFOUND;
        if (result) ::VariantInit(result);
        // Arguments arrive last to first; Echo joins them with spaces, as cscript does.
        std::wstring line;
        for (UINT i = params ? params->cArgs : 0; i > 0; --i) {
            VARIANT text;
            ::VariantInit(&text);
            if (FAILED(::VariantChangeType(&text, &params->rgvarg[i - 1], VARIANT_ALPHABOOL, VT_BSTR)))
                return DISP_E_TYPEMISMATCH;
            if (!line.empty() || i != params->cArgs) line += L' ';
            line.append(V_BSTR(&text), ::SysStringLen(V_BSTR(&text)));
            ::VariantClear(&text);
        }
        echo_(line);
        return S_OK;
    }

private:
    std::function<void(const std::wstring&)> echo_;
};

}  // namespace

// What the engine calls back: it asks for the named items (`WScript` and those the host added) and
// reports errors here.
class ScriptHost::Site final : public Counted<ScriptHost::Site, IActiveScriptSite> {
public:
    explicit Site(std::function<void(const std::wstring&)> echo) : echo_(echo) {
        ComPtr<IDispatch> wscript;
        wscript.Attach(new WScriptObject(std::move(echo)));
        items.emplace_back(L"WScript", std::move(wscript));
    }

    bool failed = false;
    std::vector<std::pair<std::wstring, ComPtr<IDispatch>>> items;

    void Report(const std::wstring& text) {
        failed = true;
        echo_(text);
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IActiveScriptSite) return E_NOINTERFACE;
        *out = static_cast<IActiveScriptSite*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
        if (item) *item = nullptr;
        if (info) *info = nullptr;
        if (mask & SCRIPTINFO_ITYPEINFO) return TYPE_E_ELEMENTNOTFOUND;
        for (auto& [itemName, object] : items) {
            if (::CompareStringOrdinal(name, -1, itemName.c_str(), -1, TRUE) != CSTR_EQUAL) continue;
            if ((mask & SCRIPTINFO_IUNKNOWN) && item) object.CopyTo(item);
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override {
        EXCEPINFO info{};
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetExceptionInfo(&info);
        error->GetSourcePosition(&context, &line, &column);
        std::wstring text = L"script error at line " + std::to_wstring(line + 1) + L": ";
        if (info.bstrDescription) text += info.bstrDescription;
        else text += L"code " + std::to_wstring(info.scode ? info.scode : info.wCode);
        ::SysFreeString(info.bstrSource);
        ::SysFreeString(info.bstrDescription);
        ::SysFreeString(info.bstrHelpFile);
        Report(text);
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    std::function<void(const std::wstring&)> echo_;
};

ScriptHost::ScriptHost(std::function<void(const std::wstring&)> echo) : site_(new Site(std::move(echo))) {}

ScriptHost::~ScriptHost() {
    // Closing the engine releases the script's variables, and with them what the script made.
    globals_.Reset();
    ComPtr<IActiveScript> script;
    if (engine_ && SUCCEEDED(engine_.As(&script))) script->Close();
    engine_.Reset();
    site_->items.clear();  // the objects that the host added, after the script has let them go
    site_->Release();
}

void ScriptHost::Add(const wchar_t* name, IDispatch* object) { site_->items.emplace_back(name, object); }

bool ScriptHost::Run(const std::wstring& text) {
    ComPtr<IActiveScript> script;
    ComPtr<IActiveScriptParse> parse;
    if (FAILED(::CoCreateInstance(kVBScript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, &script)) ||
        FAILED(script.As(&parse))) {
        site_->Report(L"script error: no VBScript engine");
        return false;
    }
    engine_ = script;
    bool accepted = SUCCEEDED(parse->InitNew()) && SUCCEEDED(script->SetScriptSite(site_));
    for (const auto& item : site_->items)
        accepted = accepted && SUCCEEDED(script->AddNamedItem(item.first.c_str(), SCRIPTITEM_ISVISIBLE));
    // Started first: the text runs as it is parsed.
    if (!accepted || FAILED(script->SetScriptState(SCRIPTSTATE_STARTED))) {
        site_->Report(L"script error: the VBScript engine refused its host");
        return false;
    }
    EXCEPINFO exception{};
    const HRESULT status =
        parse->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &exception);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    if (FAILED(script->GetScriptDispatch(nullptr, &globals_))) globals_.Reset();
    return SUCCEEDED(status) && !site_->failed;
}

DISPID ScriptHost::Find(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (!globals_ || FAILED(globals_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return DISPID_UNKNOWN;
    return id;
}

bool ScriptHost::Call(DISPID id, long argument) {
    if (!globals_) return false;
    VARIANT arg;
    ::VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = argument;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    return SUCCEEDED(globals_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                      nullptr));
}

ComPtr<IDispatch> ScriptHost::Global(const wchar_t* name) {
    const DISPID id = Find(name);
    if (id == DISPID_UNKNOWN) return nullptr;
    DISPPARAMS none{};
    VARIANT value;
    ::VariantInit(&value);
    ComPtr<IDispatch> object;
    if (SUCCEEDED(globals_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                                   nullptr)) &&
        V_VT(&value) == VT_DISPATCH)
        object = V_DISPATCH(&value);
    ::VariantClear(&value);
    return object;
}

}  // namespace demo
