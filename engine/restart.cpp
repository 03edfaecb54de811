// Deletions left for the next start of Windows (see restart.h).
#include "engine/restart.h"

#include "base/fs.h"
#include "base/ident.h"
#include "base/path.h"
#include "base/platform.h"
#include "base/strlist.h"
#include "engine/engine.h"
#include "engine/holders.h"
#include "engine/report.h"
#include "engine/session_internal.h"

static const char WININIT_NAME[] = "WININIT.INI";
static const char PENDING_KEY[] = "System\\CurrentControlSet\\Control\\Session Manager";
static const char RENAME_SECTION[] = "[rename]";
static const char NUL_KEY[] = "NUL=";
static const char MOVED_BASE[] = "_dedel";   // "_dedel.N": a file renamed to go at the restart

// The whole file and what is put into it; one buffer for the process (single-threaded).
static char wininitText[RESTART_WININIT_MAX_BYTES];

int RestartOpensForDelete(const char *path, DWORD *error)
{
    DWORD attributes = GetFileAttributesA(path);
    *error = 0;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *error = GetLastError();
        return 0;
    }
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) {
        *error = ERROR_ACCESS_DENIED;
        return 0;
    }
    HANDLE h = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    CloseHandle(h);
    return 1;
}

int RestartIsInUse(const char *path, DWORD error)
{
    DWORD opened;
    int inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                (error == ERROR_ACCESS_DENIED && path && PathFits(path) &&
                 RestartOpensForDelete(path, &opened));
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

// in (code page from) into out (code page to, size bytes). 1, or 0 when it does not fit.
static int Recode(UINT from, UINT to, const char *in, char *out, int size)
{
    WCHAR wide[PATH_SIZE];
    return MultiByteToWideChar(from, 0, in, -1, wide, PATH_SIZE) > 0 &&
           WideCharToMultiByte(to, 0, wide, -1, out, size, nullptr, nullptr) > 0;
}

static int SameBytes(const char *a, const char *b)
{
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

static int IsDosChar(unsigned char c)
{
    static const char INVALID[] = " \"*+,./:;<=>?[\\]|";
    if (c < 0x20 || c == 0x7F)
        return 0;
    for (const char *p = INVALID; *p; ++p)
        if (c == static_cast<unsigned char>(*p))
            return 0;
    return 1;
}

// One 8.3 name at name: 1 to 8 bytes, then a dot and 1 to 3 more, or none; a double-byte
// character counts two (its trail byte may look like a backslash). *end: the byte after it.
static int IsDosName(const char *name, const char **end)
{
    UINT oem = GetOEMCP();
    int base = 0, ext = -1;   // ext: -1 until the dot
    const unsigned char *p = reinterpret_cast<const unsigned char *>(name);
    for (; *p && *p != '\\'; ++p) {
        if (*p == '.') {
            if (ext >= 0 || base == 0)
                return 0;
            ext = 0;
            continue;
        }
        int bytes = 1;
        if (IsDBCSLeadByteEx(oem, *p)) {
            if (!p[1])
                return 0;
            bytes = 2;
        } else if (!IsDosChar(*p)) {
            return 0;
        }
        *(ext >= 0 ? &ext : &base) += bytes;
        p += bytes - 1;
    }
    *end = reinterpret_cast<const char *>(p);
    return base >= 1 && base <= 8 && ext != 0 && ext <= 3;
}

// "X:\" and 8.3 names within DOS's folder limit (the whole then fits its path buffer).
static int IsDosPath(const char *oem)
{
    unsigned char drive = static_cast<unsigned char>(oem[0] | 0x20);
    if (drive < 'a' || drive > 'z' || oem[1] != ':' || oem[2] != '\\')
        return 0;
    const char *folder = oem + 2, *lastSlash = folder, *name = oem + 3, *end;
    for (;;) {
        if (!IsDosName(name, &end))
            return 0;
        if (!*end)
            break;
        lastSlash = end;
        name = end + 1;
    }
    return lastSlash - folder + 1 <= RESTART_DOS_FOLDER_MAX;
}

int RestartDosName(const char *shortPath, char *oem, int size)
{
    char back[PATH_SIZE];
    if (shortPath && Recode(CP_ACP, CP_OEMCP, shortPath, oem, size) &&
        Recode(CP_OEMCP, CP_ACP, oem, back, PATH_SIZE) && SameBytes(back, shortPath) &&
        IsDosPath(oem))
        return 1;
    if (size > 0)
        oem[0] = '\0';
    return 0;
}

// Adds "NUL=<short path>" to the [rename] section, keeping every line already there: a
// profile-string write would replace the section's earlier "NUL" line with this one.
// The name WININIT.INI would carry for path (see RestartDosName) into dosPath: 1, or 0.
static int DosPathOf(const char *path, char *dosPath)
{
    char shortPath[PATH_SIZE];
    DWORD n = GetShortPathNameA(path, shortPath, PATH_SIZE);
    return n > 0 && n < static_cast<DWORD>(PATH_SIZE) &&
           RestartDosName(shortPath, dosPath, PATH_SIZE);
}

static int WininitScheduleDelete(const char *path)
{
    char dosPath[PATH_SIZE];
    if (!DosPathOf(path, dosPath))
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
        lstrcatA(insert, dosPath);
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

// The restart deletes by name, and a reinstall or another product's copy of a shared DLL may
// stand at this name by then. So the file is renamed to a free "_dedel.N" beside it (a running
// program's file or a loaded DLL renames on its volume) and that name is scheduled: only this
// file goes, and its name is free at once. One that does not rename (held open without delete
// sharing) is scheduled by its name. *moved: the new name, or empty.
static int NtSchedule(const char *path, const char *full, char *moved)
{
    char dir[PATH_SIZE];
    PathDir(full, dir);
    if (dir[0] && PathWithSlash(dir) && FsMoveNumbered(path, dir, MOVED_BASE, moved) == 0) {
        if (MoveFileExA(moved, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            return 1;
        // Not scheduled: it stays, under its own name.
        DWORD error = GetLastError();
        MoveFileA(moved, path);
        moved[0] = '\0';
        SetLastError(error);
        return 0;
    }
    moved[0] = '\0';
    return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
}

// full: path's full path; *moved as NtSchedule gives it (PATH_SIZE bytes).
// The programs of this run's snapshot (taken at the first file in use) that hold path go to the
// report's next scheduled line: named before the file is renamed away from the name they know.
static HolderSnapshot *runHolders;
static int runHoldersTaken;

static void NoteHolders(const char *path)
{
    if (!ReportIsOpen())
        return;
    if (!runHoldersTaken) {
        runHolders = HoldersTake();
        runHoldersTaken = 1;
    }
    char text[256];
    HoldersDescribe(runHolders, path, text, sizeof text);
    ReportNoteHeldBy(text);
}

int RestartCanSchedule(const char *path)
{
    const Platform *p = PlatformGet();
    if (!path || p->isWin32s)
        return 0;
    if (p->isNtFamily) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PENDING_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return 0;
        RegCloseKey(key);
        return 1;
    }
    char dosPath[PATH_SIZE];
    return IsWindows95(p) && DosPathOf(path, dosPath);
}

static int ScheduleFile(const char *path, const char *full, char *moved)
{
    moved[0] = '\0';
    NoteHolders(path);
    const Platform *p = PlatformGet();
    if (p->isWin32s)
        return 0;
    if (p->isNtFamily)
        return NtSchedule(path, full, moved);
    if (IsWindows95(p))
        return WininitScheduleDelete(path);
    return 0;
}

int RestartDeleteFile(const char *path)
{
    if (!path)
        return 0;
    char full[PATH_SIZE], moved[PATH_SIZE];
    FullPath(path, full);
    return ScheduleFile(path, full, moved);
}

static int IsListed(StringList *list, const char *full)
{
    for (const char *p = static_cast<const char *>(ListFirst(list)); p;
         p = static_cast<const char *>(ListNext(list)))
        if (IdentSameName(p, full))
            return 1;
    return 0;
}

static int IsScheduled(Session *session, const char *full)
{
    return IsListed(session->scheduledPaths, full);
}

static void AddTo(Session *session, StringList **list, const char *full)
{
    if (!*list)
        *list = ListCreateInPool(0, SessionGetPool(session));
    ListLast(*list);
    ListAdd(*list, full);
}

static void Note(Session *session, const char *full)
{
    AddTo(session, &session->scheduledPaths, full);
}

static void Remember(Session *session, const char *full)
{
    Note(session, full);
    session->scheduled++;
}

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
    char name[PATH_SIZE];
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
        else if (inRename && IsNulLine(line) &&
                 Recode(CP_OEMCP, CP_ACP, line + 4, name, PATH_SIZE))
            NoteCanonical(session, name);
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
    char full[PATH_SIZE];
    // Named again after its file was renamed to go: what stands at the name now is not it.
    if (session && session->movedPaths) {
        FullPath(path, full);
        if (IsListed(session->movedPaths, full))
            return 1;
    }
    if (FsDelete(path) == 0)
        return 0;
    DWORD inUse = GetLastError();
    if (!session || !RestartIsInUse(path, inUse))
        return -1;
    FullPath(path, full);
    // Named twice in the log: the first time already put it on the list.
    if (IsScheduled(session, full))
        return 1;
    char moved[PATH_SIZE];
    if (!ScheduleFile(path, full, moved)) {
        // Windows 95 and Win32s give no reason of their own: the file stays, in use.
        if (!PlatformGet()->isNtFamily)
            SetLastError(inUse);
        return -1;
    }
    Remember(session, moved[0] ? moved : full);
    if (moved[0])
        AddTo(session, &session->movedPaths, full);
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
    HoldersFree(runHolders);
    runHolders = nullptr;
    runHoldersTaken = 0;
    if (!session)
        return;
    ListDestroy(session->scheduledPaths);
    ListDestroy(session->movedPaths);
    session->scheduledPaths = nullptr;
    session->movedPaths = nullptr;
}
