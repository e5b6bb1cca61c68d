// Triple extraction against the obvious formulation: leaf flag arrays of both
// children and a pass over all (k, p < q) at every inner node.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "common/common.h"
#include "common/test_support.h"
#include "triples/triples.h"

namespace {

// The filled table against a reference of n^3 entries, w[i][j][k] at
// (i * n + j) * n + k, for i < j.
void expectTableIs(const std::vector<int64_t>& reference, int n, int round) {
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k)
                ASSERT_EQ(tripleWeight(i, j, k),
                          reference[(static_cast<size_t>(i) * n + j) * n + k])
                    << "round " << round << " entry " << i << "," << j << "," << k;
}

// Reference table, same layout as g_tripleWeight; static to keep it off the stack.
int32_t s_reference[kMaxSpecies][kMaxSpecies][kMaxSpecies];

// Sets leafSet[label] = 1 for every leaf under node (null adds nothing).
void collectLeaves(const TreeNode* node, int32_t* leafSet) {
    std::vector<const TreeNode*> pending;
    if (node != nullptr) pending.push_back(node);
    while (!pending.empty()) {
        const TreeNode* current = pending.back();
        pending.pop_back();
        if (current->left == nullptr && current->right == nullptr) {
            leafSet[current->label] = 1;
            continue;
        }
        if (current->right != nullptr) pending.push_back(current->right);
        if (current->left != nullptr) pending.push_back(current->left);
    }
}

void addTriplesLiterally(const TreeNode* node, int32_t weight) {
    if (node->left != nullptr) addTriplesLiterally(node->left, weight);
    if (node->right != nullptr) addTriplesLiterally(node->right, weight);
    const int n = g_speciesCount;
    int32_t leftSet[kMaxSpecies] = {};
    int32_t rightSet[kMaxSpecies] = {};
    collectLeaves(node->left, leftSet);
    collectLeaves(node->right, rightSet);
    for (int side = 0; side < 2; ++side) {
        const int32_t* third = side == 0 ? leftSet : rightSet;
        const int32_t* pair = side == 0 ? rightSet : leftSet;
        for (int k = 0; k < n; ++k) {
            if (!third[k]) continue;
            for (int p = 0; p < n; ++p)
                for (int q = p + 1; q < n; ++q)
                    if (pair[p] && pair[q]) {
                        s_reference[p][q][k] += weight;
                        s_reference[q][p][k] = s_reference[p][q][k];
                    }
        }
    }
}

TreeNode* makeNode(int label, TreeNode* left, TreeNode* right) {
    TreeNode* node = allocateNode();
    node->label = static_cast<int16_t>(label);
    node->left = left;
    node->right = right;
    return node;
}

// A random tree on the given leaf labels; now and then a child is missing.
TreeNode* randomTree(std::vector<int> labels, std::mt19937& rng, bool allowMissing) {
    if (labels.size() == 1) return makeNode(labels[0], nullptr, nullptr);
    std::uniform_int_distribution<size_t> cut(1, labels.size() - 1);
    const size_t at = cut(rng);
    std::vector<int> right(labels.begin() + static_cast<long>(at), labels.end());
    labels.resize(at);
    TreeNode* l = randomTree(labels, rng, allowMissing);
    TreeNode* r = randomTree(right, rng, allowMissing);
    if (allowMissing && rng() % 16 == 0) {
        freeTree(r);
        r = nullptr;
    }
    return makeNode(-1, l, r);
}

TEST(TripleExtraction, MatchesLiteralFormulationOnRandomTrees) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 208; ++round) {
        const int n = 2 + static_cast<int>(rng() % (round < 200 ? 12 : 127));
        resetTable(n);
        g_threadCount = 1 + round % 3;  // the sums must depend on neither
        g_portableKernelsOnly = round % 2 == 0;
        clearTripleWeights();
        std::memset(s_reference, 0, sizeof s_reference);
        const int trees = 1 + static_cast<int>(rng() % 4);
        for (int t = 0; t < trees; ++t) {
            const bool repeats = rng() % 3 == 0;
            std::vector<int> labels(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i)
                labels[static_cast<size_t>(i)] = i;
            std::shuffle(labels.begin(), labels.end(), rng);
            labels.resize(1 + rng() % static_cast<unsigned>(n));
            if (repeats)
                for (int& label : labels)
                    if (rng() % 4 == 0) label = static_cast<int>(rng() % static_cast<unsigned>(n));
            TreeNode* tree = randomTree(labels, rng, rng() % 2 == 0);
            const int32_t weight = 1 + static_cast<int32_t>(rng() % 1000);
            addTreeTriples(tree, weight);
            addTriplesLiterally(tree, weight);
            freeTree(tree);
        }
        completeTripleWeights();
        ASSERT_FALSE(tripleWeightTooLarge());
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                for (int k = 0; k < n; ++k)
                    ASSERT_EQ(tripleWeight(i, j, k), s_reference[i][j][k])
                        << "round " << round << " entry " << i << "," << j << "," << k;
    }
    g_threadCount = 0;
    g_portableKernelsOnly = false;
}

TEST(TripleExtraction, StopsAtTheTotalLimit) {
    struct Case {
        int32_t first;
        int32_t second;
        bool tooLarge;
    };
    // One tree (((0,1),2),3) adds 4 entries per unit of weight.
    for (const Case& c : {Case{536870911, 0, false}, Case{536870912, 0, true},
                          Case{536870910, 2, true}, Case{536870000, 200, false}}) {
        resetTable(4);
        clearTripleWeights();
        TreeNode* tree = makeNode(
            -1,
            makeNode(-1, makeNode(-1, makeNode(0, nullptr, nullptr), makeNode(1, nullptr, nullptr)),
                     makeNode(2, nullptr, nullptr)),
            makeNode(3, nullptr, nullptr));
        addTreeTriples(tree, c.first);
        if (c.second > 0) addTreeTriples(tree, c.second);
        freeTree(tree);
        EXPECT_EQ(tripleWeightTooLarge(), c.tooLarge) << c.first << "+" << c.second;
    }
}

// A random rooted gene tree on the given leaf species (repeats are
// individuals of one species), nodes of two to four children, children first.
GeneTree randomGeneTree(const std::vector<int32_t>& leaves, std::mt19937& rng) {
    const auto weight = 1 + static_cast<int32_t>(rng() % 5);
    return randomTreeOver(leaves, weight, 4, rng);
}

// Every triple of leaves of three species, the pair meeting below the third;
// with a weighting, weighed by the supports of the branches from where the
// pair meets up to where the third joins.
void addGeneTreeLiterally(const GeneTree& tree, std::vector<int64_t>* reference, int n,
                          const TripleWeighting* weighting = nullptr) {
    const auto count = tree.parent.size();
    const auto below = [&tree](size_t leaf, size_t node) {
        for (auto v = static_cast<int32_t>(leaf); v >= 0; v = tree.parent[static_cast<size_t>(v)])
            if (static_cast<size_t>(v) == node) return true;
        return false;
    };
    for (size_t x = 0; x < count; ++x)
        for (size_t y = x + 1; y < count; ++y) {
            const int32_t sx = tree.species[x], sy = tree.species[y];
            if (sx < 0 || sy < 0 || sx == sy) continue;
            auto meet = static_cast<size_t>(tree.parent[x]);
            while (!below(y, meet))
                meet = static_cast<size_t>(tree.parent[meet]);
            for (size_t z = 0; z < count; ++z) {
                const int32_t sz = tree.species[z];
                if (sz < 0 || sz == sx || sz == sy || below(z, meet)) continue;
                std::vector<float> path;
                for (auto v = meet; !below(z, v); v = static_cast<size_t>(tree.parent[v]))
                    path.push_back(tree.support[v]);
                (*reference)[(static_cast<size_t>(std::min(sx, sy)) * n + std::max(sx, sy)) * n +
                             sz] +=
                    weighting == nullptr
                        ? tree.weight
                        : std::llround(supportWeight(weighting->rule, path.data(),
                                                     static_cast<int>(path.size())) *
                                       weighting->scale * tree.weight);
            }
        }
}

// Beyond 128 species, with missing taxa, nodes of many children and trees of
// individuals, the table gene trees fill against a count over leaf triples;
// and weighed by random branch supports under each rule.
TEST(GeneTreeTable, MatchesACountOverLeafTriples) {
    std::mt19937 rng(17);
    for (int round = 0; round < 10; ++round) {
        const int n = round < 2 ? 140 : 9;
        const TripleWeighting weighting{static_cast<SupportRule>(round % 3), 1000};
        const TripleWeighting* weighed = round >= 4 ? &weighting : nullptr;
        g_threadCount = 1 + round % 3;
        std::vector<GeneTree> trees;
        std::vector<int64_t> reference(static_cast<size_t>(n) * n * n, 0);
        for (int t = 0; t < 5; ++t) {
            std::vector<int32_t> leaves;
            for (int32_t s = 0; s < n; ++s)
                if (rng() % 10 < 8) leaves.push_back(s);
            if (t == 4)  // individuals: some species twice or three times
                for (int extra = 0; extra < n / 3; ++extra)
                    leaves.push_back(static_cast<int32_t>(rng() % static_cast<unsigned>(n)));
            std::shuffle(leaves.begin(), leaves.end(), rng);
            trees.push_back(randomGeneTree(leaves, rng));
            trees.back().support.resize(trees.back().parent.size());
            for (float& s : trees.back().support)
                s = static_cast<float>(rng() % 101) / 100;
            addGeneTreeLiterally(trees.back(), &reference, n, weighed);
            if (weighed == nullptr) trees.back().support.clear();
        }
        ASSERT_TRUE(measureGeneTrees(trees, n).fits);
        fillTripleTable(trees, n, weighed);
        expectTableIs(reference, n, round);
    }
    g_threadCount = 0;
}

}  // namespace

namespace {

// The clades of a species tree given as a gene tree of every species once.
AnchorClades cladesOfTree(const GeneTree& tree, int n) {
    const size_t nodes = tree.parent.size();
    std::vector<std::vector<char>> below(nodes, std::vector<char>(static_cast<size_t>(n), 0));
    for (size_t v = 0; v < nodes; ++v)
        if (tree.species[v] >= 0) below[v][static_cast<size_t>(tree.species[v])] = 1;
    for (size_t v = 0; v < nodes; ++v)
        if (tree.parent[v] >= 0)
            for (int s = 0; s < n; ++s)
                below[static_cast<size_t>(tree.parent[v])][static_cast<size_t>(s)] |=
                    below[v][static_cast<size_t>(s)];
    AnchorClades clades{0, {}, std::vector<int32_t>(static_cast<size_t>(n * n), -1), {}};
    std::vector<int32_t> depthOf(nodes, 0);
    for (size_t v = nodes; v-- > 0;)
        if (tree.parent[v] >= 0) depthOf[v] = depthOf[static_cast<size_t>(tree.parent[v])] + 1;
    // Deepest clades last, so that the last clade holding a pair is its smallest.
    std::vector<size_t> inner;
    for (size_t v = 0; v < nodes; ++v)
        if (tree.species[v] < 0) inner.push_back(v);
    std::sort(inner.begin(), inner.end(),
              [&depthOf](size_t a, size_t b) { return depthOf[a] < depthOf[b]; });
    for (const size_t v : inner) {
        clades.inside.insert(clades.inside.end(), below[v].begin(), below[v].end());
        clades.depth.push_back(depthOf[v]);
        for (int a = 0; a < n; ++a)
            for (int b = 0; b < n; ++b)
                if (below[v][static_cast<size_t>(a)] && below[v][static_cast<size_t>(b)])
                    clades.meet[static_cast<size_t>(a * n + b)] = clades.count;
        ++clades.count;
    }
    return clades;
}

// Edges between two nodes of a tree taken as unrooted.
std::vector<std::vector<int>> nodeDistances(const GeneTree& tree) {
    const size_t nodes = tree.parent.size();
    std::vector<std::vector<int>> d(nodes, std::vector<int>(nodes, 1 << 20));
    for (size_t v = 0; v < nodes; ++v) {
        d[v][v] = 0;
        if (tree.parent[v] >= 0) d[v][static_cast<size_t>(tree.parent[v])] = 1;
        if (tree.parent[v] >= 0) d[static_cast<size_t>(tree.parent[v])][v] = 1;
    }
    for (size_t k = 0; k < nodes; ++k)
        for (size_t i = 0; i < nodes; ++i)
            for (size_t j = 0; j < nodes; ++j)
                d[i][j] = std::min(d[i][j], d[i][k] + d[k][j]);
    return d;
}

// The definition, leaf triple by leaf triple and d by d: xy|zd holds when
// the four-point sums put x with y strictly apart from the others. With a
// weighting, the branch from the median towards z weighs the share.
void addAnchoredLiterally(const GeneTree& tree, const AnchorClades& clades, int n,
                          const TripleWeighting* weighting, std::vector<int64_t>* reference) {
    const auto d = nodeDistances(tree);
    const size_t nodes = tree.parent.size();
    for (size_t x = 0; x < nodes; ++x)
        for (size_t y = 0; y < nodes; ++y)
            for (size_t z = 0; z < nodes; ++z) {
                const int32_t sx = tree.species[x], sy = tree.species[y], sz = tree.species[z];
                if (sx < 0 || sy < 0 || sz < 0 || sx >= sy || sz == sx || sz == sy) continue;
                int32_t clade = -1;
                for (int32_t c = 0; c < clades.count; ++c)
                    if (clades.inside[static_cast<size_t>(c * n + sx)] &&
                        clades.inside[static_cast<size_t>(c * n + sy)] &&
                        clades.inside[static_cast<size_t>(c * n + sz)])
                        clade = c;  // deepest last
                int outside = 0;
                int shown = 0;
                for (size_t w = 0; w < nodes; ++w) {
                    const int32_t sw = tree.species[w];
                    if (sw < 0 || clades.inside[static_cast<size_t>(clade * n + sw)]) continue;
                    ++outside;
                    shown += d[x][y] + d[z][w] < std::min(d[x][z] + d[y][w], d[x][w] + d[y][z]);
                }
                if (outside == 0) continue;
                double branch = 1;
                if (weighting != nullptr) {
                    size_t median = 0;
                    for (size_t m = 1; m < nodes; ++m)
                        if (d[x][m] + d[y][m] + d[z][m] <
                            d[x][median] + d[y][median] + d[z][median])
                            median = m;
                    size_t next = 0;  // the neighbour of the median towards z
                    for (size_t v = 0; v < nodes; ++v)
                        if (d[median][v] == 1 && d[v][z] < d[median][z]) next = v;
                    const size_t child =
                        tree.parent[median] == static_cast<int32_t>(next) ? median : next;
                    branch = supportWeight(weighting->rule, &tree.support[child], 1);
                }
                (*reference)[(static_cast<size_t>(sx) * n + sy) * n + sz] += std::llround(
                    static_cast<double>(1000) * tree.weight / outside * branch * shown);
            }
}

// Species 0 beside a random tree of the others: most pairs then meet in one
// clade of many species in a row, as the vector form's shortcut needs.
GeneTree besideSpeciesZero(int n, std::mt19937& rng) {
    std::vector<int32_t> rest;
    for (int32_t s = 1; s < n; ++s)
        rest.push_back(s);
    GeneTree tree = randomGeneTree(rest, rng);
    const auto top = static_cast<int32_t>(tree.parent.size());
    tree.parent.back() = top + 1;
    tree.parent.push_back(top + 1);
    tree.species.push_back(0);
    tree.parent.push_back(-1);
    tree.species.push_back(-1);
    return tree;
}

// The anchored table against the definition, on trees with missing species,
// nodes of many children and individuals, unweighed and weighed, by the
// vector and the portable kernels.
TEST(AnchoredTable, MatchesTheDefinitionOverEveryOutsideLeaf) {
    std::mt19937 rng(26);
    for (int round = 0; round < 10; ++round) {
        const int n = round < 8 ? 7 + round % 4 : 30;
        const TripleWeighting weighting{static_cast<SupportRule>(round % 3), 1000};
        const TripleWeighting* weighed = round >= 4 ? &weighting : nullptr;
        g_threadCount = 1 + round % 2;
        g_portableKernelsOnly = round % 4 == 1;
        std::vector<int32_t> all(static_cast<size_t>(n));
        for (int s = 0; s < n; ++s)
            all[static_cast<size_t>(s)] = s;
        const AnchorClades clades =
            cladesOfTree(round < 8 ? randomGeneTree(all, rng) : besideSpeciesZero(n, rng), n);
        std::vector<GeneTree> trees;
        std::vector<int64_t> reference(static_cast<size_t>(n) * n * n, 0);
        for (int t = 0; t < 6; ++t) {
            std::vector<int32_t> leaves;
            for (int32_t s = 0; s < n; ++s)
                if (rng() % 10 < (round < 8 ? 8 : 10)) leaves.push_back(s);
            if (t == 5)  // individuals
                for (int extra = 0; extra < 3; ++extra)
                    leaves.push_back(static_cast<int32_t>(rng() % static_cast<unsigned>(n)));
            std::shuffle(leaves.begin(), leaves.end(), rng);
            trees.push_back(randomGeneTree(leaves, rng));
            trees.back().support.resize(trees.back().parent.size());
            for (float& s : trees.back().support)
                s = static_cast<float>(rng() % 101) / 100;
            addAnchoredLiterally(trees.back(), clades, n, weighed, &reference);
        }
        fillAnchoredTable(trees, n, clades, 1000, weighed);
        expectTableIs(reference, n, round);
    }
    g_threadCount = 0;
    g_portableKernelsOnly = false;
}

}  // namespace
