// Runs a VBScript inside this program, the way an application hosts a macro language, so that the
// program can take over what the script made. A script cannot write a picture to a file; its host can.
// The benchmark and the tests use it too, to call objects as a script does.
#pragma once

#include <oaidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace demo {

class ScriptHost {
public:
    // `echo` receives each line that the script writes with WScript.Echo.
    explicit ScriptHost(std::function<void(const std::wstring&)> echo);
    ~ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // Makes `object` visible to the script as the global `name`, beside `WScript`; before Run.
    void Add(const wchar_t* name, IDispatch* object);

    // Runs the script's text to its end; false when it failed (the error went to `echo`). The
    // script's variables and procedures stay defined for Global and Call.
    bool Run(const std::wstring& text);

    // The object in the script's global variable `name`, or none.
    Microsoft::WRL::ComPtr<IDispatch> Global(const wchar_t* name);

    // The identifier of the script's global `name` (a variable or a procedure); DISPID_UNKNOWN when
    // there is none.
    DISPID Find(const wchar_t* name);

    // Calls the script's procedure `id` with one number; false when the call failed.
    bool Call(DISPID id, long argument);

private:
    class Site;
    Microsoft::WRL::ComPtr<IUnknown> engine_;
    Microsoft::WRL::ComPtr<IDispatch> globals_;
    Site* site_ = nullptr;
};

}  // namespace demo
