// Internal to the exact method: the tables that solveExact prepares for one
// subset S, and the scans that pick its best split from them.
//
// Each bipartition of S is visited once, as (A, S \ A) with A not holding the
// highest member of S. The other members, listed in a fixed order, are cut
// into a low part (member positions 0..lowBits-1) and a high part (the next
// highBits positions), so A is a low part x together with a high part y, and
//   value(A) = score[A] + score[S \ A] + cut weight of A
//   cut weight of A = lowCut[x] + highCut[y] - 2 * (edge weight between x and y)
// (solve.cpp derives the cut weight). The splits are scanned in rows, one per
// high part y, each holding every low part x.
//
// Among equal values the split tried last wins. Splits are tried by
// increasing size of the left part, then by increasing mask; a bipartition
// with unequal sides is tried once, with the smaller side on the left, and one
// into equal halves twice, the half holding the highest member (the larger
// mask) last. So each bipartition is ranked by the tie key of its side tried
// last: that side's size above its species mask. The chosen split is the
// largest (value, tie key) pair, and its side is the recorded left part; as
// that pair does not depend on the order of the scan, rows may come in any
// order.
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

// A tie key holds a part size above a species mask of kMaxExactSpecies bits;
// keys of disjoint parts add without carries between the two fields.
constexpr int kTieSizeShift = kMaxExactSpecies;
constexpr uint32_t kTieMaskBits = (1u << kTieSizeShift) - 1u;

// The vector scan needs low parts of at least one full run of 8 lanes.
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

// Tie key of a part: its size above its species mask.
inline uint32_t tieKey(int size, uint32_t mask) {
    return (static_cast<uint32_t>(size) << kTieSizeShift) | mask;
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

struct SplitBest {
    int32_t value;  // INT32_MIN while nothing is chosen
    uint32_t tie;   // tie key of the chosen left part
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

// Rows are visited in Gray-code order: row i of the walk is the high part
// i ^ (i >> 1), which differs from the one before it in the high position
// ctz(i) alone. The cut terms of a row then follow from the previous row's
// by one table of highToLow, added when that position leaves the high part
// and subtracted when it joins.
inline uint32_t highPartOfRow(uint32_t row) {
    return row ^ (row >> 1);
}

SplitBest scanSplitsPortable(const SplitTables& t);

// True when this processor can run scanSplitsVector.
bool vectorScanAvailable();

// Same result as scanSplitsPortable; needs lowBits >= kVectorRunBits, the
// highest member outside the group species, and vectorScanAvailable(), which
// also allows the vector forms of fillEdgeWeights and fillSplitTables.
SplitBest scanSplitsVector(const SplitTables& t);
