// What no log may delete on disk: the files that make up Windows itself and the folders that are
// the system's or the user's rather than any product's. The registry's twin of these tables is
// in protected.cpp; both exist so that a damaged or hostile log cannot break the machine.
// A name is judged by its canonical spelling and its folder's identity (base/ident.h): device
// prefixes, short names, trailing dots, other drive letters and links all lead to the same
// verdict, and a spelling that cannot be resolved with confidence is refused.
#include "engine/engine.h"
#include "engine/report.h"

#include <string.h>

#include "base/ident.h"
#include "base/path.h"
#include "base/str.h"

// Where a protected name lies.
enum FilePlace {
    AT_DRIVE_ROOT,   // the root of any drive or share (start-up files)
    IN_WINDOWS,      // the Windows directory and each of its system directories
    IN_DRIVERS,      // "drivers" below a system directory
    IN_CONFIG,       // "config" below a system directory (the registry's hives)
};

// Names separated by blanks; "*" stands for every file of the place. Only what every Windows
// from 3.1 (under Win32s) and 95 to today cannot start or work without: runtime libraries,
// controls and DLLs that products bring along stay removable. Where the system keeps its own
// list (SfcIsFileProtected) it is asked as well.
struct ProtectedFiles {
    FilePlace place;
    const char *names;
};

static const ProtectedFiles PROTECTED_FILES[] = {
    {AT_DRIVE_ROOT, "autoexec.bat config.sys io.sys msdos.sys command.com dblspace.bin "
                    "drvspace.bin"},                                            // DOS, Windows 9x
    {AT_DRIVE_ROOT, "ntldr ntdetect.com boot.ini bootmgr bootsect.dos arcldr.exe arcsetup.exe "
                    "pagefile.sys hiberfil.sys swapfile.sys"},                  // NT
    {IN_WINDOWS, "kernel32.dll kernelbase.dll ntdll.dll ntoskrnl.exe ntkrnlpa.exe ntkrnlmp.exe "
                 "ntkrpamp.exe hal.dll krnl386.exe krnl286.exe vmm32.vxd win386.exe dosx.exe "
                 "win.com wow32.dll ntvdm.exe"},                                // kernel
    {IN_WINDOWS, "user32.dll user.exe gdi32.dll gdi.exe win32k.sys csrss.exe winsrv.dll "
                 "basesrv.dll imm32.dll"},                                      // user, GDI
    {IN_WINDOWS, "advapi32.dll rpcrt4.dll secur32.dll sechost.dll lsass.exe services.exe "
                 "smss.exe winlogon.exe wininit.exe userinit.exe msgina.dll logonui.exe "
                 "svchost.exe"},                                                // logon, services
    {IN_WINDOWS, "explorer.exe shell32.dll shell.dll shlwapi.dll comctl32.dll comdlg32.dll "
                 "commdlg.dll progman.exe winfile.exe taskman.exe rundll.exe rundll32.exe "
                 "cmd.exe command.com control.exe"},                            // shell
    {IN_WINDOWS, "regedit.exe regedt32.exe reg.exe regsvr32.exe system.dat user.dat system.da0 "
                 "user.da0 reg.dat"},                                           // registry
    {IN_WINDOWS, "ole32.dll oleaut32.dll msvcrt.dll version.dll ver.dll lz32.dll lzexpand.dll "
                 "toolhelp.dll ddeml.dll setupapi.dll cfgmgr32.dll winmm.dll mmsystem.dll "
                 "ws2_32.dll wsock32.dll winsock.dll netapi32.dll w32sys.dll win32s16.dll "
                 "system.drv keyboard.drv mouse.drv comm.drv"},                 // core services
    {IN_WINDOWS, "win.ini system.ini control.ini progman.ini winfile.ini protocol.ini "
                 "win32s.ini"},                                                 // configuration
    {IN_DRIVERS, "ntfs.sys fastfat.sys disk.sys classpnp.sys partmgr.sys volmgr.sys volsnap.sys "
                 "mountmgr.sys acpi.sys pci.sys atapi.sys ataport.sys ndis.sys tcpip.sys afd.sys "
                 "ksecdd.sys cng.sys fltmgr.sys"},
    {IN_CONFIG, "*"},
};

// Folders never removed, even empty, besides the Windows and system directories themselves,
// every drive's root and what the system names for the user below (the Shell Folders, the
// profile and Program Files variables): the Windows directory's own subfolders.
static const char *const WINDOWS_FOLDERS[] = {
    "Command", "Config", "Cursors", "Desktop", "Favorites", "Fonts", "Help", "Inf", "Media",
    "NetHood", "Profiles", "Recent", "SendTo", "ShellNew", "Start Menu", "Start Menu\\Programs",
    "Start Menu\\Programs\\StartUp", "Tasks", "Temp", "Web",
};

static const char *const FOLDER_VARIABLES[] = {
    "ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "CommonProgramFiles",
    "CommonProgramFiles(x86)", "CommonProgramW6432", "ProgramData", "ALLUSERSPROFILE", "PUBLIC",
    "USERPROFILE", "APPDATA", "LOCALAPPDATA", "TEMP", "TMP", "SystemRoot", "windir",
};

struct FolderValues {
    HKEY root;
    const char *key;
    const char *name;   // null: every value of the key
};

static const FolderValues FOLDER_VALUES[] = {
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
     nullptr},
    {HKEY_CURRENT_USER,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", nullptr},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
     nullptr},
    {HKEY_LOCAL_MACHINE,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", nullptr},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
     "ProfilesDirectory"},
};

// ---- Resolving a name as the system does.

// A resolved name: its canonical spelling (base/ident.h) and its 8.3 form ("" when the system
// gives none). Where the system can open it, its identity (volume and file number) also catches
// what no spelling rule can: another drive letter, share or link that reaches the same folder.
struct Resolved {
    char path[PATH_SIZE];
    char brief[PATH_SIZE];
    FileIdent id;
};

typedef UINT(WINAPI *DirectoryFunction)(LPSTR, UINT);
typedef BOOL(WINAPI *SfcFunction)(HANDLE, LPCWSTR);

// Newer than Windows 95 and NT 4: looked up at run time so that the program still starts there.
static FARPROC Kernel32Entry(const char *name)
{
    return GetProcAddress(GetModuleHandleA("kernel32.dll"), name);
}

static int Resolve(const char *name, Resolved *out)
{
    out->brief[0] = '\0';
    if (!IdentCanonical(name, out->path))
        return 0;
    DWORD n = GetShortPathNameA(out->path, out->brief, PATH_SIZE);
    if (n == 0 || n >= PATH_SIZE)
        out->brief[0] = '\0';
    IdentRead(out->path, &out->id);
    return 1;
}

static int SameFolder(const Resolved &a, const Resolved &b)
{
    return IdentSameName(a.path, b.path) || (a.brief[0] && IdentSameName(a.brief, b.brief)) ||
           IdentSame(a.id, b.id);
}

// ---- Where the system is on this machine.

constexpr int WINDOWS_DIR_MAX = 2;
constexpr int SYSTEM_DIR_MAX = 1 + WINDOWS_DIR_MAX * 4;

struct SystemPlaces {
    int ready;
    int windowsCount;
    int systemCount;
    Resolved windows[WINDOWS_DIR_MAX];
    Resolved system[SYSTEM_DIR_MAX];
};

static void AddPlace(Resolved *list, int *count, int max, const char *name)
{
    if (*count < max && Resolve(name, &list[*count]))
        ++*count;
}

// The Windows directory (with the shared one of a multi-user system) and its system
// directories under every name: a 32-bit program on 64-bit Windows is sent from "system32" to
// "SysWOW64" and reaches the real one as "sysnative"; "system" is the 16-bit one.
static const char *const SYSTEM_DIR_NAMES[] = {"system32", "SysWOW64", "sysnative", "system"};

static const SystemPlaces *GetSystemPlaces(void)
{
    static SystemPlaces places;
    if (places.ready)
        return &places;
    char dir[PATH_SIZE];
    UINT n = GetWindowsDirectoryA(dir, PATH_SIZE);
    if (n > 0 && n < PATH_SIZE)
        AddPlace(places.windows, &places.windowsCount, WINDOWS_DIR_MAX, dir);
    DirectoryFunction shared = reinterpret_cast<DirectoryFunction>(
        reinterpret_cast<void *>(Kernel32Entry("GetSystemWindowsDirectoryA")));
    n = shared ? shared(dir, PATH_SIZE) : 0;
    if (n > 0 && n < PATH_SIZE)
        AddPlace(places.windows, &places.windowsCount, WINDOWS_DIR_MAX, dir);
    n = GetSystemDirectoryA(dir, PATH_SIZE);
    if (n > 0 && n < PATH_SIZE)
        AddPlace(places.system, &places.systemCount, SYSTEM_DIR_MAX, dir);
    for (int i = 0; i < places.windowsCount; ++i)
        for (const char *name : SYSTEM_DIR_NAMES)
            if (PathJoin(dir, places.windows[i].path, name))
                AddPlace(places.system, &places.systemCount, SYSTEM_DIR_MAX, dir);
    places.ready = 1;
    return &places;
}

static int IsVolumeRoot(const char *dir)
{
    if (PathIsDriveSpec(dir))
        return 1;
    if (dir[0] != '\\' || dir[1] != '\\')
        return 0;   // "\\server\share" is the root of a share
    int separators = 0;
    for (const char *p = dir + 2; *p; p = StrNextChar(p))
        separators += *p == '\\';
    return separators <= 1;
}

// The identities of the drives' roots, so that a folder that is one under another name (a link
// to "C:\", Wine's drive of the Unix root reaching a drive's folder) is known as one. Floppy and
// CD drives are left out: asking them may wait on the drive or ask the user for a disk.
struct DriveRoots {
    int ready;
    int count;
    FileIdent ids[26];
};

static int IsDriveRootByIdentity(const FileIdent &id)
{
    static DriveRoots roots;
    if (!IdentKnown(id))
        return 0;
    if (!roots.ready) {
        DWORD drives = GetLogicalDrives();
        for (int i = 0; i < 26; ++i) {
            char root[] = {static_cast<char>('A' + i), ':', '\\', '\0'};
            UINT type = (drives >> i) & 1 ? GetDriveTypeA(root) : DRIVE_NO_ROOT_DIR;
            if ((type == DRIVE_FIXED || type == DRIVE_REMOTE || type == DRIVE_RAMDISK) &&
                IdentRead(root, &roots.ids[roots.count]))
                ++roots.count;
        }
        roots.ready = 1;
    }
    for (int i = 0; i < roots.count; ++i)
        if (IdentSame(id, roots.ids[i]))
            return 1;
    return 0;
}

static int IsOneOf(const Resolved &folder, const Resolved *list, int count)
{
    for (int i = 0; i < count; ++i)
        if (SameFolder(folder, list[i]))
            return 1;
    return 0;
}

// The folder a file lies in, resolved only when a listed name makes it matter: resolving costs
// a look at the disk, and most files of a log are no system file's namesakes.
struct Folder {
    char text[PATH_SIZE];
    int state;   // 0 not resolved yet, 1 resolved, -1 cannot be
    Resolved resolved;
};

static const Resolved *FolderResolved(Folder *folder)
{
    if (folder->state == 0)
        folder->state = Resolve(folder->text, &folder->resolved) ? 1 : -1;
    return folder->state > 0 ? &folder->resolved : nullptr;
}

// folder is sub ("drivers", "config": names without a short form of their own) right below one
// of the system directories.
static int IsSystemSubfolder(const Folder &folder, const char *sub)
{
    char name[PATH_SIZE];
    PathName(folder.text, name);
    if (!IdentSameName(name, sub))
        return 0;
    char parentName[PATH_SIZE];
    Resolved parent;
    PathParent(folder.text, parentName);
    const SystemPlaces *places = GetSystemPlaces();
    return !Resolve(parentName, &parent) || IsOneOf(parent, places->system, places->systemCount);
}

// A folder that cannot be resolved counts as the place: the file is refused.
static int IsInPlace(Folder *folder, FilePlace place)
{
    const SystemPlaces *places = GetSystemPlaces();
    const Resolved *resolved = nullptr;
    switch (place) {
    case AT_DRIVE_ROOT:
        if (IsVolumeRoot(folder->text))
            return 1;
        resolved = FolderResolved(folder);
        return !resolved || IsDriveRootByIdentity(resolved->id);
    case IN_WINDOWS:
        resolved = FolderResolved(folder);
        return !resolved || IsOneOf(*resolved, places->windows, places->windowsCount) ||
               IsOneOf(*resolved, places->system, places->systemCount);
    case IN_DRIVERS:
        return IsSystemSubfolder(*folder, "drivers");
    case IN_CONFIG:
        return IsSystemSubfolder(*folder, "config");
    }
    return 0;
}

// The listed names are ASCII words separated by blanks: no character walk is needed to split
// them. An ASCII name can only be a word of its own length; the comparison runs once per record
// and row, so the others are passed over unread.
static int IsListed(const char *names, const char *name, int asciiLength)
{
    char word[PATH_SIZE];
    for (const char *p = names; *p;) {
        const char *end = p;
        while (*end && *end != ' ')
            ++end;
        int length = static_cast<int>(end - p);
        if (length == 1 && *p == '*')
            return 1;
        if (length < PATH_SIZE && (asciiLength < 0 || asciiLength == length)) {
            memcpy(word, p, length);
            word[length] = '\0';
            if (IdentSameName(word, name))
                return 1;
        }
        p = *end ? end + 1 : end;
    }
    return 0;
}

// The system's own list of the files it protects (Windows 2000 and later), loaded from the
// system directory only so that no other copy of the library can answer.
static const char *const SFC_LIBRARIES[] = {"sfc_os.dll", "sfc.dll"};

static int SystemProtects(const char *path)
{
    static SfcFunction isProtected;
    static int tried;
    if (!tried) {
        tried = 1;
        char dir[PATH_SIZE];
        char library[PATH_SIZE];
        UINT n = GetSystemDirectoryA(dir, PATH_SIZE);
        UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        for (const char *name : SFC_LIBRARIES) {
            HMODULE module = n > 0 && n < PATH_SIZE && PathJoin(library, dir, name)
                                 ? LoadLibraryA(library)
                                 : nullptr;
            if (!module)
                continue;
            isProtected = reinterpret_cast<SfcFunction>(
                reinterpret_cast<void *>(GetProcAddress(module, "SfcIsFileProtected")));
            if (isProtected)
                break;
            FreeLibrary(module);
        }
        SetErrorMode(mode);
    }
    WCHAR wide[PATH_SIZE];
    if (!isProtected || !MultiByteToWideChar(CP_ACP, 0, path, -1, wide, PATH_SIZE))
        return 0;
    return isProtected(nullptr, wide) ? 1 : 0;
}

static int Refuse(int *refusal, int outcome)
{
    if (refusal)
        *refusal = outcome;
    return outcome ? 0 : 1;
}

int IsFileRemovable(const char *path, int *refusal)
{
    char full[PATH_SIZE];
    if (!path || !IdentCanonical(path, full))
        return Refuse(refusal, OUTCOME_UNRESOLVED);
    char name[PATH_SIZE];
    PathName(full, name);
    Folder folder;
    PathDir(full, folder.text);
    folder.state = 0;
    int asciiLength = 0;
    for (const char *p = name; *p && asciiLength >= 0; ++p)
        asciiLength = static_cast<unsigned char>(*p) < 0x80 ? asciiLength + 1 : -1;
    // Here a file is refused for being the system's own ("refused, system file").
    for (const ProtectedFiles &row : PROTECTED_FILES)
        if (IsListed(row.names, name, asciiLength) && IsInPlace(&folder, row.place))
            return Refuse(refusal, OUTCOME_SYSTEM_FILE);
    return Refuse(refusal, SystemProtects(full) ? OUTCOME_SYSTEM_FILE : OUTCOME_NONE);
}

// ---- Folders.

// The user's and the system's folders, resolved once per phase table: resolving each of them
// looks at the disk, and a log may name hundreds of directories. A machine with more such
// folders than fit refuses every directory, the safe side.
constexpr int PROTECTED_FOLDER_MAX = 512;

struct ProtectedFolders {
    int ready;
    int overflow;
    int count;
    Resolved list[PROTECTED_FOLDER_MAX];
};

static ProtectedFolders protectedFolders;

void ForgetProtectedFolders(void)
{
    protectedFolders.ready = 0;
    IdentForget();
}

static void AddFolder(const char *name)
{
    ProtectedFolders &f = protectedFolders;
    if (!name[0])
        return;
    if (f.count == PROTECTED_FOLDER_MAX) {
        f.overflow = 1;
        return;
    }
    if (Resolve(name, &f.list[f.count]))
        ++f.count;
}

static void AddFolderValues(const FolderValues &values)
{
    HKEY key;
    if (RegOpenKeyExA(values.root, values.key, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char name[PATH_SIZE];
    char data[PATH_SIZE];
    char expanded[PATH_SIZE];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = PATH_SIZE;
        DWORD dataSize = PATH_SIZE - 1;
        DWORD type = 0;
        LONG rc;
        if (values.name) {
            if (i > 0)
                break;
            rc = RegQueryValueExA(key, values.name, nullptr, &type,
                                  reinterpret_cast<BYTE *>(data), &dataSize);
        } else {
            rc = RegEnumValueA(key, i, name, &nameSize, nullptr, &type,
                               reinterpret_cast<BYTE *>(data), &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS)
                break;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;   // a value too long for a path names no folder that could be removed
        data[dataSize] = '\0';
        DWORD n = ExpandEnvironmentStringsA(data, expanded, PATH_SIZE);
        if (n > 0 && n <= PATH_SIZE)
            AddFolder(expanded);
    }
    RegCloseKey(key);
}

static const ProtectedFolders &GetProtectedFolders(void)
{
    ProtectedFolders &f = protectedFolders;
    if (f.ready)
        return f;
    f.count = 0;
    f.overflow = 0;
    const SystemPlaces *places = GetSystemPlaces();
    char name[PATH_SIZE];
    for (int i = 0; i < places->windowsCount; ++i) {
        for (const char *sub : WINDOWS_FOLDERS)
            if (PathJoin(name, places->windows[i].path, sub))
                AddFolder(name);
        // The system drive's root, for the spellings that do not look like a root.
        if (places->windows[i].path[1] == ':') {
            lstrcpynA(name, places->windows[i].path, 3);
            lstrcatA(name, "\\");
            AddFolder(name);
        }
    }
    for (const char *variable : FOLDER_VARIABLES) {
        DWORD n = GetEnvironmentVariableA(variable, name, PATH_SIZE);
        if (n > 0 && n < PATH_SIZE)
            AddFolder(name);
    }
    for (const FolderValues &values : FOLDER_VALUES)
        AddFolderValues(values);
    f.ready = 1;
    return f;
}

static int IsSystemFolder(const Resolved &folder)
{
    const SystemPlaces *places = GetSystemPlaces();
    if (IsVolumeRoot(folder.path) || IsOneOf(folder, places->windows, places->windowsCount) ||
        IsOneOf(folder, places->system, places->systemCount))
        return 1;
    const ProtectedFolders &f = GetProtectedFolders();
    return f.overflow || IsOneOf(folder, f.list, f.count);
}

int IsDirectoryRemovable(const char *path, int *refusal)
{
    Resolved folder;
    if (!path || !Resolve(path, &folder))
        return Refuse(refusal, OUTCOME_UNRESOLVED);
    // Here a folder is refused for being the system's or the user's own.
    return Refuse(refusal, IsSystemFolder(folder) ? OUTCOME_SYSTEM_FOLDER : OUTCOME_NONE);
}
