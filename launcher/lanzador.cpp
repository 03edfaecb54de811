#include "launcher/lanzador.h"

#include <windows.h>
#include <shellapi.h>

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

// ERROR_ELEVATION_REQUIRED, which older headers do not define: the setup program asks for
// administrator rights, or the system takes it for an installer, and this process is not elevated.
constexpr DWORD LANZADOR_ELEVATION_REQUIRED = 740;

// Starts the setup program of folder through the shell, which asks for the elevation that
// CreateProcess cannot give. 0 when started; -1, with the shell's reason as the last error.
static int ShellStartSetup(const char *folder)
{
    // The full name keeps the start to the product folder's program, as ".\" does below.
    char file[MAX_PATH + sizeof LANZADOR_SETUP_PROGRAM];
    size_t have = strlen(folder);
    if (have + sizeof LANZADOR_SETUP_PROGRAM > sizeof file)
        return -1;
    memcpy(file, folder, have);
    memcpy(file + have, LANZADOR_SETUP_PROGRAM, sizeof LANZADOR_SETUP_PROGRAM);

    SHELLEXECUTEINFOA run;
    memset(&run, 0, sizeof run);
    run.cbSize = sizeof run;
    // The launcher ends right after this call: the start must be complete by then, and a
    // failure is reported with the launcher's own words.
    run.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = "open";
    run.lpFile = file;
    run.lpDirectory = folder;
    run.nShow = LANZADOR_SHOW_STYLE;
    return ShellExecuteExA(&run) ? 0 : -1;
}

// Starts the setup program in folder, the current directory. 0 when started, else -1.
static int StartSetup(decltype(&CreateProcessA) create, const char *folder)
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
    if (!create(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                &task))
        return GetLastError() == LANZADOR_ELEVATION_REQUIRED ? ShellStartSetup(folder) : -1;
    // The task is not waited for; only its handles are given back.
    CloseHandle(task.hThread);
    CloseHandle(task.hProcess);
    return 0;
}

int LanzadorLoadWith(decltype(&CreateProcessA) create)
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
    if (StartSetup(create, target) != 0) {
        // The user declined the elevation: nothing is wrong with the medium.
        if (GetLastError() != ERROR_CANCELLED)
            Report(inst, LANZADOR_IDS_NO_SETUP, target);
        return LANZADOR_ERR_START;
    }
    return LANZADOR_STARTED;
}

int LanzadorLoad(void)
{
    return LanzadorLoadWith(CreateProcessA);
}
