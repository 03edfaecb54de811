#include "shell/cmdline.h"

#include "base/str.h"

const char *ReadArgument(char *dest, int destSize, const char *pos, int *refused)
{
    char endChar = ' ';
    if (*pos == '"') {
        endChar = '"';
        pos = StrNextChar(pos);
    }

    // Measure first: the copy happens only when the whole argument fits.
    const char *start = pos;
    while (*pos && *pos != endChar)
        pos = StrNextChar(pos);
    int length = static_cast<int>(pos - start);

    if (length > 0) {
        if (length < destSize) {
            StrCopyBytes(dest, start, static_cast<unsigned>(length));
            dest[length] = '\0';
        } else {
            if (destSize > 0)
                dest[0] = '\0';
            if (refused)
                *refused = 1;
        }
    }
    if (*pos == '"')
        pos = StrNextChar(pos);
    return pos;
}

// The argument read from start to end was empty ("" or nothing before a blank or the end).
static int IsEmptyArgument(const char *start, const char *end)
{
    return end == start || (end - start == 2 && start[0] == '"');
}

// Handles the option letter at pos; returns the position behind the letter and its argument.
static const char *ReadOption(const char *pos, CommandLine *cl)
{
    char letter = *pos;
    pos = StrNextChar(pos);
    switch (letter) {
    case 'a':
    case 'A':
        cl->automaticMode = 1;
        break;
    case 'n':
    case 'N':
        cl->planMode = 1;
        break;
    case 'd':
    case 'D': {
        const char *start = pos;
        pos = ReadArgument(cl->logPath, sizeof cl->logPath, pos, &cl->pathRefused);
        // Nothing named to delete: an earlier -f's path must not be taken for it.
        if (IsEmptyArgument(start, pos))
            cl->malformed = 1;
        cl->deleteMode = 1;
        cl->automaticMode = 1;
        break;
    }
    case 'f':
    case 'F':
        pos = ReadArgument(cl->logPath, sizeof cl->logPath, pos, &cl->pathRefused);
        cl->runSession = 1;
        break;
    case 'l':
    case 'L': {
        const char *start = pos;
        pos = ReadArgument(cl->reportPath, sizeof cl->reportPath, pos, &cl->reportRefused);
        // A report asked for without a place to write it: the run would go unrecorded.
        if (IsEmptyArgument(start, pos))
            cl->malformed = 1;
        break;
    }
    default:
        break;
    }
    return pos;
}

int ParseCommandLine(const char *text, CommandLine *cl)
{
    cl->deleteMode = 0;
    cl->automaticMode = 0;
    cl->runSession = 0;
    cl->interactive = 0;
    cl->pathRefused = 0;
    cl->reportRefused = 0;
    cl->malformed = 0;
    cl->planMode = 0;
    cl->reportPath[0] = '\0';

    const char *text0 = text ? text : "";
    const char *pos = text0;
    while (*pos) {
        // A '-' or '/' inside a word belongs to it (C:\a-b\x.log, C:/dir/x.log written bare).
        int wordStart = pos == text0 || pos[-1] == ' ' || pos[-1] == '\t' || pos[-1] == '"';
        if ((*pos != '-' && *pos != '/') || !wordStart) {
            pos = StrNextChar(pos);
            continue;
        }
        pos = ReadOption(StrNextChar(pos), cl);
        // Options stand apart by one character; at the terminator this stays put.
        pos = StrNextChar(pos);
    }

    // A path cut to fit would name another file; one refused leaves nothing to work on.
    if (cl->pathRefused)
        cl->malformed = 1;
    // A plan is of a removal: of -d's single file there is nothing to plan.
    if (cl->planMode && cl->deleteMode)
        cl->malformed = 1;
    cl->interactive = !cl->deleteMode && !cl->automaticMode;
    return 1;
}
