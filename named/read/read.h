// Reading tree files: Newick or NEXUS text, plain or gzip-compressed, into
// NamedTree records.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "named/common/named.h"

enum class TreeFormat { kNewick, kNexus };

// What a second leaf of one name in a tree is: an error; an error whose
// message names the options that read such gene trees; or one more copy of
// a species, as gene families hold.
enum class RepeatedNames { kRefused, kRefusedGeneTrees, kCopies };

// How far a NEXUS file has been read.
struct NexusPlace {
    bool inBlock;
    bool inTrees;           // the open block is a TREES block
    bool sawTrees;          // some TREES block was opened
    size_t blockStart;      // offset of the open block's BEGIN
    std::string blockName;  // as written, for messages
    int64_t treesRead;
    std::unordered_map<std::string, std::string> translate;  // of the open TREES block
};

// A tree file being read. Offsets of its trees and the places of its errors
// refer to sourceText(source).
struct TreeSource {
    const std::string* bytes;  // the file as given; must outlive the source
    std::string inflated;      // the text of gzip-compressed bytes
    bool compressed;
    TreeFormat format;
    size_t pos;  // where the next tree is looked for
    NexusPlace nexus;
    RepeatedNames repeats = RepeatedNames::kRefused;
};

// Opens the bytes of a tree file: gzip data (known by its first two bytes)
// is inflated, then the first character that is not a blank or a comment
// tells the format: '(' Newick, "#NEXUS" NEXUS; a text of only blanks and
// comments counts as Newick. Throws NewickError on damaged gzip data and on
// a text of neither format.
TreeSource openTreeSource(const std::string& bytes);
TreeSource openTreeSource(std::string&&) = delete;  // the source keeps a pointer

// The text that tree offsets and error places refer to.
const std::string& sourceText(const TreeSource& source);

// Reads the next tree of the source into *tree; returns false after the last
// one. Throws NewickError as the Newick form below does, and on malformed
// NEXUS.
bool readNextTree(TreeSource* source, NamedTree* tree, bool anyDegree = false);

// Reads the next tree of a Newick text from *pos on into *tree and moves *pos
// past it; returns false when only blanks and comments are left. Throws
// NewickError on malformed text, and on a node of more than two children
// unless anyDegree is set.
bool readNextTree(const std::string& text, size_t* pos, NamedTree* tree, bool anyDegree = false);

// Throws the error for a node of more than two children where tressil needs
// two.
[[noreturn]] void failWideNode(const std::string& text, size_t offset, size_t children);

// Every tree of a Newick text; an empty result means the text holds no tree.
std::vector<NamedTree> parseNewick(const std::string& text);

// Branch supports as tree builders write them: 0 to 1 (SH-like, posterior)
// or 0 to 100 (bootstrap), alone or as several values joined by '/'
// ("95.2/100", IQ-TREE's SH-aLRT/UFBoot). field picks one of those values,
// from 1; kLastField the last, whatever their number.
constexpr int kLastField = 0;

// Sets the support of every inner node that has a label to the value of the
// field. Throws NewickError at a label that is not a support value from 0 to
// 100 or has no such field.
void readSupports(const std::string& text, NamedTree* tree, int field);

// The scale of a whole file's supports in that field: 100 when some label
// is above 1, else 1. Throws as readSupports does.
double supportScaleOf(const std::string& bytes, int field);

// Divides every support by the scale, so that all are from 0 to 1.
void normaliseSupports(NamedTree* tree, double scale);

// Merges every inner node (the root aside) whose branch has a support below
// threshold into its parent, as users collapse weak branches by hand. A
// branch without a support is kept. Returns the branches with a support and
// those merged.
struct CollapseCounts {
    int64_t labelled;
    int64_t collapsed;
};
CollapseCounts collapseWeakBranches(NamedTree* tree, double threshold);

// Which species every individual belongs to, from a map file: lines
// "SPECIES:IND1,IND2,..." or two columns "INDIVIDUAL SPECIES", told apart by
// their content. Throws NewickError at a bad line, an individual mapped to
// two species, or a species without individuals.
struct SpeciesMap {
    std::unordered_map<std::string, std::string> speciesOf;  // individual -> species
    std::vector<std::string> species;                        // in the order of the file
};
SpeciesMap parseSpeciesMap(const std::string& text);

// The outgroup as species: a name that is an individual of the map, and no
// species itself, stands for its species, and a line of *notes says so.
// Every species is listed once, in the order of first mention.
std::vector<std::string> outgroupOfSpecies(
    const std::vector<std::string>& outgroup,
    const std::unordered_map<std::string, std::string>& speciesOf, std::string* notes);
