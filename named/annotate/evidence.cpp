// How the gene trees resolve the triples around each branch of a species
// tree. For an inner node v with children A and B, whose parent's other
// children hold S, the triples a, b, s (a in A, b in B, s in S) bear on the
// branch above v: each gene tree adds, with its weight, the share of those
// it holds that it resolves as ab|s, as|b and bs|a.
//
// In one gene tree, with A(u), B(u) and S(u) the leaves of each group below
// a node u, the pairs of A and B that meet at u number
// A(u)B(u) - sum over u's children c of A(c)B(c), and each makes ab|s with
// every s of S outside u; so one walk over the gene tree counts all three
// resolutions.
#include <cstdint>
#include <vector>

#include "named/annotate/annotate.h"

namespace {

enum Group : uint8_t { kNone, kA, kB, kS };

struct GroupCounts {
    int64_t a;
    int64_t b;
    int64_t s;
};

// The three resolutions' counts and the triples the gene holds.
struct GeneResolutions {
    int64_t ab;  // ab|s
    int64_t as;  // as|b
    int64_t bs;  // bs|a
    int64_t held;
};

GeneResolutions resolveInGene(const StoredTree& gene, const std::vector<uint8_t>& group,
                              std::vector<GroupCounts>* counts) {
    const size_t size = gene.parent.size();
    counts->assign(size, GroupCounts{0, 0, 0});
    std::vector<GroupCounts> childProducts(size, GroupCounts{0, 0, 0});  // sums of A(c)B(c), ...
    GroupCounts all{0, 0, 0};
    for (size_t i = 0; i < size; ++i) {
        if (gene.taxon[i] < 0) continue;
        const uint8_t g = group[static_cast<size_t>(gene.taxon[i])];
        (*counts)[i] = GroupCounts{g == kA, g == kB, g == kS};
        all.a += g == kA;
        all.b += g == kB;
        all.s += g == kS;
    }
    GeneResolutions r{0, 0, 0, all.a * all.b * all.s};
    if (r.held == 0) return r;
    // Children come first, so each node is complete when its parent takes it.
    for (size_t i = 0; i < size; ++i) {
        const GroupCounts& c = (*counts)[i];
        if (gene.taxon[i] < 0) {
            const GroupCounts& p = childProducts[i];
            r.ab += (c.a * c.b - p.a) * (all.s - c.s);
            r.as += (c.a * c.s - p.b) * (all.b - c.b);
            r.bs += (c.b * c.s - p.s) * (all.a - c.a);
        }
        if (gene.parent[i] < 0) continue;
        const auto up = static_cast<size_t>(gene.parent[i]);
        (*counts)[up].a += c.a;
        (*counts)[up].b += c.b;
        (*counts)[up].s += c.s;
        childProducts[up].a += c.a * c.b;
        childProducts[up].b += c.a * c.s;
        childProducts[up].s += c.b * c.s;
    }
    return r;
}

// For one species with several individuals (group A) and the species of its
// parent's other children (group S): the triples of two individuals of A and
// one of S, as x x'|s (ab) or as x s|x' either way (as, both ways summed).
GeneResolutions resolveWithinSpecies(const StoredTree& gene, const std::vector<uint8_t>& group,
                                     std::vector<GroupCounts>* counts) {
    const size_t size = gene.parent.size();
    counts->assign(size, GroupCounts{0, 0, 0});
    std::vector<GroupCounts> childSums(size, GroupCounts{0, 0, 0});  // pairs within A, A with S
    GroupCounts all{0, 0, 0};
    for (size_t i = 0; i < size; ++i) {
        if (gene.taxon[i] < 0) continue;
        const uint8_t g = group[static_cast<size_t>(gene.taxon[i])];
        (*counts)[i] = GroupCounts{g == kA, 0, g == kS};
        all.a += g == kA;
        all.s += g == kS;
    }
    GeneResolutions r{0, 0, 0, all.a * (all.a - 1) / 2 * all.s};
    if (r.held == 0) return r;
    for (size_t i = 0; i < size; ++i) {
        const GroupCounts& c = (*counts)[i];
        if (gene.taxon[i] < 0) {
            r.ab += (c.a * (c.a - 1) / 2 - childSums[i].a) * (all.s - c.s);
            r.as += (c.a * c.s - childSums[i].s) * (all.a - c.a);
        }
        if (gene.parent[i] < 0) continue;
        const auto up = static_cast<size_t>(gene.parent[i]);
        (*counts)[up].a += c.a;
        (*counts)[up].s += c.s;
        childSums[up].a += c.a * (c.a - 1) / 2;
        childSums[up].s += c.a * c.s;
    }
    return r;
}

// Marks the taxa below node with the group.
void markBelow(const ResultTree& tree, int32_t node, Group g, std::vector<uint8_t>* group) {
    std::vector<int32_t> stack{node};
    while (!stack.empty()) {
        const ResultNode& n = tree.nodes[static_cast<size_t>(stack.back())];
        stack.pop_back();
        if (n.children.empty()) (*group)[static_cast<size_t>(n.taxon)] = g;
        stack.insert(stack.end(), n.children.begin(), n.children.end());
    }
}

}  // namespace

std::vector<BranchEvidence> branchEvidence(const ResultTree& tree,
                                           const std::vector<StoredTree>& genes, int32_t taxa) {
    std::vector<BranchEvidence> evidence(tree.nodes.size(), BranchEvidence{{0, 0, 0}, false});
    std::vector<int32_t> parent(tree.nodes.size(), -1);
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        for (const int32_t child : tree.nodes[i].children)
            parent[static_cast<size_t>(child)] = static_cast<int32_t>(i);
    std::vector<uint8_t> group(static_cast<size_t>(taxa), kNone);
    std::vector<GroupCounts> counts;
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        const ResultNode& node = tree.nodes[v];
        const bool leaf = node.children.empty();
        if ((!leaf && node.children.size() != 2) || parent[v] < 0) continue;
        std::fill(group.begin(), group.end(), kNone);
        for (const int32_t sibling : tree.nodes[static_cast<size_t>(parent[v])].children)
            markBelow(tree, sibling, kS, &group);
        if (leaf) {
            group[static_cast<size_t>(node.taxon)] = kA;
        } else {
            markBelow(tree, node.children[0], kA, &group);
            markBelow(tree, node.children[1], kB, &group);
        }
        BranchEvidence& e = evidence[v];
        for (const StoredTree& gene : genes) {
            const GeneResolutions r = leaf ? resolveWithinSpecies(gene, group, &counts)
                                           : resolveInGene(gene, group, &counts);
            if (r.held == 0) continue;
            e.bears = true;
            const double weight = static_cast<double>(gene.weight) / static_cast<double>(r.held);
            e.f[0] += weight * static_cast<double>(r.ab);
            // Within a species the two other resolutions are alike: half each.
            e.f[1] += weight * static_cast<double>(leaf ? r.as / 2.0 : r.as);
            e.f[2] += weight * static_cast<double>(leaf ? r.as / 2.0 : r.bs);
        }
    }
    return evidence;
}
