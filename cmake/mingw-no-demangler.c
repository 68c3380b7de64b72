/* A stand-in for the C++ runtime's demangler, linked with --wrap=__cxa_demangle into the module and
 * into every program that links the library's objects, so that the tests link as the module does.
 *
 * With the GNU toolchain, std::terminate's default handler prints the type of an uncaught exception
 * through __cxa_demangle, and the demangler with the formatting it needs is some 60 KB of code. No
 * exception leaves the module's entry points, so that message is never printed; should it be, it
 * shows the type's mangled name instead. The answer is the one for a name that is not mangled. */
#include <stddef.h>

char* __wrap___cxa_demangle(const char* name, char* buffer, size_t* length, int* status);

char* __wrap___cxa_demangle(const char* name, char* buffer, size_t* length, int* status) {
    (void)name;
    (void)buffer;
    (void)length;
    if (status) *status = -2;
    return NULL;
}
