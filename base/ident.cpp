// What a path is, whatever its spelling (see ident.h).
#include "base/ident.h"

#include <windows.h>

#include <string.h>

#include "base/str.h"

typedef int(WINAPI *OrdinalFunction)(LPCWSTR, int, LPCWSTR, int, BOOL);
typedef WCHAR(WINAPI *UpcaseFunction)(WCHAR);
typedef DWORD(WINAPI *FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);
typedef BOOL(WINAPI *VolumeNamesFunction)(LPCSTR, LPSTR, DWORD, PDWORD);

constexpr int IDENT_COMPARE_MAX = 2048;   // longer names (registry paths) compare as ASCII
constexpr int IDENT_FOLDER_CACHE = 16;
constexpr DWORD IDENT_NO_ATTRIBUTES = 0xFFFFFFFF;

// Newer than Windows 95 and NT 4: looked up at run time so that the program still starts there.
static FARPROC Entry(const char *module, const char *name)
{
    HMODULE h = GetModuleHandleA(module);
    return h ? GetProcAddress(h, name) : nullptr;
}

template <typename F> static F EntryAs(const char *module, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void *>(Entry(module, name)));
}

// ---- Comparing names.

static int IsAscii(const char *s)
{
    for (; *s; ++s)
        if (static_cast<unsigned char>(*s) >= 0x80)
            return 0;
    return 1;
}

static unsigned AsciiUpper(unsigned c)
{
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

static int AsciiCompare(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        unsigned ca = AsciiUpper(static_cast<unsigned char>(*a));
        unsigned cb = AsciiUpper(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0)
            return ca < cb ? -1 : ca > cb ? 1 : 0;
    }
}

// The fold CompareStringOrdinal uses, for systems without it: the NT kernel's own upper-case
// table, and on Windows 95 and Win32s (no such table) the ASCII letters.
static WCHAR FoldChar(WCHAR c)
{
    static UpcaseFunction upcase = EntryAs<UpcaseFunction>("ntdll.dll", "RtlUpcaseUnicodeChar");
    if (upcase)
        return upcase(c);
    return c < 0x80 ? static_cast<WCHAR>(AsciiUpper(c)) : c;
}

static int WideCompare(const WCHAR *a, const WCHAR *b)
{
    static OrdinalFunction ordinal = EntryAs<OrdinalFunction>("kernel32.dll", "CompareStringOrdinal");
    if (ordinal)
        return ordinal(a, -1, b, -1, TRUE) - CSTR_EQUAL;
    for (;; ++a, ++b) {
        WCHAR ca = FoldChar(*a), cb = FoldChar(*b);
        if (ca != cb || ca == 0)
            return ca < cb ? -1 : ca > cb ? 1 : 0;
    }
}

int IdentCompare(const char *a, const char *b)
{
    // Most names are ASCII, where every fold agrees: no conversion needed.
    if (IsAscii(a) && IsAscii(b))
        return AsciiCompare(a, b);
    WCHAR wa[IDENT_COMPARE_MAX];
    WCHAR wb[IDENT_COMPARE_MAX];
    if (!MultiByteToWideChar(CP_ACP, 0, a, -1, wa, IDENT_COMPARE_MAX) ||
        !MultiByteToWideChar(CP_ACP, 0, b, -1, wb, IDENT_COMPARE_MAX))
        return AsciiCompare(a, b);
    return WideCompare(wa, wb);
}

uint64_t IdentHash(const char *name)
{
    WCHAR wide[IDENT_COMPARE_MAX];
    int ascii = IsAscii(name);
    if (!ascii && !MultiByteToWideChar(CP_ACP, 0, name, -1, wide, IDENT_COMPARE_MAX))
        ascii = 1;   // as IdentCompare falls back
    uint64_t hash = 14695981039346656037ull;
    for (int i = 0;; ++i) {
        unsigned c = ascii ? AsciiUpper(static_cast<unsigned char>(name[i])) : FoldChar(wide[i]);
        if (!c)
            return hash;
        hash = (hash ^ (c & 0xFF)) * 1099511628211ull;
        hash = (hash ^ (c >> 8)) * 1099511628211ull;
    }
}

// ---- Identity.

int IdentKnown(const FileIdent &id)
{
    return id.indexHigh != 0 || id.indexLow != 0;
}

int IdentSame(const FileIdent &a, const FileIdent &b)
{
    return IdentKnown(a) && a.volume == b.volume && a.indexHigh == b.indexHigh &&
           a.indexLow == b.indexLow;
}

// Folders open only with backup semantics, and not at all on Windows 95 and Win32s; those
// systems also refuse the delete-sharing flag they do not know.
static HANDLE OpenForQuery(const char *path)
{
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return h;
}

int IdentRead(const char *path, FileIdent *id, uint64_t *writeTime)
{
    id->volume = id->indexHigh = id->indexLow = 0;
    if (writeTime)
        *writeTime = 0;
    if (!path || !PathFits(path))
        return 0;
    HANDLE h = OpenForQuery(path);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
        id->volume = info.dwVolumeSerialNumber;
        id->indexHigh = info.nFileIndexHigh;
        id->indexLow = info.nFileIndexLow;
        if (writeTime)
            *writeTime = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                         info.ftLastWriteTime.dwLowDateTime;
    }
    CloseHandle(h);
    return IdentKnown(*id);
}

// ---- The canonical spelling.

static int Fits(const char *s)
{
    return StrByteLength(s) <= PATH_MAX_BYTES;
}

// Forward slashes become backslashes; a trail byte that looks like one is left alone.
static void Backslashes(char *path)
{
    for (char *p = path; *p; p = StrNextChar(p))
        if (*p == '/' && !StrIsDoubleByte(p))
            *p = '\\';
}

static int IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static int StartsWith(const char *s, const char *head)
{
    for (; *head; ++s, ++head)
        if (AsciiUpper(static_cast<unsigned char>(*s)) != AsciiUpper(static_cast<unsigned char>(*head)))
            return 0;
    return 1;
}

// "Volume{GUID}\rest" as the drive or folder the volume is mounted at. 0 when it is mounted
// nowhere, or the system cannot tell (before Windows XP).
static int FoldVolume(const char *rest, char *out)
{
    static VolumeNamesFunction names =
        EntryAs<VolumeNamesFunction>("kernel32.dll", "GetVolumePathNamesForVolumeNameA");
    const char *close = rest;
    while (*close && *close != '}' && *close != '\\')
        ++close;
    if (!names || *close != '}' || (close[1] != '\\' && close[1] != '\0'))
        return 0;
    char volume[PATH_SIZE];
    int length = static_cast<int>(close + 1 - rest);
    if (length + 5 >= PATH_SIZE)
        return 0;
    lstrcpyA(volume, "\\\\?\\");
    lstrcpynA(volume + 4, rest, length + 1);
    lstrcatA(volume, "\\");
    char mounts[4 * PATH_SIZE];
    DWORD size = 0;
    if (!names(volume, mounts, sizeof mounts, &size) || !mounts[0])
        return 0;
    const char *tail = close[1] ? close + 2 : close + 1;
    if (StrByteLength(mounts) + StrByteLength(tail) > PATH_MAX_BYTES)
        return 0;
    lstrcpyA(out, mounts);   // "C:\" or a folder, always with its backslash
    lstrcatA(out, tail);
    return 1;
}

// path after a device prefix: a drive, "UNC\server\share", or a mounted volume. 0 for any
// other device (GLOBALROOT, a disk, a pipe): it names nothing a log may remove.
static int FoldDevice(const char *rest, char *out)
{
    if (IsLetter(rest[0]) && rest[1] == ':' && (rest[2] == '\\' || rest[2] == '\0')) {
        lstrcpynA(out, rest, PATH_SIZE);
        if (!rest[2])
            lstrcatA(out, "\\");
        return 1;
    }
    if (StartsWith(rest, "UNC\\") && rest[4] && rest[4] != '\\') {
        lstrcpyA(out, "\\\\");
        lstrcatA(out, rest + 4);
        return 1;
    }
    if (StartsWith(rest, "Volume{"))
        return FoldVolume(rest, out);
    return 0;
}

// Names the plain Win32 rules do not cover: wildcards and characters no file name holds, and a
// colon past the drive letter (an NTFS stream such as "FILE::$DATA" is the file itself).
static int HasForeignSyntax(const char *path)
{
    for (const char *p = path; *p; p = StrNextChar(p)) {
        if (StrIsDoubleByte(p))
            continue;
        unsigned char c = static_cast<unsigned char>(*p);
        if (c < 32 || c == '*' || c == '?' || c == '<' || c == '>' || c == '"' || c == '|')
            return 1;
        if (c == ':' && p != path + 1)
            return 1;
    }
    return 0;
}

// The system drops trailing dots and blanks from the last name ("WIN.INI. " is WIN.INI); a
// name of nothing else stays as it is.
static void TrimTrailingDots(char *path)
{
    char *start = path;
    for (char *p = path; *p; p = StrNextChar(p))
        if (*p == '\\' || *p == ':')
            start = p + 1;
    char *end = start;   // just past the last character that stays
    for (char *p = start; *p; p = StrNextChar(p))
        if (*p != '.' && *p != ' ')
            end = StrNextChar(p);
    if (end != start)
        *end = '\0';
}

static int IsShareRoot(const char *path)
{
    if (path[0] != '\\' || path[1] != '\\')
        return 0;
    int separators = 0;
    for (const char *p = path + 2; *p; p = StrNextChar(p))
        separators += *p == '\\';
    return separators <= 1;
}

static int IsRoot(const char *path)
{
    return PathIsDriveSpec(path) || IsShareRoot(path);
}

// The full path as Win32 reads the spelling: device prefixes folded, "." and ".." resolved,
// trailing dots and blanks dropped, no trailing backslash but on a drive's root.
static int FullSpelling(const char *path, char *full)
{
    char text[PATH_SIZE];
    lstrcpyA(text, path);
    Backslashes(text);
    int device = text[0] == '\\' && text[3] == '\\' &&
                 ((text[1] == '\\' && (text[2] == '.' || text[2] == '?')) ||
                  (text[1] == '?' && text[2] == '?'));
    // "\\?\" and "\??\" hand the name to the file system as it is written.
    int literal = device && text[2] == '?';
    if (device) {
        char folded[PATH_SIZE];
        if (!FoldDevice(text + 4, folded) || !Fits(folded))
            return 0;
        lstrcpyA(text, folded);
    }
    // Relative to a drive's or the current drive's current folder: which folder depends on the
    // moment, not on the log.
    if ((IsLetter(text[0]) && text[1] == ':' && text[2] != '\\') ||
        (text[0] == '\\' && text[1] != '\\'))
        return 0;
    if (HasForeignSyntax(text))
        return 0;
    DWORD n = GetFullPathNameA(text, PATH_SIZE, full, nullptr);
    if (n == 0 || n >= static_cast<DWORD>(PATH_SIZE))
        return 0;
    TrimTrailingDots(full);
    // A literal name that these rules would read as another ("\\?\C:\a\..\b", "\\?\C:\x.")
    // names a file of its own: that cannot be told with confidence.
    if (literal && strcmp(full, text) != 0)
        return 0;
    if (!IsRoot(full))
        PathNoSlash(full);
    return full[0] != '\0' && !HasForeignSyntax(full);
}

// The longest part of folder that exists: folder is cut back to it, and 0 when not even its
// root exists (nothing to resolve).
static int CutToExisting(char *folder)
{
    for (int guard = 0; guard < PATH_SIZE; ++guard) {
        if (GetFileAttributesA(folder) != IDENT_NO_ATTRIBUTES)
            return 1;
        if (IsRoot(folder))
            return 0;
        char parent[PATH_SIZE];
        PathParent(folder, parent);
        if (!parent[0] || strcmp(parent, folder) == 0)
            return 0;
        lstrcpyA(folder, parent);
    }
    return 0;
}

// Where the system tells the final path of an open folder (Windows Vista and later): links,
// junctions, subst drives and short names all resolved by the system itself. -1 when it cannot
// be asked here, 0 when it cannot tell, 1 with out set.
static int FinalPath(const char *folder, char *out)
{
    static FinalPathFunction final =
        EntryAs<FinalPathFunction>("kernel32.dll", "GetFinalPathNameByHandleA");
    if (!final)
        return -1;
    HANDLE h = OpenForQuery(folder);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    char got[PATH_SIZE + 8];
    DWORD n = final(h, got, sizeof got, 0 /* FILE_NAME_NORMALIZED | VOLUME_NAME_DOS */);
    CloseHandle(h);
    if (n == 0 || n >= sizeof got)
        return 0;
    const char *rest = got;
    if (StartsWith(got, "\\\\?\\UNC\\")) {
        if (StrByteLength(got + 6) > PATH_MAX_BYTES)
            return 0;
        lstrcpyA(out, "\\");
        lstrcatA(out, got + 7);
        return 1;
    }
    if (StartsWith(got, "\\\\?\\"))
        rest = got + 4;
    if (!IsLetter(rest[0]) || rest[1] != ':' || !Fits(rest))
        return 0;   // a volume without a drive letter
    lstrcpyA(out, rest);
    if (!IsRoot(out))
        PathNoSlash(out);
    return 1;
}

// The directory entry that path names, as the folder lists it (long name, attributes). 1, or 0.
static int FindEntry(const char *path, WIN32_FIND_DATAA *found)
{
    HANDLE h = FindFirstFileA(path, found);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(h);
    return 1;
}

// Before Windows Vista: each part of the folder from its root, as the directory lists it (its
// long name). A link on the way (Windows 2000 and XP have junctions) cannot be resolved with
// confidence here: 0.
static int WalkLongNames(const char *folder, char *out)
{
    // The root stays as written: "C:\" or "\\server\share".
    const char *p = folder + 3;
    if (!(IsLetter(folder[0]) && folder[1] == ':')) {
        int separators = 2;
        for (p = folder + 2; *p && !(*p == '\\' && ++separators == 4); p = StrNextChar(p)) {
        }
    }
    lstrcpynA(out, folder, static_cast<int>(p - folder) + 1);
    char name[PATH_SIZE];
    while (*p) {
        p = PathField(p, name, '\\');
        if (!p)
            return 0;
        if (!name[0])
            continue;
        char probe[PATH_SIZE];
        if (!PathJoin(probe, out, name))
            return 0;
        WIN32_FIND_DATAA found;
        if (!FindEntry(probe, &found) || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return 0;
        if (!PathAppendName(out, found.cFileName))
            return 0;
    }
    return 1;
}

struct FolderEntry {
    int used;
    int ok;
    char full[PATH_SIZE];
    char canonical[PATH_SIZE];
};

struct FolderCache {
    int next;
    FolderEntry entries[IDENT_FOLDER_CACHE];
};

static FolderCache folderCache;

void IdentForget(void)
{
    for (FolderEntry &e : folderCache.entries)
        e.used = 0;
}

// The folder's canonical spelling: its existing part resolved by the system, the rest as written.
static int ResolveFolder(const char *full, char *out)
{
    char existing[PATH_SIZE];
    lstrcpyA(existing, full);
    if (!CutToExisting(existing)) {
        lstrcpyA(out, full);   // not even the drive is there: nothing a link could divert
        return 1;
    }
    char resolved[PATH_SIZE];
    int got = FinalPath(existing, resolved);
    if (got == -1)
        got = WalkLongNames(existing, resolved);
    if (got != 1)
        return 0;
    const char *rest = full + StrByteLength(existing);
    while (*rest == '\\')
        ++rest;
    if (!*rest) {
        lstrcpyA(out, resolved);
        return 1;
    }
    return PathJoin(out, resolved, rest);
}

static int CachedFolder(const char *full, char *out)
{
    for (const FolderEntry &e : folderCache.entries)
        if (e.used && strcmp(e.full, full) == 0) {
            if (e.ok)
                lstrcpyA(out, e.canonical);
            return e.ok;
        }
    FolderEntry &e = folderCache.entries[folderCache.next];
    folderCache.next = (folderCache.next + 1) % IDENT_FOLDER_CACHE;
    lstrcpyA(e.full, full);
    e.ok = ResolveFolder(full, e.canonical);
    e.used = 1;
    if (e.ok)
        lstrcpyA(out, e.canonical);
    return e.ok;
}

static int HasTilde(const char *name)
{
    for (const char *p = name; *p; p = StrNextChar(p))
        if (*p == '~' && !StrIsDoubleByte(p))
            return 1;
    return 0;
}

// Only a generated short name ("KERNEL~1.DLL") hides a name's long form; one that exists is
// replaced by it.
static int ExpandShortName(char *path)
{
    WIN32_FIND_DATAA found;
    if (!FindEntry(path, &found))
        return 1;
    char dir[PATH_SIZE];
    PathDir(path, dir);
    return dir[0] && PathJoin(path, dir, found.cFileName);
}

int IdentCanonical(const char *path, char *out)
{
    out[0] = '\0';
    char full[PATH_SIZE];
    if (!path || !path[0] || !PathFits(path) || !FullSpelling(path, full))
        return 0;
    if (IsRoot(full)) {
        if (!CachedFolder(full, out))
            return 0;
        return 1;
    }
    char folder[PATH_SIZE];
    char name[PATH_SIZE];
    PathDir(full, folder);
    PathName(full, name);
    char canonicalFolder[PATH_SIZE];
    if (!folder[0] || !name[0] || !CachedFolder(folder, canonicalFolder) ||
        !PathJoin(out, canonicalFolder, name) || (HasTilde(name) && !ExpandShortName(out))) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int IdentSamePlace(const char *a, const char *b)
{
    char ca[PATH_SIZE], cb[PATH_SIZE];
    FileIdent ia, ib;
    return IdentSameName(a, b) ||
           (IdentCanonical(a, ca) && IdentCanonical(b, cb) && IdentSameName(ca, cb)) ||
           (IdentRead(a, &ia) && IdentRead(b, &ib) && IdentSame(ia, ib));
}
