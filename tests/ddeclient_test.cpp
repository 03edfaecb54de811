// The DDE client against the Program Manager stand-in running as a separate process.
#include "dde/ddeclient_internal.h"

#include <dde.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/strlist.h"
#include "dde/progman_res.h"
#include "progman/server_control.h"
#include "support/dbcs.h"
#include "support/string_list.h"
#include "support/thread_cpu.h"

using progman_test::DialogStandIn;
using progman_test::PumpFor;
using progman_test::ServerProcess;
using progman_test::ShortTimeLimit;

namespace {

const char GROUPS[] = "Juegos\tC:\\WINDOWS\\JUEGOS.GRP\tSolitario\tBuscaminas\r\n"
                      "Accesorios\tC:\\WINDOWS\\ACCESORI.GRP\tReloj\r\n"
                      "Inicio\tC:\\WINDOWS\\INICIO.GRP\r\n";

void EnsureClient()
{
    if (!DdeIsInitialised()) {
        ASSERT_EQ(1, DdeInit(DialogStandIn()));
    }
}

std::vector<std::string> TakeLines()
{
    StringList *list = ListCreate(0);
    std::vector<std::string> lines;
    if (DdeTakeData(list))
        lines = testlist::Strings(list);
    ListDestroy(list);
    return lines;
}

// Opens a conversation and checks that the stand-in, not another Program Manager, answered.
HWND Connect(const ServerProcess &server)
{
    HWND client = DdeInitiate("PROGMAN", "PROGMAN");
    EXPECT_EQ(DdeGetClient()->clientWindow, client);
    EXPECT_EQ(server.Window(), DdeServerWindow()) << "another server answered last";
    return client;
}

class DdeClientTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureClient(); }

    // Starts the stand-in with the usual groups and opens a conversation with it.
    HWND StartAndConnect(const std::vector<std::string> &options = {})
    {
        ::testing::AssertionResult started = server.Start(options, GROUPS);
        EXPECT_TRUE(started);
        return started ? Connect(server) : nullptr;
    }

    ServerProcess server;
};

TEST_F(DdeClientTest, ClientWindowIsHiddenChildOfTheDialog)
{
    HWND w = DdeGetClient()->clientWindow;
    ASSERT_TRUE(IsWindow(w));
    char name[64];
    GetClassNameA(w, name, sizeof name);
    EXPECT_STREQ("DDEClientWndClass", name);
    GetWindowTextA(w, name, sizeof name);
    EXPECT_STREQ("ClientDDE", name);
    EXPECT_EQ(DialogStandIn(), GetParent(w));
    LONG_PTR style = GetWindowLongPtrA(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_CHILD);
    EXPECT_FALSE(style & WS_VISIBLE);
}

TEST_F(DdeClientTest, RequestAnsweredByDataLeavesItsLinesInOrder)
{
    HWND client = StartAndConnect();
    ASSERT_TRUE(client);
    ASSERT_EQ(1, DdeRequest(client, server.Window(), "PROGMAN"));
    EXPECT_EQ((std::vector<std::string>{"Juegos", "Accesorios", "Inicio"}), TakeLines());
    EXPECT_EQ(0, DdeTakeData(ListCreate(0))) << "the lines were handed over once";
    DdeTerminate(client, server.Window());
    std::vector<std::string> journal = server.Journal();
    journal.resize(2);
    EXPECT_EQ((std::vector<std::string>{"INITIATE PROGMAN PROGMAN -> ACK",
                                        "REQUEST PROGMAN format=1 -> DATA"}),
              journal);
}

// The text as the server sends it, through the real exchange, and the lines the client keeps.
TEST_F(DdeClientTest, ReceivedTextIsCutIntoLinesAtCarriageReturns)
{
    struct Case {
        const char *reply;   // server escapes
        std::vector<std::string> lines;
    } cases[] = {
        {"a\\r\\nb\\r\\n", {"a", "b"}},
        {"a\\r\\nb", {"a", "b"}},
        {"a\\rb\\r", {"a", "b"}},
        {"a\\r\\n\\r\\nb", {"a", "\r\nb"}},        // an empty line joins the next one
        {"a\\nb", {"a\nb"}},                      // LF alone does not end a line
        {"\\r\\n", {"\r\n"}},
    };
    std::vector<std::string> options;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++)
        options.push_back("--reply ITEM" + std::to_string(i) + "=" + cases[i].reply);
    ASSERT_TRUE(server.Start(options));
    HWND client = Connect(server);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        ASSERT_EQ(1, DdeRequest(client, server.Window(), ("ITEM" + std::to_string(i)).c_str()));
        EXPECT_EQ(cases[i].lines, TakeLines()) << "reply " << cases[i].reply;
    }
    DdeTerminate(client, server.Window());
}

TEST_F(DdeClientTest, StoredTextWithoutLinesGivesAnEmptyList)
{
    ASSERT_EQ(1, DdeStoreData(""));
    ASSERT_NE(nullptr, DdeDataLines());
    EXPECT_EQ(0, ListCount(DdeDataLines()));
    DdeDiscardData();
    EXPECT_EQ(nullptr, DdeDataLines());
    EXPECT_EQ(0, DdeTakeData(ListCreate(0)));
}

TEST_F(DdeClientTest, DbcsCarriageReturnAsTrailByteDoesNotEndALine)
{
    REQUIRE_DBCS();
    // 0x83 is a lead byte in code page 932: CharNextA takes the byte after it as its trail.
    ASSERT_EQ(1, DdeStoreData("\x83\r" "x\r\ny"));
    EXPECT_EQ((std::vector<std::string>{"\x83\rx", "y"}), TakeLines());
}

TEST_F(DdeClientTest, NegativeAcknowledgementEndsRequestWithoutWaiting)
{
    HWND client = StartAndConnect({"--nack-request"});
    ASSERT_TRUE(client);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, DdeRequest(client, server.Window(), "Juegos"));
    EXPECT_LT(GetTickCount() - start, 3000u) << "the refusal was not taken as the answer";
    EXPECT_EQ(0, DdeGetClient()->negativeAck);
    EXPECT_EQ(0, DdeGetClient()->waitingAck);
    EXPECT_EQ(nullptr, DdeDataLines());
    DdeTerminate(client, server.Window());
}

TEST_F(DdeClientTest, UnknownItemIsRefusedByTheServer)
{
    HWND client = StartAndConnect();
    ASSERT_TRUE(client);
    EXPECT_EQ(0, DdeRequest(client, server.Window(), "Ninguno"));
    EXPECT_EQ(1, DdeRequest(client, server.Window(), "juegos")) << "names in any letter case";
    DdeDiscardData();
    DdeTerminate(client, server.Window());
}

TEST_F(DdeClientTest, LateAnswerWithinTheTimeLimitArrives)
{
    HWND client = StartAndConnect({"--late 1500"});
    ASSERT_TRUE(client);
    DWORD start = GetTickCount();
    ASSERT_EQ(1, DdeRequest(client, server.Window(), "PROGMAN"));
    EXPECT_GE(GetTickCount() - start, 1400u);
    EXPECT_EQ(3u, TakeLines().size());
    EXPECT_EQ(1, DdeExecute(client, server.Window(), "[ShowGroup(Juegos,1)]"));
    EXPECT_GE(GetTickCount() - start, 2900u);
    DdeTerminate(client, server.Window());
}

// A quit request met during a wait stays for the main loop; the wait goes on to its answer.
TEST_F(DdeClientTest, QuitDuringAWaitIsKeptForTheMainLoop)
{
    HWND client = StartAndConnect({"--late 300"});
    ASSERT_TRUE(client);
    PostQuitMessage(0);
    EXPECT_EQ(1, DdeRequest(client, server.Window(), "PROGMAN"));
    EXPECT_EQ(3u, TakeLines().size());
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    DdeTerminate(client, server.Window());
}

// Text data that asks for an acknowledgement gets a positive one; the block, released to the
// client or kept by the server, is read the same way.
TEST_F(DdeClientTest, TextDataIsAcknowledgedWhenTheServerAsks)
{
    for (const char *keep : {"", "--keep"}) {
        ServerProcess each;
        ASSERT_TRUE(each.Start({"--ackreq", keep}, GROUPS));
        HWND client = Connect(each);
        ASSERT_EQ(1, DdeRequest(client, each.Window(), "PROGMAN"));
        EXPECT_EQ(3u, TakeLines().size());
        EXPECT_TRUE(each.WaitForJournalLine("ACK 8000 PROGMAN", 3000)) << keep;
        DdeTerminate(client, each.Window());
    }
}

// Data in another format is refused with a negative acknowledgement, and nothing is kept. The
// request is posted by hand so that the test need not sit out the request's time limit.
TEST_F(DdeClientTest, NonTextDataIsRefused)
{
    HWND client = StartAndConnect({"--binary"});
    ASSERT_TRUE(client);
    DdeDiscardData();
    ATOM item = GlobalAddAtomA("PROGMAN");
    ASSERT_TRUE(PostMessageA(server.Window(), WM_DDE_REQUEST, (WPARAM)client,
                             PackDDElParam(WM_DDE_REQUEST, CF_TEXT, item)));
    EXPECT_TRUE(server.WaitForJournalLine("ACK 0000 PROGMAN", 5000));
    GlobalDeleteAtom(item);
    EXPECT_EQ(nullptr, DdeDataLines());
    DdeTerminate(client, server.Window());
}

TEST_F(DdeClientTest, ExecuteAnsweredNegativelyStillReturnsOne)
{
    HWND client = StartAndConnect({"--nack-execute"});
    ASSERT_TRUE(client);
    EXPECT_EQ(1, DdeExecute(client, server.Window(), "[ShowGroup(Juegos,1)]"));
    EXPECT_EQ(0, DdeGetClient()->executeAccepted) << "refused: not carried out";
    EXPECT_EQ(0, DdeGetClient()->negativeAck);
    EXPECT_EQ(0, DdeGetClient()->waitingAck);
    DdeTerminate(client, server.Window());
    EXPECT_EQ(1u, server.JournalOf("EXECUTE [ShowGroup(Juegos,1)] -> NACK").size());
}

TEST_F(DdeClientTest, ExecuteSendsEachCommandWhole)
{
    HWND client = StartAndConnect();
    ASSERT_TRUE(client);
    ASSERT_EQ(1, DdeExecute(client, server.Window(), "[ShowGroup(Juegos,1)]"));
    EXPECT_EQ(1, DdeGetClient()->executeAccepted);
    ASSERT_EQ(1, DdeExecute(client, server.Window(), "[DeleteItem(Solitario)]"));
    // A command larger than the block is refused, not cut.
    std::string huge = "[DeleteItem(" + std::string(9000, 'x') + ")]";
    EXPECT_EQ(0, DdeExecute(client, server.Window(), huge.c_str()));
    EXPECT_EQ(0, DdeGetClient()->waitingAck);
    DdeTerminate(client, server.Window());
    EXPECT_EQ((std::vector<std::string>{"EXECUTE [ShowGroup(Juegos,1)] -> ACK",
                                        "EXECUTE [DeleteItem(Solitario)] -> ACK"}),
              server.JournalOf("EXECUTE"));
}

TEST_F(DdeClientTest, SilentServerTimesOutWithFlagsCleared)
{
    HWND client = StartAndConnect({"--silent"});
    ASSERT_TRUE(client);
    const DWORD limit = 2000;
    ShortTimeLimit shortened(limit);
    DWORD start = GetTickCount();
    ULONGLONG cpuBefore = ThreadCpuMs();
    EXPECT_EQ(0, DdeRequest(client, server.Window(), "PROGMAN"));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, limit);
    EXPECT_LT(elapsed, limit + 3000);
    EXPECT_LT(ThreadCpuMs() - cpuBefore, 500u) << "the wait spins instead of sleeping";
    EXPECT_EQ(0, DdeGetClient()->waitingAck);
    EXPECT_EQ(0, DdeGetClient()->waitingData);
    EXPECT_EQ(0, DdeGetClient()->negativeAck);
    DdeTerminate(client, server.Window());
    EXPECT_EQ(1u, server.JournalOf("REQUEST PROGMAN format=1 -> NONE").size());
}

TEST_F(DdeClientTest, ServerAnswerToOurTerminateIsNotAnsweredAgain)
{
    HWND client = StartAndConnect();
    ASSERT_TRUE(client);
    DdeTerminate(client, server.Window());
    ASSERT_TRUE(server.WaitForJournalLine("TERMINATE -> TERMINATE", 3000));
    PumpFor(500);
    EXPECT_EQ(1u, server.JournalOf("TERMINATE").size()) << "the client answered an answer";
}

// The program opens its next conversation at once; the answer to the last terminate then comes in
// during the next exchange and must not be taken for the server ending the new conversation.
TEST_F(DdeClientTest, LateAnswerToTerminateInTheNextConversationIsNotAnswered)
{
    HWND client = StartAndConnect();
    ASSERT_TRUE(client);
    DdeTerminate(client, server.Window());
    client = Connect(server);
    ASSERT_EQ(1, DdeRequest(client, server.Window(), "PROGMAN"));
    DdeDiscardData();
    DdeTerminate(client, server.Window());
    PumpFor(500);
    EXPECT_EQ(2u, server.JournalOf("TERMINATE").size()) << "the client answered an answer";
}

TEST_F(DdeClientTest, TerminateFromTheServerIsAnswered)
{
    HWND client = StartAndConnect({"--hangup"});
    ASSERT_TRUE(client);
    EXPECT_EQ(1, DdeExecute(client, server.Window(), "[ShowGroup(Juegos,1)]"));
    EXPECT_TRUE(server.WaitForJournalLine("TERMINATE", 3000))
        << "the server's terminate got no answer";
}

// The server of the last conversation has not accepted a new one it did not answer.
TEST_F(DdeClientTest, InitiateNobodyAnswersLeavesNoServer)
{
    HWND client = StartAndConnect();
    ASSERT_TRUE(client);
    DdeTerminate(client, server.Window());
    EXPECT_EQ(client, DdeInitiate("NoSuchService", "NoSuchTopic"));
    EXPECT_EQ(nullptr, DdeServerWindow());
}

// An answer that comes in after its exchange timed out belongs to no later exchange: a late
// acceptance does not make the next command's refusal look accepted, and late data for one item
// is not taken for another's. The late acknowledgement gives the timed-out block back.
TEST_F(DdeClientTest, LateAnswersAreNotTakenForTheNextExchange)
{
    ShortTimeLimit shortened(1500);
    HWND client = StartAndConnect({"--late", "2000", "--only", "EXECUTE [ShowGroup(Juegos"});
    ASSERT_TRUE(client);
    EXPECT_EQ(0, DdeExecute(client, server.Window(), "[ShowGroup(Juegos,1)]"));
    EXPECT_EQ(1, DdeExecute(client, server.Window(), "[ShowGroup(Ninguno,1)]"));
    EXPECT_EQ(0, DdeGetClient()->executeAccepted) << "the late acceptance was taken for a refusal";
    for (HGLOBAL block : DdeGetClient()->unanswered)
        EXPECT_EQ(nullptr, block) << "the late acknowledgement did not free its block";
    DdeTerminate(client, server.Window());

    ServerProcess slowList;
    ASSERT_TRUE(slowList.Start({"--late", "2000", "--only", "REQUEST PROGMAN"}, GROUPS));
    client = Connect(slowList);
    EXPECT_EQ(0, DdeRequest(client, slowList.Window(), "PROGMAN"));
    ASSERT_EQ(1, DdeRequest(client, slowList.Window(), "Juegos"));
    std::vector<std::string> lines = TakeLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("\"Juegos\",C:\\WINDOWS\\JUEGOS.GRP,2,1", lines[0])
        << "the late group list was taken";
    DdeTerminate(client, slowList.Window());
}

// A broadcast reaches top-level windows from the top of the z-order down; the client keeps the
// last server to answer. The stand-in relies on this to win over Wine's own Program Manager.
TEST_F(DdeClientTest, LastServerToAnswerTheInitiateIsKept)
{
    ServerProcess top, bottom;
    ASSERT_TRUE(top.Start({"--top"}, GROUPS));
    ASSERT_TRUE(bottom.Start({}, GROUPS));
    HWND client = DdeInitiate("PROGMAN", "PROGMAN");
    EXPECT_EQ(bottom.Window(), DdeServerWindow());
    EXPECT_EQ(1u, top.JournalOf("INITIATE PROGMAN PROGMAN -> ACK").size());
    DdeTerminate(client, bottom.Window());
    DdeTerminate(client, top.Window());
}

TEST_F(DdeClientTest, TextsRotateThroughThreeBuffers)
{
    char *a = DdeLoadText(IDS_PM_SERVICE);
    char *b = DdeLoadText(IDS_PM_CLOSE);
    char *c = DdeLoadText(IDS_PM_SHOWGROUP);
    ASSERT_TRUE(a && b && c);
    EXPECT_STREQ("PROGMAN", a);
    EXPECT_STREQ(")]", b);
    EXPECT_STREQ("[ShowGroup(", c);
    EXPECT_TRUE(a != b && b != c && a != c);
    EXPECT_EQ(a, DdeLoadText(IDS_PM_COMMA)) << "the fourth load reuses the first buffer";
    EXPECT_STREQ(",", a);
    EXPECT_EQ(nullptr, DdeLoadText(9999));
}

TEST_F(DdeClientTest, PumpDispatchesAndPutsQuitBack)
{
    HWND dialog = DialogStandIn();
    PostMessageA(dialog, WM_NULL, 0, 0);
    EXPECT_EQ(0, PumpMessages(DDE_PUMP_ALL));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, dialog, 0, 0, PM_NOREMOVE)) << "waiting messages remain";
    PostQuitMessage(0);
    EXPECT_EQ(PUMP_QUIT, PumpMessages(DDE_PUMP_ALL));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the quit request must stay for the main loop";
    EXPECT_EQ(0, PumpMessages(DDE_PUMP_ALL));
}

}  // namespace
