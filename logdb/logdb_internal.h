// Shared between the log database's source files (open/items, reading, writing); not an API.
#pragma once

#include "base/path.h"
#include "base/pool.h"
#include "logdb/hashtable.h"
#include "logdb/logdb.h"

#include <stdint.h>

constexpr int LOG_HASH_BUCKETS = 73;
constexpr int LOG_POOL_BLOCK = 8192;
constexpr int LOG_POOL_FLAGS = POOL_DEFAULT | POOL_GROW | POOL_ZERO;
constexpr int LOG_HEADER_BODY = 30;             // the header record's body, exactly
constexpr uint32_t LOG_NAME_TABLE_GAP = 32;     // name table record behind the header record
constexpr uint32_t LOG_RESERVED = 1058;         // header record + name table record
constexpr int LOG_NAME_TABLE_MAX = 1024;        // name table body, fits the reserved area
constexpr uint32_t LOG_BUDGET_MAX = 1014;       // budget: each new name counts length + 12
constexpr uint32_t LOG_BUDGET_PER_NAME = 12;
constexpr uint32_t LOG_ENTRY_FIXED = 16;        // name entry bytes besides the name itself
constexpr int LOG_STRING_ITEMS = 7;
constexpr uint32_t LOG_FIRST_NAME_ID = 100;
constexpr int LOG_SELECTED_SIZE = 300;
constexpr int LOG_PATH_SIZE = PATH_SIZE;

struct LogNameEntry {
    char name[LOG_NAME_SIZE];
    uint32_t first;           // offset of the first record of the chain
    uint32_t waitingOffset;   // create mode: offset of the waiting record
    uint32_t count;
    uint32_t id;
    unsigned char *waiting;   // create mode: plain body of the waiting record, or null
    uint16_t waitingLength;
    LogNameEntry *nextLoaded; // load (read mode) or insertion (create mode) order
};

struct LogHeaderBlock {
    uint32_t version;
    uint16_t word5;
    uint32_t number6;
    uint32_t number7;
    uint32_t recordCount;
    uint32_t stringsOffset;
    uint32_t nameTableOffset;
    uint32_t reserved;
};

struct LogDatabase {
    LogHeaderBlock header;
    uint32_t headerOffset;
    char *items[LOG_STRING_ITEMS];   // items 1, 2, 3, 4, 9, 8, 11
    uint32_t nameBudget;
    uint32_t nameTableSize;          // create mode: body bytes the name table will take
    HashTable *names;
    LogNameEntry *firstLoaded;
    LogNameEntry *lastLoaded;
    char selected[LOG_SELECTED_SIZE];
    uint32_t readCursor;
    uint32_t firstPending;
    uint32_t lastDelivered;          // offset of the record delivered last
    uint32_t appendPosition;
    int file;                        // BufferedFile handle; 0 once closed
    char path[LOG_PATH_SIZE];
    uint32_t committed;
    uint32_t broken;                 // create mode: a write failed, the file is unusable
    int pool;
    uint32_t flags;
    unsigned char *body;             // LOG_BODY_MAX bytes: every body is built or decoded here
};

// Module-wide state (logdb.cpp).
extern int g_logLastError;
extern uint32_t g_logNextNameId;

// Sets the last error and returns it.
int LogFail(int code);
int LogIsReading(const LogDatabase *db);
// Slot of a string item in db->items, or -1 for number items and unknown numbers.
int LogStringSlot(int item);
const char *LogItemText(const LogDatabase *db, int slot);

// Little-endian field access inside a body.
void LogPut16(unsigned char *p, uint16_t v);
void LogPut32(unsigned char *p, uint32_t v);
uint16_t LogGet16(const unsigned char *p);
uint32_t LogGet32(const unsigned char *p);

// Reading (logdb_read.cpp). Checks and loads an opened file; 0 or an error code.
int LogLoad(LogDatabase *db);
// Reads the framed body at offset into db->body and unscrambles it; its length in *length.
// 0 or LOGERR_READ.
int LogReadBody(LogDatabase *db, uint32_t offset, uint32_t *length);
// Sum of the signed bytes from offset 10 to the end of the file.
uint32_t LogChecksum(LogDatabase *db);

// Writing (logdb_write.cpp). Lays out the beginning of a new log; 0 or LOGERR_CREATE.
int LogStart(LogDatabase *db);
