// The search method: the eight candidates improved by subtree moves and by a
// dynamic programme over a constrained set of clusters, with an upper bound
// on the weight any tree can satisfy.
#pragma once

#include <cstdint>

#include "common/common.h"

struct SearchResult {
    TreeNode* tree;     // heap tree on species 0..n-1; the caller frees it with freeTree
    int64_t satisfied;  // triple weight the tree satisfies
    int64_t bound;      // no tree on these species satisfies more
};

// Searches over g_tripleWeight and g_speciesCount. The result depends on the
// table alone, never on the thread count.
SearchResult searchTree();

// Weight of the triples ij|k (i < j) the tree satisfies: k outside the
// smallest cluster that holds both i and j.
int64_t scoreTree(const TreeNode* root);

// No tree on the species of g_tripleWeight satisfies more weight than this:
// the sum over every set of four species of the most one tree on them can
// satisfy, divided by n - 3 (each triple lies in n - 3 such sets), and never
// above the sum over every set of three of its heaviest resolution.
int64_t satisfiedWeightBound();
