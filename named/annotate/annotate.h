// Annotating a species tree: support values from the triple table.
#pragma once

#include <string>

#include "named/common/named.h"

// Labels every inner node but the root with the share of the completed
// triple table that agrees with it, with two decimals; no label where no
// triple bears on the node.
void labelSupport(ResultTree* tree);

// The same from tressil's input file at inputPath. Throws NewickError (line
// 0) on a bad input file or one that does not match the tree.
void labelSupportFromInput(ResultTree* tree, const std::string& inputPath);

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
