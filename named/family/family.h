// Gene families: trees in which a species may have several copies (paralogs)
// or none (losses). A family is rooted where it needs the fewest
// duplications, then losses; its inner nodes are tagged as duplications or
// speciations; and it is cut at its duplications into pieces that hold one
// copy per species, whose triples are those of a species tree.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "named/common/named.h"

// How the species of a leaf is found: by the map (gene -> species) when it
// is not empty; else, when delimiter is not 0, as the field-th field (from
// 1) of the leaf name split at delimiter; else it is the leaf name itself.
// An unquoted '_' reads as a blank, so '_' and ' ' split alike.
struct SpeciesNaming {
    std::unordered_map<std::string, std::string> speciesOf;
    char delimiter = 0;
    int field = 1;
};

// The species name of every node: at a leaf its species, "" at an inner
// node. Throws NewickError at a leaf the map lacks or whose name has no
// such field.
std::vector<std::string> leafSpecies(const std::string& text, const NamedTree& tree,
                                     const SpeciesNaming& naming);

// Duplications and losses of a rooted family. A node is a duplication when
// two of its children's species sets share a species (for a node of more
// than two children: any two), else a speciation; each child of a
// duplication whose species set is smaller than the node's counts one loss.
struct FamilyCost {
    int64_t duplications;
    int64_t losses;
};

// The cost of the tree as rooted; *duplication (when not null) gets the tag
// of every node (false at the leaves). species: a number >= 0 per leaf.
FamilyCost rootedFamilyCost(const NamedTree& tree, const std::vector<int32_t>& species,
                            std::vector<bool>* duplication);

// The tree taken as unrooted, the cost of every rooting: entry v for the
// root on the edge above node v; the root's entry is not used. Two passes
// over bitsets of the species below and above every node: about nodes x
// species / 64 steps.
std::vector<FamilyCost> familyRootCosts(const NamedTree& tree, const std::vector<int32_t>& species);

// The best roots of a family and how far the rules went to choose.
enum class FamilyTie { kNone, kOutgroup, kSpeciesTree, kSmallerSide };
struct FamilyRoots {
    FamilyCost cost;                  // of every candidate
    int32_t tied;                     // roots of that cost, before any tie rule
    int32_t misplaced;                // outgroup leaves on the wrong side; -1: no outgroup leaf
    std::vector<int32_t> candidates;  // nodes below the edges still tied, in node order
};

// The roots of fewest duplications, then losses, one per edge (of a root
// of two children, one edge above them both). When outgroupLeaf marks some
// leaf, only those misplacing the fewest leaves stay: listed leaves on the
// ingroup side and others on the outgroup side, the outgroup on either
// side of the edge.
FamilyRoots bestFamilyRoots(const NamedTree& tree, const std::vector<int32_t>& species,
                            const std::vector<bool>& outgroupLeaf);

// Cuts the rooted family from the leaves up: at each duplication every child
// but the one with the most leaves left (ties: the one whose sorted leaf
// names come first) becomes a piece of its own, and the node gives way to
// the kept child; what stays at the end is the last piece. Branch lengths
// through a node given way add up; supports stay with their own branches.
// Every piece holds one copy per species and the family's weight.
std::vector<NamedTree> splitFamily(const NamedTree& rooted, const std::vector<bool>& duplication);

// A family rooted on the edge above node (as it stands when node is its
// root), tagged and cut. speciesOf gives the species number of every leaf
// name.
struct CutTree {
    NamedTree rooted;
    std::vector<bool> duplication;  // per node of rooted
    std::vector<NamedTree> pieces;  // as splitFamily makes them
};
CutTree rootAndCut(const NamedTree& family, int32_t node,
                   const std::unordered_map<std::string, int32_t>& speciesOf);

// A rooted tree as one line of Newick ending in ";\n": leaf names quoted as
// quoteName writes them, lengths where known, and each inner node's label
// from labels (when not null) or as read.
std::string familyNewick(const NamedTree& tree, const std::vector<std::string>* labels);
