// Memory pools: the allocator every dynamic object of the program comes from.
// A pool is named by a number 2..39 and owns a list of segments, each one locked global memory
// block of at most 65280 bytes tiled by blocks with 3-byte headers and 16-bit offsets. Owners
// allocate freely and destroy the whole pool when done; single blocks are freed rarely.
// Failures return -1 / null / 0, keep the last error code (PoolGetStatus) and, while
// POOLOPT_REPORT is on, show a message box. Single-threaded.
#pragma once

#include <stdint.h>

#include "base/pool_res.h"

constexpr int POOL_COUNT = 40;        // table entries: 0 descriptor pool, 1 reserved, 2..39 user
constexpr int POOL_FIRST_USER = 2;
constexpr int POOL_DESCRIPTORS = 0;   // the pool holding every segment's descriptor

// PoolCreate flags. POOL_DEFAULT and POOL_BUFFERS are kept in the table entry and have no
// effect of their own.
constexpr int POOL_DEFAULT = 0x0001;  // given by every owner of the program
constexpr int POOL_GROW = 0x0002;     // may add segments when no free block fits
constexpr int POOL_BUFFERS = 0x0100;  // given by the log file buffer layer
constexpr int POOL_ZERO = 0x1000;     // allocations are zero-filled over the requested size

constexpr int POOL_MAX_BLOCK = 65280; // largest block size: pages fit a byte, links 16 bits
constexpr int POOL_MIN_PAYLOAD = 12;  // a free block must hold its three links
constexpr int POOL_SPLIT_SLACK = 15;  // a block is split only when this much is left over

// Options (PoolSetOption / PoolGetOption).
constexpr int POOLOPT_REPORT = 1;     // show a message box on every error (on at start)

// Last operation codes (PoolStatus.operation).
constexpr int POOLOP_CREATE = 1;
constexpr int POOLOP_FREE = 2;
constexpr int POOLOP_DESTROY = 4;
constexpr int POOLOP_ALLOC = 8;
constexpr int POOLOP_INIT = 16;

// Error codes (PoolStatus.error; the message box shows 3000 + code).
constexpr int POOLERR_NONE = 0;
constexpr int POOLERR_NO_ENTRY = 1;     // 38 user pools exist
constexpr int POOLERR_NO_MEMORY = 2;    // global memory or a descriptor could not be had
constexpr int POOLERR_FREED_TWICE = 3;  // block already free
constexpr int POOLERR_BAD_POOL = 4;     // number out of range, or pointer not in the pool
constexpr int POOLERR_DAMAGED = 5;      // damaged block header
constexpr int POOLERR_OVERRUN = 6;      // header behind a freed block is damaged
constexpr int POOLERR_NOT_IN_USE = 7;   // pool number not in use
constexpr int POOLERR_BAD_SIZE = 9;     // size 0 or too large; bad block size at creation
constexpr int POOLERR_NO_INIT = 10;     // the allocator could not initialise
constexpr int POOLERR_NOT_STARTED = 11; // free before any pool was created
constexpr int POOLERR_FULL = 12;        // no block fits and no segment may be added
constexpr int POOLERR_NULL = 14;        // null pointer freed
constexpr int POOLERR_BOX_BASE = 3000;  // number shown to the user: base + code

// The error box texts: string resources of the program (IDS_POOL_CAPTION, IDS_POOL_FORMAT),
// with these texts as the fallback when a string cannot be loaded (the program's string table
// carries the same texts).
constexpr const char *POOL_TEXT_CAPTION = "Memory error";
constexpr const char *POOL_TEXT_FORMAT = "Memory pool error %d.";

struct PoolStatus {
    int operation;  // POOLOP_* of the last create, free, destroy or allocate
    int error;      // POOLERR_* of that operation, 0 when it succeeded
};

// A new pool of segments of blockSize bytes (1..65280, rounded up to 256 per segment);
// its first segment is made at once. Returns the pool number 2..39, or -1.
int PoolCreate(int blockSize, int flags);
// A block of size bytes (1..block size) from pool, zero-filled with POOL_ZERO; null on failure.
void *PoolAlloc(int pool, unsigned int size);
// Returns the block at p to pool: 1 when returned, else 0. A segment whose last block is freed
// is released (the pool stays in use).
int PoolFree(int pool, void *p);
// Releases every segment of pool (blocks need not be freed first) and frees its number.
// 1, or 0 on error (and without a report when no pool was ever created).
int PoolDestroy(int pool);
// POOLOPT_REPORT: on when value is 1, off otherwise; returns 1. Unknown option: 0.
int PoolSetOption(int option, int value);
// Current value of an option (1 on, 0 off); -1 for an unknown option. Lets a caller that
// switches reporting off around a call put back what was there.
int PoolGetOption(int option);
// Copies {last operation, last error}; 0 when no pool was created yet or status is null, else 1.
int PoolGetStatus(PoolStatus *status);

// ---- For tests only: a read-only view of a pool's segments, to check the allocator's
// invariants from outside. The test decodes the block headers and free links in the segment
// bytes itself.
constexpr int POOL_DEBUG_MAX_SLOTS = 11;   // N + 1 slots, N at most 10

struct PoolDebugSegment {
    const unsigned char *base;  // locked base address; the segment's bytes are base[0..size)
    unsigned size;              // S in bytes (pages * 256)
    unsigned inUse;             // the descriptor's count of blocks in use
    int coalesced;              // 1 when coalesced and nothing freed since
    unsigned largestFree;       // largest free payload of the last coalescing pass
    int slotCount;              // N
    unsigned slotSize[POOL_DEBUG_MAX_SLOTS];    // SizeIndex slots 0..N (size 0: empty)
    unsigned slotOffset[POOL_DEBUG_MAX_SLOTS];  // header offset of each slot's size head
    const void *descriptor;     // the descriptor's address (a block of the descriptor pool)
};

// Fills up to max entries of segs with the segments of pool (0..39) in list order.
// Returns the number of segments (may exceed max), or -1 when the allocator is not
// initialised or the entry is not in use. Sets no error and shows nothing.
int PoolDebugSegments(int pool, PoolDebugSegment *segs, int max);
// Block size and flags recorded in the table entry; 0 when the entry is unused.
int PoolDebugEntry(int pool, int *blockSize, int *flags, int *globalFlags);
// Caption and text of the error box for code (from the program's strings, else the fixed
// texts above); what PoolAlloc and the others show while POOLOPT_REPORT is on. 1, or 0 when a
// buffer size is below 1.
int PoolDebugErrorText(int code, char *caption, int captionSize, char *text, int textSize);
