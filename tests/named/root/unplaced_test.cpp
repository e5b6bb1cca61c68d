// Rooting by a species tree against trying every edge: root the tree there,
// count the triples it displays that the species tree displays too, and
// keep the best by the stated tie rule.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "named/named_support.h"
#include "named/read/read.h"
#include "named/road/road.h"
#include "named/root/root.h"
#include "named/root/root_steps.h"

namespace {

using Names = std::set<std::string>;
using Clusters = std::set<Names>;

bool displays(const Clusters& clusters, const std::string& a, const std::string& b,
              const std::string& c) {
    for (const Names& cluster : clusters)
        if (cluster.count(a) != 0 && cluster.count(b) != 0 && cluster.count(c) == 0) return true;
    return false;
}

// The species tree as tressil writes it, taxon t named pool[t].
ResultTree resultTree(const NamedTree& tree, const std::vector<std::string>& pool) {
    ResultTree result{{}, -1};
    std::vector<int32_t> index(tree.nodes.size(), -1);
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const NamedNode& node = tree.nodes[i];
        const int32_t taxon =
            node.children.empty()
                ? static_cast<int32_t>(std::find(pool.begin(), pool.end(), node.name) -
                                       pool.begin())
                : -1;
        ResultNode added{taxon, {}, "", "", ""};
        for (const int32_t child : node.children)
            added.children.push_back(index[static_cast<size_t>(child)]);
        result.nodes.push_back(added);
        index[i] = static_cast<int32_t>(result.nodes.size() - 1);
    }
    result.root = index[static_cast<size_t>(tree.root)];
    return result;
}

Clusters bestRootByEveryEdge(const NamedTree& tree, const Clusters& species, const Names& known) {
    const std::vector<int32_t> parent = parentsOf(tree);
    const Names all = leafNames(tree);
    std::tuple<int64_t, size_t, std::vector<std::string>> best{1, 0, {}};
    Clusters chosen;
    for (size_t x = 0; x < tree.nodes.size(); ++x) {
        if (static_cast<int32_t>(x) == tree.root) continue;
        NamedTree rooted = tree;
        rootAbove(&rooted, static_cast<int32_t>(x), parent);
        const Clusters clusters = clusterSets(rooted);
        int64_t count = 0;
        for (const std::string& a : known)
            for (const std::string& b : known)
                for (const std::string& c : known)
                    if (a < b && c != a && c != b && all.count(a) && all.count(b) && all.count(c))
                        count += displays(clusters, a, b, c) && displays(species, a, b, c);
        std::vector<std::string> below = namesOnSide(tree, parent, static_cast<int32_t>(x), true);
        std::vector<std::string> rest = namesOnSide(tree, parent, static_cast<int32_t>(x), false);
        if (below.size() > rest.size() || (below.size() == rest.size() && rest < below))
            std::swap(below, rest);
        const auto key = std::make_tuple(-count, below.size(), below);
        if (chosen.empty() || key < best) {
            best = key;
            chosen = clusters;
        }
    }
    return chosen;
}

TEST(RootBySpeciesTree, MatchesTryingEveryEdge) {
    std::mt19937 rng(41);
    for (int trial = 0; trial < 150; ++trial) {
        std::vector<std::string> pool;
        for (int t = 0; t < 4 + trial % 9; ++t)
            pool.push_back("s" + std::to_string(t));
        const NamedTree speciesTree = randomTree(pool, rng);
        NamedTree gene = randomTree(randomTaxa(pool, 3, rng), rng);
        collapseRandomly(&gene, trial % 3 == 0 ? 40 : 0, rng);
        const std::string text = writeRandomNewick(gene, rng);
        size_t pos = 0;
        NamedTree tree{};
        ASSERT_TRUE(readNextTree(text, &pos, &tree, true));
        // Some taxa are not yet known to the species tree: left out of the count.
        Names known;
        std::vector<int32_t> leafTaxon(tree.nodes.size(), -1);
        for (size_t i = 0; i < tree.nodes.size(); ++i) {
            if (!tree.nodes[i].children.empty() || (trial % 4 == 1 && rng() % 4 == 0)) continue;
            leafTaxon[i] = static_cast<int32_t>(
                std::find(pool.begin(), pool.end(), tree.nodes[i].name) - pool.begin());
            known.insert(tree.nodes[i].name);
        }
        const Clusters expected = bestRootByEveryEdge(tree, clusterSets(speciesTree), known);
        rootBySpeciesTree(
            &tree, leafTaxon,
            meetingDepths(resultTree(speciesTree, pool), static_cast<int32_t>(pool.size())));
        EXPECT_EQ(clusterSets(tree), expected) << text;
    }
}

// Rooting unplaced trees uses every tree, and once the species tree has settled,
// its reported total is the weight it satisfies on the gene trees rooted by
// the outgroup or, without one, on the edge that suits it best.
TEST(RootUnplaced, UsesEveryTreeAndReportsWhatTheTreeSatisfies) {
    std::mt19937 rng(43);
    const std::vector<std::string> outgroup = {"s0", "s1"};
    const std::unordered_set<std::string> listed(outgroup.begin(), outgroup.end());
    int settled = 0;
    for (int trial = 0; trial < 12; ++trial) {
        std::vector<std::string> pool;
        for (int t = 0; t < 6 + trial % 4; ++t)
            pool.push_back("s" + std::to_string(t));
        const NamedTree hidden = randomTree(pool, rng);
        std::string text;
        for (int t = 0; t < 10; ++t) {
            // Most trees are the hidden tree with a few taxa swapped, some random
            // without the outgroup.
            NamedTree gene = randomTree(
                randomTaxa(std::vector<std::string>(pool.begin() + 2, pool.end()), 3, rng), rng);
            if (t % 4 != 0) {
                gene = hidden;
                for (NamedNode& node : gene.nodes)
                    if (node.children.empty() && rng() % 3 == 0 && listed.count(node.name) == 0)
                        node.name = node.name == "s2" ? "s3" : "s2";
                if (leafNames(gene).size() != pool.size()) gene = hidden;
            }
            text += writeRandomNewick(gene, rng);
        }
        InferOptions options = inferOptions(outgroup, InferMethod::kExact);
        options.log = true;
        const InferResult result = inferSpeciesTree(text, options);
        EXPECT_EQ(result.log.find("left out"), std::string::npos) << result.log;
        if (result.notes.find("settled") == std::string::npos) continue;
        ++settled;
        size_t pos = 0;
        NamedTree species{};
        ASSERT_TRUE(readNextTree(result.newick, &pos, &species));
        const Clusters speciesClusters = clusterSets(species);
        const Names all = leafNames(species);
        int64_t satisfied = 0;
        NamedTree tree{};
        for (pos = 0; readNextTree(text, &pos, &tree, true);) {
            const RootingResult rooting = rootOnOutgroup(&tree, listed);
            const Clusters clusters = rooting.how == Rooting::kNoOutgroup
                                          ? bestRootByEveryEdge(tree, speciesClusters, all)
                                          : clusterSets(tree);
            for (const std::string& a : all)
                for (const std::string& b : all)
                    for (const std::string& c : all)
                        if (a < b && leafNames(tree).count(a) && leafNames(tree).count(b) &&
                            leafNames(tree).count(c) && c != a && c != b)
                            satisfied +=
                                displays(clusters, a, b, c) && displays(speciesClusters, a, b, c);
        }
        const std::string key = "%Total weight of satisfied triples: ";
        EXPECT_EQ(std::stoll(result.report.substr(result.report.find(key) + key.size())), satisfied)
            << text << result.newick;
    }
    EXPECT_GE(settled, 8);
}

// Random trees, most without the outgroup, keep the species tree moving
// for some inputs; the rooting by it stops after three rounds all the same.
TEST(RootUnplaced, StopsAfterThreeRounds) {
    int unsettled = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        std::vector<std::string> pool;
        for (unsigned t = 0; t < 6 + seed % 5; ++t)
            pool.push_back("s" + std::to_string(t));
        const std::vector<std::string> ingroup(pool.begin() + 1, pool.end());
        std::string text;
        for (unsigned t = 0; t < 1 + seed % 2; ++t)
            text += writeRandomNewick(randomTree(randomTaxa(pool, pool.size(), rng), rng), rng);
        for (unsigned t = 0; t < 4 + seed % 9; ++t)
            text += writeRandomNewick(randomTree(randomTaxa(ingroup, 4, rng), rng), rng);
        InferOptions options = inferOptions({"s0"}, InferMethod::kExact);
        const std::string notes = inferSpeciesTree(text, options).notes;
        const std::regex rounds(
            R"(settled after ([123]) rounds? of|still changed in round 3, the last of)");
        EXPECT_TRUE(std::regex_search(notes, rounds)) << notes;
        unsettled += notes.find("still changed") != std::string::npos ? 1 : 0;
    }
    EXPECT_GE(unsettled, 1);
}

}  // namespace
