// Which running programs hold the files a log would remove (see inuse.h).
#include "engine/inuse.h"

#include "base/fs.h"
#include "base/ident.h"
#include "base/path.h"
#include "engine/phases.h"
#include "base/strlist.h"
#include "logdb/logdb.h"
#include "registry/registry.h"

static void AddHolders(const HolderSnapshot *snapshot, const char *path, InUseList *list)
{
    // A file the removal refuses (the system's own) stays whoever holds it.
    if (!path || !PathFits(path) || !IsFileRemovable(path))
        return;
    Holder found[INUSE_PROGRAM_MAX];
    int n = HoldersFind(snapshot, path, found, INUSE_PROGRAM_MAX);
    if (n <= 0)
        return;
    list->files++;
    for (int i = 0; i < n && i < INUSE_PROGRAM_MAX; ++i) {
        int known = 0;
        int shown = list->programs < INUSE_PROGRAM_MAX ? list->programs : INUSE_PROGRAM_MAX;
        for (int j = 0; j < shown && !known; ++j)
            known = list->program[j].pid == found[i].pid;
        if (known)
            continue;
        if (list->programs < INUSE_PROGRAM_MAX)
            list->program[list->programs] = found[i];
        list->programs++;
    }
}

// A shared file goes only with its last reference; a count that cannot be read keeps it.
static int SharedFileWouldGo(const char *path)
{
    int count = SharedCountRead(path);
    return count == SHARED_COUNT_NONE || (count >= 0 && count <= 1);
}

static void CheckRecords(LogDatabase *log, const char *kind, const HolderSnapshot *snapshot,
                         InUseList *list)
{
    char text[PATH_SIZE + 1];
    if (LogSelectName(log, kind) != 0)
        return;
    for (int mode = LOG_FIRST;; mode = LOG_NEXT) {
        StringList *pair = ListCreate(0);
        if (!pair)
            return;
        int rc = LogReadRecord(log, nullptr, 0, nullptr, text, sizeof text, nullptr, pair, mode);
        if (rc == 0) {
            const char *first = static_cast<const char *>(ListFirst(pair));
            const char *shared = first ? static_cast<const char *>(ListNext(pair)) : nullptr;
            if (!first)
                AddHolders(snapshot, text, list);
            else if (shared && !IdentSamePlace(first, shared) && FsExists(first))
                AddHolders(snapshot, first, list);   // the removal deletes it as a plain file
            else if (shared && SharedFileWouldGo(shared))
                AddHolders(snapshot, shared, list);
        }
        ListDestroy(pair);
        // A record too long for a path is refused by the removal as well: skip past it.
        if (rc != 0 && rc != LOGERR_TOO_LONG)
            return;
        if (rc == LOGERR_TOO_LONG && LogReadRecord(log, nullptr, 0, nullptr, nullptr, 0, nullptr,
                                                   nullptr, LOG_NEXT) != 0)
            return;
    }
}

int InUseFind(const char *logPath, InUseList *list)
{
    list->files = list->programs = 0;
    if (!logPath || !*logPath)
        return 0;
    HolderSnapshot *snapshot = HoldersTake();
    if (!snapshot)
        return 0;
    LogDatabase *log = LogOpen(logPath, LOG_DEFAULT | LOG_READ);
    if (log) {
        CheckRecords(log, "CF", snapshot, list);
        CheckRecords(log, "CSF", snapshot, list);
        LogClose(log);
    }
    HoldersFree(snapshot);
    return log != nullptr;
}
