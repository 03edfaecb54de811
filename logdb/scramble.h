// Reversible keyed in-place transformation of a block of bytes. Keeps the log's bodies and the
// stored splash picture from being readable as they lie on disk; it is not encryption.
#pragma once

#include <stdint.h>

constexpr uint32_t SCRAMBLE_LOG_KEY = 0x4C19E7B2;     // every scrambled body of a log
constexpr uint32_t SCRAMBLE_SPLASH_KEY = 0x5BE3C917;  // the splash picture resource
constexpr uint32_t SCRAMBLE_FIXED = 0x2D7A0C63;       // part of every keystream word

// Adds the keystream for key to the n bytes of block (n >= 0).
void ScrambleBlock(void *block, int32_t n, uint32_t key);
// Subtracts it again: UnscrambleBlock(ScrambleBlock(B)) == B.
void UnscrambleBlock(void *block, int32_t n, uint32_t key);
