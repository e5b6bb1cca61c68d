// The triple table of the gene trees and the species tree solved from it;
// with an outgroup, each side of the given root is solved on its own.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/common.h"
#include "named/road/road_steps.h"
#include "triples/triples.h"

namespace {

Method chooseMethod(InferMethod asked, int32_t largestSide, bool rootGiven) {
    switch (asked) {
        case InferMethod::kExact:
            if (largestSide > kMaxExactSpecies)
                failWhole(std::to_string(largestSide) +
                          (rootGiven ? " taxa on one side of the outgroup's root" : " taxa found") +
                          ", but --exact takes at most " + std::to_string(kMaxExactSpecies) +
                          "; use --search or --heuristic");
            return Method::kExact;
        case InferMethod::kHeuristic:
            return Method::kHeuristic;
        case InferMethod::kSearch:
            return Method::kSearch;
        case InferMethod::kBest:
            break;
    }
    return largestSide <= kMaxExactSpecies ? Method::kExact : Method::kSearch;
}

// The exact method sums the table in 32 bits; a table whose total passes
// that (some two million trees of 20 taxa, or heavy weights) goes to the
// search by default and is refused with --exact.
Method exactOrSearch(Method method, InferMethod asked) {
    if (method != Method::kExact || exactMethodFits()) return method;
    if (asked == InferMethod::kExact)
        failWhole(
            "the trees display more triple weight than 2147483647 in all, more than --exact "
            "sums; use --search");
    return Method::kSearch;
}

std::string gigabytes(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    return text;
}

// The method's tree as a ResultTree, children first, without recursion;
// every taxon number raised by shift.
ResultTree resultFromNodes(const TreeNode* root, int32_t shift) {
    ResultTree tree{{}, -1};
    std::vector<std::pair<const TreeNode*, bool>> stack{{root, false}};  // node, children done
    std::vector<int32_t> done;
    while (!stack.empty()) {
        const auto [node, expanded] = stack.back();
        stack.pop_back();
        const bool leaf = node->left == nullptr && node->right == nullptr;
        if (!leaf && !expanded) {
            stack.push_back({node, true});
            stack.push_back({node->right, false});
            stack.push_back({node->left, false});
            continue;
        }
        ResultNode result{leaf ? node->label + shift : -1, {}, "", "", ""};
        if (!leaf) {
            const int32_t right = done.back();
            done.pop_back();
            result.children = {done.back(), right};
            done.pop_back();
        }
        tree.nodes.push_back(result);
        done.push_back(static_cast<int32_t>(tree.nodes.size() - 1));
    }
    tree.root = done.back();
    return tree;
}

// The method's tree for all taxa of the table.
SpeciesTree runOnAll(Method method) {
    const MethodResult found = runMethod(method);
    SpeciesTree species{resultFromNodes(found.tree, 0), method, found, false};
    // The heuristic's tree lives in the candidate pools, which later runs
    // reuse; every other method hands over a tree of its own.
    if (method != Method::kHeuristic) freeTree(found.tree);
    species.figures.tree = nullptr;
    return species;
}

// The best tree on the taxa first..first+count-1 alone: the methods see them
// as the taxa 0..count-1 of a table of their own, made from the full one,
// which comes back afterwards.
SpeciesTree solveSide(Method method, int32_t first, int32_t count) {
    SpeciesTree side{{{}, -1}, method, {nullptr, 0, 0, false}, false};
    if (count <= 2) {
        side.tree.nodes.push_back({first, {}, "", "", ""});
        if (count == 2) {
            side.tree.nodes.push_back({first + 1, {}, "", "", ""});
            side.tree.nodes.push_back({-1, {0, 1}, "", "", ""});
        }
        side.tree.root = static_cast<int32_t>(side.tree.nodes.size() - 1);
        return side;
    }
    const int32_t all = g_speciesCount;
    TripleTable full = takeTripleTable();
    sizeTripleTable(count);
    for (int32_t i = 0; i < count; ++i)
        for (int32_t j = i + 1; j < count; ++j) {
            const int32_t* from = tableRow(full, first + i, first + j) + first;
            std::copy(from, from + count, changeTripleRow(i, j));
        }
    g_speciesCount = count;
    side = runOnAll(method);
    g_speciesCount = all;
    restoreTripleTable(std::move(full));
    for (ResultNode& node : side.tree.nodes)
        if (node.children.empty()) node.taxon += first;
    return side;
}

// The weight of the triples with two taxa on one side of the root and the
// third on the other: every tree with that root satisfies all of them.
int64_t weightAcrossRoot(int32_t ingroupCount, int32_t n) {
    int64_t total = 0;
    for (int32_t x = 0; x < n; ++x)
        for (int32_t y = x + 1; y < n; ++y) {
            const bool ingroup = y < ingroupCount;
            if (!ingroup && x < ingroupCount) continue;  // x and y on different sides
            const int32_t from = ingroup ? ingroupCount : 0;
            const int32_t to = ingroup ? n : ingroupCount;
            for (int32_t z = from; z < to; ++z)
                total += tripleWeight(x, y, z);
        }
    return total;
}

// Joins the two sides under a new root, the outgroup first.
ResultTree joinSides(const ResultTree& outgroup, const ResultTree& ingroup) {
    ResultTree tree = outgroup;
    const auto shift = static_cast<int32_t>(tree.nodes.size());
    for (ResultNode node : ingroup.nodes) {
        for (int32_t& child : node.children)
            child += shift;
        tree.nodes.push_back(node);
    }
    tree.nodes.push_back({-1, {outgroup.root, ingroup.root + shift}, "", "", ""});
    tree.root = static_cast<int32_t>(tree.nodes.size() - 1);
    return tree;
}

}  // namespace

void fillTable(const GeneTrees& genes, const std::vector<int32_t>& copies) {
    const auto n = static_cast<int32_t>(genes.names.size());
    std::vector<GeneTree> trees;
    g_treeCount = 0;
    for (size_t t = 0; t < genes.trees.size(); ++t) {
        const int64_t times = copies.empty() ? 1 : copies[t];
        if (times == 0) continue;
        const StoredTree& tree = genes.trees[t];
        // A weight comment holds at most INT32_MAX; a tree drawn several
        // times adds its triples that many times over.
        const int64_t weight = tree.weight * times;
        if (weight > INT32_MAX)
            failWhole("a gene tree drawn " + std::to_string(times) +
                      " times weighs more than 2147483647; lower its [&W] weight");
        trees.push_back(GeneTree{tree.parent, tree.taxon, static_cast<int32_t>(weight),
                                 genes.weighted ? tree.support : std::vector<float>{}});
        g_treeCount += static_cast<int32_t>(times);
    }
    // Weighed triples count up to the unit each.
    const GeneTreeLoad load = measureGeneTrees(trees, n);
    const int64_t unit = genes.weighted ? genes.weighting.scale : 1;
    if (!load.fits || load.entryBound > INT32_MAX / unit)
        failWhole(
            "the trees' weights are too large: one species triple could gather more than "
            "2147483647 of them; lower their [&W] weights");
    fillTripleTable(trees, n, genes.weighted ? &genes.weighting : nullptr);
    g_speciesCount = n;
}

SpeciesTree solveSpeciesTree(InferMethod asked, int32_t ingroupCount) {
    const int32_t n = g_speciesCount;
    if (ingroupCount <= 0 || ingroupCount >= n)
        return runOnAll(exactOrSearch(chooseMethod(asked, n, false), asked));
    const Method method =
        exactOrSearch(chooseMethod(asked, std::max(ingroupCount, n - ingroupCount), true), asked);
    const SpeciesTree ingroup = solveSide(method, 0, ingroupCount);
    const SpeciesTree outgroup = solveSide(method, ingroupCount, n - ingroupCount);
    const int64_t across = weightAcrossRoot(ingroupCount, n);
    SpeciesTree species{
        joinSides(outgroup.tree, ingroup.tree), method, {nullptr, 0, 0, false}, true};
    species.figures.total = ingroup.figures.total + outgroup.figures.total + across;
    species.figures.bound = ingroup.figures.bound + outgroup.figures.bound + across;
    species.figures.boundFromTriples =
        ingroup.figures.boundFromTriples || outgroup.figures.boundFromTriples;
    return species;
}

void checkRunMemory(const GeneTrees& genes, InferMethod asked) {
    const auto n = static_cast<int32_t>(genes.names.size());
    const bool rootGiven = genes.ingroupCount > 0 && genes.ingroupCount < n;
    const int32_t largest = rootGiven ? std::max(genes.ingroupCount, n - genes.ingroupCount) : n;
    // --exact past its limit fails later with its own message.
    const Method method = asked == InferMethod::kExact && largest > kMaxExactSpecies
                              ? Method::kSearch
                              : chooseMethod(asked, largest, rootGiven);
    int64_t nodes = 0;
    for (const StoredTree& tree : genes.trees)
        nodes += static_cast<int64_t>(tree.parent.size());
    const auto trees = static_cast<int64_t>(genes.trees.size());
    const int threads = threadCountToUse();
    // With an outgroup each side is solved on a table of its own, while the
    // full one waits.
    const int64_t sides = rootGiven ? tripleTableBytes(largest) : 0;
    const int64_t needed = runMemoryBytes(method, n, threads, trees, nodes) + sides;
    const int64_t available = availableMemoryBytes();
    if (needed <= available) return;
    failWhole(
        std::to_string(n) + " taxa need about " + gigabytes(needed) + " of memory, but " +
        gigabytes(available) + " is available; at most " +
        std::to_string(largestFittingSpecies(method, threads, trees, nodes, available - sides)) +
        " taxa would fit");
}

std::string topologyKey(const ResultTree& tree) {
    std::vector<std::string> text(tree.nodes.size());
    std::vector<int32_t> smallest(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ResultNode& node = tree.nodes[i];
        if (node.children.empty()) {
            smallest[i] = node.taxon;
            text[i] = std::to_string(node.taxon);
            continue;
        }
        std::vector<int32_t> order = node.children;
        std::sort(order.begin(), order.end(), [&smallest](int32_t a, int32_t b) {
            return smallest[static_cast<size_t>(a)] < smallest[static_cast<size_t>(b)];
        });
        smallest[i] = smallest[static_cast<size_t>(order[0])];
        text[i] = "(";
        for (const int32_t child : order)
            text[i] += (text[i].size() > 1 ? "," : "") + text[static_cast<size_t>(child)];
        text[i] += ")";
    }
    return text[static_cast<size_t>(tree.root)];
}
