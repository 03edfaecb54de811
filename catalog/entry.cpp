// catalog.dll carries resources only. It is linked without the C runtime, so this routine is the
// whole of its code: the library agrees to every attach and detach and does nothing else.
#include "catalog/catalog.h"

#include <windows.h>

extern "C" BOOL WINAPI CatalogEntry(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
