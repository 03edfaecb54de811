// Command line of remover: "-n" (a plan: what the removal would do, nothing changed), "-a" (automatic), "-d" + path (delete one file a few seconds after
// start), "-f" + path (the installation log), "-l" + path (write a removal report there). "-" or
// "/", letters in either case. The text may be double-byte: every advance is a whole character.
#pragma once

#include "base/path.h"

struct CommandLine {
    int deleteMode;           // -d given
    int automaticMode;        // -a or -d given
    int runSession;           // -f given (start-up forces it on for an interactive run)
    int interactive;          // neither -a nor -d given
    int pathRefused;          // a path argument was longer than PATH_MAX_BYTES
    char logPath[PATH_SIZE];  // the argument of -d or -f; the later one wins
    int reportRefused;        // -l's path was longer than PATH_MAX_BYTES
    int planMode;             // -n: decide everything, change nothing
    int malformed;            // -l without a path, -d without a file, a path over
                              // PATH_MAX_BYTES for -d or -f: the run must not start
    char reportPath[PATH_SIZE];  // the argument of -l, empty without one
};

// Fills *cl from text (the command line without the program name; null reads as empty). An
// option starts a word: a '-' or '/' inside a word (an unquoted path) is part of it.
// Returns 1.
int ParseCommandLine(const char *text, CommandLine *cl);

// Reads one path argument starting at pos: in double quotes up to the closing quote, else up
// to the next blank. The whole argument is copied into dest (destSize bytes) when it fits; an
// empty argument leaves dest as it was; one that does not fit empties dest and sets *refused,
// since a shortened path would name another file. Returns the position behind the argument
// (behind its closing quote).
const char *ReadArgument(char *dest, int destSize, const char *pos, int *refused);
