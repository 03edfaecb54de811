#include "base/path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

namespace {

struct Case {
    const char *in;
    const char *out;
};

std::string Dir(const char *p)
{
    char out[PATH_SIZE];
    PathDir(p, out);
    return out;
}

std::string Parent(const char *p)
{
    char out[PATH_SIZE];
    PathParent(p, out);
    return out;
}

TEST(Path, DirKeepsOrDropsTheSeparatorByCount)
{
    const Case cases[] = {
        {"C:\\file", "C:\\"},          {"C:file", "C:"},
        {"C:dir\\file", "C:dir\\"},    {"\\file", "\\"},
        {"dir\\file", "dir\\"},        {"C:\\dir\\file", "C:\\dir"},
        {"\\\\server\\share\\file", "\\\\server\\share"},
        {"C:\\dir\\", "C:\\dir"},      {"file.txt", ""},
        {"dir\\file.txt", "dir\\"},    {"", ""},
        {"a/b/c", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.out, Dir(c.in)) << "PathDir(" << c.in << ")";
}

TEST(Path, DirWorksInPlace)
{
    char buf[PATH_SIZE] = "C:\\dir\\sub\\file";
    PathDir(buf, buf);
    EXPECT_STREQ("C:\\dir\\sub", buf);
}

TEST(Path, NameIsTextAfterLastSeparator)
{
    const Case cases[] = {
        {"C:\\dir\\file.txt", "file.txt"}, {"C:file", "file"}, {"file", "file"},
        {"C:\\dir\\", ""},                 {"a/b", "a/b"},     {"", ""},
    };
    for (const Case &c : cases) {
        char out[PATH_SIZE];
        PathName(c.in, out);
        EXPECT_STREQ(c.out, out) << "PathName(" << c.in << ")";
    }
}

TEST(Path, ParentFollowsTheRootRules)
{
    const Case cases[] = {
        {"C:\\a\\b", "C:\\a"}, {"C:\\a", "C:\\"},   {"\\a", "\\"},   {"a\\b", "a"},
        {"C:a", "C:"},         {"C:\\", "C:\\"},    {"a", ""},       {"\\", "\\"},
        {"C:\\a\\b\\", "C:\\a"}, {"C:", "C:"},      {"", ""},
        {"\\\\srv\\share", "\\\\srv"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.out, Parent(c.in)) << "PathParent(" << c.in << ")";
}

TEST(Path, WithSlashAndNoSlash)
{
    const Case with[] = {{"C:", "C:\\"}, {"C:\\", "C:\\"}, {"", "\\"}, {"C:\\dir", "C:\\dir\\"}};
    for (const Case &c : with) {
        char buf[PATH_SIZE];
        lstrcpyA(buf, c.in);
        EXPECT_EQ(1, PathWithSlash(buf));
        EXPECT_STREQ(c.out, buf) << "PathWithSlash(" << c.in << ")";
    }
    const Case without[] = {
        {"C:\\dir\\", "C:\\dir"}, {"C:\\", "C:\\"}, {"\\", "\\"}, {"C:\\dir\\\\", "C:\\dir\\"},
        {"dir", "dir"},           {"", ""},
    };
    for (const Case &c : without) {
        char buf[PATH_SIZE];
        lstrcpyA(buf, c.in);
        EXPECT_EQ(1, PathNoSlash(buf));
        EXPECT_STREQ(c.out, buf) << "PathNoSlash(" << c.in << ")";
    }
}

TEST(Path, JoinAndAppend)
{
    char out[PATH_SIZE];
    EXPECT_EQ(1, PathJoin(out, "C:\\dir", "a.txt"));
    EXPECT_STREQ("C:\\dir\\a.txt", out);
    EXPECT_EQ(1, PathJoin(out, "C:\\", "a.txt"));
    EXPECT_STREQ("C:\\a.txt", out);
    EXPECT_EQ(1, PathJoin(out, "", "a"));
    EXPECT_STREQ("\\a", out);
    char buf[PATH_SIZE] = "C:\\x";
    EXPECT_EQ(1, PathAppendName(buf, "y"));
    EXPECT_STREQ("C:\\x\\y", buf);
}

TEST(Path, JoinRefusesWhatDoesNotFitInsteadOfCutting)
{
    std::string dir = "C:\\" + std::string(250, 'd');   // 253 bytes
    char out[PATH_SIZE];
    EXPECT_EQ(1, PathJoin(out, dir.c_str(), "123456"));   // 253 + 1 + 6 = 260
    EXPECT_EQ(260, lstrlenA(out));
    EXPECT_EQ(0, PathJoin(out, dir.c_str(), "1234567"));
    EXPECT_STREQ("", out);

    char buf[PATH_SIZE];
    lstrcpyA(buf, dir.c_str());
    EXPECT_EQ(0, PathAppendName(buf, "1234567"));
    EXPECT_EQ(dir, buf) << "a refused append leaves the path as it was";

    std::string full(260, 'x');
    lstrcpyA(buf, full.c_str());
    EXPECT_EQ(0, PathWithSlash(buf));
    EXPECT_EQ(full, buf);

    // A cut copy of a longer path would name another folder: the result is empty instead.
    std::string deep = "C:\\" + std::string(150, 'a') + "\\" + std::string(150, 'b') + "\\f";
    for (void (*split)(const char *, char *) : {PathDir, PathParent}) {
        lstrcpyA(out, "stale");
        split(deep.c_str(), out);
        EXPECT_STREQ("", out);
    }
    lstrcpyA(out, "stale");
    PathName(("C:\\" + std::string(261, 'n')).c_str(), out);
    EXPECT_STREQ("", out);
    PathName(deep.c_str(), out);
    EXPECT_STREQ("f", out) << "a short name of a long path is whole";
}

TEST(Path, ExtensionTakesTheFirstDotOfTheName)
{
    char ext[PATH_SIZE], base[PATH_SIZE];
    EXPECT_EQ(1, PathExt("C:\\dir\\a.b.c", ext, base));
    EXPECT_STREQ("b.c", ext);
    EXPECT_STREQ("C:\\dir\\a", base);

    lstrcpyA(ext, "junk");
    EXPECT_EQ(0, PathExt("C:\\dir.x\\file", ext, base));
    EXPECT_STREQ("", ext);
    EXPECT_STREQ("C:\\dir.x\\file", base);

    EXPECT_EQ(1, PathExt("name.", ext, nullptr));
    EXPECT_STREQ("", ext);
    EXPECT_EQ(0, PathHasExt("name."));
    EXPECT_EQ(1, PathHasExt("C:\\x\\name.txt"));
    EXPECT_EQ(0, PathHasExt("C:\\x.y\\name"));

    lstrcpyA(ext, "keep");
    EXPECT_EQ(0, PathExt("", ext, nullptr));
    EXPECT_STREQ("keep", ext) << "an empty path writes nothing";

    // A path ending in a separator: the whole path is searched.
    EXPECT_EQ(1, PathExt("C:\\d.x\\", ext, base));
    EXPECT_STREQ("x\\", ext);

    // Over 260 bytes: refused whole, whether the dot is near the start or the end.
    for (const std::string &longPath : {"a." + std::string(300, 'y'), "C:\\" + std::string(300, 'd') + ".txt"}) {
        char area[64 + PATH_SIZE];
        memset(area, 'G', sizeof area);
        lstrcpyA(ext, "keep");
        EXPECT_EQ(0, PathExt(longPath.c_str(), ext, area + 64)) << longPath.size();
        EXPECT_STREQ("keep", ext);
        EXPECT_EQ(std::string(sizeof area, 'G'), std::string(area, sizeof area)) << "nothing written";
    }
}

TEST(Path, DropAndSetExtensionUseTheLastDotOfTheLastComponent)
{
    const struct {
        const char *in, *ext, *out;
    } cases[] = {
        {"C:\\d.x\\file", "tmp", "C:\\d.x\\file.tmp"},
        {"C:\\d.x\\file", "", "C:\\d.x\\file"},
        {"a.b.c", "", "a.b"},
        {"C:\\dir\\log.dat", "bak", "C:\\dir\\log.bak"},
    };
    for (const auto &c : cases) {
        char buf[PATH_SIZE];
        lstrcpyA(buf, c.in);
        EXPECT_EQ(1, PathSetExt(buf, c.ext));
        EXPECT_STREQ(c.out, buf) << "PathSetExt(" << c.in << ", " << c.ext << ")";
    }
    char buf[PATH_SIZE] = "C:\\d.x\\file";
    EXPECT_EQ(0, PathDropExt(buf));
    EXPECT_STREQ("C:\\d.x\\file", buf);
    lstrcpyA(buf, "a.b.c");
    EXPECT_EQ(1, PathDropExt(buf));
    EXPECT_STREQ("a.b", buf);

    std::string full(258, 'f');
    lstrcpyA(buf, full.c_str());
    EXPECT_EQ(0, PathSetExt(buf, "tmp"));
    EXPECT_EQ(full, buf);
}

TEST(Path, FieldSplitsListsIncludingEmptyFields)
{
    const char *src = "a;b;;c";
    char out[PATH_SIZE];
    const char *want[] = {"a", "b", "", "c"};
    const char *p = src;
    for (const char *w : want) {
        ASSERT_NE(nullptr, p);
        p = PathField(p, out, ';');
        ASSERT_NE(nullptr, p);
        EXPECT_STREQ(w, out);
    }
    EXPECT_EQ(src + 6, p);
    EXPECT_EQ(0, *p) << "the remainder after the last field is empty";

    const char *key = "Software\\Maker\\Product";
    p = PathField(key, out, '\\');
    EXPECT_STREQ("Software", out);
    EXPECT_STREQ("Maker\\Product", p);
}

TEST(Path, FieldOf260BytesFitsAnd261DoesNot)
{
    char out[PATH_SIZE + 16];
    std::string f260(260, 'a'), f261(261, 'a');
    const char *p = PathField((f260 + ";x").c_str(), out, ';');
    EXPECT_NE(nullptr, p);
    EXPECT_EQ(f260, out);
    EXPECT_EQ(nullptr, PathField((f261 + ";x").c_str(), out, ';'));
    EXPECT_EQ(nullptr, PathField(f261.c_str(), out, ';'));
}

TEST(Path, DriveTests)
{
    EXPECT_EQ(1, PathHasDrive("C:\\x"));
    EXPECT_EQ(1, PathHasDrive("z:\\"));
    EXPECT_EQ(0, PathHasDrive("C:x"));
    EXPECT_EQ(0, PathHasDrive("1:\\x"));
    EXPECT_EQ(0, PathHasDrive("\\\\srv\\x"));
    EXPECT_EQ(0, PathHasDrive(nullptr));

    EXPECT_EQ(1, PathIsDriveSpec("C:"));
    EXPECT_EQ(1, PathIsDriveSpec("C:\\"));
    EXPECT_EQ(1, PathIsDriveSpec("7:"));
    EXPECT_EQ(0, PathIsDriveSpec("C:\\x"));
    EXPECT_EQ(0, PathIsDriveSpec("C:\\\\"));
    EXPECT_EQ(0, PathIsDriveSpec("CD:"));
    EXPECT_EQ(0, PathIsDriveSpec(""));
}

TEST(Path, LastChar)
{
    const char *s = "abc";
    EXPECT_EQ(s + 2, PathLastChar(s));
    const char *e = "";
    EXPECT_EQ(e, PathLastChar(e));
}

}  // namespace
