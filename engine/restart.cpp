// Deletions left for the next start of Windows (see restart.h).
#include "engine/restart.h"

#include "base/fs.h"
#include "base/ident.h"
#include "base/path.h"
#include "base/platform.h"
#include "base/strlist.h"
#include "engine/engine.h"
#include "engine/session_internal.h"

static const char WININIT_NAME[] = "WININIT.INI";
static const char RENAME_SECTION[] = "[rename]";
static const char NUL_KEY[] = "NUL=";

// The whole file and what is put into it; one buffer for the process (single-threaded).
static char wininitText[RESTART_WININIT_MAX_BYTES];

static int IsHeldImage(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return 0;
    HANDLE h = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

int RestartIsInUse(const char *path, DWORD error)
{
    int inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                (error == ERROR_ACCESS_DENIED && path && PathFits(path) && IsHeldImage(path));
    SetLastError(error);
    return inUse;
}

// ---- WININIT.INI ----

static int IsRenameHeader(const char *line, DWORD length)
{
    DWORD n = static_cast<DWORD>(sizeof RENAME_SECTION - 1);
    if (length < n)
        return 0;
    for (DWORD i = 0; i < n; ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != RENAME_SECTION[i])
            return 0;
    }
    return 1;
}

// Where the new line goes: behind the last line of the [rename] section (before the next
// section's header), or at the end. *found says whether the section exists.
static DWORD FindInsertion(const char *text, DWORD size, int *found)
{
    *found = 0;
    DWORD start = 0;
    while (start < size) {
        DWORD end = start;
        while (end < size && text[end] != '\n')
            ++end;
        DWORD first = start;
        while (first < end && (text[first] == ' ' || text[first] == '\t'))
            ++first;
        if (first < end && text[first] == '[') {
            if (*found)
                return start;
            *found = IsRenameHeader(text + first, end - first);
        }
        start = end + 1;
    }
    return size;
}

static int WriteAll(HANDLE file, const char *data, DWORD count)
{
    DWORD written = 0;
    return count == 0 || (WriteFile(file, data, count, &written, nullptr) && written == count);
}

// Makes room for the insertion first, so that a full disk leaves the file as it was; then
// writes the new line and moves what followed behind it.
static int InsertIntoFile(HANDLE file, DWORD size, DWORD at, const char *insert, DWORD length)
{
    LONG high = 0;
    if (SetFilePointer(file, static_cast<LONG>(size + length), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER ||
        !SetEndOfFile(file)) {
        high = 0;
        SetFilePointer(file, static_cast<LONG>(size), &high, FILE_BEGIN);
        SetEndOfFile(file);
        return 0;
    }
    high = 0;
    if (SetFilePointer(file, static_cast<LONG>(at), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return 0;
    return WriteAll(file, insert, length) && WriteAll(file, wininitText + at, size - at);
}

// Adds "NUL=<short path>" to the [rename] section, keeping every line already there: a
// profile-string write would replace the section's earlier "NUL" line with this one.
static int WininitScheduleDelete(const char *path)
{
    char shortPath[PATH_SIZE];
    DWORD n = GetShortPathNameA(path, shortPath, PATH_SIZE);
    if (n == 0 || n >= static_cast<DWORD>(PATH_SIZE))
        return 0;
    char windows[PATH_SIZE];
    char ini[PATH_SIZE];
    UINT w = GetWindowsDirectoryA(windows, PATH_SIZE);
    if (w == 0 || w >= static_cast<UINT>(PATH_SIZE) || !PathJoin(ini, windows, WININIT_NAME))
        return 0;

    // The header, the line and two line ends at most.
    char insert[sizeof RENAME_SECTION + sizeof NUL_KEY + PATH_SIZE + 6];
    HANDLE file = CreateFileA(ini, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int ok = 0;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    DWORD read = 0;
    if (size != INVALID_FILE_SIZE && high == 0 &&
        size + sizeof insert <= RESTART_WININIT_MAX_BYTES &&
        (size == 0 || (ReadFile(file, wininitText, size, &read, nullptr) && read == size))) {
        int found = 0;
        DWORD at = FindInsertion(wininitText, size, &found);
        insert[0] = '\0';
        if (at > 0 && wininitText[at - 1] != '\n')
            lstrcatA(insert, "\r\n");
        if (!found) {
            lstrcatA(insert, RENAME_SECTION);
            lstrcatA(insert, "\r\n");
        }
        lstrcatA(insert, NUL_KEY);
        lstrcatA(insert, shortPath);
        lstrcatA(insert, "\r\n");
        ok = InsertIntoFile(file, size, at, insert, static_cast<DWORD>(lstrlenA(insert)));
    }
    CloseHandle(file);
    // A file made only now for a line that could not be written is not left behind.
    if (!ok && size == 0)
        DeleteFileA(ini);
    return ok;
}

// ---- Scheduling ----

static int IsWindows95(const Platform *p)
{
    return p->isWindows4 && !p->isNtFamily && !p->isWin32s;
}

int RestartDeleteFile(const char *path)
{
    const Platform *p = PlatformGet();
    if (!path || p->isWin32s)
        return 0;
    if (p->isNtFamily)
        return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
    if (IsWindows95(p))
        return WininitScheduleDelete(path);
    return 0;
}

// The canonical form of path, so that a file named in the log and the same file found in its
// directory compare equal; the full path, or as given, when it cannot be had.
static void FullPath(const char *path, char *full)
{
    if (IdentCanonical(path, full))
        return;
    DWORD n = GetFullPathNameA(path, PATH_SIZE, full, nullptr);
    if (n == 0 || n >= static_cast<DWORD>(PATH_SIZE))
        lstrcpynA(full, path, PATH_SIZE);
    PathNoSlash(full);
}

static int IsScheduled(Session *session, const char *full)
{
    for (const char *p = static_cast<const char *>(ListFirst(session->scheduledPaths)); p;
         p = static_cast<const char *>(ListNext(session->scheduledPaths)))
        if (IdentSameName(p, full))
            return 1;
    return 0;
}

static void Note(Session *session, const char *full)
{
    if (!session->scheduledPaths)
        session->scheduledPaths = ListCreateInPool(0, SessionGetPool(session));
    ListLast(session->scheduledPaths);
    ListAdd(session->scheduledPaths, full);
}

static void Remember(Session *session, const char *full)
{
    Note(session, full);
    session->scheduled++;
}

static const char PENDING_KEY[] = "System\\CurrentControlSet\\Control\\Session Manager";
static const char PENDING_VALUE[] = "PendingFileRenameOperations";

static void NoteCanonical(Session *session, const char *path)
{
    char full[PATH_SIZE];
    if (path[0] && IdentCanonical(path, full))
        Note(session, full);
}

// The NT family's pending operations: pairs of names, the second empty for a deletion.
static void RecallPendingOperations(Session *session)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PENDING_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0, size = RESTART_WININIT_MAX_BYTES - 2;
    LONG rc = RegQueryValueExA(key, PENDING_VALUE, nullptr, &type,
                               reinterpret_cast<BYTE *>(wininitText), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return;   // a list too long to read leaves the folders alone: they are kept
    wininitText[size] = wininitText[size + 1] = '\0';
    for (const char *p = wininitText; *p;) {
        const char *target = p + lstrlenA(p) + 1;
        if (!*target)
            NoteCanonical(session, p);
        p = target + lstrlenA(target) + 1;
        if (p >= wininitText + size)
            break;
    }
}

static int IsNulLine(const char *line)
{
    char head[sizeof NUL_KEY];
    lstrcpynA(head, line, sizeof head);
    return IdentSameName(head, NUL_KEY);
}

// Windows 95: the "NUL=" lines of WININIT.INI's [rename] section.
static void RecallWininit(Session *session)
{
    char windows[PATH_SIZE], ini[PATH_SIZE];
    UINT w = GetWindowsDirectoryA(windows, PATH_SIZE);
    if (w == 0 || w >= static_cast<UINT>(PATH_SIZE) || !PathJoin(ini, windows, WININIT_NAME))
        return;
    HANDLE file = CreateFileA(ini, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD read = 0;
    BOOL ok = ReadFile(file, wininitText, RESTART_WININIT_MAX_BYTES - 1, &read, nullptr);
    CloseHandle(file);
    if (!ok)
        return;
    wininitText[read] = '\0';
    int inRename = 0;
    for (char *line = wininitText; *line;) {
        char *end = line;
        while (*end && *end != '\n')
            ++end;
        char *next = *end ? end + 1 : end;
        *end = '\0';
        if (end > line && end[-1] == '\r')
            end[-1] = '\0';
        if (line[0] == '[')
            inRename = IsRenameHeader(line, static_cast<DWORD>(lstrlenA(line)));
        else if (inRename && IsNulLine(line))
            NoteCanonical(session, line + 4);
        line = next;
    }
}

void RestartRecallEarlier(Session *session)
{
    const Platform *p = PlatformGet();
    if (!session || p->isWin32s)
        return;
    if (p->isNtFamily)
        RecallPendingOperations(session);
    else if (IsWindows95(p))
        RecallWininit(session);
}

int RestartDeleteOrSchedule(Session *session, const char *path)
{
    if (FsDelete(path) == 0)
        return 0;
    if (!session || !RestartIsInUse(path, GetLastError()))
        return -1;
    char full[PATH_SIZE];
    FullPath(path, full);
    // Named twice in the log: the first time already put it on the list.
    if (IsScheduled(session, full))
        return 1;
    if (!RestartDeleteFile(path))
        return -1;
    Remember(session, full);
    return 1;
}

struct ScheduledSearch {
    Session *session;
    const char *dir;
    int entries;
    int only;
};

// FsWalkDir callback of HoldsOnlyScheduled: stops at the first entry not scheduled.
static int NoteScheduled(const char *name, uint32_t, void *context)
{
    ScheduledSearch *s = static_cast<ScheduledSearch *>(context);
    ++s->entries;
    char entry[PATH_SIZE];
    if (!PathJoin(entry, s->dir, name) || !IsScheduled(s->session, entry))
        s->only = 0;
    return s->only;
}

// 1 when the directory holds at least one entry and every entry is scheduled.
static int HoldsOnlyScheduled(Session *session, const char *dir)
{
    ScheduledSearch search = {session, dir, 0, 1};
    return FsWalkDir(dir, "*.*", NoteScheduled, &search) && search.only && search.entries > 0;
}

int RestartScheduleDirectory(Session *session, const char *path)
{
    const Platform *p = PlatformGet();
    if (!session || !session->scheduledPaths || !p->isNtFamily || p->isWin32s)
        return 0;
    char full[PATH_SIZE];
    FullPath(path, full);
    if (!FsIsDirectory(full) || !HoldsOnlyScheduled(session, full))
        return 0;
    if (!MoveFileExA(full, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return 0;
    Remember(session, full);
    return 1;
}

void RestartForget(Session *session)
{
    if (!session)
        return;
    ListDestroy(session->scheduledPaths);
    session->scheduledPaths = nullptr;
}
