#include "logdb/bfile.h"

#include "base/fs.h"
#include "base/pool.h"

#include <string.h>

constexpr int BF_POOL_BLOCK = BF_BUFFER_SIZE * 7 / 6;   // 4778
constexpr int BF_POOL_FLAGS = POOL_DEFAULT | POOL_GROW | POOL_BUFFERS;
constexpr unsigned BF_BUFFER_ALLOC = BF_BUFFER_SIZE + 10;

struct BufferedFile {
    int32_t cursor;        // buffer index of the next byte
    int32_t filled;        // valid bytes in the buffer
    uint32_t base;         // file offset of buffer[0]
    uint32_t last;         // offset of the last valid byte; base when just moved
    int handle;            // the slot's key
    uint32_t writable;
    uint32_t dirty;
    unsigned char *buffer; // null while the slot is free
};

static BufferedFile g_slots[BF_SLOTS];
static int g_pool = -1;

static BufferedFile *FindSlot(int handle)
{
    for (BufferedFile &s : g_slots)
        if (s.buffer && s.handle == handle)
            return &s;
    return nullptr;
}

static int UsedSlots()
{
    int n = 0;
    for (const BufferedFile &s : g_slots)
        n += s.buffer != nullptr;
    return n;
}

int BfOpen(const char *path, int mode)
{
    int handle = FsOpen(path, mode);
    if (handle == FS_NO_FILE)
        return -1;
    if (g_pool < 0) {
        g_pool = PoolCreate(BF_POOL_BLOCK, BF_POOL_FLAGS);
        if (g_pool < 0) {
            FsClose(handle);
            return -1;
        }
    }
    BufferedFile *slot = nullptr;
    for (BufferedFile &s : g_slots) {
        if (!s.buffer) {
            slot = &s;
            break;
        }
    }
    unsigned char *buffer =
        slot ? static_cast<unsigned char *>(PoolAlloc(g_pool, BF_BUFFER_ALLOC)) : nullptr;
    if (!buffer) {
        FsClose(handle);
        if (UsedSlots() == 0) {
            PoolDestroy(g_pool);
            g_pool = -1;
        }
        return -1;
    }
    *slot = BufferedFile{};
    slot->handle = handle;
    slot->writable = (mode == BF_CREATE || mode == BF_READWRITE) ? 1 : 0;
    slot->buffer = buffer;
    return handle;
}

static int32_t Flush(BufferedFile *s)
{
    if (!s->writable || s->filled == 0)
        return 0;
    if (s->dirty) {
        uint32_t at = s->base;
        if (FsSeek(s->handle, &at) < 0 || at != s->base)
            return -1;
        uint32_t count = uint32_t(s->filled);
        if (FsWrite(s->handle, s->buffer, &count) < 0 || count != uint32_t(s->filled))
            return -1;
    }
    int32_t held = s->filled;
    s->base += uint32_t(held);
    s->last = s->base;
    s->cursor = s->filled = 0;
    s->dirty = 0;
    return held;
}

// Moves the window past the buffered bytes and fills it from the file; 0, or -1 when the
// flush failed or nothing could be read.
static int Refill(BufferedFile *s)
{
    if (s->writable) {
        if (Flush(s) < 0)
            return -1;
    } else if (s->filled > 0) {
        s->base = s->last + 1;
    }
    s->cursor = s->filled = 0;
    s->last = s->base;
    uint32_t at = s->base;
    if (FsSeek(s->handle, &at) < 0 || at != s->base)
        return -1;
    uint32_t count = BF_BUFFER_SIZE;
    if (FsRead(s->handle, s->buffer, &count) < 0)
        return -1;
    s->filled = int32_t(count);
    s->last = s->base + count - 1;
    return 0;
}

int BfClose(int handle)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return -1;
    int flushed = Flush(s);
    int closed = FsClose(handle);
    PoolFree(g_pool, s->buffer);
    *s = BufferedFile{};
    if (UsedSlots() == 0) {
        PoolDestroy(g_pool);
        g_pool = -1;
    }
    return flushed < 0 ? -1 : closed;
}

int32_t BfRead(int handle, void *dst, uint32_t count)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return 0;
    unsigned char *out = static_cast<unsigned char *>(dst);
    uint32_t copied = 0;
    while (copied < count) {
        if (s->cursor >= s->filled && Refill(s) != 0)
            break;
        uint32_t take = uint32_t(s->filled - s->cursor);
        if (take > count - copied)
            take = count - copied;
        memcpy(out + copied, s->buffer + s->cursor, take);
        s->cursor += int32_t(take);
        copied += take;
    }
    if (copied == 0 && count > 0)
        return -1;
    return int32_t(copied);
}

static int StoreByte(BufferedFile *s, unsigned char byte)
{
    if (s->cursor >= BF_BUFFER_SIZE && Flush(s) < 0)
        return -1;
    s->buffer[s->cursor] = byte;
    if (s->cursor >= s->filled)
        s->filled = s->cursor + 1;
    s->cursor++;
    s->last = s->base + uint32_t(s->filled) - 1;
    s->dirty = 1;
    return 0;
}

int32_t BfWrite(int handle, const void *src, uint32_t count)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return 0;
    if (!s->writable)
        return -1;
    const unsigned char *in = static_cast<const unsigned char *>(src);
    for (uint32_t i = 0; i < count; i++)
        if (StoreByte(s, in[i]) != 0)
            return -1;
    return int32_t(count);
}

int BfPutByte(int handle, int byte)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return 0;
    if (!s->writable || StoreByte(s, static_cast<unsigned char>(byte)) != 0)
        return -1;
    return byte & 0xFF;
}

int BfGetByte(int handle)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return 0;
    if (s->cursor >= s->filled && Refill(s) != 0)
        return -1;
    return s->buffer[s->cursor++];
}

int BfPutWord(int handle, uint16_t value)
{
    if (BfPutByte(handle, value & 0xFF) < 0 || BfPutByte(handle, value >> 8) < 0)
        return -1;
    return 0;
}

uint16_t BfGetWord(int handle)
{
    uint16_t lo = uint16_t(BfGetByte(handle) & 0xFF);
    uint16_t hi = uint16_t(BfGetByte(handle) & 0xFF);
    return uint16_t(lo | hi << 8);
}

int BfPutLong(int handle, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        if (BfPutByte(handle, int(value >> (8 * i)) & 0xFF) < 0)
            return -1;
    return 0;
}

uint32_t BfGetLong(int handle)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; i++)
        value |= uint32_t(BfGetByte(handle) & 0xFF) << (8 * i);
    return value;
}

void BfTell(int handle, uint32_t *position)
{
    BufferedFile *s = FindSlot(handle);
    if (s && position)
        *position = s->base + uint32_t(s->cursor);
}

int BfSeek(int handle, uint32_t offset)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return -1;
    if (offset >= s->base && offset <= s->last) {
        s->cursor = int32_t(offset - s->base);
        return 0;
    }
    if (s->writable && Flush(s) < 0)
        return -1;
    s->base = s->last = offset;
    s->cursor = s->filled = 0;
    uint32_t at = offset;
    FsSeek(handle, &at);
    return 0;
}

int32_t BfFlush(int handle)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return 0;
    return Flush(s);
}

uint32_t BfSize(int handle)
{
    BufferedFile *s = FindSlot(handle);
    if (!s)
        return 0;
    uint32_t size = FsSize(handle);
    uint32_t end = s->base + uint32_t(s->filled);
    return end > size ? end : size;
}

int BfDelete(const char *path)
{
    return FsDelete(path);
}
