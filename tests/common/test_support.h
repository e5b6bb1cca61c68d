// Helpers shared by the tests: building triple tables by hand, independent
// re-scoring of trees, and small random generators.
#pragma once

#include <bitset>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/common.h"
#include "triples/triples.h"

using LeafBitset = std::bitset<kMaxSpecies>;

// Sets n and zeroes every entry with indices below n.
void resetTable(int n);

// Sets w[i][j][k] and its mirror w[j][i][k].
void setTriple(int i, int j, int k, int32_t weight);

// Fills a table on n species with random weights in [0, maxWeight]; with
// probability zeroShare an entry pair stays 0. Entries whose third index equals
// one of the first two stay 0 unless allowRepeats is set.
void fillRandomTable(int n, std::mt19937& rng, int32_t maxWeight, double zeroShare,
                     bool allowRepeats = false);

// Sets n and fills every entry with i < j (mirrored), k included when it
// equals i or j, with weights drawn uniformly from [lo, hi].
void fillTableInRange(int n, std::mt19937& rng, int32_t lo, int32_t hi);

// Leaf species below a node (a set, repeated labels count once).
LeafBitset leafSet(const TreeNode* node);

// Independent count of the triple weight a tree satisfies: ij|k (i < j) counts
// when k lies outside the smallest cluster holding both i and j.
int64_t satisfiedWeight(const TreeNode* root);

// The tree written in the result format without line breaks, e.g. "((0,1),2)".
std::string treeText(const TreeNode* root);

bool isLeaf(const TreeNode* node);

// The tree with every node's label and weight, e.g. "(0:0,1:0)3:0".
std::string detailText(const TreeNode* node);

// Every leaf label 0..n-1 appears exactly once and every inner node has two
// children.
bool isBinaryTreeOnAllSpecies(const TreeNode* root, int n);

// A random rooted tree of this weight on the leaves (repeated species are
// individuals), children before parents: random parts joined two to
// `widest` at a time until one is left.
GeneTree randomTreeOver(const std::vector<int32_t>& leaves, int32_t weight, int widest,
                        std::mt19937& rng);
