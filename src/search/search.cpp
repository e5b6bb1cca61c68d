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

#include "common/progress.h"
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
    TreeGains gains;  // empty until built
    int64_t score;
};

// Records for the candidates, apart from g_nodePool: as many as the largest
// construction that runs takes, 2n.
static TreeNode** candidatePool(int32_t n) {
    static std::vector<TreeNode*> pool;
    const size_t needed = std::max<size_t>(kPoolSize, 2 * static_cast<size_t>(n));
    while (pool.size() < needed)
        pool.push_back(allocateNode());
    return pool.data();
}

// The starting tree the plain climb runs from: up to kMaxSpecies species,
// as ever, the heuristic method's tree (the first); above, where most
// constructions are left out, the best of all starts, the first of equals.
static size_t plainClimbStart(const std::vector<SearchStart>& starts, int32_t n) {
    if (n <= kMaxSpecies) return 0;
    size_t best = 0;
    for (size_t i = 1; i < starts.size(); ++i)
        if (starts[i].score > starts[best].score) best = i;
    return best;
}

// Climbs every tree, sharing them out among threads; each start's gain rows
// are built when it has none.
static void climbAll(const SearchTable& table, std::vector<SearchStart>* trees) {
    const size_t plain = plainClimbStart(*trees, table.n);
    std::atomic<size_t> next{0};
    std::atomic<int64_t> done{0};
    const auto total = static_cast<int64_t>(trees->size());
    runOnThreads(threadCountToUse(), [&] {
        MoveWork work;
        for (size_t i = next++; i < trees->size(); i = next++) {
            SearchStart& c = (*trees)[i];
            if (c.gains.rows.empty()) buildTreeGains(table, c.tree, &c.gains, &work);
            // One start is climbed move by move: the search never ends below
            // that plain climb.
            if (i == plain)
                climbBySubtreeMoves(table, &c.tree, &c.gains, &work);
            else
                climbInBatches(table, &c.tree, &c.gains, &work);
            std::vector<int64_t>().swap(c.gains.rows);
            c.score = scoreSearchTree(c.tree);
            reportProgress(ProgressStage::kClimbs, ++done, total);
        }
    });
}

// The heuristic method's tree (the first candidate of the highest weight
// among those that run at this size) first, then the trees grown by
// insertion, each with its score. The clusters of the candidates join the
// set of the dynamic programme.
static std::vector<SearchStart> buildStarts(const SearchTable& table,
                                            std::vector<SpeciesSet>* clusters) {
    const int32_t n = table.n;
    TreeNode** pool = candidatePool(n);
    const int insertions = insertionStarts(n);
    std::vector<SearchStart> starts(static_cast<size_t>(1 + insertions));
    int64_t bestWeight = 0;
    bool first = true;
    for (int index = 0; index < kCandidateCount; ++index) {
        if (!candidateRunsAt(index, n)) continue;
        reportProgress(ProgressStage::kCandidates, index, kCandidateCount);
        const TreeNode* root = buildCandidate(index, pool);
        SearchTree tree;
        treeFromNodes(root, n, &tree);
        appendClusters(tree, clusters);
        if (first || root->weight > bestWeight) {
            bestWeight = root->weight;
            starts[0].tree = tree;
            starts[0].score = root->weight;
            first = false;
        }
    }
    std::atomic<int> next{0};
    std::atomic<int64_t> done{0};
    runOnThreads(threadCountToUse(), [&] {
        MoveWork work;
        std::vector<int32_t> order(static_cast<size_t>(n));
        for (int k = next++; k < insertions; k = next++) {
            SearchStart& start = starts[static_cast<size_t>(1 + k)];
            scrambledOrder(n, static_cast<uint64_t>(k), order.data());
            insertInOrder(table, order.data(), &start.tree, &start.gains, &work);
            start.score = scoreSearchTree(start.tree);
            reportProgress(ProgressStage::kStarts, ++done, insertions);
        }
    });
    return starts;
}

static SearchTree searchOverTable() {
    SearchTable table;
    prepareSearchTable(&table);
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
    trees.clear();
    MoveWork work;
    for (int round = 0; round < kMaxProgrammeRounds; ++round) {
        reportProgress(ProgressStage::kProgramme, round + 1, kMaxProgrammeRounds);
        SearchStart found;
        if (!bestTreeOverClusters(clusters, table.n, &found.tree)) break;
        buildTreeGains(table, found.tree, &found.gains, &work);
        climbInBatches(table, &found.tree, &found.gains, &work);
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
// With c the largest species, the three weights of a < b < c run along
// rows as a grows: w[b][c][a] in the pair row of b and c, w[a][c][b] and
// w[a][b][c] in the triple table ordered by the third species.
static int64_t tripleWeightBound() {
    const int n = g_speciesCount;
    int64_t bound = 0;
    for (int c = 2; c < n; ++c)
        for (int b = 1; b < c; ++b) {
            const int32_t* bc = tripleRow(b, c);
            for (int a = 0; a < b; ++a)
                bound += std::max({tripleWeight(a, b, c), tripleWeight(a, c, b), bc[a]});
        }
    return bound;
}

// The most weight a rooted tree on the four species a < b < c < d can
// satisfy: the best of its fifteen shapes, each satisfying one resolution of
// each of the four triples.
static int64_t bestOnFour(int a, int b, int c, int d) {
    const auto w = [](int p, int q, int r) { return int64_t{tripleWeight(p, q, r)}; };
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
static int64_t quartetWeightBound() {
    const int n = g_speciesCount;
    if (n < 4) return tripleWeightBound();
    std::atomic<int> next{0};
    std::atomic<int64_t> total{0};
    runOnThreads(threadCountToUse(), [&] {
        int64_t sum = 0;
        for (int a = next++; a < n; a = next++) {
            reportProgress(ProgressStage::kBound, a, n);
            for (int b = a + 1; b < n; ++b)
                for (int c = b + 1; c < n; ++c)
                    for (int d = c + 1; d < n; ++d)
                        sum += bestOnFour(a, b, c, d);
        }
        total += sum;
    });
    return std::min(tripleWeightBound(), total.load() / (n - 3));
}

int64_t searchWorkingBytes(int32_t n, int threads) {
    const int64_t starts = 1 + insertionStarts(n);
    const int64_t nodes = 2 * int64_t{n};
    // A cluster set: the set itself and its words beyond the local ones.
    const int64_t words = (int64_t{n} + kSpeciesWordBits - 1) / kSpeciesWordBits;
    const int64_t set =
        static_cast<int64_t>(sizeof(SpeciesSet)) + (words > kLocalSpeciesWords ? 8 * words : 0);
    // Clusters of the candidates, of every start before and after its climb
    // and of the programme's rounds; the programme's entries and index.
    const int64_t clusters = (kCandidateCount + 2 * starts + kMaxProgrammeRounds) * n * set;
    const int64_t programme = std::min<int64_t>(clusters / set, 6000) * (2 * set + 96);
    return searchTableBytes(n) + starts * (treeGainsBytes(n) + nodes * 12) +
           int64_t{threads} * moveWorkBytes(n) + clusters + programme;
}

SearchResult searchTree() {
    TreeNode* root = nullptr;
    if (g_speciesCount < 3) {
        // One tree shape only: the candidates give it.
        SearchTree tree;
        treeFromNodes(buildCandidate(0, candidatePool(g_speciesCount)), g_speciesCount, &tree);
        root = nodesFromTree(tree);
    } else {
        root = nodesFromTree(searchOverTable());
    }
    const bool fromTriples = g_speciesCount > kMaxQuartetBoundSpecies;
    return {root, scoreTree(root), fromTriples ? tripleWeightBound() : quartetWeightBound(),
            fromTriples};
}
