// The OLE automation types that the type library refers to, from the Windows headers.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <ocidl.h>
