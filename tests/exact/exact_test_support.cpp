#include "exact/exact_test_support.h"

#include <algorithm>

#include "common/test_support.h"
#include "exact/exact.h"

// Larger than any score of the tests, so that a stale entry read as a result
// would win.
constexpr int32_t kPoisonScore = 1 << 29;
constexpr uint32_t kPoisonSplit = 0xDEADBEEF;

// Position masks of k members ordered as splits are tried: by size, then by
// value. Sorting keeps this independent of nextSubset.
static std::vector<uint32_t> trialOrder(int k) {
    std::vector<uint32_t> order;
    for (uint32_t positions = 1; positions < (1u << k); ++positions)
        if (2 * __builtin_popcount(positions) <= k) order.push_back(positions);
    std::stable_sort(order.begin(), order.end(), [](uint32_t a, uint32_t b) {
        return __builtin_popcount(a) < __builtin_popcount(b);
    });
    return order;
}

// Species of the mask below n, in increasing order; returns their number.
static int listSpecies(uint32_t mask, int n, int* list) {
    int count = 0;
    for (uint32_t rest = mask & ((1u << n) - 1); rest != 0; rest &= rest - 1)
        list[count++] = __builtin_ctz(rest);
    return count;
}

static void referenceBestSplit(uint32_t subset, int n, const std::vector<uint32_t>& order,
                               SubsetTables& t) {
    int member[kMaxExactSpecies], outside[kMaxExactSpecies];
    const int k = listSpecies(subset, n, member);
    const int outsideCount = listSpecies(~subset, n, outside);
    int32_t runningMax = 0;
    uint32_t chosenLeft = 0;
    for (uint32_t positions : order) {
        uint32_t leftMask = 0;
        for (int p = 0; p < k; ++p)
            if ((positions >> p) & 1u) leftMask |= 1u << member[p];
        int left[kMaxExactSpecies], right[kMaxExactSpecies];
        const int leftCount = listSpecies(leftMask, n, left);
        const int rightCount = listSpecies(subset ^ leftMask, n, right);
        int32_t cross = 0;
        for (int a = 0; a < leftCount; ++a)
            for (int b = 0; b < rightCount; ++b)
                for (int c = 0; c < outsideCount; ++c)
                    cross += tripleWeight(left[a], right[b], outside[c]);
        const int32_t value = t.score[leftMask] + t.score[subset ^ leftMask] + cross;
        if (value >= runningMax) {
            runningMax = value;
            chosenLeft = leftMask;
        }
    }
    t.score[subset] = runningMax;
    // With no split at or above 0 the first one tried stands: the lowest member.
    t.split[subset] = chosenLeft != 0 ? chosenLeft : 1u << member[0];
}

SubsetTables referenceSolve(int n) {
    SubsetTables t{std::vector<int32_t>(1u << n, 0), std::vector<uint32_t>(1u << n, 0)};
    for (int k = 2; k <= n; ++k) {
        const std::vector<uint32_t> order = trialOrder(k);
        for (uint32_t subset = 1; subset < (1u << n); ++subset)
            if (__builtin_popcount(subset) == k) referenceBestSplit(subset, n, order, t);
    }
    return t;
}

void poisonSubsetTables(int n) {
    g_speciesCount = n;
    g_fullMask = nextSubset(0, static_cast<int16_t>(n), static_cast<int16_t>(n));
    for (uint32_t mask = 1; mask < (1u << n); ++mask) {
        g_subsetScore[mask] = kPoisonScore;
        g_subsetSplit[mask] = kPoisonSplit;
    }
}

SubsetTables fastSolve(int n, bool vectorScan, int threads) {
    g_portableKernelsOnly = !vectorScan;
    g_threadCount = threads;
    poisonSubsetTables(n);
    solveExact();
    g_portableKernelsOnly = false;  // the defaults
    g_threadCount = 0;
    SubsetTables t{std::vector<int32_t>(g_subsetScore, g_subsetScore + (1u << n)),
                   std::vector<uint32_t>(g_subsetSplit, g_subsetSplit + (1u << n))};
    t.score[0] = 0;  // the empty set is never written
    t.split[0] = 0;
    return t;
}

void fillSignedTable(int n, std::mt19937& rng, int32_t low, int32_t high) {
    resetTable(n);
    std::uniform_int_distribution<int32_t> weight(low, high);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k)
                if (k != i && k != j) setTriple(i, j, k, weight(rng));
}

void deleteTree(TreeNode* node) {
    if (node == nullptr) return;
    deleteTree(node->left);
    deleteTree(node->right);
    delete node;
}
