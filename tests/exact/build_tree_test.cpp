#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "common/test_support.h"
#include "exact/exact.h"
#include "exact/exact_test_support.h"

namespace {

TreeNode* solveAndBuild(int32_t firstLabel) {
    g_fullMask =
        nextSubset(0, static_cast<int16_t>(g_speciesCount), static_cast<int16_t>(g_speciesCount));
    solveExact();
    g_nextLabel = firstLabel;
    return buildExactTree(g_fullMask);
}

// Inner labels in preorder; checks on the way that every parent link points at
// the node above and that leaves weigh 0.
void collectLabels(const TreeNode* node, const TreeNode* parent, std::vector<int>& labels) {
    EXPECT_EQ(node->parent, parent);
    if (node->left == nullptr) {
        EXPECT_EQ(node->right, nullptr);
        EXPECT_EQ(node->weight, 0);
        return;
    }
    labels.push_back(node->label);
    collectLabels(node->left, node, labels);
    collectLabels(node->right, node, labels);
}

TEST(BuildExactTree, WorkedExamples) {
    const struct {
        int n;
        int32_t weight01Over2;  // w[0][1][2]
        int32_t firstLabel;
        const char* text;
        std::vector<int> labels;
    } cases[] = {
        {3, 5, 5000, "(2,(1,0))", {5000, 5001}},
        {4, 0, 7123, "((3,2),(1,0))", {7123, 7124, 7125}},
        {3, 0, 65536 + 32767, "(2,(1,0))", {32767, -32768}},  // the low 16 bits
        {1, 0, 5000, "0", {}},
    };
    for (const auto& c : cases) {
        resetTable(c.n);
        if (c.weight01Over2 != 0) setTriple(0, 1, 2, c.weight01Over2);
        TreeNode* tree = solveAndBuild(c.firstLabel);
        std::vector<int> labels;
        collectLabels(tree, nullptr, labels);
        EXPECT_EQ(treeText(tree), c.text);
        EXPECT_EQ(labels, c.labels) << c.text;
        EXPECT_EQ(g_nextLabel, c.firstLabel + c.n - 1);
        deleteTree(tree);
    }
}

// Calls visit once for every rooted binary tree on the leaves 0..n-1: each
// tree on 0..i-1 gets leaf i joined above each of its nodes in turn.
void forEachTree(int n, const std::function<void(const TreeNode*)>& visit) {
    TreeNode* root = new TreeNode{};
    std::vector<TreeNode*> nodes{root};
    std::function<void(int)> addLeaf = [&](int leaf) {
        if (leaf == n) return visit(root);
        for (size_t i = 0, count = nodes.size(); i < count; ++i) {
            TreeNode* below = nodes[i];
            TreeNode* parent = below->parent;
            TreeNode*& slot =
                parent == nullptr ? root : (parent->left == below ? parent->left : parent->right);
            TreeNode* newLeaf = new TreeNode{};
            newLeaf->label = static_cast<int16_t>(leaf);
            TreeNode* joint = new TreeNode{0, parent, below, newLeaf, 0.0f, 0};
            newLeaf->parent = below->parent = slot = joint;
            nodes.insert(nodes.end(), {newLeaf, joint});
            addLeaf(leaf + 1);
            nodes.resize(count);
            slot = below;
            below->parent = parent;
            delete newLeaf;
            delete joint;
        }
    };
    addLeaf(1);
    delete root;
}

// The recorded optimum is the best satisfied weight over every rooted binary
// tree, and the built tree reaches it.
TEST(BuildExactTree, ReachesTheOptimumOverAllTrees) {
    std::mt19937 rng(99);
    const struct {
        int n;
        int32_t maxWeight;
        double zeroShare;
        int tables;
    } cases[] = {{3, 5, 0.2, 10}, {4, 9, 0.3, 10}, {5, 20, 0.5, 6}, {6, 1, 0.5, 4},
                 {6, 50, 0.0, 3}, {7, 3, 0.6, 1},  {7, 100, 0.1, 1}};
    const long treeCounts[] = {0, 1, 1, 3, 15, 105, 945, 10395};
    for (const auto& c : cases)
        for (int t = 0; t < c.tables; ++t) {
            SCOPED_TRACE(testing::Message() << "n=" << c.n << " table " << t);
            fillRandomTable(c.n, rng, c.maxWeight, c.zeroShare);
            int64_t best = -1;
            long trees = 0;
            forEachTree(c.n, [&](const TreeNode* tree) {
                ++trees;
                best = std::max(best, satisfiedWeight(tree));
            });
            EXPECT_EQ(trees, treeCounts[c.n]);
            TreeNode* built = solveAndBuild(5000);
            EXPECT_EQ(g_subsetScore[g_fullMask], best);
            EXPECT_EQ(satisfiedWeight(built), best);
            EXPECT_TRUE(isBinaryTreeOnAllSpecies(built, c.n));
            deleteTree(built);
        }
}

}  // namespace
