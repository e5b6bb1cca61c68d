// The forward-only minimum cut written the slow, obvious way: whole-row scans
// testing capacity > flow at every entry. The reference for the fast routine.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/common.h"

struct CapacityMatrix {
    int64_t cell[kMaxSpecies][kMaxSpecies];
};

// Zero-filled, on the heap (128 KiB).
std::unique_ptr<CapacityMatrix> newCapacityMatrix();

struct LiteralCut {
    int64_t value = 0;               // what minCutSplit must return
    std::vector<int32_t> side;       // what it must write to side[0..m-1]
    std::vector<int64_t> sinkValue;  // final flow of sink t at [t]
    // Augmenting paths of sink t at [t], each from the source to the sink.
    std::vector<std::vector<std::vector<int32_t>>> paths;
};

LiteralCut literalMinCut(int32_t m, const int64_t (*capacity)[kMaxSpecies]);
