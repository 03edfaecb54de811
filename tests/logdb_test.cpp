#include "logdb/logdb.h"

#include "base/pool.h"
#include "base/strlist.h"
#include "support/logfile.h"
#include "support/string_list.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using testfs::ReadBytes;
using testfs::TempDir;
using testfs::WriteBytes;

namespace {

using rawlog::Rec;
using rawlog::Text;

using testlist::Strings;

int Add(LogDatabase *db, const Rec &r)
{
    StringList *l = r.list.empty() ? nullptr : testlist::Make(r.list);
    int result = LogAddRecord(db, r.kind.c_str(), r.flags, r.text.c_str(), r.value, l);
    ListDestroy(l);
    return result;
}

// Writes and commits a log of these records, with items 1, 2 and 8 set; fresh name ids.
void WriteLog(const std::string &path, const std::vector<Rec> &recs)
{
    LogResetNameIds();
    LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
    ASSERT_NE(nullptr, db) << "error " << LogLastError();
    LogSetItem(db, ITEM_PRODUCT_KEY, "Product", 0);
    LogSetItem(db, ITEM_VERSION_KEY, "1.0", 0);
    LogSetItem(db, ITEM_APP_PATH, "app.exe", 0);
    for (const Rec &r : recs)
        ASSERT_EQ(0, Add(db, r)) << r.kind << " " << r.text;
    ASSERT_EQ(0, LogCommit(db));
    LogClose(db);
}

struct Got {
    int result;
    uint32_t flags;
    std::string text;
    uint32_t value;
    std::vector<std::string> list;
    uint32_t offset;
};

Got ReadOne(LogDatabase *db, int mode)
{
    char name[LOG_NAME_SIZE] = "unchanged";
    char text[LOG_BODY_MAX + 1] = "untouched";
    Got g = {};
    g.value = 0xABCDEF;
    StringList *l = ListCreate(0);
    g.result = LogReadRecord(db, name, sizeof name, &g.flags, text, sizeof text, &g.value, l, mode);
    if (g.result == 0) {
        EXPECT_STREQ("", name) << "records from the file carry no name";
    }
    g.text = text;
    g.list = Strings(l);
    ListDestroy(l);
    g.offset = LogRecordOffset(db);
    return g;
}

// Texts of every record of name ("" = all names), in delivery order.
std::vector<std::string> ReadTexts(LogDatabase *db, const char *name)
{
    std::vector<std::string> out;
    EXPECT_EQ(0, LogSelectName(db, name));
    for (Got g = ReadOne(db, LOG_FIRST); g.result == 0; g = ReadOne(db, LOG_NEXT)) {
        out.push_back(g.text);
        if (out.size() > 10000)
            break;
    }
    return out;
}

int UserPoolsInUse()
{
    int n = 0;
    for (int p = POOL_FIRST_USER; p < POOL_COUNT; p++) {
        int size, flags, global;
        n += PoolDebugEntry(p, &size, &flags, &global);
    }
    return n;
}

class Log : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "install.log";
};

TEST_F(Log, ChainExampleLinksRecordsOfOneNameInOrder)
{
    WriteLog(path, {Text("CF", "a"), Text("CF", "b"), Text("CF", "c"), Text("CDR", "d"),
                    Text("CF", "e")});
    std::string b = ReadBytes(path);
    using namespace rawlog;
    Header h = ParseHeader(b, 53);
    EXPECT_EQ(5u, h.count);
    std::vector<uint32_t> at;   // the five record offsets, each record is 8 + 3 bytes
    for (uint32_t i = 0; i < 5; i++)
        at.push_back(1111 + i * 13);
    std::vector<uint32_t> links;
    for (uint32_t off : at)
        links.push_back(U32(Body(b, off), 0));
    EXPECT_EQ((std::vector<uint32_t>{at[1], at[2], at[4], 0, 0}), links);

    std::vector<Entry> names = ParseNames(b, 85);
    ASSERT_EQ(2u, names.size());
    for (const Entry &e : names) {
        bool cf = e.name == "CF";
        EXPECT_EQ(cf ? 4u : 1u, e.count) << e.name;
        EXPECT_EQ(cf ? at[0] : at[3], e.first) << e.name;
        EXPECT_EQ(U16(Body(b, e.first), 4), e.id) << "record and entry carry the same id";
    }

    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "e"}), ReadTexts(db, "CF"));
    EXPECT_EQ((std::vector<std::string>{"d"}), ReadTexts(db, "CDR"));
    EXPECT_EQ(5, LogGetItem(db, ITEM_RECORD_COUNT, nullptr, 0));
    LogClose(db);
}

TEST_F(Log, WriterLaysOutTheFixedParts)
{
    WriteLog(path, {Text("CF", "C:\\p\\a.txt")});
    std::string b = ReadBytes(path);
    using namespace rawlog;
    EXPECT_EQ(std::string("\x71\xA8\x00\x00\x01\x02", 6), b.substr(0, 6));
    EXPECT_EQ(Checksum(b), U32(b, 6));
    EXPECT_EQ(41u, U16(b, 10));
    EXPECT_EQ(30u, U16(b, 53)) << "header record right behind the banner";
    Header h = ParseHeader(b, 53);
    EXPECT_EQ(0x02010000u, h.version);
    EXPECT_EQ(85u, h.names);
    EXPECT_EQ(b.size(), h.strings + 2 + U16(b, h.strings)) << "strings record ends the file";
    EXPECT_EQ(1111u + 2 + 8 + 2 + 10, h.strings);
    EXPECT_EQ(0u, U32(Body(b, 53), 26)) << "reserved header field";
    std::string s = Body(b, h.strings);
    EXPECT_EQ(Str("Product") + Str("1.0") + Str("") + Str("") + Str("") + Str("app.exe") + Str(""),
              s);
    std::vector<Entry> names = ParseNames(b, 85);
    ASSERT_EQ(1u, names.size());
    EXPECT_EQ(1111u, names[0].first) << "both offsets of a lone record's entry are its own";
    EXPECT_EQ(0u, U32(Body(b, 1111), 0)) << "a lone record ends its chain";
    EXPECT_LE(85u + 2 + U16(b, 85), 1111u) << "name table inside the reserved area";
}

TEST_F(Log, EmptyLogHasNoRecords)
{
    WriteLog(path, {});
    std::string b = ReadBytes(path);
    EXPECT_EQ(1111u, rawlog::ParseHeader(b, 53).strings);
    EXPECT_EQ(0u, rawlog::U16(rawlog::Body(b, 85), 0));
    LogDatabase *db = LogOpen(path.c_str(), LOG_DEFAULT | LOG_READ);
    ASSERT_NE(nullptr, db);
    EXPECT_EQ(LOG_END, ReadOne(db, LOG_FIRST).result) << "nothing selected: all names";
    EXPECT_EQ(0, LogSelectName(db, "CF"));
    EXPECT_EQ(LOG_END, ReadOne(db, LOG_FIRST).result);
    EXPECT_EQ(0, LogGetItem(db, ITEM_RECORD_COUNT, nullptr, 0));
    LogClose(db);
}

TEST_F(Log, RecordPartsFollowTheirFlags)
{
    WriteLog(path, {
                       {"V", REC_VALUE, "ignored", 0xFFFFFFFEu, {"ignored"}},
                       {"T", REC_TEXT | REC_VALUE | REC_LIST, "t\xE9xt", 7, {"x", "", "z"}},
                       {"L", REC_LIST, "", 0, {}},
                       {"E", REC_TEXT | 0x8 | 0x8000, "", 0, {}},
                       {"N", 0, "", 0, {}},
                   });
    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    struct Case {
        const char *name;
        uint32_t flags;
        std::string text;
        uint32_t value;
        std::vector<std::string> list;
    } cases[] = {
        {"V", REC_VALUE, "untouched", 0xFFFFFFFEu, {}},
        {"T", REC_TEXT | REC_VALUE | REC_LIST, "t\xE9xt", 7, {"x", "", "z"}},
        {"L", REC_LIST, "untouched", 0xABCDEF, {}},
        {"E", REC_TEXT | 0x8 | 0x8000, "", 0xABCDEF, {}},
        {"N", 0, "untouched", 0xABCDEF, {}},
    };
    for (const Case &c : cases) {
        LogSelectName(db, c.name);
        Got g = ReadOne(db, LOG_FIRST);
        ASSERT_EQ(0, g.result) << c.name;
        EXPECT_EQ(c.flags, g.flags) << c.name;
        EXPECT_EQ(c.text, g.text) << c.name;
        EXPECT_EQ(c.value, g.value) << c.name;
        EXPECT_EQ(c.list, g.list) << c.name;
    }
    // A list record read without a list, and a text record read without a text buffer.
    uint32_t flags = 0, value = 0;
    LogSelectName(db, "T");
    EXPECT_EQ(0, LogReadRecord(db, nullptr, 0, &flags, nullptr, 0, &value, nullptr, LOG_FIRST));
    EXPECT_EQ(7u, value);
    LogClose(db);
}

TEST_F(Log, NextFollowsTheStartRules)
{
    WriteLog(path, {Text("CF", "1"), Text("CF", "2"), Text("CDR", "d")});
    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    EXPECT_EQ(0, ReadOne(db, LOG_NEXT).result) << "LOG_NEXT before any selection starts reading";
    LogSelectName(db, "CF");
    EXPECT_EQ(LOGERR_NOT_STARTED, ReadOne(db, LOG_NEXT).result);
    EXPECT_EQ(LOGERR_NOT_STARTED, LogLastError());
    EXPECT_EQ("1", ReadOne(db, LOG_FIRST).text);
    EXPECT_EQ("2", ReadOne(db, 7).text) << "any other mode acts as LOG_NEXT";
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(LOG_END, ReadOne(db, LOG_NEXT).result) << "LOG_END again and again";
    EXPECT_EQ("1", ReadOne(db, LOG_FIRST).text) << "LOG_FIRST starts over";

    LogSelectName(db, "XX");
    EXPECT_EQ(LOG_END, ReadOne(db, LOG_FIRST).result) << "a name without records";
    EXPECT_EQ(LOGERR_INVALID, ReadOne(db, LOG_NEXT).result) << "the selected name is not there";
    LogClose(db);
}

TEST_F(Log, AllNamesDeliversEveryRecordOnceGroupedInHashOrder)
{
    const char *kinds[] = {"CF", "CSF", "API", "RPI", "CPG", "CDR", "CRK", "SRK", "URK", "MRK"};
    std::vector<Rec> recs;
    for (int round = 0; round < 3; round++)
        for (const char *k : kinds)
            recs.push_back(Text(k, std::string(k) + std::to_string(round)));
    WriteLog(path, recs);

    std::vector<std::string> stored;
    for (const rawlog::Entry &e : rawlog::ParseNames(ReadBytes(path), 85))
        stored.push_back(e.name);
    EXPECT_EQ((std::vector<std::string>{"CSF", "CRK", "MRK", "RPI", "SRK", "URK", "CF", "CDR",
                                        "CPG", "API"}),
              stored)
        << "name table in bucket order, newest first within a bucket";

    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    std::vector<std::string> all = ReadTexts(db, "");
    ASSERT_EQ(30u, all.size());
    std::vector<std::string> groups;
    for (size_t i = 0; i < all.size(); i += 3) {
        std::string kind = all[i].substr(0, all[i].size() - 1);
        groups.push_back(kind);
        for (int round = 0; round < 3; round++)
            EXPECT_EQ(kind + std::to_string(round), all[i + size_t(round)]) << "chain order";
    }
    std::vector<std::string> byBucket(groups.begin(), groups.begin() + 8);
    EXPECT_EQ((std::vector<std::string>{"CSF", "CRK", "MRK", "RPI", "SRK", "URK", "CF", "CDR"}),
              byBucket);
    EXPECT_EQ(10u, std::set<std::string>(groups.begin(), groups.end()).size());
    LogClose(db);
}

// The tests' own writer and the product's lay a log out byte for byte alike (the banner and the
// unused reserved bytes aside), so that worlds built with the one read as the other's would.
TEST_F(Log, WriterMatchesTheIndependentLayout)
{
    std::vector<Rec> recs;
    for (const char *k : {"CF", "CSF", "API", "CPG", "CF", "CDR", "API", "URK", "CF"})
        recs.push_back(Text(k, std::string(k) + "-" + std::to_string(recs.size())));
    recs.push_back({"CSF", REC_LIST, "", 0, {"a.dll", "", "b.dll"}});
    recs.push_back({"X", REC_TEXT | REC_VALUE | REC_LIST | 0x8000, "t", 0xFFFFFFFEu, {"x"}});
    recs.push_back(rawlog::Bare("MRK"));
    WriteLog(path, recs);
    std::string b = ReadBytes(path);

    rawlog::Writer w;
    ASSERT_TRUE(rawlog::LayOut(
        {{ITEM_PRODUCT_KEY, "Product"}, {ITEM_VERSION_KEY, "1.0"}, {ITEM_APP_PATH, "app.exe"}},
        recs, &w));
    w.banner = b.substr(12, rawlog::U16(b, 10));
    std::string expected = w.Build();
    size_t tableEnd = 85 + 2 + rawlog::U16(b, 85);
    EXPECT_EQ(expected.substr(0, 6), b.substr(0, 6)) << "magic and version";
    EXPECT_EQ(expected.substr(53, tableEnd - 53), b.substr(53, tableEnd - 53))
        << "header block and name table";
    EXPECT_EQ(expected.substr(1111), b.substr(1111)) << "records and strings";
}

TEST_F(Log, ItemsRoundTripAndAbsentItemsReadEmpty)
{
    LogResetNameIds();
    LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
    ASSERT_NE(nullptr, db);
    LogSetItem(db, ITEM_PRODUCT_KEY, "Prod", 0);
    LogSetItem(db, ITEM_TEXT3, nullptr, 0);
    LogSetItem(db, ITEM_TEXT4, "four", 0);
    LogSetItem(db, ITEM_WORD5, nullptr, 0x12345);
    LogSetItem(db, ITEM_NUMBER6, nullptr, 0xFFFFFFFF);
    LogSetItem(db, ITEM_NUMBER7, nullptr, 77);
    LogSetItem(db, ITEM_RECORD_COUNT, nullptr, 99);
    LogSetItem(db, ITEM_COMPANY_KEY, "Comp", 0);
    LogSetItem(db, 12, "nothing", 5);
    char buf[32];
    EXPECT_EQ(4, LogGetItem(db, ITEM_TEXT4, buf, sizeof buf)) << "items are readable in create mode";
    Add(db, Text("CF", "x"));
    ASSERT_EQ(0, LogCommit(db));
    EXPECT_EQ(LOGERR_COMMITTED, LogCommit(db));
    EXPECT_EQ(LOGERR_COMMITTED, Add(db, Text("CF", "y")));
    LogClose(db);

    db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    struct Case {
        int item;
        int32_t result;
        const char *text;
    } cases[] = {
        {ITEM_PRODUCT_KEY, 4, "Prod"}, {ITEM_VERSION_KEY, 0, ""},   {ITEM_TEXT3, 0, ""},
        {ITEM_TEXT4, 4, "four"},       {ITEM_WORD5, 0x2345, "-"},   {ITEM_NUMBER6, -1, "-"},
        {ITEM_NUMBER7, 77, "-"},       {ITEM_APP_PATH, 0, ""},      {ITEM_COMPANY_KEY, 4, "Comp"},
        {ITEM_RECORD_COUNT, 1, "-"},   {ITEM_UNINSTALL_KEY, 0, ""}, {12, 0, "-"},
        {0, 0, "-"},
    };
    for (const Case &c : cases) {
        strcpy(buf, "-");
        EXPECT_EQ(c.result, LogGetItem(db, c.item, buf, sizeof buf)) << "item " << c.item;
        EXPECT_STREQ(c.text, buf) << "item " << c.item;
    }
    EXPECT_EQ(0, LogGetItem(db, ITEM_PRODUCT_KEY, nullptr, 0)) << "no buffer";
    EXPECT_EQ(LOGERR_TOO_LONG, LogGetItem(db, ITEM_PRODUCT_KEY, buf, 4)) << "never cut";
    EXPECT_STREQ("", buf);
    EXPECT_EQ(4, LogGetItem(db, ITEM_PRODUCT_KEY, buf, 5));
    EXPECT_EQ(0, LogSetItem(db, ITEM_PRODUCT_KEY, "Changed", 0)) << "memory only";
    EXPECT_EQ(7, LogGetItem(db, ITEM_PRODUCT_KEY, buf, sizeof buf));
    LogClose(db);
    db = LogOpen(path.c_str(), LOG_READ);
    EXPECT_EQ(4, LogGetItem(db, ITEM_PRODUCT_KEY, buf, sizeof buf));
    LogClose(db);
}

TEST_F(Log, OperationsRefusedByModeOrArguments)
{
    WriteLog(path, {Text("CF", "a")});
    LogDatabase *rd = LogOpen(path.c_str(), LOG_READ | LOG_CREATE);
    ASSERT_NE(nullptr, rd) << "LOG_READ wins";
    EXPECT_EQ(LOGERR_READ_ONLY, Add(rd, Text("CF", "b")));
    EXPECT_EQ(LOGERR_READ_ONLY, LogCommit(rd));
    EXPECT_EQ(LOGERR_READ_ONLY, LogSetBanner(rd, std::string(41, 'x').c_str()));
    EXPECT_EQ(LOGERR_INVALID, LogSelectName(rd, nullptr));
    EXPECT_EQ(LOGERR_TOO_LONG, LogSelectName(rd, std::string(255, 'n').c_str()));
    LogClose(rd);
    rd = LogOpen(path.c_str(), LOG_READ);
    EXPECT_EQ((std::vector<std::string>{"a"}), ReadTexts(rd, "CF")) << "the log is unchanged";
    LogClose(rd);

    std::string other = dir / "new.log";
    LogDatabase *wr = LogOpen(other.c_str(), LOG_CREATE);
    ASSERT_NE(nullptr, wr);
    EXPECT_EQ(LOGERR_NOT_READING, LogSelectName(wr, "CF"));
    EXPECT_EQ(LOGERR_NOT_READING, ReadOne(wr, LOG_FIRST).result);
    EXPECT_EQ(LOGERR_INVALID, LogAddRecord(wr, nullptr, REC_TEXT, "x", 0, nullptr));
    EXPECT_EQ(LOGERR_INVALID, LogAddRecord(wr, "", REC_TEXT, "x", 0, nullptr));
    EXPECT_EQ(LOGERR_TOO_LONG, LogAddRecord(wr, std::string(255, 'n').c_str(), 0, "", 0, nullptr));
    EXPECT_EQ(0, LogAddRecord(wr, std::string(254, 'n').c_str(), 0, "", 0, nullptr));
    EXPECT_EQ(LOGERR_INVALID, LogSetBanner(wr, "short"));
    LogClose(wr);

    EXPECT_EQ(LOGERR_INVALID, LogClose(nullptr));
    EXPECT_EQ(LOGERR_INVALID, LogSelectName(nullptr, "CF"));
    EXPECT_EQ(LOGERR_INVALID, ReadOne(nullptr, LOG_FIRST).result);
    EXPECT_EQ(LOGERR_INVALID, LogAddRecord(nullptr, "CF", 0, "", 0, nullptr));
    EXPECT_EQ(LOGERR_INVALID, LogCommit(nullptr));
    EXPECT_EQ(0, LogSetItem(nullptr, ITEM_PRODUCT_KEY, "x", 0));
    EXPECT_EQ(LOGERR_INVALID, LogLastError());
    char buf[8];
    EXPECT_EQ(0, LogGetItem(nullptr, ITEM_WORD5, buf, sizeof buf));
    EXPECT_EQ(LOGERR_INVALID, LogLastError());
}

TEST_F(Log, OpenFailuresSayWhyAndLeaveNothingBehind)
{
    WriteLog(path, {Text("CF", "a")});
    std::string notLog = dir / "text.txt", bad = dir / "bad.log", subdir = dir / "sub";
    ASSERT_TRUE(WriteBytes(notLog, "just some text"));
    std::string b = ReadBytes(path);
    b[2000 < b.size() ? 2000 : b.size() - 1] ^= 1;
    ASSERT_TRUE(WriteBytes(bad, b));
    CreateDirectoryA(subdir.c_str(), nullptr);
    int pools = UserPoolsInUse();

    struct Case {
        std::string path;
        uint32_t flags;
        int error;
    } cases[] = {
        {dir / "missing.log", LOG_READ, LOGERR_NO_FILE},
        {dir / "missing.log", LOG_READ | LOG_CREATE, LOGERR_NO_FILE},
        {notLog, LOG_READ, LOGERR_BAD_MAGIC},
        {bad, LOG_DEFAULT | LOG_READ, LOGERR_CHECKSUM},
        {subdir, LOG_READ, LOGERR_OPEN},
        {dir / "nodir\\new.log", LOG_CREATE, LOGERR_CREATE},
        {std::string(300, 'x'), LOG_READ, LOGERR_INVALID},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(nullptr, LogOpen(c.path.c_str(), c.flags)) << c.path;
        EXPECT_EQ(c.error, LogLastError()) << c.path;
    }
    EXPECT_EQ(pools, UserPoolsInUse()) << "a failed open released its pool";
    EXPECT_TRUE(DeleteFileA(bad.c_str())) << "a failed open closed the file";

    EXPECT_EQ(nullptr, LogOpen(path.c_str(), LOG_DEFAULT)) << "neither mode";
    EXPECT_EQ(LOGERR_INVALID, LogLastError()) << "last error left as it was";
    EXPECT_EQ(nullptr, LogOpen(nullptr, LOG_READ));
}

TEST_F(Log, VersionAtOffsetTwoIsAnUpperBound)
{
    WriteLog(path, {Text("CF", "a")});
    std::string b = ReadBytes(path);
    struct Case {
        uint32_t version;
        int error;
    } cases[] = {{0x02010000, 0}, {0x02000000, 0}, {0, 0},
                 {0x02010001, LOGERR_VERSION}, {0xFFFFFFFF, LOGERR_VERSION}};
    for (const Case &c : cases) {
        rawlog::Put32(b, 2, c.version);
        ASSERT_TRUE(WriteBytes(path, b));
        LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
        EXPECT_EQ(c.error, LogLastError()) << std::hex << c.version;
        EXPECT_EQ(c.error == 0, db != nullptr);
        LogClose(db);
    }
}

TEST_F(Log, ChecksumAddsSignedBytes)
{
    // The banner is plain, so its bytes show in the sum as they are: 41 * 0x7F is +5207,
    // 41 * 0xFF is -41; the rest of both logs is the same.
    uint32_t sums[2];
    const char fill[2] = {'\x7F', '\xFF'};
    for (int i = 0; i < 2; i++) {
        LogResetNameIds();
        LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
        ASSERT_NE(nullptr, db);
        ASSERT_EQ(0, LogSetBanner(db, std::string(41, fill[i]).c_str()));
        Add(db, Text("CF", "x"));
        LogCommit(db);
        LogClose(db);
        std::string b = ReadBytes(path);
        sums[i] = rawlog::U32(b, 6);
        EXPECT_EQ(rawlog::Checksum(b), sums[i]);
        db = LogOpen(path.c_str(), LOG_READ);
        ASSERT_NE(nullptr, db);
        char banner[64];
        EXPECT_EQ(41, LogGetBanner(db, banner, sizeof banner));
        EXPECT_EQ(std::string(41, fill[i]), banner);
        EXPECT_EQ(LOGERR_TOO_LONG, LogGetBanner(db, banner, 41));
        LogClose(db);
    }
    EXPECT_EQ(41u * 128u, sums[0] - sums[1]);

    // A sum below zero wraps: a hand-made log whose bytes behind offset 10 are mostly 0xFF.
    rawlog::Writer w;
    w.banner = std::string(3000, '\xFF');
    std::string b = w.Build();
    ASSERT_GT(rawlog::U32(b, 6), 0x80000000u) << "the sum is negative";
    ASSERT_TRUE(WriteBytes(path, b));
    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    EXPECT_NE(nullptr, db) << "a banner of another length is skipped; error " << LogLastError();
    LogClose(db);
}

TEST_F(Log, EveryChangedByteIsNoticed)
{
    WriteLog(path, {Text("CF", "C:\\p\\a.txt"), {"CSF", REC_LIST, "", 0, {"x.dll", "y.dll"}},
                    {"X", REC_VALUE, "", 7, {}}});
    const std::string good = ReadBytes(path);
    std::string damaged = dir / "damaged.log";
    for (size_t i = 0; i < good.size(); i++) {
        std::string b = good;
        b[i] = char(b[i] ^ 0x5A);
        ASSERT_TRUE(WriteBytes(damaged, b));
        LogDatabase *db = LogOpen(damaged.c_str(), LOG_READ);
        int e = LogLastError();
        LogClose(db);
        if (i < 2)
            EXPECT_EQ(LOGERR_BAD_MAGIC, e) << "byte " << i;
        else if (i < 6)
            EXPECT_TRUE(e == 0 || e == LOGERR_VERSION) << "byte " << i << ": " << e;
        else
            EXPECT_EQ(LOGERR_CHECKSUM, e) << "byte " << i;
    }
}

// Reads everything a damaged log offers: every name, then all names, each to its end or its
// first error. Returns false when a result is not one of the defined ones or a walk never ends.
bool ReadsDefined(LogDatabase *db, std::string *why)
{
    std::vector<std::string> names;
    LogNameInfo info;
    for (int i = 0; LogGetNameInfo(db, i, &info) == 0; i++)
        names.push_back(info.name);
    names.push_back("");
    for (const std::string &n : names) {
        if (LogSelectName(db, n.c_str()) != 0)
            continue;
        int mode = LOG_FIRST;
        for (int steps = 0;; steps++, mode = LOG_NEXT) {
            int r = ReadOne(db, mode).result;
            if (r == LOG_END || r == LOGERR_READ)
                break;
            if (r != 0) {
                *why = "result " + std::to_string(r) + " for name '" + n + "'";
                return false;
            }
            if (steps > 1000) {
                *why = "endless chain for name '" + n + "'";
                return false;
            }
        }
    }
    return true;
}

TEST_F(Log, DamagedLogSweepGivesDefinedCodes)
{
    WriteLog(path, {Text("CF", "C:\\p\\a.txt"), {"CSF", REC_LIST, "", 0, {"x.dll", "y.dll"}},
                    Text("CF", "b"), {"X", REC_VALUE | REC_TEXT, "t", 7, {}}});
    const std::string good = ReadBytes(path);
    std::string damaged = dir / "damaged.log";
    const std::set<int> openCodes = {0, LOGERR_BAD_MAGIC, LOGERR_READ, LOGERR_VERSION,
                                     LOGERR_CHECKSUM};

    // Cut short at every length.
    for (size_t len = 0; len < good.size(); len++) {
        ASSERT_TRUE(WriteBytes(damaged, good.substr(0, len)));
        LogDatabase *db = LogOpen(damaged.c_str(), LOG_READ);
        int e = LogLastError();
        EXPECT_EQ(nullptr, db) << "a log cut at " << len << " opened";
        EXPECT_TRUE(openCodes.count(e)) << "cut at " << len << ": " << e;
        LogClose(db);
    }

    // Every byte changed, with the checksum made to match, so the bodies themselves are read.
    const uint8_t deltas[] = {0xFF, 0x01};
    int opened = 0, readErrors = 0;
    for (uint8_t d : deltas) {
        for (size_t i = 0; i < good.size(); i++) {
            std::string b = good;
            b[i] = char(uint8_t(b[i]) + d);
            if (i >= 10)
                rawlog::FixChecksum(b);
            ASSERT_TRUE(WriteBytes(damaged, b));
            LogDatabase *db = LogOpen(damaged.c_str(), LOG_READ);
            int e = LogLastError();
            EXPECT_TRUE(openCodes.count(e)) << "byte " << i << " +" << int(d) << ": " << e;
            opened += db != nullptr;
            readErrors += e == LOGERR_READ;
            std::string why;
            if (db) {
                EXPECT_TRUE(ReadsDefined(db, &why)) << "byte " << i << " +" << int(d) << ": " << why;
            }
            LogClose(db);
        }
    }
    EXPECT_GT(opened, 0) << "the sweep never got past the checksum";
    EXPECT_GT(readErrors, 0) << "the sweep never reached the bodies";
}

TEST_F(Log, HandMadeDamageIsRejectedWithReadError)
{
    using namespace rawlog;
    auto table = [](const std::vector<std::string> &entries) {
        std::string t = Le16(uint32_t(entries.size()));
        for (const std::string &e : entries)
            t += e;
        return t;
    };
    struct Case {
        const char *what;
        Writer w;
        int openError;
    };
    std::vector<Case> cases;
    Writer base;
    base.nameTableBody = table({NameEntry("CF", 1, base.RecordOffset(0), 100)});
    base.records = {Record(0, 100, REC_TEXT, Str("a"))};
    cases.push_back({"sound", base, 0});
    {
        Writer w = base;
        w.headerBody = std::string(31, '\0');
        cases.push_back({"header count 31", w, LOGERR_READ});
        w.headerBody = std::string(29, '\0');
        cases.push_back({"header count 29", w, LOGERR_READ});
    }
    {
        Writer w = base;
        w.banner = "";
        w.nameTableBody = table({NameEntry("CF", 1, w.RecordOffset(0), 100)});
        cases.push_back({"empty banner", w, 0});
    }
    {
        Writer w = base;
        w.nameTableBody = table({NameEntry(std::string(255, 'n'), 1, w.RecordOffset(0), 100)});
        cases.push_back({"name of 255 bytes", w, LOGERR_READ});
        w.nameTableBody = table({NameEntry(std::string(254, 'n'), 1, w.RecordOffset(0), 100)});
        cases.push_back({"name of 254 bytes", w, 0});
        w.nameTableBody = table({NameEntry("CF", 1, w.RecordOffset(0), 100),
                                 NameEntry("CF", 1, w.RecordOffset(0), 101)});
        cases.push_back({"name twice", w, LOGERR_READ});
        w.nameTableBody = table({NameEntry("C", 1, 1111, 100)}).substr(0, 12);
        cases.push_back({"entry cut short", w, LOGERR_READ});
        w.nameTableBody = Le16(2) + NameEntry("CF", 1, w.RecordOffset(0), 100);
        cases.push_back({"count says more entries", w, LOGERR_READ});
        w.nameTableBody = table({NameEntry(std::string("C\0F", 3), 1, w.RecordOffset(0), 100)});
        cases.push_back({"name holding a zero byte", w, LOGERR_READ});
        w.nameTableBody = table({NameEntry("", 1, w.RecordOffset(0), 100)});
        cases.push_back({"empty name", w, LOGERR_READ});
    }
    {
        Writer w = base;
        w.strings = {"a", "b", "c", "d", "e", "f"};
        cases.push_back({"six strings", w, LOGERR_READ});
        w.strings = std::vector<std::string>(7, std::string(600, 'q'));
        cases.push_back({"strings body 4214 bytes", w, LOGERR_READ});
        w.strings = std::vector<std::string>(7, std::string(583, 'q'));
        cases.push_back({"strings body 4095 bytes", w, 0});
        w.strings = {"Product", std::string("1.0\0x", 5), "", "", "", "", ""};
        cases.push_back({"item holding a zero byte", w, LOGERR_READ});
        w.strings = std::vector<std::string>(7);
        w.stringsOffsetOverride = 0x7FFFFFF0;
        cases.push_back({"strings past the end", w, LOGERR_READ});
    }
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteBytes(path, c.w.Build()));
        LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
        EXPECT_EQ(c.openError, LogLastError()) << c.what;
        if (db && c.openError == 0) {
            LogNameInfo info;
            ASSERT_EQ(0, LogGetNameInfo(db, 0, &info)) << c.what;
            LogSelectName(db, info.name);
            EXPECT_EQ(0, ReadOne(db, LOG_FIRST).result) << c.what;
        }
        LogClose(db);
    }
}

TEST_F(Log, DamagedRecordsFailTheReadNotTheDatabase)
{
    using namespace rawlog;
    struct Case {
        const char *what;
        std::vector<std::string> records;   // the chain of "CF" starts at record 0
        std::vector<std::string> texts;     // delivered before the result
        int result;
    };
    Writer w;
    uint32_t r0 = w.RecordOffset(0);
    uint32_t r1 = r0 + 2 + 8 + 3;         // behind a record with a one-byte text
    Case cases[] = {
        {"sound chain", {Record(r1, 100, REC_TEXT, Str("a")), Record(0, 100, REC_TEXT, Str("b"))},
         {"a", "b"}, LOG_END},
        {"text runs past the body", {Record(0, 100, REC_TEXT, Le16(50) + "abc")}, {}, LOGERR_READ},
        {"value cut short", {Record(0, 100, REC_VALUE, "ab")}, {}, LOGERR_READ},
        {"list runs past", {Record(0, 100, REC_LIST, Le16(3) + Str("x") + Str("y"))}, {},
         LOGERR_READ},
        {"body shorter than the fixed part", {std::string("abcde")}, {}, LOGERR_READ},
        {"text holding a zero byte", {Record(0, 100, REC_TEXT, Str(std::string("C:\\a\0b", 6)))},
         {}, LOGERR_READ},
        {"list string holding a zero byte",
         {Record(0, 100, REC_LIST, Le16(1) + Str(std::string("x\0", 2)))}, {}, LOGERR_READ},
        {"link to itself", {Record(r0, 100, REC_TEXT, Str("a"))}, {}, LOGERR_READ},
        {"link backwards",
         {Record(r1, 100, REC_TEXT, Str("a")), Record(r0, 100, REC_TEXT, Str("b"))}, {"a"},
         LOGERR_READ},
        {"link past the end", {Record(0x7FFFFFF0, 100, REC_TEXT, Str("a"))}, {"a"}, LOGERR_READ},
        {"body count above 4096", {Record(0, 100, REC_TEXT, Str(std::string(4089, 'x')))}, {},
         LOGERR_READ},
        {"text of 4086 bytes fills a body", {Record(0, 100, REC_TEXT, Str(std::string(4086, 'x')))},
         {std::string(4086, 'x')}, LOG_END},
    };
    for (const Case &c : cases) {
        Writer cw;
        cw.records = c.records;
        cw.nameTableBody = Le16(1) + NameEntry("CF", uint32_t(c.records.size()), r0, 100);
        ASSERT_TRUE(WriteBytes(path, cw.Build()));
        LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
        ASSERT_NE(nullptr, db) << c.what << ": " << LogLastError();
        LogSelectName(db, "CF");
        std::vector<std::string> texts;
        Got g = ReadOne(db, LOG_FIRST);
        for (int steps = 0; g.result == 0 && steps < 10; steps++) {
            texts.push_back(g.text);
            g = ReadOne(db, LOG_NEXT);
        }
        EXPECT_EQ(c.texts, texts) << c.what;
        EXPECT_EQ(c.result, g.result) << c.what;
        LogSelectName(db, "CF");
        EXPECT_EQ(c.texts.empty() ? c.result : 0, ReadOne(db, LOG_FIRST).result)
            << c.what << ": the database stays usable";
        LogClose(db);
    }
}

TEST_F(Log, TextThatDoesNotFitIsRefusedNotCut)
{
    WriteLog(path, {Text("CF", "C:\\dir\\file.txt"), Text("CF", "next")});
    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    LogSelectName(db, "CF");
    char small[15] = "unchanged", name[4];   // the text is 15 bytes: no room for its end
    uint32_t flags = 0;
    EXPECT_EQ(LOGERR_TOO_LONG,
              LogReadRecord(db, name, sizeof name, &flags, small, 15, nullptr, nullptr, LOG_FIRST));
    EXPECT_STREQ("unchanged", small) << "nothing delivered";
    EXPECT_EQ(0u, flags);
    EXPECT_EQ(LOGERR_TOO_LONG, LogLastError());
    char fits[16];
    EXPECT_EQ(0, LogReadRecord(db, name, sizeof name, &flags, fits, 16, nullptr, nullptr, LOG_NEXT))
        << "the same record again, now with room for it";
    EXPECT_STREQ("C:\\dir\\file.txt", fits);
    EXPECT_EQ(LOGERR_TOO_LONG,
              LogReadRecord(db, name, 0, &flags, fits, 16, nullptr, nullptr, LOG_NEXT))
        << "no room for the name";
    EXPECT_EQ(0, LogReadRecord(db, name, 1, &flags, fits, 16, nullptr, nullptr, LOG_NEXT));
    EXPECT_STREQ("next", fits);
    EXPECT_EQ(LOG_END, LogReadRecord(db, name, 1, &flags, fits, 16, nullptr, nullptr, LOG_NEXT));
    LogClose(db);
}

TEST_F(Log, RecordsAndItemsMustFitABody)
{
    LogResetNameIds();
    LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
    ASSERT_NE(nullptr, db);
    EXPECT_EQ(LOGERR_TOO_LONG, Add(db, Text("CF", std::string(4087, 'x'))));
    EXPECT_EQ(0, Add(db, Text("CF", std::string(4086, 'x'))));
    std::vector<std::string> many(420, std::string(8, 'l'));
    EXPECT_EQ(LOGERR_TOO_LONG, Add(db, {"CSF", REC_LIST, "", 0, many}));
    many.resize(200);
    EXPECT_EQ(0, Add(db, {"CSF", REC_LIST, "", 0, many}));
    EXPECT_EQ(0, LogSetItem(db, ITEM_PRODUCT_KEY, std::string(4000, 'p').c_str(), 0));
    EXPECT_EQ(LOGERR_TOO_LONG, LogSetItem(db, ITEM_VERSION_KEY, std::string(100, 'v').c_str(), 0));
    EXPECT_EQ(0, LogSetItem(db, ITEM_VERSION_KEY, std::string(82, 'v').c_str(), 0));
    ASSERT_EQ(0, LogCommit(db));
    LogClose(db);

    db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db) << LogLastError();
    EXPECT_EQ((std::vector<std::string>{std::string(4086, 'x')}), ReadTexts(db, "CF"));
    LogSelectName(db, "CSF");
    EXPECT_EQ(200u, ReadOne(db, LOG_FIRST).list.size());
    char big[4100];
    EXPECT_EQ(4000, LogGetItem(db, ITEM_PRODUCT_KEY, big, sizeof big));
    LogClose(db);
}

// Writes names[0..] (each with one record), trying the refused one where asked, then one more
// record under the first name; returns the committed bytes.
std::string BudgetLog(const std::string &path, const std::vector<std::string> &names,
                      const std::string &refused, int *refusal)
{
    LogResetNameIds();
    LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
    for (const std::string &n : names)
        EXPECT_EQ(0, Add(db, Text(n, "r")));
    if (!refused.empty())
        *refusal = Add(db, {refused, REC_TEXT | REC_LIST, "refused", 0, {"a", "b"}});
    EXPECT_EQ(0, Add(db, Text(names[0], "still accepted")));
    EXPECT_EQ(0, LogCommit(db));
    LogClose(db);
    return ReadBytes(path);
}

TEST_F(Log, NameTableBudgetRefusesAndLeavesTheLogAsItWas)
{
    struct Case {
        const char *what;
        size_t nameLength;
        size_t fit;   // names accepted before the refusal
    } cases[] = {
        // Entries take the name's length + 16 bytes; the table body holds at most 1024.
        {"15 names of 50 bytes take 992 bytes, a 16th would take 1058", 50, 15},
        {"3 names of 254 bytes; a 4th passes the budget of 1014 and the table size", 254, 3},
        {"60 one-byte names take 1022 bytes, though the budget would allow 78", 1, 60},
    };
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (const Case &c : cases) {
        std::vector<std::string> names;
        for (size_t i = 0; i < c.fit; i++)
            names.push_back(std::string(c.nameLength, alphabet[i]));
        std::string extra(c.nameLength, alphabet[c.fit]);
        int refusal = 0;
        std::string with = BudgetLog(path, names, extra, &refusal);
        EXPECT_EQ(LOGERR_NAME_TABLE_FULL, refusal) << c.what;
        std::string without = BudgetLog(dir / "plain.log", names, "", &refusal);
        EXPECT_TRUE(with == without) << c.what << ": the refused record changed the log";
        uint32_t tableSize = rawlog::U16(with, 85);
        EXPECT_LE(tableSize, 1024u) << c.what;
        LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
        ASSERT_NE(nullptr, db) << c.what << ": " << LogLastError();
        EXPECT_EQ(c.fit + 1, size_t(LogGetItem(db, ITEM_RECORD_COUNT, nullptr, 0)));
        EXPECT_EQ(c.fit + 1, ReadTexts(db, "").size());
        LogClose(db);
    }
}

TEST_F(Log, NameIdsCountUpFromOneHundred)
{
    WriteLog(path, {Text("CF", "a"), Text("CDR", "b"), Text("CF", "c"), Text("API", "d")});
    LogDatabase *db = LogOpen(path.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    std::vector<std::pair<std::string, uint32_t>> ids;
    LogNameInfo info;
    for (int i = 0; LogGetNameInfo(db, i, &info) == 0; i++)
        ids.push_back({info.name, info.id});
    std::sort(ids.begin(), ids.end(), [](auto &a, auto &b) { return a.second < b.second; });
    ASSERT_EQ(3u, ids.size());
    EXPECT_EQ((std::pair<std::string, uint32_t>{"CF", 100}), ids[0]);
    EXPECT_EQ((std::pair<std::string, uint32_t>{"CDR", 101}), ids[1]);
    EXPECT_EQ((std::pair<std::string, uint32_t>{"API", 102}), ids[2]);
    EXPECT_EQ(LOG_END, LogGetNameInfo(db, 3, &info));
    LogClose(db);
}

TEST_F(Log, UnfinishedLogIsRejected)
{
    LogDatabase *db = LogOpen(path.c_str(), LOG_CREATE);
    ASSERT_NE(nullptr, db);
    Add(db, Text("CF", "a"));
    LogClose(db);
    EXPECT_EQ(nullptr, LogOpen(path.c_str(), LOG_READ));
    EXPECT_EQ(LOGERR_CHECKSUM, LogLastError());
}

}  // namespace
