// Record handlers for the registry: keys ("CRK") and values ("SRK") the installation wrote,
// the product key with its empty parents ("URK") and the application's registration ("MRK").
#include "engine/engine.h"

#include <stdio.h>

#include <initializer_list>

#include "base/path.h"
#include "base/str.h"
#include "base/strlist.h"
#include "engine/regkeys.h"
#include "engine/report.h"
#include "engine/world.h"
#include "logdb/logdb.h"
#include "registry/registry.h"
#include "base/platform.h"

static const char REG_PRODUCT_PREFIX[] = "\\Software\\";

// Any header item fits: the strings record is one log body.
constexpr int REG_ITEM_SIZE = LOG_BODY_MAX + 1;
constexpr int REG_KEY_SIZE = 3 * REG_ITEM_SIZE + 64;

struct RootEntry {
    DWORD number;               // the handle's value as the log writes it
    HKEY key;
    const char *name;           // for people
};

static const RootEntry ROOTS[] = {
    {0x80000000u, HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {0x80000001u, HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {0x80000002u, HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {0x80000003u, HKEY_USERS, "HKEY_USERS"},
};

// "ROOT\path" (and " value" when given) as the report shows a key; null unless a report is
// written, so that a run without one spends nothing on it.
static const char *KeyName(HKEY root, const char *path, const char *value, char *name)
{
    if (!ReportIsOpen())
        return nullptr;
    const char *rootName = "";
    for (const RootEntry &r : ROOTS)
        if (r.key == root)
            rootName = r.name;
    if (*path == '\\')
        ++path;
    snprintf(name, SESSION_OUTCOME_NAME_SIZE, "%s\\%s%s%s", rootName, path,
             value ? ", value " : "", value ? value : "");
    return name;
}

// The outcome of a deletion that did not succeed: the thing is gone after all, or it stays.
static int NotDeleted(Session *session, int stillThere, DWORD error, const char *name)
{
    if (!stillThere)
        return SessionVerdict(session, 0, OUTCOME_GONE, 0, name);
    return SessionVerdict(session, WARN_REGISTRY, OUTCOME_FAILED, error, name);
}

// Decimal text to a 32-bit value: leading blanks, an optional sign, digits (modulo 2^32).
static DWORD ParseRootNumber(const char *text)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    int negative = 0;
    if (*text == '-' || *text == '+')
        negative = *text++ == '-';
    DWORD value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10u + static_cast<DWORD>(*text - '0');
    return negative ? 0u - value : value;
}

// A key path with an empty component would resolve to an ancestor in the registry layer
// (which skips empty components), so "Software\\" could slip past the protected list and
// "App Paths\" + "\" would name the whole App Paths key. Such paths are never acted on.
static int HasEmptyComponent(const char *path)
{
    if (*path == '\0' || *path == '\\')
        return 1;
    for (const char *p = path; *p; p = StrNextChar(p)) {
        const char *next = StrNextChar(p);
        if (*p == '\\' && (*next == '\\' || *next == '\0'))
            return 1;
    }
    return 0;
}

// Drops one trailing and then one leading backslash, in place; returns the path's start.
static char *TrimKeyPath(char *path)
{
    PathNoSlash(path);
    if (path[0] == '\\' && path[1] != '\0')
        return path + 1;
    return path;
}

// "root;key path[;...]" into a root handle and the key path (PATH_SIZE buffer, trimmed of
// one leading and one trailing backslash). 1, or 0 when the text is malformed.
static int SplitKeyText(const char *text, HKEY *root, char *keyPath, char **trimmed)
{
    char field[PATH_SIZE];
    const char *rest = PathField(text, field, ';');
    if (!rest || field[0] == '\0')
        return 0;
    DWORD number = ParseRootNumber(field);
    const RootEntry *entry = nullptr;
    for (const RootEntry &candidate : ROOTS)
        if (candidate.number == number)
            entry = &candidate;
    if (!entry)
        return 0;
    if (!PathField(rest, keyPath, ';') || keyPath[0] == '\0')
        return 0;
    *root = entry->key;
    *trimmed = TrimKeyPath(keyPath);
    return !HasEmptyComponent(*trimmed);
}

// What a "CRK" text or an "SRK" key names: the root, the key path and its name for the report.
struct KeyRecord {
    HKEY root;
    char keyPath[PATH_SIZE];
    char *path;                 // keyPath, trimmed
    char nameBuffer[SESSION_OUTCOME_NAME_SIZE];
    const char *name;           // null unless a report is written
};

// 1, or 0 when text is malformed.
static int ReadKeyRecord(const char *text, const char *value, KeyRecord *key)
{
    if (!SplitKeyText(text, &key->root, key->keyPath, &key->path))
        return 0;
    key->name = KeyName(key->root, key->path, value, key->nameBuffer);
    return 1;
}

int RemoveRegistryKeyRecord(PhaseState *, int mode, Session *session, const char *text, DWORD,
                            StringList *)
{
    if (mode != PHASE_STEP)
        return 0;
    KeyRecord k;
    if (!ReadKeyRecord(text, nullptr, &k))
        return SessionVerdict(session, -1, OUTCOME_MALFORMED);
    if (!IsKeyRemovable(k.root, k.path))
        return SessionVerdict(session, -1, OUTCOME_PROTECTED_KEY, 0, k.name);
    if (WorldDeleteKeyTree(session, k.root, k.path))
        return SessionVerdict(session, 0, OUTCOME_REMOVED, 0, k.name);
    // A key already gone is no failure; one still there after the attempt (no delete access)
    // leaves the removal incomplete and must say so.
    DWORD error = GetLastError();
    return NotDeleted(session, WorldKeyExists(session, k.root, k.path), error, k.name);
}

int RemoveRegistryValueRecord(PhaseState *, int mode, Session *session, const char *, DWORD,
                              StringList *list)
{
    if (mode != PHASE_STEP)
        return 0;
    const char *key, *value;
    if (!RecordListPair(list, &key, &value) || value[0] == '\0')
        return SessionVerdict(session, 0, OUTCOME_NOT_NAMED);
    KeyRecord k;
    if (!ReadKeyRecord(key, value, &k))
        return SessionVerdict(session, -1, OUTCOME_MALFORMED);
    if (WorldDeleteValue(session, k.root, k.path, value))
        return SessionVerdict(session, 0, OUTCOME_REMOVED, 0, k.name);
    // As for keys: a value already gone is no failure, one the key will not give up is.
    DWORD error = GetLastError();
    return NotDeleted(session, WorldValueExists(session, k.root, k.path, value), error, k.name);
}

// Appends text to key (REG_KEY_SIZE); 0 when it would not fit.
static int AppendKey(char *key, const char *text)
{
    if (lstrlenA(key) + lstrlenA(text) >= REG_KEY_SIZE)
        return 0;
    lstrcatA(key, text);
    return 1;
}

// Deletes the key when it has no subkeys left: 1 when it is gone or still needed, else 0.
// A system key the items happen to name is never ours to remove, empty or not.
static int DeleteIfNoSubkeys(Session *session, const char *key)
{
    if (!IsKeyRemovable(HKEY_LOCAL_MACHINE, key) ||
        WorldCountSubkeys(session, HKEY_LOCAL_MACHINE, key) != 0)
        return 1;
    return WorldDeleteKeyTree(session, HKEY_LOCAL_MACHINE, key) ? 1 : 0;
}

// The product's own registration is acted on for records only, and never on Win32s: 1 with
// *result set when the handler has nothing to do.
static int LeavesRegistration(int mode, Session *session, int *result)
{
    *result = 0;
    if (mode != PHASE_STEP)
        return 1;
    if (!PlatformGet()->isWin32s)
        return 0;
    *result = SessionVerdict(session, 0, OUTCOME_PLATFORM);
    return 1;
}

int RemoveProductKeys(PhaseState *state, int mode, Session *session, const char *, DWORD,
                      StringList *)
{
    int skipped;
    if (LeavesRegistration(mode, session, &skipped))
        return skipped;
    char company[REG_ITEM_SIZE], product[REG_ITEM_SIZE], version[REG_ITEM_SIZE];
    LogGetItem(state->log, ITEM_COMPANY_KEY, company, REG_ITEM_SIZE);
    LogGetItem(state->log, ITEM_PRODUCT_KEY, product, REG_ITEM_SIZE);
    LogGetItem(state->log, ITEM_VERSION_KEY, version, REG_ITEM_SIZE);
    if (HasEmptyComponent(company) || HasEmptyComponent(product) || HasEmptyComponent(version))
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_NOT_NAMED);

    char companyKey[REG_KEY_SIZE], productKey[REG_KEY_SIZE], versionKey[REG_KEY_SIZE];
    lstrcpyA(companyKey, REG_PRODUCT_PREFIX);
    if (!AppendKey(companyKey, company))
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_TOO_LONG);
    lstrcpyA(productKey, companyKey);
    if (!AppendKey(productKey, "\\") || !AppendKey(productKey, product))
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_TOO_LONG);
    lstrcpyA(versionKey, productKey);
    if (!AppendKey(versionKey, "\\") || !AppendKey(versionKey, version))
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_TOO_LONG);

    char nameBuffer[SESSION_OUTCOME_NAME_SIZE];
    const char *name = KeyName(HKEY_LOCAL_MACHINE, versionKey, nullptr, nameBuffer);
    // Items that compose a system key are not the product's: nothing of it goes, and the
    // removal is reported incomplete like any other unusable item.
    if (!IsKeyRemovable(HKEY_LOCAL_MACHINE, versionKey))
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_PROTECTED_KEY, 0, name);
    if (!WorldDeleteKeyTree(session, HKEY_LOCAL_MACHINE, versionKey)) {
        DWORD error = GetLastError();
        int there = WorldKeyExists(session, HKEY_LOCAL_MACHINE, versionKey);
        return SessionVerdict(session, WARN_REGISTRY, there ? OUTCOME_FAILED : OUTCOME_GONE,
                              there ? error : 0, name);
    }
    // Other products of the same company keep the company key.
    for (const char *parent : {productKey, companyKey})
        if (!DeleteIfNoSubkeys(session, parent))
            return SessionVerdict(session, WARN_REGISTRY, OUTCOME_FAILED, GetLastError(),
                                  KeyName(HKEY_LOCAL_MACHINE, parent, nullptr, nameBuffer));
    return SessionVerdict(session, 0, OUTCOME_REMOVED, 0, name);
}

// One key name and nothing more: a name with a backslash would reach beside or below the
// product's own entry (another product's key, or the whole list).
static int IsOneKeyName(const char *name)
{
    if (*name == '\0')
        return 0;
    for (const char *p = name; *p; p = StrNextChar(p))
        if (*p == '\\')
            return 0;
    return 1;
}

int DeleteAppPathKeys(Session *session, HKEY root, const char *prefix, const char *names)
{
    int result = 1;
    char name[PATH_SIZE];
    char key[PATH_SIZE];
    for (const char *p = PathField(names, name, ';'); p && name[0] != '\0';
         p = PathField(p, name, ';')) {
        if (!IsOneKeyName(name) || !PathJoin(key, prefix, name)) {
            result = 0;
            continue;
        }
        WorldDeleteKeyTree(session, root, key);
    }
    return result;
}

// Whether text holds a ";" (as a character of its own, not a trail byte).
static int HasSeparator(const char *text)
{
    for (const char *p = text; *p; p = StrNextChar(p))
        if (*p == ';' && !StrIsDoubleByte(p))
            return 1;
    return 0;
}

int RemoveAppRegistration(PhaseState *state, int mode, Session *session, const char *, DWORD,
                          StringList *)
{
    int skipped;
    if (LeavesRegistration(mode, session, &skipped))
        return skipped;
    char appPath[REG_ITEM_SIZE], uninstall[REG_ITEM_SIZE];
    char key[REG_KEY_SIZE];
    LogGetItem(state->log, ITEM_UNINSTALL_KEY, uninstall, REG_ITEM_SIZE);
    LogGetItem(state->log, ITEM_APP_PATH, appPath, REG_ITEM_SIZE);
    if (appPath[0] == '\0')
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_NOT_NAMED);
    // Whether an App Paths key went is not looked at; a name that is not ours is refused.
    int appPathsTaken = 1;
    if (HasSeparator(appPath)) {
        appPathsTaken = DeleteAppPathKeys(session, HKEY_LOCAL_MACHINE, ENGINE_APP_PATHS_KEY, appPath);
    } else if (IsOneKeyName(appPath)) {
        lstrcpyA(key, ENGINE_APP_PATHS_KEY);
        if (AppendKey(key, "\\") && AppendKey(key, appPath))
            WorldDeleteKeyTree(session, HKEY_LOCAL_MACHINE, key);
    } else {
        appPathsTaken = 0;
    }
    // The list of uninstallable programs is never touched without a key name of our own.
    if (!IsOneKeyName(uninstall))
        return SessionVerdict(session, WARN_REGISTRY,
                              uninstall[0] ? OUTCOME_NOT_OURS : OUTCOME_NOT_NAMED);
    lstrcpyA(key, ENGINE_UNINSTALL_KEY);
    if (!AppendKey(key, "\\") || !AppendKey(key, uninstall))
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_TOO_LONG);
    char nameBuffer[SESSION_OUTCOME_NAME_SIZE];
    const char *name = KeyName(HKEY_LOCAL_MACHINE, key, nullptr, nameBuffer);
    if (!WorldDeleteKeyTree(session, HKEY_LOCAL_MACHINE, key)) {
        DWORD error = GetLastError();
        int there = WorldKeyExists(session, HKEY_LOCAL_MACHINE, key);
        return SessionVerdict(session, WARN_REGISTRY, there ? OUTCOME_FAILED : OUTCOME_GONE,
                              there ? error : 0, name);
    }
    if (!appPathsTaken)
        return SessionVerdict(session, WARN_REGISTRY, OUTCOME_NOT_OURS, 0, name);
    return SessionVerdict(session, 0, OUTCOME_REMOVED, 0, name);
}
