// The removal report (see report.h) and the exit status of a reported error.
#include "engine/report.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "base/path.h"
#include "engine/engine.h"
#include "engine/exitcode.h"
#include "base/platform.h"
#include "remover_version.h"

constexpr int REPORT_LINE_SIZE = 2 * PATH_SIZE + 600;
constexpr int REPORT_ERROR_SIZE = 300;

struct OutcomeText {
    int outcome;
    const char *text;   // "%lu" takes the detail where it has one
    int remains;        // what the log named stays, and no restart removes it
};

static const OutcomeText OUTCOME_TEXTS[] = {
    {OUTCOME_REMOVED, "removed", 0},
    {OUTCOME_GONE, "already gone", 0},
    {OUTCOME_EARLIER, "handled by an earlier run", 0},
    {OUTCOME_SHARED, "kept, still counted by %lu other product(s)", 0},
    {OUTCOME_FOLDER_HOLDS, "kept, folder holds other files", 1},
    {OUTCOME_GROUP_HOLDS, "kept, group holds other items", 1},
    {OUTCOME_SCHEDULED, "scheduled for the next restart", 0},
    {OUTCOME_FAILED, "failed", 1},
    {OUTCOME_PROTECTED_KEY, "refused, protected key", 1},
    {OUTCOME_SYSTEM_FILE, "refused, system file", 1},
    {OUTCOME_SYSTEM_FOLDER, "refused, system folder", 1},
    {OUTCOME_TOO_LONG, "refused, over-long text", 1},
    {OUTCOME_UNRESOLVED, "refused, the path cannot be resolved to one place", 1},
    {OUTCOME_NOT_OURS, "refused, not a key name of the product", 1},
    {OUTCOME_MALFORMED, "refused, damaged record", 1},
    {OUTCOME_NOT_NAMED, "nothing named", 0},
    {OUTCOME_GROUP_EMPTY, "not found, the group is gone or holds no items", 0},
    {OUTCOME_PROGMAN, "failed, the Program Manager did not carry it out", 1},
    {OUTCOME_PROGMAN_REFUSED, "kept, the Program Manager refused it", 1},
    {OUTCOME_PROGMAN_SILENT, "kept, the Program Manager did not answer", 1},
    {OUTCOME_PLATFORM, "kept, left alone on this platform", 0},
    {OUTCOME_PROGRESS_DAMAGED, "kept, progress record damaged", 1},
    {OUTCOME_JOURNAL_RETIRED, "retired, the product was installed again since", 0},
    {OUTCOME_JOURNAL_STRAY, "left alone, it names no log that can be read", 0},
};

struct KindLabel {
    const char *kind;
    const char *label;
};

static const KindLabel KIND_LABELS[] = {
    {"CF", "file"},           {"CSF", "shared file"},   {"API", "program item"},
    {"RPI", "program item"},  {"CPG", "program group"}, {"CDR", "folder"},
    {"CRK", "registry key"},  {"SRK", "registry value"}, {"URK", "product key"},
    {"MRK", "registration"},  {"JRN", "journal"},
};

struct StatusText {
    int status;
    int deleteMode;
    const char *text;
};

static const StatusText STATUS_TEXTS[] = {
    {EXIT_DONE, 0, "finished, nothing the log named remains"},
    {EXIT_INCOMPLETE, 0, "finished, something the log named remains"},
    {EXIT_RESTART, 0, "finished, the rest goes at the next restart"},
    {EXIT_FAILED, 0, "failed, the log was put back and the uninstall command registered again"},
    {EXIT_CANCELLED, 0, "cancelled before the start, nothing changed"},
    {EXIT_NO_LOG, 0, "no installation log at the path, nothing changed"},
    {EXIT_BAD_LOG, 0, "the installation log cannot be read, nothing changed"},
    {EXIT_BUSY, 0, "another run is removing this log, nothing changed"},
    {EXIT_BAD_COMMAND_LINE, 0, "the command line cannot be run as written, nothing changed"},
    {EXIT_BAD_COMMAND_LINE, 1, "the command line cannot be run as written, nothing changed"},
    {EXIT_DONE, 1, "the file was deleted"},
    {EXIT_RESTART, 1, "the file goes at the next restart"},
    {EXIT_FAILED, 1, "the file could be neither deleted nor scheduled"},
};

// The future tense of a plan's results.
static const StatusText PLAN_STATUS_TEXTS[] = {
    {EXIT_DONE, 0, "would finish, nothing the log named would remain"},
    {EXIT_INCOMPLETE, 0, "would finish, something the log named would remain"},
    {EXIT_RESTART, 0, "would finish, the rest would go at the next restart"},
    {EXIT_FAILED, 0, "would fail, the log would be put back and the uninstall command registered "
                     "again"},
};

struct ReportState {
    HANDLE file;
    int headed;
    int plan;                  // the lines say what a removal would do
    int memory;                // the lines are kept in text as well (a plan's window)
    int muted;                 // ReportMute
    HGLOBAL text;              // what was written, CR LF between lines
    DWORD used, size;
    ReportCounts counts;
    char logPath[PATH_SIZE];
    char notBack[PATH_SIZE];   // the working copy, when the log could not be put back
    char heldBy[REPORT_ERROR_SIZE];   // who holds the file the next scheduled line names
};

static ReportState report = {INVALID_HANDLE_VALUE, 0, 0, 0, 0, nullptr, 0, 0, {}, "", "", ""};

int ExitStatusForError(int code)
{
    switch (code) {
    case ERR_NO_LOG:
        return EXIT_NO_LOG;
    case ERR_BAD_LOG:
        return EXIT_BAD_LOG;
    case ERR_BUSY:
        return EXIT_BUSY;
    default:
        return EXIT_FAILED;
    }
}

int ReportOutcomeRemains(int outcome)
{
    for (const OutcomeText &o : OUTCOME_TEXTS)
        if (o.outcome == outcome)
            return o.remains;
    return 0;
}

// 1 when both names lead to one and the same file (volume and file index).
static int IsSameFile(HANDLE file, const char *otherPath)
{
    HANDLE other = CreateFileA(otherPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (other == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION a, b;
    int same = GetFileInformationByHandle(file, &a) && GetFileInformationByHandle(other, &b) &&
               a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

int ReportOpen(const char *path, const char *logPath)
{
    if (!path || !*path || lstrlenA(path) > PATH_MAX_BYTES || !logPath ||
        lstrlenA(logPath) > PATH_MAX_BYTES)
        return 0;
    // Opened without emptying it first: a report named like the log must not cost the log.
    int existed = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (*logPath && IsSameFile(file, logPath)) {
        CloseHandle(file);
        if (!existed)
            DeleteFileA(path);
        return 0;
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    report.file = file;
    report.headed = 0;
    report.notBack[0] = '\0';
    report.heldBy[0] = '\0';
    lstrcpyA(report.logPath, logPath);
    return 1;
}

void ReportLogNotBack(const char *workingCopy)
{
    if (ReportIsOpen() && workingCopy && lstrlenA(workingCopy) < PATH_SIZE)
        lstrcpyA(report.notBack, workingCopy);
}

int ReportIsOpen(void)
{
    return !report.muted && (report.file != INVALID_HANDLE_VALUE || report.memory);
}

void ReportMute(int on)
{
    report.muted = on;
}

// Appends to the text kept for a plan's window; what does not fit in memory is left out.
static void Keep(const char *data, DWORD count)
{
    if (report.used + count + 1 > report.size) {
        DWORD size = report.size ? report.size : 16384;
        while (report.used + count + 1 > size)
            size *= 2;
        HGLOBAL grown = report.text ? GlobalReAlloc(report.text, size, GMEM_MOVEABLE)
                                    : GlobalAlloc(GMEM_MOVEABLE, size);
        if (!grown)
            return;
        report.text = grown;
        report.size = size;
    }
    char *p = static_cast<char *>(GlobalLock(report.text));
    if (!p)
        return;
    CopyMemory(p + report.used, data, count);
    report.used += count;
    p[report.used] = '\0';
    GlobalUnlock(report.text);
}

static void WriteLine(const char *line)
{
    DWORD written = 0;
    DWORD length = static_cast<DWORD>(lstrlenA(line));
    if (report.file != INVALID_HANDLE_VALUE) {
        WriteFile(report.file, line, length, &written, nullptr);
        WriteFile(report.file, "\r\n", 2, &written, nullptr);
    }
    if (report.memory) {
        Keep(line, length);
        Keep("\r\n", 2);
    }
}

void ReportPlan(int keepText, const char *logPath)
{
    report.plan = 1;
    report.memory = keepText;
    report.used = 0;
    report.counts = ReportCounts{};
    report.headed = 0;
    report.heldBy[0] = '\0';
    lstrcpynA(report.logPath, logPath ? logPath : "", sizeof report.logPath);
}

static int StartsWith(const char *text, const char *head)
{
    return strncmp(text, head, strlen(head)) == 0;
}

int ReportFutureTense(const char *said, char *out, int size)
{
    static const char *const BE[] = {"removed", "kept", "refused", "retired", "left alone"};
    static const char USE[] = "in use by ";
    static const char AT_RESTART[] = ": goes at the next restart";
    for (const char *word : BE)
        if (StartsWith(said, word))
            return snprintf(out, size, "would be %s", said) < size;
    if (StartsWith(said, "failed"))
        return snprintf(out, size, "would fail%s", said + 6) < size;
    if (lstrcmpA(said, "scheduled for the next restart") == 0)
        return snprintf(out, size, "would go at the next restart") < size;
    int n = lstrlenA(said), tail = lstrlenA(AT_RESTART);
    if (StartsWith(said, USE) && n > tail && lstrcmpA(said + n - tail, AT_RESTART) == 0)
        return snprintf(out, size, "would go at the next restart: %.*s",
                        n - tail, said) < size;
    return snprintf(out, size, "%s", said) < size;
}

const char *ReportText(void)
{
    return report.text && report.used ? static_cast<const char *>(GlobalLock(report.text)) : "";
}

void ReportGetCounts(ReportCounts *counts)
{
    *counts = report.counts;
}

static void Count(int outcome)
{
    if (outcome == OUTCOME_REMOVED)
        report.counts.removed++;
    else if (outcome == OUTCOME_SCHEDULED)
        report.counts.restart++;
    else if (outcome == OUTCOME_SHARED || ReportOutcomeRemains(outcome))
        report.counts.kept++;
}

void ReportHeading(const char *product)
{
    if (!ReportIsOpen() || report.headed)
        return;
    report.headed = 1;
    char line[REPORT_LINE_SIZE];
    SYSTEMTIME now;
    GetLocalTime(&now);
    WriteLine(report.plan ? "Removal plan (remover " REMOVER_VERSION_TEXT "): nothing was changed"
                          : "Removal report (remover " REMOVER_VERSION_TEXT ")");
    snprintf(line, sizeof line, "Product: %s", product && *product ? product : "(unknown)");
    WriteLine(line);
    snprintf(line, sizeof line, "Log: %s", report.logPath);
    WriteLine(line);
    snprintf(line, sizeof line, "Date: %04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
    WriteLine(line);
    snprintf(line, sizeof line, "Program items: %s",
             PlatformGet()->isWindows4 ? "Start Menu" : "Program Manager");
    WriteLine(line);
    WriteLine("");
}

// The system's own words for error, on one line, or empty.
static void SystemErrorText(unsigned long error, char *text, int size)
{
    text[0] = '\0';
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, static_cast<DWORD>(size), nullptr);
    if (n == 0 || n >= static_cast<DWORD>(size)) {
        snprintf(text, size, "error %lu", error);
        return;
    }
    for (char *p = text; *p; ++p)
        if (*p == '\r' || *p == '\n')
            *p = ' ';
    for (int i = lstrlenA(text) - 1; i >= 0 && text[i] == ' '; --i)
        text[i] = '\0';
}

// A name is the log's, not ours: a line break or other control character in it is written as
// "<0D>" (no file name holds "<"), so it can never start a line of its own. No trail byte of a
// double-byte character is a control character.
static void Escape(const char *name, char *out, int size)
{
    static const char HEX[] = "0123456789ABCDEF";
    int n = 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
        if (n + 5 >= size)
            break;
        if (*p < 0x20 || *p == 0x7F) {
            out[n++] = '<';
            out[n++] = HEX[*p >> 4];
            out[n++] = HEX[*p & 15];
            out[n++] = '>';
        } else {
            out[n++] = static_cast<char>(*p);
        }
    }
    out[n] = '\0';
}

void ReportRecord(const char *kind, const char *name, int outcome, unsigned long detail)
{
    if (!ReportIsOpen() || outcome == OUTCOME_COLLECTED)
        return;
    const char *label = kind;
    for (const KindLabel &k : KIND_LABELS)
        if (lstrcmpA(k.kind, kind) == 0)
            label = k.label;
    const char *format = "failed";
    for (const OutcomeText &o : OUTCOME_TEXTS)
        if (o.outcome == outcome)
            format = o.text;
    char said[REPORT_ERROR_SIZE + 64];
    snprintf(said, sizeof said, format, detail);
    if (outcome == OUTCOME_SCHEDULED && report.heldBy[0]) {
        char holders[REPORT_ERROR_SIZE];
        Escape(report.heldBy, holders, sizeof holders);
        snprintf(said, sizeof said, "in use by %s: goes at the next restart", holders);
        report.heldBy[0] = '\0';
    }
    if (outcome == OUTCOME_FAILED && detail != 0) {
        char error[REPORT_ERROR_SIZE];
        SystemErrorText(detail, error, sizeof error);
        snprintf(said, sizeof said, "failed, %s", error);
    }
    char escaped[REPORT_LINE_SIZE];
    Escape(name ? name : "", escaped, sizeof escaped);
    char future[sizeof said + 32];
    if (report.plan) {
        ReportFutureTense(said, future, sizeof future);
        Count(outcome);
    }
    char line[REPORT_LINE_SIZE];
    snprintf(line, sizeof line, "%-15s%s: %s", label, escaped, report.plan ? future : said);
    WriteLine(line);
}

void ReportNoteHeldBy(const char *holders)
{
    report.heldBy[0] = '\0';
    if (holders)
        lstrcpynA(report.heldBy, holders, sizeof report.heldBy);
}

void ReportPhaseEnd(void)
{
    if (report.file != INVALID_HANDLE_VALUE)
        FlushFileBuffers(report.file);
}

void ReportClose(int status, int deleteMode)
{
    if (!ReportIsOpen())
        return;
    ReportHeading("");
    const char *text = "ended";
    for (const StatusText &s : STATUS_TEXTS)
        if (s.status == status && s.deleteMode == (deleteMode ? 1 : 0))
            text = s.text;
    if (report.plan)
        for (const StatusText &s : PLAN_STATUS_TEXTS)
            if (s.status == status && !deleteMode)
                text = s.text;
    char line[REPORT_LINE_SIZE];
    if (status == EXIT_FAILED && !deleteMode && report.notBack[0])
        snprintf(line, sizeof line,
                 "Result: failed, the log could not be put back: it stays as %s, from which "
                 "the same command goes on (exit code %d)",
                 report.notBack, status);
    else
        snprintf(line, sizeof line, "Result: %s (exit code %d)", text, status);
    WriteLine("");
    WriteLine(line);
    if (report.file != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(report.file);
        CloseHandle(report.file);
    }
    report.file = INVALID_HANDLE_VALUE;
    report.memory = 0;   // the text stays for the plan's window
}
