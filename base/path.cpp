#include "base/path.h"

#include "base/str.h"

#include <windows.h>

static int IsSep(const char *p)
{
    return *p == '\\' || *p == ':';
}

// Copies src to dst when they differ. A path longer than a path buffer empties dst and gives 0:
// a cut copy would name another, shorter path.
static int CopyPath(char *dst, const char *src)
{
    if (StrByteLength(src) > PATH_MAX_BYTES) {
        dst[0] = 0;
        return 0;
    }
    if (dst != src)
        lstrcpynA(dst, src, PATH_SIZE);
    return 1;
}

char *PathLastChar(const char *s)
{
    const char *last = s;
    for (const char *p = s; *p; p = StrNextChar(p))
        last = p;
    return const_cast<char *>(last);
}

void PathDir(const char *path, char *out)
{
    if (!CopyPath(out, path))
        return;
    char *last = nullptr;
    int counted = 0, sawColon = 0, sawBackslash = 0;
    for (char *p = out; *p; p = StrNextChar(p)) {
        if (*p == ':') {
            sawColon = 1;
            counted++;
            last = p;
        } else if (*p == '\\') {
            // "C:\" is one separator, not two.
            if (!(sawColon && !sawBackslash))
                counted++;
            sawBackslash = 1;
            last = p;
        }
    }
    if (!last)
        out[0] = 0;
    else if (counted <= 1)
        last[1] = 0;
    else
        last[0] = 0;
}

void PathName(const char *path, char *out)
{
    const char *name = path;
    for (const char *p = path; *p; p = StrNextChar(p))
        if (IsSep(p))
            name = p + 1;
    CopyPath(out, name);
}

int PathWithSlash(char *path)
{
    int len = StrByteLength(path);
    if (len > 0) {
        char *last = PathLastChar(path);
        if (!StrIsDoubleByte(last) && *last == '\\')
            return 1;
    }
    if (len + 1 > PATH_MAX_BYTES)
        return 0;
    path[len] = '\\';
    path[len + 1] = 0;
    return 1;
}

int PathNoSlash(char *path)
{
    char *prev = nullptr, *last = nullptr;
    for (char *p = path; *p; p = StrNextChar(p)) {
        prev = last;
        last = p;
    }
    if (!last || *last != '\\' || StrIsDoubleByte(last))
        return 1;
    if (last == path || (prev && *prev == ':' && !StrIsDoubleByte(prev)))
        return 1;
    *last = 0;
    return 1;
}

void PathParent(const char *path, char *out)
{
    if (!CopyPath(out, path))
        return;
    char *cut = nullptr, *colon = nullptr;
    for (char *p = out; *p; p = StrNextChar(p)) {
        if (*p == '\\' && p[1])
            cut = p;
        else if (*p == ':')
            colon = p;
    }
    if (cut) {
        *cut = 0;
        if (cut == out || PathIsDriveSpec(out)) {
            cut[0] = '\\';
            cut[1] = 0;
        }
        return;
    }
    if (colon) {
        if (colon[1] != '\\')
            colon[1] = 0;
        return;
    }
    if (out[0] != '\\')
        out[0] = 0;
}

int PathJoin(char *out, const char *dir, const char *name)
{
    if (!CopyPath(out, dir))
        return 0;
    if (!PathAppendName(out, name)) {
        out[0] = 0;
        return 0;
    }
    return 1;
}

int PathAppendName(char *path, const char *name)
{
    int len = StrByteLength(path);
    if (!PathWithSlash(path))
        return 0;
    int withSlash = StrByteLength(path);
    if (withSlash + StrByteLength(name) > PATH_MAX_BYTES) {
        path[len] = 0;
        return 0;
    }
    lstrcpyA(path + withSlash, name);
    return 1;
}

int PathExt(const char *path, char *ext, char *base)
{
    // A longer path would reach the outputs cut short, and its extension with it.
    if (!path || !*path || StrByteLength(path) > PATH_MAX_BYTES)
        return 0;
    ext[0] = 0;
    const char *name = path;
    for (const char *p = path; *p; p = StrNextChar(p))
        if (IsSep(p))
            name = p + 1;
    if (!*name)
        name = path;
    if (base)
        CopyPath(base, path);
    const char *dot = nullptr;
    for (const char *p = name; *p; p = StrNextChar(p))
        if (*p == '.') {
            dot = p;
            break;
        }
    if (!dot)
        return 0;
    lstrcpynA(ext, dot + 1, PATH_SIZE);
    if (base) {
        // The dot lies in the name, which is the end of the path.
        int keep = StrByteLength(base) - StrByteLength(dot);
        base[keep] = 0;
    }
    return 1;
}

int PathHasExt(const char *path)
{
    char ext[PATH_SIZE];
    return PathExt(path, ext, nullptr) && ext[0] != 0;
}

int PathDropExt(char *path)
{
    char *dot = nullptr;
    for (char *p = path; *p; p = StrNextChar(p)) {
        if (*p == '.')
            dot = p;
        else if (*p == '\\')
            dot = nullptr;
    }
    if (!dot)
        return 0;
    *dot = 0;
    return 1;
}

int PathSetExt(char *path, const char *ext)
{
    char work[PATH_SIZE];
    CopyPath(work, path);
    PathDropExt(work);
    if (ext[0]) {
        int len = StrByteLength(work);
        if (len + 1 + StrByteLength(ext) > PATH_MAX_BYTES)
            return 0;
        work[len] = '.';
        lstrcpyA(work + len + 1, ext);
    }
    lstrcpyA(path, work);
    return 1;
}

const char *PathField(const char *src, char *out, char delim)
{
    int copied = 0;
    const char *p = src;
    while (*p) {
        const char *next = StrNextChar(p);
        int n = static_cast<int>(next - p);
        if (n == 1 && *p == delim) {
            out[copied] = 0;
            return next;
        }
        if (copied + n > PATH_MAX_BYTES) {
            out[copied] = 0;
            return nullptr;
        }
        StrCopyBytes(out + copied, p, n);
        copied += n;
        p = next;
    }
    out[copied] = 0;
    return p;
}

int PathHasDrive(const char *path)
{
    if (!path)
        return 0;
    char c = path[0];
    int letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter && path[1] == ':' && path[2] == '\\';
}

int PathIsDriveSpec(const char *path)
{
    if (!path || !*path)
        return 0;
    const char *p = StrNextChar(path);
    if (*p != ':')
        return 0;
    p++;
    return *p == 0 || (p[0] == '\\' && p[1] == 0);
}

int PathFits(const char *path)
{
    return lstrlenA(path) <= PATH_MAX_BYTES;
}
