// Shared world-building for the engine tests: installation logs written through the log
// database's create mode, registry keys and values set and read with the plain Win32 calls
// (never through the code under test), the platform the handlers see, and a recorder for what
// a session reports.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/strlist.h"
#include "engine/engine.h"
#include "logdb/logdb.h"
#include "base/platform.h"
#include "ui/progress_res.h"

namespace enginetest {

// One record of a log to be written.
struct Rec {
    std::string kind;
    std::vector<std::string> list;   // REC_LIST when non-empty or forceList
    std::string text;                // REC_TEXT when non-empty or forceText
    uint32_t value = 0;
    bool hasValue = false;
    bool forceText = false;
    bool forceList = false;
};

inline Rec Text(const std::string &kind, const std::string &text)
{
    Rec r;
    r.kind = kind;
    r.text = text;
    r.forceText = true;
    return r;
}

inline Rec List(const std::string &kind, const std::vector<std::string> &list)
{
    Rec r;
    r.kind = kind;
    r.list = list;
    r.forceList = true;
    return r;
}

inline Rec Bare(const std::string &kind)
{
    Rec r;
    r.kind = kind;
    return r;
}

// Writes a committed log at path; items maps header item numbers to their texts.
inline bool WriteLog(const std::string &path, const std::map<int, std::string> &items,
                     const std::vector<Rec> &records)
{
    LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
    if (!db)
        return false;
    bool ok = true;
    for (const auto &item : items)
        ok = ok && LogSetItem(db, item.first, item.second.c_str(), 0) == 0;
    for (const Rec &r : records) {
        uint32_t flags = 0;
        StringList *list = nullptr;
        if (r.forceText || !r.text.empty())
            flags |= REC_TEXT;
        if (r.hasValue)
            flags |= REC_VALUE;
        if (r.forceList || !r.list.empty()) {
            flags |= REC_LIST;
            list = ListCreate(0);
            for (const std::string &s : r.list)
                ListAdd(list, s.c_str());
        }
        ok = ok && LogAddRecord(db, r.kind.c_str(), flags, r.text.c_str(), r.value, list) == 0;
        ListDestroy(list);
    }
    ok = ok && LogCommit(db) == 0;
    LogClose(db);
    return ok;
}

// ---- Registry, straight through the Win32 functions.

inline bool SetRaw(HKEY root, const std::string &path, const std::string &name, DWORD type,
                   const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

inline bool SetString(HKEY root, const std::string &path, const std::string &name,
                      const std::string &value)
{
    return SetRaw(root, path, name, REG_SZ, value.c_str(), DWORD(value.size() + 1));
}

inline bool SetDword(HKEY root, const std::string &path, const std::string &name, DWORD value)
{
    return SetRaw(root, path, name, REG_DWORD, &value, sizeof value);
}

inline bool MakeKey(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

inline bool KeyExists(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// The value as text (strings as stored, DWORDs in decimal), or "<missing>".
inline std::string GetValue(HKEY root, const std::string &path, const std::string &name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<missing>";
    char data[2048];
    DWORD type = 0, size = sizeof data - 1;
    LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data),
                               &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return "<missing>";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD *>(data));
    data[size] = '\0';
    return data;
}

inline void DeleteTree(HKEY root, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    char name[MAX_PATH + 1];
    while (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS)
        DeleteTree(key, name);
    RegCloseKey(key);
    RegDeleteKeyA(root, path.c_str());
}

inline void DeleteValue(HKEY root, const std::string &path, const std::string &name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
}

constexpr char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char APP_PATHS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr char SHARED_DLLS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char SHELL_FOLDERS_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// ---- Platform.

// Windows4 is a Start Menu shell of the NT family (NT 4.0 to today's), Windows95 its other kin.
enum class Os { Windows4, Windows95, Nt3, Win32s, Other };

inline void UsePlatform(Os os)
{
    Platform p{};
    p.isWindows4 = os == Os::Windows4 || os == Os::Windows95;
    p.isNt3 = os == Os::Nt3;
    p.isWin32s = os == Os::Win32s;
    p.isNtFamily = os == Os::Windows4 || os == Os::Nt3;
    PlatformSet(&p);
}

// ---- What a session reports.

struct Report {
    int code;
    std::string text;
};

inline std::vector<Report> &Reports()
{
    static std::vector<Report> reports;
    return reports;
}

inline int RecordReport(int code, const char *text, int, Session *)
{
    Reports().push_back({code, text ? text : "<null>"});
    return 1;
}

// ---- Files of the session in the Windows directory.

inline std::string WindowsDir()
{
    char dir[MAX_PATH];
    GetWindowsDirectoryA(dir, sizeof dir);
    std::string s = dir;
    if (s.empty() || s.back() != '\\')
        s += '\\';
    return s;
}

inline std::string TempLogName(int n)
{
    return WindowsDir() + "_detmp." + std::to_string(n);
}

inline std::string JournalName(int n)
{
    return WindowsDir() + "_dejrn." + std::to_string(n);
}

// Working copies and progress journals of earlier runs.
inline void RemoveTempLogs()
{
    for (int n = 1; n <= 20; ++n) {
        DeleteFileA(TempLogName(n).c_str());
        DeleteFileA(JournalName(n).c_str());
    }
}

}  // namespace enginetest

#include "tempdir.h"

namespace enginetest {

// A small installed product inside a scratch directory and the registry, and the log that
// describes it: files, a data directory with an empty subdirectory, two shared files (one still
// used by another product), Start Menu shortcuts in a group folder below a private "Programs"
// folder, the product key beside a sibling product of the same company, an App Paths key, the
// Uninstall entry, a key and a value of the user's own. Everything is removed afterwards.
class World {
public:
    explicit World(const std::string &tag)
        : company("EngTest" + tag), uninstallName("Parlo" + tag + "Test")
    {
        app = root / "Parlo";
        data = app + "\\data";
        audio = data + "\\audio";
        sys = root / "System";
        programs = root / "Programs";
        group = "Parlomatic " + tag;
        groupDir = programs + "\\" + group;
        logPath = app + "\\install.log";
        sharedKept = sys + "\\compartido.dll";
        sharedLast = sys + "\\ultimo.dll";
        userKey = "Software\\" + company + "User";
        std::string old = GetValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs");
        hadPrograms = old != "<missing>";
        savedPrograms = old;
        RemoveTempLogs();
        Reports().clear();
    }

    ~World()
    {
        if (hadPrograms)
            SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", savedPrograms);
        else
            DeleteValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs");
        DeleteTree(HKEY_LOCAL_MACHINE, "Software\\" + company);
        DeleteTree(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + "parlo.exe");
        DeleteTree(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + "parlodic.exe");
        DeleteTree(HKEY_LOCAL_MACHINE, std::string(UNINSTALL_KEY) + uninstallName);
        DeleteTree(HKEY_CURRENT_USER, "Software\\" + company);
        DeleteTree(HKEY_CURRENT_USER, userKey);
        DeleteValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, sharedKept);
        DeleteValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, sharedLast);
        RemoveTempLogs();
    }

    std::string ProductKey() const { return "Software\\" + company + "\\Parlo\\1.0"; }
    std::string SiblingKey() const { return "Software\\" + company + "\\OtraCosa\\2.0"; }
    std::string UninstallEntry() const { return UNINSTALL_KEY + uninstallName; }

    // Everything on disk and in the registry that the log names.
    bool Build()
    {
        bool ok = CreateDirectoryA(app.c_str(), nullptr) &&
                  CreateDirectoryA(data.c_str(), nullptr) &&
                  CreateDirectoryA(audio.c_str(), nullptr) &&
                  CreateDirectoryA(sys.c_str(), nullptr) &&
                  CreateDirectoryA(programs.c_str(), nullptr) &&
                  CreateDirectoryA(groupDir.c_str(), nullptr);
        for (const std::string &f : Files())
            ok = ok && testfs::WriteBytes(f, "contenido de " + f);
        ok = ok && testfs::WriteBytes(sharedKept, "dll") && testfs::WriteBytes(sharedLast, "dll");
        ok = ok && testfs::WriteBytes(groupDir + "\\Parlo.lnk", "lnk") &&
             testfs::WriteBytes(groupDir + "\\Leeme.lnk", "lnk");
        ok = ok && SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", programs);
        ok = ok && SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, sharedKept, 2) &&
             SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, sharedLast, 1);
        ok = ok && SetString(HKEY_LOCAL_MACHINE, ProductKey(), "Ruta", app) &&
             MakeKey(HKEY_LOCAL_MACHINE, ProductKey() + "\\Opciones") &&
             SetString(HKEY_LOCAL_MACHINE, SiblingKey(), "Ruta", "C:\\Otra");
        ok = ok && SetString(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + "parlo.exe", "",
                             app + "\\parlo.exe");
        ok = ok && SetString(HKEY_LOCAL_MACHINE, UninstallEntry(), "DisplayName", displayName) &&
             SetString(HKEY_LOCAL_MACHINE, UninstallEntry(), "UninstallString", "viejo");
        ok = ok && SetString(HKEY_CURRENT_USER, "Software\\" + company + "\\Parlo\\Prefs", "Voz",
                             "alta");
        ok = ok && SetString(HKEY_CURRENT_USER, userKey, "Idioma", "es") &&
             SetString(HKEY_CURRENT_USER, userKey, "Otro", "queda");
        return ok;
    }

    std::vector<std::string> Files() const
    {
        return {app + "\\parlo.exe", app + "\\leeme.txt", data + "\\leccion1.dat"};
    }

    std::map<int, std::string> Items() const
    {
        return {{ITEM_PRODUCT_KEY, "Parlo"}, {ITEM_VERSION_KEY, "1.0"},
                {ITEM_COMPANY_KEY, company}, {ITEM_APP_PATH, "parlo.exe"},
                {ITEM_UNINSTALL_KEY, uninstallName}};
    }

    // The log of a complete installation: 15 records of all ten kinds.
    std::vector<Rec> Records() const
    {
        std::vector<Rec> r;
        for (const std::string &f : Files())
            r.push_back(Text("CF", f));
        r.push_back(List("CSF", {sharedKept, sharedKept}));
        r.push_back(List("CSF", {sharedLast, sharedLast}));
        r.push_back(List("API", {group, "Parlo"}));
        r.push_back(List("API", {group, "Leeme"}));
        r.push_back(Text("CPG", group));
        r.push_back(Text("CDR", app));
        r.push_back(Text("CDR", audio));
        r.push_back(Text("CDR", data));
        r.push_back(Text("CRK", "-2147483647;\\Software\\" + company + "\\Parlo\\"));
        r.push_back(List("SRK", {"-2147483647;" + userKey, "Idioma"}));
        r.push_back(Bare("URK"));
        r.push_back(Bare("MRK"));
        return r;
    }

    bool WriteTheLog(const std::vector<Rec> &records) const
    {
        return WriteLog(logPath, Items(), records);
    }

    testfs::TempDir root;
    std::string company, uninstallName;
    std::string displayName = "Parlomatic de prueba";
    std::string app, data, audio, sys, programs, group, groupDir, logPath;
    std::string sharedKept, sharedLast, userKey;
    bool hadPrograms = false;
    std::string savedPrograms;
};

// Steps a started session until it stops; the results of all steps, in order.
inline std::vector<int> StepToEnd(Session *session, int limit = 200)
{
    std::vector<int> results;
    for (int i = 0; i < limit && SessionIsRunning(session); ++i) {
        int r = SessionStep(session);
        results.push_back(r);
        if (r != 0)
            break;
    }
    return results;
}

inline std::string DialogMessage(Session *session)
{
    char text[512] = "";
    GetDlgItemTextA(SessionGetDialogWindow(session), IDC_MESSAGE, text, sizeof text);
    return text;
}

inline std::string LoadText(UINT id)
{
    char text[512] = "";
    LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return text;
}

}  // namespace enginetest
