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
    case 'd':
    case 'D':
        pos = ReadArgument(cl->logPath, sizeof cl->logPath, pos, &cl->pathRefused);
        cl->deleteMode = 1;
        cl->automaticMode = 1;
        break;
    case 'f':
    case 'F':
        pos = ReadArgument(cl->logPath, sizeof cl->logPath, pos, &cl->pathRefused);
        cl->runSession = 1;
        break;
    case 'l':
    case 'L':
        pos = ReadArgument(cl->reportPath, sizeof cl->reportPath, pos, &cl->reportRefused);
        break;
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
    cl->reportPath[0] = '\0';

    const char *pos = text ? text : "";
    while (*pos) {
        if (*pos != '-' && *pos != '/') {
            pos = StrNextChar(pos);
            continue;
        }
        pos = ReadOption(StrNextChar(pos), cl);
        // Options stand apart by one character; at the terminator this stays put.
        pos = StrNextChar(pos);
    }

    cl->interactive = !cl->deleteMode && !cl->automaticMode;
    return 1;
}
