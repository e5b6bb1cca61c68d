// Caterpillar construction: going down from the root, each step hangs the
// unplaced species that serves best as the outgroup of all other unplaced
// species on the next spine node.
//
// Over the unplaced set U, for i < j and k in U (k may equal i or j), each
// w[i][j][k] counts towards the ingroup sums of i and j and the outgroup sum of
// k. Placing x satisfies its outgroup sum and loses its ingroup sum. Instead of
// summing over U again after every placement (|U|^3/2 reads), the terms that
// involve the placed species are subtracted (|U|^2 reads); the integers are the
// same. Each sum meets every entry with first index below second at most
// once, so it is bounded by the table total: 64 bits hold it for any table
// infer fills. The table is symmetric in its first two indices, so w[c][x][k]
// stands for the term that a full pass reads as w[min][max][k].
//
// It keeps O(n) working storage and costs O(n^3), so it runs at every size.
#include <vector>

#include "heuristics/heuristics.h"

// A species whose placement loses nothing is rated by its gain plus this.
constexpr double kLosslessBonus = 100000.0;

static std::vector<int64_t> s_ingroupSum;
static std::vector<int64_t> s_outgroupSum;
static std::vector<int32_t> s_unplaced;  // unplaced species, ascending
static int32_t s_unplacedCount;

static void sumOverAllSpecies(int32_t n) {
    s_unplacedCount = n;
    s_unplaced.resize(static_cast<size_t>(n));
    s_ingroupSum.assign(static_cast<size_t>(n), 0);
    s_outgroupSum.assign(static_cast<size_t>(n), 0);
    for (int32_t x = 0; x < n; ++x)
        s_unplaced[static_cast<size_t>(x)] = x;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = i + 1; j < n; ++j) {
            const int32_t* row = tripleRow(i, j);
            int64_t pair = 0;
            for (int32_t k = 0; k < n; ++k) {
                pair += row[k];
                s_outgroupSum[static_cast<size_t>(k)] += row[k];
            }
            s_ingroupSum[static_cast<size_t>(i)] += pair;
            s_ingroupSum[static_cast<size_t>(j)] += pair;
        }
}

// Subtracts every term with c as a close or as the distant species, then drops
// c from U. Sums of c itself are left stale; c is never rated again.
static void removeSpecies(int32_t c) {
    static std::vector<const int32_t*> pairOfC;  // row of c and each species
    pairOfC.resize(s_ingroupSum.size());
    for (int32_t b = 0; b < s_unplacedCount; ++b)
        pairOfC[static_cast<size_t>(s_unplaced[static_cast<size_t>(b)])] =
            tripleRow(c, s_unplaced[static_cast<size_t>(b)]);
    for (int32_t a = 0; a < s_unplacedCount; ++a) {
        const int32_t x = s_unplaced[static_cast<size_t>(a)];
        if (x == c) continue;
        const int32_t* pairWithC = pairOfC[static_cast<size_t>(x)];
        int64_t lostIngroup = 0;
        int64_t lostOutgroup = 0;
        for (int32_t b = 0; b < s_unplacedCount; ++b) {
            const int32_t y = s_unplaced[static_cast<size_t>(b)];
            lostIngroup += pairWithC[y];  // pair {c, x}, any third species
            if (y == c) continue;
            lostOutgroup += pairOfC[static_cast<size_t>(y)][x];  // pair {c, y}, x distant
            if (y != x) lostIngroup += tripleWeight(x, y, c);    // pair {x, y}, c distant
        }
        s_ingroupSum[static_cast<size_t>(x)] -= lostIngroup;
        s_outgroupSum[static_cast<size_t>(x)] -= lostOutgroup;
    }
    int32_t kept = 0;
    for (int32_t a = 0; a < s_unplacedCount; ++a)
        if (s_unplaced[static_cast<size_t>(a)] != c)
            s_unplaced[static_cast<size_t>(kept++)] = s_unplaced[static_cast<size_t>(a)];
    s_unplacedCount = kept;
}

static float placementRatio(int32_t x) {
    const int64_t ingroup = s_ingroupSum[static_cast<size_t>(x)];
    const double outgroup = static_cast<double>(s_outgroupSum[static_cast<size_t>(x)]);
    if (ingroup >= 1) return static_cast<float>(outgroup / static_cast<double>(ingroup));
    return static_cast<float>(outgroup + kLosslessBonus);
}

// The lowest-numbered unplaced species with the highest ratio. Ratios are
// finite, so this is also the species that a search keeping only ratios above
// -10 would take whenever it takes one; when none is above, the highest is
// placed anyway, since every step must place a species.
static int32_t chooseOutgroup() {
    int32_t chosen = s_unplaced[0];
    float best = placementRatio(chosen);
    for (int32_t a = 1; a < s_unplacedCount; ++a) {
        const int32_t x = s_unplaced[static_cast<size_t>(a)];
        const float ratio = placementRatio(x);
        if (ratio > best) {
            best = ratio;
            chosen = x;
        }
    }
    return chosen;
}

// Leaves in pool entries 0..n-1, spine in n+1..2n-1 from the root down; entry n
// stays untouched.
static void setupNodes(int32_t n, TreeNode** pool) {
    for (int32_t i = 0; i < n; ++i)
        resetPoolNode(pool, i, i);
    for (int32_t i = n - 1; i >= 1; --i)
        resetPoolNode(pool, n + i, n + i);
    for (int32_t i = n - 2; i >= 1; --i)
        pool[n + i]->right = pool[n + i + 1];
}

TreeNode* sequentialTree() {
    return sequentialTreeInPool(g_nodePool);
}

TreeNode* sequentialTreeInPool(TreeNode** pool) {
    const int32_t n = g_speciesCount;
    if (n < 2) {
        return singleLeafTree(pool);
    }
    sumOverAllSpecies(n);
    setupNodes(n, pool);
    for (int32_t s = 1; s < n; ++s) {
        const int32_t chosen = chooseOutgroup();
        TreeNode* spine = pool[n + s];
        spine->left = pool[chosen];
        spine->weight = s_outgroupSum[static_cast<size_t>(chosen)];
        removeSpecies(chosen);
    }
    pool[2 * n - 1]->right = pool[s_unplaced[0]];
    for (int32_t i = 2 * n - 2; i >= n + 1; --i)
        pool[i]->weight += pool[i]->right->weight;
    return pool[n + 1];
}
