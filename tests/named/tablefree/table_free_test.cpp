// The counts on the gene trees against the triple table they would fill, and
// the table-free search against a planted tree and against the table's.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/common.h"
#include "common/test_support.h"
#include "named/road/road.h"
#include "named/road/road_steps.h"
#include "named/tablefree/table_free.h"
#include "triples/triples.h"

namespace {

// A random rooted tree on the given species, nodes of two to four children,
// children first; also serves as a species tree with polytomies.
GeneTree randomTree(std::vector<int32_t> leaves, std::mt19937& rng) {
    const auto weight = 1 + static_cast<int32_t>(rng() % 4);
    std::shuffle(leaves.begin(), leaves.end(), rng);
    return randomTreeOver(leaves, weight, 4, rng);
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

// Odd rounds put a quarter of the species at two leaves (individuals); from
// round 4 on, every other pair of rounds weighs the triples by supports,
// each rule in turn.
TEST(TableFree, CountsMatchTheTableOnTreesWithPolytomiesMissingSpeciesAndIndividuals) {
    std::mt19937 rng(5);
    for (int round = 0; round < 12; ++round) {
        const int n = round == 0 ? 140 : 14 + round;
        g_threadCount = 1 + round % 3;
        const bool weighed = round >= 4 && round % 4 >= 2;
        const TripleWeighting weighting{static_cast<SupportRule>(round % 3), 1000};
        std::vector<GeneTree> genes;
        std::vector<StoredTree> stored;
        for (int t = 0; t < 12; ++t) {
            std::vector<int32_t> leaves;
            for (int32_t s = 0; s < n; ++s)
                if (rng() % 10 < 7) {
                    leaves.push_back(s);
                    if (round % 2 == 1 && rng() % 4 == 0) leaves.push_back(s);
                }
            genes.push_back(randomTree(leaves, rng));
            for (size_t v = 0; weighed && v < genes.back().parent.size(); ++v)
                genes.back().support.push_back(static_cast<float>(rng() % 105) / 100);
            stored.push_back({genes.back().weight, genes.back().parent, genes.back().species,
                              genes.back().support});
        }
        fillTripleTable(genes, n, weighed ? &weighting : nullptr);
        const CountingTrees counting =
            prepareCountingTrees(stored, n, weighed ? &weighting : nullptr);
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
        int64_t resolved = 0;
        for (int a = 0; a < n; ++a)
            for (int b = a + 1; b < n; ++b)
                for (int c = 0; c < n; ++c) {
                    if (c == a || c == b) continue;
                    resolved += tripleWeight(a, b, c);
                    if (satisfies(species, leafOf, a, b, c)) expected += tripleWeight(a, b, c);
                }
        EXPECT_EQ(treeWeight(counting, resultOf(species)), expected) << "round " << round;
        if (weighed && round % 2 == 1)
            EXPECT_THROW(resolvedWeight(counting), NewickError);
        else
            EXPECT_EQ(resolvedWeight(counting), resolved) << "round " << round;
    }
    g_threadCount = 0;
}

// A copy of a tree on the species present, nodes left with one child
// dropped, and two species swapped (discordance) when swap is set.
GeneTree copyOf(const GeneTree& tree, const std::vector<bool>& present, bool swap,
                std::mt19937& rng) {
    GeneTree copy{{}, {}, 1, {}};
    std::vector<int32_t> kept(tree.parent.size(), -1);
    std::vector<std::vector<int32_t>> kids(tree.parent.size());
    for (size_t v = 0; v < tree.parent.size(); ++v) {
        const bool leaf = tree.species[v] >= 0;
        if (leaf ? present[static_cast<size_t>(tree.species[v])] : kids[v].size() >= 2) {
            kept[v] = static_cast<int32_t>(copy.parent.size());
            copy.parent.push_back(-1);
            copy.species.push_back(tree.species[v]);
            for (const int32_t c : kids[v])
                copy.parent[static_cast<size_t>(c)] = kept[v];
        } else if (kids[v].size() == 1) {
            kept[v] = kids[v][0];
        }
        if (tree.parent[v] >= 0 && kept[v] >= 0)
            kids[static_cast<size_t>(tree.parent[v])].push_back(kept[v]);
    }
    std::vector<size_t> leaves;
    for (size_t v = 0; v < copy.species.size(); ++v)
        if (copy.species[v] >= 0) leaves.push_back(v);
    if (swap)
        std::swap(copy.species[leaves[rng() % leaves.size()]],
                  copy.species[leaves[rng() % leaves.size()]]);
    return copy;
}

std::string newickOf(const GeneTree& tree) {
    std::vector<std::string> text(tree.parent.size());
    std::string whole;
    for (size_t v = 0; v < tree.parent.size(); ++v) {
        if (tree.species[v] >= 0) text[v] = "s" + std::to_string(tree.species[v]);
        if (!text[v].empty() && text[v][0] == '(') text[v] += ")";
        if (tree.parent[v] < 0) {
            whole = text[v];
            continue;
        }
        std::string& up = text[static_cast<size_t>(tree.parent[v])];
        up += (up.empty() ? "(" : ",") + text[v];
    }
    return whole + ";\n";
}

// Gene trees from a planted binary species tree: copies on 70 to 100% of the
// species, a third of them with two species swapped.
std::vector<GeneTree> plantedGenes(const GeneTree& species, int n, int count, std::mt19937& rng) {
    std::vector<GeneTree> genes;
    for (int t = 0; t < count; ++t) {
        std::vector<bool> present(static_cast<size_t>(n));
        const unsigned share = 70 + rng() % 31;
        for (int s = 0; s < n; ++s)
            present[static_cast<size_t>(s)] = rng() % 100 < share;
        genes.push_back(copyOf(species, present, t % 3 == 0, rng));
    }
    return genes;
}

GeneTree binaryTree(int n, std::mt19937& rng) {
    std::vector<int32_t> all(static_cast<size_t>(n));
    for (int32_t s = 0; s < n; ++s)
        all[static_cast<size_t>(s)] = s;
    std::shuffle(all.begin(), all.end(), rng);
    return randomTreeOver(all, 1, 2, rng);
}

TEST(TableFree, SearchGivesBackAPlantedTreeOfThreeHundredSpecies) {
    std::mt19937 rng(11);
    const int n = 300;
    const GeneTree species = binaryTree(n, rng);
    std::vector<StoredTree> stored;
    for (const GeneTree& gene : plantedGenes(species, n, 60, rng))
        stored.push_back({1, gene.parent, gene.species, {}});
    std::vector<int32_t> all(static_cast<size_t>(n));
    for (int32_t s = 0; s < n; ++s)
        all[static_cast<size_t>(s)] = s;
    const CountingTrees counting = prepareCountingTrees(stored, n);
    for (const int threads : {1, 3}) {
        g_threadCount = threads;
        int64_t weight = 0;
        const ResultTree found = searchWithoutTable(counting, all, &weight);
        EXPECT_EQ(topologyKey(found), topologyKey(resultOf(species))) << threads << " threads";
        EXPECT_EQ(weight, treeWeight(counting, found));
    }
    g_threadCount = 0;
}

// Each leaf sK of the text also as two individuals, (sK,sKb), at random.
std::string withIndividuals(const std::string& text, std::mt19937& rng) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] != 's') {
            out += text[i++];
            continue;
        }
        const size_t end = text.find_first_of(",);", i);
        const std::string name = text.substr(i, end - i);
        out += rng() % 3 == 0 ? "(" + name + "," + name + "b)" : name;
        i = end;
    }
    return out;
}

// Mixes of two or three species trees, large and small: the climbs, the
// programme over their clusters and the subtree moves all have work to do;
// the reported weight, the sum of every step's gain, is the written tree's,
// the same for any thread count.
TEST(TableFree, SearchOnMixesOfSpeciesTreesReportsItsTreesWeight) {
    std::mt19937 rng(5);
    for (int round = 0; round < 10; ++round) {
        const int n = round == 0 ? 90 : 8 + static_cast<int>(rng() % 30);
        std::vector<StoredTree> stored;
        for (int mixed = 0; mixed < 2 + round % 2; ++mixed)
            for (const GeneTree& gene : plantedGenes(binaryTree(n, rng), n, 40, rng))
                stored.push_back({1, gene.parent, gene.species, {}});
        std::vector<int32_t> all(static_cast<size_t>(n));
        for (int32_t s = 0; s < n; ++s)
            all[static_cast<size_t>(s)] = s;
        const CountingTrees counting = prepareCountingTrees(stored, n);
        std::string first;
        for (const int threads : {1, 3}) {
            g_threadCount = threads;
            int64_t weight = 0;
            const ResultTree found = searchWithoutTable(counting, all, &weight);
            EXPECT_EQ(weight, treeWeight(counting, found)) << n << " species, " << threads;
            if (first.empty()) first = topologyKey(found);
            EXPECT_EQ(topologyKey(found), first) << n << " species, " << threads << " threads";
        }
    }
    g_threadCount = 0;
}

// Both paths of infer on one input of discordant trees: the table-free tree
// satisfies at least 99.9% of the table's weight, and the reports agree
// line for line but for the bound. score on both paths, with individuals
// too, writes the same report but for the bound and the same labels; infer
// with individuals ends and its reported weight is the table's score of
// its tree.
TEST(TableFree, InferKeepsWithinATenthOfAPercentOfTheTable) {
    std::mt19937 rng(3);
    const int n = 80;
    std::string text;
    const GeneTree species = binaryTree(n, rng);
    for (GeneTree& gene : plantedGenes(species, n, 150, rng)) {
        for (int swaps = 0; swaps < 3; ++swaps)
            gene = copyOf(gene, std::vector<bool>(static_cast<size_t>(n), true), true, rng);
        text += newickOf(gene);
    }
    InferOptions options;
    options.rooted = true;
    options.support = SupportKind::kShare;
    const InferResult table = inferSpeciesTree(text, options);
    options.path = InferPath::kTableFree;
    const InferResult free = inferSpeciesTree(text, options);
    const auto weight = [](const std::string& report) {
        const std::string key = "satisfied triples: ";
        return std::stoll(report.substr(report.find(key) + key.size()));
    };
    EXPECT_GE(weight(free.report) * 1000, weight(table.report) * 999);
    EXPECT_EQ(free.report, table.report.substr(0, table.report.find("%Upper bound")))
        << "equal weights expected here: " << free.newick << table.newick;
    EXPECT_EQ(free.newick, table.newick);  // the shares as well as the tree
    const std::string individuals = withIndividuals(text, rng);
    for (int s = 0; s < n; ++s) {
        options.speciesOf["s" + std::to_string(s)] = "s" + std::to_string(s);
        options.speciesOf["s" + std::to_string(s) + "b"] = "s" + std::to_string(s);
    }
    for (const std::string& genes : {text, individuals}) {
        options.path = InferPath::kTable;
        const InferResult tableScore = scoreSpeciesTree(genes, free.newick, options);
        options.path = InferPath::kTableFree;
        const InferResult freeScore = scoreSpeciesTree(genes, free.newick, options);
        EXPECT_EQ(freeScore.report,
                  tableScore.report.substr(0, tableScore.report.find("%Upper bound")));
        EXPECT_EQ(freeScore.newick, tableScore.newick);
    }
    const InferResult freeMapped = inferSpeciesTree(individuals, options);
    options.path = InferPath::kTable;
    const InferResult mappedScore = scoreSpeciesTree(individuals, freeMapped.newick, options);
    EXPECT_EQ(weight(freeMapped.report), weight(mappedScore.report));
    options.path = InferPath::kTableFree;
    options.method = InferMethod::kExact;  // a method of the table
    EXPECT_THROW(inferSpeciesTree(text, options), NewickError);
}

}  // namespace
