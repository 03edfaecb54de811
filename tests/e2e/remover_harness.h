// Driving the real remover.exe as a child process: starting it under an emulated Windows
// version, watching its windows from outside, answering its boxes, taking screenshots of the
// X display, and checking the Windows directory for files it must not leave behind.
#pragma once

#include "support/run_host.h"
#include "support/tempdir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace e2e {

using ::UnixToWine;
using testfs::Exists;
using testfs::SystemDir;
using testfs::WindowsDir;

inline bool HaveDisplay()
{
    char display[64] = "";
    return GetEnvironmentVariableA("DISPLAY", display, sizeof display) > 0;
}

// Names in the Windows directory that remover's temporary files would have.
inline std::vector<std::string> LeftoverTempFiles()
{
    std::vector<std::string> found;
    for (const char *pattern : {"_detmp.*", "_dejrn.*", "_bmp23_.bm_"}) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((WindowsDir() + pattern).c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        do
            found.push_back(fd.cFileName);
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    return found;
}

// Saves the whole X screen as a PNG at unixPath. The screen is grabbed at once (xwd, retried
// when a window vanishing under it makes the grab fail) and converted afterwards; the handle of
// a Unix process does not follow it, so the picture is written under a temporary name and
// renamed when complete. WaitForScreenshot waits for that.
inline bool StartScreenshot(const std::string &unixPath)
{
    if (!HaveDisplay())
        return false;
    DeleteFileA(UnixToWine(unixPath).c_str());
    std::string q = "'" + unixPath;
    std::string script = "for i in 1 2 3 4 5; do xwd -root -silent >" + q + ".xwd' 2>>" + q +
                         ".log' && break; sleep 0.05; done; /usr/bin/convert xwd:" + q +
                         ".xwd' png:" + q + ".part' 2>>" + q + ".log' && mv " + q + ".part' " +
                         q + "' && rm -f " + q + ".xwd' " + q + ".log'";
    return RunHost("Z:\\bin\\sh -c \"" + script + "\"");
}

inline ::testing::AssertionResult WaitForScreenshot(const std::string &unixPath)
{
    for (int waited = 0; waited < 30000; waited += 50) {
        if (Exists(UnixToWine(unixPath)))
            return ::testing::AssertionSuccess();
        Sleep(50);
    }
    return ::testing::AssertionFailure() << "no screenshot at " << unixPath << " (see "
                                         << unixPath << ".log)";
}

inline ::testing::AssertionResult Screenshot(const std::string &unixPath)
{
    if (!StartScreenshot(unixPath))
        return ::testing::AssertionFailure() << "cannot start the screenshot command";
    return WaitForScreenshot(unixPath);
}

// The Windows version a program (remover.exe unless named) sees through Wine's per-program
// emulation; removed again on destruction.
class VersionEmulation {
public:
    explicit VersionEmulation(const char *version, const std::string &program = "remover.exe")
        : key_(std::string(APP_DEFAULTS) + program)
    {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version),
                           DWORD(lstrlenA(version) + 1));
            RegCloseKey(key);
        }
    }
    ~VersionEmulation()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueA(key, "Version");
            RegCloseKey(key);
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());  // only when nothing else is set below it
    }
    VersionEmulation(const VersionEmulation &) = delete;
    VersionEmulation &operator=(const VersionEmulation &) = delete;

    static constexpr const char *APP_DEFAULTS = "Software\\Wine\\AppDefaults\\";
    static constexpr const char *KEY_PATH = "Software\\Wine\\AppDefaults\\remover.exe";

private:
    std::string key_;
};

// Makes remover.exe load the native library of that name (found beside the program) instead of
// Wine's own; removed again on destruction.
class NativeDll {
public:
    explicit NativeDll(const char *name) : name_(name)
    {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, SubKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>("native"), 7);
            RegCloseKey(key);
        }
    }
    ~NativeDll()
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, SubKey().c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, VersionEmulation::KEY_PATH);
    }
    NativeDll(const NativeDll &) = delete;
    NativeDll &operator=(const NativeDll &) = delete;

private:
    static std::string SubKey() { return std::string(VersionEmulation::KEY_PATH) + "\\DllOverrides"; }
    std::string name_;
};

inline std::wstring WindowText(HWND window)
{
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

inline std::wstring ClassName(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

// Top-level windows of process pid (every one, or only the visible ones).
inline std::vector<HWND> ProcessWindows(DWORD pid, bool visibleOnly)
{
    // A named CALLBACK, not a lambda: on x86 the callback must be stdcall.
    struct Search {
        DWORD pid;
        bool visibleOnly;
        std::vector<HWND> found;
        static BOOL CALLBACK Each(HWND w, LPARAM p)
        {
            Search *s = reinterpret_cast<Search *>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == s->pid && (!s->visibleOnly || IsWindowVisible(w)))
                s->found.push_back(w);
            return TRUE;
        }
    } search{pid, visibleOnly, {}};
    EnumWindows(Search::Each, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A visible top-level window of pid with that class (and caption, when given), or null.
inline HWND FindProcessWindow(DWORD pid, const wchar_t *cls, const wchar_t *caption = nullptr)
{
    for (HWND w : ProcessWindows(pid, true))
        if (ClassName(w) == cls && (!caption || WindowText(w) == caption))
            return w;
    return nullptr;
}

// A message box of pid (a dialog with the static text control 0xFFFF), or null.
// The visible dialog of process pid that has the control id (what tells remover's dialogs
// apart), or null.
inline HWND FindDialogWith(DWORD pid, int id)
{
    for (HWND w : ProcessWindows(pid, true))
        if (ClassName(w) == L"#32770" && GetDlgItem(w, id))
            return w;
    return nullptr;
}

inline HWND FindMessageBox(DWORD pid)
{
    for (HWND w : ProcessWindows(pid, true))
        if (ClassName(w) == L"#32770" && GetDlgItem(w, 0xFFFF))
            return w;
    return nullptr;
}

inline std::wstring MessageBoxText(HWND box)
{
    wchar_t text[1024] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

// Presses a button of a dialog of another process.
inline void Press(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    DWORD_PTR result;
    SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
}

// remover.exe running as a child process; ended by force if a test leaves it running.
class Remover {
public:
    Remover() = default;
    Remover(const Remover &) = delete;
    Remover &operator=(const Remover &) = delete;
    ~Remover()
    {
        if (pi_.hProcess) {
            if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(pi_.hProcess, 99);
                WaitForSingleObject(pi_.hProcess, 5000);
            }
            CloseHandle(pi_.hProcess);
            CloseHandle(pi_.hThread);
        }
    }

    // Starts exe with the arguments (a whole command line when exe is empty).
    ::testing::AssertionResult Start(const std::string &exe, const std::string &arguments)
    {
        std::string line = exe.empty() ? arguments : "\"" + exe + "\" " + arguments;
        std::string why;
        if (!StartProgram(line, 0, &pi_, &why, &start_))
            return ::testing::AssertionFailure() << why;
        return ::testing::AssertionSuccess();
    }

    // Ends the process by force when it still runs.
    void Kill()
    {
        if (pi_.hProcess && Running()) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
    }

    DWORD Pid() const { return pi_.dwProcessId; }
    DWORD ThreadId() const { return pi_.dwThreadId; }
    DWORD Elapsed() const { return GetTickCount() - start_; }
    bool Running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

    // Waits up to ms for the end of the process, noting any window it shows meanwhile.
    // True when it ended; exitCode and runTime then say how and when.
    bool WaitForExit(DWORD ms)
    {
        DWORD begin = GetTickCount();
        for (;;) {
            for (HWND w : ProcessWindows(pi_.dwProcessId, true))
                shown_.push_back(ClassName(w) + L" \"" + WindowText(w) + L"\"");
            if (WaitForSingleObject(pi_.hProcess, 10) == WAIT_OBJECT_0)
                break;
            if (GetTickCount() - begin >= ms)
                return false;
        }
        runTime = GetTickCount() - start_;
        GetExitCodeProcess(pi_.hProcess, &exitCode);
        return true;
    }

    // Waits up to ms for a visible window found by find(pid); null when none came.
    template <class Find>
    HWND WaitForWindow(Find find, DWORD ms)
    {
        DWORD begin = GetTickCount();
        do {
            HWND w = find(pi_.dwProcessId);
            if (w)
                return w;
            if (!Running())
                return nullptr;
            Sleep(5);
        } while (GetTickCount() - begin < ms);
        return nullptr;
    }

    // Every visible window seen by WaitForExit, as "class "caption"".
    const std::vector<std::wstring> &Shown() const { return shown_; }

    DWORD exitCode = STILL_ACTIVE;
    DWORD runTime = 0;

private:
    PROCESS_INFORMATION pi_ = {};
    DWORD start_ = 0;
    std::vector<std::wstring> shown_;
};

// Answers the first message box r shows (its confirmation) with Yes.
inline ::testing::AssertionResult AnswerYes(Remover &r)
{
    HWND box = r.WaitForWindow(FindMessageBox, 20000);
    if (!box)
        return ::testing::AssertionFailure() << "no confirmation box";
    Press(box, IDYES);
    return ::testing::AssertionSuccess();
}

// Text id of the string table of the program at exe, as it would load it; "" when it has none.
inline std::wstring ProgramText(const std::string &exe, UINT id)
{
    wchar_t text[512] = L"";
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module) {
        LoadStringW(module, id, text, 512);
        FreeLibrary(module);
    }
    return text;
}

}  // namespace e2e
