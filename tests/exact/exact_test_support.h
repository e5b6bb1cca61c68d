// Shared by the exact method's tests: the literal dynamic programme kept as
// the slow reference, and small tree helpers.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "common/common.h"

struct SubsetTables {
    std::vector<int32_t> score;
    std::vector<uint32_t> split;
};

// The programme in its plain form: every split tried in order, every cross
// sum read triple by triple, ties going to the later split.
SubsetTables referenceSolve(int n);

// Runs solveExact with the given scan and thread count and returns copies of
// the first 2^n entries of both tables.
SubsetTables fastSolve(int n, bool vectorScan, int threads);

// Fills w with values in [low, high], symmetric in the first two indices.
void fillSignedTable(int n, std::mt19937& rng, int32_t low, int32_t high);

void deleteTree(TreeNode* node);

// Sets n, g_fullMask and every table entry that solveExact must write to a
// value it never produces, so that a missed entry shows.
void poisonSubsetTables(int n);
