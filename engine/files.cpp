// Record handlers for what the installation put on disk: plain files ("CF"), shared files
// counted under "SharedDLLs" ("CSF") and the directories it created ("CDR").
#include "engine/engine.h"

#include "base/fs.h"
#include "base/path.h"
#include "base/strlist.h"
#include "registry/registry.h"

// A path that does not fit a path buffer is never handed to the file system: the system
// would see a different (cut) name, or refuse it anyway.
static int FitsPath(const char *path)
{
    return lstrlenA(path) <= PATH_MAX_BYTES;
}

int RemoveFileRecord(PhaseState *, int mode, Session *session, const char *text, DWORD,
                     StringList *)
{
    if (mode != PHASE_STEP)
        return 0;
    if (!FitsPath(text) || !IsFileRemovable(text))
        return WARN_FILE;
    // No existence test: a file already gone is reported like one that could not go, unless an
    // interrupted run of this log may have removed it.
    if (FsDelete(text) == 0)
        return 0;
    return SessionIsResumedPhase(session) && !FsExists(text) ? 0 : WARN_FILE;
}

int RemoveSharedFileRecord(PhaseState *, int mode, Session *, const char *, DWORD,
                           StringList *list)
{
    if (mode != PHASE_STEP)
        return 0;
    const char *first = static_cast<const char *>(ListFirst(list));
    const char *shared = first ? static_cast<const char *>(ListNext(list)) : nullptr;
    if (!first || !shared)
        return 0;
    if (!FitsPath(first) || !FitsPath(shared))
        return WARN_FILE;

    if (lstrcmpiA(first, shared) != 0 && FsExists(first))
        return IsFileRemovable(first) && FsDelete(first) == 0 ? 0 : WARN_FILE;

    if (!FsExists(shared))
        return 0;
    // A system file keeps its count too: the record is refused as a whole.
    if (!IsFileRemovable(shared))
        return WARN_FILE;
    // Give back this product's reference; the file stays while another product counts on it.
    int count = SharedCountAdjust(shared, -1, 1);
    if (count > 0)
        return 0;
    // A count that could not be read or lowered still speaks for other products: the file
    // goes only when it has no count or its count has really reached 0.
    if (count != 0 && count != SHARED_COUNT_NONE)
        return WARN_FILE;
    return FsDelete(shared) == 0 ? 0 : WARN_FILE;
}

int CollectDirectoryRecord(PhaseState *state, int mode, Session *session, const char *text,
                           DWORD, StringList *)
{
    if (mode == PHASE_STEP) {
        // Made on the first record this handler sees, not on the phase's first: that one may
        // have been refused before reaching here.
        if (!state->list)
            state->list = ListCreate(0);
        // Longer names than a path buffer cannot be removed safely, and the system's and the
        // user's own folders never go: the directory stays.
        if (!FitsPath(text) || !IsDirectoryRemovable(text))
            return WARN_DIRECTORY;
        if (!ListAdd(state->list, text))
            return WARN_DIRECTORY;
        return 0;
    }
    if (mode == PHASE_END) {
        if (!state->list)
            return 0;
        int result = RemoveDirectories(session, state);
        ListDestroy(state->list);
        state->list = nullptr;
        return result;
    }
    return 0;
}

int RemoveDirectories(Session *session, PhaseState *state)
{
    int result = 0;
    char path[PHASE_TEXT_SIZE];
    // An interrupted run of this log may have removed some of them already.
    int goneIsDone = SessionIsResumedPhase(session);
    while (ListCount(state->list) > 0) {
        TakeLongestPath(state->list, path);
        if (goneIsDone && !FsExists(path))
            continue;
        if (!FsIsDirectory(path) || !FsIsDirEmpty(path) || !FsRemoveDir(path))
            result = WARN_DIRECTORY;
    }
    return result;
}

void TakeLongestPath(StringList *list, char *buffer)
{
    int longest = -1;
    ListElement *kept = nullptr;
    const char *keptPath = nullptr;
    buffer[0] = '\0';
    for (const char *p = static_cast<const char *>(ListFirst(list)); p;
         p = static_cast<const char *>(ListNext(list))) {
        int length = lstrlenA(p);
        if (length > longest) {
            longest = length;
            kept = ListGetCursor(list);
            keptPath = p;
        }
    }
    if (!kept)
        return;
    // The list only holds paths that fit the buffer (see CollectDirectoryRecord).
    lstrcpynA(buffer, keptPath, PHASE_TEXT_SIZE);
    ListSetCursor(list, kept);
    ListRemoveCurrent(list);
}
