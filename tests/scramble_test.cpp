#include "logdb/scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr uint32_t KEY = 0x11223344;

uint32_t Word(const std::vector<unsigned char> &b, size_t i)
{
    uint32_t w;
    memcpy(&w, &b[4 * i], 4);
    return w;
}

TEST(Scramble, ShortBlocksChangeOnlyTheTailFromTheEnd)
{
    std::vector<unsigned char> b(8, 0);
    ScrambleBlock(b.data(), 0, KEY);
    EXPECT_EQ(std::vector<unsigned char>(8, 0), b);

    const unsigned char keyBytes[] = {0x44, 0x33, 0x22};
    for (int n = 1; n <= 3; n++) {
        std::vector<unsigned char> t(4, 0x10);
        ScrambleBlock(t.data(), n, KEY);
        for (int j = 0; j < n; j++)
            EXPECT_EQ(0x10 + keyBytes[j], t[n - 1 - j]) << "n=" << n << " j=" << j;
        EXPECT_EQ(0x10, t[3]) << "nothing past the block";
    }
}

TEST(Scramble, FiveBytesChangeWordZeroAndTheLastByte)
{
    std::vector<unsigned char> b = {1, 2, 3, 4, 5};
    uint32_t w0 = Word(b, 0);
    ScrambleBlock(b.data(), 5, KEY);
    EXPECT_EQ(uint32_t(w0 + 7 + KEY + 0x2D7A0C63u), Word(b, 0));
    EXPECT_EQ(5 + 0x44, b[4]);
}

TEST(Scramble, IndexTermRepeatsEvery191Words)
{
    const size_t words = 400;
    std::vector<unsigned char> b(4 * words, 0);
    ScrambleBlock(b.data(), int32_t(b.size()), 0);
    auto term = [&](size_t i) { return uint32_t(Word(b, i) - 0x2D7A0C63u); };
    EXPECT_EQ(7u, term(0));
    EXPECT_EQ(14u, term(1));
    EXPECT_EQ(189u, term(26));
    EXPECT_EQ(5u, term(27));
    EXPECT_EQ(184u, term(189));
    EXPECT_EQ(0u, term(190));
    EXPECT_EQ(7u, term(191));
    for (size_t i = 0; i < words; i++)
        ASSERT_EQ((7 * (i + 1)) % 191, term(i)) << "word " << i;
}

TEST(Scramble, SumsWrapWithoutCarry)
{
    std::vector<unsigned char> b(9, 0xFF);
    ScrambleBlock(b.data(), 9, 0xFFFFFFFF);
    // word + 7 + 0xFFFFFFFF + fixed, modulo 2^32, in each word independently.
    uint32_t want = uint32_t(0xFFFFFFFFu + 7u + 0xFFFFFFFFu + 0x2D7A0C63u);
    EXPECT_EQ(want, Word(b, 0));
    EXPECT_EQ(uint32_t(0xFFFFFFFFu + 14u + 0xFFFFFFFFu + 0x2D7A0C63u), Word(b, 1));
    EXPECT_EQ(0xFE, b[8]) << "the tail byte wraps within itself";
}

TEST(Scramble, RoundTripWithRandomKeysAndLengths)
{
    std::mt19937 rng(20261207);
    for (int round = 0; round < 500; round++) {
        int n = int(rng() % 3000);
        uint32_t key = rng();
        std::vector<unsigned char> orig(n + 4);
        for (auto &c : orig)
            c = static_cast<unsigned char>(rng());
        std::vector<unsigned char> b = orig;
        ScrambleBlock(b.data(), n, key);
        if (n >= 4) {
            EXPECT_NE(orig, b);
        }
        EXPECT_TRUE(std::equal(orig.begin() + n, orig.end(), b.begin() + n)) << "bytes past n";
        std::vector<unsigned char> wrong = b;
        UnscrambleBlock(wrong.data(), n, key ^ 0x01000000);
        if (n >= 4) {
            EXPECT_NE(orig, wrong) << "another key must not restore the block";
        }
        UnscrambleBlock(b.data(), n, key);
        ASSERT_EQ(orig, b) << "round " << round << " n=" << n;
    }
}

TEST(Scramble, UnalignedBlocksWork)
{
    std::vector<unsigned char> buf(64, 0);
    unsigned char *p = buf.data() + 1;
    ScrambleBlock(p, 13, KEY);
    UnscrambleBlock(p, 13, KEY);
    EXPECT_EQ(std::vector<unsigned char>(64, 0), buf);
}

}  // namespace
