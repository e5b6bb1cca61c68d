// Rooted trees with branch lengths, as both simulators hold them: Newick in
// and out, and the edits that make a simulated tree look like a tree
// builder's output (missing taxa, no root, children in any order).
#pragma once

#include <random>
#include <string>
#include <vector>

struct SimNode {
    std::string name;           // taxon name at a leaf; empty at an inner node
    std::vector<int> children;  // indices into SimTree::nodes; empty at a leaf
    int parent;                 // -1 at the root
    double length;              // of the branch above the node; 0 at the root
};

struct SimTree {
    std::vector<SimNode> nodes;
    int root;
};

// Every failure of the simulators: bad arguments, malformed Newick. Throws
// std::runtime_error with the message; the tools print it and exit.
[[noreturn]] void failSimulation(const std::string& message);

// Adds a node (parent -1, no children) and returns its index.
int addNode(SimTree* tree, const std::string& name, double length);

// Makes child a child of parent.
void attachChild(SimTree* tree, int parent, int child);

// Node indices with every child before its parent, the root last.
std::vector<int> postorder(const SimTree& tree);

// The leaves' indices, in the order a Newick text of the tree lists them.
std::vector<int> leavesOf(const SimTree& tree);

// Every tree of a Newick text, each ended by ';'. Names are unquoted or in
// single quotes ('' for a quote); a missing ":length" reads as 0 and is
// reported through *lengthsMissing when given; inner node labels (support
// values) and [comments] are skipped. Single-child nodes are kept.
std::vector<SimTree> parseTrees(const std::string& text, bool* lengthsMissing = nullptr);

// One line of Newick ending in ";\n": children in their stored order, names
// quoted where Newick needs it, every branch but the root's with
// ":length" to 9 significant digits.
std::string writeNewick(const SimTree& tree);

// Multiplies every branch length by factor.
void scaleLengths(SimTree* tree, double factor);

// The tree restricted to the leaves with keep[node] set (indexed by node):
// other leaves and the inner nodes left without leaves go, a node left with
// one child is replaced by it with the two branch lengths summed, and the
// root moves down to the first node with two children or more. The paths
// between kept leaves keep their lengths. At least one leaf must be kept.
SimTree restrictTree(const SimTree& tree, const std::vector<bool>& keep);

// Unroots the tree as tree builders write it: when the root has two
// children, the branch to one inner child (at random when both are inner)
// is dissolved, its children join the root and its length goes to the other
// child's branch, so that every path between leaves keeps its length.
void unrootTree(SimTree* tree, std::mt19937_64& rng);

// Puts every node's children in a random order.
void shuffleChildren(SimTree* tree, std::mt19937_64& rng);
