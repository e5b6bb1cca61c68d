// Rooting gene trees: on an outgroup.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "named/common/named.h"

// How rootOnOutgroup rooted a tree.
enum class Rooting { kOnOutgroup, kMisplacing, kNoOutgroup };
struct RootingResult {
    Rooting how;
    int32_t misplaced;  // listed taxa on the ingroup side and others on the outgroup side
};

// Takes the tree as unrooted and roots it on the edge, and the side of it,
// that misplaces the fewest taxa: listed taxa on the ingroup side plus other
// taxa on the outgroup side. Where the outgroup taxa present form one group,
// that is the edge that cuts them off. Ties go to the smaller outgroup side,
// then to the outgroup side whose sorted names come first; the order of the
// list never matters. A tree without any listed taxon is left as it is.
// Nodes stay children first; inner nodes keep their offsets.
RootingResult rootOnOutgroup(NamedTree* tree, const std::unordered_set<std::string>& outgroup);

// For rooting by a species tree: the depth of the node where every two taxa
// meet in it (the root is depth 0), taxa x taxa, row by row; -1 for a taxon
// the tree does not hold.
struct SpeciesTreeDepths {
    int32_t taxa;
    std::vector<int32_t> meet;
};
SpeciesTreeDepths meetingDepths(const ResultTree& tree, int32_t taxa);

// Takes the tree as unrooted and roots it on the edge whose rooted triples
// the species tree displays most often. leafTaxon gives the taxon number of
// every leaf node (-1 for a leaf to leave out of the count; inner nodes are
// not read). Ties go to the root whose smaller side holds fewer taxa, then to
// the one whose smaller side's sorted names come first.
void rootBySpeciesTree(NamedTree* tree, const std::vector<int32_t>& leafTaxon,
                       const SpeciesTreeDepths& depths);

// What rootBySpeciesTree weighs: entry v counts the rooted triples of
// distinct taxa the species tree displays with the root on the edge above
// node v (the root's own entry is not used).
std::vector<int64_t> speciesTreeScores(const NamedTree& tree, const std::vector<int32_t>& leafTaxon,
                                       const SpeciesTreeDepths& depths);

// rootBySpeciesTree's last rule, among the edges above the candidate nodes:
// the one whose smaller side holds the fewest leaves, then whose smaller
// side's sorted names come first; the earlier candidate on a full tie.
int32_t firstBySmallerSide(const NamedTree& tree, const std::vector<int32_t>& candidates);

// Puts the root on the edge above node, which is not the root; nodes stay
// children first.
void rootOnEdgeAbove(NamedTree* tree, int32_t node);

// The outgroup list of "--outgroup A,B,C"; names may be quoted as in Newick
// ('a,b' is one name). Throws NewickError (line 0) on a bad list.
std::vector<std::string> parseOutgroup(const std::string& list);

// Throws unless every outgroup name is a taxon of some tree (allNames) and
// some taxon is left out of the outgroup.
void checkOutgroupNames(const std::vector<std::string>& outgroup,
                        const std::unordered_set<std::string>& allNames);

// How many trees fell in each case of the rooting.
struct RootingCounts {
    int32_t onOutgroup;     // every tree rooted on the outgroup
    int32_t misplacing;     // of them, those whose best root misplaces taxa
    int64_t misplacedTaxa;  // summed over those
    int32_t leftOut;        // without an outgroup taxon
    int32_t bySpeciesTree;  // without an outgroup taxon, rooted by the species tree
};

// Adds one tree's rooting to the counts.
void countRooting(const RootingResult& rooting, RootingCounts* counts);

// The line of standard error that gives the counts.
std::string rootingNote(const RootingCounts& counts);
