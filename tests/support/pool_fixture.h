// A test with a growing, zeroed pool of its own, destroyed afterwards. The pools' failure boxes
// are silenced: tests run out of memory on purpose.
#pragma once

#include <gtest/gtest.h>

#include "base/pool.h"

template <int BLOCK>
class PoolTest : public ::testing::Test {
protected:
    int pool = -1;
    void SetUp() override
    {
        PoolSetOption(POOLOPT_REPORT, 0);
        pool = PoolCreate(BLOCK, POOL_DEFAULT | POOL_GROW | POOL_ZERO);
        ASSERT_GE(pool, 2);
    }
    void TearDown() override { PoolDestroy(pool); }
};
