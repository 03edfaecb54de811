// The DDE client's state: private to dde/ddeclient.cpp, and readable by tests, which build with
// REMOVER_TESTING, to check the waiting flags and the command block after each exchange.
#pragma once

#if !defined(DDE_CLIENT_INTERNAL) && !defined(REMOVER_TESTING)
#error "dde/ddeclient_internal.h is private to the DDE client"
#endif

#include "base/pool.h"
#include "dde/ddeclient.h"

constexpr int DDE_POOL_BLOCK = 6144;             // the client's pool: texts, commands, copies
constexpr int DDE_POOL_FLAGS = POOL_DEFAULT | POOL_GROW | POOL_ZERO;
constexpr int DDE_TEXT_COUNT = 3;                // rotating string-table buffers
constexpr int DDE_TEXT_SIZE = 512;
constexpr SIZE_T DDE_COMMAND_MEMORY = 8192;      // an execute's block, with a smaller fallback
constexpr SIZE_T DDE_COMMAND_MEMORY_LOW = 4096;
constexpr int DDE_UNANSWERED_MAX = 8;            // blocks of timed-out executes remembered

struct DdeClient {
    int initialised;         // DdeInit has run
    int pool;                // the client's pool
    HINSTANCE instance;      // window class and string table
    HWND parentWindow;       // the program's dialog window at DdeInit
    HWND clientWindow;       // hidden client window; null until created
    int windowCreated;       // the client window has been created once
    int initiating;          // only while the initiate broadcast is being sent
    HWND serverWindow;       // sender of the latest initiate acknowledgement; 0 before any
    int terminatePosted;     // the client has posted WM_DDE_TERMINATE in this conversation
    HWND terminateAnswerFrom; // server whose answer to our latest terminate is still due
    int waitingAck;          // an exchange waits for WM_DDE_ACK
    int waitingData;         // a request waits for WM_DDE_DATA
    int negativeAck;         // the last acknowledgement was negative
    int executeAccepted;     // the last execute was acknowledged positively (carried out)
    HGLOBAL commandMemory;   // block of the execute in progress; freed on its acknowledgement
    ATOM requestItem;        // item of the request in progress; 0 when none
    // Blocks of executes that got no answer in time: the server may still hold them, so they
    // are freed only when their late acknowledgement comes.
    HGLOBAL unanswered[DDE_UNANSWERED_MAX];
    int unansweredNext;      // the slot the next one takes
    DWORD timeLimit;         // the wait for an answer; 0 for DDE_TIMEOUT_MS
    StringList *dataLines;   // lines of the last text received, or null
    char *texts[DDE_TEXT_COUNT];
    int textIndex;           // the text buffer used last
};

// The client's state.
const DdeClient *DdeGetClient(void);
// Sets the wait for an answer (and the whole initiate's) to ms; 0 gives back DDE_TIMEOUT_MS.
void DdeSetTimeLimit(DWORD ms);
// Cuts text into lines at CR (a LF right after it goes too) and keeps them as the received
// lines, replacing earlier ones; text is left as it was. 1; 0 when a line could not be stored.
int DdeStoreData(const char *text);
