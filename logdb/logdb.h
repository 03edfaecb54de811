// The installation log database: reads a committed installation log record by record, or
// writes a new one through create mode. One database is open at a time (the body buffer, the
// last error and the name id counter are module-wide). Every read is bounded: a damaged or
// hostile log gives an error code, never a copy past a buffer or an endless chain.
#pragma once

#include <stdint.h>

struct LogDatabase;
struct StringList;

// File layout.
constexpr uint16_t LOG_MAGIC = 0xA871;
constexpr uint32_t LOG_VERSION = 0x02010000;
constexpr uint32_t LOG_BANNER_LENGTH = 41;     // our banner; readers accept any length
constexpr uint32_t LOG_HEADER_OFFSET = 53;     // header record of a log laid out by the writer
constexpr uint32_t LOG_FIRST_RECORD = 1111;    // first record behind the reserved area
constexpr int LOG_BODY_MAX = 4096;             // largest body of any framed record
constexpr int LOG_NAME_MAX = 254;              // longest record name, terminator not counted
constexpr int LOG_NAME_SIZE = LOG_NAME_MAX + 1;

// Open flags.
constexpr uint32_t LOG_DEFAULT = 0x1;          // kept with the database; no effect of its own
constexpr uint32_t LOG_CREATE = 0x2;
constexpr uint32_t LOG_READ = 0x4;             // wins over LOG_CREATE

// LogReadRecord modes and its end result.
constexpr int LOG_FIRST = 1;
constexpr int LOG_NEXT = 2;
constexpr int LOG_END = 1;

// Record flags; other bits are carried through unchanged.
constexpr uint32_t REC_TEXT = 0x0001;
constexpr uint32_t REC_VALUE = 0x0002;
constexpr uint32_t REC_LIST = 0x0004;

// Header items.
constexpr int ITEM_PRODUCT_KEY = 1;
constexpr int ITEM_VERSION_KEY = 2;
constexpr int ITEM_TEXT3 = 3;
constexpr int ITEM_TEXT4 = 4;
constexpr int ITEM_WORD5 = 5;        // u16
constexpr int ITEM_NUMBER6 = 6;      // u32
constexpr int ITEM_NUMBER7 = 7;      // u32
constexpr int ITEM_APP_PATH = 8;
constexpr int ITEM_COMPANY_KEY = 9;
constexpr int ITEM_RECORD_COUNT = 10;  // u32, counted by the writer, cannot be set
constexpr int ITEM_UNINSTALL_KEY = 11;

// Results and last-error codes.
constexpr int LOGERR_BAD_MAGIC = -1;
constexpr int LOGERR_READ = -2;             // short file, failed read, damaged body or table
constexpr int LOGERR_COMMITTED = -3;
constexpr int LOGERR_CREATE = -4;
constexpr int LOGERR_NO_FILE = -5;
constexpr int LOGERR_OPEN = -6;
constexpr int LOGERR_INVALID = -7;          // no database or argument, vanished name, failed step
constexpr int LOGERR_NOT_READING = -8;
constexpr int LOGERR_READ_ONLY = -9;
constexpr int LOGERR_NO_MEMORY = -10;
constexpr int LOGERR_NAME_INSERT = -11;
constexpr int LOGERR_NOT_STARTED = -12;
constexpr int LOGERR_VERSION = -13;
constexpr int LOGERR_NAME_TABLE_FULL = -14;
constexpr int LOGERR_CHECKSUM = -15;
// A text, name or item does not fit the caller's buffer, or a record or item would not fit a
// body. Nothing is cut: a shortened path would name another file.
constexpr int LOGERR_TOO_LONG = -16;

// Opens path with LOG_READ (check and load an existing log) or LOG_CREATE (start a new one).
// Returns the database, or null with the reason in LogLastError (unchanged when neither mode
// was asked for, or the database's memory could not be had).
LogDatabase *LogOpen(const char *path, uint32_t flags);
// Closes the file if still open and releases everything the database holds. Returns 0.
int LogClose(LogDatabase *db);
// The code of the last operation that set one (0 after a successful open or add).
int LogLastError();
// Text of a code for messages ("checksum does not match"); never null.
const char *LogErrorText(int code);

// Read mode. Selects the name whose records LogReadRecord delivers; "" selects every name.
// 0, LOGERR_INVALID (no name), LOGERR_TOO_LONG (longer than LOG_NAME_MAX), LOGERR_NOT_READING.
int LogSelectName(LogDatabase *db, const char *name);

// Read mode. Delivers the first (LOG_FIRST) or next (LOG_NEXT, any other mode) record of the
// selected name, or of every name in name table order when "" is selected.
//   nameOut/nameSize: receives the record's name ("" for records read from the file); may be null.
//   flagsOut: the record's flags; may be null.
//   textOut/textSize: receives the text when the record has REC_TEXT; may be null.
//   valueOut: the value when the record has REC_VALUE; may be null.
//   listOut: the list strings are appended (copies) when the record has REC_LIST; may be null.
// Returns 0 (delivered), LOG_END, or an error: LOGERR_READ (damaged body or chain),
// LOGERR_NO_MEMORY, LOGERR_NOT_STARTED, LOGERR_INVALID, LOGERR_NOT_READING, or LOGERR_TOO_LONG
// when the text or the name does not fit its buffer: then nothing is delivered and the read
// position stays on that record, so a retry with a larger buffer reads it again.
int LogReadRecord(LogDatabase *db, char *nameOut, int nameSize, uint32_t *flagsOut, char *textOut,
                  int textSize, uint32_t *valueOut, StringList *listOut, int mode);

// Header items. String items (1-4, 8, 9, 11): copies the text (absent: "") into buf of size
// bytes and returns its length; 0 without a buffer; LOGERR_TOO_LONG with buf emptied when the
// text does not fit. Number items (5, 6, 7, 10): the number (items 6 and 7 are u32: cast).
// Other numbers, or no database: 0.
int32_t LogGetItem(LogDatabase *db, int item, char *buf, int size);
// Sets a string item to text (null: "") or item 5, 6 or 7 to number; the other argument is
// ignored. Item 10 and numbers outside 1..11 change nothing. In read mode only the copy in
// memory changes. 0, LOGERR_NO_MEMORY, or LOGERR_TOO_LONG when the strings record would pass
// LOG_BODY_MAX (the item then keeps its text). No database: 0, with LOGERR_INVALID as the
// last error.
int LogSetItem(LogDatabase *db, int item, const char *text, uint32_t number);

// Create mode. Adds a record under name (1 to LOG_NAME_MAX bytes) with the parts its flags
// name: text (null: ""), value, list (null: empty). 0, or LOGERR_READ_ONLY, LOGERR_COMMITTED,
// LOGERR_INVALID (no name), LOGERR_TOO_LONG (name or body too long), LOGERR_NO_MEMORY,
// LOGERR_NAME_INSERT, LOGERR_NAME_TABLE_FULL; each of these leaves file and database as they
// were. A failed write gives LOGERR_INVALID.
int LogAddRecord(LogDatabase *db, const char *name, uint32_t flags, const char *text,
                 uint32_t value, StringList *list);
// Create mode. Finishes the log (name table, items, checksum) and closes the file.
// 0, LOGERR_READ_ONLY, LOGERR_COMMITTED, or LOGERR_INVALID when a write failed.
int LogCommit(LogDatabase *db);

// Inspection for tools such as logtool; the uninstall engine does not need these.
struct LogNameInfo {
    char name[LOG_NAME_SIZE];
    uint32_t id;
    uint32_t count;   // records filed under the name
    uint32_t first;   // file offset of the first record of its chain
};
// The index-th name (from 0) in the order the name table was loaded from the file (read mode)
// or the names were added (create mode). 0, LOG_END past the last, LOGERR_INVALID.
int LogGetNameInfo(LogDatabase *db, int index, LogNameInfo *info);
// File offset of the record the last successful LogReadRecord delivered; 0 before any.
uint32_t LogRecordOffset(LogDatabase *db);
// Read mode: the banner text into buf of size bytes (terminated). Its length, LOGERR_TOO_LONG
// when it does not fit, LOGERR_READ, LOGERR_NOT_READING or LOGERR_INVALID.
int LogGetBanner(LogDatabase *db, char *buf, int size);
// New names get ids from a counter that starts at 100 with the program. A tool that writes
// several logs in one run, and wants each laid out as a fresh run would, resets it here.
void LogResetNameIds();
// Create mode, before the commit: replaces our default banner with text of exactly
// LOG_BANNER_LENGTH bytes. 0, LOGERR_INVALID (other length, or a failed write),
// LOGERR_READ_ONLY, LOGERR_COMMITTED.
int LogSetBanner(LogDatabase *db, const char *text);
