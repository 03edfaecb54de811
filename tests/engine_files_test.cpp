// The record handlers for files ("CF"), shared files ("CSF") and directories ("CDR"), called as
// the phase driver calls them, against real files and shared counts in the test prefix.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/strlist.h"
#include "engine/engine.h"
#include "engine/report.h"
#include "engine/restart.h"
#include "engine/session_internal.h"
#include "support/engine_fixture.h"
#include "support/locked_key.h"
#include "support/pending_restart.h"
#include "support/spellings.h"

using namespace enginetest;
using spell::Respelled;
using spell::ThroughOtherDrive;

namespace {

class FileRecords : public ::testing::Test {
protected:
    void SetUp() override
    {
        EngineInit(0);
        state = PhaseState{0, 1, SessionGetPool(nullptr), nullptr, nullptr};
    }
    void TearDown() override
    {
        for (const std::string &f : counted)
            DeleteValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, f);
        ListDestroy(state.list);
        RestartForget(session.get());
        EngineShutdown();
        UsePlatform(Os::Other);
    }

    int File(const std::string &path)
    {
        return RemoveFileRecord(&state, PHASE_STEP, session.get(), path.c_str(), 0, nullptr);
    }

    int Shared(const std::string &first, const std::string &shared)
    {
        StringList *list = testlist::Make({first, shared});
        int r = RemoveSharedFileRecord(&state, PHASE_STEP, session.get(), "", 0, list);
        ListDestroy(list);
        return r;
    }

    int Directory(int mode, const std::string &path)
    {
        int r = CollectDirectoryRecord(&state, mode, session.get(), path.c_str(), 0, nullptr);
        state.first = 0;
        return r;
    }

    testfs::TempDir dir;
    PhaseState state{};
    std::unique_ptr<Session> session = std::make_unique<Session>();
    std::vector<std::string> counted;
};

TEST_F(FileRecords, PlainFiles)
{
    std::string present = dir / "a.txt";
    std::string readOnly = dir / "ro.txt";
    ASSERT_TRUE(testfs::WriteBytes(present, "a"));
    ASSERT_TRUE(testfs::WriteBytes(readOnly, "r"));
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    std::string tooLong = dir / std::string(PATH_MAX_BYTES, 'x');
    struct Case {
        std::string path;
        int result;
        bool remains;
    } cases[] = {
        {present, 0, false},
        {dir / "gone.txt", WARN_FILE, false},
        {readOnly, WARN_FILE, true},
        {tooLong, WARN_FILE, false},
        {dir.path(), WARN_FILE, true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(RemoveFileRecord(&state, PHASE_STEP, nullptr, c.path.c_str(), 0, nullptr),
                  c.result)
            << c.path;
        DWORD a = GetFileAttributesA(c.path.c_str());
        EXPECT_EQ(a != INVALID_FILE_ATTRIBUTES, c.remains) << c.path;
    }
    std::string later = dir / "b.txt";
    ASSERT_TRUE(testfs::WriteBytes(later, "b"));
    for (int mode : {PHASE_END, PHASE_CREATE, PHASE_DESTROY}) {
        EXPECT_EQ(RemoveFileRecord(&state, mode, nullptr, later.c_str(), 0, nullptr), 0);
    }
    EXPECT_TRUE(testfs::IsFile(later)) << "only records are acted on";
}

TEST_F(FileRecords, SharedFilesGiveBackOneReference)
{
    struct Case {
        const char *name;
        bool sameFirst;      // first path = shared path
        bool firstExists;    // a different first path exists
        long count;          // -1: no count
        bool sharedExists;
        int result;
        bool sharedRemains;
        std::string countAfter;
    } cases[] = {
        {"still used", true, false, 3, true, 0, true, "2"},
        {"last user", true, false, 1, true, 0, false, "<missing>"},
        {"no count", true, false, -1, true, 0, false, "<missing>"},
        {"other first path", false, true, 3, true, 0, true, "3"},
        {"first path gone", false, false, 2, true, 0, true, "1"},
        {"shared file gone", true, false, 4, false, 0, false, "4"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string shared = dir / (std::string(c.name) + ".dll");
        std::string first = c.sameFirst ? shared : dir / (std::string(c.name) + "-first.dll");
        if (c.sharedExists) {
            ASSERT_TRUE(testfs::WriteBytes(shared, "dll"));
        }
        if (c.firstExists) {
            ASSERT_TRUE(testfs::WriteBytes(first, "first"));
        }
        counted.push_back(shared);
        if (c.count >= 0) {
            ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared, DWORD(c.count)));
        }
        EXPECT_EQ(Shared(first, shared), c.result);
        EXPECT_EQ(testfs::IsFile(shared), c.sharedRemains);
        if (!c.sameFirst) {
            EXPECT_FALSE(testfs::IsFile(first)) << "a different first path is deleted";
        }
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared), c.countAfter);
    }
}

TEST_F(FileRecords, SharedFileEdgeCases)
{
    std::string shared = dir / "x.dll";
    ASSERT_TRUE(testfs::WriteBytes(shared, "dll"));
    ASSERT_TRUE(SetFileAttributesA(shared.c_str(), FILE_ATTRIBUTE_READONLY));
    counted.push_back(shared);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared, 1));
    EXPECT_EQ(Shared(shared, shared), WARN_FILE) << "the last user cannot delete it";
    EXPECT_TRUE(testfs::IsFile(shared));

    // Paths differing only in letter case are the same file.
    std::string upper = shared;
    for (char &ch : upper)
        ch = char(toupper(static_cast<unsigned char>(ch)));
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared, 5));
    EXPECT_EQ(Shared(upper, shared), 0);
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared), "4");

    StringList *one = ListCreate(0);
    ListAdd(one, shared.c_str());
    EXPECT_EQ(RemoveSharedFileRecord(&state, PHASE_STEP, nullptr, "", 0, one), 0);
    EXPECT_EQ(RemoveSharedFileRecord(&state, PHASE_STEP, nullptr, "", 0, nullptr), 0);
    ListDestroy(one);
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared), "4");

    std::string tooLong = dir / std::string(PATH_MAX_BYTES, 'y');
    EXPECT_EQ(Shared(tooLong, tooLong), WARN_FILE);
}

// A count that cannot be read as a number, or cannot be lowered, still speaks for other
// products: the file stays with a warning and the count is left as it was.
TEST_F(FileRecords, SharedFileWhoseCountCannotBeUpdatedStays)
{
    const DWORD three = 3, one = 1;
    struct Case {
        const char *name;
        DWORD type;
        const void *data;
        DWORD size;
        bool locked;
    } cases[] = {
        {"locked", REG_DWORD, &three, 4, true},
        {"locked last", REG_DWORD, &one, 4, true},
        {"binary", REG_BINARY, &one, 4, false},
        {"text", REG_SZ, "tres", 5, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string shared = dir / (std::string(c.name) + ".dll");
        ASSERT_TRUE(testfs::WriteBytes(shared, "dll"));
        counted.push_back(shared);
        ASSERT_TRUE(SetRaw(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared, c.type, c.data, c.size));
        std::string before = GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared);
        testreg::LockedKey lock(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY);
        if (c.locked) {
            ASSERT_TRUE(lock.Lock());
        }
        EXPECT_EQ(Shared(shared, shared), WARN_FILE);
        lock.Unlock();
        EXPECT_TRUE(testfs::IsFile(shared));
        EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, shared), before);
    }
}

TEST_F(FileRecords, LongestPathFirstEarlierAmongEquals)
{
    StringList *list = ListCreate(0);
    for (const char *p : {"C:\\a", "C:\\a\\b\\c", "C:\\a\\b", "C:\\x\\y", "C:\\x\\z", "C:\\b"})
        ListAdd(list, p);
    std::vector<std::string> order;
    char buffer[PHASE_TEXT_SIZE];
    while (ListCount(list) > 0) {
        TakeLongestPath(list, buffer);
        order.push_back(buffer);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"C:\\a\\b\\c", "C:\\a\\b", "C:\\x\\y",
                                               "C:\\x\\z", "C:\\a", "C:\\b"}));
    ListDestroy(list);
}

TEST_F(FileRecords, DirectoriesGoDeepestFirstWhateverTheOrder)
{
    std::string a = dir / "A", b = a + "\\B", c = b + "\\C";
    ASSERT_TRUE(CreateDirectoryA(a.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(b.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(c.c_str(), nullptr));
    EXPECT_EQ(Directory(PHASE_STEP, a), 0);
    EXPECT_EQ(Directory(PHASE_STEP, c), 0);
    EXPECT_EQ(Directory(PHASE_STEP, b), 0);
    EXPECT_TRUE(testfs::IsDir(c)) << "nothing goes before the end of the kind";
    EXPECT_EQ(Directory(PHASE_END, ""), 0);
    EXPECT_FALSE(testfs::IsDir(a));
    EXPECT_EQ(state.list, nullptr);
    EXPECT_EQ(Directory(PHASE_END, ""), 0) << "a second end has nothing left to do";
}

TEST_F(FileRecords, DirectoryWarnings)
{
    std::string a = dir / "A", b = a + "\\B", c = b + "\\C", other = dir / "Otro";
    for (const std::string &d : {a, b, c, other}) {
        ASSERT_TRUE(CreateDirectoryA(d.c_str(), nullptr));
    }
    ASSERT_TRUE(testfs::WriteBytes(c + "\\usuario.txt", "mío"));
    for (const std::string &d : {a, b, c, other, other, dir / "nunca"}) {
        EXPECT_EQ(Directory(PHASE_STEP, d), 0);
    }
    EXPECT_EQ(Directory(PHASE_STEP, dir / std::string(PATH_MAX_BYTES, 'd')), WARN_DIRECTORY);
    // One warning for the whole kind; every directory is tried.
    EXPECT_EQ(Directory(PHASE_END, ""), WARN_DIRECTORY);
    EXPECT_TRUE(testfs::IsDir(c));
    EXPECT_TRUE(testfs::IsDir(b));
    EXPECT_TRUE(testfs::IsDir(a));
    EXPECT_FALSE(testfs::IsDir(other));
    EXPECT_EQ(Directory(PHASE_END, ""), 0);
}

// ---- In use: left for the next restart ----

// NT family: a file in use (plain or shared, named twice) and the directory it alone keeps go
// at the restart, in that order; a file refused for another reason, a directory that also holds
// the user's file, and anything on Win32s warn as before. A program or DLL in use is renamed
// first and goes under its new name, so that its own name is free at once; one held open
// without delete sharing cannot be renamed and goes by its name.
TEST_F(FileRecords, FilesInUseAndTheirDirectoryGoAtTheNextRestart)
{
    restarttest::PendingScope pending;
    UsePlatform(Os::Windows4);
    std::string a = dir / "A", mixed = dir / "B", readOnly = dir / "ro.txt";
    ASSERT_TRUE(CreateDirectoryA(a.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(mixed.c_str(), nullptr));
    restarttest::LoadedImage program(a + "\\uso.exe"), library(a + "\\uso.dll");
    restarttest::HeldFile text(mixed + "\\uso.txt");
    ASSERT_TRUE(program.Loaded() && library.Loaded() && text.Held());
    ASSERT_TRUE(testfs::WriteBytes(mixed + "\\mio.txt", "del usuario"));
    ASSERT_TRUE(testfs::WriteBytes(readOnly, "r"));
    ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    counted.push_back(library.path);
    ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, library.path, 1));

    EXPECT_EQ(File(program.path), 0);
    ASSERT_TRUE(testfs::WriteBytes(program.path, "reinstalado")) << "its name is free";
    EXPECT_EQ(File(program.path), 0) << "named twice, scheduled once";
    EXPECT_EQ(session->outcome, OUTCOME_SCHEDULED) << "and reported as left for the restart again";
    EXPECT_EQ(testfs::ReadBytes(program.path), "reinstalado") << "what stands at the name now";
    ASSERT_TRUE(DeleteFileA(program.path.c_str()));
    EXPECT_EQ(Shared(library.path, library.path), 0);
    EXPECT_EQ(File(text.path), 0);
    EXPECT_EQ(File(readOnly), WARN_FILE) << "refused, not in use";
    EXPECT_EQ(Directory(PHASE_STEP, mixed), 0);
    EXPECT_EQ(Directory(PHASE_STEP, a), 0);
    EXPECT_EQ(Directory(PHASE_END, ""), WARN_DIRECTORY) << "the user's file keeps B";
    EXPECT_EQ(restarttest::PendingDeletions(),
              (std::vector<std::string>{a + "\\_dedel.1", a + "\\_dedel.2", text.path, a}));
    EXPECT_EQ(session->scheduled, 4);
    EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, library.path), "<missing>");

    restarttest::ClearPending();
    UsePlatform(Os::Win32s);
    restarttest::HeldFile other(dir / "otro.txt");
    EXPECT_EQ(File(other.path), WARN_FILE) << "Win32s has no restart list";
    EXPECT_EQ(restarttest::PendingDeletions(), std::vector<std::string>{});
    EXPECT_FALSE(testfs::IsFile(restarttest::WininitPath()));
}

// Windows 95: a "NUL=" line with the short path joins the [rename] section of WININIT.INI,
// whatever else the file holds; a file too big to rewrite, or a name deeper than DOS opens, is
// left alone and the record warns that the file stays in use.
TEST_F(FileRecords, Windows95ListsFilesInUseInWininit)
{
    restarttest::PendingScope pending;
    UsePlatform(Os::Windows95);
    restarttest::HeldFile held(dir / "en uso largo.dll");
    ASSERT_TRUE(held.Held());
    char shortPath[MAX_PATH];
    ASSERT_NE(GetShortPathNameA(held.path.c_str(), shortPath, MAX_PATH), 0u);
    const std::string line = "NUL=" + std::string(shortPath) + "\r\n";
    const std::string old = "NUL=C:\\VIEJO.TXT";
    const std::string tooBig(RESTART_WININIT_MAX_BYTES, ';');
    struct Case {
        const char *name;
        const char *before;  // null: no file
        std::string after;
        int result;
    } cases[] = {
        {"no file", nullptr, "[rename]\r\n" + line, 0},
        {"section before another", "[rename]\r\nNUL=C:\\VIEJO.TXT\r\n[otra]\r\nx=1\r\n",
         "[rename]\r\n" + old + "\r\n" + line + "[otra]\r\nx=1\r\n", 0},
        {"no section, unended line", "[otra]\r\nx=1", "[otra]\r\nx=1\r\n[rename]\r\n" + line, 0},
        {"last section, any case", "[otra]\n  [Rename]\n" "NUL=C:\\VIEJO.TXT\n",
         "[otra]\n  [Rename]\n" + old + "\n" + line, 0},
        {"too big", tooBig.c_str(), tooBig, WARN_FILE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        restarttest::ClearPending();
        if (c.before) {
            ASSERT_TRUE(testfs::WriteBytes(restarttest::WininitPath(), c.before));
        }
        RestartForget(session.get());
        EXPECT_EQ(File(held.path), c.result);
        EXPECT_EQ(restarttest::ReadText(restarttest::WininitPath()), c.after);
    }

    // Folders until the short one, drive aside and with the backslash before a name, is over
    // the limit.
    std::string deep = dir.path();
    char shortDeep[MAX_PATH] = "";
    while (GetShortPathNameA(deep.c_str(), shortDeep, MAX_PATH) &&
           lstrlenA(shortDeep) - 1 <= RESTART_DOS_FOLDER_MAX) {
        deep += "\\carpeta";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    restarttest::HeldFile deepFile(deep + "\\uso.dll");
    ASSERT_TRUE(deepFile.Held());
    const std::string before = "[rename]\r\n" + old + "\r\n";
    ASSERT_TRUE(testfs::WriteBytes(restarttest::WininitPath(), before));
    EXPECT_EQ(File(deepFile.path), WARN_FILE);
    EXPECT_EQ(session->outcome, OUTCOME_FAILED);
    EXPECT_EQ(session->outcomeDetail, static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(restarttest::ReadText(restarttest::WininitPath()), before);
}

// WININIT.INI is read under DOS: a name goes there in the OEM code page (here 437 against the
// system's 1252), only when it comes back unchanged, as 8.3 names below a drive, within DOS's
// folder limit.
TEST(RestartDosName, TakesOnlyWhatDosOpens)
{
    if (GetACP() != 1252 || GetOEMCP() != 437)
        GTEST_SKIP() << "written for code pages 1252 and 437";
    std::string folder64 = "\\";   // seven 8-byte names: 64 bytes with their backslashes
    for (int i = 0; i < 7; ++i)
        folder64 += "ABCDEFGH\\";
    std::string folder65 = folder64;
    folder65.replace(1, 8, "ABCDEFG.H");
    struct Case {
        std::string shortPath;
        std::string oem;   // empty: refused
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM\\UNO.DLL", "C:\\WINDOWS\\SYSTEM\\UNO.DLL"},
        {"d:\\progra~1\\a", "d:\\progra~1\\a"},
        {"C:\\\xC9T\xC9\\\xD1.DLL", "C:\\\x90T\x90\\\xA5.DLL"},   // ÉTÉ\Ñ.DLL
        {"C:\\\x8A" "A.DLL", ""},      // no Š in 437: it would come back as S
        {"C:\\NUEVENUEV.DLL", ""},
        {"C:\\A.DLLS", ""},
        {"C:\\A B.DLL", ""},
        {"C:\\A+B.DLL", ""},
        {"C:\\.DLL", ""},
        {"C:\\A.", ""},
        {"C:\\A.B.C", ""},
        {"C:\\A\\\\B.DLL", ""},
        {"C:A.DLL", ""},
        {"\\\\SERVIDOR\\COMPARTE\\A.DLL", ""},
        {"C:" + folder64 + "ABCDEFGH.DLL", "C:" + folder64 + "ABCDEFGH.DLL"},
        {"C:" + folder65 + "A.DLL", ""},
    };
    for (const Case &c : cases) {
        char oem[MAX_PATH] = "x";
        EXPECT_EQ(RestartDosName(c.shortPath.c_str(), oem, MAX_PATH), c.oem.empty() ? 0 : 1)
            << c.shortPath;
        EXPECT_EQ(std::string(oem), c.oem) << c.shortPath;
    }
}

// ---- What no log may delete -----------------------------------------------------------------

std::string SystemDir()
{
    char dir[MAX_PATH] = "";
    GetSystemDirectoryA(dir, sizeof dir);
    return dir;
}

std::string ShortName(const std::string &path)
{
    char out[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), out, sizeof out);
    return out;
}

// Every real system file a test hands to a handler is held open without delete sharing: even a
// broken guard cannot delete it, and only its untouched shared count tells the refusal apart.
class HeldOpen {
public:
    explicit HeldOpen(const std::string &path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr))
    {
    }
    ~HeldOpen() { CloseHandle(h_); }
    bool Holds() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

TEST_F(FileRecords, SystemFilesStayUnderEverySpellingOnEveryPlatform)
{
    std::string win = WindowsDir(), sys = SystemDir(), kernel = sys + "\\kernel32.dll";
    spell::Canary canary(win + "win.ini"), bootIni("C:\\boot.ini");
    HeldOpen heldIni(win + "win.ini");
    ASSERT_TRUE(heldIni.Holds());
    // Links on the way to the drive's root and to the Windows folder.
    spell::HostLink toRoot(dir / "raiz", "C:\\"), toWindows(dir / "ventanas", win);
    ASSERT_TRUE(toRoot.ok() && toWindows.ok());
    std::string shortBase = ShortName(sys + "\\kernelbase.dll");
    ASSERT_NE("", shortBase);
    std::string sysName = sys.substr(sys.rfind('\\') + 1);
    struct Case {
        std::string path;
        bool removable;
    } cases[] = {
        {kernel, false},
        {Respelled(kernel, '\\', '/'), false},
        {"//./" + Respelled(kernel, '\\', '/'), false},
        {"\\/.\\" + kernel, false},
        {"//?/" + kernel, false},
        {"\\??\\" + win + "win.ini", false},
        {spell::VolumeSpelling(win + "win.ini"), false},
        {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Windows\\win.ini", false},
        {dir / "raiz\\boot.ini", false},
        {dir / "ventanas\\win.ini", false},
        {"//./C:/boot.ini", false},
        {ThroughOtherDrive("C:\\boot.ini"), false},
        {sys + "\\..\\" + sysName + "\\.\\kernel32.dll", false},
        {kernel + ".", false},
        {kernel + " . ", false},
        {shortBase, false},
        // Under Wine a handle does not stop a deletion through another drive: a file to spare.
        {ThroughOtherDrive(win + "win.ini"), false},
        {win + "system32\\user32.dll", false},
        {win + "SysWOW64\\gdi32.dll", false},
        {win + "sysnative\\kernel32.dll", false},
        {win + "system\\user.exe", false},
        {Respelled(win, '\\', '\\') + "WIN.INI", false},
        {win + "explorer.exe", false},
        {win + "regedit.exe", false},
        {sys + "\\config\\SOFTWARE", false},
        {sys + "\\drivers\\ntfs.sys", false},
        {"C:/Autoexec.bat", false},
        {kernel + "::$DATA", false},
        {sys + "\\kernel3?.dll", false},
        {std::string(PATH_MAX_BYTES - 1, 'x'), false},   // its full path no longer fits
        {sys + "\\parloprot.dll", true},                 // a product's own, beside the system's
        {dir / "kernel32.dll", true},                    // the name alone protects nothing
        {dir / "win.ini", true},
    };
    for (Os os : {Os::Other, Os::Windows4, Os::Nt3, Os::Win32s}) {
        UsePlatform(os);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.path + " on platform " + std::to_string(int(os)));
            EXPECT_EQ(IsFileRemovable(c.path.c_str()), c.removable ? 1 : 0);
            if (c.removable) {
                ASSERT_TRUE(testfs::WriteBytes(c.path, "dll"));
            }
            HeldOpen held(c.removable ? std::string() : c.path);
            if (!testfs::IsFile(c.path) || (!c.removable && !held.Holds()))
                continue;
            counted.push_back(c.path);
            ASSERT_TRUE(SetDword(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, c.path, 1));
            EXPECT_EQ(Shared(c.path, c.path), c.removable ? 0 : WARN_FILE);
            EXPECT_EQ(testfs::IsFile(c.path), !c.removable);
            EXPECT_EQ(GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, c.path),
                      c.removable ? "<missing>" : "1");
        }
    }
    UsePlatform(Os::Other);
    EXPECT_EQ(Shared(dir / "parlo.dll", win + "win.ini"), WARN_FILE)
        << "a missing first path hands over to the shared path, which is refused";
}

TEST_F(FileRecords, SystemAndUserFoldersStayEvenEmpty)
{
    World world("Carpetas");   // puts the user's "Programs" setting back afterwards
    std::string programFiles = dir / "Archivos de programa", programs = dir / "Programas";
    std::string own = programFiles + "\\Parlomatic";
    for (const std::string &d : {programFiles, programs, own}) {
        ASSERT_TRUE(CreateDirectoryA(d.c_str(), nullptr));
    }
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, "Programs", programs));
    char saved[MAX_PATH] = "";
    DWORD had = GetEnvironmentVariableA("ProgramFiles", saved, sizeof saved);
    SetEnvironmentVariableA("ProgramFiles", programFiles.c_str());
    ForgetProtectedFolders();
    std::string win = WindowsDir();
    std::string other = ThroughOtherDrive(win);
    ASSERT_TRUE(other.rfind("Z:\\", 0) == 0 && other.find(':', 2) == std::string::npos) << other;
    struct Case {
        std::string path;
        bool removable;
    } cases[] = {
        {programFiles, false},
        {programFiles + "\\", false},
        {ShortName(programFiles), false},
        {Respelled(own, '\\', '/') + "/..", false},
        {programs + ". ", false},
        {win, false},
        {win + "sysnative", false},
        {SystemDir(), false},
        {win + "Fonts", false},
        {"C:\\", false},
        {"D:/", false},
        {ThroughOtherDrive(win), false},
        {ThroughOtherDrive(programFiles), false},
        {ThroughOtherDrive("C:\\"), false},
        {own, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IsDirectoryRemovable(c.path.c_str()), c.removable ? 1 : 0);
        EXPECT_EQ(Directory(PHASE_STEP, c.path), c.removable ? 0 : WARN_DIRECTORY);
    }
    EXPECT_EQ(Directory(PHASE_END, ""), 0);
    SetEnvironmentVariableA("ProgramFiles", had ? saved : nullptr);
    EXPECT_FALSE(testfs::IsDir(own));
    EXPECT_TRUE(testfs::IsDir(programFiles));
    EXPECT_TRUE(testfs::IsDir(programs));
}

}  // namespace
