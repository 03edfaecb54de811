// Double-byte text for tests: under code page 932, 0x95 0x5C is one character whose trail byte
// is a backslash, 0x83 0x41 one whose trail byte is 'A'.
#pragma once

#include <windows.h>

#define DBCS_TRAIL_BACKSLASH "\x95\x5C"
#define DBCS_TRAIL_A "\x83\x41"

// Test programs run a second time with the Japanese code page (see tests/CMakeLists.txt);
// that run sets REMOVER_EXPECT_CP=932 so a missing code page fails instead of skipping.
inline bool DbcsCodePage()
{
    return GetACP() == 932;
}

#define REQUIRE_DBCS()                                                              \
    do {                                                                            \
        char want[16] = "";                                                         \
        GetEnvironmentVariableA("REMOVER_EXPECT_CP", want, sizeof want);           \
        if (!DbcsCodePage()) {                                                      \
            ASSERT_STRNE("932", want) << "the run asked for code page 932 but has " \
                                      << GetACP();                                 \
            GTEST_SKIP() << "needs the double-byte code page 932";                 \
        }                                                                           \
    } while (0)
