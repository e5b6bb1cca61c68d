// The triple weight table: every input tree becomes the rooted triples it
// displays, each adding the tree's weight to g_tripleWeight.
#pragma once

#include <cstdint>

#include "common/common.h"

// Largest allowed sum of w[i][j][k] over i < j and all k. Bounding it keeps
// every 32-bit sum over the table exact.
constexpr int64_t kMaxTripleTotal = INT32_MAX;

// Zeroes the table for every index the run can read and resets the total.
void clearTripleWeights();

// Adds weight to w[p][q][k] (p < q) for every triple pq|k that the tree under
// node displays: the pair on one side of an inner node, k on the other.
// Leaf sets are sets, so a species repeated on one side counts once. If the
// table total would pass kMaxTripleTotal nothing more is added and
// tripleWeightTooLarge() turns true. Call completeTripleWeights() after the
// last tree.
void addTreeTriples(const TreeNode* node, int32_t weight);

// True once some tree would have pushed the table total past its limit.
bool tripleWeightTooLarge();

// Mirrors every w[p][q][k] (p < q) into w[q][p][k].
void completeTripleWeights();
