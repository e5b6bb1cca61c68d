#include "triples/triples.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>
#include <vector>

#include "common/progress.h"
#include "common/vector_lanes.h"

// One byte of a set covers the species of one vector of table entries.
static_assert(kLanes == 8, "a set byte per vector");
static_assert(kSpeciesWordBits % kLanes == 0, "set words are whole bytes");

// kByteMask[b][j] is all ones when bit j of b is set: turns eight members of
// a set into the lanes of one vector.
struct ByteMasks {
    int32_t lane[256][kLanes];
};
constexpr ByteMasks makeByteMasks() {
    ByteMasks m{};
    for (int b = 0; b < 256; ++b)
        for (int j = 0; j < kLanes; ++j)
            m.lane[b][j] = ((b >> j) & 1) ? -1 : 0;
    return m;
}
constexpr ByteMasks kByteMask = makeByteMasks();

// Species past the set's words read as absent.
void speciesSetBytes(const SpeciesSet& set, uint8_t* bytes, int count) {
    const uint64_t* word = setWords(set);
    for (int b = 0; b < count; ++b) {
        const int w = b / (kSpeciesWordBits / kLanes);
        const int shift = (b % (kSpeciesWordBits / kLanes)) * kLanes;
        bytes[b] = w < set.words ? static_cast<uint8_t>((word[w] >> shift) & 0xFFu) : 0;
    }
}

static int rowBytes() {
    return static_cast<int>(g_tripleWeight.rowLength / kLanes);
}

// The kernel: row += weight at every species of the mask. Rows are whole
// vectors and a mask holds no species at or above n, so whole bytes may be
// added: the lanes of other species add 0. The eight entries go through a
// local array: the compiler then adds them as vectors of the baseline
// instruction set, where in place it adds them one by one.
static void addMaskPortable(int32_t* row, const uint8_t* mask, int bytes, int32_t weight) {
    for (int b = 0; b < bytes; ++b) {
        if (mask[b] == 0) continue;
        int32_t lanes[kLanes];
        std::memcpy(lanes, row + b * kLanes, sizeof lanes);
        const int32_t* laneMask = kByteMask.lane[mask[b]];
        for (int j = 0; j < kLanes; ++j)
            lanes[j] += weight & laneMask[j];
        std::memcpy(row + b * kLanes, lanes, sizeof lanes);
    }
}

static int64_t maskedSumPortable(const int32_t* row, const uint8_t* mask, int bytes) {
    int64_t sum = 0;
    for (int b = 0; b < bytes; ++b) {
        if (mask[b] == 0) continue;
        const int32_t* laneMask = kByteMask.lane[mask[b]];
        for (int j = 0; j < kLanes; ++j)
            sum += row[b * kLanes + j] & laneMask[j];
    }
    return sum;
}

#ifdef TRESSIL_X86_VECTOR
// The same with one AVX2 addition per set byte.
TRESSIL_TARGET_AVX2 static void addMaskVector(int32_t* row, const uint8_t* mask, int bytes,
                                              int32_t weight) {
    const __m256i weights = broadcast(static_cast<uint32_t>(weight));
    for (int b = 0; b < bytes; ++b) {
        if (mask[b] == 0) continue;
        int32_t* lanes = row + b * kLanes;
        const __m256i laneMask = loadLanes(kByteMask.lane[mask[b]]);
        storeLanes(lanes, _mm256_add_epi32(loadLanes(lanes), _mm256_and_si256(weights, laneMask)));
    }
}

// Entries are below 2^31 but their sum need not be: the masked lanes are
// widened to 64 bits before they are added.
TRESSIL_TARGET_AVX2 static int64_t maskedSumVector(const int32_t* row, const uint8_t* mask,
                                                   int bytes) {
    __m256i sum = _mm256_setzero_si256();
    for (int b = 0; b < bytes; ++b) {
        if (mask[b] == 0) continue;
        const __m256i lanes =
            _mm256_and_si256(loadLanes(row + b * kLanes), loadLanes(kByteMask.lane[mask[b]]));
        sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(lanes)));
        sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(lanes, 1)));
    }
    int64_t parts[4];
    storeLanes(parts, sum);
    return parts[0] + parts[1] + parts[2] + parts[3];
}
#endif

static void addMask(int32_t* row, const uint8_t* mask, int bytes, int32_t weight, bool useVector) {
#ifdef TRESSIL_X86_VECTOR
    if (useVector) return addMaskVector(row, mask, bytes, weight);
#endif
    (void)useVector;
    addMaskPortable(row, mask, bytes, weight);
}

int64_t maskedRowSum(const int32_t* row, const uint8_t* mask, int bytes) {
#ifdef TRESSIL_X86_VECTOR
    if (vectorKernelsUsable()) return maskedSumVector(row, mask, bytes);
#endif
    return maskedSumPortable(row, mask, bytes);
}

// ---------------------------------------------------------------------------
// The batch: trees whose leaves are distinct species, waiting to be added.
//
// A pair p, q gains exactly the species of its tree outside the node where p
// and q meet: one masked row addition per pair and tree. Rows are added pair
// by pair over every tree of the batch, so that a row stays in the cache
// while all trees pass, and in tiles of rows that fit the cache together.
// Each tree lists its leaves in depth-first order, so the leaves below a
// node are one run of that list, and the leaves meeting p at a node are the
// node's run less the run of its child towards p.

struct BatchTree {
    int32_t weight;
    int32_t firstNode;  // its inner nodes, in s_batch.node*
    int32_t firstLeaf;  // its leaves in depth-first order, in s_batch.leaf*
    int32_t leafCount;
};

struct Batch {
    std::vector<BatchTree> trees;
    // Inner nodes: parent (batch index, -1 at a root), their run of leaves
    // (relative to the tree's first leaf), whether any leaf lies outside, and
    // the species outside as bytes (rowBytes() each).
    std::vector<int32_t> nodeParent;
    std::vector<int32_t> nodeFirst;
    std::vector<int32_t> nodeCount;
    std::vector<uint8_t> nodeOutside;
    std::vector<uint8_t> outsideBytes;
    // Leaves in depth-first order: species and parent (batch index).
    std::vector<int32_t> leafSpecies;
    std::vector<int32_t> leafParent;
    // Per tree and species: position of its leaf in the tree's run, or -1.
    std::vector<int32_t> speciesLeaf;
};
static Batch s_batch;

// Batches are flushed at this many bytes of outside sets and species places,
// or at an eighth of the table when that is more: this bounds the memory a
// fill takes beyond the table whatever the number of trees, and the number
// of passes over a large table.
constexpr size_t kBatchBytes = size_t{64} << 20;
static size_t batchLimit(size_t tableBytes) {
    return std::max(kBatchBytes, tableBytes / 8);
}
// Rows added together: as many as fit this much of the cache.
constexpr size_t kTileBytes = size_t{256} << 10;

// Appends a tree of distinct species, given as parents and leaf species of
// nodes listed children first (parents after their children).
static void appendToBatch(const int32_t* parent, const int32_t* species, int32_t nodes,
                          int32_t weight) {
    const auto bytes = static_cast<size_t>(rowBytes());
    const auto n = static_cast<size_t>(g_tripleWeight.species);
    const auto count = static_cast<size_t>(nodes);
    // Batch numbers of the inner nodes, in the tree's order.
    std::vector<int32_t> index(count, -1);
    const auto firstNode = static_cast<int32_t>(s_batch.nodeParent.size());
    int32_t innerCount = 0;
    for (size_t v = 0; v < count; ++v)
        if (species[v] < 0) index[v] = firstNode + innerCount++;
    // Leaves and species sets below every node, children first.
    std::vector<int32_t> leaves(count, 0);
    std::vector<uint8_t> below(count * bytes, 0);
    std::vector<uint8_t> all(bytes, 0);
    for (size_t v = 0; v < count; ++v) {
        uint8_t* mine = below.data() + v * bytes;
        if (species[v] >= 0) {
            leaves[v] = 1;
            mine[species[v] / kLanes] = static_cast<uint8_t>(1u << (species[v] % kLanes));
            all[species[v] / kLanes] |= mine[species[v] / kLanes];
        }
        if (parent[v] < 0) continue;
        const auto up = static_cast<size_t>(parent[v]);
        leaves[up] += leaves[v];
        uint8_t* theirs = below.data() + up * bytes;
        for (size_t b = 0; b < bytes; ++b)
            theirs[b] |= mine[b];
    }
    // Runs of the depth-first leaf order, parents first: each child takes the
    // next part of its parent's run.
    std::vector<int32_t> first(count, 0);
    std::vector<int32_t> next(count, 0);
    BatchTree tree{weight, firstNode, static_cast<int32_t>(s_batch.leafSpecies.size()), 0};
    for (size_t v = count; v-- > 0;) {
        if (parent[v] >= 0) {
            const auto up = static_cast<size_t>(parent[v]);
            first[v] = next[up];
            next[up] += leaves[v];
        }
        next[v] = first[v];
        if (species[v] >= 0) ++tree.leafCount;
    }
    s_batch.leafSpecies.resize(static_cast<size_t>(tree.firstLeaf + tree.leafCount));
    s_batch.leafParent.resize(static_cast<size_t>(tree.firstLeaf + tree.leafCount));
    const size_t speciesBase = s_batch.speciesLeaf.size();
    s_batch.speciesLeaf.resize(speciesBase + n, -1);
    const size_t maskBase = s_batch.outsideBytes.size();
    s_batch.outsideBytes.resize(maskBase + static_cast<size_t>(innerCount) * bytes, 0);
    for (size_t v = 0; v < count; ++v) {
        const int32_t above = parent[v] < 0 ? -1 : index[static_cast<size_t>(parent[v])];
        if (species[v] >= 0) {
            const auto at = static_cast<size_t>(tree.firstLeaf + first[v]);
            s_batch.leafSpecies[at] = species[v];
            s_batch.leafParent[at] = above;
            s_batch.speciesLeaf[speciesBase + static_cast<size_t>(species[v])] = first[v];
            continue;
        }
        s_batch.nodeParent.push_back(above);
        s_batch.nodeFirst.push_back(first[v]);
        s_batch.nodeCount.push_back(leaves[v]);
        uint8_t* outside = s_batch.outsideBytes.data() + maskBase +
                           static_cast<size_t>(index[v] - firstNode) * bytes;
        const uint8_t* mine = below.data() + v * bytes;
        uint8_t any = 0;
        for (size_t b = 0; b < bytes; ++b) {
            outside[b] = static_cast<uint8_t>(all[b] & ~mine[b]);
            any |= outside[b];
        }
        s_batch.nodeOutside.push_back(any != 0 ? 1 : 0);
    }
    s_batch.trees.push_back(tree);
}

// Working rows of one thread: for each tree of the batch, the node where p
// meets every species (-1 where it does not), for the p being added.
struct MeetRows {
    std::vector<int32_t> meet;
};

static void findMeetings(int32_t p, const BatchTree& tree, size_t t, MeetRows* rows) {
    const auto n = static_cast<size_t>(g_tripleWeight.species);
    int32_t* meet = rows->meet.data() + t * n;
    std::fill(meet, meet + n, -1);
    const int32_t at = s_batch.speciesLeaf[t * n + static_cast<size_t>(p)];
    if (at < 0) return;
    const int32_t* leafSpecies = s_batch.leafSpecies.data() + tree.firstLeaf;
    int32_t childFirst = at;
    int32_t childEnd = at + 1;
    for (int32_t u = s_batch.leafParent[static_cast<size_t>(tree.firstLeaf + at)]; u >= 0;
         u = s_batch.nodeParent[static_cast<size_t>(u)]) {
        const int32_t first = s_batch.nodeFirst[static_cast<size_t>(u)];
        const int32_t end = first + s_batch.nodeCount[static_cast<size_t>(u)];
        for (int32_t i = first; i < childFirst; ++i)
            meet[leafSpecies[i]] = u;
        for (int32_t i = childEnd; i < end; ++i)
            meet[leafSpecies[i]] = u;
        childFirst = first;
        childEnd = end;
    }
}

// Adds rows w[p][q] for q in [from, to), q > p, over every tree of the batch.
static void addBatchTile(int32_t p, int32_t from, int32_t to, const MeetRows& rows,
                         bool useVector) {
    const auto n = static_cast<size_t>(g_tripleWeight.species);
    const int bytes = rowBytes();
    for (size_t t = 0; t < s_batch.trees.size(); ++t) {
        if (s_batch.speciesLeaf[t * n + static_cast<size_t>(p)] < 0) continue;
        const int32_t* meet = rows.meet.data() + t * n;
        const int32_t weight = s_batch.trees[t].weight;
        for (int32_t q = std::max(from, p + 1); q < to; ++q) {
            const int32_t u = meet[q];
            if (u < 0 || s_batch.nodeOutside[static_cast<size_t>(u)] == 0) continue;
            addMask(
                changeTripleRow(p, q),
                s_batch.outsideBytes.data() + static_cast<size_t>(u) * static_cast<size_t>(bytes),
                bytes, weight, useVector);
        }
    }
}

// Progress of a fill: trees already added before this batch, and all trees.
static int64_t s_treesAdded = 0;
static int64_t s_treesToAdd = 0;

// Rows of different p are disjoint, so threads share them out with no
// locking, and the sums do not depend on who adds what.
static void addBatchRows(std::atomic<int32_t>* nextRow, bool useVector) {
    const int32_t n = g_tripleWeight.species;
    const auto tile = static_cast<int32_t>(
        std::max<size_t>(1, kTileBytes / (g_tripleWeight.rowLength * sizeof(int32_t))));
    MeetRows rows;
    rows.meet.resize(s_batch.trees.size() * static_cast<size_t>(n));
    for (int32_t p = (*nextRow)++; p < n; p = (*nextRow)++) {
        for (size_t t = 0; t < s_batch.trees.size(); ++t)
            findMeetings(p, s_batch.trees[t], t, &rows);
        for (int32_t from = p + 1; from < n; from += tile)
            addBatchTile(p, from, std::min(n, from + tile), rows, useVector);
        // Row p costs about n - p pairs: the share of the batch done so far.
        const int64_t pairsDone = int64_t{p + 1} * (2 * int64_t{n} - p) / 2;
        const int64_t pairs = int64_t{n} * (n + 1) / 2;
        reportProgress(
            ProgressStage::kFill,
            s_treesAdded * pairs + static_cast<int64_t>(s_batch.trees.size()) * pairsDone,
            std::max<int64_t>(s_treesToAdd, 1) * pairs);
    }
}

static void clearBatch() {
    s_batch.trees.clear();
    s_batch.nodeParent.clear();
    s_batch.nodeFirst.clear();
    s_batch.nodeCount.clear();
    s_batch.nodeOutside.clear();
    s_batch.outsideBytes.clear();
    s_batch.leafSpecies.clear();
    s_batch.leafParent.clear();
    s_batch.speciesLeaf.clear();
}

static void flushBatch() {
    if (s_batch.trees.empty()) return;
    std::atomic<int32_t> nextRow{0};
    const bool useVector = vectorKernelsUsable();
    runOnThreads(threadCountToUse(), [&nextRow, useVector] { addBatchRows(&nextRow, useVector); });
    s_treesAdded += static_cast<int64_t>(s_batch.trees.size());
    clearBatch();
}

static bool batchIsFull() {
    return s_batch.outsideBytes.size() + s_batch.speciesLeaf.size() * sizeof(int32_t) >=
           batchLimit(g_tripleWeight.entries.size() * sizeof(int32_t));
}

// ---------------------------------------------------------------------------
// tressil's numbered input: binary trees of TreeNode records.

// Running total of w[i][j][k] over i < j, all k: 64-bit so that the test
// against the limit itself cannot overflow.
static int64_t s_tripleTotal = 0;
static bool s_tooLarge = false;

// Leaf sets of the two children of one inner node.
struct NodeSides {
    SpeciesSet left;
    SpeciesSet right;
};

// The tree's nodes children first, with the leaf sets of both children of
// every inner node, and its nodes as parents and leaf species for the batch
// (a missing child is left out). Returns the number of leaves, repeats
// included.
static int64_t collectSides(const TreeNode* root, std::vector<NodeSides>& sides,
                            std::vector<int32_t>& parent, std::vector<int32_t>& species) {
    struct Frame {
        const TreeNode* node;
        int stage;  // children already visited
    };
    struct Value {
        SpeciesSet set;
        int32_t node;  // index in parent/species, or -1 for a missing child
    };
    static std::vector<Frame> frames;
    static std::vector<Value> values;
    frames.clear();
    values.clear();
    sides.clear();
    parent.clear();
    species.clear();
    int64_t leaves = 0;
    frames.push_back({root, 0});
    while (!frames.empty()) {
        Frame& frame = frames.back();
        const TreeNode* node = frame.node;
        if (node == nullptr || (node->left == nullptr && node->right == nullptr)) {
            Value value{SpeciesSet{}, -1};
            if (node != nullptr) {
                ++leaves;
                insertSpecies(&value.set, node->label);
                value.node = static_cast<int32_t>(parent.size());
                parent.push_back(-1);
                species.push_back(node->label);
            }
            values.push_back(std::move(value));
            frames.pop_back();
        } else if (frame.stage < 2) {
            const TreeNode* child = frame.stage == 0 ? node->left : node->right;
            ++frame.stage;
            frames.push_back({child, 0});
        } else {
            const auto self = static_cast<int32_t>(parent.size());
            parent.push_back(-1);
            species.push_back(-1);
            for (size_t c = values.size() - 2; c < values.size(); ++c)
                if (values[c].node >= 0) parent[static_cast<size_t>(values[c].node)] = self;
            Value right = std::move(values.back());
            values.pop_back();
            Value& left = values.back();
            sides.push_back({left.set, right.set});
            left.set = uniteSets(left.set, right.set);
            left.node = self;
            frames.pop_back();
        }
    }
    return leaves;
}

// Number of table additions the tree makes; stops counting past the limit.
static int64_t countAdditions(const std::vector<NodeSides>& sides) {
    int64_t total = 0;
    for (const NodeSides& s : sides) {
        const int64_t a = countSpecies(s.left);
        const int64_t b = countSpecies(s.right);
        total += a * (b * (b - 1) / 2) + b * (a * (a - 1) / 2);
        if (total > kMaxTripleTotal) break;
    }
    return total;
}

// Repeated species: each side of a node counts as a set, node by node. Adds
// weight to w[p][q][k] for every pair p < q of pairSide and k of thirdSide.
static void addSideTriples(const SpeciesSet& pairSide, const SpeciesSet& thirdSide, int32_t weight,
                           bool useVector) {
    int pairs[kMaxSpecies];
    uint8_t bytes[kMaxSpecies / kLanes];
    const int pairCount = listSpecies(pairSide, pairs);
    const int byteCount = rowBytes();
    speciesSetBytes(thirdSide, bytes, byteCount);
    for (int a = 0; a < pairCount; ++a)
        for (int b = a + 1; b < pairCount; ++b)
            addMask(changeTripleRow(pairs[a], pairs[b]), bytes, byteCount, weight, useVector);
}

void clearTripleWeights() {
    // The dump reads the species below kDumpSpecies whatever n is.
    sizeTripleTable(std::max(g_speciesCount, kDumpSpecies));
    s_tripleTotal = 0;
    s_tooLarge = false;
    clearBatch();
}

void addTreeTriples(const TreeNode* node, int32_t weight) {
    if (node == nullptr || weight < 1 || s_tooLarge) return;
    static std::vector<NodeSides> sides;
    static std::vector<int32_t> parent;
    static std::vector<int32_t> species;
    const int64_t leaves = collectSides(node, sides, parent, species);
    // Both factors are at most 2^31, so the product fits in 64 bits.
    const int64_t additions = countAdditions(sides);
    if (additions > kMaxTripleTotal || additions * weight > kMaxTripleTotal - s_tripleTotal) {
        s_tooLarge = true;
        return;
    }
    s_tripleTotal += additions * weight;
    if (sides.empty()) return;
    const NodeSides& root = sides.back();
    if (leaves != countSpecies(uniteSets(root.left, root.right))) {
        const bool useVector = vectorKernelsUsable();
        for (const NodeSides& s : sides) {
            addSideTriples(s.right, s.left, weight, useVector);
            addSideTriples(s.left, s.right, weight, useVector);
        }
        return;
    }
    appendToBatch(parent.data(), species.data(), static_cast<int32_t>(parent.size()), weight);
    if (batchIsFull()) flushBatch();
}

bool tripleWeightTooLarge() {
    return s_tooLarge;
}

void completeTripleWeights() {
    flushBatch();
}

// ---------------------------------------------------------------------------
// Gene trees of infer.

// Leaves of each species in a tree: species with more than one leaf, and the
// product of the three largest counts.
static int64_t largestTripleOfCounts(const GeneTree& tree, std::vector<int32_t>* counts) {
    int64_t top[3] = {0, 0, 0};
    std::vector<int32_t> touched;
    for (const int32_t s : tree.species) {
        if (s < 0) continue;
        if ((*counts)[static_cast<size_t>(s)]++ == 0) touched.push_back(s);
    }
    for (const int32_t s : touched) {
        int64_t c = (*counts)[static_cast<size_t>(s)];
        (*counts)[static_cast<size_t>(s)] = 0;
        for (int64_t& t : top)
            if (c > t) std::swap(c, t);
    }
    return std::max<int64_t>(top[0], 1) * std::max<int64_t>(top[1], 1) *
           std::max<int64_t>(top[2], 1);
}

// Room kept above every sum over the table: sums of lean values meet each
// entry at most four times, and this leaves a factor 4 more.
constexpr int64_t kMaxTableSumBound = int64_t{1} << 60;

GeneTreeLoad measureGeneTrees(const std::vector<GeneTree>& trees, int32_t species) {
    std::vector<int32_t> counts(static_cast<size_t>(species), 0);
    GeneTreeLoad load{0, true};
    for (const GeneTree& tree : trees) {
        // A product of three leaf counts: each below 2^21 in any tree that
        // fits in memory, so it fits 64 bits; the weight is below 2^31.
        int64_t growth = 0;
        if (__builtin_mul_overflow(largestTripleOfCounts(tree, &counts), int64_t{tree.weight},
                                   &growth) ||
            __builtin_add_overflow(load.entryBound, growth, &load.entryBound) ||
            load.entryBound > INT32_MAX) {
            load.fits = false;
            return load;
        }
    }
    // Every sum over the table meets each species triple's entries at most a
    // few times: entryBound * n^3 bounds them all.
    const int64_t n = species;
    int64_t cube = 0;
    int64_t bound = 0;
    load.fits = !__builtin_mul_overflow(n * n, n, &cube) &&
                !__builtin_mul_overflow(cube, std::max<int64_t>(load.entryBound, 1), &bound) &&
                bound <= kMaxTableSumBound;
    return load;
}

// A tree whose leaves are individuals: node by node, each pair of leaves of
// two different species below different children gains, for its species
// pair, the count of every third species outside the node, its own two
// species excepted. The counts are added as they are: with the weight, the
// sum stays within the entry bound that measureGeneTrees checked.
static void addIndividualsTree(const GeneTree& tree) {
    const auto nodes = static_cast<int32_t>(tree.parent.size());
    const auto n = static_cast<size_t>(g_tripleWeight.species);
    // Species counts below every node, children before parents.
    std::vector<std::vector<int32_t>> below(static_cast<size_t>(nodes));
    std::vector<std::vector<int32_t>> leavesBelow(static_cast<size_t>(nodes));
    std::vector<int32_t> total(n, 0);
    for (int32_t v = 0; v < nodes; ++v) {
        if (below[static_cast<size_t>(v)].empty()) below[static_cast<size_t>(v)].assign(n, 0);
        if (tree.species[static_cast<size_t>(v)] >= 0) {
            ++below[static_cast<size_t>(v)]
                   [static_cast<size_t>(tree.species[static_cast<size_t>(v)])];
            ++total[static_cast<size_t>(tree.species[static_cast<size_t>(v)])];
            leavesBelow[static_cast<size_t>(v)].push_back(tree.species[static_cast<size_t>(v)]);
        }
    }
    std::vector<std::vector<int32_t>> children(static_cast<size_t>(nodes));
    for (int32_t v = 0; v < nodes; ++v)
        if (tree.parent[static_cast<size_t>(v)] >= 0)
            children[static_cast<size_t>(tree.parent[static_cast<size_t>(v)])].push_back(v);
    std::vector<int32_t> outside(n);
    for (int32_t v = 0; v < nodes; ++v) {
        const auto& kids = children[static_cast<size_t>(v)];
        if (kids.empty()) continue;
        std::vector<int32_t>& mine = below[static_cast<size_t>(v)];
        for (const int32_t c : kids)
            for (size_t s = 0; s < n; ++s)
                mine[s] += below[static_cast<size_t>(c)][s];
        for (size_t s = 0; s < n; ++s)
            outside[s] = (total[s] - mine[s]) * tree.weight;
        for (size_t a = 0; a < kids.size(); ++a)
            for (size_t b = a + 1; b < kids.size(); ++b)
                for (const int32_t x : leavesBelow[static_cast<size_t>(kids[a])])
                    for (const int32_t y : leavesBelow[static_cast<size_t>(kids[b])]) {
                        if (x == y) continue;
                        int32_t* row = changeTripleRow(x, y);
                        for (size_t s = 0; s < n; ++s)
                            row[s] += outside[s];
                        row[x] -= outside[static_cast<size_t>(x)];
                        row[y] -= outside[static_cast<size_t>(y)];
                    }
        for (const int32_t c : kids) {
            auto& from = leavesBelow[static_cast<size_t>(c)];
            leavesBelow[static_cast<size_t>(v)].insert(leavesBelow[static_cast<size_t>(v)].end(),
                                                       from.begin(), from.end());
            std::vector<int32_t>().swap(from);
            std::vector<int32_t>().swap(below[static_cast<size_t>(c)]);
        }
    }
}

static bool hasDistinctLeaves(const GeneTree& tree, std::vector<char>* seen) {
    bool distinct = true;
    for (const int32_t s : tree.species) {
        if (s < 0) continue;
        if ((*seen)[static_cast<size_t>(s)]) distinct = false;
        (*seen)[static_cast<size_t>(s)] = 1;
    }
    for (const int32_t s : tree.species)
        if (s >= 0) (*seen)[static_cast<size_t>(s)] = 0;
    return distinct;
}

void fillTripleTable(const std::vector<GeneTree>& trees, int32_t species) {
    sizeTripleTable(species);
    clearBatch();
    std::vector<char> seen(static_cast<size_t>(species), 0);
    s_treesAdded = 0;
    s_treesToAdd = static_cast<int64_t>(trees.size());
    for (const GeneTree& tree : trees) {
        if (!hasDistinctLeaves(tree, &seen)) {
            ++s_treesAdded;
            addIndividualsTree(tree);
            continue;
        }
        appendToBatch(tree.parent.data(), tree.species.data(),
                      static_cast<int32_t>(tree.parent.size()), tree.weight);
        if (batchIsFull()) flushBatch();
    }
    flushBatch();
}

int64_t fillWorkingBytes(int32_t species, int64_t tableBytes, int threads) {
    // A batch passes its limit by at most one tree, of at most 2n nodes of
    // n / 8 outside bytes and about 40 bytes of other records each. Every
    // tree takes at least 4n bytes of species places, which bounds the
    // number of trees in a batch and so each thread's meeting rows.
    const int64_t n = std::max(species, 1);
    const auto limit = static_cast<int64_t>(batchLimit(static_cast<size_t>(tableBytes)));
    const int64_t oneTree = 2 * n * (n / kLanes + 1 + 40) + 4 * n;
    const int64_t batchTrees = limit / (4 * n) + 1;
    return limit + oneTree + int64_t{threads} * batchTrees * n * 4;
}

int64_t tripleTableTotal() {
    const int n = g_tripleWeight.species;
    int64_t total = 0;
    for (int j = 1; j < n; ++j)
        for (int i = 0; i < j; ++i) {
            const int32_t* row = tripleRow(i, j);
            for (int k = 0; k < n; ++k)
                total += row[k];
        }
    return total;
}

TripleSupport tripleSupport(const SpeciesSet& a, const SpeciesSet& b) {
    const SpeciesSet out = subtractSets(firstSpecies(g_speciesCount), uniteSets(a, b));
    std::vector<int> x(static_cast<size_t>(g_speciesCount));
    std::vector<int> y(static_cast<size_t>(g_speciesCount));
    std::vector<int> z(static_cast<size_t>(g_speciesCount));
    const int nx = listSpecies(a, x.data()), ny = listSpecies(b, y.data()),
              nz = listSpecies(out, z.data());
    TripleSupport support{0, 0};
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j) {
            const int32_t* pair = tripleRow(x[i], y[j]);
            for (int k = 0; k < nz; ++k) {
                const int32_t agree = pair[z[k]];
                support.agreeing += agree;
                support.total +=
                    agree + tripleWeight(x[i], z[k], y[j]) + tripleWeight(y[j], z[k], x[i]);
            }
        }
    return support;
}
