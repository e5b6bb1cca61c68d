// Gene families: copies of a gene born (duplication) and lost along the
// branches of a species tree, and the gene tree of the copies that survive.
//
// Three trees, as in the duplication-loss-coalescent model: the species
// tree; the locus tree, where each branch is one copy (locus) inside one
// species branch, grown by a birth-death process; and the gene tree, whose
// lineages follow the coalescent inside the locus tree. Lengths are in
// coalescent units, as for single-copy gene trees.
#pragma once

#include <map>
#include <random>
#include <string>
#include <vector>

#include "simulate/tree.h"

struct FamilyRates {
    double duplication;  // per copy and coalescent unit
    double loss;         // per copy and coalescent unit
    double origin;       // the family starts this long above the species root
};

// Every node of the tree is one event: the family's start (the root), a
// duplication (two children: the copy that was there and the new one), a
// speciation (one child per child species), a loss (a leaf without a name)
// or a copy alive at a species leaf (a leaf named after the species).
struct LocusTree {
    SimTree tree;
    // Per node: at a duplication, the child that is the new copy (the two
    // are alike going forward; one was marked when drawn); -1 elsewhere.
    std::vector<int> born;
};

// Families grow without bound when duplications outpace losses; past this
// many events in one family, the rates are called too high.
constexpr size_t kMaxFamilyEvents = 1000000;

// The coalescent walks the locus tree recursively, so a deeper one (more
// events from the start to a leaf) is refused rather than left to overrun
// the stack.
constexpr int kMaxLocusDepth = 10000;

// The branch of a new copy whose lineages have not met by its duplication is
// drawn again this many times at most; many lineages entering a short
// branch make meeting rare, and a limit keeps such families finite.
constexpr int kMaxCopyTries = 1000;

// One copy starts origin above the root; along every branch each living
// copy duplicates and is lost at the given rates, and at each species node
// every copy goes into every child species.
LocusTree growLocusTree(const SimTree& species, const FamilyRates& rates, std::mt19937_64& rng);

// The number of copies alive at the species leaves.
int survivingCopies(const LocusTree& locus);

// The gene tree of the surviving copies, without incomplete lineage sorting:
// the locus tree with its lost copies pruned.
SimTree locusGeneTree(const LocusTree& locus);

// The gene tree of the surviving copies under the coalescent inside the
// locus tree: in every branch, the gene lineages of that copy meet pairwise
// at rate 1 each, as in a species branch; different copies never meet. A new
// copy starts from one gene, so all lineages of the copy born at a
// duplication must have met before it: its first branch is drawn again
// until they have, up to kMaxCopyTries times, after which the lineages left
// are joined at the duplication by branches of length 0. The branches below
// that first one are not conditioned, so they keep a little more incomplete
// lineage sorting than the exact model would. Leaves keep the locus tree's
// leaf names. The surviving copies must number at least one, and the locus
// tree be at most kMaxLocusDepth deep.
struct Meetings {
    int conditioned;  // new copies that entered their first branch with two lineages or more
    int forced;       // of those, the ones joined at the duplication
};
SimTree coalescentFamilyTree(const LocusTree& locus, std::mt19937_64& rng, Meetings* meetings);

// The net rate (duplication minus loss) at which a family starting origin
// above the root expects meanSize surviving copies over all species: the
// expected copies at a species leaf grow as exp(rate * its distance from the
// family's start). Fails when no rate from -1e3 to 1e3 gives meanSize.
double netRateForMeanSize(const SimTree& species, double origin, double meanSize);

// Renames every leaf SPECIES_k, k numbering the copies of each species 1, 2,
// ... in the order the leaves are written. Returns the copies per species.
std::map<std::string, int> numberCopies(SimTree* family);
