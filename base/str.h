// Character primitives for ANSI text in the system code page, which may be double-byte.
// Every character walk in the program goes through these, so a trail byte is never taken
// for a separator.
#pragma once

// The next character (CharNextA); at the terminator, the same position.
char *StrNextChar(const char *pos);
// The previous character (CharPrevA); at the start, the start itself.
char *StrPrevChar(const char *start, const char *pos);
// 1 when the character at pos is two bytes long.
int StrIsDoubleByte(const char *pos);
// 1 when the first characters of a and b are the same character (case-sensitive).
int StrSameChar(const char *a, const char *b);
// Copies exactly count bytes (count below 65536); the areas must not overlap.
void StrCopyBytes(void *dst, const void *src, unsigned count);
// Number of bytes before the terminator.
int StrByteLength(const char *s);
// Removes leading and trailing spaces and tabs in place; 0 for a null string, else 1.
int StrTrimBlanks(char *s);
