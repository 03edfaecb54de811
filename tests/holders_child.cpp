// Stands in for a running program that holds a library: loads the DLL named first, signals the
// event named second, and waits to be ended.
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc < 3 || !LoadLibraryA(argv[1]))
        return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!ready || !SetEvent(ready))
        return 3;
    Sleep(INFINITE);
    return 0;
}
