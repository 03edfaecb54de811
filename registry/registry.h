// Registry work on whole key paths ("Software\Maker\Product", below an open or root key) and the
// shared-file reference counts under HKLM "Software\Microsoft\Windows\CurrentVersion\SharedDLLs".
// Values travel as text both ways; numbers are written with "%ld".
//
// Key paths: one leading backslash is ignored, components are separated by backslashes and hold
// at most PATH_MAX_BYTES bytes each, and one trailing backslash ends the path. A path with no
// component at all, or with an empty component ("a\\b", "a\\"), names no key: such a path is
// refused rather than taken as its prefix, so a damaged path can never widen a deletion.
#pragma once
#include <windows.h>

constexpr int REGISTRY_VALUE_MAX = 1023;                    // longest value data read
constexpr int REGISTRY_TEXT_SIZE = REGISTRY_VALUE_MAX + 1;  // text buffer that holds any value
constexpr int REGISTRY_SIZE_TEXT = -1;   // RegistrySetValue size: the text's length + 1

// The key named by path below key, or null. The caller closes it with RegCloseKey.
HKEY RegistryOpenPath(HKEY key, const char *path);
// Like RegistryOpenPath, creating every missing key on the way with the given class text.
HKEY RegistryCreatePath(HKEY key, const char *path, const char *className);
// Deletes the key and everything below it, deepest first. 1 when it is gone, else 0; subkeys
// deleted before a failure stay deleted; GetLastError then tells the registry's reason.
// On the NT family (PlatformGet) the keys below path are found by their Unicode names, so a
// subkey named outside the ANSI code page goes too.
int RegistryDeleteTree(HKEY key, const char *path);
// Number of direct subkeys (values do not count), of any name on the NT family; 0 when the key
// cannot be opened or read.
int RegistryCountSubkeys(HKEY key, const char *path);
// Writes a value, creating the key path when missing. REG_DWORD and REG_DWORD_BIG_ENDIAN take
// the text as a decimal number; REG_SZ and REG_EXPAND_SZ store the text with its terminator;
// other types store size bytes of data (REGISTRY_SIZE_TEXT: the text's length + 1). 1 or 0.
int RegistrySetValue(HKEY key, const char *path, const char *name, DWORD type, int size,
                     const char *data);
// Reads a value as text into text (textSize bytes): strings as they are (the first string of a
// REG_MULTI_SZ), numbers with "%ld", other data as raw bytes followed by a terminator. type and
// size (either may be null) receive what the registry reported. 1 on success; 0 when the key or
// value is missing, the data is longer than REGISTRY_VALUE_MAX, or the text would not fit.
int RegistryQueryValue(HKEY key, const char *path, const char *name, DWORD *type, DWORD *size,
                       char *text, int textSize);
// 1 when the key holds the value, whatever its type or size, or will not say whether it does;
// 0 when the key or the value is missing.
int RegistryHasValue(HKEY key, const char *path, const char *name);
// Deletes one value. 1 on success, else 0 (GetLastError tells the registry's reason).
int RegistryDeleteValue(HKEY key, const char *path, const char *name);

// Sets up the shared-count manager in pool. 0, or -1 without memory.
int SharedCountInit(int pool);
// Forgets the manager (its pool owner frees the memory); SharedCountAdjust refuses work again.
void SharedCountShutdown();
// Results of SharedCountAdjust besides the new count.
constexpr int SHARED_COUNT_NONE = -1;     // the file has no count: nothing to give back
constexpr int SHARED_COUNT_FAILED = -2;   // a count is (or may be) there but could not be read
                                          // as a number or changed; nothing was changed

// Adds delta to the count of file. A file without a count gets delta, plus 1 when flag is 0;
// asking one to give back (delta < 0) gives SHARED_COUNT_NONE and touches nothing. Counts below
// 0 become 0, and a count of 0 removes the value. A count is a REG_DWORD or a decimal text.
// Returns the new count (once it is stored), SHARED_COUNT_NONE or SHARED_COUNT_FAILED (also
// without the manager, or when "SharedDLLs" cannot be opened).
int SharedCountAdjust(const char *file, int delta, int flag);
// The count of file as it stands, changing nothing (no manager needed): the count,
// SHARED_COUNT_NONE or SHARED_COUNT_FAILED.
int SharedCountRead(const char *file);
