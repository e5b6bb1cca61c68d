// Helpers for the tressil-newick tests: readable renderings of parsed trees,
// their cluster sets, and running the programs in a scratch directory.
#pragma once

#include <random>
#include <set>
#include <string>
#include <vector>

#include "named/annotate/annotate.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"

// The trees as parsed, children in text order, names raw, weights other than
// 1 as a leading "[&W n]": e.g. "[&W 2]((A,B),C);(D,E);".
std::string renderTrees(const std::vector<NamedTree>& trees);

// The leaf-name set of every inner node; two rooted trees on the same taxa
// have the same topology exactly when these sets are equal.
std::set<std::set<std::string>> clusterSets(const NamedTree& tree);

// The leaf names of a tree.
std::set<std::string> leafNames(const NamedTree& tree);

// A random rooted binary tree on the taxa (weight 1), built by joining two
// random subtrees until one is left.
NamedTree randomTree(const std::vector<std::string>& taxa, std::mt19937& rng);

// Merges the children of some inner nodes (percent of them) into their
// parents, as collapsing weak branches does. The merged nodes stay in the
// list, unreached: the tree is meant for writeRandomNewick.
void collapseRandomly(NamedTree* tree, int percent, std::mt19937& rng);

// The tree as another program might write it: random child order, branch
// lengths, support values, comments and quoting (blanks often written as
// underscores), with its weight as a
// "[&W n]" comment when it is not 1; ends with ";\n".
std::string writeRandomNewick(const NamedTree& tree, std::mt19937& rng);

// The caterpillar (((t0,t1),t2),...) on the taxa t0..t(taxa-1), ended by ';'.
std::string caterpillar(int taxa);

// A random subset of the taxa with at least `least` members, in random order.
std::vector<std::string> randomTaxa(const std::vector<std::string>& pool, size_t least,
                                    std::mt19937& rng);

// One run of a program; file arguments are paths inside dir, and so is the
// file given as standard input.
struct ToolRun {
    int status;
    std::string out;
    std::string err;
};
ToolRun runIn(const std::string& dir, const std::string& binary,
              const std::vector<std::string>& args, const std::string& input = "/dev/null");

std::string makeScratchDirectory();
void removeScratchDirectory(const std::string& dir);
// Every file name in a directory, sorted.
std::vector<std::string> listDirectory(const std::string& dir);

// infer's options with one thread: the gene trees taken as rooted when no
// outgroup is given.
InferOptions inferOptions(const std::vector<std::string>& outgroup, InferMethod method,
                          SupportKind support = SupportKind::kNone);
