// The running programs that hold a file, named for the report ("in use by app.exe (process
// 1234)") and for a files-in-use box. A snapshot lists every other process with the modules it
// has loaded (its program and its DLLs), taken once and asked about many files; a file is found
// by what it is, not by how its path or the module's path is spelled. Plain open files are not
// modules: where the system has a restart manager (Vista and later), it is asked about them.
// The process running this code never counts: it holds none of a product's files.
#pragma once

#include <windows.h>

constexpr int HOLDER_EXE_SIZE = 64;

struct Holder {
    DWORD pid;
    char exe[HOLDER_EXE_SIZE];  // the program's file name ("app.exe"); "" when unknown or longer
};

// The programs holding a set of files, each named once, and how many files they hold.
constexpr int HOLDER_LIST_MAX = 16;
struct HolderList {
    int files;
    int programs;                      // all of them, also those beyond program[]
    Holder program[HOLDER_LIST_MAX];
};

// Adds one held file and its n holders (found[]) to list, a program already listed once.
void HoldersAddTo(HolderList *list, const Holder *found, int n);

struct HolderSnapshot;

// Where a snapshot comes from: Toolhelp32 (Windows 95, 2000 and later), else the process
// status library (psapi.dll, NT 4). HOLDERS_FROM_ANY tries them in that order; the others are
// for tests.
constexpr int HOLDERS_FROM_ANY = 0;
constexpr int HOLDERS_FROM_TOOLHELP = 1;
constexpr int HOLDERS_FROM_PSAPI = 2;

// More holders of one file than this, and the restart manager's list is not read.
constexpr int HOLDERS_RM_MAX = 64;

// One snapshot of every process and its loaded modules; its memory is a pool of its own, given
// back by HoldersFree. Null when the system has no way to list them (Win32s, NT 3.x, an NT 4
// without the status library in its system folder) or memory runs out. A process whose modules
// may not be read counts with its program file alone where the system names it (Vista and
// later: a 64-bit process seen from a 32-bit one, another user's); a module path that may have
// been cut by the system is left out.
HolderSnapshot *HoldersTake(void);
HolderSnapshot *HoldersTakeFrom(int source);
// How many processes of the snapshot have the file at path loaded, as their program or a DLL;
// the first max of them go to out (out may be null when max is 0). 0 for a null snapshot or
// path, or a path over PATH_MAX_BYTES.
int HoldersFind(const HolderSnapshot *s, const char *path, Holder *out, int max);
// The restart manager's answer for path: how many processes hold it open (as a file, a module
// or otherwise), the first max of them into out. 0 where there is none (before Vista; a stub),
// when it answers nothing, or when more than HOLDERS_RM_MAX hold the file.
int HoldersAskRestartManager(const char *path, Holder *out, int max);
// The holders of path in words for the report, "app.exe (process 12), b.exe (process 40)", into
// text (size bytes): the snapshot's, else the restart manager's. Those that do not fit are left
// out and counted ("and 3 more"). How many hold the file (text empty for none).
int HoldersDescribe(const HolderSnapshot *s, const char *path, char *text, int size);
// Gives back the snapshot's memory; null is accepted.
void HoldersFree(HolderSnapshot *s);
