// The files-in-use box of an interactive run: before anything is removed, the running programs
// that hold files of the product are named, and the user closes them (Retry), lets those files
// go at the next restart (Continue) or stops with nothing changed (Cancel).
#pragma once

#include <windows.h>

constexpr int IN_USE_GO_ON = 1;
constexpr int IN_USE_CANCEL = 0;

// Checks the log's files and, while some are held, shows the box. IN_USE_GO_ON when nothing
// holds them (or the system cannot tell) or the user chose Continue; IN_USE_CANCEL on Cancel.
int InUseAsk(HINSTANCE instance, const char *logPath);
