// Registry services against Wine's real registry. Every test works below its own key under
// HKCU\Software\RemoverRegistryTest (shared counts: values named C:\RemoverTest\...) and removes
// what it made.
#include "registry/registry.h"
#include "base/platform.h"
#include "base/pool.h"
#include "support/dbcs.h"
#include "support/pool_fixture.h"
#include "support/registry.h"
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char TEST_ROOT[] = "Software\\RemoverRegistryTest";
const char *const SHARED_PATH = testreg::SHARED_DLLS_KEY;

// Independent of the code under test: plain Win32 calls only.
using testreg::DeleteTree;
using testreg::KeyExists;

void MakeKey(HKEY parent, const std::string &path)
{
    ASSERT_TRUE(testreg::MakeKey(parent, path)) << path;
}

void PutRaw(HKEY parent, const std::string &path, const char *name, DWORD type, const void *data,
            DWORD size)
{
    ASSERT_TRUE(testreg::SetRaw(parent, path, name, type, data, size)) << path << " " << name;
}

void PutDword(HKEY parent, const std::string &path, const char *name, DWORD value)
{
    PutRaw(parent, path, name, REG_DWORD, &value, sizeof value);
}

// Raw data of a value; false when it is missing.
bool GetRaw(HKEY parent, const std::string &path, const char *name, DWORD *type,
            std::vector<BYTE> *data)
{
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    BYTE buffer[4096];
    DWORD size = sizeof buffer;
    LONG rc = RegQueryValueExA(key, name, nullptr, type, buffer, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    data->assign(buffer, buffer + size);
    return true;
}

class Registry : public testing::Test {
protected:
    std::string base;   // this test's key below HKCU

    void SetUp() override
    {
        base = std::string(TEST_ROOT) + "\\" +
               testing::UnitTest::GetInstance()->current_test_info()->name();
        DeleteTree(HKEY_CURRENT_USER, base);
        MakeKey(HKEY_CURRENT_USER, base);
    }
    void TearDown() override
    {
        DeleteTree(HKEY_CURRENT_USER, TEST_ROOT);
    }
    std::string At(const std::string &rel) const { return base + "\\" + rel; }
};

TEST_F(Registry, OpenPathIgnoresOuterBackslashesAndRefusesHollowPaths)
{
    PutDword(HKEY_CURRENT_USER, At("A\\B"), "marker", 77);
    struct Case { std::string path; bool opens; };
    const Case cases[] = {
        {base + "\\A\\B", true},
        {"\\" + base + "\\A\\B", true},
        {base + "\\A\\B\\", true},
        {"\\" + base + "\\A\\B\\", true},
        {"", false},
        {"\\", false},                       // would be the root itself
        {base + "\\A\\\\B", false},          // empty middle component: not a prefix of the path
        {base + "\\A\\B\\\\", false},
        {"\\\\" + base + "\\A\\B", false},
        {base + "\\A\\Missing", false},
        {base + "\\Missing\\B", false},
        {base + "\\" + std::string(261, 'x'), false},   // component longer than a path
    };
    for (const Case &c : cases) {
        HKEY key = RegistryOpenPath(HKEY_CURRENT_USER, c.path.c_str());
        EXPECT_EQ(c.opens, key != nullptr) << "path '" << c.path << "'";
        if (!key)
            continue;
        DWORD value = 0, size = sizeof value;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "marker", nullptr, nullptr,
                                                  reinterpret_cast<BYTE *>(&value), &size))
            << "path '" << c.path << "' opened another key";
        EXPECT_EQ(77u, value);
        RegCloseKey(key);
    }
    // The root handle handed in survives every call above.
    HKEY again = RegistryOpenPath(HKEY_CURRENT_USER, (base + "\\A").c_str());
    ASSERT_NE(nullptr, again) << "HKEY_CURRENT_USER was closed by a failed walk";
    RegCloseKey(again);
}

TEST_F(Registry, CreatePathMakesEveryMissingLevel)
{
    HKEY key = RegistryCreatePath(HKEY_CURRENT_USER, ("\\" + At("X\\Y\\Z\\")).c_str(), "");
    ASSERT_NE(nullptr, key);
    RegCloseKey(key);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, At("X\\Y\\Z")));
    // Opening from an already open key works the same way, and that key stays open.
    HKEY x = RegistryOpenPath(HKEY_CURRENT_USER, At("X").c_str());
    ASSERT_NE(nullptr, x);
    HKEY z = RegistryCreatePath(x, "Y\\Z\\W", "");
    ASSERT_NE(nullptr, z);
    RegCloseKey(z);
    EXPECT_EQ(1, RegistryCountSubkeys(x, "Y"));
    RegCloseKey(x);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, At("X\\Y\\Z\\W")));
    EXPECT_EQ(nullptr, RegistryCreatePath(HKEY_CURRENT_USER, "", ""));
}

TEST_F(Registry, DeleteTreeRemovesThreeLevelsDeepestFirst)
{
    for (const char *k : {"T\\B1\\C1\\D1", "T\\B1\\C1\\D2", "T\\B1\\C2", "T\\B2", "Keep"})
        MakeKey(HKEY_CURRENT_USER, At(k));
    PutDword(HKEY_CURRENT_USER, At("T\\B1\\C1\\D1"), "v", 1);
    PutDword(HKEY_CURRENT_USER, At("T"), "v", 1);

    EXPECT_EQ(1, RegistryDeleteTree(HKEY_CURRENT_USER, ("\\" + At("T") + "\\").c_str()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, At("T")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, At("Keep"))) << "a sibling was deleted";
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base));
}

TEST_F(Registry, DeleteTreeRefusesPathsThatNameNoKey)
{
    MakeKey(HKEY_CURRENT_USER, At("T\\B\\C"));
    // Relative to this test's own key, so that a regression cannot empty the whole hive.
    HKEY start;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS,
                                           &start));
    const char *const cases[] = {"",          "\\",          "Missing",  "T\\\\B",
                                 "T\\Missing", "\\\\T", "T\\B\\\\"};
    for (const char *path : cases)
        EXPECT_EQ(0, RegistryDeleteTree(start, path)) << "path '" << path << "'";
    RegCloseKey(start);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, At("T\\B\\C"))) << "a refused path deleted keys";
}

TEST_F(Registry, CountSubkeysCountsKeysNotValues)
{
    PutDword(HKEY_CURRENT_USER, At("ValuesOnly"), "one", 1);
    PutDword(HKEY_CURRENT_USER, At("ValuesOnly"), "two", 2);
    for (const char *k : {"Three\\a", "Three\\b\\deeper", "Three\\c"})
        MakeKey(HKEY_CURRENT_USER, At(k));
    PutDword(HKEY_CURRENT_USER, At("Three"), "v", 1);
    struct Case { std::string path; int expected; };
    const Case cases[] = {
        {At("ValuesOnly"), 0}, {At("Three"), 3}, {At("Three\\"), 3}, {At("Missing"), 0}, {"", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, RegistryCountSubkeys(HKEY_CURRENT_USER, c.path.c_str())) << c.path;
}

TEST_F(Registry, SetValueStoresTextByType)
{
    const DWORD minusOne = 0xFFFFFFFF, fortyTwo = 42, big = 258;
    struct Case {
        const char *name; DWORD type; int size; const char *text;
        std::vector<BYTE> stored; const char *readBack;
    };
    const Case cases[] = {
        {"sz", REG_SZ, 0, "hello", {'h', 'e', 'l', 'l', 'o', 0}, "hello"},
        {"expand", REG_EXPAND_SZ, 99, "%WINDIR%", {'%', 'W', 'I', 'N', 'D', 'I', 'R', '%', 0},
         "%WINDIR%"},
        {"dword-neg", REG_DWORD, 0, "-1",
         {BYTE(minusOne), BYTE(minusOne >> 8), BYTE(minusOne >> 16), BYTE(minusOne >> 24)}, "-1"},
        {"dword-blanks", REG_DWORD, 0, "  +42", {BYTE(fortyTwo), 0, 0, 0}, "42"},
        {"dword-junk", REG_DWORD, 0, "abc", {0, 0, 0, 0}, "0"},
        {"big-endian", REG_DWORD_BIG_ENDIAN, 0, "258", {BYTE(big), BYTE(big >> 8), 0, 0}, "258"},
        {"binary", REG_BINARY, 3, "abcdef", {'a', 'b', 'c'}, "abc"},
        {"binary-text", REG_BINARY, REGISTRY_SIZE_TEXT, "xy", {'x', 'y', 0}, "xy"},
        {"multi", REG_MULTI_SZ, 9, "one\0two\0", {'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}, "one"},
    };
    for (const Case &c : cases) {
        // The key does not exist before the first write: it is created on the way.
        ASSERT_EQ(1, RegistrySetValue(HKEY_CURRENT_USER, At("New\\Key").c_str(), c.name, c.type,
                                      c.size, c.text)) << c.name;
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(GetRaw(HKEY_CURRENT_USER, At("New\\Key"), c.name, &type, &data)) << c.name;
        EXPECT_EQ(c.type, type) << c.name;
        EXPECT_EQ(c.stored, data) << c.name;

        char text[REGISTRY_TEXT_SIZE];
        DWORD readType = 0, readSize = 0;
        ASSERT_EQ(1, RegistryQueryValue(HKEY_CURRENT_USER, At("New\\Key").c_str(), c.name,
                                        &readType, &readSize, text, sizeof text)) << c.name;
        EXPECT_STREQ(c.readBack, text) << c.name;
        EXPECT_EQ(c.type, readType) << c.name;
        EXPECT_EQ(c.stored.size(), readSize) << c.name;
    }
}

TEST_F(Registry, QueryValueReadsStoredDataAsText)
{
    const DWORD allOnes = 0xFFFFFFFF, small = 7;
    const char unterminated[] = {'a', 'b', 'c'};
    const std::string big(1023, 'q');
    const std::string tooBig(1024, 'q');
    PutRaw(HKEY_CURRENT_USER, base, "ones", REG_DWORD, &allOnes, 4);
    PutRaw(HKEY_CURRENT_USER, base, "short-dword", REG_DWORD, &small, 1);
    PutRaw(HKEY_CURRENT_USER, base, "unterminated", REG_SZ, unterminated, 3);
    PutRaw(HKEY_CURRENT_USER, base, "big", REG_BINARY, big.data(), 1023);
    PutRaw(HKEY_CURRENT_USER, base, "too-big", REG_BINARY, tooBig.data(), 1024);
    struct Case { const char *name; int textSize; int ok; std::string text; };
    const Case cases[] = {
        {"ones", REGISTRY_TEXT_SIZE, 1, "-1"},
        {"short-dword", REGISTRY_TEXT_SIZE, 1, "7"},
        {"unterminated", REGISTRY_TEXT_SIZE, 1, "abc"},
        {"unterminated", 4, 1, "abc"},
        {"unterminated", 3, 0, ""},            // never cut: the caller's buffer is too small
        {"ones", 2, 0, ""},
        {"big", REGISTRY_TEXT_SIZE, 1, big},
        {"too-big", REGISTRY_TEXT_SIZE, 0, ""},
        {"missing", REGISTRY_TEXT_SIZE, 0, ""},
    };
    for (const Case &c : cases) {
        std::vector<char> text(c.textSize + 8, '#');
        int ok = RegistryQueryValue(HKEY_CURRENT_USER, base.c_str(), c.name, nullptr, nullptr,
                                    text.data(), c.textSize);
        EXPECT_EQ(c.ok, ok) << c.name << " into " << c.textSize;
        if (ok) {
            EXPECT_EQ(c.text, std::string(text.data())) << c.name;
        }
        EXPECT_EQ('#', text[c.textSize]) << c.name << ": wrote past the buffer";
    }
    char text[REGISTRY_TEXT_SIZE];
    EXPECT_EQ(0, RegistryQueryValue(HKEY_CURRENT_USER, At("Missing").c_str(), "ones", nullptr,
                                    nullptr, text, sizeof text));
}

TEST_F(Registry, DeleteValueRemovesOnlyThatValue)
{
    PutDword(HKEY_CURRENT_USER, base, "gone", 1);
    PutDword(HKEY_CURRENT_USER, base, "stays", 2);
    EXPECT_EQ(1, RegistryDeleteValue(HKEY_CURRENT_USER, base.c_str(), "gone"));
    EXPECT_EQ(0, RegistryDeleteValue(HKEY_CURRENT_USER, base.c_str(), "gone"));
    EXPECT_EQ(0, RegistryDeleteValue(HKEY_CURRENT_USER, At("Missing").c_str(), "stays"));
    DWORD type;
    std::vector<BYTE> data;
    EXPECT_FALSE(GetRaw(HKEY_CURRENT_USER, base, "gone", &type, &data));
    EXPECT_TRUE(GetRaw(HKEY_CURRENT_USER, base, "stays", &type, &data));
}

// Under code page 932 a key name may end in a trail byte equal to a backslash: the walk must
// keep that character whole instead of splitting the path there.
class RegistryDbcs : public Registry {};

TEST_F(RegistryDbcs, TrailBackslashIsPartOfTheKeyName)
{
    REQUIRE_DBCS();
    const std::string name = "Key" DBCS_TRAIL_BACKSLASH;
    HKEY key = RegistryCreatePath(HKEY_CURRENT_USER, At(name + "\\Sub").c_str(), "");
    ASSERT_NE(nullptr, key);
    RegCloseKey(key);
    EXPECT_EQ(1, RegistryCountSubkeys(HKEY_CURRENT_USER, base.c_str()));
    EXPECT_EQ(1, RegistryCountSubkeys(HKEY_CURRENT_USER, At(name).c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, At(name + "\\Sub")));
    EXPECT_EQ(1, RegistryDeleteTree(HKEY_CURRENT_USER, At(name).c_str()));
    EXPECT_EQ(0, RegistryCountSubkeys(HKEY_CURRENT_USER, base.c_str()));
}

// On the NT family key names are Unicode; an installation may well have made one that the ANSI
// calls cannot give back whole.
class RegistryWideNames : public Registry {
protected:
    void SetUp() override
    {
        Registry::SetUp();
        Platform nt{};
        nt.isWindows4 = 1;
        nt.isNtFamily = 1;
        PlatformSet(&nt);
    }
    void TearDown() override
    {
        PlatformSet(nullptr);
        Registry::TearDown();
    }
};

// Runs under both code pages: under 1252 both names are outside it; under 932 the first still is,
// and the second is 262 bytes, more than the ANSI enumeration's buffer.
TEST_F(RegistryWideNames, ProductTreeGoesWithSubkeysNamedOutsideTheCodePageOrLongInDbcs)
{
    const std::wstring names[] = {L"\x03A9\xD55C\x0E01",           // Greek, Hangul, Thai
                                  std::wstring(131, L'\x30A2')};     // katakana
    for (const std::wstring &name : names) {
        SCOPED_TRACE(testing::Message() << name.size() << "-character name");
        MakeKey(HKEY_CURRENT_USER, At("Product\\Plain"));
        HKEY product, odd;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, At("Product").c_str(), 0,
                                               KEY_ALL_ACCESS, &product));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(product, (name + L"\\Child").c_str(), 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &odd, nullptr));
        RegCloseKey(odd);
        RegCloseKey(product);

        EXPECT_EQ(2, RegistryCountSubkeys(HKEY_CURRENT_USER, At("Product").c_str()));
        EXPECT_EQ(1, RegistryDeleteTree(HKEY_CURRENT_USER, At("Product").c_str()));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, At("Product")));
        DeleteTree(HKEY_CURRENT_USER, At("Product"));
    }
}

class SharedCount : public PoolTest<16384> {
protected:
    void SetUp() override
    {
        PoolTest::SetUp();
        ASSERT_EQ(0, SharedCountInit(pool));
    }
    void TearDown() override
    {
        SharedCountShutdown();
        PoolTest::TearDown();
    }
};

TEST_F(SharedCount, AdjustsStoredCounts)
{
    const char file[] = "C:\\RemoverTest\\shared.dll";
    const char bystander[] = "C:\\RemoverTest\\other.dll";
    enum Start { NONE, DWORD_VALUE, TEXT_VALUE };
    struct Case {
        Start start; const char *startText; DWORD startNumber; int delta; int flag;
        int result; bool present; DWORD stored;
    };
    const Case cases[] = {
        {DWORD_VALUE, nullptr, 2, -1, 1, 1, true, 1},
        {DWORD_VALUE, nullptr, 1, -1, 1, 0, false, 0},      // zero counts are never kept
        {DWORD_VALUE, nullptr, 0, -1, 1, 0, false, 0},      // below zero becomes zero
        {NONE, nullptr, 0, -1, 1, -1, false, 0},            // nothing to give back
        {TEXT_VALUE, "3", 0, -1, 1, 2, true, 2},            // text count comes back as a number
        {TEXT_VALUE, " 12", 0, 1, 0, 13, true, 13},
        {NONE, nullptr, 0, 1, 0, 2, true, 2},               // new file: delta plus one
        {NONE, nullptr, 0, 1, 1, 1, true, 1},
        {DWORD_VALUE, nullptr, 5, 2, 0, 7, true, 7},
    };
    for (const Case &c : cases) {
        HKEY shared;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, SHARED_PATH, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &shared, nullptr));
        RegDeleteValueA(shared, file);
        DWORD seven = 7;
        RegSetValueExA(shared, bystander, 0, REG_DWORD, reinterpret_cast<BYTE *>(&seven), 4);
        if (c.start == DWORD_VALUE)
            RegSetValueExA(shared, file, 0, REG_DWORD,
                           reinterpret_cast<const BYTE *>(&c.startNumber), 4);
        if (c.start == TEXT_VALUE)
            RegSetValueExA(shared, file, 0, REG_SZ, reinterpret_cast<const BYTE *>(c.startText),
                           static_cast<DWORD>(strlen(c.startText) + 1));

        EXPECT_EQ(c.result, SharedCountAdjust(file, c.delta, c.flag))
            << "start " << c.startNumber << " delta " << c.delta << " flag " << c.flag;
        DWORD type = 0;
        std::vector<BYTE> data;
        bool present = GetRaw(HKEY_LOCAL_MACHINE, SHARED_PATH, file, &type, &data);
        EXPECT_EQ(c.present, present) << "start " << c.startNumber << " delta " << c.delta;
        if (present && c.present) {
            EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
            ASSERT_EQ(4u, data.size());
            DWORD stored;
            memcpy(&stored, data.data(), 4);
            EXPECT_EQ(c.stored, stored);
        }
        ASSERT_TRUE(GetRaw(HKEY_LOCAL_MACHINE, SHARED_PATH, bystander, &type, &data));
        EXPECT_EQ(7, data[0]) << "another file's count changed";
        RegDeleteValueA(shared, file);
        RegDeleteValueA(shared, bystander);
        RegCloseKey(shared);
    }
}

TEST_F(SharedCount, RefusesWorkWithoutManager)
{
    const char file[] = "C:\\RemoverTest\\unmanaged.dll";
    SharedCountShutdown();
    EXPECT_EQ(SHARED_COUNT_FAILED, SharedCountAdjust(file, 1, 0));
    DWORD type;
    std::vector<BYTE> data;
    EXPECT_FALSE(GetRaw(HKEY_LOCAL_MACHINE, SHARED_PATH, file, &type, &data));
    ASSERT_EQ(0, SharedCountInit(pool));
    EXPECT_EQ(2, SharedCountAdjust(file, 1, 0));
    EXPECT_EQ(0, SharedCountAdjust(file, -5, 1));
    EXPECT_FALSE(GetRaw(HKEY_LOCAL_MACHINE, SHARED_PATH, file, &type, &data));
}

}  // namespace
