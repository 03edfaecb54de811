#include "launcher/lanzador.h"

#include <windows.h>

#include <string.h>

int LanzadorFormTarget(const char *current, char *target, size_t size)
{
    size_t have = strlen(current);
    size_t add = sizeof LANZADOR_PRODUCT_FOLDER - 1;
    if (size == 0)
        return -1;
    target[0] = '\0';
    // A target that does not fit is refused rather than cut: a cut path would name another folder.
    if (have + add + 1 > size || have + add + 1 > MAX_PATH)
        return -1;
    memcpy(target, current, have);
    memcpy(target + have, LANZADOR_PRODUCT_FOLDER, add + 1);
    return 0;
}

static void Report(HINSTANCE inst, int textId, const char *detail)
{
    char caption[128];
    char format[512];
    char text[1024];
    if (LoadStringA(inst, LANZADOR_IDS_CAPTION, caption, sizeof caption) <= 0 ||
        LoadStringA(inst, textId, format, sizeof format) <= 0)
        return;
    // wsprintfA stops at 1024 bytes; the detail is a path of at most MAX_PATH bytes.
    wsprintfA(text, format, detail);
    MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

static int StartSetup(void)
{
    // The name is made explicitly relative so that only the product folder's setup program can
    // start, never one beside the launcher or on the search path.
    char application[] = ".\\setup.exe";
    char commandLine[sizeof LANZADOR_SETUP_PROGRAM];
    memcpy(commandLine, LANZADOR_SETUP_PROGRAM, sizeof commandLine);

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = LANZADOR_SHOW_STYLE;
    PROCESS_INFORMATION task;
    if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &task))
        return -1;
    // The task is not waited for; only its handles are given back.
    CloseHandle(task.hThread);
    CloseHandle(task.hProcess);
    return 0;
}

int LanzadorLoad(void)
{
    HINSTANCE inst = GetModuleHandleA(nullptr);
    char current[MAX_PATH];
    char target[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(sizeof current, current);
    if (n == 0 || n >= sizeof current) {
        Report(inst, LANZADOR_IDS_BAD_PATH, "");
        return LANZADOR_ERR_PATH;
    }
    if (LanzadorFormTarget(current, target, sizeof target) != 0) {
        Report(inst, LANZADOR_IDS_BAD_PATH, current);
        return LANZADOR_ERR_PATH;
    }
    if (!SetCurrentDirectoryA(target)) {
        Report(inst, LANZADOR_IDS_NO_FOLDER, target);
        return LANZADOR_ERR_CHDIR;
    }
    if (StartSetup() != 0) {
        Report(inst, LANZADOR_IDS_NO_SETUP, target);
        return LANZADOR_ERR_START;
    }
    return LANZADOR_STARTED;
}
