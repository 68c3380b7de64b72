// Runs a VBScript inside this program, the way an application hosts a macro language, so that the
// program can take over what the script made. A script cannot write a picture to a file; its host can.
#pragma once

#include <oaidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>

namespace demo {

class ScriptHost {
public:
    // `echo` receives each line that the script writes with WScript.Echo.
    explicit ScriptHost(std::function<void(const std::wstring&)> echo);
    ~ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // Runs the script's text to its end; false when it failed (the error went to `echo`).
    bool Run(const std::wstring& text);

    // The object in the script's global variable `name`, or none.
    Microsoft::WRL::ComPtr<IDispatch> Global(const wchar_t* name);

private:
    class Site;
    Microsoft::WRL::ComPtr<IUnknown> engine_;
    Site* site_ = nullptr;
};

}  // namespace demo
