// remover's shell: start-up, the hidden main window and its timer, the polling message loop
// that steps the uninstall session, and the error reporter the session reports through.
#pragma once

#include <windows.h>

struct Session;

constexpr UINT_PTR SHELL_TIMER_ID = 1000;
constexpr UINT SHELL_TIMER_MS = 1500;
constexpr int SHELL_FIRST_WORK_TICK = 3;   // -a starts / -d deletes on ticks 3, 4 and 5
constexpr int SHELL_LAST_WORK_TICK = 5;
constexpr int SHELL_LAST_TICK = 7;         // a tick beyond this one ends the program
constexpr int SHELL_MESSAGE_SIZE = 501;    // a message text of 500 characters
constexpr int SHELL_CAPTION_SIZE = 101;    // a caption of 100 characters
constexpr const char *SHELL_CLASS_NAME = "DeKv21ClsName";
constexpr const char *SHELL_WINDOW_NAME = "DeKv21WinName";
constexpr const char *SHELL_MENU_NAME = "DEKV21";

// The session's ErrorCallback: in an interactive run a beep and a box with the message for
// code (the text argument put in for "%s", the code for a number placeholder); silent
// otherwise. Returns 1.
int ReportError(int code, const char *text, int reserved, Session *session);

// The whole run of remover with the command line text (without the program name).
// Returns the program's exit status (engine/exitcode.h).
int ShellRun(HINSTANCE instance, const char *commandLine);
