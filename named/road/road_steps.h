// Internal to infer: the gene trees as read and rooted, the triple table
// they fill, and the species tree solved from it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "driver/driver.h"
#include "named/common/named.h"
#include "named/family/family.h"
#include "named/road/road.h"
#include "named/root/root.h"
#include "triples/triples.h"

// What became of one tree of the file, for the log.
enum class TreeFate { kAsWritten, kOnOutgroup, kBySpeciesTree, kLeftOut, kSkipped };
struct TreeRecord {
    int32_t line;
    int32_t taxa;
    TreeFate fate;
    int32_t misplaced;  // on the outgroup: listed and other taxa on the wrong side
};

// What became of one gene family, for the log.
struct FamilyRecord {
    int32_t line;
    int32_t leaves;
    int32_t species;
    TreeFate fate;  // kSkipped and kLeftOut as for trees; kAsWritten when used
    FamilyCost cost;
    int32_t tied;  // roots of the fewest duplications, then losses
    FamilyTie tie;
    int32_t kept;     // pieces in the triple table
    int32_t dropped;  // pieces of fewer than three species
};

// A family whose best root is still tied after the outgroup: kept as read,
// the species of every node, and the roots left for the species tree.
struct WaitingFamily {
    int32_t record;  // in familyRecords
    int32_t unit;    // in familyOf
    NamedTree tree;
    std::vector<std::string> species;
    std::vector<int32_t> candidates;
};

struct GeneTrees {
    std::vector<std::string> names;  // taxon number -> name
    int32_t ingroupCount;            // taxa 0..ingroupCount-1; the outgroup after them
    std::vector<StoredTree> trees;   // every tree used, in file order
    // Trees without an outgroup taxon kept for rooting by the species tree:
    // as read, and their place in trees.
    std::vector<NamedTree> unplaced;
    std::vector<size_t> unplacedAt;
    std::vector<TreeRecord> records;  // every tree of the file
    RootingCounts counts;
    int32_t read;
    int32_t skipped;
    double supportScale;      // of the file's support labels: 1 or 100
    CollapseCounts collapse;  // of --min-support
    // When triples are weighed by branch supports: how, and the unit.
    bool weighted;
    TripleWeighting weighting;
    // Anchored triples: the clades of the species tree they are judged
    // against; no clades (count 0) for rooted triples.
    AnchorClades anchor;
    // Gene families: the family of every tree (the unit a bootstrap draws),
    // the families whose roots wait for the species tree, one record per
    // family of the file, and each one's pieces and tagged tree when asked.
    bool families;
    int32_t familyCount;
    std::vector<int32_t> familyOf;
    std::vector<WaitingFamily> waiting;
    std::vector<FamilyRecord> familyRecords;
    bool keepTexts[2];  // the pieces', the tags'
    std::vector<std::string> piecesText;
    std::vector<std::string> tagsText;
    bool tableFree = false;  // the run solves from the gene trees, without the table
};

// Reads one gene family (trees read with copies allowed): names its leaves'
// species, roots it where it needs the fewest duplications and losses (ties:
// the outgroup, then the species tree, then the smaller side), tags and cuts
// it, and stores its pieces of three species or more. ids and idNames number
// the species by first appearance. Throws NewickError.
void addFamily(const std::string& text, NamedTree* tree, const InferOptions& options, int32_t line,
               GeneTrees* genes, std::unordered_map<std::string, int32_t>* ids,
               std::vector<std::string>* idNames, std::unordered_set<std::string>* allNames);

// rootUnplacedTrees for gene families: each waiting family is rooted where
// the species tree displays the most of its triples among its tied roots,
// then cut again; the trees are stored anew, in file order.
void rootWaitingFamilies(GeneTrees* genes, const ResultTree& species,
                         const std::vector<bool>& known);

// True when some trees or families wait to be rooted by the species tree.
bool rootsWait(const GeneTrees& genes);

// The log of gene families: a header and one TSV line per family.
std::string familyLogText(const std::vector<FamilyRecord>& records);

// The pieces and the tagged families as asked, in file order.
void familyTexts(const GeneTrees& genes, InferResult* out);

// A note for standard error: what the families gave.
std::string familyNote(const GeneTrees& genes);

// The unit of weighed triples: a triple every branch resolving it supports
// fully counts this much.
constexpr int32_t kWeightUnit = 1000;

// Reads, checks and roots every tree of a file's bytes (Newick or NEXUS,
// plain or gzip) and numbers the taxa by first appearance, the ingroup
// before the outgroup. Throws NewickError.
GeneTrees readGeneTrees(const std::string& bytes, const InferOptions& options);

// The compact form of a rooted tree whose leaves are numbered by numbers.
StoredTree storeTree(const NamedTree& tree,
                     const std::unordered_map<std::string, int32_t>& numbers);

// Clears the triple table and adds every tree copies[t] times (once each
// when copies is empty), with g_speciesCount taxa. Throws NewickError if the
// weight passes the limit.
void fillTable(const GeneTrees& genes, const std::vector<int32_t>& copies);

// Refuses, before the table is allocated, a run that needs more memory than
// there is, naming the figure and the most taxa that would fit.
void checkRunMemory(const GeneTrees& genes, InferMethod asked);
bool tableRunFits(const GeneTrees& genes, InferMethod asked);

// A species tree, the method that built it and its report figures.
struct SpeciesTree {
    ResultTree tree;
    Method method;
    MethodResult figures;  // the tree field is not used
    bool rootGiven;        // the root split is the outgroup's, not inferred
};

// The best tree for the filled table. With an outgroup (ingroupCount below
// the taxa), the root separates the two groups and each side is solved on
// its own, which gives the best tree with that root. Throws NewickError.
SpeciesTree solveSpeciesTree(InferMethod asked, int32_t ingroupCount);

// Whether the run, of infer or of score, goes without the table: asked
// for, or by default when the table would not fit. Refuses, as
// checkRunMemory does, a run that fits neither way, and options that need
// the table.
bool runsWithoutTable(const GeneTrees& genes, const InferOptions& options);

// The species tree of the trees with copies (as fillTable takes them),
// solved from the gene trees without a table; with an outgroup the root
// separates the groups. The total is the satisfied weight; no bound.
SpeciesTree solveWithoutTable(const GeneTrees& genes, const std::vector<int32_t>& copies);

// The report of a species tree solved without a table: tressil's lines for
// the search, but no bound, which needs the table.
std::string tableFreeReport(const SpeciesTree& species, const GeneTrees& genes);
// Share labels, as labelSupport writes them, counted on the gene trees.
void labelSharesWithoutTable(ResultTree* tree, const GeneTrees& genes);
// The note for standard error of such a run, of infer or of score.
std::string tableFreeNote(const InferOptions& options, bool scoring);

// Roots every unplaced tree by the species tree, counting only the triples
// of taxa that are known (all when known is empty), and stores it in place.
void rootUnplacedTrees(GeneTrees* genes, const ResultTree& species, const std::vector<bool>& known);

// The clades of a species tree on taxa 0..taxa-1, each of them in it.
AnchorClades anchorCladesOf(const ResultTree& tree, int32_t taxa);

// Anchored triples: the table filled again against the clades of the species
// tree, and the tree solved again, while it changes, at most
// kMaxAnchoredRounds times; the notes say how many rounds ran.
constexpr int kMaxAnchoredRounds = 4;
SpeciesTree anchorAndSolve(GeneTrees* genes, const InferOptions& options, SpeciesTree species,
                           std::string* notes);

// Anchored triples without an outgroup: the taxon the first round roots
// every gene tree on (the first leaf of the file's first tree; empty when
// there is none), and the species tree rooted on it written unrooted, that
// taxon beside the two sides of the rest at a top node of three children.
std::string arbitraryRootTaxon(const std::string& bytes);
void unrootAtTop(ResultTree* tree);

// The log: a header and one TSV line per tree of the file.
std::string logText(const std::vector<TreeRecord>& records);

// The tree's topology as text with every node's children in a fixed order,
// equal for equal trees.
std::string topologyKey(const ResultTree& tree);

// Bootstrap support: the gene trees are drawn with replacement, and a species
// tree inferred from each draw as from the trees themselves. draws[r] lists
// the trees of replicate r (indices into genes.trees).
struct BootstrapSupport {
    std::vector<int32_t> percent;  // per node of the tree: replicates holding its cluster
    std::string replicates;        // the replicates' trees, one a line
};
BootstrapSupport bootstrapSupport(const GeneTrees& genes, const ResultTree& tree,
                                  const InferOptions& options,
                                  const std::vector<std::vector<int32_t>>& draws);

// The draws of --bootstrap: replicates of as many trees as there are, from
// a fixed generator seeded with seed.
std::vector<std::vector<int32_t>> drawReplicates(size_t trees, int32_t replicates, uint64_t seed);

// The notes for standard error: skipped trees and how the trees were rooted.
std::string treeNotes(const GeneTrees& genes, bool rooting);

// The start of every run on gene trees: the thread count set, the trees read,
// the memory the run needs checked, and the notes put in out.
GeneTrees startRun(const std::string& bytes, const InferOptions& options, InferResult* out,
                   bool scoring = false);

// Labels, comments and lengths as the options ask, on the filled table of
// the gene trees; the bootstrap's replicate trees go to *replicates. Returns
// the coalescent evidence of each node (empty when none was asked for).
std::vector<BranchEvidence> annotateSpeciesTree(ResultTree* tree, const GeneTrees& genes,
                                                const InferOptions& options, bool rootGiven,
                                                std::string* replicates);

// One line under the picture: what the numbers at the nodes are and how many
// gene trees they rest on.
std::string pictureLegend(const InferOptions& options, const std::vector<BranchEvidence>& evidence,
                          size_t trees);

// The report with the unit of weighed triples on its satisfied weight.
std::string withWeightUnit(std::string report);
