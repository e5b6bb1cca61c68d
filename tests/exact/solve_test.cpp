#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "common/test_support.h"
#include "exact/exact.h"
#include "exact/exact_test_support.h"

namespace {

struct Triple {
    int i, j, k;
    int32_t weight;
};

struct Entry {
    uint32_t mask;
    int32_t score;
    uint32_t split;
};

TEST(SolveExact, WorkedExamples) {
    const struct {
        int n;
        std::vector<Triple> triples;
        std::vector<Entry> entries;
    } cases[] = {
        // Equal values: the later split wins, also over a first value of 0.
        {2, {}, {{1, 0, 0}, {2, 0, 0}, {3, 0, 2}}},
        {3, {{0, 1, 2, 5}}, {{4, 0, 0}, {3, 5, 2}, {5, 0, 4}, {6, 0, 4}, {7, 5, 4}}},
        // Of two equal halves the one holding the highest member comes last.
        {4, {}, {{15, 0, 12}, {12, 0, 8}, {3, 0, 2}, {14, 0, 8}, {7, 0, 4}}},
        {1, {}, {{1, 0, 0}}},
    };
    for (const auto& c : cases) {
        resetTable(c.n);
        for (const Triple& t : c.triples)
            setTriple(t.i, t.j, t.k, t.weight);
        poisonSubsetTables(c.n);
        solveExact();
        for (const Entry& e : c.entries) {
            EXPECT_EQ(g_subsetScore[e.mask], e.score) << "n=" << c.n << " mask " << e.mask;
            EXPECT_EQ(g_subsetSplit[e.mask], e.split) << "n=" << c.n << " mask " << e.mask;
        }
    }
}

struct TableKind {
    const char* name;
    int32_t low;
    int32_t high;
    double zeroShare;  // only for non-negative kinds
    int largestN;      // the plain programme grows fast; thirteen species take longest
};

// Weights in {0, 1} and all-zero tables make ties everywhere, sparse ones make
// most cross sums vanish, negative ones leave some subsets without a split at
// or above 0.
const TableKind kKinds[] = {
    {"random", 0, 1000, 0.1, 13}, {"ties", 0, 1, 0.5, 13},      {"sparse", 0, 30, 0.95, 12},
    {"zero", 0, 0, 0.0, 12},      {"negative", -4, 2, 0.0, 12},
};

// Entries naming species at or above n are left over from elsewhere and must
// not count: the table is sized for more species than the n of the run.
void fillTable(const TableKind& kind, int n, std::mt19937& rng) {
    if (kind.low < 0)
        fillSignedTable(n, rng, kind.low, kind.high);
    else
        fillRandomTable(n, rng, kind.high, kind.zeroShare, /*allowRepeats=*/n % 2 == 0);
    std::vector<int32_t> kept;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k)
                kept.push_back(tripleWeight(i, j, k));
    sizeTripleTable(kMaxExactSpecies);
    size_t next = 0;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k)
                setTriple(i, j, k, kept[next++]);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int c = n; c < kMaxExactSpecies; ++c)
                setTriple(i, j, c, 1000);
}

void expectSameTables(const SubsetTables& expected, const SubsetTables& actual, const char* what) {
    for (size_t mask = 1; mask < expected.score.size(); ++mask) {
        ASSERT_EQ(expected.score[mask], actual.score[mask]) << what << " score of mask " << mask;
        ASSERT_EQ(expected.split[mask], actual.split[mask]) << what << " split of mask " << mask;
    }
}

// Every entry of both tables against the plain programme, with both scans and
// with one and three threads.
TEST(SolveExact, MatchesPlainProgrammeOnRandomTables) {
    std::mt19937 rng(20240611);
    for (const TableKind& kind : kKinds)
        for (int n = 2; n <= kind.largestN; ++n) {
            const int tables = n <= 8 ? 6 : n <= 11 ? 2 : 1;
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

// Beyond the reach of the plain programme the scans and thread counts still
// agree everywhere, and the built tree satisfies the reported weight. From 16
// species on the largest subsets have more than four high positions, and from
// 18 on more than six.
TEST(SolveExact, ScansAndThreadCountsAgreeBeyondThePlainProgramme) {
    struct Case {
        int n;
        const TableKind* kind;
    };
    std::mt19937 rng(7);
    for (const Case& c : {Case{16, &kKinds[0]}, Case{16, &kKinds[1]}, Case{18, &kKinds[1]}}) {
        SCOPED_TRACE(testing::Message() << c.kind->name << " n=" << c.n);
        fillTable(*c.kind, c.n, rng);
        expectSameTables(fastSolve(c.n, false, 2), fastSolve(c.n, true, 2), "vector, 2 threads");
        TreeNode* tree = buildExactTree(g_fullMask);
        EXPECT_TRUE(isBinaryTreeOnAllSpecies(tree, c.n));
        EXPECT_EQ(satisfiedWeight(tree), g_subsetScore[g_fullMask]);
        deleteTree(tree);
    }
}

}  // namespace
