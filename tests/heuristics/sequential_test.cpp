#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "heuristics/heuristics.h"

namespace {

class SequentialTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (g_nodePool[0] == nullptr) allocateNodePool();
    }
};

// Leaves in entries 0..n-1 and the spine in n+1..2n-1, root first.
bool poolLayoutIsKept(int n) {
    for (int x = 0; x < n; ++x)
        if (g_nodePool[x]->label != x || !isLeaf(g_nodePool[x])) return false;
    for (int s = 1; s < n; ++s) {
        const TreeNode* spine = g_nodePool[n + s];
        if (spine->label != n + s || !isLeaf(spine->left)) return false;
        if (s + 1 < n && spine->right != g_nodePool[n + s + 1]) return false;
    }
    return true;
}

// The construction written out plainly: the sums over the unplaced species
// recomputed from scratch before every step, a search that takes only ratios
// above -10 and otherwise the first highest one. Counts those last resorts.
std::string referenceTree(int* lastResorts) {
    const int n = g_speciesCount;
    if (n < 2) return "0:0";
    std::vector<char> unplaced(n, 1);
    std::vector<int> order;
    std::vector<int32_t> gains;
    for (int s = 1; s < n; ++s) {
        std::vector<int32_t> ingroup(n, 0);
        std::vector<int32_t> outgroup(n, 0);
        for (int i = 0; i < n; ++i) {
            if (!unplaced[i]) continue;
            for (int j = i + 1; j < n; ++j) {
                if (!unplaced[j]) continue;
                for (int k = 0; k < n; ++k) {
                    if (!unplaced[k]) continue;
                    ingroup[i] += tripleWeight(i, j, k);
                    ingroup[j] += tripleWeight(i, j, k);
                    outgroup[k] += tripleWeight(i, j, k);
                }
            }
        }
        std::vector<float> ratio(n);
        for (int j = 0; j < n; ++j)
            ratio[j] = ingroup[j] >= 1 ? static_cast<float>(static_cast<double>(outgroup[j]) /
                                                            static_cast<double>(ingroup[j]))
                                       : static_cast<float>(outgroup[j] + 100000.0);
        int chosen = -1;
        const auto firstAbove = [&](float best) {
            for (int j = 0; j < n; ++j)
                if (unplaced[j] && ratio[j] > best) best = ratio[chosen = j];
        };
        firstAbove(-10.0f);
        if (chosen < 0) {
            ++*lastResorts;
            firstAbove(-std::numeric_limits<float>::infinity());
        }
        order.push_back(chosen);
        gains.push_back(outgroup[chosen]);
        unplaced[chosen] = 0;
    }
    for (int j = 0; j < n; ++j)
        if (unplaced[j]) order.push_back(j);
    std::string text = std::to_string(order.back()) + ":0";
    int32_t weight = 0;
    for (int s = n - 1; s >= 1; --s) {
        weight += gains[s - 1];
        text = "(" + std::to_string(order[s - 1]) + ":0," + text + ")" + std::to_string(n + s) +
               ":" + std::to_string(weight);
    }
    return text;
}

void expectSameAsReference(int* lastResorts, bool distinctSpecies) {
    const int n = g_speciesCount;
    SCOPED_TRACE(::testing::Message() << "n=" << n);
    const std::string expected = referenceTree(lastResorts);
    const TreeNode* root = sequentialTree();
    ASSERT_EQ(detailText(root), expected);
    ASSERT_TRUE(poolLayoutIsKept(n));
    ASSERT_TRUE(isBinaryTreeOnAllSpecies(root, n));
    if (distinctSpecies) {
        ASSERT_EQ(root->weight, satisfiedWeight(root));
    }
}

struct TreeCase {
    const char* name;
    int n;
    std::vector<std::vector<int32_t>> triples;  // i, j, k, weight
    std::string expected;
};

TEST_F(SequentialTest, SmallTrees) {
    const TreeCase cases[] = {
        {"two species, zero table", 2, {}, "(0:0,1:0)3:0"},
        {"single triple", 3, {{0, 1, 2, 5}}, "(2:0,(0:0,1:0)5:0)4:5"},
        {"four species, zero table", 4, {}, "(0:0,(1:0,(2:0,3:0)7:0)6:0)5:0"},
        // Species 0 rates 7/2 = 3.5, species 3 loses nothing and rates 100000.
        {"lossless first", 4, {{1, 2, 0, 7}, {0, 1, 2, 2}}, "(3:0,(0:0,(1:0,2:0)7:0)6:7)5:7"},
        // Repeated species with negative weights: ingroup sums below 1, ratios
        // -300000 + 100000 and -200000 + 100000, both below -10; the higher one
        // is placed anyway.
        {"last resort", 2, {{0, 1, 0, -300000}, {0, 1, 1, -200000}}, "(1:0,0:0)3:-200000"},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetTable(c.n);
        for (const std::vector<int32_t>& t : c.triples)
            setTriple(t[0], t[1], t[2], t[3]);
        g_nodePool[c.n]->label = 999;  // entry n is not part of the tree
        const TreeNode* root = sequentialTree();
        EXPECT_EQ(detailText(root), c.expected);
        EXPECT_EQ(root, g_nodePool[c.n + 1]);
        EXPECT_TRUE(poolLayoutIsKept(c.n));
        EXPECT_EQ(g_nodePool[c.n]->label, 999);
    }
}

TEST_F(SequentialTest, SingleSpeciesIsOneLeaf) {
    resetTable(1);
    g_nodePool[0]->right = g_nodePool[1];  // left over from an earlier tree
    g_nodePool[0]->weight = 4;
    const TreeNode* root = sequentialTree();
    EXPECT_EQ(root, g_nodePool[0]);
    EXPECT_EQ(detailText(root), "0:0");
}

TEST_F(SequentialTest, RebuildGivesTheSameTree) {
    std::mt19937 rng(8);
    fillRandomTable(40, rng, 30, 0.4);
    const std::string first = detailText(sequentialTree());
    agglomerate(1, 2);  // another construction reuses the pool in between
    EXPECT_EQ(detailText(sequentialTree()), first);
}

TEST_F(SequentialTest, MatchesPlainConstructionOnRandomTables) {
    struct Kind {
        int32_t maxWeight;
        double zeroShare;
        bool repeats;
    };
    const Kind kinds[] = {
        {60, 0.3, false}, {2, 0.8, false}, {0, 0.0, false}, {30, 0.5, true}, {10000, 0.1, true}};
    std::mt19937 rng(99);
    int lastResorts = 0;
    for (int index = 0; index < static_cast<int>(std::size(kinds)); ++index) {
        const Kind& kind = kinds[index];
        for (int n = 2 + index % 2; n <= 40; n += 2) {  // even sizes, then odd ones
            fillRandomTable(n, rng, kind.maxWeight, kind.zeroShare, kind.repeats);
            expectSameAsReference(&lastResorts, !kind.repeats);
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_EQ(lastResorts, 0);  // ratios of non-negative tables are never negative
}

// Negative entries (not produced by the reader) can push every ratio below -10.
TEST_F(SequentialTest, MatchesPlainConstructionOnNegativeTables) {
    std::mt19937 rng(3);
    int lastResorts = 0;
    for (int round = 0; round < 60; ++round) {
        const int n = 2 + round % 9;
        fillTableInRange(n, rng, -300000, 1000);
        expectSameAsReference(&lastResorts, false);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(lastResorts, 0);
}

}  // namespace
