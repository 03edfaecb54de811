// instalar on a test medium: a drive letter of the Wine prefix is pointed at a folder laid out
// like the distribution medium, and the launcher is started there as a user would.
#include "launcher/lanzador.h"
#include "support/run_host.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char MEDIUM_DIR[] = "C:\\lanzador-medium";
const char MEDIUM_TAG[] = "lanzador-medium.tag";
const char RECORD_FILE[] = "C:\\lanzador-record.txt";

std::string UnixToWine(const std::string &unixPath)
{
    std::string p = "Z:" + unixPath;
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string Env(const char *name)
{
    char buf[1024];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

struct Box {
    DWORD pid;
    std::string text;
    bool seen;
};

BOOL CALLBACK CollectText(HWND child, LPARAM param)
{
    char cls[32];
    char text[1024];
    if (GetClassNameA(child, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0 &&
        GetWindowTextA(child, text, sizeof text) > 0)
        reinterpret_cast<Box *>(param)->text += text;
    return TRUE;
}

// Answers the launcher's message box, keeping its text.
BOOL CALLBACK AnswerBox(HWND w, LPARAM param)
{
    Box *box = reinterpret_cast<Box *>(param);
    DWORD pid = 0;
    char cls[32];
    GetWindowThreadProcessId(w, &pid);
    if (pid != box->pid || !GetClassNameA(w, cls, sizeof cls) || lstrcmpA(cls, "#32770") != 0 ||
        !IsWindowVisible(w))
        return TRUE;
    if (!box->seen) {
        box->seen = true;
        EnumChildWindows(w, CollectText, param);
    }
    PostMessageA(w, WM_COMMAND, IDOK, 0);
    return TRUE;
}

struct Outcome {
    bool launched = false;
    bool exited = false;
    DWORD exitCode = 0;
    bool boxShown = false;
    std::string boxText;
    bool started = false;
    std::string module, current, commandLine;
};

class Launcher : public testing::Test {
protected:
    static char letter;
    static bool ready;
    static std::string failure;

    static void SetUpTestSuite()
    {
        std::string prefix = Env("WINEPREFIX");
        if (prefix.empty()) {
            failure = "not running under Wine (no WINEPREFIX)";
            return;
        }
        std::error_code ec;
        fs::remove_all(MEDIUM_DIR, ec);
        const char *dirs[] = {"", "\\parlomatic", "\\A", "\\A\\parlomatic", "\\B", "\\Bparlomatic",
                              "\\C", "\\Cparlomatic"};
        for (const char *d : dirs)
            fs::create_directories(std::string(MEDIUM_DIR) + d, ec);
        std::string fake = UnixToWine(LANZADOR_FAKE_SETUP);
        std::string launcher = UnixToWine(LANZADOR_INSTALAR);
        // A decoy beside the launcher proves that only the product folder's program is started.
        const char *setups[] = {"\\setup.exe", "\\parlomatic\\setup.exe",
                                "\\A\\parlomatic\\setup.exe", "\\Cparlomatic\\setup.exe"};
        bool copied = CopyFileA(launcher.c_str(), (std::string(MEDIUM_DIR) + "\\instalar.exe").c_str(),
                                FALSE);
        for (const char *s : setups)
            copied = copied && CopyFileA(fake.c_str(), (std::string(MEDIUM_DIR) + s).c_str(), FALSE);
        std::ofstream(std::string(MEDIUM_DIR) + "\\" + MEDIUM_TAG) << "test medium\n";
        if (!copied) {
            failure = "could not lay out the test medium from " + launcher + " and " + fake;
            return;
        }

        // A free letter, or one left mapped to our medium by an earlier run.
        DWORD drives = GetLogicalDrives();
        for (char l = 'P'; l <= 'W' && !letter; l++) {
            std::string tag = std::string(1, l) + ":\\" + MEDIUM_TAG;
            if (!(drives & (1u << (l - 'A'))) || GetFileAttributesA(tag.c_str()) != INVALID_FILE_ATTRIBUTES)
                letter = l;
        }
        if (!letter) {
            failure = "no free drive letter between P: and W:";
            return;
        }
        std::string link = prefix + "/dosdevices/" + char(letter - 'A' + 'a') + ":";
        RunHost("Z:\\bin\\ln -sfn \"" + prefix + "/drive_c/lanzador-medium\" \"" + link + "\"");
        std::string tag = std::string(1, letter) + ":\\" + MEDIUM_TAG;
        for (int waited = 0; waited < 10000; waited += 50) {
            if (GetFileAttributesA(tag.c_str()) != INVALID_FILE_ATTRIBUTES)
                break;
            Sleep(50);
        }
        if (GetFileAttributesA(tag.c_str()) == INVALID_FILE_ATTRIBUTES) {
            failure = "could not map " + std::string(1, letter) + ": with " + link;
            return;
        }
        SetEnvironmentVariableA("LANZADOR_TEST_RECORD", RECORD_FILE);
        ready = true;
    }

    static void TearDownTestSuite()
    {
        std::string prefix = Env("WINEPREFIX");
        if (letter && !prefix.empty())
            RunHost("Z:\\bin\\rm -f \"" + prefix + "/dosdevices/" + char(letter - 'A' + 'a') + ":\"");
        std::error_code ec;
        fs::remove_all(MEDIUM_DIR, ec);
        DeleteFileA(RECORD_FILE);
    }

    void SetUp() override
    {
        if (!ready)
            FAIL() << failure;
    }

    std::string Root() const { return std::string(1, letter) + ":\\"; }

    static Outcome Run(const std::string &current, const std::string &arguments)
    {
        Outcome out;
        DeleteFileA(RECORD_FILE);
        std::string app = std::string(1, letter) + ":\\instalar.exe";
        std::string cmdText = "instalar.exe" + arguments;
        std::vector<char> cmd(cmdText.begin(), cmdText.end());
        cmd.push_back('\0');
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi;
        if (!CreateProcessA(app.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            current.c_str(), &si, &pi))
            return out;
        out.launched = true;
        Box box = {pi.dwProcessId, std::string(), false};
        for (int waited = 0; waited < 20000; waited += 50) {
            if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) {
                out.exited = true;
                break;
            }
            EnumWindows(AnswerBox, reinterpret_cast<LPARAM>(&box));
        }
        GetExitCodeProcess(pi.hProcess, &out.exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        out.boxShown = box.seen;
        out.boxText = box.text;
        ReadRecord(out);
        return out;
    }

    // The setup program runs on its own after the launcher has gone: give it time to write.
    static void ReadRecord(Outcome &out)
    {
        for (int waited = 0; waited < 4000; waited += 50) {
            if (GetFileAttributesA(RECORD_FILE) != INVALID_FILE_ATTRIBUTES)
                break;
            Sleep(50);
        }
        Sleep(200);
        std::ifstream record(RECORD_FILE);
        if (record && std::getline(record, out.module) && std::getline(record, out.current) &&
            std::getline(record, out.commandLine))
            out.started = true;
    }
};

char Launcher::letter = 0;
bool Launcher::ready = false;
std::string Launcher::failure;

TEST(LanzadorTarget, AppendsTheProductFolderWithoutSeparator)
{
    std::string longDir = "D:\\" + std::string(245, 'x');     // 248 bytes: the result just fits
    struct Case {
        std::string current;
        size_t size;
        int result;
        std::string target;
    } cases[] = {
        {"D:\\", MAX_PATH, 0, "D:\\parlomatic\\"},
        {"D:\\A", MAX_PATH, 0, "D:\\Aparlomatic\\"},
        {"D:\\cours\\", MAX_PATH, 0, "D:\\cours\\parlomatic\\"},
        {"\\\\serveur\\cd\\", MAX_PATH, 0, "\\\\serveur\\cd\\parlomatic\\"},
        {longDir, MAX_PATH, 0, longDir + "parlomatic\\"},
        {longDir + "y", MAX_PATH, -1, ""},                          // would need 261 bytes
        {"D:\\", 14, -1, ""},                                       // no room for the terminator
        {"D:\\", 15, 0, "D:\\parlomatic\\"},
        {"D:\\", 1, -1, ""},
    };
    for (const Case &c : cases) {
        char target[MAX_PATH + 8];
        memset(target, '#', sizeof target);
        EXPECT_EQ(c.result, LanzadorFormTarget(c.current.c_str(), target, c.size)) << c.current;
        EXPECT_EQ(c.target, std::string(target)) << c.current;
        EXPECT_EQ('#', target[c.size]) << "wrote past the buffer for " << c.current;
    }
}

BOOL CALLBACK CountName(HMODULE, LPCSTR, LPSTR, LONG_PTR param)
{
    ++*reinterpret_cast<int *>(param);
    return TRUE;
}

TEST(Instalar, CarriesOneIconGroupOfThreeImagesAndItsTexts)
{
    std::string path = UnixToWine(LANZADOR_INSTALAR);
    HMODULE m = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, m) << path;
    int icons = 0, groups = 0;
    EnumResourceNamesA(m, RT_ICON, CountName, reinterpret_cast<LONG_PTR>(&icons));
    EnumResourceNamesA(m, RT_GROUP_ICON, CountName, reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(3, icons);
    EXPECT_EQ(1, groups);
    const int ids[] = {LANZADOR_IDS_CAPTION, LANZADOR_IDS_NO_FOLDER, LANZADOR_IDS_NO_SETUP,
                       LANZADOR_IDS_BAD_PATH};
    for (int id : ids) {
        char text[512];
        int n = LoadStringA(m, id, text, sizeof text);
        EXPECT_GT(n, 0) << "text " << id;
        if (id != LANZADOR_IDS_CAPTION) {
            EXPECT_NE(nullptr, strstr(text, "%s")) << "text " << id << " names the folder";
        }
    }
    FreeLibrary(m);
}

TEST_F(Launcher, StartsSetupInTheProductFolderOnlyFromTheRoot)
{
    const std::string r = Root();
    struct Case {
        std::string current, arguments;
        bool starts;
        std::string module, directory, boxMentions;
    } cases[] = {
        {r, "", true, r + "parlomatic\\setup.exe", r + "parlomatic", ""},
        {r, " -f C:\\autre\\setup.exe /a \"D:\\\"", true, r + "parlomatic\\setup.exe",
         r + "parlomatic", ""},
        // From a sub-folder the product folder is missed, even when one exists below it.
        {r + "A", "", false, "", "", r + "Aparlomatic\\"},
        {r + "A", " /quiet", false, "", "", r + "Aparlomatic\\"},
        // The joined name is entered as it is: a folder of that very name is used...
        {r + "C", "", true, r + "Cparlomatic\\setup.exe", r + "Cparlomatic", ""},
        // ...and without a setup program there, the one beside the launcher is not taken instead.
        {r + "B", "", false, "", "", r + "Bparlomatic\\"},
    };
    bool display = !Env("DISPLAY").empty();
    for (const Case &c : cases) {
        SCOPED_TRACE("from " + c.current + " with arguments '" + c.arguments + "'");
        Outcome o = Run(c.current, c.arguments);
        ASSERT_TRUE(o.launched) << "could not start the launcher, error " << GetLastError();
        ASSERT_TRUE(o.exited) << "the launcher did not end";
        EXPECT_EQ(0u, o.exitCode);
        EXPECT_EQ(c.starts, o.started) << "setup started as " << o.module;
        if (c.starts) {
            EXPECT_EQ(c.module, o.module);
            EXPECT_EQ(c.directory, o.current);
            EXPECT_EQ("setup.exe", o.commandLine) << "arguments must not be passed on";
            EXPECT_FALSE(o.boxShown) << o.boxText;
        } else if (display) {
            EXPECT_TRUE(o.boxShown) << "a failure must be reported";
            EXPECT_NE(std::string::npos, o.boxText.find(c.boxMentions)) << o.boxText;
        }
    }
}

// Wine starts every program elevated, so the system's refusal is played by these stand-ins.
BOOL WINAPI RefuseNeedingElevation(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                   BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA,
                                   LPPROCESS_INFORMATION)
{
    SetLastError(740);   // ERROR_ELEVATION_REQUIRED
    return FALSE;
}

BOOL WINAPI RefuseAsMissing(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                            DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

TEST_F(Launcher, HandsOnlyASetupNeedingElevationToTheShell)
{
    const std::string r = Root();
    struct Case {
        decltype(&CreateProcessA) create;
        int result;
        bool starts;
    } cases[] = {
        {RefuseNeedingElevation, LANZADOR_STARTED, true},
        {RefuseAsMissing, LANZADOR_ERR_START, false},
    };
    char saved[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(sizeof saved, saved));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.starts ? "elevation required" : "file not found");
        DeleteFileA(RECORD_FILE);
        ASSERT_TRUE(SetCurrentDirectoryA(r.c_str()));
        int result = LanzadorLoadWith(c.create);
        SetCurrentDirectoryA(saved);
        EXPECT_EQ(c.result, result);
        Outcome o;
        ReadRecord(o);
        EXPECT_EQ(c.starts, o.started) << "setup started as " << o.module;
        if (c.starts) {
            EXPECT_EQ(r + "parlomatic\\setup.exe", o.module);
            EXPECT_EQ(r + "parlomatic", o.current);
        }
    }
}

} // namespace
