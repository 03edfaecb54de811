// Phase framework: the ten phases of an uninstall, one per record kind of the log, the driver
// that walks a kind's records one per step, and the record handlers of every kind.
#pragma once

#include <windows.h>

struct LogDatabase;
struct Session;
struct StringList;

// Modes shared by phase handlers and record handlers.
constexpr int PHASE_CREATE = 1;     // phase handler: create the state
constexpr int PHASE_DESTROY = 2;    // phase handler: release the state
constexpr int PHASE_STEP = 3;       // one record
constexpr int PHASE_END = 4;        // record handler: the kind's records are exhausted

constexpr int PHASE_TABLE_SIZE = 100;
constexpr int PHASE_COUNT = 10;
constexpr int PHASE_TEXT_SIZE = 300;   // record text buffer, terminator included

// When a handled record is entered in the journal. Most kinds after the record: a run killed in
// between handles it once more, which finds it done. A shared file's reference must never be
// given back twice, so "CSF" enters it first and on the disk (a kill in between leaves the
// reference held: the file stays). "CDR" only collects until its end removes every directory,
// so a run killed inside it collects all of them again.
constexpr int PROGRESS_AFTER = 0;
constexpr int PROGRESS_BEFORE = 1;
constexpr int PROGRESS_NONE = 2;

// A kind whose handler does not look at its text gets a record whose text is too long with an
// empty one.
constexpr int PHASE_TEXT_UNUSED = 0;

struct PhaseState {
    int reserved;               // 0
    int first;                  // 1 until the phase's first record has been handled
    int pool;                   // the pool the state lives in
    StringList *list;           // free for the record handler ("CDR" collects directories)
    LogDatabase *log;           // the session's log
};

// A record handler undoes one record: 0 or 1 all well, -1 stops the uninstall, or WARN_*.
// text is never null (empty when the record has none); value is 0 when it has none; list is
// the record's strings for kinds that want them, else null.
typedef int RecordHandlerFunction(PhaseState *state, int mode, Session *session, const char *text,
                                  DWORD value, StringList *list);
typedef RecordHandlerFunction *RecordHandler;

// A phase handler: PHASE_CREATE stores a new state in *state (0, or -1 without memory);
// PHASE_DESTROY releases *state and clears it (0); PHASE_STEP handles one record and returns
// 1 when the kind is done, 0 when it has more, -1 on failure.
typedef int (*PhaseHandler)(PhaseState **state, int mode, Session *session, LogDatabase *log);

struct PhaseEntry {
    PhaseHandler handler;
    PhaseState *state;
};

// One record kind of the log and how its phase treats it.
struct PhaseKind {
    const char *name;           // the log's record name
    RecordHandler handler;
    int wantsList;              // the handler is given the record's strings
    int overlongResult;         // a text over PHASE_TEXT_SIZE: this result, or PHASE_TEXT_UNUSED
    int progress;               // PROGRESS_*: when a handled record is entered in the journal
    int mark;                   // the dialog mark set when the phase completes, or -1
};

// The ten kinds in uninstall order, one phase each.
extern const PhaseKind PHASE_KINDS[PHASE_COUNT];

// How far the phase of kind moves the progress bar: one step per record and one for the end of
// its records when it has any (the first read of an empty kind moves nothing). A run that goes on
// from an earlier one moves the bar past the phases that one completed.
int PhaseBarSteps(LogDatabase *log, const PhaseKind &kind);

// Fills the session's first ten entries in uninstall order and creates their states.
// Returns 1, or -1 when a state could not be allocated (no phase is then usable).
int BuildPhaseTable(Session *session);

// The driver of every phase, for the kind named kind (its row gives what an over-long text
// does and when progress is entered), whether it wants the record's list, and its handler.
int RunPhase(PhaseState **state, int mode, int wantList, Session *session, LogDatabase *log,
             RecordHandler handler, const char *kind);

// The first two strings of a record's list: 1, or 0 (both null) when it has fewer.
int RecordListPair(StringList *list, const char **first, const char **second);
// The same for two paths: 1, or 0 with *verdict the handler's result, 0 for a record that names
// fewer (nothing to remove) or warning for a path that does not fit a path buffer.
int RecordPathPair(Session *session, StringList *list, int warning, const char **first,
                   const char **second, int *verdict);

// Files, shared files and directories ("CF", "CSF", "CDR").
RecordHandlerFunction RemoveFileRecord, RemoveSharedFileRecord, CollectDirectoryRecord;
// Removes the collected directories, longest path first: 0 or WARN_DIRECTORY.
int RemoveDirectories(Session *session, PhaseState *state);
// Moves the longest path of list (the earliest among equals) into buffer (PHASE_TEXT_SIZE).
void TakeLongestPath(StringList *list, char *buffer);

// Program items and groups ("API", "RPI", "CPG").
RecordHandlerFunction RemoveProgramItemRecord, RemoveProgramGroupRecord;
// Start Menu folder of group and the shortcut of item in it (buffers of PATH_SIZE bytes).
// Returns 1, or 0 when a path does not fit.
int ShellLinkPath(const char *group, const char *item, char *folder, char *link);
// Selects group in the Program Manager unless it was the last one selected. 1 when it is the
// active group; 0 when the Program Manager did not carry out the selection.
int ShowGroupOnce(const char *group);
// Forgets the last selected group (a new phase table starts afresh).
void ForgetShownGroup(void);
// Waits ms milliseconds while letting sent messages through (nothing is removed).
void PauseWithMessages(DWORD ms);

// Registry records ("CRK", "SRK", "URK", "MRK").
RecordHandlerFunction RemoveRegistryKeyRecord, RemoveRegistryValueRecord, RemoveProductKeys,
    RemoveAppRegistration;
// 0 when keyPath (relative to root) is empty, names no key of its own, or is one of the
// protected system keys under any of its names, or a parent of one; else 1 (always 1 for a
// non-empty path on Win32s). The table lives in engine/protected.cpp.
int IsKeyRemovable(HKEY root, const char *keyPath);
// What no log may delete on disk (engine/protected_files.cpp), on every platform. 0 when path is
// one of the system's own files under any spelling (judged on its canonical spelling and its
// folder's identity, base/ident.h), or a name that cannot be resolved to one place with
// confidence (a device, a link that cannot be followed, wildcards, streams, a name that does not
// fit); else 1. *refusal (when not null) receives OUTCOME_SYSTEM_FILE or OUTCOME_UNRESOLVED, 0
// for a removable file. The "CF" and "CSF" handlers refuse such a record with WARN_FILE.
int IsFileRemovable(const char *path, int *refusal = nullptr);
// The same for folders: the Windows and system directories, a drive's root, Program Files, the
// profile and every Shell Folder of the user or of all users, under any spelling and by identity
// (OUTCOME_SYSTEM_FOLDER or OUTCOME_UNRESOLVED). "CDR" refuses them, even empty, with
// WARN_DIRECTORY.
int IsDirectoryRemovable(const char *path, int *refusal = nullptr);
// Drops the folders IsDirectoryRemovable resolved and what folders' spellings resolved to, so a
// new phase table sees today's settings and links.
void ForgetProtectedFolders(void);
// Deletes the key prefix\name for each ";"-separated name of names, up to the first empty
// one. Returns 1, or 0 when a name was refused for being more than one key name (the others
// still go).
int DeleteAppPathKeys(Session *session, HKEY root, const char *prefix, const char *names);
