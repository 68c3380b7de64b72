// The class object of the control, the only class that the module makes for others.
#pragma once

#include <unknwn.h>

namespace kiv {

// The module's one class object for KivCtl (not counted as an object of the module).
IClassFactory* ControlClassObject() noexcept;

}  // namespace kiv
