// The coalescent simulator against the multispecies coalescent's own
// probabilities, and the species trees and tree edits it relies on.
// Frequencies over many genes must lie within 4 binomial standard errors of
// their exact values, sqrt(p(1 - p) / n): a sound simulator fails that once
// in about 16000 comparisons, while a wrong rate or pair choice moves a
// frequency by many errors at these counts.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "simulate/coalescent.h"
#include "simulate/random.h"
#include "simulate/tree.h"

namespace {

constexpr int kGenes = 10000;

void expectFrequency(int count, int trials, double expected, const std::string& what) {
    const double standardError = std::sqrt(expected * (1.0 - expected) / trials);
    EXPECT_NEAR(static_cast<double>(count) / trials, expected, 4.0 * standardError) << what;
}

// Length of the path from a leaf up to the lowest node above all the named
// leaves.
double heightOfAncestor(const SimTree& tree, int leaf, const std::set<std::string>& names) {
    std::vector<size_t> held(tree.nodes.size(), 0);  // named leaves below each node
    for (const int node : postorder(tree)) {
        const SimNode& n = tree.nodes[static_cast<size_t>(node)];
        held[static_cast<size_t>(node)] += names.count(n.name);
        if (n.parent >= 0) held[static_cast<size_t>(n.parent)] += held[static_cast<size_t>(node)];
    }
    double height = 0.0;
    for (int node = leaf; held[static_cast<size_t>(node)] < names.size();
         node = tree.nodes[static_cast<size_t>(node)].parent)
        height += tree.nodes[static_cast<size_t>(node)].length;
    return height;
}

// Leaf-to-leaf path lengths by name.
std::map<std::pair<std::string, std::string>, double> leafDistances(const SimTree& tree) {
    std::map<std::pair<std::string, std::string>, double> distances;
    for (const int a : leavesOf(tree))
        for (const int b : leavesOf(tree)) {
            std::map<int, double> up;  // ancestors of a and their distance from a
            double d = 0.0;
            for (int n = a; n >= 0; n = tree.nodes[static_cast<size_t>(n)].parent) {
                up[n] = d;
                d += tree.nodes[static_cast<size_t>(n)].length;
            }
            d = 0.0;
            int n = b;
            for (; up.count(n) == 0; n = tree.nodes[static_cast<size_t>(n)].parent)
                d += tree.nodes[static_cast<size_t>(n)].length;
            distances[{tree.nodes[static_cast<size_t>(a)].name,
                       tree.nodes[static_cast<size_t>(b)].name}] = d + up[n];
        }
    return distances;
}

// For ((a,b):t,c) a gene tree puts a and b together with probability
// 1 - 2/3 e^-t, and each other pair with 1/3 e^-t.
TEST(CoalescentGeneTrees, ThreeSpeciesTopologiesFollowTheInternalBranch) {
    for (const double t : {0.1, 0.5, 1.0, 2.0}) {
        const SimTree species = parseTrees("((a:1,b:1):" + std::to_string(t) + ",c:3);")[0];
        std::mt19937_64 rng = engineFor(11, 0, 0);
        std::map<std::string, int> outside;  // the leaf hanging from the root
        for (int g = 0; g < kGenes; ++g) {
            const SimTree gene = coalescentGeneTree(species, 1, rng);
            for (const int child : gene.nodes[static_cast<size_t>(gene.root)].children)
                if (gene.nodes[static_cast<size_t>(child)].children.empty())
                    ++outside[gene.nodes[static_cast<size_t>(child)].name];
        }
        const std::string at = " at t = " + std::to_string(t);
        expectFrequency(outside["c"], kGenes, 1.0 - 2.0 / 3.0 * std::exp(-t), "ab|c" + at);
        expectFrequency(outside["a"], kGenes, std::exp(-t) / 3.0, "bc|a" + at);
        expectFrequency(outside["b"], kGenes, std::exp(-t) / 3.0, "ac|b" + at);
    }
}

// Three individuals in a leaf branch of length t: the first pair meets
// within it with probability 1 - e^-3t (rate 3), all three with
// 1 - 3/2 e^-t + 1/2 e^-3t (rate 3, then rate 1).
TEST(CoalescentGeneTrees, IndividualsMeetInTheirOwnBranchAtPairwiseRates) {
    const double t = 0.4;
    const SimTree species = parseTrees("((A:0.4,B:0.4):1,C:1.4);")[0];
    const std::set<std::string> individualsOfA{"A_1", "A_2", "A_3"};
    std::mt19937_64 rng = engineFor(12, 0, 0);
    int firstPair = 0, allThree = 0;
    for (int g = 0; g < kGenes; ++g) {
        const SimTree gene = coalescentGeneTree(species, 3, rng);
        std::multiset<std::string> names;
        double shortest = 1e300;
        int firstA = -1;
        for (const int leaf : leavesOf(gene)) {
            const SimNode& node = gene.nodes[static_cast<size_t>(leaf)];
            names.insert(node.name);
            if (individualsOfA.count(node.name) == 0) continue;
            shortest = std::min(shortest, node.length);
            firstA = leaf;
        }
        ASSERT_EQ(names, (std::multiset<std::string>{"A_1", "A_2", "A_3", "B_1", "B_2", "B_3",
                                                     "C_1", "C_2", "C_3"}));
        ASSERT_EQ(gene.nodes.size(), 17u) << "a binary tree on 9 leaves";
        firstPair += shortest < t;
        allThree += heightOfAncestor(gene, firstA, individualsOfA) < t;
    }
    expectFrequency(firstPair, kGenes, 1.0 - std::exp(-3.0 * t), "first pair");
    expectFrequency(allThree, kGenes, 1.0 - 1.5 * std::exp(-t) + 0.5 * std::exp(-3.0 * t),
                    "all three");
}

TEST(CoalescentSpeciesTrees, YuleTreeWithOutgroupCladeIsUltrametricAndScaled) {
    std::mt19937_64 rng = engineFor(13, 0, 0);
    const SimTree tree = yuleSpeciesTree({12, 4, 0.7, 5.0}, rng);
    std::set<std::string> names;
    double height = -1.0;
    for (const int leaf : leavesOf(tree)) {
        names.insert(tree.nodes[static_cast<size_t>(leaf)].name);
        double depth = 0.0;
        for (int n = leaf; n != tree.root; n = tree.nodes[static_cast<size_t>(n)].parent)
            depth += tree.nodes[static_cast<size_t>(n)].length;
        if (height < 0.0) height = depth;
        EXPECT_NEAR(depth, height, 1e-9 * height);
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"O1", "O2", "O3", "O4", "S01", "S02", "S03", "S04", "S05",
                                     "S06", "S07", "S08", "S09", "S10", "S11", "S12"}));
    ASSERT_EQ(tree.nodes[static_cast<size_t>(tree.root)].children.size(), 2u);
    for (const int side : tree.nodes[static_cast<size_t>(tree.root)].children) {
        SimTree clade = tree;
        clade.root = side;
        const bool outgroup = leavesOf(clade).size() == 4;
        EXPECT_EQ(tree.nodes[static_cast<size_t>(leavesOf(clade)[0])].name[0],
                  outgroup ? 'O' : 'S');
        EXPECT_NEAR(meanInternalLength(clade), 0.7, 1e-12);
        EXPECT_GE(tree.nodes[static_cast<size_t>(side)].length, 5.0 - 1e-12);  // rounding
    }
}

// Dropping taxa and the root, shuffling and a trip through Newick must keep
// every path between the remaining leaves.
TEST(CoalescentTreeEdits, RestrictUnrootAndNewickKeepLeafDistances) {
    std::mt19937_64 rng = engineFor(14, 0, 0);
    const SimTree species = yuleSpeciesTree({10, 1, 1.0, 5.0}, rng);
    for (int g = 0; g < 20; ++g) {
        const SimTree gene = coalescentGeneTree(species, 1, rng);
        std::vector<bool> keep(gene.nodes.size());
        for (size_t i = 0; i < keep.size(); ++i)
            keep[i] = drawBelow(rng, 3) != 0;
        keep[static_cast<size_t>(leavesOf(gene)[0])] = true;
        SimTree edited = restrictTree(gene, keep);
        unrootTree(&edited, rng);
        shuffleChildren(&edited, rng);
        const SimTree read = parseTrees(writeNewick(edited))[0];
        const size_t rootDegree = read.nodes[static_cast<size_t>(read.root)].children.size();
        EXPECT_EQ(rootDegree, leavesOf(read).size() >= 3   ? 3u
                              : leavesOf(read).size() == 2 ? 2u
                                                           : 0u);
        const auto original = leafDistances(gene);
        for (const auto& [pair, distance] : leafDistances(read))
            EXPECT_NEAR(distance, original.at(pair), 1e-8 * original.at(pair)) << g;
    }
}

}  // namespace
