// The session's record: private to the engine, and readable by tests, which build with
// REMOVER_TESTING, to check what a run holds between its steps.
#pragma once

#if !defined(ENGINE_SESSION_INTERNAL) && !defined(REMOVER_TESTING)
#error "engine/session_internal.h is private to the engine"
#endif

#include "base/path.h"
#include "engine/engine.h"
#include "engine/journal.h"
#include "engine/runlock.h"

constexpr int SESSION_PATH_SIZE = PATH_SIZE;

struct Session {
    int phaseIndex;                 // phase being worked, 0 .. phaseCount - 1
    int phaseCount;                 // PhaseTable entries in use (10)
    int finished;                   // the last phase has completed
    int status;                     // last handler result other than 0 and 1 in this step
    int started;                    // set by SessionStart; steps do nothing before
    int incomplete;                 // some handler gave a warning
    int scheduled;                  // files and directories left for the next restart
    StringList *scheduledPaths;     // their full paths (engine/restart.h)
    StringList *movedPaths;         // the names those files had: renamed to go alone
    ErrorCallback errorCallback;
    LogDatabase *log;               // the opened working copy
    ProgressDialog *dialog;
    HWND dialogWindow;
    char tempLogPath[SESSION_PATH_SIZE];
    char logPath[SESSION_PATH_SIZE];
    char displayName[SESSION_NAME_SIZE];
    int displayNameDropped;         // the registry holds a name that displayName could not take
                                    // (too long, unreadable): it is never rewritten
    RunLock runLock;                // held while the session is open: one run per log at a time
    Journal journal;                // how far this run (and the ones before it) got
    JournalStrays strays;           // journals met that name no log that can be read
    char retiredJournal[SESSION_PATH_SIZE];  // an earlier installation's journal, retired
    int resumed;                    // an earlier run of the same log was interrupted
    int resumePhase;                // the phase it was in
    int resumeCount;                // records of that phase it had handled
    int skipped;                    // of those, passed over so far
    int remains;                    // something the log named stays and no restart removes it
    int scheduledBefore;            // an earlier run of the log left things for the restart
    int outcome;                    // what the current record's handler says became of it
    unsigned long outcomeDetail;    // its number (references left, system error code)
    char outcomeName[SESSION_OUTCOME_NAME_SIZE];  // what the record names, in words, when
                                                  // the handler says; kept only for a report
    PhaseEntry phases[PHASE_TABLE_SIZE];
    int plan;                       // a plan: decides every record, changes nothing
    struct WorldOverlay *overlay;   // what the plan's decisions would have changed (world.h)
};
