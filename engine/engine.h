// Uninstall engine: the engine pool and the one uninstall session of a run.
// A session moves the installation log aside into a working copy in the Windows directory,
// replays it in ten phases (one log record per step) and, when it is closed, either removes
// the log for good (finished run) or puts it back and registers the uninstall command again.
#pragma once

#include <windows.h>

#include "engine/engine_res.h"
#include "engine/phases.h"

struct LogDatabase;
struct ProgressDialog;
struct Session;
struct StringList;

// Record handler warnings: the run goes on, its completion text says it is incomplete.
constexpr int WARN_FILE = -21;
constexpr int WARN_DIRECTORY = -22;
constexpr int WARN_REGISTRY = -23;
constexpr int WARN_ITEM = -24;
constexpr int WARN_GROUP = -25;

// Codes reported to the user through the ErrorCallback (and by the shell itself).
constexpr int ERR_COPY_LOG = -2;      // text: the working copy's path
constexpr int ERR_BAD_LOG = -3;       // text: the log's path
constexpr int ERR_NO_MEMORY = -4;     // text: none
constexpr int ERR_NO_LOG = -5;        // text: the log's path
constexpr int ERR_INTERNAL = -6;      // text: none
constexpr int ERR_BUSY = -7;          // another run works on the same log; text: the log's path
constexpr int ERR_NO_WINDOW = -200;   // raised by the shell only

constexpr int SESSION_OUTCOME_NAME_SIZE = 640;  // a key path and a value name, for people
constexpr int SESSION_NAME_SIZE = 102;          // display name: 101 bytes and the terminator
constexpr DWORD SESSION_PHASE_PAUSE_MS = 310;   // pause between two phases

// How a session reports a failure: code is one of ERR_*, text the name it concerns or null,
// reserved is always 0. The result is ignored.
typedef int (*ErrorCallback)(int code, const char *text, int reserved, Session *session);

// pool: a pool number to allocate from, or 0 / -1 to let the engine create its own.
// Also sets up the shared-file counts. Returns 0, or -1 when the engine's own pool cannot be
// created (nothing is set up then).
int EngineInit(int pool);
// Destroys the engine's pool when the engine created it. Returns 0.
int EngineShutdown(void);

// Opens a session on the log at logPath. Every failure is reported through callback (or a
// fallback message box when there is none) and gives null. The session is not started.
// When an earlier run of the same log was interrupted, the session goes on where it stopped:
// from the log put back at logPath, or from the working copy a killed run left behind.
// While another run works on the same log, it reports ERR_BUSY and touches nothing.
Session *SessionCreate(const char *logPath, ErrorCallback callback);
// Opens a plan of the removal of the log at logPath: stepped like a removal, it decides every
// record as the removal would (engine/world.h) and reports it, but changes nothing on the
// machine: no working copy, journal, deletion, count, key or scheduled file. Closing it puts
// nothing back. Failures as SessionCreate.
Session *SessionCreatePlan(const char *logPath, ErrorCallback callback);
// Starts the session; show != 0 shows its dialog. 0; -1 without a session.
int SessionStart(Session *session, int show);
// 1 while started and not finished, else 0.
int SessionIsRunning(const Session *session);
// Handles one log record: 0 more to do, 1 the run has just completed, -1 failed (reported
// through the callback, log put back) or nothing to step.
int SessionStep(Session *session);
// Ends the session in any state: a finished run deletes the log for good, any other puts it
// back and registers the uninstall command again, keeping its journal when it got anywhere so
// that the next run goes on from there; the dialog goes. 0; -1 without a session.
int SessionClose(Session *session);

// The dialog window of the open session, or null: the shell hands it to IsDialogMessageA.
HWND EngineGetDialogWindow(void);
HWND SessionGetDialogWindow(const Session *session);

// For the phase driver.
int SessionGetPool(const Session *session);
ProgressDialog *SessionGetDialog(const Session *session);
int SessionSetStatus(Session *session, int value);
// 1 when the next record of the current phase was handled by an earlier run and is to be passed
// over (it is counted as passed over), else 0.
int SessionSkipRecord(Session *session);
// One more record of the current phase handled; durable hands the progress to the disk at once.
void SessionRecordHandled(Session *session, int durable);
// What became of the current record (engine/report.h), with its number and, when name is not
// null, what the record names in words. Cheap: the name is kept only while a report is written.
void SessionSetOutcome(Session *session, int outcome, unsigned long detail, const char *name);
// A handler's result, handing on what became of its record.
inline int SessionVerdict(Session *session, int result, int outcome, unsigned long detail = 0,
                          const char *name = nullptr)
{
    SessionSetOutcome(session, outcome, detail, name);
    return result;
}
// Takes note of a record's outcome: whether it leaves something in place, and its report line.
void SessionNoteOutcome(Session *session, const char *kind, const char *name, int outcome,
                        unsigned long detail);
// The exit status of the run (engine/exitcode.h), as the session stands: taken before closing.
int SessionExitStatus(const Session *session);
// 1 in the phase an earlier run was interrupted in: what it removed is gone, and that is no
// reason to call the removal incomplete.
int SessionIsResumedPhase(const Session *session);
// 1 when the shared files are not to be handled: an earlier run's progress could not be trusted,
// so their references may have been given back already. They stay, counts unchanged.
int SessionKeepsSharedFiles(const Session *session);
