// Naming the running programs that hold a file: two copies of a helper program hold a copied
// library, one loading it by its long name and one by its 8.3 name, and the test asks about the
// program, the library under several spellings, and an unheld file of the same name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/holders.h"
#include "support/run_host.h"
#include "support/spellings.h"
#include "support/tempdir.h"

namespace {

const char APP_NAME[] = "holderapp.exe";
const char LIBRARY_NAME[] = "holder library.dll";   // long, so that it has another 8.3 name

std::string ShortPath(const std::string &path)
{
    char brief[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(path.c_str(), brief, MAX_PATH);
    return n > 0 && n < MAX_PATH ? brief : "";
}

class Holders : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = dir / APP_NAME;
        library = dir / LIBRARY_NAME;
        unheld = dir / ("other\\" + std::string(LIBRARY_NAME));
        testfs::MakeDirs(dir / "other");
        const std::string dll = UnixToWine(HOLDERS_DLL);
        ASSERT_TRUE(CopyFileA(UnixToWine(HOLDERS_CHILD_EXE).c_str(), app.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(dll.c_str(), library.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(dll.c_str(), unheld.c_str(), FALSE));
        ASSERT_NE(ShortPath(library), library) << "the library needs an 8.3 name of its own";
        for (const std::string &spelling : {library, ShortPath(library)})
            ASSERT_NO_FATAL_FAILURE(StartHolder(spelling));
    }
    void TearDown() override
    {
        for (PROCESS_INFORMATION &pi : children) {
            TerminateProcess(pi.hProcess, 0);
            WaitForSingleObject(pi.hProcess, 5000);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }

    void StartHolder(const std::string &dll)
    {
        std::string event = "RemoverHoldersTest" + std::to_string(GetCurrentProcessId()) + "_" +
                            std::to_string(children.size());
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        PROCESS_INFORMATION pi;
        std::string why;
        ASSERT_TRUE(StartProgram("\"" + app + "\" \"" + dll + "\" " + event, 0, &pi, &why)) << why;
        children.push_back(pi);
        HANDLE either[2] = {ready, pi.hProcess};
        DWORD woke = WaitForMultipleObjects(2, either, FALSE, 20000);
        CloseHandle(ready);
        ASSERT_EQ(woke, WAIT_OBJECT_0) << "the helper did not load " << dll;
    }

    testfs::TempDir dir;   // outlives the children: removed after they end
    std::string app, library, unheld;
    std::vector<PROCESS_INFORMATION> children;
};

struct Source {
    const char *name;
    int from;
};

const Source SOURCES[] = {
    {"any", HOLDERS_FROM_ANY},
    {"Toolhelp32", HOLDERS_FROM_TOOLHELP},
    {"process status library", HOLDERS_FROM_PSAPI},
};

TEST_F(Holders, EachSourceNamesTheProgramsHoldingAFileWhateverItsSpelling)
{
    // This process holding the library too is never named.
    HMODULE own = LoadLibraryA(library.c_str());
    ASSERT_TRUE(own);
    const std::vector<DWORD> both = {children[0].dwProcessId, children[1].dwProcessId};
    const struct {
        std::string path;
        std::vector<DWORD> pids;
    } cases[] = {
        {app, both},
        {library, both},
        {ShortPath(library), both},
        {spell::Respelled(library, '\\', '/'), both},
        {spell::ThroughOtherDrive(library), both},
        {unheld, {}},   // same name, another file
        {dir / "missing.dll", {}},
    };
    for (const Source &source : SOURCES) {
        HolderSnapshot *s = HoldersTakeFrom(source.from);
        ASSERT_TRUE(s) << source.name;
        for (const auto &c : cases) {
            Holder out[4] = {};
            int n = HoldersFind(s, c.path.c_str(), out, 4);
            std::vector<DWORD> pids;
            for (int i = 0; i < n && i < 4; ++i)
                pids.push_back(out[i].pid);
            std::sort(pids.begin(), pids.end());
            std::vector<DWORD> expected = c.pids;
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(pids, expected) << source.name << ": " << c.path;
            for (int i = 0; i < n && i < 4; ++i)
                EXPECT_STREQ(out[i].exe, APP_NAME) << source.name << ": " << c.path;
        }
        HoldersFree(s);
    }
    FreeLibrary(own);
}

TEST_F(Holders, MaxBoundsWhatIsFilledNotTheCount)
{
    HolderSnapshot *s = HoldersTake();
    ASSERT_TRUE(s);
    Holder out[2] = {};
    out[1].pid = 12345;
    EXPECT_EQ(HoldersFind(s, library.c_str(), out, 1), 2);
    EXPECT_NE(out[0].pid, 0u);
    EXPECT_EQ(out[1].pid, 12345u) << "written past max";
    EXPECT_EQ(HoldersFind(s, library.c_str(), nullptr, 0), 2);
    HoldersFree(s);
}

TEST_F(Holders, TheRestartManagerNamesOnlyTheHoldersItKnows)
{
    // Wine's restart manager is a stub that names nobody; where it answers, it names the helpers.
    Holder out[4] = {};
    int n = HoldersAskRestartManager(library.c_str(), out, 4);
    if (n == 0)
        GTEST_SKIP() << "the restart manager here names nobody (Wine's is a stub)";
    for (int i = 0; i < n && i < 4; ++i)
        EXPECT_TRUE(out[i].pid == children[0].dwProcessId || out[i].pid == children[1].dwProcessId)
            << out[i].pid << " " << out[i].exe;
}

// A 64-bit program seen from a 32-bit process, which may not read its modules: its file is named
// through the folder it runs from ("sysnative" there), never through "system32", which names
// another file of the same name for a 32-bit process.
TEST(HoldersOfSystemPrograms, AProgramIsNamedOnlyThroughTheFolderItRunsFrom)
{
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    const std::string system32 = testfs::WindowsDir() + "system32\\services.exe";
    const std::string native = wow64 ? testfs::WindowsDir() + "sysnative\\services.exe" : system32;
    HolderSnapshot *s = HoldersTake();
    ASSERT_TRUE(s);
    Holder out[1] = {};
    EXPECT_EQ(HoldersFind(s, native.c_str(), out, 1), 1) << native;
    EXPECT_STREQ(out[0].exe, "services.exe");
    EXPECT_EQ(HoldersFind(s, system32.c_str(), out, 1), wow64 ? 0 : 1) << system32;
    HoldersFree(s);
}

}  // namespace
