#include "RuntimeError.h"

#include <oleauto.h>

namespace kiv {

RuntimeError::RuntimeError(long number, std::wstring description, std::wstring source)
    : number_(number), description_(std::move(description)), source_(std::move(source)) {}

HRESULT RuntimeError::Status() const noexcept {
    if (number_ > 0 && number_ <= 0xFFFF) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number_);
    if (number_ < 0) return static_cast<HRESULT>(number_);
    return E_FAIL;
}

HRESULT RuntimeError::Report() const noexcept {
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(::CreateErrorInfo(&create))) {
        create->SetSource(const_cast<LPOLESTR>(source_.c_str()));
        create->SetDescription(const_cast<LPOLESTR>(description_.c_str()));
        create->SetGUID(GUID_NULL);
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            ::SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return Status();
}

std::wstring_view RuntimeErrorText(long number) noexcept {
    switch (number) {
    case errors::OutOfMemory: return L"Out of memory";
    case errors::Overflow: return L"Overflow";
    case errors::SubscriptOutOfRange: return L"Subscript out of range";
    case errors::DllNotFound: return L"Error in loading DLL";
    case errors::ForeignObject: return L"Object doesn't support this property or method";
    case errors::EntryPointNotFound: return L"Specified DLL function not found";
    default: return L"Application-defined or object-defined error";
    }
}

void Raise(long number, std::wstring_view description) {
    throw RuntimeError(number, std::wstring(description));
}

void RaiseOverflow() { Raise(errors::Overflow, RuntimeErrorText(errors::Overflow)); }

void RaiseOutOfMemory() { Raise(errors::OutOfMemory, RuntimeErrorText(errors::OutOfMemory)); }

void RaiseFromStatus(HRESULT status) {
    long number = HRESULT_FACILITY(status) == FACILITY_CONTROL ? HRESULT_CODE(status) : static_cast<long>(status);
    std::wstring description(RuntimeErrorText(number));
    std::wstring source = L"Kiv";
    IErrorInfo* info = nullptr;
    if (::GetErrorInfo(0, &info) == S_OK && info) {
        BSTR text = nullptr;
        if (SUCCEEDED(info->GetDescription(&text)) && text) description.assign(text, ::SysStringLen(text));
        ::SysFreeString(text);
        BSTR from = nullptr;
        if (SUCCEEDED(info->GetSource(&from)) && from) source.assign(from, ::SysStringLen(from));
        ::SysFreeString(from);
        info->Release();
    }
    throw RuntimeError(number, std::move(description), std::move(source));
}

}  // namespace kiv
