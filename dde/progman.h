// Program Manager groups and items, removed through its DDE service ("PROGMAN"). Each operation
// is one complete conversation over the DDE client (initiate, one or two exchanges, terminate)
// and blocks its caller while the message queue is serviced. Used where the Windows major
// version is not 4 (Windows NT 3.x, Win32s). Win32s is the platform flag (base/platform.h); the
// other version tests read GetVersion.
#pragma once

#include <windows.h>

#include "dde/progman_res.h"   // the texts, from the program's string table

constexpr int PROGMAN_COMMAND_SIZE = 3072;     // command buffer, terminator included
constexpr int PROGMAN_FORMAT_LIMIT = 1024;     // wsprintfA output, terminator included
constexpr int PROGMAN_COMMON_SIZE = 148;       // "%s (Common)", terminator included
constexpr int PROGMAN_PATH_SIZE = 264;         // group file path buffer of ProgmanQueryGroup
constexpr int PROGMAN_FIELD_SIZE = 200;        // scratch for the group name and the item count

// Makes the Program Manager's dialog window known: the DDE client's hidden window becomes its
// child when the first operation sets the client up. Call before the first operation.
void ProgmanSetDialogWindow(HWND dialog);

// Group and item names holding , ( ) [ ] or " go into commands in double quotes, a double quote
// inside written twice; other names go as they are.

// Makes group the active group, shown with a ShowWindow command 1..8 (anything else sends
// nothing). 1 when the Program Manager acknowledged the command (even negatively); else 0.
int ProgmanShowGroup(const char *group, int show);
// Reads group's description: its group file into path (PROGMAN_PATH_SIZE bytes; a path that does
// not fit is given as empty) and its item count into *count; *common tells whether the group
// list holds "group (Common)". 1 when a description with an item count was received; else 0
// with path and count unchanged.
int ProgmanQueryGroup(const char *group, char *path, long *count, long *common);
// Deletes item from the active group. 1 when acknowledged; else 0.
int ProgmanDeleteItem(const char *item);
// Deletes group. 1 when acknowledged; else 0.
int ProgmanDeleteGroup(const char *group);
// 1 when the Program Manager carried out the last command sent (a positive acknowledgement);
// 0 when it refused it, or nothing was sent.
int ProgmanCommandAccepted(void);
// Whether the Program Manager's group list holds group (any letter case): 1 listed, 0 not
// listed, -1 when the list could not be had (Windows 3.0 has none).
int ProgmanFindGroup(const char *group);

#ifdef REMOVER_TESTING
// The steps, for tests.

// Sets *flag when the group list holds "group (Common)" in any letter case. 1 when the list was
// received (at once on Win32s, which has no common groups); else 0.
int ProgmanHasCommonGroup(HWND client, HWND server, const char *group, long *flag);
// Parses the first received line, "name",path,count,...: path (PROGMAN_PATH_SIZE bytes) and
// count. Without a line both keep their values. The received lines are dropped. 1 when the
// count field held a number; 0 without a line or digits.
int ParseGroupInfo(char *path, long *count);
// Appends the common-group argument to command (size bytes) unless the platform is Win32s or
// version 4: 1 when appended, 0 when not needed, -1 when it does not fit.
int AppendCommonFlag(char *command, int size);
// Copies the field at source up to delimiter (one byte) or the end into dest (size bytes), one
// whole character at a time; a field that does not fit leaves dest empty. With the double quote
// as delimiter the opening quote is skipped first. Returns the delimiter's position, or the end's.
const char *ScanField(const char *source, char *dest, int size, char delimiter);
#endif
