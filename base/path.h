// Windows path utilities working in place on caller buffers of at least PATH_SIZE bytes.
// Backslash and colon are the only separators; every scan walks whole characters, so the
// trail byte of a double-byte character is never taken for a separator. Nothing touches the disk.
#pragma once

constexpr int PATH_MAX_BYTES = 260;              // longest path, terminator not counted
constexpr int PATH_SIZE = PATH_MAX_BYTES + 1;    // buffer size every path buffer has

// PathDir, PathName and PathParent leave out empty when their result would not fit in PATH_SIZE
// (a path over PATH_MAX_BYTES, a name over it): refused, never cut.
// Directory part of path into out ("C:\dir\file" -> "C:\dir", "C:\file" -> "C:\").
void PathDir(const char *path, char *out);
// Text after the last backslash or colon; the whole path when there is neither.
void PathName(const char *path, char *out);
// Appends a backslash unless the path already ends in one; "" becomes "\".
// Returns 0 (path unchanged) when the result would not fit in PATH_SIZE, else 1.
int PathWithSlash(char *path);
// Removes one trailing backslash, keeping roots such as "C:\" and "\". Returns 1.
int PathNoSlash(char *path);
// Parent directory of path into out ("C:\a\b" -> "C:\a", "C:\a" -> "C:\").
void PathParent(const char *path, char *out);
// out := dir + "\" + name. Returns 1, or 0 with out emptied when the result would not fit.
int PathJoin(char *out, const char *dir, const char *name);
// path := path + "\" + name. Returns 1, or 0 with path unchanged when it would not fit.
int PathAppendName(char *path, const char *name);
// Extension after the first dot of the file name into ext; base (may be null) receives the
// path without it. Returns 1 when there is a dot, else 0; 0 with nothing written for an empty
// path or one over PATH_MAX_BYTES.
int PathExt(const char *path, char *ext, char *base);
// 1 when the file name has a non-empty extension.
int PathHasExt(const char *path);
// Cuts the path at its last dot when no backslash follows it; 1 when something was cut.
int PathDropExt(char *path);
// Replaces the extension (none when ext is empty). Returns 1, or 0 with the path unchanged
// when the result would not fit.
int PathSetExt(char *path, const char *ext);
// Copies the next delim-separated field of src into out (at most PATH_MAX_BYTES bytes).
// Returns the position after the delimiter, the terminator's position at the end of src,
// or null when the field is too long.
const char *PathField(const char *src, char *out, char delim);
// 1 when path begins with an ASCII letter, a colon and a backslash; 0 for null.
int PathHasDrive(const char *path);
// 1 when path is one character and a colon, optionally followed by a lone backslash.
int PathIsDriveSpec(const char *path);
// First byte of the last character; s itself when s is empty.
char *PathLastChar(const char *s);
// 1 when path fits a path buffer. A longer one is never handed to the file system: the system
// would see a different (cut) name, or refuse it anyway.
int PathFits(const char *path);
