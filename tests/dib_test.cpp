#include "ui/dib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A bitmap file in memory: file header, BITMAPINFOHEADER (biSize bytes), colour table, rows.
struct BmpLayout {
    int width = 4;
    int height = 2;
    int bitCount = 24;
    DWORD compression = BI_RGB;
    DWORD headerSize = sizeof(BITMAPINFOHEADER);
    int tableEntries = -1;  // -1: the full table for the bit count
    int gap = 0;            // bytes between the table and the rows
};

BmpLayout Layout(int width, int height, int bitCount = 24)
{
    BmpLayout s;
    s.width = width;
    s.height = height;
    s.bitCount = bitCount;
    return s;
}

int FullTable(int bitCount)
{
    return bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
}

int Stride(int width, int bitCount)
{
    return ((width * bitCount + 31) / 32) * 4;
}

// Colour table entry i is (r, g, b) = (i, 255 - i, i / 2); rows are filled by fill().
std::vector<BYTE> MakeBmp(const BmpLayout &s, BYTE rowFill = 0)
{
    int entries = s.tableEntries < 0 ? FullTable(s.bitCount) : s.tableEntries;
    int rows = s.height < 0 ? -s.height : s.height;
    size_t pixels = static_cast<size_t>(Stride(s.width, s.bitCount)) * rows;
    size_t offBits = 14 + s.headerSize + entries * 4 + s.gap;
    std::vector<BYTE> f(offBits + pixels, 0);
    f[0] = 'B';
    f[1] = 'M';
    DWORD size = static_cast<DWORD>(f.size());
    memcpy(&f[2], &size, 4);
    DWORD off = static_cast<DWORD>(offBits);
    memcpy(&f[10], &off, 4);
    BITMAPINFOHEADER bih{};
    bih.biSize = s.headerSize;
    bih.biWidth = s.width;
    bih.biHeight = s.height;
    bih.biPlanes = 1;
    bih.biBitCount = static_cast<WORD>(s.bitCount);
    bih.biCompression = s.compression;
    bih.biClrUsed = s.tableEntries < 0 ? 0 : s.tableEntries;
    memcpy(&f[14], &bih, sizeof bih);
    for (int i = 0; i < entries; i++) {
        BYTE *q = &f[14 + s.headerSize + i * 4];
        q[0] = static_cast<BYTE>(i / 2);
        q[1] = static_cast<BYTE>(255 - i);
        q[2] = static_cast<BYTE>(i);
    }
    memset(&f[offBits], rowFill, pixels);
    return f;
}

class Dib : public testing::Test {
protected:
    void SetUp() override
    {
        char dir[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof dir, dir));
        path_ = std::string(dir) + "dibtest.bmp";
    }
    void TearDown() override
    {
        DeleteFileA(path_.c_str());
        if (pic_.bitmap)
            DeleteObject(pic_.bitmap);
        if (pic_.palette)
            DeleteObject(pic_.palette);
    }
    void Write(const std::vector<BYTE> &bytes)
    {
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD done = 0;
        if (!bytes.empty()) {
            EXPECT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
        }
        CloseHandle(h);
    }
    int Load(const std::vector<BYTE> &bytes)
    {
        Write(bytes);
        if (pic_.bitmap)
            DeleteObject(pic_.bitmap);
        if (pic_.palette)
            DeleteObject(pic_.palette);
        pic_ = DibPicture{};
        return LoadDibFile(path_.c_str(), &pic_);
    }
    // Colour of the pixel at x, y (top row is 0) of the loaded bitmap.
    COLORREF Pixel(int x, int y)
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, pic_.bitmap);
        COLORREF c = GetPixel(dc, x, y);
        SelectObject(dc, old);
        DeleteDC(dc);
        return c;
    }
    std::string path_;
    DibPicture pic_{};
};

TEST_F(Dib, LoadsEverySupportedBitCount)
{
    for (int bits : {1, 4, 8, 24}) {
        SCOPED_TRACE(bits);
        BmpLayout s = Layout(5, 3, bits);
        ASSERT_EQ(DIB_OK, Load(MakeBmp(s, 0x00)));
        EXPECT_NE(nullptr, pic_.bitmap);
        EXPECT_EQ(nullptr, pic_.palette) << "no palette on a display of more than 8 bits";
        EXPECT_EQ(5, pic_.width);
        EXPECT_EQ(3, pic_.height);
        BITMAP bm{};
        ASSERT_NE(0, GetObjectA(pic_.bitmap, sizeof bm, &bm));
        EXPECT_EQ(5, bm.bmWidth);
        EXPECT_EQ(3, bm.bmHeight);
        // every pixel is colour-table entry 0 (0, 255, 0), or black for 24 bits
        EXPECT_EQ(bits == 24 ? RGB(0, 0, 0) : RGB(0, 255, 0), Pixel(4, 2));
    }
}

TEST_F(Dib, RowsAreBottomUpUnlessTheHeightIsNegative)
{
    BmpLayout s = Layout(1, 2);
    std::vector<BYTE> f = MakeBmp(s);
    size_t bits = f.size() - 8;  // two rows of 4 bytes (3 used)
    f[bits + 2] = 0xFF;          // first stored row: red
    f[bits + 4] = 0xFF;          // second stored row: blue
    ASSERT_EQ(DIB_OK, Load(f));
    EXPECT_EQ(RGB(255, 0, 0), Pixel(0, 1)) << "the first stored row is the bottom one";
    EXPECT_EQ(RGB(0, 0, 255), Pixel(0, 0));

    s.height = -2;
    f = MakeBmp(s);
    f[bits + 2] = 0xFF;
    f[bits + 4] = 0xFF;
    ASSERT_EQ(DIB_OK, Load(f));
    EXPECT_EQ(-2, pic_.height);
    EXPECT_EQ(RGB(255, 0, 0), Pixel(0, 0)) << "a top-down file stores the top row first";
    EXPECT_EQ(RGB(0, 0, 255), Pixel(0, 1));
}

TEST_F(Dib, RefusedFilesGiveTheirCodeAndCreateNothing)
{
    BmpLayout rle;
    rle.bitCount = 8;
    rle.compression = BI_RLE8;
    BmpLayout bits16;
    bits16.bitCount = 16;
    BmpLayout bits32;
    bits32.bitCount = 32;
    std::vector<BYTE> notBm = MakeBmp(BmpLayout{});
    notBm[0] = 'M';
    notBm[1] = 'B';
    struct {
        const char *what;
        std::vector<BYTE> file;
        int rc;
        bool fieldsSet;
    } cases[] = {
        {"run-length encoded", MakeBmp(rle), DIB_COMPRESSED, false},
        {"16 bits per pixel", MakeBmp(bits16), DIB_BAD_FORMAT, true},
        {"32 bits per pixel", MakeBmp(bits32), DIB_BAD_FORMAT, true},
        {"no BM signature", notBm, DIB_BAD_FORMAT, false},
        {"empty file", {}, DIB_BAD_FORMAT, false},
        {"one byte", {'B'}, DIB_BAD_FORMAT, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Write(c.file);
        DibPicture out;
        out.bitmap = reinterpret_cast<HBITMAP>(1);
        out.palette = reinterpret_cast<HPALETTE>(1);
        out.width = 77;
        out.height = 77;
        EXPECT_EQ(c.rc, LoadDibFile(path_.c_str(), &out));
        EXPECT_EQ(reinterpret_cast<HBITMAP>(1), out.bitmap);
        if (c.fieldsSet) {
            EXPECT_EQ(4, out.width);
            EXPECT_EQ(2, out.height);
            EXPECT_EQ(nullptr, out.palette);
        } else {
            EXPECT_EQ(77, out.width) << "the record is untouched";
            EXPECT_EQ(reinterpret_cast<HPALETTE>(1), out.palette);
        }
    }
    DibPicture out{};
    EXPECT_EQ(DIB_CANNOT_OPEN, LoadDibFile((path_ + ".missing").c_str(), &out));
}

TEST_F(Dib, HeadersAndRowsThatRunPastTheFileAreRefused)
{
    BmpLayout big;
    big.width = 100;
    big.height = 100;
    std::vector<BYTE> shortRows = MakeBmp(big);
    shortRows.resize(shortRows.size() - 1);

    BmpLayout hugeHeader;
    std::vector<BYTE> hugeBiSize = MakeBmp(hugeHeader);
    DWORD huge = 0x7FFFFFF0;
    memcpy(&hugeBiSize[14], &huge, 4);

    std::vector<BYTE> smallBiSize = MakeBmp(hugeHeader);
    DWORD twelve = 12;  // an OS/2 core header is not read as an info header
    memcpy(&smallBiSize[14], &twelve, 4);

    std::vector<BYTE> wide = MakeBmp(BmpLayout{});
    LONG w = 0x7FFFFFFF;
    memcpy(&wide[18], &w, 4);
    std::vector<BYTE> zeroWidth = MakeBmp(BmpLayout{});
    LONG zero = 0;
    memcpy(&zeroWidth[18], &zero, 4);
    std::vector<BYTE> minHeight = MakeBmp(BmpLayout{});
    LONG hmin = INT32_MIN;
    memcpy(&minHeight[22], &hmin, 4);

    BmpLayout shortTable;  // 8 bits with only 16 colours stored: the full table would overlap rows
    shortTable.bitCount = 8;
    shortTable.tableEntries = 16;
    struct {
        const char *what;
        std::vector<BYTE> file;
    } cases[] = {
        {"last row one byte short", shortRows},
        {"header size beyond the file", hugeBiSize},
        {"header smaller than an info header", smallBiSize},
        {"width whose rows overflow", wide},
        {"zero width", zeroWidth},
        {"most negative height", minHeight},
        {"short colour table leaves the rows past the end", MakeBmp(shortTable)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DIB_BAD_FORMAT, Load(c.file));
        EXPECT_EQ(nullptr, pic_.bitmap);
    }
}

TEST_F(Dib, EveryTruncationOfAGoodFileIsRefused)
{
    BmpLayout s = Layout(3, 2, 8);
    std::vector<BYTE> good = MakeBmp(s, 7);
    ASSERT_EQ(DIB_OK, Load(good));
    for (size_t n = 0; n < good.size(); n++) {
        std::vector<BYTE> cut(good.begin(), good.begin() + n);
        ASSERT_EQ(DIB_BAD_FORMAT, Load(cut)) << "file cut to " << n << " of " << good.size();
        ASSERT_EQ(nullptr, pic_.bitmap);
    }
}

TEST_F(Dib, PixelsAreTakenRightBehindTheFullColourTable)
{
    // The pixel-offset field is not consulted: with a gap before the rows, the first row
    // read is the gap.
    BmpLayout s = Layout(1, 1, 8);
    s.gap = 4;
    std::vector<BYTE> f = MakeBmp(s, 9);  // the stored row says entry 9
    size_t gapAt = 14 + 40 + 1024;
    f[gapAt] = 3;                         // what the reader takes: entry 3
    ASSERT_EQ(DIB_OK, Load(f));
    EXPECT_EQ(RGB(3, 252, 1), Pixel(0, 0));
}

TEST_F(Dib, PaletteHoldsThePictureColoursBetweenTheStaticOnes)
{
    for (DWORD headerSize : {DWORD(sizeof(BITMAPINFOHEADER)), DWORD(sizeof(BITMAPV5HEADER))}) {
        SCOPED_TRACE(headerSize);
        BmpLayout s;
        s.bitCount = 8;
        s.headerSize = headerSize;
        std::vector<BYTE> f = MakeBmp(s);
        HPALETTE pal = CreateDibPalette(reinterpret_cast<BITMAPINFOHEADER *>(&f[14]));
        ASSERT_NE(nullptr, pal);
        PALETTEENTRY got[256];
        ASSERT_EQ(256u, GetPaletteEntries(pal, 0, 256, got));
        for (int i = 0; i < DIB_PICTURE_COLOURS; i++) {
            const PALETTEENTRY &e = got[DIB_STATIC_COLOURS + i];
            ASSERT_EQ(i, e.peRed) << "entry " << DIB_STATIC_COLOURS + i;
            ASSERT_EQ(255 - i, e.peGreen);
            ASSERT_EQ(i / 2, e.peBlue);
            ASSERT_EQ(PC_NOCOLLAPSE, e.peFlags);
        }
        PALETTEENTRY sys[256] = {};
        HDC screen = GetDC(nullptr);
        GetSystemPaletteEntries(screen, 0, 10, sys);
        GetSystemPaletteEntries(screen, 246, 10, sys + 246);
        ReleaseDC(nullptr, screen);
        for (int i : {0, 9, 246, 255}) {
            EXPECT_EQ(sys[i].peRed, got[i].peRed) << "static entry " << i;
            EXPECT_EQ(sys[i].peGreen, got[i].peGreen);
            EXPECT_EQ(sys[i].peBlue, got[i].peBlue);
        }
        DeleteObject(pal);
    }
}

}  // namespace
