#define DDE_CLIENT_INTERNAL
#include "dde/ddeclient_internal.h"

#include <dde.h>

#include "base/pool.h"
#include "base/str.h"
#include "base/strlist.h"

constexpr WORD DDE_FLAG_ACKREQ = 0x8000;    // DDEDATA flags word
constexpr WORD DDE_FLAG_RELEASE = 0x2000;
constexpr WORD DDE_STATUS_ACK = 0x8000;     // DDEACK fAck
constexpr SIZE_T DDE_DATA_HEADER = 4;       // flags word and clipboard format before the value

static DdeClient client;

const DdeClient *DdeGetClient(void)
{
    return &client;
}

int DdeIsInitialised(void)
{
    return client.initialised ? 1 : 0;
}

int DdeExecuteAccepted(void)
{
    return client.executeAccepted ? 1 : 0;
}

int DdePool(void)
{
    return client.initialised ? client.pool : -1;
}

HWND DdeServerWindow(void)
{
    return client.serverWindow;
}

void DdeSetTimeLimit(DWORD ms)
{
    client.timeLimit = ms;
}

static DWORD TimeLimit(void)
{
    return client.timeLimit ? client.timeLimit : DDE_TIMEOUT_MS;
}

StringList *DdeDataLines(void)
{
    return client.dataLines;
}

// ---- received text -----------------------------------------------------------------------------

// One character further, never past end: CharNextA reads a trail byte only when one is there.
static const char *NextInText(const char *p, const char *end)
{
    if (end - p < 2)
        return p + 1;
    return StrNextChar(p);
}

static int AddLine(StringList *lines, const char *start, const char *end)
{
    unsigned length = (unsigned)(end - start);
    // Longer than a block of the client's pool: refused here rather than by the pool's error box.
    if (length + 1 > (unsigned)DDE_POOL_BLOCK)
        return 0;
    char *copy = (char *)PoolAlloc(client.pool, length + 1);
    if (!copy)
        return 0;
    StrCopyBytes(copy, start, length);
    copy[length] = '\0';
    ListLast(lines);
    int added = ListAdd(lines, copy);
    PoolFree(client.pool, copy);
    return added;
}

// A line ends at the first CR after its first character, so an empty line is joined to the next
// one; the LF of a CR LF pair goes with the CR. Each line is copied on its own, so a long answer
// needs no single pool block of its whole size.
static int StoreLines(const char *text, const char *end)
{
    DdeDiscardData();
    client.dataLines = ListCreate(0);
    if (!client.dataLines)
        return 0;
    const char *start = text;
    while (start < end) {
        const char *p = NextInText(start, end);
        while (p < end && *p != '\r')
            p = NextInText(p, end);
        if (!AddLine(client.dataLines, start, p))
            return 0;
        if (p < end) {
            p++;
            if (p < end && *p == '\n')
                p++;
        }
        start = p;
    }
    return 1;
}

int DdeStoreData(const char *text)
{
    if (!client.initialised || !text)
        return 0;
    return StoreLines(text, text + StrByteLength(text));
}

int DdeTakeData(StringList *target)
{
    if (!client.dataLines || !target)
        return 0;
    // Each line goes in after the one added before it, behind the target's cursor.
    for (char *line = (char *)ListFirst(client.dataLines); line;
         line = (char *)ListNext(client.dataLines))
        ListAdd(target, line);
    DdeDiscardData();
    return 1;
}

void DdeDiscardData(void)
{
    if (client.dataLines) {
        ListDestroy(client.dataLines);
        client.dataLines = nullptr;
    }
}

// ---- texts -------------------------------------------------------------------------------------

char *DdeLoadText(UINT id)
{
    if (!client.initialised)
        return nullptr;
    for (int i = 0; i < DDE_TEXT_COUNT; i++) {
        if (!client.texts[i])
            client.texts[i] = (char *)PoolAlloc(client.pool, DDE_TEXT_SIZE);
        if (!client.texts[i])
            return nullptr;
    }
    client.textIndex = (client.textIndex + 1) % DDE_TEXT_COUNT;
    char *text = client.texts[client.textIndex];
    if (LoadStringA(client.instance, id, text, DDE_TEXT_SIZE) <= 0)
        return nullptr;
    return text;
}

// ---- the client window -------------------------------------------------------------------------

static void OnInitiateAck(HWND server)
{
    client.terminatePosted = 0;
    client.serverWindow = server;
}

// The server may still read the block of an execute it did not acknowledge in time: the block
// is kept until its late acknowledgement. When all slots are taken the oldest is left to it.
static void KeepUnanswered(HGLOBAL block)
{
    client.unanswered[client.unansweredNext] = block;
    client.unansweredNext = (client.unansweredNext + 1) % DDE_UNANSWERED_MAX;
}

static void ReleaseUnanswered(UINT_PTR handle)
{
    for (HGLOBAL &block : client.unanswered)
        if (block && (UINT_PTR)block == handle) {
            GlobalFree(block);
            block = nullptr;
        }
}

// Whether an acknowledgement from sender naming item (a request's atom or an execute's block)
// answers the exchange in progress; anything else is an earlier exchange's late answer.
static int AnswersExchange(HWND sender, UINT_PTR item)
{
    if (!client.waitingAck || !sender || sender != client.serverWindow)
        return 0;
    if (client.requestItem)
        return item == client.requestItem;
    return client.commandMemory && item == (UINT_PTR)client.commandMemory;
}

static void OnAck(HWND sender, LPARAM lParam)
{
    // A sent acknowledgement answers an initiate that was given up on: its atoms are not packed,
    // and it must not be taken for the answer to an exchange.
    if (InSendMessage())
        return;
    UINT_PTR status = 0, item = 0;
    UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
    FreeDDElParam(WM_DDE_ACK, lParam);
    if (!AnswersExchange(sender, item)) {
        ReleaseUnanswered(item);
        return;
    }
    // The server is done with the command block once it has answered.
    if (!client.requestItem) {
        GlobalFree(client.commandMemory);
        client.commandMemory = nullptr;
    }
    client.waitingAck = 0;
    // Only fAck makes an acknowledgement positive; a busy server's answer is a refusal too.
    if (!(status & DDE_STATUS_ACK))
        client.negativeAck = 1;
}

static void PostAck(HWND self, HWND server, LPARAM lParam, WORD status, UINT_PTR item)
{
    LPARAM ack = ReuseDDElParam(lParam, WM_DDE_DATA, WM_DDE_ACK, status, item);
    PostMessageA(server, WM_DDE_ACK, (WPARAM)self, ack);
}

// Data not taken: a server that asks is refused and keeps its block; a block released to the
// client goes.
static void RefuseData(HWND self, HWND sender, LPARAM lParam, HGLOBAL data, WORD flags,
                       UINT_PTR item)
{
    if (flags & DDE_FLAG_ACKREQ) {
        PostAck(self, sender, lParam, 0, item);
        return;
    }
    FreeDDElParam(WM_DDE_DATA, lParam);
    if (flags & DDE_FLAG_RELEASE)
        GlobalFree(data);
}

static void OnData(HWND self, HWND sender, LPARAM lParam)
{
    UINT_PTR handle = 0, item = 0;
    if (!UnpackDDElParam(WM_DDE_DATA, lParam, &handle, &item))
        return;
    // Only the answer to the request in progress, from its server, is taken.
    int current = client.waitingData && sender && sender == client.serverWindow &&
                  item == client.requestItem;
    HGLOBAL data = (HGLOBAL)handle;
    const BYTE *block = data ? (const BYTE *)GlobalLock(data) : nullptr;
    if (!block) {
        FreeDDElParam(WM_DDE_DATA, lParam);
        if (current)
            client.waitingData = 0;
        return;
    }
    SIZE_T size = GlobalSize(data);
    WORD flags = 0, format = 0;
    if (size >= DDE_DATA_HEADER) {
        StrCopyBytes(&flags, block, 2);
        StrCopyBytes(&format, block + 2, 2);
    }
    // Text in another format is refused too, and the request runs into its time-out.
    if (!current || ((flags & DDE_FLAG_ACKREQ) && format != CF_TEXT)) {
        GlobalUnlock(data);
        RefuseData(self, sender, lParam, data, flags, item);
        return;
    }
    // The value is measured within the block: a server's text need not be terminated.
    if (size > DDE_DATA_HEADER) {
        const char *text = (const char *)block + DDE_DATA_HEADER;
        SIZE_T length = 0;
        while (length < size - DDE_DATA_HEADER && text[length])
            length++;
        StoreLines(text, text + length);
    } else {
        StoreLines("", "");
    }
    GlobalUnlock(data);
    if (flags & DDE_FLAG_ACKREQ)
        PostAck(self, sender, lParam, DDE_STATUS_ACK, item);
    else
        FreeDDElParam(WM_DDE_DATA, lParam);
    if (flags & DDE_FLAG_RELEASE)
        GlobalFree(data);
    client.waitingData = 0;
}

static void OnTerminate(HWND self, HWND sender)
{
    // The answer to our terminate needs none, even when it comes in only after the next
    // conversation has begun: answering it would end that conversation at a server that keeps
    // one window for all of them.
    if (sender == client.terminateAnswerFrom) {
        client.terminateAnswerFrom = nullptr;
        return;
    }
    // A terminate we did not start: the server ended the conversation and gets its answer.
    if (!client.terminatePosted)
        PostMessageA(sender, WM_DDE_TERMINATE, (WPARAM)self, 0);
}

static LRESULT CALLBACK DdeClientWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(msg)) {
    case WM_DDE_ACK:
        if (client.initiating)
            OnInitiateAck((HWND)wParam);
        else
            OnAck((HWND)wParam, lParam);
        return 0;
    case WM_DDE_DATA:
        OnData(hwnd, (HWND)wParam, lParam);
        return 0;
    case WM_DDE_TERMINATE:
        OnTerminate(hwnd, (HWND)wParam);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

static void CreateClientWindow(void)
{
    if (client.windowCreated)
        return;
    WNDCLASSA wc;
    if (!GetClassInfoA(client.instance, DDE_CLIENT_CLASS, &wc)) {
        wc = WNDCLASSA{};
        wc.lpfnWndProc = DdeClientWndProc;
        wc.hInstance = client.instance;
        wc.lpszClassName = DDE_CLIENT_CLASS;
        RegisterClassA(&wc);
    }
    HWND window = CreateWindowExA(0, DDE_CLIENT_CLASS, DDE_CLIENT_TITLE, WS_CHILD, 0, 0, 0, 0,
                                  client.parentWindow, nullptr, client.instance, nullptr);
    if (window) {
        client.clientWindow = window;
        client.windowCreated = 1;
    }
}

int DdeInit(HWND parent)
{
    int pool = PoolCreate(DDE_POOL_BLOCK, DDE_POOL_FLAGS);
    if (pool == -1)
        return 0;
    client.pool = pool;
    client.instance = GetModuleHandleA(nullptr);
    client.parentWindow = parent;
    CreateClientWindow();
    client.initialised = 1;
    return 1;
}

// ---- the conversation --------------------------------------------------------------------------

int PumpMessages(DWORD limit)
{
    DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE))
            return 0;
        if (msg.message == WM_QUIT) {
            // The main loop still has to see it.
            PostQuitMessage(0);
            return PUMP_QUIT;
        }
        GetMessageA(&msg, nullptr, 0, 0);
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        if (GetTickCount() - start > limit)
            return 0;
    }
}

// Services the queue while *flag1 and *flag2 are set and less than the time-out has passed;
// returns the time spent. Between passes the thread sleeps until a message comes (the answer,
// a timer, a repaint) rather than spinning a core; an answer that comes in only on the pass that
// ends the wait still counts as too late.
static DWORD WaitFor(const int *flag1, const int *flag2)
{
    DWORD start = GetTickCount();
    DWORD elapsed = 0;
    DWORD limit = TimeLimit();
    while (*flag1 == 1 && *flag2 == 1 && elapsed < limit) {
        PumpMessages(DDE_PUMP_ALL);
        elapsed = GetTickCount() - start;
        if (*flag1 == 1 && *flag2 == 1 && elapsed < limit)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, limit - elapsed, QS_ALLINPUT);
    }
    return elapsed;
}

static int ClientWindowAlive(void)
{
    // The window goes with its parent dialog; a handle left behind must not be used.
    return client.clientWindow && IsWindow(client.clientWindow);
}

struct InitiateRound {
    HWND client;
    LPARAM names;
    DWORD start;
};

// Offers the conversation to one top-level window, as long as the round has time left. A window
// that does not take the message in time (a hung program, a busy one) is passed over.
static BOOL CALLBACK OfferConversation(HWND window, LPARAM param)
{
    const InitiateRound *round = (const InitiateRound *)param;
    DWORD elapsed = GetTickCount() - round->start;
    if (elapsed >= TimeLimit())
        return FALSE;
    DWORD wait = TimeLimit() - elapsed;
    if (wait > DDE_INITIATE_WINDOW_MS)
        wait = DDE_INITIATE_WINDOW_MS;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_DDE_INITIATE, (WPARAM)round->client, round->names,
                        SMTO_ABORTIFHUNG, wait, &result);
    return TRUE;
}

HWND DdeInitiate(const char *application, const char *topic)
{
    if (!ClientWindowAlive())
        return nullptr;
    ATOM app = application && application[0] ? GlobalAddAtomA(application) : 0;
    ATOM top = topic && topic[0] ? GlobalAddAtomA(topic) : 0;
    // A server of an earlier conversation that does not answer now has not accepted this one.
    client.serverWindow = nullptr;
    // The windows one by one rather than a broadcast, which waits for every one of them as long
    // as it takes. The order is the broadcast's: top of the z-order first.
    InitiateRound round = {client.clientWindow, MAKELPARAM(app, top), GetTickCount()};
    client.initiating = 1;
    EnumWindows(OfferConversation, (LPARAM)&round);
    client.initiating = 0;
    if (app)
        GlobalDeleteAtom(app);
    if (top)
        GlobalDeleteAtom(top);
    return client.clientWindow;
}

// Each exchange starts afresh: nothing an earlier one left (a refusal, a time-out) carries over.
static void ClearExchange(void)
{
    client.waitingAck = client.waitingData = client.negativeAck = 0;
    client.executeAccepted = 0;
    client.requestItem = 0;
}

int DdeRequest(HWND clientWindow, HWND server, const char *item)
{
    // An item without an atom (a name of more than 255 characters) cannot be asked for.
    ATOM atom = GlobalAddAtomA(item);
    if (!atom)
        return 0;
    ClearExchange();
    client.requestItem = atom;
    client.waitingData = 1;
    client.waitingAck = 1;
    LPARAM lParam = PackDDElParam(WM_DDE_REQUEST, CF_TEXT, atom);
    if (!PostMessageA(server, WM_DDE_REQUEST, (WPARAM)clientWindow, lParam)) {
        FreeDDElParam(WM_DDE_REQUEST, lParam);
        GlobalDeleteAtom(atom);
        ClearExchange();
        return 0;
    }
    DWORD elapsed = WaitFor(&client.waitingData, &client.waitingAck);
    int answered = client.waitingData != 1 || client.waitingAck != 1;
    int refused = client.negativeAck;
    ClearExchange();
    // Unanswered, the atom is left to the server: while it lives, its value cannot come back
    // for another item and make a late answer look like that item's.
    if (answered)
        GlobalDeleteAtom(atom);
    // An answer that came in only on the pass that ended the wait is too late all the same.
    return answered && elapsed < TimeLimit() && !refused;
}

// A block of its own for command; null when none can be had or the command does not fit.
static HGLOBAL NewCommandBlock(const char *command)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, DDE_COMMAND_MEMORY);
    if (!block)
        block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, DDE_COMMAND_MEMORY_LOW);
    if (!block)
        return nullptr;
    char *text = (char *)GlobalLock(block);
    SIZE_T length = (SIZE_T)StrByteLength(command);
    // A command that does not fit is refused, never sent cut short.
    if (!text || length + 1 > GlobalSize(block)) {
        if (text)
            GlobalUnlock(block);
        GlobalFree(block);
        return nullptr;
    }
    StrCopyBytes(text, command, (unsigned)(length + 1));
    GlobalUnlock(block);
    return block;
}

int DdeExecute(HWND clientWindow, HWND server, const char *command)
{
    ClearExchange();
    HGLOBAL block = NewCommandBlock(command);
    if (!block)
        return 0;
    LPARAM lParam = PackDDElParam(WM_DDE_EXECUTE, 0, (UINT_PTR)block);
    client.commandMemory = block;
    client.waitingAck = 1;
    if (!PostMessageA(server, WM_DDE_EXECUTE, (WPARAM)clientWindow, lParam)) {
        FreeDDElParam(WM_DDE_EXECUTE, lParam);
        GlobalFree(block);
        client.commandMemory = nullptr;
        client.waitingAck = 0;
        return 0;
    }
    WaitFor(&client.waitingAck, &client.waitingAck);
    if (client.waitingAck == 1) {
        KeepUnanswered(block);
        client.commandMemory = nullptr;
        ClearExchange();
        return 0;
    }
    // The acknowledgement freed the block. The Program Manager's refusal still ends the exchange.
    client.executeAccepted = !client.negativeAck;
    client.negativeAck = 0;
    return 1;
}

void DdeTerminate(HWND clientWindow, HWND server)
{
    client.terminatePosted = 1;
    client.terminateAnswerFrom = server;
    PostMessageA(server, WM_DDE_TERMINATE, (WPARAM)clientWindow, 0);
}
