#include "dde/progman.h"

#include <limits.h>

#include "base/platform.h"
#include "base/pool.h"
#include "base/str.h"
#include "base/strlist.h"
#include "dde/ddeclient.h"

static const char DELETEITEM_FORMAT[] = "[DeleteItem(%s)]";
static const char COMMON_ARGUMENT_FORMAT[] = ",%ld";
static const char GROUP_LIST_ITEM[] = "PROGMAN";
static const char COMMON_GROUP_FORMAT[] = "%s (Common)";
static const int COMMON_GROUP_EXTRA = 9;   // " (Common)"

// The common-group argument of ShowGroup and DeleteGroup; nothing in the program changes it.
static long commonGroupFlag = 1;
static HWND dialogWindow;
// The last command was carried out, not merely answered.
static int commandAccepted;

void ProgmanSetDialogWindow(HWND dialog)
{
    dialogWindow = dialog;
}

// ---- versions (GetVersion: low byte major, next byte minor) -------------------------------------

static int MajorVersion(void)
{
    return LOBYTE(LOWORD(GetVersion()));
}

// Win32s as the shell detected it at start-up, so that every layer agrees on it.
static int IsWin32s(void)
{
    return PlatformGet()->isWin32s;
}

static int IsWindows30(void)
{
    DWORD version = GetVersion();
    return LOBYTE(LOWORD(version)) == 3 && HIBYTE(LOWORD(version)) < 10;
}

static int IsVersion4(void)
{
    return MajorVersion() == 4;
}

// ---- command building --------------------------------------------------------------------------

// Appends text to the command in buf (size bytes); 0, leaving buf as it was, when it does not fit.
static int Append(char *buf, int size, const char *text)
{
    if (!text)
        return 0;
    int used = StrByteLength(buf);
    int length = StrByteLength(text);
    if (used + length + 1 > size)
        return 0;
    StrCopyBytes(buf + used, text, (unsigned)length + 1);
    return 1;
}

static int AppendText(char *buf, int size, UINT id)
{
    return Append(buf, size, DdeLoadText(id));
}

// A name holding one of these would be cut or misread by the Program Manager's argument parser.
static int NeedsQuotes(const char *name)
{
    for (const char *p = name; *p; p = StrNextChar(p)) {
        if (StrNextChar(p) - p != 1)
            continue;
        switch (*p) {
        case ',': case '(': case ')': case '[': case ']': case '"':
            return 1;
        }
    }
    return 0;
}

// Appends name as one command argument: as it is when plain, else in double quotes with each
// double quote inside doubled. 0, leaving buf as it was, when it does not fit.
static int AppendName(char *buf, int size, const char *name)
{
    if (!NeedsQuotes(name))
        return Append(buf, size, name);
    int start = StrByteLength(buf);
    int used = start;
    const char *p = name;
    if (used + 1 >= size)
        return 0;
    buf[used++] = '"';
    while (*p) {
        const char *next = StrNextChar(p);
        int length = (int)(next - p);
        int quote = length == 1 && *p == '"';
        if (used + length + quote + 2 >= size) {   // room for the closing quote and terminator
            buf[start] = '\0';
            return 0;
        }
        if (quote)
            buf[used++] = '"';
        StrCopyBytes(buf + used, p, (unsigned)length);
        used += length;
        p = next;
    }
    buf[used++] = '"';
    buf[used] = '\0';
    return 1;
}

int AppendCommonFlag(char *command, int size)
{
    if (IsWin32s() || IsVersion4())
        return 0;
    char argument[16];
    wsprintfA(argument, COMMON_ARGUMENT_FORMAT, commonGroupFlag);
    return Append(command, size, argument) ? 1 : -1;
}

// ---- one conversation --------------------------------------------------------------------------

struct Conversation {
    HWND client;
    HWND server;
    char *command;   // from the DDE client's pool, or null
};

// Sets the client up on first use and opens a conversation with the Program Manager.
static int Open(Conversation *c)
{
    c->client = c->server = nullptr;
    c->command = nullptr;
    if (!DdeIsInitialised())
        DdeInit(dialogWindow);
    const char *service = DdeLoadText(IDS_PM_SERVICE);
    if (!service)
        return 0;
    c->client = DdeInitiate(service, service);
    c->server = DdeServerWindow();
    return c->client && c->server;
}

static char *NewCommand(Conversation *c)
{
    c->command = (char *)PoolAlloc(DdePool(), PROGMAN_COMMAND_SIZE);
    if (c->command)
        c->command[0] = '\0';
    return c->command;
}

static void Close(Conversation *c)
{
    DdeTerminate(c->client, c->server);
    if (c->command)
        PoolFree(DdePool(), c->command);
    c->command = nullptr;
    DdeDiscardData();
}

// Sends the command built in c, or nothing when it could not be built; ends the conversation.
static int ExecuteAndClose(Conversation *c, int built)
{
    int result = built ? DdeExecute(c->client, c->server, c->command) : 0;
    commandAccepted = result && DdeExecuteAccepted();
    Close(c);
    return result;
}

static int AppendShowArgument(char *buf, int show)
{
    if (show == 1)
        return AppendText(buf, PROGMAN_COMMAND_SIZE, IDS_PM_SHOW1);
    char digits[16];
    wsprintfA(digits, "%d", show);
    return Append(buf, PROGMAN_COMMAND_SIZE, digits);
}

// Sends the group command verb (its text id) for group, with the show argument unless show
// is 0, then the common-group argument, in a conversation of its own.
static int SendGroupCommand(UINT verb, const char *group, int show)
{
    Conversation c;
    if (!Open(&c))
        return 0;
    char *cmd = NewCommand(&c);
    int built = cmd && AppendText(cmd, PROGMAN_COMMAND_SIZE, verb) &&
                AppendName(cmd, PROGMAN_COMMAND_SIZE, group) &&
                (show == 0 || (AppendText(cmd, PROGMAN_COMMAND_SIZE, IDS_PM_COMMA) &&
                               AppendShowArgument(cmd, show))) &&
                AppendCommonFlag(cmd, PROGMAN_COMMAND_SIZE) >= 0 &&
                AppendText(cmd, PROGMAN_COMMAND_SIZE, IDS_PM_CLOSE);
    return ExecuteAndClose(&c, built);
}

int ProgmanShowGroup(const char *group, int show)
{
    commandAccepted = 0;
    if (show < 1 || show > 8)
        return 0;
    return SendGroupCommand(IDS_PM_SHOWGROUP, group, show);
}

int ProgmanDeleteGroup(const char *group)
{
    commandAccepted = 0;
    return SendGroupCommand(IDS_PM_DELETEGROUP, group, 0);
}

int ProgmanDeleteItem(const char *item)
{
    commandAccepted = 0;
    if (IsWindows30())
        return 0;
    Conversation c;
    if (!Open(&c))
        return 0;
    char *cmd = NewCommand(&c);
    char name[PROGMAN_FORMAT_LIMIT];
    name[0] = '\0';
    // wsprintfA stops at its limit: an item name that would be cut is not sent at all.
    int fits = AppendName(name, sizeof name, item) &&
               StrByteLength(name) + (int)sizeof DELETEITEM_FORMAT - 3 < PROGMAN_FORMAT_LIMIT;
    if (cmd && fits)
        wsprintfA(cmd, DELETEITEM_FORMAT, name);
    return ExecuteAndClose(&c, cmd && fits);
}

int ProgmanCommandAccepted(void)
{
    return commandAccepted;
}

// ---- group list and description ----------------------------------------------------------------

static int IsCommonCounterpart(const char *line, const char *group)
{
    char text[PROGMAN_COMMON_SIZE];
    // A name too long for the buffer has no counterpart the program could have made.
    if (StrByteLength(group) + COMMON_GROUP_EXTRA + 1 > PROGMAN_COMMON_SIZE)
        return 0;
    wsprintfA(text, COMMON_GROUP_FORMAT, group);
    return lstrcmpiA(text, line) == 0;
}

int ProgmanHasCommonGroup(HWND client, HWND server, const char *group, long *flag)
{
    *flag = 0;
    if (IsWin32s())
        return 1;
    if (!DdeRequest(client, server, GROUP_LIST_ITEM))
        return 0;
    StringList *groups = ListCreate(0);
    if (!DdeTakeData(groups)) {
        ListDestroy(groups);
        return 0;
    }
    for (const char *line = (const char *)ListFirst(groups); line;
         line = (const char *)ListNext(groups)) {
        if (IsCommonCounterpart(line, group)) {
            *flag = 1;
            break;
        }
    }
    ListDestroy(groups);
    return 1;
}

const char *ScanField(const char *source, char *dest, int size, char delimiter)
{
    const char *p = source;
    if (delimiter == '"')
        p = StrNextChar(p);
    int used = 0;
    int fits = 1;
    while (*p) {
        const char *next = StrNextChar(p);
        int length = (int)(next - p);
        if (length == 1 && *p == delimiter)
            break;
        if (fits && used + length < size) {
            StrCopyBytes(dest + used, p, (unsigned)length);
            used += length;
        } else {
            fits = 0;
        }
        p = next;
    }
    dest[fits ? used : 0] = '\0';
    return p;
}

// Decimal value: leading blanks and a sign allowed, stops at the first non-digit, 0 without
// digits (*digits tells which); a value beyond the range of a long is held at its limit.
static long ParseCount(const char *text, int *digits)
{
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f')
        p++;
    int negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    long value = 0;
    *digits = *p >= '0' && *p <= '9';
    for (; *p >= '0' && *p <= '9'; p++) {
        int digit = *p - '0';
        if (value > (LONG_MAX - digit) / 10)
            return negative ? LONG_MIN : LONG_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

int ParseGroupInfo(char *path, long *count)
{
    const char *p = (const char *)ListFirst(DdeDataLines());
    int counted = 0;
    if (p) {
        char scratch[PROGMAN_FIELD_SIZE];
        p = ScanField(p, scratch, sizeof scratch, '"');
        // Past the closing quote and the comma; a short line leaves p at its end.
        p = StrNextChar(StrNextChar(p));
        p = ScanField(p, path, PROGMAN_PATH_SIZE, ',');
        p = StrNextChar(p);
        ScanField(p, scratch, sizeof scratch, ',');
        *count = ParseCount(scratch, &counted);
    }
    DdeDiscardData();
    return counted;
}

int ProgmanQueryGroup(const char *group, char *path, long *count, long *common)
{
    if (IsWindows30())
        return 0;
    Conversation c;
    if (!Open(&c))
        return 0;
    if (!ProgmanHasCommonGroup(c.client, c.server, group, common) ||
        !DdeRequest(c.client, c.server, group)) {
        DdeTerminate(c.client, c.server);
        return 0;
    }
    // Only a description that gives an item count tells anything: a partial one changes nothing.
    char groupFile[PROGMAN_PATH_SIZE];
    long items = 0;
    groupFile[0] = '\0';
    int described = ParseGroupInfo(groupFile, &items);
    if (described) {
        StrCopyBytes(path, groupFile, (unsigned)StrByteLength(groupFile) + 1);
        *count = items;
    }
    Close(&c);
    return described;
}

int ProgmanFindGroup(const char *group)
{
    if (IsWindows30())
        return -1;
    Conversation c;
    if (!Open(&c))
        return -1;
    int found = -1;
    StringList *groups = nullptr;
    if (DdeRequest(c.client, c.server, GROUP_LIST_ITEM) && (groups = ListCreate(0)) &&
        DdeTakeData(groups)) {
        found = 0;
        for (const char *line = (const char *)ListFirst(groups); line && !found;
             line = (const char *)ListNext(groups))
            found = lstrcmpiA(line, group) == 0;
    }
    if (groups)
        ListDestroy(groups);
    Close(&c);
    return found;
}
