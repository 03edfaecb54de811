// The machine as a run sees it (see world.h).
#include "engine/world.h"

#include <stdio.h>

#include "base/fs.h"
#include "base/ident.h"
#include "base/path.h"
#include "base/platform.h"
#include "base/strlist.h"
#include "dde/progman.h"
#include "engine/holders.h"
#include "engine/report.h"
#include "engine/restart.h"
#include "engine/session_internal.h"
#include "registry/registry.h"

constexpr int WORLD_BUCKETS = 1024;
constexpr char WORLD_GONE = 'G';         // the plan would delete it
constexpr char WORLD_SCHEDULED = 'S';    // the plan would leave it for the next restart
constexpr int WORLD_KEY_SIZE = PATH_SIZE + 16;

// What a plan would have changed so far. Paths by canonical spelling, hashed so that a log of
// many thousand files stays cheap to plan.
struct WorldOverlay {
    StringList *paths[WORLD_BUCKETS];    // "G" or "S" and the canonical path
    StringList *keys;                    // deleted keys: "<root> <path>"
    StringList *values;                  // deleted values: "<root> <path>\x01<name>"
    StringList *shared;                  // each reference given back: the file as named
    StringList *groups;                  // each Program Manager item deleted: its group
    HolderSnapshot *holders;             // the running programs, taken once
    HolderList held;                     // those holding files left for the restart
};

int WorldIsPlan(const Session *session)
{
    return session && session->plan;
}

static WorldOverlay *Overlay(Session *session)
{
    if (!session->overlay) {
        void *p = PoolAlloc(SessionGetPool(session), sizeof(WorldOverlay));
        if (p)
            memset(p, 0, sizeof(WorldOverlay));
        session->overlay = static_cast<WorldOverlay *>(p);
    }
    return session->overlay;
}

static StringList *List(Session *session, StringList **slot)
{
    if (!*slot)
        *slot = ListCreateInPool(0, SessionGetPool(session));
    return *slot;
}

// ---- Paths ----

static int Canonical(const char *path, char *out)
{
    if (IdentCanonical(path, out))
        return 1;
    if (!PathFits(path))
        return 0;
    lstrcpyA(out, path);
    return 1;
}

static StringList **Bucket(WorldOverlay *overlay, const char *canonical)
{
    return &overlay->paths[IdentHash(canonical) % WORLD_BUCKETS];
}

// WORLD_GONE, WORLD_SCHEDULED, or 0 when the plan has not touched the canonical path.
static char MarkOf(Session *session, const char *full)
{
    if (!session || !session->plan || !session->overlay)
        return 0;
    StringList *list = *Bucket(session->overlay, full);
    for (const char *p = static_cast<const char *>(ListFirst(list)); p;
         p = static_cast<const char *>(ListNext(list)))
        if (IdentSameName(p + 1, full))
            return p[0];
    return 0;
}

static char Mark(Session *session, const char *path)
{
    char full[PATH_SIZE];
    if (!session || !session->plan || !session->overlay || !Canonical(path, full))
        return 0;
    return MarkOf(session, full);
}

static void SetMarkOf(Session *session, const char *full, char mark)
{
    char entry[PATH_SIZE + 1];
    WorldOverlay *overlay = Overlay(session);
    if (!overlay || lstrlenA(full) >= PATH_SIZE)
        return;
    entry[0] = mark;
    lstrcpyA(entry + 1, full);
    StringList *list = List(session, Bucket(overlay, entry + 1));
    ListLast(list);
    ListAdd(list, entry);
}

static void SetMark(Session *session, const char *path, char mark)
{
    char full[PATH_SIZE];
    if (Canonical(path, full))
        SetMarkOf(session, full, mark);
}

int WorldFileExists(Session *session, const char *path)
{
    return FsExists(path) && Mark(session, path) != WORLD_GONE;
}

int WorldIsDirectory(Session *session, const char *path)
{
    return FsIsDirectory(path) && Mark(session, path) != WORLD_GONE;
}

struct EntryWalk {
    Session *session;
    const char *dir;
    int left;        // entries that would still be there
    int scheduled;   // of those, left for the restart
};

// The folder is walked by its canonical spelling: an entry's name as listed completes it.
static int CountEntry(const char *name, uint32_t, void *context)
{
    EntryWalk *walk = static_cast<EntryWalk *>(context);
    char entry[PATH_SIZE];
    char mark = PathJoin(entry, walk->dir, name) ? MarkOf(walk->session, entry) : 0;
    if (mark != WORLD_GONE)
        walk->left++;
    if (mark == WORLD_SCHEDULED)
        walk->scheduled++;
    return 1;
}

int WorldDirIsEmpty(Session *session, const char *path)
{
    if (!session || !session->plan || !session->overlay)
        return FsIsDirEmpty(path);
    char full[PATH_SIZE];
    if (!Canonical(path, full) || lstrlenA(full) + 4 > PATH_MAX_BYTES)
        return 0;
    EntryWalk walk = {session, full, 0, 0};
    if (!FsWalkDir(full, "*.*", CountEntry, &walk))
        return FsIsDirEmpty(path);
    return walk.left == 0;
}

// The running programs, taken once for the whole plan.
static const HolderSnapshot *Holders(Session *session)
{
    WorldOverlay *overlay = Overlay(session);
    if (overlay && !overlay->holders)
        overlay->holders = HoldersTake();
    return overlay ? overlay->holders : nullptr;
}

// The programs that have path loaded (a running program's file or a DLL): deleting it would
// be refused, it is in use. How many; the first max of them into found.
static int Loaded(Session *session, const char *path, Holder *found, int max)
{
    return HoldersFind(Holders(session), path, found, max);
}

int WorldDeleteOrSchedule(Session *session, const char *path)
{
    if (!session || !session->plan)
        return RestartDeleteOrSchedule(session, path);
    char full[PATH_SIZE];
    if (!Canonical(path, full)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    char mark = MarkOf(session, full);
    if (mark == WORLD_SCHEDULED)
        return 1;   // named twice: the first record put it on the list
    DWORD error = ERROR_FILE_NOT_FOUND;
    Holder found[HOLDER_LIST_MAX];
    int held = 0;
    if (mark != WORLD_GONE && RestartOpensForDelete(path, &error) &&
        (held = Loaded(session, path, found, HOLDER_LIST_MAX)) == 0) {
        SetMarkOf(session, full, WORLD_GONE);
        return 0;
    }
    if (mark == WORLD_GONE || (error != 0 && !RestartIsInUse(path, error))) {
        SetLastError(error);
        return -1;
    }
    if (session->overlay)
        HoldersAddTo(&session->overlay->held, found, held < HOLDER_LIST_MAX ? held : HOLDER_LIST_MAX);
    if (!RestartCanSchedule(path)) {
        SetLastError(error ? error : ERROR_ACCESS_DENIED);
        return -1;
    }
    if (ReportIsOpen()) {
        char holders[256];
        HoldersDescribe(Holders(session), path, holders, sizeof holders);
        ReportNoteHeldBy(holders);
    }
    SetMarkOf(session, full, WORLD_SCHEDULED);
    session->scheduled++;
    return 1;
}

int WorldDeleteFile(Session *session, const char *path)
{
    if (!session || !session->plan)
        return FsDelete(path);
    DWORD error = ERROR_FILE_NOT_FOUND;
    if (Mark(session, path) == WORLD_GONE || !RestartOpensForDelete(path, &error)) {
        SetLastError(error);
        return -1;
    }
    SetMark(session, path, WORLD_GONE);
    return 0;
}

int WorldRemoveDir(Session *session, const char *path)
{
    if (!session || !session->plan)
        return FsRemoveDir(path);
    int isDir = WorldIsDirectory(session, path);
    if (!isDir || !WorldDirIsEmpty(session, path)) {
        SetLastError(isDir ? ERROR_DIR_NOT_EMPTY : ERROR_FILE_NOT_FOUND);
        return 0;
    }
    SetMark(session, path, WORLD_GONE);
    return 1;
}

int WorldScheduleDirectory(Session *session, const char *path)
{
    if (!session || !session->plan)
        return RestartScheduleDirectory(session, path);
    const Platform *p = PlatformGet();
    if (!p->isNtFamily || p->isWin32s || !session->overlay || !WorldIsDirectory(session, path))
        return 0;
    char full[PATH_SIZE];
    if (!Canonical(path, full))
        return 0;
    EntryWalk walk = {session, full, 0, 0};
    if (!FsWalkDir(full, "*.*", CountEntry, &walk) || walk.left == 0 ||
        walk.left != walk.scheduled)
        return 0;
    SetMarkOf(session, full, WORLD_SCHEDULED);
    session->scheduled++;
    return 1;
}

// ---- Shared files ----

int WorldSharedGiveBack(Session *session, const char *file)
{
    if (!session || !session->plan)
        return SharedCountAdjust(file, -1, 1);
    int count = SharedCountRead(file);
    if (count < 0)
        return count;
    WorldOverlay *overlay = Overlay(session);
    StringList *given = overlay ? List(session, &overlay->shared) : nullptr;
    if (!given)
        return SHARED_COUNT_FAILED;
    for (const char *p = static_cast<const char *>(ListFirst(given)); p;
         p = static_cast<const char *>(ListNext(given)))
        if (IdentSameName(p, file))
            --count;
    // A count that reaches 0 is deleted: the next reference finds none.
    if (count <= 0)
        return SHARED_COUNT_NONE;
    ListLast(given);
    ListAdd(given, file);
    return count - 1;
}

// ---- Registry ----

static int KeyText(HKEY root, const char *path, char *text)
{
    while (*path == '\\')
        ++path;
    int n = snprintf(text, WORLD_KEY_SIZE, "%p %s", static_cast<void *>(root), path);
    if (n <= 0 || n >= WORLD_KEY_SIZE)
        return 0;
    PathNoSlash(text);
    return 1;
}

// 1 when the plan deletes the key or one above it.
static int KeyGone(Session *session, HKEY root, const char *path)
{
    char key[WORLD_KEY_SIZE];
    if (!session || !session->plan || !session->overlay || !session->overlay->keys ||
        !KeyText(root, path, key))
        return 0;
    StringList *keys = session->overlay->keys;
    int length = lstrlenA(key);
    for (const char *p = static_cast<const char *>(ListFirst(keys)); p;
         p = static_cast<const char *>(ListNext(keys))) {
        int n = lstrlenA(p);
        if (n > length || (n < length && key[n] != '\\'))
            continue;
        char head[WORLD_KEY_SIZE];
        lstrcpynA(head, key, n + 1);
        if (lstrcmpiA(head, p) == 0)
            return 1;
    }
    return 0;
}

static int RealKeyExists(HKEY root, const char *path)
{
    HKEY key = RegistryOpenPath(root, path);
    if (!key)
        return 0;
    RegCloseKey(key);
    return 1;
}

int WorldKeyExists(Session *session, HKEY root, const char *path)
{
    return !KeyGone(session, root, path) && RealKeyExists(root, path);
}

static int ValueText(HKEY root, const char *path, const char *name, char *text)
{
    char key[WORLD_KEY_SIZE];
    if (!KeyText(root, path, key) || lstrlenA(key) + lstrlenA(name) + 2 > WORLD_KEY_SIZE)
        return 0;
    wsprintfA(text, "%s\x01%s", key, name);
    return 1;
}

static int ValueGone(Session *session, HKEY root, const char *path, const char *name)
{
    char value[WORLD_KEY_SIZE];
    if (!session || !session->plan || !session->overlay || !ValueText(root, path, name, value))
        return 0;
    StringList *values = session->overlay->values;
    for (const char *p = static_cast<const char *>(ListFirst(values)); p;
         p = static_cast<const char *>(ListNext(values)))
        if (lstrcmpiA(p, value) == 0)
            return 1;
    return 0;
}

int WorldValueExists(Session *session, HKEY root, const char *path, const char *name)
{
    if (KeyGone(session, root, path) || ValueGone(session, root, path, name))
        return 0;
    HKEY key = RegistryOpenPath(root, path);
    if (!key)
        return 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

// Whether the key opens with the rights its deletion needs: 1, or 0 with the error.
static int WouldOpen(HKEY root, const char *path, REGSAM rights)
{
    while (*path == '\\')
        ++path;
    char trimmed[PATH_SIZE];
    if (!PathFits(path))
        return 0;
    lstrcpyA(trimmed, path);
    PathNoSlash(trimmed);
    HKEY key;
    LONG rc = RegOpenKeyExA(root, trimmed, 0, rights, &key);
    if (rc != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(rc));
        return 0;
    }
    RegCloseKey(key);
    return 1;
}

int WorldDeleteKeyTree(Session *session, HKEY root, const char *path)
{
    if (!session || !session->plan)
        return RegistryDeleteTree(root, path);
    char key[WORLD_KEY_SIZE];
    if (!WorldKeyExists(session, root, path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    WorldOverlay *overlay = Overlay(session);
    if (!WouldOpen(root, path, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE) || !overlay ||
        !KeyText(root, path, key))
        return 0;
    StringList *keys = List(session, &overlay->keys);
    ListLast(keys);
    return ListAdd(keys, key);
}

int WorldDeleteValue(Session *session, HKEY root, const char *path, const char *name)
{
    if (!session || !session->plan)
        return RegistryDeleteValue(root, path, name);
    char value[WORLD_KEY_SIZE];
    if (!WorldValueExists(session, root, path, name)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    WorldOverlay *overlay = Overlay(session);
    if (!WouldOpen(root, path, KEY_SET_VALUE) || !overlay || !ValueText(root, path, name, value))
        return 0;
    StringList *values = List(session, &overlay->values);
    ListLast(values);
    return ListAdd(values, value);
}

int WorldCountSubkeys(Session *session, HKEY root, const char *path)
{
    int count = RegistryCountSubkeys(root, path);
    if (!session || !session->plan || !session->overlay || !session->overlay->keys)
        return count;
    // Less the direct subkeys the plan deletes.
    char parent[WORLD_KEY_SIZE];
    if (!KeyText(root, path, parent))
        return count;
    int length = lstrlenA(parent);
    StringList *keys = session->overlay->keys;
    for (const char *p = static_cast<const char *>(ListFirst(keys)); p;
         p = static_cast<const char *>(ListNext(keys))) {
        int n = lstrlenA(p);
        if (n <= length + 1 || p[length] != '\\')
            continue;
        char head[WORLD_KEY_SIZE];
        lstrcpynA(head, p, length + 1);
        int direct = 1;
        for (const char *q = p + length + 1; *q; ++q)
            if (*q == '\\')
                direct = 0;
        if (direct && lstrcmpiA(head, parent) == 0)
            --count;
    }
    return count < 0 ? 0 : count;
}

// ---- Program Manager ----

int WorldProgmanDeleteItem(Session *session, const char *group, const char *item)
{
    if (!session || !session->plan)
        return ProgmanDeleteItem(item);
    WorldOverlay *overlay = Overlay(session);
    StringList *groups = overlay ? List(session, &overlay->groups) : nullptr;
    ListLast(groups);
    ListAdd(groups, group);
    return 1;
}

int WorldProgmanDeleteGroup(Session *session, const char *group)
{
    if (!session || !session->plan)
        return ProgmanDeleteGroup(group);
    return 1;
}

int WorldProgmanItemsGone(Session *session, const char *group)
{
    if (!session || !session->plan || !session->overlay)
        return 0;
    int n = 0;
    StringList *groups = session->overlay->groups;
    for (const char *p = static_cast<const char *>(ListFirst(groups)); p;
         p = static_cast<const char *>(ListNext(groups)))
        if (lstrcmpiA(p, group) == 0)
            ++n;
    return n;
}

int WorldPlan(const char *logPath, ErrorCallback callback, HolderList *held)
{
    if (held)
        *held = HolderList{};
    if (EngineInit(0) != 0) {
        if (callback)
            callback(ERR_NO_MEMORY, nullptr, 0, nullptr);
        return -1;
    }
    Session *plan = SessionCreatePlan(logPath, callback);
    if (!plan) {
        EngineShutdown();
        return -1;
    }
    SessionStart(plan, 0);
    while (SessionStep(plan) == 0) {
    }
    int status = SessionExitStatus(plan);
    if (held && plan->overlay)
        *held = plan->overlay->held;
    SessionClose(plan);
    EngineShutdown();
    return status;
}

void WorldLogTaken(Session *session, const char *logPath)
{
    if (session && session->plan)
        SetMark(session, logPath, WORLD_GONE);
}

void WorldForget(Session *session)
{
    if (!session || !session->overlay)
        return;
    WorldOverlay *overlay = session->overlay;
    for (StringList *&list : overlay->paths)
        ListDestroy(list);
    ListDestroy(overlay->keys);
    ListDestroy(overlay->values);
    ListDestroy(overlay->shared);
    ListDestroy(overlay->groups);
    HoldersFree(overlay->holders);
    PoolFree(SessionGetPool(session), overlay);
    session->overlay = nullptr;
}
