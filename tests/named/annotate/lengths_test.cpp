// Branch lengths and posteriors on gene trees simulated under the
// multispecies coalescent, two individuals per species: the estimates come
// back to the true lengths, the species' own branches included, and true
// branches get a posterior near one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/annotate/annotate.h"
#include "named/named_support.h"
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

// --support=full with --lengths and --bootstrap from the command line, read
// back as a tree viewer reads it: the label is the posterior, which is pp1;
// the three posteriors sum to one; f1 + f2 + f3 is n; and the length, in
// the annotation and on the branch, is the one n and f1 give.
TEST(CoalescentLengths, FullAnnotationsReadBackAsTheirLaw) {
    const std::string dir = makeScratchDirectory();
    const ToolRun run = runIn(
        dir, TRESSIL_NEWICK_BINARY,
        {"infer", "--outgroup", "Protopsis_basalis", "--support=full", "--lengths", "--bootstrap",
         "3", std::string(TRESSIL_SOURCE_DIR) + "/examples/genes.nwk", "t.nwk"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string tree = readFile(dir + "/t.nwk");
    removeScratchDirectory(dir);
    // The label is the posterior and the bootstrap: "0.88/67".
    const std::regex node(R"(\)([0-9.]+)/([0-9]+)\[&([^\]]*)\]:([0-9.e+-]+))");
    int nodes = 0;
    for (auto it = std::sregex_iterator(tree.begin(), tree.end(), node);
         it != std::sregex_iterator(); ++it, ++nodes) {
        const std::smatch& m = *it;
        std::map<std::string, std::string> field;
        std::stringstream list(m[3].str());
        for (std::string item; std::getline(list, item, ',');)
            field[item.substr(0, item.find('='))] = item.substr(item.find('=') + 1);
        const auto value = [&field](const char* name) {
            EXPECT_EQ(field.count(name), 1u) << name;
            return field.count(name) != 0 ? std::stod(field[name]) : -1.0;
        };
        const double f1 = value("f1");
        const double n = value("n");
        EXPECT_EQ(field["posterior"], field["pp1"]) << m[0];
        EXPECT_NEAR(std::stod(m[1].str()), value("posterior"), 0.005 + 1e-9) << m[0];
        EXPECT_NEAR(value("pp1") + value("pp2") + value("pp3"), 1, 2e-4) << m[0];
        EXPECT_NEAR(f1 + value("f2") + value("f3"), n, 1e-5 * n) << m[0];
        const double length = f1 >= n ? 10 : f1 / n <= 1.0 / 3 ? 0 : -std::log(1.5 * (1 - f1 / n));
        EXPECT_NEAR(value("length"), length, 1e-4 * (1 + length)) << m[0];
        EXPECT_EQ(field["length"], m[4].str());
        EXPECT_EQ(field["bootstrap"], m[2].str()) << m[0];
        EXPECT_EQ(field.size(), 10u) << m[0];
    }
    EXPECT_EQ(nodes, 9) << tree;  // of 11 inner nodes, the root and its ingroup side bear none
}

}  // namespace
