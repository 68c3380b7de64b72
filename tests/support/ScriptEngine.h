// A VBScript engine inside the program, so that a script's calls into an object can be checked and
// timed as a script host makes them: the host hands objects to the script as named items, runs its
// text and calls the script's own procedures.
#pragma once

#include "component/ComPtr.h"

#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

namespace kivtest {

class ScriptEngine {
public:
    ScriptEngine();
    ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Makes `object` visible to the script as the global `name`; before Run.
    void Add(const wchar_t* name, IDispatch* object);

    // Parses and runs the script's text (its procedures stay defined); false when the engine refused it.
    bool Run(const wchar_t* text);

    // The identifier of the script's procedure `name`, for Call; DISPID_UNKNOWN when there is none.
    DISPID Find(const wchar_t* name);

    // Calls the script's procedure `id` with one number; false when the call failed.
    bool Call(DISPID id, long argument);

private:
    class Site;
    kiv::ComPtr<IUnknown> engine_;
    kiv::ComPtr<IDispatch> globals_;
    Site* site_;
};

}  // namespace kivtest
