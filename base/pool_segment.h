// Inside the memory pools: one segment's blocks, free lists and SizeIndex. Private to
// base/pool.cpp and base/pool_segment.cpp; the program uses base/pool.h.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

constexpr uint8_t SEG_TAG_USED = 0x00;
constexpr uint8_t SEG_TAG_HEAD = 0x05;    // free, heads its size in the free list
constexpr uint8_t SEG_TAG_MEMBER = 0x81;  // free, in an exact-size chain (or not yet linked)
constexpr unsigned SEG_HEADER = 3;        // tag byte and 16-bit payload size
constexpr unsigned SEG_PAGE = 256;
constexpr int SEG_MAX_SLOTS = 10;

#pragma pack(push, 1)
struct PoolSlot {
    uint32_t size;    // payload size of the head; 0 marks an empty slot
    uint32_t offset;  // header offset of the head
};

// Lives unaligned in a block of the descriptor pool; pointer fields are pointer-sized.
struct SegmentDescriptor {
    uint8_t pages;             // segment size in 256-byte pages
    uint32_t inUse;            // blocks in use
    HGLOBAL handle;
    unsigned char *base;       // locked for the segment's whole life
    uint8_t coalesced;         // 1: coalesced and nothing freed since
    uint32_t largestFree;      // largest free payload of the last coalescing pass
    uint32_t next;             // next descriptor of the pool, offset from the descriptor
                               // segment's base; 0 ends the list
    uint8_t slotCount;         // N
    PoolSlot slots[SEG_MAX_SLOTS + 1];  // only N + 1 are allocated; the last is room to shift
};
#pragma pack(pop)

// The 32-bit build keeps the documented byte layout: 23 bytes in front of the slots.
static_assert(sizeof(void *) != 4 || offsetof(SegmentDescriptor, slots) == 23, "descriptor layout");
static_assert(sizeof(PoolSlot) == 8, "slot layout");

// Payload size of a descriptor with n slots (8n + 31 in the 32-bit build).
inline unsigned SegDescriptorSize(int n)
{
    return unsigned(offsetof(SegmentDescriptor, slots) + sizeof(PoolSlot) * unsigned(n + 1));
}

inline unsigned SegSize(const SegmentDescriptor *d)
{
    return unsigned(d->pages) * SEG_PAGE;
}

// Slot count for a segment of size bytes.
int SegSlotsFor(unsigned size);
// Fills the descriptor of a fresh segment and makes bytes 1..size-1 one free block.
void SegInit(SegmentDescriptor *d, HGLOBAL handle, unsigned char *base, unsigned size, int slots);
// Fills the descriptor of the descriptor pool's own segment, whose first block (in use) holds
// the descriptor itself, and frees the rest.
void SegInitSelf(SegmentDescriptor *d, HGLOBAL handle, unsigned char *base, unsigned size,
                 int slots);
// Best fit for a payload of at least size (>= 12) bytes. 0 with *payload set, or null on a miss;
// else a POOLERR_* code.
int SegSearch(SegmentDescriptor *d, unsigned size, unsigned char **payload);
// Merges neighbouring free blocks and rebuilds the index where needed; *rebuilt is set to 1
// when the index changed so that a search may now succeed. 0 or a POOLERR_* code.
int SegCoalesce(SegmentDescriptor *d, int *rebuilt);
// 1 when p may be the payload of a block of this segment.
int SegHolds(const SegmentDescriptor *d, const void *p);
// Returns the in-use block at p (SegHolds true) to the free lists. 0 or a POOLERR_* code.
int SegFree(SegmentDescriptor *d, unsigned char *p);
// 1 for a tag byte that no block can have.
int SegTagDamaged(uint8_t tag);

// Block access shared by the segment and coalescing code. Free payloads start with three
// 32-bit links holding 16-bit header offsets (0 = none).
constexpr unsigned SEG_LINK_NEXT = 0;    // head: next larger head; member: 0
constexpr unsigned SEG_LINK_PREV = 4;    // head: next smaller head; member: previous in chain
constexpr unsigned SEG_LINK_CHAIN = 8;   // head: first chain member; member: next in chain

unsigned SegBlockSize(const unsigned char *base, unsigned h);
// Writes a header; the tag is stored with even parity.
void SegSetBlock(unsigned char *base, unsigned h, uint8_t tag, unsigned size);
unsigned SegLink(const unsigned char *base, unsigned h, unsigned field);
// 0 when h names a free block with this tag lying wholly inside the segment, else
// POOLERR_DAMAGED.
int SegCheckFree(const SegmentDescriptor *d, unsigned h, uint8_t tag);
// Makes the block at h (payload size) a free block and links it in. 0 or POOLERR_DAMAGED.
int SegInsert(SegmentDescriptor *d, unsigned h, unsigned size);
