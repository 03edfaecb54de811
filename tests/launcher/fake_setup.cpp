// Stands in for the product's setup program: writes where it was started from and how, so that
// the launcher tests can tell which program ran, in which directory and with which command line.
#include <windows.h>

#include <stdio.h>

int main()
{
    char record[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("LANZADOR_TEST_RECORD", record, sizeof record);
    if (n == 0 || n >= sizeof record)
        return 2;
    char module[MAX_PATH];
    char current[MAX_PATH];
    if (!GetModuleFileNameA(nullptr, module, sizeof module) ||
        !GetCurrentDirectoryA(sizeof current, current))
        return 3;
    FILE *f = fopen(record, "w");
    if (!f)
        return 4;
    fprintf(f, "%s\n%s\n%s\n", module, current, GetCommandLineA());
    fclose(f);
    return 0;
}
