// DdeClient: a small synchronous DDE client over the raw DDE messages (no DDE management
// library), used to talk to the Program Manager. One hidden child window of the program's dialog
// receives the server's messages; each exchange posts a message and then services the message
// queue, without sleeping, until the answer arrives or DDE_TIMEOUT_MS have passed. The state is
// process-wide: one conversation at a time, one thread.
#pragma once

#include <windows.h>

struct StringList;

constexpr DWORD DDE_TIMEOUT_MS = 12000;          // longest wait for an answer
constexpr DWORD DDE_PUMP_ALL = 0xFFFFFFFF;       // PumpMessages limit: until the queue is empty
constexpr int DDE_POOL_BLOCK = 6144;             // the client's pool: texts, commands, copies
constexpr int DDE_POOL_FLAGS = 0x1003;           // zero-filled, may grow
constexpr int DDE_TEXT_COUNT = 3;                // rotating string-table buffers
constexpr int DDE_TEXT_SIZE = 512;
constexpr SIZE_T DDE_COMMAND_MEMORY = 8192;      // the execute block, with a smaller fallback
constexpr SIZE_T DDE_COMMAND_MEMORY_LOW = 4096;
constexpr int PUMP_QUIT = -2;                    // PumpMessages met a quit request

constexpr char DDE_CLIENT_CLASS[] = "DDEClientWndClass";
constexpr char DDE_CLIENT_TITLE[] = "ClientDDE";

// The client's process-wide state, readable for tests (DdeGetClient).
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
    HGLOBAL commandMemory;   // block carrying execute commands, allocated once and reused
    StringList *dataLines;   // lines of the last text received, or null
    char *texts[DDE_TEXT_COUNT];
    int textIndex;           // the text buffer used last
};

// Creates the pool and the hidden client window (a child of parent). 1; 0 when the pool cannot
// be created. Callers run it once, while the client is not initialised.
int DdeInit(HWND parent);
// The client's state.
const DdeClient *DdeGetClient(void);

// Broadcasts WM_DDE_INITIATE (an empty name is a wildcard). Returns the client window, or null
// when there is none; whether a server answered shows only through DdeServerWindow.
HWND DdeInitiate(const char *application, const char *topic);
// The server of the latest acknowledged initiate: the last one to answer, 0 before any.
HWND DdeServerWindow(void);
// Requests item as text: 1 when data arrived in time (its lines then wait for DdeTakeData);
// 0 on a negative acknowledgement or a time-out.
int DdeRequest(HWND client, HWND server, const char *item);
// Sends command: 1 when acknowledged in time, positively or negatively; 0 on failure or time-out.
// Whether the server carried it out (a positive acknowledgement) is left in executeAccepted.
int DdeExecute(HWND client, HWND server, const char *command);
// Posts WM_DDE_TERMINATE; the server's answer is absorbed whenever it arrives. 1.
int DdeTerminate(HWND client, HWND server);

// Appends every received line, first to last, to target and drops them from the client:
// 1; 0 when there are no received lines.
int DdeTakeData(StringList *target);
// Destroys the received lines. 1.
int DdeDiscardData(void);
// Cuts text into lines at CR (a LF right after it goes too) and keeps them as the received
// lines, replacing earlier ones; text is left as it was. 1; 0 when a line could not be stored.
int DdeStoreData(const char *text);
// The received lines, or null; they stay owned by the client.
StringList *DdeDataLines(void);

// A string-table text in one of the rotating buffers, valid until three further loads; null
// when the string does not exist or the buffers cannot be had.
char *DdeLoadText(UINT id);
// The client's pool number (-1 before DdeInit), for buffers of the Program Manager operations.
int DdePool(void);

// Removes and dispatches waiting messages until the queue is empty or more than limit ms have
// passed. 0, or PUMP_QUIT when a quit request was met (it is posted again for the main loop).
int PumpMessages(DWORD limit);
