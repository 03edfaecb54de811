#include "logdb/bfile.h"

#include "base/pool.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using testfs::Pattern;
using testfs::ReadBytes;
using testfs::TempDir;
using testfs::WriteBytes;

namespace {

// Changes bytes of a file behind the layer's back.
void Poke(const std::string &path, uint32_t offset, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    SetFilePointer(h, LONG(offset), nullptr, FILE_BEGIN);
    DWORD done;
    WriteFile(h, bytes.data(), DWORD(bytes.size()), &done, nullptr);
    CloseHandle(h);
}

std::string Read(int h, uint32_t n)
{
    std::string out(n, '\0');
    int32_t got = BfRead(h, &out[0], n);
    out.resize(got < 0 ? 0 : size_t(got));
    return out;
}

uint32_t Tell(int h)
{
    uint32_t pos = 0xDEADBEEF;
    BfTell(h, &pos);
    return pos;
}

// Number of pools of the layer's segment size in use: the layer's own pool.
int LayerPools()
{
    int n = 0;
    for (int p = POOL_FIRST_USER; p < POOL_COUNT; p++) {
        int size = 0, flags = 0, global = 0;
        if (PoolDebugEntry(p, &size, &flags, &global) && size == BF_BUFFER_SIZE * 7 / 6)
            n++;
    }
    return n;
}

// One file, f, in a scratch directory of its own.
class BfFile : public ::testing::Test {
protected:
    // f holding bytes, opened in mode; -1 when it cannot be.
    int WriteAndOpen(const std::string &bytes, int mode)
    {
        return WriteBytes(f, bytes) ? BfOpen(f.c_str(), mode) : -1;
    }

    TempDir t;
    std::string f = t / "f.bin";
};

TEST_F(BfFile, SeekInsideTheWindowTouchesNoFile)
{
    std::string data = Pattern(8192);
    int h = WriteAndOpen(data, BF_READ);
    ASSERT_NE(-1, h);
    ASSERT_EQ(0, BfSeek(h, 100));
    EXPECT_EQ(data.substr(100, 4), Read(h, 4));

    Poke(f, 100, "ABCDEFGH");
    Poke(f, 5000, "WXYZ");
    ASSERT_EQ(0, BfSeek(h, 102));
    EXPECT_EQ(data.substr(102, 4), Read(h, 4)) << "read again from the disk inside the window";

    ASSERT_EQ(0, BfSeek(h, 5000));
    EXPECT_EQ("WXYZ", Read(h, 4)) << "a seek outside the window refills from 5000";
    ASSERT_EQ(0, BfSeek(h, 100));
    EXPECT_EQ("ABCD", Read(h, 4)) << "the old window is gone";
    EXPECT_EQ(0, BfClose(h));
}

TEST(Bf, ReadsAcrossWindowsInAnyChunkSize)
{
    TempDir t;
    std::string f = t / "f.bin";
    std::string data = Pattern(3 * BF_BUFFER_SIZE + 123, 7);
    ASSERT_TRUE(WriteBytes(f, data));
    const uint32_t chunks[] = {1, 3, 7, 4095, 4096, 4097, 20000};
    for (uint32_t chunk : chunks) {
        int h = BfOpen(f.c_str(), BF_READ);
        ASSERT_NE(-1, h);
        std::string got;
        for (;;) {
            std::string piece = Read(h, chunk);
            if (piece.empty())
                break;
            got += piece;
        }
        EXPECT_TRUE(got == data) << "chunk " << chunk << ": got " << got.size() << " bytes";
        EXPECT_EQ(data.size(), Tell(h));
        char c;
        EXPECT_EQ(-1, BfRead(h, &c, 1)) << "nothing left";
        EXPECT_EQ(-1, BfGetByte(h));
        BfClose(h);
    }
}

TEST(Bf, WritesGoOutWhenTheWindowIsFull)
{
    TempDir t;
    std::string f = t / "new.bin";
    int h = BfOpen(f.c_str(), BF_CREATE);
    ASSERT_NE(-1, h);
    std::string data = Pattern(5000, 3);
    EXPECT_EQ(5000, BfWrite(h, data.data(), 5000));
    EXPECT_EQ(data.substr(0, 4096), ReadBytes(f)) << "the first 4096 went out with the 4097th";
    EXPECT_EQ(5000u, BfSize(h)) << "size counts the buffered tail";
    EXPECT_EQ(5000 - 4096, BfFlush(h));
    EXPECT_TRUE(ReadBytes(f) == data);
    EXPECT_EQ(5000u, Tell(h));
    EXPECT_EQ(0, BfClose(h));
}

TEST(Bf, FlushMovesTheWindowPastTheBufferedBytes)
{
    TempDir t;
    std::string f = t / "f.bin";
    int h = BfOpen(f.c_str(), BF_CREATE);
    ASSERT_NE(-1, h);
    ASSERT_EQ(0, BfSeek(h, 1000));
    ASSERT_EQ(20, BfWrite(h, "0123456789abcdefghij", 20));
    ASSERT_EQ(0, BfSeek(h, 1010));
    EXPECT_EQ(1010u, Tell(h));
    EXPECT_EQ(20, BfFlush(h));
    EXPECT_EQ(1020u, Tell(h)) << "after a flush the position is the end of the flushed bytes";
    EXPECT_EQ(0, BfFlush(h)) << "an empty window";
    BfClose(h);
    std::string disk = ReadBytes(f);
    ASSERT_EQ(1020u, disk.size());
    EXPECT_EQ("0123456789abcdefghij", disk.substr(1000));
}

TEST_F(BfFile, FlushOfAReadOnlyFileKeepsTheWindow)
{
    std::string data = Pattern(100);
    int h = WriteAndOpen(data, BF_READ);
    ASSERT_EQ(data.substr(0, 10), Read(h, 10));
    EXPECT_EQ(0, BfFlush(h));
    EXPECT_EQ(10u, Tell(h));
    Poke(f, 0, "zzzzzzzzzz");
    BfSeek(h, 5);
    EXPECT_EQ(data.substr(5, 3), Read(h, 3)) << "the window stayed";
    EXPECT_EQ(-1, BfWrite(h, "x", 1));
    EXPECT_EQ(-1, BfPutByte(h, 'x'));
    BfClose(h);
}

TEST(Bf, OverwriteInsideAnExistingFile)
{
    TempDir t;
    std::string f = t / "f.bin";
    std::string data = Pattern(9000, 5);
    ASSERT_TRUE(WriteBytes(f, data));
    int h = BfOpen(f.c_str(), BF_READWRITE);
    ASSERT_NE(-1, h);
    BfSeek(h, 10);
    EXPECT_EQ(data.substr(10, 5), Read(h, 5));
    EXPECT_EQ(3, BfWrite(h, "XYZ", 3));           // at 15, inside the read window
    BfSeek(h, 8190);
    EXPECT_EQ(4, BfWrite(h, "PQRS", 4));          // across into the third window
    BfSeek(h, 13);
    EXPECT_EQ(data.substr(13, 2) + "XYZ", Read(h, 5)) << "written bytes read back from the window";
    EXPECT_EQ(0, BfClose(h));
    std::string want = data;
    want.replace(15, 3, "XYZ");
    want.replace(8190, 4, "PQRS");
    EXPECT_TRUE(ReadBytes(f) == want);
}

TEST(Bf, ByteWordAndLongHelpersAreLittleEndian)
{
    TempDir t;
    std::string f = t / "f.bin";
    int h = BfOpen(f.c_str(), BF_CREATE);
    EXPECT_EQ(0x71, BfPutByte(h, 0x71));
    EXPECT_EQ(0xA8, BfPutByte(h, 0xA8));
    EXPECT_EQ(0, BfPutLong(h, 0x02010000));
    EXPECT_EQ(0, BfPutWord(h, 0xFFFE));
    BfClose(h);
    EXPECT_EQ(std::string("\x71\xA8\x00\x00\x01\x02\xFE\xFF", 8), ReadBytes(f));

    h = BfOpen(f.c_str(), BF_READ);
    EXPECT_EQ(0xA871, BfGetWord(h));
    EXPECT_EQ(0x02010000u, BfGetLong(h));
    EXPECT_EQ(0xFE, BfGetByte(h));
    EXPECT_EQ(0xFF, BfGetByte(h)) << "a byte 0xFF is not the end of the file";
    EXPECT_EQ(-1, BfGetByte(h));
    BfClose(h);
}

TEST(Bf, AFourthFileIsRefusedAndTheOthersStay)
{
    TempDir t;
    std::vector<int> handles;
    for (int i = 0; i < BF_SLOTS; i++) {
        std::string f = t / ("f" + std::to_string(i));
        ASSERT_TRUE(WriteBytes(f, "file" + std::to_string(i)));
        int h = BfOpen(f.c_str(), BF_READ);
        ASSERT_NE(-1, h);
        handles.push_back(h);
    }
    std::string fourth = t / "fourth";
    ASSERT_TRUE(WriteBytes(fourth, "4"));
    EXPECT_EQ(-1, BfOpen(fourth.c_str(), BF_READ));
    EXPECT_TRUE(DeleteFileA(fourth.c_str())) << "the refused open left its handle open";
    for (int i = 0; i < BF_SLOTS; i++)
        EXPECT_EQ("file" + std::to_string(i), Read(handles[i], 10));
    for (int h : handles)
        EXPECT_EQ(0, BfClose(h));
}

TEST(Bf, ThePoolLivesWhileAFileIsOpen)
{
    TempDir t;
    std::string f = t / "f";
    ASSERT_TRUE(WriteBytes(f, "x"));
    ASSERT_EQ(0, LayerPools());
    int a = BfOpen(f.c_str(), BF_READ);
    int b = BfOpen(f.c_str(), BF_READ);
    EXPECT_EQ(1, LayerPools());
    BfClose(a);
    EXPECT_EQ(1, LayerPools());
    BfClose(b);
    EXPECT_EQ(0, LayerPools()) << "closing the last file destroys the pool";
    a = BfOpen(f.c_str(), BF_READ);
    EXPECT_EQ(1, LayerPools());
    BfClose(a);
    EXPECT_EQ(-1, BfOpen((t / "missing").c_str(), BF_READ));
    EXPECT_EQ(0, LayerPools());
}

TEST(Bf, HandlesNotOpenInTheLayer)
{
    const int stray = 0x1234;
    char c = 'q';
    EXPECT_EQ(0, BfRead(stray, &c, 1));
    EXPECT_EQ(0, BfWrite(stray, &c, 1));
    EXPECT_EQ(0, BfPutByte(stray, 'x'));
    EXPECT_EQ(0, BfGetByte(stray));
    EXPECT_EQ(0, BfFlush(stray));
    EXPECT_EQ(0u, BfSize(stray));
    EXPECT_EQ(-1, BfSeek(stray, 0));
    EXPECT_EQ(0xDEADBEEFu, Tell(stray));
    EXPECT_EQ(-1, BfClose(stray));
}

TEST(Bf, DeleteForwardsToTheFileSystem)
{
    TempDir t;
    std::string f = t / "f";
    ASSERT_TRUE(WriteBytes(f, "x"));
    EXPECT_EQ(0, BfDelete(f.c_str()));
    EXPECT_EQ(-1, BfDelete(f.c_str()));
}

}  // namespace
