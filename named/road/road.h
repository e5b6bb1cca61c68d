// The road from gene trees to a species tree: in one process (infer), or
// through tressil's numbered files (encode, then tressil, then decode).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "named/annotate/annotate.h"
#include "named/common/named.h"
#include "named/family/family.h"
#include "named/read/read.h"
#include "named/root/root.h"
#include "triples/triples.h"

// The distinct topologies of a Newick text, ready for tressil.
struct EncodedTrees {
    std::vector<std::string> names;       // taxon number -> name
    std::vector<std::string> topologies;  // tressil tree text, e.g. "((0,1),2)"
    std::vector<int64_t> weights;         // summed weight of each topology
    int32_t treesRead;                    // every tree of the text
    int32_t treesSkipped;                 // trees with fewer than three taxa
    RootingCounts rooting;                // all zero without an outgroup
};

// Parses the bytes of a tree file (Newick or NEXUS, plain or gzip), roots on
// the outgroup when one is given, numbers, merges and checks the limits of
// tressil. With families (not null), every tree is a gene family whose
// leaves name their species so: it is rooted by its duplications and
// losses (ties: the outgroup, then the smaller side) and cut, and its pieces
// of three species or more are the trees. Throws NewickError.
EncodedTrees encodeTrees(const std::string& bytes, const std::vector<std::string>& outgroup = {},
                         const SpeciesNaming* families = nullptr);

// A rooted tree of any degree as the triple table takes it, its leaves
// numbered; for tools that fill the table themselves.
GeneTree geneTreeOf(const NamedTree& tree, const std::unordered_map<std::string, int32_t>& numbers);

// Gives every new taxon of a tree the next number, its leaves taken in text
// order.
void numberTaxa(const NamedTree& tree, std::unordered_map<std::string, int32_t>& numbers,
                std::vector<std::string>& names);

// The tressil input file: header, one tree per line, final full stop.
std::string tressilInputText(const EncodedTrees& encoded);

// "number<TAB>label" per line, numbers 0..n-1 in order, each name written as
// quoteName writes it.
std::string nameTableText(const EncodedTrees& encoded);

// Reads a name table; entry v is the name of taxon number v, empty where the
// table has no such number. A label in single quotes is read as quoted; any
// other text as unquoted, an underscore standing for a blank, which also
// reads the tables of earlier versions that wrote names as they were.
// Throws NewickError.
std::vector<std::string> parseNameTable(const std::string& text);

// Reads the tree of a tressil output file, checking every number against the
// name table. Throws NewickError.
ResultTree parseResultTree(const std::string& resultText, const std::vector<std::string>& names);

// One line of Newick ending in ";\n", numbers replaced by their names.
std::string resultNewick(const ResultTree& tree, const std::vector<std::string>& names);

// How a species tree is written: plain Newick with labels (and --support
// =full's comment); NEXUS with one [&name=value,...] comment per node, as
// FigTree reads it; or NHX, [&&NHX:name=value:...], as ete3 reads it.
enum class TreeOutput { kNewick, kNexus, kNhx };

// The species tree as a whole file in the format: resultNewick's line, or a
// NEXUS file with TAXA and TREES blocks, or one line of NHX.
std::string speciesTreeText(const ResultTree& tree, const std::vector<std::string>& names,
                            TreeOutput format);

// parseResultTree then resultNewick.
std::string decodeResult(const std::string& resultText, const std::vector<std::string>& names);

// The method infer runs; kBest is the exact one up to its species limit and
// the search above it.
enum class InferMethod { kBest, kExact, kHeuristic, kSearch };

// How a triple ab|c of a gene tree counts, from the supports s of the
// branches that resolve it (from the node joining a and b up to the one
// joining all three): the chance that one of them is right, 1 - prod(1 - s);
// the largest s; or the first on supports rescaled so that a third (a
// guess among three) counts nothing, max(0, (3s - 1) / 2).
enum class WeightRule { kNone, kAnyRight, kLargest, kAboveChance };

// Which triples a gene tree gives: those of its root (kRooted), or with an
// outgroup, each triple judged against every taxon outside its clade of the
// species tree, the tree taken as unrooted (kAnchored).
enum class TripleKind { kRooted, kAnchored };

// Where the species tree is solved: over the triple table, or straight from
// the gene trees (kTableFree), or the table while it fits in memory (kAuto).
enum class InferPath { kTable, kAuto, kTableFree };

struct InferOptions {
    std::vector<std::string> outgroup;  // empty: every tree is taken as rooted
    bool rooted = false;                // without an outgroup: a root of many subtrees is allowed
    bool dropUnplaced = false;          // leave out trees without an outgroup taxon, not root
                                        // them by the species tree
    InferMethod method = InferMethod::kBest;
    SupportKind support = SupportKind::kNone;  // what the inner nodes' labels say
    bool lengths = false;                      // coalescent branch lengths on the inner branches
    bool picture = false;                      // draw the SVG too
    bool log = false;                          // record what became of every tree
    int threads = 0;                           // 0: one per core
    int32_t bootstrap = 0;    // replicates of the gene trees drawn with replacement
    uint64_t seed = 1;        // of those draws
    bool replicates = false;  // keep the replicates' trees
    WeightRule weight = WeightRule::kNone;
    // Collapse branches of lower support, on the scale of the file's labels;
    // negative: none.
    double minSupport = -1;
    int supportField = kLastField;            // the value of an "a/b" label read as the support
    TreeOutput format = TreeOutput::kNewick;  // of the species tree written
    TripleKind triples = TripleKind::kRooted;
    // Hybrid weights: every branch's support becomes support x (1 -
    // e^(-length x sites)) before the weight rule reads it. One value for all
    // trees, or one per tree of the file; empty: supports as read.
    std::vector<double> sites;
    // With several individuals per species: the species of every individual
    // (leaf name); empty when every leaf is a species.
    std::unordered_map<std::string, std::string> speciesOf;
    // Gene families: every tree is rooted, tagged and cut into pieces of one
    // copy per species; the leaves' species come from speciesOf, or from a
    // field of their names (delimiter not 0), or are their names.
    bool families = false;
    char delimiter = 0;
    int field = 1;
    bool pieces = false;  // write every piece
    bool tags = false;    // write every rooted family tagged
    InferPath path = InferPath::kTable;
};

struct InferResult {
    std::string newick;             // one line
    std::string svg;                // empty unless a picture was asked for
    std::string log;                // empty unless a log was asked for: TSV, one line per tree
    std::string report;             // tressil's report lines
    std::string notes;              // skipped trees and rooting counts, for standard error
    std::vector<std::string> taxa;  // the name of every taxon number of the table
    std::string replicates;         // the bootstrap replicates' trees, one a line
    std::string pieces;             // gene families' pieces, one a line, when asked for
    std::string tags;               // the rooted families, D or S on every inner node
};

// Gene trees in (the bytes of a tree file, as encodeTrees reads them),
// species tree out, through tressil's triple table and methods in this
// process. Throws NewickError.
InferResult inferSpeciesTree(const std::string& text, const InferOptions& options);

// A failure in the species tree given to score, as opposed to the gene trees.
struct SpeciesTreeError {
    NewickError error;
};

// A species tree the user already has, weighed against the gene trees (the
// satisfied and the resolved triple weight, their share and the bound) and
// annotated as infer annotates its own. It may be unrooted when an outgroup
// is given, and have nodes of more than two children. Throws NewickError for
// the gene trees and SpeciesTreeError for the species tree.
InferResult scoreSpeciesTree(const std::string& genesBytes, const std::string& speciesBytes,
                             const InferOptions& options);
