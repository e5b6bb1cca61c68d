// Branch lengths and posteriors on gene trees simulated under the
// multispecies coalescent, two individuals per species: the estimates come
// back to the true lengths, the species' own branches included, and true
// branches get a posterior near one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "named/annotate/annotate.h"
#include "simulate/coalescent.h"
#include "simulate/random.h"

namespace {

// A simulated tree with its leaves numbered by name in names.
StoredTree storedFrom(const SimTree& tree, const std::vector<std::string>& names) {
    StoredTree stored{1, {}, {}, {}};
    std::vector<int32_t> index(tree.nodes.size(), -1);
    for (const int node : postorder(tree)) {
        index[static_cast<size_t>(node)] = static_cast<int32_t>(stored.parent.size());
        const std::string& name = tree.nodes[static_cast<size_t>(node)].name;
        // An individual "S01_2" stands for its species "S01".
        const auto at = std::find(names.begin(), names.end(), name.substr(0, name.rfind('_')));
        stored.taxon.push_back(name.empty() ? -1 : static_cast<int32_t>(at - names.begin()));
        stored.parent.push_back(-1);
    }
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        if (tree.nodes[i].parent >= 0)
            stored.parent[static_cast<size_t>(index[i])] =
                index[static_cast<size_t>(tree.nodes[i].parent)];
    return stored;
}

TEST(CoalescentLengths, ComeBackFromSimulatedGenes) {
    std::mt19937_64 rng = engineFor(17, 0, 0);
    const SimTree species = yuleSpeciesTree({8, 0, 0.6, 0}, rng);
    std::vector<std::string> names;
    for (const SimNode& node : species.nodes)
        if (node.children.empty()) names.push_back(node.name);
    const StoredTree shape = storedFrom(species, names);
    ResultTree tree{{}, -1};
    for (size_t i = 0; i < shape.parent.size(); ++i)
        tree.nodes.push_back({shape.taxon[i], {}, "", "", ""});
    for (size_t i = 0; i < shape.parent.size(); ++i) {
        if (shape.parent[i] < 0)
            tree.root = static_cast<int32_t>(i);
        else
            tree.nodes[static_cast<size_t>(shape.parent[i])].children.push_back(
                static_cast<int32_t>(i));
    }
    constexpr int kGenes = 3000;
    std::vector<StoredTree> genes;
    for (int g = 0; g < kGenes; ++g) {
        std::mt19937_64 geneRng = engineFor(17, 1, static_cast<uint32_t>(g));
        genes.push_back(storedFrom(coalescentGeneTree(species, 2, geneRng), names));
    }
    const std::vector<BranchEvidence> evidence =
        branchEvidence(tree, genes, static_cast<int32_t>(names.size()));
    // The true lengths in the order of the stored nodes.
    std::vector<double> truth;
    for (const int node : postorder(species))
        truth.push_back(species.nodes[static_cast<size_t>(node)].length);
    int checked = 0;
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        if (!evidence[v].bears) continue;
        const double n = evidence[v].f[0] + evidence[v].f[1] + evidence[v].f[2];
        const double t = truth[v];
        // Each gene's share has at most the variance of one triple's
        // outcome, p(1 - p) with p = 1 - (2/3)e^-t; through t = -ln(1.5(1 - p))
        // that is a standard error of at most sqrt(p / ((1 - p) G)).
        const double p = 1 - 2.0 / 3.0 * std::exp(-t);
        const double error = std::sqrt(p / ((1 - p) * kGenes));
        EXPECT_NEAR(branchLength(evidence[v].f[0], n), t, 4 * error) << "node " << v;
        if (t > 0.2 && !tree.nodes[v].children.empty()) {
            EXPECT_GT(branchPosterior(evidence[v].f).resolution[0], 0.99) << v;
        }
        ++checked;
    }
    // Every branch but the root's: n - 2 inner ones and n of the species.
    EXPECT_EQ(checked, 2 * static_cast<int>(names.size()) - 2);
}

}  // namespace
