// Buffered file layer: random-access byte I/O over a 4096-byte window per file, for the log
// database. A file is named by the OS handle that BfOpen returns; at most three files are open
// through the layer at once. A seek inside the window costs no file access; writes gather until
// the window is full or left. Single-threaded: the slots and their pool are module-wide.
#pragma once

#include <stdint.h>

constexpr int BF_CREATE = 1;       // create, or empty an existing file; read and write
constexpr int BF_READ = 2;         // read only
constexpr int BF_READWRITE = 3;    // read and write an existing file
constexpr int BF_BUFFER_SIZE = 4096;
constexpr int BF_SLOTS = 3;

// The OS handle, or -1 (no such file, no free slot, no memory).
int BfOpen(const char *path, int mode);
// Flushes and closes. 0, or -1 when the flush failed (the file is closed all the same) or the
// handle is not open in the layer (then nothing is closed).
int BfClose(int handle);
// Up to count bytes into dst: the number read (fewer at the end of the file), -1 when nothing
// could be read, 0 for a handle not open in the layer.
int32_t BfRead(int handle, void *dst, uint32_t count);
// count, or -1 (read-only file, failed flush); 0 for a handle not open in the layer.
int32_t BfWrite(int handle, const void *src, uint32_t count);
// The byte written (0..255), or -1; 0 for a handle not open in the layer.
int BfPutByte(int handle, int byte);
// The next byte as 0..255, or -1 at the end of the file; 0 for a handle not open in the layer.
// (Unsigned, so that a byte 0xFF is not taken for the end.)
int BfGetByte(int handle);
// Little-endian helpers over the byte operations. The getters cannot report a short file:
// where that matters, read the bytes with BfRead and check the count.
int BfPutWord(int handle, uint16_t value);
uint16_t BfGetWord(int handle);
int BfPutLong(int handle, uint32_t value);
uint32_t BfGetLong(int handle);
// *position := the logical position; left unchanged for a handle not open in the layer.
void BfTell(int handle, uint32_t *position);
// Moves the logical position to offset. 0, or -1 (not open in the layer, failed flush).
int BfSeek(int handle, uint32_t offset);
// Writes a dirty window and moves the window past it: the number of bytes the window held,
// 0 for a read-only or empty window (unchanged), -1 when the write failed (still dirty).
// The position afterwards is the end of the flushed bytes: seek after flushing.
int32_t BfFlush(int handle);
// The file's size, counting bytes still buffered behind its end.
uint32_t BfSize(int handle);
// Deletes a file (FsDelete): 0 or -1.
int BfDelete(const char *path);
