// The progress journal of a removal: a small file "_dejrn.N" in the Windows directory, beside
// the working copy of the log, that says which log a run works on, where its working copy is,
// and how far the run got. A run that is killed, fails or is closed early leaves it behind; the
// next run of the same log reads it and goes on from there, so no record is handled twice (a
// shared file's reference is never given back twice).
//
// The record is written once whole; afterwards only its progress block (phase, records handled
// in that phase, flags) is written again, in place, after each record: the cost per record stays
// flat, and the system keeps what was written when the process is killed. Phase ends, and
// records that must never be repeated, are flushed to the disk.
#pragma once

#include <stdint.h>

#include "base/ident.h"
#include "base/path.h"

constexpr uint32_t JOURNAL_MAGIC = 0x324A4544;      // "DEJ2"
constexpr uint32_t JOURNAL_INCOMPLETE = 0x1;        // some record of the run gave a warning
constexpr uint32_t JOURNAL_SCHEDULED = 0x2;         // something was left for the next restart
constexpr uint32_t JOURNAL_REMAINS = 0x4;           // something named stays that no restart removes
constexpr uint32_t JOURNAL_PROGRESS_OFFSET = 12;    // where phase, handled and flags lie
constexpr uint32_t JOURNAL_PROGRESS_SIZE = 12;

// The file's layout, little-endian as the machine is.
struct JournalRecord {
    uint32_t magic;
    uint32_t logSize;                  // identity of the log: its size ...
    uint32_t logChecksum;              // ... and the checksum in its header
    int32_t phase;                     // phases before this one are done
    int32_t handled;                   // records of that phase already handled
    uint32_t flags;                    // JOURNAL_INCOMPLETE, _SCHEDULED, _REMAINS
    char logPath[PATH_SIZE];           // the log's canonical path (base/ident.h)
    char workPath[PATH_SIZE];          // its working copy
    FileIdent logIdent;                // the log file the run took from logPath ...
    FileIdent backIdent;               // ... and the one it put back there (unknown until then)
};

struct Journal {
    int handle;                        // open while the session uses it
    int open;
    char path[PATH_SIZE];
    JournalRecord record;
};

// Size and header checksum of the log file at path; 0 when it cannot be read.
int JournalReadIdentity(const char *path, uint32_t *size, uint32_t *checksum);
// Looks in the Windows directory for a sound journal of the log: one that names its canonical
// path, or the identity of the file now at that path (id, unknown when nothing is there) as the
// log it took or put back, so every spelling and hard link of one log finds one journal.
// 1 and journal filled (not open) when one is there, else 0.
int JournalFind(const char *canonicalLogPath, const FileIdent &id, Journal *journal);
// Writes journal->record into a new "_dejrn.N" and keeps it open. 1, or 0 (nothing left).
int JournalCreate(Journal *journal);
// Writes journal->record over the existing journal file and keeps it open. 1, or 0.
int JournalRewrite(Journal *journal);
// Writes the progress block; durable also hands it to the disk.
void JournalWriteProgress(Journal *journal, int durable);
void JournalClose(Journal *journal);
// Closes and deletes the journal file.
void JournalDelete(Journal *journal);
