// The ten phases of an uninstall and the driver that feeds each kind's records, one per step,
// to its record handler.
#include "engine/engine.h"

#include "base/pool.h"
#include "base/strlist.h"
#include "engine/report.h"
#include "logdb/logdb.h"
#include "ui/progress.h"

// Any text a log body can carry fits here, so the driver can see a text that is too long for
// its record buffer instead of handing a cut one on.
constexpr int PHASE_READ_SIZE = LOG_BODY_MAX + 1;

// When a handled record is entered in the journal. Most kinds after the record: a run killed in
// between handles it once more, which finds it done. A shared file's reference must never be
// given back twice, so "CSF" enters it first and on the disk (a kill in between leaves the
// reference held: the file stays). "CDR" only collects until its end removes every directory,
// so a run killed inside it collects all of them again.
constexpr int PROGRESS_AFTER = 0;
constexpr int PROGRESS_BEFORE = 1;
constexpr int PROGRESS_NONE = 2;

// What a record gets when its text does not fit PHASE_TEXT_SIZE: the kind's own warning, a
// failure for "CRK" (whose malformed records count as a damaged log), or, for kinds that do not
// look at their text, the record handled with an empty text.
struct KindRule {
    const char *kind;
    int overlongResult;
    int progress;
};

constexpr int PHASE_TEXT_UNUSED = 0;

static const KindRule KIND_RULES[] = {
    {"CF", WARN_FILE, PROGRESS_AFTER},          {"CSF", PHASE_TEXT_UNUSED, PROGRESS_BEFORE},
    {"API", PHASE_TEXT_UNUSED, PROGRESS_AFTER}, {"RPI", PHASE_TEXT_UNUSED, PROGRESS_AFTER},
    {"CPG", WARN_GROUP, PROGRESS_AFTER},        {"CDR", WARN_DIRECTORY, PROGRESS_NONE},
    {"CRK", -1, PROGRESS_AFTER},                {"SRK", PHASE_TEXT_UNUSED, PROGRESS_AFTER},
    {"URK", PHASE_TEXT_UNUSED, PROGRESS_AFTER}, {"MRK", PHASE_TEXT_UNUSED, PROGRESS_AFTER},
};

static const KindRule *FindKindRule(const char *kind)
{
    for (const KindRule &rule : KIND_RULES)
        if (lstrcmpA(rule.kind, kind) == 0)
            return &rule;
    return nullptr;
}

static int OverlongTextResult(const char *kind)
{
    const KindRule *rule = FindKindRule(kind);
    return rule ? rule->overlongResult : -1;
}

static int ProgressRule(const char *kind)
{
    const KindRule *rule = FindKindRule(kind);
    return rule ? rule->progress : PROGRESS_AFTER;
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
static int HandOver(PhaseState *state, int mode, Session *session, const char *kind,
                    const char *readText, DWORD value, StringList *list, RecordHandler handler)
{
    char text[PHASE_TEXT_SIZE];
    int result;
    int progress = mode == PHASE_STEP ? ProgressRule(kind) : PROGRESS_NONE;
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
        result = handler(state, mode, session, text, value, list);
    } else if (OverlongTextResult(kind) == PHASE_TEXT_UNUSED) {
        result = handler(state, mode, session, "", value, list);
    } else {
        result = OverlongTextResult(kind);
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

// One record of the kind: 1 the kind is done, 0 more to come, -1 failure.
static int StepPhase(PhaseState *state, Session *session, LogDatabase *log,
                     RecordHandler handler, const char *kind, StringList *list)
{
    char name[LOG_NAME_SIZE];
    char readText[PHASE_READ_SIZE];
    uint32_t flags = 0;
    uint32_t value = 0;
    ProgressDialog *dialog = SessionGetDialog(session);
    readText[0] = '\0';
    lstrcpynA(name, kind, LOG_NAME_SIZE);

    if (state->first) {
        LogSelectName(log, name);
        int read = LogReadRecord(log, name, LOG_NAME_SIZE, &flags, readText, PHASE_READ_SIZE,
                                 &value, list, LOG_FIRST);
        if (read < 0)
            return -1;
        if (read == LOG_END)
            return 1;
        ProgressDialogStep(dialog);
        if (HandOver(state, PHASE_STEP, session, kind, readText, value, list, handler) < 0)
            return -1;
        state->first = 0;
        return 0;
    }

    int read = LogReadRecord(log, name, LOG_NAME_SIZE, &flags, readText, PHASE_READ_SIZE, &value,
                             list, LOG_NEXT);
    if (read < 0)
        return -1;
    ProgressDialogStep(dialog);
    if (read == LOG_END) {
        if (HandOver(state, PHASE_END, session, kind, "", 0, nullptr, handler) < 0)
            return -1;
        return 1;
    }
    return HandOver(state, PHASE_STEP, session, kind, readText, value, list, handler);
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
        if (!*state)
            return -1;
        StringList *list = wantList ? ListCreate(0) : nullptr;
        // Without its list a record would look empty and be passed over as if done.
        if (wantList && !list)
            return -1;
        int result = StepPhase(*state, session, log, handler, kind, list);
        ListDestroy(list);
        return result;
    }
    default:
        return 0;
    }
}

// "RPI" records reach the item handler only as records, never as the end of their kind.
static int RemoveRepairItemRecord(PhaseState *state, int mode, Session *session,
                                  const char *text, DWORD value, StringList *list)
{
    if (mode != PHASE_STEP)
        return 0;
    return RemoveProgramItemRecord(state, mode, session, text, value, list);
}

static int FilePhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 0, session, log, RemoveFileRecord, "CF");
}

static int SharedFilePhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 1, session, log, RemoveSharedFileRecord, "CSF");
}

static int ItemPhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 1, session, log, RemoveProgramItemRecord, "API");
}

static int RepairItemPhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 1, session, log, RemoveRepairItemRecord, "RPI");
}

static int GroupPhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 0, session, log, RemoveProgramGroupRecord, "CPG");
}

static int DirectoryPhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 0, session, log, CollectDirectoryRecord, "CDR");
}

static int RegistryKeyPhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 0, session, log, RemoveRegistryKeyRecord, "CRK");
}

static int RegistryValuePhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 1, session, log, RemoveRegistryValueRecord, "SRK");
}

static int ProductKeyPhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 0, session, log, RemoveProductKeys, "URK");
}

static int AppRegistrationPhase(PhaseState **s, int mode, Session *session, LogDatabase *log)
{
    return RunPhase(s, mode, 0, session, log, RemoveAppRegistration, "MRK");
}

// Uninstall order: files before the directories that hold them, the registry last and the
// product's own uninstall entry at the very end.
static const PhaseHandler PHASE_ORDER[PHASE_COUNT] = {
    FilePhase,        SharedFilePhase,  ItemPhase,          RepairItemPhase,
    GroupPhase,       DirectoryPhase,   RegistryKeyPhase,   RegistryValuePhase,
    ProductKeyPhase,  AppRegistrationPhase,
};

int BuildPhaseTable(Session *session)
{
    int result = 1;
    for (int i = 0; i < PHASE_COUNT; ++i) {
        PhaseEntry &entry = session->phases[i];
        entry.handler = PHASE_ORDER[i];
        if (entry.handler(&entry.state, PHASE_CREATE, session, session->log) != 0)
            result = -1;
    }
    session->phaseIndex = 0;
    session->phaseCount = PHASE_COUNT;
    return result;
}
