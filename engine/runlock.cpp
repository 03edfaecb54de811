// One removal of a log at a time (see runlock.h).
#include "engine/runlock.h"

#include <stdio.h>

static const char RUN_LOCK_PREFIX[] = "DeKv21Remover.";
static const char GLOBAL_PREFIX[] = "Global\\";

// Terminal services came with Windows 2000: before, "Global\" is no part of a valid name, and
// every process already shares one namespace.
static int HasSessions(void)
{
    DWORD version = GetVersion();
    return !(version & 0x80000000) && LOBYTE(LOWORD(version)) >= 5;
}

int RunLockName(const char *canonicalPath, const FileIdent *id, uint64_t writeTime, char *name,
                int size)
{
    const char *scope = HasSessions() ? GLOBAL_PREFIX : "";
    int n;
    if (id)
        n = snprintf(name, size, "%s%si%08lx.%08lx%08lx.%016llx", scope, RUN_LOCK_PREFIX,
                     static_cast<unsigned long>(id->volume), static_cast<unsigned long>(id->indexHigh),
                     static_cast<unsigned long>(id->indexLow),
                     static_cast<unsigned long long>(writeTime));
    else
        n = snprintf(name, size, "%s%sp%016llx", scope, RUN_LOCK_PREFIX,
                     static_cast<unsigned long long>(IdentHash(canonicalPath)));
    return n > 0 && n < size;
}

static int Take(RunLock *lock, const char *name)
{
    if (lock->count == RUN_LOCK_MAX)
        return 0;
    HANDLE h = CreateMutexA(nullptr, FALSE, name);
    if (!h) {
        DWORD error = GetLastError();
        // Win32s has no named objects: the run goes on without. Anything else, a lock that is
        // there but not ours to open above all, says another run may be at work.
        return error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_NOT_SUPPORTED;
    }
    // A run that was killed leaves the lock abandoned: it is free again.
    DWORD wait = WaitForSingleObject(h, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(h);
        return 0;
    }
    lock->held[lock->count++] = h;
    return 1;
}

int RunLockTakePath(RunLock *lock, const char *canonicalPath)
{
    char name[RUN_LOCK_NAME_SIZE];
    return RunLockName(canonicalPath, nullptr, 0, name, sizeof name) && Take(lock, name);
}

int RunLockTakeIdent(RunLock *lock, const FileIdent &id, uint64_t writeTime)
{
    char name[RUN_LOCK_NAME_SIZE];
    if (!IdentKnown(id))
        return 1;
    return RunLockName(nullptr, &id, writeTime, name, sizeof name) && Take(lock, name);
}

void RunLockRelease(RunLock *lock)
{
    while (lock->count > 0) {
        HANDLE h = lock->held[--lock->count];
        ReleaseMutex(h);
        CloseHandle(h);
    }
}
