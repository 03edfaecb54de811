#include "base/strlist.h"

#include "base/pool.h"
#include "support/pool_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class List : public PoolTest<4096> {
protected:
    static std::vector<std::string> Walk(StringList *l)
    {
        std::vector<std::string> out;
        for (void *d = ListFirst(l); d; d = ListNext(l))
            out.push_back(static_cast<const char *>(d));
        return out;
    }
    static std::string CursorText(StringList *l)
    {
        ListElement *e = ListGetCursor(l);
        return e ? static_cast<const char *>(e->data) : "(none)";
    }
    // Links agree in both directions and with the count.
    static void ExpectLinked(StringList *l)
    {
        int n = 0;
        ListElement *prev = nullptr;
        for (ListElement *e = l->first; e; prev = e, e = e->next, n++)
            ASSERT_EQ(prev, e->prev);
        EXPECT_EQ(prev, l->last);
        EXPECT_EQ(n, l->count);
        EXPECT_EQ(n == 0, l->cursor == nullptr) << "cursor null exactly while empty";
    }
    static int Segments(int p) { return PoolDebugSegments(p, nullptr, 0); }
};

TEST_F(List, CursorEditsFollowTheCursor)
{
    // Each step: operation, argument, expected walk afterwards, expected cursor.
    struct Step {
        const char *op;
        const char *arg;
        std::vector<std::string> walk;
        const char *cursor;
    };
    const Step steps[] = {
        {"add", "a", {"a"}, "a"},
        {"add", "b", {"a", "b"}, "b"},
        {"first", nullptr, {"a", "b"}, "a"},
        {"add", "a2", {"a", "a2", "b"}, "a2"},           // behind the cursor, not at the end
        {"next-to-end", nullptr, {"a", "a2", "b"}, "b"},  // ListNext at the end keeps the last
        {"add", "c", {"a", "a2", "b", "c"}, "c"},         // so adding appends
        {"first", nullptr, {"a", "a2", "b", "c"}, "a"},
        {"remove", nullptr, {"a2", "b", "c"}, "a2"},      // first: cursor to the next
        {"last", nullptr, {"a2", "b", "c"}, "c"},
        {"remove", nullptr, {"a2", "b"}, "b"},            // last: cursor to the new last
        {"remove", nullptr, {"a2"}, "a2"},
        {"remove", nullptr, {}, "(none)"},
        {"remove", nullptr, {}, "(none)"},                // nothing on an empty list
        {"add", "z", {"z"}, "z"},
    };
    StringList *l = ListCreateInPool(0, pool);
    ASSERT_NE(nullptr, l);
    for (const Step &s : steps) {
        std::string what = std::string(s.op) + (s.arg ? std::string(" ") + s.arg : "");
        if (!strcmp(s.op, "add"))
            ASSERT_EQ(1, ListAdd(l, s.arg)) << what;
        else if (!strcmp(s.op, "first"))
            ListFirst(l);
        else if (!strcmp(s.op, "last"))
            ListLast(l);
        else if (!strcmp(s.op, "remove"))
            ListRemoveCurrent(l);
        else if (!strcmp(s.op, "next-to-end"))
            while (ListNext(l)) {
            }
        std::string cursor = CursorText(l);
        // Walk last: it moves the cursor.
        EXPECT_EQ(s.cursor, cursor) << what;
        ExpectLinked(l);
        EXPECT_EQ(int(s.walk.size()), ListCount(l)) << what;
        ListElement *keep = ListGetCursor(l);
        EXPECT_EQ(s.walk, Walk(l)) << what;
        ListSetCursor(l, keep);
    }
    ListDestroy(l);
}

TEST_F(List, EmptyAndNullListsDoNothing)
{
    StringList *l = ListCreateInPool(0, pool);
    EXPECT_EQ(nullptr, ListFirst(l));
    EXPECT_EQ(nullptr, ListGetCursor(l));
    EXPECT_EQ(nullptr, ListNext(l));
    EXPECT_EQ(nullptr, ListLast(l));
    EXPECT_EQ(0, ListAdd(l, nullptr)) << "no data, nothing added";
    EXPECT_EQ(0, ListCount(l));
    ListDestroy(l);

    EXPECT_EQ(nullptr, ListFirst(nullptr));
    EXPECT_EQ(nullptr, ListNext(nullptr));
    EXPECT_EQ(nullptr, ListLast(nullptr));
    EXPECT_EQ(0, ListAdd(nullptr, "x"));
    EXPECT_EQ(0, ListCount(nullptr));
    EXPECT_EQ(nullptr, ListGetCursor(nullptr));
    EXPECT_EQ(nullptr, ListSetCursor(nullptr, nullptr));
    ListRemoveCurrent(nullptr);
    ListDestroy(nullptr);
}

TEST_F(List, SetCursorToAMiddleElementInsertsBehindIt)
{
    StringList *l = ListCreateInPool(0, pool);
    ListAdd(l, "one");
    ListElement *one = ListGetCursor(l);
    ListAdd(l, "three");
    EXPECT_EQ(one, ListSetCursor(l, one));
    ListAdd(l, "two");
    EXPECT_EQ((std::vector<std::string>{"one", "two", "three"}), Walk(l));
    EXPECT_EQ(nullptr, ListSetCursor(l, nullptr)) << "a non-empty list keeps a cursor";
    EXPECT_NE(nullptr, ListGetCursor(l));
    ListDestroy(l);
}

TEST_F(List, RecordListsCopyExactlyTheElementSize)
{
    StringList *l = ListCreateInPool(12, pool);
    const unsigned char rec[16] = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 7, 0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(1, ListAdd(l, rec));
    const unsigned char *copy = static_cast<const unsigned char *>(ListFirst(l));
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0, memcmp(copy, rec, 12)) << "embedded zeros copied too";
    EXPECT_EQ(0, copy[12]) << "the spare byte stays zero, nothing past the record";
    ListDestroy(l);
}

TEST_F(List, StringCopiesAreOwned)
{
    StringList *l = ListCreateInPool(0, pool);
    char text[] = "C:\\Programas\\Curso\\léame.txt";
    ListAdd(l, text);
    text[0] = 'X';
    EXPECT_STREQ("C:\\Programas\\Curso\\léame.txt", static_cast<char *>(ListFirst(l)));
    ListDestroy(l);
}

TEST_F(List, DestroyGivesEveryBlockBack)
{
    int own = PoolCreate(1000, POOL_DEFAULT | POOL_GROW | POOL_ZERO);
    ASSERT_GE(own, 2);
    StringList *l = ListCreateInPool(0, own);
    for (int i = 0; i < 200; i++)
        ASSERT_EQ(1, ListAdd(l, std::string(i % 37 + 1, char('a' + i % 26)).c_str()));
    EXPECT_GT(Segments(own), 1);
    ListFirst(l);
    for (int i = 0; i < 50; i++)
        ListRemoveCurrent(l);
    ListDestroy(l);
    EXPECT_EQ(0, Segments(own)) << "no block left behind";
    EXPECT_EQ(1, PoolDestroy(own));
}

TEST_F(List, RemovingKeepsTheCallersReportingChoice)
{
    StringList *l = ListCreateInPool(0, pool);
    ListAdd(l, "a");
    ListAdd(l, "b");
    l->cursor->data = nullptr;  // a copy the pool does not know: passed over silently
    PoolSetOption(POOLOPT_REPORT, 0);
    ListRemoveCurrent(l);
    EXPECT_EQ(0, PoolGetOption(POOLOPT_REPORT)) << "reporting stays off after the removal";
    EXPECT_EQ(1, ListCount(l));
    ListDestroy(l);
}

TEST_F(List, StringLongerThanTheBlockSizeIsRefused)
{
    int small = PoolCreate(256, POOL_DEFAULT | POOL_GROW | POOL_ZERO);
    StringList *l = ListCreateInPool(0, small);
    ASSERT_NE(nullptr, l);
    EXPECT_EQ(0, ListAdd(l, std::string(300, 'x').c_str()));
    PoolStatus s;
    ASSERT_EQ(1, PoolGetStatus(&s));
    EXPECT_EQ(POOLERR_BAD_SIZE, s.error);
    EXPECT_EQ(0, ListCount(l));
    EXPECT_EQ(nullptr, ListGetCursor(l));
    EXPECT_EQ(1, PoolDestroy(small));
}

TEST_F(List, SharedPoolIsMadeOnceAndKept)
{
    StringList *a = ListCreate(0);
    StringList *b = ListCreate(8);
    ASSERT_TRUE(a && b);
    int shared = a->pool;
    EXPECT_EQ(shared, b->pool);
    int block, flags, gflags;
    ASSERT_EQ(1, PoolDebugEntry(shared, &block, &flags, &gflags));
    EXPECT_EQ(65000, block);
    EXPECT_EQ(POOL_DEFAULT | POOL_GROW | POOL_ZERO, flags);
    ListDestroy(a);
    ListDestroy(b);
    StringList *c = ListCreate(0);
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(shared, c->pool) << "the pool outlives its lists";
    ListDestroy(c);
}

TEST_F(List, AddFailsWhenThePoolIsFull)
{
    int tiny = PoolCreate(256, POOL_DEFAULT | POOL_ZERO);  // one segment only
    StringList *l = ListCreateInPool(0, tiny);
    ASSERT_NE(nullptr, l);
    int added = 0;
    while (ListAdd(l, "0123456789012345678901234567890123456789"))
        added++;
    EXPECT_GT(added, 0);
    EXPECT_EQ(added, ListCount(l));
    ExpectLinked(l);
    EXPECT_EQ(1, PoolDestroy(tiny));
}

}  // namespace
