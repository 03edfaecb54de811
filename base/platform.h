// Platform flags of the running system, detected once at start-up by the shell and read by the
// engine, the progress dialog and the DDE client. Tests install any platform they need with
// PlatformSet; until something is set, every flag reads 0.
#pragma once

struct Platform {
    int isWindows4;     // a Start Menu shell: major version 4 and above (95, NT 4.0, 2000 ...)
    int isWin32s;       // major version 3 with the Win32s files present
    int isNt3;          // major version 3 without Win32s
    int ctl3dLoaded;    // "CTL3D32.DLL" loaded and registered by the shell
    int isNtFamily;     // the NT kernel (GetVersion's top bit clear), not Windows 95 or Win32s
};

// The current flags; never null.
const Platform *PlatformGet();
// Copies *p into the current flags; null clears them all.
void PlatformSet(const Platform *p);
// 1 when dialogs should draw the 3-D look: the 3-D library is loaded or the platform is Windows 4.
int PlatformUses3dLook();
