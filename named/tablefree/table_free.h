// Species trees without a triple table: the weight a species tree satisfies
// at a node is summed straight from the gene trees, so memory grows with the
// trees and not with the cube of the species.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "named/common/named.h"
#include "triples/triples.h"

// The gene trees as the counts read them: every tree's nodes in preorder,
// so that a subtree's nodes are one run, with an index for the meeting
// node of any two of them. A species may stand at several leaves of a tree
// (individuals); triples count only among three distinct species, as in the
// table.
struct CountingTrees {
    int32_t species;
    std::vector<int64_t> weight;       // per tree
    std::vector<int64_t> nodeStart;    // per tree, into the node arrays; then the end
    std::vector<int32_t> depth;        // per node: edges from its tree's root
    std::vector<int32_t> parent;       // per node: preorder number in its tree, -1 at the root
    std::vector<int32_t> leafSpecies;  // per node: the species of a leaf, -1 inside
    std::vector<int64_t> tableStart;   // per tree, into shallowest; then the end
    // Per tree and level j: at position i, the shallowest of the nodes
    // i..i+2^j-1 (preorder numbers).
    std::vector<int32_t> shallowest;
    std::vector<int32_t>
        leafAt;  // tree * species + s: preorder number of s's first leaf, -1 if absent
    // Trees with a species at several leaves: per tree, into the repeat
    // arrays (then the end), by node: at node repeatNode, repeatPairs pairs
    // of leaves of species repeatSpecies meet, each pair below two children.
    std::vector<int64_t> repeatStart;
    std::vector<int32_t> repeatNode;
    std::vector<int32_t> repeatSpecies;
    std::vector<int64_t> repeatPairs;
    // Weighed triples: per node, the support of the branch above it, and
    // the rule; empty when every triple counts the tree's weight.
    std::vector<float> support;
    TripleWeighting weighting;
};

// Prepares trees on species 0..species-1, each triple weighed as the
// table weighs it when weighting is given. Throws NewickError when the
// weights could pass the sums.
CountingTrees prepareCountingTrees(const std::vector<StoredTree>& trees, int32_t species,
                                   const TripleWeighting* weighting = nullptr);

// Bytes of the prepared trees, count trees of nodes in all, on species.
int64_t countingTreesBytes(int32_t species, int64_t count, int64_t nodes);

// Triple weights of the gene trees among species of three colours (0, 1, 2):
// pair[c][z] is the weight of the triples ab|z with a and b of colour c and
// z of colour z (z != c); mixed[z] that of ab|z with a and b of the two
// colours other than z. Sums of tree weights over triples: 64 bits.
struct ColourWeights {
    std::array<std::array<int64_t, 3>, 3> pair;
    std::array<int64_t, 3> mixed;
};

// Working storage of one thread's counts; sized on first use.
struct CountWork {
    std::vector<int8_t> colour;  // per species, -1 when not counted
    std::vector<int32_t> leaves;
    struct Open {
        int32_t node;
        int32_t depth;
        std::array<int64_t, 3> total;  // leaves of each colour below
        std::array<int64_t, 3> pairs;  // sum over children of C(n_c, 2)
        std::array<int64_t, 3> mixed;  // of n_x n_y, z the third colour
    };
    std::vector<Open> open;
    // Weighed trees: the nodes where the counted leaves meet, each with the
    // one above it (-1 at the top), by preorder number in at.
    std::vector<Open> met;
    std::vector<int32_t> metUp;
    std::vector<int32_t> at;
};

// The weights for members[c], the species of colour c, over every tree, on
// the calling thread.
ColourWeights colourWeights(const CountingTrees& trees,
                            const std::array<std::vector<int32_t>, 3>& members, CountWork* work);

// The weight a node whose children hold the species sets one and other
// satisfies: ab|c with a, b in one set and c in the other.
int64_t splitWeight(const CountingTrees& trees, const std::vector<int32_t>& one,
                    const std::vector<int32_t>& other, CountWork* work);

// The weight a tree satisfies, summed over its inner nodes from the gene
// trees: at a node of children X1..Xd, the triples ab|c with a, b in one Xp
// and c in another Xq. Any degree; uses every thread, the sum the same for
// all counts.
int64_t treeWeight(const CountingTrees& trees, const ResultTree& tree);

// The weight of every triple of three distinct species that the gene trees
// display, satisfied by a species tree or not. Throws NewickError for
// weighed trees with a species at several leaves.
int64_t resolvedWeight(const CountingTrees& trees);

// A binary species tree on the species of side, found from the gene trees:
// average linkage on how often two species pair in the gene trees' triples
// (once on the trees as given, then on resampled trees), each start climbed
// by moves of neighbouring subtrees while one raises the satisfied weight,
// then the best tree all of whose clusters are the climbed trees', climbed
// again, and last climbed by moves of subtrees to edges near their place.
// Never below the first start's climb.
// The tree is the same for every thread count; *weight is the weight it
// satisfies among the side's species.
ResultTree searchWithoutTable(const CountingTrees& trees, const std::vector<int32_t>& side,
                              int64_t* weight);
