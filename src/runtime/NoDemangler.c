/* The library's own __cxa_demangle, which declines every name.
 *
 * With GCC's C++ runtime, std::terminate's default handler names the type of an uncaught exception
 * through __cxa_demangle, and the runtime's demangler with the formatting it needs is some 50 KB of
 * code. No exception leaves the module's entry points, so that message is never printed; should it
 * be, it shows the type's mangled name instead. The answer is the one for a name that is not mangled. */
#include <stddef.h>

char* __cxa_demangle(const char* name, char* buffer, size_t* length, int* status);

char* __cxa_demangle(const char* name, char* buffer, size_t* length, int* status) {
    (void)name;
    (void)buffer;
    (void)length;
    if (status) *status = -2;
    return NULL;
}
