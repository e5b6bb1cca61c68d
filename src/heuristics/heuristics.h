// The eight heuristic candidate constructions and the routines they share.
// Every construction builds its whole tree in g_nodePool, reads the input only
// through g_tripleWeight and g_speciesCount, and returns the root, whose
// weight is the candidate's score. Building twice gives the same tree.
#pragma once

#include <cstdint>

#include "common/common.h"

// Sets pool record index to a node with this label, no children and weight 0,
// and returns it. Every construction sets up the records it uses afresh.
TreeNode* resetPoolNode(TreeNode** pool, int32_t index, int32_t label);

// The candidate for fewer than two species: the single leaf 0, weight 0.
TreeNode* singleLeafTree(TreeNode** pool);

// The candidates in the order of the choice: 0..5 bottom-up clustering
// (variant index / 3, scoring index % 3), 6 the caterpillar, 7 the top-down
// division. Among equal weights the lowest index wins.
constexpr int kCandidateCount = 8;
constexpr int kSequentialCandidate = 6;
constexpr int kMinCutCandidate = 7;

// Whether candidate index is built for n species. Up to kMaxSpecies all are;
// above, only the caterpillar: the bottom-up clusterings keep an n^3 working
// table, and the flows of the top-down division grow with n and with the
// weights.
bool candidateRunsAt(int index, int32_t n);

// Bytes of working storage that building the candidates for n species
// touches.
int64_t candidatesWorkingBytes(int32_t n);

// Builds candidate index in the records of pool (kPoolSize, or 2n above
// kMaxSpecies species) and returns its root. Candidates below kMinCutCandidate share working
// tables, so only one of them runs at a time; the min-cut candidate may run beside them in a pool
// of its own.
TreeNode* buildCandidate(int index, TreeNode** pool);

// Bottom-up clustering; variant 0 or 1, scoring 0, 1 or 2 (candidates 0..5).
TreeNode* agglomerate(int16_t variant, int16_t scoring);
TreeNode* agglomerateInPool(int16_t variant, int16_t scoring, TreeNode** pool);

// The two score rules of the bottom-up clustering, open to the tests.
// Joining two single species (before any join), from their pairTotal and
// mergeConflict.
float firstJoinScore(int16_t variant, int16_t scoring, int64_t total, int64_t conflict);
// Joining two clusters after a join, from their mergeGain, mergeConflict and
// pairTotal.
float joinScore(int16_t variant, int16_t scoring, int64_t gain, int64_t conflict, int64_t total);

// Caterpillar placing the best outgroup first (candidate 6).
TreeNode* sequentialTree();
TreeNode* sequentialTreeInPool(TreeNode** pool);

// Top-down division by minimum cuts (candidate 7).
TreeNode* minCutTree();
// The same in any pool of kPoolSize records; it touches nothing shared but
// the records, so it may run beside the other constructions.
TreeNode* minCutTreeInPool(TreeNode** pool);

// Divides vertices 0..m-1 by the forward-only flow from source 0 to every sink.
// Returns the smallest sink flow (capped at kMinCutNoValue; for two vertices
// the one capacity) and labels every vertex 1 (source side) or 0 (sink side)
// in side[0..m-1] for m >= 2.
constexpr int32_t kMinCutNoValue = 100000;
int64_t minCutSplit(int32_t m, const int64_t (*capacity)[kMaxSpecies], int32_t* side);
