// The identifiers that describe the module's classes to Windows, shared by self-registration and by
// the side-by-side manifest that the build writes beside the module: what one says, the other says.
#pragma once

#include "Resources.h"
#include "kiv.h"

#include <windows.h>
#include <oleidl.h>

namespace kiv::registration {

// The control's ProgIDs: the one with its version, and the one a client usually asks for.
inline constexpr wchar_t kProgId[] = L"Kiv.KivCtl";
inline constexpr wchar_t kProgIdVersion[] = L"Kiv.KivCtl.1";

// Every class lives in the caller's single-threaded apartment.
inline constexpr wchar_t kThreadingModel[] = L"Apartment";

// The type library, version 21.0 (the registry's key writes the version in hexadecimal, 15.0; its
// texts elsewhere in decimal).
inline constexpr WORD kTypeLibMajor = 21;
inline constexpr WORD kTypeLibMinor = 0;

// OLEMISC: recompose on resize, can't link inside, inside-out, activate when visible, invisible at
// run time, no UI activation, set client site first. Registration writes it for the content aspect.
inline constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                     OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INVISIBLEATRUNTIME |
                                     OLEMISC_NOUIACTIVATE | OLEMISC_SETCLIENTSITEFIRST;
static_assert(kMiscStatus == 0x24591);

inline constexpr int kToolboxBitmap = KIV_TOOLBOX_BITMAP;

struct ClassInfo {
    const CLSID* clsid;
    const wchar_t* name;
};

// The control first: it is the one class that a client makes.
inline constexpr ClassInfo kClasses[] = {
    {&CLSID_KivCtl, L"KivCtl"}, {&CLSID_KivFactory, L"KivFactory"}, {&CLSID_KivBitmap, L"KivBitmap"}};

}  // namespace kiv::registration
