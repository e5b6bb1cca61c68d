#include <gtest/gtest.h>

#include <random>

#include "common/test_support.h"
#include "exact/exact.h"
#include "exact/exact_test_support.h"

namespace {

struct Entry {
    uint32_t mask;
    int32_t score;
    uint32_t split;
};

void expectEntries(const std::vector<Entry>& entries) {
    for (const Entry& e : entries) {
        EXPECT_EQ(g_subsetScore[e.mask], e.score) << "mask " << e.mask;
        EXPECT_EQ(g_subsetSplit[e.mask], e.split) << "mask " << e.mask;
    }
}

TEST(SolveExact, TwoSpeciesWithoutWeightKeepTheLaterSplit) {
    resetTable(2);
    poisonSubsetTables(2);
    solveExact();
    expectEntries({{1, 0, 0}, {2, 0, 0}, {3, 0, 2}});
}

TEST(SolveExact, ThreeSpeciesWithOneTriple) {
    resetTable(3);
    setTriple(0, 1, 2, 5);
    poisonSubsetTables(3);
    solveExact();
    expectEntries({{1, 0, 0}, {2, 0, 0}, {4, 0, 0}, {3, 5, 2}, {5, 0, 4}, {6, 0, 4}, {7, 5, 4}});
}

TEST(SolveExact, FourSpeciesWithoutWeightTakeTheTopHalves) {
    resetTable(4);
    poisonSubsetTables(4);
    solveExact();
    expectEntries({{15, 0, 12}, {12, 0, 8}, {3, 0, 2}, {14, 0, 8}, {7, 0, 4}});
}

TEST(SolveExact, OneSpeciesSetsOnlyItsEntry) {
    resetTable(1);
    poisonSubsetTables(2);  // entries 2 and 3 must stay untouched
    g_speciesCount = 1;
    solveExact();
    expectEntries({{1, 0, 0}});
    EXPECT_NE(g_subsetSplit[3], 0u);
    EXPECT_NE(g_subsetSplit[2], 0u);
}

struct TableKind {
    const char* name;
    int32_t low;
    int32_t high;
    double zeroShare;  // only for non-negative kinds
};

// Weights in {0, 1} and all-zero tables make ties everywhere, sparse ones make
// most cross sums vanish, negative ones make some subsets have no split at or
// above 0.
const TableKind kKinds[] = {
    {"random", 0, 1000, 0.1}, {"ties", 0, 1, 0.5},      {"sparse", 0, 30, 0.95},
    {"zero", 0, 0, 0.0},      {"negative", -4, 2, 0.0},
};

void fillTable(const TableKind& kind, int n, std::mt19937& rng) {
    if (kind.low < 0)
        fillSignedTable(n, rng, kind.low, kind.high);
    else
        fillRandomTable(n, rng, kind.high, kind.zeroShare, /*allowRepeats=*/n % 2 == 0);
}

void expectSameTables(const SubsetTables& expected, const SubsetTables& actual, const char* what) {
    ASSERT_EQ(expected.score.size(), actual.score.size());
    for (size_t mask = 1; mask < expected.score.size(); ++mask) {
        ASSERT_EQ(expected.score[mask], actual.score[mask]) << what << " score of mask " << mask;
        ASSERT_EQ(expected.split[mask], actual.split[mask]) << what << " split of mask " << mask;
    }
}

// Every entry of both tables, against the plain programme, with both scans
// and with one and three threads.
TEST(SolveExact, MatchesPlainProgrammeOnRandomTables) {
    std::mt19937 rng(20240611);
    for (const TableKind& kind : kKinds)
        for (int n = 2; n <= 13; ++n) {
            const int tables = n <= 8 ? 6 : n <= 11 ? 2 : n == 12 || kind.high > 0 ? 1 : 0;
            for (int t = 0; t < tables; ++t) {
                SCOPED_TRACE(testing::Message() << kind.name << " n=" << n << " table " << t);
                fillTable(kind, n, rng);
                const SubsetTables expected = referenceSolve(n);
                expectSameTables(expected, fastSolve(n, false, 1), "portable, 1 thread");
                expectSameTables(expected, fastSolve(n, true, 1), "vector, 1 thread");
                expectSameTables(expected, fastSolve(n, true, 3), "vector, 3 threads");
                expectSameTables(expected, fastSolve(n, false, 3), "portable, 3 threads");
            }
        }
}

// Beyond the reach of the plain programme: both scans and the thread counts
// still agree everywhere, and the built tree satisfies the reported weight.
TEST(SolveExact, ScansAndThreadCountsAgreeOnSixteenSpecies) {
    std::mt19937 rng(7);
    for (const TableKind& kind : {kKinds[0], kKinds[1]}) {
        SCOPED_TRACE(kind.name);
        const int n = 16;
        fillTable(kind, n, rng);
        const SubsetTables portable = fastSolve(n, false, 1);
        expectSameTables(portable, fastSolve(n, true, 2), "vector, 2 threads");
        const int32_t nextLabel = g_nextLabel;
        TreeNode* tree = buildExactTree(g_fullMask);
        EXPECT_TRUE(isBinaryTreeOnAllSpecies(tree, n));
        EXPECT_EQ(satisfiedWeight(tree), g_subsetScore[g_fullMask]);
        deleteTree(tree);
        g_nextLabel = nextLabel;
    }
}

}  // namespace
