// The uninstall session: the working copy of the log, the step-by-step run through the phase
// table, the completion text, and putting the log back when a run does not finish.
#include "engine/engine.h"
#include "engine/session_internal.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "base/fs.h"
#include "base/ident.h"
#include "base/path.h"
#include "base/pool.h"
#include "base/str.h"
#include "dde/progman.h"
#include "engine/exitcode.h"
#include "engine/regkeys.h"
#include "engine/report.h"
#include "engine/restart.h"
#include "engine/world.h"
#include "logdb/logdb.h"
#include "registry/registry.h"
#include "ui/progress.h"

static const char TEMP_LOG_BASE[] = "_detmp";
static const char VALUE_DISPLAY_NAME[] = "DisplayName";
static const char VALUE_UNINSTALL_STRING[] = "UninstallString";
static const char REMOVER_PROGRAM[] = "remover.exe";
static const char FALLBACK_TEXT[] = "Error handler not displayed";
static const char FALLBACK_CAPTION[] = "Uninstall";

constexpr int ENGINE_POOL_BLOCK = 16384;
constexpr int ENGINE_POOL_FLAGS = POOL_DEFAULT | POOL_GROW | POOL_ZERO;
constexpr int ENGINE_LOG_OPEN_FLAGS = LOG_DEFAULT | LOG_READ;
constexpr int ENGINE_ITEM_SIZE = LOG_BODY_MAX + 1;
constexpr int ENGINE_KEY_SIZE = sizeof(ENGINE_UNINSTALL_KEY) + 1 + ENGINE_ITEM_SIZE;  // key\item
constexpr int ENGINE_COMMAND_SIZE = 2 * SESSION_PATH_SIZE + 32;
constexpr int ENGINE_COMPLETION_SIZE = 200;

static int enginePool = -1;
static int engineOwnsPool = 0;
static HWND engineDialogWindow = nullptr;

int EngineInit(int pool)
{
    engineOwnsPool = 0;
    if (pool == 0 || pool == -1) {
        enginePool = PoolCreate(ENGINE_POOL_BLOCK, ENGINE_POOL_FLAGS);
        if (enginePool == -1)
            return -1;
        engineOwnsPool = 1;
    } else {
        enginePool = pool;
    }
    SharedCountInit(enginePool);
    return 0;
}

int EngineShutdown(void)
{
    SharedCountShutdown();
    if (engineOwnsPool)
        PoolDestroy(enginePool);
    engineOwnsPool = 0;
    enginePool = -1;
    return 0;
}

HWND EngineGetDialogWindow(void)
{
    return engineDialogWindow;
}

static void Report(ErrorCallback callback, int code, const char *text, Session *session)
{
    if (callback)
        callback(code, text, 0, session);
    else
        MessageBoxA(nullptr, FALLBACK_TEXT, FALLBACK_CAPTION, MB_OK);
}

// The Windows directory with its trailing backslash; 0 when it does not fit.
static int WindowsDirWithSlash(char *dir)
{
    UINT length = GetWindowsDirectoryA(dir, SESSION_PATH_SIZE);
    if (length == 0 || length >= static_cast<UINT>(SESSION_PATH_SIZE))
        return 0;
    return PathWithSlash(dir);
}

// Claims the first "_detmp.N" of the Windows directory that is free, by creating it empty: two
// runs started together never take the same name. 0 when the Windows directory is unknown, the
// name no longer fits a path, or none can be created.
static int MakeTempLogName(char *name)
{
    char dir[SESSION_PATH_SIZE];
    name[0] = '\0';
    if (!WindowsDirWithSlash(dir))
        return 0;
    int h = FsCreateNumbered(dir, TEMP_LOG_BASE, name);
    if (h == FS_NO_FILE)
        return 0;
    FsClose(h);
    return 1;
}

// The product's key in the list of uninstallable programs; 0 when it does not fit.
static int UninstallKey(const char *name, char *key)
{
    if (lstrlenA(ENGINE_UNINSTALL_KEY) + 1 + lstrlenA(name) >= ENGINE_KEY_SIZE)
        return 0;
    lstrcpyA(key, ENGINE_UNINSTALL_KEY);
    lstrcatA(key, "\\");
    lstrcatA(key, name);
    return 1;
}

static void ReadDisplayName(Session *session, const char *uninstallName)
{
    char key[ENGINE_KEY_SIZE];
    char value[REGISTRY_TEXT_SIZE];
    session->displayName[0] = '\0';
    if (uninstallName[0] == '\0' || !UninstallKey(uninstallName, key))
        return;
    if (!RegistryQueryValue(HKEY_LOCAL_MACHINE, key, VALUE_DISPLAY_NAME, nullptr, nullptr, value,
                            REGISTRY_TEXT_SIZE)) {
        // A name that is there but cannot be read (too long for the registry layer) is still
        // the product's name: a failed run must not write an empty one over it.
        if (RegistryHasValue(HKEY_LOCAL_MACHINE, key, VALUE_DISPLAY_NAME))
            session->displayNameDropped = 1;
        return;
    }
    // A cut name written back on a failed run would spoil the entry: a name that does not fit
    // is ignored here and left alone in the registry.
    if (lstrlenA(value) >= SESSION_NAME_SIZE) {
        session->displayNameDropped = 1;
        return;
    }
    lstrcpyA(session->displayName, value);
}

static void RestoreLogFile(Session *session)
{
    char dir[SESSION_PATH_SIZE];
    PathDir(session->logPath, dir);
    FsCreateTree(dir);
    if (FsCopyFile(session->tempLogPath, session->logPath) == 0)
        FsDelete(session->tempLogPath);
}

// The command that repeats the removal: Windows directory, "remover.exe", " -f" and the log.
static int BuildUninstallCommand(const Session *session, char *command)
{
    char dir[SESSION_PATH_SIZE];
    if (!WindowsDirWithSlash(dir))
        return 0;
    // The command line reads a path up to the first blank unless it is quoted.
    const char *quote = "";
    for (const char *p = session->logPath; *p; p = StrNextChar(p))
        if (*p == ' ')
            quote = "\"";
    int length = snprintf(command, ENGINE_COMMAND_SIZE, "%s%s -f%s%s%s", dir, REMOVER_PROGRAM,
                          quote, session->logPath, quote);
    return length > 0 && length < ENGINE_COMMAND_SIZE;
}

// Puts the log back at its path and registers the uninstall command again, so the removal can
// be repeated. Without an uninstall key name nothing is put back. 1 when the log is back.
static int RestoreLog(Session *session, const char *uninstallName)
{
    if (uninstallName[0] == '\0')
        return 0;
    RestoreLogFile(session);
    int back = FsExists(session->logPath);
    char key[ENGINE_KEY_SIZE];
    char command[ENGINE_COMMAND_SIZE];
    if (!UninstallKey(uninstallName, key))
        return back;
    if (BuildUninstallCommand(session, command))
        RegistrySetValue(HKEY_LOCAL_MACHINE, key, VALUE_UNINSTALL_STRING, REG_SZ,
                         REGISTRY_SIZE_TEXT, command);
    if (!session->displayNameDropped)
        RegistrySetValue(HKEY_LOCAL_MACHINE, key, VALUE_DISPLAY_NAME, REG_SZ, REGISTRY_SIZE_TEXT,
                         session->displayName);
    return back;
}

static void ReleaseRunLock(Session *session)
{
    RunLockRelease(&session->runLock);
}

// A run that did nothing leaves nothing behind; one that got anywhere, or whose log could not
// be put back, keeps its journal so that the next run goes on from there. The log put back is a
// new file: the journal learns its mark, so that this file, under any spelling, is known as its
// log and a later installation's log is not.
static void SettleJournal(Session *session, int logBack)
{
    JournalRecord &r = session->journal.record;
    if (!logBack)
        ReportLogNotBack(session->tempLogPath);
    if (logBack && !session->resumed && r.phase == 0 && r.handled == 0 && r.flags == 0) {
        JournalDelete(&session->journal);
        return;
    }
    if (logBack && JournalReadMark(session->logPath, &r.back)) {
        r.flags |= JOURNAL_PUT_BACK;
        JournalWriteProgress(&session->journal, 1);
    }
    JournalClose(&session->journal);
}

// 1 when the journal's working copy is there and holds the log the journal describes: a
// "_detmp.N" of another run that took the same name later is never touched.
static int IsOwnWorkingCopy(const JournalRecord *r)
{
    uint32_t size = 0, checksum = 0;
    return JournalReadIdentity(r->workPath, &size, &checksum) && size == r->logSize &&
           checksum == r->logChecksum;
}

static void TakeOverProgress(Session *session)
{
    JournalRecord &r = session->journal.record;
    if (session->journal.progressDamaged) {
        // How far an earlier run got is unknown: everything is done again but the shared files,
        // whose references it may have given back already. They stay, with their counts.
        r.phase = 0;
        r.handled = 0;
        r.flags = (r.flags & JOURNAL_PUT_BACK) | JOURNAL_KEEP_SHARED;
        memset(&r.back, 0, sizeof r.back);
        return;
    }
    session->resumed = 1;
    session->resumePhase = r.phase < PHASE_COUNT ? r.phase : PHASE_COUNT;
    session->resumeCount = r.handled;
    session->incomplete = (r.flags & JOURNAL_INCOMPLETE) ? 1 : 0;
    session->remains = (r.flags & JOURNAL_REMAINS) ? 1 : 0;
    session->scheduledBefore = (r.flags & JOURNAL_SCHEDULED) ? 1 : 0;
    if (session->scheduledBefore)
        RestartRecallEarlier(session);
}

// A journal of an earlier installation of the same product: its working copy and the journal go,
// and the report says so.
static void RetireJournal(Session *session)
{
    Journal *journal = &session->journal;
    if (IsOwnWorkingCopy(&journal->record))
        FsDelete(journal->record.workPath);
    lstrcpyA(session->retiredJournal, journal->path);
    JournalDelete(journal);
    memset(&journal->record, 0, sizeof journal->record);
    journal->progressDamaged = 0;
}

// The log is gone from its path: a run killed after it had moved the log aside left its
// working copy and journal behind. Go on from there.
static int OpenFromWorkingCopy(Session *session, int found)
{
    Journal *journal = &session->journal;
    JournalRecord *r = &journal->record;
    if (!found || !IsOwnWorkingCopy(r)) {
        // Neither the log nor its working copy: nothing is left to finish.
        if (found && !FsExists(r->workPath))
            JournalDelete(journal);
        Report(session->errorCallback, ERR_NO_LOG, session->logPath, session);
        return 0;
    }
    LogDatabase *log = LogOpen(r->workPath, ENGINE_LOG_OPEN_FLAGS);
    if (!log) {
        Report(session->errorCallback, ERR_BAD_LOG, session->logPath, session);
        return 0;
    }
    if (!JournalReopen(journal)) {
        LogClose(log);
        Report(session->errorCallback, ERR_COPY_LOG, journal->path, session);
        return 0;
    }
    TakeOverProgress(session);
    JournalWriteProgress(journal, 1);
    lstrcpyA(session->tempLogPath, r->workPath);
    session->log = log;
    return 1;
}

// The log is at its path: work on a fresh copy of it. The journal found goes on when the file at
// the path is its log (taken or put back by its runs); any other file there is a new installation
// of the product, removed whole, and the old journal is retired.
static int OpenFromLog(Session *session, const char *canonicalPath, const JournalMark &mark,
                       int found)
{
    Journal *journal = &session->journal;
    JournalRecord *r = &journal->record;
    char tempPath[SESSION_PATH_SIZE];
    if (!MakeTempLogName(tempPath) || FsCopyFile(session->logPath, tempPath) != 0) {
        if (tempPath[0])
            FsDelete(tempPath);   // the name claimed for the copy
        Report(session->errorCallback, ERR_COPY_LOG, tempPath, session);
        return 0;
    }
    LogDatabase *log = LogOpen(tempPath, ENGINE_LOG_OPEN_FLAGS);
    if (!log) {
        FsDelete(tempPath);
        // Killed while it put the log back, a run leaves a cut log beside a sound working copy.
        if (found && IsOwnWorkingCopy(r))
            return OpenFromWorkingCopy(session, found);
        Report(session->errorCallback, ERR_BAD_LOG, session->logPath, session);
        return 0;
    }
    if (found && !JournalIsItsLog(*r, mark)) {
        RetireJournal(session);
        found = 0;
    }
    int made;
    if (found) {
        // A copy left by a run killed before it moved the log aside is no longer needed.
        if (!IdentSameName(r->workPath, tempPath) && IsOwnWorkingCopy(r))
            FsDelete(r->workPath);
        TakeOverProgress(session);
        r->flags &= ~JOURNAL_PUT_BACK;
        lstrcpyA(r->workPath, tempPath);
        made = JournalMove(journal);
    } else {
        memset(r, 0, sizeof *r);
        JournalReadIdentity(tempPath, &r->logSize, &r->logChecksum);
        r->taken = mark;
        if (session->strays.count > 0)
            r->flags = JOURNAL_KEEP_SHARED;   // a journal nobody can read may be this log's
        lstrcpyA(r->logPath, canonicalPath);
        lstrcpyA(r->workPath, tempPath);
        made = JournalCreate(journal);
    }
    if (!made) {
        LogClose(log);
        FsDelete(tempPath);
        Report(session->errorCallback, ERR_COPY_LOG, tempPath, session);
        return 0;
    }
    lstrcpyA(session->tempLogPath, tempPath);
    session->log = log;
    // From here until the session is closed the log exists only as the working copy.
    FsDelete(session->logPath);
    return 1;
}

static void DestroyPhases(Session *session)
{
    for (PhaseEntry &entry : session->phases)
        if (entry.handler)
            entry.handler(&entry.state, PHASE_DESTROY, session, nullptr);
}

// The log is open and its file already deleted: close it, put it back and give up the session.
static void AbandonSession(Session *session, const char *uninstallName)
{
    LogClose(session->log);
    session->log = nullptr;
    if (!session->plan)
        SettleJournal(session, RestoreLog(session, uninstallName));
    DestroyPhases(session);
    ReleaseRunLock(session);
    PoolFree(enginePool, session);
}

static void MarkPhaseDone(Session *session, int phase);

// What became of other journals met on the way: one of an earlier installation retired, and
// those that name no log that can be read (left alone).
static void ReportJournals(const Session *session)
{
    if (session->retiredJournal[0])
        ReportRecord("JRN", session->retiredJournal, OUTCOME_JOURNAL_RETIRED, 0);
    const JournalStrays &strays = session->strays;
    for (int i = 0; i < strays.count && i < JOURNAL_STRAY_MAX; ++i)
        ReportRecord("JRN", strays.paths[i], OUTCOME_JOURNAL_STRAY, 0);
}

// A plan reads the log where it lies, or the working copy an interrupted run left, and the
// journal only to know where the removal would go on from: nothing is made, moved or retired.
static int OpenForPlan(Session *session, const JournalMark &mark, int found)
{
    JournalRecord *r = &session->journal.record;
    const char *path = session->logPath;
    if (!FsExists(path)) {
        if (!found || !IsOwnWorkingCopy(r)) {
            Report(session->errorCallback, ERR_NO_LOG, session->logPath, session);
            return 0;
        }
        path = r->workPath;
    } else if (found && !JournalIsItsLog(*r, mark)) {
        lstrcpyA(session->retiredJournal, session->journal.path);
        found = 0;
    }
    LogDatabase *log = LogOpen(path, ENGINE_LOG_OPEN_FLAGS);
    if (!log) {
        Report(session->errorCallback, ERR_BAD_LOG, session->logPath, session);
        return 0;
    }
    if (found)
        TakeOverProgress(session);
    else if (session->strays.count > 0)
        r->flags = JOURNAL_KEEP_SHARED;
    if (path == session->logPath)
        WorldLogTaken(session, path);
    session->log = log;
    return 1;
}

static int TakeMarkLock(Session *session, const JournalMark &mark)
{
    uint64_t time = (static_cast<uint64_t>(mark.timeHigh) << 32) | mark.timeLow;
    return RunLockTakeIdent(&session->runLock, mark.id, time);
}

static Session *Create(const char *logPath, ErrorCallback callback, int plan)
{
    Session *session = static_cast<Session *>(PoolAlloc(enginePool, sizeof(Session)));
    if (!session) {
        Report(callback, ERR_NO_MEMORY, nullptr, nullptr);
        return nullptr;
    }
    session->errorCallback = callback;
    session->plan = plan;
    session->overlay = nullptr;
    // The log is known by what it is: its canonical spelling, and the identity of the file at
    // that path while there is one. Both key the run lock and the journal.
    char canonicalPath[SESSION_PATH_SIZE];
    JournalMark mark;
    if (!logPath || lstrlenA(logPath) >= SESSION_PATH_SIZE ||
        !IdentCanonical(logPath, canonicalPath)) {
        Report(callback, ERR_NO_LOG, logPath ? logPath : "", session);
        PoolFree(enginePool, session);
        return nullptr;
    }
    lstrcpyA(session->logPath, logPath);
    JournalReadMark(logPath, &mark);
    int found = 0;
    int available = RunLockTakePath(&session->runLock, canonicalPath) &&
                    TakeMarkLock(session, mark);
    if (available) {
        // The log may be back under another name than the one the journal knew it by.
        const JournalRecord &r = session->journal.record;
        found = JournalFind(canonicalPath, mark, &session->journal, &session->strays, !plan);
        available = !found || (TakeMarkLock(session, r.taken) && TakeMarkLock(session, r.back));
    }
    if (!available) {
        ReleaseRunLock(session);
        Report(callback, ERR_BUSY, logPath, session);
        PoolFree(enginePool, session);
        return nullptr;
    }
    int opened = plan               ? OpenForPlan(session, mark, found)
                 : FsExists(logPath) ? OpenFromLog(session, canonicalPath, mark, found)
                                     : OpenFromWorkingCopy(session, found);
    if (!opened) {
        JournalClose(&session->journal);
        ReleaseRunLock(session);
        PoolFree(enginePool, session);
        return nullptr;
    }
    LogDatabase *log = session->log;

    char uninstallName[ENGINE_ITEM_SIZE];
    LogGetItem(log, ITEM_UNINSTALL_KEY, uninstallName, ENGINE_ITEM_SIZE);
    ReadDisplayName(session, uninstallName);
    ReportHeading(session->displayName);
    ReportJournals(session);

    // Without its phases or its dialog the run cannot go on; the log goes back at once rather
    // than stay hidden in the working copy.
    if (BuildPhaseTable(session) != 1) {
        AbandonSession(session, uninstallName);
        Report(callback, ERR_NO_MEMORY, nullptr, nullptr);
        return nullptr;
    }
    session->dialog = ProgressDialogCreate(GetModuleHandleA(nullptr), session->displayName);
    if (!session->dialog) {
        AbandonSession(session, uninstallName);
        Report(callback, ERR_NO_MEMORY, nullptr, nullptr);
        return nullptr;
    }
    session->dialogWindow = ProgressDialogGetWindow(session->dialog);
    engineDialogWindow = session->dialogWindow;
    ProgmanSetDialogWindow(session->dialogWindow);
    ProgressDialogSetMessage(session->dialog, "");
    ProgressDialogSetTotal(session->dialog, LogGetItem(log, ITEM_RECORD_COUNT, nullptr, 0));
    if (session->resumed) {
        // The phases an earlier run completed are not run again; the bar starts past them.
        for (int i = 0; i < session->resumePhase; ++i) {
            MarkPhaseDone(session, i);
            for (int n = PhaseBarSteps(log, PHASE_KINDS[i]); n > 0; --n)
                ProgressDialogStep(session->dialog);
        }
        session->phaseIndex = session->resumePhase;
    }
    return session;
}

Session *SessionCreate(const char *logPath, ErrorCallback callback)
{
    return Create(logPath, callback, 0);
}

Session *SessionCreatePlan(const char *logPath, ErrorCallback callback)
{
    return Create(logPath, callback, 1);
}

int SessionStart(Session *session, int show)
{
    if (!session)
        return -1;
    session->started = 1;
    if (session->dialogWindow) {
        if (show) {
            ShowWindow(session->dialogWindow, SW_SHOW);
            UpdateWindow(session->dialogWindow);
        }
        ProgressDialogRefreshBar(session->dialog);
    }
    return 0;
}

int SessionIsRunning(const Session *session)
{
    return session && session->started && !session->finished ? 1 : 0;
}

// Turns a phase result and the status its handlers left into 0 (go on), 1 (phase done) or -1.
static int ClassifyStepResult(Session *session, int result)
{
    if (result == -1) {
        Report(session->errorCallback, ERR_INTERNAL, nullptr, session);
        return -1;
    }
    if (session->status >= WARN_GROUP && session->status <= WARN_FILE) {
        // The phase stays current also when it saw its end: the next step finds the end again.
        session->incomplete = 1;
        return 0;
    }
    if (session->status == 0 || session->status == 1)
        return result;
    Report(session->errorCallback, ERR_INTERNAL, nullptr, session);
    return -1;
}

static void MarkPhaseDone(Session *session, int phase)
{
    if (!session->dialog)
        return;
    int mark = PHASE_KINDS[phase].mark;
    if (mark >= 0)
        ProgressDialogSetMark(session->dialog, mark);
}

// The closing text says what the exit status says, for a resumed run too: what the user reads is
// what an administrator's tool sees.
static UINT CompletionText(const Session *session)
{
    if (SessionKeepsSharedFiles(session))
        return ENGINE_TEXT_PROGRESS_DAMAGED;
    switch (SessionExitStatus(session)) {
    case EXIT_DONE:
        return ENGINE_TEXT_DONE;
    case EXIT_RESTART:
        return ENGINE_TEXT_INCOMPLETE;
    default:
        return ENGINE_TEXT_KEPT;
    }
}

static void ShowCompletion(Session *session)
{
    char text[ENGINE_COMPLETION_SIZE];
    UINT id = CompletionText(session);
    if (LoadStringA(GetModuleHandleA(nullptr), id, text, ENGINE_COMPLETION_SIZE) <= 0)
        text[0] = '\0';
    ProgressDialogFinish(session->dialog);
    ProgressDialogSetMessage(session->dialog, text);
}

static void RestoreOpenLog(Session *session)
{
    char uninstallName[ENGINE_ITEM_SIZE];
    LogGetItem(session->log, ITEM_UNINSTALL_KEY, uninstallName, ENGINE_ITEM_SIZE);
    RestoreLog(session, uninstallName);
}

int SessionStep(Session *session)
{
    if (!session)
        return -1;
    if (!session->started)
        return 0;
    if (session->finished)
        return -1;
    // A run killed after its last phase left nothing to do but to say so.
    if (session->resumed && session->phaseIndex == session->phaseCount) {
        session->finished = 1;
        ShowCompletion(session);
        return 1;
    }
    if (session->phaseIndex < 0 || session->phaseIndex >= session->phaseCount)
        return -1;
    PhaseEntry &entry = session->phases[session->phaseIndex];
    if (!entry.handler)
        return -1;

    session->status = 0;
    int result = entry.handler(&entry.state, PHASE_STEP, session, session->log);
    int c = ClassifyStepResult(session, result);
    if (c == 0)
        return 0;
    if (c == -1) {
        JournalWriteProgress(&session->journal, 1);
        if (!session->plan)
            RestoreOpenLog(session);
        return -1;
    }
    MarkPhaseDone(session, session->phaseIndex);
    ReportPhaseEnd();
    ++session->phaseIndex;
    session->journal.record.phase = session->phaseIndex;
    session->journal.record.handled = 0;
    JournalWriteProgress(&session->journal, 1);
    if (session->phaseIndex < session->phaseCount) {
        // The pause lets a user follow the marks; a plan has nobody watching it.
        if (!session->plan)
            Sleep(SESSION_PHASE_PAUSE_MS);
        return 0;
    }
    session->finished = 1;
    ShowCompletion(session);
    return 1;
}

int SessionClose(Session *session)
{
    if (!session)
        return -1;
    char uninstallName[ENGINE_ITEM_SIZE];
    uninstallName[0] = '\0';
    if (!session->finished)
        LogGetItem(session->log, ITEM_UNINSTALL_KEY, uninstallName, ENGINE_ITEM_SIZE);
    LogClose(session->log);
    session->log = nullptr;
    if (session->plan) {
        // Nothing was taken, so nothing is put back.
    } else if (session->finished) {
        FsDelete(session->tempLogPath);
        // Normally nothing is at the log's path any more; a log put there since (the product
        // installed again while the finished dialog stood open) is another installation's.
        JournalMark now;
        if (JournalReadMark(session->logPath, &now) &&
            JournalIsItsLog(session->journal.record, now))
            FsDelete(session->logPath);
        JournalDelete(&session->journal);
    } else {
        SettleJournal(session, RestoreLog(session, uninstallName));
    }
    DestroyPhases(session);
    RestartForget(session);
    WorldForget(session);
    if (session->dialogWindow)
        ProgressDialogDestroy(session->dialog);
    if (engineDialogWindow == session->dialogWindow)
        engineDialogWindow = nullptr;
    ReleaseRunLock(session);
    PoolFree(enginePool, session);
    return 0;
}

HWND SessionGetDialogWindow(const Session *session)
{
    return session ? session->dialogWindow : nullptr;
}

int SessionGetPool(const Session *)
{
    return enginePool;
}

ProgressDialog *SessionGetDialog(const Session *session)
{
    return session ? session->dialog : nullptr;
}

int SessionSetStatus(Session *session, int value)
{
    if (!session)
        return 0;
    session->status = value;
    // The next run must still call the removal incomplete, even if it passes over this record.
    JournalRecord &r = session->journal.record;
    if (value >= WARN_GROUP && value <= WARN_FILE && !(r.flags & JOURNAL_INCOMPLETE)) {
        r.flags |= JOURNAL_INCOMPLETE;
        JournalWriteProgress(&session->journal, 0);
    }
    return 0;
}

// Sets flag in the journal (once) so that a repeat of an interrupted run still knows it.
static void NoteJournalFlag(Session *session, uint32_t flag)
{
    JournalRecord &r = session->journal.record;
    if (r.flags & flag)
        return;
    r.flags |= flag;
    JournalWriteProgress(&session->journal, 0);
}

void SessionSetOutcome(Session *session, int outcome, unsigned long detail, const char *name)
{
    if (!session)
        return;
    session->outcome = outcome;
    session->outcomeDetail = detail;
    // The name serves the report alone: without one it costs nothing.
    if (name && ReportIsOpen())
        lstrcpynA(session->outcomeName, name, SESSION_OUTCOME_NAME_SIZE);
}

void SessionNoteOutcome(Session *session, const char *kind, const char *name, int outcome,
                        unsigned long detail)
{
    if (!session)
        return;
    if (ReportOutcomeRemains(outcome)) {
        session->remains = 1;
        NoteJournalFlag(session, JOURNAL_REMAINS);
    } else if (outcome == OUTCOME_SCHEDULED) {
        NoteJournalFlag(session, JOURNAL_SCHEDULED);
    }
    ReportRecord(kind, name, outcome, detail);
}

int SessionExitStatus(const Session *session)
{
    if (!session || !session->started)
        return EXIT_CANCELLED;
    if (!session->finished)
        return EXIT_FAILED;
    if (session->remains)
        return EXIT_INCOMPLETE;
    return session->scheduled || session->scheduledBefore ? EXIT_RESTART : EXIT_DONE;
}

int SessionSkipRecord(Session *session)
{
    if (!session || !session->resumed || session->phaseIndex != session->resumePhase ||
        session->skipped >= session->resumeCount)
        return 0;
    ++session->skipped;
    return 1;
}

void SessionRecordHandled(Session *session, int durable)
{
    if (!session)
        return;
    ++session->journal.record.handled;
    JournalWriteProgress(&session->journal, durable);
}

int SessionIsResumedPhase(const Session *session)
{
    return session && session->resumed && session->phaseIndex == session->resumePhase;
}

int SessionKeepsSharedFiles(const Session *session)
{
    return session && (session->journal.record.flags & JOURNAL_KEEP_SHARED) ? 1 : 0;
}
