#include "logdb/scramble.h"

// Kept free of Win32 so the host build tool can compile the same file.

static uint32_t LoadWord(const unsigned char *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

static void StoreWord(unsigned char *p, uint32_t w)
{
    p[0] = static_cast<unsigned char>(w);
    p[1] = static_cast<unsigned char>(w >> 8);
    p[2] = static_cast<unsigned char>(w >> 16);
    p[3] = static_cast<unsigned char>(w >> 24);
}

// sign is +1 to scramble, -1 to unscramble; all arithmetic wraps.
static void ApplyKeystream(void *block, int32_t n, uint32_t key, uint32_t sign)
{
    if (n <= 0)
        return;
    unsigned char *b = static_cast<unsigned char *>(block);
    int32_t words = n / 4;
    uint32_t index = 0;   // (7 * (i + 1)) mod 191, kept incrementally
    for (int32_t i = 0; i < words; i++) {
        index += 7;
        if (index >= 191)
            index -= 191;
        uint32_t s = index + key + SCRAMBLE_FIXED;
        StoreWord(b + 4 * i, LoadWord(b + 4 * i) + sign * s);
    }
    int32_t tail = n % 4;
    for (int32_t j = 0; j < tail; j++) {
        unsigned char k = static_cast<unsigned char>(key >> (8 * j));
        b[n - 1 - j] = static_cast<unsigned char>(b[n - 1 - j] + sign * k);
    }
}

void ScrambleBlock(void *block, int32_t n, uint32_t key)
{
    ApplyKeystream(block, n, key, 1u);
}

void UnscrambleBlock(void *block, int32_t n, uint32_t key)
{
    ApplyKeystream(block, n, key, 0xFFFFFFFFu);
}
