// Deletions left for the next start of Windows: what the log names but another program holds
// open now goes when the system restarts, as the completion text promises. The NT family
// keeps them with MoveFileExA (they run in the order given); Windows 95 reads "NUL=" lines of
// the [rename] section of WININIT.INI; Win32s has neither, and nothing is scheduled there.
#pragma once

#include <windows.h>

struct Session;

// Longest WININIT.INI that is rewritten; a bigger one is left alone and nothing is scheduled.
constexpr DWORD RESTART_WININIT_MAX_BYTES = 65536;

// 1 when a failed deletion of path (error: its GetLastError) means the file is in use: a sharing
// or lock violation, or a running program's file or loaded DLL. Those refuse deletion with
// ERROR_ACCESS_DENIED as a file without delete access does; the file is asked which it is (one
// that is not read-only and opens for deletion is refused only for being in use). A restart
// frees what is in use; a real permission problem stays one. GetLastError is left as error.
int RestartIsInUse(const char *path, DWORD error);
// Whether the file at path opens for deletion now, which a file in use does and one without
// the right does not: 1, or 0 with the error a deletion would meet (a folder or a read-only
// file: access denied).
int RestartOpensForDelete(const char *path, DWORD *error);

// WININIT.EXE carries the [rename] lines out under DOS, before Windows starts. DOS holds a path
// in 80 bytes with its NUL: a drive, a folder of at most 64 bytes (from the backslash after the
// drive to the last one) and an 8.3 name. A line past that would be skipped there while the run
// said the file goes.
constexpr int RESTART_DOS_FOLDER_MAX = 64;

// The WININIT.INI name of a short path (system code page): its bytes in the OEM code page,
// which is what DOS reads, into oem (size bytes). 1, or 0 with oem empty when no such line would
// be carried out: a character the OEM code page does not give back unchanged, no drive, a name
// that is not 8.3, or over the limits above.
int RestartDosName(const char *shortPath, char *oem, int size);

// Schedules the existing file for deletion at the next start, as the platform allows. On the
// NT family the file is renamed to a free "_dedel.N" in its folder first and that name is
// scheduled, so that nothing put at its name before the restart goes with it; one that cannot
// be renamed is scheduled by its name. 1 scheduled, 0 not (Win32s, no right to write the
// pending operations, a name WININIT.INI cannot take: see RestartDosName).
int RestartDeleteFile(const char *path);

// Whether RestartDeleteFile could schedule the file, asked without doing it (a plan): the
// platform has a way and the run may use it, and the name suits it. 1 or 0.
int RestartCanSchedule(const char *path);

// Deletes the file now; when it is in use, schedules it instead (as RestartDeleteFile) and notes
// in the session the name scheduled, and the name it had. 0 deleted, 1 scheduled (now, or by an
// earlier record naming the same file), -1 neither (GetLastError: why; on Windows 95 and Win32s,
// the error that said it is in use). Without a session nothing is scheduled.
int RestartDeleteOrSchedule(Session *session, const char *path);

// The directory holds nothing but what this session scheduled (files, or directories below it
// scheduled already): schedule it after them, on the NT family only. 1 scheduled, else 0.
int RestartScheduleDirectory(Session *session, const char *path);

// A run that goes on from an interrupted one learns what is already left for the restart (the
// system's own list), so that a folder holding only such files is scheduled after them too.
void RestartRecallEarlier(Session *session);

// Forgets the session's scheduled paths (the count stays).
void RestartForget(Session *session);
