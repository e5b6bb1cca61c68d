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
    // Kept for the whole process, like g_nodePool: never destroyed, so the
    // records stay reachable to the end.
    static std::vector<TreeNode*>& pool = *new std::vector<TreeNode*>;
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

// Whether a start is climbed. Above kMaxSpecies species the first start is
// the caterpillar, far below the insertion trees there, and climbing it
// would cost more than all other starts together (its subtree moves are of
// large parts in a deep tree); it stays as it is, a start to beat and a
// source of clusters, unless it is the best start.
static bool isClimbed(size_t start, size_t plain, int32_t n) {
    return n <= kMaxSpecies || start != 0 || start == plain;
}

// Climbs every tree, sharing them out among threads; each start's gain rows
// are built when it has none. Returns the index of the start climbed plainly.
static size_t climbAll(const SearchTable& table, std::vector<SearchStart>* trees) {
    const size_t plain = plainClimbStart(*trees, table.n);
    std::atomic<size_t> next{0};
    std::atomic<int64_t> done{0};
    const auto total = static_cast<int64_t>(trees->size());
    runOnThreads(threadCountToUse(), [&] {
        MoveWork work;
        for (size_t i = next++; i < trees->size(); i = next++) {
            SearchStart& c = (*trees)[i];
            if (!isClimbed(i, plain, table.n)) {
                reportProgress(ProgressStage::kClimbs, ++done, total);
                continue;
            }
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
    return plain;
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
    int running = 0;
    for (int index = 0; index < kCandidateCount; ++index)
        running += candidateRunsAt(index, n) ? 1 : 0;
    int built = 0;
    for (int index = 0; index < kCandidateCount; ++index) {
        if (!candidateRunsAt(index, n)) continue;
        reportProgress(ProgressStage::kCandidates, ++built, running);
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

static SearchTree searchOverTable(const SearchTable& table, int64_t* plainClimb) {
    std::vector<SpeciesSet> clusters;
    std::vector<SearchStart> trees = buildStarts(table, &clusters);
    for (size_t i = 1; i < trees.size(); ++i)
        appendClusters(trees[i].tree, &clusters);
    *plainClimb = trees[climbAll(table, &trees)].score;
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
    SearchTable table;
    prepareSearchTable(&table);
    TreeNode* root = nullptr;
    int64_t plainClimb = 0;
    if (g_speciesCount < 3) {
        // One tree shape only: the candidates give it.
        SearchTree tree;
        treeFromNodes(buildCandidate(0, candidatePool(g_speciesCount)), g_speciesCount, &tree);
        root = nodesFromTree(tree);
    } else {
        root = nodesFromTree(searchOverTable(table, &plainClimb));
    }
    const int64_t satisfied = scoreTree(root);
    if (g_speciesCount < 3) plainClimb = satisfied;
    const bool fromTriples = g_speciesCount > kMaxQuartetBoundSpecies;
    return {root, satisfied, fromTriples ? tripleWeightBound(table) : quartetWeightBound(table),
            fromTriples, plainClimb};
}

int64_t satisfiedWeightBound(bool* fromTriples) {
    SearchTable table;
    prepareSearchTable(&table);
    *fromTriples = g_speciesCount > kMaxQuartetBoundSpecies;
    return *fromTriples ? tripleWeightBound(table) : quartetWeightBound(table);
}
