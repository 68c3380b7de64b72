// Self-registration: the type library and the three classes, machine-wide or for the current user.
#pragma once

#include <windows.h>

namespace kiv::registration {

enum class Scope { Machine, User };

HRESULT Register(Scope scope) noexcept;
HRESULT Unregister(Scope scope) noexcept;

}  // namespace kiv::registration
