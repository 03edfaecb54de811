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

static_assert(offsetof(JournalRecord, phase) == JOURNAL_PROGRESS_OFFSET &&
                  offsetof(JournalRecord, logPath) ==
                      JOURNAL_PROGRESS_OFFSET + JOURNAL_PROGRESS_SIZE,
              "the progress block is written in one piece");

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

// Reads a journal file; 0 when it is not one of ours or is damaged.
static int ReadJournal(const char *path, JournalRecord *record)
{
    int handle = FsOpen(path, FS_READ);
    if (handle == FS_NO_FILE)
        return 0;
    uint32_t count = sizeof *record;
    int ok = FsRead(handle, record, &count) == static_cast<int32_t>(sizeof *record);
    FsClose(handle);
    return ok && record->magic == JOURNAL_MAGIC && record->phase >= 0 && record->phase <= PHASE_COUNT && record->handled >= 0 &&
           memchr(record->logPath, '\0', PATH_SIZE) && memchr(record->workPath, '\0', PATH_SIZE);
}

struct JournalSearch {
    const char *dir;
    const char *logPath;
    const FileIdent *id;
    Journal *journal;
    int match;
};

// FsWalkDir callback of JournalFind: stops at the journal of the log.
static int MatchJournal(const char *name, uint32_t, void *context)
{
    JournalSearch *s = static_cast<JournalSearch *>(context);
    int length = snprintf(s->journal->path, PATH_SIZE, "%s%s", s->dir, name);
    if (length < 0 || length >= PATH_SIZE)
        return 1;
    const JournalRecord &r = s->journal->record;
    s->match = ReadJournal(s->journal->path, &s->journal->record) &&
               (IdentSameName(r.logPath, s->logPath) || IdentSame(r.logIdent, *s->id) ||
                IdentSame(r.backIdent, *s->id));
    return !s->match;
}

int JournalFind(const char *canonicalLogPath, const FileIdent &id, Journal *journal)
{
    char dir[PATH_SIZE];
    if (!JournalDir(dir))
        return 0;
    JournalSearch search = {dir, canonicalLogPath, &id, journal, 0};
    if (!FsWalkDir(dir, JOURNAL_PATTERN, MatchJournal, &search))
        return 0;
    journal->open = 0;
    return search.match;
}

static int WriteWhole(Journal *journal, int mode)
{
    JournalClose(journal);
    journal->handle = FsOpen(journal->path, mode);
    if (journal->handle == FS_NO_FILE)
        return 0;
    uint32_t position = 0;
    uint32_t count = sizeof journal->record;
    if (FsSeek(journal->handle, &position) != 0 ||
        FsWrite(journal->handle, &journal->record, &count) !=
            static_cast<int32_t>(sizeof journal->record) ||
        FsFlush(journal->handle) != 0) {
        FsClose(journal->handle);
        return 0;
    }
    journal->open = 1;
    return 1;
}

int JournalCreate(Journal *journal)
{
    char dir[PATH_SIZE];
    if (!JournalDir(dir))
        return 0;
    for (int n = 1; n > 0; ++n) {
        int length = snprintf(journal->path, PATH_SIZE, "%s%s.%d", dir, JOURNAL_BASE, n);
        if (length < 0 || length >= PATH_SIZE)
            return 0;
        if (FsExists(journal->path))
            continue;
        journal->record.magic = JOURNAL_MAGIC;
        if (WriteWhole(journal, FS_CREATE))
            return 1;
        FsDelete(journal->path);
        return 0;
    }
    return 0;
}

int JournalRewrite(Journal *journal)
{
    return WriteWhole(journal, FS_READWRITE);
}

void JournalWriteProgress(Journal *journal, int durable)
{
    if (!journal->open)
        return;
    uint32_t position = JOURNAL_PROGRESS_OFFSET;
    uint32_t count = JOURNAL_PROGRESS_SIZE;
    FsSeek(journal->handle, &position);
    FsWrite(journal->handle, &journal->record.phase, &count);
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
