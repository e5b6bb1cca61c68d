// tressil-newick: named Newick trees in, tressil input out; tressil's result
// tree in, named Newick out.
//
// encode: Newick text -> parsed trees (single-child nodes collapsed) ->
// optionally rooted on an outgroup -> taxon numbers by first appearance ->
// one entry per distinct rooted topology with the summed weight -> tressil
// input text and name table text.
// decode: name table text + tressil output text -> one line of Newick.
// infer: Newick text -> rooted trees of any degree -> triple table -> method
// -> one line of Newick (and a picture); the part that touches the core
// library is newick_infer.cpp.
//
// Every failure throws NewickError; the command-line layer prints it with the
// file name and exits with status 1 before any file is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// A failure and the place where it was found.
struct NewickError {
    int line;    // 1-based; 0 when the error concerns the file as a whole
    int column;  // 1-based, counted in characters (a UTF-8 sequence is one)
    std::string message;
};

// One node of a parsed tree. A leaf has no children and a non-empty name.
struct NamedNode {
    std::string name;               // taxon name at a leaf; empty at an inner node
    std::vector<int32_t> children;  // indices into NamedTree::nodes; empty at a leaf
    size_t offset;                  // byte offset of the leaf's label or of the inner node's '('
};

// One tree as read. Single-child nodes are already collapsed, so every inner
// node has two children or more. Nodes are stored children first; as read,
// leaves appear in the order of the text.
struct NamedTree {
    std::vector<NamedNode> nodes;
    int32_t root;
    int64_t weight;  // from a "[&W n]" comment before the tree, else 1
    size_t offset;   // byte offset of the tree's first character
    int32_t leafCount;
};

// Converts a byte offset of text into a 1-based line and character column.
void locateOffset(const std::string& text, size_t offset, int* line, int* column);

// Throws NewickError with the line and column of the offset.
[[noreturn]] void throwAt(const std::string& text, size_t offset, const std::string& message);

// Reads the next tree of a Newick text from *pos on into *tree and moves *pos
// past it; returns false when only blanks and comments are left. Throws
// NewickError on malformed text, and on a node of more than two children
// unless anyDegree is set.
bool readNextTree(const std::string& text, size_t* pos, NamedTree* tree, bool anyDegree = false);

// Throws the error for a node of more than two children where tressil needs
// two.
[[noreturn]] void failWideNode(const std::string& text, size_t offset, size_t children);

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

// How many trees fell in each case of the rooting.
struct RootingCounts {
    int32_t onOutgroup;
    int32_t onFirstTaxon;
    int32_t leftOut;
};

// The line of standard error that gives the counts.
std::string rootingNote(const RootingCounts& counts);

// Every tree of a Newick text; an empty result means the text holds no tree.
std::vector<NamedTree> parseNewick(const std::string& text);

// The distinct topologies of a Newick text, ready for tressil.
struct EncodedTrees {
    std::vector<std::string> names;       // taxon number -> name
    std::vector<std::string> topologies;  // tressil tree text, e.g. "((0,1),2)"
    std::vector<int64_t> weights;         // summed weight of each topology
    int32_t treesRead;                    // every tree of the text
    int32_t treesSkipped;                 // trees with fewer than three taxa
    RootingCounts rooting;                // all zero without an outgroup
};

// Parses, roots on the outgroup when one is given, numbers, merges and checks
// the limits of tressil. Throws NewickError.
EncodedTrees encodeTrees(const std::string& text, const std::vector<std::string>& outgroup = {});

// Throws unless every outgroup name is a taxon of some tree (allNames).
void checkOutgroupNames(const std::vector<std::string>& outgroup,
                        const std::unordered_set<std::string>& allNames);

// Gives every new taxon of a tree the next number, its leaves taken in text
// order.
void numberTaxa(const NamedTree& tree, std::unordered_map<std::string, int32_t>& numbers,
                std::vector<std::string>& names);

// The tressil input file: header, one tree per line, final full stop.
std::string tressilInputText(const EncodedTrees& encoded);

// "number<TAB>name" per line, numbers 0..n-1 in order.
std::string nameTableText(const EncodedTrees& encoded);

// Reads a name table; entry v is the name of taxon number v, empty where the
// table has no such number. Throws NewickError.
std::vector<std::string> parseNameTable(const std::string& text);

// A rooted binary tree on numbered taxa, as tressil builds it.
struct ResultNode {
    int32_t taxon;  // at a leaf; -1 at an inner node
    int32_t left;   // -1 at a leaf
    int32_t right;
    std::string label;  // written after an inner node's ')', e.g. a support value
};
struct ResultTree {
    std::vector<ResultNode> nodes;  // children first
    int32_t root;
};

// Reads the tree of a tressil output file, checking every number against the
// name table. Throws NewickError.
ResultTree parseResultTree(const std::string& resultText, const std::vector<std::string>& names);

// One line of Newick ending in ";\n", numbers replaced by their names.
std::string resultNewick(const ResultTree& tree, const std::vector<std::string>& names);

// parseResultTree then resultNewick.
std::string decodeResult(const std::string& resultText, const std::vector<std::string>& names);

// The tree as a rectangular cladogram in SVG 1.1: names at the tips, labels
// at the inner nodes.
std::string drawTreeSvg(const ResultTree& tree, const std::vector<std::string>& names);

// The name as a Newick label: unchanged when it is safe unquoted, otherwise in
// single quotes with every quote doubled.
std::string quoteName(const std::string& name);

// The method infer runs; kBest is the exact one up to its species limit and
// the search above it.
enum class InferMethod { kBest, kExact, kHeuristic, kSearch };

struct InferOptions {
    std::vector<std::string> outgroup;  // empty: every tree is taken as rooted
    InferMethod method;
    bool support;  // label inner nodes with their support
    bool picture;  // draw the SVG too
    int threads;   // 0: one per core
};

struct InferResult {
    std::string newick;  // one line
    std::string svg;     // empty unless a picture was asked for
    std::string report;  // tressil's report lines
    std::string notes;   // skipped trees and rooting counts, for standard error
};

// Gene trees in, species tree out, through tressil's triple table and
// methods in this process. Throws NewickError.
InferResult inferSpeciesTree(const std::string& text, const InferOptions& options);

// Labels every inner node of a result tree with its support in tressil's
// input file at inputPath. Throws NewickError (line 0) on a bad input file
// or one that does not match the tree.
void labelSupportFromInput(ResultTree* tree, const std::string& inputPath);

// The whole command line of tressil-newick; returns the exit status.
int runNewickTool(int argc, char** argv);
