// Record handlers for program items ("API", "RPI") and groups ("CPG"): Start Menu shortcuts
// and folders on Windows 4, Program Manager items and groups (over DDE) elsewhere.
#include "engine/engine.h"

#include "base/fs.h"
#include "base/path.h"
#include "base/strlist.h"
#include "dde/progman.h"
#include "engine/report.h"
#include "engine/world.h"
#include "registry/registry.h"
#include "base/platform.h"

static const char SHELL_FOLDERS_KEY[] =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";
static const char PROGRAMS_VALUE[] = "Programs";
static const char PROGRAMS_FALLBACK[] = "Start Menu\\Programs";
static const char LINK_EXTENSION[] = "lnk";
static const char GROUP_DUMMY_ITEM[] = "xxx";

constexpr DWORD PROGMAN_PAUSE_MS = 450;
constexpr int SHOW_MINIMIZED = 6;
constexpr int SHOW_NORMAL = 1;

// The group selected last in the Program Manager: its items need no new selection.
static char lastShownGroup[PATH_SIZE];
static char programsFolder[PATH_SIZE];

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

// The Program Manager's own pace; a plan sends no command that needs one.
static void Pace(Session *session)
{
    if (!WorldIsPlan(session))
        PauseWithMessages(PROGMAN_PAUSE_MS);
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
        if (!PathFits(value))
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
    if (!PathFits(group) || !PathFits(item) || !ReadProgramsFolder())
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

// Removes the shortcut of item from group's Start Menu folder, or with no item the folder
// itself when it is empty: the verdict, warning when it stays.
static int RemoveStartMenuEntry(Session *session, const char *group, const char *item,
                                int warning)
{
    char folder[PATH_SIZE], link[PATH_SIZE];
    if (!ShellLinkPath(group, item ? item : GROUP_DUMMY_ITEM, folder, link))
        return SessionVerdict(session, warning, OUTCOME_TOO_LONG);
    const char *path = item ? link : folder;
    if (item ? !WorldFileExists(session, link) : !WorldIsDirectory(session, folder))
        return SessionVerdict(session, 0, OUTCOME_GONE, 0, path);
    // A folder stays without a warning: the user's own shortcuts are in it.
    if (!item && !WorldDirIsEmpty(session, folder))
        return SessionVerdict(session, 0, OUTCOME_GROUP_HOLDS, 0, path);
    if (item ? WorldDeleteFile(session, link) == 0 : WorldRemoveDir(session, folder) != 0)
        return SessionVerdict(session, 0, OUTCOME_REMOVED, 0, path);
    return SessionVerdict(session, warning, OUTCOME_FAILED, GetLastError(), path);
}

// Item count of group as the Program Manager describes it (less what a plan would delete);
// *described tells whether it did.
static int QueryItemCount(Session *session, const char *group, int *described)
{
    char groupFile[PROGMAN_PATH_SIZE];
    long count = 0;
    long common = 0;
    groupFile[0] = '\0';
    *described = ProgmanQueryGroup(group, groupFile, &count, &common);
    Pace(session);
    return static_cast<int>(count) - WorldProgmanItemsGone(session, group);
}

// A plan asks only: the group is there to be selected when the Program Manager lists it.
static int SelectGroup(Session *session, const char *group)
{
    if (WorldIsPlan(session))
        return ProgmanFindGroup(group) == 1;
    return ShowGroupOnce(group);
}

// What the Program Manager made of the delete command just sent (the operation's result in
// sent): removed, or kept because it refused or did not answer in time.
static int DeleteVerdict(Session *session, int sent, int warning, const char *name)
{
    if (!sent)
        return SessionVerdict(session, warning, OUTCOME_PROGMAN_SILENT, 0, name);
    if (!WorldIsPlan(session) && !ProgmanCommandAccepted())
        return SessionVerdict(session, warning, OUTCOME_PROGMAN_REFUSED, 0, name);
    return SessionVerdict(session, 0, OUTCOME_REMOVED, 0, name);
}

// "group\item" as the Program Manager shows it, for the report.
static void ItemName(const char *group, const char *item, char *name)
{
    name[0] = '\0';
    if (lstrlenA(group) + lstrlenA(item) + 1 < SESSION_OUTCOME_NAME_SIZE)
        wsprintfA(name, "%s\\%s", group, item);
}

int RemoveProgramItemRecord(PhaseState *, int mode, Session *session, const char *, DWORD,
                            StringList *list)
{
    if (mode != PHASE_STEP)
        return 0;
    const char *group, *item;
    int verdict;
    if (!RecordPathPair(session, list, WARN_ITEM, &group, &item, &verdict))
        return verdict;

    if (PlatformGet()->isWindows4)
        return RemoveStartMenuEntry(session, group, item, WARN_ITEM);

    char name[SESSION_OUTCOME_NAME_SIZE];
    ItemName(group, item, name);
    // DeleteItem names no group: unless this group is surely the active one, an item of the
    // same name would go from whichever group the user has active.
    if (!SelectGroup(session, group))
        return SessionVerdict(session, WARN_ITEM, OUTCOME_PROGMAN, 0, name);
    int described = 0;
    if (QueryItemCount(session, group, &described) <= 0)
        return SessionVerdict(session, WARN_ITEM, OUTCOME_GROUP_EMPTY, 0, name);
    int sent = WorldProgmanDeleteItem(session, group, item);
    Pace(session);
    return DeleteVerdict(session, sent, WARN_ITEM, name);
}

int RemoveProgramGroupRecord(PhaseState *, int mode, Session *session, const char *text,
                             DWORD, StringList *)
{
    if (mode != PHASE_STEP)
        return 0;
    // A record without a group names no folder: the Programs folder itself must not go.
    if (text[0] == '\0')
        return SessionVerdict(session, 0, OUTCOME_NOT_NAMED);
    if (!PathFits(text))
        return SessionVerdict(session, WARN_GROUP, OUTCOME_TOO_LONG);

    if (PlatformGet()->isWindows4)
        return RemoveStartMenuEntry(session, text, nullptr, WARN_GROUP);

    SelectGroup(session, text);
    int described = 0;
    int count = QueryItemCount(session, text, &described);
    if (!described) {
        // Only a group the Program Manager no longer lists is known to be gone; one it lists
        // but will not describe may hold the user's own items.
        return ProgmanFindGroup(text) == 0 ? SessionVerdict(session, 0, OUTCOME_GONE)
                                           : SessionVerdict(session, WARN_GROUP, OUTCOME_PROGMAN);
    }
    if (count != 0)
        return SessionVerdict(session, WARN_GROUP, OUTCOME_GROUP_HOLDS);
    int sent = WorldProgmanDeleteGroup(session, text);
    int verdict = DeleteVerdict(session, sent, WARN_GROUP, nullptr);
    if (lstrcmpiA(text, lastShownGroup) == 0)
        ForgetShownGroup();
    Pace(session);
    return verdict;
}
