// The table-free search: a start by average linkage on how often two species
// form the pair of the gene trees' triples, climbed by swapping neighbouring
// subtrees, each swap weighed by the triples of its three parts alone.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "common/common.h"
#include "common/progress.h"
#include "named/tablefree/table_free.h"

namespace {

// Over the species of the side, numbered locally: pairing[a * m + b] is the
// weight of the gene trees' triples ab|c (c of the side too), and meeting
// the weight of all triples of the side holding a and b. Each row is summed
// by one thread in the order of the trees, so it never depends on the
// thread count.
struct PairEvidence {
    int32_t m;
    std::vector<double> pairing;
    std::vector<double> meeting;
};

// The side's leaves of every tree in preorder, as local numbers, and per
// node the run of them below it: leaves lo[v]..hi[v]-1 of its tree's list.
struct SideLeaves {
    std::vector<int32_t> leaves;
    std::vector<int64_t> start;  // per tree, into leaves; then the end
    std::vector<int32_t> lo;
    std::vector<int32_t> hi;
};

SideLeaves sideLeaves(const CountingTrees& trees, const std::vector<int32_t>& local) {
    SideLeaves side;
    side.lo.assign(trees.parent.size(), 0);
    side.hi.assign(trees.parent.size(), 0);
    side.start.push_back(0);
    for (size_t t = 0; t + 1 < trees.nodeStart.size(); ++t) {
        const auto start = static_cast<size_t>(trees.nodeStart[t]);
        const auto count = static_cast<int32_t>(trees.nodeStart[t + 1] - trees.nodeStart[t]);
        const size_t first = side.leaves.size();
        for (int32_t i = 0; i < count; ++i) {
            const size_t v = start + static_cast<size_t>(i);
            const auto at = static_cast<int32_t>(side.leaves.size() - first);
            side.lo[v] = at;
            side.hi[v] = at;
            const int32_t s = trees.leafSpecies[v];
            if (s >= 0 && local[static_cast<size_t>(s)] >= 0) {
                side.leaves.push_back(local[static_cast<size_t>(s)]);
                side.hi[v] = at + 1;
            }
        }
        // Children come after their parent: the ends gather upwards.
        for (int32_t i = count; i-- > 1;) {
            const size_t v = start + static_cast<size_t>(i);
            const size_t up = start + static_cast<size_t>(trees.parent[v]);
            side.hi[up] = std::max(side.hi[up], side.hi[v]);
        }
        side.start.push_back(static_cast<int64_t>(side.leaves.size()));
    }
    return side;
}

// Row a: from a's leaf up each tree, every leaf b of the side that first
// meets a at node u pairs with the side's leaves outside u.
void fillRow(const CountingTrees& trees, const SideLeaves& side, int32_t species, int32_t a,
             PairEvidence* evidence) {
    const auto m = static_cast<size_t>(evidence->m);
    double* pairing = evidence->pairing.data() + static_cast<size_t>(a) * m;
    double* meeting = evidence->meeting.data() + static_cast<size_t>(a) * m;
    const auto n = static_cast<size_t>(trees.species);
    for (size_t t = 0; t + 1 < trees.nodeStart.size(); ++t) {
        const int32_t leaf = trees.leafAt[t * n + static_cast<size_t>(species)];
        if (leaf < 0) continue;
        const auto start = static_cast<size_t>(trees.nodeStart[t]);
        const int32_t* leaves = side.leaves.data() + side.start[t];
        const auto total = static_cast<int32_t>(side.start[t + 1] - side.start[t]);
        const auto weight = static_cast<double>(trees.weight[t]);
        const double all = weight * (total - 2);
        for (size_t c = start + static_cast<size_t>(leaf); trees.parent[c] >= 0;) {
            const size_t u = start + static_cast<size_t>(trees.parent[c]);
            const double outside = weight * (total - (side.hi[u] - side.lo[u]));
            for (int32_t j = side.lo[u]; j < side.lo[c]; ++j) {
                pairing[leaves[j]] += outside;
                meeting[leaves[j]] += all;
            }
            for (int32_t j = side.hi[c]; j < side.hi[u]; ++j) {
                pairing[leaves[j]] += outside;
                meeting[leaves[j]] += all;
            }
            c = u;
        }
    }
}

PairEvidence pairEvidence(const CountingTrees& trees, const std::vector<int32_t>& side,
                          const std::vector<int32_t>& local) {
    PairEvidence evidence;
    evidence.m = static_cast<int32_t>(side.size());
    const size_t cells = side.size() * side.size();
    evidence.pairing.assign(cells, 0);
    evidence.meeting.assign(cells, 0);
    const SideLeaves leaves = sideLeaves(trees, local);
    std::atomic<size_t> next{0};
    runOnThreads(threadCountToUse(), [&] {
        for (size_t a = next++; a < side.size(); a = next++)
            fillRow(trees, leaves, side[a], static_cast<int32_t>(a), &evidence);
    });
    return evidence;
}

// A binary tree over local species 0..m-1 (leaves) and inner nodes m...
struct FreeTree {
    int32_t m;
    int32_t root;
    std::vector<int32_t> parent;
    std::vector<std::array<int32_t, 2>> child;
};

double likeness(const PairEvidence& e, size_t a, size_t b) {
    const double meeting = e.meeting[a * static_cast<size_t>(e.m) + b];
    return meeting > 0 ? e.pairing[a * static_cast<size_t>(e.m) + b] / meeting : -1;
}

// Average linkage by chains of nearest neighbours: the likeness of two
// clusters is their pairing over their meeting, summed over their species,
// which never exceeds the larger likeness of the merged parts, so mutual
// nearest neighbours can be joined as soon as they are found. Ties go to
// the chain's previous cluster, then to the lowest number.
FreeTree averageLinkage(PairEvidence* e) {
    const int32_t m = e->m;
    const auto mm = static_cast<size_t>(m);
    FreeTree tree{m, m == 1 ? 0 : 2 * m - 2, std::vector<int32_t>(2 * mm - 1, -1),
                  std::vector<std::array<int32_t, 2>>(2 * mm - 1, {-1, -1})};
    std::vector<int32_t> node(mm);  // the tree node a cluster stands for
    std::vector<char> active(mm, 1);
    for (int32_t a = 0; a < m; ++a)
        node[static_cast<size_t>(a)] = a;
    std::vector<int32_t> chain;
    int32_t nextInner = m;
    int32_t first = 0;
    for (int32_t left = m; left > 1;) {
        if (chain.empty()) {
            while (!active[static_cast<size_t>(first)])
                ++first;
            chain.push_back(first);
        }
        const auto a = static_cast<size_t>(chain.back());
        const int32_t before = chain.size() >= 2 ? chain[chain.size() - 2] : -1;
        int32_t best = before;
        double bestLikeness = before >= 0 ? likeness(*e, a, static_cast<size_t>(before)) : -2;
        for (size_t b = 0; b < mm; ++b) {
            if (!active[b] || b == a) continue;
            const double l = likeness(*e, a, b);
            if (l > bestLikeness) {
                bestLikeness = l;
                best = static_cast<int32_t>(b);
            }
        }
        if (best != before) {
            chain.push_back(best);
            continue;
        }
        chain.pop_back();
        chain.pop_back();
        const auto b = static_cast<size_t>(best);
        const auto inner = static_cast<size_t>(nextInner++);
        tree.child[inner] = {node[a], node[b]};
        tree.parent[static_cast<size_t>(node[a])] = static_cast<int32_t>(inner);
        tree.parent[static_cast<size_t>(node[b])] = static_cast<int32_t>(inner);
        const size_t keep = std::min(a, b);
        const size_t gone = std::max(a, b);
        node[keep] = static_cast<int32_t>(inner);
        active[gone] = 0;
        for (size_t x = 0; x < mm; ++x) {
            e->pairing[keep * mm + x] += e->pairing[gone * mm + x];
            e->meeting[keep * mm + x] += e->meeting[gone * mm + x];
        }
        for (size_t x = 0; x < mm; ++x) {
            e->pairing[x * mm + keep] = e->pairing[keep * mm + x];
            e->meeting[x * mm + keep] = e->meeting[keep * mm + x];
        }
        --left;
    }
    return tree;
}

int32_t siblingOf(const FreeTree& tree, int32_t v) {
    const std::array<int32_t, 2>& kids =
        tree.child[static_cast<size_t>(tree.parent[static_cast<size_t>(v)])];
    return kids[0] == v ? kids[1] : kids[0];
}

void appendSpecies(const FreeTree& tree, int32_t v, const std::vector<int32_t>& side,
                   std::vector<int32_t>* out, std::vector<int32_t>* stack) {
    out->clear();
    stack->assign(1, v);
    while (!stack->empty()) {
        const int32_t x = stack->back();
        stack->pop_back();
        if (x < tree.m) {
            out->push_back(side[static_cast<size_t>(x)]);
            continue;
        }
        stack->push_back(tree.child[static_cast<size_t>(x)][0]);
        stack->push_back(tree.child[static_cast<size_t>(x)][1]);
    }
}

// The best swap at inner node u below the root: its child 0 or 1 traded
// with its sibling, or none (-1), and what it gains; and the weight the
// tree satisfies at u's parent as it stood when weighed.
struct Swap {
    int64_t gain;
    int32_t child;
    int64_t above;
};

Swap bestSwap(const CountingTrees& trees, const FreeTree& tree, const std::vector<int32_t>& side,
              int32_t u, CountWork* work, std::array<std::vector<int32_t>, 3>* parts,
              std::vector<int32_t>* stack) {
    const std::array<int32_t, 2>& kids = tree.child[static_cast<size_t>(u)];
    appendSpecies(tree, kids[0], side, &(*parts)[0], stack);
    appendSpecies(tree, kids[1], side, &(*parts)[1], stack);
    appendSpecies(tree, siblingOf(tree, u), side, &(*parts)[2], stack);
    const ColourWeights w = colourWeights(trees, *parts, work);
    // Only triples with one species in each part change: now AB|S; trading
    // B for S gives AS|B, trading A for S gives BS|A.
    const int64_t now = w.mixed[2];
    // At the parent: a pair inside u (in A, in B, or across) against S, and
    // a pair inside S against A or B.
    const int64_t above = w.pair[0][2] + w.pair[1][2] + now + w.pair[2][0] + w.pair[2][1];
    if (w.mixed[1] > now && w.mixed[1] >= w.mixed[0]) return {w.mixed[1] - now, 1, above};
    if (w.mixed[0] > now) return {w.mixed[0] - now, 0, above};
    return {0, -1, above};
}

void applySwap(FreeTree* tree, int32_t u, int32_t which) {
    const int32_t p = tree->parent[static_cast<size_t>(u)];
    const int32_t s = siblingOf(*tree, u);
    const int32_t moved = tree->child[static_cast<size_t>(u)][static_cast<size_t>(which)];
    tree->child[static_cast<size_t>(u)][static_cast<size_t>(which)] = s;
    tree->parent[static_cast<size_t>(s)] = u;
    std::array<int32_t, 2>& up = tree->child[static_cast<size_t>(p)];
    (up[0] == s ? up[0] : up[1]) = moved;
    tree->parent[static_cast<size_t>(moved)] = p;
}

// Rounds of swaps: the stale swaps are weighed again on every thread, then
// taken by decreasing gain (ties: the lower node) while none of the nodes
// they read has been changed in the round. A swap at u reads its children
// and its sibling, so it changes u, its parent, its children and the
// sibling for the others. Returns the weight the final tree satisfies: once
// no swap is left, every node's last weighing is of that tree, and gives
// its parent's weight.
int64_t climbBySwaps(const CountingTrees& trees, const std::vector<int32_t>& side, FreeTree* tree) {
    const int32_t m = tree->m;
    const auto nodes = static_cast<size_t>(2 * m - 1);
    std::vector<Swap> swaps(nodes, {0, -1, 0});
    std::vector<char> stale(nodes, 1);
    std::vector<char> touched(nodes, 0);
    for (int round = 1;; ++round) {
        std::vector<int32_t> weigh;
        for (int32_t u = m; u < 2 * m - 1; ++u)
            if (u != tree->root && stale[static_cast<size_t>(u)]) weigh.push_back(u);
        std::atomic<size_t> next{0};
        std::atomic<int64_t> done{0};
        runOnThreads(threadCountToUse(), [&] {
            CountWork work;
            std::array<std::vector<int32_t>, 3> parts;
            std::vector<int32_t> stack;
            for (size_t k = next++; k < weigh.size(); k = next++) {
                const auto u = static_cast<size_t>(weigh[k]);
                swaps[u] = bestSwap(trees, *tree, side, weigh[k], &work, &parts, &stack);
                reportProgress(ProgressStage::kClimbs, ++done, static_cast<int64_t>(weigh.size()));
            }
        });
        std::fill(stale.begin(), stale.end(), 0);
        std::vector<int32_t> order;
        for (int32_t u = m; u < 2 * m - 1; ++u)
            if (u != tree->root && swaps[static_cast<size_t>(u)].child >= 0) order.push_back(u);
        if (order.empty()) {
            int64_t weight = 0;
            for (int32_t p = m; p < 2 * m - 1; ++p) {
                const std::array<int32_t, 2>& kids = tree->child[static_cast<size_t>(p)];
                const int32_t inner = kids[0] >= m ? kids[0] : kids[1];
                if (inner >= m) weight += swaps[static_cast<size_t>(inner)].above;
            }
            return weight;
        }
        std::stable_sort(order.begin(), order.end(), [&swaps](int32_t a, int32_t b) {
            return swaps[static_cast<size_t>(a)].gain > swaps[static_cast<size_t>(b)].gain;
        });
        std::fill(touched.begin(), touched.end(), 0);
        for (const int32_t u : order) {
            const std::array<int32_t, 2> kids = tree->child[static_cast<size_t>(u)];
            const int32_t reads[] = {u, tree->parent[static_cast<size_t>(u)], kids[0], kids[1],
                                     siblingOf(*tree, u)};
            bool free = true;
            for (const int32_t x : reads)
                free = free && !touched[static_cast<size_t>(x)];
            if (!free) continue;
            applySwap(tree, u, swaps[static_cast<size_t>(u)].child);
            for (const int32_t x : reads) {
                touched[static_cast<size_t>(x)] = 1;
                stale[static_cast<size_t>(x)] = 1;
            }
            // The grandparent's sibling reads the parent, which keeps its
            // species: only these five read something that changed.
        }
        (void)round;
    }
}

ResultTree resultOf(const FreeTree& tree, const std::vector<int32_t>& side) {
    ResultTree out{{}, -1};
    std::vector<int32_t> index(static_cast<size_t>(2 * tree.m - 1), -1);
    std::vector<int32_t> smallest(index.size(), 0);
    std::vector<std::pair<int32_t, bool>> stack{{tree.root, false}};
    while (!stack.empty()) {
        const auto [v, expanded] = stack.back();
        stack.pop_back();
        if (v >= tree.m && !expanded) {
            stack.push_back({v, true});
            stack.push_back({tree.child[static_cast<size_t>(v)][1], false});
            stack.push_back({tree.child[static_cast<size_t>(v)][0], false});
            continue;
        }
        ResultNode node{-1, {}, "", "", ""};
        if (v < tree.m) {
            node.taxon = side[static_cast<size_t>(v)];
            smallest[static_cast<size_t>(v)] = node.taxon;
        } else {
            // The child holding the lower taxon first, as the table's
            // search writes its trees.
            auto [left, right] = tree.child[static_cast<size_t>(v)];
            if (smallest[static_cast<size_t>(right)] < smallest[static_cast<size_t>(left)])
                std::swap(left, right);
            node.children = {index[static_cast<size_t>(left)], index[static_cast<size_t>(right)]};
            smallest[static_cast<size_t>(v)] = smallest[static_cast<size_t>(left)];
        }
        out.nodes.push_back(node);
        index[static_cast<size_t>(v)] = static_cast<int32_t>(out.nodes.size() - 1);
    }
    out.root = index[static_cast<size_t>(tree.root)];
    return out;
}

}  // namespace

ResultTree searchWithoutTable(const CountingTrees& trees, const std::vector<int32_t>& side,
                              int64_t* weight) {
    std::vector<int32_t> local(static_cast<size_t>(trees.species), -1);
    for (size_t a = 0; a < side.size(); ++a)
        local[static_cast<size_t>(side[a])] = static_cast<int32_t>(a);
    PairEvidence evidence = pairEvidence(trees, side, local);
    FreeTree tree = averageLinkage(&evidence);
    evidence = PairEvidence{};
    *weight = tree.m >= 3 ? climbBySwaps(trees, side, &tree) : 0;
    return resultOf(tree, side);
}
