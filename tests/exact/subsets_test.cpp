#include <gtest/gtest.h>

#include <vector>

#include "common/test_support.h"
#include "exact/exact.h"

namespace {

std::vector<uint32_t> enumerate(int n, int k) {
    std::vector<uint32_t> masks;
    for (uint32_t mask = nextSubset(0, static_cast<int16_t>(n), static_cast<int16_t>(k)); mask != 0;
         mask = nextSubset(mask, static_cast<int16_t>(n), static_cast<int16_t>(k)))
        masks.push_back(mask);
    return masks;
}

struct EnumerationCase {
    int n;
    int k;
    std::vector<uint32_t> masks;
};

TEST(SubsetPrimitives, EnumeratesSmallCasesInOrder) {
    const EnumerationCase cases[] = {
        {4, 1, {1, 2, 4, 8}}, {4, 2, {3, 5, 6, 9, 10, 12}}, {4, 3, {7, 11, 13, 14}},
        {4, 4, {15}},         {20, 20, {1048575}},          {4, 0, {}},
        {20, 0, {}},
    };
    for (const EnumerationCase& c : cases)
        EXPECT_EQ(enumerate(c.n, c.k), c.masks) << "n=" << c.n << " k=" << c.k;
}

TEST(SubsetPrimitives, SingleBitStepsUpAndEndsAtN) {
    for (int n = 1; n <= kMaxExactSpecies; ++n)
        for (int b = 0; b < n; ++b)
            EXPECT_EQ(nextSubset(1u << b, static_cast<int16_t>(n), 1),
                      b + 1 == n ? 0u : 1u << (b + 1))
                << "n=" << n << " b=" << b;
}

// Every k-subset exactly once, in increasing numeric order: the same list as
// filtering all masks below 2^n by their bit count.
TEST(SubsetPrimitives, EnumerationMatchesSortedSubsetsUpToTwentyBits) {
    for (int n = 1; n <= kMaxExactSpecies; ++n) {
        std::vector<std::vector<uint32_t>> bySize(static_cast<size_t>(n) + 1);
        for (uint32_t mask = 1; mask < (1u << n); ++mask)
            bySize[static_cast<size_t>(__builtin_popcount(mask))].push_back(mask);
        for (int k = 1; k <= n; ++k)
            ASSERT_EQ(enumerate(n, k), bySize[static_cast<size_t>(k)]) << "n=" << n << " k=" << k;
    }
}

TEST(SubsetPrimitives, HighestBit) {
    const struct {
        uint32_t mask;
        int expected;
    } cases[] = {{0, 0}, {1, 0},         {2, 1},        {3, 1},
                 {6, 2}, {1u << 19, 19}, {0xFFFFF, 19}, {0x7FFFFFFF, 30}};
    for (const auto& c : cases)
        EXPECT_EQ(highestBit(c.mask), c.expected) << c.mask;
}

TEST(SubsetPrimitives, CountCommonCountsOnlySpeciesBits) {
    const struct {
        int n;
        uint32_t a;
        uint32_t b;
        int expected;
    } cases[] = {
        {3, 5, 7, 2},           {3, 8, 8, 0},           {3, 4, 7, 1}, {3, 0xFF, 0xFF, 3},
        {20, 0xFFFFF, ~0u, 20}, {20, 1u << 20, ~0u, 0}, {1, 1, 1, 1}, {0, 1, 1, 0},
    };
    for (const auto& c : cases) {
        g_speciesCount = c.n;
        EXPECT_EQ(countCommon(c.a, c.b), c.expected) << "n=" << c.n << " " << c.a << " " << c.b;
    }
}

}  // namespace
