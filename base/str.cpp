#include "base/str.h"

#include <windows.h>

// No code page has an ASCII lead byte: most of every path is walked without asking the system.
char *StrNextChar(const char *pos)
{
    if (static_cast<unsigned char>(*pos) < 0x80)
        return const_cast<char *>(*pos ? pos + 1 : pos);
    return CharNextA(pos);
}

char *StrPrevChar(const char *start, const char *pos)
{
    return CharPrevA(start, pos);
}

int StrIsDoubleByte(const char *pos)
{
    return StrNextChar(pos) - pos == 2;
}

int StrSameChar(const char *a, const char *b)
{
    if (StrIsDoubleByte(a))
        return StrIsDoubleByte(b) && a[0] == b[0] && a[1] == b[1];
    return !StrIsDoubleByte(b) && a[0] == b[0];
}

void StrCopyBytes(void *dst, const void *src, unsigned count)
{
    unsigned char *d = static_cast<unsigned char *>(dst);
    const unsigned char *s = static_cast<const unsigned char *>(src);
    for (unsigned i = 0; i < count; i++)
        d[i] = s[i];
}

int StrByteLength(const char *s)
{
    int n = 0;
    while (s[n])
        n++;
    return n;
}

static int IsBlank(const char *p)
{
    return *p == ' ' || *p == '\t';
}

int StrTrimBlanks(char *s)
{
    if (!s)
        return 0;
    char *p = s;
    while (IsBlank(p))
        p = StrNextChar(p);
    if (p != s) {
        char *d = s;
        while ((*d++ = *p++) != 0) {
        }
    }
    if (!*s)
        return 1;
    // Blanks are single-byte, so stepping back over them never splits a character.
    char *end = s + StrByteLength(s);
    char *q = end;
    while (q > s) {
        char *prev = StrPrevChar(s, q);
        if (!IsBlank(prev))
            break;
        q = prev;
    }
    *q = 0;
    return 1;
}
