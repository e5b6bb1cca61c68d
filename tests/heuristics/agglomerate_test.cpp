#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "heuristics/heuristics.h"
#include "heuristics/pair_sums_reference.h"

namespace {

constexpr int16_t kVariantCount = 2;
constexpr int16_t kScoringCount = 3;

class AgglomerateTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (g_nodePool[0] == nullptr) allocateNodePool();
    }
};

// Leaves in slots 0..n-1, the inner node of join s in slot n+s-1 with label n+s.
bool poolLayoutIsKept(int n) {
    for (int x = 0; x < n; ++x)
        if (g_nodePool[x]->label != x || !isLeaf(g_nodePool[x])) return false;
    for (int s = 1; s < n; ++s)
        if (g_nodePool[n + s - 1]->label != n + s || isLeaf(g_nodePool[n + s - 1])) return false;
    return true;
}

// The construction written out plainly: flag rows, the flag-based sums after
// every join, a selection that takes only scores above -5000 and otherwise the
// first highest one. Counts the joins that needed that last resort.
std::string referenceTree(int16_t variant, int16_t scoring, int* lastResorts) {
    const int n = g_speciesCount;
    if (n < 2) return "0:0";
    std::vector<std::vector<int32_t>> member(n, std::vector<int32_t>(n, 0));
    std::vector<std::vector<float>> score(n, std::vector<float>(n, 0.0f));
    std::vector<TreeNode> nodes(2 * n);
    std::vector<TreeNode*> clusterNode(n);
    std::vector<bool> active(n, true);
    for (int x = 0; x < n; ++x) {
        member[x][x] = 1;
        nodes[x].label = static_cast<int16_t>(x);
        clusterNode[x] = &nodes[x];
    }
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            score[i][j] = score[j][i] =
                firstJoinScore(variant, scoring, pairTotal(member[i].data(), member[j].data()),
                               mergeConflict(member[i].data(), member[j].data()));
    for (int s = 1; s < n; ++s) {
        int q = -1;
        int r = -1;
        const auto firstAbove = [&](float best) {
            for (int a = 0; a < n; ++a)
                for (int b = a + 1; b < n; ++b)
                    if (active[a] && active[b] && score[a][b] > best) {
                        best = score[a][b];
                        q = a;
                        r = b;
                    }
        };
        firstAbove(-5000.0f);
        if (q < 0) {
            ++*lastResorts;
            firstAbove(-std::numeric_limits<float>::infinity());
        }
        TreeNode& node = nodes[n + s - 1];
        node.label = static_cast<int16_t>(n + s);
        node.left = clusterNode[q];
        node.right = clusterNode[r];
        node.weight =
            node.left->weight + node.right->weight + mergeGain(member[q].data(), member[r].data());
        clusterNode[q] = &node;
        active[r] = false;
        for (int k = 0; k < n; ++k)
            member[q][k] = member[q][k] > 0 || member[r][k] > 0;
        for (int j = 0; j < n; ++j) {
            if (j == q || !active[j]) continue;
            const int32_t* a = member[q].data();
            const int32_t* b = member[j].data();
            score[q][j] = score[j][q] =
                joinScore(variant, scoring, mergeGain(a, b), mergeConflict(a, b), pairTotal(a, b));
        }
    }
    return detailText(clusterNode[0]);
}

// Builds every variant and checks it against the reference, node for node.
void expectSameAsReference(int* lastResorts, bool distinctSpecies) {
    const int n = g_speciesCount;
    for (int16_t variant = 0; variant < kVariantCount; ++variant)
        for (int16_t scoring = 0; scoring < kScoringCount; ++scoring) {
            SCOPED_TRACE(::testing::Message()
                         << "n=" << n << " variant=" << variant << " scoring=" << scoring);
            const std::string expected = referenceTree(variant, scoring, lastResorts);
            const TreeNode* root = agglomerate(variant, scoring);
            ASSERT_EQ(detailText(root), expected);
            ASSERT_TRUE(poolLayoutIsKept(n));
            ASSERT_TRUE(isBinaryTreeOnAllSpecies(root, n));
            if (distinctSpecies) {
                ASSERT_EQ(root->weight, satisfiedWeight(root));
            }
        }
}

struct ScoreCase {
    int16_t variant;
    int16_t scoring;
    int32_t gain;  // total in the first scoring
    int32_t conflict;
    int32_t total;  // unused by the first scoring
    bool first;
    double expected;
};

TEST_F(AgglomerateTest, ScoreRules) {
    const ScoreCase cases[] = {
        // 01|2 of weight 5 on three species: the first scores of the pair 0, 1.
        {0, 0, 5, 0, 0, true, 5.0},
        {0, 1, 5, 0, 0, true, 1.001},
        {0, 2, 5, 0, 0, true, 1.001},
        {1, 0, 5, 0, 0, true, 5.0},
        {1, 1, 5, 0, 0, true, 1.001},
        {1, 2, 5, 0, 0, true, 1.001},
        // The first scores see only the low 16 bits of the divisor.
        {0, 2, 65536, 0, 0, true, 0.0},
        {1, 1, 30000, 35536, 0, true, 0.0},
        {0, 2, 40000, 0, 0, true, 40000.0 / -25536.0 + 8.0},
        {1, 2, 40000, 10000, 0, true, 30000.0 / -25536.0 + 8.0},
        {0, 2, 40000, 0, 40000, false, 1.0 + 8.0},
        // Variant 1 undivided: an integer quotient first, a real one later.
        {1, 0, 9999, 0, 0, true, 10000.0},
        {1, 0, 9999, 0, 9999, false, 10001.0},
        {1, 0, 1, 9000, 0, true, -8999.0},
        {1, 0, 1, 9000, 9001, false, -8999.0 + 0.0002},
        // Every rule after a join.
        {0, 0, 30, 10, 50, false, 30.0},
        {0, 1, 30, 10, 50, false, 30.0 / 40.0 + 0.006},
        {0, 2, 30, 10, 50, false, 30.0 / 50.0 + 0.006},
        {1, 0, 30, 10, 50, false, 20.0 + 0.006},
        {1, 1, 30, 10, 50, false, 20.0 / 40.0 + 0.006},
        {1, 2, 30, 10, 50, false, 20.0 / 50.0 + 0.006},
        {1, 1, 0, 0, 7, false, 0.0},
        {1, 2, 3, 4, 0, false, 0.0},
    };
    for (const ScoreCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "variant=" << c.variant << " scoring=" << c.scoring
                                          << " gain=" << c.gain << " first=" << c.first);
        const float score = c.first ? firstJoinScore(c.variant, c.scoring, c.gain, c.conflict)
                                    : joinScore(c.variant, c.scoring, c.gain, c.conflict, c.total);
        EXPECT_EQ(score, static_cast<float>(c.expected));
    }
}

struct TreeCase {
    const char* name;
    int n;
    std::vector<std::vector<int32_t>> triples;  // i, j, k, weight
    std::vector<int> candidates;                // 3 * variant + scoring
    std::string expected;
};

TEST_F(AgglomerateTest, SmallTrees) {
    const std::vector<int> all = {0, 1, 2, 3, 4, 5};
    const TreeCase cases[] = {
        {"two species", 2, {}, all, "(0:0,1:0)3:0"},
        {"zero table caterpillar", 4, {}, all, "(((0:0,1:0)5:0,2:0)6:0,3:0)7:0"},
        {"single triple", 3, {{0, 1, 2, 5}}, all, "((0:0,1:0)4:5,2:0)5:5"},
        // A first-scoring divisor of 65536 reads as 0: the pair 0, 1 scores 0
        // and loses to the pair 1, 2 unless the score is undivided.
        {"cut divisor", 3, {{0, 1, 2, 65536}, {1, 2, 0, 1}}, {2}, "(0:0,(1:0,2:0)4:1)5:1"},
        {"cut divisor", 3, {{0, 1, 2, 65536}, {1, 2, 0, 1}}, {0}, "((0:0,1:0)4:65536,2:0)5:65536"},
        // Every first score is below -5000 here; the highest pair is still joined.
        {"last resort",
         3,
         {{0, 1, 2, 10000}, {0, 2, 1, 10000}, {1, 2, 0, 12000}},
         {3},
         "(0:0,(1:0,2:0)4:12000)5:12000"},
    };
    for (const TreeCase& c : cases) {
        resetTable(c.n);
        for (const std::vector<int32_t>& t : c.triples)
            setTriple(t[0], t[1], t[2], t[3]);
        for (int candidate : c.candidates) {
            SCOPED_TRACE(::testing::Message() << c.name << " candidate " << candidate);
            const TreeNode* root = agglomerate(static_cast<int16_t>(candidate / kScoringCount),
                                               static_cast<int16_t>(candidate % kScoringCount));
            EXPECT_EQ(detailText(root), c.expected);
            EXPECT_EQ(root, g_nodePool[2 * c.n - 2]);
            EXPECT_TRUE(poolLayoutIsKept(c.n));
        }
    }
}

TEST_F(AgglomerateTest, SingleSpeciesIsOneLeaf) {
    resetTable(1);
    g_nodePool[0]->left = g_nodePool[1];  // left over from an earlier tree
    g_nodePool[0]->weight = 9;
    for (int16_t variant = 0; variant < kVariantCount; ++variant)
        for (int16_t scoring = 0; scoring < kScoringCount; ++scoring) {
            const TreeNode* root = agglomerate(variant, scoring);
            EXPECT_EQ(root, g_nodePool[0]);
            EXPECT_EQ(detailText(root), "0:0");
        }
}

TEST_F(AgglomerateTest, RebuildGivesTheSameTree) {
    std::mt19937 rng(5);
    fillRandomTable(30, rng, 40, 0.5);
    for (int16_t variant = 0; variant < kVariantCount; ++variant)
        for (int16_t scoring = 0; scoring < kScoringCount; ++scoring) {
            const std::string first = detailText(agglomerate(variant, scoring));
            sequentialTree();  // another construction reuses the pool in between
            EXPECT_EQ(detailText(agglomerate(variant, scoring)), first);
        }
}

// Random tables of every kind against the plain construction: distinct-species
// entries, many ties, repeated species, and weights large enough that
// contradictions outweigh gains by more than 5000.
TEST_F(AgglomerateTest, MatchesPlainConstructionOnRandomTables) {
    struct Kind {
        int32_t maxWeight;
        double zeroShare;
        bool repeats;
        int step;  // sizes 2, 2 + step, ... up to 40
    };
    const Kind kinds[] = {
        {60, 0.3, false, 3}, {2, 0.8, false, 3},     {0, 0.0, false, 9},
        {30, 0.5, true, 4},  {10000, 0.2, false, 5},
    };
    std::mt19937 rng(2024);
    int lastResorts = 0;
    for (const Kind& kind : kinds)
        for (int n = 2; n <= 40; n += kind.step) {
            fillRandomTable(n, rng, kind.maxWeight, kind.zeroShare, kind.repeats);
            expectSameAsReference(&lastResorts, !kind.repeats);
            if (HasFatalFailure()) return;
        }
    EXPECT_GT(lastResorts, 0);
}

// Negative entries (not produced by the reader) drive every score below the
// selection threshold, so that nearly every join is a last resort.
TEST_F(AgglomerateTest, MatchesPlainConstructionOnNegativeTables) {
    std::mt19937 rng(77);
    int lastResorts = 0;
    for (int n = 2; n <= 12; ++n) {
        fillTableInRange(n, rng, -20000, 10);
        expectSameAsReference(&lastResorts, false);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(lastResorts, 10);
}

}  // namespace
