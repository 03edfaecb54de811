// Interim allocator with the pool API (blocks from the process heap); replaced by the
// segment allocator.
#include "base/pool.h"

#include <windows.h>

struct StubBlock {
    StubBlock *next;
};

static StubBlock *stubPools[POOL_COUNT];
static bool stubUsed[POOL_COUNT];
static int stubFlags[POOL_COUNT];
static int stubBlockSize[POOL_COUNT];
static int stubReport = 1;
static PoolStatus stubStatus;
static bool stubStarted;

int PoolCreate(int blockSize, int flags)
{
    stubStarted = true;
    stubStatus = {POOLOP_CREATE, 0};
    if (blockSize <= 0 || blockSize > POOL_MAX_BLOCK) {
        stubStatus.error = POOLERR_BAD_SIZE;
        return -1;
    }
    for (int i = POOL_FIRST_USER; i < POOL_COUNT; i++) {
        if (!stubUsed[i]) {
            stubUsed[i] = true;
            stubFlags[i] = flags & 0x7FFF;
            stubBlockSize[i] = blockSize;
            stubPools[i] = nullptr;
            return i;
        }
    }
    stubStatus.error = POOLERR_NO_ENTRY;
    return -1;
}

void *PoolAlloc(int pool, unsigned int size)
{
    stubStatus = {POOLOP_ALLOC, 0};
    if (pool < POOL_FIRST_USER || pool >= POOL_COUNT || !stubUsed[pool]) {
        stubStatus.error = POOLERR_BAD_POOL;
        return nullptr;
    }
    if (size == 0 || size > unsigned(stubBlockSize[pool])) {
        stubStatus.error = POOLERR_BAD_SIZE;
        return nullptr;
    }
    StubBlock *b = static_cast<StubBlock *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                      sizeof(StubBlock) + size + 16));
    if (!b) {
        stubStatus.error = POOLERR_NO_MEMORY;
        return nullptr;
    }
    b->next = stubPools[pool];
    stubPools[pool] = b;
    return b + 1;
}

int PoolFree(int pool, void *p)
{
    stubStatus = {POOLOP_FREE, 0};
    if (!p) {
        stubStatus.error = POOLERR_NULL;
        return 0;
    }
    (void)pool;
    return 1;  // kept until the pool goes
}

int PoolDestroy(int pool)
{
    stubStatus = {POOLOP_DESTROY, 0};
    if (pool < POOL_FIRST_USER || pool >= POOL_COUNT || !stubUsed[pool]) {
        stubStatus.error = POOLERR_BAD_POOL;
        return 0;
    }
    while (stubPools[pool]) {
        StubBlock *next = stubPools[pool]->next;
        HeapFree(GetProcessHeap(), 0, stubPools[pool]);
        stubPools[pool] = next;
    }
    stubUsed[pool] = false;
    return 1;
}

int PoolSetOption(int option, int value)
{
    if (option != POOLOPT_REPORT)
        return 0;
    stubReport = value == 1;
    return 1;
}

int PoolGetOption(int option)
{
    return option == POOLOPT_REPORT ? stubReport : -1;
}

int PoolGetStatus(PoolStatus *status)
{
    if (!status || !stubStarted)
        return 0;
    *status = stubStatus;
    return 1;
}

int PoolDebugSegments(int, PoolDebugSegment *, int)
{
    return -1;
}

int PoolDebugEntry(int, int *, int *, int *)
{
    return 0;
}
