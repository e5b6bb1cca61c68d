// Deterministic random tressil inputs, for the benchmark generator and the
// tests. Only the raw 32-bit output of the engine is used (never a library
// distribution), so the same engine state gives the same text with any
// standard library.
#pragma once

#include <random>
#include <string>

struct RandomInputShape {
    int species;         // the trees use species 0..species-1
    int trees;           // the count in the header and the trees written
    int minLeaves;       // each tree holds from minLeaves to maxLeaves distinct species
    int maxLeaves;       // at most species
    int maxWeight;       // each tree ends with ":w", w from 1 to maxWeight
    bool mixSeparators;  // joins members with ',' or ' ' at random, not always ','
    // Gene-tree-like trees instead of random ones: each is a hidden species
    // tree restricted to its species, with its branching depths disturbed by
    // up to noise percent of their range, so that it departs from the hidden
    // tree more often the higher noise is.
    bool geneTrees;
    unsigned noise;
};

// The header, every tree followed by ";\n", and ".\n". Without geneTrees a
// tree is a random rooted binary tree: two random subtrees joined until one
// is left.
std::string randomInput(const RandomInputShape& shape, std::mt19937& rng);
