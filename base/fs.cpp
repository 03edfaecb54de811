#include "base/fs.h"

#include "base/path.h"
#include "base/pool.h"
#include "base/str.h"

#include <windows.h>

constexpr int FS_COPY_POOL_BLOCK = 16394;
constexpr int FS_COPY_POOL_FLAGS = POOL_DEFAULT | POOL_GROW;
constexpr unsigned FS_COPY_BUFFER = FS_COPY_CHUNK + 1;

static HANDLE OsHandle(int handle)
{
    return LongToHandle(handle);
}

// Copies path into buf (PATH_SIZE bytes); 0 when it is null or does not fit.
static int CopyPath(char *buf, const char *path)
{
    if (!path)
        return 0;
    int len = StrByteLength(path);
    if (len > PATH_MAX_BYTES)
        return 0;
    StrCopyBytes(buf, path, unsigned(len) + 1);
    return 1;
}

int FsExists(const char *path)
{
    if (!path)
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return 1;
}

// OpenFile keeps the full path in a 128-byte field and fails on anything longer; such paths
// are opened with the access and sharing OpenFile itself would have asked for.
static int OpenLongPath(const char *path, UINT style)
{
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD creation = CREATE_ALWAYS;
    if (!(style & OF_CREATE)) {
        creation = OPEN_EXISTING;
        if ((style & 3) == OF_READ)
            access = GENERIC_READ;
        else if ((style & 3) == OF_WRITE)
            access = GENERIC_WRITE;
    }
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return FS_NO_FILE;
    return HandleToLong(h);
}

static int OpenWithStyle(const char *path, UINT style)
{
    if (!path || StrByteLength(path) > PATH_MAX_BYTES)
        return FS_NO_FILE;
    char full[MAX_PATH + 1];
    DWORD len = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (len == 0 || len >= sizeof full)
        return FS_NO_FILE;
    if (len >= OFS_MAXPATHNAME)
        return OpenLongPath(full, style);
    OFSTRUCT of = {};
    HFILE h = OpenFile(path, &of, style);
    return h < 0 ? FS_NO_FILE : h;
}

int FsOpen(const char *path, int mode)
{
    UINT style = OF_READWRITE;
    if (mode == FS_CREATE)
        style = OF_CREATE;
    else if (mode == FS_READ)
        style = OF_READ;
    return OpenWithStyle(path, style);
}

int FsClose(int handle)
{
    HFILE r = _lclose(handle);
    return r < 0 ? -1 : r;
}

uint32_t FsSize(int handle)
{
    DWORD size = GetFileSize(OsHandle(handle), nullptr);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

int32_t FsSeek(int handle, uint32_t *position)
{
    LONG r = _llseek(handle, LONG(*position), FILE_BEGIN);
    *position = uint32_t(r);
    return r;
}

int32_t FsRead(int handle, void *buf, uint32_t *count)
{
    UINT r = _lread(handle, buf, *count);
    if (r == 0 || r == UINT(HFILE_ERROR))
        return -1;
    *count = r;
    return int32_t(r);
}

int32_t FsWrite(int handle, const void *buf, uint32_t *count)
{
    // _lwrite of 0 bytes cuts the file at the current position.
    if (*count == 0)
        return 0;
    UINT r = _lwrite(handle, static_cast<LPCCH>(buf), *count);
    if (r == UINT(HFILE_ERROR))
        return -1;
    *count = r;
    return int32_t(r);
}

int FsFlush(int handle)
{
    return FlushFileBuffers(OsHandle(handle)) ? 0 : -1;
}

int FsDelete(const char *path)
{
    if (!path)
        return -1;
    return DeleteFileA(path) ? 0 : -1;
}

// Moves the bytes; 0 when every chunk was read and written in full.
static int CopyContents(int src, int dst, char *buf)
{
    uint32_t remaining = FsSize(src);
    while (remaining > 0) {
        uint32_t chunk = remaining < FS_COPY_CHUNK ? remaining : FS_COPY_CHUNK;
        uint32_t got = chunk;
        if (FsRead(src, buf, &got) < 0 || got < chunk)
            return -1;
        uint32_t put = got;
        if (FsWrite(dst, buf, &put) < 0 || put < got)
            return -1;
        remaining -= put;
    }
    return 0;
}

static void CopyWriteTime(const char *source, const char *destination)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(source, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FindClose(search);
    int h = OpenWithStyle(destination, OF_WRITE);
    if (h == FS_NO_FILE)
        return;
    SetFileTime(OsHandle(h), nullptr, nullptr, &found.ftLastWriteTime);
    _lclose(h);
}

int FsCreateNew(const char *path)
{
    char buf[PATH_SIZE];
    if (!CopyPath(buf, path))
        return FS_NO_FILE;
    HANDLE h = CreateFileA(buf, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? FS_NO_FILE : HandleToLong(h);
}

// Room for the dot and any number: the name is refused whole, never cut.
static int NumberedFits(const char *dir, const char *base)
{
    return dir && base && StrByteLength(dir) + StrByteLength(base) + 12 <= PATH_MAX_BYTES;
}

static int IsNameTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

int FsCreateNumbered(const char *dir, const char *base, char *path)
{
    path[0] = '\0';
    if (!NumberedFits(dir, base))
        return FS_NO_FILE;
    for (int n = 1; n > 0; ++n) {
        wsprintfA(path, "%s%s.%d", dir, base, n);
        int h = FsCreateNew(path);
        if (h != FS_NO_FILE)
            return h;
        if (!IsNameTaken(GetLastError()))
            break;
    }
    path[0] = '\0';
    return FS_NO_FILE;
}

int FsMoveNumbered(const char *source, const char *dir, const char *base, char *path)
{
    path[0] = '\0';
    char from[PATH_SIZE];
    if (!NumberedFits(dir, base) || !source || !CopyPath(from, source)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    for (int n = 1; n > 0; ++n) {
        wsprintfA(path, "%s%s.%d", dir, base, n);
        if (MoveFileA(from, path))
            return 0;
        if (!IsNameTaken(GetLastError()))
            break;
    }
    path[0] = '\0';
    return -1;
}

// The folder's entry of a new file is written with the folder; NT flushes a folder opened for
// writing, Windows 95 cannot open one (nothing more can be done there).
static void FlushFolderOf(const char *path)
{
    char dir[PATH_SIZE];
    PathDir(path, dir);
    if (!dir[0])
        return;
    HANDLE h = CreateFileA(dir, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    FlushFileBuffers(h);
    CloseHandle(h);
}

int FsCopyFile(const char *source, const char *destination)
{
    if (!source || !destination)
        return -1;
    int pool = PoolCreate(FS_COPY_POOL_BLOCK, FS_COPY_POOL_FLAGS);
    if (pool < 0)
        return -1;
    char *buf = static_cast<char *>(PoolAlloc(pool, FS_COPY_BUFFER));
    if (!buf) {
        PoolDestroy(pool);
        return -1;
    }
    int src = FsOpen(source, FS_READ);
    if (src == FS_NO_FILE) {
        PoolDestroy(pool);
        return -1;
    }
    int dst = FsOpen(destination, FS_CREATE);
    if (dst == FS_NO_FILE) {
        FsClose(src);
        PoolDestroy(pool);
        return -1;
    }
    if (CopyContents(src, dst, buf) != 0 || FsFlush(dst) != 0) {
        FsClose(src);
        FsClose(dst);
        FsDelete(destination);
        PoolDestroy(pool);
        return -1;
    }
    FsClose(src);
    int result = FsClose(dst);
    if (result == 0) {
        CopyWriteTime(source, destination);
        FlushFolderOf(destination);
    }
    PoolDestroy(pool);
    return result;
}

int FsCreateTree(const char *path)
{
    if (!path)
        return 0;
    if (!*path || PathIsDriveSpec(path))
        return 1;
    char dir[PATH_SIZE];
    if (!CopyPath(dir, path))
        return 0;
    PathNoSlash(dir);
    DWORD attributes = GetFileAttributesA(dir);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    if (*PathLastChar(dir) == ':')
        return 0;
    char parent[PATH_SIZE];
    PathParent(dir, parent);
    // A root that does not exist is its own parent; stop instead of recursing for ever.
    if (lstrcmpA(parent, dir) == 0)
        return 0;
    if (FsCreateTree(parent) != 1)
        return 0;
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    return CreateDirectoryA(dir, &security) ? 1 : 0;
}

int FsRemoveDir(const char *path)
{
    char dir[PATH_SIZE];
    if (!CopyPath(dir, path))
        return 0;
    PathNoSlash(dir);
    return RemoveDirectoryA(dir) ? 1 : 0;
}

int FsIsDirectory(const char *path)
{
    char dir[PATH_SIZE];
    if (!CopyPath(dir, path))
        return 0;
    PathNoSlash(dir);
    DWORD attributes = GetFileAttributesA(dir);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int FsWalkDir(const char *dir, const char *pattern, FsWalkCallback callback, void *context)
{
    char search[PATH_SIZE];
    if (!dir || !pattern || !PathJoin(search, dir, pattern))
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE handle = FindFirstFileA(search, &found);
    if (handle == INVALID_HANDLE_VALUE)
        return 1;
    do {
        if (lstrcmpA(found.cFileName, ".") == 0 || lstrcmpA(found.cFileName, "..") == 0)
            continue;
        if (!callback(found.cFileName, found.dwFileAttributes, context))
            break;
    } while (FindNextFileA(handle, &found));
    FindClose(handle);
    return 1;
}

// FsWalkDir callback of FsIsDirEmpty: stops at the first entry that is not a dot-directory.
static int NoteEntry(const char *name, uint32_t attributes, void *context)
{
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && name[0] == '.')
        return 1;
    *static_cast<int *>(context) = 1;
    return 0;
}

int FsIsDirEmpty(const char *path)
{
    int entries = 0;
    // Too long to list: say "not empty", so that nobody acts on a directory we cannot see.
    if (!FsWalkDir(path, "*.*", NoteEntry, &entries))
        return 0;
    return entries ? 0 : 1;
}

void FsSetCurrentDir(const char *path)
{
    char dir[PATH_SIZE];
    if (!CopyPath(dir, path))
        return;
    PathNoSlash(dir);
    SetCurrentDirectoryA(dir);
}
