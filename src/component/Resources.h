// Identifiers of the module's resources, shared by kiv.rc and the code that reads them.
#pragma once

// The control's button in a container's toolbox (16 x 15, 24 bits per pixel); the registration
// names it as "<module path>, 30000".
#define KIV_TOOLBOX_BITMAP 30000

// The control's look on a form at design time: 32 x 31 pixels, 8 bits per pixel, 156 colours.
// The control's fixed extent is exactly this picture's size.
#define KIV_APPEARANCE_BITMAP 30001

// Interface records: resource type "INTERFACEID", one 20-byte record per interface (a 32-bit length,
// always 16, then the 16-byte interface identifier as it lies in memory).
#define KIV_INTERFACE_RECORD_TYPE "INTERFACEID"
#define KIV_RECORD_KIVBITMAP 1   // _KivBitmap
#define KIV_RECORD_KIVFACTORY 2  // _KivFactory
#define KIV_RECORD_KIVCTL 3      // _KivCtl
#define KIV_RECORD_KIVCTL_EVENTS 4  // __KivCtl
