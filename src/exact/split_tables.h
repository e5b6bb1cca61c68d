// Internal to the exact method: the tables that solveExact prepares for one
// subset S, from which a split scan (split_scan.h) picks its best split.
//
// Each bipartition of S is visited once, as (A, S \ A) with A not holding the
// highest member of S. The other members, listed in a fixed order, are cut
// into a low part (member positions 0..lowBits-1) and a high part (the next
// highBits positions), so A is a low part x together with a high part y, and
//   value(A) = score[A] + score[S \ A] + cut weight of A
//   cut weight of A = lowCut[x] + highCut[y] - 2 * (edge weight between x and y)
// (solve.cpp derives the cut weight).
#pragma once

#include <cstdint>

#include "common/common.h"

// Largest low and high parts. A subset of k members takes about kRowBits
// high bits: more rows cost more to start, longer rows more to prepare.
constexpr int kRowBits = 4;
constexpr int kLowBits = kMaxExactSpecies / 2;
constexpr int kHighBits = kMaxExactSpecies - 1 - kLowBits;
constexpr int kLowParts = 1 << kLowBits;
constexpr int kHighParts = 1 << kHighBits;

// The vector forms need low parts of at least one full run of 8 lanes.
constexpr int kVectorRunBits = 3;

// The vector scan reads scores in aligned groups of eight table entries, whose
// masks differ only in three species, the group species. Copy c of the
// subset scores is indexed by masks rotated by c * kGroupBits places, so that
// its group species are c * kGroupBits and the two above; each subset reads
// the copy that holds the most of its members in one group.
constexpr int kGroupBits = 3;
constexpr uint32_t kGroupMask = (1u << kGroupBits) - 1;
constexpr int kScoreCopies = 4;
constexpr uint32_t kAllSpecies = (1u << kMaxExactSpecies) - 1;

// Index of a mask in copy c: species c * kGroupBits and up move down to bit
// 0, the species below them to the top bits of the index.
inline uint32_t rotateMask(uint32_t mask, int copy) {
    const int places = copy * kGroupBits;
    if (places == 0) return mask;
    return ((mask >> places) | (mask << (kMaxExactSpecies - places))) & kAllSpecies;
}

// The mask of an index of copy c.
inline uint32_t unrotateIndex(uint32_t index, int copy) {
    const int places = copy * kGroupBits;
    if (places == 0) return index;
    return ((index << places) | (index >> (kMaxExactSpecies - places))) & kAllSpecies;
}

// Weight sums here are 32-bit unsigned on purpose: a partial sum such as a
// degree total may pass INT32_MAX, but every split value is at most the table
// total, so the wrap cancels and the value is exact.
struct SplitTables {
    uint32_t subset;  // S
    int k;            // members of S
    int lowBits;      // at most kLowBits
    int highBits;     // k - 1 - lowBits
    uint32_t lowCut[kLowParts];
    uint32_t highCut[kHighParts];
    // Twice the edge weight between high position q and each low part.
    uint32_t highToLow[kHighBits][kLowParts];
    // Where the scores are read: copy `copy` of the subset scores, with S and
    // every part as indexes of it. The members of S among that copy's group
    // species are its lowest member positions.
    int copy;
    const int32_t* scores;
    uint32_t subsetIndex;
    uint32_t lowIndex[kLowParts];
    uint32_t highIndex[kHighParts];
};

// Edge tables hold rows of this length: the species and room to read the
// last of them in whole vectors of eight.
constexpr int kEdgeRow = 24;

// The members of S in the order of their positions, and the graph on them.
struct SubsetEdges {
    int k;
    // Species of S by member position; the positions past k hold the last
    // padding column of the edge rows, which is zero.
    int32_t member[kEdgeRow];
    uint32_t index[kMaxExactSpecies];  // each member as an index of the scores table read
    uint32_t edge[kMaxExactSpecies][kEdgeRow];
    uint32_t degree[kMaxExactSpecies];
};

// Rows of e(a, b) by species a, over the species b, for the species outside
// S: one block for the outside species of the low half of the numbers and one
// for the high half, to be added. Diagonals and padding are zero.
typedef const uint32_t (*OutsideRows)[kEdgeRow];

// Fills e.edge and e.degree, given the members.
void fillEdgeWeights(OutsideRows low, OutsideRows high, bool useVector, SubsetEdges& e);

// Fills the part tables of t from the graph; t.lowBits and t.highBits are set.
void fillSplitTables(const SubsetEdges& e, bool useVector, SplitTables& t);
