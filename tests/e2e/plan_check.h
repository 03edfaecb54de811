// Plans checked against the removals they foretell: remover -n run just before the real run of
// a scenario, with the machine's state (the disk and the registry a removal touches) taken
// before and after it, and its report set beside the removal's, line by line.
#pragma once

#include "e2e/remover_harness.h"
#include "engine/report.h"
#include "progman/server_control.h"
#include "support/pending_restart.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace e2e {

// Names, sizes and write times below dir, one line each.
inline void ListTree(const std::string &dir, int depth, std::string *out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        *out += dir + "\\" + name + " " + std::to_string(fd.nFileSizeLow) + " " +
                std::to_string(fd.ftLastWriteTime.dwLowDateTime) + "\r\n";
        if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && depth > 0)
            ListTree(dir + "\\" + name, depth - 1, out);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// Every key and value below root\path, with its data.
inline void DumpKey(HKEY root, const std::string &path, std::string *out)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    *out += "[" + path + "]\r\n";
    char name[1024];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        *out += std::string(name) + "=" + std::to_string(type) + ":" +
                std::string(reinterpret_cast<char *>(data), dataSize) + "\r\n";
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string &s : subkeys)
        if (path + "\\" + s != "Software\\Wine")   // Wine's own settings come and go
            DumpKey(root, path + "\\" + s, out);
}

// What a removal could change: the folders given (two levels down), the Windows directory, the
// product registry of both hives, the shared counts, uninstall entries and pending deletions.
inline std::string MachineState(const std::vector<std::string> &dirs)
{
    std::string out;
    for (const std::string &d : dirs)
        ListTree(d, 2, &out);
    std::string windows = WindowsDir();
    ListTree(windows.substr(0, windows.size() - 1), 0, &out);
    DumpKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", &out);
    DumpKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", &out);
    DumpKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", &out);
    DumpKey(HKEY_CURRENT_USER, "Software", &out);
    for (const char *company : {"Software\\ParloE2E Co", "Software\\Microsoft\\Windows NT"})
        DumpKey(HKEY_LOCAL_MACHINE, company, &out);
    for (const std::string &p : restarttest::PendingDeletions())
        out += "pending " + p + "\r\n";
    out += restarttest::ReadText(restarttest::WininitPath());
    return out;
}

// The lines only one of the two states holds, marked - and +.
inline std::string LineDifference(const std::string &before, const std::string &after)
{
    std::vector<std::string> a = progman_test::SplitLines(before),
                             b = progman_test::SplitLines(after);
    std::string out;
    for (const std::string &line : a)
        if (std::find(b.begin(), b.end(), line) == b.end())
            out += "- " + line + "\r\n";
    for (const std::string &line : b)
        if (std::find(a.begin(), a.end(), line) == a.end())
            out += "+ " + line + "\r\n";
    return out;
}

// A plan taken, and what it left of the machine.
struct PlanRun {
    std::vector<std::string> lines;   // its report
    DWORD exitCode = 0;
    bool unchanged = false;
};

// Runs remover -n with the arguments of the removal to come (without -l) and a report of its
// own, unattended.
inline ::testing::AssertionResult TakePlan(const std::string &exe, const std::string &arguments,
                                           const std::vector<std::string> &dirs, PlanRun *plan)
{
    const std::string report = "C:\\parloe2e-plan.txt";
    DeleteFileA(report.c_str());
    std::string before = MachineState(dirs);
    Remover r;
    // Unattended: an interactive plan would wait in its window; the decisions are the same.
    if (!r.Start(exe, "-a -n " + arguments + " -l\"" + report + "\""))
        return ::testing::AssertionFailure() << "the plan did not start";
    if (!r.WaitForExit(60000))
        return ::testing::AssertionFailure() << "the plan did not end";
    plan->exitCode = r.exitCode;
    plan->lines = progman_test::SplitLines(progman_test::ReadFileText(report));
    DeleteFileA(report.c_str());
    std::string after = MachineState(dirs);
    plan->unchanged = before == after;
    if (!plan->unchanged)
        return ::testing::AssertionFailure() << "the plan changed the machine:\n"
                                             << LineDifference(before, after);
    return ::testing::AssertionSuccess();
}

// The plan said, record by record and in its tense, what the removal then reported, and ended
// with the same status. The headings (title, date) are not compared.
inline void ExpectPlanFits(const PlanRun &plan, const std::vector<std::string> &report,
                           DWORD exitCode)
{
    EXPECT_EQ(exitCode, plan.exitCode) << "the plan foretold another exit status";
    std::vector<std::string> foretold;
    for (size_t i = 6; i < report.size() && report[i].rfind("Result: ", 0) != 0; ++i) {
        const std::string &line = report[i];
        std::string expected = line;
        // The result follows the name's ": "; a name may hold ": " itself, so each is tried.
        for (size_t at = line.find(": ", 15); at != std::string::npos; at = line.find(": ", at + 1)) {
            char future[1024];
            ReportFutureTense(line.c_str() + at + 2, future, sizeof future);
            std::string candidate = line.substr(0, at + 2) + future;
            if (i < plan.lines.size() && candidate == plan.lines[i]) {
                expected = candidate;
                break;
            }
        }
        foretold.push_back(expected);
    }
    std::vector<std::string> planned;
    for (size_t i = 6; i < plan.lines.size() && plan.lines[i].rfind("Result: ", 0) != 0; ++i)
        planned.push_back(plan.lines[i]);
    EXPECT_FALSE(planned.empty()) << "the plan said nothing";
    EXPECT_EQ(foretold.size(), planned.size()) << "the plan and the removal name other records";
    for (size_t i = 0; i < foretold.size() && i < planned.size(); ++i)
        EXPECT_EQ(foretold[i], planned[i]) << "the plan and the removal disagree";
}

}  // namespace e2e
