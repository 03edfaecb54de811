// The removal report asked for with -l: a plain-text account, in the system code page, of what a
// run did with every record of the log, for the administrator to read (nothing parses it back).
// A heading (product, log, date and time, where program items live), one line per record as it
// is handled, and a closing line with the result and the exit status. Lines go to the file as
// they come (a killed run leaves what it had done); each phase end also hands them to the disk.
// Without a report every call returns at once.
#pragma once

// What became of one record. Handlers leave one in the session (SessionSetOutcome); the texts
// are the report's own table.
enum ReportOutcome {
    OUTCOME_NONE = 0,       // none stated: the driver takes it from the handler's result
    OUTCOME_REMOVED,
    OUTCOME_GONE,           // already gone
    OUTCOME_EARLIER,        // handled by an earlier, interrupted run of the same log
    OUTCOME_SHARED,         // kept, detail: the references other products still hold
    OUTCOME_FOLDER_HOLDS,   // kept, the folder holds other files
    OUTCOME_GROUP_HOLDS,    // kept, the group holds other items
    OUTCOME_SCHEDULED,      // goes at the next restart
    OUTCOME_FAILED,         // detail: the system's error code, 0 when there is none
    OUTCOME_PROTECTED_KEY,  // refused
    OUTCOME_SYSTEM_FILE,    // refused
    OUTCOME_SYSTEM_FOLDER,  // refused
    OUTCOME_TOO_LONG,       // refused: the text does not fit a path or a record
    OUTCOME_UNRESOLVED,     // refused: the path cannot be resolved to one place with confidence
    OUTCOME_NOT_OURS,       // refused: the name reaches beyond the product's own key
    OUTCOME_MALFORMED,      // refused: the record is damaged (the run stops)
    OUTCOME_NOT_NAMED,      // nothing to do: the log names nothing here
    OUTCOME_GROUP_EMPTY,    // the Program Manager has no such group, or it holds no items
    OUTCOME_PROGMAN,        // the Program Manager did not carry the command out
    OUTCOME_PROGMAN_REFUSED,   // kept: the Program Manager refused the delete command
    OUTCOME_PROGMAN_SILENT,    // kept: the Program Manager did not answer it in time
    OUTCOME_PLATFORM,       // left alone on this platform (Win32s keeps the registration)
    OUTCOME_PROGRESS_DAMAGED,  // kept: an earlier run's progress record cannot be trusted
    OUTCOME_JOURNAL_RETIRED,   // a journal of an earlier installation, deleted with its copy
    OUTCOME_JOURNAL_STRAY,     // a journal that names no log that can be read, left alone
    OUTCOME_COLLECTED,      // no line yet: the folder is removed at the end of its kind
};

// 1 when outcome leaves something the log named in place that no restart removes.
int ReportOutcomeRemains(int outcome);

// What a plan's lines say, counted for its window.
struct ReportCounts {
    int removed;   // would be removed
    int restart;   // would go at the next restart
    int kept;      // would be kept (the user's, another product's, refused, failing)
};

// The lines to come are a plan's of the log at logPath, in the future tense ("would be
// removed"), and keepText keeps them in memory too, for a window (ReportText), also without a
// file. Called before ReportOpen (or instead, without a file).
void ReportPlan(int keepText, const char *logPath);
// A removal's result ("removed", "kept, ...", "scheduled ...") in the future tense a plan
// writes, into out (size bytes). 1, or 0 when it was cut.
int ReportFutureTense(const char *said, char *out, int size);
// The kept text, lines ending in CR LF; "" when none. Stays after ReportClose.
const char *ReportText(void);
void ReportGetCounts(ReportCounts *counts);

// Creates (or empties) the report at path. logPath is the log (or -d's file) the run is about:
// a report naming that very file is refused, since writing it would destroy it. 1, or 0 when
// the report cannot be written (nothing is then created).
int ReportOpen(const char *path, const char *logPath);
int ReportIsOpen(void);
// While on, the report takes no line (a plan run only to look, beside the real run's report).
void ReportMute(int on);
// Writes the heading once; product is the display name (empty when unknown).
void ReportHeading(const char *product);
// One line: kind is the log record's name ("CF" ...), name what it names.
void ReportRecord(const char *kind, const char *name, int outcome, unsigned long detail);
// Who holds the file about to be scheduled ("app.exe (process 12)", empty when unknown): the next
// line with the scheduled outcome names them, then forgets them. Escaped like a name.
void ReportNoteHeldBy(const char *holders);
// Hands what was written to the disk.
void ReportPhaseEnd(void);
// The failed run could not put the log back at its path: the closing line says where it stays
// instead of saying it was put back.
void ReportLogNotBack(const char *workingCopy);
// The closing line with the exit status (engine/exitcode.h), deleteMode telling how to read
// it; the heading first when no session wrote it. Closes the file.
void ReportClose(int status, int deleteMode);
