// The log database object: open, close, header items, the last error. Reading and writing of
// the file itself live in logdb_read.cpp and logdb_write.cpp.
#include "logdb/logdb.h"

#include "base/path.h"
#include "base/pool.h"
#include "base/str.h"
#include "logdb/bfile.h"
#include "logdb/logdb_internal.h"

int g_logLastError = 0;
uint32_t g_logNextNameId = LOG_FIRST_NAME_ID;

// Items 1, 2, 3, 4, 9, 8, 11 are held (and stored) in this order.
static const int s_stringItems[LOG_STRING_ITEMS] = {
    ITEM_PRODUCT_KEY, ITEM_VERSION_KEY,  ITEM_TEXT3,        ITEM_TEXT4,
    ITEM_COMPANY_KEY, ITEM_APP_PATH,     ITEM_UNINSTALL_KEY,
};

int LogFail(int code)
{
    g_logLastError = code;
    return code;
}

int LogIsReading(const LogDatabase *db)
{
    return (db->flags & LOG_READ) != 0;
}

int LogStringSlot(int item)
{
    for (int i = 0; i < LOG_STRING_ITEMS; i++)
        if (s_stringItems[i] == item)
            return i;
    return -1;
}

const char *LogItemText(const LogDatabase *db, int slot)
{
    return db->items[slot] ? db->items[slot] : "";
}

void LogPut16(unsigned char *p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void LogPut32(unsigned char *p, uint32_t v)
{
    LogPut16(p, uint16_t(v));
    LogPut16(p + 2, uint16_t(v >> 16));
}

uint16_t LogGet16(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t LogGet32(const unsigned char *p)
{
    return uint32_t(LogGet16(p)) | uint32_t(LogGet16(p + 2)) << 16;
}

int LogLastError()
{
    return g_logLastError;
}

const char *LogErrorText(int code)
{
    switch (code) {
    case 0: return "no error";
    case LOG_END: return "no more records";
    case LOGERR_BAD_MAGIC: return "not an installation log (bad magic number)";
    case LOGERR_READ: return "the log is damaged or cut short (a record could not be read)";
    case LOGERR_COMMITTED: return "the log is already committed";
    case LOGERR_CREATE: return "the log file could not be created";
    case LOGERR_NO_FILE: return "the log file does not exist";
    case LOGERR_OPEN: return "the log file could not be opened for reading";
    case LOGERR_INVALID: return "invalid argument or failed step";
    case LOGERR_NOT_READING: return "the log is not open for reading";
    case LOGERR_READ_ONLY: return "the log is open for reading only";
    case LOGERR_NO_MEMORY: return "out of memory";
    case LOGERR_NAME_INSERT: return "the name could not be entered into the name table";
    case LOGERR_NOT_STARTED: return "LOG_NEXT before LOG_FIRST";
    case LOGERR_VERSION: return "the log was written by a newer version";
    case LOGERR_NAME_TABLE_FULL: return "the name table is full";
    case LOGERR_CHECKSUM: return "the checksum does not match (the log was changed or damaged)";
    case LOGERR_TOO_LONG: return "a text does not fit its buffer or record";
    default: return "unknown error";
    }
}

// The object, its body buffer and its name table, in a new pool; null when memory fails.
static LogDatabase *NewDatabase(const char *path, uint32_t flags)
{
    int pool = PoolCreate(LOG_POOL_BLOCK, LOG_POOL_FLAGS);
    if (pool < 0)
        return nullptr;
    LogDatabase *db = static_cast<LogDatabase *>(PoolAlloc(pool, sizeof(LogDatabase)));
    unsigned char *body = static_cast<unsigned char *>(PoolAlloc(pool, LOG_BODY_MAX));
    HashTable *names = HashCreateInPool(LOG_HASH_BUCKETS, pool);
    if (!db || !body || !names) {
        PoolDestroy(pool);
        return nullptr;
    }
    *db = LogDatabase{};
    db->pool = pool;
    db->body = body;
    db->names = names;
    db->flags = flags;
    db->header.version = LOG_VERSION;
    StrCopyBytes(db->path, path, unsigned(StrByteLength(path)) + 1);
    // Items 1 to 4 start as empty strings, 8, 9 and 11 as absent; both read as "".
    for (int item = ITEM_PRODUCT_KEY; item <= ITEM_TEXT4; item++) {
        char *empty = static_cast<char *>(PoolAlloc(pool, 1));
        if (!empty) {
            PoolDestroy(pool);
            return nullptr;
        }
        *empty = '\0';
        db->items[LogStringSlot(item)] = empty;
    }
    return db;
}

static void Release(LogDatabase *db)
{
    if (db->file)
        BfClose(db->file);
    PoolDestroy(db->pool);
}

LogDatabase *LogOpen(const char *path, uint32_t flags)
{
    if (!(flags & (LOG_READ | LOG_CREATE)))
        return nullptr;
    if (!path || StrByteLength(path) > PATH_MAX_BYTES) {
        LogFail(LOGERR_INVALID);
        return nullptr;
    }
    LogDatabase *db = NewDatabase(path, flags);
    if (!db)
        return nullptr;
    int r = LogIsReading(db) ? LogLoad(db) : LogStart(db);
    if (r != 0) {
        Release(db);
        LogFail(r);
        return nullptr;
    }
    g_logLastError = 0;
    return db;
}

int LogClose(LogDatabase *db)
{
    if (!db)
        return LogFail(LOGERR_INVALID);
    Release(db);
    return 0;
}

// LogGetItem and LogSetItem without a database: 0, with LOGERR_INVALID as the last error.
static int ItemWithoutDatabase()
{
    LogFail(LOGERR_INVALID);
    return 0;
}

int32_t LogGetItem(LogDatabase *db, int item, char *buf, int size)
{
    if (!db)
        return ItemWithoutDatabase();
    int slot = LogStringSlot(item);
    if (slot >= 0) {
        if (!buf)
            return 0;
        const char *text = LogItemText(db, slot);
        int len = StrByteLength(text);
        if (len + 1 > size) {
            if (size > 0)
                buf[0] = '\0';
            return LogFail(LOGERR_TOO_LONG);
        }
        StrCopyBytes(buf, text, unsigned(len) + 1);
        return len;
    }
    switch (item) {
    case ITEM_WORD5: return db->header.word5;
    case ITEM_NUMBER6: return int32_t(db->header.number6);
    case ITEM_NUMBER7: return int32_t(db->header.number7);
    case ITEM_RECORD_COUNT: return int32_t(db->header.recordCount);
    default: return 0;
    }
}

// Bytes the strings record's body would take with item slot set to a text of newLength.
static uint32_t StringsBodySize(const LogDatabase *db, int slot, uint32_t newLength)
{
    uint32_t size = 0;
    for (int i = 0; i < LOG_STRING_ITEMS; i++)
        size += 2 + (i == slot ? newLength : uint32_t(StrByteLength(LogItemText(db, i))));
    return size;
}

int LogSetItem(LogDatabase *db, int item, const char *text, uint32_t number)
{
    if (!db)
        return ItemWithoutDatabase();
    int slot = LogStringSlot(item);
    if (slot >= 0) {
        if (!text)
            text = "";
        uint32_t len = uint32_t(StrByteLength(text));
        if (StringsBodySize(db, slot, len) > uint32_t(LOG_BODY_MAX))
            return LogFail(LOGERR_TOO_LONG);
        char *copy = static_cast<char *>(PoolAlloc(db->pool, len + 1));
        if (!copy)
            return LogFail(LOGERR_NO_MEMORY);
        StrCopyBytes(copy, text, len + 1);
        if (db->items[slot])
            PoolFree(db->pool, db->items[slot]);
        db->items[slot] = copy;
        return 0;
    }
    switch (item) {
    case ITEM_WORD5: db->header.word5 = uint16_t(number); break;
    case ITEM_NUMBER6: db->header.number6 = number; break;
    case ITEM_NUMBER7: db->header.number7 = number; break;
    default: break;   // item 10 counts the records; others do not exist
    }
    return 0;
}

int LogGetNameInfo(LogDatabase *db, int index, LogNameInfo *info)
{
    if (!db || !info || index < 0)
        return LogFail(LOGERR_INVALID);
    LogNameEntry *e = db->firstLoaded;
    for (int i = 0; e && i < index; i++)
        e = e->nextLoaded;
    if (!e)
        return LOG_END;
    StrCopyBytes(info->name, e->name, unsigned(StrByteLength(e->name)) + 1);
    info->id = e->id;
    info->count = e->count;
    info->first = e->first;
    return 0;
}

void LogResetNameIds()
{
    g_logNextNameId = LOG_FIRST_NAME_ID;
}

uint32_t LogRecordOffset(LogDatabase *db)
{
    return db ? db->lastDelivered : 0;
}
