// Memory pools: the table of 40 pools, their segment lists, global memory, and the error box.
// The blocks inside one segment are handled in pool_segment.cpp.
#include "base/pool.h"

#include <windows.h>

#include "base/pool_segment.h"

struct PoolEntry {
    uint16_t blockSize;        // as given at creation (only the low 16 bits count)
    SegmentDescriptor *first;  // null: entry free; poolListEnd: in use without a segment
    uint32_t flags;            // creation flags, bit 15 cleared
    uint32_t globalFlags;      // GlobalAlloc flags of the pool's segments
};

constexpr unsigned POOL_DESC_BLOCK = 65000;   // the descriptor pool's one segment
constexpr UINT POOL_DESC_GMEM = GMEM_MOVEABLE | GMEM_DDESHARE;
constexpr int POOL_DESC_SLOTS = 6;
constexpr int POOL_ALLOC_TRIES = 3;

static PoolEntry poolTable[POOL_COUNT];
static unsigned char *poolListEnd;  // base of the descriptor segment; descriptor links are
                                    // offsets from it, and it marks an empty segment list
static int poolInitialised;
static int poolReport = 1;
static int poolLastOp;
static int poolLastError;

int PoolDebugErrorText(int code, char *caption, int captionSize, char *text, int textSize)
{
    if (captionSize < 1 || textSize < 1)
        return 0;
    HINSTANCE module = GetModuleHandleA(nullptr);
    char format[256];
    if (LoadStringA(module, IDS_POOL_CAPTION, caption, captionSize) <= 0)
        lstrcpynA(caption, POOL_TEXT_CAPTION, captionSize);
    if (LoadStringA(module, IDS_POOL_FORMAT, format, sizeof format) <= 0)
        lstrcpynA(format, POOL_TEXT_FORMAT, sizeof format);
    char full[1025];  // wsprintfA writes at most 1024 characters and the terminator
    wsprintfA(full, format, POOLERR_BOX_BASE + code);
    lstrcpynA(text, full, textSize);
    return 1;
}

static void PoolReportError(int code)
{
    poolLastError = code;
    if (!poolReport)
        return;
    char caption[256], text[1025];
    PoolDebugErrorText(code, caption, sizeof caption, text, sizeof text);
    MessageBoxA(nullptr, text, caption, MB_ICONERROR);
}

static void PoolBegin(int op)
{
    poolLastOp = op;
    poolLastError = POOLERR_NONE;
}

static SegmentDescriptor *PoolFirstSegment(const PoolEntry *e)
{
    if (!e->first || e->first == reinterpret_cast<SegmentDescriptor *>(poolListEnd))
        return nullptr;
    return e->first;
}

static SegmentDescriptor *PoolNextSegment(const SegmentDescriptor *d)
{
    return d->next ? reinterpret_cast<SegmentDescriptor *>(poolListEnd + d->next) : nullptr;
}

static uint32_t PoolDescriptorLink(const SegmentDescriptor *d)
{
    return d ? uint32_t(reinterpret_cast<const unsigned char *>(d) - poolListEnd) : 0;
}

// GlobalAlloc, compacting and retrying twice; the block is locked for its whole life.
static unsigned char *PoolGlobalAlloc(UINT flags, unsigned size, HGLOBAL *handle)
{
    HGLOBAL h = nullptr;
    for (int i = 0; i < POOL_ALLOC_TRIES && !h; i++) {
        if (i > 0)
            GlobalCompact(size);
        h = GlobalAlloc(flags, size);
    }
    if (!h)
        return nullptr;
    unsigned char *base = static_cast<unsigned char *>(GlobalLock(h));
    if (!base) {
        GlobalFree(h);
        return nullptr;
    }
    *handle = h;
    return base;
}

static void PoolGlobalFree(HGLOBAL h)
{
    if (!GlobalUnlock(h))
        GlobalFree(h);
}

static int PoolInitialise()
{
    poolLastOp = POOLOP_INIT;
    for (PoolEntry &e : poolTable)
        e = PoolEntry{};
    unsigned size = (POOL_DESC_BLOCK + SEG_PAGE - 1) / SEG_PAGE * SEG_PAGE;
    HGLOBAL h;
    unsigned char *base = PoolGlobalAlloc(POOL_DESC_GMEM, size, &h);
    if (!base)
        return 0;
    // The descriptor pool's own descriptor is the first block of its segment, never freed.
    SegmentDescriptor *d = reinterpret_cast<SegmentDescriptor *>(base + 1 + SEG_HEADER);
    SegInitSelf(d, h, base, size, POOL_DESC_SLOTS);
    poolListEnd = base;
    poolTable[POOL_DESCRIPTORS].blockSize = uint16_t(size);
    poolTable[POOL_DESCRIPTORS].globalFlags = POOL_DESC_GMEM;
    poolTable[POOL_DESCRIPTORS].first = d;
    poolInitialised = 1;
    poolLastOp = POOLOP_CREATE;
    return 1;
}

// Search, coalesce, grow: the allocation ladder, without reporting. size is already >= 12.
static unsigned char *PoolTake(int pool, unsigned size, int *err);

static int PoolFreeBlock(int pool, void *p);

static int PoolNewSegment(int pool)
{
    PoolEntry *e = &poolTable[pool];
    unsigned size = (unsigned(e->blockSize) + SEG_PAGE - 1) / SEG_PAGE * SEG_PAGE;
    HGLOBAL h;
    unsigned char *base = PoolGlobalAlloc(e->globalFlags, size, &h);
    if (!base)
        return POOLERR_NO_MEMORY;
    int slots = SegSlotsFor(size);
    int err;
    SegmentDescriptor *d =
        reinterpret_cast<SegmentDescriptor *>(PoolTake(POOL_DESCRIPTORS, SegDescriptorSize(slots), &err));
    if (!d) {
        PoolGlobalFree(h);
        return POOLERR_NO_MEMORY;
    }
    SegInit(d, h, base, size, slots);
    d->next = PoolDescriptorLink(PoolFirstSegment(e));
    e->first = d;
    return 0;
}

static void PoolReleaseSegment(SegmentDescriptor *d)
{
    PoolGlobalFree(d->handle);
    PoolFreeBlock(POOL_DESCRIPTORS, d);
}

static unsigned char *PoolSearch(int pool, unsigned size, int *err)
{
    *err = 0;   // a pool whose segments were all released has nothing to search
    for (SegmentDescriptor *d = PoolFirstSegment(&poolTable[pool]); d; d = PoolNextSegment(d)) {
        unsigned char *p;
        *err = SegSearch(d, size, &p);
        if (*err || p)
            return p;
    }
    return nullptr;
}

static unsigned char *PoolTake(int pool, unsigned size, int *err)
{
    PoolEntry *e = &poolTable[pool];
    unsigned segSize = (unsigned(e->blockSize) + SEG_PAGE - 1) / SEG_PAGE * SEG_PAGE;
    // No segment can ever hold it: refused before a segment is added for nothing.
    if (size > segSize - 1 - SEG_HEADER) {
        *err = POOLERR_FULL;
        return nullptr;
    }
    unsigned char *p = PoolSearch(pool, size, err);
    if (p || *err)
        return p;
    if (PoolFirstSegment(e)) {
        int again = 0;
        for (SegmentDescriptor *d = PoolFirstSegment(e); d; d = PoolNextSegment(d)) {
            int rebuilt;
            *err = SegCoalesce(d, &rebuilt);
            if (*err)
                return nullptr;
            again |= rebuilt;
        }
        if (again) {
            p = PoolSearch(pool, size, err);
            if (p || *err)
                return p;
        }
        if (!(e->flags & POOL_GROW)) {
            *err = POOLERR_FULL;
            return nullptr;
        }
    }
    *err = PoolNewSegment(pool);
    if (*err)
        return nullptr;
    *err = SegSearch(PoolFirstSegment(e), size, &p);
    if (!p && !*err)
        *err = POOLERR_FULL;
    return p;
}

static SegmentDescriptor *PoolFindSegment(int pool, const void *p, SegmentDescriptor **prev)
{
    *prev = nullptr;
    for (SegmentDescriptor *d = PoolFirstSegment(&poolTable[pool]); d; d = PoolNextSegment(d)) {
        if (SegHolds(d, p))
            return d;
        *prev = d;
    }
    return nullptr;
}

// Returns a block; releases its segment when that was the last block in use. 0 or an error.
static int PoolFreeBlock(int pool, void *p)
{
    SegmentDescriptor *prev;
    SegmentDescriptor *d = PoolFindSegment(pool, p, &prev);
    if (!d)
        return p ? POOLERR_BAD_POOL : POOLERR_NULL;
    int err = SegFree(d, static_cast<unsigned char *>(p));
    if (err || d->inUse != 0)
        return err;
    PoolEntry *e = &poolTable[pool];
    SegmentDescriptor *next = PoolNextSegment(d);
    if (prev)
        prev->next = PoolDescriptorLink(next);
    else
        e->first = next ? next : reinterpret_cast<SegmentDescriptor *>(poolListEnd);
    PoolReleaseSegment(d);
    return 0;
}

int PoolCreate(int blockSize, int flags)
{
    PoolBegin(POOLOP_CREATE);
    if (!poolInitialised && !PoolInitialise()) {
        PoolReportError(POOLERR_NO_INIT);
        return -1;
    }
    if (blockSize <= 0 || blockSize > POOL_MAX_BLOCK) {
        PoolReportError(POOLERR_BAD_SIZE);
        return -1;
    }
    int pool = POOL_FIRST_USER;
    while (pool < POOL_COUNT && poolTable[pool].first)
        pool++;
    if (pool == POOL_COUNT) {
        PoolReportError(POOLERR_NO_ENTRY);
        return -1;
    }
    PoolEntry *e = &poolTable[pool];
    e->blockSize = uint16_t(blockSize);
    e->flags = uint32_t(flags) & ~0x8000u;
    e->globalFlags = GMEM_MOVEABLE;
    e->first = reinterpret_cast<SegmentDescriptor *>(poolListEnd);
    if (PoolNewSegment(pool)) {
        *e = PoolEntry{};
        PoolReportError(POOLERR_NO_MEMORY);
        return -1;
    }
    return pool;
}

void *PoolAlloc(int pool, unsigned int size)
{
    PoolBegin(POOLOP_ALLOC);
    if (pool < POOL_FIRST_USER || pool >= POOL_COUNT) {
        PoolReportError(POOLERR_BAD_POOL);
        return nullptr;
    }
    PoolEntry *e = &poolTable[pool];
    if (!e->first) {
        PoolReportError(POOLERR_NOT_IN_USE);
        return nullptr;
    }
    if (size == 0 || size > e->blockSize) {
        PoolReportError(POOLERR_BAD_SIZE);
        return nullptr;
    }
    int err;
    unsigned char *p = PoolTake(pool, size < unsigned(POOL_MIN_PAYLOAD) ? POOL_MIN_PAYLOAD : size, &err);
    if (!p) {
        PoolReportError(err);
        return nullptr;
    }
    if (e->flags & POOL_ZERO) {
        for (unsigned i = 0; i < size; i++)
            p[i] = 0;
    }
    return p;
}

int PoolFree(int pool, void *p)
{
    PoolBegin(POOLOP_FREE);
    if (!poolInitialised) {
        PoolReportError(POOLERR_NOT_STARTED);
        return 0;
    }
    if (pool < 0 || pool >= POOL_COUNT) {
        PoolReportError(POOLERR_BAD_POOL);
        return 0;
    }
    // The descriptors are the allocator's own; no caller holds a block of them.
    int err = pool == POOL_DESCRIPTORS ? (p ? POOLERR_BAD_POOL : POOLERR_NULL) : PoolFreeBlock(pool, p);
    if (err) {
        PoolReportError(err);
        return 0;
    }
    return 1;
}

int PoolDestroy(int pool)
{
    if (!poolInitialised)
        return 0;
    PoolBegin(POOLOP_DESTROY);
    if (pool < POOL_FIRST_USER || pool >= POOL_COUNT) {
        PoolReportError(POOLERR_BAD_POOL);
        return 0;
    }
    PoolEntry *e = &poolTable[pool];
    if (!e->first) {
        PoolReportError(POOLERR_NOT_IN_USE);
        return 0;
    }
    e->flags = 0;
    SegmentDescriptor *d = PoolFirstSegment(e);
    while (d) {
        SegmentDescriptor *next = PoolNextSegment(d);
        PoolReleaseSegment(d);
        d = next;
    }
    *e = PoolEntry{};
    return 1;
}

int PoolSetOption(int option, int value)
{
    if (option != POOLOPT_REPORT)
        return 0;
    poolReport = value == 1;
    return 1;
}

int PoolGetOption(int option)
{
    return option == POOLOPT_REPORT ? poolReport : -1;
}

int PoolGetStatus(PoolStatus *status)
{
    if (!status || !poolInitialised)
        return 0;
    status->operation = poolLastOp;
    status->error = poolLastError;
    return 1;
}

int PoolDebugSegments(int pool, PoolDebugSegment *segs, int max)
{
    if (!poolInitialised || pool < 0 || pool >= POOL_COUNT || !poolTable[pool].first)
        return -1;
    int n = 0;
    for (const SegmentDescriptor *d = PoolFirstSegment(&poolTable[pool]); d; d = PoolNextSegment(d), n++) {
        if (n >= max || !segs)
            continue;
        PoolDebugSegment *s = &segs[n];
        s->base = d->base;
        s->size = SegSize(d);
        s->inUse = d->inUse;
        s->coalesced = d->coalesced;
        s->largestFree = d->largestFree;
        s->slotCount = d->slotCount;
        for (int i = 0; i < POOL_DEBUG_MAX_SLOTS; i++) {
            s->slotSize[i] = i <= d->slotCount ? d->slots[i].size : 0;
            s->slotOffset[i] = i <= d->slotCount ? d->slots[i].offset : 0;
        }
        s->descriptor = d;
    }
    return n;
}

int PoolDebugEntry(int pool, int *blockSize, int *flags, int *globalFlags)
{
    if (pool < 0 || pool >= POOL_COUNT || !poolTable[pool].first)
        return 0;
    *blockSize = poolTable[pool].blockSize;
    *flags = int(poolTable[pool].flags);
    *globalFlags = int(poolTable[pool].globalFlags);
    return 1;
}
