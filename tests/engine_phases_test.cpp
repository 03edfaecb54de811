// The phase driver: one record per step, the end of a kind seen once, what a handler is given
// (never a previous record's text or value, never a cut text) and how its verdict is kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/strlist.h"
#include "engine/engine.h"
#include "engine/session_internal.h"
#include "support/engine_fixture.h"
#include "logdb/logdb.h"
#include "support/tempdir.h"

using namespace enginetest;

namespace {

struct Call {
    int mode;
    std::string text;
    DWORD value;
    std::vector<std::string> list;
    bool hasList;
};

std::vector<Call> calls;
int nextResult = 0;
int endResult = 0;

int Recorder(PhaseState *, int mode, Session *, const char *text, DWORD value, StringList *list)
{
    Call c{mode, text ? text : "<null>", value, {}, list != nullptr};
    for (void *p = ListFirst(list); p; p = ListNext(list))
        c.list.push_back(static_cast<const char *>(p));
    calls.push_back(c);
    return mode == PHASE_END ? endResult : nextResult;
}

class PhaseDriver : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        nextResult = 0;
        endResult = 0;
        EngineInit(0);
        session = Session{};
    }
    void TearDown() override
    {
        if (state)
            RunPhase(&state, PHASE_DESTROY, 0, &session, nullptr, Recorder, kind.c_str());
        state = nullptr;
        if (log)
            LogClose(log);
        log = nullptr;
        EngineShutdown();
    }

    void Open(const std::vector<Rec> &records)
    {
        std::string path = dir / "install.log";
        ASSERT_TRUE(WriteLog(path, {{ITEM_UNINSTALL_KEY, "Prueba"}}, records));
        log = LogOpen(path.c_str(), LOG_READ);
        ASSERT_NE(log, nullptr);
        session.log = log;
        ASSERT_EQ(RunPhase(&state, PHASE_CREATE, 0, &session, log, Recorder, kind.c_str()), 0);
        ASSERT_NE(state, nullptr);
    }

    // Steps until the kind is done (or fails); returns the results of every step.
    std::vector<int> Drive(int wantList, int limit = 20)
    {
        std::vector<int> results;
        for (int i = 0; i < limit; ++i) {
            session.status = 0;
            int r = RunPhase(&state, PHASE_STEP, wantList, &session, log, handler, kind.c_str());
            results.push_back(r);
            if (r != 0)
                break;
        }
        return results;
    }

    testfs::TempDir dir;
    Session session{};
    LogDatabase *log = nullptr;
    PhaseState *state = nullptr;
    std::string kind = "CF";
    RecordHandler handler = Recorder;
};

TEST_F(PhaseDriver, KindWithoutRecordsEndsOnFirstStepWithoutHandler)
{
    Open({Text("CDR", "C:\\x")});
    EXPECT_EQ(Drive(0), (std::vector<int>{1}));
    EXPECT_TRUE(calls.empty());
}

TEST_F(PhaseDriver, ThreeRecordsTakeFourStepsAndOneEnd)
{
    Open({Text("CF", "a"), Text("CDR", "d"), Text("CF", "b"), Text("CF", "c")});
    EXPECT_EQ(Drive(0), (std::vector<int>{0, 0, 0, 1}));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].text, "a");
    EXPECT_EQ(calls[1].text, "b");
    EXPECT_EQ(calls[2].text, "c");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(calls[i].mode, PHASE_STEP) << i;
    }
    EXPECT_EQ(calls[3].mode, PHASE_END);
    EXPECT_EQ(calls[3].text, "");
    EXPECT_FALSE(calls[3].hasList);
    EXPECT_EQ(state->first, 0);
}

TEST_F(PhaseDriver, RecordWithoutTextOrValueGetsEmptyTextAndZero)
{
    Rec full = Text("CF", "C:\\first.txt");
    full.value = 77;
    full.flags |= REC_VALUE;
    Open({full, Bare("CF"), List("CF", {"x", "y"})});
    Drive(1);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].text, "C:\\first.txt");
    EXPECT_EQ(calls[0].value, 77u);
    EXPECT_EQ(calls[1].text, "");
    EXPECT_EQ(calls[1].value, 0u);
    EXPECT_TRUE(calls[1].list.empty());
    EXPECT_EQ(calls[2].text, "");
    EXPECT_EQ(calls[2].list, (std::vector<std::string>{"x", "y"}));
}

TEST_F(PhaseDriver, ListOnlyForKindsThatWantIt)
{
    Open({List("CF", {"g", "i"})});
    Drive(0);
    ASSERT_FALSE(calls.empty());
    EXPECT_FALSE(calls[0].hasList);
}

TEST_F(PhaseDriver, HandlerResultsAndTheSessionStatus)
{
    struct Case {
        int handlerResult;
        int stepResult;
        int status;
    } cases[] = {
        {0, 0, 0}, {1, 0, 0}, {WARN_FILE, 0, WARN_FILE}, {WARN_GROUP, 0, WARN_GROUP},
        {-1, -1, -1}, {-7, 0, -7},
    };
    Open({Text("CF", "a"), Text("CF", "b"), Text("CF", "c"), Text("CF", "d"), Text("CF", "e"),
          Text("CF", "f"), Text("CF", "g")});
    for (const Case &c : cases) {
        nextResult = c.handlerResult;
        session.status = 0;
        int r = RunPhase(&state, PHASE_STEP, 0, &session, log, Recorder, "CF");
        EXPECT_EQ(r, c.stepResult) << "handler gave " << c.handlerResult;
        EXPECT_EQ(session.status, c.status) << "handler gave " << c.handlerResult;
    }
}

TEST_F(PhaseDriver, WarningAtEndIsKeptAndTheEndComesAgain)
{
    Open({Text("CF", "a")});
    endResult = WARN_DIRECTORY;
    EXPECT_EQ(Drive(0), (std::vector<int>{0, 1}));
    EXPECT_EQ(session.status, WARN_DIRECTORY);
    // The session keeps the phase after a warning: the next step reads the end once more.
    endResult = 0;
    EXPECT_EQ(Drive(0), (std::vector<int>{1}));
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].mode, PHASE_END);
    EXPECT_EQ(calls[2].mode, PHASE_END);
}

TEST_F(PhaseDriver, FailureAtEndStopsTheKind)
{
    Open({Text("CF", "a")});
    endResult = -1;
    EXPECT_EQ(Drive(0), (std::vector<int>{0, -1}));
}

// A text longer than the record buffer is never handed on cut: kinds that act on their text
// refuse the record (a warning of the kind, or a failure for registry keys); kinds that do not
// look at their text get the record with an empty one.
TEST_F(PhaseDriver, TextTooLongForTheRecordBuffer)
{
    struct Case {
        const char *kind;
        int wantList;
        int status;       // what the step leaves in the session
        int stepResult;
        bool handled;     // the handler saw the record
    } cases[] = {
        {"CF", 0, WARN_FILE, 0, false},       {"CDR", 0, WARN_DIRECTORY, 0, false},
        {"CPG", 0, WARN_GROUP, 0, false},     {"CRK", 0, -1, -1, false},
        {"CSF", 1, 0, 0, true},               {"API", 1, 0, 0, true},
        {"SRK", 1, 0, 0, true},               {"URK", 0, 0, 0, true},
    };
    const std::string fits(PHASE_TEXT_SIZE - 1, 'f');
    const std::string tooLong(PHASE_TEXT_SIZE, 'L');
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        TearDown();
        SetUp();
        kind = c.kind;
        Open({Text(c.kind, tooLong), Text(c.kind, fits)});
        session.status = 0;
        EXPECT_EQ(RunPhase(&state, PHASE_STEP, c.wantList, &session, log, Recorder, c.kind),
                  c.stepResult);
        EXPECT_EQ(session.status, c.status);
        ASSERT_EQ(calls.size(), c.handled ? 1u : 0u);
        if (c.handled) {
            EXPECT_EQ(calls[0].text, "");
        }
        if (c.stepResult < 0)
            continue;
        session.status = 0;
        EXPECT_EQ(RunPhase(&state, PHASE_STEP, c.wantList, &session, log, Recorder, c.kind), 0);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().text, fits);
    }
}

// The directory handler itself: a refused first record must not cost the others their removal.
TEST_F(PhaseDriver, OverlongFirstDirectoryLeavesTheOthersToGo)
{
    kind = "CDR";
    handler = CollectDirectoryRecord;
    const std::string a = dir / "A", b = a + "\\B";
    ASSERT_TRUE(CreateDirectoryA(a.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(b.c_str(), nullptr));
    Open({Text("CDR", std::string(PHASE_TEXT_SIZE, 'L')), Text("CDR", a), Text("CDR", b)});
    EXPECT_EQ(Drive(0, 1), (std::vector<int>{0}));
    EXPECT_EQ(session.status, WARN_DIRECTORY);
    EXPECT_EQ(Drive(0), (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(session.status, 0) << "the end found directories it could not remove";
    EXPECT_FALSE(testfs::IsDir(a));
}

TEST_F(PhaseDriver, DamagedRecordFailsTheStep)
{
    std::string path = dir / "install.log";
    ASSERT_TRUE(WriteLog(path, {}, {Text("CF", "a"), Text("CF", "b")}));
    // Make the first record's count run past the end of the file and mend the checksum, so the
    // log opens and only the record read fails.
    std::string bytes = testfs::ReadBytes(path);
    bytes[LOG_FIRST_RECORD] = char(0xF0);
    bytes[LOG_FIRST_RECORD + 1] = char(0x7F);
    uint32_t sum = 0;
    for (size_t i = 10; i < bytes.size(); ++i)
        sum += uint32_t(int32_t(int8_t(bytes[i])));
    memcpy(&bytes[6], &sum, 4);
    ASSERT_TRUE(testfs::WriteBytes(path, bytes));
    log = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(log, nullptr) << LogLastError();
    session.log = log;
    ASSERT_EQ(RunPhase(&state, PHASE_CREATE, 0, &session, log, Recorder, "CF"), 0);
    EXPECT_EQ(Drive(0), (std::vector<int>{-1}));
    EXPECT_TRUE(calls.empty());
}

// Phase i reads the records of the i-th kind and no other: with one record of a single kind in
// the log, only that kind's phase finds something on its first step.
TEST(PhaseTable, TenPhasesInUninstallOrder)
{
    const Rec records[] = {
        Text("CF", "C:\\engine-test-none\\gone.txt"),
        List("CSF", {"C:\\engine-test-none\\a.dll", "C:\\engine-test-none\\a.dll"}),
        List("API", {}), List("RPI", {}), Text("CPG", ""),
        Text("CDR", "C:\\engine-test-none"),
        Text("CRK", "-2147483647;Software\\EngineTestNothingHere"),
        List("SRK", {}), Bare("URK"), Bare("MRK"),
    };
    UsePlatform(Os::Win32s);
    testfs::TempDir dir;
    std::string path = dir / "install.log";
    for (int k = 0; k < PHASE_COUNT; ++k) {
        SCOPED_TRACE(records[k].kind);
        ASSERT_TRUE(WriteLog(path, {}, {records[k]}));
        EngineInit(0);
        Session session{};
        session.log = LogOpen(path.c_str(), LOG_READ);
        ASSERT_NE(session.log, nullptr);
        ASSERT_EQ(BuildPhaseTable(&session), 1);
        EXPECT_EQ(session.phaseCount, PHASE_COUNT);
        EXPECT_EQ(session.phaseIndex, 0);
        for (int i = 0; i < PHASE_TABLE_SIZE; ++i) {
            ASSERT_EQ(session.phases[i].handler != nullptr, i < PHASE_COUNT) << i;
        }
        for (int i = 0; i < PHASE_COUNT; ++i) {
            PhaseEntry &e = session.phases[i];
            ASSERT_NE(e.state, nullptr) << i;
            EXPECT_EQ(e.handler(&e.state, PHASE_STEP, &session, session.log), i == k ? 0 : 1)
                << "phase " << i;
        }
        for (int i = 0; i < PHASE_COUNT; ++i)
            session.phases[i].handler(&session.phases[i].state, PHASE_DESTROY, &session, nullptr);
        LogClose(session.log);
        EngineShutdown();
    }
    UsePlatform(Os::Other);
}

// This program carries no dialog template, so the session's dialog cannot be made: the run is
// refused as out of memory and the log, already moved aside, is put back at once.
TEST(SessionWithoutDialog, LogIsPutBackAndTheEntryWrittenAgain)
{
    World w("NoDialog");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    ASSERT_TRUE(WriteLog(w.logPath, w.Items(), {Text("CF", w.app + "\\x.txt")}));
    std::string logBytes = testfs::ReadBytes(w.logPath);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName", w.displayName));
    EngineInit(0);
    EXPECT_EQ(SessionCreate(w.logPath.c_str(), RecordReport), nullptr);
    EngineShutdown();
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].code, ERR_NO_MEMORY);
    EXPECT_EQ(testfs::ReadBytes(w.logPath), logBytes);
    EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "UninstallString"),
              WindowsDir() + "remover.exe -f" + w.logPath);
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName"), w.displayName);
    EXPECT_EQ(EngineGetDialogWindow(), nullptr);
}

}  // namespace
