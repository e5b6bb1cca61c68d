// The list of the eight candidate constructions.
#include "heuristics/heuristics.h"

constexpr int kAgglomerateScorings = 3;

bool candidateRunsAt(int index, int32_t n) {
    return n <= kMaxSpecies || index == kSequentialCandidate;
}

int64_t candidatesWorkingBytes(int32_t n) {
    const int64_t records = 2 * int64_t{n} * static_cast<int64_t>(sizeof(TreeNode) + 16);
    if (n > kMaxSpecies) return records + 3 * 8 * int64_t{n};
    // The clustering's cluster triples: n x n rows of kMaxSpecies 64-bit
    // sums; the division's capacities and flows, a few kMaxSpecies^2 tables.
    return records + int64_t{n} * n * kMaxSpecies * 8 + 6 * kMaxSpecies * kMaxSpecies * 8;
}

TreeNode* buildCandidate(int index, TreeNode** pool) {
    if (index < kSequentialCandidate)
        return agglomerateInPool(static_cast<int16_t>(index / kAgglomerateScorings),
                                 static_cast<int16_t>(index % kAgglomerateScorings), pool);
    if (index == kSequentialCandidate) return sequentialTreeInPool(pool);
    return minCutTreeInPool(pool);
}
