// Record handlers for program items ("API", "RPI") and groups ("CPG"): Start Menu shortcuts
// and folders on Windows 4, Program Manager items and groups (over DDE) elsewhere.
#include "engine/engine.h"

#include "base/fs.h"
#include "base/path.h"
#include "base/strlist.h"
#include "dde/progman.h"
#include "registry/registry.h"
#include "shell/platform.h"

static const char SHELL_FOLDERS_KEY[] =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
static const char PROGRAMS_VALUE[] = "Programs";
static const char PROGRAMS_FALLBACK[] = "Start Menu\\Programs";
static const char LINK_EXTENSION[] = "lnk";
static const char GROUP_DUMMY_ITEM[] = "xxx";

constexpr DWORD PROGMAN_PAUSE_MS = 450;
constexpr int SHOW_MINIMIZED = 6;
constexpr int SHOW_NORMAL = 1;
constexpr int GROUP_FILE_SIZE = 264;

// The group selected last in the Program Manager: its items need no new selection.
static char lastShownGroup[PATH_SIZE];
static char programsFolder[PATH_SIZE];

static int FitsPath(const char *text)
{
    return lstrlenA(text) <= PATH_MAX_BYTES;
}

void PauseWithMessages(DWORD ms)
{
    // Messages sent from other threads and programs are taken while the pause lasts (peeking
    // delivers them); posted ones wait for the main loop. The thread sleeps in between. Elapsed
    // time rather than an end tick, so the wait also holds across the tick wrap.
    DWORD start = GetTickCount();
    MSG msg;
    for (;;) {
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_SENDMESSAGE);
    }
}

void ForgetShownGroup(void)
{
    lastShownGroup[0] = '\0';
}

int ShowGroupOnce(const char *group)
{
    if (lastShownGroup[0] && lstrcmpiA(group, lastShownGroup) == 0)
        return 1;
    ProgmanShowGroup(group, SHOW_MINIMIZED);
    PauseWithMessages(PROGMAN_PAUSE_MS);
    // Minimising may activate another group: only the show-normal command selects this one.
    ProgmanShowGroup(group, SHOW_NORMAL);
    int selected = ProgmanCommandAccepted();
    PauseWithMessages(PROGMAN_PAUSE_MS);
    if (!selected) {
        // Whichever group is active now, it is not one we know.
        ForgetShownGroup();
        return 0;
    }
    lstrcpynA(lastShownGroup, group, PATH_SIZE);
    return 1;
}

// The "Programs" folder of the current user, else the Windows directory's Start Menu.
static int ReadProgramsFolder(void)
{
    char value[REGISTRY_TEXT_SIZE];
    DWORD type = 0, size = 0;
    value[0] = '\0';
    if (RegistryQueryValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, PROGRAMS_VALUE, &type, &size,
                           value, REGISTRY_TEXT_SIZE)) {
        if (!FitsPath(value))
            return 0;
        lstrcpyA(programsFolder, value);
        return 1;
    }
    UINT length = GetWindowsDirectoryA(programsFolder, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE)
        return 0;
    return PathAppendName(programsFolder, PROGRAMS_FALLBACK);
}

int ShellLinkPath(const char *group, const char *item, char *folder, char *link)
{
    folder[0] = link[0] = '\0';
    if (!FitsPath(group) || !FitsPath(item) || !ReadProgramsFolder())
        return 0;
    if (PathHasDrive(group) || group[0] == '\\')
        lstrcpyA(folder, group);
    else if (!PathJoin(folder, programsFolder, group))
        return 0;
    if (!PathWithSlash(folder) || !PathJoin(link, folder, item))
        return 0;
    if (!PathHasExt(item) && !PathSetExt(link, LINK_EXTENSION))
        return 0;
    return 1;
}

// Item count of group as the Program Manager describes it; *described tells whether it did.
static int QueryItemCount(const char *group, int *described)
{
    char groupFile[GROUP_FILE_SIZE];
    long count = 0;
    long common = 0;
    groupFile[0] = '\0';
    *described = ProgmanQueryGroup(group, groupFile, &count, &common);
    PauseWithMessages(PROGMAN_PAUSE_MS);
    return static_cast<int>(count);
}

int RemoveProgramItemRecord(PhaseState *, int mode, Session *, const char *, DWORD,
                            StringList *list)
{
    if (mode != PHASE_STEP)
        return 0;
    const char *group = static_cast<const char *>(ListFirst(list));
    const char *item = group ? static_cast<const char *>(ListNext(list)) : nullptr;
    if (!group || !item)
        return 0;
    if (!FitsPath(group) || !FitsPath(item))
        return WARN_ITEM;

    if (PlatformGet()->isWindows4) {
        char folder[PATH_SIZE], link[PATH_SIZE];
        if (!ShellLinkPath(group, item, folder, link))
            return WARN_ITEM;
        if (!FsExists(link))
            return 0;
        return FsDelete(link) == 0 ? 0 : WARN_ITEM;
    }

    // DeleteItem names no group: unless this group is surely the active one, an item of the
    // same name would go from whichever group the user has active.
    if (!ShowGroupOnce(group))
        return WARN_ITEM;
    int described = 0;
    if (QueryItemCount(group, &described) <= 0)
        return WARN_ITEM;
    ProgmanDeleteItem(item);
    PauseWithMessages(PROGMAN_PAUSE_MS);
    return 0;
}

int RemoveProgramGroupRecord(PhaseState *, int mode, Session *, const char *text, DWORD,
                             StringList *)
{
    if (mode != PHASE_STEP)
        return 0;
    // A record without a group names no folder: the Programs folder itself must not go.
    if (text[0] == '\0')
        return 0;
    if (!FitsPath(text))
        return WARN_GROUP;

    if (PlatformGet()->isWindows4) {
        char folder[PATH_SIZE], link[PATH_SIZE];
        if (!ShellLinkPath(text, GROUP_DUMMY_ITEM, folder, link))
            return WARN_GROUP;
        if (!FsIsDirectory(folder) || !FsIsDirEmpty(folder))
            return 0;
        return FsRemoveDir(folder) ? 0 : WARN_GROUP;
    }

    ShowGroupOnce(text);
    int described = 0;
    int count = QueryItemCount(text, &described);
    if (!described) {
        // Only a group the Program Manager no longer lists is known to be gone; one it lists
        // but will not describe may hold the user's own items.
        return ProgmanFindGroup(text) == 0 ? 0 : WARN_GROUP;
    }
    if (count != 0)
        return WARN_GROUP;
    ProgmanDeleteGroup(text);
    if (lstrcmpiA(text, lastShownGroup) == 0)
        ForgetShownGroup();
    PauseWithMessages(PROGMAN_PAUSE_MS);
    return 0;
}
