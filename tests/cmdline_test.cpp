#include "shell/cmdline.h"

#include "support/dbcs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
    const char *text;
    int deleteMode, automaticMode, runSession, interactive;
    const char *logPath;
};

CommandLine Parse(const char *text, const char *before = "")
{
    CommandLine cl{};
    lstrcpyA(cl.logPath, before);
    EXPECT_EQ(1, ParseCommandLine(text, &cl));
    return cl;
}

// Each case parses to its modes and path, never refusing the path.
template <size_t N>
void ExpectParses(const ParseCase (&cases)[N])
{
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(std::string("command line [") + c.text + "]");
        CommandLine cl = Parse(c.text);
        EXPECT_EQ(c.deleteMode, cl.deleteMode);
        EXPECT_EQ(c.automaticMode, cl.automaticMode);
        EXPECT_EQ(c.runSession, cl.runSession);
        EXPECT_EQ(c.interactive, cl.interactive);
        EXPECT_STREQ(c.logPath, cl.logPath);
        EXPECT_EQ(0, cl.pathRefused);
    }
}

TEST(CommandLine, ModesAndPaths)
{
    const ParseCase cases[] = {
        // no option at all: interactive, the session opens with an empty path
        {"", 0, 0, 0, 1, ""},
        {"   ", 0, 0, 0, 1, ""},
        {"hello world", 0, 0, 0, 1, ""},
        {"-fC:\\p\\install.log", 0, 0, 1, 1, "C:\\p\\install.log"},
        {"-FC:\\p\\a.log", 0, 0, 1, 1, "C:\\p\\a.log"},
        {"/fC:\\p\\a.log", 0, 0, 1, 1, "C:\\p\\a.log"},
        {"/FC:\\p\\a.log", 0, 0, 1, 1, "C:\\p\\a.log"},
        // quotes keep blanks and are not part of the path
        {"-f\"C:\\Program Files\\P\\install.log\"", 0, 0, 1, 1, "C:\\Program Files\\P\\install.log"},
        {"-f\"C:\\a b\\x.log\" -a", 0, 1, 1, 0, "C:\\a b\\x.log"},
        // an unclosed quote runs to the end of the text
        {"-f\"C:\\a b\\x.log", 0, 0, 1, 1, "C:\\a b\\x.log"},
        // a blank between the letter and the path makes the argument empty
        {"-f C:\\p\\a.log", 0, 0, 1, 1, ""},
        {"-f \"C:\\p\\a.log\"", 0, 0, 1, 1, ""},
        {"-a -fC:\\p\\a.log", 0, 1, 1, 0, "C:\\p\\a.log"},
        {"-A /FC:\\p\\a.log", 0, 1, 1, 0, "C:\\p\\a.log"},
        {"-a", 0, 1, 0, 0, ""},
        {"-dC:\\tmp\\x.exe", 1, 1, 0, 0, "C:\\tmp\\x.exe"},
        {"/DC:\\tmp\\x.exe", 1, 1, 0, 0, "C:\\tmp\\x.exe"},
        // -d and -f share one path: the later one wins
        {"-dC:\\d.txt -fC:\\f.log", 1, 1, 1, 0, "C:\\f.log"},
        {"-fC:\\f.log -dC:\\d.txt", 1, 1, 1, 0, "C:\\d.txt"},
        // unknown letters are ignored, and so is text between options
        {"-x -fC:\\a.log", 0, 0, 1, 1, "C:\\a.log"},
        {"-xyz -q /z", 0, 0, 0, 1, ""},
        // a second option written right behind -a is passed over with the separator
        {"-a-fC:\\a.log", 0, 1, 0, 0, ""},
        {"-a -a", 0, 1, 0, 0, ""},
        // a lone option mark at the end is not read past the terminator
        {"-", 0, 0, 0, 1, ""},
        {"-fC:\\a.log -", 0, 0, 1, 1, "C:\\a.log"},
        {"/", 0, 0, 0, 1, ""},
        // path text itself is never read as options
        {"-fC:\\my-a\\x.log", 0, 0, 1, 1, "C:\\my-a\\x.log"},
        {"-f\"C:\\x -a\\y.log\"", 0, 0, 1, 1, "C:\\x -a\\y.log"},
        // an option starts a word: a mark inside the rest of an unquoted path is text
        {"-fC:\\Program Files\\Parlo/dat\\x.log", 0, 0, 1, 1, "C:\\Program"},
        {"-fC:\\Mis Programas\\a-a\\x.log", 0, 0, 1, 1, "C:\\Mis"},
    };
    ExpectParses(cases);
}

// What cannot be run as written is refused whole; what the options allow stays allowed.
TEST(CommandLine, MalformedLinesAreRefused)
{
    const std::string tooLong = "C:\\" + std::string(PATH_MAX_BYTES, 'a');
    const struct {
        std::string text;
        int malformed;
    } cases[] = {
        {"-l", 1}, {"-a -fC:\\x.log -l", 1}, {"-l C:\\r.txt -a -fC:\\x.log", 1}, {"-l\"\"", 1},
        {"-d", 1}, {"-d -fC:\\x.log", 1}, {"-f" + tooLong, 1}, {"-d\"" + tooLong + "\"", 1},
        {"-n -dC:\\x.tmp", 1}, {"-a -fC:\\x.log -lC:\\r.txt", 0}, {"-f C:\\x.log", 0}, {"", 0},
        {"-x", 0}, {"-N -fC:\\x.log", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("command line [" + c.text.substr(0, 40) + "]");
        EXPECT_EQ(c.malformed, Parse(c.text.c_str()).malformed);
    }
}

TEST(CommandLine, NullTextIsAnEmptyCommandLine)
{
    CommandLine cl = Parse(nullptr);
    EXPECT_EQ(1, cl.interactive);
    EXPECT_STREQ("", cl.logPath);
}

TEST(CommandLine, EmptyArgumentKeepsThePathBefore)
{
    EXPECT_STREQ("C:\\old.log", Parse("-f", "C:\\old.log").logPath);
    EXPECT_STREQ("C:\\old.log", Parse("-f \"x\"", "C:\\old.log").logPath);
    EXPECT_STREQ("C:\\old.log", Parse("-f\"\"", "C:\\old.log").logPath);
    EXPECT_STREQ("C:\\old.log", Parse("-fC:\\old.log -d", "").logPath);
}

TEST(CommandLine, ClearsModesOfAnEarlierParse)
{
    CommandLine cl{};
    ParseCommandLine("-dC:\\x -fC:\\y", &cl);
    ParseCommandLine("", &cl);
    EXPECT_EQ(0, cl.deleteMode);
    EXPECT_EQ(0, cl.automaticMode);
    EXPECT_EQ(0, cl.runSession);
    EXPECT_EQ(1, cl.interactive);
}

TEST(CommandLine, PathsOfTheLimitFitAndLongerOnesAreRefusedNotCut)
{
    const std::string dir = "C:\\";
    const std::string fits = dir + std::string(PATH_MAX_BYTES - dir.size(), 'a');
    const std::string tooLong = fits + "b";
    struct {
        std::string text;
        std::string logPath;
        int refused;
        int deleteMode;
    } cases[] = {
        {"-f" + fits, fits, 0, 0},
        {"-f\"" + fits + "\"", fits, 0, 0},
        {"-f" + tooLong, "", 1, 0},
        {"-f\"" + tooLong + "\"", "", 1, 0},
        // an earlier good path is not left behind for the deletion to act on
        {"-fC:\\p\\install.log -d" + tooLong, "", 1, 1},
        // the refused argument is skipped whole: nothing inside it is read as an option
        {"-d\"" + tooLong + " -fC:\\x\"", "", 1, 1},
        // a later argument that fits is used as usual
        {"-f" + tooLong + " -fC:\\ok.log", "C:\\ok.log", 1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("command line of " + std::to_string(c.text.size()) + " bytes: " +
                     c.text.substr(0, 12) + "...");
        CommandLine cl = Parse(c.text.c_str(), "C:\\before.log");
        EXPECT_EQ(c.logPath, cl.logPath);
        EXPECT_EQ(c.refused, cl.pathRefused);
        EXPECT_EQ(c.deleteMode, cl.deleteMode);
    }
}

TEST(CommandLine, ReadArgumentStopsBehindTheArgument)
{
    struct {
        const char *text;
        const char *value;
        int consumed;
    } cases[] = {
        {"abc def", "abc", 3},
        {"\"a b\" c", "a b", 5},
        {"\"a b", "a b", 4},
        {" x", "", 0},
        {"", "", 0},
        {"\"\"x", "", 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        char dest[PATH_SIZE] = "";
        int refused = 0;
        const char *end = ReadArgument(dest, sizeof dest, c.text, &refused);
        EXPECT_STREQ(c.value, dest);
        EXPECT_EQ(c.consumed, end - c.text);
        EXPECT_EQ(0, refused);
    }
}

TEST(CommandLine, ReadArgumentHonoursTheDestinationSize)
{
    char dest[8];
    memset(dest, 'z', sizeof dest);
    int refused = 0;
    const char *text = "12345678 rest";
    EXPECT_EQ(text + 8, ReadArgument(dest, 8, text, &refused));
    EXPECT_EQ(1, refused);
    EXPECT_EQ('\0', dest[0]);
    EXPECT_EQ('z', dest[7]) << "nothing written past the emptied path";

    refused = 0;
    const char *fits = "1234567";
    EXPECT_EQ(fits + 7, ReadArgument(dest, 8, fits, &refused));
    EXPECT_STREQ("1234567", dest);
    EXPECT_EQ(0, refused);
}

// Under code page 932 a lead byte (0x81) takes the next byte with it, whatever that byte is:
// a '-', '/', blank or quote there is part of the character, never an option mark or the end
// of an argument.
TEST(CommandLineDbcs, DoubleByteCharactersAreWalkedWhole)
{
    REQUIRE_DBCS();
    const ParseCase cases[] = {
        {"-fC:\\" DBCS_TRAIL_A "\\x.log", 0, 0, 1, 1, "C:\\" DBCS_TRAIL_A "\\x.log"},
        {"-f\"C:\\" DBCS_TRAIL_BACKSLASH " b\\x.log\"", 0, 0, 1, 1,
         "C:\\" DBCS_TRAIL_BACKSLASH " b\\x.log"},
        {"\x81-a -fC:\\y.log", 0, 0, 1, 1, "C:\\y.log"},
        {"\x81/d", 0, 0, 0, 1, ""},
    };
    ExpectParses(cases);
}

TEST(CommandLineDbcs, LeadByteBeforeQuoteOrBlankKeepsTheArgumentWhole)
{
    REQUIRE_DBCS();
    char dest[PATH_SIZE] = "";
    int refused = 0;
    const char *text = "\"a\x81\" b\" c";
    const char *end = ReadArgument(dest, sizeof dest, text, &refused);
    EXPECT_STREQ("a\x81\" b", dest);
    EXPECT_EQ(text + 7, end);

    const char *plain = "a\x81 b c";
    end = ReadArgument(dest, sizeof dest, plain, &refused);
    EXPECT_STREQ("a\x81 b", dest);
    EXPECT_EQ(plain + 4, end);
}

}  // namespace
