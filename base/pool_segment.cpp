// One segment of a memory pool: blocks with 3-byte headers tiling bytes 1..S-1, free blocks
// in a doubly linked list of size heads (ascending) each carrying a chain of further blocks of
// exactly its size, and the SizeIndex, a short sorted table of some heads that lets a search
// start near the right size.
#include "base/pool_segment.h"

#include "base/pool.h"

static int SegOddBits(unsigned v)
{
    int n = 0;
    for (; v; v >>= 1)
        n ^= int(v & 1);
    return n;
}

// Every stored tag has an even number of set bits, so a stray single-bit change shows.
static uint8_t SegStoredTag(uint8_t tag)
{
    return SegOddBits(tag) ? uint8_t(tag | 0x80) : tag;
}

int SegTagDamaged(uint8_t tag)
{
    // Stricter than the parity rule alone (no bit of 0x7A and an odd bit count): any value
    // other than the three a block can carry is taken as damage.
    return tag != SEG_TAG_USED && tag != SEG_TAG_HEAD && tag != SEG_TAG_MEMBER;
}

unsigned SegBlockSize(const unsigned char *base, unsigned h)
{
    return unsigned(base[h + 1]) | unsigned(base[h + 2]) << 8;
}

void SegSetBlock(unsigned char *base, unsigned h, uint8_t tag, unsigned size)
{
    base[h] = SegStoredTag(tag);
    base[h + 1] = uint8_t(size);
    base[h + 2] = uint8_t(size >> 8);
}

unsigned SegLink(const unsigned char *base, unsigned h, unsigned field)
{
    const unsigned char *q = base + h + SEG_HEADER + field;
    return unsigned(q[0]) | unsigned(q[1]) << 8 | unsigned(q[2]) << 16 | unsigned(q[3]) << 24;
}

static void SegSetLink(unsigned char *base, unsigned h, unsigned field, unsigned value)
{
    unsigned char *q = base + h + SEG_HEADER + field;
    q[0] = uint8_t(value);
    q[1] = uint8_t(value >> 8);
    q[2] = uint8_t(value >> 16);
    q[3] = uint8_t(value >> 24);
}

int SegCheckFree(const SegmentDescriptor *d, unsigned h, uint8_t tag)
{
    unsigned s = SegSize(d);
    if (h < 1 || h + SEG_HEADER + POOL_MIN_PAYLOAD > s)
        return POOLERR_DAMAGED;
    if (d->base[h] != tag)
        return POOLERR_DAMAGED;
    if (h + SEG_HEADER + SegBlockSize(d->base, h) > s)
        return POOLERR_DAMAGED;
    return 0;
}

// *neighbour := the head linked from head h through field (0 at the end of the list).
// 0, or POOLERR_DAMAGED when that head's header is damaged.
static int NeighbourHead(const SegmentDescriptor *d, unsigned h, unsigned field,
                         unsigned *neighbour)
{
    *neighbour = SegLink(d->base, h, field);
    return *neighbour ? SegCheckFree(d, *neighbour, SEG_TAG_HEAD) : 0;
}

int SegSlotsFor(unsigned size)
{
    if (size < 2048)
        return 6;
    if (size < 8192)
        return 8;
    if (size <= 32767)
        return 9;
    return 10;
}

static int SegFilledSlots(const SegmentDescriptor *d)
{
    int n = 0;
    while (n < d->slotCount && d->slots[n].size != 0)
        n++;
    return n;
}

// The filled slot with the smallest size >= size; the last filled one when all are smaller;
// slot 0 when the index is empty.
static int SegFindSlot(const SegmentDescriptor *d, unsigned size)
{
    int filled = SegFilledSlots(d);
    if (filled == 0)
        return 0;
    if (d->slots[filled - 1].size < size)
        return filled - 1;
    int lo = 0, hi = filled - 1;
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (d->slots[mid].size >= size)
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}

static void SegRemoveSlot(SegmentDescriptor *d, int k)
{
    for (int i = k; i < d->slotCount; i++) {
        d->slots[i].size = d->slots[i + 1].size;
        d->slots[i].offset = d->slots[i + 1].offset;
    }
    d->slots[d->slotCount].size = 0;
    d->slots[d->slotCount].offset = 0;
}

// Opens slot k by moving k..N-2 up by one (the last slot must be empty).
static void SegOpenSlot(SegmentDescriptor *d, int k, unsigned size, unsigned h)
{
    for (int i = d->slotCount - 1; i > k; i--) {
        d->slots[i].size = d->slots[i - 1].size;
        d->slots[i].offset = d->slots[i - 1].offset;
    }
    d->slots[k].size = size;
    d->slots[k].offset = h;
}

static void SegJoinChain(unsigned char *base, unsigned head, unsigned h)
{
    unsigned first = SegLink(base, head, SEG_LINK_CHAIN);
    SegSetLink(base, h, SEG_LINK_PREV, head);
    SegSetLink(base, h, SEG_LINK_CHAIN, first);
    SegSetLink(base, head, SEG_LINK_CHAIN, h);
    if (first)
        SegSetLink(base, first, SEG_LINK_PREV, h);
}

int SegInsert(SegmentDescriptor *d, unsigned h, unsigned size)
{
    unsigned char *base = d->base;
    SegSetBlock(base, h, SEG_TAG_MEMBER, size);
    SegSetLink(base, h, SEG_LINK_NEXT, 0);
    SegSetLink(base, h, SEG_LINK_PREV, 0);
    SegSetLink(base, h, SEG_LINK_CHAIN, 0);
    if (d->slots[0].size == 0) {
        // Heads still linked but no longer reachable from a slot wait for a coalescing pass.
        d->slots[0].size = size;
        d->slots[0].offset = h;
        SegSetBlock(base, h, SEG_TAG_HEAD, size);
        return 0;
    }
    int k = SegFindSlot(d, size);
    unsigned cur = d->slots[k].offset;
    if (SegCheckFree(d, cur, SEG_TAG_HEAD))
        return POOLERR_DAMAGED;
    if (size >= SegBlockSize(base, cur)) {
        for (;;) {
            unsigned next;
            if (NeighbourHead(d, cur, SEG_LINK_NEXT, &next))
                return POOLERR_DAMAGED;
            if (!next || size < SegBlockSize(base, next))
                break;
            cur = next;
        }
    } else {
        for (;;) {
            unsigned prev;
            if (NeighbourHead(d, cur, SEG_LINK_PREV, &prev))
                return POOLERR_DAMAGED;
            if (!prev) {
                // Fell off the small end: the new smallest head.
                SegSetBlock(base, h, SEG_TAG_HEAD, size);
                SegSetLink(base, h, SEG_LINK_NEXT, cur);
                SegSetLink(base, cur, SEG_LINK_PREV, h);
                if (d->slots[d->slotCount - 1].size == 0 && d->slotCount > 1)
                    SegOpenSlot(d, 0, size, h);
                d->slots[0].size = size;
                d->slots[0].offset = h;
                return 0;
            }
            cur = prev;
            if (size >= SegBlockSize(base, cur))
                break;
        }
    }
    if (size == SegBlockSize(base, cur)) {
        SegJoinChain(base, cur, h);
        return 0;
    }
    unsigned next = SegLink(base, cur, SEG_LINK_NEXT);
    SegSetBlock(base, h, SEG_TAG_HEAD, size);
    SegSetLink(base, h, SEG_LINK_PREV, cur);
    SegSetLink(base, h, SEG_LINK_NEXT, next);
    SegSetLink(base, cur, SEG_LINK_NEXT, h);
    if (next)
        SegSetLink(base, next, SEG_LINK_PREV, h);
    if (d->slots[d->slotCount - 1].size == 0)
        SegOpenSlot(d, d->slots[k].size < size ? k + 1 : k, size, h);
    return 0;
}

static void SegClearDescriptor(SegmentDescriptor *d, HGLOBAL handle, unsigned char *base,
                               unsigned size, int slots)
{
    d->pages = uint8_t(size / SEG_PAGE);
    d->inUse = 0;
    d->handle = handle;
    d->base = base;
    d->coalesced = 0;
    d->largestFree = 0;
    d->next = 0;
    d->slotCount = uint8_t(slots);
    for (int i = 0; i <= slots; i++) {
        d->slots[i].size = 0;
        d->slots[i].offset = 0;
    }
}

void SegInit(SegmentDescriptor *d, HGLOBAL handle, unsigned char *base, unsigned size, int slots)
{
    SegClearDescriptor(d, handle, base, size, slots);
    base[0] = 0;  // offset 0 means "none"
    SegInsert(d, 1, size - 1 - SEG_HEADER);
}

void SegInitSelf(SegmentDescriptor *d, HGLOBAL handle, unsigned char *base, unsigned size,
                 int slots)
{
    unsigned own = SegDescriptorSize(slots);
    base[0] = 0;
    SegSetBlock(base, 1, SEG_TAG_USED, own);
    SegClearDescriptor(d, handle, base, size, slots);
    d->inUse = 1;
    unsigned rest = 1 + SEG_HEADER + own;
    SegInsert(d, rest, size - rest - SEG_HEADER);
}

// Takes a block of at least size bytes from head h, found through slot k.
static unsigned char *SegTake(SegmentDescriptor *d, unsigned h, int k, unsigned size, int *err)
{
    unsigned char *base = d->base;
    unsigned block = SegLink(base, h, SEG_LINK_CHAIN);
    if (block) {
        if (SegCheckFree(d, block, SEG_TAG_MEMBER)) {
            *err = POOLERR_DAMAGED;
            return nullptr;
        }
        unsigned after = SegLink(base, block, SEG_LINK_CHAIN);
        if (after && SegCheckFree(d, after, SEG_TAG_MEMBER)) {
            *err = POOLERR_DAMAGED;
            return nullptr;
        }
        SegSetLink(base, h, SEG_LINK_CHAIN, after);
        if (after)
            SegSetLink(base, after, SEG_LINK_PREV, h);
    } else {
        block = h;
        unsigned prev = SegLink(base, h, SEG_LINK_PREV);
        unsigned next = SegLink(base, h, SEG_LINK_NEXT);
        if ((prev && SegCheckFree(d, prev, SEG_TAG_HEAD)) ||
            (next && SegCheckFree(d, next, SEG_TAG_HEAD))) {
            *err = POOLERR_DAMAGED;
            return nullptr;
        }
        if (prev)
            SegSetLink(base, prev, SEG_LINK_NEXT, next);
        if (next)
            SegSetLink(base, next, SEG_LINK_PREV, prev);
        if (d->slots[k].size != 0 && d->slots[k].offset == h) {
            SegRemoveSlot(d, k);
            // The heads still linked are now out of the index's reach; only a coalescing pass
            // finds them again, and it skips a segment it believes coalesced.
            if (d->slots[0].size == 0 && (prev || next))
                d->coalesced = 0;
        }
    }
    unsigned have = SegBlockSize(base, block);
    SegSetBlock(base, block, SEG_TAG_USED, have);
    if (have - size >= unsigned(POOL_SPLIT_SLACK)) {
        SegSetBlock(base, block, SEG_TAG_USED, size);
        *err = SegInsert(d, block + SEG_HEADER + size, have - size - SEG_HEADER);
        if (*err)
            return nullptr;
    }
    d->inUse++;
    *err = 0;
    return base + block + SEG_HEADER;
}

int SegSearch(SegmentDescriptor *d, unsigned size, unsigned char **payload)
{
    *payload = nullptr;
    if (d->coalesced == 1 && d->largestFree < size)
        return 0;
    int k = SegFindSlot(d, size);
    unsigned slotSize = d->slots[k].size;
    unsigned h = d->slots[k].offset;
    if (slotSize == 0)
        return 0;
    const unsigned char *base = d->base;
    if (SegCheckFree(d, h, SEG_TAG_HEAD))
        return POOLERR_DAMAGED;
    if (slotSize > size) {
        // Best fit: walk down while the next smaller head still holds the request.
        for (;;) {
            unsigned prev;
            if (NeighbourHead(d, h, SEG_LINK_PREV, &prev))
                return POOLERR_DAMAGED;
            if (!prev || SegBlockSize(base, prev) < size)
                break;
            h = prev;
        }
    } else if (slotSize < size) {
        do {
            if (NeighbourHead(d, h, SEG_LINK_NEXT, &h))
                return POOLERR_DAMAGED;
            if (!h)
                return 0;
        } while (SegBlockSize(base, h) < size);
    }
    int err;
    *payload = SegTake(d, h, k, size, &err);
    return err;
}

int SegHolds(const SegmentDescriptor *d, const void *p)
{
    uintptr_t a = reinterpret_cast<uintptr_t>(p);
    uintptr_t b = reinterpret_cast<uintptr_t>(d->base);
    return a >= b + 1 + SEG_HEADER && a < b + SegSize(d);
}

int SegFree(SegmentDescriptor *d, unsigned char *p)
{
    unsigned char *base = d->base;
    unsigned s = SegSize(d);
    unsigned h = unsigned(p - base) - SEG_HEADER;
    uint8_t tag = base[h];
    if (tag & 1)
        return POOLERR_FREED_TWICE;
    if (SegTagDamaged(tag))
        return POOLERR_DAMAGED;
    unsigned size = SegBlockSize(base, h);
    unsigned end = h + SEG_HEADER + size;
    if (size < unsigned(POOL_MIN_PAYLOAD) || end > s)
        return POOLERR_DAMAGED;
    if (end < s && SegTagDamaged(base[end]))
        return POOLERR_OVERRUN;
    int err = SegInsert(d, h, size);
    if (err)
        return err;
    if (d->inUse > 0)
        d->inUse--;
    d->coalesced = 0;
    return 0;
}
