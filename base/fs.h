// File-system operations: existence tests, a handle-based file layer (OpenFile and the _l*
// functions), deletion, a copy that keeps the modification time, directory creation, removal
// and tests. Paths are ANSI, at most PATH_MAX_BYTES bytes; a longer path is refused, never cut.
// Nothing here shows a message: every operation reports by its result. The file operations
// (handles, FsDelete, FsCopyFile) give 0 or -1, as the handle layer they stand on does; the
// directory operations and every test give 1 or 0.
#pragma once

#include <stdint.h>

// FsOpen modes; any other value opens for reading and writing.
constexpr int FS_CREATE = 1;      // create, or empty an existing file; read and write
constexpr int FS_READ = 2;
constexpr int FS_READWRITE = 3;

constexpr int FS_NO_FILE = -1;    // the handle of no file
constexpr uint32_t FS_COPY_CHUNK = 16384;

// 1 when FindFirstFileA finds the path (a wildcard counts when it matches anything), else 0.
int FsExists(const char *path);

// The OS file handle, or -1. Paths too long for OpenFile's own buffer are opened the same way
// through CreateFileA, so the handle works with the _l* functions either way.
int FsOpen(const char *path, int mode);
// Creates path only when nothing of that name exists, for reading and writing, shared with no one
// until it is closed (nobody reads it half written): the name is the caller's only if this
// succeeds (two processes picking a free name cannot both win). The handle, or -1
// (GetLastError: ERROR_FILE_EXISTS when the name is taken).
int FsCreateNew(const char *path);
// Claims the first free name dir + base + ".N" (N = 1, 2, ...; dir ends in a backslash) with
// FsCreateNew, writing it to path (PATH_SIZE bytes): two runs picking a number at once never
// share one. The open handle, or -1 with path empty (the name no longer fits, or cannot be made).
int FsCreateNumbered(const char *dir, const char *base, char *path);
// Renames the existing file source to the first free name dir + base + ".N", the same numbering
// as FsCreateNumbered: the rename claims the name (it never replaces a file already there).
// 0 with the new name in path (PATH_SIZE bytes), or -1 with path empty (GetLastError: why).
int FsMoveNumbered(const char *source, const char *dir, const char *base, char *path);
// 0, or -1.
int FsClose(int handle);
// The file's size; 0 when it cannot be had.
uint32_t FsSize(int handle);
// Moves to *position from the start of the file; *position := the result, which is the new
// position or -1 (0xFFFFFFFF) on failure. Returns the same value.
int32_t FsSeek(int handle, uint32_t *position);
// Reads up to *count bytes. Returns the bytes read and sets *count to it; -1 (count unchanged)
// at the end of the file or on failure.
int32_t FsRead(int handle, void *buf, uint32_t *count);
// Writes *count bytes. Returns the bytes written and sets *count to it; -1 (count unchanged)
// on failure. A count of 0 writes nothing and returns 0 (it never truncates the file).
int32_t FsWrite(int handle, const void *buf, uint32_t *count);
// Hands what was written to the disk (FlushFileBuffers). 0, or -1.
int FsFlush(int handle);

// DeleteFileA: 0, or -1 (also for a read-only file: attributes are not touched).
int FsDelete(const char *path);
// Copies source to destination (created or emptied) and gives it the source's last-write
// time. The copy is on the disk when this returns 0 (its folder entry too, where the system can
// flush a folder), so the source may be deleted next. 0, or -1; a failure while copying deletes
// the partial destination.
int FsCopyFile(const char *source, const char *destination);
// Creates the directory and every missing parent, top-down. 1 when it exists as a directory
// afterwards (drive specs and "" count as existing), 0 otherwise.
int FsCreateTree(const char *path);
// Removes one empty directory (a trailing backslash is ignored). 1 when removed, else 0.
int FsRemoveDir(const char *path);
// 1 when path (a trailing backslash is ignored) is a directory, else 0.
int FsIsDirectory(const char *path);
// 1 when the directory holds nothing but dot-directories, or cannot be listed; 0 when it holds
// an entry, or when path is too long to list.
int FsIsDirEmpty(const char *path);
// Called by FsWalkDir for each entry found: its name and attributes (FILE_ATTRIBUTE_*).
// 1 to go on, 0 to stop the walk.
using FsWalkCallback = int (*)(const char *name, uint32_t attributes, void *context);
// Hands every entry of dir that matches pattern (a file name, wildcards allowed) to callback,
// "." and ".." left out. 1 when dir and pattern make a path to search, whether or not anything
// matched or dir can be listed; 0 when they do not fit a path (nothing is searched).
int FsWalkDir(const char *dir, const char *pattern, FsWalkCallback callback, void *context);
// SetCurrentDirectoryA on path without a trailing backslash; the result is not checked.
void FsSetCurrentDir(const char *path);
