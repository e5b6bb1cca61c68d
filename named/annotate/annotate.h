// Annotating a species tree: support values (the share of the triple table
// that agrees with a node, the local posterior under the multispecies
// coalescent, bootstrap percentages) and branch lengths in coalescent units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "named/common/named.h"

// Labels every inner node but the root with the share of the completed
// triple table that agrees with it, with two decimals; no label where no
// triple bears on the node.
void labelSupport(ResultTree* tree);

// The longest branch written, in coalescent units: where every gene tree
// agrees, the estimate is unbounded.
constexpr double kMaxBranchLength = 10.0;

// The posterior probability of each resolution of a branch's triples, from
// how often the gene trees resolve them each way (f[0] the resolution the
// species tree shows), under the multispecies coalescent with a prior of
// rate 1 on the branch length. All 1/3 when no gene bears on the branch.
struct BranchPosterior {
    double resolution[3];
};
BranchPosterior branchPosterior(const double f[3]);

// The branch length in coalescent units that best explains f1 of n gene
// trees showing the branch's resolution: 0 at or below a third, at most
// kMaxBranchLength.
double branchLength(double f1, double n);

// How the gene trees resolve the triples that bear on the branch above an
// inner node v: a and b from v's two children, s from the other children of
// v's parent. f[0] counts ab|s (the species tree's resolution), f[1] as|b and
// f[2] bs|a, each gene tree adding its weight times the share of those
// triples it holds that it resolves so. bears is false where no gene holds
// such a triple, and for the root and nodes of more than two children. At a
// leaf, a species of several individuals, the triples are two of its
// individuals and one species of s: f[0] counts xx'|s, f[1] and f[2] half
// each of the others.
struct BranchEvidence {
    double f[3];
    bool bears;
};
std::vector<BranchEvidence> branchEvidence(const ResultTree& tree,
                                           const std::vector<StoredTree>& genes, int32_t taxa);
// The same, with quartets, each gene tree taken as unrooted: a fourth taxon
// d from outside the clade of v's parent, f[0] counting ab|sd, f[1] as|bd
// and f[2] bs|ad. Below a top node of three or more children, as in an
// unrooted tree, s comes from its first child other than v and d from the
// rest. At a leaf the counts are branchEvidence's.
std::vector<BranchEvidence> anchoredBranchEvidence(const ResultTree& tree,
                                                   const std::vector<StoredTree>& genes,
                                                   int32_t taxa);

// What a node's label says; kFull adds one bracketed annotation of all the
// coalescent figures.
enum class SupportKind { kNone, kShare, kPosterior, kFull, kBootstrap };

// The name a user gives a kind on the command line ("share", "pp", "full",
// "bootstrap"); kNone for any other text.
SupportKind supportKindNamed(const std::string& name);

struct AnnotationRequest {
    SupportKind support;
    bool lengths;                           // coalescent lengths on the branches above inner nodes
    bool rootGiven;                         // the root split was given: its two sides get nothing
    const std::vector<int32_t>* bootstrap;  // percentage per node, or null
};

// Writes the labels, comments and lengths asked for (kShare labels come from
// labelSupport). A node that no gene tree bears on gets no posterior, no
// figures and no length; the root and, when it was given, its two sides
// get nothing.
void annotateTree(ResultTree* tree, const std::vector<BranchEvidence>& evidence,
                  const AnnotationRequest& request);

// Labels every inner node of tressil's result from its input file at
// inputPath: the share, or the coalescent posterior (kPosterior, kFull) from
// the file's trees. Throws NewickError (line 0) on a bad input file or one
// that does not match the tree.
void labelSupportFromInput(ResultTree* tree, const std::string& inputPath, SupportKind kind);
