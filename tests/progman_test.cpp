// Program Manager operations against the stand-in server, under the Windows versions that Wine
// can pretend to be (the program copies itself and runs the copy under each version).
#include "dde/progman.h"

#include <gtest/gtest.h>

#include <limits.h>

#include <string>
#include <vector>

#include "base/platform.h"
#include "base/strlist.h"
#include "dde/ddeclient_internal.h"
#include "progman/server_control.h"
#include "support/dbcs.h"

using progman_test::DialogStandIn;
using progman_test::ExeDirectory;
using progman_test::ReadFileText;
using progman_test::ServerProcess;

namespace {

const char GROUPS[] = "Juegos\tC:\\WINDOWS\\JUEGOS.GRP\tSolitario\tBuscaminas\r\n"
                      "Accesorios\tC:\\WINDOWS\\ACCESORI.GRP\tReloj\r\n"
                      "Vacío\tC:\\WINDOWS\\VACIO.GRP\r\n";

// What the commands look like under one Windows version, as Wine emulates it.
struct VersionCase {
    const char *name;          // Wine's version name; "default" for an unchanged prefix
    int major, minor, win32s;  // what GetVersion must then report (-1: not checked)
    int platformWin32s;        // the shell's Win32s flag on this version
    const char *commonSuffix;  // common-group argument of ShowGroup and DeleteGroup
    bool asksForGroupList;     // the description query first fetches the group list
    bool deletesItems;         // DeleteItem and the description query are available
};

const VersionCase VERSIONS[] = {
    {"default", -1, -1, -1, 0, ",1", true, true},
    {"nt351", 3, 51, 0, 0, ",1", true, true},
    {"win31", 3, 10, 1, 1, "", false, true},   // Win32s
    {"win30", 3, 0, 1, 1, "", false, false},   // Windows 3.0
    {"nt40", 4, 0, 0, 0, "", true, true},
    {"win95", 4, 0, 1, 0, "", true, true},
};

const char VERSION_VARIABLE[] = "PROGMAN_TEST_VERSION";

const VersionCase &CurrentVersion()
{
    char name[32] = "default";
    GetEnvironmentVariableA(VERSION_VARIABLE, name, sizeof name);
    for (const VersionCase &v : VERSIONS)
        if (lstrcmpA(v.name, name) == 0)
            return v;
    ADD_FAILURE() << "unknown version " << name;
    return VERSIONS[0];
}

class ProgmanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Platform platform{};
        platform.isWin32s = CurrentVersion().platformWin32s;
        PlatformSet(&platform);
        ProgmanSetDialogWindow(DialogStandIn());
        ASSERT_TRUE(server.Start({}, GROUPS));
    }

    // Lines of the journal after the server's start, initiates and terminates left out.
    std::vector<std::string> Exchanges() const
    {
        std::vector<std::string> out;
        for (const std::string &l : server.Journal())
            if (l.rfind("INITIATE", 0) != 0 && l.rfind("TERMINATE", 0) != 0)
                out.push_back(l);
        return out;
    }

    ServerProcess server;
};

// ---- under every version -----------------------------------------------------------------------

class ProgmanCommands : public ProgmanTest {};

TEST_F(ProgmanCommands, RunsUnderTheExpectedVersion)
{
    const VersionCase &v = CurrentVersion();
    if (v.major < 0)
        GTEST_SKIP() << "the prefix's own version";
    DWORD version = GetVersion();
    EXPECT_EQ(v.major, LOBYTE(LOWORD(version))) << v.name;
    EXPECT_EQ(v.minor, HIBYTE(LOWORD(version))) << v.name;
    EXPECT_EQ(v.win32s, (version & 0x80000000u) ? 1 : 0) << v.name;
}

TEST_F(ProgmanCommands, ShowGroupSendsTheShowValueAndCommonArgument)
{
    const VersionCase &v = CurrentVersion();
    std::vector<std::string> expected;
    for (int show = 0; show <= 9; show++) {
        int sent = show >= 1 && show <= 8;
        EXPECT_EQ(sent, ProgmanShowGroup("Juegos", show)) << "show " << show;
        if (sent)
            expected.push_back("EXECUTE [ShowGroup(Juegos," + std::to_string(show) +
                               v.commonSuffix + ")] -> ACK");
    }
    EXPECT_EQ(expected, Exchanges()) << v.name;
    EXPECT_EQ("active=Juegos", server.State()[0]);
}

TEST_F(ProgmanCommands, DeleteGroupCarriesTheCommonArgument)
{
    const VersionCase &v = CurrentVersion();
    EXPECT_EQ(1, ProgmanDeleteGroup("Accesorios"));
    EXPECT_EQ((std::vector<std::string>{std::string("EXECUTE [DeleteGroup(Accesorios") +
                                        v.commonSuffix + ")] -> ACK"}),
              Exchanges()) << v.name;
    for (const std::string &line : server.State())
        EXPECT_EQ(std::string::npos, line.find("Accesorios"));
}

TEST_F(ProgmanCommands, AppendCommonFlagFollowsTheVersion)
{
    const VersionCase &v = CurrentVersion();
    char command[8] = "[X(a";
    EXPECT_EQ(v.commonSuffix[0] ? 1 : 0, AppendCommonFlag(command, sizeof command));
    EXPECT_EQ(std::string("[X(a") + v.commonSuffix, command);
    if (v.commonSuffix[0]) {
        char full[6] = "[X(ab";
        EXPECT_EQ(-1, AppendCommonFlag(full, sizeof full)) << "no room: refused";
        EXPECT_STREQ("[X(ab", full);
    }
}

TEST_F(ProgmanCommands, ItemRemovalFromTheActiveGroup)
{
    const VersionCase &v = CurrentVersion();
    char path[PROGMAN_PATH_SIZE] = "unchanged";
    long count = -5, common = -5;
    ASSERT_EQ(1, ProgmanShowGroup("Juegos", 1));
    EXPECT_EQ(v.deletesItems ? 1 : 0, ProgmanQueryGroup("Juegos", path, &count, &common));
    EXPECT_EQ(v.deletesItems ? 1 : 0, ProgmanDeleteItem("Solitario"));

    std::vector<std::string> expected = {"EXECUTE [ShowGroup(Juegos,1" + std::string(v.commonSuffix) +
                                         ")] -> ACK"};
    if (v.deletesItems) {
        EXPECT_STREQ("C:\\WINDOWS\\JUEGOS.GRP", path);
        EXPECT_EQ(2, count);
        EXPECT_EQ(0, common);
        if (v.asksForGroupList)
            expected.push_back("REQUEST PROGMAN format=1 -> DATA");
        expected.push_back("REQUEST Juegos format=1 -> DATA");
        expected.push_back("EXECUTE [DeleteItem(Solitario)] -> ACK");
    } else {
        EXPECT_STREQ("unchanged", path);
        EXPECT_EQ(-5, count);
    }
    EXPECT_TRUE(progman_test::SameJournal(expected, Exchanges())) << v.name;
    // Every conversation opened was closed, and every close was answered once.
    EXPECT_TRUE(server.WaitForCount("TERMINATE", server.JournalOf("INITIATE").size(), 3000));
}

// ---- behaviour that does not depend on the version ---------------------------------------------

class ProgmanOps : public ProgmanTest {};

TEST_F(ProgmanOps, QueryCommonCounterpartInAnyLetterCase)
{
    struct Case {
        const char *group;
        long common;
    } cases[] = {
        {"Juegos", 1},      // "JUEGOS (COMMON)" in the list below
        {"juegos", 1},
        {"Accesorios", 1},  // "accesorios (common)"
        {"Vacío", 0},       // only "Vacío(Common)" and "Vacío (Common) 2"
    };
    ServerProcess common;
    ASSERT_TRUE(common.Start({}, std::string(GROUPS) +
                                     "JUEGOS (COMMON)\tC:\\J.GRP\r\n"
                                     "accesorios (common)\tC:\\A.GRP\r\n"
                                     "Vacío(Common)\tC:\\V.GRP\r\n"
                                     "Vacío (Common) 2\tC:\\V2.GRP\r\n"));
    for (const Case &c : cases) {
        char path[PROGMAN_PATH_SIZE] = "";
        long count = 0, flag = -1;
        ASSERT_EQ(1, ProgmanQueryGroup(c.group, path, &count, &flag)) << c.group;
        EXPECT_EQ(c.common, flag) << c.group;
    }
}

TEST_F(ProgmanOps, QueryOfAnUnknownGroupFailsAndKeepsTheOutputs)
{
    char path[PROGMAN_PATH_SIZE] = "kept";
    long count = 42, common = 0;
    EXPECT_EQ(0, ProgmanQueryGroup("Ninguno", path, &count, &common));
    EXPECT_STREQ("kept", path);
    EXPECT_EQ(42, count);
    EXPECT_TRUE(progman_test::SameJournal({"REQUEST PROGMAN format=1 -> DATA",
                                           "REQUEST Ninguno format=1 -> NACK"},
                                          Exchanges()));
    EXPECT_TRUE(server.WaitForJournalLine("TERMINATE -> TERMINATE", 3000));
}

TEST_F(ProgmanOps, QueryStopsWhenTheGroupListIsRefused)
{
    ServerProcess refusing;
    ASSERT_TRUE(refusing.Start({"--nack-request"}, GROUPS));
    char path[PROGMAN_PATH_SIZE] = "kept";
    long count = 3, common = 0;
    EXPECT_EQ(0, ProgmanQueryGroup("Juegos", path, &count, &common));
    EXPECT_EQ(3, count);
    EXPECT_EQ((std::vector<std::string>{"REQUEST PROGMAN format=1 -> NACK"}),
              refusing.JournalOf("REQUEST"));
    EXPECT_TRUE(refusing.WaitForJournalLine("TERMINATE -> TERMINATE", 3000));
}

TEST_F(ProgmanOps, RefusedCommandsStillCountAsDone)
{
    EXPECT_EQ(1, ProgmanDeleteGroup("Ninguno"));
    EXPECT_EQ(1, ProgmanShowGroup("Ninguno", 6));
    EXPECT_EQ((std::vector<std::string>{"EXECUTE [DeleteGroup(Ninguno,1)] -> NACK",
                                        "EXECUTE [ShowGroup(Ninguno,6,1)] -> NACK"}),
              Exchanges());
}

TEST_F(ProgmanOps, GroupRemovalAsTheEngineDoesIt)
{
    char path[PROGMAN_PATH_SIZE] = "";
    long count = 0, common = 0;
    ProgmanShowGroup("Juegos", 6);
    ProgmanShowGroup("Juegos", 1);
    ASSERT_EQ(1, ProgmanQueryGroup("Juegos", path, &count, &common));
    ASSERT_EQ(2, count);
    ProgmanDeleteItem("Solitario");
    ProgmanDeleteItem("BUSCAMINAS");
    count = 0;
    ASSERT_EQ(1, ProgmanQueryGroup("Juegos", path, &count, &common));
    EXPECT_EQ(0, count);
    EXPECT_EQ(1, ProgmanDeleteGroup("Juegos"));
    std::vector<std::string> state = server.State();
    EXPECT_EQ((std::vector<std::string>{"active=", "Accesorios\tC:\\WINDOWS\\ACCESORI.GRP\tReloj",
                                        "Vacío\tC:\\WINDOWS\\VACIO.GRP"}),
              state);
}

// A description longer than one block of the client's pool (its item lines) still gives the
// count of its first line.
TEST_F(ProgmanOps, LongDescriptionStillGivesTheCount)
{
    std::string groups = "Grande\tC:\\WINDOWS\\GRANDE.GRP";
    for (int i = 0; i < 600; i++)
        groups += "\tElemento " + std::to_string(i);
    ServerProcess big;
    ASSERT_TRUE(big.Start({}, groups + "\r\n"));
    char path[PROGMAN_PATH_SIZE] = "";
    long count = 0, common = 0;
    ASSERT_EQ(1, ProgmanQueryGroup("Grande", path, &count, &common));
    EXPECT_STREQ("C:\\WINDOWS\\GRANDE.GRP", path);
    EXPECT_EQ(600, count);
}

// Names too long for the command are not sent cut short: nothing is sent at all.
TEST_F(ProgmanOps, OverlongNamesAreRefusedNotCut)
{
    std::string item(1009, 'i');       // "[DeleteItem(" + 1009 + ")]" is 1023 characters
    EXPECT_EQ(1, ProgmanDeleteItem(item.c_str()));
    EXPECT_EQ(0, ProgmanDeleteItem((item + "i").c_str()));
    std::string group(3072 - 18, 'g');  // "[ShowGroup(" + group + ",1,1)]" fills 3071 characters
    EXPECT_EQ(1, ProgmanShowGroup(group.c_str(), 1));
    EXPECT_EQ(0, ProgmanShowGroup((group + "g").c_str(), 1));
    EXPECT_EQ(0, ProgmanDeleteGroup((group + "ggggg").c_str()));
    std::vector<std::string> sent = server.JournalOf("EXECUTE");
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ("EXECUTE [DeleteItem(" + item + ")] -> NACK", sent[0]);
    EXPECT_EQ("EXECUTE [ShowGroup(" + group + ",1,1)] -> NACK", sent[1]);
}

// Names holding the commands' separators go in double quotes and reach the right group and item.
TEST_F(ProgmanOps, NamesWithSeparatorsAreQuoted)
{
    struct Case {
        const char *name, *quoted;
    } cases[] = {
        {"A,B", "\"A,B\""}, {"A(B", "\"A(B\""}, {"A)B", "\"A)B\""},
        {"A[B", "\"A[B\""}, {"A]B", "\"A]B\""}, {"Di \"A\"", "\"Di \"\"A\"\"\""},
    };
    std::string groups;
    for (const Case &c : cases)
        groups += std::string(c.name) + "\tC:\\G.GRP\t" + c.name + "\r\n";
    ServerProcess named;
    ASSERT_TRUE(named.Start({}, groups));
    std::vector<std::string> expected;
    for (const Case &c : cases) {
        std::string quoted = c.quoted;
        EXPECT_EQ(1, ProgmanShowGroup(c.name, 1));
        EXPECT_EQ(1, ProgmanDeleteItem(c.name));
        EXPECT_EQ(1, ProgmanDeleteGroup(c.name));
        expected.push_back("EXECUTE [ShowGroup(" + quoted + ",1,1)] -> ACK");
        expected.push_back("EXECUTE [DeleteItem(" + quoted + ")] -> ACK");
        expected.push_back("EXECUTE [DeleteGroup(" + quoted + ",1)] -> ACK");
    }
    EXPECT_EQ(expected, named.JournalOf("EXECUTE"));
    EXPECT_EQ(std::vector<std::string>{"active="}, named.State());
}

// ---- parsing the description -------------------------------------------------------------------

TEST(ProgmanParse, GroupDescriptionGivesPathAndCount)
{
    if (!DdeIsInitialised()) {
        ASSERT_EQ(1, DdeInit(DialogStandIn()));
    }
    std::string longPath = "C:\\" + std::string(PROGMAN_PATH_SIZE, 'p');
    struct Case {
        std::string text;
        const char *path;
        long count;
        int counted;   // the count field held a number
    } cases[] = {
        {"\"Juegos\",C:\\WINDOWS\\JUEGOS.GRP,7,1,0,extra\r\n\"Solitario\"", "C:\\WINDOWS\\JUEGOS.GRP", 7, 1},
        {"\"Juegos\",C:\\WINDOWS\\JUEGOS.GRP,7", "C:\\WINDOWS\\JUEGOS.GRP", 7, 1},
        {"\"A, B\",C:\\AB.GRP,3,1", "C:\\AB.GRP", 3, 1},          // a comma inside the quotes
        {"\"G\",C:\\G.GRP, -12,1", "C:\\G.GRP", -12, 1},          // blanks and a sign
        {"\"G\",C:\\G.GRP,7x,1", "C:\\G.GRP", 7, 1},              // stops at a non-digit
        {"\"G\",C:\\G.GRP,,1", "C:\\G.GRP", 0, 0},                // no digits
        {"\"G\",C:\\G.GRP,x7,1", "C:\\G.GRP", 0, 0},
        {"\"G\",C:\\G.GRP,99999999999999,1", "C:\\G.GRP", LONG_MAX, 1},
        {"\"G\"", "", 0, 0},                                       // cut short: nothing past the end
        {"\"G", "", 0, 0},
        {"\"G\"," + longPath + ",5,1", "", 5, 1},                  // a path too long is refused
    };
    for (const Case &c : cases) {
        char path[PROGMAN_PATH_SIZE] = "before";
        long count = -1;
        ASSERT_EQ(1, DdeStoreData(c.text.c_str()));
        EXPECT_EQ(c.counted, ParseGroupInfo(path, &count)) << c.text;
        EXPECT_STREQ(c.path, path) << c.text;
        EXPECT_EQ(c.count, count) << c.text;
        EXPECT_EQ(nullptr, DdeDataLines()) << "the lines are dropped";
    }
    // No line at all: both keep their values.
    char path[PROGMAN_PATH_SIZE] = "before";
    long count = 9;
    ASSERT_EQ(1, DdeStoreData(""));
    EXPECT_EQ(0, ParseGroupInfo(path, &count));
    EXPECT_STREQ("before", path);
    EXPECT_EQ(9, count);
}

TEST(ProgmanParse, ScanFieldStopsAtTheDelimiterOrTheEnd)
{
    struct Case {
        const char *source;
        char delimiter;
        int size;
        const char *field;
        int stop;   // offset of the returned position
    } cases[] = {
        {"abc,def", ',', 16, "abc", 3},
        {"abc", ',', 16, "abc", 3},
        {"\"na,me\",x", '"', 16, "na,me", 6},
        {"", '"', 16, "", 0},
        {"abcd,e", ',', 4, "", 4},    // does not fit: refused, position still found
        {"abc,e", ',', 4, "abc", 3},
    };
    for (const Case &c : cases) {
        char field[16] = "x";
        const char *stop = ScanField(c.source, field, c.size, c.delimiter);
        EXPECT_STREQ(c.field, field) << c.source;
        EXPECT_EQ(c.stop, stop - c.source) << c.source;
    }
}

// ---- double-byte names -------------------------------------------------------------------------

// 0x83 is a lead byte in code page 932; CharNextA takes the comma after it as its trail byte.
#define DBCS_TRAIL_COMMA "\x83,"

TEST(ProgmanParse, DbcsTrailCommaDoesNotEndAField)
{
    REQUIRE_DBCS();
    if (!DdeIsInitialised()) {
        ASSERT_EQ(1, DdeInit(DialogStandIn()));
    }
    char field[16];
    const char *source = "a" DBCS_TRAIL_COMMA "b,c";
    EXPECT_EQ(source + 4, ScanField(source, field, sizeof field, ','));
    EXPECT_STREQ("a" DBCS_TRAIL_COMMA "b", field);

    char path[PROGMAN_PATH_SIZE] = "";
    long count = 0;
    ASSERT_EQ(1, DdeStoreData("\"Ju" DBCS_TRAIL_COMMA "gos\",C:\\JU" DBCS_TRAIL_COMMA
                              "GOS.GRP,7,1"));
    ParseGroupInfo(path, &count);
    EXPECT_STREQ("C:\\JU" DBCS_TRAIL_COMMA "GOS.GRP", path);
    EXPECT_EQ(7, count);
}

TEST(ProgmanDbcs, DbcsGroupNameReachesTheServerWhole)
{
    REQUIRE_DBCS();
    const char *group = "Ju" DBCS_TRAIL_COMMA "gos";
    ServerProcess server;
    ASSERT_TRUE(server.Start({}, std::string(group) + "\tC:\\JU.GRP\tReloj\r\n"));
    ASSERT_EQ("READY acp=932", server.StartLine()) << "the server must share the code page";
    ProgmanSetDialogWindow(DialogStandIn());
    EXPECT_EQ(1, ProgmanShowGroup(group, 1));
    EXPECT_EQ(1, ProgmanDeleteItem("Reloj"));
    EXPECT_EQ(1, ProgmanDeleteGroup(group));
    EXPECT_EQ((std::vector<std::string>{"EXECUTE [ShowGroup(" + std::string(group) + ",1,1)] -> ACK",
                                        "EXECUTE [DeleteItem(Reloj)] -> ACK",
                                        "EXECUTE [DeleteGroup(" + std::string(group) + ",1)] -> ACK"}),
              server.JournalOf("EXECUTE"));
}

// ---- the versions, through Wine's version emulation --------------------------------------------

std::string RunUnderVersion(const char *version, DWORD *exitCode)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exeName = std::string("progman_test_") + version + ".exe";
    std::string copy = ExeDirectory() + "\\" + exeName;
    std::string output = ExeDirectory() + "\\" + exeName + ".out";
    if (!CopyFileA(self, copy.c_str(), FALSE))
        return "cannot copy the test program";
    std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    HKEY k;
    RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                    nullptr);
    RegSetValueExA(k, "Version", 0, REG_SZ, (const BYTE *)version, lstrlenA(version) + 1);
    RegCloseKey(k);

    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                             0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = out;
    std::string cmd = "\"" + copy + "\" --gtest_filter=ProgmanCommands.*";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    SetEnvironmentVariableA(VERSION_VARIABLE, version);
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessA(copy.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &si, &pi);
    SetEnvironmentVariableA(VERSION_VARIABLE, nullptr);
    CloseHandle(out);
    *exitCode = 999;
    if (started) {
        // The child's initiates are sent to every top-level window, this program's too: keep
        // answering while waiting.
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 100000 &&
               MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 100, QS_ALLINPUT) !=
                   WAIT_OBJECT_0)
            PumpMessages(DDE_PUMP_ALL);
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 998);
        GetExitCodeProcess(pi.hProcess, exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    std::string text = ReadFileText(output);
    DeleteFileA(output.c_str());
    DeleteFileA(copy.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    return text;
}

TEST(ProgmanVersions, CommandsUnderEachEmulatedVersion)
{
    char parent[8] = "";
    if (GetEnvironmentVariableA(VERSION_VARIABLE, parent, sizeof parent))
        GTEST_SKIP() << "already a run under an emulated version";
    for (const VersionCase &v : VERSIONS) {
        if (lstrcmpA(v.name, "default") == 0)
            continue;
        DWORD code = 0;
        std::string output = RunUnderVersion(v.name, &code);
        EXPECT_EQ(0u, code) << "under " << v.name << ":\n" << output;
        EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 5 tests"))
            << "under " << v.name << ":\n" << output;
    }
}

}  // namespace
