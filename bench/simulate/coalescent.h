// Gene trees under the multispecies coalescent, and the species trees they
// grow in. Species tree lengths are in coalescent units (generations / 2N
// for a diploid population of N individuals), in which any two lineages in
// one population meet at rate 1.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "simulate/tree.h"

struct SpeciesTreeShape {
    int ingroup;          // species of the ingroup, a Yule tree; at least 2
    int outgroup;         // outgroup species, one Yule clade beside the ingroup; 0 for none
    double meanInternal;  // the mean internal branch length of each clade
                          // (coalescent units) after scaling; 0 keeps the Yule
                          // process's own lengths
    double stem;          // with an outgroup: the length (coalescent units) of
                          // the ingroup's branch down from the root
};

// A random species tree, ultrametric: the ingroup is a Yule (pure birth,
// rate 1) tree, its species named S01, S02, ... at random places (as many
// digits as the largest number needs, at least two). With an outgroup, the
// root joins the ingroup to the outgroup clade, a Yule tree of its own named
// O1, O2, ... (a single species when outgroup is 1), each scaled on its own.
// The outgroup clade is the root's first child, the ingroup its second.
// The older clade hangs from the root on a branch of length stem, the other
// on one as long as keeps the tree ultrametric, so both are at least stem.
SimTree yuleSpeciesTree(const SpeciesTreeShape& shape, std::mt19937_64& rng);

// The mean length of the branches between two inner nodes below the root
// (neither the root's nor a leaf's); 0 for a tree without such a branch.
double meanInternalLength(const SimTree& tree);

// The name of individual i (1-based) of a species: the species' own name
// when it has one individual, SPECIES_i otherwise.
std::string individualName(const std::string& species, int individual, int individuals);

// Lets the gene lineages (node indices in gene) meet pairwise at rate 1
// each along a population's branch of the given length (infinite above the
// root), each meeting a new node that takes the pair's place in *lineages.
// Every lineage's branch grows by the time it spends in this branch, which is
// how gene tree lengths come to be in coalescent units.
void coalesceInBranch(SimTree* gene, std::vector<int>* lineages, double length,
                      std::mt19937_64& rng);

// A rooted gene tree with the given number of individuals per species.
// Going up the species tree, the lineages that enter a branch meet pairwise
// at rate 1 each (k(k-1)/2 in all) until the branch ends; above the root
// they meet until one is left. Branch lengths are in coalescent units: the
// time a gene lineage spends in each species branch, summed, so they need
// no ultrametric species tree.
SimTree coalescentGeneTree(const SimTree& species, int individuals, std::mt19937_64& rng);
