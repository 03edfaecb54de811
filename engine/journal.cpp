// The progress journal of a removal (see journal.h).
#include "engine/journal.h"

#include <windows.h>

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "base/fs.h"
#include "engine/phases.h"

static const char JOURNAL_BASE[] = "_dejrn";
static const char JOURNAL_PATTERN[] = "_dejrn.*";   // every journal, whatever its number
constexpr uint32_t LOG_CHECKSUM_OFFSET = 6;
constexpr int JOURNAL_EXTRA_MAX = 8;                // other journals of one log, deleted

static_assert(offsetof(JournalRecord, phase) == JOURNAL_PROGRESS_OFFSET &&
                  offsetof(JournalRecord, logPath) ==
                      JOURNAL_PROGRESS_OFFSET + JOURNAL_PROGRESS_SIZE,
              "the progress part is written in one piece");

enum JournalState { JOURNAL_UNREADABLE, JOURNAL_FOREIGN, JOURNAL_STRAY, JOURNAL_SOUND, JOURNAL_DAMAGED };

static int JournalDir(char *dir)
{
    UINT length = GetWindowsDirectoryA(dir, PATH_SIZE);
    if (length == 0 || length >= static_cast<UINT>(PATH_SIZE))
        return 0;
    return PathWithSlash(dir);
}

int JournalReadIdentity(const char *path, uint32_t *size, uint32_t *checksum)
{
    int handle = FsOpen(path, FS_READ);
    if (handle == FS_NO_FILE)
        return 0;
    uint32_t position = LOG_CHECKSUM_OFFSET;
    uint32_t count = sizeof *checksum;
    *size = FsSize(handle);
    int ok = FsSeek(handle, &position) == static_cast<int32_t>(LOG_CHECKSUM_OFFSET) &&
             FsRead(handle, checksum, &count) == static_cast<int32_t>(sizeof *checksum);
    FsClose(handle);
    return ok;
}

int JournalReadMark(const char *path, JournalMark *mark)
{
    uint64_t time = 0;
    int ok = IdentRead(path, &mark->id, &time);
    mark->timeLow = static_cast<uint32_t>(time);
    mark->timeHigh = static_cast<uint32_t>(time >> 32);
    if (ok)
        return 1;
    // Where the system tells no file identity (Win32s), the write time alone marks the file.
    WIN32_FIND_DATAA found;
    HANDLE h = PathFits(path) ? FindFirstFileA(path, &found) : INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(h);
    mark->timeLow = found.ftLastWriteTime.dwLowDateTime;
    mark->timeHigh = found.ftLastWriteTime.dwHighDateTime;
    return 1;
}

int JournalSameMark(const JournalMark &a, const JournalMark &b)
{
    int sameTime = a.timeLow == b.timeLow && a.timeHigh == b.timeHigh;
    if (IdentKnown(a.id) || IdentKnown(b.id))
        return IdentSame(a.id, b.id) && sameTime;
    return sameTime && (a.timeLow || a.timeHigh);
}

int JournalIsItsLog(const JournalRecord &record, const JournalMark &mark)
{
    return JournalSameMark(record.taken, mark) || JournalSameMark(record.back, mark);
}

// A check that no run of zeros or copy of another part passes.
static uint32_t Check(const void *data, size_t size, uint32_t seed)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);
    uint32_t hash = 2166136261u ^ seed;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ p[i]) * 16777619u;
    return hash;
}

static uint32_t ProgressCheck(const JournalRecord &r)
{
    return Check(&r.phase, offsetof(JournalRecord, progressCheck) - JOURNAL_PROGRESS_OFFSET,
                 0x50524F47);
}

static uint32_t IdentityCheck(const JournalRecord &r)
{
    uint32_t head = Check(&r, JOURNAL_PROGRESS_OFFSET, 0x4944454E);
    return Check(r.logPath, offsetof(JournalRecord, identityCheck) - offsetof(JournalRecord, logPath),
                 head);
}

// What a "_dejrn.N" file is: unreadable (held by a run at work, or gone), another program's or an
// older format's (left alone as before), one whose identity cannot be trusted (a stray), or ours
// with its progress sound or damaged.
static JournalState ReadJournal(const char *path, JournalRecord *record)
{
    int handle = FsOpen(path, FS_READ);
    if (handle == FS_NO_FILE)
        return JOURNAL_UNREADABLE;
    memset(record, 0, sizeof *record);
    uint32_t count = sizeof *record;
    int32_t got = FsRead(handle, record, &count);
    FsClose(handle);
    if (got >= 4 && record->magic != JOURNAL_MAGIC && (record->magic & 0xFFFFFF) == 0x4A4544)
        return JOURNAL_FOREIGN;   // "DEJ1", "DEJ2": journals of earlier versions
    if (got != static_cast<int32_t>(sizeof *record) || record->magic != JOURNAL_MAGIC ||
        record->identityCheck != IdentityCheck(*record) ||
        !memchr(record->logPath, '\0', PATH_SIZE) || !memchr(record->workPath, '\0', PATH_SIZE))
        return JOURNAL_STRAY;
    if (record->progressCheck != ProgressCheck(*record) || record->phase < 0 ||
        record->phase > PHASE_COUNT || record->handled < 0)
        return JOURNAL_DAMAGED;
    return JOURNAL_SOUND;
}

struct JournalSearch {
    const char *dir;
    const char *logPath;
    const JournalMark *mark;
    Journal *journal;
    JournalStrays *strays;
    int match;
    int bestSound;       // the journal kept so far has a sound progress part
    int anyDamaged;      // one of the log's journals has not
    int extras;
    char extraPaths[JOURNAL_EXTRA_MAX][PATH_SIZE];
};

static int FurtherOn(const JournalRecord &a, const JournalRecord &b)
{
    return a.phase > b.phase || (a.phase == b.phase && a.handled > b.handled);
}

static void NoteExtra(JournalSearch *s, const char *path)
{
    if (s->extras < JOURNAL_EXTRA_MAX)
        lstrcpyA(s->extraPaths[s->extras++], path);
}

// FsWalkDir callback of JournalFind: every journal is looked at.
static int LookAtJournal(const char *name, uint32_t, void *context)
{
    JournalSearch *s = static_cast<JournalSearch *>(context);
    char path[PATH_SIZE];
    int length = snprintf(path, PATH_SIZE, "%s%s", s->dir, name);
    if (length < 0 || length >= PATH_SIZE)
        return 1;
    JournalRecord r;
    JournalState state = ReadJournal(path, &r);
    if (state == JOURNAL_STRAY && s->strays) {
        if (s->strays->count < JOURNAL_STRAY_MAX)
            lstrcpyA(s->strays->paths[s->strays->count], path);
        ++s->strays->count;
    }
    if (state != JOURNAL_SOUND && state != JOURNAL_DAMAGED)
        return 1;
    if (!IdentSameName(r.logPath, s->logPath) && !JournalIsItsLog(r, *s->mark))
        return 1;
    Journal *j = s->journal;
    int sound = state == JOURNAL_SOUND;
    // One journal of the log whose progress cannot be trusted taints them all.
    s->anyDamaged |= !sound;
    if (!s->match || (sound && (!s->bestSound || FurtherOn(r, j->record)))) {
        if (s->match)
            NoteExtra(s, j->path);
        lstrcpyA(j->path, path);
        j->record = r;
        s->bestSound = sound;
    } else {
        NoteExtra(s, path);
    }
    s->match = 1;
    return 1;
}

int JournalFind(const char *canonicalLogPath, const JournalMark &mark, Journal *journal,
                JournalStrays *strays, int tidy)
{
    char dir[PATH_SIZE];
    if (strays)
        strays->count = 0;
    journal->progressDamaged = 0;
    if (!JournalDir(dir))
        return 0;
    static JournalSearch search;   // large, and the engine runs one session at a time
    memset(&search, 0, sizeof search);
    search.dir = dir;
    search.logPath = canonicalLogPath;
    search.mark = &mark;
    search.journal = journal;
    search.strays = strays;
    if (!FsWalkDir(dir, JOURNAL_PATTERN, LookAtJournal, &search))
        return 0;
    journal->open = 0;
    journal->progressDamaged = search.anyDamaged;
    // Left by a run killed between making its new journal and deleting the old one.
    for (int i = 0; tidy && i < search.extras; ++i)
        FsDelete(search.extraPaths[i]);
    return search.match;
}

static int WriteRecord(Journal *journal)
{
    JournalRecord &r = journal->record;
    r.magic = JOURNAL_MAGIC;
    r.progressCheck = ProgressCheck(r);
    r.identityCheck = IdentityCheck(r);
    uint32_t position = 0;
    uint32_t count = sizeof r;
    return FsSeek(journal->handle, &position) == 0 &&
           FsWrite(journal->handle, &r, &count) == static_cast<int32_t>(sizeof r) &&
           FsFlush(journal->handle) == 0;
}

int JournalCreate(Journal *journal)
{
    char dir[PATH_SIZE];
    if (!JournalDir(dir))
        return 0;
    // The name is ours only if we created it: another run may pick the same number.
    journal->handle = FsCreateNumbered(dir, JOURNAL_BASE, journal->path);
    if (journal->handle == FS_NO_FILE) {
        journal->open = 0;
        return 0;
    }
    // Written whole before anyone may read it, then opened again as every journal is.
    journal->open = 1;
    int written = WriteRecord(journal);
    JournalClose(journal);
    if (written && JournalReopen(journal))
        return 1;
    JournalDelete(journal);
    return 0;
}

int JournalMove(Journal *journal)
{
    char old[PATH_SIZE];
    lstrcpyA(old, journal->path);
    JournalClose(journal);
    if (!JournalCreate(journal)) {
        lstrcpyA(journal->path, old);
        return 0;
    }
    FsDelete(old);
    return 1;
}

int JournalReopen(Journal *journal)
{
    JournalClose(journal);
    journal->handle = FsOpen(journal->path, FS_READWRITE);
    journal->open = journal->handle != FS_NO_FILE;
    return journal->open;
}

void JournalWriteProgress(Journal *journal, int durable)
{
    if (!journal->open)
        return;
    JournalRecord &r = journal->record;
    r.progressCheck = ProgressCheck(r);
    uint32_t position = JOURNAL_PROGRESS_OFFSET;
    uint32_t count = JOURNAL_PROGRESS_SIZE;
    FsSeek(journal->handle, &position);
    FsWrite(journal->handle, &r.phase, &count);
    if (durable)
        FsFlush(journal->handle);
}

void JournalClose(Journal *journal)
{
    if (journal->open)
        FsClose(journal->handle);
    journal->open = 0;
}

void JournalDelete(Journal *journal)
{
    JournalClose(journal);
    if (journal->path[0])
        FsDelete(journal->path);
    journal->path[0] = '\0';
}
