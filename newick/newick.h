// tressil-newick: named Newick trees in, tressil input out; tressil's result
// tree in, named Newick out.
//
// encode: Newick text -> parsed trees (single-child nodes collapsed) -> taxon
// numbers by first appearance -> one entry per distinct rooted topology with
// the summed weight -> tressil input text and name table text.
// decode: name table text + tressil output text -> one line of Newick.
//
// Every failure throws NewickError; the command-line layer prints it with the
// file name and exits with status 1 before any file is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A failure and the place where it was found.
struct NewickError {
    int line;    // 1-based; 0 when the error concerns the file as a whole
    int column;  // 1-based, counted in characters (a UTF-8 sequence is one)
    std::string message;
};

// One node of a parsed tree. A leaf has no children and a non-empty name.
struct NamedNode {
    std::string name;  // taxon name at a leaf; empty at an inner node
    int32_t left;      // index into NamedTree::nodes, -1 at a leaf
    int32_t right;
    size_t offset;  // byte offset of the leaf's label or of the inner node's '('
};

// One tree as read. Single-child nodes are already collapsed, so every inner
// node has two children. Nodes are stored children first; leaves appear in
// the order of the text.
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
// NewickError on malformed text.
bool readNextTree(const std::string& text, size_t* pos, NamedTree* tree);

// Every tree of a Newick text; an empty result means the text holds no tree.
std::vector<NamedTree> parseNewick(const std::string& text);

// The distinct topologies of a Newick text, ready for tressil.
struct EncodedTrees {
    std::vector<std::string> names;       // taxon number -> name
    std::vector<std::string> topologies;  // tressil tree text, e.g. "((0,1),2)"
    std::vector<int64_t> weights;         // summed weight of each topology
    int32_t treesRead;                    // every tree of the text
    int32_t treesSkipped;                 // trees with fewer than three taxa
};

// Parses, numbers, merges and checks the limits of tressil. Throws NewickError.
EncodedTrees encodeTrees(const std::string& text);

// The tressil input file: header, one tree per line, final full stop.
std::string tressilInputText(const EncodedTrees& encoded);

// "number<TAB>name" per line, numbers 0..n-1 in order.
std::string nameTableText(const EncodedTrees& encoded);

// Reads a name table; entry v is the name of taxon number v, empty where the
// table has no such number. Throws NewickError.
std::vector<std::string> parseNameTable(const std::string& text);

// Turns a tressil output file into one line of Newick ending in ";\n", with
// every number replaced by its name. Throws NewickError.
std::string decodeResult(const std::string& resultText, const std::vector<std::string>& names);

// The name as a Newick label: unchanged when it is safe unquoted, otherwise in
// single quotes with every quote doubled.
std::string quoteName(const std::string& name);

// The whole command line of tressil-newick; returns the exit status.
int runNewickTool(int argc, char** argv);
