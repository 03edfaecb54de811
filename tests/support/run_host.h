// The build machine seen from a test running under Wine: its paths, and starting programs (the
// build's own helpers and the machine's).
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// A path of the build machine as Wine sees it (Z: is the Unix root).
inline std::string UnixToWine(const std::string &unixPath)
{
    std::string p = "Z:" + unixPath;
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}

// The system's text for an error number, on one line.
inline std::string SystemErrorText(DWORD error)
{
    char text[512] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof text, nullptr);
    while (n && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' '))
        text[--n] = '\0';
    return "system error " + std::to_string(error) + (n ? " (" + std::string(text) + ")" : "");
}

// CreateProcessA on commandLine, tried a second time after a pause: Wine has refused a start
// once on an unloaded machine (error 1359) and then started the same line. On failure, *why says
// what was started and what the system answered each time; *startedAt is the tick count just
// before the attempt that took.
inline bool StartProgram(const std::string &commandLine, DWORD flags, PROCESS_INFORMATION *pi,
                         std::string *why = nullptr, DWORD *startedAt = nullptr)
{
    std::string errors;
    for (int attempt = 0; attempt < 2; attempt++) {
        if (attempt)
            Sleep(500);
        std::vector<char> cmd(commandLine.begin(), commandLine.end());
        cmd.push_back('\0');
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (startedAt)
            *startedAt = GetTickCount();
        if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                           &si, pi)) {
            if (attempt)
                std::fprintf(stderr, "started on the second try: %s (first: %s)\n",
                             commandLine.c_str(), errors.c_str());
            return true;
        }
        errors += (attempt ? "; then " : "") + SystemErrorText(GetLastError());
    }
    if (why)
        *why = "cannot start " + commandLine + ": " + errors;
    return false;
}

// Starts a Unix program named by its Z: path (Wine runs it natively). Its handle does not follow
// the Unix process, so callers wait for the program's effect instead of the process.
inline bool RunHost(const std::string &commandLine)
{
    PROCESS_INFORMATION pi;
    std::string why;
    if (!StartProgram(commandLine, 0, &pi, &why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}
