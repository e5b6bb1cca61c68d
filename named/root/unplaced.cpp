// Rooting a tree that holds no outgroup taxon: on the edge whose rooted
// triples a species tree displays most often.
//
// Three leaves a, b, c of an unrooted tree meet at one node m. Rooted on an
// edge in the direction of c from m, the tree displays ab|c. So for a
// directed edge u->v, let val(u->v) count the triples ab|c with a and b in
// two different branches at v (not the one towards u) and c beyond u, that
// the species tree displays. Rooted on the edge {x, p}, the tree displays
// exactly the triples counted by the edges pointing away from the root:
// both directions of {x, p} and every other edge directed away from it.
// With the tree as stored (root R, every edge directed down), that is
//
//   score(x) = D + val(x->p) + g(p),   D = sum of every down edge,
//   g(R) = 0,   g(y) = g(parent y) + val(y->parent y) - val(parent y->y),
//
// which needs each val once: about 3 * (leaves choose 3) comparisons.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "named/root/root.h"
#include "named/root/root_steps.h"

namespace {

// The taxa of the leaves below every node, taxa left out of the count
// excluded; nodes are stored children first.
std::vector<std::vector<int32_t>> taxaBelow(const NamedTree& tree,
                                            const std::vector<int32_t>& leafTaxon) {
    std::vector<std::vector<int32_t>> below(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        if (tree.nodes[i].children.empty() && leafTaxon[i] >= 0) below[i].push_back(leafTaxon[i]);
        for (const int32_t child : tree.nodes[i].children) {
            const std::vector<int32_t>& part = below[static_cast<size_t>(child)];
            below[i].insert(below[i].end(), part.begin(), part.end());
        }
    }
    return below;
}

// Triples ab|c the species tree displays, a in one branch, b in the other,
// c in the third: a and b meet below where either meets c. a and b play the
// same part, so the smaller branch is walked outside and the longer of the
// other two inside, over depths gathered into plain arrays the compiler can
// compare many at a time.
int64_t countDisplayed(const SpeciesTreeDepths& depths, const std::vector<int32_t>& one,
                       const std::vector<int32_t>& other, const std::vector<int32_t>& third) {
    const std::vector<int32_t>& outer = one.size() <= other.size() ? one : other;
    const std::vector<int32_t>& inner = one.size() <= other.size() ? other : one;
    std::vector<int32_t> toInner(inner.size());
    std::vector<int32_t> toThird(third.size());
    int64_t count = 0;
    for (const int32_t a : outer) {
        const int32_t* row = depths.meet.data() + static_cast<size_t>(a) * depths.taxa;
        for (size_t j = 0; j < inner.size(); ++j)
            toInner[j] = row[inner[j]];
        // A gene family's copies of one species give no triple: c == a
        // never counts (b == a and b == c never pass the test).
        for (size_t j = 0; j < third.size(); ++j)
            toThird[j] = third[j] == a ? INT32_MAX : row[third[j]];
        if (inner.size() >= third.size()) {
            for (const int32_t withC : toThird)
                for (const int32_t d : toInner)
                    count += d > withC ? 1 : 0;
        } else {
            for (const int32_t d : toInner)
                for (const int32_t withC : toThird)
                    count += d > withC ? 1 : 0;
        }
    }
    return count;
}

// val of the edge into a node from branch l, given all its branches.
int64_t valueFrom(const SpeciesTreeDepths& depths,
                  const std::vector<const std::vector<int32_t>*>& branches, size_t l) {
    int64_t value = 0;
    for (size_t i = 0; i < branches.size(); ++i)
        for (size_t j = i + 1; j < branches.size(); ++j)
            if (i != l && j != l)
                value += countDisplayed(depths, *branches[i], *branches[j], *branches[l]);
    return value;
}

// The sorted names of the smaller side (below holds the leaves below node,
// of all); of two equal sides, the one whose names come first.
std::vector<std::string> smallerSideNames(const NamedTree& tree, const std::vector<int32_t>& parent,
                                          int32_t node, int32_t below, int32_t all) {
    if (2 * below != all) return namesOnSide(tree, parent, node, 2 * below < all);
    return std::min(namesOnSide(tree, parent, node, true), namesOnSide(tree, parent, node, false));
}

std::vector<int32_t> leafCounts(const NamedTree& tree, const std::vector<int32_t>& parent) {
    std::vector<int32_t> leafCount(tree.nodes.size(), 0);
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        if (tree.nodes[v].children.empty()) leafCount[v] = 1;
        if (parent[v] >= 0) leafCount[static_cast<size_t>(parent[v])] += leafCount[v];
    }
    return leafCount;
}

}  // namespace

SpeciesTreeDepths meetingDepths(const ResultTree& tree, int32_t taxa) {
    SpeciesTreeDepths depths{taxa, std::vector<int32_t>(static_cast<size_t>(taxa) * taxa, -1)};
    // Depths from the root down; nodes are stored children first.
    std::vector<int32_t> depth(tree.nodes.size(), 0);
    std::vector<std::vector<int32_t>> below(tree.nodes.size());
    for (size_t i = tree.nodes.size(); i-- > 0;) {
        const ResultNode& node = tree.nodes[i];
        for (const int32_t child : node.children)
            depth[static_cast<size_t>(child)] = depth[i] + 1;
    }
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ResultNode& node = tree.nodes[i];
        if (node.children.empty()) {
            below[i].push_back(node.taxon);
            continue;
        }
        // Taxa in different children meet here; those of one child below.
        for (size_t c = 0; c < node.children.size(); ++c) {
            std::vector<int32_t>& part = below[static_cast<size_t>(node.children[c])];
            for (const int32_t a : part)
                for (const int32_t b : below[i]) {
                    depths.meet[static_cast<size_t>(a) * taxa + b] = depth[i];
                    depths.meet[static_cast<size_t>(b) * taxa + a] = depth[i];
                }
            below[i].insert(below[i].end(), part.begin(), part.end());
            part.clear();
        }
    }
    return depths;
}

std::vector<int64_t> speciesTreeScores(const NamedTree& tree, const std::vector<int32_t>& leafTaxon,
                                       const SpeciesTreeDepths& depths) {
    const size_t count = tree.nodes.size();
    const size_t root = static_cast<size_t>(tree.root);
    const std::vector<int32_t> parent = parentsOf(tree);
    const std::vector<std::vector<int32_t>> below = taxaBelow(tree, leafTaxon);
    std::vector<int64_t> down(count, 0);  // val(parent -> node)
    std::vector<int64_t> up(count, 0);    // val(node -> parent)
    std::vector<int32_t> inside(static_cast<size_t>(depths.taxa), 0);
    for (size_t v = 0; v < count; ++v) {
        const NamedNode& node = tree.nodes[v];
        if (node.children.empty()) continue;
        std::vector<const std::vector<int32_t>*> branches;
        for (const int32_t child : node.children)
            branches.push_back(&below[static_cast<size_t>(child)]);
        std::vector<int32_t> outside;  // the branch towards the root
        if (v != root) {
            // Counted, not marked: a family's species may lie on both sides.
            for (const int32_t t : below[v])
                ++inside[static_cast<size_t>(t)];
            for (const int32_t t : below[root])
                if (inside[static_cast<size_t>(t)] > 0)
                    --inside[static_cast<size_t>(t)];
                else
                    outside.push_back(t);
            for (const int32_t t : below[v])
                inside[static_cast<size_t>(t)] = 0;
            branches.push_back(&outside);
            down[v] = valueFrom(depths, branches, branches.size() - 1);
        }
        for (size_t c = 0; c < node.children.size(); ++c)
            up[static_cast<size_t>(node.children[c])] = valueFrom(depths, branches, c);
    }
    int64_t allDown = 0;
    for (size_t v = 0; v < count; ++v)
        allDown += down[v];
    std::vector<int64_t> gain(count, 0);  // g: nodes are stored children first
    for (size_t v = count; v-- > 0;)
        if (v != root) gain[v] = gain[static_cast<size_t>(parent[v])] + up[v] - down[v];
    std::vector<int64_t> score(count, 0);
    for (size_t x = 0; x < count; ++x)
        if (x != root) score[x] = allDown + up[x] + gain[static_cast<size_t>(parent[x])];
    return score;
}

int32_t firstBySmallerSide(const NamedTree& tree, const std::vector<int32_t>& candidates) {
    const std::vector<int32_t> parent = parentsOf(tree);
    const std::vector<int32_t> leafCount = leafCounts(tree, parent);
    const int32_t allLeaves = leafCount[static_cast<size_t>(tree.root)];
    int32_t best = -1;
    int32_t bestSide = 0;
    std::vector<std::string> bestNames;
    for (const int32_t x : candidates) {
        const int32_t below = leafCount[static_cast<size_t>(x)];
        const int32_t side = std::min(below, allLeaves - below);
        if (best >= 0 && side > bestSide) continue;
        // Names are only needed where the sizes tie.
        std::vector<std::string> names;
        if (best >= 0 && side == bestSide) {
            names = smallerSideNames(tree, parent, x, below, allLeaves);
            if (bestNames.empty())
                bestNames = smallerSideNames(tree, parent, best,
                                             leafCount[static_cast<size_t>(best)], allLeaves);
            if (!(names < bestNames)) continue;
        }
        best = x;
        bestSide = side;
        bestNames = std::move(names);
    }
    return best;
}

void rootOnEdgeAbove(NamedTree* tree, int32_t node) {
    rootAbove(tree, node, parentsOf(*tree));
}

void rootBySpeciesTree(NamedTree* tree, const std::vector<int32_t>& leafTaxon,
                       const SpeciesTreeDepths& depths) {
    const std::vector<int64_t> score = speciesTreeScores(*tree, leafTaxon, depths);
    std::vector<int32_t> best;
    for (size_t x = 0; x < score.size(); ++x) {
        if (static_cast<int32_t>(x) == tree->root) continue;
        if (!best.empty() && score[x] < score[static_cast<size_t>(best[0])]) continue;
        if (!best.empty() && score[x] > score[static_cast<size_t>(best[0])]) best.clear();
        best.push_back(static_cast<int32_t>(x));
    }
    rootAbove(tree, firstBySmallerSide(*tree, best), parentsOf(*tree));
}
