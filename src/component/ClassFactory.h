// The class object of the control, the only class that the module makes for others.
#pragma once

#include <unknwn.h>

namespace kiv {

// The module's one class object for KivCtl. It is not counted as an object of the module; the
// references that others hold on it keep the module loaded as locks do.
IClassFactory* ControlClassObject() noexcept;

}  // namespace kiv
