// The list of the eight candidate constructions.
#include "heuristics/heuristics.h"

constexpr int kAgglomerateScorings = 3;
constexpr int kSequentialCandidate = 6;

TreeNode* buildCandidate(int index, TreeNode** pool) {
    if (index < kSequentialCandidate)
        return agglomerateInPool(static_cast<int16_t>(index / kAgglomerateScorings),
                                 static_cast<int16_t>(index % kAgglomerateScorings), pool);
    if (index == kSequentialCandidate) return sequentialTreeInPool(pool);
    return minCutTreeInPool(pool);
}
