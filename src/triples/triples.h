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

// The same for a tree whose nodes may have any number of children, given by
// its species and by the species below each inner node but the root
// (clusters, in any order, each of two species or more, distinct, and any
// two disjoint or one inside the other). A pair gains the species outside
// the node where it meets, so a node of many children displays no triple
// across its children.
void addClusterTriples(const SpeciesSet& leaves, const SpeciesSet* clusters, int count,
                       int32_t weight);

// True once some tree would have pushed the table total past its limit.
bool tripleWeightTooLarge();

// Mirrors every w[p][q][k] (p < q) into w[q][p][k].
void completeTripleWeights();

// How well the completed table agrees with a node whose two children hold
// the species sets a and b: the weight of the triples xy|z with x in a, y
// in b and z among the other species, and of all three resolutions of the
// same species triples. Sums of table entries, so 64 bits hold them.
struct TripleSupport {
    int64_t agreeing;
    int64_t total;
};
TripleSupport tripleSupport(const SpeciesSet& a, const SpeciesSet& b);
