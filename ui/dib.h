// Picture file loader: turns a Windows bitmap file (uncompressed, 1, 4, 8 or 24 bits per pixel)
// into a device-dependent bitmap for the screen, and on a 256-colour display also into a
// palette under which an 8-bit picture shows with its own colours.
#pragma once

#include <windows.h>
#include <stdint.h>

struct DibPicture {
    HBITMAP bitmap;    // owned by the caller
    HPALETTE palette;  // only for an 8-bit picture on an 8-bit display; owned by the caller
    int32_t width;     // biWidth of the file
    int32_t height;    // biHeight of the file (negative for a top-down file)
};

constexpr int DIB_OK = 0;
constexpr int DIB_NO_MEMORY = -1;    // no memory for the file's contents
constexpr int DIB_CANNOT_OPEN = -2;  // the file cannot be opened
constexpr int DIB_BAD_FORMAT = -8;   // not a usable bitmap file, or an unsupported bit count
constexpr int DIB_COMPRESSED = -16;  // biCompression is not BI_RGB

constexpr int DIB_FILE_HEADER_SIZE = 14;     // "BM", size, reserved, pixel offset
constexpr int DIB_PALETTE_ENTRIES = 256;
constexpr int DIB_STATIC_COLOURS = 10;       // system colours kept at each end of the palette
constexpr int DIB_PICTURE_COLOURS = 236;     // colour-table entries the palette takes

// Loads the bitmap file at path into *out. The colour table is taken at its full size for the
// bit count (2, 16 or 256 entries) and the pixel rows right behind it; the file header's pixel
// offset is not consulted. A file whose header, table or rows run past its end is refused with
// DIB_BAD_FORMAT. Returns DIB_OK or one of the codes above; on failure nothing is created.
int LoadDibFile(const char *path, DibPicture *out);

// The 256-entry palette for an 8-bit picture whose BITMAPINFOHEADER (with its full colour table
// behind it) is at header: the system's ten static colours at each end, the picture's first 236
// colours between them. Null when memory runs out.
HPALETTE CreateDibPalette(const BITMAPINFOHEADER *header);
