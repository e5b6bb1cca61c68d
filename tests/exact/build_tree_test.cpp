#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include "common/test_support.h"
#include "exact/exact.h"
#include "exact/exact_test_support.h"

namespace {

struct Built {
    TreeNode* root;
    int32_t firstLabel;
};

Built solveAndBuild(int32_t firstLabel) {
    g_fullMask =
        nextSubset(0, static_cast<int16_t>(g_speciesCount), static_cast<int16_t>(g_speciesCount));
    solveExact();
    g_nextLabel = firstLabel;
    return {buildExactTree(g_fullMask), firstLabel};
}

// Parent links point at the node above, leaves carry weight 0.
void expectLinks(const TreeNode* node, const TreeNode* parent) {
    EXPECT_EQ(node->parent, parent);
    if (node->left == nullptr) {
        EXPECT_EQ(node->right, nullptr);
        EXPECT_EQ(node->weight, 0);
        return;
    }
    expectLinks(node->left, node);
    expectLinks(node->right, node);
}

TEST(BuildExactTree, ThreeSpeciesExample) {
    resetTable(3);
    setTriple(0, 1, 2, 5);
    const Built b = solveAndBuild(5000);
    EXPECT_EQ(treeText(b.root), "(2,(1,0))");
    EXPECT_EQ(b.root->label, 5000);
    EXPECT_EQ(b.root->right->label, 5001);
    EXPECT_EQ(g_nextLabel, 5002);
    expectLinks(b.root, nullptr);
    deleteTree(b.root);
}

TEST(BuildExactTree, FourSpeciesWithoutWeightLabelsInPreorder) {
    resetTable(4);
    const Built b = solveAndBuild(7123);
    EXPECT_EQ(treeText(b.root), "((3,2),(1,0))");
    EXPECT_EQ(b.root->label, 7123);
    EXPECT_EQ(b.root->left->label, 7124);
    EXPECT_EQ(b.root->right->label, 7125);
    EXPECT_EQ(g_nextLabel, 7126);
    expectLinks(b.root, nullptr);
    deleteTree(b.root);
}

TEST(BuildExactTree, LabelsKeepTheLowSixteenBits) {
    resetTable(3);
    const Built b = solveAndBuild(65536 + 32767);
    EXPECT_EQ(b.root->label, 32767);
    EXPECT_EQ(b.root->right->label, -32768);
    EXPECT_EQ(g_nextLabel, 65536 + 32769);
    deleteTree(b.root);
}

TEST(BuildExactTree, OneSpeciesIsALeaf) {
    resetTable(1);
    const Built b = solveAndBuild(5000);
    EXPECT_EQ(b.root->label, 0);
    EXPECT_EQ(b.root->left, nullptr);
    EXPECT_EQ(b.root->right, nullptr);
    EXPECT_EQ(b.root->parent, nullptr);
    EXPECT_EQ(b.root->weight, 0);
    EXPECT_EQ(g_nextLabel, 5000);
    deleteTree(b.root);
}

// Calls visit once for every rooted binary tree on the leaves 0..n-1: each
// tree on 0..i-1 gets leaf i joined above each of its nodes in turn.
void forEachTree(int n, const std::function<void(const TreeNode*)>& visit) {
    std::vector<TreeNode*> nodes;
    TreeNode* root = nullptr;
    std::function<void(int)> addLeaf = [&](int leaf) {
        if (leaf == n) {
            visit(root);
            return;
        }
        const size_t count = nodes.size();
        for (size_t i = 0; i < count; ++i) {
            TreeNode* below = nodes[i];
            TreeNode* parent = below->parent;
            TreeNode* newLeaf = new TreeNode{};
            newLeaf->label = static_cast<int16_t>(leaf);
            TreeNode* joint = new TreeNode{};
            joint->left = below;
            joint->right = newLeaf;
            joint->parent = parent;
            newLeaf->parent = joint;
            below->parent = joint;
            TreeNode*& slot =
                parent == nullptr ? root : (parent->left == below ? parent->left : parent->right);
            slot = joint;
            nodes.push_back(newLeaf);
            nodes.push_back(joint);
            addLeaf(leaf + 1);
            nodes.pop_back();
            nodes.pop_back();
            slot = below;
            below->parent = parent;
            delete newLeaf;
            delete joint;
        }
    };
    root = new TreeNode{};
    nodes.push_back(root);
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
            const Built b = solveAndBuild(5000);
            EXPECT_EQ(g_subsetScore[g_fullMask], best);
            EXPECT_EQ(satisfiedWeight(b.root), best);
            EXPECT_TRUE(isBinaryTreeOnAllSpecies(b.root, c.n));
            expectLinks(b.root, nullptr);
            EXPECT_EQ(g_nextLabel, 5000 + c.n - 1);
            deleteTree(b.root);
        }
}

}  // namespace
