// The search: the eight candidates and trees grown by inserting the species
// in scrambled orders are each improved by subtree moves; the clusters of all
// of them form the set X of a dynamic programme that finds the best tree
// built from those clusters, which is climbed again, until neither the
// programme nor the moves find a better tree.
//
// Everything depends on the table alone: the orders come from a fixed
// generator, each start is climbed on its own, and the results are compared
// in the order of the starts, ties keeping the earlier one. So the result is
// the same for every thread count.
#include "search/search.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "heuristics/heuristics.h"
#include "io/io.h"
#include "search/search_steps.h"

// Trees grown by insertion: as many as about kStartWork / n^3 climbs cost,
// within these limits.
constexpr int64_t kStartWork = int64_t{1} << 25;
constexpr int kMinInsertionStarts = 8;
constexpr int kMaxInsertionStarts = 256;

static int insertionStarts(int32_t n) {
    const int64_t cubed = int64_t{n} * n * n;
    const int64_t starts = kStartWork / cubed;
    return static_cast<int>(starts < kMinInsertionStarts   ? kMinInsertionStarts
                            : starts > kMaxInsertionStarts ? kMaxInsertionStarts
                                                           : starts);
}
constexpr int kMaxProgrammeRounds = 8;

// splitmix64: a fixed sequence, the same on every platform.
static uint64_t nextRandom(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

static void scrambledOrder(int32_t n, uint64_t seed, int32_t* order) {
    for (int32_t i = 0; i < n; ++i)
        order[i] = i;
    uint64_t state = seed;
    for (int32_t i = n - 1; i > 0; --i) {
        const auto j = static_cast<int32_t>(nextRandom(&state) % static_cast<uint64_t>(i + 1));
        std::swap(order[i], order[j]);
    }
}

struct SearchStart {
    SearchTree tree;
    int64_t score;
};

// The records the candidates are built in, apart from g_nodePool.
static TreeNode** candidatePool() {
    static TreeNode* pool[kPoolSize];
    if (pool[0] == nullptr) allocatePoolRecords(pool);
    return pool;
}

// Climbs every tree, sharing them out among threads.
static void climbAll(const LeanTable& table, std::vector<SearchStart>* trees) {
    std::atomic<size_t> next{0};
    runOnThreads(threadCountToUse(), [&] {
        MoveWork work;
        for (size_t i = next++; i < trees->size(); i = next++) {
            SearchStart& c = (*trees)[i];
            // The heuristic method's tree is climbed move by move: the search
            // never ends below that plain climb.
            if (i == 0)
                climbBySubtreeMoves(table, &c.tree, &work);
            else
                climbInBatches(table, &c.tree, &work);
            c.score = scoreSearchTree(c.tree);
        }
    });
}

// The heuristic method's tree (the first candidate of the highest weight)
// first, then the trees grown by insertion. The clusters of all eight
// candidates join the set of the dynamic programme.
static std::vector<SearchStart> buildStarts(const LeanTable& table,
                                            std::vector<SpeciesSet>* clusters) {
    const int32_t n = table.n;
    TreeNode** pool = candidatePool();
    const int insertions = insertionStarts(n);
    std::vector<SearchStart> starts(static_cast<size_t>(1 + insertions));
    int32_t bestWeight = 0;
    for (int index = 0; index < kCandidateCount; ++index) {
        const TreeNode* root = buildCandidate(index, pool);
        SearchTree tree;
        treeFromNodes(root, n, &tree);
        appendClusters(tree, clusters);
        if (index == 0 || root->weight > bestWeight) {
            bestWeight = root->weight;
            starts[0].tree = tree;
        }
    }
    std::atomic<int> next{0};
    runOnThreads(threadCountToUse(), [&] {
        MoveWork work;
        int32_t order[kMaxSpecies];
        for (int k = next++; k < insertions; k = next++) {
            scrambledOrder(n, static_cast<uint64_t>(k), order);
            insertInOrder(table, order, &starts[static_cast<size_t>(1 + k)].tree, &work);
        }
    });
    return starts;
}

static SearchTree searchOverTable() {
    LeanTable table;
    fillLeanTable(&table);
    std::vector<SpeciesSet> clusters;
    std::vector<SearchStart> trees = buildStarts(table, &clusters);
    for (size_t i = 1; i < trees.size(); ++i)
        appendClusters(trees[i].tree, &clusters);
    climbAll(table, &trees);
    SearchStart best = trees[0];
    for (const SearchStart& c : trees) {
        appendClusters(c.tree, &clusters);
        if (c.score > best.score) best = c;
    }
    MoveWork work;
    for (int round = 0; round < kMaxProgrammeRounds; ++round) {
        SearchStart found;
        if (!bestTreeOverClusters(clusters, table.n, &found.tree)) break;
        climbInBatches(table, &found.tree, &work);
        found.score = scoreSearchTree(found.tree);
        if (found.score <= best.score) break;
        best = found;
        appendClusters(found.tree, &clusters);
    }
    return best.tree;
}

int64_t scoreTree(const TreeNode* root) {
    SearchTree tree;
    treeFromNodes(root, g_speciesCount, &tree);
    return scoreSearchTree(tree);
}

// Sum over every set of three distinct species of the heaviest of its three
// resolutions: a binary tree satisfies exactly one of them.
static int64_t tripleWeightBound() {
    const int n = g_speciesCount;
    int64_t bound = 0;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            for (int c = b + 1; c < n; ++c)
                bound += std::max(
                    {g_tripleWeight[a][b][c], g_tripleWeight[a][c][b], g_tripleWeight[b][c][a]});
    return bound;
}

// The most weight a rooted tree on the four species a < b < c < d can
// satisfy: the best of its fifteen shapes, each satisfying one resolution of
// each of the four triples.
static int64_t bestOnFour(int a, int b, int c, int d) {
    const auto w = [](int p, int q, int r) { return int64_t{g_tripleWeight[p][q][r]}; };
    // Three balanced shapes ((p,q),(r,s)), then twelve ladders (((p,q),r),s).
    int64_t best = std::max({w(a, b, c) + w(a, b, d) + w(c, d, a) + w(c, d, b),
                             w(a, c, b) + w(a, c, d) + w(b, d, a) + w(b, d, c),
                             w(a, d, b) + w(a, d, c) + w(b, c, a) + w(b, c, d)});
    const int four[4] = {a, b, c, d};
    for (int last = 0; last < 4; ++last) {
        int rest[3];
        int count = 0;
        for (int i = 0; i < 4; ++i)
            if (i != last) rest[count++] = four[i];
        const int s = four[last];
        // The last species leaves first; the other three form one of three
        // triples' resolutions below it.
        const int64_t outside =
            w(rest[0], rest[1], s) + w(rest[0], rest[2], s) + w(rest[1], rest[2], s);
        best = std::max({best, outside + w(rest[0], rest[1], rest[2]),
                         outside + w(rest[0], rest[2], rest[1]),
                         outside + w(rest[1], rest[2], rest[0])});
    }
    return best;
}

// Every tree restricted to four species is one of their fifteen trees, and
// each triple lies in n - 3 sets of four, so the satisfied weight is at most
// the sum over the sets of four of their best, divided by n - 3. This is never
// above the triple bound, and sharper wherever the best resolutions of the
// four triples of a set do not fit in one tree.
int64_t satisfiedWeightBound() {
    const int n = g_speciesCount;
    if (n < 4) return tripleWeightBound();
    std::atomic<int> next{0};
    std::atomic<int64_t> total{0};
    runOnThreads(threadCountToUse(), [&] {
        int64_t sum = 0;
        for (int a = next++; a < n; a = next++)
            for (int b = a + 1; b < n; ++b)
                for (int c = b + 1; c < n; ++c)
                    for (int d = c + 1; d < n; ++d)
                        sum += bestOnFour(a, b, c, d);
        total += sum;
    });
    return std::min(tripleWeightBound(), total.load() / (n - 3));
}

SearchResult searchTree() {
    TreeNode* root = nullptr;
    if (g_speciesCount < 3) {
        // One tree shape only: the candidates give it.
        SearchTree tree;
        treeFromNodes(buildCandidate(0, candidatePool()), g_speciesCount, &tree);
        root = nodesFromTree(tree);
    } else {
        root = nodesFromTree(searchOverTable());
    }
    return {root, scoreTree(root), satisfiedWeightBound()};
}
