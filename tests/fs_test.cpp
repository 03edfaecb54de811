#include "base/fs.h"

#include "base/path.h"
#include "support/dbcs.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using testfs::IsDir;
using testfs::IsFile;
using testfs::Pattern;
using testfs::ReadBytes;
using testfs::TempDir;
using testfs::WriteBytes;

namespace {

FILETIME WriteTime(const std::string &path)
{
    WIN32_FIND_DATAA found = {};
    HANDLE h = FindFirstFileA(path.c_str(), &found);
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
    return found.ftLastWriteTime;
}

void SetWriteTime(const std::string &path, int year)
{
    SYSTEMTIME st = {};
    st.wYear = WORD(year);
    st.wMonth = 3;
    st.wDay = 14;
    st.wHour = 15;
    st.wMinute = 9;
    st.wSecond = 26;
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
}

bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

TEST(Fs, ExistsFindsFilesDirectoriesAndWildcardMatches)
{
    TempDir t;
    ASSERT_TRUE(WriteBytes(t / "a.txt", "x"));
    CreateDirectoryA((t / "sub").c_str(), nullptr);
    struct Case {
        std::string path;
        int want;
    } cases[] = {
        {t / "a.txt", 1}, {t / "sub", 1}, {t / "*.txt", 1},
        {t / "*.doc", 0}, {t / "b.txt", 0}, {t / "nodir\\a.txt", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.want, FsExists(c.path.c_str())) << c.path;
    EXPECT_EQ(0, FsExists(nullptr));
}

// One file, f, in a scratch directory of its own.
class FsFile : public ::testing::Test {
protected:
    // f holding bytes, opened in mode; FS_NO_FILE when it cannot be.
    int WriteAndOpen(const std::string &bytes, int mode)
    {
        return WriteBytes(f, bytes) ? FsOpen(f.c_str(), mode) : FS_NO_FILE;
    }

    TempDir t;
    std::string f = t / "f.bin";
};

TEST_F(FsFile, OpenModesDecideAccess)
{
    struct Case {
        int mode;
        bool writable;
    } cases[] = {{FS_READ, false}, {FS_READWRITE, true}, {0, true}, {7, true}};
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteBytes(f, "abcdef"));
        int h = FsOpen(f.c_str(), c.mode);
        ASSERT_NE(FS_NO_FILE, h) << "mode " << c.mode;
        uint32_t n = 2;
        EXPECT_EQ(c.writable ? 2 : -1, FsWrite(h, "XY", &n)) << "mode " << c.mode;
        EXPECT_EQ(0, FsClose(h));
        EXPECT_EQ(c.writable ? "XYcdef" : "abcdef", ReadBytes(f)) << "mode " << c.mode;
    }
}

TEST_F(FsFile, CreateEmptiesAnExistingFileAndOpenFailsOnMissing)
{
    int h = WriteAndOpen("old contents", FS_CREATE);
    ASSERT_NE(FS_NO_FILE, h);
    EXPECT_EQ(0u, FsSize(h));
    FsClose(h);
    EXPECT_EQ("", ReadBytes(f));
    EXPECT_EQ(FS_NO_FILE, FsOpen((t / "missing").c_str(), FS_READ));
    EXPECT_EQ(FS_NO_FILE, FsOpen((t / "missing").c_str(), FS_READWRITE));
    EXPECT_EQ(FS_NO_FILE, FsOpen((t / "nodir\\f").c_str(), FS_CREATE));
    EXPECT_EQ(FS_NO_FILE, FsOpen(nullptr, FS_READ));
}

TEST_F(FsFile, ReadAtEndLeavesCountAndZeroWriteKeepsTheFile)
{
    int h = WriteAndOpen("0123456789", FS_READWRITE);
    ASSERT_NE(FS_NO_FILE, h);
    EXPECT_EQ(10u, FsSize(h));

    uint32_t pos = 4;
    EXPECT_EQ(4, FsSeek(h, &pos));
    EXPECT_EQ(4u, pos);
    char buf[16] = {};
    uint32_t n = 16;
    EXPECT_EQ(6, FsRead(h, buf, &n));
    EXPECT_EQ(6u, n);
    EXPECT_EQ("456789", std::string(buf, 6));
    n = 16;
    EXPECT_EQ(-1, FsRead(h, buf, &n)) << "at the end of the file";
    EXPECT_EQ(16u, n) << "a failed read leaves the count";

    // A zero-length _lwrite would cut the file here.
    pos = 3;
    FsSeek(h, &pos);
    n = 0;
    EXPECT_EQ(0, FsWrite(h, "", &n));
    FsClose(h);
    EXPECT_EQ("0123456789", ReadBytes(f));
}

TEST(Fs, LongPathsBeyondOpenFileBufferStillOpen)
{
    TempDir t;
    std::string dir = t.path();
    while (dir.size() < 150) {
        dir += "\\abcdefghijklmnop";
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    }
    std::string f = dir + "\\file.log";
    int h = FsOpen(f.c_str(), FS_CREATE);
    ASSERT_NE(FS_NO_FILE, h) << "path of " << f.size() << " bytes";
    uint32_t n = 5;
    EXPECT_EQ(5, FsWrite(h, "hello", &n));
    FsClose(h);
    h = FsOpen(f.c_str(), FS_READ);
    ASSERT_NE(FS_NO_FILE, h);
    char buf[8];
    n = 8;
    EXPECT_EQ(5, FsRead(h, buf, &n));
    n = 1;
    EXPECT_EQ(-1, FsWrite(h, "x", &n)) << "read mode stays read-only on the long path too";
    FsClose(h);

    std::string tooLong = t.path() + "\\" + std::string(PATH_MAX_BYTES, 'x');
    EXPECT_EQ(FS_NO_FILE, FsOpen(tooLong.c_str(), FS_CREATE));
}

TEST(Fs, DeleteLeavesReadOnlyFiles)
{
    TempDir t;
    std::string f = t / "f", ro = t / "ro";
    ASSERT_TRUE(WriteBytes(f, "x"));
    ASSERT_TRUE(WriteBytes(ro, "x"));
    SetFileAttributesA(ro.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, FsDelete(f.c_str()));
    EXPECT_FALSE(IsFile(f));
    EXPECT_EQ(-1, FsDelete(ro.c_str()));
    EXPECT_TRUE(IsFile(ro));
    EXPECT_EQ(-1, FsDelete(f.c_str())) << "already gone";
}

TEST(Fs, CopyKeepsBytesAndModificationTimeAcrossChunkEdges)
{
    TempDir t;
    const size_t sizes[] = {0, 1, FS_COPY_CHUNK - 1, FS_COPY_CHUNK, FS_COPY_CHUNK + 1,
                            3 * FS_COPY_CHUNK + 7};
    for (size_t size : sizes) {
        std::string src = t / "src.bin", dst = t / "dst.bin";
        std::string data = Pattern(size, unsigned(size));
        ASSERT_TRUE(WriteBytes(src, data));
        SetWriteTime(src, 1997);
        ASSERT_TRUE(WriteBytes(dst, std::string(100000, 'z'))) << "an older, longer file";
        EXPECT_EQ(0, FsCopyFile(src.c_str(), dst.c_str())) << size;
        EXPECT_TRUE(ReadBytes(dst) == data) << "contents differ for size " << size;
        EXPECT_TRUE(SameTime(WriteTime(src), WriteTime(dst))) << "time not copied, size " << size;
    }
}

TEST(Fs, CopyFailuresLeaveNoDestination)
{
    TempDir t;
    std::string src = t / "src.bin";
    ASSERT_TRUE(WriteBytes(src, "data"));
    EXPECT_EQ(-1, FsCopyFile((t / "missing").c_str(), (t / "d1").c_str()));
    EXPECT_FALSE(IsFile(t / "d1")) << "no destination for a missing source";
    EXPECT_EQ(-1, FsCopyFile(src.c_str(), (t / "nodir\\d2").c_str()));
    EXPECT_EQ(-1, FsCopyFile(nullptr, (t / "d3").c_str()));
    EXPECT_EQ(-1, FsCopyFile(src.c_str(), nullptr));

    std::string dir = t / "dir";
    CreateDirectoryA(dir.c_str(), nullptr);
    EXPECT_EQ(-1, FsCopyFile(src.c_str(), dir.c_str())) << "a directory is no destination";
    EXPECT_TRUE(IsDir(dir));
    EXPECT_EQ("data", ReadBytes(src));
}

TEST(Fs, CreateTreeBuildsMissingLevelsTopDown)
{
    TempDir t;
    std::string a = t / "a";
    ASSERT_TRUE(CreateDirectoryA(a.c_str(), nullptr));
    EXPECT_EQ(1, FsCreateTree((a + "\\b\\c").c_str()));
    EXPECT_TRUE(IsDir(a + "\\b\\c"));
    EXPECT_EQ(1, FsCreateTree((a + "\\b\\c").c_str())) << "existing directory";
    EXPECT_EQ(1, FsCreateTree((a + "\\x\\").c_str())) << "trailing backslash";
    EXPECT_TRUE(IsDir(a + "\\x"));

    ASSERT_TRUE(WriteBytes(a + "\\file", "f"));
    EXPECT_EQ(0, FsCreateTree((a + "\\file").c_str())) << "a file is not a directory";
    EXPECT_EQ(0, FsCreateTree((a + "\\file\\d\\e").c_str()));
    EXPECT_FALSE(IsDir(a + "\\file\\d"));

    struct Case {
        const char *path;
        int want;
    } fixed[] = {{"C:", 1}, {"C:\\", 1}, {"", 1}, {"Q:\\nowhere\\x", 0}, {"Q:x\\y", 0}};
    for (const Case &c : fixed)
        EXPECT_EQ(c.want, FsCreateTree(c.path)) << c.path;
    EXPECT_EQ(0, FsCreateTree(nullptr));
}

TEST(Fs, DbcsTrailBackslashIsNoSeparator)
{
    REQUIRE_DBCS();
    TempDir t;
    std::string deep = t / (DBCS_TRAIL_BACKSLASH "\\sub" DBCS_TRAIL_BACKSLASH "\\");
    EXPECT_EQ(1, FsCreateTree(deep.c_str()));
    std::string top = t / DBCS_TRAIL_BACKSLASH;
    EXPECT_TRUE(IsDir(top + "\\sub" DBCS_TRAIL_BACKSLASH));
    EXPECT_EQ(0, FsIsDirEmpty(top.c_str()));
    EXPECT_EQ(1, FsIsDirectory((top + "\\").c_str()));
    EXPECT_EQ(1, FsRemoveDir((top + "\\sub" DBCS_TRAIL_BACKSLASH "\\").c_str()));
    EXPECT_EQ(1, FsIsDirEmpty(top.c_str()));
}

TEST(Fs, CreateTreeOfARelativeName)
{
    TempDir t;
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    FsSetCurrentDir((t.path() + "\\").c_str());
    EXPECT_EQ(1, FsCreateTree("rel\\deeper"));
    SetCurrentDirectoryA(saved);
    EXPECT_TRUE(IsDir(t / "rel\\deeper"));
}

TEST(Fs, RemoveDirTakesOnlyAnEmptyDirectory)
{
    TempDir t;
    std::string d = t / "d", full = t / "full";
    CreateDirectoryA(d.c_str(), nullptr);
    CreateDirectoryA(full.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(full + "\\f", "x"));
    EXPECT_EQ(1, FsRemoveDir((d + "\\").c_str()));
    EXPECT_FALSE(IsDir(d));
    EXPECT_EQ(0, FsRemoveDir(full.c_str()));
    EXPECT_TRUE(IsDir(full));
    EXPECT_TRUE(IsDir(t.path())) << "the parent is never touched";
}

TEST(Fs, IsDirectoryAndIsDirEmpty)
{
    TempDir t;
    std::string empty = t / "empty", dotDir = t / "dotdir", dotFile = t / "dotfile",
                plain = t / "plain";
    for (const std::string &d : {empty, dotDir, dotFile, plain})
        CreateDirectoryA(d.c_str(), nullptr);
    CreateDirectoryA((dotDir + "\\.hidden").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(dotFile + "\\.profile", "x"));
    CreateDirectoryA((plain + "\\sub").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(t / "file", "x"));

    struct Case {
        std::string path;
        int isDir;
        int isEmpty;
    } cases[] = {
        {empty, 1, 1},          {empty + "\\", 1, 1}, {dotDir, 1, 1},
        {dotFile, 1, 0},        {plain, 1, 0},        {t / "missing", 0, 1},
        {t / "file", 0, 1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.isDir, FsIsDirectory(c.path.c_str())) << c.path;
        EXPECT_EQ(c.isEmpty, FsIsDirEmpty(c.path.c_str())) << c.path;
    }
    std::string tooLong = "C:\\" + std::string(PATH_MAX_BYTES - 4, 'x');
    EXPECT_EQ(0, FsIsDirEmpty(tooLong.c_str())) << "a path too long to list is not called empty";
    EXPECT_EQ(0, FsIsDirectory(nullptr));
}

}  // namespace
