// Program items and groups: Start Menu shortcuts and folders on Windows 4, and the Program
// Manager path (NT 3.x) against the test Program Manager, down to a whole session.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/strlist.h"
#include "dde/ddeclient.h"
#include "dde/progman.h"
#include "engine/engine.h"
#include "engine/report.h"
#include "engine/session_internal.h"
#include "support/engine_fixture.h"
#include "progman/server_control.h"
#include "support/thread_cpu.h"

using namespace enginetest;
using progman_test::DialogStandIn;
using progman_test::ServerProcess;
using progman_test::ShortTimeLimit;

namespace {

// The DDE client's window is made once per process as a child of the window known at that
// time; every test here shares one stand-in that outlives the sessions' dialogs.
class DdeEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ProgmanSetDialogWindow(DialogStandIn());
        DdeInit(DialogStandIn());
    }
};

const ::testing::Environment *const dde = ::testing::AddGlobalTestEnvironment(new DdeEnvironment);

// The handlers; session, when given, receives what became of the record.
int Item(int mode, const std::vector<std::string> &strings, Session *session = nullptr)
{
    PhaseState state{};
    StringList *list = testlist::Make(strings);
    int r = RemoveProgramItemRecord(&state, mode, session, "", 0, list);
    ListDestroy(list);
    return r;
}

int Group(const std::string &group, Session *session = nullptr)
{
    PhaseState state{};
    return RemoveProgramGroupRecord(&state, PHASE_STEP, session, group.c_str(), 0, nullptr);
}

// ---- Windows 4: shortcut files and folders.

class StartMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        UsePlatform(Os::Windows4);
        programs = dir / "Programas";
        ASSERT_TRUE(CreateDirectoryA(programs.c_str(), nullptr));
        saved = GetValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs");
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", programs));
    }
    void TearDown() override
    {
        if (saved == "<missing>")
            DeleteValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs");
        else
            SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", saved);
        UsePlatform(Os::Other);
    }

    testfs::TempDir dir;
    std::string programs, saved;
};

TEST_F(StartMenu, LinkPaths)
{
    struct Case {
        std::string group, item, folder, link;
    } cases[] = {
        {"Juegos", "Solitario", programs + "\\Juegos\\", programs + "\\Juegos\\Solitario.lnk"},
        {"Juegos", "Leeme.txt", programs + "\\Juegos\\", programs + "\\Juegos\\Leeme.txt"},
        {"Juegos\\Cartas", "Mus", programs + "\\Juegos\\Cartas\\",
         programs + "\\Juegos\\Cartas\\Mus.lnk"},
        {"D:\\Menu\\Grupo", "Uno", "D:\\Menu\\Grupo\\", "D:\\Menu\\Grupo\\Uno.lnk"},
        {"\\Menu", "Uno", "\\Menu\\", "\\Menu\\Uno.lnk"},
        {"Juegos.v2", "Ajedrez", programs + "\\Juegos.v2\\", programs + "\\Juegos.v2\\Ajedrez.lnk"},
    };
    char folder[PATH_SIZE], link[PATH_SIZE];
    for (const Case &c : cases) {
        EXPECT_EQ(ShellLinkPath(c.group.c_str(), c.item.c_str(), folder, link), 1) << c.group;
        EXPECT_EQ(std::string(folder), c.folder);
        EXPECT_EQ(std::string(link), c.link);
    }
    // A link that would not fit a path is refused, not cut: folder, "\G\", item, ".lnk".
    std::string fits(PATH_MAX_BYTES - programs.size() - 7, 'i');
    EXPECT_EQ(ShellLinkPath("G", fits.c_str(), folder, link), 1);
    EXPECT_EQ(std::string(link).size(), size_t(PATH_MAX_BYTES));
    EXPECT_EQ(ShellLinkPath("G", (fits + "i").c_str(), folder, link), 0);

    DeleteValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs");
    ASSERT_EQ(ShellLinkPath("Juegos", "Solitario", folder, link), 1);
    EXPECT_EQ(std::string(link), WindowsDir() + "Start Menu\\Programs\\Juegos\\Solitario.lnk");
}

TEST_F(StartMenu, ShortcutsAndTheirFolder)
{
    std::string group = programs + "\\Parlo";
    ASSERT_TRUE(CreateDirectoryA(group.c_str(), nullptr));
    ASSERT_TRUE(testfs::WriteBytes(group + "\\Parlo.lnk", "l"));
    ASSERT_TRUE(testfs::WriteBytes(group + "\\Ayuda.hlp", "h"));
    ASSERT_TRUE(testfs::WriteBytes(group + "\\Fijo.lnk", "f"));
    ASSERT_TRUE(SetFileAttributesA((group + "\\Fijo.lnk").c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_EQ(Group("Parlo"), 0) << "a folder that still holds shortcuts stays silently";
    EXPECT_TRUE(testfs::IsDir(group));
    struct Case {
        std::vector<std::string> list;
        int result;
    } cases[] = {
        {{"Parlo", "Parlo"}, 0},     {{"Parlo", "Parlo"}, 0},      // already gone: no warning
        {{"Parlo", "Ayuda.hlp"}, 0}, {{"Parlo", "Fijo"}, WARN_ITEM},
        {{"Parlo"}, 0},              {{}, 0},
        {{"Parlo", std::string(PATH_MAX_BYTES + 1, 'x')}, WARN_ITEM},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Item(PHASE_STEP, c.list), c.result) << (c.list.size() > 1 ? c.list[1] : "-");
    }
    EXPECT_FALSE(testfs::IsFile(group + "\\Parlo.lnk"));
    EXPECT_FALSE(testfs::IsFile(group + "\\Ayuda.hlp"));
    EXPECT_EQ(Group("Parlo"), 0);
    EXPECT_TRUE(testfs::IsDir(group));
    SetFileAttributesA((group + "\\Fijo.lnk").c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileA((group + "\\Fijo.lnk").c_str()));
    EXPECT_EQ(Group("Parlo"), 0);
    EXPECT_FALSE(testfs::IsDir(group));
    EXPECT_EQ(Group("Parlo"), 0) << "a folder already gone";

    // Without a group the Programs folder itself is never touched.
    ASSERT_TRUE(testfs::IsDir(programs));
    EXPECT_EQ(Group(""), 0);
    EXPECT_TRUE(testfs::IsDir(programs));

    ASSERT_TRUE(testfs::WriteBytes(programs + "\\Suelto.lnk", "s"));
    for (int mode : {PHASE_END, PHASE_CREATE, PHASE_DESTROY}) {
        EXPECT_EQ(Item(mode, {"", "Suelto"}), 0);
    }
    EXPECT_TRUE(testfs::IsFile(programs + "\\Suelto.lnk"));
}

// ---- Program Manager.

const char GROUPS[] = "Parlo NT\tC:\\WINDOWS\\PARLO.GRP\tUno\tDos\tTres\tCuatro\tCinco\r\n"
                      "Vacio\tC:\\WINDOWS\\VACIO.GRP\r\n"
                      "Utiles\tC:\\WINDOWS\\UTILES.GRP\tReloj\r\n";

std::vector<std::string> Commands(const ServerProcess &server)
{
    std::vector<std::string> out;
    for (const std::string &l : server.Journal())
        if (l.rfind("EXECUTE", 0) == 0 || l.rfind("REQUEST", 0) == 0)
            out.push_back(l);
    return out;
}

class ProgramManager : public ::testing::Test {
protected:
    void SetUp() override
    {
        UsePlatform(Os::Nt3);
        ForgetShownGroup();
        ASSERT_TRUE(server.Start({}, GROUPS));
    }
    void TearDown() override { UsePlatform(Os::Other); }

    ServerProcess server;
};

TEST_F(ProgramManager, FiveItemsOfOneGroupSelectItOnce)
{
    for (const char *item : {"Uno", "Dos", "Tres", "Cuatro", "Cinco"}) {
        EXPECT_EQ(Item(PHASE_STEP, {"Parlo NT", item}), 0) << item;
    }
    std::vector<std::string> expected = {
        "EXECUTE [ShowGroup(Parlo NT,6,1)] -> ACK",
        "EXECUTE [ShowGroup(Parlo NT,1,1)] -> ACK",
    };
    for (const char *item : {"Uno", "Dos", "Tres", "Cuatro", "Cinco"}) {
        expected.push_back("REQUEST PROGMAN format=1 -> DATA");
        expected.push_back("REQUEST Parlo NT format=1 -> DATA");
        expected.push_back(std::string("EXECUTE [DeleteItem(") + item + ")] -> ACK");
    }
    EXPECT_EQ(Commands(server), expected);
    EXPECT_EQ(Group("parlo nt"), 0);
    std::vector<std::string> state = server.State();
    ASSERT_FALSE(state.empty());
    for (const std::string &line : state) {
        EXPECT_EQ(line.find("Parlo NT"), std::string::npos) << line;
    }
}

TEST_F(ProgramManager, WarningsLeaveTheGroupsAsTheyAre)
{
    EXPECT_EQ(Item(PHASE_STEP, {"Vacio", "Nada"}), WARN_ITEM) << "no items to remove";
    EXPECT_EQ(Item(PHASE_STEP, {"Ninguno", "Nada"}), WARN_ITEM) << "unknown group";
    EXPECT_EQ(Group("Utiles"), WARN_GROUP) << "still holds an item";
    EXPECT_EQ(Group("Vacio"), 0);
    EXPECT_EQ(Group("Ninguno"), 0) << "not listed: gone already";
    std::vector<std::string> executed = server.JournalOf("EXECUTE [Delete");
    EXPECT_EQ(executed, (std::vector<std::string>{"EXECUTE [DeleteGroup(Vacio,1)] -> ACK"}));
    std::vector<std::string> state = server.State();
    bool utiles = false;
    for (const std::string &line : state)
        utiles = utiles || line.rfind("Utiles\t", 0) == 0;
    EXPECT_TRUE(utiles);
}

// NT 3.x against a server of the test's own, selection forgotten.
struct NtProgramManager {
    NtProgramManager()
    {
        UsePlatform(Os::Nt3);
        ForgetShownGroup();
    }
    ~NtProgramManager() { UsePlatform(Os::Other); }
    ServerProcess server;
};

// A group goes only when its description shows it empty: one the Program Manager lists but will
// not describe may hold the user's own items and stays.
TEST(ProgramManagerGroups, DeletedOnlyWhenKnownToBeEmpty)
{
    struct Case {
        std::vector<std::string> options;
        const char *group;
        int result;
    } cases[] = {
        {{"--refuse-groups"}, "Utiles", WARN_GROUP},  // listed, holds the user's item
        {{"--refuse-groups"}, "Ninguno", 0},          // not listed: gone already
        {{"--nack-request"}, "Vacio", WARN_GROUP},    // not even the group list
        {{"--reply", "Vacio="}, "Vacio", WARN_GROUP}, // an answer without an item count
    };
    for (const Case &c : cases) {
        NtProgramManager pm;
        ASSERT_TRUE(pm.server.Start(c.options, "Utiles\tC:\\WINDOWS\\UTILES.GRP\tMio\r\n"
                                               "Vacio\tC:\\WINDOWS\\VACIO.GRP\r\n"));
        EXPECT_EQ(Group(c.group), c.result) << c.options[0] << " " << c.group;
        EXPECT_EQ(pm.server.JournalOf("EXECUTE [DeleteGroup").size(), 0u) << c.options[0];
    }
}

// The pause between Program Manager commands lasts its time and sleeps, yet a message sent from
// another thread (as a DDE server's SendMessage is) gets through at once, as before.
TEST(ProgramManagerPause, SleepsButTakesSentMessages)
{
    struct Sender {
        HWND target;
        DWORD doneAt;
        static DWORD WINAPI Run(void *p)
        {
            auto *s = static_cast<Sender *>(p);
            Sleep(100);
            SendMessageA(s->target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("sent"));
            s->doneAt = GetTickCount();
            return 0;
        }
    };
    HWND w = CreateWindowExA(0, "static", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    Sender sender = {w, 0};
    DWORD start = GetTickCount();
    ULONGLONG cpu = ThreadCpuMs();
    HANDLE thread = CreateThread(nullptr, 0, Sender::Run, &sender, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    PauseWithMessages(450);
    DWORD elapsed = GetTickCount() - start;
    cpu = ThreadCpuMs() - cpu;
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    char text[16] = "";
    GetWindowTextA(w, text, sizeof text);
    DestroyWindow(w);
    EXPECT_GE(elapsed, 450u);
    EXPECT_STREQ(text, "sent");
    EXPECT_NE(sender.doneAt, 0u);
    EXPECT_LT(sender.doneAt - start, 400u) << "the sent message waited for the pause to end";
    EXPECT_LT(cpu, 50u) << "the pause spins instead of sleeping";
}

// DeleteItem acts on the active group: an item goes only from the group it was recorded in.
TEST(ProgramManagerItems, OnlyTheNamedItemsGo)
{
    NtProgramManager pm;
    ASSERT_TRUE(pm.server.Start({}, "Utiles\tC:\\WINDOWS\\UTILES.GRP\tReloj\tLeame\r\n"
                                    "Parlo, Demo\tC:\\WINDOWS\\PARLO.GRP\tLeame\r\n"));
    EXPECT_EQ(Item(PHASE_STEP, {"Utiles", "Reloj"}), 0);
    EXPECT_EQ(Item(PHASE_STEP, {"Parlo, Demo", "Leame"}), 0);
    EXPECT_EQ(pm.server.State(), (std::vector<std::string>{
                                     "active=Parlo, Demo", "Utiles\tC:\\WINDOWS\\UTILES.GRP\tLeame",
                                     "Parlo, Demo\tC:\\WINDOWS\\PARLO.GRP"}));
}

TEST(ProgramManagerItems, NoDeletionWhenTheGroupWasNotSelected)
{
    NtProgramManager pm;
    ASSERT_TRUE(pm.server.Start({"--refuse-show"}, "Utiles\tC:\\WINDOWS\\UTILES.GRP\tReloj\r\n"));
    EXPECT_EQ(Item(PHASE_STEP, {"Utiles", "Reloj"}), WARN_ITEM);
    EXPECT_EQ(Item(PHASE_STEP, {"Utiles", "Reloj"}), WARN_ITEM);
    EXPECT_EQ(pm.server.JournalOf("EXECUTE [DeleteItem").size(), 0u);
    EXPECT_EQ(pm.server.JournalOf("EXECUTE [ShowGroup(Utiles,1,1)]").size(), 2u)
        << "a refused selection is not remembered";
}

// A delete command the Program Manager refuses, or answers too late or never, leaves the item or
// group in place: a warning, and an outcome that makes the run end as incomplete.
TEST(ProgramManagerDeletions, RefusedOrUnansweredCommandKeepsWhatItNamed)
{
    struct Case {
        std::vector<std::string> options;
        const char *group, *item;   // no item: the group's own record
        int result, outcome;
    } cases[] = {
        {{"--nack-execute", "--only", "EXECUTE [DeleteItem"}, "Utiles", "Reloj", WARN_ITEM,
         OUTCOME_PROGMAN_REFUSED},
        {{"--late", "1500", "--only", "EXECUTE [DeleteItem"}, "Utiles", "Reloj", WARN_ITEM,
         OUTCOME_PROGMAN_SILENT},
        {{"--silent", "--only", "EXECUTE [DeleteGroup"}, "Vacio", nullptr, WARN_GROUP,
         OUTCOME_PROGMAN_SILENT},
    };
    ShortTimeLimit shortened(1000);
    for (const Case &c : cases) {
        NtProgramManager pm;
        ASSERT_TRUE(pm.server.Start(c.options, "Utiles\tC:\\WINDOWS\\UTILES.GRP\tReloj\r\n"
                                               "Vacio\tC:\\WINDOWS\\VACIO.GRP\r\n"));
        std::unique_ptr<Session> session = std::make_unique<Session>();
        int result = c.item ? Item(PHASE_STEP, {c.group, c.item}, session.get())
                            : Group(c.group, session.get());
        EXPECT_EQ(result, c.result) << c.options[0] << " " << c.group;
        EXPECT_EQ(session->outcome, c.outcome) << c.options[0] << " " << c.group;
        EXPECT_EQ(ReportOutcomeRemains(session->outcome), 1)
            << "the run would not end as incomplete";
    }
}

// A hung program's top-level window takes no initiate: the removal passes it over, in bounded
// time, and still reaches the Program Manager below it.
TEST(ProgramManagerItems, HungWindowDoesNotHoldTheRemovalUp)
{
    NtProgramManager pm;
    ServerProcess hung;
    ASSERT_TRUE(hung.Start({"--hang", "--top", "--lifetime", "60000"}));
    ASSERT_TRUE(pm.server.Start({}, "Utiles\tC:\\WINDOWS\\UTILES.GRP\tReloj\r\n"));
    DWORD start = GetTickCount();
    EXPECT_EQ(Item(PHASE_STEP, {"Utiles", "Reloj"}), 0);
    // Four conversations, four pauses between commands, and some slack for a busy machine.
    EXPECT_LT(GetTickCount() - start, 4 * DDE_INITIATE_WINDOW_MS + 4 * 450 + 4000);
    EXPECT_EQ(pm.server.JournalOf("EXECUTE [DeleteItem(Reloj)] -> ACK").size(), 1u);
}

// A whole run on NT 3.x: the items of one group go and the emptied group with them; a group to
// which the user added an item of his own stays, and the run ends as incomplete.
TEST(ProgramManagerSession, GroupWithTheUsersItemStays)
{
    UsePlatform(Os::Nt3);
    ServerProcess server;
    ASSERT_TRUE(server.Start({}, "Parlo NT\tC:\\WINDOWS\\PARLO.GRP\tUno\tDos\r\n"
                                 "Utiles\tC:\\WINDOWS\\UTILES.GRP\tReloj\tMio\r\n"));
    World w("Pm");
    ASSERT_TRUE(CreateDirectoryA(w.app.c_str(), nullptr));
    ASSERT_TRUE(WriteLog(w.logPath, {{ITEM_UNINSTALL_KEY, w.uninstallName}},
                         {List("API", {"Parlo NT", "Uno"}), List("API", {"Parlo NT", "Dos"}),
                          List("API", {"Utiles", "Reloj"}), Text("CPG", "Parlo NT"),
                          Text("CPG", "Utiles")}));
    EngineInit(0);
    Session *session = SessionCreate(w.logPath.c_str(), RecordReport);
    ASSERT_NE(session, nullptr);
    SessionStart(session, 0);
    std::vector<int> steps = StepToEnd(session);
    EXPECT_EQ(steps.back(), 1);
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(session->incomplete, 1);
    EXPECT_EQ(DialogMessage(session), ClosingText(SessionExitStatus(session)));
    EXPECT_EQ(SessionExitStatus(session), 1) << "the user's item keeps the group";
    SessionClose(session);
    EngineShutdown();
    UsePlatform(Os::Other);

    // Each group is selected once per run of consecutive records naming it.
    EXPECT_EQ(server.JournalOf("EXECUTE [ShowGroup(").size(), 8u);
    EXPECT_EQ(server.JournalOf("EXECUTE [ShowGroup(Parlo NT,6,1)]").size(), 2u);
    EXPECT_EQ(server.JournalOf("EXECUTE [ShowGroup(Utiles,6,1)]").size(), 2u);
    EXPECT_EQ(server.JournalOf("EXECUTE [DeleteItem(").size(), 3u);
    EXPECT_EQ(server.JournalOf("EXECUTE [DeleteGroup(").size(), 1u);
    EXPECT_EQ(server.JournalOf("EXECUTE [DeleteGroup(Parlo NT,1)] -> ACK").size(), 1u);
    std::vector<std::string> state = server.State();
    ASSERT_EQ(state.size(), 2u);
    EXPECT_EQ(state[1], "Utiles\tC:\\WINDOWS\\UTILES.GRP\tMio");
    EXPECT_FALSE(testfs::IsFile(w.logPath));
}

}  // namespace
