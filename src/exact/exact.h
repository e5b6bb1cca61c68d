// The exact method: a dynamic programme over all species subsets (n <= 20)
// and the reconstruction of an optimal tree from the recorded splits.
#pragma once

#include <cstdint>

#include "common/common.h"

// Next k-subset of n bit positions in increasing numeric order; 0 starts the
// enumeration (giving bits 0..k-1) and 0 as the result ends it.
uint32_t nextSubset(uint32_t mask, int16_t n, int16_t k);

// Index of the highest set bit; 0 for masks 0 and 1.
int highestBit(uint32_t mask);

// Number of species 0..g_speciesCount-1 present in both masks.
int16_t countCommon(uint32_t a, uint32_t b);

// Fills g_subsetScore and g_subsetSplit for every subset of the n species.
// Among equally good splits the last one tried is kept.
void solveExact();

// Bytes of the exact method's tables that a run on n species touches.
int64_t exactWorkingBytes(int32_t n);

// Builds a heap tree from the recorded splits; the recorded left part becomes
// the left child. Inner nodes take labels from g_nextLabel in preorder.
TreeNode* buildExactTree(uint32_t mask);
