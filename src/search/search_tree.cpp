// The array form of the trees the search works on: conversion from and to
// tree nodes, clusters and scoring.
#include <vector>

#include "search/search_steps.h"
#include "triples/triples.h"

// Nodes in an order where every node comes after its children.
static void listChildrenFirst(const SearchTree& tree, std::vector<int32_t>* order) {
    order->clear();
    std::vector<int32_t> pending{tree.root};
    while (!pending.empty()) {
        const int32_t node = pending.back();
        pending.pop_back();
        order->push_back(node);
        if (isLeafNode(tree, node)) continue;
        pending.push_back(tree.child[node][0]);
        pending.push_back(tree.child[node][1]);
    }
    // Parents were listed before their children; reversed, they come after.
    std::vector<int32_t> reversed(order->rbegin(), order->rend());
    order->swap(reversed);
}

// The species below every node of the tree.
static void gatherBelow(const SearchTree& tree, std::vector<SpeciesSet>* below) {
    std::vector<int32_t> order;
    listChildrenFirst(tree, &order);
    below->assign(tree.parent.size(), SpeciesSet{});
    for (const int32_t node : order)
        (*below)[static_cast<size_t>(node)] =
            isLeafNode(tree, node) ? singleSpecies(node)
                                   : uniteSets((*below)[static_cast<size_t>(tree.child[node][0])],
                                               (*below)[static_cast<size_t>(tree.child[node][1])]);
}

void treeFromNodes(const TreeNode* root, int32_t n, SearchTree* tree) {
    resetSearchTree(n, tree);
    struct Pending {
        const TreeNode* node;
        int32_t parent;
        int side;
    };
    std::vector<Pending> pending{{root, kNoNode, 0}};
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        int32_t id = next.node->label;
        if (next.node->left != nullptr) id = n + tree->innerCount++;
        tree->parent[id] = next.parent;
        if (next.parent == kNoNode)
            tree->root = id;
        else
            tree->child[next.parent][next.side] = id;
        if (next.node->left == nullptr) continue;
        pending.push_back({next.node->right, id, 1});
        pending.push_back({next.node->left, id, 0});
    }
}

TreeNode* nodesFromTree(const SearchTree& tree) {
    std::vector<SpeciesSet> below;
    gatherBelow(tree, &below);
    std::vector<int32_t> order;
    listChildrenFirst(tree, &order);
    std::vector<TreeNode*> made(tree.parent.size(), nullptr);
    for (const int32_t node : order) {
        TreeNode* made_node = allocateNode();
        made[static_cast<size_t>(node)] = made_node;
        if (isLeafNode(tree, node)) {
            made_node->label = static_cast<int16_t>(node);
            continue;
        }
        made_node->label = takeNextLabel();
        int32_t left = tree.child[node][0];
        int32_t right = tree.child[node][1];
        if (lowestSpecies(below[static_cast<size_t>(right)]) <
            lowestSpecies(below[static_cast<size_t>(left)]))
            std::swap(left, right);
        made_node->left = made[static_cast<size_t>(left)];
        made_node->right = made[static_cast<size_t>(right)];
        made_node->left->parent = made_node;
        made_node->right->parent = made_node;
    }
    return made[static_cast<size_t>(tree.root)];
}

void appendClusters(const SearchTree& tree, std::vector<SpeciesSet>* clusters) {
    std::vector<SpeciesSet> below;
    gatherBelow(tree, &below);
    for (int32_t i = 0; i < tree.innerCount; ++i)
        clusters->push_back(below[static_cast<size_t>(tree.speciesCount + i)]);
}

// Sum over a in one and b in other of w[a][b][c] over c in outside: a masked
// sum of each pair's row.
static int64_t crossSum(const SpeciesSet& one, const SpeciesSet& other, const SpeciesSet& outside) {
    std::vector<int> left(static_cast<size_t>(g_tripleWeight.species));
    std::vector<int> right(static_cast<size_t>(g_tripleWeight.species));
    std::vector<uint8_t> mask(g_tripleWeight.rowLength / 8);
    const int nl = listSpecies(one, left.data());
    const int nr = listSpecies(other, right.data());
    const auto bytes = static_cast<int>(mask.size());
    speciesSetBytes(outside, mask.data(), bytes);
    int64_t sum = 0;
    for (int a = 0; a < nl; ++a)
        for (int b = 0; b < nr; ++b)
            sum +=
                maskedRowSum(tripleRow(left[static_cast<size_t>(a)], right[static_cast<size_t>(b)]),
                             mask.data(), bytes);
    return sum;
}

int64_t crossWeight(const SpeciesSet& one, const SpeciesSet& other, const SpeciesSet& all) {
    return crossSum(one, other, subtractSets(all, uniteSets(one, other)));
}

// At each inner node the triples ab|c with a and b on different sides and c
// outside are satisfied, and each satisfied triple is counted at one node.
int64_t scoreSearchTree(const SearchTree& tree) {
    std::vector<SpeciesSet> below;
    gatherBelow(tree, &below);
    const SpeciesSet all = below[static_cast<size_t>(tree.root)];
    int64_t score = 0;
    for (int32_t i = 0; i < tree.innerCount; ++i) {
        const int32_t node = tree.speciesCount + i;
        score += crossSum(below[static_cast<size_t>(tree.child[node][0])],
                          below[static_cast<size_t>(tree.child[node][1])],
                          subtractSets(all, below[static_cast<size_t>(node)]));
    }
    return score;
}
