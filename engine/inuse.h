// Before a removal changes anything: which running programs hold files the log would remove, so
// that an interactive run can ask the user to close them first. One snapshot of the running
// programs for the whole log, not one per file.
#pragma once

#include "engine/holders.h"

constexpr int INUSE_PROGRAM_MAX = 16;

struct InUseList {
    int files;                          // files of the log that are held
    int programs;                       // programs holding them (all of them, also those not
    Holder program[INUSE_PROGRAM_MAX];  // named in program[])
};

// Reads the log at logPath (changing nothing) and fills list with the programs that hold the
// files it would remove: plain files, and shared files whose count would reach 0. 1 when the
// log could be read and the system tells who runs (list->files may be 0), else 0.
int InUseFind(const char *logPath, InUseList *list);
