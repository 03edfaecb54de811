// DdeClient: a small synchronous DDE client over the raw DDE messages (no DDE management
// library), used to talk to the Program Manager. One hidden child window of the program's dialog
// receives the server's messages; each exchange posts a message and then services the message
// queue, sleeping only until the next message, until the answer arrives or DDE_TIMEOUT_MS have
// passed. The client is opaque and process-wide: one conversation at a time, one thread.
#pragma once

#include <windows.h>

struct StringList;

constexpr DWORD DDE_TIMEOUT_MS = 12000;          // longest wait for an answer, or for an initiate
// Longest wait for one top-level window to take the initiate: a live window does so at once,
// and a hung one must not hold up the conversation.
constexpr DWORD DDE_INITIATE_WINDOW_MS = 1000;
constexpr DWORD DDE_PUMP_ALL = 0xFFFFFFFF;       // PumpMessages limit: until the queue is empty
constexpr int PUMP_QUIT = -2;                    // PumpMessages met a quit request

constexpr char DDE_CLIENT_CLASS[] = "DDEClientWndClass";
constexpr char DDE_CLIENT_TITLE[] = "ClientDDE";

// Creates the pool and the hidden client window (a child of parent). 1; 0 when the pool cannot
// be created. Callers run it once, while the client is not initialised.
int DdeInit(HWND parent);
// 1 once DdeInit has set the client up; else 0.
int DdeIsInitialised(void);

// Sends WM_DDE_INITIATE to every top-level window from the top of the z-order down (an empty
// name is a wildcard), each given at most DDE_INITIATE_WINDOW_MS and all of them DDE_TIMEOUT_MS,
// so that a hung window anywhere cannot stop the caller. Returns the client window, or null when
// there is none; whether a server answered shows only through DdeServerWindow.
HWND DdeInitiate(const char *application, const char *topic);
// The server of this conversation: the last one to answer its initiate; 0 when none did.
HWND DdeServerWindow(void);
// Requests item as text: 1 when data arrived in time (its lines then wait for DdeTakeData);
// 0 on a negative acknowledgement or a time-out. Only the server's answers naming item count.
int DdeRequest(HWND client, HWND server, const char *item);
// Sends command in a block of its own: 1 when acknowledged in time, positively or negatively;
// 0 on failure or time-out. Only the server's acknowledgement of this very block counts.
int DdeExecute(HWND client, HWND server, const char *command);
// 1 when the last execute was acknowledged positively (the server carried it out); else 0.
int DdeExecuteAccepted(void);
// Posts WM_DDE_TERMINATE; the server's answer is absorbed whenever it arrives.
void DdeTerminate(HWND client, HWND server);

// Appends every received line, first to last, to target and drops them from the client:
// 1; 0 when there are no received lines.
int DdeTakeData(StringList *target);
// Destroys the received lines.
void DdeDiscardData(void);
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
