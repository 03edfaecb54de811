// Removals that meet what they cannot remove: a file another program holds open (left for the
// next restart, with the folders it alone keeps), a read-only file, a key and the product key without delete access, a value its key will not give up. Each run goes on to the end, says that
// the removal is incomplete, and removes everything else the log names.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/session_internal.h"
#include "support/engine_fixture.h"
#include "support/locked_key.h"
#include "support/pending_restart.h"

using namespace enginetest;

namespace {

// What the log names that is still there (the sibling product's key and the shared file still
// counted by another product are not the installation's to remove).
std::vector<std::string> Remaining(const World &w)
{
    std::vector<std::string> left;
    for (const std::string &f : w.Files())
        if (testfs::IsFile(f))
            left.push_back(f);
    for (const std::string &f : {w.sharedLast, w.groupDir + "\\Parlo.lnk", w.groupDir + "\\Leeme.lnk"})
        if (testfs::IsFile(f))
            left.push_back(f);
    for (const std::string &d : {w.audio, w.data, w.app, w.groupDir})
        if (testfs::IsDir(d))
            left.push_back(d);
    if (GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedLast) != "<missing>")
        left.push_back("count of " + w.sharedLast);
    for (const std::string &k : {w.ProductKey() + "\\Opciones", w.ProductKey(),
                                 "Software\\" + w.company + "\\Parlo",
                                 std::string(APP_PATHS_KEY) + "parlo.exe", w.UninstallEntry()})
        if (KeyExists(HKEY_LOCAL_MACHINE, k))
            left.push_back("HKLM\\" + k);
    for (const std::string &k : {"Software\\" + w.company + "\\Parlo\\Prefs",
                                 "Software\\" + w.company + "\\Parlo"})
        if (KeyExists(HKEY_CURRENT_USER, k))
            left.push_back("HKCU\\" + k);
    if (GetValue(HKEY_CURRENT_USER, w.userKey, "Idioma") != "<missing>")
        left.push_back("value Idioma");
    return left;
}

// Something in the way, set up before the run and taken away after it.
struct Obstacle {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string readOnly;
    std::unique_ptr<testreg::LockedKey> key;

    ~Obstacle() { Clear(); }
    void Clear()
    {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        if (!readOnly.empty())
            SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
        readOnly.clear();
        key.reset();
    }
};

struct Case {
    const char *what;
    int status;   // the run's exit status
    std::function<::testing::AssertionResult(const World &, Obstacle &)> place;
    std::function<std::vector<std::string>(const World &)> stays;
};

::testing::AssertionResult LockKey(Obstacle &o, HKEY root, const std::string &path)
{
    o.key.reset(new testreg::LockedKey(root, path));
    if (!o.key->Lock())
        return ::testing::AssertionFailure() << "cannot change the rights of " << path;
    if (!o.key->DeniesDelete())
        return ::testing::AssertionFailure() << "the rights of " << path << " do not deny deletion";
    return ::testing::AssertionSuccess();
}

const Case CASES[] = {
    {"a file held open by another program", 3010,
     [](const World &w, Obstacle &o) {
         // Readers that do not share deletion, as a running program holds its data.
         o.file = CreateFileA(w.Files()[2].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
         return o.file != INVALID_HANDLE_VALUE ? ::testing::AssertionSuccess()
                                               : ::testing::AssertionFailure() << "cannot open";
     },
     [](const World &w) { return std::vector<std::string>{w.Files()[2], w.data, w.app}; }},
    {"a read-only file", 1,
     [](const World &w, Obstacle &o) {
         o.readOnly = w.Files()[1];
         return SetFileAttributesA(o.readOnly.c_str(), FILE_ATTRIBUTE_READONLY)
                    ? ::testing::AssertionSuccess()
                    : ::testing::AssertionFailure() << "cannot make it read-only";
     },
     [](const World &w) { return std::vector<std::string>{w.Files()[1], w.app}; }},
    {"a key of the log without delete access", 1,
     [](const World &w, Obstacle &o) {
         return LockKey(o, HKEY_CURRENT_USER, "Software\\" + w.company + "\\Parlo");
     },
     [](const World &w) {
         return std::vector<std::string>{"HKCU\\Software\\" + w.company + "\\Parlo"};
     }},
    {"a value of the log in a key without write access", 1,
     [](const World &w, Obstacle &o) { return LockKey(o, HKEY_CURRENT_USER, w.userKey); },
     [](const World &) { return std::vector<std::string>{"value Idioma"}; }},
    {"the product key without delete access", 1,
     [](const World &w, Obstacle &o) { return LockKey(o, HKEY_LOCAL_MACHINE, w.ProductKey()); },
     [](const World &w) {
         return std::vector<std::string>{"HKLM\\" + w.ProductKey(),
                                         "HKLM\\Software\\" + w.company + "\\Parlo"};
     }},
};

class RobustRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        UsePlatform(Os::Windows4);
        EngineInit(0);
    }
    void TearDown() override
    {
        EngineShutdown();
        UsePlatform(Os::Other);
    }
};

TEST_F(RobustRun, WhatCannotBeRemovedStaysAndTheRestGoes)
{
    int n = 0;
    for (const Case &c : CASES) {
        SCOPED_TRACE(c.what);
        restarttest::PendingScope pending;
        World w("Obst" + std::to_string(++n));
        ASSERT_TRUE(w.Build());
        ASSERT_TRUE(w.WriteTheLog(w.Records()));
        Obstacle obstacle;
        ASSERT_TRUE(c.place(w, obstacle));

        Session *session = SessionCreate(w.logPath.c_str(), RecordReport);
        ASSERT_NE(nullptr, session);
        ASSERT_EQ(0, SessionStart(session, 0));
        std::vector<int> steps = StepToEnd(session);
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(1, steps.back()) << "the run did not go on to the end";
        EXPECT_TRUE(Reports().empty()) << "an obstacle is no error: " << Reports()[0].code;
        EXPECT_TRUE(session->incomplete || session->scheduled) << "the removal is incomplete";
        EXPECT_EQ(c.status, SessionExitStatus(session));
        EXPECT_EQ(ClosingText(c.status), DialogMessage(session));
        ASSERT_EQ(0, SessionClose(session));

        EXPECT_FALSE(testfs::IsFile(w.logPath)) << "a finished run keeps no log";
        EXPECT_FALSE(testfs::IsFile(TempLogName(1))) << "nor its working copy";
        if (!obstacle.readOnly.empty()) {
            EXPECT_TRUE(GetFileAttributesA(obstacle.readOnly.c_str()) & FILE_ATTRIBUTE_READONLY)
                << "the file's attributes were changed";
        }
        obstacle.Clear();
        EXPECT_EQ(c.stays(w), Remaining(w));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, w.SiblingKey()));
        EXPECT_EQ("1", GetValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, w.sharedKept));
        EXPECT_EQ("queda", GetValue(HKEY_CURRENT_USER, w.userKey, "Otro"));
        Reports().clear();
    }
}

}  // namespace
