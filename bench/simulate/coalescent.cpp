#include "simulate/coalescent.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "simulate/random.h"

// ---- species trees ----

// A Yule tree on the given number of leaves, grown from its root: while k
// lineages live, the next split comes after an exponential time of rate k
// and takes a lineage chosen at random. The leaves then live on for one more
// such waiting time, so no leaf branch is of length zero. Leaves are unnamed.
static SimTree yuleClade(int leaves, std::mt19937_64& rng) {
    SimTree tree{{}, -1};
    tree.root = addNode(&tree, "", 0.0);
    std::vector<int> living{tree.root};
    auto grow = [&](double time) {
        for (const int node : living)
            tree.nodes[static_cast<size_t>(node)].length += time;
    };
    while (living.size() < static_cast<size_t>(leaves)) {
        grow(drawExponential(rng, static_cast<double>(living.size())));
        const size_t split = drawBelow(rng, living.size());
        const int parent = living[split];
        for (int side = 0; side < 2; ++side) {
            const int child = addNode(&tree, "", 0.0);
            attachChild(&tree, parent, child);
            if (side == 0)
                living[split] = child;
            else
                living.push_back(child);
        }
    }
    grow(drawExponential(rng, static_cast<double>(living.size())));
    tree.nodes[static_cast<size_t>(tree.root)].length = 0.0;
    return tree;
}

// Names the leaves prefix + 1..n, zero-padded to the given width, in a
// random order over the leaves.
static void nameLeaves(SimTree* tree, const std::string& prefix, size_t width,
                       std::mt19937_64& rng) {
    std::vector<int> leaves = leavesOf(*tree);
    for (size_t i = leaves.size(); i > 1; --i)
        std::swap(leaves[i - 1], leaves[drawBelow(rng, i)]);
    for (size_t i = 0; i < leaves.size(); ++i) {
        std::string number = std::to_string(i + 1);
        if (number.size() < width) number.insert(0, width - number.size(), '0');
        tree->nodes[static_cast<size_t>(leaves[i])].name = prefix + number;
    }
}

static void scaleToMeanInternal(SimTree* tree, double target) {
    const double mean = meanInternalLength(*tree);
    if (target > 0.0 && mean > 0.0) scaleLengths(tree, target / mean);
}

// Root-to-leaf length of an ultrametric tree.
static double heightOf(const SimTree& tree) {
    double height = 0.0;
    for (int node = tree.root; !tree.nodes[static_cast<size_t>(node)].children.empty();) {
        node = tree.nodes[static_cast<size_t>(node)].children[0];
        height += tree.nodes[static_cast<size_t>(node)].length;
    }
    return height;
}

// Copies the nodes of part into tree; returns the copy of part's root.
static int appendTree(SimTree* tree, const SimTree& part) {
    const int offset = static_cast<int>(tree->nodes.size());
    for (SimNode node : part.nodes) {
        for (int& child : node.children)
            child += offset;
        if (node.parent >= 0) node.parent += offset;
        tree->nodes.push_back(node);
    }
    return part.root + offset;
}

static size_t digitsOf(int number) {
    return std::to_string(number).size();
}

SimTree yuleSpeciesTree(const SpeciesTreeShape& shape, std::mt19937_64& rng) {
    SimTree ingroup = yuleClade(shape.ingroup, rng);
    nameLeaves(&ingroup, "S", std::max<size_t>(2, digitsOf(shape.ingroup)), rng);
    scaleToMeanInternal(&ingroup, shape.meanInternal);
    if (shape.outgroup <= 0) return ingroup;
    SimTree outgroup = yuleClade(shape.outgroup, rng);
    nameLeaves(&outgroup, "O", digitsOf(shape.outgroup), rng);
    scaleToMeanInternal(&outgroup, shape.meanInternal);
    const double inHeight = heightOf(ingroup);
    const double outHeight = heightOf(outgroup);
    const double rootHeight = std::max(inHeight, outHeight) + shape.stem;
    SimTree tree{{}, -1};
    tree.root = addNode(&tree, "", 0.0);
    const int outRoot = appendTree(&tree, outgroup);
    const int inRoot = appendTree(&tree, ingroup);
    tree.nodes[static_cast<size_t>(outRoot)].length = rootHeight - outHeight;
    tree.nodes[static_cast<size_t>(inRoot)].length = rootHeight - inHeight;
    attachChild(&tree, tree.root, outRoot);
    attachChild(&tree, tree.root, inRoot);
    return tree;
}

double meanInternalLength(const SimTree& tree) {
    double sum = 0.0;
    int count = 0;
    // Walking down from the root, not over the node array, also serves a
    // subtree named by a different root.
    for (const int index : postorder(tree)) {
        const SimNode& node = tree.nodes[static_cast<size_t>(index)];
        if (index == tree.root || node.children.empty()) continue;
        sum += node.length;
        ++count;
    }
    return count > 0 ? sum / count : 0.0;
}

// ---- gene trees ----

std::string individualName(const std::string& species, int individual, int individuals) {
    return individuals == 1 ? species : species + "_" + std::to_string(individual);
}

void coalesceInBranch(SimTree* gene, std::vector<int>* lineages, double length,
                      std::mt19937_64& rng) {
    double elapsed = 0.0;
    auto grow = [&](double time) {
        for (const int lineage : *lineages)
            gene->nodes[static_cast<size_t>(lineage)].length += time;
    };
    while (lineages->size() > 1) {
        const double k = static_cast<double>(lineages->size());
        const double wait = drawExponential(rng, k * (k - 1.0) / 2.0);
        if (elapsed + wait >= length) break;
        elapsed += wait;
        grow(wait);
        // A pair drawn uniformly: i, then j among the others.
        const size_t i = drawBelow(rng, lineages->size());
        size_t j = drawBelow(rng, lineages->size() - 1);
        if (j >= i) ++j;
        const int joined = addNode(gene, "", 0.0);
        attachChild(gene, joined, (*lineages)[i]);
        attachChild(gene, joined, (*lineages)[j]);
        (*lineages)[i] = joined;
        (*lineages)[j] = lineages->back();
        lineages->pop_back();
    }
    if (length < std::numeric_limits<double>::infinity()) grow(length - elapsed);
}

SimTree coalescentGeneTree(const SimTree& species, int individuals, std::mt19937_64& rng) {
    SimTree gene{{}, -1};
    // The lineages that leave the top of each species branch.
    std::vector<std::vector<int>> leaving(species.nodes.size());
    for (const int s : postorder(species)) {
        const SimNode& node = species.nodes[static_cast<size_t>(s)];
        std::vector<int> lineages;
        for (int i = 1; node.children.empty() && i <= individuals; ++i)
            lineages.push_back(addNode(&gene, individualName(node.name, i, individuals), 0.0));
        for (const int child : node.children) {
            std::vector<int>& below = leaving[static_cast<size_t>(child)];
            lineages.insert(lineages.end(), below.begin(), below.end());
            below.clear();
        }
        const double length =
            s == species.root ? std::numeric_limits<double>::infinity() : node.length;
        coalesceInBranch(&gene, &lineages, length, rng);
        leaving[static_cast<size_t>(s)] = std::move(lineages);
    }
    gene.root = leaving[static_cast<size_t>(species.root)][0];
    return gene;
}
