// instalar: started from the root of the medium, it hands over to the product's setup program.
#include "launcher/lanzador.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The command line is not read: the launcher does the same whatever it is given.
    LanzadorLoad();
    return 0;
}
