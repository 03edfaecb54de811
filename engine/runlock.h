// One removal of a log at a time, across processes, users and logon sessions. A log is known by
// its canonical spelling and, while it lies at a path, by its identity (base/ident.h) and last
// write time; a run holds a named lock on each, so no other spelling, drive letter or hard link
// of the same log starts a second removal beside it. The write time is part of the name because
// a file system gives a deleted file's identity to a new file: another product's log written
// after this run moved its own away is another log.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "base/ident.h"

constexpr int RUN_LOCK_MAX = 4;          // the path and up to three identities of one log
constexpr int RUN_LOCK_NAME_SIZE = 96;

struct RunLock {
    int count;
    HANDLE held[RUN_LOCK_MAX];
};

// Takes the lock on a canonical path, or on an identity (an unknown identity needs none). 1 when
// held (or where the system has no named locks: Win32s); 0 when another run holds it, or when it
// exists and may not be opened (another user's run). A lock a killed run left abandoned is free.
int RunLockTakePath(RunLock *lock, const char *canonicalPath);
int RunLockTakeIdent(RunLock *lock, const FileIdent &id, uint64_t writeTime);
// Gives back every lock taken.
void RunLockRelease(RunLock *lock);
// The lock's name for a canonical path (id null) or an identity and write time: global to the
// machine where the system has logon sessions (Windows 2000 and later). 1, or 0 when it does not
// fit.
int RunLockName(const char *canonicalPath, const FileIdent *id, uint64_t writeTime, char *name,
                int size);
