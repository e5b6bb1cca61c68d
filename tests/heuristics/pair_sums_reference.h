// Triple sums between two disjoint clusters given as species flag arrays
// (1 = member), i over members of a, j over members of b, written as three
// nested loops over member pairs and outside species. The agglomerative
// construction keeps cluster-level sums that give the same integers far
// faster; these are what those sums are checked against.
#pragma once

#include <cstdint>

// Weight of triples ij|k with k outside both clusters: what joining satisfies.
int32_t mergeGain(const int32_t* a, const int32_t* b);
// Weight of triples ik|j and jk|i with k outside both: what joining contradicts.
int32_t mergeConflict(const int32_t* a, const int32_t* b);
// Weight of triples ij|k for every k.
int32_t pairTotal(const int32_t* a, const int32_t* b);
