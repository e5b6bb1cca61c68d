// The triple weight table: every input tree becomes the rooted triples it
// displays, each adding the tree's weight to g_tripleWeight.
#pragma once

#include <cstdint>
#include <vector>

#include "common/common.h"

// Largest allowed sum of w[i][j][k] over i < j and all k in tressil's own
// input. Bounding it keeps every 32-bit sum over the table exact.
constexpr int64_t kMaxTripleTotal = INT32_MAX;

// Sizes the table for the species of the numbered input (g_speciesCount, and
// the dump's species whatever it is), zeroes it and resets the total.
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

// Adds the trees still waiting in the batch.
void completeTripleWeights();

// A rooted gene tree for the table. Nodes may have any number of children,
// and a species may stand at several leaves (individuals of one species).
struct GeneTree {
    std::vector<int32_t> parent;   // of every node, -1 at the root; after the node
    std::vector<int32_t> species;  // of every leaf, -1 at inner nodes
    int32_t weight;                // at least 1
    // The support of the branch above every node, 0 to 1, when the triples
    // are weighed by it (TripleWeighting); empty otherwise.
    std::vector<float> support;
};

// Weighing each triple ab|c a tree displays by the supports s of the
// branches that resolve it, from the node joining a and b up to the one
// joining all three: the chance that one of them is right,
// 1 - prod(1 - s) (kAnyRight); the largest s (kLargest); or the first on
// supports rescaled so that a third, a guess among three, counts nothing,
// max(0, (3s - 1) / 2) (kAboveChance). The weight, times the tree's own and
// times scale, is rounded to a whole number: scale is the unit, the weight
// of a triple that every branch resolving it supports fully.
enum class SupportRule { kAnyRight, kLargest, kAboveChance };
struct TripleWeighting {
    SupportRule rule;
    int32_t scale;
};

// The weight of a triple resolved by branches of these supports, from the
// lowest branch up, before the tree's weight and the scale.
double supportWeight(SupportRule rule, const float* supports, int count);

// What gene trees may put into the table, against what the table and the
// sums over it hold.
struct GeneTreeLoad {
    // The most any one entry can reach: the sum over the trees of the weight
    // times the product of the three largest numbers of leaves that one
    // species has in the tree (1 when every leaf is a species of its own).
    int64_t entryBound;
    // entryBound fits an entry, and every sum over distinct species
    // triples, entryBound * unit * n^3 with room to spare, fits 64 bits.
    bool fits;
};
GeneTreeLoad measureGeneTrees(const std::vector<GeneTree>& trees, int32_t species,
                              int32_t unit = 1);

// Sizes the table for species 0..species-1 and adds every tree: for leaves x
// and y of different species that meet at a node, and each leaf z of a third
// species outside that node, w[species of x][species of y][species of z]
// gains the tree's weight. So a tree whose leaves are distinct species adds
// each triple it displays once, and individuals of one species never make a
// triple together. The trees must fit (measureGeneTrees). Uses every thread;
// the table does not depend on their number.
void fillTripleTable(const std::vector<GeneTree>& trees, int32_t species,
                     const TripleWeighting* weighting = nullptr);

// Bytes of the trees as infer holds them, count trees of nodes in all.
int64_t geneTreeBytes(int64_t count, int64_t nodes);

// Most bytes that filling a table of tableBytes for species takes beyond the
// table itself and the trees (count trees of nodes in all): the batch of
// prepared trees and each thread's working rows.
int64_t fillWorkingBytes(int32_t species, int64_t tableBytes, int threads, int64_t count,
                         int64_t nodes);

// Sum of all entries w[i][j][k] with i < j: every triple once.
int64_t tripleTableTotal();

// How well the table agrees with a node whose two children hold the species
// sets a and b: the weight of the triples xy|z with x in a, y in b and z
// among the other species, and of all three resolutions of the same species
// triples. Sums of table entries, so 64 bits hold them.
struct TripleSupport {
    int64_t agreeing;
    int64_t total;
};
TripleSupport tripleSupport(const SpeciesSet& a, const SpeciesSet& b);

// The set as one byte per eight species (byte b holds species 8b..8b+7),
// count bytes, as the row kernels read it; count is the table's row length
// divided by 8.
void speciesSetBytes(const SpeciesSet& set, uint8_t* bytes, int count);

// Sum of row[k] over the species k of a set given as bytes: the row
// kernels' masked sum.
int64_t maskedRowSum(const int32_t* row, const uint8_t* mask, int bytes);

// The clades of a species tree, for anchored triples: clade c holds the
// species s where inside[c * species + s] is 1; meet[a * species + b] is
// the smallest clade holding species a and b, and depth the number of
// clades above each one (the whole tree's clade has depth 0).
struct AnchorClades {
    int32_t count;
    std::vector<uint8_t> inside;
    std::vector<int32_t> meet;
    std::vector<int32_t> depth;
};

// Sizes the table for species 0..species-1 and adds every tree's anchored
// triples: the tree is taken as unrooted, and for leaves x, y, z of three
// species, with X the smallest clade holding them and D the tree's leaves of
// species outside X, w[x][y][z] gains the share of D that lies on z's side
// of the median node of x, y and z (at a polytomy, leaves in a fourth
// direction count for none of the three), times unit and the tree's weight,
// rounded to the nearest whole number tree by tree. With a weighting and
// supports, the share is also multiplied by the rule's weight of the one
// branch every such quartet rests on: the branch from the median towards z.
// The trees must fit measureGeneTrees with unit times their weights. Uses
// every thread; the table does not depend on their number.
void fillAnchoredTable(const std::vector<GeneTree>& trees, int32_t species,
                       const AnchorClades& clades, int32_t unit,
                       const TripleWeighting* weighting = nullptr);
