// tressil-newick: named gene trees in, a named species tree out. The types
// every room of it shares.
//
// The road: tree files (Newick or NEXUS, plain or gzip) -> parsed trees
// (read/) -> rooted trees (root/) -> triple table, method and result tree
// (road/) -> support values (annotate/) -> Newick text and a picture
// (picture/); cli/ holds the command line and the writing of every output.
//
// Every failure throws NewickError; the command line prints it with the file
// name and exits with status 1 before any output is changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

// A failure and the place where it was found.
struct NewickError {
    int line;    // 1-based; 0 when the error concerns the file as a whole
    int column;  // 1-based, counted in characters (a UTF-8 sequence is one)
    std::string message;
};

constexpr size_t kNoLabel = static_cast<size_t>(-1);

// One node of a parsed tree. A leaf has no children and a non-empty name.
struct NamedNode {
    std::string name;               // taxon name at a leaf; empty at an inner node
    std::vector<int32_t> children;  // indices into NamedTree::nodes; empty at a leaf
    size_t offset;                  // byte offset of the leaf's label or of the inner node's '('
    // The label after an inner node's ')', which tree builders use for the
    // support of the branch above it: its value when it is a number, and
    // where it stands (kNoLabel when there is none).
    double support = std::numeric_limits<double>::quiet_NaN();
    size_t labelOffset = kNoLabel;
    std::string label{};  // that label as written when unquoted, e.g. "95.2/100"
    double length = std::numeric_limits<double>::quiet_NaN();  // of the branch above; NaN: none
};

// What a "[&R]" or "[&U]" comment before a tree says of its root.
enum class RootMark { kNone, kRooted, kUnrooted };

// One tree as read. Single-child nodes are already collapsed, so every inner
// node has two children or more. Nodes are stored children first; as read,
// leaves appear in the order of the text.
struct NamedTree {
    std::vector<NamedNode> nodes;
    int32_t root;
    int64_t weight;  // from a "[&W n]" comment before the tree, else 1
    size_t offset;   // byte offset of the tree's first character
    int32_t leafCount;
    RootMark mark = RootMark::kNone;
};

// A rooted tree on numbered taxa: tressil's result (binary), or a species
// tree given to score (any degree).
struct ResultNode {
    int32_t taxon;                  // at a leaf; -1 at an inner node
    std::vector<int32_t> children;  // empty at a leaf
    std::string label;              // written after an inner node's ')', e.g. a support value
    std::string comment;            // written after the label, e.g. "[&pp=0.98]"
    std::string length;             // written after a ':' when not empty
    // Every figure of the node by name, e.g. {"posterior", "0.9381"}, for
    // the formats that carry them all as annotations.
    std::vector<std::pair<std::string, std::string>> values{};
};
struct ResultTree {
    std::vector<ResultNode> nodes;  // children first
    int32_t root;
};

// A rooted gene tree, compact: nodes children first (the root has parent
// -1), leaves by taxon number.
struct StoredTree {
    int64_t weight;
    std::vector<int32_t> parent;  // -1 at the root
    std::vector<int32_t> taxon;   // the taxon of a leaf; -1 at an inner node
    std::vector<float> support;   // of the branch above each node, 0 to 1; empty when not kept
};

// Converts a byte offset of text into a 1-based line and character column.
void locateOffset(const std::string& text, size_t offset, int* line, int* column);

// Throws NewickError with the line and column of the offset.
[[noreturn]] void throwAt(const std::string& text, size_t offset, const std::string& message);

// Throws NewickError for the file as a whole (line 0).
[[noreturn]] void failWhole(const std::string& message);

// The taxon name an unquoted label stands for: an underscore there reads as
// a blank (Newick's rule), so Homo_sapiens and 'Homo sapiens' are one taxon.
// A quoted label is its name as it stands, underscores included.
std::string matchName(const std::string& unquotedText);

// The name as a Newick label that reads back as the same name: unquoted,
// blanks written as underscores, when nothing in it needs quotes; otherwise
// in single quotes with every quote doubled, so a real underscore is quoted
// ('a_b').
std::string quoteName(const std::string& name);

// The name as a message quotes it: as a Newick file writes it (an
// underscore for a blank, "S05_2" rather than "S05 2"), in single quotes,
// which a name that needs them as a label already has.
std::string shownName(const std::string& name);

// A warning line for every group of names that differ only in blanks and
// underscores, as Mouse_Lemur and 'Mouse_Lemur' do in a file: they are
// different taxa, which is seldom what was meant. Each name is shown as a
// Newick label, so the quotes tell them apart. "" when there is none.
std::string lookalikeNamesNote(const std::vector<std::string>& names);

// "did you mean 'A' or 'B'? " for the names closest to name (letter case
// aside, within a third of its length and at least 2 edits), or "" when
// none is close.
std::string suggestNames(const std::string& name, const std::unordered_set<std::string>& allNames);

// While one is alive, a fatal condition of tressil's core (a bad input file,
// no memory) throws NewickError (line 0) instead of ending the process.
struct CoreErrorsThrow {
    CoreErrorsThrow();
    ~CoreErrorsThrow();
    void (*saved)(int status, const char* message);
};
