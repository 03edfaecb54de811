#include "ui/dib.h"

#include "base/fs.h"

// Zero-filled slack behind the file's bytes: the "BM" test of a file shorter than two bytes
// reads zeros instead of running off the block.
static constexpr DWORD DIB_SLACK = 10;
static constexpr int DIB_LOGPALETTE_BYTES = 4 + DIB_PALETTE_ENTRIES * 4;  // 1028 of the 1048 taken
static constexpr DWORD DIB_PALETTE_BLOCK = 1048;

// Colour-table bytes for a bit count, or -1 when the count is not supported.
static int ColourTableBytes(int bitCount)
{
    switch (bitCount) {
    case 1:
        return 2 * 4;
    case 4:
        return 16 * 4;
    case 8:
        return 256 * 4;
    case 24:
        return 0;
    default:
        return -1;
    }
}

// Reads the whole file into a locked, zero-filled movable block of n + DIB_SLACK bytes. Opened
// through the file layer: any path that fits a path buffer, not only OpenFile's 128 bytes.
static int ReadWholeFile(const char *path, HGLOBAL *block, BYTE **data, DWORD *size)
{
    int file = FsOpen(path, FS_READ);
    if (file == FS_NO_FILE)
        return DIB_CANNOT_OPEN;
    DWORD n = FsSize(file);
    if (n > 0xFFFFFFFFu - DIB_SLACK) {
        FsClose(file);
        return DIB_CANNOT_OPEN;
    }
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, n + DIB_SLACK);
    BYTE *p = h ? static_cast<BYTE *>(GlobalLock(h)) : nullptr;
    if (!p) {
        if (h)
            GlobalFree(h);
        FsClose(file);
        return DIB_NO_MEMORY;
    }
    uint32_t count = n;
    int32_t got = n ? FsRead(file, p, &count) : 0;
    FsClose(file);
    if (got < 0 || static_cast<DWORD>(got) != n) {
        GlobalUnlock(h);
        GlobalFree(h);
        return DIB_CANNOT_OPEN;
    }
    *block = h;
    *data = p;
    *size = static_cast<DWORD>(n);
    return DIB_OK;
}

// 1 when the rows of the picture lie inside the n bytes of the file from offset bits on.
static int RowsFit(const BITMAPINFOHEADER *bih, uint64_t bits, uint64_t n)
{
    if (bih->biWidth <= 0 || bih->biHeight == 0)
        return 0;
    uint64_t stride = ((static_cast<uint64_t>(bih->biWidth) * bih->biBitCount + 31) / 32) * 4;
    int64_t height = bih->biHeight;
    uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
    return bits <= n && stride * rows <= n - bits;
}

// Makes the device-dependent bitmap (and palette) from a checked file image.
static int MakeBitmap(BITMAPINFOHEADER *bih, const BYTE *bits, DibPicture *out)
{
    HDC screen = GetDC(nullptr);
    if (!screen)
        return DIB_NO_MEMORY;
    int paletteDisplay = GetDeviceCaps(screen, BITSPIXEL) == 8;

    HPALETTE palette = nullptr;
    HPALETTE previous = nullptr;
    if (bih->biBitCount == 8 && paletteDisplay) {
        palette = CreateDibPalette(bih);
        if (palette) {
            previous = SelectPalette(screen, palette, FALSE);
            RealizePalette(screen);
        }
    }
    HBITMAP bitmap = CreateDIBitmap(screen, bih, CBM_INIT, bits,
                                    reinterpret_cast<BITMAPINFO *>(bih), DIB_RGB_COLORS);
    if (previous)
        SelectPalette(screen, previous, FALSE);
    ReleaseDC(nullptr, screen);

    // A picture the display cannot hold is a failure, not an empty success.
    if (!bitmap) {
        if (palette)
            DeleteObject(palette);
        return DIB_NO_MEMORY;
    }
    out->bitmap = bitmap;
    out->palette = palette;
    return DIB_OK;
}

// Checks the file image of n bytes at data and makes the picture from it.
static int DecodeDib(BYTE *data, DWORD n, DibPicture *out)
{
    if (data[0] != 'B' || data[1] != 'M')
        return DIB_BAD_FORMAT;
    if (n < DIB_FILE_HEADER_SIZE + sizeof(BITMAPINFOHEADER))
        return DIB_BAD_FORMAT;
    BITMAPINFOHEADER *bih = reinterpret_cast<BITMAPINFOHEADER *>(data + DIB_FILE_HEADER_SIZE);
    if (bih->biSize < sizeof(BITMAPINFOHEADER) ||
        bih->biSize > n - DIB_FILE_HEADER_SIZE)
        return DIB_BAD_FORMAT;
    if (bih->biCompression != BI_RGB)
        return DIB_COMPRESSED;

    out->width = bih->biWidth;
    out->height = bih->biHeight;
    out->palette = nullptr;

    int tableBytes = ColourTableBytes(bih->biBitCount);
    if (tableBytes < 0)
        return DIB_BAD_FORMAT;
    uint64_t bits = static_cast<uint64_t>(DIB_FILE_HEADER_SIZE) + bih->biSize + tableBytes;
    if (!RowsFit(bih, bits, n))
        return DIB_BAD_FORMAT;
    return MakeBitmap(bih, data + bits, out);
}

int LoadDibFile(const char *path, DibPicture *out)
{
    HGLOBAL block = nullptr;
    BYTE *data = nullptr;
    DWORD n = 0;
    int rc = ReadWholeFile(path, &block, &data, &n);
    if (rc != DIB_OK)
        return rc;
    rc = DecodeDib(data, n, out);
    GlobalUnlock(block);
    GlobalFree(block);
    return rc;
}

HPALETTE CreateDibPalette(const BITMAPINFOHEADER *header)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, DIB_PALETTE_BLOCK);
    LOGPALETTE *lp = block ? static_cast<LOGPALETTE *>(GlobalLock(block)) : nullptr;
    if (!lp) {
        if (block)
            GlobalFree(block);
        return nullptr;
    }
    static_assert(DIB_LOGPALETTE_BYTES <= static_cast<int>(DIB_PALETTE_BLOCK), "palette block");

    // The colour table starts right behind the header, whatever its version.
    const RGBQUAD *table = reinterpret_cast<const RGBQUAD *>(
        reinterpret_cast<const BYTE *>(header) + header->biSize);
    PALETTEENTRY *entries = lp->palPalEntry;
    for (int i = 0; i < DIB_PICTURE_COLOURS; i++) {
        PALETTEENTRY *e = &entries[DIB_STATIC_COLOURS + i];
        e->peRed = table[i].rgbRed;
        e->peGreen = table[i].rgbGreen;
        e->peBlue = table[i].rgbBlue;
        e->peFlags = PC_NOCOLLAPSE;
    }
    HDC screen = GetDC(nullptr);
    if (screen) {
        GetSystemPaletteEntries(screen, 0, DIB_STATIC_COLOURS, entries);
        GetSystemPaletteEntries(screen, DIB_PALETTE_ENTRIES - DIB_STATIC_COLOURS,
                                DIB_STATIC_COLOURS,
                                entries + DIB_PALETTE_ENTRIES - DIB_STATIC_COLOURS);
        ReleaseDC(nullptr, screen);
    }
    lp->palVersion = 0x300;
    lp->palNumEntries = DIB_PALETTE_ENTRIES;
    HPALETTE palette = CreatePalette(lp);
    GlobalUnlock(block);
    GlobalFree(block);
    return palette;
}
