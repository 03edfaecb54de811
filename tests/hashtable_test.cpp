#include "logdb/hashtable.h"

#include "base/pool.h"
#include "support/pool_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Hash : public PoolTest<8192> {
protected:
    static std::vector<std::string> Keys(HashTable *t, int firstMode = HASH_FIRST)
    {
        std::vector<std::string> out;
        char key[64];
        void *value;
        for (int r = HashIterate(t, firstMode, key, sizeof key, &value); r == 1;
             r = HashIterate(t, HASH_NEXT, key, sizeof key, &value))
            out.push_back(key);
        return out;
    }
};

TEST_F(Hash, StringSumsSignedBytesModuloTheBucketCount)
{
    const struct {
        const char *key;
        int buckets;
        unsigned index;
    } cases[] = {
        {"CF", 73, 64},      {"CSF", 73, 1},   {"API", 73, 72},    {"CPG", 73, 72},
        {"\xE9", 73, 32},    {"", 73, 0},      {"\xFF\xFF", 73, 65534 % 73},
        {"CF", 1, 0},        {"A", 65535, 65}, {"\x80", 7, 65408 % 7},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.index, HashString(c.key, c.buckets)) << "key of " << strlen(c.key) << " bytes, N=" << c.buckets;
    EXPECT_EQ(0u, HashString("CF", 0)) << "no buckets: no division by zero";
    std::string longKey(600, 'z');  // 600 * 122 wraps past 16 bits
    EXPECT_EQ((600u * 122u) % 65536u % 73u, HashString(longKey.c_str(), 73));
}

TEST_F(Hash, IteratesBucketByBucketNewestFirst)
{
    HashTable *t = HashCreateInPool(73, pool);
    ASSERT_NE(nullptr, t);
    const char *names[] = {"CF", "CSF", "API", "RPI", "CPG", "CDR", "CRK", "SRK", "URK", "MRK"};
    int values[10];
    for (int i = 0; i < 10; i++)
        ASSERT_EQ(HASH_DONE, HashInsert(t, names[i], &values[i], 0)) << names[i];
    EXPECT_EQ(10u, t->count);
    const std::vector<std::string> expected = {"CSF", "CRK", "MRK", "RPI", "SRK",
                                               "URK", "CF",  "CDR", "CPG", "API"};
    EXPECT_EQ(expected, Keys(t));
    EXPECT_TRUE(Keys(t, HASH_NEXT).empty()) << "mode 2 after the end starts nothing new";
    HashTable *fresh = HashCreateInPool(73, pool);
    for (int i = 0; i < 10; i++)
        HashInsert(fresh, names[i], &values[i], 0);
    EXPECT_EQ(expected, Keys(fresh, HASH_NEXT)) << "mode 2 on a fresh table starts at bucket 0";
    void *v = nullptr;
    char key[8];
    ASSERT_EQ(1, HashIterate(t, HASH_FIRST, key, sizeof key, &v));
    EXPECT_EQ(&values[1], v) << "the value stored with CSF";
}

TEST_F(Hash, IterationEndsForGood)
{
    HashTable *t = HashCreateInPool(5, pool);
    char key[8];
    void *v;
    EXPECT_EQ(0, HashIterate(t, HASH_FIRST, key, sizeof key, &v)) << "empty table";
    EXPECT_EQ(0, HashIterate(t, HASH_NEXT, key, sizeof key, &v));
    HashInsert(t, "a", nullptr, 0);
    EXPECT_EQ(1, HashIterate(t, HASH_FIRST, key, sizeof key, &v));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0, HashIterate(t, HASH_NEXT, key, sizeof key, &v)) << "call " << i;
    EXPECT_EQ(5u, t->currentBucket);
}

TEST_F(Hash, InsertReplacesOnlyWhenAsked)
{
    HashTable *t = HashCreateInPool(73, pool);
    int a, b, c;
    void *v = nullptr;
    const struct {
        int replace;
        void *value;
        int result;
        void *found;
    } steps[] = {
        {0, &a, HASH_DONE, &a},
        {0, &b, HASH_EXISTS, &a},
        {1, &c, HASH_DONE, &c},
    };
    for (const auto &s : steps) {
        EXPECT_EQ(s.result, HashInsert(t, "CF", s.value, s.replace));
        ASSERT_EQ(1, HashFind(t, "CF", &v));
        EXPECT_EQ(s.found, v);
        EXPECT_EQ(1u, t->count);
    }
}

TEST_F(Hash, FindComparesExactBytes)
{
    HashTable *t = HashCreateInPool(73, pool);
    int x;
    HashInsert(t, "CF", &x, 0);
    HashInsert(t, "\xE9t\xE9", &x, 0);
    void *v = nullptr;
    EXPECT_EQ(1, HashFind(t, "CF", &v));
    EXPECT_EQ(0, HashFind(t, "cf", &v)) << "case-sensitive";
    EXPECT_EQ(0, HashFind(t, "CF ", &v));
    EXPECT_EQ(0, HashFind(t, "C", &v));
    EXPECT_EQ(1, HashFind(t, "\xE9t\xE9", &v));
    EXPECT_EQ(0, HashFind(t, "\xC9T\xC9", &v));
    EXPECT_EQ(0, HashFind(t, nullptr, &v));
}

TEST_F(Hash, NoTableNoPoolNoBuckets)
{
    void *v = nullptr;
    char key[4];
    EXPECT_EQ(nullptr, HashCreateInPool(73, -1));
    EXPECT_EQ(nullptr, HashCreateInPool(0, pool));
    EXPECT_EQ(nullptr, HashCreateInPool(65536, pool));
    EXPECT_EQ(HASH_NO_TABLE, HashInsert(nullptr, "CF", nullptr, 1));
    EXPECT_EQ(0, HashFind(nullptr, "CF", &v));
    EXPECT_EQ(0, HashIterate(nullptr, HASH_FIRST, key, sizeof key, &v));
    int pool = PoolCreate(256, POOL_DEFAULT | POOL_GROW | POOL_ZERO);
    EXPECT_EQ(nullptr, HashCreateInPool(70000 / 8, pool))
        << "a table larger than its pool's block size";
}

TEST_F(Hash, KeyLongerThanTheCallersBufferIsNotCopied)
{
    HashTable *t = HashCreateInPool(3, pool);
    int x;
    HashInsert(t, "ABCDEFGH", &x, 0);  // bucket 0
    HashInsert(t, "B", &x, 0);         // bucket 66 % 3 = 0, delivered first
    char key[4] = "zzz";
    void *v = nullptr;
    ASSERT_EQ(1, HashIterate(t, HASH_FIRST, key, sizeof key, &v));
    EXPECT_STREQ("B", key);
    EXPECT_EQ(HASH_KEY_TOO_LONG, HashIterate(t, HASH_NEXT, key, sizeof key, &v));
    EXPECT_STREQ("", key);
    EXPECT_EQ(&x, v);
    EXPECT_EQ(0, HashIterate(t, HASH_NEXT, key, sizeof key, &v)) << "the long key counted as delivered";
}

TEST_F(Hash, RunningOutOfMemoryLeavesTheTableAsItWas)
{
    int tiny = PoolCreate(256, POOL_ZERO);  // one segment, never grows
    HashTable *t = HashCreateInPool(3, tiny);
    ASSERT_NE(nullptr, t);
    int inserted = 0, r;
    char name[16];
    while ((r = HashInsert(t, (std::string("key") + std::to_string(inserted)).c_str(), nullptr, 0)) == HASH_DONE)
        inserted++;
    EXPECT_EQ(HASH_NO_MEMORY, r);
    EXPECT_GT(inserted, 3);
    EXPECT_EQ(unsigned(inserted), t->count);
    int seen = 0;
    void *v;
    for (int m = HASH_FIRST; HashIterate(t, m, name, sizeof name, &v) == 1; m = HASH_NEXT)
        seen++;
    EXPECT_EQ(inserted, seen);
    PoolDestroy(tiny);
}

}  // namespace
