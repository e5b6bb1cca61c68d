// Internal to the search: the array form of a tree that the moves work on,
// the subtree moves, the insertion of species, and the dynamic programme
// over a set of clusters.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "common/common.h"

constexpr int32_t kNoNode = -1;

// A rooted binary tree over some of the species 0..n-1. Node s < n is the
// leaf of species s (kNoNode as parent while it is not in the tree); inner
// nodes take the numbers n, n+1, ..., 2n-2.
struct SearchTree {
    int32_t speciesCount;
    int32_t innerCount;
    int32_t root;
    std::vector<int32_t> parent;
    std::vector<std::array<int32_t, 2>> child;
};

// Room for the 2n-1 nodes of a tree on n species, none of them placed.
void resetSearchTree(int32_t n, SearchTree* tree);

inline bool isLeafNode(const SearchTree& tree, int32_t node) {
    return node < tree.speciesCount;
}

// What the moves read besides the triple table: the table again with the
// third species first, byThird[c * pairs + b * (b + 1) / 2 + a] = w[a][b][c]
// for a <= b, so that the weights of every pair against one third species
// are one block, and those of b with every species below it one row; and
// selfLean[a * n + c] = w[a][a][c] - w[a][c][a], zero for tables of trees.
struct SearchTable {
    int32_t n;
    size_t pairs;  // n (n + 1) / 2
    std::vector<int32_t> byThird;
    std::vector<int64_t> selfLean;
};
void prepareSearchTable(SearchTable* table);

// Bytes of a SearchTable for n species.
int64_t searchTableBytes(int32_t n);

// The gain rows of one tree, kept up to date while it changes: for every
// inner node v, side s (0 or 1) and species a,
//   row (v - n) * 2 + s, entry a = sum over b below child s of v and c below
//   the other child of lean[a][b][c],  lean[a][b][c] = w[a][b][c] - w[b][c][a],
// what a gains when it joins child s's side below v instead of meeting both
// children above v. Sums of table entries over distinct triples, so 64-bit.
struct TreeGains {
    std::vector<int64_t> rows;
};

// Bytes of the gain rows of a tree on n species, and of one thread's working
// storage for the moves.
int64_t treeGainsBytes(int32_t n);
int64_t moveWorkBytes(int32_t n);

// Per-thread working storage of the moves; sized on first use.
struct MoveWork {
    std::vector<int64_t> partSums;     // per node: gain rows summed over its species
    std::vector<int64_t> pairGain;     // per inner node: its species paired inside it
    std::vector<int64_t> ownSums;      // one part's sums, when evaluated alone
    std::vector<int64_t> ownPairGain;  // one part's pairs
    std::vector<int64_t> correction;   // per node on a part's way up
    std::vector<int32_t> pathSide;     // per node: side towards the part, or -1
    std::vector<int32_t> order;
    std::vector<int32_t> preorder;
    std::vector<int64_t> gain;  // value of attaching the moved part above a node
    std::vector<int32_t> kids;  // two children per node in the tree without the moved part
    std::vector<int32_t> members;
    std::vector<int32_t> bucket;  // per species: its ancestor of a changing part, or -1
    std::vector<int32_t> outside;
    std::vector<int32_t> groupStart;
    std::vector<int32_t> groupFill;
    std::vector<int64_t> groupSums;  // per species and ancestor
    std::vector<int32_t> towardsRow;
    std::vector<int32_t> awayRow;
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

// The gain rows of a whole tree on all n species, from scratch.
void buildTreeGains(const SearchTable& table, const SearchTree& tree, TreeGains* gains,
                    MoveWork* work);

// Builds a tree by inserting the species in the given order, each at the
// place that satisfies the most weight among the species placed so far,
// with its gain rows.
void insertInOrder(const SearchTable& table, const int32_t* order, SearchTree* tree,
                   TreeGains* gains, MoveWork* work);

// Moves subtrees while a move raises the satisfied weight, taking the best
// move of the whole neighbourhood each time. The gain rows must be the
// tree's, and stay so. Returns the weight gained.
int64_t climbBySubtreeMoves(const SearchTable& table, SearchTree* tree, TreeGains* gains,
                            MoveWork* work);

// The same climb of a tree of three or more species, with a table and gain
// rows of its own: the yardstick the search never ends below.
void climbPlainly(SearchTree* tree);

// Moves subtrees in rounds: each round scores the neighbourhood, then takes
// the parts by decreasing gain and makes each one's best move in the tree as
// it now stands, while it still improves; parts changed by an earlier move of
// the round wait for the next. Far fewer neighbourhoods than the climb above,
// to a tree that no single move improves. Returns the weight gained.
int64_t climbInBatches(const SearchTable& table, SearchTree* tree, TreeGains* gains,
                       MoveWork* work);

// Sum over every set of three distinct species of the heaviest of its three
// resolutions: a binary tree satisfies exactly one of them.
int64_t tripleWeightBound(const SearchTable& table);

// The sharper bound of sets of four species (bounds.cpp); the triple bound
// below four species.
int64_t quartetWeightBound(const SearchTable& table);

// The best tree whose clusters all lie in the given set (the full set and
// single species are always allowed). Returns false when the set holds no
// complete tree.
bool bestTreeOverClusters(const std::vector<SpeciesSet>& clusters, int32_t n, SearchTree* tree);
