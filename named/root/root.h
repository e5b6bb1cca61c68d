// Rooting gene trees: on an outgroup.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "named/common/named.h"

// How rootOnOutgroup rooted a tree.
enum class Rooting { kOnOutgroup, kOnFirstTaxon, kNoOutgroup };

// Takes the tree as unrooted and roots it on the edge that separates the
// outgroup taxa present in it from the others; where they form no such
// group (or are all of its taxa), on the edge above the first taxon of the
// list that is present. A tree without any is left as it is. Nodes stay
// children first; inner nodes keep their offsets.
Rooting rootOnOutgroup(NamedTree* tree, const std::vector<std::string>& outgroup);

// The outgroup list of "--outgroup A,B,C"; names may be quoted as in Newick
// ('a,b' is one name). Throws NewickError (line 0) on a bad list.
std::vector<std::string> parseOutgroup(const std::string& list);

// Throws unless every outgroup name is a taxon of some tree (allNames).
void checkOutgroupNames(const std::vector<std::string>& outgroup,
                        const std::unordered_set<std::string>& allNames);

// How many trees fell in each case of the rooting.
struct RootingCounts {
    int32_t onOutgroup;
    int32_t onFirstTaxon;
    int32_t leftOut;
};

// The line of standard error that gives the counts.
std::string rootingNote(const RootingCounts& counts);
