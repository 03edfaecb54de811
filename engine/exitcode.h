// remover's exit status: what a run tells the program that started it (a deployment tool, a
// script, the shell). One table for every mode; the codes are the system installer's wherever
// it has one with the same meaning, so that tools which know those read remover right.
#pragma once

// Finished: nothing the log named remains.
constexpr int EXIT_DONE = 0;
// Finished, but something the log named remains and no restart removes it (a folder holding
// the user's files, a group with the user's items, a key without delete access, a refused
// system file). A code of its own, outside the installer's range: not 0 or 3010, which tools
// count as success with nothing to do, nor 1603, which says "run it again" when a repeat would
// change nothing.
constexpr int EXIT_INCOMPLETE = 1;
// Finished: the rest goes at the next restart (ERROR_SUCCESS_REBOOT_REQUIRED). For -d: the file
// was scheduled.
constexpr int EXIT_RESTART = 3010;
// Failed: the log was put back and the uninstall command registered again, so the same command
// can be run once more (ERROR_INSTALL_FAILURE). For -d: the file could be neither deleted nor
// scheduled.
constexpr int EXIT_FAILED = 1603;
// The user answered No, or the run was closed before it started; nothing changed
// (ERROR_INSTALL_USEREXIT).
constexpr int EXIT_CANCELLED = 1602;
// No log at the path (none given, or removed already): nothing is installed under it to remove
// (ERROR_UNKNOWN_PRODUCT).
constexpr int EXIT_NO_LOG = 1605;
// The log is there but cannot be read as one (damaged, wrong version, bad checksum): it is the
// package that is at fault, not the machine (ERROR_INSTALL_PACKAGE_INVALID).
constexpr int EXIT_BAD_LOG = 1620;
// Another run is removing the same log (ERROR_INSTALL_ALREADY_RUNNING).
constexpr int EXIT_BUSY = 1618;
// The report asked for with -l cannot be written (a path over 260 bytes, a folder that does not
// exist, no right, the log's own file): nothing was started (ERROR_CANNOT_MAKE).
constexpr int EXIT_NO_REPORT = 82;

// The command line cannot be run as written (-l or -d without a path, a path over 260 bytes):
// nothing was started (the system installer's ERROR_INVALID_COMMAND_LINE).
constexpr int EXIT_BAD_COMMAND_LINE = 1639;

// The status of a run that ended on an error the session or the shell reported (ERR_*).
int ExitStatusForError(int code);
