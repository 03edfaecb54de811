// remover: start-up, the hidden main window with its timer, the polling message loop and the
// error reporter.
#include "shell/shell.h"

#include "base/fs.h"
#include "base/path.h"
#include "base/platform.h"
#include "base/pool.h"
#include "engine/engine.h"
#include "engine/exitcode.h"
#include "engine/phases.h"
#include "engine/report.h"
#include "engine/restart.h"
#include "engine/world.h"
#include "shell/cmdline.h"
#include "shell/inusebox.h"
#include "shell/planbox.h"
#include "shell/remover_res.h"
#include "shell/splash.h"

typedef BOOL(WINAPI *Ctl3dFunction)(HINSTANCE);

struct ShellState {
    HINSTANCE instance;
    CommandLine options;
    HMODULE ctl3d;                      // "CTL3D32.DLL" while in use, else null
    Ctl3dFunction ctl3dRegister;
    Ctl3dFunction ctl3dAutoSubclass;
    Ctl3dFunction ctl3dUnregister;
    int tickCount;
    int deleteScheduled;                // -d left its file for the next restart
    int deleted;                        // -d's file is gone
    DWORD deleteError;                  // why -d's last try failed
    int deleteRefusal;                  // OUTCOME_* when -d's file is the system's: never tried
    int lastError;                      // the last ERR_* reported, 0 when none
    Session *session;
    HWND dialogWindow;                  // the session's progress dialog
};

static ShellState shell;

static constexpr int SHELL_FORMAT_SIZE = 1024;  // wsprintfA never writes more
static constexpr UINT SHELL_WIN32S_ERROR_MODE = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
// Idle passes with nothing to step wait this long for a message instead of spinning.
static constexpr DWORD SHELL_IDLE_WAIT_MS = 10;

static int LoadText(UINT id, char *buffer, int size)
{
    buffer[0] = '\0';
    return LoadStringA(shell.instance, id, buffer, size);
}

// ---- Platform and the 3-D control library ----

static int DetectWin32s(void)
{
    char system[PATH_SIZE];
    UINT n = GetSystemDirectoryA(system, PATH_SIZE);
    if (n == 0 || n >= static_cast<UINT>(PATH_SIZE))
        return 0;
    char ini[PATH_SIZE];
    char dll[PATH_SIZE];
    if (!PathJoin(ini, system, "WIN32S.INI") || !PathJoin(dll, system, "W32SYS.DLL"))
        return 0;
    if (!FsExists(ini) || !FsExists(dll))
        return 0;
    SetErrorMode(SHELL_WIN32S_ERROR_MODE);
    HMODULE module = LoadLibraryA(dll);
    SetErrorMode(0);
    if (reinterpret_cast<UINT_PTR>(module) < 32)
        return 0;
    FreeLibrary(module);
    return 1;
}

static void DetectPlatform(void)
{
    Platform platform{};
    DWORD version = GetVersion();
    BYTE major = LOBYTE(LOWORD(version));
    platform.isNtFamily = (version & 0x80000000u) == 0;
    // Every shell since Windows 95 and NT 4.0 keeps its programs in the Start Menu.
    if (major >= 4) {
        platform.isWindows4 = 1;
    } else if (major == 3) {
        if (DetectWin32s())
            platform.isWin32s = 1;
        else
            platform.isNt3 = 1;
    }
    PlatformSet(&platform);
}

static Ctl3dFunction Ctl3dEntry(HMODULE library, const char *name)
{
    return reinterpret_cast<Ctl3dFunction>(reinterpret_cast<void *>(GetProcAddress(library, name)));
}

static int HookCtl3d(void)
{
    shell.ctl3d = nullptr;
    shell.ctl3dRegister = shell.ctl3dAutoSubclass = shell.ctl3dUnregister = nullptr;
    if (PlatformGet()->isWindows4)
        return 0;
    HMODULE library = LoadLibraryA("CTL3D32.DLL");
    if (reinterpret_cast<UINT_PTR>(library) < 32)
        return 0;
    Ctl3dFunction reg = Ctl3dEntry(library, "Ctl3dRegister");
    Ctl3dFunction autoSubclass = Ctl3dEntry(library, "Ctl3dAutoSubclass");
    Ctl3dFunction unreg = Ctl3dEntry(library, "Ctl3dUnregister");
    if (!reg || !autoSubclass || !unreg) {
        FreeLibrary(library);
        return 0;
    }
    reg(shell.instance);
    autoSubclass(shell.instance);
    shell.ctl3d = library;
    shell.ctl3dRegister = reg;
    shell.ctl3dAutoSubclass = autoSubclass;
    shell.ctl3dUnregister = unreg;
    Platform platform = *PlatformGet();
    platform.ctl3dLoaded = 1;
    PlatformSet(&platform);
    return 1;
}

static void UnhookCtl3d(void)
{
    if (!shell.ctl3d || PlatformGet()->isWindows4)
        return;
    shell.ctl3dUnregister(shell.instance);
    FreeLibrary(shell.ctl3d);
    shell.ctl3d = nullptr;
    Platform platform = *PlatformGet();
    platform.ctl3dLoaded = 0;
    PlatformSet(&platform);
}

// ---- Confirmation and splash ----

static int ConfirmUninstall(void)
{
    if (shell.options.automaticMode || shell.options.deleteMode)
        return 1;
    char text[SHELL_MESSAGE_SIZE];
    char caption[SHELL_CAPTION_SIZE];
    LoadText(IDS_CONFIRM, text, sizeof text);
    LoadText(IDS_TITLE, caption, sizeof caption);
    return MessageBoxA(nullptr, text, caption, MB_ICONQUESTION | MB_YESNO) == IDYES;
}

// Shows the splash for at least SPLASH_MIN_MS without handling messages; 0 when it failed.
// The time counts from the moment the window is up and painted, so that building the picture
// never shortens what the user sees.
static int PresentSplash(void)
{
    if (!ShowSplash(shell.instance))
        return 0;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= SPLASH_MIN_MS)
            break;
        Sleep(SPLASH_MIN_MS - elapsed);
    }
    HideSplash();
    return 1;
}

// ---- Main window and timer ----

static void OnTimer(HWND window)
{
    int tick = ++shell.tickCount;
    if (tick >= SHELL_FIRST_WORK_TICK && tick <= SHELL_LAST_WORK_TICK) {
        if (shell.options.deleteMode) {
            // A failed deletion is tried again on the next tick; a file still in use at the last
            // try goes at the next restart instead.
            int done = shell.deleted = FsDelete(shell.options.logPath) == 0;
            shell.deleteError = done ? 0 : GetLastError();
            if (!done && tick == SHELL_LAST_WORK_TICK && RestartIsInUse(shell.options.logPath, shell.deleteError) &&
                RestartDeleteFile(shell.options.logPath))
                done = shell.deleteScheduled = 1;
            if (done) {
                PostQuitMessage(0);
                KillTimer(window, SHELL_TIMER_ID);
            }
        } else if (shell.options.automaticMode) {
            SessionStart(shell.session, 0);
            KillTimer(window, SHELL_TIMER_ID);
        }
    } else if (tick > SHELL_LAST_TICK) {
        PostQuitMessage(0);
    }
}

static LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        OnTimer(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

static int CreateMainWindow(void)
{
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = shell.instance;
    wc.hIcon = LoadIconA(shell.instance, MAKEINTRESOURCEA(IDI_REMOVER));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNSHADOW + 1));
    wc.lpszMenuName = SHELL_MENU_NAME;
    wc.lpszClassName = SHELL_CLASS_NAME;
    if (!RegisterClassA(&wc))
        return 0;
    HWND window = CreateWindowExA(0, SHELL_CLASS_NAME, SHELL_WINDOW_NAME, WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, shell.instance, nullptr);
    if (!window)
        return 0;
    SetTimer(window, SHELL_TIMER_ID, SHELL_TIMER_MS, nullptr);
    return 1;
}

// ---- Session ----

static int OpenSession(void)
{
    if (EngineInit(0) != 0) {
        ReportError(ERR_NO_MEMORY, nullptr, 0, nullptr);
        return 0;
    }
    shell.session = SessionCreate(shell.options.logPath, ReportError);
    if (!shell.session) {
        EngineShutdown();
        return 0;
    }
    shell.dialogWindow = SessionGetDialogWindow(shell.session);
    if (!shell.options.automaticMode)
        SessionStart(shell.session, shell.options.interactive);
    return 1;
}

static void CloseSession(void)
{
    SessionClose(shell.session);
    shell.session = nullptr;
    shell.dialogWindow = nullptr;
    EngineShutdown();
}

static int PrepareRun(void)
{
    CommandLine *o = &shell.options;
    if (o->deleteMode || o->automaticMode) {
        // -a alone has nothing to start and nothing to delete: end at once rather than poll
        // for ever.
        if (!o->deleteMode && !o->runSession)
            return 0;
        if (!CreateMainWindow()) {
            ReportError(ERR_NO_WINDOW, nullptr, 0, nullptr);
            return 0;
        }
        if (o->automaticMode)
            return o->runSession ? OpenSession() : 1;
    }
    // An interactive run always opens a session, with whatever path was given.
    o->runSession = 1;
    return OpenSession();
}

static int RunMessageLoop(void)
{
    MSG msg;
    for (;;) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(0);  // keeps the quit state for any later loop
                return 0;
            }
            if (shell.dialogWindow && IsDialogMessageA(shell.dialogWindow, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        if (shell.options.runSession) {
            if (!shell.session)
                return 0;
            if (SessionIsRunning(shell.session)) {
                int rc = SessionStep(shell.session);
                if (rc == -1 || (rc == 1 && !shell.options.interactive))
                    PostQuitMessage(0);
                continue;
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, SHELL_IDLE_WAIT_MS, QS_ALLINPUT);
    }
}

// ---- Error reporter ----

struct ErrorText {
    int code;
    UINT id;
    int takesText;    // the message has a "%s" for the text argument
    int takesNumber;  // the message ends in a number placeholder: the code goes there
};

static const ErrorText errorTexts[] = {
    {ERR_COPY_LOG, ENGINE_TEXT_COPY_LOG, 1, 0},
    {ERR_BAD_LOG, ENGINE_TEXT_BAD_LOG, 1, 0},
    {ERR_NO_MEMORY, ENGINE_TEXT_NO_MEMORY, 0, 0},
    {ERR_NO_LOG, ENGINE_TEXT_NO_LOG, 1, 0},
    {ERR_INTERNAL, ENGINE_TEXT_INTERNAL, 0, 1},
    {ERR_NO_WINDOW, ENGINE_TEXT_NO_WINDOW, 0, 1},
    {ERR_BUSY, ENGINE_TEXT_BUSY, 0, 0},
};

// The message for code; a code of no one's is shown as an internal error with its number.
static const ErrorText *FindErrorText(int code)
{
    const ErrorText *internal = nullptr;
    for (const ErrorText &e : errorTexts) {
        if (e.code == code)
            return &e;
        if (e.code == ERR_INTERNAL)
            internal = &e;
    }
    return internal;
}

int ReportError(int code, const char *text, int reserved, Session *session)
{
    (void)reserved;
    (void)session;
    shell.lastError = code;
    if (!shell.options.interactive)
        return 1;
    const ErrorText *entry = FindErrorText(code);
    char caption[SHELL_CAPTION_SIZE];
    char format[SHELL_MESSAGE_SIZE];
    char message[SHELL_FORMAT_SIZE];
    LoadText(IDS_ERROR_CAPTION, caption, sizeof caption);
    LoadText(entry->id, format, sizeof format);
    if (entry->takesText && text)
        wsprintfA(message, format, text);
    else if (entry->takesNumber)
        wsprintfA(message, format, static_cast<long>(code));
    else
        lstrcpynA(message, format, sizeof message);
    MessageBeep(0);
    MessageBoxA(nullptr, message, caption, MB_OK);
    return 1;
}

// ---- Start-up ----

// A drive path or a share or device path: nothing about it depends on a current folder.
static int IsFullPath(const char *path)
{
    int slash0 = path[0] == '\\' || path[0] == '/';
    if (slash0 && (path[1] == '\\' || path[1] == '/'))
        return 1;   // a share or a device path
    char letter = static_cast<char>(path[0] | 0x20);
    return letter >= 'a' && letter <= 'z' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// A relative path of the command line means the caller's folder, not ours: made full while
// the caller's current folder is still current. 1, or 0 when the full path does not fit.
static int MakeCallerPath(char *path)
{
    if (!path[0] || IsFullPath(path))
        return 1;
    char full[PATH_SIZE];
    DWORD n = GetFullPathNameA(path, PATH_SIZE, full, nullptr);
    if (n == 0 || n >= static_cast<DWORD>(PATH_SIZE))
        return 0;
    lstrcpyA(path, full);
    return 1;
}

static void EnterProgramDirectory(void)
{
    char self[PATH_SIZE];
    DWORD n = GetModuleFileNameA(nullptr, self, PATH_SIZE);
    // A cut file name would make another directory current.
    if (n == 0 || n >= static_cast<DWORD>(PATH_SIZE))
        return;
    char dir[PATH_SIZE];
    PathDir(self, dir);
    FsSetCurrentDir(dir);
}

// -d's result, with its line in the report.
static int DeleteStatus(void)
{
    const char *file = shell.options.logPath;
    if (shell.deleteRefusal) {
        ReportRecord("CF", file, shell.deleteRefusal, 0);
        return EXIT_FAILED;
    }
    if (shell.deleted) {
        ReportRecord("CF", file, OUTCOME_REMOVED, 0);
        return EXIT_DONE;
    }
    if (shell.deleteScheduled) {
        ReportRecord("CF", file, OUTCOME_SCHEDULED, 0);
        return EXIT_RESTART;
    }
    ReportRecord("CF", file, OUTCOME_FAILED, shell.deleteError);
    return EXIT_FAILED;
}

// A command line that cannot be run as written: said before anything happens, when someone is
// there to read it.
static void ShowBadCommandLine(void)
{
    if (!shell.options.interactive)
        return;
    char text[SHELL_MESSAGE_SIZE];
    char caption[SHELL_CAPTION_SIZE];
    LoadText(IDS_BAD_COMMAND_LINE, text, sizeof text);
    LoadText(IDS_TITLE, caption, sizeof caption);
    MessageBoxA(nullptr, text, caption, MB_ICONSTOP | MB_OK);
}

// -n: the removal decided record by record as it would run now, with nothing changed. No box
// asks first and no timer waits: there is nothing to undo and nobody to give time to.
static int RunPlan(void)
{
    int status = WorldPlan(shell.options.logPath, ReportError, nullptr);
    if (status >= 0)
        return status;
    return shell.lastError ? ExitStatusForError(shell.lastError) : EXIT_NO_LOG;
}

// Runs what the options ask for and returns the exit status (engine/exitcode.h).
static int RunOptions(void)
{
    const CommandLine *o = &shell.options;
    if (o->planMode)
        return RunPlan();
    if (o->deleteMode && !IsFileRemovable(o->logPath, &shell.deleteRefusal))
        return DeleteStatus();
    if (!ConfirmUninstall())
        return EXIT_CANCELLED;
    // The picture is for the eye only: a removal never fails for want of it.
    if (o->interactive)
        PresentSplash();
    // Asked before the session takes the log: Cancel leaves everything as it was.
    if (o->interactive && o->logPath[0] && InUseAsk(shell.instance, o->logPath) == IN_USE_CANCEL)
        return EXIT_CANCELLED;
    if (!PrepareRun() || !(o->automaticMode || o->deleteMode || o->runSession)) {
        // -a alone names no log; otherwise the session or the shell has said what went wrong.
        return shell.lastError ? ExitStatusForError(shell.lastError) : EXIT_NO_LOG;
    }
    RunMessageLoop();
    int status = EXIT_DONE;
    if (o->runSession)
        status = SessionExitStatus(shell.session);
    // -d with -f never starts its session: the deletion is what the run was for.
    if (o->deleteMode)
        status = DeleteStatus();
    if (o->runSession)
        CloseSession();
    return status;
}

int ShellRun(HINSTANCE instance, const char *commandLine)
{
    shell.instance = instance;
    shell.ctl3d = nullptr;
    shell.dialogWindow = nullptr;
    CommandLine *o = &shell.options;
    ParseCommandLine(commandLine, o);
    if (!MakeCallerPath(o->logPath) || !MakeCallerPath(o->reportPath))
        o->malformed = 1;
    EnterProgramDirectory();
    DetectPlatform();
    HookCtl3d();
    // Nobody is there to close a box in an unattended run: a memory failure goes to the report
    // and the exit status alone.
    if (!o->interactive)
        PoolSetOption(POOLOPT_REPORT, 0);

    int status;
    if (o->planMode)
        ReportPlan(o->interactive, o->logPath);
    // A report that was asked for and cannot be written stops the run before anything is
    // shown or changed: a removal must not go unrecorded when a record was wanted.
    if (o->reportRefused || (o->reportPath[0] && !ReportOpen(o->reportPath, o->logPath))) {
        status = EXIT_NO_REPORT;
    } else if (o->malformed) {
        status = EXIT_BAD_COMMAND_LINE;
        ShowBadCommandLine();
        ReportClose(status, o->deleteMode);
    } else {
        status = RunOptions();
        ReportClose(status, o->deleteMode);
        if (o->planMode && o->interactive)
            PlanShow(shell.instance);
    }
    UnhookCtl3d();
    return status;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)show;
    return ShellRun(instance, commandLine);
}
