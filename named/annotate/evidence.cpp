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
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "common/common.h"
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
    std::vector<size_t> branches;
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        const ResultNode& node = tree.nodes[v];
        if ((node.children.empty() || node.children.size() == 2) && parent[v] >= 0)
            branches.push_back(v);
    }
    // One thread sums a branch over the gene trees in their order: the
    // same numbers for every thread count.
    std::atomic<size_t> next{0};
    runOnThreads(threadCountToUse(), [&] {
        std::vector<uint8_t> group(static_cast<size_t>(taxa), kNone);
        std::vector<GroupCounts> counts;
        for (size_t k = next++; k < branches.size(); k = next++) {
            const size_t v = branches[k];
            const ResultNode& node = tree.nodes[v];
            const bool leaf = node.children.empty();
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
                const double weight =
                    static_cast<double>(gene.weight) / static_cast<double>(r.held);
                e.f[0] += weight * static_cast<double>(r.ab);
                // Within a species the two other resolutions are alike: half each.
                e.f[1] += weight * static_cast<double>(leaf ? r.as / 2.0 : r.as);
                e.f[2] += weight * static_cast<double>(leaf ? r.as / 2.0 : r.bs);
            }
        }
    });
    return evidence;
}

namespace {

// Leaves of the four groups of a quartet branch below a gene tree node.
// Taxa outside the parent's clade are the fourth side.
constexpr size_t kOut = kNone, kLeft = kA, kRight = kB, kNear = kS, kSides = 4;
// Pairs of sides, by resolution: ab|sd is made of the pairs (a, b) and
// (s, d), as|bd of (a, s) and (b, d), bs|ad of (b, s) and (a, d).
constexpr size_t kPairs[3][2][2] = {{{kLeft, kRight}, {kNear, kOut}},
                                    {{kLeft, kNear}, {kRight, kOut}},
                                    {{kRight, kNear}, {kLeft, kOut}}};

// The gene tree's quartets of one leaf from each side, resolved each way,
// and how many it holds. A gene tree taken as unrooted shows xy|zw exactly
// when some node has x and y below it and neither z nor w, or z and w and
// neither x nor y: a node is that for x and y when it is where they meet
// and z and w are outside it. Both happen when the two meeting nodes are
// incomparable, counted as all pairs of them less those where one is above
// the other.
void resolveQuartets(const StoredTree& gene, const std::vector<uint8_t>& side,
                     std::vector<int64_t>* scratch, double f[3], double* held) {
    const size_t size = gene.parent.size();
    constexpr size_t kWidth = kSides + 12;  // counts, then for each pair met, childrens' sums
    scratch->assign(size * kWidth, 0);
    int64_t* c = scratch->data();
    int64_t all[kSides] = {0, 0, 0, 0};
    for (size_t i = 0; i < size; ++i)
        if (gene.taxon[i] >= 0) {
            ++c[i * kWidth + side[static_cast<size_t>(gene.taxon[i])]];
            ++all[side[static_cast<size_t>(gene.taxon[i])]];
        }
    *held = static_cast<double>(all[kOut] * all[kLeft] * all[kRight] * all[kNear]);
    f[0] = f[1] = f[2] = 0;
    if (*held == 0) return;
    // Pairs meeting at each node, then summed down from the root.
    std::vector<int64_t> met(size * 6, 0);
    for (size_t i = 0; i < size; ++i) {
        int64_t* n = c + i * kWidth;
        for (size_t r = 0; r < 3; ++r)
            for (size_t p = 0; p < 2; ++p) {
                const size_t k = 2 * r + p;
                const size_t x = kPairs[r][p][0], y = kPairs[r][p][1];
                met[i * 6 + k] = n[x] * n[y] - n[kSides + k];
            }
        if (gene.parent[i] < 0) continue;
        int64_t* up = c + static_cast<size_t>(gene.parent[i]) * kWidth;
        for (size_t s = 0; s < kSides; ++s)
            up[s] += n[s];
        for (size_t r = 0; r < 3; ++r)
            for (size_t p = 0; p < 2; ++p)
                up[kSides + 2 * r + p] += n[kPairs[r][p][0]] * n[kPairs[r][p][1]];
    }
    std::vector<int64_t> above(size * 6, 0);  // met at the node or any node above it
    for (size_t i = size; i-- > 0;)
        for (size_t k = 0; k < 6; ++k)
            above[i * 6 + k] =
                met[i * 6 + k] +
                (gene.parent[i] < 0 ? 0 : above[static_cast<size_t>(gene.parent[i]) * 6 + k]);
    for (size_t r = 0; r < 3; ++r) {
        int64_t either = 0, total[2] = {0, 0}, nested = 0;
        for (size_t i = 0; i < size; ++i) {
            const int64_t* n = c + i * kWidth;
            for (size_t p = 0; p < 2; ++p) {
                const size_t k = 2 * r + p;
                const size_t* other = kPairs[r][1 - p];
                either +=
                    met[i * 6 + k] * (all[other[0]] - n[other[0]]) * (all[other[1]] - n[other[1]]);
                total[p] += met[i * 6 + k];
            }
            nested += met[i * 6 + 2 * r] * above[i * 6 + 2 * r + 1] +
                      met[i * 6 + 2 * r + 1] * (above[i * 6 + 2 * r] - met[i * 6 + 2 * r]);
        }
        f[r] = static_cast<double>(either - (total[0] * total[1] - nested));
    }
}

}  // namespace

std::vector<BranchEvidence> anchoredBranchEvidence(const ResultTree& tree,
                                                   const std::vector<StoredTree>& genes,
                                                   int32_t taxa) {
    std::vector<BranchEvidence> evidence = branchEvidence(tree, genes, taxa);
    std::vector<int32_t> parent(tree.nodes.size(), -1);
    for (size_t i = 0; i < tree.nodes.size(); ++i)
        for (const int32_t child : tree.nodes[i].children)
            parent[static_cast<size_t>(child)] = static_cast<int32_t>(i);
    std::vector<uint8_t> side(static_cast<size_t>(taxa));
    std::vector<int64_t> scratch;
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        const ResultNode& node = tree.nodes[v];
        if (node.children.size() != 2 || parent[v] < 0) continue;
        std::fill(side.begin(), side.end(), kNone);
        // Below a top node of three or more children, as in an unrooted
        // tree, one other child is the near side and the rest the fourth.
        const auto& siblings = tree.nodes[static_cast<size_t>(parent[v])].children;
        const bool top = parent[static_cast<size_t>(parent[v])] < 0 && siblings.size() > 2;
        bool nearTaken = false;
        for (const int32_t sibling : siblings) {
            if (top && (nearTaken || sibling == static_cast<int32_t>(v))) continue;
            markBelow(tree, sibling, kS, &side);
            nearTaken = sibling != static_cast<int32_t>(v);
        }
        markBelow(tree, node.children[0], kA, &side);
        markBelow(tree, node.children[1], kB, &side);
        BranchEvidence e{{0, 0, 0}, false};
        for (const StoredTree& gene : genes) {
            double f[3];
            double held = 0;
            resolveQuartets(gene, side, &scratch, f, &held);
            if (held == 0) continue;
            e.bears = true;
            const double weight = static_cast<double>(gene.weight) / held;
            for (int k = 0; k < 3; ++k)
                e.f[k] += weight * f[k];
        }
        evidence[v] = e;
    }
    return evidence;
}
