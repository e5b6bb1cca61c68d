#include "simulate/families.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "simulate/coalescent.h"
#include "simulate/random.h"

namespace {

// A copy alive along the current species branch: the event it started
// from, when (time into the branch), and whether it is the new copy of a
// duplication, whose end node becomes its parent's born child.
struct LivingCopy {
    int parent;
    double start;
    bool isNew;
};

// Every parent before its children, and children in their order, so that a
// family without events lists its copies as the species tree does.
std::vector<int> preorder(const SimTree& tree) {
    std::vector<int> order;
    std::vector<int> stack{tree.root};
    while (!stack.empty()) {
        const int node = stack.back();
        stack.pop_back();
        order.push_back(node);
        const std::vector<int>& children = tree.nodes[static_cast<size_t>(node)].children;
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return order;
}

int addEvent(LocusTree* locus, const std::string& name, double length) {
    locus->born.push_back(-1);
    return addNode(&locus->tree, name, length);
}

// Ends a copy's branch at time `at` with a new event node.
int endCopy(LocusTree* locus, const LivingCopy& copy, const std::string& name, double at) {
    const int node = addEvent(locus, name, at - copy.start);
    attachChild(&locus->tree, copy.parent, node);
    if (copy.isNew) locus->born[static_cast<size_t>(copy.parent)] = node;
    return node;
}

// Duplications and losses along one species branch, by drawing the time to
// the next event of any living copy; returns the copies alive at its end.
std::vector<LivingCopy> growBranch(LocusTree* locus, const std::vector<int>& parents, double length,
                                   const FamilyRates& rates, std::mt19937_64& rng) {
    std::vector<LivingCopy> living;
    for (const int parent : parents)
        living.push_back({parent, 0.0, false});
    const double perCopy = rates.duplication + rates.loss;
    double now = 0.0;
    while (!living.empty() && perCopy > 0.0) {
        now += drawExponential(rng, perCopy * static_cast<double>(living.size()));
        if (now >= length) break;
        const size_t i = drawBelow(rng, living.size());
        const int node = endCopy(locus, living[i], "", now);
        if (drawUniform(rng) * perCopy < rates.duplication) {
            living[i] = {node, now, false};
            living.push_back({node, now, true});
            if (locus->tree.nodes.size() > kMaxFamilyEvents)
                failSimulation("a family grew past " + std::to_string(kMaxFamilyEvents) +
                               " duplications and losses; lower the duplication rate");
        } else {
            living[i] = living.back();  // its node stays as a leaf without a name
            living.pop_back();
        }
    }
    return living;
}

struct CoalescentWalk {
    const LocusTree& locus;
    SimTree* gene;
    std::mt19937_64& rng;
    Meetings* meetings;
};

// Joins the lineages pairwise at random where they stand, by branches of
// length 0.
void joinAtOnce(const CoalescentWalk& walk, std::vector<int>* lineages) {
    while (lineages->size() > 1) {
        const size_t i = drawBelow(walk.rng, lineages->size());
        size_t j = drawBelow(walk.rng, lineages->size() - 1);
        if (j >= i) ++j;
        const int joined = addNode(walk.gene, "", 0.0);
        attachChild(walk.gene, joined, (*lineages)[i]);
        attachChild(walk.gene, joined, (*lineages)[j]);
        (*lineages)[i] = joined;
        (*lineages)[j] = lineages->back();
        lineages->pop_back();
    }
}

// The coalescent along the branch of a new copy, drawn again until its
// lineages have met by the duplication. Only this branch is drawn again,
// not the copy's whole subtree: the exact condition would reach into every
// branch below, and redrawing all of them made families with a few nested
// duplications take minutes. A failed try made nodes only at the end of the
// gene tree and changed only the entering lineages' lengths and parents, so
// cutting the tree back and restoring those undoes it.
void meetBeforeDuplication(const CoalescentWalk& walk, std::vector<int>* lineages, double length) {
    if (lineages->size() < 2) {
        coalesceInBranch(walk.gene, lineages, length, walk.rng);
        return;
    }
    ++walk.meetings->conditioned;
    const size_t mark = walk.gene->nodes.size();
    std::vector<double> lengths;
    for (const int lineage : *lineages)
        lengths.push_back(walk.gene->nodes[static_cast<size_t>(lineage)].length);
    for (int attempt = 1;; ++attempt) {
        std::vector<int> trial = *lineages;
        coalesceInBranch(walk.gene, &trial, length, walk.rng);
        if (trial.size() <= 1 || attempt == kMaxCopyTries) {
            walk.meetings->forced += trial.size() > 1;
            joinAtOnce(walk, &trial);
            *lineages = trial;
            return;
        }
        walk.gene->nodes.resize(mark);
        for (size_t i = 0; i < lineages->size(); ++i) {
            SimNode& node = walk.gene->nodes[static_cast<size_t>((*lineages)[i])];
            node.length = lengths[i];
            node.parent = -1;
        }
    }
}

// The gene lineages that leave the top of a locus tree node's branch.
// Recursive: the depth is the locus tree's, at most kMaxLocusDepth.
std::vector<int> lineagesLeaving(const CoalescentWalk& walk, int node) {
    const SimTree& tree = walk.locus.tree;
    const SimNode& event = tree.nodes[static_cast<size_t>(node)];
    std::vector<int> lineages;
    if (event.children.empty() && !event.name.empty())
        lineages.push_back(addNode(walk.gene, event.name, 0.0));
    for (const int child : event.children) {
        const std::vector<int> below = lineagesLeaving(walk, child);
        lineages.insert(lineages.end(), below.begin(), below.end());
    }
    if (node == tree.root)
        coalesceInBranch(walk.gene, &lineages, std::numeric_limits<double>::infinity(), walk.rng);
    else if (walk.locus.born[static_cast<size_t>(event.parent)] == node)
        meetBeforeDuplication(walk, &lineages, event.length);
    else
        coalesceInBranch(walk.gene, &lineages, event.length, walk.rng);
    return lineages;
}

}  // namespace

LocusTree growLocusTree(const SimTree& species, const FamilyRates& rates, std::mt19937_64& rng) {
    LocusTree locus{{{}, -1}, {}};
    locus.tree.root = addEvent(&locus, "", 0.0);
    // The events whose copies enter each species branch at its top.
    std::vector<std::vector<int>> entering(species.nodes.size());
    entering[static_cast<size_t>(species.root)].push_back(locus.tree.root);
    const std::vector<int> order = preorder(species);
    for (auto s = order.begin(); s != order.end(); ++s) {
        const SimNode& branch = species.nodes[static_cast<size_t>(*s)];
        const double length = *s == species.root ? rates.origin : branch.length;
        const std::vector<LivingCopy> living =
            growBranch(&locus, entering[static_cast<size_t>(*s)], length, rates, rng);
        entering[static_cast<size_t>(*s)].clear();
        for (const LivingCopy& copy : living) {
            const int node =
                endCopy(&locus, copy, branch.children.empty() ? branch.name : "", length);
            for (const int child : branch.children)
                entering[static_cast<size_t>(child)].push_back(node);
        }
    }
    return locus;
}

int survivingCopies(const LocusTree& locus) {
    int count = 0;
    for (const SimNode& node : locus.tree.nodes)
        count += node.children.empty() && !node.name.empty();
    return count;
}

SimTree locusGeneTree(const LocusTree& locus) {
    std::vector<bool> keep(locus.tree.nodes.size());
    for (size_t i = 0; i < keep.size(); ++i)
        keep[i] = locus.tree.nodes[i].children.empty() && !locus.tree.nodes[i].name.empty();
    return restrictTree(locus.tree, keep);
}

static int depthOf(const SimTree& tree) {
    std::vector<int> depth(tree.nodes.size(), 0);
    int deepest = 0;
    const std::vector<int> order = postorder(tree);
    for (auto node = order.rbegin(); node != order.rend(); ++node) {
        const int parent = tree.nodes[static_cast<size_t>(*node)].parent;
        if (parent >= 0) depth[static_cast<size_t>(*node)] = depth[static_cast<size_t>(parent)] + 1;
        deepest = std::max(deepest, depth[static_cast<size_t>(*node)]);
    }
    return deepest;
}

SimTree coalescentFamilyTree(const LocusTree& locus, std::mt19937_64& rng, Meetings* meetings) {
    if (depthOf(locus.tree) > kMaxLocusDepth)
        failSimulation("a family's locus tree is more than " + std::to_string(kMaxLocusDepth) +
                       " events deep; lower the rates or leave out the coalescent");
    SimTree gene{{}, -1};
    const std::vector<int> top = lineagesLeaving({locus, &gene, rng, meetings}, locus.tree.root);
    if (top.empty()) failSimulation("a family without surviving copies has no gene tree");
    gene.root = top[0];
    return gene;
}

double netRateForMeanSize(const SimTree& species, double origin, double meanSize) {
    std::vector<double> depths;
    std::vector<double> depth(species.nodes.size(), origin);
    const std::vector<int> order = postorder(species);
    for (auto s = order.rbegin(); s != order.rend(); ++s) {
        const SimNode& node = species.nodes[static_cast<size_t>(*s)];
        if (*s != species.root)
            depth[static_cast<size_t>(*s)] = depth[static_cast<size_t>(node.parent)] + node.length;
        if (node.children.empty()) depths.push_back(depth[static_cast<size_t>(*s)]);
    }
    auto expected = [&](double rate) {
        double sum = 0.0;
        for (const double d : depths)
            sum += std::exp(rate * d);
        return sum;
    };
    double low = -1e3, high = 1e3;
    if (!(expected(low) <= meanSize && meanSize <= expected(high))) {
        char size[32];
        std::snprintf(size, sizeof size, "%g", meanSize);
        failSimulation(std::string("no duplication rate gives families of mean size ") + size +
                       " on this species tree");
    }
    for (int step = 0; step < 200; ++step) {
        const double middle = (low + high) / 2.0;
        (expected(middle) < meanSize ? low : high) = middle;
    }
    return (low + high) / 2.0;
}

std::map<std::string, int> numberCopies(SimTree* family) {
    std::map<std::string, int> copies;
    for (const int leaf : leavesOf(*family)) {
        std::string& name = family->nodes[static_cast<size_t>(leaf)].name;
        const int copy = ++copies[name];
        name += "_" + std::to_string(copy);
    }
    return copies;
}
