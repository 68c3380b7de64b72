// The host runtime's error object: errors carry a number, a source and a description, travel as C++
// exceptions inside the library and leave it as an HRESULT with IErrorInfo set.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kiv {

// The runtime's own error numbers, and the one error of the library itself.
namespace errors {
inline constexpr long OutOfMemory = 7;
inline constexpr long Overflow = 6;
inline constexpr long SubscriptOutOfRange = 9;
inline constexpr long DllNotFound = 48;
inline constexpr long ForeignObject = 438;
inline constexpr long EntryPointNotFound = 453;
inline constexpr long NoBufferPalette = -1;
}  // namespace errors

class RuntimeError {
public:
    RuntimeError(long number, std::wstring description, std::wstring source = L"Kiv");

    long Number() const noexcept { return number_; }
    const std::wstring& Description() const noexcept { return description_; }
    const std::wstring& Source() const noexcept { return source_; }

    // The status that a client sees: runtime numbers 1..65535 in the automation-error facility, any
    // other number as it stands (so -1 reaches a script as Err.Number -1).
    HRESULT Status() const noexcept;

    // Hands the error to the calling thread's error object and returns its status.
    HRESULT Report() const noexcept;

private:
    long number_;
    std::wstring description_;
    std::wstring source_;
};

[[noreturn]] void Raise(long number, std::wstring_view description);
[[noreturn]] void RaiseOverflow();
[[noreturn]] void RaiseOutOfMemory();

// The runtime's text for one of its own error numbers.
std::wstring_view RuntimeErrorText(long number) noexcept;

// Turns a failure status that one of the library's own members returned into an error at the
// caller's step, keeping the number and description that the member reported.
[[noreturn]] void RaiseFromStatus(HRESULT status);

}  // namespace kiv
