// The family simulator: without events it is the multispecies coalescent on
// single copies; with them, copies grow at the birth-death rate, and every
// new copy's genes meet before its duplication.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "simulate/families.h"
#include "simulate/random.h"
#include "simulate/tree.h"

namespace {

constexpr int kFamilies = 4000;

// Leaf names below every node, by node.
std::vector<std::set<std::string>> namesBelow(const SimTree& tree) {
    std::vector<std::set<std::string>> below(tree.nodes.size());
    for (const int node : postorder(tree)) {
        const SimNode& n = tree.nodes[static_cast<size_t>(node)];
        if (n.children.empty() && !n.name.empty()) below[static_cast<size_t>(node)].insert(n.name);
        if (n.parent >= 0)
            below[static_cast<size_t>(n.parent)].insert(below[static_cast<size_t>(node)].begin(),
                                                        below[static_cast<size_t>(node)].end());
    }
    return below;
}

TEST(Families, WithoutEventsEachSpeciesHasOneCopyUnderTheCoalescent) {
    std::mt19937_64 rng = engineFor(21, 0, 0);
    SimTree species = parseTrees("((a:1,(b:0.5,c:0.5):0.5):2,(d:2,e:2):1);")[0];
    SimTree family = locusGeneTree(growLocusTree(species, {0.0, 0.0, 0.0}, rng));
    numberCopies(&family);
    EXPECT_EQ(writeNewick(family), "((a_1:1,(b_1:0.5,c_1:0.5):0.5):2,(d_1:2,e_1:2):1);\n");
    // For ((a,b):t,c) a gene tree puts a and b together with probability
    // 1 - 2/3 e^-t; within 4 binomial standard errors.
    const double t = 0.5;
    species = parseTrees("((a:1,b:1):0.5,c:1.5);")[0];
    int together = 0;
    for (int f = 0; f < kFamilies; ++f) {
        Meetings meetings{0, 0};
        family = coalescentFamilyTree(growLocusTree(species, {0.0, 0.0, 0.0}, rng), rng, &meetings);
        ASSERT_EQ(leavesOf(family).size(), 3u);
        for (const std::set<std::string>& names : namesBelow(family))
            together += names == std::set<std::string>{"a", "b"};
    }
    const double expected = 1.0 - 2.0 / 3.0 * std::exp(-t);
    EXPECT_NEAR(together / static_cast<double>(kFamilies), expected,
                4.0 * std::sqrt(expected * (1.0 - expected) / kFamilies));
}

// A leaf at depth d expects exp((dup - loss) d) copies; the sample mean must
// lie within 4 of its standard errors. Every new copy's surviving genes must
// form a clade of the gene tree, and an ultrametric species tree must give
// an ultrametric gene tree, failed tries of the coalescent undone or not.
TEST(Families, CopiesGrowAtTheNetRateAndNewCopiesMeetBeforeTheirDuplication) {
    const SimTree species = parseTrees("((a:0.3,b:0.3):0.2,c:0.5);")[0];
    const FamilyRates rates{1.5, 0.5, 0.2};
    const double expectedCopies = std::exp((1.5 - 0.5) * (0.2 + 0.5));  // every leaf at depth 0.7
    std::mt19937_64 rng = engineFor(22, 0, 0);
    std::map<std::string, std::vector<int>> copies;
    Meetings meetings{0, 0};
    for (int f = 0; f < kFamilies; ++f) {
        LocusTree locus = growLocusTree(species, rates, rng);
        std::map<std::string, int> count{{"a", 0}, {"b", 0}, {"c", 0}};
        for (SimNode& node : locus.tree.nodes)
            if (node.children.empty() && !node.name.empty())
                node.name += "#" + std::to_string(++count[node.name]);  // unique leaves
        for (const auto& [name, n] : count)
            copies[name].push_back(n);
        if (survivingCopies(locus) == 0 || f % 10 != 0) continue;
        const SimTree gene = coalescentFamilyTree(locus, rng, &meetings);
        const std::vector<std::set<std::string>> clades = namesBelow(gene);
        const std::set<std::set<std::string>> cladeSet(clades.begin(), clades.end());
        const std::vector<std::set<std::string>> locusBelow = namesBelow(locus.tree);
        EXPECT_EQ(clades[static_cast<size_t>(gene.root)],
                  locusBelow[static_cast<size_t>(locus.tree.root)]);
        for (const int born : locus.born) {
            if (born < 0 || locusBelow[static_cast<size_t>(born)].empty()) continue;
            EXPECT_EQ(cladeSet.count(locusBelow[static_cast<size_t>(born)]), 1u) << f;
        }
        std::vector<double> depths;
        for (const int leaf : leavesOf(gene)) {
            depths.push_back(0.0);
            for (int n = leaf; n != gene.root; n = gene.nodes[static_cast<size_t>(n)].parent)
                depths.back() += gene.nodes[static_cast<size_t>(n)].length;
            EXPECT_NEAR(depths.back(), depths[0], 1e-9) << f;
        }
    }
    // Most new copies' lineages meet by chance within the tries (here 85%).
    EXPECT_GT(meetings.conditioned, 200);
    EXPECT_LT(meetings.forced * 4, meetings.conditioned);
    for (const auto& [name, n] : copies) {
        double sum = 0.0, squares = 0.0;
        for (const int c : n) {
            sum += c;
            squares += static_cast<double>(c) * c;
        }
        const double count = static_cast<double>(n.size());
        const double mean = sum / count;
        const double error = std::sqrt((squares / count - mean * mean) / count);
        EXPECT_NEAR(mean, expectedCopies, 4.0 * error) << name;
    }
    EXPECT_NEAR(netRateForMeanSize(species, 0.2, 3.0 * expectedCopies), 1.0, 1e-9);
}

}  // namespace
