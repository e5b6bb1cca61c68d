// Internal to the exact method: the scans that pick the best split of one
// subset from its tables (split_tables.h). The splits are scanned in rows,
// one per high part y, each holding every low part x.
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
#include "exact/split_tables.h"

// A tie key holds a part size above a species mask of kMaxExactSpecies bits;
// keys of disjoint parts add without carries between the two fields.
constexpr int kTieSizeShift = kMaxExactSpecies;
constexpr uint32_t kTieMaskBits = (1u << kTieSizeShift) - 1u;

// Tie key of a part: its size above its species mask.
inline uint32_t tieKey(int size, uint32_t mask) {
    return (static_cast<uint32_t>(size) << kTieSizeShift) | mask;
}

struct SplitBest {
    int32_t value;  // INT32_MIN while nothing is chosen
    uint32_t tie;   // tie key of the chosen left part
};

// Rows are visited in Gray-code order: row i of the walk is the high part
// i ^ (i >> 1), which differs from the one before it in the high position
// ctz(i) alone. The cut terms of a row then follow from the previous row's
// by one table of highToLow, added when that position leaves the high part
// and subtracted when it joins.
inline uint32_t highPartOfRow(uint32_t row) {
    return row ^ (row >> 1);
}

SplitBest scanSplitsPortable(const SplitTables& t);

// Same result as scanSplitsPortable; needs lowBits >= kVectorRunBits, the
// highest member outside the group species, and vectorKernelsUsable(), which
// also allows the vector forms of fillEdgeWeights and fillSplitTables.
SplitBest scanSplitsVector(const SplitTables& t);
