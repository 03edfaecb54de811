// One place, many spellings: the canonical spelling and the identity of real files and folders
// of the test prefix, reached through device prefixes, other drives, links and short names.
#include "base/ident.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "support/dbcs.h"
#include "support/spellings.h"
#include "support/tempdir.h"

namespace {

using spell::HostLink;
using spell::ThroughOtherDrive;
using spell::VolumeSpelling;

std::string Canonical(const std::string &path)
{
    char out[PATH_SIZE] = "junk";
    int ok = IdentCanonical(path.c_str(), out);
    EXPECT_EQ(ok != 0, out[0] != '\0') << path << ": a refusal leaves out empty";
    return ok ? out : "<refused>";
}

std::string ShortName(const std::string &path)
{
    char out[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(path.c_str(), out, sizeof out);
    return n && n < sizeof out ? out : "";
}

class Ident : public ::testing::Test {
protected:
    void SetUp() override
    {
        IdentForget();
        folder = dir / "Carpeta larga de prueba";
        file = folder + "\\Archivo largo.txt";
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        ASSERT_TRUE(testfs::WriteBytes(file, "x"));
        win = testfs::WindowsDir();
        win.pop_back();
        ini = win + "\\win.ini";
    }

    testfs::TempDir dir;
    std::string folder, file, win, ini;
};

TEST_F(Ident, EverySpellingHasOneCanonicalFormOrIsRefused)
{
    std::string shortFolder = ShortName(folder);
    ASSERT_NE("", shortFolder);
    HostLink link(dir / "enlace", win);
    ASSERT_TRUE(link.ok());
    const std::string refused = "<refused>";
    struct Case {
        std::string in, out;
    } cases[] = {
        {ini, ini},
        {"//./" + ini.substr(0, 2) + "/" + spell::Respelled(ini.substr(3), '\\', '/'), ini},
        {"\\/.\\" + ini, ini},
        {"//?/" + ini, ini},
        {"\\??\\" + ini, ini},
        {"\\\\?\\UNC\\server\\share\\x.dll", "\\\\server\\share\\x.dll"},
        {VolumeSpelling(ini), ini},
        {win + "\\system32\\..\\win.ini", ini},
        {ini.substr(0, 3) + "..\\..\\" + ini.substr(3), ini},   // ".." over the root stays there
        {ini + ". ", ini},
        {win + "\\.\\win.ini", ini},
        {ThroughOtherDrive(ini), ini},
        {dir / "enlace\\win.ini", ini},                           // a link on the way
        {shortFolder + "\\Archivo largo.txt", file},
        {shortFolder + "\\falta\\nuevo.txt", folder + "\\falta\\nuevo.txt"},
        {ShortName(file), file},
        {folder + "\\", folder},
        {"C:", refused},                                          // drive-relative
        {"C:win.ini", refused},
        {"\\windows\\win.ini", refused},
        {"\\\\?\\" + win + "\\.\\win.ini", refused},              // literal: another name
        {"\\\\?\\" + ini + ".", refused},
        {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\boot.ini", refused},
        {"\\\\.\\PhysicalDrive0", refused},
        {"\\\\.\\pipe\\x", refused},
        {ini + "::$DATA", refused},
        {win + "\\win*.ini", refused},
        {"C:\\" + std::string(PATH_MAX_BYTES, 'x'), refused},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        ASSERT_NE("", c.in) << "the spelling could not be made here";
        std::string got = Canonical(c.in);
        EXPECT_TRUE(IdentSameName(got.c_str(), c.out.c_str())) << got << " != " << c.out;
    }
    EXPECT_EQ(refused, Canonical(""));
}

TEST_F(Ident, IdentityIsTheSameThroughEverySpellingAndHardLink)
{
    std::string hard = dir / "duro.txt";
    ASSERT_TRUE(CreateHardLinkA(hard.c_str(), file.c_str(), nullptr));
    FileIdent original, other, missing;
    ASSERT_TRUE(IdentRead(file.c_str(), &original));
    for (const std::string &p : {hard, ThroughOtherDrive(file), ShortName(file),
                                 "//./" + spell::Respelled(file, '\\', '/')}) {
        SCOPED_TRACE(p);
        ASSERT_TRUE(IdentRead(p.c_str(), &other));
        EXPECT_TRUE(IdentSame(original, other));
    }
    ASSERT_TRUE(IdentRead(ini.c_str(), &other));
    EXPECT_FALSE(IdentSame(original, other)) << "another file";
    EXPECT_FALSE(IdentRead((folder + "\\falta.txt").c_str(), &missing));
    EXPECT_FALSE(IdentSame(missing, missing)) << "unknown is never the same";
    FileIdent a, b;
    ASSERT_TRUE(IdentRead(folder.c_str(), &a));
    ASSERT_TRUE(IdentRead(ThroughOtherDrive(folder).c_str(), &b));
    EXPECT_TRUE(IdentSame(a, b)) << "folders too";
}

TEST(IdentCompare, IsOrdinalAndIgnoresCase)
{
    struct Case {
        const char *a, *b;
        int sign;
    } cases[] = {
        {"C:\\Windows\\WIN.INI", "c:\\windows\\win.ini", 0},
        {"\xc9t\xe9", "\xe9T\xc9", 0},               // accented letters of code page 1252
        {"Stra\xdf" "e", "STRASSE", 1},              // no linguistic expansion
        {"a", "b", -1},
        {"ab", "a", 1},
        {"", "", 0},
    };
    for (const Case &c : cases) {
        int got = IdentCompare(c.a, c.b);
        EXPECT_EQ(c.sign, (got > 0) - (got < 0)) << c.a << " vs " << c.b;
    }
}

TEST(IdentDbcs, TrailBytesThatLookLikeSlashesStayAsTheyAre)
{
    REQUIRE_DBCS();
    char out[PATH_SIZE];
    ASSERT_TRUE(IdentCanonical("C:/no-existe/" DBCS_TRAIL_BACKSLASH "/a.txt", out));
    EXPECT_STREQ("C:\\no-existe\\" DBCS_TRAIL_BACKSLASH "\\a.txt", out);
}

}  // namespace
