// The counts on the gene trees against the triple table they would fill, and
// the table-free search against a planted tree and against the table's.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/common.h"
#include "named/road/road.h"
#include "named/road/road_steps.h"
#include "named/tablefree/table_free.h"
#include "triples/triples.h"

namespace {

// A random rooted tree on the given species, nodes of two to four children,
// children first; also serves as a species tree with polytomies.
GeneTree randomTree(std::vector<int32_t> leaves, std::mt19937& rng) {
    GeneTree tree{{}, {}, 1 + static_cast<int32_t>(rng() % 4), {}};
    std::shuffle(leaves.begin(), leaves.end(), rng);
    std::vector<int32_t> parts;
    for (const int32_t s : leaves) {
        parts.push_back(static_cast<int32_t>(tree.parent.size()));
        tree.parent.push_back(-1);
        tree.species.push_back(s);
    }
    while (parts.size() > 1) {
        const auto node = static_cast<int32_t>(tree.parent.size());
        tree.parent.push_back(-1);
        tree.species.push_back(-1);
        const size_t children = std::min<size_t>(parts.size(), 2 + rng() % 3);
        for (size_t c = 0; c < children; ++c) {
            const size_t at = rng() % parts.size();
            tree.parent[static_cast<size_t>(parts[at])] = node;
            parts[at] = parts.back();
            parts.pop_back();
        }
        parts.push_back(node);
    }
    return tree;
}

ResultTree resultOf(const GeneTree& tree) {
    ResultTree out{{}, -1};
    for (size_t v = 0; v < tree.parent.size(); ++v)
        out.nodes.push_back({tree.species[v], {}, "", "", ""});
    for (size_t v = 0; v < tree.parent.size(); ++v) {
        if (tree.parent[v] < 0)
            out.root = static_cast<int32_t>(v);
        else
            out.nodes[static_cast<size_t>(tree.parent[v])].children.push_back(
                static_cast<int32_t>(v));
    }
    return out;
}

bool below(const GeneTree& tree, int32_t v, int32_t above) {
    for (; v >= 0; v = tree.parent[static_cast<size_t>(v)])
        if (v == above) return true;
    return false;
}

int32_t meet(const GeneTree& tree, int32_t a, int32_t b) {
    while (!below(tree, b, a))
        a = tree.parent[static_cast<size_t>(a)];
    return a;
}

// Whether ab|c holds in the tree: a and b meet strictly below where c joins.
bool satisfies(const GeneTree& tree, const std::vector<int32_t>& leafOf, int a, int b, int c) {
    const int32_t ab = meet(tree, leafOf[static_cast<size_t>(a)], leafOf[static_cast<size_t>(b)]);
    return !below(tree, leafOf[static_cast<size_t>(c)], ab);
}

TEST(TableFree, CountsMatchTheTableOnTreesWithPolytomiesAndMissingSpecies) {
    std::mt19937 rng(5);
    for (int round = 0; round < 12; ++round) {
        const int n = round == 0 ? 140 : 14 + round;
        g_threadCount = 1 + round % 3;
        std::vector<GeneTree> genes;
        std::vector<StoredTree> stored;
        for (int t = 0; t < 12; ++t) {
            std::vector<int32_t> leaves;
            for (int32_t s = 0; s < n; ++s)
                if (rng() % 10 < 7) leaves.push_back(s);
            genes.push_back(randomTree(leaves, rng));
            stored.push_back({genes.back().weight, genes.back().parent, genes.back().species, {}});
        }
        fillTripleTable(genes, n);
        const CountingTrees counting = prepareCountingTrees(stored, n);
        CountWork work;
        for (int trial = 0; trial < 4; ++trial) {
            std::vector<int> colour(static_cast<size_t>(n));
            std::array<std::vector<int32_t>, 3> members;
            for (int32_t s = 0; s < n; ++s) {
                colour[static_cast<size_t>(s)] = static_cast<int>(rng() % 4) - 1;
                if (colour[static_cast<size_t>(s)] >= 0)
                    members[static_cast<size_t>(colour[static_cast<size_t>(s)])].push_back(s);
            }
            ColourWeights expected{};
            for (int a = 0; a < n; ++a)
                for (int b = a + 1; b < n; ++b)
                    for (int z = 0; z < n; ++z) {
                        const int ca = colour[static_cast<size_t>(a)];
                        const int cb = colour[static_cast<size_t>(b)];
                        const int cz = colour[static_cast<size_t>(z)];
                        if (ca < 0 || cb < 0 || cz < 0 || z == a || z == b) continue;
                        if (ca == cb && cz != ca) expected.pair[ca][cz] += tripleWeight(a, b, z);
                        if (ca != cb && cz != ca && cz != cb)
                            expected.mixed[cz] += tripleWeight(a, b, z);
                    }
            const ColourWeights got = colourWeights(counting, members, &work);
            EXPECT_EQ(got.pair, expected.pair) << "round " << round;
            EXPECT_EQ(got.mixed, expected.mixed) << "round " << round;
        }
        // A whole species tree with polytomies, scored literally on the table.
        std::vector<int32_t> all(static_cast<size_t>(n));
        for (int32_t s = 0; s < n; ++s)
            all[static_cast<size_t>(s)] = s;
        const GeneTree species = randomTree(all, rng);
        std::vector<int32_t> leafOf(static_cast<size_t>(n));
        for (size_t v = 0; v < species.species.size(); ++v)
            if (species.species[v] >= 0)
                leafOf[static_cast<size_t>(species.species[v])] = static_cast<int32_t>(v);
        int64_t expected = 0;
        for (int a = 0; a < n; ++a)
            for (int b = a + 1; b < n; ++b)
                for (int c = 0; c < n; ++c)
                    if (c != a && c != b && satisfies(species, leafOf, a, b, c))
                        expected += tripleWeight(a, b, c);
        EXPECT_EQ(treeWeight(counting, resultOf(species)), expected) << "round " << round;
    }
    g_threadCount = 0;
}

}  // namespace
