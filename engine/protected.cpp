// What no log may remove: the registry keys that hold the system's own settings or the data of
// every installed product. A damaged or hostile log must never take them, whichever of their
// names it uses. Matching is by whole path, so a key of one's own below a protected one (a
// company key below "Software") stays removable; every parent of a protected key is protected
// with it, since deleting the parent would take the key along. The twin for files and folders
// is protected_files.cpp.
#include "engine/engine.h"

#include <string.h>

#include "base/ident.h"
#include "base/path.h"
#include "base/str.h"
#include "engine/regkeys.h"
#include "registry/registry.h"
#include "base/platform.h"

struct ProtectedKey {
    HKEY root;
    const char *path;
};

// Parents need no line of their own; "Current Version" with a blank is the name older setups
// wrote and is kept beside the real one.
static const ProtectedKey PROTECTED_KEYS[] = {
    {HKEY_LOCAL_MACHINE, "Config"},
    {HKEY_LOCAL_MACHINE, "Enum"},
    {HKEY_LOCAL_MACHINE, "Hardware"},
    {HKEY_LOCAL_MACHINE, "Network"},
    {HKEY_LOCAL_MACHINE, "SAM"},
    {HKEY_LOCAL_MACHINE, "Security"},
    {HKEY_LOCAL_MACHINE, "Software\\Clients"},
    {HKEY_LOCAL_MACHINE, "Software\\Description"},
    {HKEY_LOCAL_MACHINE, "Software\\ODBC\\ODBC.INI"},
    {HKEY_LOCAL_MACHINE, "Software\\ODBC\\ODBCINST.INI"},
    {HKEY_LOCAL_MACHINE, "Software\\Policies"},
    {HKEY_LOCAL_MACHINE, "Software\\RegisteredApplications"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Active Setup\\Installed Components"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\Current Version"},
    {HKEY_LOCAL_MACHINE, ENGINE_APP_PATHS_KEY},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"},
    {HKEY_LOCAL_MACHINE,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Installer"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"},
    {HKEY_LOCAL_MACHINE, ENGINE_UNINSTALL_KEY},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon"},
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control"},
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Enum"},
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Hardware Profiles"},
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services"},
    {HKEY_LOCAL_MACHINE, "System\\MountedDevices"},
    {HKEY_LOCAL_MACHINE, "System\\Select"},
    {HKEY_LOCAL_MACHINE, "System\\Setup"},

    {HKEY_CURRENT_USER, "AppEvents"},
    {HKEY_CURRENT_USER, "Console"},
    {HKEY_CURRENT_USER, "Control Panel"},
    {HKEY_CURRENT_USER, "Environment"},
    {HKEY_CURRENT_USER, "Keyboard Layout"},
    {HKEY_CURRENT_USER, "Network"},
    {HKEY_CURRENT_USER, "Printers"},
    {HKEY_CURRENT_USER, "Volatile Environment"},
    {HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI"},
    {HKEY_CURRENT_USER, "Software\\Policies"},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\Current Version"},
    {HKEY_CURRENT_USER, ENGINE_APP_PATHS_KEY},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"},
    {HKEY_CURRENT_USER,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies"},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_CURRENT_USER, ENGINE_UNINSTALL_KEY},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows"},

    {HKEY_CLASSES_ROOT, "*"},
    {HKEY_CLASSES_ROOT, ".bat"},
    {HKEY_CLASSES_ROOT, ".com"},
    {HKEY_CLASSES_ROOT, ".exe"},
    {HKEY_CLASSES_ROOT, ".lnk"},
    {HKEY_CLASSES_ROOT, "AllFilesystemObjects"},
    {HKEY_CLASSES_ROOT, "AppID"},
    {HKEY_CLASSES_ROOT, "batfile"},
    {HKEY_CLASSES_ROOT, "CLSID"},
    {HKEY_CLASSES_ROOT, "comfile"},
    {HKEY_CLASSES_ROOT, "Component Categories"},
    {HKEY_CLASSES_ROOT, "Directory"},
    {HKEY_CLASSES_ROOT, "Drive"},
    {HKEY_CLASSES_ROOT, "exefile"},
    {HKEY_CLASSES_ROOT, "Folder"},
    {HKEY_CLASSES_ROOT, "Interface"},
    {HKEY_CLASSES_ROOT, "lnkfile"},
    {HKEY_CLASSES_ROOT, "MIME"},
    {HKEY_CLASSES_ROOT, "Protocols"},
    {HKEY_CLASSES_ROOT, "SystemFileAssociations"},
    {HKEY_CLASSES_ROOT, "TypeLib"},
    {HKEY_CLASSES_ROOT, "Unknown"},
};

// The same keys under other names: prefix below root is target below targetRoot. A pattern
// component "*x" stands for any one key name ending in x ("*": any name). An alias whose
// target is a whole root protects its prefix itself.
struct KeyAlias {
    HKEY root;
    const char *prefix;
    HKEY targetRoot;
    const char *target;
};

static const KeyAlias KEY_ALIASES[] = {
    {HKEY_LOCAL_MACHINE, "Software\\Classes", HKEY_CLASSES_ROOT, ""},
    {HKEY_CURRENT_USER, "Software\\Classes", HKEY_CLASSES_ROOT, ""},
    {HKEY_CLASSES_ROOT, "Wow6432Node", HKEY_CLASSES_ROOT, ""},
    {HKEY_LOCAL_MACHINE, "Software\\Wow6432Node", HKEY_LOCAL_MACHINE, "Software"},
    {HKEY_LOCAL_MACHINE, "System\\ControlSet001", HKEY_LOCAL_MACHINE, "System\\CurrentControlSet"},
    {HKEY_LOCAL_MACHINE, "System\\ControlSet002", HKEY_LOCAL_MACHINE, "System\\CurrentControlSet"},
    {HKEY_LOCAL_MACHINE, "System\\ControlSet003", HKEY_LOCAL_MACHINE, "System\\CurrentControlSet"},
    // Every key right below HKEY_USERS is a whole user's profile (".DEFAULT" among them).
    {HKEY_USERS, "*_Classes", HKEY_CLASSES_ROOT, ""},
    {HKEY_USERS, "*", HKEY_CURRENT_USER, ""},
};

constexpr int PROTECTED_ALIAS_DEPTH = 4;   // aliases may lead to further aliases, never in a loop
constexpr int PROTECTED_PATH_SIZE = REGISTRY_TEXT_SIZE + 64;

// path is entry itself or one of its parents (letter case ignored, as the registry does).
static int Covers(const char *path, const char *entry)
{
    int n = lstrlenA(path);
    int m = lstrlenA(entry);
    if (n > m || (n < m && entry[n] != '\\') || n >= PROTECTED_PATH_SIZE)
        return 0;
    char head[PROTECTED_PATH_SIZE];
    memcpy(head, entry, n);
    head[n] = '\0';
    return IdentSameName(head, path);
}

static int NameMatches(const char *name, const char *pattern)
{
    if (pattern[0] != '*')
        return IdentSameName(name, pattern);
    const char *suffix = pattern + 1;
    int n = lstrlenA(name);
    int m = lstrlenA(suffix);
    return n > m && IdentSameName(name + n - m, suffix);
}

// What follows pattern's components at the start of path ("" when nothing does), or null.
static const char *MatchPrefix(const char *path, const char *pattern)
{
    char want[PATH_SIZE];
    char have[PATH_SIZE];
    const char *p = path;
    for (const char *q = pattern; *q;) {
        if (!*p)
            return nullptr;
        q = PathField(q, want, '\\');
        p = PathField(p, have, '\\');
        if (!p || !NameMatches(have, want))
            return nullptr;
    }
    return p;
}

static int IsProtected(HKEY root, const char *path, int depth)
{
    if (*path == '\0')
        return 1;   // the root itself
    for (const ProtectedKey &key : PROTECTED_KEYS)
        if (key.root == root && Covers(path, key.path))
            return 1;
    if (depth >= PROTECTED_ALIAS_DEPTH)
        return 0;
    for (const KeyAlias &alias : KEY_ALIASES) {
        const char *rest = alias.root == root ? MatchPrefix(path, alias.prefix) : nullptr;
        if (!rest)
            continue;
        char other[PROTECTED_PATH_SIZE];
        if (lstrlenA(alias.target) + 1 + lstrlenA(rest) >= PROTECTED_PATH_SIZE)
            return 1;
        lstrcpyA(other, alias.target);
        if (*alias.target && *rest)
            lstrcatA(other, "\\");
        lstrcatA(other, rest);
        if (IsProtected(alias.targetRoot, other, depth + 1))
            return 1;
    }
    return 0;
}

// A path with an empty component ("a\\\\b", a second leading backslash) names no key of its own.
static int HasEmptyName(const char *path)
{
    if (*path == '\\')
        return 1;
    for (const char *p = path; *p; p = StrNextChar(p))
        if (*p == '\\' && (p[1] == '\\' || p[1] == '\0'))
            return 1;
    return 0;
}

int IsKeyRemovable(HKEY root, const char *keyPath)
{
    if (!keyPath || keyPath[0] == '\0')
        return 0;
    if (PlatformGet()->isWin32s)
        return 1;
    char copy[REGISTRY_TEXT_SIZE];
    if (lstrlenA(keyPath) >= REGISTRY_TEXT_SIZE)
        return 0;
    lstrcpyA(copy, keyPath);
    PathNoSlash(copy);
    const char *path = copy[0] == '\\' && copy[1] != '\0' ? copy + 1 : copy;
    if (HasEmptyName(path))
        return 0;
    return IsProtected(root, path, 0) ? 0 : 1;
}
