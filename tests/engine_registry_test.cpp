// The registry record handlers: keys ("CRK") and values ("SRK") named by records, the product
// key ("URK") and the application's registration ("MRK") named by the log's header items, and
// the protected system keys that no log may remove.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/strlist.h"
#include "engine/engine.h"
#include "support/engine_fixture.h"
#include "support/locked_key.h"
#include "support/string_list.h"

using namespace enginetest;

namespace {

const std::string TEST_KEY = "Software\\EngTestReg";
// A protected key the test prefix does not have, so a regression deletes nothing of the system.
const std::string BLANK_KEY = "Software\\Microsoft\\Windows\\Current Version";

class RegistryRecords : public ::testing::Test {
protected:
    void SetUp() override
    {
        UsePlatform(Os::Nt3);
        EngineInit(0);
        state = PhaseState{0, 1, SessionGetPool(nullptr), nullptr, nullptr};
    }
    void TearDown() override
    {
        CloseLog();
        DeleteTree(HKEY_CURRENT_USER, TEST_KEY);
        DeleteTree(HKEY_LOCAL_MACHINE, TEST_KEY);
        for (const char *name : {"engtest-a.exe", "engtest-b.exe", "engtest-c.exe"})
            DeleteTree(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + name);
        DeleteTree(HKEY_LOCAL_MACHINE, std::string(UNINSTALL_KEY) + "EngTestRegEntry");
        DeleteTree(HKEY_LOCAL_MACHINE, BLANK_KEY);
        EngineShutdown();
        UsePlatform(Os::Other);
    }

    int Key(const std::string &text)
    {
        return RemoveRegistryKeyRecord(&state, PHASE_STEP, nullptr, text.c_str(), 0, nullptr);
    }

    int Value(const std::vector<std::string> &strings)
    {
        StringList *list = testlist::Make(strings);
        int r = RemoveRegistryValueRecord(&state, PHASE_STEP, nullptr, "", 0, list);
        ListDestroy(list);
        return r;
    }

    void OpenLog(const std::map<int, std::string> &items)
    {
        CloseLog();
        std::string path = dir / "install.log";
        ASSERT_TRUE(WriteLog(path, items, {}));
        state.log = LogOpen(path.c_str(), LOG_READ);
        ASSERT_NE(state.log, nullptr);
    }

    void CloseLog()
    {
        if (state.log)
            LogClose(state.log);
        state.log = nullptr;
    }

    int ProductKeys() { return RemoveProductKeys(&state, PHASE_STEP, nullptr, "", 0, nullptr); }
    int Registration()
    {
        return RemoveAppRegistration(&state, PHASE_STEP, nullptr, "", 0, nullptr);
    }

    testfs::TempDir dir;
    PhaseState state{};
};

// The keys that hold the system's settings or every product's data, under each of their names,
// with their parents; a key of one's own right below any of them stays removable.
TEST_F(RegistryRecords, ProtectedKeys)
{
    const HKEY LM = HKEY_LOCAL_MACHINE, CU = HKEY_CURRENT_USER, CR = HKEY_CLASSES_ROOT,
               US = HKEY_USERS;
    const std::string cv = "Software\\Microsoft\\Windows\\CurrentVersion\\";
    struct Case {
        HKEY root;
        std::string path;
        int removable;
    } cases[] = {
        {LM, "Software", 0},
        {LM, "\\SOFTWARE\\", 0},
        {LM, "software\\microsoft\\windows\\current version", 0},
        {LM, "Software\\Microsoft\\Windows\\CurrentVersion", 0},
        {LM, "Software\\Classes", 0},
        {LM, "Software\\Description", 0},
        {LM, "Software\\ODBC", 0},
        {LM, "hardware", 0},
        {LM, "Config", 0},
        {LM, "Enum", 0},
        {LM, "Network", 0},
        {LM, "SECURITY", 0},
        {LM, "SAM", 0},
        {LM, "System", 0},
        {LM, cv + "Uninstall", 0},
        {LM, cv + "App Paths", 0},
        {LM, cv + "SharedDLLs", 0},
        {LM, cv + "Run", 0},
        {LM, cv + "RunOnce", 0},
        {LM, cv + "Explorer", 0},
        {LM, cv + "Explorer\\Shell Folders", 0},
        {LM, "Software\\Microsoft\\Windows NT", 0},
        {LM, "Software\\Microsoft\\Windows NT\\CurrentVersion", 0},
        {LM, "System\\CurrentControlSet", 0},
        {LM, "System\\CurrentControlSet\\Services", 0},
        {LM, "System\\CurrentControlSet\\Control", 0},
        {LM, "System\\ControlSet001\\Services", 0},
        {LM, "Software\\Classes\\CLSID", 0},
        {LM, "Software\\Wow6432Node\\Classes\\CLSID", 0},
        {LM, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", 0},
        {LM, "Software\\EngTestReg", 1},
        {LM, "Software\\Wow6432Node\\EngTestReg", 1},
        {LM, "Software\\Classes\\CLSID\\{EngTestReg}", 1},
        {LM, cv + "Uninstall\\EngTestReg", 1},
        {LM, cv + "Run\\EngTestReg", 1},
        {LM, "System\\CurrentControlSet\\Services\\EngTestReg", 1},
        {LM, "Software\\\\Microsoft", 0},                 // names no key of its own
        {LM, "Control Panel", 1},
        {CU, "Control Panel", 0},
        {CU, "AppEvents", 0},
        {CU, "Environment", 0},
        {CU, "Keyboard Layout", 0},
        {CU, "Software\\Microsoft\\Windows", 0},
        {CU, "Software\\Classes", 0},
        {CU, "Software\\Classes\\CLSID", 0},
        {CU, cv + "Run", 0},
        {CU, "Software\\Classes\\EngTestReg.Doc", 1},
        {CU, "System", 1},
        {CR, "CLSID", 0},
        {CR, "*", 0},
        {CR, "Directory", 0},
        {CR, "Folder", 0},
        {CR, "Interface", 0},
        {CR, "TypeLib", 0},
        {CR, "AppID", 0},
        {CR, "Wow6432Node\\CLSID", 0},
        {CR, "CLSID\\{EngTestReg}", 1},
        {CR, ".txt", 1},
        {US, ".DEFAULT", 0},
        {US, "Default", 0},
        {US, "S-1-5-21-1-2-3-1000", 0},
        {US, ".DEFAULT\\Software\\Microsoft", 0},
        {US, "S-1-5-21-1-2-3-1000_Classes\\CLSID", 0},
        {US, ".DEFAULT\\Software\\EngTestReg", 1},
        {US, "S-1-5-21-1-2-3-1000_Classes\\EngTestReg.Doc", 1},
        {HKEY_CURRENT_CONFIG, "Software", 1},
        {LM, "", 0},
        {CU, "", 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(IsKeyRemovable(c.root, c.path.c_str()), c.removable) << c.path;
    }
    UsePlatform(Os::Win32s);
    EXPECT_EQ(IsKeyRemovable(HKEY_LOCAL_MACHINE, "Software"), 1) << "no check on Win32s";
    EXPECT_EQ(IsKeyRemovable(HKEY_LOCAL_MACHINE, ""), 0);
}

TEST_F(RegistryRecords, KeyRecords)
{
    struct Case {
        std::string text;
        int result;
        bool deleted;   // the test key is gone afterwards
    } cases[] = {
        {"-2147483647;" + TEST_KEY, 0, true},
        {"-2147483647;\\" + TEST_KEY + "\\", 0, true},
        {"  -2147483647;" + TEST_KEY + ";campo;otro", 0, true},
        {"2147483649;" + TEST_KEY, 0, true},            // the same handle, unsigned
        {"-2147483647;" + TEST_KEY + "\\NoEsta", 0, false},
        {"-2147483646;" + TEST_KEY, 0, false},          // another root
        {"12;" + TEST_KEY, -1, false},
        {"0;" + TEST_KEY, -1, false},
        {"-2147483644;" + TEST_KEY, -1, false},
        {";" + TEST_KEY, -1, false},
        {"-2147483647;", -1, false},
        {"-2147483647", -1, false},
        {"", -1, false},
        {std::string(261, '1') + ";" + TEST_KEY, -1, false},
        {"-2147483647;" + TEST_KEY + "\\" + std::string(PATH_MAX_BYTES - TEST_KEY.size() - 1, 'k'),
         0, false},
        {"-2147483647;" + TEST_KEY + "\\" + std::string(PATH_MAX_BYTES - TEST_KEY.size(), 'k'),
         -1, false},
        {"-2147483647;Software", -1, false},
        {"-2147483647;\\\\" + TEST_KEY, -1, false},
        {"-2147483647;" + TEST_KEY + "\\\\", -1, false},
        {"-2147483647;Software\\\\EngTestReg", -1, false},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, TEST_KEY + "\\Sub\\Deeper", "v", "1"));
        EXPECT_EQ(Key(c.text), c.result) << c.text;
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, TEST_KEY), !c.deleted) << c.text;
    }
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, TEST_KEY, "v", "1"));
    for (int mode : {PHASE_END, PHASE_CREATE, PHASE_DESTROY}) {
        EXPECT_EQ(RemoveRegistryKeyRecord(&state, mode, nullptr, "x", 0, nullptr), 0);
    }
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, TEST_KEY));
}

TEST_F(RegistryRecords, KeyRecordsOnWin32sSkipTheCheck)
{
    UsePlatform(Os::Win32s);
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, TEST_KEY + "\\Sub", "v", "1"));
    EXPECT_EQ(Key("-2147483647;" + TEST_KEY), 0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, TEST_KEY));
    EXPECT_EQ(Key("12;" + TEST_KEY), -1) << "a malformed record stays a failure";
}

TEST_F(RegistryRecords, ValueRecords)
{
    struct Case {
        std::vector<std::string> list;
        int result;
        bool deleted;
    } cases[] = {
        {{"-2147483647;" + TEST_KEY, "Quitar"}, 0, true},
        {{"-2147483647;\\" + TEST_KEY + "\\", "Quitar"}, 0, true},
        {{"-2147483647;" + TEST_KEY, "NoEsta"}, 0, false},
        {{"-2147483647;" + TEST_KEY, ""}, 0, false},
        {{"-2147483647;" + TEST_KEY}, 0, false},
        {{}, 0, false},
        {{"5;" + TEST_KEY, "Quitar"}, -1, false},
        {{";" + TEST_KEY, "Quitar"}, -1, false},
        {{"-2147483647;", "Quitar"}, -1, false},
        {{"-2147483647;Software\\\\EngTestReg", "Quitar"}, -1, false},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, TEST_KEY, "Quitar", "x"));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, TEST_KEY, "Queda", "y"));
        std::string what = c.list.empty() ? "<empty>" : c.list[0];
        EXPECT_EQ(Value(c.list), c.result) << what;
        EXPECT_EQ(GetValue(HKEY_CURRENT_USER, TEST_KEY, "Quitar") == "<missing>", c.deleted)
            << what;
        EXPECT_EQ(GetValue(HKEY_CURRENT_USER, TEST_KEY, "Queda"), "y");
    }
}

TEST_F(RegistryRecords, ProductKeyAndItsEmptyParents)
{
    const std::string company = TEST_KEY;   // items give "Software\" + company
    std::map<int, std::string> items = {{ITEM_COMPANY_KEY, "EngTestReg"},
                                        {ITEM_PRODUCT_KEY, "Parlo"},
                                        {ITEM_VERSION_KEY, "1.0"}};
    // A sibling product keeps the company key.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, company + "\\Parlo\\1.0\\Sub", "v", "1"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, company + "\\Otro\\2.0", "v", "1"));
    OpenLog(items);
    EXPECT_EQ(ProductKeys(), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, company + "\\Parlo"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, company + "\\Otro\\2.0"));
    EXPECT_EQ(ProductKeys(), WARN_REGISTRY) << "a second record finds the key gone";

    // Another version keeps the product key; values do not keep a parent.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, company + "\\Parlo\\1.0", "v", "1"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, company + "\\Parlo\\0.9", "v", "1"));
    EXPECT_EQ(ProductKeys(), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, company + "\\Parlo\\0.9"));
    DeleteTree(HKEY_LOCAL_MACHINE, company);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, company, "valor", "1"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, company + "\\Parlo", "valor", "1"));
    ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, company + "\\Parlo\\1.0"));
    EXPECT_EQ(ProductKeys(), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, company));

    // Items missing or naming no key of their own: nothing is deleted.
    const std::map<int, std::string> bad[] = {
        {{ITEM_COMPANY_KEY, "EngTestReg"}, {ITEM_PRODUCT_KEY, "Parlo"}},
        {{ITEM_PRODUCT_KEY, "Parlo"}, {ITEM_VERSION_KEY, "1.0"}},
        {{ITEM_COMPANY_KEY, "EngTestReg"}, {ITEM_PRODUCT_KEY, "Parlo"}, {ITEM_VERSION_KEY, "\\"}},
        {{ITEM_COMPANY_KEY, "EngTestReg\\"}, {ITEM_PRODUCT_KEY, "Parlo"},
         {ITEM_VERSION_KEY, "1.0"}},
    };
    for (const auto &b : bad) {
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, company + "\\Parlo\\1.0", "v", "1"));
        OpenLog(b);
        EXPECT_EQ(ProductKeys(), WARN_REGISTRY);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, company + "\\Parlo\\1.0"));
    }

    UsePlatform(Os::Win32s);
    OpenLog(items);
    EXPECT_EQ(ProductKeys(), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, company + "\\Parlo\\1.0")) << "left alone";
}

// Header items that compose a system key, or that are more than one key name, delete nothing
// there: the product key is refused with a warning, a system parent simply stays.
TEST_F(RegistryRecords, ItemsNamingKeysNotTheProductsDeleteNothingThere)
{
    const std::string own = BLANK_KEY + "\\EngTestReg";
    struct ProductCase {
        const char *product, *version;
        int result;
        bool ownGone;
    } products[] = {
        {"Windows", "Current Version", WARN_REGISTRY, false},
        {"Windows\\Current Version", "EngTestReg", 0, true},
    };
    for (const ProductCase &c : products) {
        SCOPED_TRACE(c.version);
        ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, own));
        OpenLog({{ITEM_COMPANY_KEY, "Microsoft"}, {ITEM_PRODUCT_KEY, c.product},
                 {ITEM_VERSION_KEY, c.version}});
        EXPECT_EQ(ProductKeys(), c.result);
        EXPECT_EQ(!KeyExists(HKEY_LOCAL_MACHINE, own), c.ownGone);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, BLANK_KEY));
    }

    const std::string inner = std::string(APP_PATHS_KEY) + "engtest-a.exe\\Inner";
    const std::string entryInner = std::string(UNINSTALL_KEY) + "EngTestRegEntry\\Inner";
    struct RegistrationCase {
        const char *appPath, *uninstall;
        bool entryGone;
    } registrations[] = {
        {"engtest-b.exe;engtest-a.exe\\Inner", "EngTestRegEntry\\Inner", false},
        {"engtest-a.exe\\Inner", "EngTestRegEntry", true},
    };
    for (const RegistrationCase &c : registrations) {
        SCOPED_TRACE(c.appPath);
        ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, inner));
        ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, entryInner));
        OpenLog({{ITEM_APP_PATH, c.appPath}, {ITEM_UNINSTALL_KEY, c.uninstall}});
        EXPECT_EQ(Registration(), WARN_REGISTRY);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, inner));
        EXPECT_EQ(!KeyExists(HKEY_LOCAL_MACHINE, entryInner), c.entryGone);
    }
}

TEST_F(RegistryRecords, AppRegistration)
{
    const std::string entry = std::string(UNINSTALL_KEY) + "EngTestRegEntry";
    struct Case {
        const char *appPath;
        const char *uninstall;
        int result;
        std::vector<bool> appKeysGone;   // a, b, c
        bool entryGone;
    } cases[] = {
        {"engtest-a.exe", "EngTestRegEntry", 0, {true, false, false}, true},
        {"engtest-a.exe;engtest-b.exe", "EngTestRegEntry", 0, {true, true, false}, true},
        {"engtest-a.exe;;engtest-b.exe", "EngTestRegEntry", 0, {true, false, false}, true},
        {";engtest-a.exe", "EngTestRegEntry", 0, {false, false, false}, true},
        {"engtest-a.exe;engtest-b.exe;engtest-c.exe", "", WARN_REGISTRY, {true, true, true}, false},
        {"", "EngTestRegEntry", WARN_REGISTRY, {false, false, false}, false},
        {"engtest-c.exe", "EngTestRegEntry\\", WARN_REGISTRY, {false, false, true}, false},
        {"engtest-c.exe", "\\", WARN_REGISTRY, {false, false, true}, false},
        {"\\", "EngTestRegEntry", WARN_REGISTRY, {false, false, false}, true},
    };
    const char *names[] = {"engtest-a.exe", "engtest-b.exe", "engtest-c.exe"};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.appPath) + " / " + c.uninstall);
        for (const char *n : names) {
            ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + n, "", n));
        }
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, entry, "DisplayName", "x"));
        OpenLog({{ITEM_APP_PATH, c.appPath}, {ITEM_UNINSTALL_KEY, c.uninstall}});
        EXPECT_EQ(Registration(), c.result);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(!KeyExists(HKEY_LOCAL_MACHINE, std::string(APP_PATHS_KEY) + names[i]),
                      c.appKeysGone[i])
                << names[i];
        }
        EXPECT_EQ(!KeyExists(HKEY_LOCAL_MACHINE, entry), c.entryGone);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY)) << "the list itself stays";
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, APP_PATHS_KEY));
    }
    OpenLog({{ITEM_APP_PATH, "engtest-a.exe"}, {ITEM_UNINSTALL_KEY, "EngTestRegEntry"}});
    EXPECT_EQ(Registration(), WARN_REGISTRY) << "a second record finds the entry gone";

    UsePlatform(Os::Win32s);
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, entry, "DisplayName", "x"));
    EXPECT_EQ(Registration(), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, entry));
}

}  // namespace

// A key the installation created that cannot be deleted (no delete access): what is below it
// goes, the key stays, and the record warns so that the removal is reported incomplete.
TEST_F(RegistryRecords, KeyWithoutDeleteAccessWarns)
{
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, TEST_KEY + "\\Sub\\Deeper", "v", "1"));
    testreg::LockedKey lock(HKEY_CURRENT_USER, TEST_KEY);
    ASSERT_TRUE(lock.Lock());
    ASSERT_TRUE(lock.DeniesDelete()) << "the key's rights do not deny deletion here";
    EXPECT_EQ(Key("-2147483647;" + TEST_KEY), WARN_REGISTRY);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, TEST_KEY));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, TEST_KEY + "\\Sub"));
    lock.Unlock();
    EXPECT_EQ(Key("-2147483647;" + TEST_KEY), 0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, TEST_KEY));
    EXPECT_EQ(Key("-2147483647;" + TEST_KEY), 0) << "a key already gone is no failure";
}

// The same for a value whose key does not let it be deleted.
TEST_F(RegistryRecords, ValueInAKeyWithoutWriteAccessWarns)
{
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, TEST_KEY, "Quitar", "x"));
    testreg::LockedKey lock(HKEY_CURRENT_USER, TEST_KEY);
    ASSERT_TRUE(lock.Lock());
    EXPECT_EQ(Value({"-2147483647;" + TEST_KEY, "Quitar"}), WARN_REGISTRY);
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, TEST_KEY, "Quitar"), "x");
    EXPECT_EQ(Value({"-2147483647;" + TEST_KEY, "NoEsta"}), 0) << "a value already gone";
    lock.Unlock();
    EXPECT_EQ(Value({"-2147483647;" + TEST_KEY, "Quitar"}), 0);
    EXPECT_EQ(GetValue(HKEY_CURRENT_USER, TEST_KEY, "Quitar"), "<missing>");
}
