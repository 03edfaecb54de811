// remover.exe end to end: the real program started as a child process under Wine, on an
// installation built in the test prefix, answered and watched from outside like a user would.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e/plan_check.h"
#include "e2e/remover_harness.h"
#include "engine/engine.h"
#include "progman/server_control.h"
#include "shell/remover_res.h"
#include "remover_version.h"
#include "support/pending_restart.h"
#include "support/product.h"
#include "support/spellings.h"
#include "ui/progress_res.h"

using namespace e2e;
using namespace testreg;
using rawlog::Bare;
using rawlog::List;
using rawlog::Rec;
using rawlog::Text;
using restarttest::HeldFile;
using restarttest::PendingDeletions;

namespace {

const wchar_t TITLE[] = L"Desinstalación de Parlomatic";
const wchar_t CONFIRM_TEXT[] = L"Desinstalar el programa y todos sus componentes";
const wchar_t DONE_TEXT[] = L"La desinstalación ha terminado.";
const wchar_t ERROR_CAPTION[] = L"Uninstall";
const wchar_t INTERNAL_ERROR_TEXT[] = L"Error interno Nº -6.";
const wchar_t NO_LOG_EMPTY_TEXT[] =
    L"Unable to locate the installation log file ''.  Uninstallation will not continue.";
const char HKCU_ROOT[] = "-2147483647;";
const char HKLM_ROOT[] = "-2147483646;";

// Automatic runs start on the third tick of a 1500 ms timer; deletion ends on the eighth.
constexpr DWORD THIRD_TICK_MS = 4500;
constexpr DWORD EIGHTH_TICK_MS = 12000;
constexpr DWORD TICK_MS = 1500;

std::string RemoverExe()
{
    return UnixToWine(REMOVER_EXE);
}

std::string ShotPath(const std::string &name)
{
    return std::string(REMOVER_SCREENSHOT_DIR) + "/" + name;
}

// remover.exe under another name, so that Wine can report another Windows version to it while
// the real one runs beside it.
class ProgramCopy {
public:
    explicit ProgramCopy(const std::string &name) : path(DIR + ("\\" + name))
    {
        CreateDirectoryA(DIR, nullptr);
        ok = CopyFileA(RemoverExe().c_str(), path.c_str(), FALSE);
    }
    ~ProgramCopy()
    {
        DeleteFileA(path.c_str());
        RemoveDirectoryA(DIR);  // once the last copy is gone
    }
    ProgramCopy(const ProgramCopy &) = delete;
    ProgramCopy &operator=(const ProgramCopy &) = delete;

    static constexpr const char *DIR = "C:\\parloe2e-copias";
    std::string path;
    bool ok;
};

// Where item is in list, letter case aside; list.size() when it is not.
size_t IndexOf(const std::vector<std::string> &list, const std::string &item)
{
    for (size_t i = 0; i < list.size(); ++i)
        if (lstrcmpiA(list[i].c_str(), item.c_str()) == 0)
            return i;
    return list.size();
}

// Several removals started side by side: a little apart, since each takes the first free name
// for its working copy of the log.
constexpr DWORD START_APART_MS = 300;

enum class Items { StartMenu, Progman, None };

// An installed product and its log: files, a shared file counted once, a directory tree, program
// items (Start Menu shortcuts, Program Manager items or none), the product key, an App Paths key,
// the Uninstall entry, a key of the user's and a value beside one the user keeps.
class Installation {
public:
    Installation(const std::string &dirName, Items items) : items_(items)
    {
        dir = "C:\\" + dirName;
        lessons = dir + "\\lecciones";
        log = dir + "\\install.log";
        shared = SystemDir() + "\\parloe2e.dll";
        programs = "C:\\" + dirName + " Programas";
        groupDir = programs + "\\" + GROUP;
        Clean();  // whatever an interrupted earlier run may have left
    }

    ~Installation() { Clean(); }

    void Clean() const
    {
        Installed(Items::StartMenu).Remove();
        programsSetting.Restore();
    }

    // What the installer put in place with the given program items.
    testinstall::Product Installed(Items items) const
    {
        testinstall::Product p;
        p.dirs = {dir, lessons};
        for (const std::string &f : Files())
            p.File(f, "contenido");
        p.File(shared, "dll");
        p.shared = {{shared, 1}};
        if (items == Items::StartMenu) {
            p.dirs.push_back(programs);
            p.dirs.push_back(groupDir);
            p.File(groupDir + "\\Parlomatic.lnk", "lnk");
            p.File(groupDir + "\\Leeme.lnk", "lnk");
        }
        p.Key(HKEY_LOCAL_MACHINE, "Software\\" + std::string(COMPANY));
        p.String(HKEY_LOCAL_MACHINE, ProductKey(), "Ruta", dir);
        p.AppPath(APP, dir + "\\parloe2e.exe");
        p.Uninstall(UNINSTALL_NAME, DISPLAY_NAME, "instalado");
        p.Key(HKEY_CURRENT_USER, USER_KEY);
        p.String(HKEY_CURRENT_USER, std::string(USER_KEY) + "\\Prefs", "Voz", "alta");
        p.Key(HKEY_CURRENT_USER, VALUES_KEY);
        p.String(HKEY_CURRENT_USER, VALUES_KEY, "Idioma", "es");
        p.String(HKEY_CURRENT_USER, VALUES_KEY, "Otro", "queda");
        p.log = log;
        p.items = {{ITEM_PRODUCT_KEY, "Parlomatic"}, {ITEM_VERSION_KEY, "1.0"},
                   {ITEM_COMPANY_KEY, COMPANY}, {ITEM_APP_PATH, APP},
                   {ITEM_UNINSTALL_KEY, UNINSTALL_NAME}};
        for (const auto &[item, value] : itemsOverride)
            p.items[item] = value;
        p.records = Records();
        return p;
    }

    static constexpr const char *COMPANY = "ParloE2E Co";
    static constexpr const char *APP = "parloe2e.exe";
    static constexpr const char *UNINSTALL_NAME = "ParlomaticE2E";
    static constexpr const char *DISPLAY_NAME = "Parlomatic E2E";
    static constexpr const char *GROUP = "Parlomatic E2E";
    static constexpr const char *USER_KEY = "Software\\ParloE2E Usuario";
    static constexpr const char *VALUES_KEY = "Software\\ParloE2E Valores";

    std::string ProductKey() const { return "Software\\" + std::string(COMPANY) + "\\Parlomatic\\1.0"; }
    std::string UninstallEntry() const { return std::string(UNINSTALL_KEY) + UNINSTALL_NAME; }

    std::vector<std::string> Files() const
    {
        return {dir + "\\parloe2e.exe", dir + "\\leeme.txt", lessons + "\\leccion1.dat"};
    }

    // The progman server's seed line for the product's group.
    std::string ProgmanSeed() const
    {
        return std::string(GROUP) + "\tparloe2e.grp\tParlomatic\tLeeme\r\n";
    }

    std::vector<Rec> Records() const
    {
        std::vector<Rec> r;
        for (const std::string &f : Files())
            r.push_back(Text("CF", f));
        r.push_back(List("CSF", {shared, shared}));
        if (items_ != Items::None) {
            r.push_back(List("API", {GROUP, "Parlomatic"}));
            r.push_back(List("API", {GROUP, "Leeme"}));
            r.push_back(Text("CPG", GROUP));
        }
        r.push_back(Text("CDR", dir));
        r.push_back(Text("CDR", lessons));
        r.push_back(Text("CRK", std::string(HKCU_ROOT) + "\\" + USER_KEY + "\\"));
        r.push_back(List("SRK", {std::string(HKCU_ROOT) + VALUES_KEY, "Idioma"}));
        r.push_back(Bare("URK"));
        r.push_back(Bare("MRK"));
        for (const Rec &e : extra)
            r.push_back(e);
        return r;
    }

    ::testing::AssertionResult Build()
    {
        std::string why;
        if (!Installed(items_).Build(&why))
            return ::testing::AssertionFailure() << why;
        if (items_ == Items::StartMenu &&
            !SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", programs))
            return ::testing::AssertionFailure() << "cannot set the Programs folder";
        return ::testing::AssertionSuccess();
    }

    // What the installation owns that is still there. Registration checks are left out when
    // registration is false (Win32s keeps it).
    std::vector<std::string> Remaining(bool registration = true) const
    {
        std::vector<std::string> left;
        for (const std::string &p : Files())
            if (Exists(p))
                left.push_back(p);
        for (const std::string &p : {log, shared, lessons, dir, groupDir})
            if (Exists(p))
                left.push_back(p);
        if (GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared) != "<missing>")
            left.push_back("SharedDLLs count of " + shared);
        if (KeyExists(HKEY_CURRENT_USER, USER_KEY))
            left.push_back(std::string("HKCU\\") + USER_KEY);
        if (GetValue(HKEY_CURRENT_USER, VALUES_KEY, "Idioma") != "<missing>")
            left.push_back("value Idioma");
        if (registration) {
            for (const std::string &k : {"Software\\" + std::string(COMPANY),
                                         std::string(APP_PATHS_KEY) + APP, UninstallEntry()})
                if (KeyExists(HKEY_LOCAL_MACHINE, k))
                    left.push_back("HKLM\\" + k);
        }
        return left;
    }

    // What should be there before a removal and is not.
    std::vector<std::string> Missing() const
    {
        std::vector<std::string> missing;
        for (const std::string &p : Files())
            if (!Exists(p))
                missing.push_back(p);
        for (const std::string &p : {log, shared})
            if (!Exists(p))
                missing.push_back(p);
        if (items_ == Items::StartMenu && !Exists(groupDir + "\\Parlomatic.lnk"))
            missing.push_back(groupDir + "\\Parlomatic.lnk");
        for (const std::string &k : {ProductKey(), std::string(APP_PATHS_KEY) + APP,
                                     UninstallEntry()})
            if (!KeyExists(HKEY_LOCAL_MACHINE, k))
                missing.push_back("HKLM\\" + k);
        if (!KeyExists(HKEY_CURRENT_USER, USER_KEY))
            missing.push_back(std::string("HKCU\\") + USER_KEY);
        return missing;
    }

    std::string RegisteredUninstallString() const
    {
        return GetValue(HKEY_LOCAL_MACHINE, UninstallEntry(), "UninstallString");
    }

    std::string dir, lessons, log, shared, programs, groupDir;
    SavedValue programsSetting{HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs"};
    std::vector<Rec> extra;  // records added to the log behind the usual ones
    std::map<int, std::string> itemsOverride;  // header items written instead of the usual ones

private:
    Items items_;
};

const std::vector<std::string> NOTHING;

// Every test: a display (remover's windows need one), and no temporary file of remover left in
// the Windows directory before or after.
class RemoverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveDisplay())
            GTEST_SKIP() << "remover's windows need an X display (run under scripts/ctest-wine)";
        // An interrupted earlier run is no fault of this one.
        for (const std::string &name : LeftoverTempFiles())
            DeleteFileA((WindowsDir() + name).c_str());
    }
    void TearDown() override
    {
        if (!HaveDisplay())
            return;
        EXPECT_EQ(NOTHING, LeftoverTempFiles()) << "remover left temporary files behind";
        for (const std::string &name : LeftoverTempFiles())
            DeleteFileA((WindowsDir() + name).c_str());
    }

    static HWND FindConfirmation(DWORD pid) { return FindProcessWindow(pid, L"#32770", TITLE); }
    static HWND FindSplash(DWORD pid) { return FindProcessWindow(pid, L"DeKvAbtClsName"); }
    static HWND FindDialog(DWORD pid) { return FindDialogWith(pid, IDC_BAR); }

    // Answers the confirmation box with Yes, watches the splash go by, and returns the progress
    // dialog once its OK button is enabled (null on failure, with the reason recorded).
    HWND ConfirmAndWaitForFinish(Remover &r, const char *splashShot = nullptr,
                                 bool splashExpected = true)
    {
        HWND box = r.WaitForWindow(FindConfirmation, 20000);
        EXPECT_TRUE(box) << "no confirmation box";
        if (!box)
            return nullptr;
        EXPECT_EQ(CONFIRM_TEXT, MessageBoxText(box));
        Press(box, IDYES);
        HWND splash = splashExpected ? r.WaitForWindow(FindSplash, 5000) : nullptr;
        DWORD appeared = GetTickCount();
        EXPECT_EQ(splashExpected, splash != nullptr) << "the splash window";
        if (splash) {
            RECT rc;
            GetWindowRect(splash, &rc);
            EXPECT_EQ(442, rc.right - rc.left) << "the 440-pixel picture and its border";
            EXPECT_EQ(242, rc.bottom - rc.top);
            EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - 442) / 2, rc.left) << "centred";
            EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - 242) / 2, rc.top);
            EXPECT_TRUE(GetWindowLongA(splash, GWL_EXSTYLE) & WS_EX_TOPMOST);
            EXPECT_FALSE(Exists(WindowsDir() + "_bmp23_.bm_")) << "the picture file outlived loading";
            if (splashShot) {
                EXPECT_TRUE(StartScreenshot(ShotPath(splashShot)));
            }
            while (IsWindow(splash) && IsWindowVisible(splash) && GetTickCount() - appeared < 10000)
                Sleep(5);
            // Less than 2 s only by how late this poll saw the window appear.
            EXPECT_GE(GetTickCount() - appeared, 1900u) << "the splash must stay up for 2 s";
            if (splashShot) {
                EXPECT_TRUE(WaitForScreenshot(ShotPath(splashShot)));
            }
        }
        HWND dialog = r.WaitForWindow(FindDialog, 10000);
        EXPECT_TRUE(dialog) << "no progress dialog";
        if (!dialog)
            return nullptr;
        EXPECT_TRUE(splash == nullptr || !IsWindow(splash)) << "splash still there with the dialog";
        HWND ok = GetDlgItem(dialog, IDOK);
        for (DWORD begin = GetTickCount(); GetTickCount() - begin < 60000; Sleep(20))
            if (IsWindowEnabled(ok) || !r.Running())
                break;
        EXPECT_TRUE(IsWindowEnabled(ok)) << "the run did not finish";
        return IsWindowEnabled(ok) ? dialog : nullptr;
    }
};

using RemoverInteractive = RemoverTest;
using RemoverAutomatic = RemoverTest;
using RemoverDelete = RemoverTest;
using RemoverPlatform = RemoverTest;
using RemoverFailure = RemoverTest;
using RemoverRestart = RemoverTest;

// ---- Interactive runs ----------------------------------------------------------------------

TEST_F(RemoverInteractive, YesRemovesTheInstallationAfterTheSplash)
{
    VersionEmulation version("win95");
    Installation inst("Parlo E2E", Items::StartMenu);  // a blank in the path: quoted argument
    ASSERT_TRUE(inst.Build());
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-f\"" + inst.log + "\""));
    HWND dialog = ConfirmAndWaitForFinish(r, "remover_splash.png");
    ASSERT_TRUE(dialog);
    wchar_t message[512] = L"";
    GetDlgItemTextW(dialog, IDC_MESSAGE, message, 512);
    EXPECT_EQ(std::wstring(DONE_TEXT), message);
    EXPECT_EQ(std::wstring(TITLE), WindowText(dialog));
    EXPECT_TRUE(Screenshot(ShotPath("remover_finished.png")));
    Sleep(300);
    EXPECT_TRUE(r.Running()) << "an interactive run waits for OK";
    Press(dialog, IDOK);
    ASSERT_TRUE(r.WaitForExit(15000)) << "OK did not end the program";
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(NOTHING, inst.Remaining());
    EXPECT_EQ("queda", GetValue(HKEY_CURRENT_USER, Installation::VALUES_KEY, "Otro"));
}

// An interactive plan asks nothing and shows what the removal would do in a window of its own:
// the counts at the top, the report's lines, Copy puts them on the clipboard, OK ends it with
// the status the removal would have; the installation is untouched.
TEST_F(RemoverInteractive, APlanIsShownAndChangesNothing)
{
    VersionEmulation version("win95");
    Installation inst("ParloE2E Plan", Items::StartMenu);
    ASSERT_TRUE(inst.Build());
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-n -f\"" + inst.log + "\""));
    HWND window =
        r.WaitForWindow([](DWORD pid) { return FindDialogWith(pid, IDC_PLAN_LIST); }, 20000);
    ASSERT_TRUE(window) << "no plan window";
    EXPECT_TRUE(GetWindowLongA(window, GWL_STYLE) & WS_THICKFRAME) << "not resizable";
    HWND list = GetDlgItem(window, IDC_PLAN_LIST);
    std::vector<std::string> lines;
    for (LRESULT i = 0, n = SendMessageW(list, LB_GETCOUNT, 0, 0); i < n; ++i) {
        wchar_t line[1024] = L"";
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line));
        char narrow[1024] = "";
        WideCharToMultiByte(CP_ACP, 0, line, -1, narrow, sizeof narrow, nullptr, nullptr);
        lines.push_back(narrow);
    }
    ASSERT_GT(lines.size(), 6u);
    EXPECT_EQ("Removal plan (remover " REMOVER_VERSION_TEXT "): nothing was changed", lines[0]);
    EXPECT_EQ("file           " + inst.Files()[0] + ": would be removed", lines[6]);
    EXPECT_EQ("Result: would finish, nothing the log named would remain (exit code 0)",
              lines.back());
    if (sizeof(void *) == 8) {   // the 32-bit programs' accented texts do not read back here
        EXPECT_EQ(L"Se eliminarían 13 elementos; 0 irían al reiniciar Windows; 0 se conservarían.",
                  WindowText(GetDlgItem(window, IDC_PLAN_COUNTS)));
    }
    EXPECT_TRUE(Screenshot(ShotPath("remover_plan.png")));
    Press(window, IDC_PLAN_COPY);
    std::string copied;
    if (OpenClipboard(nullptr)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        if (const char *text = data ? static_cast<const char *>(GlobalLock(data)) : nullptr) {
            copied = text;
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    EXPECT_EQ(0u, copied.find(lines[0] + "\r\n")) << copied;
    Press(window, IDOK);
    ASSERT_TRUE(r.WaitForExit(10000));
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(NOTHING, inst.Missing());
    EXPECT_EQ("instalado", inst.RegisteredUninstallString());
}

TEST_F(RemoverInteractive, NoChangesNothing)
{
    VersionEmulation version("win95");
    Installation inst("ParloE2E No", Items::StartMenu);
    ASSERT_TRUE(inst.Build());
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-f\"" + inst.log + "\""));
    HWND box = r.WaitForWindow(FindConfirmation, 20000);
    ASSERT_TRUE(box);
    Press(box, IDNO);
    ASSERT_TRUE(r.WaitForExit(10000));
    EXPECT_EQ(1602u, r.exitCode) << "answered No";
    for (const std::wstring &w : r.Shown())
        EXPECT_EQ(std::wstring::npos, w.find(L"DeKvAbtClsName")) << "a splash after No";
    EXPECT_EQ(NOTHING, inst.Missing());
    EXPECT_EQ("instalado", inst.RegisteredUninstallString());
}

// The picture is for the eye only: when its file cannot be made (here a folder stands at its
// name), the removal goes on without it.
TEST_F(RemoverInteractive, ASplashThatCannotBeMadeIsLeftOut)
{
    VersionEmulation version("win95");
    Installation inst("ParloE2E Sin Imagen", Items::None);
    ASSERT_TRUE(inst.Build());
    const std::string leftover = WindowsDir() + "_bmp23_.bm_";
    ASSERT_TRUE(CreateDirectoryA(leftover.c_str(), nullptr));
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-f\"" + inst.log + "\""));
    HWND dialog = ConfirmAndWaitForFinish(r, nullptr, false);
    if (dialog)
        Press(dialog, IDOK);
    EXPECT_TRUE(r.WaitForExit(15000));
    EXPECT_TRUE(RemoveDirectoryA(leftover.c_str()));
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(NOTHING, inst.Remaining());
}

// No log path reaches the session: a blank behind -f, or no option at all. After the
// confirmation and the splash the session reports the missing log with an empty name.
TEST_F(RemoverInteractive, MissingLogPathIsReportedAndNothingChanges)
{
    VersionEmulation version("win95");
    Installation inst("ParloE2E Vacio", Items::StartMenu);
    ASSERT_TRUE(inst.Build());
    for (const std::string &args : {"-f \"" + inst.log + "\"", std::string("")}) {
        SCOPED_TRACE("arguments [" + args + "]");
        Remover r;
        ASSERT_TRUE(r.Start(RemoverExe(), args));
        HWND box = r.WaitForWindow(FindConfirmation, 20000);
        ASSERT_TRUE(box);
        Press(box, IDYES);
        ASSERT_TRUE(r.WaitForWindow(FindSplash, 5000)) << "no splash";
        HWND error = r.WaitForWindow(
            [](DWORD pid) { return FindProcessWindow(pid, L"#32770", ERROR_CAPTION); }, 10000);
        ASSERT_TRUE(error) << "no error box";
        EXPECT_EQ(NO_LOG_EMPTY_TEXT, MessageBoxText(error));
        Press(error, IDOK);
        ASSERT_TRUE(r.WaitForExit(10000));
        EXPECT_EQ(1605u, r.exitCode) << "no log";
    }
    EXPECT_EQ(NOTHING, inst.Missing());
}

// A log that also names system files: the product goes, the system's files stay (a shared one
// with its count), and the run ends as incomplete. kernel32.dll is held open so that even a
// broken guard could not take it; win.ini is put back should it go.
TEST_F(RemoverInteractive, SystemFilesNamedByTheLogStay)
{
    VersionEmulation version("nt40");
    Installation inst("ParloE2E Sistema", Items::None);
    std::string winIni = WindowsDir() + "win.ini", kernel = SystemDir() + "\\KERNEL32.DLL";
    std::string savedIni = testfs::ReadBytes(winIni);
    ASSERT_NE("<missing>", savedIni);
    HANDLE held = CreateFileA(kernel.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, kernel, 1));
    inst.extra = {Text("CF", winIni), List("CSF", {kernel, kernel})};
    ASSERT_TRUE(inst.Build());
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-f\"" + inst.log + "\""));
    HWND dialog = ConfirmAndWaitForFinish(r);
    wchar_t message[512] = L"";
    if (dialog) {
        GetDlgItemTextW(dialog, IDC_MESSAGE, message, 512);
        Press(dialog, IDOK);
    }
    EXPECT_TRUE(r.WaitForExit(15000));
    EXPECT_EQ(1u, r.exitCode) << "finished, the system files remain";
    CloseHandle(held);
    bool iniKept = Exists(winIni);
    if (!iniKept)
        testfs::WriteBytes(winIni, savedIni);
    std::string count = GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, kernel);
    DeleteValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, kernel);
    EXPECT_EQ(ProgramText(RemoverExe(), ENGINE_TEXT_KEPT), std::wstring(message));
    EXPECT_EQ(NOTHING, inst.Remaining());
    EXPECT_TRUE(iniKept);
    EXPECT_EQ("1", count) << "the system file's shared count was given back";
}

// ---- Automatic runs: -a with -f ------------------------------------------------------------

TEST_F(RemoverAutomatic, StartsOnTheThirdTickWithoutAnyWindow)
{
    VersionEmulation version("nt40");
    Installation inst("ParloE2E Auto", Items::StartMenu);
    ASSERT_TRUE(inst.Build());
    Remover r;
    // /F works like -f; an unknown option is ignored.
    ASSERT_TRUE(r.Start(RemoverExe(), "-x -a /F\"" + inst.log + "\""));
    ASSERT_FALSE(r.WaitForExit(THIRD_TICK_MS - TICK_MS)) << "ended before the third tick";
    EXPECT_TRUE(Exists(inst.Files()[0])) << "work began before the third tick";
    ASSERT_TRUE(r.WaitForExit(60000)) << "the automatic run did not end by itself";
    EXPECT_GE(r.runTime, THIRD_TICK_MS);
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{}, r.Shown()) << "an automatic run shows nothing";
    EXPECT_EQ(NOTHING, inst.Remaining());
}

TEST_F(RemoverAutomatic, MissingLogEndsAtOnceWithoutAnyWindow)
{
    VersionEmulation version("nt40");
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-a -fC:\\ParloE2E\\no-such.log"));
    ASSERT_TRUE(r.WaitForExit(THIRD_TICK_MS));
    EXPECT_EQ(1605u, r.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{}, r.Shown()) << "no error box in an automatic run";
}

TEST_F(RemoverAutomatic, MinusAAloneEndsAtOnce)
{
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-a"));
    ASSERT_TRUE(r.WaitForExit(THIRD_TICK_MS)) << "-a without -f must end by itself";
    EXPECT_LT(r.runTime, THIRD_TICK_MS);
    EXPECT_EQ(1605u, r.exitCode) << "no log given";
    EXPECT_EQ(std::vector<std::wstring>{}, r.Shown());
}

// ---- The removal report: -l --------------------------------------------------------------

// The system's words for error as the report gives them: on one line, without a trailing blank.
std::string SystemText(DWORD error)
{
    char text[300] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::string s = text;
    for (char &c : s)
        if (c == '\r' || c == '\n')
            c = ' ';
    return s.erase(s.find_last_not_of(' ') + 1);
}

// One unattended run meeting every outcome a record can have; its report, line by line (the
// date masked), and the exit status for a removal that leaves something named in place.
TEST_F(RemoverAutomatic, TheReportTellsWhatBecameOfEveryRecord)
{
    restarttest::PendingScope pending;
    Installation inst("ParloE2E Informe", Items::StartMenu);
    const std::string gone = inst.dir + "\\falta.txt", readOnly = inst.dir + "\\solo.txt",
                      winIni = WindowsDir() + "win.ini", overlong = "C:\\" + std::string(300, 'x'),
                      shared2 = SystemDir() + "\\parloe2e2.dll", mine = inst.groupDir + "\\Mio.lnk",
                      report = "C:\\parloe2e informe.txt";
    const std::string valuesKey = std::string(HKCU_ROOT) + Installation::VALUES_KEY;
    const std::string heldPath = inst.dir + "\\uso.dat";
    inst.extra = {Text("CF", gone),     Text("CF", readOnly),  Text("CF", heldPath),
                  Text("CF", winIni),   Text("CF", overlong),  List("CSF", {shared2, shared2}),
                  List("CSF", {shared2, shared2}),
                  List("SRK", {valuesKey, "Falta"}), List("SRK", {valuesKey, "Falsa\r\nfile x: removed"})};
    // Header items that compose a system key as the product key.
    inst.itemsOverride = {{ITEM_COMPANY_KEY, "Microsoft"}, {ITEM_PRODUCT_KEY, "Windows"},
                          {ITEM_VERSION_KEY, "CurrentVersion"}};
    ASSERT_TRUE(inst.Build());
    HeldFile held(heldPath);
    ASSERT_TRUE(held.Held());
    ASSERT_TRUE(testfs::WriteBytes(readOnly, "x") &&
                SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(testfs::WriteBytes(mine, "lnk") && testfs::WriteBytes(shared2, "dll") &&
                SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared2, 2));
    PlanRun plan;
    EXPECT_TRUE(TakePlan(RemoverExe(), "-f\"" + inst.log + "\"", {inst.dir, inst.programs}, &plan));
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-a -f\"" + inst.log + "\" -l\"" + report + "\""));
    ASSERT_TRUE(r.WaitForExit(60000));
    std::vector<std::string> lines =
        progman_test::SplitLines(progman_test::ReadFileText(report));
    ExpectPlanFits(plan, lines, r.exitCode);
    held.Release();
    for (const std::string &f : {mine, held.path, shared2, report}) {
        SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(f.c_str());
    }
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(readOnly.c_str());
    DeleteValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared2);

    EXPECT_EQ(1u, r.exitCode);
    if (lines.size() > 3 && lines[3].rfind("Date: ", 0) == 0)
        lines[3] = "Date: <masked>";
    const std::string link = inst.groupDir + "\\";
    const std::string hkcu = "HKEY_CURRENT_USER\\", hklm = "HKEY_LOCAL_MACHINE\\";
    const std::vector<std::string> expected = {
        "Removal report (remover " REMOVER_VERSION_TEXT ")",
        std::string("Product: ") + Installation::DISPLAY_NAME,
        "Log: " + inst.log,
        "Date: <masked>",
        "Program items: Start Menu",
        "",
        "file           " + inst.Files()[0] + ": removed",
        "file           " + inst.Files()[1] + ": removed",
        "file           " + inst.Files()[2] + ": removed",
        "file           " + gone + ": already gone",
        "file           " + readOnly + ": failed, " + SystemText(ERROR_ACCESS_DENIED),
        "file           " + held.path + ": scheduled for the next restart",
        "file           " + winIni + ": refused, system file",
        "file           " + overlong + ": refused, over-long text",
        "shared file    " + inst.shared + ": removed",
        "shared file    " + shared2 + ": kept, still counted by 1 other product(s)",
        "shared file    " + shared2 + ": removed",
        "program item   " + link + "Parlomatic.lnk: removed",
        "program item   " + link + "Leeme.lnk: removed",
        "program group  " + link + ": kept, group holds other items",
        "folder         " + inst.lessons + ": removed",
        "folder         " + inst.dir + ": kept, folder holds other files",
        "registry key   " + hkcu + Installation::USER_KEY + ": removed",
        "registry value " + hkcu + Installation::VALUES_KEY + ", value Idioma: removed",
        "registry value " + hkcu + Installation::VALUES_KEY + ", value Falta: already gone",
        "registry value " + hkcu + Installation::VALUES_KEY +
            ", value Falsa<0D><0A>file x: removed: already gone",
        "product key    " + hklm + "Software\\Microsoft\\Windows\\CurrentVersion: refused, protected key",
        "registration   " + hklm + inst.UninstallEntry() + ": removed",
        "",
        "Result: finished, something the log named remains (exit code 1)",
    };
    EXPECT_EQ(expected, lines);
}

// The drive's start-up files and a file of the Windows folder named through other spellings:
// device paths in either slash, a volume name, Wine's drive of the Unix root, a link to the
// drive's root. None goes, each is reported refused, and the product's own files go.
TEST_F(RemoverAutomatic, SystemFilesStayUnderEverySpelling)
{
    const std::string winIni = WindowsDir() + "win.ini", report = "C:\\parloe2e grafias.txt";
    spell::Canary boot("C:\\boot.ini"), autoexec("C:\\autoexec.bat"), ini(winIni);
    testfs::TempDir links;
    spell::HostLink toRoot(links / "raiz", "C:\\");
    ASSERT_TRUE(toRoot.ok());
    const std::string refused = ": refused, system file";
    const std::vector<std::pair<std::string, std::string>> named = {
        {"//./C:/boot.ini", refused},
        {"\\/.\\C:\\autoexec.bat", refused},
        {"//?/" + spell::Respelled(winIni, '\\', '/'), refused},
        {"\\??\\C:\\boot.ini", refused},
        {spell::VolumeSpelling(winIni), refused},
        {spell::ThroughOtherDrive("C:\\boot.ini"), refused},
        {links / "raiz\\autoexec.bat", refused},
        {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\boot.ini",
         ": refused, the path cannot be resolved to one place"},
    };
    Installation inst("ParloE2E Grafias", Items::None);
    for (const auto &n : named) {
        ASSERT_NE("", n.first) << "a spelling could not be made here";
        inst.extra.push_back(Text("CF", n.first));
    }
    ASSERT_TRUE(inst.Build());
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-a -f\"" + inst.log + "\" -l\"" + report + "\""));
    ASSERT_TRUE(r.WaitForExit(60000));
    const std::string text = progman_test::ReadFileText(report);
    DeleteFileA(report.c_str());
    EXPECT_EQ(1u, r.exitCode);
    EXPECT_TRUE(boot.alive() && autoexec.alive() && ini.alive()) << "a system file went";
    for (const auto &n : named)
        EXPECT_NE(std::string::npos, text.find("file           " + n.first + n.second))
            << n.first << " in\n" << text;
    EXPECT_EQ(NOTHING, inst.Remaining());
}

// A report that cannot be written (a path over 260 bytes, or the log's own file) stops the run
// before anything changes: the log stays whole and no report appears.
TEST_F(RemoverAutomatic, AReportThatCannotBeWrittenStopsTheRun)
{
    Installation inst("ParloE2E SinInforme", Items::None);
    ASSERT_TRUE(inst.Build());
    const std::string logBytes = testfs::ReadBytes(inst.log);
    const std::string overlong = "C:\\" + std::string(260, 'i');
    for (const std::string &report : {overlong, inst.log}) {
        SCOPED_TRACE(report.substr(0, 40));
        Remover r;
        ASSERT_TRUE(r.Start(RemoverExe(), "-a -f\"" + inst.log + "\" -l\"" + report + "\""));
        ASSERT_TRUE(r.WaitForExit(THIRD_TICK_MS));
        EXPECT_EQ(82u, r.exitCode);
        EXPECT_TRUE(testfs::ReadBytes(inst.log) == logBytes) << "the log changed";
    }
    EXPECT_FALSE(Exists(overlong.substr(0, 260)));
    EXPECT_EQ(NOTHING, inst.Missing());
}

// ---- Delayed deletion: -d ------------------------------------------------------------------

class DeleteTarget {
public:
    explicit DeleteTarget(const std::string &path) : path(path)
    {
        testfs::WriteBytes(path, "borrar");
    }
    ~DeleteTarget() { DeleteFileA(path.c_str()); }
    std::string path;
};

TEST_F(RemoverDelete, DeletesTheFileOnTheThirdTick)
{
    DeleteTarget target("C:\\parloe2e-borrar.tmp");
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-d" + target.path));
    // The ticks count from the hidden main window, whatever the program's start cost.
    HWND main = nullptr;
    for (DWORD begin = GetTickCount(); !main && GetTickCount() - begin < 5000; Sleep(5))
        for (HWND w : ProcessWindows(r.Pid(), false))
            if (ClassName(w) == L"DeKv21ClsName")
                main = w;
    DWORD created = GetTickCount();
    ASSERT_TRUE(main) << "no main window";
    EXPECT_FALSE(IsWindowVisible(main));
    ASSERT_FALSE(r.WaitForExit(THIRD_TICK_MS - TICK_MS));
    EXPECT_TRUE(Exists(target.path)) << "deleted before the third tick";
    ASSERT_TRUE(r.WaitForExit(10000));
    DWORD ended = GetTickCount() - created;
    EXPECT_FALSE(Exists(target.path));
    EXPECT_GE(ended, THIRD_TICK_MS - 100);
    EXPECT_LT(ended, THIRD_TICK_MS + TICK_MS) << "the program ends once the file is gone";
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{}, r.Shown());
}

// A file that cannot be deleted (read-only here; one in use goes at the restart, below) is
// tried on ticks 3, 4 and 5, and the program ends on the eighth.
TEST_F(RemoverDelete, FailedDeletionsEndTheProgramOnTheEighthTick)
{
    DeleteTarget locked("C:\\parloe2e-solo-lectura.tmp");
    ASSERT_TRUE(SetFileAttributesA(locked.path.c_str(), FILE_ATTRIBUTE_READONLY));
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "/D" + locked.path));
    bool ended = r.WaitForExit(EIGHTH_TICK_MS + 5000);
    std::vector<std::string> due = PendingDeletions();
    EXPECT_EQ(due.size(), IndexOf(due, locked.path)) << "a read-only file is not in use";
    SetFileAttributesA(locked.path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(ended);
    EXPECT_GE(r.runTime, EIGHTH_TICK_MS);
    EXPECT_EQ(1603u, r.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{}, r.Shown());
    EXPECT_TRUE(Exists(locked.path));
}

// The command line means what its caller meant: a relative -d or -l names a file in the
// caller's folder, never in remover's own (the Windows folder); a system file is refused as it
// is when a log names it; what cannot be run as written (an overlong path, which cut would
// name another file; -l without its path) changes nothing and says so, in a box when someone is
// there to read it. Side by side.
TEST_F(RemoverDelete, TheCommandLineMeansWhatTheCallerMeant)
{
    const std::string dir = "C:\\parloe2e-relativo", name = "parloe2e-rel.dll";
    CreateDirectoryA(dir.c_str(), nullptr);
    DeleteTarget mine(dir + "\\" + name), system(WindowsDir() + name);
    // The first 260 characters of the overlong argument name this file.
    DeleteTarget victim(dir + "\\" + std::string(260 - dir.size() - 1, 'v'));
    const std::string winIni = WindowsDir() + "win.ini", savedIni = testfs::ReadBytes(winIni);
    VersionEmulation version("nt40");
    Installation inst("ParloE2E Orden", Items::None);
    ASSERT_TRUE(inst.Build());
    char caller[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, caller);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    Remover rel, sys, cut, noReport, box;
    bool started = rel.Start(RemoverExe(), "-d" + name) &&
                   sys.Start(RemoverExe(), "-d" + winIni + " -linforme.txt") &&
                   cut.Start(RemoverExe(), "-d" + victim.path + "x") &&
                   noReport.Start(RemoverExe(), "-a -f\"" + inst.log + "\" -l") &&
                   box.Start(RemoverExe(), "-f\"" + inst.log + "\" -l");
    SetCurrentDirectoryA(caller);
    ASSERT_TRUE(started);
    for (Remover *r : {&sys, &cut, &noReport}) {
        ASSERT_TRUE(r->WaitForExit(THIRD_TICK_MS + 5000));
        EXPECT_LT(r->runTime, THIRD_TICK_MS) << "refused before anything was tried";
    }
    HWND said = box.WaitForWindow(FindConfirmation, 10000);
    ASSERT_TRUE(said) << "no box for the interactive run";
    if (sizeof(void *) == 8) {   // the 32-bit programs' accented texts do not read back here
        EXPECT_EQ(ProgramText(RemoverExe(), IDS_BAD_COMMAND_LINE), MessageBoxText(said));
    }
    Press(said, IDOK);
    for (auto [r, status] : {std::pair{&rel, 0u}, {&sys, 1603u}, {&cut, 1639u},
                             {&noReport, 1639u}, {&box, 1639u}}) {
        ASSERT_TRUE(r->WaitForExit(EIGHTH_TICK_MS + 5000));
        EXPECT_EQ(status, r->exitCode);
    }
    EXPECT_FALSE(Exists(mine.path)) << "the caller's file stayed";
    EXPECT_TRUE(Exists(system.path)) << "a file in the Windows folder went instead";
    EXPECT_TRUE(Exists(victim.path)) << "the cut path was deleted";
    EXPECT_EQ(savedIni, testfs::ReadBytes(winIni));
    std::string report = testfs::ReadBytes(dir + "\\informe.txt");
    EXPECT_NE(std::string::npos, report.find("refused, system file")) << report;
    EXPECT_EQ(NOTHING, inst.Missing());
    DeleteFileA((dir + "\\informe.txt").c_str());
    RemoveDirectoryA(dir.c_str());
}

// -d and -f share one path and the later one wins. With -f first, -d's file is the log the
// session is to open; it is no log, so the program ends at once and deletes nothing.
TEST_F(RemoverDelete, TheLaterPathOfDAndFWins)
{
    VersionEmulation version("nt40");
    Installation inst("ParloE2E DF", Items::None);
    ASSERT_TRUE(inst.Build());
    DeleteTarget target("C:\\parloe2e-no-es-log.tmp");
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-f\"" + inst.log + "\" -d" + target.path));
    ASSERT_TRUE(r.WaitForExit(THIRD_TICK_MS - TICK_MS)) << "the session should not have opened";
    EXPECT_EQ(1620u, r.exitCode) << "-d's file read as a log";
    EXPECT_TRUE(Exists(target.path)) << "-d's file was deleted";
    EXPECT_EQ(NOTHING, inst.Missing()) << "-f's log was used";
    EXPECT_EQ(std::vector<std::wstring>{}, r.Shown());
}

// ---- Platforms -----------------------------------------------------------------------------

// NT 3.51: program items and groups go through the Program Manager (the test server).
TEST_F(RemoverPlatform, Nt351RemovesProgramManagerItemsAndGroup)
{
    VersionEmulation version("nt351");
    Installation inst("ParloE2E NT3", Items::Progman);
    ASSERT_TRUE(inst.Build());
    progman_test::ServerProcess server;
    ASSERT_TRUE(server.Start({}, inst.ProgmanSeed()));
    PlanRun plan;
    EXPECT_TRUE(TakePlan(RemoverExe(), "-f\"" + inst.log + "\"", {inst.dir}, &plan));
    EXPECT_EQ(NOTHING, server.JournalOf("EXECUTE")) << "the plan sent a command";
    const std::string report = "C:\\parloe2e-nt3.txt";
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-a -f\"" + inst.log + "\" -l" + report));
    ASSERT_TRUE(r.WaitForExit(90000));
    EXPECT_EQ(0u, r.exitCode);
    ExpectPlanFits(plan, progman_test::SplitLines(progman_test::ReadFileText(report)), r.exitCode);
    DeleteFileA(report.c_str());
    EXPECT_EQ(NOTHING, inst.Remaining());
    for (const std::string &line : server.State())
        EXPECT_EQ(std::string::npos, line.find(Installation::GROUP)) << line;
    EXPECT_FALSE(server.JournalOf("EXECUTE [DeleteGroup(").empty())
        << "no DeleteGroup command reached the Program Manager";
}

// Every Windows since 2000 is a Start Menu shell like 95 and NT 4.0: Wine's own version and
// four that Wine can report, each given to a copy of remover.exe of its own, side by side.
TEST_F(RemoverPlatform, StartMenuShortcutsGoOnEveryWindowsSince2000)
{
    const std::string programs = "C:\\parloe2e-versiones";
    SavedValue programsSetting(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs");
    CreateDirectoryA(programs.c_str(), nullptr);
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", programs));
    struct Run {
        std::string name, group, log;
        std::unique_ptr<ProgramCopy> program;
        std::unique_ptr<VersionEmulation> version;
        Remover remover;
    } runs[5];
    const char *versions[] = {nullptr, "win2k", "winxp", "win7", "win10"};  // null: Wine's own
    for (int i = 0; i < 5; ++i) {
        Run &r = runs[i];
        r.name = versions[i] ? versions[i] : "default";
        r.group = programs + "\\Parlo " + r.name;
        r.log = programs + "\\" + r.name + ".log";
        std::string exe = "remover-" + r.name + ".exe";
        r.program = std::make_unique<ProgramCopy>(exe);
        if (versions[i])
            r.version = std::make_unique<VersionEmulation>(versions[i], exe);
        ASSERT_TRUE(r.program->ok);
        ASSERT_TRUE(CreateDirectoryA(r.group.c_str(), nullptr));
        ASSERT_TRUE(testfs::WriteBytes(r.group + "\\Parlomatic.lnk", "lnk"));
        ASSERT_TRUE(rawlog::WriteLog(r.log, {}, {List("API", {r.group, "Parlomatic"}),
                                                     Text("CPG", r.group)}));
        ASSERT_TRUE(r.remover.Start(r.program->path, "-a -f\"" + r.log + "\""));
        Sleep(START_APART_MS);
    }
    for (Run &r : runs) {
        SCOPED_TRACE(r.name);
        EXPECT_TRUE(r.remover.WaitForExit(60000));
        EXPECT_EQ(0u, r.remover.exitCode);
        EXPECT_FALSE(Exists(r.group)) << "the shortcut or its folder stayed";
        DeleteFileA((r.group + "\\Parlomatic.lnk").c_str());
        RemoveDirectoryA(r.group.c_str());
        DeleteFileA(r.log.c_str());
    }
    RemoveDirectoryA(programs.c_str());
}

// A Win32s system (version 3 with WIN32S.INI and a loadable W32SYS.DLL in the system directory):
// the product key and the registration stay, and "CRK" records are not checked against the
// protected keys.
class Win32sFiles {
public:
    Win32sFiles()
    {
        ini = SystemDir() + "\\WIN32S.INI";
        dll = SystemDir() + "\\W32SYS.DLL";
        ok = testfs::WriteBytes(ini, "[Win32s]\r\nVersion=1.30.172\r\n") &&
             CopyFileA(UnixToWine(W32SYS_DLL).c_str(), dll.c_str(), FALSE);
    }
    ~Win32sFiles()
    {
        DeleteFileA(ini.c_str());
        DeleteFileA(dll.c_str());
    }
    std::string ini, dll;
    bool ok;
};

// An unattended run of inst, whose log names a key protected elsewhere (the blank is part of the
// listed name) and absent in the prefix.
void RunWithKeyProtectedElsewhere(Installation &inst, Remover &r)
{
    inst.extra.push_back(Text("CRK", std::string(HKCU_ROOT) +
                                         "Software\\Microsoft\\Windows\\Current Version"));
    ASSERT_TRUE(inst.Build());
    // The platform's path is the plan's too.
    PlanRun plan;
    EXPECT_TRUE(TakePlan(RemoverExe(), "-f\"" + inst.log + "\"", {inst.dir}, &plan));
    const std::string report = "C:\\parloe2e-plataforma.txt";
    ASSERT_TRUE(r.Start(RemoverExe(), "-a -f\"" + inst.log + "\" -l" + report));
    ASSERT_TRUE(r.WaitForExit(60000));
    ExpectPlanFits(plan, progman_test::SplitLines(progman_test::ReadFileText(report)), r.exitCode);
    DeleteFileA(report.c_str());
}

TEST_F(RemoverPlatform, Win32sLeavesTheRegistrationAndSkipsTheProtectedKeyCheck)
{
    VersionEmulation version("win31");
    Win32sFiles win32s;
    ASSERT_TRUE(win32s.ok);
    Installation inst("ParloE2E W32s", Items::None);
    Remover r;
    ASSERT_NO_FATAL_FAILURE(RunWithKeyProtectedElsewhere(inst, r));
    EXPECT_EQ(0u, r.exitCode);
    EXPECT_EQ(NOTHING, inst.Remaining(false));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, inst.ProductKey()));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + Installation::APP));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, inst.UninstallEntry()));
}

// Without the Win32s files version 3 is NT 3.x, where the same protected "CRK" record stops
// the run, which puts the log back.
TEST_F(RemoverPlatform, Win31WithoutWin32sFilesIsNt3)
{
    VersionEmulation version("win31");
    Installation inst("ParloE2E W31", Items::None);
    Remover r;
    ASSERT_NO_FATAL_FAILURE(RunWithKeyProtectedElsewhere(inst, r));
    EXPECT_EQ(1603u, r.exitCode) << "failed, the log put back";
    EXPECT_TRUE(Exists(inst.log)) << "the failed run puts the log back";
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, inst.ProductKey()));
    // Its progress stays beside the log for the repeat, which goes on from there.
    EXPECT_EQ(std::vector<std::string>{"_dejrn.1"}, LeftoverTempFiles());
    DeleteFileA((WindowsDir() + "_dejrn.1").c_str());
}

// The 3-D control library beside the program: registered and auto-subclassed with the
// program's instance at start and unregistered at the end, except on Windows 4, where it is
// not even loaded. -a alone starts and ends at once, hooking and unhooking on the way.
TEST_F(RemoverPlatform, Ctl3dIsHookedExceptOnWindows4)
{
    std::string dir = "C:\\parloe2e-ctl3d";
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string exe = dir + "\\remover.exe";
    std::string journal = dir + "\\ctl3d.journal";
    ASSERT_TRUE(CopyFileA(RemoverExe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(UnixToWine(CTL3D_DLL).c_str(), (dir + "\\CTL3D32.DLL").c_str(), FALSE));
    NativeDll native("ctl3d32");  // the library beside the program, not Wine's own

    struct {
        const char *version;
        bool hooked;
    } cases[] = {{"nt351", true}, {"win31", true}, {"win95", false}, {"nt40", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.version);
        DeleteFileA(journal.c_str());
        VersionEmulation version(c.version);
        Remover r;
        ASSERT_TRUE(r.Start(exe, "-a"));
        ASSERT_TRUE(r.WaitForExit(THIRD_TICK_MS));
        EXPECT_EQ(1605u, r.exitCode);
        std::vector<std::string> lines =
            progman_test::SplitLines(progman_test::ReadFileText(journal));
        if (!c.hooked) {
            EXPECT_EQ(NOTHING, lines) << "the library was loaded on Windows 4";
            continue;
        }
        // "load", then the three calls with one and the same non-null instance.
        ASSERT_EQ(4u, lines.size()) << progman_test::ReadFileText(journal);
        const std::vector<std::string> &got = lines;
        std::string instance = got[1].substr(got[1].find(' ') + 1);
        EXPECT_NE(std::string::npos, instance.find_first_not_of("0"))
            << "the library was registered with a null instance";
        EXPECT_EQ("register " + instance, got[1]);
        EXPECT_EQ("autosubclass " + instance, got[2]);
        EXPECT_EQ("unregister " + instance, got[3]);
    }
    DeleteFileA(journal.c_str());
    DeleteFileA((dir + "\\CTL3D32.DLL").c_str());
    DeleteFileA(exe.c_str());
    RemoveDirectoryA(dir.c_str());
}

// ---- The next restart ----------------------------------------------------------------------

// A product the user still has open: its data folder holds a file in use and one that is not,
// and the user's own folder lies beside it; with running, also the product's own program, left
// open (a running image refuses deletion as a file without rights would). The log names the
// files and both folders. With alone, only the running program and the loose file: nothing is
// left once the program has ended.
struct InUseProduct {
    explicit InUseProduct(const std::string &name, bool running = false, bool alone = false)
        : dir("C:\\" + name), data(dir + "\\datos"), log(dir + "\\install.log"),
          loose(data + "\\suelto.dat"), mine(dir + "\\usuario\\mio.txt"),
          program(data + "\\parlo.exe")
    {
        Clean();
        CreateDirectoryA(dir.c_str(), nullptr);
        CreateDirectoryA(data.c_str(), nullptr);
        std::vector<Rec> records = {Text("CF", loose), Text("CDR", dir), Text("CDR", data)};
        ok = testfs::WriteBytes(loose, "x");
        if (!alone) {
            CreateDirectoryA((dir + "\\usuario").c_str(), nullptr);
            held = std::make_unique<HeldFile>(data + "\\bloqueado.dat");
            records.insert(records.begin(), Text("CF", held->path));
            ok = ok && held->Held() && testfs::WriteBytes(mine, "mío");
        }
        if (running) {
            // remover.exe itself stands in for the product's program: asked interactively, it
            // waits at its confirmation box until it is ended.
            records.insert(records.begin(), Text("CF", program));
            ok = ok && CopyFileA(RemoverExe().c_str(), program.c_str(), FALSE) &&
                 open.Start(program, "-f" + data + "\\nada.log");
            Sleep(1000);
            ok = ok && open.Running();
        }
        ok = ok && rawlog::WriteLog(log, {}, records);
    }
    ~InUseProduct()
    {
        held.reset();
        Close();
        Clean();
    }
    void Close() { open.Kill(); }
    void Clean() const
    {
        for (const std::string &f :
             {data + "\\bloqueado.dat", loose, mine, log, program, Moved()})
            DeleteFileA(f.c_str());
        for (const std::string &d : {data, dir + "\\usuario", dir})
            RemoveDirectoryA(d.c_str());
    }

    // Where the running program goes when it is renamed to go at the restart.
    std::string Moved() const { return data + "\\_dedel.1"; }

    std::string dir, data, log, loose, mine, program;
    std::unique_ptr<HeldFile> held;
    Remover open;
    bool ok = false;
};

// Before anything is removed, an interactive run names the programs that hold the product's
// files: Cancel changes nothing (1602); Retry once the user has closed them goes on, and the
// whole product goes (0).
TEST_F(RemoverRestart, TheProgramsHoldingTheFilesAreNamedFirst)
{
    InUseProduct p("ParloE2E Abierto", true, true);
    ASSERT_TRUE(p.ok);
    const std::wstring expected = L"parlo.exe (proceso " + std::to_wstring(p.open.Pid()) + L")";
    for (int answer : {IDCANCEL, IDRETRY}) {
        SCOPED_TRACE(answer == IDCANCEL ? "Cancel" : "Retry");
        Remover r;
        const std::string report = "C:\\parloe2e-abierto.txt";
        ASSERT_TRUE(r.Start(RemoverExe(), "-f\"" + p.log + "\" -l" + report));
        HWND confirm = r.WaitForWindow(FindConfirmation, 20000);
        ASSERT_TRUE(confirm);
        Press(confirm, IDYES);
        HWND box =
            r.WaitForWindow([](DWORD pid) { return FindDialogWith(pid, IDC_IN_USE_LIST); }, 20000);
        ASSERT_TRUE(box) << "no box naming the program";
        wchar_t line[128] = L"";
        SendDlgItemMessageW(box, IDC_IN_USE_LIST, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(line));
        EXPECT_EQ(expected, line);
        if (answer == IDRETRY) {
            p.Close();
            Sleep(300);
        }
        Press(box, answer);
        if (answer == IDRETRY) {
            HWND dialog = r.WaitForWindow(FindDialog, 20000);
            ASSERT_TRUE(dialog) << "Retry with the program closed did not go on";
            for (DWORD begin = GetTickCount(); GetTickCount() - begin < 30000; Sleep(20))
                if (IsWindowEnabled(GetDlgItem(dialog, IDOK)))
                    break;
            Press(dialog, IDOK);
        }
        ASSERT_TRUE(r.WaitForExit(30000));
        EXPECT_EQ(answer == IDCANCEL ? 1602u : 0u, r.exitCode) << testfs::ReadBytes(report);
        EXPECT_EQ(answer == IDCANCEL, Exists(p.program) && Exists(p.log));
        DeleteFileA(report.c_str());
    }
    EXPECT_FALSE(Exists(p.dir)) << "the product stayed";
}

// Wine's restart program. A 32-bit test reaches the 64-bit one through "sysnative": the
// 32-bit copy in syswow64 carries out nothing.
std::string WinebootCommand()
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 ? WindowsDir() + "sysnative\\wineboot.exe" : "wineboot.exe";
}

// What is in use when the removal meets it goes at the next restart: on the NT family (Wine's
// own version) with the folder it alone kept, on Windows 95 through WININIT.INI (folders stay
// there), and -d's file (a running program) once its last try has failed. A running program
// goes under a new name, so that a file put at its name before the restart (the product
// installed again) stays. The three run side by side, and one restart of the prefix then
// carries out both kinds of pending deletion. The prefix is left with nothing pending, as it
// was found.
TEST_F(RemoverRestart, WhatIsInUseGoesAtTheNextRestart)
{
    restarttest::PendingScope pending;
    InUseProduct nt("ParloE2E Reinicio NT", true), w95("ParloE2E Reinicio 95"),
        lone("ParloE2E Reinicio D", true);
    ASSERT_TRUE(nt.ok && w95.ok && lone.ok);
    ProgramCopy remover95("remover95.exe");
    ASSERT_TRUE(remover95.ok);
    VersionEmulation version("win95", "remover95.exe");

    Remover rD, rNt, r95;
    const std::string reportD = "C:\\parloe2e-reinicio-d.txt", reportNt = "C:\\parloe2e-reinicio.txt";
    ASSERT_TRUE(rD.Start(RemoverExe(), "-d\"" + lone.program + "\" -l" + reportD));
    ASSERT_TRUE(rNt.Start(RemoverExe(), "-a -f\"" + nt.log + "\" -l" + reportNt));
    Sleep(START_APART_MS);
    ASSERT_TRUE(r95.Start(remover95.path, "-a -f\"" + w95.log + "\""));
    // -d's file waits for the restart; the products keep the user's folder, which no restart
    // removes.
    for (auto [r, status] : {std::pair{&rD, 3010u}, {&rNt, 1u}, {&r95, 1u}}) {
        ASSERT_TRUE(r->WaitForExit(60000));
        EXPECT_EQ(status, r->exitCode);
    }
    EXPECT_LT(rD.runTime, EIGHTH_TICK_MS) << "-d ends once its file is scheduled";
    // Who holds a file is named where the report says it goes at the restart.
    for (auto [report, p] : {std::pair{reportD, &lone}, {reportNt, &nt}}) {
        std::string text = testfs::ReadBytes(report);
        EXPECT_NE(std::string::npos,
                  text.find("parlo.exe (process " + std::to_string(p->open.Pid()) +
                            "): goes at the next restart"))
            << text;
        DeleteFileA(report.c_str());
    }
    std::vector<std::string> due = PendingDeletions();
    EXPECT_LT(IndexOf(due, nt.held->path), IndexOf(due, nt.data)) << "the file, then its folder";
    EXPECT_LT(IndexOf(due, nt.data), due.size());
    EXPECT_LT(IndexOf(due, lone.Moved()), due.size());
    EXPECT_LT(IndexOf(due, nt.Moved()), IndexOf(due, nt.data)) << "the running program too";
    EXPECT_EQ(4u, due.size()) << "only what the log and -d name";
    for (InUseProduct *p : {&nt, &lone})
        EXPECT_FALSE(Exists(p->program)) << "renamed, its name is free: " << p->program;
    ASSERT_TRUE(testfs::WriteBytes(lone.program, "instalado de nuevo"));
    char shortPath[MAX_PATH] = "";
    GetShortPathNameA(w95.held->path.c_str(), shortPath, MAX_PATH);
    EXPECT_EQ("[rename]\r\nNUL=" + std::string(shortPath) + "\r\n",
              restarttest::ReadText(restarttest::WininitPath()));
    for (InUseProduct *p : {&nt, &w95}) {
        EXPECT_FALSE(Exists(p->loose)) << p->dir;
        EXPECT_TRUE(Exists(p->held->path)) << p->dir;
    }

    // The restart: every program has ended, so nothing holds the files any more.
    nt.Close();
    lone.Close();
    for (InUseProduct *p : {&nt, &w95, &lone})
        p->held->Release();
    Remover boot;
    ASSERT_TRUE(boot.Start("", WinebootCommand() + " -r"));
    ASSERT_TRUE(boot.WaitForExit(30000));
    EXPECT_EQ(0u, boot.exitCode);
    EXPECT_FALSE(Exists(nt.held->path));
    EXPECT_FALSE(Exists(nt.program));
    EXPECT_FALSE(Exists(nt.data)) << "the folder the file alone kept";
    EXPECT_FALSE(Exists(w95.held->path));
    EXPECT_TRUE(Exists(w95.data)) << "Windows 95 deletes files only";
    EXPECT_FALSE(Exists(lone.Moved()));
    EXPECT_EQ("instalado de nuevo", testfs::ReadBytes(lone.program)) << "put there before it";
    for (InUseProduct *p : {&nt, &w95})
        EXPECT_TRUE(Exists(p->mine)) << "the user's file beside it";
    EXPECT_EQ(std::vector<std::string>{}, PendingDeletions());
}

// ---- Failures and repeating a removal ------------------------------------------------------

// The command that repeats the removal: the log path follows -f directly, in quotes when it
// holds a blank (unquoted, the command line would end the path there).
std::string ExpectedUninstallString(const Installation &inst)
{
    bool blank = inst.log.find(' ') != std::string::npos;
    return WindowsDir() + "remover.exe -f" + (blank ? "\"" + inst.log + "\"" : inst.log);
}

TEST_F(RemoverFailure, AFailedStepIsReportedAndPutsTheLogBack)
{
    VersionEmulation version("win95");
    Installation inst("ParloE2E Falla", Items::StartMenu);
    inst.extra.push_back(Text("CRK", std::string(HKLM_ROOT) + "Software"));  // protected
    ASSERT_TRUE(inst.Build());
    PlanRun plan;
    EXPECT_TRUE(TakePlan(RemoverExe(), "-f\"" + inst.log + "\"", {inst.dir, inst.programs}, &plan));
    const std::string report = "C:\\parloe2e-falla.txt";
    Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-f\"" + inst.log + "\" -l" + report));
    HWND box = r.WaitForWindow(FindConfirmation, 20000);
    ASSERT_TRUE(box);
    Press(box, IDYES);
    HWND error = r.WaitForWindow(
        [](DWORD pid) { return FindProcessWindow(pid, L"#32770", ERROR_CAPTION); }, 60000);
    ASSERT_TRUE(error) << "no error box";
    EXPECT_EQ(INTERNAL_ERROR_TEXT, MessageBoxText(error));
    Press(error, IDOK);
    ASSERT_TRUE(r.WaitForExit(15000)) << "a failed step ends the program";
    EXPECT_EQ(1603u, r.exitCode);
    ExpectPlanFits(plan, progman_test::SplitLines(progman_test::ReadFileText(report)), r.exitCode);
    DeleteFileA(report.c_str());
    EXPECT_TRUE(Exists(inst.log));
    EXPECT_EQ(ExpectedUninstallString(inst), inst.RegisteredUninstallString());
    EXPECT_EQ(Installation::DISPLAY_NAME,
              GetValue(HKEY_LOCAL_MACHINE, inst.UninstallEntry(), "DisplayName"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software")) << "the protected key survived";
    // Its progress stays beside the log for the repeat, which goes on from there.
    EXPECT_EQ(std::vector<std::string>{"_dejrn.1"}, LeftoverTempFiles());
    DeleteFileA((WindowsDir() + "_dejrn.1").c_str());
}

// A run that ends before its session finished (here: ended from outside before the third tick)
// puts the log back and registers remover again; the registered command then completes the
// removal.
TEST_F(RemoverFailure, AnUnfinishedRunCanBeRepeatedFromTheUninstallString)
{
    VersionEmulation version("win95");
    Installation inst("ParloE2E Repetir", Items::StartMenu);
    ASSERT_TRUE(inst.Build());
    std::string installed = WindowsDir() + "remover.exe";
    ASSERT_TRUE(CopyFileA(RemoverExe().c_str(), installed.c_str(), FALSE));

    Remover first;
    ASSERT_TRUE(first.Start(RemoverExe(), "-a -f\"" + inst.log + "\""));
    Sleep(TICK_MS);
    ASSERT_TRUE(first.Running());
    PostThreadMessageA(first.ThreadId(), WM_QUIT, 0, 0);
    ASSERT_TRUE(first.WaitForExit(10000));
    EXPECT_EQ(1602u, first.exitCode) << "closed before the start";
    EXPECT_EQ(NOTHING, inst.Missing());
    std::string command = inst.RegisteredUninstallString();
    EXPECT_EQ(ExpectedUninstallString(inst), command);

    Remover again;
    ASSERT_TRUE(again.Start("", command));
    HWND dialog = ConfirmAndWaitForFinish(again);
    ASSERT_TRUE(dialog);
    Press(dialog, IDOK);
    ASSERT_TRUE(again.WaitForExit(15000));
    EXPECT_EQ(0u, again.exitCode);
    EXPECT_EQ(NOTHING, inst.Remaining());
    DeleteFileA(installed.c_str());
}

}  // namespace
