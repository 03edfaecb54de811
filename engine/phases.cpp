// The ten phases of an uninstall and the driver that feeds each kind's records, one per step,
// to its record handler.
#include "engine/engine.h"
#include "engine/session_internal.h"

#include "base/path.h"
#include "base/pool.h"
#include "base/strlist.h"
#include "engine/report.h"
#include "logdb/logdb.h"
#include "ui/progress.h"

// Any text a log body can carry fits here, so the driver can see a text that is too long for
// its record buffer instead of handing a cut one on.
constexpr int PHASE_READ_SIZE = LOG_BODY_MAX + 1;

// Uninstall order: files before the directories that hold them, the registry last and the
// product's own uninstall entry at the very end. A kind whose text names what it removes
// refuses an over-long one with its own warning ("CRK": a failure, its malformed records count
// as a damaged log). "RPI" uses the item handler, which acts only on records.
const PhaseKind PHASE_KINDS[PHASE_COUNT] = {
    {"CF", RemoveFileRecord, 0, WARN_FILE, PROGRESS_AFTER, 0},
    {"CSF", RemoveSharedFileRecord, 1, PHASE_TEXT_UNUSED, PROGRESS_BEFORE, 1},
    {"API", RemoveProgramItemRecord, 1, PHASE_TEXT_UNUSED, PROGRESS_AFTER, 2},
    {"RPI", RemoveProgramItemRecord, 1, PHASE_TEXT_UNUSED, PROGRESS_AFTER, -1},
    {"CPG", RemoveProgramGroupRecord, 0, WARN_GROUP, PROGRESS_AFTER, 3},
    {"CDR", CollectDirectoryRecord, 0, WARN_DIRECTORY, PROGRESS_NONE, 4},
    {"CRK", RemoveRegistryKeyRecord, 0, -1, PROGRESS_AFTER, -1},
    {"SRK", RemoveRegistryValueRecord, 1, PHASE_TEXT_UNUSED, PROGRESS_AFTER, -1},
    {"URK", RemoveProductKeys, 0, PHASE_TEXT_UNUSED, PROGRESS_AFTER, -1},
    {"MRK", RemoveAppRegistration, 0, PHASE_TEXT_UNUSED, PROGRESS_AFTER, 5},
};

// The row of the kind named name; a name of no row fails an over-long text and enters
// progress after the record.
static PhaseKind FindKind(const char *name)
{
    for (const PhaseKind &kind : PHASE_KINDS)
        if (lstrcmpA(kind.name, name) == 0)
            return kind;
    return PhaseKind{name, nullptr, 0, -1, PROGRESS_AFTER, -1};
}

static PhaseState *CreatePhaseState(Session *session, LogDatabase *log)
{
    ForgetShownGroup();
    ForgetProtectedFolders();
    PhaseState *state =
        static_cast<PhaseState *>(PoolAlloc(SessionGetPool(session), sizeof(PhaseState)));
    if (!state)
        return nullptr;
    state->reserved = 0;
    state->first = 1;
    state->pool = SessionGetPool(session);
    state->list = nullptr;
    state->log = log;
    return state;
}

// What a handler that stated nothing did, by its result.
static int OutcomeOfResult(int result)
{
    if (result == 0 || result == 1)
        return OUTCOME_REMOVED;
    return result == -1 ? OUTCOME_MALFORMED : OUTCOME_FAILED;
}

// The record's name for the report when its handler gave none: its text, else its strings.
static void DefaultRecordName(const char *text, StringList *list, char *name)
{
    lstrcpynA(name, text, SESSION_OUTCOME_NAME_SIZE);
    if (name[0] || !list)
        return;
    for (const char *p = static_cast<const char *>(ListFirst(list)); p;
         p = static_cast<const char *>(ListNext(list))) {
        if (name[0] && lstrlenA(name) + 2 < SESSION_OUTCOME_NAME_SIZE)
            lstrcatA(name, ", ");
        int used = lstrlenA(name);
        lstrcpynA(name + used, p, SESSION_OUTCOME_NAME_SIZE - used);
    }
}

// Takes note of what became of a record: what remains, and the report's line.
static void NoteRecord(Session *session, const char *kind, const char *text, StringList *list,
                       int outcome)
{
    if (outcome == OUTCOME_NONE)
        return;
    const char *name = session->outcomeName;
    char fallback[SESSION_OUTCOME_NAME_SIZE];
    if (!name[0] && ReportIsOpen()) {
        DefaultRecordName(text, list, fallback);
        name = fallback;
    }
    SessionNoteOutcome(session, kind, name, outcome, session->outcomeDetail);
}

// Hands one record (or the end of the kind's records) to the handler and keeps its verdict in
// the session: 0 go on, -1 failure.
static int HandOver(PhaseState *state, int mode, Session *session, const PhaseKind &row,
                    const char *readText, DWORD value, StringList *list)
{
    char text[PHASE_TEXT_SIZE];
    int result;
    const char *kind = row.name;
    int progress = mode == PHASE_STEP ? row.progress : PROGRESS_NONE;
    session->outcome = OUTCOME_NONE;
    session->outcomeDetail = 0;
    session->outcomeName[0] = '\0';
    // An earlier run of this log handled it already.
    if (mode == PHASE_STEP && SessionSkipRecord(session)) {
        NoteRecord(session, kind, readText, list, OUTCOME_EARLIER);
        return 0;
    }
    if (progress == PROGRESS_BEFORE)
        SessionRecordHandled(session, 1);
    if (lstrlenA(readText) < PHASE_TEXT_SIZE) {
        lstrcpyA(text, readText);
        result = row.handler(state, mode, session, text, value, list);
    } else if (row.overlongResult == PHASE_TEXT_UNUSED) {
        result = row.handler(state, mode, session, "", value, list);
    } else {
        result = row.overlongResult;
        session->outcome = OUTCOME_TOO_LONG;
    }
    // The end of a kind has no record of its own: its handler speaks for what it does then.
    if (mode == PHASE_STEP)
        NoteRecord(session, kind, readText, list,
                   session->outcome != OUTCOME_NONE ? session->outcome : OutcomeOfResult(result));
    if (result != 0 && result != 1)
        SessionSetStatus(session, result);
    if (result == -1)
        return -1;
    if (progress == PROGRESS_AFTER)
        SessionRecordHandled(session, 0);
    return 0;
}

// Reads the kind's first (LOG_FIRST, which selects the kind) or next record into text
// (PHASE_READ_SIZE bytes): what LogReadRecord gives.
static int ReadKindRecord(LogDatabase *log, const char *kind, char *text, uint32_t *value,
                          StringList *list, int mode)
{
    char name[LOG_NAME_SIZE];
    uint32_t flags = 0;
    lstrcpynA(name, kind, LOG_NAME_SIZE);
    if (mode == LOG_FIRST)
        LogSelectName(log, name);
    return LogReadRecord(log, name, LOG_NAME_SIZE, &flags, text, PHASE_READ_SIZE, value, list,
                         mode);
}

int PhaseBarSteps(LogDatabase *log, const PhaseKind &kind)
{
    char text[PHASE_READ_SIZE];
    uint32_t value = 0;
    int steps = 0;
    int read = ReadKindRecord(log, kind.name, text, &value, nullptr, LOG_FIRST);
    while (read >= 0 && read != LOG_END) {
        ++steps;
        read = ReadKindRecord(log, kind.name, text, &value, nullptr, LOG_NEXT);
    }
    return read == LOG_END && steps > 0 ? steps + 1 : steps;
}

// One record of the kind: 1 the kind is done, 0 more to come, -1 failure.
static int StepPhase(PhaseState *state, Session *session, LogDatabase *log,
                     const PhaseKind &row, StringList *list)
{
    char readText[PHASE_READ_SIZE];
    uint32_t value = 0;
    ProgressDialog *dialog = SessionGetDialog(session);
    readText[0] = '\0';

    if (state->first) {
        int read = ReadKindRecord(log, row.name, readText, &value, list, LOG_FIRST);
        if (read < 0)
            return -1;
        if (read == LOG_END)
            return 1;
        ProgressDialogStep(dialog);
        if (HandOver(state, PHASE_STEP, session, row, readText, value, list) < 0)
            return -1;
        state->first = 0;
        return 0;
    }

    int read = ReadKindRecord(log, row.name, readText, &value, list, LOG_NEXT);
    if (read < 0)
        return -1;
    ProgressDialogStep(dialog);
    if (read == LOG_END) {
        if (HandOver(state, PHASE_END, session, row, "", 0, nullptr) < 0)
            return -1;
        return 1;
    }
    return HandOver(state, PHASE_STEP, session, row, readText, value, list);
}

// One step of the kind's phase, with its list when the kind wants one.
static int StepKind(PhaseState *state, Session *session, LogDatabase *log, const PhaseKind &row)
{
    if (!state)
        return -1;
    StringList *list = row.wantsList ? ListCreate(0) : nullptr;
    // Without its list a record would look empty and be passed over as if done.
    if (row.wantsList && !list)
        return -1;
    int result = StepPhase(state, session, log, row, list);
    ListDestroy(list);
    return result;
}

int RunPhase(PhaseState **state, int mode, int wantList, Session *session, LogDatabase *log,
             RecordHandler handler, const char *kind)
{
    switch (mode) {
    case PHASE_CREATE:
        *state = CreatePhaseState(session, log);
        return *state ? 0 : -1;
    case PHASE_DESTROY:
        if (*state) {
            // A run that stopped inside "CDR" still holds its collected directories.
            ListDestroy((*state)->list);
            PoolFree((*state)->pool, *state);
            *state = nullptr;
        }
        return 0;
    case PHASE_STEP: {
        PhaseKind row = FindKind(kind);
        row.handler = handler;
        row.wantsList = wantList;
        return StepKind(*state, session, log, row);
    }
    default:
        return 0;
    }
}

int RecordListPair(StringList *list, const char **first, const char **second)
{
    *first = static_cast<const char *>(ListFirst(list));
    *second = *first ? static_cast<const char *>(ListNext(list)) : nullptr;
    if (*second)
        return 1;
    *first = nullptr;
    return 0;
}

int RecordPathPair(Session *session, StringList *list, int warning, const char **first,
                   const char **second, int *verdict)
{
    if (!RecordListPair(list, first, second)) {
        *verdict = SessionVerdict(session, 0, OUTCOME_NOT_NAMED);
        return 0;
    }
    if (!PathFits(*first) || !PathFits(*second)) {
        *verdict = SessionVerdict(session, warning, OUTCOME_TOO_LONG);
        return 0;
    }
    return 1;
}

// The phase handler of every entry: the entry's place in the table gives its kind's row.
static int KindPhase(PhaseState **state, int mode, Session *session, LogDatabase *log)
{
    if (mode != PHASE_STEP)
        return RunPhase(state, mode, 0, session, log, nullptr, "");
    for (int i = 0; i < PHASE_COUNT; ++i)
        if (state == &session->phases[i].state)
            return StepKind(*state, session, log, PHASE_KINDS[i]);
    return -1;
}

int BuildPhaseTable(Session *session)
{
    int result = 1;
    for (int i = 0; i < PHASE_COUNT; ++i) {
        PhaseEntry &entry = session->phases[i];
        entry.handler = KindPhase;
        if (entry.handler(&entry.state, PHASE_CREATE, session, session->log) != 0)
            result = -1;
    }
    session->phaseIndex = 0;
    session->phaseCount = PHASE_COUNT;
    return result;
}
