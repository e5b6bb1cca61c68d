// The search against the exact method and the plain climb, its move gains
// and insertions against a full rescoring and a brute-force neighbourhood,
// and the cluster programme over every subset against the exact optimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <numeric>
#include <random>
#include <vector>

#include "common/run_support.h"
#include "common/test_support.h"
#include "driver/driver.h"
#include "exact/exact.h"
#include "generator/random_input.h"
#include "io/io.h"
#include "search/search.h"
#include "search/search_steps.h"

namespace {

int32_t exactOptimum(int n) {
    g_fullMask = nextSubset(0, static_cast<int16_t>(n), static_cast<int16_t>(n));
    solveExact();
    return g_subsetScore[g_fullMask];
}

// Small tables of every kind: dense, sparse, all ties.
void fillRound(int round, int n, std::mt19937& rng) {
    fillRandomTable(n, rng, round % 3 == 0 ? 1 : 20, round % 2 == 0 ? 0.2 : 0.8);
}

TEST(Search, NeverAboveTheExactOptimumAndMostlyOnIt) {
    std::mt19937 rng(2026);
    int onOptimum = 0;
    constexpr int kRounds = 150;
    for (int round = 0; round < kRounds; ++round) {
        const int n = 3 + round % 11;
        fillRound(round, n, rng);
        const int32_t optimum = exactOptimum(n);
        g_threadCount = 1;
        const SearchResult found = searchTree();
        g_threadCount = 3;
        const SearchResult again = searchTree();
        g_threadCount = 0;
        EXPECT_EQ(treeText(again.tree), treeText(found.tree)) << "thread count changed the tree";
        EXPECT_TRUE(isBinaryTreeOnAllSpecies(found.tree, n));
        EXPECT_EQ(found.satisfied, satisfiedWeight(found.tree));
        EXPECT_LE(found.satisfied, optimum);
        EXPECT_GE(found.bound, optimum);
        onOptimum += found.satisfied == optimum;
        freeTree(found.tree);
        freeTree(again.tree);
    }
    EXPECT_GE(onOptimum * 100, kRounds * 95);
}

// Sparse inputs of 48 and 64 species, where a plain climb from the heuristic
// method's tree can end above every batched climb of the search.
TEST(Search, NeverEndsBelowThePlainClimbOfTheHeuristicTree) {
    for (const RandomInputShape& shape : {RandomInputShape{48, 1000, 3, 3, 1, false, false, 0},
                                          RandomInputShape{64, 1000, 4, 4, 3, false, false, 0}}) {
        std::mt19937 rng(shape.species == 48 ? 7 : 2);
        ASSERT_EQ(readText(randomInput(shape, rng)), "");
        SearchTree climbed;
        treeFromNodes(runMethod(Method::kHeuristic).tree, shape.species, &climbed);
        climbPlainly(&climbed);
        const SearchResult found = searchTree();
        EXPECT_GE(found.satisfied, scoreSearchTree(climbed)) << shape.species << " species";
        freeTree(found.tree);
    }
}

// The tree with part cut out (its parent bypassed) and hung above target.
SearchTree movedTree(SearchTree tree, int32_t part, int32_t target) {
    const int32_t joint = tree.parent[part];
    cutOutParent(&tree, part);
    hangAbove(&tree, part, joint, target);
    return tree;
}

bool isBelow(const SearchTree& tree, int32_t node, int32_t top) {
    for (; node != kNoNode; node = tree.parent[node])
        if (node == top) return true;
    return false;
}

// The largest gain of any single subtree move, each move scored afresh.
int64_t bestMoveByRescoring(const SearchTree& tree) {
    const int64_t now = scoreSearchTree(tree);
    int64_t best = 0;
    const int32_t nodes = tree.speciesCount + tree.innerCount;
    for (int32_t part = 0; part < nodes; ++part) {
        if (part == tree.root) continue;
        const int32_t joint = tree.parent[part];
        for (int32_t target = 0; target < nodes; ++target) {
            if (target == joint || isBelow(tree, target, part) || tree.parent[target] == joint)
                continue;
            best = std::max(best, scoreSearchTree(movedTree(tree, part, target)) - now);
        }
    }
    return best;
}

// A tree with every species hung above a random node of the tree so far.
SearchTree randomTree(int n, std::mt19937& rng) {
    SearchTree tree;
    resetSearchTree(n, &tree);
    tree.root = 0;
    for (int32_t s = 1; s < n; ++s) {
        std::vector<int32_t> placed;
        for (int32_t node = 0; node < n + tree.innerCount; ++node)
            if (node < s || node >= n) placed.push_back(node);
        hangAbove(&tree, s, n + tree.innerCount++, placed[rng() % placed.size()]);
    }
    return tree;
}

// The gain rows kept up to date move by move must be the rows of the tree
// the climb ends on, built afresh.
TEST(SubtreeMoves, GainsMatchRescoringAndClimbsEndWhereNoMoveHelps) {
    std::mt19937 rng(5);
    MoveWork work;
    for (int round = 0; round < 40; ++round) {
        const int n = 4 + round % 9;
        fillRound(round, n, rng);
        SearchTable table;
        prepareSearchTable(&table);
        for (const bool batches : {false, true}) {
            SearchTree tree = randomTree(n, rng);
            TreeGains gains;
            buildTreeGains(table, tree, &gains, &work);
            const int64_t before = scoreSearchTree(tree);
            const int64_t gained = batches ? climbInBatches(table, &tree, &gains, &work)
                                           : climbBySubtreeMoves(table, &tree, &gains, &work);
            EXPECT_EQ(scoreSearchTree(tree) - before, gained) << "round " << round;
            EXPECT_EQ(bestMoveByRescoring(tree), 0) << "round " << round;
            TreeGains fresh;
            buildTreeGains(table, tree, &fresh, &work);
            EXPECT_EQ(gains.rows, fresh.rows) << "round " << round;
        }
    }
}

// Every node of the tree, from its root.
std::vector<int32_t> nodesOf(const SearchTree& tree) {
    std::vector<int32_t> nodes{tree.root};
    for (size_t i = 0; i < nodes.size(); ++i)
        if (!isLeafNode(tree, nodes[i]))
            nodes.insert(nodes.end(), {tree.child[nodes[i]][0], tree.child[nodes[i]][1]});
    return nodes;
}

// Cutting out the species inserted last gives back the tree before its
// insertion; every other place it could have taken is then rescored.
TEST(SpeciesInsertion, EachSpeciesTakesThePlaceThatRescoresBest) {
    std::mt19937 rng(17);
    MoveWork work;
    for (int round = 0; round < 40; ++round) {
        const int n = 4 + round % 10;
        fillRound(round, n, rng);
        SearchTable table;
        prepareSearchTable(&table);
        std::vector<int32_t> order(static_cast<size_t>(n));
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), rng);
        SearchTree tree;
        TreeGains gains;
        insertInOrder(table, order.data(), &tree, &gains, &work);
        for (int k = n - 1; k > 0; --k) {
            const int32_t species = order[static_cast<size_t>(k)];
            const int64_t taken = scoreSearchTree(tree);
            const int32_t joint = tree.parent[species];
            cutOutParent(&tree, species);
            tree.parent[species] = kNoNode;
            ASSERT_EQ(joint, n + --tree.innerCount) << "not the last insertion's joint";
            int64_t best = INT64_MIN;
            for (const int32_t x : nodesOf(tree)) {
                SearchTree tried = tree;
                hangAbove(&tried, species, joint, x);
                ++tried.innerCount;
                best = std::max(best, scoreSearchTree(tried));
            }
            EXPECT_EQ(taken, best) << "round " << round << ", species " << species;
        }
    }
}

TEST(ClusterProgramme, OverEverySubsetFindsTheExactOptimum) {
    std::mt19937 rng(11);
    for (int round = 0; round < 30; ++round) {
        const int n = 3 + round % 7;
        fillRound(round, n, rng);
        std::vector<SpeciesSet> every;
        for (uint32_t mask = 1; mask < (1u << n); ++mask) {
            SpeciesSet s{};
            for (int i = 0; i < n; ++i)
                if (mask >> i & 1u) insertSpecies(&s, i);
            every.push_back(s);
        }
        SearchTree tree;
        ASSERT_TRUE(bestTreeOverClusters(every, n, &tree));
        EXPECT_EQ(scoreSearchTree(tree), exactOptimum(n)) << "round " << round;
    }
}

// Every subset of 14 species once is more distinct clusters than the
// programme keeps; a planted tree's clusters come more often, the larger the
// more often. The table holds that tree's triples alone, so it is the one
// best tree, and the programme must build it from the clusters it keeps.
TEST(ClusterProgramme, PastItsClusterCapFindsThePlantedTree) {
    constexpr int n = 14;
    std::mt19937 rng(23);
    const SearchTree planted = randomTree(n, rng);
    std::vector<SpeciesSet> plantedClusters;
    appendClusters(planted, &plantedClusters);
    resetTable(n);
    for (const SpeciesSet& c : plantedClusters)
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                for (int k = 0; k < n; ++k)
                    if (containsSpecies(c, i) && containsSpecies(c, j) && !containsSpecies(c, k))
                        setTriple(i, j, k, 1);
    std::vector<SpeciesSet> clusters;
    for (uint32_t mask = 1; mask < (1u << n); ++mask) {
        SpeciesSet s{};
        for (int i = 0; i < n; ++i)
            if (mask >> i & 1u) insertSpecies(&s, i);
        clusters.push_back(s);
    }
    for (const SpeciesSet& c : plantedClusters)
        clusters.insert(clusters.end(), static_cast<size_t>(countSpecies(c)), c);
    SearchTree tree;
    ASSERT_TRUE(bestTreeOverClusters(clusters, n, &tree));
    EXPECT_EQ(scoreSearchTree(tree), scoreSearchTree(planted));
    EXPECT_EQ(scoreSearchTree(planted), n * (n - 1) * (n - 2) / 6);
}

}  // namespace
