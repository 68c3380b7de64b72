/* The module's load-configuration directory, as the platform's own compilers give every module: the
   loader finds the stack protector's guard through it (SecurityCookie) and replaces the value that it
   was linked with by a random one at every load, before any code of the module runs. lld writes the
   directory from this symbol; GNU ld writes none, and the module's entry point seeds the guard itself
   (StackProtector.cpp).

   C, not C++: the guard's address is a constant that the linker fills in, which C++ would take for a
   run-time initialisation done only after the loader has looked. The directory stops before the table
   of safe exception handlers, which a 32-bit module of this runtime has none of. */
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include "LinkedStackGuard.h"

uintptr_t __stack_chk_guard = KIV_LINKED_STACK_GUARD;

const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = {
    .Size = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, SEHandlerTable),
    .SecurityCookie = (ULONG_PTR)&__stack_chk_guard,
};
