// The exact dynamic programme: the best score and split of every species
// subset, by increasing subset size.
//
// When a subset S splits into A and B = S \ A, the triples satisfied at the
// node of S are the ab|c with a in A, b in B and c outside S. Summing over c
// first gives every pair of members an edge weight
//   e(a, b) = sum of w[a][b][c] over the species c outside S
// (w is symmetric in a and b), and the cross sum of the split is the weight
// of the edges between A and B: the cut weight of A. With deg(a) the edge
// weight at a,
//   cut(A) = sum of deg(a) over A - 2 * (edge weight inside A).
// Cutting the members into the low and high parts of split_tables.h, with
// A = x + y, this is cutTerm(x) + cutTerm(y) - 2 * (edge weight between x
// and y), where cutTerm(p) = sum of deg over p - 2 * (edge weight inside p).
// Small tables over the parts then give every split's value in a few reads.
#include <algorithm>
#include <atomic>
#include <functional>
#include <vector>

#include "exact/exact.h"
#include "exact/split_scan.h"
#include "exact/split_tables.h"

// Layers with fewer candidate splits than this run on the calling thread
// alone: starting threads would cost more than they save.
constexpr uint64_t kParallelSplits = 1u << 16;
// Each thread of a layer claims about this many chunks of subsets, so a core
// slowed by other work does not hold the whole layer back.
constexpr uint32_t kChunksPerThread = 32;

// Copies 1.. of the subset scores, indexed by rotated masks (see
// split_tables.h); copy 0 is g_subsetScore itself.
static int32_t s_scoreCopies[kScoreCopies - 1][kMaxSubsets];

static const int32_t* scoreCopy(int copy) {
    return copy == 0 ? g_subsetScore : s_scoreCopies[copy - 1];
}

// Members among the three species of a group: two bits per group pattern.
static int countInGroup(uint32_t group) {
    static_assert(kGroupBits == 3, "the table holds eight group patterns");
    return static_cast<int>((0xE994u >> (2 * group)) & 3u);
}

// The copy that holds the most members of S in its group, the first of equals;
// the highest member, never in a left part, must stay above the group.
static int chooseScoreCopy(uint32_t subset) {
    int best = 0;
    int bestInGroup = countInGroup(subset & kGroupMask);
    for (int copy = 1; copy < kScoreCopies; ++copy) {
        const int shift = copy * kGroupBits;
        const int inGroup = countInGroup((subset >> shift) & kGroupMask);
        if (inGroup > bestInGroup && (subset >> (shift + kGroupBits)) != 0) {
            best = copy;
            bestInGroup = inGroup;
        }
    }
    return best;
}

// Members in increasing order, except that the group species of the copy
// read come first: the vector scan wants the group members lowest.
static void listMembers(uint32_t subset, int copy, SubsetEdges& e) {
    const uint32_t first = subset & (kGroupMask << (copy * kGroupBits));
    std::fill(e.member, e.member + kEdgeRow, kEdgeRow - 1);
    int count = 0;
    for (uint32_t part : {first, subset & ~first})
        for (uint32_t rest = part; rest != 0; rest &= rest - 1) {
            const uint32_t bit = rest & (0u - rest);
            e.member[count] = __builtin_ctz(bit);
            e.index[count++] = rotateMask(bit, copy);
        }
}

// e(a, b) for a set of outside species, summed over the low and the high
// half of the species numbers separately: s_outsideSum[h][mask][a][b] is the
// sum of w[a][b][c] over the species c = h * kHalfSpecies + i for every bit i
// of mask. Laid out mask first, so one subset reads one block. Diagonals and
// padding stay zero.
constexpr int kHalfSpecies = kMaxExactSpecies / 2;
static uint32_t s_outsideSum[2][1 << kHalfSpecies][kMaxExactSpecies][kEdgeRow];

static void fillOutsideSums(int n) {
    // The table's rows of every pair, found once.
    const int32_t* row[kMaxExactSpecies][kMaxExactSpecies];
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            row[a][b] = tripleRow(a, b);
    for (int h = 0; h < 2; ++h) {
        std::fill(&s_outsideSum[h][0][0][0], &s_outsideSum[h][1][0][0], 0u);
        for (uint32_t mask = 1; mask < (1u << kHalfSpecies); ++mask) {
            const int c = h * kHalfSpecies + __builtin_ctz(mask);
            const uint32_t rest = mask & (mask - 1);
            for (int a = 0; a < n; ++a)
                for (int b = 0; b < n; ++b)
                    s_outsideSum[h][mask][a][b] =
                        s_outsideSum[h][rest][a][b] +
                        (c < n && a != b ? static_cast<uint32_t>(row[a][b][c]) : 0u);
        }
    }
}

static void fillSubsetEdges(uint32_t subset, int k, int copy, bool useVector, SubsetEdges& e) {
    e.k = k;
    listMembers(subset, copy, e);
    const uint32_t outside = ~subset & ((1u << g_speciesCount) - 1);
    fillEdgeWeights(s_outsideSum[0][outside & ((1u << kHalfSpecies) - 1)],
                    s_outsideSum[1][outside >> kHalfSpecies], useVector, e);
}

struct SubsetResult {
    int32_t score;
    uint32_t split;
};

// The best split of the k-subset S, which reads score copy `copy`. Its proper
// subsets are final.
static SubsetResult bestSplit(uint32_t subset, int copy, int k, bool useVector, SplitTables& t) {
    SubsetEdges e;
    fillSubsetEdges(subset, k, copy, useVector, e);
    t.subset = subset;
    t.k = k;
    t.lowBits = std::clamp(k - 1 - kRowBits, std::min(k - 1, kVectorRunBits), kLowBits);
    t.highBits = k - 1 - t.lowBits;
    t.copy = copy;
    t.scores = scoreCopy(copy);
    t.subsetIndex = rotateMask(subset, copy);
    fillSplitTables(e, useVector, t);
    const SplitBest best =
        (useVector && t.lowBits >= kVectorRunBits) ? scanSplitsVector(t) : scanSplitsPortable(t);
    if (best.value >= 0) return {best.value, best.tie & kTieMaskBits};
    // No split reaches the starting maximum of 0 (only negative weights can do
    // that): the score stays 0, and the first split tried, the lowest member
    // alone, is kept so that the tree can still be built.
    return {0, subset & (0u - subset)};
}

static constexpr uint32_t countSubsets(int n, int k) {
    uint64_t count = 1;
    for (int i = 1; i <= k; ++i)
        count = count * static_cast<uint64_t>(n - k + i) / i;
    return static_cast<uint32_t>(count);
}

// The subsets of the layer being solved, grouped by the score copy they read
// and in increasing order of their index in that copy. Neighbours in this
// list mostly differ in their lowest index bits only, so they read the same
// cache lines of the copy, and what one subset reads is still in the cache
// for the next. The results, by list position, reach the global tables only
// when the whole layer is done: a vector scan reads whole aligned groups of
// table entries, some of which belong to other subsets of the same size, so
// the tables must stay unchanged while threads share a layer.
constexpr uint32_t kMaxLayerSubsets = countSubsets(kMaxExactSpecies, kMaxExactSpecies / 2);
static uint32_t s_layerSubsets[kMaxLayerSubsets];
static uint32_t s_layerCopyStart[kScoreCopies + 1];  // where each copy's subsets start
static SubsetResult s_layerResults[kMaxLayerSubsets];

// The subset whose index in copy c is the k-subset m of the n index bits that
// species 0..n-1 occupy there, in increasing order: species c * kGroupBits and
// up at the bottom, the species below them at the top.
static uint32_t subsetAtCopyOrder(uint32_t m, int16_t n, int copy) {
    const int places = copy * kGroupBits;
    const int bottom = n - places;  // index bits of species places..n-1
    return ((m & ((1u << bottom) - 1)) << places) | (m >> bottom);
}

static void listLayer(int16_t n, int16_t k) {
    uint32_t count = 0;
    for (int copy = 0; copy < kScoreCopies; ++copy) {
        s_layerCopyStart[copy] = count;
        if (copy * kGroupBits >= n) continue;  // no subset has members above its group
        for (uint32_t m = nextSubset(0, n, k); m != 0; m = nextSubset(m, n, k)) {
            const uint32_t subset = subsetAtCopyOrder(m, n, copy);
            if (chooseScoreCopy(subset) == copy) s_layerSubsets[count++] = subset;
        }
    }
    s_layerCopyStart[kScoreCopies] = count;
}

static int copyOfListed(uint32_t index) {
    int copy = 0;
    while (index >= s_layerCopyStart[copy + 1])
        ++copy;
    return copy;
}

static void storeResult(uint32_t subset, SubsetResult result) {
    g_subsetScore[subset] = result.score;
    for (int copy = 1; copy < kScoreCopies; ++copy)
        s_scoreCopies[copy - 1][rotateMask(subset, copy)] = result.score;
    g_subsetSplit[subset] = result.split;
}

// One layer: all k-subsets of the n species, shared out in chunks of the
// layer list.
struct LayerShare {
    int16_t k;
    bool useVector;
    uint32_t count;
    uint32_t chunk;
    uint32_t chunkCount;
    std::atomic<uint32_t> nextChunk;
};

static void solveLayerShare(LayerShare& share) {
    SplitTables tables;
    for (;;) {
        const uint32_t claimed = share.nextChunk.fetch_add(1);
        if (claimed >= share.chunkCount) return;
        const uint32_t start = claimed * share.chunk;
        const uint32_t end = std::min(share.count, start + share.chunk);
        for (uint32_t index = start; index < end; ++index)
            s_layerResults[index] = bestSplit(s_layerSubsets[index], copyOfListed(index), share.k,
                                              share.useVector, tables);
    }
}

// Subsets of one size read only smaller ones, so they can be solved in any
// order and on any thread; the results never depend on the sharing.
static void solveLayer(int16_t n, int16_t k, int threads, bool useVector) {
    listLayer(n, k);
    LayerShare share;
    share.k = k;
    share.useVector = useVector;
    share.count = countSubsets(n, k);
    const uint64_t splits = static_cast<uint64_t>(share.count) << (k - 1);
    int helpers = 0;
    if (splits >= kParallelSplits)
        helpers = static_cast<int>(std::min<uint64_t>(threads, share.count)) - 1;
    const uint32_t workers = static_cast<uint32_t>(helpers) + 1;
    share.chunk = std::max(1u, share.count / (workers * kChunksPerThread));
    share.chunkCount = (share.count + share.chunk - 1) / share.chunk;
    share.nextChunk = 0;
    runOnThreads(helpers + 1, [&share] { solveLayerShare(share); });
    for (uint32_t index = 0; index < share.count; ++index)
        storeResult(s_layerSubsets[index], s_layerResults[index]);
}

int64_t exactWorkingBytes(int32_t n) {
    // The subset tables are fixed; copies of the scores are read by rotated
    // masks, which spread over all 2^20 places whatever n is.
    (void)n;
    return static_cast<int64_t>(sizeof g_subsetScore + sizeof g_subsetSplit + sizeof s_scoreCopies +
                                sizeof s_outsideSum + sizeof s_layerSubsets +
                                sizeof s_layerResults);
}

void solveExact() {
    const int16_t n = static_cast<int16_t>(g_speciesCount);
    if (n > kMaxExactSpecies) return;  // the tables hold no more
    for (int i = 0; i < n; ++i)
        storeResult(1u << i, {0, 0});
    fillOutsideSums(n);
    const int threads = threadCountToUse();
    const bool useVector = vectorKernelsUsable();
    for (int16_t k = 2; k <= n; ++k)
        solveLayer(n, k, threads, useVector);
}
