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
// with lean[a][b][c] = w[a][b][c] - w[b][c][a]. Going down the tree,
// gain(y) = gain(v) + H(y, z), and with the lean rows of P's species summed
// once (M[b][c] = sum of lean[a][b][c] over a in P) the H of all nodes cost
// n^2 in all. Summing M bottom-up over the subtrees makes the whole
// neighbourhood of subtree moves cost O(n^3).
#include <algorithm>

#include "search/search_steps.h"

// Every move raises the satisfied weight, so a climb ends; this many moves
// per species, far more than any climb has been seen to need, bounds its
// time all the same.
constexpr int64_t kMaxMovesPerSpecies = 1000;

static size_t matrixSize(int32_t n) {
    return static_cast<size_t>(n) * static_cast<size_t>(n);
}

static void sizeWork(int32_t n, MoveWork* work) {
    const size_t nodes = static_cast<size_t>(2 * n);
    // Leaves read their rows from the lean table; only inner nodes need sums.
    const size_t sums = matrixSize(n) * static_cast<size_t>(n);
    if (work->rows.size() >= nodes && work->sums.size() == sums) return;
    work->sums.assign(sums, 0);
    work->rows.assign(nodes, nullptr);
    work->order.assign(nodes, 0);
    work->preorder.assign(nodes, 0);
    work->leafSequence.assign(nodes, 0);
    work->first.assign(nodes, 0);
    work->count.assign(nodes, 0);
    work->gain.assign(nodes, 0);
    work->kids.assign(2 * nodes, 0);
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

// Sum of M[b][c] over b below y and c below z.
static int64_t sideSum(const int32_t* m, int32_t n, const MoveWork& work, int32_t y, int32_t z) {
    const int32_t* seq = work.leafSequence.data();
    const int32_t yFirst = work.first[static_cast<size_t>(y)];
    const int32_t yEnd = yFirst + work.count[static_cast<size_t>(y)];
    const int32_t zFirst = work.first[static_cast<size_t>(z)];
    const int32_t zEnd = zFirst + work.count[static_cast<size_t>(z)];
    int64_t sum = 0;
    for (int32_t i = yFirst; i < yEnd; ++i) {
        const int32_t* row = m + static_cast<size_t>(seq[i]) * static_cast<size_t>(n);
        for (int32_t j = zFirst; j < zEnd; ++j)
            sum += row[seq[j]];
    }
    return sum;
}

// gain of every node of the listed tree for the part whose summed lean rows
// are m.
static void computeGains(const SearchTree& tree, int32_t listed, const int32_t* m, MoveWork* work) {
    const int32_t n = tree.speciesCount;
    for (int32_t i = listed - 1; i >= 0; --i) {
        const int32_t node = work->preorder[static_cast<size_t>(i)];
        work->count[static_cast<size_t>(node)] =
            isLeafNode(tree, node) ? 1
                                   : work->count[static_cast<size_t>(work->kids[2 * node])] +
                                         work->count[static_cast<size_t>(work->kids[2 * node + 1])];
    }
    const int32_t top = work->preorder[0];
    work->first[static_cast<size_t>(top)] = 0;
    work->gain[static_cast<size_t>(top)] = 0;
    for (int32_t i = 0; i < listed; ++i) {
        const int32_t node = work->preorder[static_cast<size_t>(i)];
        if (isLeafNode(tree, node)) {
            work->leafSequence[static_cast<size_t>(work->first[static_cast<size_t>(node)])] = node;
            continue;
        }
        const int32_t y = work->kids[static_cast<size_t>(2 * node)];
        const int32_t z = work->kids[static_cast<size_t>(2 * node + 1)];
        work->first[static_cast<size_t>(y)] = work->first[static_cast<size_t>(node)];
        work->first[static_cast<size_t>(z)] =
            work->first[static_cast<size_t>(node)] + work->count[static_cast<size_t>(y)];
    }
    for (int32_t i = 0; i < listed; ++i) {
        const int32_t node = work->preorder[static_cast<size_t>(i)];
        if (isLeafNode(tree, node)) continue;
        const int32_t y = work->kids[static_cast<size_t>(2 * node)];
        const int32_t z = work->kids[static_cast<size_t>(2 * node + 1)];
        const int64_t above = work->gain[static_cast<size_t>(node)];
        work->gain[static_cast<size_t>(y)] = above + sideSum(m, n, *work, y, z);
        work->gain[static_cast<size_t>(z)] = above + sideSum(m, n, *work, z, y);
    }
}

// Summed lean rows of every node, children before parents.
static void sumLeanRows(const LeanTable& table, const SearchTree& tree, int32_t listed,
                        MoveWork* work) {
    const int32_t n = tree.speciesCount;
    const size_t size = matrixSize(n);
    for (int32_t i = listed - 1; i >= 0; --i) {
        const int32_t node = work->preorder[static_cast<size_t>(i)];
        if (isLeafNode(tree, node)) {
            work->rows[static_cast<size_t>(node)] =
                table.lean.data() + size * static_cast<size_t>(node);
            continue;
        }
        int32_t* sum = work->sums.data() + size * static_cast<size_t>(node - n);
        const int32_t* a = work->rows[static_cast<size_t>(tree.child[node][0])];
        const int32_t* b = work->rows[static_cast<size_t>(tree.child[node][1])];
        for (size_t k = 0; k < size; ++k)
            sum[k] = a[k] + b[k];
        work->rows[static_cast<size_t>(node)] = sum;
    }
}

struct SubtreeMove {
    int32_t part;
    int32_t target;
    int64_t gain;
};

// The best move of one part, whose summed lean rows are in work->rows:
// targets parents first, ties keeping the first found; gain 0 when no move
// improves.
static SubtreeMove bestMoveOf(const SearchTree& tree, int32_t part, MoveWork* work) {
    const int32_t sibling = siblingOf(tree, part);
    const int32_t listed = listReducedTree(tree, part, work);
    computeGains(tree, listed, work->rows[static_cast<size_t>(part)], work);
    const int64_t now = work->gain[static_cast<size_t>(sibling)];
    SubtreeMove best{part, kNoNode, 0};
    for (int32_t i = 0; i < listed; ++i) {
        const int32_t x = work->preorder[static_cast<size_t>(i)];
        const int64_t change = work->gain[static_cast<size_t>(x)] - now;
        if (x != sibling && change > best.gain) best = {part, x, change};
    }
    return best;
}

// Sums the lean rows of every node and returns the parts, children first.
static std::vector<int32_t> prepareParts(const LeanTable& table, const SearchTree& tree,
                                         MoveWork* work) {
    const int32_t listed = listReducedTree(tree, kNoNode, work);
    sumLeanRows(table, tree, listed, work);
    std::vector<int32_t> parts;
    for (int32_t i = listed - 1; i >= 0; --i)
        if (work->preorder[static_cast<size_t>(i)] != tree.root)
            parts.push_back(work->preorder[static_cast<size_t>(i)]);
    return parts;
}

// The best move of the whole neighbourhood; ties keep the first part.
static SubtreeMove findBestMove(const LeanTable& table, const SearchTree& tree, MoveWork* work) {
    SubtreeMove best{kNoNode, kNoNode, 0};
    for (const int32_t part : prepareParts(table, tree, work)) {
        const SubtreeMove move = bestMoveOf(tree, part, work);
        if (move.gain > best.gain) best = move;
    }
    return best;
}

static void applyMove(SearchTree* tree, const SubtreeMove& move) {
    const int32_t joint = tree->parent[move.part];
    cutOutParent(tree, move.part);
    hangAbove(tree, move.part, joint, move.target);
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

int64_t climbInBatches(const LeanTable& table, SearchTree* tree, MoveWork* work) {
    sizeWork(table.n, work);
    int64_t gained = 0;
    std::vector<char> changed(static_cast<size_t>(kMaxSearchNodes));
    for (int64_t made = 0; made < kMaxMovesPerSpecies * table.n;) {
        std::vector<SubtreeMove> moves;
        for (const int32_t part : prepareParts(table, *tree, work)) {
            const SubtreeMove move = bestMoveOf(*tree, part, work);
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
            const SubtreeMove move = i == 0 ? moves[0] : bestMoveOf(*tree, part, work);
            if (move.gain <= 0) continue;
            markAncestors(*tree, tree->parent[part], &changed);
            applyMove(tree, move);
            markAncestors(*tree, tree->parent[part], &changed);
            gained += move.gain;
            ++made;
        }
    }
    return gained;
}

void fillLeanTable(LeanTable* table) {
    const int32_t n = g_speciesCount;
    table->n = n;
    table->lean.assign(matrixSize(n) * static_cast<size_t>(n), 0);
    for (int32_t a = 0; a < n; ++a)
        for (int32_t b = 0; b < n; ++b) {
            int32_t* row = table->lean.data() + (static_cast<size_t>(a) * n + b) * n;
            for (int32_t c = 0; c < n; ++c)
                row[c] = g_tripleWeight[a][b][c] - g_tripleWeight[b][c][a];
        }
}

void insertInOrder(const LeanTable& table, const int32_t* order, SearchTree* tree, MoveWork* work) {
    const int32_t n = table.n;
    sizeWork(n, work);
    tree->speciesCount = n;
    tree->innerCount = 0;
    for (int32_t node = 0; node < kMaxSearchNodes; ++node)
        tree->parent[node] = kNoNode;
    tree->root = order[0];
    for (int32_t i = 1; i < n; ++i) {
        const int32_t species = order[i];
        const int32_t listed = listReducedTree(*tree, kNoNode, work);
        computeGains(*tree, listed,
                     table.lean.data() + matrixSize(n) * static_cast<size_t>(species), work);
        int32_t target = work->preorder[0];
        for (int32_t k = 1; k < listed; ++k) {
            const int32_t x = work->preorder[static_cast<size_t>(k)];
            if (work->gain[static_cast<size_t>(x)] > work->gain[static_cast<size_t>(target)])
                target = x;
        }
        hangAbove(tree, species, n + tree->innerCount++, target);
    }
}

int64_t climbBySubtreeMoves(const LeanTable& table, SearchTree* tree, MoveWork* work) {
    sizeWork(table.n, work);
    int64_t gained = 0;
    for (int64_t moves = 0; moves < kMaxMovesPerSpecies * table.n; ++moves) {
        const SubtreeMove move = findBestMove(table, *tree, work);
        if (move.gain <= 0) return gained;
        applyMove(tree, move);
        gained += move.gain;
    }
    return gained;
}
