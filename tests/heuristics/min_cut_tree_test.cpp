#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "heuristics/heuristics.h"
#include "heuristics/min_cut_reference.h"

namespace {

struct Triple {
    int i, j, k;
    int32_t weight;  // also set at the mirror [j][i][k]
};

struct TreeCase {
    std::string name;
    int n;
    std::vector<Triple> triples;
    int32_t rootWeight;
    // Pool entries n, n+1, ... (the root first): subtree text, and the weight
    // of every entry after the root.
    std::vector<std::string> texts;
    std::vector<int32_t> weights;
};

class MinCutTreeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (g_nodePool[0] == nullptr) allocateNodePool();
    }
};

TEST_F(MinCutTreeTest, WorkedExamples) {
    const std::vector<TreeCase> cases = {
        {"two species", 2, {{0, 1, 0, 4}, {0, 1, 1, 2}}, 0, {"(0,1)"}, {}},
        {"no weight peels the lowest species",
         4,
         {},
         0,
         {"(0,(1,(2,3)))", "(1,(2,3))", "(2,3)"},
         {0, 0}},
        {"one triple", 3, {{0, 1, 2, 1}}, 1, {"((0,1),2)", "(0,1)"}, {0}},
        {"heavier pair wins", 3, {{0, 1, 2, 1}, {0, 2, 1, 3}}, 3, {"((0,2),1)", "(0,2)"}, {0}},
        {"right part divided first",
         5,
         {{0, 1, 2, 2}, {3, 4, 0, 2}, {0, 1, 3, 1}, {2, 3, 4, 1}},
         6,
         {"((0,1),((2,3),4))", "(0,1)", "((2,3),4)", "(2,3)"},
         {0, 0, 0}},
        // The root's matrix is the six-vertex one whose flow (2) falls short
        // of its real cut (3): the score is the satisfied 19 - 3, not 19 - 2.
        {"score counts the real cut",
         6,
         {{0, 3, 1, 4},
          {0, 4, 2, 1},
          {1, 2, 0, 2},
          {1, 4, 3, 5},
          {2, 5, 0, 1},
          {3, 5, 1, 5},
          {4, 5, 0, 1}},
         16,
         {"((0,(3,5)),(1,(2,4)))", "(0,(3,5))", "(1,(2,4))", "(2,4)", "(3,5)"},
         {0, 0, 0, 0}},
        {"inner node keeps its flow",
         4,
         {{1, 2, 3, 1}, {1, 3, 2, 1}, {2, 3, 1, 1}},
         1,
         {"(0,(1,(2,3)))", "(1,(2,3))", "(2,3)"},
         {2, 0}},
    };
    for (const TreeCase& c : cases) {
        resetTable(c.n);
        for (const Triple& t : c.triples)
            setTriple(t.i, t.j, t.k, t.weight);
        const TreeNode* root = minCutTree();
        ASSERT_EQ(root, g_nodePool[c.n]) << c.name;
        EXPECT_EQ(root->weight, c.rootWeight) << c.name;
        EXPECT_EQ(root->weight, satisfiedWeight(root)) << c.name;
        for (size_t k = 0; k < c.texts.size(); ++k) {
            const TreeNode* node = g_nodePool[c.n + k];
            EXPECT_EQ(node->label, c.n + 1 + static_cast<int>(k)) << c.name;
            EXPECT_EQ(treeText(node), c.texts[k]) << c.name << " entry " << c.n + k;
            if (k > 0) {
                EXPECT_EQ(node->weight, c.weights[k - 1]) << c.name << " entry " << c.n + k;
            }
        }
        for (int i = 0; i < c.n; ++i) {
            EXPECT_EQ(g_nodePool[i]->label, i) << c.name;
            EXPECT_EQ(g_nodePool[i]->weight, 0) << c.name;
        }
    }
}

TEST_F(MinCutTreeTest, SingleSpeciesIsOneLeaf) {
    resetTable(1);
    setTriple(0, 0, 0, 9);
    const TreeNode* root = minCutTree();
    ASSERT_EQ(root, g_nodePool[0]);
    EXPECT_EQ(root->label, 0);
    EXPECT_EQ(root->left, nullptr);
    EXPECT_EQ(root->right, nullptr);
    EXPECT_EQ(root->weight, 0);
}

// Every inner node, re-derived from its leaves alone: the plainly summed
// matrix of its cluster, cut by the literal routine, gives its two children
// and (below the root) its weight.
void expectEveryDivisionIsTheLiteralCut(int n, const std::string& what) {
    auto capacity = newCapacityMatrix();
    for (int entry = n; entry < 2 * n - 1; ++entry) {
        const TreeNode* node = g_nodePool[entry];
        ASSERT_EQ(node->label, entry + 1) << what;
        const LeafBitset cluster = leafSet(node);
        std::vector<int> members;
        for (int k = 0; k < n; ++k)
            if (cluster[k]) members.push_back(k);
        const int m = static_cast<int>(members.size());
        for (int a = 0; a < m; ++a)
            for (int b = 0; b < m; ++b) {
                capacity->cell[a][b] = 0;
                for (int c = 0; c < m && a != b; ++c)
                    capacity->cell[a][b] += tripleWeight(members[a], members[b], members[c]);
            }
        const LiteralCut cut = literalMinCut(m, capacity->cell);
        LeafBitset left;
        for (int a = 0; a < m; ++a)
            if (cut.side[a] == 1) left.set(members[a]);
        ASSERT_EQ(leafSet(node->left), left) << what << " entry " << entry;
        ASSERT_EQ(leafSet(node->right), cluster & ~left) << what << " entry " << entry;
        if (entry > n) {
            ASSERT_EQ(node->weight, cut.value) << what << " entry " << entry;
        }
    }
}

TEST_F(MinCutTreeTest, MatchesLiteralCutsAndScoresOnRandomTables) {
    std::mt19937 rng(77031);
    struct Family {
        int minN, maxN, count;
        int32_t maxWeight;
        double zeroShare;
        bool repeats;
    };
    // Large weights on few species push every sink of a cluster to the bound.
    const Family families[] = {
        {2, 40, 24, 2, 0.93, false},
        {65, 80, 1, 1, 0.995, false},  // member rows over two words
        {2, 24, 30, 9, 0.3, true},
        {3, 9, 20, 30000, 0.1, false},
    };
    for (const Family& family : families) {
        std::uniform_int_distribution<int> sizeDist(family.minN, family.maxN);
        for (int round = 0; round < family.count; ++round) {
            const int n = sizeDist(rng);
            fillRandomTable(n, rng, family.maxWeight, family.zeroShare, family.repeats);
            const std::string what = "n " + std::to_string(n) + " round " + std::to_string(round);
            const TreeNode* root = minCutTree();
            ASSERT_EQ(root, g_nodePool[n]) << what;
            ASSERT_TRUE(isBinaryTreeOnAllSpecies(root, n)) << what;
            EXPECT_EQ(root->weight, satisfiedWeight(root)) << what;
            expectEveryDivisionIsTheLiteralCut(n, what);
        }
    }
}

TEST_F(MinCutTreeTest, SecondBuildIsIdentical) {
    constexpr int kN = 30;
    std::mt19937 rng(5);
    fillRandomTable(kN, rng, 5, 0.5);
    std::vector<TreeNode> builds[2];
    for (std::vector<TreeNode>& build : builds) {
        EXPECT_EQ(minCutTree(), g_nodePool[kN]);
        for (int entry = 0; entry < 2 * kN - 1; ++entry)
            build.push_back(*g_nodePool[entry]);
    }
    for (int entry = 0; entry < 2 * kN - 1; ++entry) {
        EXPECT_EQ(builds[0][entry].label, builds[1][entry].label);
        EXPECT_EQ(builds[0][entry].left, builds[1][entry].left);
        EXPECT_EQ(builds[0][entry].right, builds[1][entry].right);
        EXPECT_EQ(builds[0][entry].weight, builds[1][entry].weight);
    }
}

}  // namespace
