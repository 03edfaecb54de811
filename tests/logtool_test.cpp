#include "tools/logtool/json.h"
#include "tools/logtool/logtool.h"

#include "base/pool.h"
#include "support/dbcs.h"
#include "logdb/logdb.h"
#include "support/logfile.h"
#include "support/tempdir.h"
#include "remover_version.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using testfs::IsFile;
using testfs::ReadBytes;
using testfs::TempDir;
using testfs::WriteBytes;

namespace {

// ---- the JSON reader ----

TEST(Json, AcceptsTheGrammar)
{
    JsonValue v;
    std::string err;
    ASSERT_TRUE(JsonParse("\xEF\xBB\xBF { \"a\" : [1, -0, 2.5e-3, true, false, null, {}, []],\n"
                          "\"b\": \"x\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00\xE2\x82\xAC\" } ",
                          &v, &err))
        << err;
    ASSERT_EQ(JSON_OBJECT, v.kind);
    const JsonValue *a = JsonMember(v, "a");
    ASSERT_TRUE(a && a->kind == JSON_ARRAY && a->items.size() == 8);
    EXPECT_EQ("2.5e-3", a->items[2].text) << "numbers keep their literal";
    EXPECT_TRUE(a->items[3].boolean);
    EXPECT_EQ(JSON_NULL, a->items[5].kind);
    const JsonValue *b = JsonMember(v, "b");
    ASSERT_TRUE(b);
    EXPECT_EQ("x\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80\xE2\x82\xAC", b->text);
    EXPECT_EQ(2, b->line);
    EXPECT_EQ(nullptr, JsonMember(v, "c"));
}

// An input that is refused, and what the refusal must say.
struct Refusal {
    std::string input;
    const char *message;
};

TEST(Json, RefusesWhatIsNotJson)
{
    // Each refusal names where the fault was found: the byte that spoils a token, the start of
    // a token out of place, the end of a text cut short.
    const Refusal cases[] = {
        {"", "line 1, column 1: unexpected end of input"},
        {"{\"a\": 1, \"a\": 2}", "column 13: member \"a\" given twice"},
        {"[1,]", "column 4: unexpected ']'"},
        {"{\"a\": 1,}", "column 9: unexpected '}'; expected string literal"},
        {"[1 2]", "column 4: unexpected number literal"},
        {"[1 23]", "column 4: unexpected number literal"},
        {"{\"a\" 1}", "column 6: unexpected number literal; expected ':'"},
        {"01", "column 2: unexpected number literal"},
        {"1.", "column 3: invalid number"},
        {"-", "column 2: invalid number"},
        {"1e", "column 3: invalid number"},
        {"1e999", "column 1: number overflow"},
        {"\"abc", "column 5: invalid string: missing closing"},
        {"\"a\tb\"", "column 3: invalid string: control character"},
        {"\"\\x\"", "column 3: invalid string: forbidden character"},
        {"\"\\u12g4\"", "column 6: invalid string: '\\u' must be"},
        {"\"\\udc00\"", "column 7: invalid string: surrogate"},
        {"\"\\ud800x\"", "column 8: invalid string: surrogate"},
        {"\"\\ud800\\u0041\"", "column 13: invalid string"},
        {"\"\xC0\x80\"", "column 2: invalid string: ill-formed UTF-8"},
        {"\"\xE0\x80\x80\"", "column 3: invalid string: ill-formed"},
        {"\"\xED\xA0\x80\"", "column 3: invalid string: ill-formed"},
        {"\"\xF4\x90\x80\x80\"", "column 3: invalid string"},
        {"\"\xE9t\xE9\"", "column 3: invalid string: ill-formed"},
        {"\"\xE2\x82\"", "column 4: invalid string: ill-formed"},
        {"tru", "column 4: invalid literal"},
        {"{} {}", "column 4: unexpected '{'; expected end"},
        {"/* no */ 1", "column 1: invalid literal"},
        {"[\n  1,\n  x]", "line 3, column 3: invalid literal"},
        {"\xEF\xBB\xBF [x]", "line 1, column 3: invalid literal"},
        {std::string(65, '[') + std::string(65, ']'), "column 65: nested too deeply"},
        {std::string(64, '[') + "1" + std::string(64, ']'), "column 65: nested too deeply"},
    };
    for (const Refusal &c : cases) {
        JsonValue v;
        std::string err;
        EXPECT_FALSE(JsonParse(c.input, &v, &err)) << c.input;
        EXPECT_NE(std::string::npos, err.find(c.message)) << c.input << " gave: " << err;
    }
    JsonValue v;
    EXPECT_TRUE(JsonParse(std::string(64, '[') + std::string(64, ']'), &v, nullptr));
}

TEST(Json, UnsignedNumbersOnly)
{
    struct Case {
        const char *text;
        uint32_t max;
        bool ok;
        uint32_t value;
    } cases[] = {
        {"0", 10, true, 0},         {"4294967295", 0xFFFFFFFF, true, 0xFFFFFFFF},
        {"4294967296", 0xFFFFFFFF, false, 0}, {"65536", 0xFFFF, false, 0},
        {"-1", 0xFFFFFFFF, false, 0}, {"1.0", 10, false, 0}, {"1e2", 1000, false, 0},
        {"\"7\"", 10, false, 0},    {"99999999999", 0xFFFFFFFF, false, 0},
    };
    for (const Case &c : cases) {
        JsonValue v;
        ASSERT_TRUE(JsonParse(c.text, &v, nullptr)) << c.text;
        uint32_t got = 12345;
        EXPECT_EQ(c.ok, JsonToUnsigned(v, c.max, &got)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.value, got) << c.text;
        }
    }
}

TEST(Json, QuoteParsesBackToTheSameBytes)
{
    std::string all;
    for (int c = 1; c < 0x80; c++)
        all += char(c);
    all += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::string quoted = JsonQuote(all);
    for (char c : quoted)
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20) << "raw control character written";
    JsonValue v;
    std::string err;
    ASSERT_TRUE(JsonParse(quoted, &v, &err)) << err;
    EXPECT_EQ(all, v.text);
}

// ---- the commands ----

std::string WindowsPath(std::string unixPath)
{
    for (char &c : unixPath)
        if (c == '/')
            c = '\\';
    return "Z:" + unixPath;
}

// The example description, a file that schema_test also checks against the schema.
std::string Example()
{
    return ReadBytes(WindowsPath(LOGTOOL_DESCRIPTIONS "/example.json"));
}

class Tool : public ::testing::Test {
protected:
    // In-process, a regression must fail a check, not wait on an allocator box.
    void SetUp() override { PoolSetOption(POOLOPT_REPORT, 0); }
    TempDir dir;
    std::string log = dir / "out.log";

    int Build(const std::string &description, const std::string &path, std::string *err = nullptr)
    {
        std::string e;
        int rc = LogtoolBuild(description, path.c_str(), &e);
        if (err)
            *err = e;
        return rc;
    }

    std::string DumpJson(const std::string &path)
    {
        std::string out, err;
        EXPECT_EQ(LOGTOOL_OK, LogtoolDump(path.c_str(), true, &out, &err)) << err;
        return out;
    }
};

TEST_F(Tool, BuildWritesWhatTheDescriptionSays)
{
    ASSERT_EQ(LOGTOOL_OK, Build(Example(), log));
    LogDatabase *db = LogOpen(log.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    char buf[64];
    EXPECT_EQ(7, LogGetItem(db, ITEM_PRODUCT_KEY, buf, sizeof buf));
    EXPECT_STREQ("Product", buf);
    EXPECT_EQ(3, LogGetItem(db, ITEM_UNINSTALL_KEY, buf, sizeof buf));
    EXPECT_EQ(1, LogGetItem(db, ITEM_WORD5, nullptr, 0));
    EXPECT_EQ(3, LogGetItem(db, ITEM_RECORD_COUNT, nullptr, 0));
    struct Case {
        const char *name;
        uint32_t flags;
    } cases[] = {{"CF", REC_TEXT}, {"CSF", REC_LIST}, {"X", REC_TEXT | REC_VALUE}};
    for (const Case &c : cases) {
        LogSelectName(db, c.name);
        uint32_t flags = 0;
        char text[64];
        ASSERT_EQ(0, LogReadRecord(db, nullptr, 0, &flags, text, sizeof text, nullptr, nullptr,
                                   LOG_FIRST))
            << c.name;
        EXPECT_EQ(c.flags, flags) << c.name << ": flags default to the parts present";
    }
    LogClose(db);
    std::string b = ReadBytes(log);
    EXPECT_EQ(std::string("Installation log; binary, do not edit.\r\n\x1A"), b.substr(12, 41));
}

TEST_F(Tool, DumpJsonThenBuildIsByteIdentical)
{
    std::string allBytes;
    for (int c = 1; c < 256; c++)
        allBytes += char(c);
    std::string utf8AllBytes;
    {
        int wn = MultiByteToWideChar(CP_ACP, 0, allBytes.data(), int(allBytes.size()), nullptr, 0);
        std::wstring w(size_t(wn), L'\0');
        MultiByteToWideChar(CP_ACP, 0, allBytes.data(), int(allBytes.size()), &w[0], wn);
        int un = WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
        utf8AllBytes.resize(size_t(un));
        WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, &utf8AllBytes[0], un, nullptr, nullptr);
    }
    std::string names = "[";
    for (int i = 0; i < 60; i++)
        names += std::string(i ? "," : "") + "{\"name\": " + JsonQuote(std::string(1, char('!' + i))) +
                 ", \"value\": " + std::to_string(i) + "}";
    names += "]";
    struct Case {
        const char *what;
        std::string description;
    } cases[] = {
        {"the example", Example()},
        {"nothing at all", "{}"},
        {"every byte of the code page", "{\"items\": {\"3\": " + JsonQuote(utf8AllBytes) +
                                            "}, \"records\": [{\"name\": \"T\", \"text\": " +
                                            JsonQuote(utf8AllBytes) + "}]}"},
        {"sixty names", "{\"records\": " + names + "}"},
        {"extra flag bits and empty parts",
         R"({"records": [{"name": "E", "flags": 32776}, {"name": "L", "list": []},
                         {"name": "E", "text": "", "flags": 9}]})"},
        {"our own banner",
         R"({"banner": "12345678901234567890123456789012345678901", "records": []})"},
        {"a full body", "{\"records\": [{\"name\": \"B\", \"text\": \"" + std::string(4086, 'b') +
                            "\"}]}"},
        {"item 10 stated", R"({"items": {"10": 1}, "records": [{"name": "A"}]})"},
    };
    for (const Case &c : cases) {
        std::string err;
        ASSERT_EQ(LOGTOOL_OK, Build(c.description, log, &err)) << c.what << ": " << err;
        std::string json = DumpJson(log);
        std::string again = dir / "again.log";
        ASSERT_EQ(LOGTOOL_OK, Build(json, again, &err)) << c.what << ": " << err << json;
        EXPECT_TRUE(ReadBytes(log) == ReadBytes(again)) << c.what << " differs after\n" << json;
        EXPECT_EQ(json, DumpJson(again)) << c.what;
    }
}

TEST_F(Tool, DbcsTextsRoundTripThroughTheCodePage)
{
    REQUIRE_DBCS();
    // U+8868 is 0x95 0x5C in code page 932: its trail byte is a backslash.
    const char *description =
        R"({"items": {"1": "\u65e5\u672c"}, "records": [{"name": "CF", "text": "C:\\\u8868\\a.txt"},
            {"name": "\u8868", "list": ["\uff71", "x"]}]})";
    std::string err;
    ASSERT_EQ(LOGTOOL_OK, Build(description, log, &err)) << err;
    LogDatabase *db = LogOpen(log.c_str(), LOG_READ);
    ASSERT_NE(nullptr, db);
    LogSelectName(db, "CF");
    char text[64];
    ASSERT_EQ(0, LogReadRecord(db, nullptr, 0, nullptr, text, sizeof text, nullptr, nullptr,
                               LOG_FIRST));
    EXPECT_STREQ("C:\\" DBCS_TRAIL_BACKSLASH "\\a.txt", text) << "stored in the ANSI code page";
    LogClose(db);
    std::string json = DumpJson(log);
    std::string again = dir / "again.log";
    ASSERT_EQ(LOGTOOL_OK, Build(json, again, &err)) << err;
    EXPECT_TRUE(ReadBytes(log) == ReadBytes(again)) << json;
    EXPECT_NE(std::string::npos, json.find("\xE6\x97\xA5\xE6\x9C\xAC")) << "UTF-8 in the dump";
    EXPECT_EQ(LOGTOOL_FAILED, Build(R"({"items": {"1": "\u00e9"}})", again, &err))
        << "no exact form in code page 932";
}

TEST_F(Tool, BadDescriptionsLeaveNoLogBehind)
{
    const Refusal cases[] = {
        {"{\"records\": [", "bad JSON: line 1, column 14"},
        {"[]", "must be an object"},
        {R"({"record": []})", "unknown member \"record\""},
        {R"({"items": {"12": "x"}})", "unknown item \"12\""},
        {R"({"items": {"05": 1}})", "unknown item \"05\""},
        {R"({"items": {"5": 65536}})", "item 5 must be a number from 0 to 65535"},
        {R"({"items": {"6": -1}})", "item 6 must be a number"},
        {R"({"items": {"1": 7}})", "item 1 must be a string"},
        {R"({"items": {"10": 2}, "records": [{"name": "A"}]})", "item 10 is the record count, 1"},
        {R"({"items": {"1": "\u4e2d"}})", "cannot hold exactly"},
        {R"({"banner": "too short"})", "\"banner\" must be 41 bytes"},
        {R"({"records": {}})", "\"records\" must be an array"},
        {R"({"records": [7]})", "record 0 must be an object"},
        {R"({"records": [{"text": "x"}]})", "record 0 has no \"name\""},
        {R"({"records": [{"name": 1}]})", "the name must be a string"},
        {R"({"records": [{"name": "A", "txt": "x"}]})", "unknown member \"txt\""},
        {R"({"records": [{"name": "A", "text": "x", "flags": 2}]})", "leaves out a part"},
        {R"({"records": [{"name": "A", "flags": 65536}]})", "\"flags\" must be a number"},
        {R"({"records": [{"name": "A", "value": 1.5}]})", "\"value\" must be a number"},
        {R"({"records": [{"name": "A", "list": "x"}]})", "must be an array of strings"},
        {R"({"records": [{"name": "A", "list": ["x", 2]}]})", "a list entry must be a string"},
        {R"({"records": [{"name": "A", "text": "a\u0000b"}]})", "cannot hold exactly"},
        {R"({"records": [{"name": ""}]})", "record 0 (name ) refused: error -7"},
        {"{\"records\": [{\"name\": \"" + std::string(255, 'n') + "\"}]}", "refused: error -16"},
        {"{\"records\": [{\"name\": \"B\", \"text\": \"" + std::string(4087, 'b') + "\"}]}",
         "refused: error -16"},
        {"{\"records\": [{\"name\": \"L\", \"list\": [\"x\", \"" + std::string(64999, 'l') + "\"]}]}",
         "record 0: a list entry of 64999 bytes cannot fit a record body"},
        {"{\"records\": [" + [] {
             std::string s;
             for (int i = 0; i < 61; i++)
                 s += std::string(i ? "," : "") + "{\"name\": " +
                      JsonQuote(std::string(1, char('A' + i))) + "}";
             return s;
         }() + "]}",
         "record 60 (name }) refused: error -14"},
    };
    ASSERT_TRUE(WriteBytes(log, "an older file"));
    for (const Refusal &c : cases) {
        std::string err;
        EXPECT_EQ(LOGTOOL_FAILED, Build(c.input, log, &err)) << c.input;
        EXPECT_NE(std::string::npos, err.find(c.message))
            << c.input.substr(0, 80) << "\n gave: " << err;
        EXPECT_EQ("an older file", ReadBytes(log)) << "the old file stays";
        EXPECT_FALSE(IsFile(log + ".part")) << "no half-written log";
    }
    std::string err;
    EXPECT_EQ(LOGTOOL_FAILED, Build("{}", dir / "nodir\\x.log", &err));
    EXPECT_NE(std::string::npos, err.find("cannot create")) << err;
}

TEST_F(Tool, VerifySaysWhetherALogIsSound)
{
    ASSERT_EQ(LOGTOOL_OK, Build(Example(), log));
    std::string good = ReadBytes(log);
    std::string flipped = good, cut = good.substr(0, good.size() - 1);
    flipped[1500 % flipped.size()] ^= 0x10;

    rawlog::Writer w;   // sound bodies, but the counts disagree with the chain
    w.records = {rawlog::Record(0, 100, REC_TEXT, rawlog::Str("a"))};
    w.nameTableBody = rawlog::Le16(1) + rawlog::NameEntry("CF", 2, w.RecordOffset(0), 100);
    w.recordCount = 1;
    std::string badCount = w.Build();
    w.nameTableBody = rawlog::Le16(1) + rawlog::NameEntry("CF", 1, w.RecordOffset(0), 100);
    w.recordCount = 3;
    std::string badTotal = w.Build();
    w.recordCount = 1;
    std::string handMade = w.Build();

    struct Case {
        const char *what;
        std::string bytes;
        int exit;
        const char *message;
    } cases[] = {
        {"good", good, LOGTOOL_OK, "sound: 3 records under 3 names"},
        {"hand made", handMade, LOGTOOL_OK, "sound: 1 records under 1 names"},
        {"a changed byte", flipped, LOGTOOL_UNSOUND, "error -15: the checksum does not match"},
        {"cut short", cut, LOGTOOL_UNSOUND, "error -"},
        {"not a log", "hello", LOGTOOL_UNSOUND, "error -1: not an installation log"},
        {"entry count", badCount, LOGTOOL_UNSOUND, "\"CF\" has 1 records, its entry says 2"},
        {"record count", badTotal, LOGTOOL_UNSOUND, "1 records, item 10 says 3"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteBytes(log, c.bytes));
        std::string out, err;
        EXPECT_EQ(c.exit, LogtoolVerify(log.c_str(), &out, &err)) << c.what;
        EXPECT_NE(std::string::npos, out.find(c.message)) << c.what << " gave: " << out << err;
    }
    std::string out, err;
    EXPECT_EQ(LOGTOOL_UNSOUND, LogtoolVerify((dir / "missing.log").c_str(), &out, &err));
    EXPECT_NE(std::string::npos, out.find("error -5")) << out;
}

TEST_F(Tool, TextDumpShowsItemsNamesAndChains)
{
    ASSERT_EQ(LOGTOOL_OK,
              Build(R"({"items": {"1": "Caf\u00e9"}, "records": [{"name": "CF", "text": "a"},
                       {"name": "CDR", "text": "d"}, {"name": "CF", "text": "b"}]})",
                    log));
    std::string out, err;
    ASSERT_EQ(LOGTOOL_OK, LogtoolDump(log.c_str(), false, &out, &err)) << err;
    const char *lines[] = {
        "item 1 (product key): \"Caf\xC3\xA9\"\n",
        "item 10 (record count): 3\n",
        "item 11 (uninstall key): \"\"\n",
        "names 2\n",
        "  \"CF\" id 100 records 2 first 1111\n",
        "  \"CDR\" id 101 records 1 first 1124\n",
        "records of \"CF\"\n  @1111 flags 0x0001 text \"a\"\n  @1137 flags 0x0001 text \"b\"\n",
        "records of \"CDR\"\n  @1124 flags 0x0001 text \"d\"\n",
    };
    for (const char *line : lines)
        EXPECT_NE(std::string::npos, out.find(line)) << "missing: " << line << "in\n" << out;
    EXPECT_EQ(LOGTOOL_UNSOUND, LogtoolDump((dir / "missing").c_str(), false, &out, &err));
    EXPECT_EQ(LOGTOOL_UNSOUND, LogtoolDump((dir / "missing").c_str(), true, &out, &err));
}

// ---- the program itself ----

struct ToolRun {
    DWORD exit;
    std::string out;
    std::string err;
};


ToolRun RunLogtool(const TempDir &dir, const std::string &args)
{
    std::string outPath = dir / "stdout.txt", errPath = dir / "stderr.txt";
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                             0, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                             0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::string exe = WindowsPath(LOGTOOL_EXE);
    std::string cmd = "\"" + exe + "\" " + args;
    ToolRun r = {0xFFFFFFFF, "", ""};
    if (CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                       &pi)) {
        // One that does not end (a modal box waiting for a click) is ended here.
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 0xFFFFFFFF);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        GetExitCodeProcess(pi.hProcess, &r.exit);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(out);
    CloseHandle(err);
    r.out = ReadBytes(outPath);
    r.err = ReadBytes(errPath);
    return r;
}

TEST_F(Tool, ProgramRoundTripsAndReportsByExitCode)
{
    std::string desc = dir / "desc.json", a = dir / "a.log", json = dir / "a.json",
                b = dir / "b.log";
    ASSERT_TRUE(WriteBytes(desc, Example()));
    ToolRun r = RunLogtool(dir, "build \"" + desc + "\" \"" + a + "\"");
    ASSERT_EQ(0u, r.exit) << r.err;
    r = RunLogtool(dir, "dump --json \"" + a + "\"");
    ASSERT_EQ(0u, r.exit) << r.err;
    ASSERT_TRUE(WriteBytes(json, r.out));
    r = RunLogtool(dir, "build \"" + json + "\" \"" + b + "\"");
    ASSERT_EQ(0u, r.exit) << r.err;
    EXPECT_TRUE(ReadBytes(a) == ReadBytes(b)) << "build, dump --json, build differs";

    r = RunLogtool(dir, "verify \"" + b + "\"");
    EXPECT_EQ(0u, r.exit);
    EXPECT_EQ("sound: 3 records under 3 names\n", r.out);
    std::string damaged = ReadBytes(b);
    damaged[100] ^= 1;
    ASSERT_TRUE(WriteBytes(b, damaged));
    r = RunLogtool(dir, "verify \"" + b + "\"");
    EXPECT_EQ(1u, r.exit);
    EXPECT_NE(std::string::npos, r.out.find("error -15")) << r.out;

    ASSERT_TRUE(WriteBytes(desc, "{\"records\": [{\"name\": 5}]}"));
    r = RunLogtool(dir, "build \"" + desc + "\" \"" + dir / "c.log" + "\"");
    EXPECT_EQ(2u, r.exit);
    EXPECT_NE(std::string::npos, r.err.find("the name must be a string")) << r.err;
    EXPECT_FALSE(IsFile(dir / "c.log"));
    // Too long for any record, and for the list's memory: refused on stderr, never in a box.
    ASSERT_TRUE(WriteBytes(desc, "{\"records\": [{\"name\": \"L\", \"list\": [\"" +
                                     std::string(64999, 'l') + "\"]}]}"));
    r = RunLogtool(dir, "build \"" + desc + "\" \"" + dir / "c.log" + "\"");
    EXPECT_EQ(2u, r.exit);
    EXPECT_NE(std::string::npos, r.err.find("cannot fit a record body")) << r.err;
    EXPECT_FALSE(IsFile(dir / "c.log"));

    // Malformed descriptions end with the place of the fault and status 2, never a crash.
    const Refusal malformed[] = {
        {std::string(100000, '['), "bad JSON: line 1, column 65: nested too deeply"},
        {R"({"records": [{"name": "A", "text": "\q"}]})", "line 1, column 38: invalid string"},
        {R"({"items": {"1": "\udc00"}})", "line 1, column 23: invalid string: surrogate"},
        {R"({"records": [{"name": "A", "value": 1e400}]})", "line 1, column 37: number overflow"},
        {R"({"records": [{"name": "A", "value": 123456789012345678901}]})",
         "line 1, column 37: record 0: \"value\" must be a number"},
    };
    for (const Refusal &c : malformed) {
        ASSERT_TRUE(WriteBytes(desc, c.input));
        r = RunLogtool(dir, "build \"" + desc + "\" \"" + dir / "c.log" + "\"");
        EXPECT_EQ(2u, r.exit) << c.message;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    }
    r = RunLogtool(dir, "--version");
    EXPECT_EQ(0u, r.exit);
    EXPECT_EQ("logtool " REMOVER_VERSION_TEXT "\n", r.out);
    r = RunLogtool(dir, "");
    EXPECT_EQ(2u, r.exit);
    EXPECT_NE(std::string::npos, r.err.find("usage: logtool")) << r.err;
    r = RunLogtool(dir, "build \"" + dir / "missing.json" + "\" \"" + dir / "d.log" + "\"");
    EXPECT_EQ(2u, r.exit);
    EXPECT_NE(std::string::npos, r.err.find("cannot open")) << r.err;
}

}  // namespace
