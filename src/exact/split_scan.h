// Internal to the exact method: the tables that solveExact prepares for one
// subset S, and the scans that pick its best split from them.
//
// Each bipartition of S is visited once, as (A, S \ A) with A not holding the
// highest member of S. The other members, listed in a fixed order, are cut
// into a low part (member positions 0..lowBits-1) and a high part (the next
// highBits positions), so A is a low part x together with a high part y, and
//   value(A) = score[A] + score[S \ A] + cut weight of A
//   cut weight of A = lowCut[x] + highCut[y] - 2 * (sum of link[y][a] over a in x)
// (solve.cpp derives the cut weight).
//
// Among equal values the split tried last wins. Splits are tried by
// increasing size of the left part, then by increasing mask; a bipartition
// with unequal sides is tried once, with the smaller side on the left, and one
// into equal halves twice, the half holding the highest member (the larger
// mask) last. So each bipartition is ranked by the tie key of its side tried
// last: that side's size above its species mask. The chosen split is the
// largest (value, tie key) pair, and its side is the recorded left part.
#pragma once

#include <cstdint>

#include "common/common.h"

// Largest low and high parts. A subset of k members takes (k + 3) / 2 low
// bits: larger low tables would cost more to build than they save per high part.
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
// masks differ only in the species 0-2, the group species. A subset with few
// members among those reads a copy of the table indexed by rotated masks, in
// which the species 3-5 form the groups.
constexpr int kGroupBits = 3;
constexpr uint32_t kGroupMask = (1u << kGroupBits) - 1;

// Index of a mask in the rotated copy: species kGroupBits and up move down to
// bit 0, the species below them to the top bits of the index.
inline uint32_t rotateMask(uint32_t mask) {
    return (mask >> kGroupBits) | ((mask & kGroupMask) << (kMaxExactSpecies - kGroupBits));
}

// Weight sums here are 32-bit unsigned on purpose: a partial sum such as a
// degree total may pass INT32_MAX, but every split value is at most the table
// total, so the wrap cancels and the value is exact.
struct SplitTables {
    uint32_t subset;             // S
    int k;                       // members of S
    int lowBits;                 // at most kLowBits
    int highBits;                // k - 1 - lowBits
    uint32_t lowTie[kLowParts];  // tie key of each low part taken as a left part
    uint32_t lowCut[kLowParts];
    uint32_t highTie[kHighParts];
    uint32_t highCut[kHighParts];
    uint32_t link[kHighParts][kLowBits];  // edge weight from low position a to high part y
    // Where the vector scan reads scores: the subset table or its rotated copy,
    // and S and every part as indexes of it. The members of S among that
    // table's group species are its lowest member positions.
    const int32_t* scores;
    uint32_t subsetIndex;
    uint32_t lowIndex[kLowParts];
    uint32_t highIndex[kHighParts];
};

struct SplitBest {
    int32_t value;  // INT32_MIN while nothing is chosen
    uint32_t tie;   // tie key of the chosen left part
};

// sums[x] = sum of weights[a] over the bits a of x, for every x below 2^bits.
void fillSubsetSums(const uint32_t* weights, int bits, uint32_t* sums);

SplitBest scanSplitsPortable(const SplitTables& t);

// True when this processor can run scanSplitsVector.
bool vectorScanAvailable();

// Same result as scanSplitsPortable; needs lowBits >= kVectorRunBits, the
// highest member outside the group species, and vectorScanAvailable().
SplitBest scanSplitsVector(const SplitTables& t);
