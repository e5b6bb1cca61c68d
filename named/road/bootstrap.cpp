// Gene-tree bootstrap: the gene trees are drawn with replacement, each draw
// gives a species tree by the same method and options, and every node of
// the main tree gets the percentage of replicates that hold its cluster.
// The draws come from a fixed generator, and each replicate is inferred like
// the main tree, so the result is the same for every thread count.
#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common/common.h"
#include "common/progress.h"
#include "named/road/road_steps.h"

namespace {

// splitmix64: a fixed sequence, the same on every platform.
uint64_t nextRandom(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

// A whole number below bound, without the bias of a plain remainder.
uint64_t drawBelow(uint64_t* state, uint64_t bound) {
    const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    for (;;) {
        const uint64_t value = nextRandom(state);
        if (value < limit) return value % bound;
    }
}

using Cluster = std::vector<int32_t>;  // taxa, increasing

// The cluster of every node of a tree, children first as the nodes are.
std::vector<Cluster> clustersOf(const ResultTree& tree) {
    std::vector<Cluster> below(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ResultNode& node = tree.nodes[i];
        if (node.children.empty()) below[i] = {node.taxon};
        for (const int32_t child : node.children)
            below[i].insert(below[i].end(), below[static_cast<size_t>(child)].begin(),
                            below[static_cast<size_t>(child)].end());
        std::sort(below[i].begin(), below[i].end());
    }
    return below;
}

}  // namespace

std::vector<std::vector<int32_t>> drawReplicates(size_t trees, int32_t replicates, uint64_t seed) {
    std::vector<std::vector<int32_t>> draws(static_cast<size_t>(replicates));
    for (size_t r = 0; r < draws.size(); ++r) {
        uint64_t state = seed;
        state = nextRandom(&state) ^ (0x632BE59BD9B4E019u * (r + 1));
        for (size_t t = 0; t < trees; ++t)
            draws[r].push_back(static_cast<int32_t>(drawBelow(&state, trees)));
    }
    return draws;
}

BootstrapSupport bootstrapSupport(const GeneTrees& genes, const ResultTree& tree,
                                  const InferOptions& options,
                                  const std::vector<std::vector<int32_t>>& draws) {
    const std::vector<Cluster> mainClusters = clustersOf(tree);
    std::vector<int32_t> holding(tree.nodes.size(), 0);
    BootstrapSupport support{{}, ""};
    const auto replicates = static_cast<int64_t>(draws.size());
    for (int64_t r = 0; r < replicates; ++r) {
        const std::vector<int32_t>& draw = draws[static_cast<size_t>(r)];
        reportProgressPart(ProgressPart::kReplicate, r + 1, replicates);
        std::vector<int32_t> copies(genes.trees.size(), 0);
        if (genes.families) {
            // A gene family is drawn whole: every piece of it as often.
            std::vector<int32_t> drawn(static_cast<size_t>(genes.familyCount), 0);
            for (const int32_t f : draw)
                ++drawn[static_cast<size_t>(f)];
            for (size_t t = 0; t < copies.size(); ++t)
                copies[t] = drawn[static_cast<size_t>(genes.familyOf[t])];
        } else {
            for (const int32_t t : draw)
                ++copies[static_cast<size_t>(t)];
        }
        if (!genes.tableFree) fillTable(genes, copies);
        const SpeciesTree replicate = genes.tableFree
                                          ? solveWithoutTable(genes, copies)
                                          : solveSpeciesTree(options.method, genes.ingroupCount);
        const std::vector<Cluster> clusters = clustersOf(replicate.tree);
        const std::set<Cluster> held(clusters.begin(), clusters.end());
        for (size_t v = 0; v < mainClusters.size(); ++v)
            holding[v] += held.count(mainClusters[v]) != 0 ? 1 : 0;
        if (options.replicates) support.replicates += resultNewick(replicate.tree, genes.names);
    }
    reportProgressPart(ProgressPart::kWhole, 0, 0);
    const auto n = static_cast<int64_t>(draws.size());
    for (const int32_t count : holding)  // rounded half up, in integers
        support.percent.push_back(n == 0 ? 0 : static_cast<int32_t>((200 * count + n) / (2 * n)));
    return support;
}
