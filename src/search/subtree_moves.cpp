// Subtree moves and species insertion, scored without rescoring any tree.
//
// Take a part P of the tree (a subtree, or one species to insert) and the
// tree without it. Where P is attached decides only the triples with one
// species a in P and two, b and c, outside it; those with two or three in P
// and those with none keep their status. If P hangs above node x, such a
// triple resolves as bc|a unless x lies strictly below the node v where b and
// c part; then it resolves as ab|c when x lies on b's side of v. So, against
// attaching P above the root (every triple bc|a), attaching it above x gains
//   gain(x) = sum over the nodes v strictly above x, with y the child of v
//             towards x and z the other, of H(y, z),
//   H(y, z) = sum over a in P, b below y, c below z of lean[a][b][c],
// with lean[a][b][c] = w[a][b][c] - w[b][c][a].
//
// The tree keeps gain rows (search_steps.h): G(v, y)[a] is the sum over b
// below y and c below z of lean[a][b][c], for every species a. For a node v
// away from P's path, H(y, z) is G(v, y) summed over P's species: the part
// sums, added up the tree once for all parts in O(n^2). On P's way up, P's
// side of v loses P once P is cut out. Two identities of lean settle that
// exactly: lean[a][b][c] = -lean[c][b][a] (the table is symmetric in its
// first two species), so the sum of lean[a][b][c] over a and c both in P is
// zero, and H(z, y - P) is the part sum of G(v, z) as it is; while
// H(y - P, z) is the part sum of G(v, y) less the sum over c below z of
//   K(P)[c] = sum over a, b in P of lean[a][b][c],
// P's pair gains, which add up the tree too: K of a node is K of its
// children less the two gain rows of the node (the same identity). So a
// whole neighbourhood of subtree moves costs O(n^2) once the gain rows are
// there.
//
// The gain rows change only where a move cuts or hangs: each species b of
// the moved part and each species c outside it meet at one node on the
// part's way up, whose two rows change by the lean terms of b and c alone.
// Those terms read rows of the table and one block of the table ordered by
// the third species (SearchTable), O(n) each, so a move costs O(|P| n^2).
#include <algorithm>
#include <atomic>

#include "search/search_steps.h"

// Every move raises the satisfied weight, so a climb ends; this many moves
// per species, far more than any climb has been seen to need, bounds its
// time all the same.
constexpr int64_t kMaxMovesPerSpecies = 1000;

static size_t nodeCount(int32_t n) {
    return n < 1 ? 1 : static_cast<size_t>(2 * n - 1);
}

// Gain rows of a tree on n species: two per inner node.
static size_t gainRowCount(int32_t n) {
    return n < 2 ? 0 : static_cast<size_t>(2 * (n - 1));
}

static size_t gainRowOf(const SearchTree& tree, int32_t node, int side) {
    return static_cast<size_t>(node - tree.speciesCount) * 2 + static_cast<size_t>(side);
}

void resetSearchTree(int32_t n, SearchTree* tree) {
    tree->speciesCount = n;
    tree->innerCount = 0;
    tree->root = kNoNode;
    tree->parent.assign(nodeCount(n), kNoNode);
    tree->child.assign(nodeCount(n), {kNoNode, kNoNode});
}

int64_t treeGainsBytes(int32_t n) {
    return static_cast<int64_t>(gainRowCount(n)) * n * 8;
}

int64_t moveWorkBytes(int32_t n) {
    const auto nodes = static_cast<int64_t>(nodeCount(n));
    const auto rows = static_cast<int64_t>(gainRowCount(n));
    // Part sums, pair gains, one part's copies of both and the sums by
    // ancestor of a changing part, 64-bit; the rest is a few entries per
    // node.
    return 8 * (nodes * rows + 2 * int64_t{n} * n + rows + n) + 64 * nodes;
}

static void sizeWork(int32_t n, MoveWork* work) {
    const size_t nodes = nodeCount(n);
    const size_t rows = gainRowCount(n);
    if (work->gain.size() == nodes && work->bucket.size() == static_cast<size_t>(n)) return;
    work->partSums.assign(nodes * rows, 0);
    work->pairGain.assign(static_cast<size_t>(n < 1 ? 0 : n - 1) * static_cast<size_t>(n), 0);
    work->ownSums.assign(rows, 0);
    work->ownPairGain.assign(static_cast<size_t>(n), 0);
    work->correction.assign(nodes, 0);
    work->pathSide.assign(nodes, -1);
    work->order.assign(nodes, 0);
    work->preorder.assign(nodes, 0);
    work->gain.assign(nodes, 0);
    work->kids.assign(2 * nodes, 0);
    work->members.assign(static_cast<size_t>(n), 0);
    work->bucket.assign(static_cast<size_t>(n), -1);
    work->outside.assign(static_cast<size_t>(n), 0);
    work->towardsRow.assign(nodes, 0);
    work->awayRow.assign(nodes, 0);
    work->groupStart.assign(nodes + 1, 0);
    work->groupFill.assign(nodes + 1, 0);
}

static int32_t siblingOf(const SearchTree& tree, int32_t node) {
    const int32_t parent = tree.parent[node];
    return tree.child[parent][0] == node ? tree.child[parent][1] : tree.child[parent][0];
}

// The tree with node `removed` cut out and its parent bypassed (kNoNode
// removes nothing): kids, parents first in work->preorder. Returns the number
// of nodes listed.
static int32_t listReducedTree(const SearchTree& tree, int32_t removed, MoveWork* work) {
    int32_t bypassed = kNoNode;
    int32_t replacement = kNoNode;
    int32_t top = tree.root;
    if (removed != kNoNode) {
        bypassed = tree.parent[removed];
        replacement = siblingOf(tree, removed);
        if (bypassed == tree.root) top = replacement;
    }
    int32_t listed = 0;
    int32_t* stack = work->order.data();
    int32_t depth = 0;
    stack[depth++] = top;
    while (depth > 0) {
        const int32_t node = stack[--depth];
        work->preorder[static_cast<size_t>(listed++)] = node;
        if (isLeafNode(tree, node)) continue;
        for (int side = 0; side < 2; ++side) {
            const int32_t kid = tree.child[node][side];
            work->kids[static_cast<size_t>(2 * node + side)] = kid == bypassed ? replacement : kid;
        }
        stack[depth++] = work->kids[static_cast<size_t>(2 * node + 1)];
        stack[depth++] = work->kids[static_cast<size_t>(2 * node)];
    }
    return listed;
}

// Calls visit(species) for each species below node, left to right.
template <typename Visit>
static void visitSpeciesBelow(const SearchTree& tree, int32_t node, MoveWork* work, Visit visit) {
    int32_t* stack = work->order.data();
    int32_t depth = 0;
    stack[depth++] = node;
    while (depth > 0) {
        const int32_t x = stack[--depth];
        if (isLeafNode(tree, x)) {
            visit(x);
            continue;
        }
        stack[depth++] = tree.child[x][1];
        stack[depth++] = tree.child[x][0];
    }
}

// The species below node, into work->members; returns their number.
static int32_t listMembers(const SearchTree& tree, int32_t node, MoveWork* work) {
    int32_t count = 0;
    visitSpeciesBelow(tree, node, work,
                      [&](int32_t x) { work->members[static_cast<size_t>(count++)] = x; });
    return count;
}

// Sum of values over the species below node.
static int64_t sumBelow(const SearchTree& tree, int32_t node, const int64_t* values,
                        MoveWork* work) {
    int64_t sum = 0;
    visitSpeciesBelow(tree, node, work, [&](int32_t x) { sum += values[x]; });
    return sum;
}

struct SubtreeMove {
    int32_t part;
    int32_t target;
    int64_t gain;
};

// The best move of one part, from its part sums (one per gain row) and
// pair gains (one per species): targets parents first, ties keeping the
// first found; gain 0 when no move improves.
static SubtreeMove bestMoveOf(const SearchTree& tree, int32_t part, const int64_t* sums,
                              const int64_t* pairs, MoveWork* work) {
    const int32_t joint = tree.parent[part];
    const int32_t sibling = siblingOf(tree, part);
    // Above the joint, the part's side of each node loses the part.
    for (int32_t below = joint, v = tree.parent[joint]; v != kNoNode;
         below = v, v = tree.parent[v]) {
        const int side = tree.child[v][0] == below ? 0 : 1;
        work->pathSide[static_cast<size_t>(v)] = side;
        work->correction[static_cast<size_t>(v)] =
            sumBelow(tree, tree.child[v][1 - side], pairs, work);
    }
    const int32_t listed = listReducedTree(tree, part, work);
    work->gain[static_cast<size_t>(work->preorder[0])] = 0;
    for (int32_t i = 0; i < listed; ++i) {
        const int32_t v = work->preorder[static_cast<size_t>(i)];
        if (isLeafNode(tree, v)) continue;
        const int64_t above = work->gain[static_cast<size_t>(v)];
        for (int side = 0; side < 2; ++side) {
            int64_t h = sums[gainRowOf(tree, v, side)];
            if (work->pathSide[static_cast<size_t>(v)] == side)
                h -= work->correction[static_cast<size_t>(v)];
            work->gain[static_cast<size_t>(work->kids[static_cast<size_t>(2 * v + side)])] =
                above + h;
        }
    }
    for (int32_t v = tree.parent[joint]; v != kNoNode; v = tree.parent[v])
        work->pathSide[static_cast<size_t>(v)] = -1;
    const int64_t now = work->gain[static_cast<size_t>(sibling)];
    SubtreeMove best{part, kNoNode, 0};
    for (int32_t i = 0; i < listed; ++i) {
        const int32_t x = work->preorder[static_cast<size_t>(i)];
        const int64_t change = work->gain[static_cast<size_t>(x)] - now;
        if (x != sibling && change > best.gain) best = {part, x, change};
    }
    return best;
}

static const int64_t* pairGainOf(const SearchTable& table, const SearchTree& tree, int32_t node,
                                 const MoveWork& work) {
    const auto n = static_cast<size_t>(tree.speciesCount);
    if (isLeafNode(tree, node)) return table.selfLean.data() + static_cast<size_t>(node) * n;
    return work.pairGain.data() + static_cast<size_t>(node - tree.speciesCount) * n;
}

// Part sums and pair gains of every node, children before parents, and the
// parts, children first.
static std::vector<int32_t> prepareParts(const SearchTable& table, const SearchTree& tree,
                                         const TreeGains& gains, MoveWork* work) {
    const int32_t n = tree.speciesCount;
    const size_t rows = gainRowCount(n);
    const int64_t* g = gains.rows.data();
    int64_t* sums = work->partSums.data();
    // Leaves: the gain rows read across, in blocks of rows so that each
    // block is read in order.
    constexpr size_t kBlock = 16;
    for (size_t from = 0; from < rows; from += kBlock) {
        const size_t to = std::min(rows, from + kBlock);
        for (int32_t a = 0; a < n; ++a)
            for (size_t r = from; r < to; ++r)
                sums[static_cast<size_t>(a) * rows + r] =
                    g[r * static_cast<size_t>(n) + static_cast<size_t>(a)];
    }
    const int32_t listed = listReducedTree(tree, kNoNode, work);
    for (int32_t i = listed - 1; i >= 0; --i) {
        const int32_t node = work->preorder[static_cast<size_t>(i)];
        if (isLeafNode(tree, node)) continue;
        const int32_t left = tree.child[node][0];
        const int32_t right = tree.child[node][1];
        int64_t* mine = sums + static_cast<size_t>(node) * rows;
        const int64_t* a = sums + static_cast<size_t>(left) * rows;
        const int64_t* b = sums + static_cast<size_t>(right) * rows;
        for (size_t r = 0; r < rows; ++r)
            mine[r] = a[r] + b[r];
        int64_t* pairs =
            work->pairGain.data() + static_cast<size_t>(node - n) * static_cast<size_t>(n);
        const int64_t* pa = pairGainOf(table, tree, left, *work);
        const int64_t* pb = pairGainOf(table, tree, right, *work);
        const int64_t* g0 = g + gainRowOf(tree, node, 0) * static_cast<size_t>(n);
        const int64_t* g1 = g + gainRowOf(tree, node, 1) * static_cast<size_t>(n);
        for (int32_t c = 0; c < n; ++c)
            pairs[c] = pa[c] + pb[c] - g0[c] - g1[c];
    }
    std::vector<int32_t> parts;
    for (int32_t i = listed - 1; i >= 0; --i)
        if (work->preorder[static_cast<size_t>(i)] != tree.root)
            parts.push_back(work->preorder[static_cast<size_t>(i)]);
    return parts;
}

static SubtreeMove bestPreparedMove(const SearchTable& table, const SearchTree& tree, int32_t part,
                                    MoveWork* work) {
    const size_t rows = gainRowCount(tree.speciesCount);
    return bestMoveOf(tree, part, work->partSums.data() + static_cast<size_t>(part) * rows,
                      pairGainOf(table, tree, part, *work), work);
}

// The best move of one part in the tree as it stands, its sums taken afresh.
static SubtreeMove bestMoveNow(const SearchTable& table, const SearchTree& tree,
                               const TreeGains& gains, int32_t part, MoveWork* work) {
    const int32_t n = tree.speciesCount;
    const size_t rows = gainRowCount(n);
    const int64_t* g = gains.rows.data();
    const int32_t count = listMembers(tree, part, work);
    for (size_t r = 0; r < rows; ++r) {
        const int64_t* row = g + r * static_cast<size_t>(n);
        int64_t sum = 0;
        for (int32_t m = 0; m < count; ++m)
            sum += row[work->members[static_cast<size_t>(m)]];
        work->ownSums[r] = sum;
    }
    // K of the part: its species' own terms less both gain rows of each of
    // its inner nodes.
    int64_t* pairs = work->ownPairGain.data();
    std::fill(pairs, pairs + n, 0);
    for (int32_t m = 0; m < count; ++m) {
        const int64_t* self =
            table.selfLean.data() +
            static_cast<size_t>(work->members[static_cast<size_t>(m)]) * static_cast<size_t>(n);
        for (int32_t c = 0; c < n; ++c)
            pairs[c] += self[c];
    }
    int32_t* stack = work->order.data();
    int32_t depth = 0;
    stack[depth++] = part;
    while (depth > 0) {
        const int32_t x = stack[--depth];
        if (isLeafNode(tree, x)) continue;
        const int64_t* g0 = g + gainRowOf(tree, x, 0) * static_cast<size_t>(n);
        const int64_t* g1 = g + gainRowOf(tree, x, 1) * static_cast<size_t>(n);
        for (int32_t c = 0; c < n; ++c)
            pairs[c] -= g0[c] + g1[c];
        stack[depth++] = tree.child[x][1];
        stack[depth++] = tree.child[x][0];
    }
    return bestMoveOf(tree, part, work->ownSums.data(), pairs, work);
}

// The ancestors of a changing part from `first` up, `below` being first's
// child towards the part: their gain rows towards and away from the part,
// and, for each species below their other children, how far up it meets
// the part (-1 for the others). work->outside lists those species by
// ancestor, in increasing order within each, ancestor d's from
// work->groupStart[d] to work->groupStart[d + 1].
static int32_t findPath(const SearchTree& tree, int32_t below, int32_t first, MoveWork* work) {
    const int32_t n = tree.speciesCount;
    std::fill(work->bucket.begin(), work->bucket.end(), -1);
    int32_t depth = 0;
    for (int32_t v = first; v != kNoNode; below = v, v = tree.parent[v], ++depth) {
        const int side = tree.child[v][0] == below ? 0 : 1;
        work->towardsRow[static_cast<size_t>(depth)] =
            static_cast<int32_t>(gainRowOf(tree, v, side));
        work->awayRow[static_cast<size_t>(depth)] =
            static_cast<int32_t>(gainRowOf(tree, v, 1 - side));
        work->groupStart[static_cast<size_t>(depth) + 1] = 0;
        visitSpeciesBelow(tree, tree.child[v][1 - side], work, [&](int32_t x) {
            work->bucket[static_cast<size_t>(x)] = depth;
            ++work->groupStart[static_cast<size_t>(depth) + 1];
        });
    }
    work->groupStart[0] = 0;
    for (int32_t d = 0; d < depth; ++d)
        work->groupStart[static_cast<size_t>(d) + 1] += work->groupStart[static_cast<size_t>(d)];
    std::copy(work->groupStart.begin(), work->groupStart.begin() + depth, work->groupFill.begin());
    for (int32_t s = 0; s < n; ++s) {
        const int32_t d = work->bucket[static_cast<size_t>(s)];
        if (d >= 0)
            work->outside[static_cast<size_t>(work->groupFill[static_cast<size_t>(d)]++)] = s;
    }
    return depth;
}

// Asks for the cache lines of row[0..count-1] ahead of their use: the rows
// read one after another here lie far apart in the table, and are read in
// no order the processor would guess.
static void prefetchRow(const int32_t* row, int32_t count) {
    constexpr int32_t kLineEntries = 16;
    for (int32_t i = 0; i < count; i += kLineEntries)
        __builtin_prefetch(row + i);
}

// row[0..count-1] added to or taken from the 64-bit sums.
static void addWidened(int64_t* sums, const int32_t* row, int32_t count, bool add) {
    if (add) {
        for (int32_t i = 0; i < count; ++i)
            sums[i] += row[i];
    } else {
        for (int32_t i = 0; i < count; ++i)
            sums[i] -= row[i];
    }
}

// Sum of values[species] over the species of one ancestor's group, those
// up to `last` only.
static int64_t groupSum(const int32_t* values, const int32_t* species, int32_t from, int32_t to,
                        int32_t last) {
    int64_t sum = 0;
    for (int32_t i = from; i < to && species[i] <= last; ++i)
        sum += values[species[i]];
    return sum;
}

// g row rows[d], entry a, += sign * sums[a * depth + d], for all d < depth and
// a < n: the sums are gathered species by species, the rows are the gain
// rows of the ancestors, so they are added in tiles that both stay cached.
static void addByAncestor(int64_t* g, const int32_t* rows, const int64_t* sums, int32_t n,
                          int32_t depth, int64_t sign) {
    constexpr int32_t kTile = 32;
    const auto width = static_cast<size_t>(n);
    for (int32_t a0 = 0; a0 < n; a0 += kTile)
        for (int32_t d0 = 0; d0 < depth; d0 += kTile)
            for (int32_t d = d0; d < std::min(depth, d0 + kTile); ++d) {
                int64_t* row = g + static_cast<size_t>(rows[d]) * width;
                for (int32_t a = a0; a < std::min(n, a0 + kTile); ++a)
                    row[a] += sign * sums[static_cast<size_t>(a) * static_cast<size_t>(depth) +
                                          static_cast<size_t>(d)];
            }
}

// Adds (or, for a part about to be cut out, takes away) the lean terms of
// the members (work->members, count of them) against the species outside,
// each at the ancestor where they meet (findPath): on the row towards the
// members,
//   sum over b in members, c outside of w[a][b][c] - w[b][c][a],
// and, with bothSides, on the row away from them,
//   sum over b outside, c in members of w[a][b][c] - w[b][c][a].
static void changeGains(const SearchTable& table, int32_t count, int32_t depth, bool bothSides,
                        bool add, TreeGains* gains, MoveWork* work) {
    const int32_t n = table.n;
    const auto width = static_cast<size_t>(n);
    int64_t* g = gains->rows.data();
    const int32_t* outside = work->outside.data();
    const int32_t* start = work->groupStart.data();
    const int32_t* bucket = work->bucket.data();
    const int64_t sign = add ? 1 : -1;
    const auto deep = static_cast<size_t>(depth);
    work->groupSums.resize(width * deep);
    int64_t* sums = work->groupSums.data();
    for (int32_t m = 0; m < count; ++m) {
        const int32_t b = work->members[static_cast<size_t>(m)];
        // w[a][b][c] over c outside, for every a, by ancestor.
        for (int32_t a = 0; a < n; ++a) {
            const int32_t* row = tripleRow(a, b);
            if (a + 1 < n) prefetchRow(tripleRow(a + 1, b), n);
            for (int32_t d = 0; d < depth; ++d)
                sums[static_cast<size_t>(a) * deep + static_cast<size_t>(d)] =
                    groupSum(row, outside, start[d], start[d + 1], INT32_MAX);
        }
        addByAncestor(g, work->towardsRow.data(), sums, n, depth, sign);
        // w[b][c][a] and w[c][b][a], one row over a for both sides.
        for (int32_t d = 0; d < depth; ++d)
            for (int32_t i = start[d]; i < start[d + 1]; ++i) {
                const int32_t* row = tripleRow(b, outside[i]);
                if (i + 1 < start[depth]) prefetchRow(tripleRow(b, outside[i + 1]), n);
                addWidened(
                    g + static_cast<size_t>(work->towardsRow[static_cast<size_t>(d)]) * width, row,
                    n, !add);
                if (bothSides)
                    addWidened(
                        g + static_cast<size_t>(work->awayRow[static_cast<size_t>(d)]) * width, row,
                        n, !add);
            }
        if (!bothSides) continue;
        // w[a][c][b] over c outside, for every a: the block of third species
        // b holds each pair once, as (lo, hi) in the row of hi. Outside
        // species c <= a are read in a's row, those above a in their own.
        const int32_t* block = table.byThird.data() + static_cast<size_t>(b) * table.pairs;
        for (int32_t hi = 0; hi < n; ++hi) {
            const int32_t* half = block + static_cast<size_t>(hi) * static_cast<size_t>(hi + 1) / 2;
            if (hi + 1 < n) prefetchRow(half + hi + 1, hi + 2);
            for (int32_t d = 0; d < depth; ++d)
                sums[static_cast<size_t>(hi) * deep + static_cast<size_t>(d)] =
                    groupSum(half, outside, start[d], start[d + 1], hi);
            if (bucket[hi] >= 0)
                addWidened(
                    g + static_cast<size_t>(work->awayRow[static_cast<size_t>(bucket[hi])]) * width,
                    half, hi, add);
        }
        addByAncestor(g, work->awayRow.data(), sums, n, depth, sign);
    }
}

// The gain rows after `part` was hung above its parent's other child.
static void addHungPart(const SearchTable& table, const SearchTree& tree, int32_t part,
                        TreeGains* gains, MoveWork* work) {
    const int32_t count = listMembers(tree, part, work);
    changeGains(table, count, findPath(tree, part, tree.parent[part], work), true, true, gains,
                work);
}

// The gain rows before `part` is cut out: its parent's rows go with it.
static void removeCutPart(const SearchTable& table, const SearchTree& tree, int32_t part,
                          TreeGains* gains, MoveWork* work) {
    const int32_t joint = tree.parent[part];
    const auto n = static_cast<size_t>(tree.speciesCount);
    if (tree.parent[joint] != kNoNode) {
        const int32_t count = listMembers(tree, part, work);
        changeGains(table, count, findPath(tree, joint, tree.parent[joint], work), true, false,
                    gains, work);
    }
    std::fill_n(gains->rows.begin() + static_cast<std::ptrdiff_t>(gainRowOf(tree, joint, 0) * n),
                2 * n, 0);
}

void buildTreeGains(const SearchTable& table, const SearchTree& tree, TreeGains* gains,
                    MoveWork* work) {
    const int32_t n = tree.speciesCount;
    sizeWork(n, work);
    gains->rows.assign(gainRowCount(n) * static_cast<size_t>(n), 0);
    // Each species on its own: every pair b, c is met once from b's side and
    // once from c's, which makes both rows of the node where they part.
    for (int32_t b = 0; b < n; ++b) {
        if (tree.parent[b] == kNoNode) continue;
        work->members[0] = b;
        changeGains(table, 1, findPath(tree, b, tree.parent[b], work), false, true, gains, work);
    }
}

static void applyMove(const SearchTable& table, SearchTree* tree, TreeGains* gains,
                      const SubtreeMove& move, MoveWork* work) {
    const int32_t joint = tree->parent[move.part];
    removeCutPart(table, *tree, move.part, gains, work);
    cutOutParent(tree, move.part);
    hangAbove(tree, move.part, joint, move.target);
    addHungPart(table, *tree, move.part, gains, work);
}

static void markAncestors(const SearchTree& tree, int32_t node, std::vector<char>* changed) {
    for (; node != kNoNode; node = tree.parent[node])
        (*changed)[static_cast<size_t>(node)] = 1;
}

// Puts `replacement` where `node` hangs: under node's parent, or as the root.
static void takePlaceOf(SearchTree* tree, int32_t node, int32_t replacement) {
    const int32_t above = tree->parent[node];
    if (above == kNoNode)
        tree->root = replacement;
    else
        tree->child[above][tree->child[above][0] == node ? 0 : 1] = replacement;
    tree->parent[replacement] = above;
}

void hangAbove(SearchTree* tree, int32_t part, int32_t joint, int32_t x) {
    takePlaceOf(tree, x, joint);
    tree->child[joint][0] = x;
    tree->child[joint][1] = part;
    tree->parent[x] = joint;
    tree->parent[part] = joint;
}

void cutOutParent(SearchTree* tree, int32_t node) {
    const int32_t joint = tree->parent[node];
    takePlaceOf(tree, joint, siblingOf(*tree, node));
}

int64_t climbInBatches(const SearchTable& table, SearchTree* tree, TreeGains* gains,
                       MoveWork* work) {
    sizeWork(table.n, work);
    int64_t gained = 0;
    std::vector<char> changed(nodeCount(table.n));
    for (int64_t made = 0; made < kMaxMovesPerSpecies * table.n;) {
        std::vector<SubtreeMove> moves;
        for (const int32_t part : prepareParts(table, *tree, *gains, work)) {
            const SubtreeMove move = bestPreparedMove(table, *tree, part, work);
            if (move.gain > 0) moves.push_back(move);
        }
        if (moves.empty()) return gained;
        std::stable_sort(
            moves.begin(), moves.end(),
            [](const SubtreeMove& a, const SubtreeMove& b) { return a.gain > b.gain; });
        std::fill(changed.begin(), changed.end(), 0);
        for (size_t i = 0; i < moves.size(); ++i) {
            const int32_t part = moves[i].part;
            if (changed[static_cast<size_t>(part)] || part == tree->root) continue;
            const SubtreeMove move =
                i == 0 ? moves[0] : bestMoveNow(table, *tree, *gains, part, work);
            if (move.gain <= 0) continue;
            markAncestors(*tree, tree->parent[part], &changed);
            applyMove(table, tree, gains, move, work);
            markAncestors(*tree, tree->parent[part], &changed);
            gained += move.gain;
            ++made;
        }
    }
    return gained;
}

int64_t searchTableBytes(int32_t n) {
    const int64_t pairs = int64_t{n} * (n + 1) / 2;
    return 4 * int64_t{n} * pairs + 8 * int64_t{n} * n;
}

void prepareSearchTable(SearchTable* table) {
    const int32_t n = g_speciesCount;
    const auto width = static_cast<size_t>(n);
    table->n = n;
    table->pairs = width * (width + 1) / 2;
    table->byThird.assign(width * table->pairs, 0);
    // For each larger species hi, the rows of every lo <= hi with it, read a
    // block of third species at a time and written along each third
    // species' row of hi, so that both stay in the cache.
    constexpr int32_t kThirdBlock = 16;
    std::atomic<int32_t> next{0};
    runOnThreads(threadCountToUse(), [&] {
        std::vector<const int32_t*> rows(width);
        for (int32_t hi = next++; hi < n; hi = next++) {
            const size_t base = static_cast<size_t>(hi) * static_cast<size_t>(hi + 1) / 2;
            for (int32_t lo = 0; lo <= hi; ++lo)
                rows[static_cast<size_t>(lo)] = tripleRow(lo, hi);
            for (int32_t c0 = 0; c0 < n; c0 += kThirdBlock)
                for (int32_t lo = 0; lo <= hi; ++lo)
                    for (int32_t c = c0; c < std::min(n, c0 + kThirdBlock); ++c)
                        table->byThird[static_cast<size_t>(c) * table->pairs + base +
                                       static_cast<size_t>(lo)] = rows[static_cast<size_t>(lo)][c];
        }
    });
    table->selfLean.assign(width * width, 0);
    for (int32_t a = 0; a < n; ++a)
        for (int32_t c = 0; c < n; ++c)
            table->selfLean[static_cast<size_t>(a) * width + static_cast<size_t>(c)] =
                int64_t{tripleWeight(a, a, c)} - tripleWeight(a, c, a);
}

void insertInOrder(const SearchTable& table, const int32_t* order, SearchTree* tree,
                   TreeGains* gains, MoveWork* work) {
    const int32_t n = table.n;
    const auto width = static_cast<size_t>(n);
    sizeWork(n, work);
    resetSearchTree(n, tree);
    gains->rows.assign(gainRowCount(n) * width, 0);
    tree->root = order[0];
    for (int32_t i = 1; i < n; ++i) {
        const int32_t species = order[i];
        const int32_t listed = listReducedTree(*tree, kNoNode, work);
        work->gain[static_cast<size_t>(work->preorder[0])] = 0;
        for (int32_t k = 0; k < listed; ++k) {
            const int32_t v = work->preorder[static_cast<size_t>(k)];
            if (isLeafNode(*tree, v)) continue;
            for (int side = 0; side < 2; ++side)
                work->gain[static_cast<size_t>(work->kids[static_cast<size_t>(2 * v + side)])] =
                    work->gain[static_cast<size_t>(v)] +
                    gains->rows[gainRowOf(*tree, v, side) * width + static_cast<size_t>(species)];
        }
        int32_t target = work->preorder[0];
        for (int32_t k = 1; k < listed; ++k) {
            const int32_t x = work->preorder[static_cast<size_t>(k)];
            if (work->gain[static_cast<size_t>(x)] > work->gain[static_cast<size_t>(target)])
                target = x;
        }
        hangAbove(tree, species, n + tree->innerCount++, target);
        addHungPart(table, *tree, species, gains, work);
    }
}

int64_t climbBySubtreeMoves(const SearchTable& table, SearchTree* tree, TreeGains* gains,
                            MoveWork* work) {
    sizeWork(table.n, work);
    int64_t gained = 0;
    for (int64_t moves = 0; moves < kMaxMovesPerSpecies * table.n; ++moves) {
        SubtreeMove best{kNoNode, kNoNode, 0};
        for (const int32_t part : prepareParts(table, *tree, *gains, work)) {
            const SubtreeMove move = bestPreparedMove(table, *tree, part, work);
            if (move.gain > best.gain) best = move;
        }
        if (best.gain <= 0) return gained;
        applyMove(table, tree, gains, best, work);
        gained += best.gain;
    }
    return gained;
}

void climbPlainly(SearchTree* tree) {
    SearchTable table;
    prepareSearchTable(&table);
    MoveWork work;
    TreeGains gains;
    buildTreeGains(table, *tree, &gains, &work);
    climbBySubtreeMoves(table, tree, &gains, &work);
}
