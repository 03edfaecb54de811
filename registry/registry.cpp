#include "registry/registry.h"
#include "base/path.h"
#include "base/platform.h"
#include "base/pool.h"
#include <limits.h>
#include <string.h>

static const char SHARED_PARENT[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char SHARED_KEY[] = "SharedDLLs";
constexpr int REG_NAME_SIZE = PATH_SIZE;            // subkey name buffer for RegEnumKeyA
constexpr int REG_WIDE_NAME_SIZE = 256;             // longest key name (255 characters) + 1

struct SharedCountManager {
    int pool;
};

static SharedCountManager *sharedCounts;

// 1 when rc is a success; else 0, with rc kept as the thread's last error for whoever reports it.
static int Succeeded(LONG rc)
{
    if (rc == ERROR_SUCCESS)
        return 1;
    SetLastError(static_cast<DWORD>(rc));
    return 0;
}

static void CloseUnlessStart(HKEY key, HKEY start)
{
    if (key && key != start)
        RegCloseKey(key);
}

// Walks the components of path below start, opening (create == 0) or creating each one.
static HKEY WalkPath(HKEY start, const char *path, int create, const char *className)
{
    if (!start || !path)
        return nullptr;
    if (*path == '\\')
        path++;
    char name[PATH_SIZE];
    HKEY current = start;
    int opened = 0;
    const char *p = path;
    while (*p) {
        p = PathField(p, name, '\\');
        // A single trailing backslash is eaten as the last delimiter, so an empty component
        // only comes from doubled backslashes: refuse it rather than act on a shorter path.
        if (!p || !name[0]) {
            CloseUnlessStart(current, start);
            return nullptr;
        }
        HKEY next = nullptr;
        LONG rc;
        if (create) {
            DWORD disposition;
            rc = RegCreateKeyExA(current, name, 0, const_cast<char *>(className ? className : ""),
                                 0, KEY_ALL_ACCESS, nullptr, &next, &disposition);
        } else {
            rc = RegOpenKeyA(current, name, &next);
        }
        CloseUnlessStart(current, start);
        if (!Succeeded(rc))
            return nullptr;
        current = next;
        opened = 1;
    }
    // A path without any component names the starting key itself: never hand that out.
    if (!opened)
        return nullptr;
    return current;
}

HKEY RegistryOpenPath(HKEY key, const char *path)
{
    return WalkPath(key, path, 0, nullptr);
}

HKEY RegistryCreatePath(HKEY key, const char *path, const char *className)
{
    return WalkPath(key, path, 1, className);
}

// path without its leading backslash and trailing backslash, for RegDeleteKeyA. 0 when it does
// not fit.
static int TrimPath(const char *path, char *out, int outSize)
{
    if (*path == '\\')
        path++;
    int n = static_cast<int>(strlen(path));
    if (n >= outSize)
        return 0;
    memcpy(out, path, n + 1);
    if (n > 0) {
        char *last = PathLastChar(out);
        if (*last == '\\' && last + 1 == out + n)
            *last = 0;
    }
    return 1;
}

// On the NT family key names are Unicode: the ANSI calls hand back a name outside the code page
// with '?' in it (which then opens nothing) and refuse a double-byte name longer than their
// buffer, so the keys below a path are enumerated, counted and deleted by their wide names there.
// Windows 95 and Win32s have only the ANSI names.
static int UsesWideNames()
{
    return PlatformGet()->isNtFamily;
}

// Deletes every subkey of opened, deepest first, always taking the first remaining one since
// indexes shift as keys go. 1 when the enumeration ended; 0 at the first subkey that stays.
static int DeleteSubkeysA(HKEY opened)
{
    char sub[REG_NAME_SIZE];
    while (RegEnumKeyA(opened, 0, sub, sizeof sub) == ERROR_SUCCESS) {
        if (!RegistryDeleteTree(opened, sub))
            return 0;
    }
    return 1;
}

// The same by wide names; 1 only when no subkey is left, since a name the call cannot give
// whole must not end the walk as if the key were empty.
static int DeleteSubkeysW(HKEY opened)
{
    WCHAR sub[REG_WIDE_NAME_SIZE];
    for (;;) {
        LONG rc = RegEnumKeyW(opened, 0, sub, REG_WIDE_NAME_SIZE);
        if (rc == ERROR_NO_MORE_ITEMS)
            return 1;
        HKEY child = nullptr;
        if (!Succeeded(rc) || !Succeeded(RegOpenKeyW(opened, sub, &child)))
            return 0;
        int emptied = DeleteSubkeysW(child);
        RegCloseKey(child);
        if (!emptied || !Succeeded(RegDeleteKeyW(opened, sub)))
            return 0;
    }
}

int RegistryDeleteTree(HKEY key, const char *path)
{
    if (!path || !*path)
        return 0;
    char target[REGISTRY_TEXT_SIZE];
    if (!TrimPath(path, target, sizeof target))
        return 0;
    HKEY opened = RegistryOpenPath(key, path);
    if (!opened)
        return 0;
    int emptied = UsesWideNames() ? DeleteSubkeysW(opened) : DeleteSubkeysA(opened);
    RegCloseKey(opened);
    if (!emptied)
        return 0;
    return Succeeded(RegDeleteKeyA(key, target));
}

static int CountSubkeysA(HKEY opened)
{
    char sub[REG_NAME_SIZE];
    int count = 0;
    while (RegEnumKeyA(opened, count, sub, sizeof sub) == ERROR_SUCCESS)
        count++;
    return count;
}

// Asked of the key rather than enumerated, so that no name has to fit a buffer.
static int CountSubkeysW(HKEY opened)
{
    DWORD count = 0;
    if (RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

int RegistryCountSubkeys(HKEY key, const char *path)
{
    if (!path || !*path)
        return 0;
    HKEY opened = RegistryOpenPath(key, path);
    if (!opened)
        return 0;
    int count = UsesWideNames() ? CountSubkeysW(opened) : CountSubkeysA(opened);
    RegCloseKey(opened);
    return count;
}

// Decimal number as the registry's numeric values take it: leading blanks, a sign, digits.
// Wraps to 32 bits like the stored DWORD does.
static LONG ParseNumber(const char *text)
{
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t')
        text++;
    int negative = 0;
    if (*text == '-' || *text == '+')
        negative = *text++ == '-';
    DWORD value = 0;
    while (*text >= '0' && *text <= '9')
        value = value * 10 + static_cast<DWORD>(*text++ - '0');
    if (negative)
        value = 0u - value;
    return static_cast<LONG>(value);
}

int RegistrySetValue(HKEY key, const char *path, const char *name, DWORD type, int size,
                     const char *data)
{
    if (!data)
        return 0;
    LONG number;
    const BYTE *bytes = reinterpret_cast<const BYTE *>(data);
    DWORD length;
    if (type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) {
        number = ParseNumber(data);
        bytes = reinterpret_cast<const BYTE *>(&number);
        length = sizeof number;
    } else if (type == REG_SZ || type == REG_EXPAND_SZ || size == REGISTRY_SIZE_TEXT) {
        length = static_cast<DWORD>(strlen(data) + 1);
    } else if (size < 0) {
        return 0;
    } else {
        length = static_cast<DWORD>(size);
    }
    HKEY opened = RegistryOpenPath(key, path);
    if (!opened)
        opened = RegistryCreatePath(key, path, "");
    if (!opened)
        return 0;
    LONG rc = RegSetValueExA(opened, name, 0, type, bytes, length);
    LONG closed = RegCloseKey(opened);
    return rc == ERROR_SUCCESS && closed == ERROR_SUCCESS ? 1 : 0;
}

// Fills text from the raw data by its type. 0 when the text would not fit.
static int DataToText(DWORD type, const BYTE *data, DWORD size, char *text, int textSize)
{
    if (type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN) {
        LONG number = 0;
        memcpy(&number, data, size < sizeof number ? size : sizeof number);
        char digits[16];
        wsprintfA(digits, "%ld", number);
        data = reinterpret_cast<const BYTE *>(digits);
        size = static_cast<DWORD>(strlen(digits));
        if (static_cast<int>(size) >= textSize)
            return 0;
        memcpy(text, digits, size + 1);
        return 1;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
        // Stored strings need not carry their terminator; the first string ends at a NUL.
        DWORD n = 0;
        while (n < size && data[n])
            n++;
        size = n;
    }
    if (static_cast<int>(size) >= textSize)
        return 0;
    memcpy(text, data, size);
    text[size] = 0;
    return 1;
}

int RegistryQueryValue(HKEY key, const char *path, const char *name, DWORD *type, DWORD *size,
                       char *text, int textSize)
{
    if (!text || textSize <= 0)
        return 0;
    HKEY opened = RegistryOpenPath(key, path);
    if (!opened)
        return 0;
    BYTE data[REGISTRY_VALUE_MAX];
    DWORD readType = REG_NONE;
    DWORD readSize = REGISTRY_VALUE_MAX;
    LONG rc = RegQueryValueExA(opened, name, nullptr, &readType, data, &readSize);
    RegCloseKey(opened);
    if (type)
        *type = readType;
    if (size)
        *size = readSize;
    if (rc != ERROR_SUCCESS || readSize > REGISTRY_VALUE_MAX)
        return 0;
    return DataToText(readType, data, readSize, text, textSize);
}

// Whether the value is known to be absent: 1 when it is missing, 0 when it is there or the
// registry would not say (no access).
static int ValueIsMissing(HKEY key, const char *name)
{
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    return rc == ERROR_FILE_NOT_FOUND ? 1 : 0;
}

static int ValueIsPresent(HKEY key, const char *name)
{
    return ValueIsMissing(key, name) ? 0 : 1;
}

static int DeleteOneValue(HKEY key, const char *name)
{
    return Succeeded(RegDeleteValueA(key, name));
}

// Opens the key at path below key, applies action to the value name there and closes the key
// again: action's result, or 0 when the key cannot be opened.
static int OnValue(HKEY key, const char *path, const char *name,
                   int (*action)(HKEY opened, const char *name))
{
    HKEY opened = RegistryOpenPath(key, path);
    if (!opened)
        return 0;
    int result = action(opened, name);
    RegCloseKey(opened);
    return result;
}

int RegistryHasValue(HKEY key, const char *path, const char *name)
{
    return OnValue(key, path, name, ValueIsPresent);
}

int RegistryDeleteValue(HKEY key, const char *path, const char *name)
{
    return OnValue(key, path, name, DeleteOneValue);
}

int SharedCountInit(int pool)
{
    auto *manager = static_cast<SharedCountManager *>(PoolAlloc(pool, sizeof(SharedCountManager)));
    if (!manager)
        return -1;
    manager->pool = pool;
    sharedCounts = manager;
    return 0;
}

void SharedCountShutdown()
{
    sharedCounts = nullptr;
}

// The parent of "SharedDLLs", opened or created, with "SharedDLLs" itself made sure of.
static HKEY OpenSharedParent()
{
    HKEY parent = RegistryOpenPath(HKEY_LOCAL_MACHINE, SHARED_PARENT);
    if (!parent)
        parent = RegistryCreatePath(HKEY_LOCAL_MACHINE, SHARED_PARENT, "");
    if (!parent)
        return nullptr;
    HKEY shared = RegistryOpenPath(parent, SHARED_KEY);
    if (!shared)
        shared = RegistryCreatePath(parent, SHARED_KEY, "");
    if (shared)
        RegCloseKey(shared);
    return parent;
}

// A stored count as a number: a 4-byte REG_DWORD, or a text of blanks, a sign and digits.
// Anything else is somebody's data that only looks like a count; it is never rewritten.
static int CountFromValue(DWORD type, DWORD size, const char *text, LONG *count)
{
    if (type == REG_DWORD) {
        if (size != sizeof(DWORD))
            return 0;
        *count = ParseNumber(text);
        return 1;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return 0;
    const char *p = text;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '-' || *p == '+')
        p++;
    if (*p < '0' || *p > '9')
        return 0;
    while (*p >= '0' && *p <= '9')
        p++;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p)
        return 0;
    *count = ParseNumber(text);
    return 1;
}

// Reads the count of file in "SharedDLLs" below parent: 1 read, SHARED_COUNT_NONE when the
// file has none, SHARED_COUNT_FAILED when one is there but unreadable.
static int ReadCount(HKEY parent, const char *file, LONG *count)
{
    HKEY shared = nullptr;
    LONG rc = RegOpenKeyA(parent, SHARED_KEY, &shared);
    if (rc == ERROR_FILE_NOT_FOUND)
        return SHARED_COUNT_NONE;
    if (rc != ERROR_SUCCESS)
        return SHARED_COUNT_FAILED;
    int missing = ValueIsMissing(shared, file);
    RegCloseKey(shared);
    if (missing)
        return SHARED_COUNT_NONE;
    char text[REGISTRY_TEXT_SIZE];
    DWORD type = REG_NONE, size = 0;
    if (!RegistryQueryValue(parent, SHARED_KEY, file, &type, &size, text, sizeof text) ||
        !CountFromValue(type, size, text, count))
        return SHARED_COUNT_FAILED;
    return 1;
}

int SharedCountRead(const char *file)
{
    if (!file || !*file)
        return SHARED_COUNT_FAILED;
    HKEY parent = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_PARENT, 0, KEY_READ, &parent);
    if (rc != ERROR_SUCCESS)
        return rc == ERROR_FILE_NOT_FOUND ? SHARED_COUNT_NONE : SHARED_COUNT_FAILED;
    LONG count = 0;
    int read = ReadCount(parent, file, &count);
    RegCloseKey(parent);
    return read == 1 ? static_cast<int>(count < 0 ? 0 : count) : read;
}

int SharedCountAdjust(const char *file, int delta, int flag)
{
    // Without the manager nobody can tell whether a count is there.
    if (!sharedCounts || !file || !*file)
        return SHARED_COUNT_FAILED;
    HKEY parent = OpenSharedParent();
    if (!parent)
        return SHARED_COUNT_FAILED;
    LONG stored = 0;
    int read = ReadCount(parent, file, &stored);
    long long count;
    if (read == 1) {
        count = static_cast<long long>(stored) + delta;
    } else if (read == SHARED_COUNT_FAILED || delta < 0) {
        RegCloseKey(parent);
        return read;
    } else {
        count = static_cast<long long>(delta) + (flag == 0 ? 1 : 0);
    }
    if (count < 0)
        count = 0;
    if (count > 0x7FFFFFFF)
        count = 0x7FFFFFFF;
    char text[16];
    int ok;
    if (count > 0) {
        wsprintfA(text, "%ld", static_cast<long>(count));
        ok = RegistrySetValue(parent, SHARED_KEY, file, REG_DWORD, 4, text);
    } else {
        ok = RegistryDeleteValue(parent, SHARED_KEY, file);
    }
    RegCloseKey(parent);
    return ok ? static_cast<int>(count) : SHARED_COUNT_FAILED;
}
