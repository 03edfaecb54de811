#include "base/platform.h"

static Platform platformFlags;

const Platform *PlatformGet()
{
    return &platformFlags;
}

void PlatformSet(const Platform *p)
{
    if (p)
        platformFlags = *p;
    else
        platformFlags = Platform{};
}

int PlatformUses3dLook()
{
    return platformFlags.ctl3dLoaded || platformFlags.isWindows4;
}
