// Starts and stops the Program Manager stand-in (progman_server.exe, named by the build in
// PROGMAN_SERVER_EXE) for the DDE tests, and reads its journal and state files.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dde/ddeclient_internal.h"
#include "support/run_host.h"
#include "support/tempdir.h"

namespace progman_test {

inline std::string ExeDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/"));
}

// The file's text; "" when it is not there (yet).
inline std::string ReadFileText(const std::string &file)
{
    std::string text = testfs::ReadBytes(file);
    return text == "<missing>" ? "" : text;
}

inline std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Journal lines as expected: commands exactly, the rest (item names from the global atom table,
// which keeps the first spelling of a name it holds) in any letter case.
inline ::testing::AssertionResult SameJournal(const std::vector<std::string> &expected,
                                              const std::vector<std::string> &actual)
{
    bool same = expected.size() == actual.size();
    for (size_t i = 0; same && i < expected.size(); i++) {
        if (expected[i].rfind("EXECUTE", 0) == 0)
            same = expected[i] == actual[i];
        else
            same = lstrcmpiA(expected[i].c_str(), actual[i].c_str()) == 0;
    }
    if (same)
        return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "journal differs; expected:";
    for (const std::string &l : expected)
        failure << "\n  " << l;
    failure << "\nactual:";
    for (const std::string &l : actual)
        failure << "\n  " << l;
    return failure;
}

// The hidden top-level window that stands in for the progress dialog, parent of the client's
// window; made once per process, as the dialog outlives every conversation.
inline HWND DialogStandIn()
{
    static HWND dialog;
    if (!dialog) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "DdeTestDialog";
        RegisterClassA(&wc);
        dialog = CreateWindowExA(0, wc.lpszClassName, "DDE test dialog", WS_OVERLAPPED, 0, 0,
                                 100, 100, nullptr, nullptr, wc.hInstance, nullptr);
    }
    return dialog;
}

// The DDE client's wait for an answer cut to ms for one scope, so that a test of a late or
// missing answer need not sit out the program's own limit.
struct ShortTimeLimit {
    explicit ShortTimeLimit(DWORD ms) { DdeSetTimeLimit(ms); }
    ~ShortTimeLimit() { DdeSetTimeLimit(0); }
    ShortTimeLimit(const ShortTimeLimit &) = delete;
    ShortTimeLimit &operator=(const ShortTimeLimit &) = delete;
};

// Services the queue for ms milliseconds (late server messages reach the client window).
inline void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        PumpMessages(DDE_PUMP_ALL);
        Sleep(5);
    }
}

class ServerProcess {
public:
    ServerProcess() = default;
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;
    ~ServerProcess() { Stop(); }

    // groups: seed lines "name<TAB>group file<TAB>item...". Returns false with a message.
    ::testing::AssertionResult Start(const std::vector<std::string> &options,
                                     const std::string &groups = "")
    {
        static int counter;
        char unique[64];
        wsprintfA(unique, "TestProgman-%lu-%d", GetCurrentProcessId(), ++counter);
        title_ = unique;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + unique;
        CreateDirectoryA(dir_.c_str(), nullptr);
        journal_ = dir_ + "\\journal.txt";
        state_ = dir_ + "\\state.txt";
        std::string seed = dir_ + "\\groups.txt";
        // Process ids come round again: a run that was cut short may have left its files.
        DeleteFileA(journal_.c_str());
        DeleteFileA(state_.c_str());
        testfs::WriteBytes(seed, groups);
        std::string cmd = "\"" + UnixToWine(PROGMAN_SERVER_EXE) + "\" --title " + title_ + " --journal \"" + journal_ +
                          "\" --state \"" + state_ + "\" --groups \"" + seed + "\"";
        hung_ = false;
        for (const std::string &o : options) {
            // "--late 1500" goes as written; a value of its own with a space is one argument.
            bool quote = o.find(' ') != std::string::npos && o[0] != '-';
            cmd += quote ? " \"" + o + "\"" : " " + o;
            hung_ = hung_ || o == "--hang";
        }
        std::string why;
        if (!StartProgram(cmd, CREATE_NO_WINDOW, &pi_, &why))
            return ::testing::AssertionFailure() << why;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 30000) {
            if (ReadFileText(journal_).find("READY") != std::string::npos) {
                window_ = FindWindowA("TestProgmanServer", title_.c_str());
                if (window_)
                    return ::testing::AssertionSuccess();
            }
            if (WaitForSingleObject(pi_.hProcess, 20) == WAIT_OBJECT_0)
                return ::testing::AssertionFailure() << "the test server exited at start";
        }
        return ::testing::AssertionFailure() << "the test server did not come up";
    }

    void Stop()
    {
        if (!pi_.hProcess)
            return;
        // A hung server takes no close request.
        if (window_ && !hung_)
            PostMessageA(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi_.hProcess, hung_ ? 0 : 5000) != WAIT_OBJECT_0)
            TerminateProcess(pi_.hProcess, 1);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
        pi_ = {};
        window_ = nullptr;
        DeleteFileA(journal_.c_str());
        DeleteFileA(state_.c_str());
        DeleteFileA((dir_ + "\\groups.txt").c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    HWND Window() const { return window_; }

    // Every message the server received, without its start line.
    std::vector<std::string> Journal() const
    {
        std::vector<std::string> lines = SplitLines(ReadFileText(journal_));
        if (!lines.empty() && lines[0].rfind("READY", 0) == 0)
            lines.erase(lines.begin());
        return lines;
    }

    // The server's start line: "READY acp=" and its ANSI code page.
    std::string StartLine() const
    {
        std::vector<std::string> lines = SplitLines(ReadFileText(journal_));
        return lines.empty() ? std::string() : lines[0];
    }

    // Journal lines beginning with prefix.
    std::vector<std::string> JournalOf(const std::string &prefix) const
    {
        std::vector<std::string> out;
        for (const std::string &l : Journal())
            if (l.rfind(prefix, 0) == 0)
                out.push_back(l);
        return out;
    }

    // Services the client's queue until the journal holds a line equal to line, or ms pass.
    bool WaitForJournalLine(const std::string &line, DWORD ms) const
    {
        DWORD start = GetTickCount();
        do {
            for (const std::string &l : Journal())
                if (l == line)
                    return true;
            PumpMessages(DDE_PUMP_ALL);
            Sleep(10);
        } while (GetTickCount() - start < ms);
        return false;
    }

    // Services the client's queue until the journal holds count lines beginning with prefix.
    bool WaitForCount(const std::string &prefix, size_t count, DWORD ms) const
    {
        DWORD start = GetTickCount();
        while (JournalOf(prefix).size() < count && GetTickCount() - start < ms) {
            PumpMessages(DDE_PUMP_ALL);
            Sleep(10);
        }
        return JournalOf(prefix).size() == count;
    }

    // The server's groups after its last command: "active=NAME", then one line per group.
    std::vector<std::string> State() const { return SplitLines(ReadFileText(state_)); }

private:
    PROCESS_INFORMATION pi_ = {};
    HWND window_ = nullptr;
    bool hung_ = false;
    std::string title_, dir_, journal_, state_;
};

}  // namespace progman_test
