// The counts behind a branch's posterior and length against counting every
// triple of every gene tree by hand.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/common.h"
#include "named/annotate/annotate.h"
#include "named/named_support.h"

namespace {

using Cluster = std::set<int32_t>;

// A random rooted tree on the taxa, children first, with inner nodes of two
// or three children.
StoredTree randomGene(std::vector<int32_t> taxa, std::mt19937& rng) {
    StoredTree gene{1 + static_cast<int64_t>(rng() % 3), {}, {}, {}};
    std::vector<int32_t> roots;
    for (const int32_t t : taxa) {
        roots.push_back(static_cast<int32_t>(gene.taxon.size()));
        gene.taxon.push_back(t);
        gene.parent.push_back(-1);
    }
    while (roots.size() > 1) {
        std::shuffle(roots.begin(), roots.end(), rng);
        const size_t take = roots.size() > 2 && rng() % 4 == 0 ? 3 : 2;
        const auto inner = static_cast<int32_t>(gene.taxon.size());
        gene.taxon.push_back(-1);
        gene.parent.push_back(-1);
        for (size_t k = 0; k < take; ++k) {
            gene.parent[static_cast<size_t>(roots.back())] = inner;
            roots.pop_back();
        }
        roots.push_back(inner);
    }
    return gene;
}

std::vector<Cluster> clustersOf(const StoredTree& gene) {
    std::vector<Cluster> below(gene.taxon.size());
    for (size_t i = 0; i < gene.taxon.size(); ++i) {
        if (gene.taxon[i] >= 0) below[i].insert(gene.taxon[i]);
        if (gene.parent[i] >= 0)
            below[static_cast<size_t>(gene.parent[i])].insert(below[i].begin(), below[i].end());
    }
    return below;
}

bool displays(const std::vector<Cluster>& clusters, int32_t x, int32_t y, int32_t z) {
    for (const Cluster& c : clusters)
        if (c.count(x) && c.count(y) && !c.count(z)) return true;
    return false;
}

// The gene tree taken as unrooted shows xy|zw.
bool showsQuartet(const std::vector<Cluster>& clusters, int32_t x, int32_t y, int32_t z,
                  int32_t w) {
    for (const Cluster& c : clusters)
        if (c.count(x) + c.count(y) + c.count(z) + c.count(w) == 2 && c.count(x) == c.count(y))
            return true;
    return false;
}

Cluster taxaBelow(const ResultTree& tree, int32_t node) {
    const ResultNode& n = tree.nodes[static_cast<size_t>(node)];
    if (n.children.empty()) return {n.taxon};
    Cluster all;
    for (const int32_t child : n.children) {
        const Cluster part = taxaBelow(tree, child);
        all.insert(part.begin(), part.end());
    }
    return all;
}

TEST(BranchEvidence, MatchesCountingEveryTripleOfEveryGene) {
    std::mt19937 rng(61);
    for (int trial = 0; trial < 30; ++trial) {
        const auto taxa = static_cast<int32_t>(5 + trial % 6);
        std::vector<int32_t> all(static_cast<size_t>(taxa));
        std::iota(all.begin(), all.end(), 0);
        // The species tree: a binary gene tree turned into a result tree.
        StoredTree shape = randomGene(all, rng);
        ResultTree species{{}, -1};
        for (size_t i = 0; i < shape.taxon.size(); ++i)
            species.nodes.push_back({shape.taxon[i], {}, "", "", ""});
        for (size_t i = 0; i < shape.taxon.size(); ++i)
            if (shape.parent[i] >= 0)
                species.nodes[static_cast<size_t>(shape.parent[i])].children.push_back(
                    static_cast<int32_t>(i));
            else
                species.root = static_cast<int32_t>(i);
        std::vector<StoredTree> genes;
        for (int g = 0; g < 6; ++g) {
            std::vector<int32_t> some = all;
            std::shuffle(some.begin(), some.end(), rng);
            some.resize(3 + rng() % (all.size() - 2));  // missing taxa
            genes.push_back(randomGene(some, rng));
        }
        // Three threads, checked below against the counts and against one.
        g_threadCount = 3;
        const std::vector<BranchEvidence> evidence = branchEvidence(species, genes, taxa);
        g_threadCount = 1;
        const std::vector<BranchEvidence> alone = branchEvidence(species, genes, taxa);
        g_threadCount = 0;
        for (size_t v = 0; v < evidence.size(); ++v)
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(evidence[v].f[i], alone[v].f[i]) << trial << " node " << v;
        const std::vector<BranchEvidence> anchored = anchoredBranchEvidence(species, genes, taxa);
        for (size_t v = 0; v < species.nodes.size(); ++v) {
            const ResultNode& node = species.nodes[v];
            int32_t parent = -1;
            for (size_t p = 0; p < species.nodes.size(); ++p)
                for (const int32_t c : species.nodes[p].children)
                    if (c == static_cast<int32_t>(v)) parent = static_cast<int32_t>(p);
            if (node.children.size() != 2 || parent < 0) {
                EXPECT_FALSE(evidence[v].bears);
                continue;
            }
            const Cluster a = taxaBelow(species, node.children[0]);
            const Cluster b = taxaBelow(species, node.children[1]);
            Cluster s = taxaBelow(species, parent);
            for (const Cluster* inside : {&a, &b})
                for (const int32_t t : *inside)
                    s.erase(t);
            double f[3] = {0, 0, 0};
            bool bears = false;
            for (const StoredTree& gene : genes) {
                const std::vector<Cluster> clusters = clustersOf(gene);
                const Cluster& present = clusters.back();
                double held = 0, counts[3] = {0, 0, 0};
                for (const int32_t x : a)
                    for (const int32_t y : b)
                        for (const int32_t z : s) {
                            if (!present.count(x) || !present.count(y) || !present.count(z))
                                continue;
                            ++held;
                            counts[0] += displays(clusters, x, y, z);
                            counts[1] += displays(clusters, x, z, y);
                            counts[2] += displays(clusters, y, z, x);
                        }
                if (held == 0) continue;
                bears = true;
                for (int i = 0; i < 3; ++i)
                    f[i] += static_cast<double>(gene.weight) * counts[i] / held;
            }
            EXPECT_EQ(evidence[v].bears, bears);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(evidence[v].f[i], f[i], 1e-9) << trial << " node " << v;
            // Quartets with a fourth taxon from outside the parent's clade;
            // below a top node of three or more children, the first other
            // child is the near side and the rest are outside.
            const auto& siblings = species.nodes[static_cast<size_t>(parent)].children;
            if (parent == species.root && siblings.size() > 2)
                s = taxaBelow(species, siblings[siblings[0] == static_cast<int32_t>(v) ? 1 : 0]);
            double q[3] = {0, 0, 0};
            for (const StoredTree& gene : genes) {
                const std::vector<Cluster> clusters = clustersOf(gene);
                double held = 0, counts[3] = {0, 0, 0};
                for (const int32_t x : a)
                    for (const int32_t y : b)
                        for (const int32_t z : s)
                            for (const int32_t w : clusters.back()) {
                                if (!clusters.back().count(x) || !clusters.back().count(y) ||
                                    !clusters.back().count(z) || a.count(w) || b.count(w) ||
                                    s.count(w))
                                    continue;
                                ++held;
                                counts[0] += showsQuartet(clusters, x, y, z, w);
                                counts[1] += showsQuartet(clusters, x, z, y, w);
                                counts[2] += showsQuartet(clusters, y, z, x, w);
                            }
                for (int i = 0; i < 3 && held > 0; ++i)
                    q[i] += static_cast<double>(gene.weight) * counts[i] / held;
            }
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(anchored[v].f[i], q[i], 1e-9) << trial << " node " << v;
        }
    }
}

}  // namespace
