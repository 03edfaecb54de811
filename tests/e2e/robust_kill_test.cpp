// remover.exe when things go wrong from outside: the process killed in the middle of deleting
// files, and a run that meets files and keys it cannot remove. The real program, as a child
// process under Wine, on an installation built in the test prefix.
//
// What a kill during the first phase costs: the log at its own path is already gone (the run
// moved it into the working copy "_detmp.N" in the Windows directory before the first record),
// the files deleted before the kill stay deleted, and the registered "UninstallString" still
// names the log path, so running it again finds no log and ends without doing anything. The
// working copy holds the whole log, byte for byte; a run started on it ("-f" with the working
// copy's path) completes the removal and leaves no temporary file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../engine_fixture.h"
#include "../locked_key.h"
#include "remover_harness.h"
#include "ui/progress_res.h"

using e2e::Exists;
using enginetest::DeleteTree;
using enginetest::DeleteValue;
using enginetest::GetValue;
using enginetest::KeyExists;
using enginetest::Rec;
using enginetest::SetString;

namespace {

constexpr DWORD THIRD_TICK_MS = 4500;
constexpr int FILE_COUNT = 2500;   // phase 0 lasts most of a second: time to watch it
constexpr int KILL_AFTER = 100;
const char APP_PATHS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\parlorob.exe";
const char UNINSTALL[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char COMPANY_KEY[] = "Software\\ParloRobusto Co";
const char PRODUCT_KEY[] = "Software\\ParloRobusto Co\\Parlomatic\\1.0";
const char USER_KEY[] = "Software\\ParloRobusto Usuario";
const char VALUES_KEY[] = "Software\\ParloRobusto Valores";

std::string RemoverExe()
{
    return e2e::UnixToWine(REMOVER_EXE);
}

std::string WorkingCopy(int n)
{
    return e2e::WindowsDir() + "_detmp." + std::to_string(n);
}

// A product with many files, two directories, its keys, a key and a value of the user's, and
// the log that names them all.
class Product {
public:
    Product(const std::string &tag, int files) : files_(files)
    {
        dir = "C:\\ParloRobusto" + tag;
        data = dir + "\\datos";
        log = dir + "\\install.log";
        uninstallEntry = std::string(UNINSTALL) + "ParloRobusto" + tag;
        Clean();
    }
    ~Product() { Clean(); }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> f = {dir + "\\parlorob.exe", dir + "\\leeme.txt"};
        for (int i = 0; i < files_; i++) {
            char name[32];
            snprintf(name, sizeof name, "\\l%04d.dat", i);
            f.push_back(data + name);
        }
        return f;
    }

    ::testing::AssertionResult Build() const
    {
        bool ok = CreateDirectoryA(dir.c_str(), nullptr) && CreateDirectoryA(data.c_str(), nullptr);
        for (const std::string &f : Files())
            ok = ok && testfs::WriteBytes(f, "contenido");
        ok = ok && SetString(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "Ruta", dir) &&
             SetString(HKEY_LOCAL_MACHINE, APP_PATHS, "", dir + "\\parlorob.exe") &&
             SetString(HKEY_LOCAL_MACHINE, uninstallEntry, "DisplayName", "Parlomatic Robusto") &&
             SetString(HKEY_LOCAL_MACHINE, uninstallEntry, "UninstallString", "instalado") &&
             SetString(HKEY_CURRENT_USER, std::string(USER_KEY) + "\\Prefs", "Voz", "alta") &&
             SetString(HKEY_CURRENT_USER, VALUES_KEY, "Idioma", "es") &&
             SetString(HKEY_CURRENT_USER, VALUES_KEY, "Otro", "queda");
        if (!ok)
            return ::testing::AssertionFailure() << "cannot build the installation in " << dir;
        std::vector<Rec> records;
        for (const std::string &f : Files())
            records.push_back(enginetest::Text("CF", f));
        records.push_back(enginetest::Text("CDR", dir));
        records.push_back(enginetest::Text("CDR", data));
        records.push_back(enginetest::Text("CRK", std::string("-2147483647;\\") + USER_KEY + "\\"));
        records.push_back(
            enginetest::List("SRK", {std::string("-2147483647;") + VALUES_KEY, "Idioma"}));
        records.push_back(enginetest::Bare("URK"));
        records.push_back(enginetest::Bare("MRK"));
        std::map<int, std::string> items = {
            {ITEM_PRODUCT_KEY, "Parlomatic"}, {ITEM_VERSION_KEY, "1.0"},
            {ITEM_COMPANY_KEY, "ParloRobusto Co"}, {ITEM_APP_PATH, "parlorob.exe"},
            {ITEM_UNINSTALL_KEY, uninstallEntry.substr(sizeof UNINSTALL - 1)}};
        if (!enginetest::WriteLog(log, items, records))
            return ::testing::AssertionFailure() << "cannot write the log " << log;
        return ::testing::AssertionSuccess();
    }

    int FilesLeft() const
    {
        int n = 0;
        for (const std::string &f : Files())
            n += testfs::IsFile(f);
        return n;
    }

    // Everything the log names that is still there, files counted rather than listed.
    std::vector<std::string> Remaining() const
    {
        std::vector<std::string> left;
        if (int n = FilesLeft())
            left.push_back(std::to_string(n) + " files");
        for (const std::string &d : {data, dir})
            if (testfs::IsDir(d))
                left.push_back(d);
        for (const std::string &k : {std::string(COMPANY_KEY), std::string(APP_PATHS), uninstallEntry})
            if (KeyExists(HKEY_LOCAL_MACHINE, k))
                left.push_back("HKLM\\" + k);
        for (const std::string &k : {std::string(USER_KEY) + "\\Prefs", std::string(USER_KEY)})
            if (KeyExists(HKEY_CURRENT_USER, k))
                left.push_back("HKCU\\" + k);
        if (GetValue(HKEY_CURRENT_USER, VALUES_KEY, "Idioma") != "<missing>")
            left.push_back("value Idioma");
        return left;
    }

    void Clean() const
    {
        for (const std::string &f : Files()) {
            SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(f.c_str());
        }
        DeleteFileA(log.c_str());
        RemoveDirectoryA(data.c_str());
        RemoveDirectoryA(dir.c_str());
        DeleteTree(HKEY_LOCAL_MACHINE, COMPANY_KEY);
        DeleteTree(HKEY_LOCAL_MACHINE, APP_PATHS);
        DeleteTree(HKEY_LOCAL_MACHINE, uninstallEntry);
        DeleteTree(HKEY_CURRENT_USER, USER_KEY);
        DeleteTree(HKEY_CURRENT_USER, VALUES_KEY);
        for (const std::string &name : e2e::LeftoverTempFiles())
            DeleteFileA((e2e::WindowsDir() + name).c_str());
    }

    std::string dir, data, log, uninstallEntry;

private:
    int files_;
};

class RobustKill : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!e2e::HaveDisplay())
            GTEST_SKIP() << "remover's windows need an X display (run under scripts/ctest-wine)";
    }
    void TearDown() override
    {
        if (!e2e::HaveDisplay())
            return;
        EXPECT_EQ(std::vector<std::string>{}, e2e::LeftoverTempFiles())
            << "temporary files left in the Windows directory";
    }
};

TEST_F(RobustKill, KilledDuringTheFirstPhaseTheWorkingCopyCompletesTheRemoval)
{
    e2e::VersionEmulation version("nt40");
    Product p("Corte", FILE_COUNT);
    ASSERT_TRUE(p.Build());
    const std::string logBytes = testfs::ReadBytes(p.log);
    // As the installer registers it, with the program in the Windows directory.
    std::string installed = e2e::WindowsDir() + "remover.exe";
    ASSERT_TRUE(CopyFileA(RemoverExe().c_str(), installed.c_str(), FALSE));
    std::string registered = installed + " -a -f" + p.log;
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, p.uninstallEntry, "UninstallString", registered));
    const int total = p.FilesLeft();

    // Killed once the working copy exists and the first files are gone.
    e2e::Remover first;
    ASSERT_TRUE(first.Start(RemoverExe(), "-a -f" + p.log));
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first.Pid());
    ASSERT_TRUE(process);
    // Well into the phase: the hundredth file is gone.
    std::string gone = p.Files()[KILL_AFTER];
    bool caught = false;
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < 30000 && first.Running(); Sleep(1)) {
        if (!Exists(gone) && Exists(WorkingCopy(1))) {
            caught = TerminateProcess(process, 9) != 0;
            break;
        }
    }
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    ASSERT_TRUE(caught) << "the run was not caught deleting files";
    ASSERT_TRUE(first.WaitForExit(5000));
    int left = p.FilesLeft();
    printf("killed %lu ms after the start, %d of %d files deleted\n", first.Elapsed(),
           total - left, total);
    RecordProperty("deleted_before_kill", total - left);
    ASSERT_GT(left, 0) << "the first phase had already ended: more files are needed";

    // Lost: the log at its path; kept: everything the first phase had not reached.
    EXPECT_FALSE(Exists(p.log)) << "the log was moved into the working copy before the kill";
    EXPECT_EQ(registered, GetValue(HKEY_LOCAL_MACHINE, p.uninstallEntry, "UninstallString"))
        << "nobody registered the working copy";
    EXPECT_EQ((std::vector<std::string>{std::to_string(left) + " files", p.data, p.dir,
                                        "HKLM\\" + std::string(COMPANY_KEY),
                                        "HKLM\\" + std::string(APP_PATHS),
                                        "HKLM\\" + p.uninstallEntry,
                                        "HKCU\\" + std::string(USER_KEY) + "\\Prefs",
                                        "HKCU\\" + std::string(USER_KEY), "value Idioma"}),
              p.Remaining());

    // The working copy is the whole log and opens as a sound one.
    EXPECT_EQ(std::vector<std::string>{"_detmp.1"}, e2e::LeftoverTempFiles());
    EXPECT_TRUE(testfs::ReadBytes(WorkingCopy(1)) == logBytes) << "the working copy differs";
    LogDatabase *db = LogOpen(WorkingCopy(1).c_str(), LOG_READ);
    ASSERT_NE(nullptr, db) << "the working copy does not open: " << LogLastError();
    EXPECT_EQ(int32_t(total + 6), LogGetItem(db, ITEM_RECORD_COUNT, nullptr, 0));
    LogClose(db);

    // The registered command finds no log and ends at once, changing nothing.
    e2e::Remover again;
    ASSERT_TRUE(again.Start("", registered));
    ASSERT_TRUE(again.WaitForExit(THIRD_TICK_MS)) << "the registered command did not end by itself";
    EXPECT_EQ(left, p.FilesLeft());
    EXPECT_EQ(std::vector<std::string>{"_detmp.1"}, e2e::LeftoverTempFiles());

    // A run on the working copy completes the removal and takes the working copy with it.
    e2e::Remover rest;
    ASSERT_TRUE(rest.Start(RemoverExe(), "-a -f" + WorkingCopy(1)));
    ASSERT_TRUE(rest.WaitForExit(90000)) << "the run on the working copy did not end";
    printf("the run on the working copy took %lu ms\n", rest.runTime);
    EXPECT_EQ(0u, rest.exitCode);
    EXPECT_EQ(std::vector<std::string>{}, p.Remaining());
    DeleteFileA(installed.c_str());
}

// Everything in the way at once, through the real program: the run goes on to the end, the
// dialog shows the completion text for an incomplete removal, and only the obstacles stay.
TEST_F(RobustKill, ObstaclesStayAndTheRunFinishesIncomplete)
{
    e2e::VersionEmulation version("nt40");
    Product p("Traba", 4);
    ASSERT_TRUE(p.Build());
    std::vector<std::string> files = p.Files();
    HANDLE held = CreateFileA(files[2].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ASSERT_TRUE(SetFileAttributesA(files[3].c_str(), FILE_ATTRIBUTE_READONLY));
    testreg::LockedKey lock(HKEY_CURRENT_USER, USER_KEY);
    ASSERT_TRUE(lock.Lock());
    ASSERT_TRUE(lock.DeniesDelete()) << "the key's rights do not deny deletion here";

    e2e::Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-f" + p.log));
    HWND box = r.WaitForWindow(e2e::FindMessageBox, 20000);
    ASSERT_TRUE(box) << "no confirmation box";
    e2e::Press(box, IDYES);
    auto findDialog = [](DWORD pid) -> HWND {
        for (HWND w : e2e::ProcessWindows(pid, true))
            if (e2e::ClassName(w) == L"#32770" && GetDlgItem(w, IDC_BAR))
                return w;
        return nullptr;
    };
    HWND dialog = r.WaitForWindow(findDialog, 15000);
    ASSERT_TRUE(dialog) << "no progress dialog";
    HWND ok = GetDlgItem(dialog, IDOK);
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < 60000 && r.Running(); Sleep(20))
        if (IsWindowEnabled(ok))
            break;
    ASSERT_TRUE(IsWindowEnabled(ok)) << "the run did not go on to the end";
    wchar_t message[512] = L"", expected[512] = L"";
    GetDlgItemTextW(dialog, IDC_MESSAGE, message, 512);
    HMODULE texts = LoadLibraryExA(RemoverExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(texts);
    LoadStringW(texts, 503, expected, 512);
    FreeLibrary(texts);
    EXPECT_NE(0, expected[0]);
    EXPECT_EQ(std::wstring(expected), std::wstring(message));
    e2e::Press(dialog, IDOK);
    EXPECT_TRUE(r.WaitForExit(15000));

    CloseHandle(held);
    EXPECT_TRUE(GetFileAttributesA(files[3].c_str()) & FILE_ATTRIBUTE_READONLY);
    lock.Unlock();
    EXPECT_EQ((std::vector<std::string>{"2 files", p.data, p.dir, "HKCU\\" + std::string(USER_KEY)}),
              p.Remaining());
    EXPECT_FALSE(Exists(p.log)) << "a finished run keeps no log";
}

}  // namespace
