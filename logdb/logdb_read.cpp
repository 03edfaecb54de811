// Read mode: checking and loading a log, and delivering its records one at a time. Every field
// is bounded by the body it lies in; a log that breaks a bound is damaged (LOGERR_READ).
#include "base/fs.h"
#include "base/pool.h"
#include "base/str.h"
#include "base/strlist.h"
#include "logdb/bfile.h"
#include "logdb/logdb_internal.h"
#include "logdb/scramble.h"

constexpr uint32_t LOG_CHECKSUM_START = 10;
constexpr uint32_t LOG_BANNER_COUNT_AT = 10;
constexpr uint32_t LOG_RECORD_FIXED = 8;   // link, name id, flags

// A cursor over one decoded body; every take checks that the bytes are there.
struct BodyReader {
    const unsigned char *p;
    uint32_t left;
    int bad;
};

static const unsigned char *Take(BodyReader *r, uint32_t n)
{
    if (r->bad || n > r->left) {
        r->bad = 1;
        return nullptr;
    }
    const unsigned char *at = r->p;
    r->p += n;
    r->left -= n;
    return at;
}

static uint16_t Take16(BodyReader *r)
{
    const unsigned char *p = Take(r, 2);
    return p ? LogGet16(p) : 0;
}

static uint32_t Take32(BodyReader *r)
{
    const unsigned char *p = Take(r, 4);
    return p ? LogGet32(p) : 0;
}

// A stored string: its bytes (not terminated) and length. A zero byte inside would cut the
// text short once it is handed out as a terminated string, so such a string is damage.
static const unsigned char *TakeString(BodyReader *r, uint32_t *length)
{
    *length = Take16(r);
    const unsigned char *s = Take(r, *length);
    for (uint32_t i = 0; s && i < *length; i++) {
        if (s[i] == 0) {
            r->bad = 1;
            return nullptr;
        }
    }
    return s;
}

// Exactly n bytes at offset into dst; 0, or -1 when the file is shorter.
static int ReadAt(LogDatabase *db, uint32_t offset, void *dst, uint32_t n)
{
    if (BfSeek(db->file, offset) != 0)
        return -1;
    return BfRead(db->file, dst, n) == int32_t(n) ? 0 : -1;
}

int LogReadBody(LogDatabase *db, uint32_t offset, uint32_t *length)
{
    unsigned char count[2];
    if (ReadAt(db, offset, count, 2) != 0)
        return LOGERR_READ;
    uint32_t n = LogGet16(count);
    if (n > uint32_t(LOG_BODY_MAX))
        return LOGERR_READ;
    if (n > 0 && BfRead(db->file, db->body, n) != int32_t(n))
        return LOGERR_READ;
    UnscrambleBlock(db->body, int32_t(n), SCRAMBLE_LOG_KEY);
    *length = n;
    return 0;
}

uint32_t LogChecksum(LogDatabase *db)
{
    BfFlush(db->file);
    uint32_t saved = 0;
    BfTell(db->file, &saved);
    uint32_t size = BfSize(db->file);
    uint32_t sum = 0;
    uint32_t done = LOG_CHECKSUM_START;
    BfSeek(db->file, LOG_CHECKSUM_START);
    while (done < size) {
        uint32_t want = size - done < uint32_t(LOG_BODY_MAX) ? size - done : LOG_BODY_MAX;
        int32_t got = BfRead(db->file, db->body, want);
        if (got <= 0)
            break;
        for (int32_t i = 0; i < got; i++)
            sum += uint32_t(int32_t(static_cast<signed char>(db->body[i])));
        done += uint32_t(got);
    }
    BfSeek(db->file, saved);
    return sum;
}

// Magic, version and checksum; 0 or the code that ends the open.
static int CheckFrame(LogDatabase *db)
{
    unsigned char head[10];
    if (ReadAt(db, 0, head, 2) != 0 || LogGet16(head) != LOG_MAGIC)
        return LOGERR_BAD_MAGIC;
    if (BfRead(db->file, head + 2, 8) != 8)
        return LOGERR_READ;
    if (LogGet32(head + 2) > LOG_VERSION)
        return LOGERR_VERSION;
    if (LogChecksum(db) != LogGet32(head + 6))
        return LOGERR_CHECKSUM;
    return 0;
}

static int LoadHeader(LogDatabase *db)
{
    unsigned char count[2];
    if (ReadAt(db, LOG_BANNER_COUNT_AT, count, 2) != 0)
        return LOGERR_READ;
    db->headerOffset = LOG_BANNER_COUNT_AT + 2 + LogGet16(count);
    uint32_t len = 0;
    if (LogReadBody(db, db->headerOffset, &len) != 0 || len != uint32_t(LOG_HEADER_BODY))
        return LOGERR_READ;
    const unsigned char *b = db->body;
    LogHeaderBlock *h = &db->header;
    h->version = LogGet32(b);
    h->word5 = LogGet16(b + 4);
    h->number6 = LogGet32(b + 6);
    h->number7 = LogGet32(b + 10);
    h->recordCount = LogGet32(b + 14);
    h->stringsOffset = LogGet32(b + 18);
    h->nameTableOffset = LogGet32(b + 22);
    h->reserved = 0;
    return 0;
}

static char *CopyText(LogDatabase *db, const unsigned char *text, uint32_t len)
{
    char *copy = static_cast<char *>(PoolAlloc(db->pool, len + 1));
    if (copy) {
        StrCopyBytes(copy, text, len);
        copy[len] = '\0';
    }
    return copy;
}

static int LoadStrings(LogDatabase *db)
{
    uint32_t len = 0;
    if (LogReadBody(db, db->header.stringsOffset, &len) != 0)
        return LOGERR_READ;
    BodyReader r = {db->body, len, 0};
    for (int slot = 0; slot < LOG_STRING_ITEMS; slot++) {
        uint32_t n = 0;
        const unsigned char *text = TakeString(&r, &n);
        if (!text)
            return LOGERR_READ;
        db->items[slot] = CopyText(db, text, n);
        if (!db->items[slot])
            return LOGERR_NO_MEMORY;
    }
    return 0;
}

// One name entry of the table; 0 or LOGERR_READ (out of bounds, too long, twice, no memory).
static int LoadNameEntry(LogDatabase *db, BodyReader *r)
{
    uint32_t n = 0;
    const unsigned char *name = TakeString(r, &n);
    uint32_t count = Take32(r);
    uint32_t first = Take32(r);
    uint32_t again = Take32(r);
    uint16_t id = Take16(r);
    // An empty name could never be selected: "" selects every name.
    if (r->bad || n == 0 || n > uint32_t(LOG_NAME_MAX))
        return LOGERR_READ;
    LogNameEntry *e = static_cast<LogNameEntry *>(PoolAlloc(db->pool, sizeof(LogNameEntry)));
    if (!e)
        return LOGERR_READ;
    *e = LogNameEntry{};
    StrCopyBytes(e->name, name, n);
    e->name[n] = '\0';
    e->count = count;
    e->first = first;
    e->waitingOffset = again;
    e->id = id;
    if (HashInsert(db->names, e->name, e, 0) != HASH_DONE)
        return LOGERR_READ;
    if (db->lastLoaded)
        db->lastLoaded->nextLoaded = e;
    else
        db->firstLoaded = e;
    db->lastLoaded = e;
    return 0;
}

static int LoadNameTable(LogDatabase *db)
{
    uint32_t len = 0;
    if (LogReadBody(db, db->header.nameTableOffset, &len) != 0)
        return LOGERR_READ;
    BodyReader r = {db->body, len, 0};
    uint16_t n = Take16(&r);
    if (r.bad)
        return LOGERR_READ;
    for (uint16_t i = 0; i < n; i++) {
        int e = LoadNameEntry(db, &r);
        if (e != 0)
            return e;
    }
    return 0;
}

int LogLoad(LogDatabase *db)
{
    if (!FsExists(db->path))
        return LOGERR_NO_FILE;
    db->file = BfOpen(db->path, BF_READ);
    if (db->file == -1) {
        db->file = 0;
        return LOGERR_OPEN;
    }
    int r = CheckFrame(db);
    if (r == 0)
        r = LoadHeader(db);
    if (r == 0)
        r = LoadStrings(db);
    if (r == 0)
        r = LoadNameTable(db);
    return r;
}

int LogSelectName(LogDatabase *db, const char *name)
{
    if (!db || !name)
        return LogFail(LOGERR_INVALID);
    if (!LogIsReading(db))
        return LogFail(LOGERR_NOT_READING);
    int len = StrByteLength(name);
    if (len > LOG_NAME_MAX)
        return LogFail(LOGERR_TOO_LONG);
    StrCopyBytes(db->selected, name, unsigned(len) + 1);
    db->firstPending = 1;
    db->readCursor = 0;
    return 0;
}

// A record decoded in place from db->body; pointers stay valid until the next body is read.
struct DecodedRecord {
    uint32_t link;
    uint32_t flags;
    const unsigned char *text;
    uint32_t textLength;
    uint32_t value;
    const unsigned char *list;    // the first list string's count
    uint16_t listCount;
};

static int DecodeRecord(const unsigned char *body, uint32_t len, DecodedRecord *rec)
{
    BodyReader r = {body, len, 0};
    *rec = DecodedRecord{};
    rec->link = Take32(&r);
    Take16(&r);   // the name id: the chain already says which name this is
    rec->flags = Take16(&r);
    if (rec->flags & REC_TEXT)
        rec->text = TakeString(&r, &rec->textLength);
    if (rec->flags & REC_VALUE)
        rec->value = Take32(&r);
    if (rec->flags & REC_LIST) {
        rec->listCount = Take16(&r);
        rec->list = r.p;
        for (uint16_t i = 0; i < rec->listCount; i++) {
            uint32_t n = 0;
            TakeString(&r, &n);
        }
    }
    return r.bad ? LOGERR_READ : 0;
}

static int AddListStrings(const DecodedRecord *rec, StringList *list)
{
    char item[LOG_BODY_MAX + 1];
    const unsigned char *p = rec->list;
    for (uint16_t i = 0; i < rec->listCount; i++) {
        uint32_t n = LogGet16(p);
        StrCopyBytes(item, p + 2, n);
        item[n] = '\0';
        p += 2 + n;
        if (!ListAdd(list, item))
            return LOGERR_NO_MEMORY;
    }
    return 0;
}

struct ReadOutputs {
    char *name;
    int nameSize;
    uint32_t *flags;
    char *text;
    int textSize;
    uint32_t *value;
    StringList *list;
};

// Reads, checks and delivers the record at offset. On LOGERR_TOO_LONG and LOGERR_NO_MEMORY the
// cursor is left on this record so that it can be read again.
static int DeliverAt(LogDatabase *db, uint32_t offset, const ReadOutputs *out)
{
    uint32_t len = 0;
    DecodedRecord rec;
    if (LogReadBody(db, offset, &len) != 0 || len < LOG_RECORD_FIXED ||
        DecodeRecord(db->body, len, &rec) != 0)
        return LogFail(LOGERR_READ);
    // Records are appended, so a chain only ever moves forward; anything else would loop.
    if (rec.link != 0 && rec.link <= offset)
        return LogFail(LOGERR_READ);
    int textFits = !(rec.flags & REC_TEXT) || !out->text ||
                   int64_t(rec.textLength) + 1 <= int64_t(out->textSize);
    if (!textFits || (out->name && out->nameSize < 1)) {
        db->readCursor = offset;
        return LogFail(LOGERR_TOO_LONG);
    }
    if ((rec.flags & REC_LIST) && out->list && AddListStrings(&rec, out->list) != 0) {
        db->readCursor = offset;
        return LogFail(LOGERR_NO_MEMORY);
    }
    if (out->flags)
        *out->flags = rec.flags;
    if ((rec.flags & REC_TEXT) && out->text) {
        StrCopyBytes(out->text, rec.text, rec.textLength);
        out->text[rec.textLength] = '\0';
    }
    if ((rec.flags & REC_VALUE) && out->value)
        *out->value = rec.value;
    if (out->name)
        out->name[0] = '\0';
    db->readCursor = rec.link;
    db->lastDelivered = offset;
    return 0;
}

static LogNameEntry *NextOfAll(LogDatabase *db, int mode)
{
    char key[LOG_NAME_SIZE];
    void *value = nullptr;
    if (HashIterate(db->names, mode, key, sizeof key, &value) == 0)
        return nullptr;
    return static_cast<LogNameEntry *>(value);
}

static LogNameEntry *FindSelected(LogDatabase *db)
{
    void *value = nullptr;
    if (!HashFind(db->names, db->selected, &value))
        return nullptr;
    return static_cast<LogNameEntry *>(value);
}

int LogReadRecord(LogDatabase *db, char *nameOut, int nameSize, uint32_t *flagsOut, char *textOut,
                  int textSize, uint32_t *valueOut, StringList *listOut, int mode)
{
    if (!db)
        return LogFail(LOGERR_INVALID);
    if (!LogIsReading(db))
        return LogFail(LOGERR_NOT_READING);
    ReadOutputs out = {nameOut, nameSize, flagsOut, textOut, textSize, valueOut, listOut};
    int all = db->selected[0] == '\0';
    if (mode == LOG_FIRST) {
        db->firstPending = 0;
        db->readCursor = 0;
        LogNameEntry *e = all ? NextOfAll(db, HASH_FIRST) : FindSelected(db);
        return e ? DeliverAt(db, e->first, &out) : LOG_END;
    }
    if (db->firstPending)
        return LogFail(LOGERR_NOT_STARTED);
    if (!all) {
        if (!FindSelected(db))
            return LogFail(LOGERR_INVALID);
        return db->readCursor ? DeliverAt(db, db->readCursor, &out) : LOG_END;
    }
    if (db->readCursor)
        return DeliverAt(db, db->readCursor, &out);
    LogNameEntry *e = NextOfAll(db, HASH_NEXT);
    return e ? DeliverAt(db, e->first, &out) : LOG_END;
}

int LogGetBanner(LogDatabase *db, char *buf, int size)
{
    if (!db || !buf)
        return LogFail(LOGERR_INVALID);
    if (!LogIsReading(db))
        return LogFail(LOGERR_NOT_READING);
    unsigned char count[2];
    if (ReadAt(db, LOG_BANNER_COUNT_AT, count, 2) != 0)
        return LogFail(LOGERR_READ);
    int n = LogGet16(count);
    if (n + 1 > size)
        return LogFail(LOGERR_TOO_LONG);
    if (n > 0 && BfRead(db->file, buf, uint32_t(n)) != n)
        return LogFail(LOGERR_READ);
    buf[n] = '\0';
    return n;
}
