// Coalescing of one segment: merging neighbouring free blocks, which happens only when an
// allocation would otherwise fail, and rebuilding the free lists and the index afterwards.
#include "base/pool_segment.h"

#include "base/pool.h"

// Number of free blocks reachable from the index, or -1 when the links do not hold together.
static int SegReachable(const SegmentDescriptor *d, int limit)
{
    if (d->slots[0].size == 0)
        return 0;
    const unsigned char *base = d->base;
    unsigned h = d->slots[0].offset;
    for (int steps = 0;; steps++) {
        if (steps > limit || SegCheckFree(d, h, SEG_TAG_HEAD))
            return -1;
        unsigned prev = SegLink(base, h, SEG_LINK_PREV);
        if (!prev)
            break;
        h = prev;
    }
    int n = 0;
    for (; h; h = SegLink(base, h, SEG_LINK_NEXT)) {
        if (SegCheckFree(d, h, SEG_TAG_HEAD) || ++n > limit)
            return -1;
        for (unsigned m = SegLink(base, h, SEG_LINK_CHAIN); m; m = SegLink(base, m, SEG_LINK_CHAIN))
            if (SegCheckFree(d, m, SEG_TAG_MEMBER) || ++n > limit)
                return -1;
    }
    return n;
}

// Walks the tiling; 0 with the number of free blocks, or POOLERR_DAMAGED.
static int SegWalk(const SegmentDescriptor *d, int *freeBlocks)
{
    unsigned s = SegSize(d);
    unsigned h = 1;
    *freeBlocks = 0;
    while (h < s) {
        if (h + SEG_HEADER > s || SegTagDamaged(d->base[h]))
            return POOLERR_DAMAGED;
        if (d->base[h] & 1)
            ++*freeBlocks;
        h += SEG_HEADER + SegBlockSize(d->base, h);
    }
    return h == s ? 0 : POOLERR_DAMAGED;
}

int SegCoalesce(SegmentDescriptor *d, int *rebuilt)
{
    *rebuilt = 0;
    if (d->coalesced == 1)
        return 0;
    int freeBlocks;
    if (SegWalk(d, &freeBlocks))
        return POOLERR_DAMAGED;
    // Free blocks the index cannot reach are taken back by the same rebuild as merged ones.
    int merged = SegReachable(d, freeBlocks) != freeBlocks;
    unsigned char *base = d->base;
    unsigned s = SegSize(d);
    for (unsigned h = 1; h < s; h += SEG_HEADER + SegBlockSize(base, h)) {
        if (!(base[h] & 1))
            continue;
        for (;;) {
            unsigned next = h + SEG_HEADER + SegBlockSize(base, h);
            if (next >= s || !(base[next] & 1))
                break;
            SegSetBlock(base, h, base[h], SegBlockSize(base, h) + SEG_HEADER + SegBlockSize(base, next));
            merged = 1;
        }
    }
    unsigned largest = 0;
    if (merged) {
        for (int i = 0; i <= d->slotCount; i++) {
            d->slots[i].size = 0;
            d->slots[i].offset = 0;
        }
    }
    for (unsigned h = 1; h < s; h += SEG_HEADER + SegBlockSize(base, h)) {
        if (!(base[h] & 1))
            continue;
        unsigned size = SegBlockSize(base, h);
        if (size > largest)
            largest = size;
        if (merged) {
            int err = SegInsert(d, h, size);
            if (err)
                return err;
        }
    }
    d->largestFree = largest;
    d->coalesced = 1;
    *rebuilt = merged;
    return 0;
}
