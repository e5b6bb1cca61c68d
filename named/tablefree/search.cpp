// The table-free search: starts by average linkage on how often two species
// form the pair of the gene trees' triples, each climbed by swapping
// neighbouring subtrees, each swap weighed by the triples of its three parts
// alone; then the best tree over the climbed trees' clusters, climbed again,
// and last by moves of subtrees to nearby edges, weighed the same way.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/common.h"
#include "common/progress.h"
#include "named/tablefree/table_free.h"

namespace {

// Climbs from the start on the trees as given and from starts on
// resampled trees, and how often the programme over their clusters and a
// climb may follow. More starts rarely gained more than they cost.
constexpr int kStarts = 3;
constexpr int kProgrammeRounds = 3;

// Tree weights for a further start: each tree's weight taken 0, 1 or 2
// times (a quarter, a half and a quarter of the trees), drawn from the
// tree's number and the start's, so every run draws the same.
void resampled(const std::vector<int64_t>& weight, int start, std::vector<int64_t>* out) {
    for (size_t t = 0; t < weight.size(); ++t) {
        uint64_t z =
            (static_cast<uint64_t>(t) << 8 | static_cast<uint64_t>(start)) * 0x9e3779b97f4a7c15ULL;
        z = (z ^ (z >> 29)) * 0xbf58476d1ce4e5b9ULL;
        z ^= z >> 32;
        const int64_t draws = (z & 1) + ((z >> 1) & 1);
        (*out)[t] = weight[t] * draws;
    }
}

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

// Row a: from each of a's leaves up each tree, every leaf b of the side
// that first meets it at node u pairs with the side's leaves outside u. With
// individuals, only thirds of a third species count, and a row sees a's own
// leaves but not b's: it takes away twice a's leaves outside u (and counts
// thirds against all but twice a's leaves), and pairEvidence averages the
// two rows of a pair, which takes each species' share away once.
void fillRow(const CountingTrees& trees, const SideLeaves& side,
             const std::vector<int64_t>& weights, int32_t species, int32_t a,
             PairEvidence* evidence, std::vector<int32_t>* own) {
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
        const auto weight = static_cast<double>(weights[t]);
        if (weight == 0) continue;
        own->assign(1, leaf);
        if (trees.repeatStart[t + 1] > trees.repeatStart[t]) {
            const auto count = static_cast<int32_t>(trees.nodeStart[t + 1] - trees.nodeStart[t]);
            for (int32_t i = leaf + 1; i < count; ++i)
                if (trees.leafSpecies[start + static_cast<size_t>(i)] == species) own->push_back(i);
        }
        const auto copies = static_cast<int32_t>(own->size());
        const double all = weight * (total - 2 * copies);
        for (const int32_t from : *own)
            for (size_t c = start + static_cast<size_t>(from); trees.parent[c] >= 0;) {
                const size_t u = start + static_cast<size_t>(trees.parent[c]);
                int32_t below = 1;
                for (const int32_t other : *own)
                    if (other != from) {
                        const int32_t at = side.lo[start + static_cast<size_t>(other)];
                        below += at >= side.lo[u] && at < side.hi[u];
                    }
                const double outside =
                    weight * (total - (side.hi[u] - side.lo[u]) - 2 * (copies - below));
                for (int32_t j = side.lo[u]; j < side.lo[c]; ++j) {
                    if (leaves[j] == a) continue;
                    pairing[leaves[j]] += outside;
                    meeting[leaves[j]] += all;
                }
                for (int32_t j = side.hi[c]; j < side.hi[u]; ++j) {
                    if (leaves[j] == a) continue;
                    pairing[leaves[j]] += outside;
                    meeting[leaves[j]] += all;
                }
                c = u;
            }
    }
}

PairEvidence pairEvidence(const CountingTrees& trees, const std::vector<int32_t>& side,
                          const SideLeaves& leaves, const std::vector<int64_t>& weights) {
    PairEvidence evidence;
    evidence.m = static_cast<int32_t>(side.size());
    const size_t cells = side.size() * side.size();
    evidence.pairing.assign(cells, 0);
    evidence.meeting.assign(cells, 0);
    std::atomic<size_t> next{0};
    runOnThreads(threadCountToUse(), [&] {
        std::vector<int32_t> own;
        for (size_t a = next++; a < side.size(); a = next++)
            fillRow(trees, leaves, weights, side[a], static_cast<int32_t>(a), &evidence, &own);
    });
    // Without individuals both rows hold the same sums already. Evidence
    // that differs by direction would let the chains of nearest neighbours
    // run in a circle.
    if (trees.repeatNode.empty()) return evidence;
    const size_t m = side.size();
    for (size_t a = 0; a < m; ++a)
        for (size_t b = a + 1; b < m; ++b) {
            for (std::vector<double>* cell : {&evidence.pairing, &evidence.meeting}) {
                double& ab = (*cell)[a * m + b];
                double& ba = (*cell)[b * m + a];
                ab = (ab + ba) / 2;
                ba = ab;
            }
        }
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

// The species below v, those below leaveOut left out.
void appendSpecies(const FreeTree& tree, int32_t v, const std::vector<int32_t>& side,
                   std::vector<int32_t>* out, std::vector<int32_t>* stack, int32_t leaveOut = -1) {
    out->clear();
    stack->assign(1, v);
    while (!stack->empty()) {
        const int32_t x = stack->back();
        stack->pop_back();
        if (x == leaveOut) continue;
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

// Subtree moves: S (not the root) taken out with its parent p leaves T',
// where p's other child v takes p's place. Moving S from the edge above a
// node q of T' to the edge above its child c changes only the triples with
// one species in S, one in c's clade and one in the clade of c's sibling:
// xy|s becomes sx|y. So one count over the three parts weighs S above q
// and above either child, and a move's gain is the sum along its path.
// Moves reach edges at most this many steps from S's place: each step
// further weighs about twice as many places, and on the inputs tried the
// third step gained little over the second.
constexpr int kMoveRadius = 2;
// Rounds of moves: each weighs again only the subtrees whose
// neighbourhood changed; the cap bounds the time on large inputs.
constexpr int kMoveRounds = 30;

// T' as seen without S and its parent p.
int32_t parentWithout(const FreeTree& tree, int32_t p, int32_t x) {
    const int32_t up = tree.parent[static_cast<size_t>(x)];
    return up == p ? tree.parent[static_cast<size_t>(p)] : up;
}

int32_t childWithout(const FreeTree& tree, int32_t p, int32_t v, int32_t q, int which) {
    const int32_t c = tree.child[static_cast<size_t>(q)][static_cast<size_t>(which)];
    return c == p ? v : c;
}

// One thread's storage for weighing moves.
struct MoveWork {
    CountWork count;
    std::array<std::vector<int32_t>, 3> parts;
    std::vector<int32_t> stack;
};

// The weights of the triples that change as S stands above inner node q
// of T' (at [0]) or above its child 0 or 1 ([1], [2]).
std::array<int64_t, 3> placesAt(const CountingTrees& trees, const FreeTree& tree,
                                const std::vector<int32_t>& side, int32_t s, int32_t q,
                                MoveWork* work) {
    const int32_t p = tree.parent[static_cast<size_t>(s)];
    const int32_t v = siblingOf(tree, s);
    appendSpecies(tree, s, side, &work->parts[0], &work->stack);
    for (int k = 0; k < 2; ++k)
        appendSpecies(tree, childWithout(tree, p, v, q, k), side,
                      &work->parts[static_cast<size_t>(k) + 1], &work->stack, s);
    const ColourWeights w = colourWeights(trees, work->parts, &work->count);
    return {w.mixed[0], w.mixed[2], w.mixed[1]};
}

// The nodes of T' whose edges a move of s may reach within the radius, in
// the order they are weighed: an inner node reached from the edge above it
// (from -1), whose children's edges it weighs, or reached going up from
// its child `from`, weighing its own edge and its other child's. Every edge
// is reached once, after the edge it is reached from.
struct Reach {
    int32_t node;
    int32_t from;
};

void reachOf(const FreeTree& tree, int32_t s, std::vector<Reach>* out,
             std::vector<std::pair<int32_t, int32_t>>* stack) {
    const int32_t p = tree.parent[static_cast<size_t>(s)];
    const int32_t v = siblingOf(tree, s);
    out->clear();
    const auto descend = [&](int32_t x, int32_t distance) {
        stack->assign(1, {x, distance});
        while (!stack->empty()) {
            const auto [y, d] = stack->back();
            stack->pop_back();
            if (y < tree.m || d == kMoveRadius) continue;
            out->push_back({y, -1});
            for (int k = 2; k-- > 0;)
                stack->push_back({childWithout(tree, p, v, y, k), d + 1});
        }
    };
    descend(v, 0);
    int32_t x = v;
    for (int32_t distance = 1; distance <= kMoveRadius; ++distance) {
        const int32_t q = parentWithout(tree, p, x);
        if (q < 0) break;
        out->push_back({q, x});
        const int32_t y = childWithout(tree, p, v, q, 0) == x ? childWithout(tree, p, v, q, 1)
                                                              : childWithout(tree, p, v, q, 0);
        descend(y, distance);
        x = q;
    }
}

// Whether a node the moves of s would read changed in the round.
bool reachChanged(const FreeTree& tree, int32_t s, const std::vector<char>& changed,
                  std::vector<Reach>* reach, std::vector<std::pair<int32_t, int32_t>>* stack) {
    const int32_t p = tree.parent[static_cast<size_t>(s)];
    if (changed[static_cast<size_t>(s)] || changed[static_cast<size_t>(p)]) return true;
    reachOf(tree, s, reach, stack);
    const int32_t v = siblingOf(tree, s);
    for (const Reach& r : *reach)
        for (int k = 0; k < 2; ++k)
            if (changed[static_cast<size_t>(r.node)] ||
                changed[static_cast<size_t>(childWithout(tree, p, v, r.node, k))])
                return true;
    return false;
}

// A move of subtree s to the edge above target, and its gain.
struct Move {
    int64_t gain;
    int32_t target;
};

struct MoveScratch {
    MoveWork work;
    std::vector<Reach> reach;
    std::vector<std::pair<int32_t, int32_t>> stack;
    std::vector<int64_t> gainAt;  // per node: the gain of s above it
};

// The best move of s within the radius; ties keep the edge reached first.
Move bestMove(const CountingTrees& trees, const FreeTree& tree, const std::vector<int32_t>& side,
              int32_t s, MoveScratch* scratch) {
    const int32_t p = tree.parent[static_cast<size_t>(s)];
    const int32_t v = siblingOf(tree, s);
    std::vector<int64_t>& gainAt = scratch->gainAt;
    gainAt.resize(tree.parent.size());
    gainAt[static_cast<size_t>(v)] = 0;
    Move best{0, -1};
    const auto offer = [&](int32_t x, int64_t gain) {
        gainAt[static_cast<size_t>(x)] = gain;
        if (gain > best.gain) best = {gain, x};
    };
    reachOf(tree, s, &scratch->reach, &scratch->stack);
    for (const Reach& r : scratch->reach) {
        const std::array<int64_t, 3> places =
            placesAt(trees, tree, side, s, r.node, &scratch->work);
        const auto q = static_cast<size_t>(r.node);
        if (r.from < 0) {
            for (int k = 0; k < 2; ++k)
                offer(childWithout(tree, p, v, r.node, k),
                      gainAt[q] + places[static_cast<size_t>(k) + 1] - places[0]);
            continue;
        }
        const int which = childWithout(tree, p, v, r.node, 0) == r.from ? 0 : 1;
        offer(r.node, gainAt[static_cast<size_t>(r.from)] + places[0] -
                          places[static_cast<size_t>(which) + 1]);
        offer(childWithout(tree, p, v, r.node, 1 - which),
              gainAt[q] + places[static_cast<size_t>(2 - which)] - places[0]);
    }
    return best;
}

// The gain of moving s to the edge above target on the tree as it stands,
// along the path between them in T'; false when target is not in T', or
// further than twice the radius. The path's nodes go to *path.
bool moveGain(const CountingTrees& trees, const FreeTree& tree, const std::vector<int32_t>& side,
              int32_t s, int32_t target, MoveScratch* scratch, std::vector<int32_t>* path,
              int64_t* gain) {
    const int32_t p = tree.parent[static_cast<size_t>(s)];
    const int32_t v = siblingOf(tree, s);
    if (target == v || target == p || target == s) return false;
    constexpr int kLongest = 2 * kMoveRadius;
    std::vector<int32_t> fromTarget{target};
    std::vector<int32_t> fromV{v};
    for (int k = 0; k < kLongest; ++k) {
        for (std::vector<int32_t>* chain : {&fromTarget, &fromV}) {
            const int32_t up = chain->back() < 0 ? -1 : parentWithout(tree, p, chain->back());
            chain->push_back(up);
        }
    }
    if (std::find(fromTarget.begin(), fromTarget.end(), s) != fromTarget.end()) return false;
    size_t i = 0, j = 0;
    for (; i < fromV.size() && fromV[i] >= 0; ++i) {
        const auto at = std::find(fromTarget.begin(), fromTarget.end(), fromV[i]);
        if (at == fromTarget.end()) continue;
        j = static_cast<size_t>(at - fromTarget.begin());
        break;
    }
    if (i == fromV.size() || fromV[i] < 0 || i + j > static_cast<size_t>(kLongest)) return false;
    const auto which = [&](int32_t q, int32_t c) {
        return childWithout(tree, p, v, q, 0) == c ? size_t{1} : size_t{2};
    };
    *gain = 0;
    for (size_t k = 0; k < i; ++k) {
        const std::array<int64_t, 3> places =
            placesAt(trees, tree, side, s, fromV[k + 1], &scratch->work);
        *gain += places[0] - places[which(fromV[k + 1], fromV[k])];
        if (k + 1 == i && j > 0) *gain += places[which(fromV[i], fromTarget[j - 1])] - places[0];
    }
    // Down from the meeting node, whose step was taken above if s went up.
    const size_t downFrom = i > 0 && j > 0 ? j - 1 : j;
    for (size_t k = downFrom; k-- > 0;) {
        const std::array<int64_t, 3> places =
            placesAt(trees, tree, side, s, fromTarget[k + 1], &scratch->work);
        *gain += places[which(fromTarget[k + 1], fromTarget[k])] - places[0];
    }
    path->assign(fromV.begin(), fromV.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    path->insert(path->end(), fromTarget.begin(),
                 fromTarget.begin() + static_cast<std::ptrdiff_t>(j));
    return true;
}

void applyMove(FreeTree* tree, int32_t s, int32_t target) {
    const int32_t p = tree->parent[static_cast<size_t>(s)];
    const int32_t v = siblingOf(*tree, s);
    const auto replace = [tree](int32_t up, int32_t old, int32_t now) {
        tree->parent[static_cast<size_t>(now)] = up;
        if (up < 0) {
            tree->root = now;
            return;
        }
        std::array<int32_t, 2>& kids = tree->child[static_cast<size_t>(up)];
        (kids[0] == old ? kids[0] : kids[1]) = now;
    };
    replace(tree->parent[static_cast<size_t>(p)], p, v);
    replace(tree->parent[static_cast<size_t>(target)], target, p);
    std::array<int32_t, 2>& kids = tree->child[static_cast<size_t>(p)];
    (kids[0] == s ? kids[1] : kids[0]) = target;
    tree->parent[static_cast<size_t>(target)] = p;
}

// Rounds of subtree moves: the best move of every subtree whose reach
// changed is weighed on every thread; the moves are then taken by
// decreasing gain (ties: the lower subtree), each weighed again on the
// tree as it stands and taken only if it still gains, so the result is the
// same for every thread count. Returns the weight after the moves.
int64_t climbByMoves(const CountingTrees& trees, const std::vector<int32_t>& side, FreeTree* tree,
                     int64_t weight) {
    const auto nodes = static_cast<size_t>(2 * tree->m - 1);
    std::vector<Move> moves(nodes, {0, -1});
    std::vector<char> stale(nodes, 1);
    std::vector<char> changed(nodes, 0);
    MoveScratch scratch;
    std::vector<int32_t> path;
    for (int round = 0; round < kMoveRounds; ++round) {
        std::vector<int32_t> weigh;
        for (int32_t s = 0; s < static_cast<int32_t>(nodes); ++s)
            if (s != tree->root && stale[static_cast<size_t>(s)]) weigh.push_back(s);
        std::atomic<size_t> next{0};
        std::atomic<int64_t> done{0};
        runOnThreads(threadCountToUse(), [&] {
            MoveScratch own;
            for (size_t k = next++; k < weigh.size(); k = next++) {
                moves[static_cast<size_t>(weigh[k])] = bestMove(trees, *tree, side, weigh[k], &own);
                reportProgress(ProgressStage::kClimbs, ++done, static_cast<int64_t>(weigh.size()));
            }
        });
        std::vector<int32_t> order;
        for (int32_t s = 0; s < static_cast<int32_t>(nodes); ++s)
            if (s != tree->root && moves[static_cast<size_t>(s)].target >= 0) order.push_back(s);
        if (order.empty()) break;
        std::stable_sort(order.begin(), order.end(), [&moves](int32_t a, int32_t b) {
            return moves[static_cast<size_t>(a)].gain > moves[static_cast<size_t>(b)].gain;
        });
        std::fill(stale.begin(), stale.end(), 0);
        std::fill(changed.begin(), changed.end(), 0);
        for (const int32_t s : order) {
            Move& move = moves[static_cast<size_t>(s)];
            int64_t gain = 0;
            if (s == tree->root ||
                !moveGain(trees, *tree, side, s, move.target, &scratch, &path, &gain) ||
                gain <= 0) {
                move = {0, -1};
                stale[static_cast<size_t>(s)] = 1;
                continue;
            }
            const int32_t p = tree->parent[static_cast<size_t>(s)];
            for (const int32_t x : {s, p, tree->parent[static_cast<size_t>(p)],
                                    tree->parent[static_cast<size_t>(move.target)]})
                if (x >= 0) changed[static_cast<size_t>(x)] = 1;
            for (const int32_t x : path)
                changed[static_cast<size_t>(x)] = 1;
            applyMove(tree, s, move.target);
            weight += gain;
            move = {0, -1};
        }
        for (int32_t s = 0; s < static_cast<int32_t>(nodes); ++s)
            if (s != tree->root && !stale[static_cast<size_t>(s)])
                stale[static_cast<size_t>(s)] =
                    reachChanged(*tree, s, changed, &scratch.reach, &scratch.stack);
    }
    return weight;
}

// A random key per local species; a cluster's key is the sum of its
// species' keys, so the key of C without A is key(C) - key(A). Sizes are
// compared as well, and the tree built from the clusters is checked, so
// two sets sharing a key cannot spoil the result.
uint64_t speciesKey(int32_t a) {
    uint64_t z = static_cast<uint64_t>(a) * 0x9e3779b97f4a7c15ULL + 0x632be59bd9b4e019ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A climbed tree's nodes by key, with each node's key and size.
struct KeyedTree {
    std::vector<uint64_t> key;
    std::vector<int32_t> size;
    std::unordered_map<uint64_t, int32_t> node;
};

KeyedTree keyedTree(const FreeTree& tree) {
    KeyedTree keyed{std::vector<uint64_t>(static_cast<size_t>(2 * tree.m - 1), 0),
                    std::vector<int32_t>(static_cast<size_t>(2 * tree.m - 1), 1),
                    {}};
    std::vector<int32_t> order{tree.root};
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] >= tree.m)
            for (const int32_t c : tree.child[static_cast<size_t>(order[i])])
                order.push_back(c);
    for (size_t i = order.size(); i-- > 0;) {
        const auto v = static_cast<size_t>(order[i]);
        if (order[i] < tree.m) {
            keyed.key[v] = speciesKey(order[i]);
        } else {
            const auto [l, r] = tree.child[v];
            keyed.key[v] = keyed.key[static_cast<size_t>(l)] + keyed.key[static_cast<size_t>(r)];
            keyed.size[v] = keyed.size[static_cast<size_t>(l)] + keyed.size[static_cast<size_t>(r)];
        }
        keyed.node.emplace(keyed.key[v], order[i]);
    }
    return keyed;
}

// The clusters the programme may use: those of the climbed trees,
// species 0..m-1 first (as clusters 0..m-1).
struct ClusterSet {
    std::vector<uint64_t> key;
    std::vector<int32_t> size;
    std::unordered_map<uint64_t, int32_t> index;
};

int32_t findCluster(const ClusterSet& set, uint64_t key, int32_t size) {
    const auto it = set.index.find(key);
    return it != set.index.end() && set.size[static_cast<size_t>(it->second)] == size ? it->second
                                                                                      : -1;
}

// One way to split a cluster: `one` holds the species below node `below`
// of climbed tree `tree`, `other` the rest of the cluster, node `top` there.
struct Split {
    int32_t cluster;
    int32_t one;
    int32_t other;
    int32_t tree;
    int32_t top;
    int32_t below;
    int64_t weight;
};

// Every split of a cluster into two clusters of the set where one part is
// the species below a node under the cluster in a climbed tree holding it;
// each pair once, the first tree's own children first.
void splitsOf(const std::vector<FreeTree>& climbed, const std::vector<KeyedTree>& keyed,
              const ClusterSet& set, int32_t c, std::vector<Split>* out,
              std::vector<int32_t>* stack) {
    const auto cc = static_cast<size_t>(c);
    const size_t first = out->size();
    for (size_t k = 0; k < climbed.size(); ++k) {
        const auto at = keyed[k].node.find(set.key[cc]);
        if (at == keyed[k].node.end() ||
            keyed[k].size[static_cast<size_t>(at->second)] != set.size[cc])
            continue;
        stack->assign(1, at->second);
        while (!stack->empty()) {
            const auto v = static_cast<size_t>(stack->back());
            stack->pop_back();
            if (static_cast<int32_t>(v) >= climbed[k].m)
                for (size_t i = 2; i-- > 0;)
                    stack->push_back(climbed[k].child[v][i]);
            if (static_cast<int32_t>(v) == at->second) continue;
            const uint64_t key = keyed[k].key[v];
            const int32_t size = keyed[k].size[v];
            const int32_t one = findCluster(set, key, size);
            const int32_t other = findCluster(set, set.key[cc] - key, set.size[cc] - size);
            if (one < 0 || other < 0) continue;
            bool known = false;
            for (size_t i = first; i < out->size(); ++i)
                known = known || (*out)[i].one == other || (*out)[i].one == one;
            if (!known)
                out->push_back({c, one, other, static_cast<int32_t>(k), at->second,
                                static_cast<int32_t>(v), -1});
        }
    }
}

// Weighs the splits not weighed in an earlier round on every thread; each
// weight is one thread's sum, so none depends on the thread count. Weights
// are kept by the keys of the cluster and of its part `one`.
void weighSplits(const CountingTrees& trees, const std::vector<FreeTree>& climbed,
                 const std::vector<int32_t>& side, const ClusterSet& set,
                 std::vector<Split>* splits,
                 std::unordered_map<uint64_t, std::unordered_map<uint64_t, int64_t>>* known) {
    std::vector<size_t> weigh;
    for (size_t k = 0; k < splits->size(); ++k) {
        Split& split = (*splits)[k];
        const auto it = known->find(set.key[static_cast<size_t>(split.cluster)]);
        const auto at = it == known->end()
                            ? decltype(it->second.end()){}
                            : it->second.find(set.key[static_cast<size_t>(split.one)]);
        if (it != known->end() && at != it->second.end())
            split.weight = at->second;
        else
            weigh.push_back(k);
    }
    std::atomic<size_t> next{0};
    runOnThreads(threadCountToUse(), [&] {
        CountWork work;
        std::vector<int32_t> whole, one, other, stack;
        std::vector<char> inOne(static_cast<size_t>(trees.species), 0);
        for (size_t k = next++; k < weigh.size(); k = next++) {
            Split& split = (*splits)[weigh[k]];
            const FreeTree& tree = climbed[static_cast<size_t>(split.tree)];
            appendSpecies(tree, split.top, side, &whole, &stack);
            appendSpecies(tree, split.below, side, &one, &stack);
            for (const int32_t s : one)
                inOne[static_cast<size_t>(s)] = 1;
            other.clear();
            for (const int32_t s : whole)
                if (!inOne[static_cast<size_t>(s)]) other.push_back(s);
            for (const int32_t s : one)
                inOne[static_cast<size_t>(s)] = 0;
            split.weight = splitWeight(trees, one, other, &work);
        }
    });
    for (const size_t k : weigh) {
        const Split& split = (*splits)[k];
        (*known)[set.key[static_cast<size_t>(split.cluster)]]
                [set.key[static_cast<size_t>(split.one)]] = split.weight;
    }
}

// The best tree over the set: each cluster's best split into two clusters,
// smallest clusters first (ties keep the earlier split). Returns false when
// the clusters do not make a tree of the side.
bool bestTreeOver(const ClusterSet& set, const std::vector<Split>& splits, int32_t root, int32_t m,
                  FreeTree* tree, int64_t* weight) {
    const size_t count = set.key.size();
    constexpr int64_t kNone = std::numeric_limits<int64_t>::min();
    std::vector<int64_t> best(count, kNone);
    std::vector<int32_t> choice(count, -1);
    std::vector<int32_t> first(count + 1, 0);
    for (const Split& s : splits)
        ++first[static_cast<size_t>(s.cluster) + 1];
    for (size_t c = 0; c < count; ++c)
        first[c + 1] += first[c];
    std::vector<int32_t> order(count);
    for (size_t c = 0; c < count; ++c)
        order[c] = static_cast<int32_t>(c);
    std::stable_sort(order.begin(), order.end(), [&set](int32_t a, int32_t b) {
        return set.size[static_cast<size_t>(a)] < set.size[static_cast<size_t>(b)];
    });
    for (const int32_t c : order) {
        const auto cc = static_cast<size_t>(c);
        if (set.size[cc] == 1) best[cc] = 0;
        for (int32_t i = first[cc]; i < first[cc + 1]; ++i) {
            const Split& s = splits[static_cast<size_t>(i)];
            const int64_t a = best[static_cast<size_t>(s.one)];
            const int64_t b = best[static_cast<size_t>(s.other)];
            if (a == kNone || b == kNone || s.weight + a + b <= best[cc]) continue;
            best[cc] = s.weight + a + b;
            choice[cc] = i;
        }
    }
    if (root < 0 || best[static_cast<size_t>(root)] == kNone) return false;
    const auto mm = static_cast<size_t>(m);
    FreeTree out{m, m, std::vector<int32_t>(2 * mm - 1, -1),
                 std::vector<std::array<int32_t, 2>>(2 * mm - 1, {-1, -1})};
    int32_t nextInner = m;
    std::vector<char> seen(mm, 0);
    std::vector<std::pair<int32_t, int32_t>> stack{{root, -1}};  // cluster, parent node
    while (!stack.empty()) {
        const auto [c, up] = stack.back();
        stack.pop_back();
        int32_t v = c;  // species are clusters 0..m-1
        if (set.size[static_cast<size_t>(c)] == 1) {
            if (c >= m || seen[static_cast<size_t>(c)]) return false;
            seen[static_cast<size_t>(c)] = 1;
        } else {
            if (nextInner == 2 * m - 1) return false;
            v = nextInner++;
            const Split& s = splits[static_cast<size_t>(choice[static_cast<size_t>(c)])];
            stack.push_back({s.other, v});
            stack.push_back({s.one, v});
        }
        out.parent[static_cast<size_t>(v)] = up;
        if (up >= 0) {
            std::array<int32_t, 2>& kids = out.child[static_cast<size_t>(up)];
            (kids[0] < 0 ? kids[0] : kids[1]) = v;
        }
    }
    if (nextInner != 2 * m - 1 || std::count(seen.begin(), seen.end(), 1) != m) return false;
    *tree = std::move(out);
    *weight = best[static_cast<size_t>(root)];
    return true;
}

// The programme over the clusters of the climbed trees (the best first, so
// ties keep its splits): the best tree all of whose clusters are theirs,
// which can join the best parts of different climbs. Returns false,
// leaving *tree alone, unless that tree satisfies more than `weight`.
bool programmeOverClusters(
    const CountingTrees& trees, const std::vector<int32_t>& side,
    const std::vector<FreeTree>& climbed, int64_t weight,
    std::unordered_map<uint64_t, std::unordered_map<uint64_t, int64_t>>* known, FreeTree* tree,
    int64_t* better) {
    const int32_t m = climbed[0].m;
    std::vector<KeyedTree> keyed;
    for (const FreeTree& t : climbed)
        keyed.push_back(keyedTree(t));
    ClusterSet set;
    const auto add = [&set](uint64_t key, int32_t size) {
        if (set.index.emplace(key, static_cast<int32_t>(set.key.size())).second) {
            set.key.push_back(key);
            set.size.push_back(size);
        }
    };
    for (int32_t a = 0; a < m; ++a)
        add(speciesKey(a), 1);
    for (size_t k = 0; k < climbed.size(); ++k)
        for (int32_t v = m; v < 2 * m - 1; ++v)
            add(keyed[k].key[static_cast<size_t>(v)], keyed[k].size[static_cast<size_t>(v)]);
    std::vector<Split> splits;
    std::vector<int32_t> stack;
    for (size_t c = static_cast<size_t>(m); c < set.key.size(); ++c)
        splitsOf(climbed, keyed, set, static_cast<int32_t>(c), &splits, &stack);
    weighSplits(trees, climbed, side, set, &splits, known);
    const int32_t root = findCluster(set, keyed[0].key[static_cast<size_t>(climbed[0].root)], m);
    FreeTree found;
    int64_t total = 0;
    const bool ok = bestTreeOver(set, splits, root, m, &found, &total);
    if (!ok || total <= weight) return false;
    *tree = std::move(found);
    *better = total;
    return true;
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
    const SideLeaves leaves = sideLeaves(trees, local);
    std::vector<FreeTree> climbed;
    std::vector<int64_t> weights(trees.weight);
    int64_t best = 0;
    for (int start = 0; start < kStarts; ++start) {
        if (start > 0) resampled(trees.weight, start, &weights);
        PairEvidence evidence = pairEvidence(trees, side, leaves, weights);
        FreeTree tree = averageLinkage(&evidence);
        evidence = PairEvidence{};
        if (tree.m < 3) {
            *weight = 0;
            return resultOf(tree, side);
        }
        const int64_t w = climbBySwaps(trees, side, &tree);
        if (start == 0 || w > best) {
            best = w;
            climbed.insert(climbed.begin(), std::move(tree));
        } else {
            climbed.push_back(std::move(tree));
        }
    }
    *weight = best;
    std::unordered_map<uint64_t, std::unordered_map<uint64_t, int64_t>> known;
    for (int round = 0; round < kProgrammeRounds; ++round) {
        FreeTree tree;
        int64_t programmed = 0;
        if (!programmeOverClusters(trees, side, climbed, *weight, &known, &tree, &programmed))
            break;
        *weight = climbBySwaps(trees, side, &tree);
        // A tree no swap improves holds only clusters of the set: the
        // programme would find it again.
        if (*weight == programmed) {
            climbed.insert(climbed.begin(), std::move(tree));
            break;
        }
        climbed.insert(climbed.begin(), std::move(tree));
    }
    *weight = climbByMoves(trees, side, &climbed[0], *weight);
    return resultOf(climbed[0], side);
}
