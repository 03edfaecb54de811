#include "base/pool.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// The flag sets the program's owners give.
constexpr int GROW_ZERO = POOL_DEFAULT | POOL_GROW | POOL_ZERO;
constexpr int GROW_ONLY = POOL_DEFAULT | POOL_GROW;
constexpr int ZERO_ONLY = POOL_DEFAULT | POOL_ZERO;   // one segment unless it has none
constexpr int GROW_BUFFERS = POOL_DEFAULT | POOL_GROW | POOL_BUFFERS;

// ---- Reading a segment the way the allocator lays it out: a tag byte and a 16-bit payload
// size in front of every payload, three 32-bit links at the start of a free payload.

unsigned Size16(const unsigned char *b, unsigned h)
{
    return b[h + 1] | b[h + 2] << 8;
}

unsigned Link(const unsigned char *b, unsigned h, unsigned field)
{
    uint32_t v;
    memcpy(&v, b + h + 3 + field, 4);
    return v;
}

unsigned HeaderSize(const void *payload)
{
    return Size16(static_cast<const unsigned char *>(payload) - 3, 0);
}

int SlotsFor(unsigned s)
{
    return s < 2048 ? 6 : s < 8192 ? 8 : s <= 32767 ? 9 : 10;
}

// What the checks have seen, to show that the random runs reach the interesting states.
struct CheckStats {
    long members = 0;      // chain members met
    long unreachable = 0;  // free blocks no slot leads to (until a coalescing pass)
    long heads = 0;        // indexed heads
    long coalesced = 0;    // segments met in the coalesced state
    long bestFit = 0;      // allocations checked for taking the smallest block that fits
};
CheckStats stats;

struct Live {
    int pool;
    unsigned size;
    unsigned char seed;
};

// Checks every segment of one pool; returns "" or what is wrong. inUseBlocks receives the
// payload address and size of each block in use.
// The free blocks a search can reach in one segment: header offset -> payload size.
struct Reach {
    const unsigned char *base;
    unsigned size;
    std::map<unsigned, unsigned> blocks;
    unsigned run = 0;  // the largest payload merging neighbouring free blocks could make
};

std::string CheckPool(int pool, std::map<const unsigned char *, unsigned> *inUseBlocks,
                      std::vector<Reach> *reach = nullptr)
{
    if (reach)
        reach->clear();
    static std::vector<PoolDebugSegment> segs(1200);
    int n = PoolDebugSegments(pool, segs.data(), 1200);
    if (n < 0)
        return "pool not in use";
    if (n > 1200)
        return "too many segments";
    for (int si = 0; si < n; si++) {
        const PoolDebugSegment &sg = segs[si];
        const unsigned char *b = sg.base;
        if (reach)
            reach->push_back(Reach{b, sg.size, {}});
        std::string where = "pool " + std::to_string(pool) + " segment " + std::to_string(si) + ": ";
        if (b[0] != 0)
            return where + "byte 0 not 0";
        if (sg.size % 256 || sg.size == 0 || sg.size > 65280)
            return where + "bad size";
        if (pool != 0 && sg.slotCount != SlotsFor(sg.size))
            return where + "slot count";
        // Tiling.
        static std::vector<int> tags;  // header offset -> tag, -1 inside a block
        tags.assign(sg.size, -1);
        unsigned used = 0, h = 1, run = 0;
        std::vector<unsigned> order;
        while (h < sg.size) {
            if (h + 3 > sg.size)
                return where + "header past the end";
            unsigned char t = b[h];
            if (t != 0x00 && t != 0x05 && t != 0x81)
                return where + "bad tag at " + std::to_string(h);
            unsigned sz = Size16(b, h);
            if (sz < 12)
                return where + "payload below 12 at " + std::to_string(h);
            tags[h] = t;
            order.push_back(h);
            if (t == 0) {
                used++;
                run = 0;
                if (inUseBlocks)
                    (*inUseBlocks)[b + h + 3] = sz;
            } else {
                run = run ? run + 3 + sz : sz;
                if (reach && run > reach->back().run)
                    reach->back().run = run;
            }
            h += 3 + sz;
        }
        if (h != sg.size)
            return where + "tiling overruns the segment";
        if (used != sg.inUse)
            return where + "in-use count " + std::to_string(sg.inUse) + " but " +
                   std::to_string(used) + " blocks in use";
        if (sg.coalesced == 1) {
            for (size_t i = 0; i + 1 < order.size(); i++)
                if ((tags[order[i]] & 1) && (tags[order[i + 1]] & 1))
                    return where + "adjacent free blocks in a coalesced segment";
            for (unsigned o : order)
                if ((tags[o] & 1) && Size16(b, o) > sg.largestFree)
                    return where + "free block above the recorded largest";
        }
        // SizeIndex: a prefix of filled slots, strictly ascending, each naming a head.
        int filled = 0;
        while (filled < sg.slotCount && sg.slotSize[filled])
            filled++;
        for (int i = filled; i <= sg.slotCount; i++)
            if (sg.slotSize[i] != 0)
                return where + "filled slot after an empty one";
        for (int i = 0; i < filled; i++) {
            unsigned o = sg.slotOffset[i];
            if (o >= sg.size || tags[o] != 0x05 || Size16(b, o) != sg.slotSize[i])
                return where + "slot " + std::to_string(i) + " does not name a head of its size";
            if (i > 0 && sg.slotSize[i] <= sg.slotSize[i - 1])
                return where + "slots not ascending";
        }
        if (filled == 0) {
            for (unsigned o : order)
                stats.unreachable += tags[o] & 1;
            continue;
        }
        // The head list reachable from the index: ascending, doubly linked, chains of equal size.
        static std::vector<unsigned char> seen;  // reached through the index
        seen.assign(sg.size, 0);
        unsigned head = sg.slotOffset[0];
        for (int guard = 0; Link(b, head, 4); guard++) {
            head = Link(b, head, 4);
            if (guard > 5000 || head >= sg.size || tags[head] != 0x05)
                return where + "bad previous-head link";
        }
        unsigned prev = 0;
        for (; head; prev = head, head = Link(b, head, 0)) {
            if (head >= sg.size || tags[head] != 0x05 || seen[head]++)
                return where + "bad next-head link at " + std::to_string(head);
            if (reach)
                reach->back().blocks[head] = Size16(b, head);
            if (Link(b, head, 4) != prev)
                return where + "head back link broken at " + std::to_string(head);
            if (prev && Size16(b, head) <= Size16(b, prev))
                return where + "heads not ascending";
            unsigned back = head;
            for (unsigned m = Link(b, head, 8); m; back = m, m = Link(b, m, 8)) {
                if (m >= sg.size || tags[m] != 0x81 || seen[m]++)
                    return where + "bad chain link";
                if (reach)
                    reach->back().blocks[m] = Size16(b, m);
                stats.members++;
                if (Size16(b, m) != Size16(b, head))
                    return where + "chain member of another size";
                if (Link(b, m, 0) != 0 || Link(b, m, 4) != back)
                    return where + "chain member links broken";
            }
        }
        for (int i = 0; i < filled; i++)
            if (!seen[sg.slotOffset[i]])
                return where + "slot head not in the list";
        for (unsigned o : order)
            if ((tags[o] & 1) && !seen[o])
                stats.unreachable++;
        stats.heads += unsigned(filled);
        stats.coalesced += sg.coalesced == 1;
    }
    return "";
}

class Pool : public ::testing::Test {
protected:
    std::vector<int> pools;

    void SetUp() override { PoolSetOption(POOLOPT_REPORT, 0); }
    void TearDown() override
    {
        for (int p : pools)
            PoolDestroy(p);
        EXPECT_EQ("", CheckPool(POOL_DESCRIPTORS, nullptr));
    }
    int Create(int blockSize, int flags)
    {
        int p = PoolCreate(blockSize, flags);
        if (p >= 0)
            pools.push_back(p);
        return p;
    }
    void Destroy(int p)
    {
        EXPECT_EQ(1, PoolDestroy(p));
        for (auto it = pools.begin(); it != pools.end(); ++it)
            if (*it == p) {
                pools.erase(it);
                break;
            }
    }
    static int LastError()
    {
        PoolStatus s{-1, -1};
        EXPECT_EQ(1, PoolGetStatus(&s));
        return s.error;
    }
    static int Segments(int pool) { return PoolDebugSegments(pool, nullptr, 0); }
};

// Must run before anything creates a pool in this process; skipped otherwise.
TEST_F(Pool, AFreeBeforeAnyPoolExistsIsError11)
{
    PoolStatus s;
    if (PoolGetStatus(&s))
        GTEST_SKIP() << "a pool was created earlier in this process";
    int dummy;
    EXPECT_EQ(0, PoolDestroy(2)) << "destroy before start: 0 without a report";
    EXPECT_EQ(0, PoolFree(2, &dummy));
    EXPECT_EQ(0, PoolGetStatus(&s)) << "still nothing to report before the first create";
    ASSERT_GE(Create(256, GROW_ZERO), 2);
    EXPECT_EQ(1, PoolGetStatus(&s));
}

TEST_F(Pool, StatusAndOptions)
{
    ASSERT_GE(Create(256, GROW_ONLY), 2);
    EXPECT_EQ(0, PoolGetStatus(nullptr));
    EXPECT_EQ(1, PoolSetOption(POOLOPT_REPORT, 2)) << "any value but 1 turns it off";
    EXPECT_EQ(0, PoolGetOption(POOLOPT_REPORT));
    EXPECT_EQ(0, PoolSetOption(7, 1));
    EXPECT_EQ(-1, PoolGetOption(7));
    PoolStatus s;
    ASSERT_EQ(1, PoolGetStatus(&s));
    EXPECT_EQ(POOLOP_CREATE, s.operation);
    EXPECT_EQ(0, s.error);
}

TEST_F(Pool, ErrorBoxFallsBackToFixedTexts)
{
    // The test program carries no string table: the fixed texts are shown.
    char caption[64], text[64];
    ASSERT_EQ(1, PoolDebugErrorText(POOLERR_FULL, caption, sizeof caption, text, sizeof text));
    EXPECT_STREQ(POOL_TEXT_CAPTION, caption);
    EXPECT_STREQ("Memory pool error 3012.", text);
    char small[6];
    ASSERT_EQ(1, PoolDebugErrorText(POOLERR_DAMAGED, caption, sizeof caption, small, sizeof small));
    EXPECT_STREQ("Memor", small) << "cut to the buffer, terminated";
    EXPECT_EQ(0, PoolDebugErrorText(1, caption, 0, text, sizeof text));
}

TEST_F(Pool, RefusesBadArgumentsWithTheirCodes)
{
    int p = Create(1000, GROW_ZERO);
    ASSERT_GE(p, 2);
    int q = Create(300, GROW_ZERO);
    ASSERT_GE(q, 2);
    Destroy(q);
    const struct {
        const char *what;
        int op;
        int arg;
        unsigned size;
        int error;
    } cases[] = {
        {"create block size 0", POOLOP_CREATE, 0, 0, POOLERR_BAD_SIZE},
        {"create negative block size", POOLOP_CREATE, -256, 0, POOLERR_BAD_SIZE},
        {"create 65281", POOLOP_CREATE, 65281, 0, POOLERR_BAD_SIZE},
        {"alloc pool 1", POOLOP_ALLOC, 1, 10, POOLERR_BAD_POOL},
        {"alloc pool 40", POOLOP_ALLOC, 40, 10, POOLERR_BAD_POOL},
        {"alloc freed pool", POOLOP_ALLOC, q, 10, POOLERR_NOT_IN_USE},
        {"alloc size 0", POOLOP_ALLOC, p, 0, POOLERR_BAD_SIZE},
        {"alloc 1001 of 1000", POOLOP_ALLOC, p, 1001, POOLERR_BAD_SIZE},
        {"destroy 0", POOLOP_DESTROY, 0, 0, POOLERR_BAD_POOL},
        {"destroy 1", POOLOP_DESTROY, 1, 0, POOLERR_BAD_POOL},
        {"destroy 40", POOLOP_DESTROY, 40, 0, POOLERR_BAD_POOL},
        {"destroy freed", POOLOP_DESTROY, q, 0, POOLERR_NOT_IN_USE},
        {"free pool -1", POOLOP_FREE, -1, 0, POOLERR_BAD_POOL},
        {"free null", POOLOP_FREE, p, 0, POOLERR_NULL},
        {"free a stack address", POOLOP_FREE, p, 1, POOLERR_BAD_POOL},
        {"free null in the descriptor pool", POOLOP_FREE, 0, 0, POOLERR_NULL},
    };
    int local = 0;
    for (const auto &c : cases) {
        int r = 1;
        switch (c.op) {
        case POOLOP_CREATE: r = PoolCreate(c.arg, GROW_ZERO); EXPECT_EQ(-1, r) << c.what; break;
        case POOLOP_ALLOC: EXPECT_EQ(nullptr, PoolAlloc(c.arg, c.size)) << c.what; break;
        case POOLOP_DESTROY: EXPECT_EQ(0, PoolDestroy(c.arg)) << c.what; break;
        case POOLOP_FREE: EXPECT_EQ(0, PoolFree(c.arg, c.size ? &local : nullptr)) << c.what; break;
        }
        PoolStatus s;
        ASSERT_EQ(1, PoolGetStatus(&s));
        EXPECT_EQ(c.op, s.operation) << c.what;
        EXPECT_EQ(c.error, s.error) << c.what;
    }
    EXPECT_NE(nullptr, PoolAlloc(p, 1000)) << "the whole block size fits a 1024-byte segment";
    EXPECT_EQ(0, LastError());
    EXPECT_EQ("", CheckPool(p, nullptr));
}

TEST_F(Pool, SmallRequestsTakeTwelveBytesAndSlackStaysUnsplit)
{
    // A 256-byte segment starts with one free block of 252.
    const struct {
        unsigned request;
        unsigned payload;    // of the block handed out
        unsigned remainder;  // free payload left behind, 0 when none
    } cases[] = {
        {1, 12, 237}, {12, 12, 237}, {13, 13, 236}, {237, 237, 12}, {238, 252, 0}, {252, 252, 0},
    };
    for (const auto &c : cases) {
        int p = Create(256, GROW_ONLY);
        ASSERT_GE(p, 2);
        unsigned char *a = static_cast<unsigned char *>(PoolAlloc(p, c.request));
        ASSERT_NE(nullptr, a) << c.request;
        EXPECT_EQ(c.payload, HeaderSize(a)) << c.request;
        PoolDebugSegment sg;
        ASSERT_EQ(1, PoolDebugSegments(p, &sg, 1));
        EXPECT_EQ(1u, sg.inUse);
        if (c.remainder) {
            unsigned next = unsigned(a - sg.base) + c.payload;
            EXPECT_EQ(0x05, sg.base[next]) << c.request;
            EXPECT_EQ(c.remainder, Size16(sg.base, next)) << c.request;
        }
        EXPECT_EQ("", CheckPool(p, nullptr));
        Destroy(p);
    }
}

TEST_F(Pool, ZeroFillCoversTheRequestedBytes)
{
    int p = Create(1000, GROW_ZERO);
    unsigned char *a = static_cast<unsigned char *>(PoolAlloc(p, 40));
    unsigned char *keep = static_cast<unsigned char *>(PoolAlloc(p, 12));
    ASSERT_TRUE(a && keep);
    memset(a, 0xAB, 40);
    ASSERT_EQ(1, PoolFree(p, a));
    unsigned char *b = static_cast<unsigned char *>(PoolAlloc(p, 30));
    ASSERT_EQ(a, b) << "the freed block fits best";
    for (int i = 0; i < 30; i++)
        ASSERT_EQ(0, b[i]) << i;
    EXPECT_EQ(40u, HeaderSize(b)) << "10 bytes of slack are not split off";

    int q = Create(1000, GROW_ONLY);
    unsigned char *c = static_cast<unsigned char *>(PoolAlloc(q, 40));
    memset(c, 0xCD, 40);
    PoolAlloc(q, 12);
    PoolFree(q, c);
    unsigned char *again = static_cast<unsigned char *>(PoolAlloc(q, 40));
    ASSERT_EQ(c, again);
    EXPECT_EQ(0xCD, again[39]) << "no zero fill without 0x1000";
}

TEST_F(Pool, DoubleForeignAndDamagedFreesAreRefused)
{
    int p = Create(1000, GROW_ZERO), q = Create(1000, GROW_ZERO);
    unsigned char *a = static_cast<unsigned char *>(PoolAlloc(p, 20));
    unsigned char *b = static_cast<unsigned char *>(PoolAlloc(p, 20));
    unsigned char *c = static_cast<unsigned char *>(PoolAlloc(p, 20));
    unsigned char *d = static_cast<unsigned char *>(PoolAlloc(p, 20));
    ASSERT_TRUE(a && b && c && d && PoolAlloc(q, 20));

    EXPECT_EQ(0, PoolFree(q, a));
    EXPECT_EQ(POOLERR_BAD_POOL, LastError()) << "a block of another pool";
    EXPECT_EQ(1, PoolFree(p, a));
    EXPECT_EQ(0, PoolFree(p, a));
    EXPECT_EQ(POOLERR_FREED_TWICE, LastError());

    b[-3] = 0x80;  // a tag with one stray bit
    EXPECT_EQ(0, PoolFree(p, b));
    EXPECT_EQ(POOLERR_DAMAGED, LastError());
    b[-3] = 0x00;

    unsigned char saved = c[20];
    c[20] = 0x40;  // written past the end, into the next header
    EXPECT_EQ(0, PoolFree(p, c));
    EXPECT_EQ(POOLERR_OVERRUN, LastError());
    c[20] = saved;

    EXPECT_EQ("", CheckPool(p, nullptr)) << "refused frees change nothing";
    EXPECT_EQ(1, PoolFree(p, b));
    EXPECT_EQ(1, PoolFree(p, c));
    EXPECT_EQ("", CheckPool(p, nullptr));
}

TEST_F(Pool, DamagedFreeHeadFailsTheAllocation)
{
    int p = Create(1000, GROW_ZERO);
    unsigned char *a = static_cast<unsigned char *>(PoolAlloc(p, 100));
    ASSERT_TRUE(a && PoolAlloc(p, 20));
    ASSERT_EQ(1, PoolFree(p, a));
    a[-3] = 0x01;  // the free head's tag loses its parity bit
    EXPECT_EQ(nullptr, PoolAlloc(p, 100));
    EXPECT_EQ(POOLERR_DAMAGED, LastError());
    a[-3] = 0x05;
    EXPECT_EQ(a, PoolAlloc(p, 100));
}

TEST_F(Pool, ThirtyNinthCreateFailsWithError1)
{
    std::vector<int> made;
    for (int i = 0; i < 38; i++) {
        int p = Create(256, GROW_ONLY);
        ASSERT_GE(p, 2) << "user pool " << i;
        made.push_back(p);
    }
    EXPECT_EQ(std::set<int>(made.begin(), made.end()).size(), 38u);
    EXPECT_EQ(-1, PoolCreate(256, GROW_ONLY));
    EXPECT_EQ(POOLERR_NO_ENTRY, LastError());
    Destroy(made[5]);
    EXPECT_EQ(made[5], Create(256, GROW_ONLY)) << "the lowest free number is reused";
}

TEST_F(Pool, LastFreeReleasesTheSegmentAndTheNextAllocationRegrows)
{
    int p = Create(2000, ZERO_ONLY);  // no POOL_GROW: regrowth from no segment is still allowed
    void *a = PoolAlloc(p, 100);
    ASSERT_NE(nullptr, a);
    ASSERT_EQ(1, Segments(p));
    ASSERT_EQ(1, PoolFree(p, a));
    EXPECT_EQ(0, Segments(p)) << "segment released, pool still in use";
    void *b = PoolAlloc(p, 100);
    EXPECT_NE(nullptr, b);
    EXPECT_EQ(1, Segments(p));
    EXPECT_EQ("", CheckPool(p, nullptr));
}

TEST_F(Pool, CoalescesNeighboursInsteadOfGrowing)
{
    int p = Create(1000, GROW_ZERO);
    std::vector<void *> blocks;
    for (int i = 0; i < 19; i++)
        blocks.push_back(PoolAlloc(p, 50));
    ASSERT_EQ(1, Segments(p));
    for (int i = 5; i < 11; i++)
        ASSERT_EQ(1, PoolFree(p, blocks[i]));
    void *big = PoolAlloc(p, 300);
    EXPECT_EQ(blocks[5], big) << "six 50-byte neighbours merged to 315 bytes";
    EXPECT_EQ(1, Segments(p)) << "no new segment";
    EXPECT_EQ("", CheckPool(p, nullptr));
}

// Index slots go as their heads are taken; a head left in the list with no slot leading to it
// is found again by the coalescing pass, even when it has no free neighbour to merge with, and
// also when the segment was already coalesced and only allocations happened since.
TEST_F(Pool, UnreachableFreeBlockIsFoundWithoutGrowing)
{
    for (bool passFirst : {false, true}) {
        int p = Create(1000, passFirst ? ZERO_ONLY : GROW_ZERO);  // 6 index slots
        unsigned char *a[27] = {};
        for (int size = 26; size >= 20; size--) {
            ASSERT_NE(nullptr, PoolAlloc(p, 12));  // separators: nothing merges
            a[size] = static_cast<unsigned char *>(PoolAlloc(p, unsigned(size)));
        }
        ASSERT_NE(nullptr, PoolAlloc(p, 12));
        PoolDebugSegment sg;
        ASSERT_EQ(1, PoolDebugSegments(p, &sg, 1));
        ASSERT_NE(nullptr, PoolAlloc(p, sg.slotSize[0])) << "the rest of the segment, exactly";
        for (int size = 21; size <= 26; size++)
            ASSERT_EQ(1, PoolFree(p, a[size]));
        ASSERT_EQ(1, PoolFree(p, a[20]));  // the index is full: 20 takes slot 0 from 21
        ASSERT_EQ(1, PoolDebugSegments(p, &sg, 1));
        EXPECT_EQ(20u, sg.slotSize[0]);
        EXPECT_EQ(22u, sg.slotSize[1]);
        if (passFirst) {
            EXPECT_EQ(nullptr, PoolAlloc(p, 500)) << "nothing fits: a coalescing pass, then 12";
            ASSERT_EQ(1, PoolDebugSegments(p, &sg, 1));
            ASSERT_EQ(1, sg.coalesced);
        }
        for (int size : {20, 22, 23, 24, 25, 26})
            ASSERT_EQ(a[size], PoolAlloc(p, unsigned(size))) << size;
        ASSERT_EQ(1, PoolDebugSegments(p, &sg, 1));
        EXPECT_EQ(0u, sg.slotSize[0]) << "index empty, 21 still free";
        EXPECT_EQ(a[21], PoolAlloc(p, 21)) << "pass first: " << passFirst << ", error " << LastError();
        EXPECT_EQ(1, Segments(p)) << "found again, not a new segment";
        EXPECT_EQ("", CheckPool(p, nullptr));
        Destroy(p);
    }
}

TEST_F(Pool, WithoutGrowAFullPoolIsError12)
{
    int p = Create(1000, ZERO_ONLY);
    int n = 0;
    while (PoolAlloc(p, 100))
        n++;
    EXPECT_EQ(9, n);
    EXPECT_EQ(POOLERR_FULL, LastError());
    EXPECT_EQ(1, Segments(p));
    EXPECT_EQ("", CheckPool(p, nullptr));
}

TEST_F(Pool, RequestsAboveTheSegmentPayloadAreError12)
{
    const struct {
        int blockSize;
        unsigned request;
        bool fits;
    } cases[] = {
        {1024, 1020, true}, {1024, 1021, false}, {1024, 1024, false}, {1021, 1021, false},
        {1020, 1020, true}, {1025, 1025, true}, {65280, 65276, true}, {65280, 65277, false},
    };
    for (const auto &c : cases) {
        int p = Create(c.blockSize, GROW_ZERO);
        ASSERT_GE(p, 2);
        void *a = PoolAlloc(p, c.request);
        EXPECT_EQ(c.fits, a != nullptr) << c.blockSize << "/" << c.request;
        if (!c.fits) {
            EXPECT_EQ(POOLERR_FULL, LastError()) << c.blockSize << "/" << c.request;
        }
        EXPECT_EQ(1, Segments(p)) << "no segment added for a request none can hold";
        Destroy(p);
    }
}

TEST_F(Pool, RunsOutOfDescriptorsWithError2AndRecovers)
{
    int p = Create(256, GROW_ONLY);
    std::vector<void *> blocks;
    for (;;) {
        void *a = PoolAlloc(p, 252);  // one segment each
        if (!a)
            break;
        blocks.push_back(a);
        ASSERT_LT(blocks.size(), 2000u);
    }
    EXPECT_EQ(POOLERR_NO_MEMORY, LastError());
    EXPECT_GT(blocks.size(), 500u) << "the descriptor segment holds hundreds of descriptors";
    EXPECT_EQ(int(blocks.size()), Segments(p));
    EXPECT_EQ(-1, PoolCreate(256, GROW_ONLY)) << "a new pool needs a descriptor too";
    EXPECT_EQ(POOLERR_NO_MEMORY, LastError());
    EXPECT_EQ("", CheckPool(POOL_DESCRIPTORS, nullptr));
    for (void *a : blocks)
        ASSERT_EQ(1, PoolFree(p, a));
    EXPECT_EQ(0, Segments(p));
    PoolDebugSegment d;
    ASSERT_EQ(1, PoolDebugSegments(POOL_DESCRIPTORS, &d, 1));
    EXPECT_EQ(1u, d.inUse) << "only its own descriptor is left";
    int q = Create(256, GROW_ONLY);
    EXPECT_GE(q, 2);
}

// ---- Randomized: thousands of allocations and frees over several pools, every invariant
// checked after every operation.

struct StressPool {
    int blockSize;
    int flags;
};

constexpr StressPool STRESS_POOLS[] = {
    {1000, GROW_ZERO}, {4096, GROW_BUFFERS}, {16384, GROW_ZERO}, {65000, GROW_ONLY}, {2048, ZERO_ONLY},
};

class PoolStress : public Pool {
protected:
    std::map<unsigned char *, Live> live;
    // Live blocks in allocation order: random picks index this, not the map, so that a seed makes
    // the same run wherever the heap happens to put the segments (it differs between builds).
    std::vector<unsigned char *> order;
    std::map<int, std::vector<Reach>> reach;  // per pool, as of the last check
    std::string Check(const std::vector<int> &ids)
    {
        std::map<const unsigned char *, unsigned> used;
        std::string r = CheckPool(POOL_DESCRIPTORS, nullptr);
        reach.clear();
        for (int id : ids)
            if (r.empty())
                r = CheckPool(id, &used, &reach[id]);
        if (!r.empty())
            return r;
        if (used.size() != live.size())
            return "blocks in use " + std::to_string(used.size()) + ", live " + std::to_string(live.size());
        for (auto &l : live) {
            auto it = used.find(l.first);
            if (it == used.end())
                return "a live block is not a block in use";
            if (it->second < l.second.size || it->second < 12)
                return "a block is smaller than its request";
        }
        return "";
    }
    // A block that a search could reach before the allocation must be the smallest reachable
    // one that fits, in the first segment (list order) that has one. Blocks found only after a
    // coalescing pass, or in a new segment, are not judged.
    std::string BestFit(int pool, const unsigned char *p, unsigned request)
    {
        unsigned r = request < 12 ? 12 : request;
        const std::vector<Reach> &segs = reach[pool];
        for (size_t i = 0; i < segs.size(); i++) {
            const Reach &sg = segs[i];
            if (p < sg.base || p >= sg.base + sg.size)
                continue;
            auto it = sg.blocks.find(unsigned(p - sg.base) - 3);
            if (it == sg.blocks.end() || it->second < r)
                return "";
            for (size_t j = 0; j < i; j++)
                for (auto &b : segs[j].blocks)
                    if (b.second >= r)
                        return "an earlier segment had a block of " + std::to_string(b.second);
            for (auto &b : sg.blocks)
                if (b.second >= r && b.second < it->second)
                    return "took " + std::to_string(it->second) + " for " + std::to_string(r) +
                           " while " + std::to_string(b.second) + " was free";
            stats.bestFit++;
            return "";
        }
        return "";
    }
    long allocs = 0, fails = 0;
    // Profiles: 0 mostly small strings; 1 a few sizes over and over (chains, exact takes that
    // empty index slots); 2 sizes across a quarter of the block size (splits, segment growth).
    static unsigned PickSize(std::mt19937 &rng, int profile, int which, int pool)
    {
        static const unsigned FEW_SIZES[] = {1, 12, 13, 20, 24, 27, 40, 64, 100};
        unsigned blockSize = unsigned(STRESS_POOLS[which].blockSize), kind = rng() % 100;
        PoolDebugSegment first;
        if (profile == 1 && kind < 45 && PoolDebugSegments(pool, &first, 1) > 0 &&
            first.slotSize[0] != 0 && first.slotSize[0] <= blockSize) {
            // Exactly the size of an indexed head: taken whole, its slot goes.
            unsigned size = first.slotSize[rng() % 2 && first.slotSize[1] ? 1 : 0];
            return size > blockSize ? 12 : size;
        }
        if (profile == 1 && kind < 90)
            return FEW_SIZES[rng() % (sizeof FEW_SIZES / sizeof FEW_SIZES[0])];
        if (profile == 2 && kind < 90)
            return 1 + rng() % (blockSize / 4);
        return 1 + rng() % (kind < 60 ? 40 : kind < 92 ? 600 : blockSize);
    }
    // One allocation, judged against the state of the last check: a failure, or a new segment,
    // is right only when no run of free blocks in the pool could have held the request.
    std::string Alloc(int which, int pool, unsigned size, unsigned seed)
    {
        const StressPool &sp = STRESS_POOLS[which];
        unsigned segPayload = (unsigned(sp.blockSize) + 255) / 256 * 256 - 4;
        unsigned need = size < 12 ? 12 : size, run = 0;
        for (const Reach &sg : reach[pool])
            run = std::max(run, sg.run);
        size_t segments = reach[pool].size();
        unsigned char *p = static_cast<unsigned char *>(PoolAlloc(pool, size));
        std::string what = "size " + std::to_string(size) + ", free run " + std::to_string(run) + ": ";
        if (!p) {
            int e = LastError();
            if (e != POOLERR_FULL || (size <= segPayload && (sp.flags & POOL_GROW)))
                return what + "error " + std::to_string(e);
            if (run >= need)
                return what + "error 12 while a free run would hold it";
            fails++;
            return "";
        }
        if (size_t(Segments(pool)) > segments && run >= need)
            return what + "a new segment while a free run would hold it";
        if (sp.flags & POOL_ZERO) {
            for (unsigned i = 0; i < size; i++)
                if (p[i] != 0)
                    return what + "not zero-filled";
        }
        std::string fit = BestFit(pool, p, size);
        if (!fit.empty())
            return what + fit;
        Live l{pool, size, uint8_t(seed)};
        Fill(p, l);
        if (live.count(p))
            return what + "handed out twice";
        live[p] = l;
        order.push_back(p);
        allocs++;
        return "";
    }
    static void Fill(unsigned char *p, const Live &l)
    {
        for (unsigned i = 0; i < l.size; i++)
            p[i] = uint8_t(l.seed + i * 7);
    }
    static bool Intact(const unsigned char *p, const Live &l)
    {
        for (unsigned i = 0; i < l.size; i++)
            if (p[i] != uint8_t(l.seed + i * 7))
                return false;
        return true;
    }
};

TEST_F(PoolStress, RandomAllocFreeKeepsEveryInvariant)
{
    const unsigned seeds[] = {1, 23, 42, 1234, 99991, 31337};
    constexpr int OPS = 2500;
    constexpr int ALLOC_ONLY_OPS = 600;
    long frees = 0, releases = 0, recreated = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (size_t si = 0; si < sizeof seeds / sizeof seeds[0]; si++) {
        unsigned seed = seeds[si];
        std::mt19937 rng(seed);
        int profile = int(si % 3);
        std::vector<int> ids;
        for (const StressPool &sp : STRESS_POOLS)
            ids.push_back(Create(sp.blockSize, sp.flags));
        for (int id : ids)
            ASSERT_GE(id, 2);
        for (int op = 0; op < OPS; op++) {
            int which = int(rng() % ids.size());
            int pool = ids[which];
            unsigned r = rng() % 100;
            if (r < 55 || live.empty()) {
                std::string bad = Alloc(which, pool, PickSize(rng, profile, which, pool), rng());
                ASSERT_EQ("", bad) << "seed " << seed << " op " << op;
            } else if (r < 97) {
                size_t k = rng() % order.size();
                auto it = live.find(order[k]);
                order.erase(order.begin() + long(k));
                ASSERT_TRUE(Intact(it->first, it->second)) << "payload changed, seed " << seed << " op " << op;
                int before = Segments(it->second.pool);
                ASSERT_EQ(1, PoolFree(it->second.pool, it->first)) << "seed " << seed << " op " << op;
                if (Segments(it->second.pool) < before)
                    releases++;
                live.erase(it);
                frees++;
            } else if (r < 99 || rng() % 5) {
                // A pointer of another pool is refused and changes nothing.
                auto it = live.find(order[rng() % order.size()]);
                int other = ids[(which + 1) % ids.size()] == it->second.pool ? ids[(which + 2) % ids.size()]
                                                                           : ids[(which + 1) % ids.size()];
                ASSERT_EQ(0, PoolFree(other, it->first));
                ASSERT_EQ(POOLERR_BAD_POOL, LastError());
            } else {
                // Destroy one pool with its blocks and make it again.
                for (auto it = live.begin(); it != live.end();)
                    it = it->second.pool == pool ? live.erase(it) : std::next(it);
                order.erase(std::remove_if(order.begin(), order.end(),
                                           [&](unsigned char *b) { return live.count(b) == 0; }),
                            order.end());
                Destroy(pool);
                ids[which] = Create(STRESS_POOLS[which].blockSize, STRESS_POOLS[which].flags);
                ASSERT_GE(ids[which], 2);
                recreated++;
            }
            std::string bad = Check(ids);
            ASSERT_EQ("", bad) << "seed " << seed << " op " << op;
            if (op % 250 == 0) {
                for (auto &l : live)
                    ASSERT_TRUE(Intact(l.first, l.second)) << "payload changed, seed " << seed << " op " << op;
            }
        }
        // Allocations only: once a pass has coalesced a segment, nothing frees into it again,
        // and taking exact index sizes empties its slots while other free blocks remain.
        for (int op = 0; op < ALLOC_ONLY_OPS; op++) {
            int which = int(rng() % ids.size());
            std::string bad = Alloc(which, ids[which], PickSize(rng, op % 2 ? 1 : profile, which, ids[which]), rng());
            ASSERT_EQ("", bad) << "seed " << seed << " allocation only " << op;
            ASSERT_EQ("", Check(ids)) << "seed " << seed << " allocation only " << op;
        }
        // Free everything in random order: every segment goes back.
        std::vector<std::pair<unsigned char *, Live>> rest;
        for (unsigned char *b : order)
            rest.emplace_back(b, live[b]);
        order.clear();
        std::shuffle(rest.begin(), rest.end(), rng);
        for (auto &l : rest) {
            ASSERT_TRUE(Intact(l.first, l.second));
            ASSERT_EQ(1, PoolFree(l.second.pool, l.first));
            live.erase(l.first);
            ASSERT_EQ("", Check(ids)) << "seed " << seed << " final frees";
        }
        for (int id : ids) {
            EXPECT_EQ(0, Segments(id)) << "seed " << seed;
            Destroy(id);
        }
        PoolDebugSegment d;
        ASSERT_EQ(1, PoolDebugSegments(POOL_DESCRIPTORS, &d, 1));
        EXPECT_EQ(1u, d.inUse) << "every descriptor returned, seed " << seed;
    }
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("stress: %zu seeds x %d ops + %d allocations only: %ld allocs, %ld frees, %ld expected failures, "
           "%ld segment releases, %ld pools recreated, %.2f s\n"
           "checks met %ld chain members, %ld unreachable free blocks, %ld indexed heads, "
           "%ld coalesced segments; %ld allocations checked for best fit\n",
           sizeof seeds / sizeof seeds[0], OPS, ALLOC_ONLY_OPS, allocs, frees, fails, releases, recreated, secs,
           stats.members, stats.unreachable, stats.heads, stats.coalesced, stats.bestFit);
    EXPECT_GT(stats.members, 0);
    EXPECT_GT(stats.unreachable, 0) << "the runs should reach a head no slot leads to";
    EXPECT_GT(stats.bestFit, 1000);
    EXPECT_GT(stats.coalesced, 0);
    EXPECT_GT(releases, 0);
}

}  // namespace
