// Module-wide facts: how many objects and class-object locks are alive, where the module is, and
// its embedded type library.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace kiv::module {

// The loader's detach notification, which comes before the module's static objects are destroyed.
// At FreeLibrary they give back what they hold; when the process is ending no other DLL may be
// called any more, and what is held for the process's life is left to the process's end.
void Detached(bool processEnding) noexcept;
bool ProcessEnding() noexcept;

void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
long LiveObjects() noexcept;

// Locks on the class objects: LockServer, and every reference that others hold on one.
void LockServer(bool lock) noexcept;
long Locks() noexcept;

// The module that holds this code (the OCX, or a test program that carries the same code).
HMODULE Handle() noexcept;
std::wstring Path();

// The type library embedded as resource TYPELIB 1; nullptr when it cannot be loaded.
ITypeLib* TypeLibrary() noexcept;

// The dispatch view (as a client asks for it) and the vtable view of a dual interface.
ITypeInfo* DispatchTypeInfo(REFIID iid) noexcept;
ITypeInfo* VtableTypeInfo(REFIID iid) noexcept;

}  // namespace kiv::module
