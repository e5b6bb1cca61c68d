// The search method: the eight candidates improved by subtree moves and by a
// dynamic programme over a constrained set of clusters, with an upper bound
// on the weight any tree can satisfy.
#pragma once

#include <cstdint>

#include "common/common.h"

struct SearchResult {
    TreeNode* tree;         // heap tree on species 0..n-1; the caller frees it with freeTree
    int64_t satisfied;      // triple weight the tree satisfies
    int64_t bound;          // no tree on these species satisfies more
    bool boundFromTriples;  // the bound of species triples, not of sets of four
    int64_t plainClimb;     // weight the plain climb of the search reached, at most satisfied
};

// Up to this many species the bound is the sharper one of sets of four
// species; above, where its n^4 / 24 sets cost more than a tenth of a run
// (on 1,000 gene trees: 7% of the run at 128 species, 13% at 160, 19% at
// 200), the bound of species triples. The sum of the sets' best, n^4 / 6
// entries each below the entry bound of 2^31 (triples.h), fits 64 bits up
// to 400 species.
constexpr int32_t kMaxQuartetBoundSpecies = kMaxSpecies;
static_assert(kMaxQuartetBoundSpecies <= 400, "the sum of the sets of four fits 64 bits");

// Searches over g_tripleWeight and g_speciesCount. The result depends on the
// table alone, never on the thread count.
SearchResult searchTree();

// Bytes of working storage a search on n species with this many threads
// takes at most, the candidates apart.
int64_t searchWorkingBytes(int32_t n, int threads);

// Weight of the triples ij|k (i < j) the tree satisfies: k outside the
// smallest cluster that holds both i and j.
int64_t scoreTree(const TreeNode* root);

// No tree on the species of g_tripleWeight satisfies more weight than this:
// the bound the search reports, of sets of four species up to
// kMaxQuartetBoundSpecies and of species triples above (*fromTriples).
int64_t satisfiedWeightBound(bool* fromTriples);
