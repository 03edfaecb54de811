#include "base/path.h"
#include "base/str.h"
#include "support/dbcs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Trim(const char *s)
{
    char buf[64];
    lstrcpyA(buf, s);
    EXPECT_EQ(1, StrTrimBlanks(buf));
    return buf;
}

TEST(Str, TrimBlanks)
{
    EXPECT_EQ("", Trim("   \t "));
    EXPECT_EQ("ab", Trim("     ab "));
    EXPECT_EQ("a b", Trim("\ta b\t"));
    EXPECT_EQ("ab", Trim("ab"));
    EXPECT_EQ("", Trim(""));
    EXPECT_EQ(0, StrTrimBlanks(nullptr));
}

TEST(Str, NextCharStopsAtTheTerminator)
{
    const char *s = "ab";
    EXPECT_EQ(s + 1, StrNextChar(s));
    EXPECT_EQ(s + 2, StrNextChar(s + 1));
    EXPECT_EQ(s + 2, StrNextChar(s + 2)) << "a walk that adds a character there writes at the end";
    EXPECT_EQ(s, StrPrevChar(s, s));
    EXPECT_EQ(s, StrPrevChar(s, s + 1));
}

TEST(Str, CopyBytesCopiesExactlyCount)
{
    char dst[8] = "xxxxxxx";
    StrCopyBytes(dst, "abc", 0);
    EXPECT_STREQ("xxxxxxx", dst);
    StrCopyBytes(dst, "ab\0cd", 5);
    EXPECT_EQ(0, memcmp(dst, "ab\0cdxx", 8));
    EXPECT_EQ(2, StrByteLength(dst));
    EXPECT_EQ(0, StrByteLength(""));
}

TEST(Str, SameCharSingleByte)
{
    EXPECT_EQ(1, StrSameChar("a", "abc"));
    EXPECT_EQ(0, StrSameChar("a", "A")) << "case-sensitive";
    EXPECT_EQ(1, StrSameChar("", ""));
}

// The following run only under code page 932 (the program's second CTest entry).

TEST(StrDbcs, CharacterWalksTreatDoubleByteCharactersWhole)
{
    REQUIRE_DBCS();
    const char *s = DBCS_TRAIL_BACKSLASH "x";
    EXPECT_EQ(1, StrIsDoubleByte(s));
    EXPECT_EQ(s + 2, StrNextChar(s));
    EXPECT_EQ(0, StrIsDoubleByte(s + 2));
    EXPECT_EQ(s, StrPrevChar(s, s + 2));
}

TEST(StrDbcs, SameCharComparesWholeCharacters)
{
    REQUIRE_DBCS();
    EXPECT_EQ(1, StrSameChar(DBCS_TRAIL_A, DBCS_TRAIL_A "z"));
    EXPECT_EQ(0, StrSameChar(DBCS_TRAIL_A, "\x83\x42"));
    EXPECT_EQ(0, StrSameChar("A", DBCS_TRAIL_A)) << "single byte against a double-byte character";
    EXPECT_EQ(0, StrSameChar(DBCS_TRAIL_A, "A"));
}

TEST(StrDbcs, TrimKeepsATrailingDoubleByteCharacter)
{
    REQUIRE_DBCS();
    EXPECT_EQ("x" DBCS_TRAIL_BACKSLASH, Trim("  x" DBCS_TRAIL_BACKSLASH "  "));
}

TEST(StrDbcs, PathsNeverTakeATrailByteForABackslash)
{
    REQUIRE_DBCS();
    char buf[PATH_SIZE];

    // The last character ends in 0x5C but is not a backslash: one must still be appended.
    lstrcpyA(buf, "C:\\" DBCS_TRAIL_BACKSLASH);
    PathWithSlash(buf);
    EXPECT_STREQ("C:\\" DBCS_TRAIL_BACKSLASH "\\", buf);

    lstrcpyA(buf, "C:\\dir\\" DBCS_TRAIL_BACKSLASH);
    PathNoSlash(buf);
    EXPECT_STREQ("C:\\dir\\" DBCS_TRAIL_BACKSLASH, buf) << "the trail byte must not be removed";

    PathName("C:\\dir\\a" DBCS_TRAIL_BACKSLASH "b", buf);
    EXPECT_STREQ("a" DBCS_TRAIL_BACKSLASH "b", buf);

    PathDir("C:\\a" DBCS_TRAIL_BACKSLASH "b", buf);
    EXPECT_STREQ("C:\\", buf);

    PathParent("C:\\d\\x" DBCS_TRAIL_BACKSLASH "y", buf);
    EXPECT_STREQ("C:\\d", buf);

    const char *list = "a" DBCS_TRAIL_BACKSLASH "b\\c";
    const char *p = PathField(list, buf, '\\');
    EXPECT_STREQ("a" DBCS_TRAIL_BACKSLASH "b", buf);
    EXPECT_STREQ("c", p);

    EXPECT_EQ(1, PathIsDriveSpec(DBCS_TRAIL_A ":"));
    const char *s = "ab" DBCS_TRAIL_BACKSLASH;
    EXPECT_EQ(s + 2, PathLastChar(s));
}

TEST(StrDbcs, FieldDoesNotSplitACharacterAtTheLimit)
{
    REQUIRE_DBCS();
    char out[PATH_SIZE + 16];
    std::string f = std::string(258, 'a') + DBCS_TRAIL_A;   // exactly 260 bytes
    EXPECT_NE(nullptr, PathField(f.c_str(), out, ';'));
    std::string g = std::string(259, 'a') + DBCS_TRAIL_A;   // 261: the character would not fit
    EXPECT_EQ(nullptr, PathField(g.c_str(), out, ';'));
}

}  // namespace
