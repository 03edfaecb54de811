// Shared world-building for the engine tests: installation logs from the independent writer,
// registry keys and values set and read with the plain Win32 calls (never through the code under
// test), the platform the handlers see, and a recorder for what a session reports.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/platform.h"
#include "base/strlist.h"
#include "engine/engine.h"
#include "logdb/logdb.h"
#include "support/logfile.h"
#include "support/product.h"
#include "support/registry.h"
#include "support/string_list.h"
#include "support/tempdir.h"
#include "ui/progress_res.h"

namespace enginetest {

// Logs through the independent writer, the registry through the plain Win32 calls.
using rawlog::Bare;
using rawlog::List;
using rawlog::Rec;
using rawlog::Text;
using rawlog::WriteLog;
using namespace testreg;
using testfs::WindowsDir;

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
        RemoveTempLogs();
        Reports().clear();
    }

    ~World()
    {
        Installed().Remove();
        DeleteTree(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + "parlodic.exe");
        RemoveTempLogs();
    }

    std::string ProductKey() const { return "Software\\" + company + "\\Parlo\\1.0"; }
    std::string SiblingKey() const { return "Software\\" + company + "\\OtraCosa\\2.0"; }
    std::string UninstallEntry() const { return UNINSTALL_KEY + uninstallName; }

    // Everything on disk and in the registry that the log names.
    bool Build()
    {
        std::string why;
        bool ok = SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", programs) &&
                  Installed().Build(&why);
        if (!why.empty())
            ADD_FAILURE() << why;
        return ok;
    }

    testinstall::Product Installed() const
    {
        testinstall::Product p;
        p.dirs = {app, data, audio, sys, programs, groupDir};
        for (const std::string &f : Files())
            p.File(f, "contenido de " + f);
        p.File(sharedKept, "dll");
        p.File(sharedLast, "dll");
        p.File(groupDir + "\\Parlo.lnk", "lnk");
        p.File(groupDir + "\\Leeme.lnk", "lnk");
        p.shared = {{sharedKept, 2}, {sharedLast, 1}};
        p.Key(HKEY_LOCAL_MACHINE, "Software\\" + company);
        p.String(HKEY_LOCAL_MACHINE, ProductKey(), "Ruta", app);
        p.Key(HKEY_LOCAL_MACHINE, ProductKey() + "\\Opciones");
        p.String(HKEY_LOCAL_MACHINE, SiblingKey(), "Ruta", "C:\\Otra");
        p.AppPath("parlo.exe", app + "\\parlo.exe");
        p.Uninstall(uninstallName, displayName, "viejo");
        p.Key(HKEY_CURRENT_USER, "Software\\" + company);
        p.String(HKEY_CURRENT_USER, "Software\\" + company + "\\Parlo\\Prefs", "Voz", "alta");
        p.Key(HKEY_CURRENT_USER, userKey);
        p.String(HKEY_CURRENT_USER, userKey, "Idioma", "es");
        p.String(HKEY_CURRENT_USER, userKey, "Otro", "queda");
        return p;
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
    SavedValue programsSetting{HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs"};
    std::string company, uninstallName;
    std::string displayName = "Parlomatic de prueba";
    std::string app, data, audio, sys, programs, group, groupDir, logPath;
    std::string sharedKept, sharedLast, userKey;
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

// The closing text a finished run must show for its exit status.
inline std::string ClosingText(int status)
{
    return LoadText(status == 0 ? ENGINE_TEXT_DONE
                    : status == 3010 ? ENGINE_TEXT_INCOMPLETE
                                     : ENGINE_TEXT_KEPT);
}

}  // namespace enginetest
