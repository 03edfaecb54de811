// The engine against the bare system calls it stands on, side by side in one run:
//   files: an uninstall of N plain files ("CF" records) stepped in-process through SessionStep,
//          against a bare DeleteFileA loop over an identical set of files;
//   log:   opening the log and reading every record, against reading the file's bytes once;
//   pool:  the engine's allocation pattern through the memory pools, against HeapAlloc.
// Prints a table and writes the same numbers as JSON. The machine may be shared: each engine
// step is paired with one bare deletion so that both sides meet the same load, and the ratios
// are taken per pair.
//
// usage: remover_bench [--sizes 1000,10000,50000] [--repeat 2] [--json FILE] [--dir DIR]
//                      [--show 1|0]   (0: the session's dialog stays hidden, as in "-a" runs)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/pool.h"
#include "base/strlist.h"
#include "engine/engine.h"
#include "engine/session_internal.h"
#include "logdb/logdb.h"
#include "ui/progress_internal.h"
#include "ui/progress_res.h"

namespace {

constexpr int BENCH_FILES_PER_DIR = 1000;   // Wine scans a directory to create a new name
constexpr DWORD BENCH_FILE_BYTES = 64;

double g_tickMs;

double NowMs()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * g_tickMs;
}

struct Options {
    std::vector<int> sizes{1000, 10000, 50000};
    int repeat = 2;
    std::string json;
    std::string dir;
    int show = 1;
};

Options g_opt;

// ---- The world: N files spread over directories of BENCH_FILES_PER_DIR.

struct FileSet {
    std::string root;                 // with its trailing backslash
    std::vector<std::string> dirs;
    std::vector<std::string> paths;
};

FileSet PlanFiles(const std::string &root, int n)
{
    FileSet set;
    set.root = root;
    char name[64];
    for (int i = 0; i < n; ++i) {
        if (i % BENCH_FILES_PER_DIR == 0) {
            snprintf(name, sizeof name, "d%03d\\", i / BENCH_FILES_PER_DIR);
            set.dirs.push_back(root + name);
        }
        snprintf(name, sizeof name, "file%06d.dat", i);
        set.paths.push_back(set.dirs.back() + name);
    }
    return set;
}

bool MakeFiles(const FileSet &set)
{
    CreateDirectoryA(set.root.c_str(), nullptr);
    for (const std::string &d : set.dirs)
        CreateDirectoryA(d.c_str(), nullptr);
    char data[BENCH_FILE_BYTES];
    memset(data, 'x', sizeof data);
    for (const std::string &p : set.paths) {
        HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        WriteFile(h, data, sizeof data, &written, nullptr);
        CloseHandle(h);
    }
    return true;
}

int CountLeft(const FileSet &set)
{
    int left = 0;
    for (const std::string &p : set.paths)
        left += GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES;
    return left;
}

void RemoveFiles(const FileSet &set)
{
    for (const std::string &p : set.paths)
        DeleteFileA(p.c_str());
    for (const std::string &d : set.dirs)
        RemoveDirectoryA(d.c_str());
}

// A committed log of one "CF" record per file, written through the log's create mode.
bool WriteFileLog(const std::string &path, const FileSet &set)
{
    DeleteFileA(path.c_str());
    LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
    if (!db)
        return false;
    bool ok = LogSetItem(db, ITEM_PRODUCT_KEY, "Bench", 0) == 0;
    for (const std::string &p : set.paths)
        ok = ok && LogAddRecord(db, "CF", REC_TEXT, p.c_str(), 0, nullptr) == 0;
    ok = ok && LogCommit(db) == 0;
    LogClose(db);
    return ok;
}

// ---- 1. The uninstall against the bare deletion loop.

struct EngineRun {
    bool ok = false;
    int left = -1;
    int steps = 0;
    int pauses = 0;
    double createMs = 0;   // working copy, log open and check, phases, dialog
    double stepMs = 0;     // every step except the ones that end a phase and pause
    double pauseMs = 0;    // the steps that end a phase (each sleeps SESSION_PHASE_PAUSE_MS)
    double closeMs = 0;
    double pumpMs = 0;     // the shell loop's own message handling, for information
    double EngineMs() const { return createMs + stepMs + closeMs; }
};

int g_reported;

int BenchReport(int code, const char *text, int, Session *)
{
    fprintf(stderr, "bench: the session reported %d (%s)\n", code, text ? text : "");
    g_reported = code;
    return 0;
}

struct BareRun {
    double ms = 0;
    int failed = 0;
    int left = -1;
};

// One file of the bare set, timed.
void BareDelete(const FileSet &set, size_t *next, BareRun *bare)
{
    if (*next >= set.paths.size())
        return;
    double a = NowMs();
    bare->failed += DeleteFileA(set.paths[*next].c_str()) ? 0 : 1;
    bare->ms += NowMs() - a;
    ++*next;
}

// Steps the session as the shell's loop does: a waiting message is handled first, otherwise
// one step. Beside every step one file of the bare set goes through DeleteFileA alone, so both
// sides run over the same stretch of time and share whatever else the machine is doing.
// A step after which the phase index moved on ended a phase and slept; it is timed into
// pauseMs whole (its work is one end-of-records read and at most one mark).
void RunPair(const std::string &logPath, const FileSet &set, const FileSet &bareSet,
             bool bareFirst, EngineRun *run, BareRun *bare)
{
    g_reported = 0;
    size_t next = 0;
    EngineInit(0);
    double t0 = NowMs();
    Session *session = SessionCreate(logPath.c_str(), BenchReport);
    run->createMs = NowMs() - t0;
    if (!session) {
        EngineShutdown();
        return;
    }
    SessionStart(session, g_opt.show);
    for (;;) {
        MSG msg;
        double a = NowMs();
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(session->dialogWindow, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            run->pumpMs += NowMs() - a;
            continue;
        }
        run->pumpMs += NowMs() - a;
        if (bareFirst)
            BareDelete(bareSet, &next, bare);
        int phase = session->phaseIndex;
        double b = NowMs();
        int rc = SessionStep(session);
        double c = NowMs();
        if (rc == 0 && session->phaseIndex != phase) {
            run->pauseMs += c - b;
            ++run->pauses;
        } else {
            run->stepMs += c - b;
            ++run->steps;
        }
        if (!bareFirst)
            BareDelete(bareSet, &next, bare);
        if (rc != 0)
            break;
    }
    run->ok = session->finished && !session->incomplete && g_reported == 0;
    double d = NowMs();
    SessionClose(session);
    run->closeMs = NowMs() - d;
    EngineShutdown();
    while (next < bareSet.paths.size())
        BareDelete(bareSet, &next, bare);
    run->left = CountLeft(set);
    bare->left = CountLeft(bareSet);
}

// The plan of the same removal (remover -n), on the same files just before it: create, every
// step, close, in ms; -1 when it did not finish.
double RunPlan(const std::string &logPath)
{
    g_reported = 0;
    EngineInit(0);
    double t0 = NowMs();
    Session *plan = SessionCreatePlan(logPath.c_str(), BenchReport);
    if (!plan) {
        EngineShutdown();
        return -1;
    }
    SessionStart(plan, 0);
    while (SessionStep(plan) == 0) {
    }
    bool finished = plan->finished && !plan->incomplete;
    SessionClose(plan);
    double ms = NowMs() - t0;
    EngineShutdown();
    return finished && g_reported == 0 ? ms : -1;
}

// ---- 2. Reading the log.

struct ReadRun {
    double logMs = 0;    // best of the repetitions
    double bytesMs = 0;
    int records = 0;
    bool ok = false;
};

int ReadEveryRecord(const std::string &path)
{
    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    if (!db)
        return -1;
    char text[LOG_BODY_MAX + 1];
    char name[LOG_NAME_SIZE];
    uint32_t flags = 0, value = 0;
    int count = 0;
    LogSelectName(db, "CF");
    int rc = LogReadRecord(db, name, sizeof name, &flags, text, sizeof text, &value, nullptr,
                           LOG_FIRST);
    while (rc == 0) {
        ++count;
        rc = LogReadRecord(db, name, sizeof name, &flags, text, sizeof text, &value, nullptr,
                           LOG_NEXT);
    }
    LogClose(db);
    return rc == LOG_END ? count : -1;
}

DWORD ReadBytesOnce(const std::string &path, std::vector<char> &buffer)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DWORD size = GetFileSize(h, nullptr);
    buffer.resize(size);
    DWORD got = 0;
    ReadFile(h, buffer.data(), size, &got, nullptr);
    CloseHandle(h);
    return got;
}

ReadRun RunRead(const std::string &path, int n)
{
    ReadRun run;
    run.logMs = run.bytesMs = 1e30;
    // Enough rounds for a few hundred milliseconds at every size; the best round counts.
    int rounds = std::max(3, 200000 / n);
    std::vector<char> buffer;
    run.ok = true;
    for (int i = 0; i < rounds; ++i) {
        double a = NowMs();
        run.records = ReadEveryRecord(path);
        double b = NowMs();
        DWORD got = ReadBytesOnce(path, buffer);
        double c = NowMs();
        run.ok = run.ok && run.records == n && got > 0;
        run.logMs = std::min(run.logMs, b - a);
        run.bytesMs = std::min(run.bytesMs, c - b);
    }
    return run;
}

// ---- 3. Allocation: what one list-carrying step does (the list header, and a node and a copy
// per string, freed in list order) and what collecting a kind's records does (every node and
// copy held until the end, then freed from the first).

struct AllocRun {
    double poolStepMs = 0, heapStepMs = 0;
    double poolHoldMs = 0, heapHoldMs = 0;
    bool ok = false;
};

const unsigned STEP_SIZES[] = {sizeof(StringList), sizeof(ListElement), 52, sizeof(ListElement),
                               48};
constexpr int STEP_BLOCKS = sizeof STEP_SIZES / sizeof STEP_SIZES[0];

template <typename Alloc, typename Free>
double StepPattern(int n, Alloc alloc, Free release, bool *ok)
{
    void *blocks[STEP_BLOCKS];
    double t0 = NowMs();
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < STEP_BLOCKS; ++k) {
            blocks[k] = alloc(STEP_SIZES[k]);
            *ok = *ok && blocks[k];
        }
        for (int k = 1; k < STEP_BLOCKS; ++k)
            release(blocks[k]);
        release(blocks[0]);
    }
    return NowMs() - t0;
}

template <typename Alloc, typename Free>
double HoldPattern(int n, Alloc alloc, Free release, bool *ok, std::vector<void *> &held)
{
    held.assign(size_t(2) * n, nullptr);
    double t0 = NowMs();
    for (int i = 0; i < n; ++i) {
        held[2 * i] = alloc(unsigned(sizeof(ListElement)));
        held[2 * i + 1] = alloc(40u + unsigned(i % 24));
        *ok = *ok && held[2 * i] && held[2 * i + 1];
    }
    for (void *p : held)
        release(p);
    return NowMs() - t0;
}

AllocRun RunAlloc(int n)
{
    AllocRun run;
    bool ok = true;
    std::vector<void *> held;
    // The shared list pool's geometry: zero-filled blocks, growing.
    int pool = PoolCreate(LIST_POOL_BLOCK, LIST_POOL_FLAGS);
    HANDLE heap = GetProcessHeap();
    auto palloc = [pool](unsigned size) { return PoolAlloc(pool, size); };
    auto pfree = [pool](void *p) { PoolFree(pool, p); };
    auto halloc = [heap](unsigned size) { return HeapAlloc(heap, HEAP_ZERO_MEMORY, size); };
    auto hfree = [heap](void *p) { HeapFree(heap, 0, p); };
    run.poolStepMs = StepPattern(n, palloc, pfree, &ok);
    run.heapStepMs = StepPattern(n, halloc, hfree, &ok);
    run.poolHoldMs = HoldPattern(n, palloc, pfree, &ok, held);
    run.heapHoldMs = HoldPattern(n, halloc, hfree, &ok, held);
    PoolDestroy(pool);
    run.ok = ok && pool >= 0;
    return run;
}

// ---- 4. Directories: the "CDR" phase collects every directory and then takes the longest
// path first. One directory per ten files; pure list work, nothing touches the disk.

struct DirRun {
    int dirs = 0;
    double ms = 0;
    bool ok = false;
};

DirRun RunDirs(int n)
{
    DirRun run;
    run.dirs = std::max(1, n / 10);
    StringList *list = ListCreate(0);
    char path[PHASE_TEXT_SIZE];
    for (int i = 0; i < run.dirs; ++i) {
        snprintf(path, sizeof path, "C:\\Program Files\\Bench\\d%03d\\sub%05d", i % 97, i);
        ListAdd(list, path);
    }
    double a = NowMs();
    int taken = 0;
    while (ListCount(list) > 0) {
        TakeLongestPath(list, path);
        ++taken;
    }
    run.ms = NowMs() - a;
    ListDestroy(list);
    run.ok = list && taken == run.dirs;
    return run;
}

// What every run pays once for its dialog (bitmaps, window), best of a few; and what Wine
// alone takes to make and destroy the same template with a procedure that does nothing.
INT_PTR CALLBACK BenchEmptyDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// A bar filled block by block: each step of a run whose total equals the bar's blocks redraws
// it, as a run of any size does once per block.
double BarFillMs(HINSTANCE self, int *blocks)
{
    ProgressDialog *pd = ProgressDialogCreate(self, "Bench");
    if (!pd)
        return 0;
    *blocks = pd->blocksAcross;
    ProgressDialogSetTotal(pd, pd->blocksAcross);
    double a = NowMs();
    for (int i = 0; i < pd->blocksAcross; ++i)
        ProgressDialogStep(pd);
    double ms = NowMs() - a;
    ProgressDialogDestroy(pd);
    return ms;
}

void DialogFixedMs(double *dialogMs, double *templateMs, double *barMs, int *blocks)
{
    *dialogMs = *templateMs = *barMs = 1e30;
    HINSTANCE self = GetModuleHandleA(nullptr);
    for (int i = 0; i < 5; ++i) {
        *barMs = std::min(*barMs, BarFillMs(self, blocks));
        double a = NowMs();
        ProgressDialogDestroy(ProgressDialogCreate(self, "Bench"));
        double b = NowMs();
        HWND plain = CreateDialogParamA(self, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                        BenchEmptyDialogProc, 0);
        DestroyWindow(plain);
        double c = NowMs();
        *dialogMs = std::min(*dialogMs, b - a);
        *templateMs = std::min(*templateMs, c - b);
    }
}

double g_dialogMs;
double g_templateMs;
double g_barMs;
int g_barBlocks;

// ---- Driver.

struct SizeResult {
    int n = 0;
    std::vector<double> planMs;   // the plan before each removal
    std::vector<EngineRun> engine;
    std::vector<BareRun> bare;
    ReadRun read;
    AllocRun alloc;
    DirRun dirs;
    long logBytes = 0;
};

template <typename T, typename F>
double Best(const std::vector<T> &runs, F value)
{
    double best = 1e30;
    for (const T &r : runs)
        best = std::min(best, value(r));
    return best;
}

// The median of the paired ratios: each pair ran over the same stretch of time.
double MedianRatio(const SizeResult &r)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < r.engine.size() && i < r.bare.size(); ++i)
        ratios.push_back(r.engine[i].EngineMs() / r.bare[i].ms);
    std::sort(ratios.begin(), ratios.end());
    size_t m = ratios.size() / 2;
    return ratios.size() % 2 ? ratios[m] : (ratios[m - 1] + ratios[m]) / 2;
}

double PerRecordUs(double ms, int n)
{
    return ms * 1000.0 / n;
}

bool RunSize(const Options &opt, int n, SizeResult *out)
{
    out->n = n;
    char sub[32];
    snprintf(sub, sizeof sub, "n%d\\", n);
    std::string root = opt.dir + sub;
    CreateDirectoryA(root.c_str(), nullptr);
    FileSet set = PlanFiles(root + "a\\", n);
    FileSet bareSet = PlanFiles(root + "b\\", n);
    std::string keptLog = root + "bench.log";
    std::string runLog = root + "run.log";
    if (!WriteFileLog(keptLog, set)) {
        fprintf(stderr, "bench: the log of %d records could not be written (%d)\n", n,
                LogLastError());
        return false;
    }
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExA(keptLog.c_str(), GetFileExInfoStandard, &info))
        out->logBytes = long(info.nFileSizeLow);

    bool ok = true;
    for (int rep = 0; rep < opt.repeat; ++rep) {
        if (!MakeFiles(set) || !MakeFiles(bareSet)) {
            fprintf(stderr, "bench: could not create the files for N=%d\n", n);
            return false;
        }
        CopyFileA(keptLog.c_str(), runLog.c_str(), FALSE);
        double planned = RunPlan(runLog);
        if (planned < 0 || CountLeft(set) != n) {
            fprintf(stderr, "bench: N=%d: the plan failed or changed files\n", n);
            ok = false;
        }
        out->planMs.push_back(planned);
        EngineRun e;
        BareRun b;
        // Alternate which side goes first within a pair.
        RunPair(runLog, set, bareSet, rep % 2 == 1, &e, &b);
        if (!e.ok || e.left != 0 || b.failed || b.left != 0) {
            fprintf(stderr, "bench: N=%d: engine %s, %d left; bare %d failed, %d left\n", n,
                    e.ok ? "done" : "failed", e.left, b.failed, b.left);
            ok = false;
        }
        out->engine.push_back(e);
        out->bare.push_back(b);
        RemoveFiles(set);
        RemoveFiles(bareSet);
    }
    out->read = RunRead(keptLog, n);
    out->alloc = RunAlloc(n);
    out->dirs = RunDirs(n);
    if (!out->read.ok || !out->alloc.ok || !out->dirs.ok) {
        fprintf(stderr, "bench: read or allocation run N=%d failed\n", n);
        ok = false;
    }
    RemoveDirectoryA(set.root.c_str());
    RemoveDirectoryA(bareSet.root.c_str());
    DeleteFileA(keptLog.c_str());
    DeleteFileA(runLog.c_str());
    RemoveDirectoryA(root.c_str());
    return ok;
}

void PrintTable(const std::vector<SizeResult> &results, int repeat)
{
    printf("\n1. Uninstall of N plain files: engine (SessionCreate + steps + SessionClose) "
           "against a bare DeleteFileA loop.\n");
    printf("   Per repetition, ms. Each engine step is paired with one bare DeleteFileA, so "
           "both sides share the\n   machine's load. The %d steps that end a phase (each sleeps "
           "%lu ms) are timed apart as \"pauses\"\n   and excluded. ratio = engine/bare; "
           "steps = steps/bare; +us/r = (steps - bare) per record.\n\n",
           PHASE_COUNT - 1, static_cast<unsigned long>(SESSION_PHASE_PAUSE_MS));
    printf("%7s %3s | %9s %9s %7s %7s | %9s | %6s %6s | %8s %8s %7s | %8s\n", "N", "rep",
           "engine", "steps", "create", "close", "bare", "ratio", "steps", "eng us/r",
           "bare us/r", "+us/r", "pauses");
    for (const SizeResult &r : results) {
        for (int i = 0; i < repeat; ++i) {
            const EngineRun &e = r.engine[size_t(i)];
            const BareRun &b = r.bare[size_t(i)];
            printf("%7d %3d | %9.1f %9.1f %7.1f %7.1f | %9.1f | %6.3f %6.3f | %8.2f %8.2f %7.2f "
                   "| %8.1f\n",
                   r.n, i + 1, e.EngineMs(), e.stepMs, e.createMs, e.closeMs, b.ms,
                   e.EngineMs() / b.ms, e.stepMs / b.ms, PerRecordUs(e.EngineMs(), r.n),
                   PerRecordUs(b.ms, r.n), PerRecordUs(e.stepMs - b.ms, r.n), e.pauseMs);
        }
    }
    printf("\n   Fixed cost in every run's create and close: the progress dialog alone takes "
           "%.1f ms,\n   of which %.1f ms are Wine making and destroying its bare template; "
           "the steps redraw the bar\n   once per block: %d redraws take %.1f ms.\n",
           g_dialogMs, g_templateMs, g_barBlocks, g_barMs);
    printf("\n   Summary: best time of each side, median of the paired ratios:\n");
    printf("%7s | %9s %9s | %6s | %8s %8s | %9s %7s\n", "N", "engine", "bare", "ratio",
           "eng us/r", "bare us/r", "pauses", "loop ms");
    for (const SizeResult &r : results) {
        double e = Best(r.engine, [](const EngineRun &x) { return x.EngineMs(); });
        double b = Best(r.bare, [](const BareRun &x) { return x.ms; });
        double p = Best(r.engine, [](const EngineRun &x) { return x.pauseMs; });
        double l = Best(r.engine, [](const EngineRun &x) { return x.pumpMs; });
        printf("%7d | %9.1f %9.1f | %6.3f | %8.2f %8.2f | %9.1f %7.1f\n", r.n, e, b,
               MedianRatio(r),
               PerRecordUs(e, r.n), PerRecordUs(b, r.n), p, l);
    }

    printf("\n   The plan (remover -n) of the same removal, run just before it: best ms, and its "
           "median share of\n   the removal's engine time (pauses excluded on both sides).\n\n");
    printf("%7s | %9s %9s | %6s\n", "N", "plan", "engine", "share");
    for (const SizeResult &r : results) {
        std::vector<double> shares;
        for (size_t i = 0; i < r.planMs.size() && i < r.engine.size(); ++i)
            shares.push_back(r.planMs[i] / r.engine[i].EngineMs());
        std::sort(shares.begin(), shares.end());
        double best = *std::min_element(r.planMs.begin(), r.planMs.end());
        printf("%7d | %9.1f %9.1f | %6.3f\n", r.n, best,
               Best(r.engine, [](const EngineRun &x) { return x.EngineMs(); }),
               shares.empty() ? 0.0 : shares[shares.size() / 2]);
    }

    printf("\n2. Log open + reading every record against reading the file's bytes once "
           "(best round, ms).\n\n");
    printf("%7s %9s | %9s %9s | %6s | %8s\n", "N", "bytes", "log", "file", "ratio",
           "log us/r");
    for (const SizeResult &r : results)
        printf("%7d %9ld | %9.2f %9.2f | %6.2f | %8.3f\n", r.n, r.logBytes, r.read.logMs,
               r.read.bytesMs, r.read.logMs / r.read.bytesMs, PerRecordUs(r.read.logMs, r.n));

    printf("\n3. Allocation: pool against HeapAlloc (ms). step = one list-carrying record "
           "(5 blocks, freed at once);\n   hold = N node+copy pairs held, then freed.\n\n");
    printf("%7s | %9s %9s %6s | %9s %9s %6s\n", "N", "pool step", "heap step", "ratio",
           "pool hold", "heap hold", "ratio");
    for (const SizeResult &r : results)
        printf("%7d | %9.2f %9.2f %6.2f | %9.2f %9.2f %6.2f\n", r.n, r.alloc.poolStepMs,
               r.alloc.heapStepMs, r.alloc.poolStepMs / r.alloc.heapStepMs, r.alloc.poolHoldMs,
               r.alloc.heapHoldMs, r.alloc.poolHoldMs / r.alloc.heapHoldMs);

    printf("\n4. Directories: a collected list of N/10 paths emptied longest first "
           "(TakeLongestPath), ms.\n\n");
    printf("%7s | %7s %9s %9s\n", "N", "dirs", "ms", "us/dir");
    for (const SizeResult &r : results)
        printf("%7d | %7d %9.2f %9.2f\n", r.n, r.dirs.dirs, r.dirs.ms,
               PerRecordUs(r.dirs.ms, r.dirs.dirs));
    fflush(stdout);
}

bool WriteJson(const std::string &path, const std::vector<SizeResult> &results)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f)
        return false;
    fprintf(f, "{\n  \"phase_pause_ms_nominal\": %lu,\n  \"dialog_ms\": %.3f,\n"
               "  \"dialog_template_ms\": %.3f,\n  \"bar_redraws\": %d,\n"
               "  \"bar_redraws_ms\": %.3f,\n  \"sizes\": [\n",
            static_cast<unsigned long>(SESSION_PHASE_PAUSE_MS), g_dialogMs, g_templateMs,
            g_barBlocks, g_barMs);
    for (size_t k = 0; k < results.size(); ++k) {
        const SizeResult &r = results[k];
        fprintf(f, "    {\"n\": %d, \"log_bytes\": %ld,\n      \"runs\": [\n", r.n, r.logBytes);
        for (size_t i = 0; i < r.engine.size() && i < r.bare.size(); ++i) {
            const EngineRun &e = r.engine[i];
            fprintf(f,
                    "        {\"engine_ms\": %.3f, \"create_ms\": %.3f, \"steps_ms\": %.3f, "
                    "\"close_ms\": %.3f, \"pauses_ms\": %.3f, \"pause_steps\": %d, "
                    "\"loop_ms\": %.3f, \"steps\": %d, \"bare_ms\": %.3f, \"ratio\": %.4f}%s\n",
                    e.EngineMs(), e.createMs, e.stepMs, e.closeMs, e.pauseMs, e.pauses, e.pumpMs,
                    e.steps, r.bare[i].ms, e.EngineMs() / r.bare[i].ms,
                    i + 1 < r.engine.size() ? "," : "");
        }
        double e = Best(r.engine, [](const EngineRun &x) { return x.EngineMs(); });
        double b = Best(r.bare, [](const BareRun &x) { return x.ms; });
        fprintf(f, "      ],\n      \"best\": {\"engine_ms\": %.3f, \"bare_ms\": %.3f, "
                   "\"median_ratio\": %.4f, \"engine_us_per_record\": %.3f, "
                   "\"bare_us_per_record\": %.3f},\n",
                e, b, MedianRatio(r), PerRecordUs(e, r.n), PerRecordUs(b, r.n));
        double plan = r.planMs.empty() ? 0 : *std::min_element(r.planMs.begin(), r.planMs.end());
        fprintf(f, "      \"plan\": {\"best_ms\": %.3f, \"share_of_engine\": %.4f},\n", plan,
                e > 0 ? plan / e : 0.0);
        fprintf(f, "      \"read\": {\"log_ms\": %.3f, \"file_ms\": %.3f, \"ratio\": %.4f, "
                   "\"log_us_per_record\": %.4f},\n",
                r.read.logMs, r.read.bytesMs, r.read.logMs / r.read.bytesMs,
                PerRecordUs(r.read.logMs, r.n));
        fprintf(f, "      \"alloc\": {\"pool_step_ms\": %.3f, \"heap_step_ms\": %.3f, "
                   "\"pool_hold_ms\": %.3f, \"heap_hold_ms\": %.3f},\n",
                r.alloc.poolStepMs, r.alloc.heapStepMs, r.alloc.poolHoldMs, r.alloc.heapHoldMs);
        fprintf(f, "      \"dirs\": {\"count\": %d, \"ms\": %.3f}}%s\n", r.dirs.dirs, r.dirs.ms,
                k + 1 < results.size() ? "," : "");
    }
    fprintf(f, "  ]\n}\n");
    return fclose(f) == 0;
}

bool ParseArgs(int argc, char **argv, Options *opt)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            return false;
        std::string v = argv[++i];
        if (a == "--sizes") {
            opt->sizes.clear();
            for (size_t at = 0; at <= v.size();) {
                size_t comma = v.find(',', at);
                if (comma == std::string::npos)
                    comma = v.size();
                int n = atoi(v.substr(at, comma - at).c_str());
                if (n <= 0)
                    return false;
                opt->sizes.push_back(n);
                at = comma + 1;
            }
        } else if (a == "--repeat") {
            opt->repeat = atoi(v.c_str());
            if (opt->repeat < 1)
                return false;
        } else if (a == "--json") {
            opt->json = v;
        } else if (a == "--show") {
            opt->show = atoi(v.c_str());
        } else if (a == "--dir") {
            opt->dir = v;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    if (!ParseArgs(argc, argv, &opt)) {
        fprintf(stderr, "usage: remover_bench [--sizes 1000,10000,50000] [--repeat 2] "
                        "[--json FILE] [--dir DIR] [--show 1|0]\n");
        return 2;
    }
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_tickMs = 1000.0 / double(f.QuadPart);
    if (opt.dir.empty()) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        opt.dir = std::string(temp) + "remover_bench\\";
    }
    if (opt.dir.back() != '\\')
        opt.dir += '\\';
    CreateDirectoryA(opt.dir.c_str(), nullptr);
    // An allocator error would otherwise wait on a message box.
    PoolSetOption(POOLOPT_REPORT, 0);
    Platform platform = {1, 0, 0, 0, 1};   // Windows 4: Start Menu shortcuts, no DDE
    PlatformSet(&platform);

    g_opt = opt;
    std::vector<SizeResult> results;
    bool ok = true;
    // The first dialog of the process pays for fonts, classes and bitmaps: a small run first,
    // not counted.
    SizeResult warm;
    Options once = opt;
    once.repeat = 1;
    ok = RunSize(once, 20, &warm);
    DialogFixedMs(&g_dialogMs, &g_templateMs, &g_barMs, &g_barBlocks);
    for (int n : opt.sizes) {
        SizeResult r;
        fprintf(stderr, "bench: N=%d ...\n", n);
        ok = RunSize(opt, n, &r) && ok;
        if (r.engine.empty() || r.engine.size() != r.bare.size())
            return 1;
        results.push_back(r);
    }
    PrintTable(results, opt.repeat);
    if (!opt.json.empty() && !WriteJson(opt.json, results)) {
        fprintf(stderr, "bench: could not write %s\n", opt.json.c_str());
        return 1;
    }
    RemoveDirectoryA(opt.dir.c_str());
    return ok ? 0 : 1;
}
