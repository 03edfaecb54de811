// The running programs that hold a file (see holders.h).
#include "engine/holders.h"

#include <string.h>

#include <restartmanager.h>
#include <tlhelp32.h>

#include "base/ident.h"
#include "base/path.h"
#include "base/pool.h"

constexpr int HOLDERS_POOL_BLOCK = POOL_MAX_BLOCK;
constexpr int HOLDERS_POOL_FLAGS = POOL_DEFAULT | POOL_GROW;
constexpr int HOLDERS_SNAPSHOT_TRIES = 3;
constexpr DWORD HOLDERS_QUERY_LIMITED = 0x1000;   // PROCESS_QUERY_LIMITED_INFORMATION (Vista)
// The status library's process list and a process's module list are read into one pool block
// each, a quarter of a segment; what does not fit there is not looked at.
constexpr DWORD HOLDERS_LIST_BYTES = HOLDERS_POOL_BLOCK / 4;
constexpr DWORD HOLDERS_PIDS_MAX = HOLDERS_LIST_BYTES / sizeof(DWORD);
constexpr DWORD HOLDERS_MODULES_MAX = HOLDERS_LIST_BYTES / sizeof(HMODULE);

enum TakeResult { TAKE_NO_WAY, TAKE_DONE, TAKE_NO_MEMORY };

struct HolderModule {
    HolderModule *next;
    const char *path;   // the bytes behind this record
    const char *name;   // its last name, inside path
    int native;         // named as the system sees it, past a 32-bit process's redirection
};

struct HolderProcess {
    HolderProcess *next;
    HolderModule *modules;
    Holder holder;
};

constexpr int HOLDERS_NAME_BITS = 4096;

struct HolderSnapshot {
    int pool;
    int wow64;          // a 32-bit process on 64-bit Windows
    HolderProcess *processes;
    // A bit per hash of every module's file name: most files a log names are no module of any
    // process, and this tells so without looking at the file at all.
    uint32_t names[HOLDERS_NAME_BITS / 32];
};

static unsigned NameBit(const char *name)
{
    return static_cast<unsigned>(IdentHash(name) % HOLDERS_NAME_BITS);
}

static int MayBeLoaded(const HolderSnapshot *s, const char *path)
{
    // The last name, after either slash (a path may be written with forward ones).
    const char *name = path;
    for (const char *c = path; *c; c = CharNextA(c))
        if (*c == '\\' || *c == '/' || *c == ':')
            name = c + 1;
    // A short name's module may be listed by its long name: only the full look can tell.
    for (const char *c = name; *c; ++c)
        if (*c == '~')
            return 1;
    // Windows drops trailing dots and blanks of a name.
    char trimmed[PATH_SIZE];
    if (lstrlenA(name) >= PATH_SIZE)
        return 1;
    lstrcpyA(trimmed, name);
    for (int n = lstrlenA(trimmed); n > 0 && (trimmed[n - 1] == '.' || trimmed[n - 1] == ' '); --n)
        trimmed[n - 1] = '\0';
    unsigned bit = NameBit(trimmed);
    return (s->names[bit / 32] >> (bit % 32)) & 1;
}

// ---- Run-time entries: none of these is on every system the program starts on.

typedef HANDLE(WINAPI *SnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI *ProcessWalkFn)(HANDLE, PROCESSENTRY32 *);
typedef BOOL(WINAPI *ModuleWalkFn)(HANDLE, MODULEENTRY32 *);
typedef BOOL(WINAPI *ImageNameFn)(HANDLE, DWORD, LPSTR, DWORD *);
typedef BOOL(WINAPI *IsWow64Fn)(HANDLE, BOOL *);
typedef BOOL(WINAPI *RedirectionOffFn)(PVOID *);
typedef BOOL(WINAPI *RedirectionBackFn)(PVOID);
typedef BOOL(WINAPI *EnumProcessesFn)(DWORD *, DWORD, DWORD *);
typedef BOOL(WINAPI *EnumModulesFn)(HANDLE, HMODULE *, DWORD, DWORD *);
typedef DWORD(WINAPI *ModuleFileNameFn)(HANDLE, HMODULE, LPSTR, DWORD);
typedef DWORD(WINAPI *RmStartFn)(DWORD *, DWORD, WCHAR *);
typedef DWORD(WINAPI *RmRegisterFn)(DWORD, UINT, LPCWSTR *, UINT, RM_UNIQUE_PROCESS *, UINT,
                                    LPCWSTR *);
typedef DWORD(WINAPI *RmGetListFn)(DWORD, UINT *, UINT *, RM_PROCESS_INFO *, DWORD *);
typedef DWORD(WINAPI *RmEndFn)(DWORD);

template <typename F> static F EntryAs(HMODULE module, const char *name)
{
    return module ? reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)))
                  : nullptr;
}

// From the system directory only: a DLL of that name beside the program is not taken instead.
static HMODULE LoadSystemLibrary(const char *name)
{
    char path[PATH_SIZE];
    UINT n = GetSystemDirectoryA(path, PATH_SIZE);
    if (n == 0 || n >= static_cast<UINT>(PATH_SIZE) || !PathAppendName(path, name))
        return nullptr;
    return LoadLibraryA(path);
}

static HMODULE Kernel32(void)
{
    return GetModuleHandleA("kernel32.dll");
}

static int IsNtFamily(void)
{
    return !(GetVersion() & 0x80000000);
}

static int IsVistaOrLater(void)
{
    return IsNtFamily() && LOBYTE(LOWORD(GetVersion())) >= 6;
}

static int IsWow64(void)
{
    IsWow64Fn isWow64 = EntryAs<IsWow64Fn>(Kernel32(), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// ---- Building the snapshot.

// The last name of path into h->exe, or "" when it does not fit.
static void SetExe(Holder *h, const char *path)
{
    char name[PATH_SIZE];
    PathName(path, name);
    if (lstrlenA(name) < HOLDER_EXE_SIZE)
        lstrcpynA(h->exe, name, HOLDER_EXE_SIZE);
    else
        h->exe[0] = '\0';
}

static HolderProcess *AddProcess(HolderSnapshot *s, DWORD pid)
{
    HolderProcess *p = static_cast<HolderProcess *>(PoolAlloc(s->pool, sizeof(HolderProcess)));
    if (!p)
        return nullptr;
    p->modules = nullptr;
    p->holder.pid = pid;
    p->holder.exe[0] = '\0';
    p->next = s->processes;
    s->processes = p;
    return p;
}

// Length of the text in a buffer of size bytes; size when it holds no terminator.
static int BoundedLength(const char *text, int size)
{
    int n = 0;
    while (n < size && text[n])
        ++n;
    return n;
}

// Notes a module path the system wrote into a buffer of size bytes (native: a path the system
// gave as it sees it, not as this process does). A path that fills the buffer may have been
// cut, and one over PATH_MAX_BYTES is no path of ours: both are left out. 0 only when memory
// runs out.
static int AddModule(HolderSnapshot *s, HolderProcess *p, const char *path, int size, int native)
{
    int length = BoundedLength(path, size);
    if (length == 0 || length >= size - 1 || length > PATH_MAX_BYTES)
        return 1;
    char name[PATH_SIZE];
    PathName(path, name);
    if (!name[0])
        return 1;
    HolderModule *m = static_cast<HolderModule *>(
        PoolAlloc(s->pool, static_cast<unsigned>(sizeof(HolderModule) + length + 1)));
    if (!m)
        return 0;
    char *copy = reinterpret_cast<char *>(m + 1);
    CopyMemory(copy, path, length);
    copy[length] = '\0';
    m->path = copy;
    m->name = copy + (length - lstrlenA(name));
    unsigned bit = NameBit(m->name);
    s->names[bit / 32] |= 1u << (bit % 32);
    m->native = native;
    m->next = p->modules;
    p->modules = m;
    return 1;
}

// The program file of a process whose modules cannot be read, where the system names it.
static int ImagePath(DWORD pid, char *path, DWORD size)
{
    ImageNameFn imageName = EntryAs<ImageNameFn>(Kernel32(), "QueryFullProcessImageNameA");
    if (!imageName)
        return 0;
    HANDLE h = OpenProcess(HOLDERS_QUERY_LIMITED, FALSE, pid);
    if (!h)
        return 0;
    DWORD n = size;
    BOOL ok = imageName(h, 0, path, &n);
    CloseHandle(h);
    return ok && n > 0 && n < size;
}

static int AddImageOnly(HolderSnapshot *s, HolderProcess *p)
{
    char image[PATH_SIZE + 1];
    if (!ImagePath(p->holder.pid, image, sizeof image))
        return 1;
    if (!p->holder.exe[0])
        SetExe(&p->holder, image);
    return AddModule(s, p, image, sizeof image, 1);
}

struct Toolhelp {
    SnapshotFn snapshot;
    ProcessWalkFn firstProcess, nextProcess;
    ModuleWalkFn firstModule, nextModule;
};

// Windows 95 and 2000 on have it in kernel32; NT 4 has not.
static int LoadToolhelp(Toolhelp *t)
{
    HMODULE k = Kernel32();
    t->snapshot = EntryAs<SnapshotFn>(k, "CreateToolhelp32Snapshot");
    t->firstProcess = EntryAs<ProcessWalkFn>(k, "Process32First");
    t->nextProcess = EntryAs<ProcessWalkFn>(k, "Process32Next");
    t->firstModule = EntryAs<ModuleWalkFn>(k, "Module32First");
    t->nextModule = EntryAs<ModuleWalkFn>(k, "Module32Next");
    return t->snapshot && t->firstProcess && t->nextProcess && t->firstModule && t->nextModule;
}

// A 64-bit process asks for a 32-bit one's own modules too. The system refuses a snapshot while
// the process is loading a module (ERROR_BAD_LENGTH): asked again, it answers.
static HANDLE ModuleSnapshot(const Toolhelp *t, DWORD pid)
{
    DWORD flags = TH32CS_SNAPMODULE | (sizeof(void *) == 8 ? TH32CS_SNAPMODULE32 : 0);
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int i = 0; i < HOLDERS_SNAPSHOT_TRIES && h == INVALID_HANDLE_VALUE; ++i) {
        h = t->snapshot(flags, pid);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_BAD_LENGTH)
            break;
    }
    return h;
}

static int AddToolhelpModules(HolderSnapshot *s, const Toolhelp *t, HolderProcess *p)
{
    HANDLE h = ModuleSnapshot(t, p->holder.pid);
    if (h == INVALID_HANDLE_VALUE)
        return AddImageOnly(s, p);
    MODULEENTRY32 me;
    me.dwSize = sizeof me;
    int ok = 1;
    for (BOOL more = t->firstModule(h, &me); more && ok; more = t->nextModule(h, &me))
        ok = AddModule(s, p, me.szExePath, sizeof me.szExePath, 0);
    CloseHandle(h);
    return ok;
}

static TakeResult TakeToolhelp(HolderSnapshot *s)
{
    Toolhelp t;
    if (!LoadToolhelp(&t))
        return TAKE_NO_WAY;
    HANDLE all = t.snapshot(TH32CS_SNAPPROCESS, 0);
    if (all == INVALID_HANDLE_VALUE)
        return TAKE_NO_WAY;
    DWORD self = GetCurrentProcessId();
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof pe;
    int ok = 1;
    for (BOOL more = t.firstProcess(all, &pe); more && ok; more = t.nextProcess(all, &pe)) {
        if (pe.th32ProcessID == 0 || pe.th32ProcessID == self)
            continue;
        HolderProcess *p = AddProcess(s, pe.th32ProcessID);
        if (p && BoundedLength(pe.szExeFile, sizeof pe.szExeFile) < int(sizeof pe.szExeFile))
            SetExe(&p->holder, pe.szExeFile);   // a full path on Windows 95, a name on NT
        ok = p && AddToolhelpModules(s, &t, p);
    }
    CloseHandle(all);
    return ok ? TAKE_DONE : TAKE_NO_MEMORY;
}

struct Psapi {
    HMODULE library;
    EnumProcessesFn enumProcesses;
    EnumModulesFn enumModules;
    ModuleFileNameFn moduleFileName;
    HMODULE *modules;   // one pool block
};

static int AddPsapiProcess(HolderSnapshot *s, const Psapi *api, DWORD pid)
{
    HolderProcess *p = AddProcess(s, pid);
    if (!p)
        return 0;
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    DWORD bytes = 0;
    if (!h || !api->enumModules(h, api->modules, HOLDERS_MODULES_MAX * sizeof(HMODULE), &bytes)) {
        if (h)
            CloseHandle(h);
        return AddImageOnly(s, p);
    }
    DWORD count = bytes / sizeof(HMODULE);
    if (count > HOLDERS_MODULES_MAX)
        count = HOLDERS_MODULES_MAX;
    int ok = 1;
    for (DWORD i = 0; i < count && ok; ++i) {
        char path[PATH_SIZE + 1];
        DWORD n = api->moduleFileName(h, api->modules[i], path, sizeof path);
        if (n == 0 || n >= sizeof path - 1)
            continue;   // unloaded meanwhile, or longer than a path may be
        path[n] = '\0';
        if (i == 0)
            SetExe(&p->holder, path);   // the first module is the program
        ok = AddModule(s, p, path, sizeof path, 0);
    }
    CloseHandle(h);
    return ok;
}

static TakeResult WalkPsapi(HolderSnapshot *s, Psapi *api)
{
    DWORD *pids = static_cast<DWORD *>(PoolAlloc(s->pool, HOLDERS_LIST_BYTES));
    api->modules = static_cast<HMODULE *>(PoolAlloc(s->pool, HOLDERS_LIST_BYTES));
    DWORD bytes = 0;
    TakeResult result = TAKE_NO_MEMORY;
    if (pids && api->modules) {
        result = TAKE_NO_WAY;
        if (api->enumProcesses(pids, HOLDERS_PIDS_MAX * sizeof(DWORD), &bytes)) {
            DWORD self = GetCurrentProcessId();
            int ok = 1;
            for (DWORD i = 0; i < bytes / sizeof(DWORD) && i < HOLDERS_PIDS_MAX && ok; ++i)
                if (pids[i] != 0 && pids[i] != self)
                    ok = AddPsapiProcess(s, api, pids[i]);
            result = ok ? TAKE_DONE : TAKE_NO_MEMORY;
        }
    }
    if (pids)
        PoolFree(s->pool, pids);
    if (api->modules)
        PoolFree(s->pool, api->modules);
    return result;
}

// The NT family's process status library (NT 4 has no Toolhelp32).
static TakeResult TakePsapi(HolderSnapshot *s)
{
    if (!IsNtFamily())
        return TAKE_NO_WAY;
    Psapi api;
    api.library = LoadSystemLibrary("psapi.dll");
    api.enumProcesses = EntryAs<EnumProcessesFn>(api.library, "EnumProcesses");
    api.enumModules = EntryAs<EnumModulesFn>(api.library, "EnumProcessModules");
    api.moduleFileName = EntryAs<ModuleFileNameFn>(api.library, "GetModuleFileNameExA");
    api.modules = nullptr;
    TakeResult result = TAKE_NO_WAY;
    if (api.enumProcesses && api.enumModules && api.moduleFileName)
        result = WalkPsapi(s, &api);
    if (api.library)
        FreeLibrary(api.library);
    return result;
}

HolderSnapshot *HoldersTakeFrom(int source)
{
    int pool = PoolCreate(HOLDERS_POOL_BLOCK, HOLDERS_POOL_FLAGS);
    if (pool == -1)
        return nullptr;
    HolderSnapshot *s = static_cast<HolderSnapshot *>(PoolAlloc(pool, sizeof(HolderSnapshot)));
    TakeResult result = TAKE_NO_MEMORY;
    if (s) {
        s->pool = pool;
        s->processes = nullptr;
        memset(s->names, 0, sizeof s->names);
        s->wow64 = IsWow64();
        result = TAKE_NO_WAY;
        if (source != HOLDERS_FROM_PSAPI)
            result = TakeToolhelp(s);
        if (result == TAKE_NO_WAY && source != HOLDERS_FROM_TOOLHELP)
            result = TakePsapi(s);
    }
    if (result != TAKE_DONE) {
        PoolDestroy(pool);
        return nullptr;
    }
    return s;
}

HolderSnapshot *HoldersTake(void)
{
    return HoldersTakeFrom(HOLDERS_FROM_ANY);
}

void HoldersFree(HolderSnapshot *s)
{
    if (s)
        PoolDestroy(s->pool);
}

// ---- Finding a file.

// What a file is compared by: the names a module path may end in (its long name, and its 8.3
// name, which Windows 95 lists modules by), its identity, and its canonical spelling for when
// the identity cannot be read.
struct Target {
    int wow64;
    char canonical[PATH_SIZE];
    int canonicalKnown;
    char longName[PATH_SIZE];
    char shortName[PATH_SIZE];
    FileIdent id;
};

static int ReadTarget(const char *path, Target *t)
{
    if (!path || !PathFits(path))
        return 0;
    t->canonicalKnown = IdentCanonical(path, t->canonical);
    const char *spelled = t->canonicalKnown ? t->canonical : path;
    PathName(spelled, t->longName);
    // Asked of the canonical spelling: the system gives no short name for some spellings (a
    // drive of the Unix tree under Wine) and keeps forward slashes in what it gives.
    t->shortName[0] = '\0';
    char brief[PATH_SIZE];
    DWORD n = GetShortPathNameA(spelled, brief, PATH_SIZE);
    if (n > 0 && n < static_cast<DWORD>(PATH_SIZE))
        PathName(brief, t->shortName);
    IdentRead(path, &t->id);
    return t->longName[0] != '\0';
}

// The identity of a file named as the system sees it. A 32-bit process on 64-bit Windows reads
// the 32-bit system folder for the 64-bit one (the same name, another file) unless it asks not to.
static int ReadNativeIdent(const char *path, FileIdent *id)
{
    HMODULE k = Kernel32();
    RedirectionOffFn off = EntryAs<RedirectionOffFn>(k, "Wow64DisableWow64FsRedirection");
    RedirectionBackFn back = EntryAs<RedirectionBackFn>(k, "Wow64RevertWow64FsRedirection");
    PVOID old = nullptr;
    if (!off || !back || !off(&old))
        return 0;
    int known = IdentRead(path, id);
    back(old);
    return known;
}

static int IsTarget(const Target *t, const HolderModule *m)
{
    if (!IdentSameName(m->name, t->longName) &&
        !(t->shortName[0] && IdentSameName(m->name, t->shortName)))
        return 0;
    FileIdent id;
    // Its spelling means another file here: only the identity can tell.
    if (m->native && t->wow64)
        return IdentKnown(t->id) && ReadNativeIdent(m->path, &id) && IdentSame(t->id, id);
    if (IdentKnown(t->id) && IdentRead(m->path, &id))
        return IdentSame(t->id, id);
    char canonical[PATH_SIZE];
    return t->canonicalKnown && IdentCanonical(m->path, canonical) &&
           IdentSameName(canonical, t->canonical);
}

int HoldersFind(const HolderSnapshot *s, const char *path, Holder *out, int max)
{
    Target t;
    if (!s || !path || !MayBeLoaded(s, path) || !ReadTarget(path, &t))
        return 0;
    t.wow64 = s->wow64;
    int found = 0;
    for (const HolderProcess *p = s->processes; p; p = p->next) {
        const HolderModule *m = p->modules;
        while (m && !IsTarget(&t, m))
            m = m->next;
        if (!m)
            continue;
        if (out && found < max)
            out[found] = p->holder;
        ++found;
    }
    return found;
}

// ---- The restart manager.

// One list for the process (single-threaded): it is too big for the stack.
static RM_PROCESS_INFO rmList[HOLDERS_RM_MAX];

struct RestartManager {
    HMODULE library;
    RmStartFn start;
    RmRegisterFn registerResources;
    RmGetListFn getList;
    RmEndFn end;
};

static int AskSession(const RestartManager *rm, const WCHAR *file, Holder *out, int max)
{
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (rm->start(&session, 0, key) != ERROR_SUCCESS)
        return 0;
    LPCWSTR files[1] = {file};
    UINT needed = 0, count = HOLDERS_RM_MAX;
    DWORD reasons = 0;
    int found = 0;
    if (rm->registerResources(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
        rm->getList(session, &needed, &count, rmList, &reasons) == ERROR_SUCCESS) {
        DWORD self = GetCurrentProcessId();
        for (UINT i = 0; i < count && i < static_cast<UINT>(HOLDERS_RM_MAX); ++i) {
            DWORD pid = rmList[i].Process.dwProcessId;
            if (pid == self)
                continue;
            if (out && found < max) {
                char image[PATH_SIZE + 1];
                out[found].pid = pid;
                out[found].exe[0] = '\0';
                if (ImagePath(pid, image, sizeof image))
                    SetExe(&out[found], image);
            }
            ++found;
        }
    }
    rm->end(session);
    return found;
}

int HoldersAskRestartManager(const char *path, Holder *out, int max)
{
    if (!path || !PathFits(path) || !IsVistaOrLater())
        return 0;
    char full[PATH_SIZE];
    if (!IdentCanonical(path, full))
        lstrcpynA(full, path, PATH_SIZE);
    WCHAR wide[PATH_SIZE];
    if (!MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, full, -1, wide, PATH_SIZE))
        return 0;
    RestartManager rm;
    rm.library = LoadSystemLibrary("rstrtmgr.dll");
    rm.start = EntryAs<RmStartFn>(rm.library, "RmStartSession");
    rm.registerResources = EntryAs<RmRegisterFn>(rm.library, "RmRegisterResources");
    rm.getList = EntryAs<RmGetListFn>(rm.library, "RmGetList");
    rm.end = EntryAs<RmEndFn>(rm.library, "RmEndSession");
    int found = 0;
    if (rm.start && rm.registerResources && rm.getList && rm.end)
        found = AskSession(&rm, wide, out, max);
    if (rm.library)
        FreeLibrary(rm.library);
    return found;
}

int HoldersDescribe(const HolderSnapshot *s, const char *path, char *text, int size)
{
    constexpr int SHOWN = 4;
    Holder found[SHOWN];
    if (size < 1)
        return 0;
    text[0] = '\0';
    int n = HoldersFind(s, path, found, SHOWN);
    if (n == 0)
        n = HoldersAskRestartManager(path, found, SHOWN);
    int shown = 0;
    for (int i = 0; i < n && i < SHOWN; ++i) {
        char one[HOLDER_EXE_SIZE + 40];
        wsprintfA(one, "%s%s (process %lu)", shown ? ", " : "", found[i].exe[0] ? found[i].exe : "?",
                  static_cast<unsigned long>(found[i].pid));
        if (lstrlenA(text) + lstrlenA(one) + 24 >= size)
            break;
        lstrcatA(text, one);
        ++shown;
    }
    if (n > shown && lstrlenA(text) + 24 < size)
        wsprintfA(text + lstrlenA(text), "%sand %d more", shown ? " " : "", n - shown);
    return n;
}

void HoldersAddTo(HolderList *list, const Holder *found, int n)
{
    if (n <= 0)
        return;
    list->files++;
    for (int i = 0; i < n; ++i) {
        int shown = list->programs < HOLDER_LIST_MAX ? list->programs : HOLDER_LIST_MAX;
        int known = 0;
        for (int j = 0; j < shown && !known; ++j)
            known = list->program[j].pid == found[i].pid;
        if (known)
            continue;
        if (list->programs < HOLDER_LIST_MAX)
            list->program[list->programs] = found[i];
        list->programs++;
    }
}
