// Whole uninstall sessions over a real installation in the test prefix (Windows 4 flavour:
// Start Menu shortcuts), driven step by step as the shell's loop drives them: what is removed,
// what stays, what the dialog says and where the log is afterwards.
#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

#include "base/pool.h"
#include "engine/engine.h"
#include "engine/report.h"
#include "engine/session_internal.h"
#include "support/engine_fixture.h"
#include "support/pending_restart.h"
#include "support/spellings.h"
#include "registry/registry.h"
#include "ui/progress_internal.h"

using namespace enginetest;

namespace {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UsePlatform(Os::Windows4);
        EngineInit(0);
    }
    void TearDown() override
    {
        if (session) {
            // The test's world is gone already: closing puts the log back into a folder made
            // anew, which goes too.
            std::string log = session->logPath;
            SessionClose(session);
            RemoveScratchRoot(log);
        }
        EngineShutdown();
        UsePlatform(Os::Other);
    }

    static void RemoveScratchRoot(const std::string &path)
    {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        std::string scratch = std::string(temp) + "rmtest";
        if (path.compare(0, scratch.size(), scratch) != 0)
            return;
        testfs::RemoveTree(path.substr(0, path.find('\\', scratch.size())));
    }

    Session *Open(const std::string &path)
    {
        session = SessionCreate(path.c_str(), RecordReport);
        return session;
    }

    void Close()
    {
        ASSERT_EQ(SessionClose(session), 0);
        session = nullptr;
    }

    std::string ExpectedCommand(const std::string &logPath)
    {
        return WindowsDir() + "remover.exe -f" + logPath;
    }

    Session *session = nullptr;
};

TEST_F(SessionTest, CompleteRemovalOnWindows4)
{
    World w("Full");
    ASSERT_TRUE(w.Build());
    ASSERT_TRUE(w.WriteTheLog(w.Records()));
    ASSERT_NE(Open(w.logPath), nullptr);
    EXPECT_FALSE(testfs::IsFile(w.logPath)) << "the log lives only as the working copy";
    EXPECT_EQ(std::string(session->tempLogPath), TempLogName(1));
    EXPECT_TRUE(testfs::IsFile(TempLogName(1)));
    EXPECT_EQ(std::string(session->displayName), w.displayName);
    EXPECT_EQ(session->dialog->total, 15);
    EXPECT_EQ(SessionGetDialogWindow(session), EngineGetDialogWindow());
    EXPECT_FALSE(IsWindowVisible(SessionGetDialogWindow(session)));

    EXPECT_EQ(SessionStep(session), 0) << "nothing happens before the start";
    EXPECT_EQ(session->phaseIndex, 0);
    ASSERT_EQ(SessionStart(session, 1), 0);
    EXPECT_TRUE(IsWindowVisible(SessionGetDialogWindow(session)));

    // Kinds with n records take n + 1 steps, kinds without records one.
    std::vector<int> steps = StepToEnd(session);
    ASSERT_EQ(steps.size(), 25u);
    EXPECT_EQ(steps.back(), 1);
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(session->incomplete, 0);
    EXPECT_EQ(session->finished, 1);
    EXPECT_EQ(SessionIsRunning(session), 0);
    for (int i = 0; i < PD_MARK_COUNT; ++i) {
        EXPECT_NE(session->dialog->marks[i], 0) << "mark " << i;
    }
    EXPECT_EQ(session->dialog->current, 15) << "the bar stops at the record count";
    ASSERT_NE(LoadText(ENGINE_TEXT_DONE), LoadText(ENGINE_TEXT_INCOMPLETE))
        << "this test's string table tells the two closing texts apart";
    EXPECT_EQ(DialogMessage(session), LoadText(ENGINE_TEXT_DONE));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(SessionGetDialogWindow(session), IDOK)));

    for (const std::string &f : w.Files()) {
        EXPECT_FALSE(testfs::IsFile(f)) << f;
    }
    EXPECT_FALSE(testfs::IsDir(w.app));
    EXPECT_TRUE(testfs::IsFile(w.sharedKept)) << "another product still counts on it";
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedKept), "1");
    EXPECT_FALSE(testfs::IsFile(w.sharedLast));
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedLast), "<missing>");
    EXPECT_FALSE(testfs::IsDir(w.groupDir));
    EXPECT_TRUE(testfs::IsDir(w.programs));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\" + w.company + "\\Parlo"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, w.SiblingKey()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + "parlo.exe"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, w.UninstallEntry()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\" + w.company + "\\Parlo"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\" + w.company));
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, w.userKey, "Idioma"), "<missing>");
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, w.userKey, "Otro"), "queda");

    EXPECT_EQ(SessionStep(session), -1) << "a finished run has nothing to step";
    EXPECT_EQ(session->phaseIndex, PHASE_COUNT);
    Close();
    EXPECT_FALSE(testfs::IsFile(w.logPath));
    EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, w.UninstallEntry())) << "not registered again";
    EXPECT_EQ(EngineGetDialogWindow(), nullptr);
}

// The end value alone cannot tell: a kind's last step reads its end and is clamped away at the
// record count, so the first record of each kind must be counted as it is read.
TEST_F(SessionTest, BarCountsEveryRecordAsItIsRead)
{
    World w("Bar");
    ASSERT_TRUE(w.Build());
    ASSERT_TRUE(w.WriteTheLog(w.Records()));
    ASSERT_NE(Open(w.logPath), nullptr);
    ASSERT_EQ(SessionStart(session, 0), 0);
    ASSERT_EQ(SessionStep(session), 0);
    EXPECT_EQ(session->dialog->current, 1) << "after the first record";
    for (int i = 0; i < 50 && session->phaseIndex == 0; ++i)
        ASSERT_EQ(SessionStep(session), 0);
    EXPECT_EQ(session->dialog->current, static_cast<int>(w.Files().size()) + 1)
        << "after the files: each record and the end of the kind";
}

TEST_F(SessionTest, EmptyLogTakesTenSteps)
{
    World w("Empty");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    ASSERT_TRUE(WriteLog(w.logPath, {{ITEM_UNINSTALL_KEY, w.uninstallName}}, {}));
    ASSERT_NE(Open(w.logPath), nullptr);
    SessionStart(session, 0);
    // Phases 0, 1, 2, 4, 5 and 9 set marks 0 to 5 as they complete; the others set none.
    const int marksAfter[PHASE_COUNT] = {1, 2, 3, 3, 4, 5, 5, 5, 5, 6};
    for (int phase = 0; phase < PHASE_COUNT; ++phase) {
        EXPECT_EQ(SessionStep(session), phase == PHASE_COUNT - 1 ? 1 : 0) << phase;
        for (int i = 0; i < PD_MARK_COUNT; ++i) {
            EXPECT_EQ(session->dialog->marks[i] != 0, i < marksAfter[phase])
                << "mark " << i << " after phase " << phase;
        }
    }
    EXPECT_EQ(SessionIsRunning(session), 0);
    EXPECT_EQ(session->incomplete, 0);
    EXPECT_EQ(session->dialog->current, 0);
    EXPECT_FALSE(IsWindowVisible(SessionGetDialogWindow(session)));
    Close();
    EXPECT_FALSE(testfs::IsFile(w.logPath));
    EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
}

// What the user's own things do to a run: each is a warning, the rest goes as usual and the
// completion text is the one for an incomplete removal.
TEST_F(SessionTest, WarningsLeaveTheUsersThingsAndNothingElse)
{
    restarttest::PendingScope pending;  // the file held open is left for the restart
    World w("Warn");
    ASSERT_TRUE(w.Build());
    std::string locked = w.app + "\\abierto.dat";
    std::string userFile = w.audio + "\\mio.wav";
    ASSERT_TRUE(testfs::WriteBytes(locked, "x"));
    ASSERT_TRUE(testfs::WriteBytes(userFile, "del usuario"));
    std::vector<Rec> records = w.Records();
    records.push_back(Text("CF", w.app + "\\ya-borrado.txt"));
    records.push_back(Text("CF", locked));
    ASSERT_TRUE(w.WriteTheLog(records));
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);

    ASSERT_NE(Open(w.logPath), nullptr);
    SessionStart(session, 0);
    std::vector<int> steps = StepToEnd(session);
    CloseHandle(hold);
    // Two more "CF" records, and one more step for the directory warning at the end of "CDR".
    EXPECT_EQ(steps.size(), 28u);
    EXPECT_EQ(steps.back(), 1);
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(session->incomplete, 1);
    EXPECT_EQ(session->scheduled, 1);
    EXPECT_EQ(SessionExitStatus(session), 1) << "the user's file stays";
    EXPECT_EQ(DialogMessage(session), ClosingText(1));

    EXPECT_TRUE(testfs::IsFile(locked));
    EXPECT_TRUE(testfs::IsFile(userFile));
    EXPECT_TRUE(testfs::IsDir(w.audio));
    EXPECT_TRUE(testfs::IsDir(w.data)) << "a parent of the user's file is not empty";
    EXPECT_TRUE(testfs::IsDir(w.app));
    for (const std::string &f : w.Files()) {
        EXPECT_FALSE(testfs::IsFile(f)) << f;
    }
    EXPECT_FALSE(testfs::IsDir(w.groupDir));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\" + w.company + "\\Parlo"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, w.UninstallEntry()));
    Close();
    EXPECT_FALSE(testfs::IsFile(w.logPath));
    EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
}

// A failure stops the run at once with -6, puts the log back and registers the uninstall
// command again, so that running it repeats the removal.
TEST_F(SessionTest, FailuresStopTheRunAndPutTheLogBack)
{
    struct Case {
        const char *name;
        Rec bad;
        bool damage;   // the record reads as a damaged body
    } cases[] = {
        {"protected key", Text("CRK", "-2147483646;Software"), false},
        {"protected key with slashes", Text("CRK", "-2147483646;\\SOFTWARE\\"), false},
        {"doubled backslash", Text("CRK", "-2147483646;Software\\\\"), false},
        {"unknown root", Text("CRK", "12;Software\\EngTestNada"), false},
        {"no key path", Text("CRK", "-2147483646;"), false},
        {"no root", Text("CRK", ";Software\\EngTestNada"), false},
        {"unknown root in value", List("SRK", {"7;Software\\EngTestNada", "x"}), false},
        {"damaged record", Text("CF", "C:\\nada.txt"), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        World w("Fail");
        ASSERT_TRUE(w.Build());
        std::vector<Rec> records = {c.bad, Text("CF", w.Files()[0]), Bare("URK"), Bare("MRK")};
        ASSERT_TRUE(w.WriteTheLog(records));
        if (c.damage) {
            // The first record's count runs past the end; the checksum is mended, so the log
            // opens and only reading that record fails.
            std::string bytes = testfs::ReadBytes(w.logPath);
            bytes[LOG_FIRST_RECORD] = char(0xF0);
            bytes[LOG_FIRST_RECORD + 1] = char(0x7F);
            rawlog::FixChecksum(bytes);
            ASSERT_TRUE(testfs::WriteBytes(w.logPath, bytes));
        }
        std::string logBytes = testfs::ReadBytes(w.logPath);
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName", "cambiado"));
        ASSERT_NE(Open(w.logPath), nullptr);
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName", "otro"));
        SessionStart(session, 0);
        std::vector<int> steps = StepToEnd(session);
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back(), -1);
        ASSERT_EQ(Reports().size(), 1u);
        EXPECT_EQ(Reports()[0].code, ERR_INTERNAL);
        // Put back at once, while the run is still open.
        EXPECT_EQ(testfs::ReadBytes(w.logPath), logBytes);
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "UninstallString"),
                  ExpectedCommand(w.logPath));
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName"), "cambiado");
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft"));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, w.ProductKey()))
            << "no phase after the failure runs";
        Close();
        EXPECT_EQ(testfs::ReadBytes(w.logPath), logBytes);
        EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "UninstallString"),
                  ExpectedCommand(w.logPath));
        Reports().clear();
    }
}

// A log that fails at the same record every time (a protected key) is run again and again, each
// time under another spelling of its path (another drive, a device path, its short name, a hard
// link): the shared reference the first run gave back is never given back a second time.
TEST_F(SessionTest, RepeatsAfterAFailureGiveNoReferenceBackTwice)
{
    World w("Again");
    ASSERT_TRUE(w.Build());
    ASSERT_TRUE(w.WriteTheLog(
        {List("CSF", {w.sharedKept, w.sharedKept}), Text("CRK", "-2147483646;Software")}));
    const std::string logBytes = testfs::ReadBytes(w.logPath);
    const std::string hardLink = testfs::Parent(w.logPath) + "\\enlace.log";
    ASSERT_TRUE(CreateHardLinkA(hardLink.c_str(), w.logPath.c_str(), nullptr));
    char shortName[MAX_PATH] = "";
    ASSERT_NE(0u, GetShortPathNameA(w.logPath.c_str(), shortName, sizeof shortName));
    const std::string spellings[] = {
        w.logPath, spell::ThroughOtherDrive(w.logPath),
        "//./" + spell::Respelled(w.logPath, '\\', '/'), shortName, "\\\\?\\" + w.logPath, hardLink,
    };
    for (const std::string &path : spellings) {
        SCOPED_TRACE("run through " + path);
        ASSERT_NE(Open(path), nullptr);
        SessionStart(session, 0);
        EXPECT_EQ(StepToEnd(session).back(), -1);
        Close();
        EXPECT_EQ(testfs::ReadBytes(path), logBytes) << "the log goes back unchanged";
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedKept), "1");
        EXPECT_TRUE(testfs::IsFile(w.sharedKept)) << "the other product still needs it";
        EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
    }
    EXPECT_EQ(Reports().size(), std::size(spellings));
    DeleteFileA(hardLink.c_str());
}

// What a kill leaves (the working copy and the journal, the log gone from its path) is rebuilt
// from the files of a run stopped at that point; the run started afterwards goes on from there.
// Whatever the killed run had removed beyond its journal is no reason to call the removal
// incomplete, nothing is given back twice, and a folder named with a trailing backslash that is
// still there is not taken for gone. A file the killed run left for the restart still makes the
// whole removal one that needs the restart (3010, and its closing text).
TEST_F(SessionTest, RunAfterAKillFinishesWithoutFalseWarnings)
{
    struct Case {
        const char *name;
        int phase, handled;    // where the kill hit
        int goneFile;          // a file removed after the journal was last written, or -1
        bool goneDir;          // the deepest directory removed already
        bool held;             // the first file is in use: the killed run scheduled it
    } cases[] = {
        {"inside CF", 0, 2, 2, false, false},
        {"inside CSF", 1, 1, -1, false, false},
        {"inside CDR while removing", 5, 0, -1, true, false},
        {"inside CSF after a file went to the restart", 1, 1, -1, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        restarttest::PendingScope pending;
        World w("Kill");
        ASSERT_TRUE(w.Build());
        std::vector<Rec> records = w.Records();
        for (Rec &r : records)
            if (r.kind == "CDR" && r.text == w.app)
                r.text += "\\";
        ASSERT_TRUE(w.WriteTheLog(records));
        HANDLE held = c.held ? CreateFileA(w.Files()[0].c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
        ASSERT_EQ(c.held, held != INVALID_HANDLE_VALUE);
        ASSERT_NE(Open(w.logPath), nullptr);
        SessionStart(session, 0);
        while (session->phaseIndex < c.phase ||
               session->journal.record.handled < c.handled)
            ASSERT_EQ(SessionStep(session), 0);
        const std::string work = testfs::ReadBytes(TempLogName(1));
        const std::string journal = testfs::ReadBytes(JournalName(1));
        Close();
        ASSERT_TRUE(DeleteFileA(w.logPath.c_str()));
        ASSERT_TRUE(testfs::WriteBytes(TempLogName(1), work));
        ASSERT_TRUE(testfs::WriteBytes(JournalName(1), journal));
        if (c.goneFile >= 0) {
            ASSERT_TRUE(DeleteFileA(w.Files()[c.goneFile].c_str()));
        }
        if (c.goneDir) {
            ASSERT_TRUE(RemoveDirectoryA(w.audio.c_str()));
        }

        ASSERT_NE(Open(w.logPath), nullptr) << "the working copy is found again";
        SessionStart(session, 0);
        EXPECT_EQ(StepToEnd(session).back(), 1);
        EXPECT_EQ(session->dialog->current, session->dialog->total) << "the bar ends full";
        EXPECT_TRUE(Reports().empty());
        EXPECT_EQ(session->incomplete, 0);
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedKept), "1");
        EXPECT_EQ(testfs::IsDir(w.app), c.held) << "what is in use goes at the restart";
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, w.UninstallEntry()));
        EXPECT_EQ(SessionExitStatus(session), c.held ? 3010 : 0);
        // The 32-bit build's Wine reads accented text back from a control mangled.
        if (sizeof(void *) == 8) {
            EXPECT_EQ(DialogMessage(session), ClosingText(SessionExitStatus(session)));
        }
        Close();
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
        EXPECT_FALSE(testfs::IsFile(JournalName(1)));
    }
}

// A journal that cannot be trusted never gives a reference back twice. The run is stopped inside
// the shared files (one reference given back); then either its progress part is damaged while
// the log lies in the working copy, or its identity part is damaged after the log went back (no
// log can be told from it: it stays, and every log's shared files are kept while it does). The
// next run removes everything else and keeps both shared files with their counts.
TEST_F(SessionTest, ADamagedJournalKeepsTheSharedFiles)
{
    struct Case {
        const char *name;
        bool logBack;
        size_t at;   // the byte of the journal that is damaged
    } cases[] = {
        {"progress part", false, JOURNAL_PROGRESS_OFFSET + 4},
        {"identity part", true, offsetof(JournalRecord, logPath) + 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        World w("Dano");
        ASSERT_TRUE(w.Build());
        ASSERT_TRUE(w.WriteTheLog(w.Records()));
        ASSERT_NE(Open(w.logPath), nullptr);
        SessionStart(session, 0);
        while (session->phaseIndex < 1 || session->journal.record.handled < 1)
            ASSERT_EQ(SessionStep(session), 0);
        const std::string work = testfs::ReadBytes(TempLogName(1));
        std::string journal = testfs::ReadBytes(JournalName(1));
        Close();
        if (!c.logBack) {
            ASSERT_TRUE(DeleteFileA(w.logPath.c_str()));
            ASSERT_TRUE(testfs::WriteBytes(TempLogName(1), work));
        } else {
            journal = testfs::ReadBytes(JournalName(1));
        }
        journal[c.at] ^= 0x55;
        ASSERT_TRUE(testfs::WriteBytes(JournalName(1), journal));

        ASSERT_NE(Open(w.logPath), nullptr);
        EXPECT_EQ(SessionKeepsSharedFiles(session), 1);
        SessionStart(session, 0);
        EXPECT_EQ(StepToEnd(session).back(), 1);
        EXPECT_EQ(SessionExitStatus(session), 1) << "the shared files named remain";
        Close();
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedKept), "1");
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedLast), "1");
        EXPECT_TRUE(testfs::IsFile(w.sharedKept) && testfs::IsFile(w.sharedLast));
        for (const std::string &f : w.Files()) {
            EXPECT_FALSE(testfs::IsFile(f)) << f;
        }
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, w.UninstallEntry()));
        EXPECT_EQ(testfs::IsFile(JournalName(1)), c.logBack) << "a stray journal is left alone";
        DeleteFileA(JournalName(1).c_str());
        DeleteValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedLast);
    }
}

// OK pressed after the product was installed again while the finished dialog stood open: the
// new installation's log stays.
TEST_F(SessionTest, TheFinishedRunLeavesALogInstalledSince)
{
    World w("Otra");
    ASSERT_TRUE(w.Build());
    ASSERT_TRUE(w.WriteTheLog(w.Records()));
    ASSERT_NE(Open(w.logPath), nullptr);
    SessionStart(session, 0);
    EXPECT_EQ(StepToEnd(session).back(), 1);
    ASSERT_TRUE(testfs::MakeDirs(w.app));
    ASSERT_TRUE(w.WriteTheLog(w.Records()));
    const std::string reinstalled = testfs::ReadBytes(w.logPath);
    Close();
    EXPECT_EQ(testfs::ReadBytes(w.logPath), reinstalled);
}

TEST_F(SessionTest, ClosingBeforeTheStartPutsEverythingBack)
{
    World w("Early");
    ASSERT_TRUE(w.Build());
    ASSERT_TRUE(w.WriteTheLog(w.Records()));
    std::string logBytes = testfs::ReadBytes(w.logPath);
    ASSERT_NE(Open(w.logPath), nullptr);
    EXPECT_EQ(SessionIsRunning(session), 0);
    // The entry vanished meanwhile: it is written again, not only updated.
    DeleteTree(HKEY_LOCAL_MACHINE, w.UninstallEntry());
    Close();
    EXPECT_EQ(testfs::ReadBytes(w.logPath), logBytes);
    EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "UninstallString"),
              ExpectedCommand(w.logPath));
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName"), w.displayName);
    for (const std::string &f : w.Files()) {
        EXPECT_TRUE(testfs::IsFile(f)) << f;
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(SessionTest, LogPutBackIntoADirectoryThatIsGone)
{
    World w("Gone");
    std::string deep = w.root / "a\\b\\c";
    std::string path = deep + "\\install.log";
    ASSERT_TRUE(CreateDirectoryA((w.root / "a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((w.root / "a\\b").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    ASSERT_TRUE(WriteLog(path, {{ITEM_UNINSTALL_KEY, w.uninstallName}}, {}));
    ASSERT_NE(Open(path), nullptr);
    ASSERT_TRUE(RemoveDirectoryA(deep.c_str()));
    ASSERT_TRUE(RemoveDirectoryA((w.root / "a\\b").c_str()));
    Close();
    EXPECT_TRUE(testfs::IsFile(path));
}

// Another run's lock, taken by a thread that stands for it: held, abandoned by a run that died
// while someone else still holds a handle to it, or there but not ours to open.
class OtherRun {
public:
    enum Mode { HOLDS, DIED, FORBIDS };
    OtherRun(const std::string &name, Mode mode) : name_(name), mode_(mode)
    {
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (mode == FORBIDS) {
            // An empty access list: nobody may open it, as with another user's lock.
            SECURITY_DESCRIPTOR sd;
            InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
            SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
            ACL acl;
            InitializeAcl(&acl, sizeof acl, ACL_REVISION);
            SetSecurityDescriptorDacl(&sd, TRUE, &acl, FALSE);
            SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
            handle_ = CreateMutexA(&sa, FALSE, name.c_str());
            return;
        }
        handle_ = OpenOrCreate();   // this handle outlives the owner
        thread_ = CreateThread(nullptr, 0, Own, this, 0, nullptr);
        for (int waited = 0; !taken_ && waited < 5000; waited += 5)
            Sleep(5);
        if (mode == DIED)
            WaitForSingleObject(thread_, 5000);
    }
    ~OtherRun()
    {
        SetEvent(stop_);
        if (thread_) {
            WaitForSingleObject(thread_, 5000);
            CloseHandle(thread_);
        }
        CloseHandle(handle_);
        CloseHandle(stop_);
    }
    bool ok() const { return handle_ && (mode_ == FORBIDS || taken_); }

private:
    HANDLE OpenOrCreate() { return CreateMutexA(nullptr, FALSE, name_.c_str()); }
    static DWORD WINAPI Own(void *p)
    {
        OtherRun *self = static_cast<OtherRun *>(p);
        HANDLE h = self->OpenOrCreate();
        self->taken_ = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
        if (self->mode_ == HOLDS) {
            WaitForSingleObject(self->stop_, INFINITE);
            ReleaseMutex(h);
        }
        CloseHandle(h);   // DIED: ends owning it, never released
        return 0;
    }
    std::string name_;
    Mode mode_;
    HANDLE handle_ = nullptr, thread_ = nullptr, stop_ = nullptr;
    volatile bool taken_ = false;
};

// One run of a log at a time, whichever of its locks another run holds (its path's or its file's);
// a lock that another run died holding is free; one that exists but may not be opened is busy.
TEST_F(SessionTest, RunLocksAreKeptByWhatTheLogIs)
{
    World w("Cerrojo");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    ASSERT_TRUE(WriteLog(w.logPath, {{ITEM_UNINSTALL_KEY, w.uninstallName}}, {}));
    char canonical[PATH_SIZE];
    ASSERT_TRUE(IdentCanonical(w.logPath.c_str(), canonical));
    JournalMark mark;
    ASSERT_TRUE(JournalReadMark(w.logPath.c_str(), &mark));
    uint64_t written = (static_cast<uint64_t>(mark.timeHigh) << 32) | mark.timeLow;
    char byPath[RUN_LOCK_NAME_SIZE], byFile[RUN_LOCK_NAME_SIZE], byReused[RUN_LOCK_NAME_SIZE];
    ASSERT_TRUE(RunLockName(canonical, nullptr, 0, byPath, sizeof byPath));
    ASSERT_TRUE(RunLockName(nullptr, &mark.id, written, byFile, sizeof byFile));
    // The file system gives a deleted log's identity to the next new file: another log.
    ASSERT_TRUE(RunLockName(nullptr, &mark.id, written + 1, byReused, sizeof byReused));
    EXPECT_EQ(std::string("Global\\"), std::string(byPath).substr(0, 7)) << "one lock for every session";
    struct Case {
        const char *lock;
        OtherRun::Mode mode;
        bool busy;
    } cases[] = {
        {byPath, OtherRun::HOLDS, true},  {byFile, OtherRun::HOLDS, true},
        {byPath, OtherRun::DIED, false},  {byFile, OtherRun::DIED, false},
        {byPath, OtherRun::FORBIDS, true}, {byReused, OtherRun::HOLDS, false},
    };
    const std::string logBytes = testfs::ReadBytes(w.logPath);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.lock) + " mode " + std::to_string(c.mode));
        OtherRun other(c.lock, c.mode);
        ASSERT_TRUE(other.ok());
        Reports().clear();
        if (c.busy) {
            EXPECT_EQ(Open(w.logPath), nullptr);
            ASSERT_EQ(Reports().size(), 1u);
            EXPECT_EQ(Reports()[0].code, ERR_BUSY);
        } else {
            ASSERT_NE(Open(w.logPath), nullptr) << "an abandoned lock is free";
            Close();
        }
        EXPECT_EQ(testfs::ReadBytes(w.logPath), logBytes) << "the log is where it was";
        EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
    }
}

TEST_F(SessionTest, SecondRunTakesTheNextWorkingName)
{
    World w("Second");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    ASSERT_TRUE(WriteLog(w.logPath, {{ITEM_UNINSTALL_KEY, w.uninstallName}}, {}));
    ASSERT_TRUE(testfs::WriteBytes(TempLogName(1), "de otra ejecución"));
    ASSERT_NE(Open(w.logPath), nullptr);
    EXPECT_EQ(std::string(session->tempLogPath), TempLogName(2));
    SessionStart(session, 0);
    StepToEnd(session);
    Close();
    EXPECT_EQ(testfs::ReadBytes(TempLogName(1)), "de otra ejecución");
    EXPECT_FALSE(testfs::IsFile(TempLogName(2)));
}

TEST_F(SessionTest, OpeningFailuresAreReported)
{
    World w("Open");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    std::string garbage = w.app + "\\basura.log";
    ASSERT_TRUE(testfs::WriteBytes(garbage, "esto no es un registro de instalación"));
    std::string missing = w.app + "\\no-existe.log";
    std::string tooLong = w.app + "\\" + std::string(300, 'n') + ".log";
    struct Case {
        std::string path;
        int code;
        std::string text;
    } cases[] = {
        {missing, ERR_NO_LOG, missing},
        {"", ERR_NO_LOG, ""},
        {tooLong, ERR_NO_LOG, tooLong},
        {garbage, ERR_BAD_LOG, garbage},
    };
    for (const Case &c : cases) {
        Reports().clear();
        EXPECT_EQ(Open(c.path), nullptr) << c.path;
        ASSERT_EQ(Reports().size(), 1u) << c.path;
        EXPECT_EQ(Reports()[0].code, c.code) << c.path;
        EXPECT_EQ(Reports()[0].text, c.text);
        EXPECT_FALSE(testfs::IsFile(TempLogName(1))) << "no working copy stays behind";
    }
    EXPECT_EQ(testfs::ReadBytes(garbage), "esto no es un registro de instalación");

    // The copy to the working name fails: the log stays as it is and nothing is left behind.
    ASSERT_TRUE(WriteLog(w.logPath, {{ITEM_UNINSTALL_KEY, w.uninstallName}}, {}));
    const std::string logBytes = testfs::ReadBytes(w.logPath);
    HANDLE hold = CreateFileA(w.logPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    Reports().clear();
    EXPECT_EQ(Open(w.logPath), nullptr);
    CloseHandle(hold);
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].code, ERR_COPY_LOG);
    EXPECT_EQ(Reports()[0].text, TempLogName(1));
    EXPECT_EQ(testfs::ReadBytes(w.logPath), logBytes);
    EXPECT_FALSE(testfs::IsFile(TempLogName(1)));
    EXPECT_FALSE(testfs::IsFile(JournalName(1)));
}

// With every pool number taken the engine has nowhere to allocate from: it says so instead of
// leaving each allocation to fail later.
TEST(Engine, InitFailsWithoutAPoolOfItsOwn)
{
    int report = PoolGetOption(POOLOPT_REPORT);
    PoolSetOption(POOLOPT_REPORT, 0);
    std::vector<int> pools;
    for (int pool; (pool = PoolCreate(256, POOL_DEFAULT)) != -1;)
        pools.push_back(pool);
    EXPECT_EQ(EngineInit(0), -1);
    for (int pool : pools)
        PoolDestroy(pool);
    PoolSetOption(POOLOPT_REPORT, report);
    EXPECT_EQ(EngineInit(0), 0);
    EngineShutdown();
}

// Without an uninstall key name a failed run cannot register itself again: the log is not put
// back and the working copy keeps it.
TEST_F(SessionTest, FailedRunWithoutUninstallNameKeepsTheWorkingCopy)
{
    World w("NoName");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    ASSERT_TRUE(WriteLog(w.logPath, {}, {Text("CRK", "-2147483646;System")}));
    std::string logBytes = testfs::ReadBytes(w.logPath);
    const std::string report = w.app + "\\informe.txt";
    ASSERT_TRUE(ReportOpen(report.c_str(), w.logPath.c_str()));
    ASSERT_NE(Open(w.logPath), nullptr);
    SessionStart(session, 0);
    EXPECT_EQ(StepToEnd(session).back(), -1);
    Close();
    ReportClose(1603, 0);
    EXPECT_FALSE(testfs::IsFile(w.logPath));
    EXPECT_EQ(testfs::ReadBytes(TempLogName(1)), logBytes);
    // The report does not claim the log went back.
    EXPECT_NE(std::string::npos,
              testfs::ReadBytes(report).find("Result: failed, the log could not be put back: it "
                                             "stays as " + TempLogName(1)));
}

// A display name that does not fit the session's 101 bytes, or that the registry layer cannot
// read at all, is not shown, and a failed run writes neither a cut nor an empty copy over it.
TEST_F(SessionTest, LongDisplayNameIsLeftAlone)
{
    World w("LongName");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    const std::string fits(SESSION_NAME_SIZE - 1, 'a');
    const std::string tooLong(SESSION_NAME_SIZE, 'b');
    const std::string unreadable(REGISTRY_VALUE_MAX + 1, 'c');
    for (const std::string &name : {fits, tooLong, unreadable}) {
        ASSERT_TRUE(WriteLog(w.logPath, {{ITEM_UNINSTALL_KEY, w.uninstallName}}, {}));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName", name));
        ASSERT_NE(Open(w.logPath), nullptr);
        EXPECT_EQ(std::string(session->displayName), name == fits ? fits : "");
        DeleteValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName");
        Close();
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "DisplayName"),
                  name == fits ? fits : "<missing>");
    }
}

// The repeat command must survive the command line's blank splitting.
TEST_F(SessionTest, LogPathWithBlankIsQuotedInTheUninstallCommand)
{
    World w("Blank");
    std::string dir = w.root / "Archivos de programa";
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    std::string path = dir + "\\install.log";
    ASSERT_TRUE(WriteLog(path, {{ITEM_UNINSTALL_KEY, w.uninstallName}}, {}));
    ASSERT_NE(Open(path), nullptr);
    Close();
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, w.UninstallEntry(), "UninstallString"),
              WindowsDir() + "remover.exe -f\"" + path + "\"");
}

}  // namespace
