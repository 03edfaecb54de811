// remover.exe when things go wrong from outside: the process killed at points spread over the
// phases, two runs of one log at once, a session opened and never started, and a run that meets
// files and keys it cannot remove. The real program, as a child process under Wine, on an
// installation built in the test prefix.
//
// A kill is landed by watching the run's progress journal from outside: when it reaches the
// wanted phase and record, the program's thread is suspended, the journal read once more to know
// exactly where it stopped, and the process terminated.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "e2e/remover_harness.h"
#include "engine/engine.h"
#include "engine/journal.h"
#include "engine/engine_res.h"
#include "support/locked_key.h"
#include "support/pending_restart.h"
#include "support/product.h"
#include "support/spellings.h"
#include "ui/progress_res.h"

using e2e::Exists;
using namespace testreg;
using rawlog::Bare;
using rawlog::List;
using rawlog::Rec;
using rawlog::Text;

namespace {

constexpr DWORD THIRD_TICK_MS = 4500;
const char APP[] = "parlorob.exe";
const char HKCU_ROOT[] = "-2147483647;";
const char COMPANY_KEY[] = "Software\\ParloRobusto Co";
const char PRODUCT_KEY[] = "Software\\ParloRobusto Co\\Parlomatic\\1.0";
const char USER_KEY[] = "Software\\ParloRobusto Usuario";
const char VALUES_KEY[] = "Software\\ParloRobusto Valores";
const char KEYS_KEY[] = "Software\\ParloRobusto Claves";

std::string RemoverExe()
{
    return e2e::UnixToWine(REMOVER_EXE);
}

std::string Numbered(const std::string &base, const char *format, int i)
{
    char name[32];
    snprintf(name, sizeof name, format, i);
    return base + name;
}

// How big a product is: files, shared files (each counted twice, once for another product),
// subdirectories holding the files, and keys of its own.
struct Size {
    int files;
    int shared = 0;
    int subdirs = 0;
    int keys = 0;
};

// A product with its files, directories, shared files, keys, a key and a value of the user's,
// and the log that names them all.
class Product {
public:
    Product(const std::string &tag, Size size) : size_(size)
    {
        dir = "C:\\ParloRobusto" + tag;
        data = dir + "\\datos";
        common = "C:\\ParloRobustoComun" + tag;
        log = dir + "\\install.log";
        uninstallName = "ParloRobusto" + tag;
        uninstallEntry = UNINSTALL_KEY + uninstallName;
        Clean();
    }
    ~Product() { Clean(); }

    std::vector<std::string> Subdirs() const
    {
        std::vector<std::string> d;
        for (int i = 0; i < size_.subdirs; i++)
            d.push_back(Numbered(data, "\\d%03d", i));
        return d;
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> f = {dir + "\\parlorob.exe", dir + "\\leeme.txt"};
        std::vector<std::string> subdirs = Subdirs();
        for (int i = 0; i < size_.files; i++)
            f.push_back(Numbered(subdirs.empty() ? data : subdirs[i % subdirs.size()],
                                 "\\l%04d.dat", i));
        return f;
    }

    std::vector<std::string> SharedFiles() const
    {
        std::vector<std::string> f;
        for (int i = 0; i < size_.shared; i++)
            f.push_back(Numbered(common, "\\c%03d.dll", i));
        return f;
    }

    // What the installer put in place, and the log that names it all.
    testinstall::Product Installed() const
    {
        testinstall::Product p;
        p.dirs = {dir, data, common};
        for (const std::string &d : Subdirs())
            p.dirs.push_back(d);
        for (const std::string &f : Files())
            p.File(f, "contenido");
        for (const std::string &f : SharedFiles()) {
            p.File(f, "dll");
            p.shared.push_back({f, 2});
        }
        p.Key(HKEY_CURRENT_USER, KEYS_KEY);
        for (int i = 0; i < size_.keys; i++)
            p.String(HKEY_CURRENT_USER, Numbered(KEYS_KEY, "\\k%03d", i), "v", "1");
        p.Key(HKEY_LOCAL_MACHINE, COMPANY_KEY);
        p.String(HKEY_LOCAL_MACHINE, PRODUCT_KEY, "Ruta", dir);
        p.AppPath(APP, dir + "\\parlorob.exe");
        p.Uninstall(uninstallName, "Parlomatic Robusto", "instalado");
        p.Key(HKEY_CURRENT_USER, USER_KEY);
        p.String(HKEY_CURRENT_USER, std::string(USER_KEY) + "\\Prefs", "Voz", "alta");
        p.Key(HKEY_CURRENT_USER, VALUES_KEY);
        p.String(HKEY_CURRENT_USER, VALUES_KEY, "Idioma", "es");
        p.String(HKEY_CURRENT_USER, VALUES_KEY, "Otro", "queda");
        for (const std::string &f : Files())
            p.records.push_back(Text("CF", f));
        for (const std::string &f : SharedFiles())
            p.records.push_back(List("CSF", {f, f}));
        p.records.push_back(Text("CDR", dir));
        p.records.push_back(Text("CDR", data));
        for (const std::string &d : Subdirs())
            p.records.push_back(Text("CDR", d));
        for (int i = 0; i < size_.keys; i++)
            p.records.push_back(
                Text("CRK", Numbered(std::string(HKCU_ROOT) + "\\" + KEYS_KEY, "\\k%03d\\", i)));
        p.records.push_back(Text("CRK", std::string(HKCU_ROOT) + "\\" + USER_KEY + "\\"));
        p.records.push_back(List("SRK", {std::string(HKCU_ROOT) + VALUES_KEY, "Idioma"}));
        p.records.push_back(Bare("URK"));
        p.records.push_back(Bare("MRK"));
        p.log = log;
        p.items = {{ITEM_PRODUCT_KEY, "Parlomatic"}, {ITEM_VERSION_KEY, "1.0"},
                   {ITEM_COMPANY_KEY, "ParloRobusto Co"}, {ITEM_APP_PATH, APP},
                   {ITEM_UNINSTALL_KEY, uninstallName}};
        return p;
    }

    ::testing::AssertionResult Build() const
    {
        std::string why;
        if (!Installed().Build(&why))
            return ::testing::AssertionFailure() << why;
        return ::testing::AssertionSuccess();
    }

    int FilesLeft() const
    {
        int n = 0;
        for (const std::string &f : Files())
            n += testfs::IsFile(f);
        return n;
    }

    // Everything the log names that is still there, files, directories and keys counted when
    // there are many.
    std::vector<std::string> Remaining() const
    {
        std::vector<std::string> left;
        if (int n = FilesLeft())
            left.push_back(std::to_string(n) + " files");
        int subdirs = 0;
        for (const std::string &d : Subdirs())
            subdirs += testfs::IsDir(d);
        if (subdirs)
            left.push_back(std::to_string(subdirs) + " subdirectories");
        for (const std::string &d : {data, dir})
            if (testfs::IsDir(d))
                left.push_back(d);
        int keys = 0;
        for (int i = 0; i < size_.keys; i++)
            keys += KeyExists(HKEY_CURRENT_USER, Numbered(KEYS_KEY, "\\k%03d", i));
        if (keys)
            left.push_back(std::to_string(keys) + " keys");
        for (const std::string &k : {std::string(COMPANY_KEY), APP_PATHS_KEY + std::string(APP), uninstallEntry})
            if (KeyExists(HKEY_LOCAL_MACHINE, k))
                left.push_back("HKLM\\" + k);
        for (const std::string &k : {std::string(USER_KEY) + "\\Prefs", std::string(USER_KEY)})
            if (KeyExists(HKEY_CURRENT_USER, k))
                left.push_back("HKCU\\" + k);
        if (GetValue(HKEY_CURRENT_USER, VALUES_KEY, "Idioma") != "<missing>")
            left.push_back("value Idioma");
        return left;
    }

    // References still held on the shared files, and how many of the files are there.
    std::pair<int, int> Shared() const
    {
        int references = 0, files = 0;
        for (const std::string &f : SharedFiles()) {
            std::string count = GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, f);
            references += count == "<missing>" ? 0 : std::stoi(count);
            files += testfs::IsFile(f);
        }
        return {references, files};
    }

    void Clean() const
    {
        Installed().Remove();
        for (const std::string &name : e2e::LeftoverTempFiles())
            DeleteFileA((e2e::WindowsDir() + name).c_str());
    }

    std::string dir, data, common, log, uninstallName, uninstallEntry;

private:
    Size size_;
};

// remover.exe installed in the Windows directory, as the installer registers it; removed again.
class Installed {
public:
    Installed() : path(e2e::WindowsDir() + "remover.exe")
    {
        ok = CopyFileA(RemoverExe().c_str(), path.c_str(), FALSE) != 0;
    }
    ~Installed() { DeleteFileA(path.c_str()); }
    std::string path;
    bool ok;
};

// The progress of a run as its journal in the Windows directory says, read from outside.
struct Progress {
    bool found = false;
    int phase = 0, handled = 0;
};

Progress ReadJournal()
{
    Progress p;
    HANDLE h = CreateFileA((e2e::WindowsDir() + "_dejrn.1").c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return p;
    JournalRecord r = {};
    DWORD got = 0;
    p.found = ReadFile(h, &r, JOURNAL_PROGRESS_OFFSET + JOURNAL_PROGRESS_SIZE, &got, nullptr) &&
              got == JOURNAL_PROGRESS_OFFSET + JOURNAL_PROGRESS_SIZE && r.magic == JOURNAL_MAGIC;
    CloseHandle(h);
    p.phase = r.phase;
    p.handled = r.handled;
    return p;
}

HWND FindProgressDialog(DWORD pid)
{
    for (HWND w : e2e::ProcessWindows(pid, true))
        if (e2e::ClassName(w) == L"#32770" && GetDlgItem(w, IDC_BAR))
            return w;
    return nullptr;
}

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

// Where a kill lands: the phase, and the records of it handled at least (at most, the phase
// must not have ended). "inside CDR" waits until directories are being removed; "after MRK"
// kills an interactive run whose finished dialog waits for OK. With reinstall, the product is
// installed again after the kill (the same log, byte for byte) before the registered command runs.
struct KillPoint {
    const char *name;
    int phase;
    int handled;
    bool reinstall;
};

const KillPoint KILL_POINTS[] = {
    {"inside CF", 0, 100, false},     {"inside CSF", 1, 20, false},
    {"inside CDR", 5, 0, false},      {"inside CRK", 6, 50, false},
    {"after MRK", PHASE_COUNT, 0, false},
    {"inside CF then reinstalled", 0, 100, true},
    {"inside CSF then reinstalled", 1, 20, true},
    {"inside CDR then reinstalled", 5, 0, true},
    {"after MRK then reinstalled", PHASE_COUNT, 0, true},
};

const Size KILL_SIZE = {1000, 100, 150, 200};

// What one run of the installation leaves: the product's things, the shared references and
// files, the user's own value.
struct Outcome {
    std::vector<std::string> remaining;
    std::pair<int, int> shared;
    std::string userValue;
};

Outcome Observe(const Product &p)
{
    return {p.Remaining(), p.Shared(), GetValue(HKEY_CURRENT_USER, VALUES_KEY, "Otro")};
}

// Runs commandLine to its end, which must come within ms with the exit status expected.
::testing::AssertionResult RunToEnd(const std::string &commandLine, DWORD ms, DWORD status = 0)
{
    e2e::Remover r;
    ::testing::AssertionResult started = r.Start("", commandLine);
    if (!started)
        return started;
    if (!r.WaitForExit(ms))
        return ::testing::AssertionFailure() << commandLine << " did not end";
    if (r.exitCode != status)
        return ::testing::AssertionFailure() << commandLine << " ended with " << r.exitCode
                                             << ", not " << status;
    printf("  %s took %lu ms\n", commandLine.c_str(), r.runTime);
    return ::testing::AssertionSuccess();
}

class KillTable : public RobustKill, public ::testing::WithParamInterface<KillPoint> {
protected:
    // One clean run of the same installation, for every kill point to be compared with.
    static const Outcome &CleanRun()
    {
        static Outcome clean;
        static bool done = false;
        if (!done) {
            Product p("Limpio", KILL_SIZE);
            Installed installed;
            EXPECT_TRUE(p.Build() && installed.ok);
            EXPECT_TRUE(RunToEnd(installed.path + " -a -f" + p.log, 120000));
            clean = Observe(p);
            done = true;
        }
        return clean;
    }

    // Suspends the run where the journal says the kill point is reached, then ends it.
    ::testing::AssertionResult KillAt(e2e::Remover &run, const Product &p, const KillPoint &at,
                                      Progress *where)
    {
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, run.ThreadId());
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, run.Pid());
        if (!thread || !process)
            return ::testing::AssertionFailure() << "cannot reach the run";
        std::string firstSubdir = p.Subdirs().front();
        bool reached = false;
        for (DWORD begin = GetTickCount(); !reached && GetTickCount() - begin < 60000 && run.Running();) {
            Progress now = ReadJournal();
            if (at.phase == PHASE_COUNT)
                reached = now.found && FindProgressDialog(run.Pid()) &&
                          IsWindowEnabled(GetDlgItem(FindProgressDialog(run.Pid()), IDOK));
            else if (at.phase == 5)
                reached = now.found && now.phase == 5 && !testfs::IsDir(firstSubdir);
            else
                reached = now.found && now.phase == at.phase && now.handled >= at.handled;
            if (reached)
                SuspendThread(thread);
        }
        *where = ReadJournal();
        bool killed = reached && TerminateProcess(process, 9);
        WaitForSingleObject(process, 10000);
        CloseHandle(thread);
        CloseHandle(process);
        if (!killed)
            return ::testing::AssertionFailure() << "the run was not caught " << at.name;
        if (where->phase != at.phase)
            return ::testing::AssertionFailure()
                   << "the kill meant " << at.name << " landed in phase " << where->phase;
        return ::testing::AssertionSuccess();
    }
};

// The registered command run after the kill finishes the removal: the outcome is that of one
// clean run, shared references exact (a kill inside "CSF" may keep one reference: never one
// given back twice), and nothing is left in the Windows directory. After a reinstall the new
// installation is removed whole, not taken for the killed run (whose journal and working copy
// go); its installer sets the shared counts anew.
TEST_P(KillTable, TheRegisteredCommandFinishesTheRemoval)
{
    const KillPoint &at = GetParam();
    e2e::VersionEmulation version("nt40");
    const Outcome clean = CleanRun();
    ASSERT_EQ(std::vector<std::string>{}, clean.remaining) << "the clean run did not finish";

    Product p("Corte", KILL_SIZE);
    Installed installed;
    ASSERT_TRUE(p.Build());
    ASSERT_TRUE(installed.ok);
    const std::string registered = installed.path + " -a -f" + p.log;
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, p.uninstallEntry, "UninstallString", registered));
    const bool interactive = at.phase == PHASE_COUNT;

    e2e::Remover first;
    ASSERT_TRUE(first.Start(RemoverExe(), (interactive ? "-f" : "-a -f") + p.log));
    if (interactive) {
        ASSERT_TRUE(e2e::AnswerYes(first));
    }
    Progress where;
    ASSERT_TRUE(KillAt(first, p, at, &where));
    std::vector<std::string> left = p.Remaining();
    std::string leftText;
    for (const std::string &s : left)
        leftText += s + "; ";
    printf("%s: killed at phase %d, record %d; left: %s\n", at.name, where.phase, where.handled,
           leftText.c_str());
    EXPECT_FALSE(Exists(p.log)) << "the log was moved into the working copy";
    EXPECT_EQ((std::vector<std::string>{"_detmp.1", "_dejrn.1"}), e2e::LeftoverTempFiles());

    // After "MRK" the product's entry is gone with the rest: the same command is run again.
    std::string again = GetValue(HKEY_LOCAL_MACHINE, p.uninstallEntry, "UninstallString");
    EXPECT_EQ(interactive ? "<missing>" : registered, again);
    const std::string report = p.dir + "-informe.txt";
    if (at.reinstall) {
        ASSERT_TRUE(p.Build());
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, p.uninstallEntry, "UninstallString", registered));
        again = registered + " -l" + report;
    }
    ASSERT_TRUE(RunToEnd(interactive && !at.reinstall ? registered : again, 120000));
    if (at.reinstall) {
        std::string text = testfs::ReadBytes(report);
        DeleteFileA(report.c_str());
        EXPECT_NE(std::string::npos,
                  text.find("journal        " + e2e::WindowsDir() +
                            "_dejrn.1: retired, the product was installed again since"))
            << text;
    }

    Outcome after = Observe(p);
    EXPECT_EQ(clean.remaining, after.remaining);
    EXPECT_EQ(clean.userValue, after.userValue);
    EXPECT_EQ(clean.shared.second, after.shared.second) << "shared files kept";
    if (at.phase == 1 && !at.reinstall)
        EXPECT_LE(after.shared.first - clean.shared.first, 1) << "at most one reference kept";
    else
        EXPECT_EQ(clean.shared.first, after.shared.first) << "shared references";
    EXPECT_GE(after.shared.first, clean.shared.first) << "a reference was given back twice";
}

INSTANTIATE_TEST_SUITE_P(Kills, KillTable, ::testing::ValuesIn(KILL_POINTS),
                         [](const ::testing::TestParamInfo<KillPoint> &info) {
                             std::string name;
                             for (const char *c = info.param.name; *c; ++c)
                                 if (isalnum(static_cast<unsigned char>(*c)))
                                     name += *c;
                             return name;
                         });

// While one run works on a log, a second run of it, under another spelling of its path, touches
// nothing and ends: with a message in an interactive run, silently in an unattended one. The first
// run is not disturbed.
TEST_F(RobustKill, OneRunOfALogAtATime)
{
    e2e::VersionEmulation version("nt40");
    Product p("Doble", {20});
    ASSERT_TRUE(p.Build());
    e2e::Remover first;
    ASSERT_TRUE(first.Start(RemoverExe(), "-a -f" + p.log));
    // Its session is open (the log lies in the working copy) until it has finished.
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < 10000 && !ReadJournal().found;)
        Sleep(10);
    ASSERT_TRUE(ReadJournal().found) << "the first run did not open its session";

    e2e::Remover silent;
    ASSERT_TRUE(silent.Start(RemoverExe(), "-a -f" + spell::ThroughOtherDrive(p.log)));
    ASSERT_TRUE(silent.WaitForExit(THIRD_TICK_MS)) << "the unattended second run did not end";
    EXPECT_EQ(1618u, silent.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{}, silent.Shown());

    e2e::Remover asking;
    ASSERT_TRUE(asking.Start(RemoverExe(), "-f//./" + spell::Respelled(p.log, '\\', '/')));
    ASSERT_TRUE(e2e::AnswerYes(asking));
    Sleep(500);  // the confirmation box is gone before the next one is looked for
    HWND box = asking.WaitForWindow(e2e::FindMessageBox, 20000);
    ASSERT_TRUE(box) << "no message for the second run";
    std::wstring expected = e2e::ProgramText(RemoverExe(), ENGINE_TEXT_BUSY);
    EXPECT_NE(L"", expected);
    EXPECT_EQ(expected, e2e::MessageBoxText(box));
    e2e::Press(box, IDOK);
    EXPECT_TRUE(asking.WaitForExit(10000));
    EXPECT_EQ(1618u, asking.exitCode);
    EXPECT_TRUE(first.Running()) << "the first run ended early";

    EXPECT_TRUE(first.WaitForExit(60000));
    EXPECT_EQ(0u, first.exitCode);
    EXPECT_EQ(std::vector<std::string>{}, p.Remaining());
}

// Twenty different products removed at once, as a management tool does: each run takes working
// and journal names of its own (a clash would cut one run's log short or end it with an error),
// and every one finishes with its product gone.
TEST_F(RobustKill, TwentyRemovalsAtOnceTakeTwentyNames)
{
    constexpr int RUNS = 20;
    std::vector<testinstall::Product> products(RUNS);
    for (int i = 0; i < RUNS; i++) {
        testinstall::Product &p = products[i];
        std::string dir = Numbered("C:\\ParloVeinte", "%02d", i);
        p.dirs = {dir};
        for (const char *name : {"\\a.dat", "\\b.dat", "\\c.dat"}) {
            p.File(dir + name, "contenido");
            p.records.push_back(Text("CF", dir + name));
        }
        std::string entry = Numbered("ParloVeinte", "%02d", i);
        p.Uninstall(entry, "Parlomatic Veinte", "instalado");
        p.records.push_back(Text("CDR", dir));
        p.records.push_back(Bare("MRK"));
        p.log = dir + "\\install.log";
        p.items = {{ITEM_UNINSTALL_KEY, entry}};
        p.Remove();
        ASSERT_TRUE(p.Build());
    }
    std::vector<e2e::Remover> runs(RUNS);
    for (int i = 0; i < RUNS; i++)
        ASSERT_TRUE(runs[i].Start(RemoverExe(), "-a -f" + products[i].log));
    for (int i = 0; i < RUNS; i++) {
        SCOPED_TRACE(products[i].log);
        EXPECT_TRUE(runs[i].WaitForExit(120000));
        EXPECT_EQ(0u, runs[i].exitCode);
        EXPECT_FALSE(testfs::IsDir(products[i].dirs[0])) << "the product is gone";
    }
    for (testinstall::Product &p : products)
        p.Remove();
}

// -d with -f opens a session that is never started (both options share one path, the later
// one's): the log goes back to its path byte for byte, the product is registered again, and no
// working copy or journal stays.
TEST_F(RobustKill, DelayedDeletionWithALogPutsTheLogBack)
{
    Product p("Diferido", {3});
    ASSERT_TRUE(p.Build());
    const std::string logBytes = testfs::ReadBytes(p.log);
    const std::string file = p.dir + "\\borrar.tmp";
    ASSERT_TRUE(testfs::WriteBytes(file, "x"));
    e2e::Remover r;
    ASSERT_TRUE(r.Start(RemoverExe(), "-d" + file + " -f" + p.log));
    ASSERT_TRUE(r.WaitForExit(20000));
    EXPECT_EQ(1603u, r.exitCode) << "-d found nothing to delete at its path";
    EXPECT_TRUE(testfs::ReadBytes(p.log) == logBytes) << "the log is not back as it was";
    EXPECT_EQ(e2e::WindowsDir() + "remover.exe -f" + p.log,
              GetValue(HKEY_LOCAL_MACHINE, p.uninstallEntry, "UninstallString"));
    EXPECT_EQ(3 + 2, p.FilesLeft());
    EXPECT_TRUE(testfs::IsFile(file)) << "-f's path is the one used";
    DeleteFileA(file.c_str());
}

// Everything in the way at once, through the real program: the run goes on to the end, the
// dialog shows the completion text for an incomplete removal, and only the obstacles stay.
TEST_F(RobustKill, ObstaclesStayAndTheRunFinishesIncomplete)
{
    restarttest::PendingScope pending;  // the file held open is left for the restart
    e2e::VersionEmulation version("nt40");
    Product p("Traba", {4});
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
    ASSERT_TRUE(e2e::AnswerYes(r));
    HWND dialog = r.WaitForWindow(FindProgressDialog, 15000);
    ASSERT_TRUE(dialog) << "no progress dialog";
    HWND ok = GetDlgItem(dialog, IDOK);
    for (DWORD begin = GetTickCount(); GetTickCount() - begin < 60000 && r.Running(); Sleep(20))
        if (IsWindowEnabled(ok))
            break;
    ASSERT_TRUE(IsWindowEnabled(ok)) << "the run did not go on to the end";
    wchar_t message[512] = L"";
    GetDlgItemTextW(dialog, IDC_MESSAGE, message, 512);
    std::wstring expected = e2e::ProgramText(RemoverExe(), ENGINE_TEXT_KEPT);
    EXPECT_NE(L"", expected);
    EXPECT_EQ(expected, std::wstring(message));
    e2e::Press(dialog, IDOK);
    EXPECT_TRUE(r.WaitForExit(15000));
    EXPECT_EQ(1u, r.exitCode) << "finished, the obstacles remain";

    CloseHandle(held);
    EXPECT_TRUE(GetFileAttributesA(files[3].c_str()) & FILE_ATTRIBUTE_READONLY);
    lock.Unlock();
    EXPECT_EQ((std::vector<std::string>{"2 files", p.data, p.dir, "HKCU\\" + std::string(USER_KEY)}),
              p.Remaining());
    EXPECT_FALSE(Exists(p.log)) << "a finished run keeps no log";
}

}  // namespace
