#include <gtest/gtest.h>

#include <vector>

#include "common/test_support.h"
#include "exact/exact.h"

namespace {

std::vector<uint32_t> enumerate(int n, int k) {
    const int16_t n16 = static_cast<int16_t>(n);
    const int16_t k16 = static_cast<int16_t>(k);
    std::vector<uint32_t> masks;
    for (uint32_t mask = nextSubset(0, n16, k16); mask != 0; mask = nextSubset(mask, n16, k16))
        masks.push_back(mask);
    return masks;
}

TEST(SubsetPrimitives, EnumeratesSmallCasesInOrder) {
    const struct {
        int n;
        int k;
        std::vector<uint32_t> masks;
    } cases[] = {
        {4, 1, {1, 2, 4, 8}},
        {4, 2, {3, 5, 6, 9, 10, 12}},
        {4, 3, {7, 11, 13, 14}},
        {20, 20, {1048575}},
        {4, 0, {}},
        {20, 0, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(enumerate(c.n, c.k), c.masks) << c.n << " " << c.k;
}

// Every k-subset exactly once, in increasing numeric order: the list of all
// masks below 2^n with k bits set.
TEST(SubsetPrimitives, EnumerationMatchesSortedSubsetsUpToTwentyBits) {
    for (int n = 1; n <= kMaxExactSpecies; ++n) {
        std::vector<std::vector<uint32_t>> bySize(static_cast<size_t>(n) + 1);
        for (uint32_t mask = 1; mask < (1u << n); ++mask)
            bySize[static_cast<size_t>(__builtin_popcount(mask))].push_back(mask);
        for (int k = 1; k <= n; ++k)
            ASSERT_EQ(enumerate(n, k), bySize[static_cast<size_t>(k)]) << n << " " << k;
    }
}

TEST(SubsetPrimitives, HighestBit) {
    const uint32_t masks[] = {0, 1, 2, 3, 6, 1u << 19, 0xFFFFF, 0x7FFFFFFF};
    const int expected[] = {0, 0, 1, 1, 2, 19, 19, 30};
    for (size_t i = 0; i < std::size(masks); ++i)
        EXPECT_EQ(highestBit(masks[i]), expected[i]);
}

TEST(SubsetPrimitives, CountCommonCountsOnlySpeciesBits) {
    const struct {
        int n;
        uint32_t a;
        uint32_t b;
        int expected;
    } cases[] = {{3, 5, 7, 2},           {3, 8, 8, 0},           {3, 4, 7, 1}, {3, 0xFF, 0xFF, 3},
                 {20, 0xFFFFF, ~0u, 20}, {20, 1u << 20, ~0u, 0}, {1, 1, 1, 1}, {0, 1, 1, 0}};
    for (const auto& c : cases) {
        g_speciesCount = c.n;
        EXPECT_EQ(countCommon(c.a, c.b), c.expected) << c.n << " " << c.a << " " << c.b;
    }
}

}  // namespace
