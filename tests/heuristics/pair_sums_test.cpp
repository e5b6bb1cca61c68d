#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "common/test_support.h"
#include "heuristics/pair_sums_reference.h"

namespace {

std::vector<int32_t> flags(int n, std::initializer_list<int> members) {
    std::vector<int32_t> cluster(static_cast<size_t>(n), 0);
    for (int m : members)
        cluster[static_cast<size_t>(m)] = 1;
    return cluster;
}

struct SumCase {
    std::initializer_list<int> a;
    std::initializer_list<int> b;
    int32_t gain;
    int32_t conflict;
    int32_t total;
};

// One input triple 01|2 of weight 5 on three species.
TEST(PairSumsTest, SingleTripleTable) {
    const SumCase cases[] = {
        {{0}, {1}, 5, 0, 5},    {{1}, {0}, 5, 0, 5}, {{0}, {2}, 0, 5, 0},
        {{2}, {0}, 0, 5, 0},    {{1}, {2}, 0, 5, 0}, {{0, 2}, {1}, 0, 0, 5},
        {{0, 1}, {2}, 0, 0, 0}, {{}, {1}, 0, 0, 0},  {{0}, {}, 0, 0, 0},
    };
    resetTable(3);
    setTriple(0, 1, 2, 5);
    for (const SumCase& c : cases) {
        const std::vector<int32_t> a = flags(3, c.a);
        const std::vector<int32_t> b = flags(3, c.b);
        SCOPED_TRACE(::testing::Message()
                     << "a=" << a[0] << a[1] << a[2] << " b=" << b[0] << b[1] << b[2]);
        EXPECT_EQ(mergeGain(a.data(), b.data()), c.gain);
        EXPECT_EQ(mergeConflict(a.data(), b.data()), c.conflict);
        EXPECT_EQ(pairTotal(a.data(), b.data()), c.total);
    }
}

// The meaning of the sums, counted over the canonical entries (p < q, k) one
// triple at a time: a triple whose three species lie one in A, one in B and
// one outside is decided by the join; it is satisfied when the outside species
// is the distant one and contradicted otherwise.
TEST(PairSumsTest, MatchDecidedTriplesOnRandomClusters) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        const int n = 3 + round % 12;
        fillRandomTable(n, rng, 100, 0.3);
        std::vector<int32_t> a(static_cast<size_t>(n), 0);
        std::vector<int32_t> b(static_cast<size_t>(n), 0);
        std::vector<int> side(static_cast<size_t>(n));  // 0 outside, 1 in A, 2 in B
        for (int x = 0; x < n; ++x) {
            side[static_cast<size_t>(x)] = static_cast<int>(rng() % 3);
            a[static_cast<size_t>(x)] = side[static_cast<size_t>(x)] == 1;
            b[static_cast<size_t>(x)] = side[static_cast<size_t>(x)] == 2;
        }
        int64_t satisfied = 0;
        int64_t contradicted = 0;
        int64_t split = 0;
        for (int p = 0; p < n; ++p)
            for (int q = p + 1; q < n; ++q)
                for (int k = 0; k < n; ++k) {
                    const int sp = side[static_cast<size_t>(p)];
                    const int sq = side[static_cast<size_t>(q)];
                    const int sk = side[static_cast<size_t>(k)];
                    const int32_t w = tripleWeight(p, q, k);
                    if (sp * sq == 2) split += w;                    // pair across A and B
                    if (sp == sq || sq == sk || sp == sk) continue;  // not one in each
                    if (sk == 0)
                        satisfied += w;
                    else
                        contradicted += w;
                }
        EXPECT_EQ(mergeGain(a.data(), b.data()), satisfied);
        EXPECT_EQ(mergeGain(b.data(), a.data()), satisfied);
        EXPECT_EQ(mergeConflict(a.data(), b.data()), contradicted);
        EXPECT_EQ(mergeConflict(b.data(), a.data()), contradicted);
        EXPECT_EQ(pairTotal(a.data(), b.data()), split);
    }
}

TEST(PairSumsTest, IgnoreFlagsAndEntriesBeyondSpeciesCount) {
    resetTable(4);
    setTriple(0, 1, 2, 3);
    setTriple(0, 1, 4, 100);  // species 4 does not exist
    setTriple(0, 4, 1, 100);
    std::vector<int32_t> a = {1, 0, 0, 0, 1, 1};
    std::vector<int32_t> b = {0, 1, 0, 0, 0, 0};
    EXPECT_EQ(mergeGain(a.data(), b.data()), 3);
    EXPECT_EQ(mergeConflict(a.data(), b.data()), 0);
    EXPECT_EQ(pairTotal(a.data(), b.data()), 3);
}

}  // namespace
