// Internal to the search: the array form of a tree that the moves work on,
// the subtree moves, the insertion of species, and the dynamic programme
// over a set of clusters.
#pragma once

#include <cstdint>
#include <vector>

#include "common/common.h"

constexpr int kMaxSearchNodes = 2 * kMaxSpecies - 1;
constexpr int32_t kNoNode = -1;

// A rooted binary tree over some of the species 0..n-1. Node s < n is the
// leaf of species s (kNoNode as parent while it is not in the tree); inner
// nodes take the numbers n, n+1, ...
struct SearchTree {
    int32_t speciesCount;
    int32_t innerCount;
    int32_t root;
    int32_t parent[kMaxSearchNodes];
    int32_t child[kMaxSearchNodes][2];
};

inline bool isLeafNode(const SearchTree& tree, int32_t node) {
    return node < tree.speciesCount;
}

// The table the moves read: lean[a][b][c] = w[a][b][c] - w[b][c][a], n x n x n,
// for a species a and two others b, c: what a gains when it joins b's side
// below the node where b and c part, instead of meeting them above it. Each
// w is at most the table total, which fits 32 bits, so the difference does.
struct LeanTable {
    int32_t n;
    std::vector<int32_t> lean;
};
void fillLeanTable(LeanTable* table);

// Per-thread working storage of the moves; sized on first use.
struct MoveWork {
    std::vector<int32_t> sums;  // per inner node: the lean rows summed over its species
    std::vector<const int32_t*> rows;
    std::vector<int32_t> order;
    std::vector<int32_t> preorder;
    std::vector<int32_t> leafSequence;
    std::vector<int32_t> first;  // position of a node's first leaf in leafSequence
    std::vector<int32_t> count;  // number of leaves below a node
    std::vector<int64_t> gain;   // value of attaching the moved part above a node
    std::vector<int32_t> kids;   // two children per node in the tree without the moved part
};

// Hangs `part` (a species not in the tree, or a subtree cut out with
// cutOutParent) above node x, through the free inner node `joint`.
void hangAbove(SearchTree* tree, int32_t part, int32_t joint, int32_t x);

// Cuts out node's parent, whose other child takes its place; node keeps the
// parent's number as its parent, free for hangAbove.
void cutOutParent(SearchTree* tree, int32_t node);

// Weight of the triples ab|c with a in one part, b in the other and c in all
// but the two parts.
int64_t crossWeight(const SpeciesSet& one, const SpeciesSet& other, const SpeciesSet& all);

// A tree on the species 0..n-1 from a tree of nodes (leaf labels 0..n-1).
void treeFromNodes(const TreeNode* root, int32_t n, SearchTree* tree);

// A heap tree; at every inner node the child holding the lower species
// number goes left, so equal trees are written alike.
TreeNode* nodesFromTree(const SearchTree& tree);

// Every cluster of the tree with two or more species, the root's included.
void appendClusters(const SearchTree& tree, std::vector<SpeciesSet>* clusters);

// Weight of the triples the tree satisfies, from g_tripleWeight.
int64_t scoreSearchTree(const SearchTree& tree);

// Builds a tree by inserting the species in the given order, each at the
// place that satisfies the most weight among the species placed so far.
void insertInOrder(const LeanTable& table, const int32_t* order, SearchTree* tree, MoveWork* work);

// Moves subtrees while a move raises the satisfied weight, taking the best
// move of the whole neighbourhood each time. Returns the weight gained.
int64_t climbBySubtreeMoves(const LeanTable& table, SearchTree* tree, MoveWork* work);

// Moves subtrees in rounds: each round scores the neighbourhood, then takes
// the parts by decreasing gain and makes each one's best move in the tree as
// it now stands, while it still improves; parts changed by an earlier move of
// the round wait for the next. Far fewer neighbourhoods than the climb above,
// to a tree that no single move improves. Returns the weight gained.
int64_t climbInBatches(const LeanTable& table, SearchTree* tree, MoveWork* work);

// The best tree whose clusters all lie in the given set (the full set and
// single species are always allowed). Returns false when the set holds no
// complete tree.
bool bestTreeOverClusters(const std::vector<SpeciesSet>& clusters, int32_t n, SearchTree* tree);
