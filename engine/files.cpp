// Record handlers for what the installation put on disk: plain files ("CF"), shared files
// counted under "SharedDLLs" ("CSF") and the directories it created ("CDR").
#include "engine/engine.h"

#include "base/fs.h"
#include "base/ident.h"
#include "base/path.h"
#include "base/strlist.h"
#include "engine/report.h"
#include "engine/world.h"
#include "registry/registry.h"

// Deletes path now, or at the next restart when it is in use: 0 either way, with *outcome
// saying which; else WARN_FILE, with *outcome telling a file already gone from one that stays
// (*error: the system's reason).
static int DeleteOrSchedule(Session *session, const char *path, int *outcome, DWORD *error)
{
    *error = 0;
    int done = WorldDeleteOrSchedule(session, path);
    if (done >= 0) {
        *outcome = done == 1 ? OUTCOME_SCHEDULED : OUTCOME_REMOVED;
        return 0;
    }
    *error = GetLastError();
    int gone = *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND;
    *outcome = gone ? OUTCOME_GONE : OUTCOME_FAILED;
    return WARN_FILE;
}

int RemoveFileRecord(PhaseState *, int mode, Session *session, const char *text, DWORD,
                     StringList *)
{
    if (mode != PHASE_STEP)
        return 0;
    if (!PathFits(text))
        return SessionVerdict(session, WARN_FILE, OUTCOME_TOO_LONG);
    int refusal;
    if (!IsFileRemovable(text, &refusal))
        return SessionVerdict(session, WARN_FILE, refusal);
    // No existence test: a file already gone is reported like one that could not go, unless an
    // interrupted run of this log may have removed it. One in use goes at the next restart.
    int outcome;
    DWORD error;
    int result = DeleteOrSchedule(session, text, &outcome, &error);
    if (result != 0 && SessionIsResumedPhase(session) && !WorldFileExists(session, text))
        return SessionVerdict(session, 0, OUTCOME_GONE);
    return SessionVerdict(session, result, outcome, error);
}

int RemoveSharedFileRecord(PhaseState *, int mode, Session *session, const char *, DWORD,
                           StringList *list)
{
    if (mode != PHASE_STEP)
        return 0;
    const char *first, *shared;
    int verdict;
    if (!RecordPathPair(session, list, WARN_FILE, &first, &shared, &verdict))
        return verdict;

    int outcome, refusal;
    DWORD error;
    if (!IdentSamePlace(first, shared) && WorldFileExists(session, first)) {
        if (!IsFileRemovable(first, &refusal))
            return SessionVerdict(session, WARN_FILE, refusal, 0, first);
        int result = DeleteOrSchedule(session, first, &outcome, &error);
        return SessionVerdict(session, result, outcome, error, first);
    }

    // An earlier run may have given this reference back already: it is not given again.
    if (SessionKeepsSharedFiles(session))
        return SessionVerdict(session, WARN_FILE, OUTCOME_PROGRESS_DAMAGED, 0, shared);
    if (!WorldFileExists(session, shared))
        return SessionVerdict(session, 0, OUTCOME_GONE, 0, shared);
    // A system file keeps its count too: the record is refused as a whole.
    if (!IsFileRemovable(shared, &refusal))
        return SessionVerdict(session, WARN_FILE, refusal, 0, shared);
    // Give back this product's reference; the file stays while another product counts on it.
    int count = WorldSharedGiveBack(session, shared);
    if (count > 0)
        return SessionVerdict(session, 0, OUTCOME_SHARED, static_cast<unsigned long>(count), shared);
    // A count that could not be read or lowered still speaks for other products: the file
    // goes only when it has no count or its count has really reached 0.
    if (count != 0 && count != SHARED_COUNT_NONE)
        return SessionVerdict(session, WARN_FILE, OUTCOME_FAILED, 0, shared);
    int result = DeleteOrSchedule(session, shared, &outcome, &error);
    return SessionVerdict(session, result, outcome, error, shared);
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
        if (!PathFits(text))
            return SessionVerdict(session, WARN_DIRECTORY, OUTCOME_TOO_LONG);
        int refusal;
        if (!IsDirectoryRemovable(text, &refusal))
            return SessionVerdict(session, WARN_DIRECTORY, refusal);
        if (!ListAdd(state->list, text))
            return SessionVerdict(session, WARN_DIRECTORY, OUTCOME_FAILED, ERROR_NOT_ENOUGH_MEMORY);
        return SessionVerdict(session, 0, OUTCOME_COLLECTED);
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

// A folder written with a trailing backslash is still the folder (FindFirstFile finds no such
// name).
static int FolderExists(Session *session, const char *path)
{
    return WorldIsDirectory(session, path) || WorldFileExists(session, path);
}

int RemoveDirectories(Session *session, PhaseState *state)
{
    int result = 0;
    char path[PHASE_TEXT_SIZE];
    // An interrupted run of this log may have removed some of them already.
    int goneIsDone = SessionIsResumedPhase(session);
    while (ListCount(state->list) > 0) {
        TakeLongestPath(state->list, path);
        if (goneIsDone && !FolderExists(session, path)) {
            SessionNoteOutcome(session, "CDR", path, OUTCOME_GONE, 0);
            continue;
        }
        int isDir = WorldIsDirectory(session, path);
        int empty = isDir && WorldDirIsEmpty(session, path);
        if (empty && WorldRemoveDir(session, path)) {
            SessionNoteOutcome(session, "CDR", path, OUTCOME_REMOVED, 0);
            continue;
        }
        DWORD error = GetLastError();
        // Deepest first: what it holds was scheduled before it, so it goes after them.
        if (WorldScheduleDirectory(session, path)) {
            SessionNoteOutcome(session, "CDR", path, OUTCOME_SCHEDULED, 0);
            continue;
        }
        result = WARN_DIRECTORY;
        int outcome = !FolderExists(session, path) ? OUTCOME_GONE
                      : isDir && !empty ? OUTCOME_FOLDER_HOLDS
                                        : OUTCOME_FAILED;
        SessionNoteOutcome(session, "CDR", path, outcome, outcome == OUTCOME_FAILED ? error : 0);
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
