// Starting programs of the build machine from a test running under Wine.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Starts a Unix program named by its Z: path (Wine runs it natively). Its handle does not follow
// the Unix process, so callers wait for the program's effect instead of the process.
inline bool RunHost(const std::string &commandLine)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}
