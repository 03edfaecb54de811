// The progress journal of a removal: a small file "_dejrn.N" in the Windows directory, beside
// the working copy of the log, that says which log a run works on, where its working copy is,
// and how far the run got. A run that is killed, fails or is closed early leaves it behind; the
// next run of the same log reads it and goes on from there, so no record is handled twice (a
// shared file's reference is never given back twice).
//
// Two parts, each with its own check. The identity part (which log, which working copy, which
// file the run took from the log's path) is written once, when the journal is made, and handed
// to the disk before anything changes. The progress part (phase, records handled in it, flags,
// the log put back) is written again in place after each record: the cost per record stays flat,
// and the system keeps what was written when the process is killed. Phase ends, and records that
// must never be repeated, are flushed to the disk. A journal is recognised by the log file's
// identity and last write time, never by the log's bytes: an installer writes the same bytes at
// every installation.
#pragma once

#include <stdint.h>

#include "base/ident.h"
#include "base/path.h"

constexpr uint32_t JOURNAL_MAGIC = 0x334A4544;      // "DEJ3"
constexpr uint32_t JOURNAL_INCOMPLETE = 0x1;        // some record of the run gave a warning
constexpr uint32_t JOURNAL_SCHEDULED = 0x2;         // something was left for the next restart
constexpr uint32_t JOURNAL_REMAINS = 0x4;           // something named stays that no restart removes
constexpr uint32_t JOURNAL_PUT_BACK = 0x8;          // the log is back at its path (back below)
constexpr uint32_t JOURNAL_KEEP_SHARED = 0x10;      // an earlier progress could not be trusted:
                                                    // shared files are never handled again
constexpr uint32_t JOURNAL_PROGRESS_OFFSET = 12;    // where the progress part lies

// One file that was the log at its path: its identity and last write time.
struct JournalMark {
    FileIdent id;
    uint32_t timeLow;
    uint32_t timeHigh;
};

// The file's layout, little-endian as the machine is.
struct JournalRecord {
    uint32_t magic;
    uint32_t logSize;                  // the log's size and header checksum, to know a working
    uint32_t logChecksum;              // copy of it (never to know the log itself)
    // Progress part, rewritten in place.
    int32_t phase;                     // phases before this one are done
    int32_t handled;                   // records of that phase already handled
    uint32_t flags;                    // JOURNAL_*
    JournalMark back;                  // the log a run of this journal put back at logPath
    uint32_t progressCheck;
    // Identity part, written once.
    char logPath[PATH_SIZE];           // the log's canonical path (base/ident.h)
    char workPath[PATH_SIZE];          // its working copy
    JournalMark taken;                 // the log the first run took from logPath
    uint32_t identityCheck;
};

constexpr uint32_t JOURNAL_PROGRESS_SIZE = sizeof(int32_t) * 3 + sizeof(JournalMark) + 4;

struct Journal {
    int handle;                        // open while the session uses it
    int open;
    int progressDamaged;               // found with a progress part that fails its check
    char path[PATH_SIZE];
    JournalRecord record;
};

// Journals in the Windows directory that name no log that can be read: left alone, and told.
constexpr int JOURNAL_STRAY_MAX = 4;
struct JournalStrays {
    int count;                         // all of them, also those not named below
    char paths[JOURNAL_STRAY_MAX][PATH_SIZE];
};

// Size and header checksum of the log file at path; 0 when it cannot be read.
int JournalReadIdentity(const char *path, uint32_t *size, uint32_t *checksum);
// The mark of the file at path; 0 (mark zeroed) when nothing is there. Where the system tells no
// identity, the mark is the write time alone.
int JournalReadMark(const char *path, JournalMark *mark);
// 1 when both marks are known and name the same file as it was then.
int JournalSameMark(const JournalMark &a, const JournalMark &b);
// 1 when mark (the file now at the log's path) is a log this journal's runs took or put back.
int JournalIsItsLog(const JournalRecord &record, const JournalMark &mark);
// Looks in the Windows directory for the journal of the log: one whose identity part names its
// canonical path, or the file now at that path (mark, unknown when nothing is there) as taken or
// put back. Of several, the furthest on is kept and, with tidy, the others (left by a run killed
// while it moved to a new journal) are deleted. 1 and journal filled (not open; progressDamaged set when
// its progress part cannot be trusted) when one is there, else 0. strays, when not null,
// receives the journals that cannot be attributed to any log.
int JournalFind(const char *canonicalLogPath, const JournalMark &mark, Journal *journal,
                JournalStrays *strays, int tidy);
// Writes journal->record into a new "_dejrn.N" (a name no other run holds), hands it to the disk
// and keeps it open. 1, or 0 (nothing left).
int JournalCreate(Journal *journal);
// Moves the journal to a new file with journal->record as it is now (a new working copy), then
// deletes the old one. 1, or 0 with the old one kept.
int JournalMove(Journal *journal);
// Opens the journal file again to go on writing its progress. 1, or 0.
int JournalReopen(Journal *journal);
// Writes the progress part; durable also hands it to the disk.
void JournalWriteProgress(Journal *journal, int durable);
void JournalClose(Journal *journal);
// Closes and deletes the journal file.
void JournalDelete(Journal *journal);
