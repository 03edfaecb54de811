// Create mode: laying out a new log, appending records, and the commit that writes the name
// table, the header and the checksum. Every refusal is decided before the first byte is
// written, so a refused record leaves the file and the database as they were.
#include "base/pool.h"
#include "base/str.h"
#include "base/strlist.h"
#include "logdb/bfile.h"
#include "logdb/logdb_internal.h"
#include "logdb/scramble.h"

constexpr uint32_t LOG_CHECKSUM_AT = 6;
constexpr uint32_t LOG_BANNER_AT = 12;

// Our banner: plain text at the head of every log we write; ^Z stops a "type" of the file.
static const char s_banner[] = "Installation log; binary, do not edit.\r\n\x1A";
static_assert(sizeof s_banner - 1 == LOG_BANNER_LENGTH, "the banner is 41 bytes");

static int WriteAt(LogDatabase *db, uint32_t offset, const void *src, uint32_t n)
{
    if (BfSeek(db->file, offset) != 0)
        return -1;
    return BfWrite(db->file, src, n) == int32_t(n) ? 0 : -1;
}

// Writes a framed body at offset: the plain count, then the body, scrambled when asked.
// The body is scrambled in db->body, which it may already be.
static int WriteBody(LogDatabase *db, uint32_t offset, const unsigned char *body, uint16_t len,
                     int scrambled)
{
    if (body != db->body)
        StrCopyBytes(db->body, body, len);
    if (scrambled)
        ScrambleBlock(db->body, len, SCRAMBLE_LOG_KEY);
    unsigned char count[2];
    LogPut16(count, len);
    if (WriteAt(db, offset, count, 2) != 0 || BfWrite(db->file, db->body, len) != int32_t(len))
        return -1;
    return 0;
}

int LogStart(LogDatabase *db)
{
    db->file = BfOpen(db->path, BF_CREATE);
    if (db->file == -1) {
        db->file = 0;
        return LOGERR_CREATE;
    }
    unsigned char head[LOG_BANNER_AT];
    LogPut16(head, LOG_MAGIC);
    LogPut32(head + 2, LOG_VERSION);
    LogPut32(head + 6, 0);
    LogPut16(head + 10, LOG_BANNER_LENGTH);
    if (BfWrite(db->file, head, sizeof head) != int32_t(sizeof head) ||
        BfWrite(db->file, s_banner, LOG_BANNER_LENGTH) != int32_t(LOG_BANNER_LENGTH))
        return LOGERR_CREATE;
    // The reserved area is zeros until the commit fills its front.
    for (uint32_t i = 0; i < LOG_RESERVED; i++)
        if (BfPutByte(db->file, 0) != 0)
            return LOGERR_CREATE;
    db->headerOffset = LOG_HEADER_OFFSET;
    db->header.nameTableOffset = LOG_HEADER_OFFSET + LOG_NAME_TABLE_GAP;
    db->appendPosition = LOG_FIRST_RECORD;
    db->nameTableSize = 2;
    return 0;
}

int LogSetBanner(LogDatabase *db, const char *text)
{
    if (!db || !text)
        return LogFail(LOGERR_INVALID);
    if (LogIsReading(db))
        return LogFail(LOGERR_READ_ONLY);
    if (db->committed)
        return LogFail(LOGERR_COMMITTED);
    if (uint32_t(StrByteLength(text)) != LOG_BANNER_LENGTH || db->broken)
        return LogFail(LOGERR_INVALID);
    if (WriteAt(db, LOG_BANNER_AT, text, LOG_BANNER_LENGTH) != 0) {
        db->broken = 1;
        return LogFail(LOGERR_INVALID);
    }
    return 0;
}

// Appends a stored string at *pos; the caller has checked that it fits.
static void PutString(unsigned char *body, uint32_t *pos, const char *text, uint32_t len)
{
    LogPut16(body + *pos, uint16_t(len));
    StrCopyBytes(body + *pos + 2, text, len);
    *pos += 2 + len;
}

// Builds the plain record body (link 0) in db->body. Its length, or LOGERR_TOO_LONG.
static int BuildRecord(LogDatabase *db, uint32_t id, uint32_t flags, const char *text,
                       uint32_t value, StringList *list)
{
    uint32_t need = 8;
    uint32_t textLength = (flags & REC_TEXT) ? uint32_t(StrByteLength(text ? text : "")) : 0;
    if (flags & REC_TEXT)
        need += 2 + textLength;
    if (flags & REC_VALUE)
        need += 4;
    if (flags & REC_LIST) {
        need += 2;
        if (ListCount(list) > 0xFFFF)
            return LOGERR_TOO_LONG;
        ListElement *saved = ListGetCursor(list);
        for (void *s = ListFirst(list); s && need <= uint32_t(LOG_BODY_MAX); s = ListNext(list))
            need += 2 + uint32_t(StrByteLength(static_cast<const char *>(s)));
        if (saved)
            ListSetCursor(list, saved);
    }
    if (need > uint32_t(LOG_BODY_MAX))
        return LOGERR_TOO_LONG;
    unsigned char *b = db->body;
    LogPut32(b, 0);
    LogPut16(b + 4, uint16_t(id));
    LogPut16(b + 6, uint16_t(flags));
    uint32_t pos = 8;
    if (flags & REC_TEXT)
        PutString(b, &pos, text ? text : "", textLength);
    if (flags & REC_VALUE) {
        LogPut32(b + pos, value);
        pos += 4;
    }
    if (flags & REC_LIST) {
        LogPut16(b + pos, uint16_t(ListCount(list)));
        pos += 2;
        ListElement *saved = ListGetCursor(list);
        for (void *s = ListFirst(list); s; s = ListNext(list)) {
            const char *str = static_cast<const char *>(s);
            PutString(b, &pos, str, uint32_t(StrByteLength(str)));
        }
        if (saved)
            ListSetCursor(list, saved);
    }
    return int(pos);
}

static LogNameEntry *FindName(LogDatabase *db, const char *name)
{
    void *value = nullptr;
    return HashFind(db->names, name, &value) ? static_cast<LogNameEntry *>(value) : nullptr;
}

// A new name's entry, counted against the name table's room and inserted; the entry, or null
// with *error set. Nothing changes on failure.
static LogNameEntry *AddName(LogDatabase *db, const char *name, int *error)
{
    uint32_t len = uint32_t(StrByteLength(name));
    // The budget is the writer's historical rule; the size check is what keeps the table
    // inside the reserved area, since each entry takes 4 bytes more than the budget counts.
    if (db->nameBudget + len + LOG_BUDGET_PER_NAME > LOG_BUDGET_MAX ||
        db->nameTableSize + len + LOG_ENTRY_FIXED > uint32_t(LOG_NAME_TABLE_MAX)) {
        *error = LOGERR_NAME_TABLE_FULL;
        return nullptr;
    }
    LogNameEntry *e = static_cast<LogNameEntry *>(PoolAlloc(db->pool, sizeof(LogNameEntry)));
    if (!e) {
        *error = LOGERR_NO_MEMORY;
        return nullptr;
    }
    *e = LogNameEntry{};
    StrCopyBytes(e->name, name, len + 1);
    int r = HashInsert(db->names, e->name, e, 0);
    if (r != HASH_DONE) {
        PoolFree(db->pool, e);
        *error = r == HASH_NO_MEMORY ? LOGERR_NO_MEMORY : LOGERR_NAME_INSERT;
        return nullptr;
    }
    e->first = db->appendPosition;
    e->id = g_logNextNameId++;
    db->nameBudget += len + LOG_BUDGET_PER_NAME;
    db->nameTableSize += len + LOG_ENTRY_FIXED;
    if (db->lastLoaded)
        db->lastLoaded->nextLoaded = e;
    else
        db->firstLoaded = e;
    db->lastLoaded = e;
    return e;
}

// Rewrites a waiting record, scrambled, with its final link, and drops its copy.
static int SettleWaiting(LogDatabase *db, LogNameEntry *e, uint32_t link)
{
    LogPut32(e->waiting, link);
    int r = WriteBody(db, e->waitingOffset, e->waiting, e->waitingLength, 1);
    PoolFree(db->pool, e->waiting);
    e->waiting = nullptr;
    return r;
}

static int CheckWritable(LogDatabase *db)
{
    if (!db)
        return LOGERR_INVALID;
    if (LogIsReading(db))
        return LOGERR_READ_ONLY;
    if (db->committed)
        return LOGERR_COMMITTED;
    if (db->broken)
        return LOGERR_INVALID;
    return 0;
}

int LogAddRecord(LogDatabase *db, const char *name, uint32_t flags, const char *text,
                 uint32_t value, StringList *list)
{
    int r = CheckWritable(db);
    if (r != 0)
        return LogFail(r);
    if (!name || !*name)
        return LogFail(LOGERR_INVALID);
    if (StrByteLength(name) > LOG_NAME_MAX)
        return LogFail(LOGERR_TOO_LONG);
    LogNameEntry *e = FindName(db, name);
    int len = BuildRecord(db, e ? e->id : g_logNextNameId, flags, text, value, list);
    if (len < 0)
        return LogFail(len);
    unsigned char *copy = static_cast<unsigned char *>(PoolAlloc(db->pool, unsigned(len)));
    if (!copy)
        return LogFail(LOGERR_NO_MEMORY);
    StrCopyBytes(copy, db->body, unsigned(len));
    if (!e) {
        int error = 0;
        e = AddName(db, name, &error);
        if (!e) {
            PoolFree(db->pool, copy);
            return LogFail(error);
        }
    }
    uint32_t at = db->appendPosition;
    if (WriteBody(db, at, copy, uint16_t(len), 0) != 0 ||
        (e->waiting && SettleWaiting(db, e, at) != 0)) {
        db->broken = 1;
        return LogFail(LOGERR_INVALID);
    }
    e->waiting = copy;
    e->waitingLength = uint16_t(len);
    e->waitingOffset = at;
    e->count++;
    db->header.recordCount++;
    db->appendPosition = at + 2 + uint32_t(len);
    g_logLastError = 0;
    return 0;
}

static int WriteStrings(LogDatabase *db)
{
    uint32_t pos = 0;
    for (int slot = 0; slot < LOG_STRING_ITEMS; slot++) {
        const char *text = LogItemText(db, slot);
        PutString(db->body, &pos, text, uint32_t(StrByteLength(text)));
    }
    db->header.stringsOffset = db->appendPosition;
    return WriteBody(db, db->appendPosition, db->body, uint16_t(pos), 1);
}

static int WriteNameTable(LogDatabase *db)
{
    unsigned char *b = db->body;
    LogPut16(b, uint16_t(db->names->count));
    uint32_t pos = 2;
    char key[LOG_NAME_SIZE];
    void *value = nullptr;
    for (int mode = HASH_FIRST; HashIterate(db->names, mode, key, sizeof key, &value) == 1;
         mode = HASH_NEXT) {
        const LogNameEntry *e = static_cast<const LogNameEntry *>(value);
        PutString(b, &pos, e->name, uint32_t(StrByteLength(e->name)));
        LogPut32(b + pos, e->count);
        LogPut32(b + pos + 4, e->first);
        LogPut32(b + pos + 8, e->first);
        LogPut16(b + pos + 12, uint16_t(e->id));
        pos += 14;
    }
    return WriteBody(db, db->header.nameTableOffset, b, uint16_t(pos), 1);
}

static int WriteHeader(LogDatabase *db)
{
    unsigned char *b = db->body;
    const LogHeaderBlock *h = &db->header;
    LogPut32(b, h->version);
    LogPut16(b + 4, h->word5);
    LogPut32(b + 6, h->number6);
    LogPut32(b + 10, h->number7);
    LogPut32(b + 14, h->recordCount);
    LogPut32(b + 18, h->stringsOffset);
    LogPut32(b + 22, h->nameTableOffset);
    LogPut32(b + 26, 0);
    return WriteBody(db, db->headerOffset, b, LOG_HEADER_BODY, 1);
}

static int WriteChecksum(LogDatabase *db)
{
    unsigned char zero[4] = {0, 0, 0, 0};
    if (BfFlush(db->file) < 0 || WriteAt(db, LOG_CHECKSUM_AT, zero, 4) != 0 ||
        BfFlush(db->file) < 0)
        return -1;
    unsigned char sum[4];
    LogPut32(sum, LogChecksum(db));
    if (WriteAt(db, LOG_CHECKSUM_AT, sum, 4) != 0 || BfFlush(db->file) < 0)
        return -1;
    return 0;
}

int LogCommit(LogDatabase *db)
{
    int r = CheckWritable(db);
    if (r != 0)
        return LogFail(r);
    for (LogNameEntry *e = db->firstLoaded; e; e = e->nextLoaded) {
        if (e->waiting && SettleWaiting(db, e, 0) != 0) {
            db->broken = 1;
            return LogFail(LOGERR_INVALID);
        }
    }
    if (WriteStrings(db) != 0 || WriteNameTable(db) != 0 || WriteHeader(db) != 0 ||
        WriteChecksum(db) != 0) {
        db->broken = 1;
        return LogFail(LOGERR_INVALID);
    }
    db->committed = 1;
    int closed = BfClose(db->file);
    db->file = 0;
    if (closed != 0)
        return LogFail(LOGERR_INVALID);
    g_logLastError = 0;
    return 0;
}
