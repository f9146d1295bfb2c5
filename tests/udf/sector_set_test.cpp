// The sector set behind the tree's visited directories and the continuation guard.
#include "udf/sector_set.h"

#include <gtest/gtest.h>

namespace {

TEST(SectorSet, EverySectorIsItsOwnKeyAcrossGrowth) {
    SectorSet set;
    // Sector 0 and the two highest sectors are as distinct as any: none stands for a free slot.
    const uint32_t edges[] = {0, 1, 0xFFFFFFFE, 0xFFFFFFFF};
    for (uint32_t s : edges) {
        EXPECT_TRUE(set.insert(s)) << s;
    }
    for (uint32_t s : edges) {
        EXPECT_FALSE(set.insert(s)) << s;
    }
    // Enough sectors to grow the table many times; each is still found once and only once afterwards.
    for (uint32_t s = 2; s < 20000; ++s) {
        ASSERT_TRUE(set.insert(s * 64)) << s;
    }
    for (uint32_t s = 2; s < 20000; ++s) {
        ASSERT_FALSE(set.insert(s * 64)) << s;
    }
    EXPECT_TRUE(set.insert(65));
}

TEST(SectorSet, ALimitedSetTakesNoMoreThanItsLimit) {
    SectorSet set(3);
    EXPECT_TRUE(set.insert(10));
    EXPECT_TRUE(set.insert(20));
    EXPECT_FALSE(set.insert(10));
    EXPECT_TRUE(set.insert(30));
    // Full: a new sector counts as met, so a walk goes no further, and it stays full.
    EXPECT_FALSE(set.insert(40));
    EXPECT_FALSE(set.insert(50));
    EXPECT_FALSE(set.insert(20));
}

}  // namespace
