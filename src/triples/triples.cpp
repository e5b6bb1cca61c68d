#include "triples/triples.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
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
    for (int b = 0; b < count; ++b) {
        const int w = b / (kSpeciesWordBits / kLanes);
        const int shift = (b % (kSpeciesWordBits / kLanes)) * kLanes;
        bytes[b] =
            w < wordCount(set) ? static_cast<uint8_t>((speciesWord(set, w) >> shift) & 0xFFu) : 0;
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
// Each inner node keeps the set of species below it; the q meeting p at a
// node on p's way up are those below it and not below its child towards p,
// read from the words of the set that the tile covers.

struct BatchTree {
    int32_t weight;
};

struct Batch {
    std::vector<BatchTree> trees;
    // Inner nodes: parent (batch index, -1 at a root), the species below as
    // set words (words() each), and the nonzero bytes of the set of the
    // tree's species outside: their number, then byte index and bits each,
    // from outsideStart.
    std::vector<int32_t> nodeParent;
    std::vector<uint64_t> nodeBelow;
    std::vector<int32_t> outsideStart;
    std::vector<uint16_t> outsideByte;
    std::vector<uint8_t> outsideBits;
    // Per tree and species: the parent of its leaf (batch index), or -1.
    std::vector<int32_t> speciesParent;
};
static Batch s_batch;

// Batches are flushed at this many bytes, or at an eighth of the table when
// that is more: this bounds the memory a fill takes beyond the table
// whatever the number of trees, and the number of passes over a large table.
constexpr size_t kBatchBytes = size_t{2} << 20;
static size_t batchLimit(size_t tableBytes) {
    return std::max(kBatchBytes, tableBytes / 8);
}
// Rows added together: as many as fit this much of the cache.
constexpr size_t kTileBytes = size_t{256} << 10;

static size_t batchWords() {
    return (static_cast<size_t>(g_tripleWeight.species) + kSpeciesWordBits - 1) / kSpeciesWordBits;
}

// Appends a tree of distinct species, given as parents and leaf species of
// nodes listed children first (parents after their children).
static void appendToBatch(const int32_t* parent, const int32_t* species, int32_t nodes,
                          int32_t weight) {
    const size_t words = batchWords();
    const auto n = static_cast<size_t>(g_tripleWeight.species);
    const auto count = static_cast<size_t>(nodes);
    const auto firstNode = static_cast<int32_t>(s_batch.nodeParent.size());
    // Batch numbers of the inner nodes, in the tree's order.
    std::vector<int32_t> index(count, -1);
    int32_t innerCount = 0;
    for (size_t v = 0; v < count; ++v)
        if (species[v] < 0) index[v] = firstNode + innerCount++;
    // Species below every node, children first; a leaf's set is its species.
    std::vector<uint64_t> below(count * words, 0);
    std::vector<uint64_t> all(words, 0);
    for (size_t v = 0; v < count; ++v) {
        uint64_t* mine = below.data() + v * words;
        if (species[v] >= 0) {
            const auto at = static_cast<size_t>(species[v]);
            mine[at / kSpeciesWordBits] |= uint64_t{1} << (at % kSpeciesWordBits);
            all[at / kSpeciesWordBits] |= uint64_t{1} << (at % kSpeciesWordBits);
        }
        if (parent[v] < 0) continue;
        uint64_t* theirs = below.data() + static_cast<size_t>(parent[v]) * words;
        for (size_t w = 0; w < words; ++w)
            theirs[w] |= mine[w];
    }
    const size_t speciesBase = s_batch.speciesParent.size();
    s_batch.speciesParent.resize(speciesBase + n, -1);
    for (size_t v = 0; v < count; ++v) {
        const int32_t above = parent[v] < 0 ? -1 : index[static_cast<size_t>(parent[v])];
        if (species[v] >= 0) {
            s_batch.speciesParent[speciesBase + static_cast<size_t>(species[v])] = above;
            continue;
        }
        s_batch.nodeParent.push_back(above);
        const uint64_t* mine = below.data() + v * words;
        s_batch.nodeBelow.insert(s_batch.nodeBelow.end(), mine, mine + words);
        for (size_t w = 0; w < words; ++w) {
            const uint64_t outside = all[w] & ~mine[w];
            for (size_t b = 0; b < kSpeciesWordBits / kLanes; ++b) {
                const auto bits = static_cast<uint8_t>((outside >> (b * kLanes)) & 0xFFu);
                if (bits == 0) continue;
                // Byte indexes stay below 2^16 for fewer than 2^19 species.
                s_batch.outsideByte.push_back(
                    static_cast<uint16_t>(w * (kSpeciesWordBits / kLanes) + b));
                s_batch.outsideBits.push_back(bits);
            }
        }
        // Node u's bytes run from outsideStart[u] to outsideStart[u + 1].
        s_batch.outsideStart.push_back(static_cast<int32_t>(s_batch.outsideByte.size()));
    }
    s_batch.trees.push_back({weight});
}

// The rows of q that gain one node's outside set.
struct TileRows {
    std::vector<int32_t*> rows;
};

static void addOutsidePortable(int32_t u, int rowCount, const TileRows& tile, int32_t weight) {
    const auto first = static_cast<size_t>(s_batch.outsideStart[static_cast<size_t>(u)]);
    const auto last = static_cast<size_t>(s_batch.outsideStart[static_cast<size_t>(u) + 1]);
    const uint16_t* byte = s_batch.outsideByte.data();
    const uint8_t* bits = s_batch.outsideBits.data();
    for (int r = 0; r < rowCount; ++r) {
        int32_t* row = tile.rows[static_cast<size_t>(r)];
        for (size_t b = first; b < last; ++b) {
            int32_t values[kLanes];
            int32_t* at = row + static_cast<size_t>(byte[b]) * kLanes;
            std::memcpy(values, at, sizeof values);
            const int32_t* laneMask = kByteMask.lane[bits[b]];
            for (int j = 0; j < kLanes; ++j)
                values[j] += weight & laneMask[j];
            std::memcpy(at, values, sizeof values);
        }
    }
}

#ifdef TRESSIL_X86_VECTOR
TRESSIL_TARGET_AVX2 static void addOutsideVector(int32_t u, int rowCount, const TileRows& tile,
                                                 int32_t weight) {
    const auto first = static_cast<size_t>(s_batch.outsideStart[static_cast<size_t>(u)]);
    const auto last = static_cast<size_t>(s_batch.outsideStart[static_cast<size_t>(u) + 1]);
    const uint16_t* byte = s_batch.outsideByte.data();
    const uint8_t* bits = s_batch.outsideBits.data();
    const __m256i weights = broadcast(static_cast<uint32_t>(weight));
    for (int r = 0; r < rowCount; ++r) {
        int32_t* row = tile.rows[static_cast<size_t>(r)];
        for (size_t b = first; b < last; ++b) {
            int32_t* at = row + static_cast<size_t>(byte[b]) * kLanes;
            const __m256i laneMask = loadLanes(kByteMask.lane[bits[b]]);
            storeLanes(at, _mm256_add_epi32(loadLanes(at), _mm256_and_si256(weights, laneMask)));
        }
    }
}
#endif

// Walks p's way up tree t of the batch: at each node with species outside,
// the q of [low, to) below it and not below its child towards p gain the
// node's outside set in row w[p][q].
static void addTreeRows(int32_t p, int32_t low, int32_t to, size_t t, TileRows* tile,
                        bool useVector) {
    const auto n = static_cast<size_t>(g_tripleWeight.species);
    int32_t u = s_batch.speciesParent[t * n + static_cast<size_t>(p)];
    if (u < 0) return;
    const size_t words = batchWords();
    const auto firstWord = static_cast<size_t>(low) / kSpeciesWordBits;
    const auto lastWord = static_cast<size_t>(to - 1) / kSpeciesWordBits;
    const int32_t weight = s_batch.trees[t].weight;
    int32_t* rowsOfP = changeTripleRow(p, p);
    const size_t length = g_tripleWeight.rowLength;
    const uint64_t* child = nullptr;  // the set below the child towards p; p alone at first
    for (; u >= 0; u = s_batch.nodeParent[static_cast<size_t>(u)]) {
        const uint64_t* mine = s_batch.nodeBelow.data() + static_cast<size_t>(u) * words;
        if (s_batch.outsideStart[static_cast<size_t>(u) + 1] >
            s_batch.outsideStart[static_cast<size_t>(u)]) {
            int rowCount = 0;
            for (size_t w = firstWord; w <= lastWord; ++w) {
                uint64_t meeting = mine[w];
                if (child != nullptr)
                    meeting &= ~child[w];
                else if (static_cast<size_t>(p) / kSpeciesWordBits == w)
                    meeting &= ~(uint64_t{1} << (static_cast<size_t>(p) % kSpeciesWordBits));
                const auto base = static_cast<int32_t>(w * kSpeciesWordBits);
                if (low > base) meeting &= ~uint64_t{0} << (low - base);
                if (to - base < kSpeciesWordBits) meeting &= (uint64_t{1} << (to - base)) - 1;
                // The rows of p with every q above it follow each other.
                int32_t* wordRows = rowsOfP + (base - p) * static_cast<std::ptrdiff_t>(length);
                for (; meeting != 0; meeting &= meeting - 1)
                    tile->rows[static_cast<size_t>(rowCount++)] =
                        wordRows + static_cast<size_t>(__builtin_ctzll(meeting)) * length;
            }
            if (rowCount > 0) {
#ifdef TRESSIL_X86_VECTOR
                if (useVector)
                    addOutsideVector(u, rowCount, *tile, weight);
                else
#endif
                    addOutsidePortable(u, rowCount, *tile, weight);
            }
        }
        child = mine;
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
    TileRows rows;
    rows.rows.resize(static_cast<size_t>(n));
    for (int32_t p = (*nextRow)++; p < n; p = (*nextRow)++) {
        for (int32_t from = p + 1; from < n; from += tile)
            for (size_t t = 0; t < s_batch.trees.size(); ++t)
                addTreeRows(p, from, std::min(n, from + tile), t, &rows, useVector);
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
    s_batch.nodeBelow.clear();
    s_batch.outsideStart.assign(1, 0);
    s_batch.outsideByte.clear();
    s_batch.outsideBits.clear();
    s_batch.speciesParent.clear();
}

static void flushBatch() {
    if (s_batch.trees.empty()) return;
    std::atomic<int32_t> nextRow{0};
    const bool useVector = vectorKernelsUsable();
    runOnThreads(threadCountToUse(), [&nextRow, useVector] { addBatchRows(&nextRow, useVector); });
    s_treesAdded += static_cast<int64_t>(s_batch.trees.size());
    clearBatch();
}

static size_t batchBytes() {
    return s_batch.nodeParent.size() * sizeof(int32_t) +
           s_batch.nodeBelow.size() * sizeof(uint64_t) +
           s_batch.outsideStart.size() * sizeof(int32_t) +
           s_batch.outsideByte.size() * (sizeof(uint16_t) + 1) +
           s_batch.speciesParent.size() * sizeof(int32_t) +
           s_batch.trees.size() * sizeof(BatchTree);
}

static bool batchIsFull() {
    return batchBytes() >=
           batchLimit(g_tripleWeight.rows * g_tripleWeight.rowLength * sizeof(int32_t));
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

GeneTreeLoad measureGeneTrees(const std::vector<GeneTree>& trees, int32_t species, int32_t unit) {
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
                !__builtin_mul_overflow(bound, int64_t{unit}, &bound) && bound <= kMaxTableSumBound;
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

double supportWeight(SupportRule rule, const float* supports, int count) {
    double largest = 0;
    double allWrong = 1;
    for (int k = 0; k < count; ++k) {
        double s = std::min(1.0, std::max(0.0, static_cast<double>(supports[k])));
        largest = std::max(largest, s);
        if (rule == SupportRule::kAboveChance) s = std::max(0.0, (3 * s - 1) / 2);
        allWrong *= 1 - s;
    }
    return rule == SupportRule::kLargest ? largest : 1 - allWrong;
}

// A tree whose triples are weighed by its supports, leaf by leaf: for leaves
// x and y of different species below different children of a node u, and
// each branch on the way up from u, the leaves z that join there (below the
// next node, not below the branch) gain the weight of the branches from u up
// to it. Individuals take part as in addIndividualsTree.
static void addWeightedTree(const GeneTree& tree, const TripleWeighting& weighting) {
    const auto nodes = static_cast<int32_t>(tree.parent.size());
    std::vector<std::vector<int32_t>> leaves(static_cast<size_t>(nodes));
    std::vector<std::vector<int32_t>> children(static_cast<size_t>(nodes));
    for (int32_t v = 0; v < nodes; ++v) {
        if (tree.species[static_cast<size_t>(v)] >= 0)
            leaves[static_cast<size_t>(v)].push_back(tree.species[static_cast<size_t>(v)]);
        const int32_t up = tree.parent[static_cast<size_t>(v)];
        if (up < 0) continue;
        children[static_cast<size_t>(up)].push_back(v);
        auto& into = leaves[static_cast<size_t>(up)];
        into.insert(into.end(), leaves[static_cast<size_t>(v)].begin(),
                    leaves[static_cast<size_t>(v)].end());
    }
    // The whole-number weight of each branch count on each way up from u.
    std::vector<float> path;
    std::vector<int32_t> ringWeight;
    for (int32_t u = 0; u < nodes; ++u) {
        const auto& kids = children[static_cast<size_t>(u)];
        if (kids.size() < 2) continue;
        path.clear();
        ringWeight.clear();
        for (int32_t v = u; tree.parent[static_cast<size_t>(v)] >= 0;
             v = tree.parent[static_cast<size_t>(v)]) {
            path.push_back(tree.support[static_cast<size_t>(v)]);
            ringWeight.push_back(static_cast<int32_t>(std::llround(
                supportWeight(weighting.rule, path.data(), static_cast<int>(path.size())) *
                weighting.scale * tree.weight)));
        }
        for (size_t a = 0; a < kids.size(); ++a)
            for (size_t b = a + 1; b < kids.size(); ++b)
                for (const int32_t x : leaves[static_cast<size_t>(kids[a])])
                    for (const int32_t y : leaves[static_cast<size_t>(kids[b])]) {
                        if (x == y) continue;
                        int32_t* row = changeTripleRow(x, y);
                        size_t k = 0;
                        for (int32_t v = u; tree.parent[static_cast<size_t>(v)] >= 0;
                             v = tree.parent[static_cast<size_t>(v)], ++k) {
                            const int32_t up = tree.parent[static_cast<size_t>(v)];
                            for (const int32_t w : children[static_cast<size_t>(up)]) {
                                if (w == v) continue;
                                for (const int32_t z : leaves[static_cast<size_t>(w)])
                                    if (z != x && z != y) row[z] += ringWeight[k];
                            }
                        }
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

void fillTripleTable(const std::vector<GeneTree>& trees, int32_t species,
                     const TripleWeighting* weighting) {
    sizeTripleTable(species);
    clearBatch();
    std::vector<char> seen(static_cast<size_t>(species), 0);
    s_treesAdded = 0;
    s_treesToAdd = static_cast<int64_t>(trees.size());
    for (const GeneTree& tree : trees) {
        if (weighting != nullptr && !tree.support.empty()) {
            ++s_treesAdded;
            addWeightedTree(tree, *weighting);
            continue;
        }
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

int64_t geneTreeBytes(int64_t count, int64_t nodes) {
    return count * static_cast<int64_t>(sizeof(GeneTree)) + nodes * 2 * sizeof(int32_t);
}

int64_t fillWorkingBytes(int32_t species, int64_t tableBytes, int threads, int64_t count,
                         int64_t nodes) {
    // A batch holds every tree but stops at its limit, passing it by at most
    // one tree of at most 2n nodes; a node takes its set below (n / 8 bytes),
    // at most 3n / 8 bytes of outside bytes and 8 of other records, a tree
    // 4n bytes of leaf parents. Its vectors may hold twice that while they
    // grow. Each thread keeps a list of n rows.
    const int64_t n = std::max(species, 1);
    const auto limit = static_cast<int64_t>(batchLimit(static_cast<size_t>(tableBytes)));
    const int64_t perNode = (n / kSpeciesWordBits + 1) * 8 + 3 * (n / kLanes + 1) + 8;
    const int64_t oneTree = 2 * n * perNode + 4 * n;
    const int64_t batch = std::min(limit, nodes * perNode + count * 4 * n) + oneTree;
    return 2 * batch + int64_t{threads} * 8 * n;
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

// ---------------------------------------------------------------------------
// Anchored triples.

// One gene tree as the anchored fill reads it. A tree of distinct species
// is read by species: leaf number s is species s, a missing species a leaf
// that meets no other. Otherwise leaves are numbered in species order. For
// every two leaves: the depth of the node where they meet, and the child of
// that node on the second leaf's side. Per clade, the whole-number share of
// a third leaf on one side of each node: at v "down" (the median's child
// towards the third leaf is v) at v of the clade's row, and 0 at nodes,
// where a leaf with itself, a missing leaf and the pair's own leaves point;
// "up" (v is the median and the third leaf lies above it) after all clades'
// rows, node by node, so that the clades of one node lie together.
struct AnchoredTree {
    int32_t nodes;
    int32_t clades;
    bool bySpecies;
    std::vector<int32_t> leafSpecies;
    std::vector<int32_t> leafMeetNode;           // leaves x leaves
    std::vector<int32_t> meetDepth;              // leaves x leaves
    std::vector<int32_t> toward;                 // leaves x leaves
    std::vector<int32_t> share;                  // clades x (nodes + 1), then nodes x clades
    int32_t upBase;                              // where the up shares start
    std::vector<std::vector<int32_t>> leavesOf;  // per species: leaf numbers
};

static size_t shareStride(const AnchoredTree& a) {
    return static_cast<size_t>(a.nodes) + 1;
}

// The leaves' nodes, and where every two meet: leaves below different
// children of a node meet there.
static std::vector<int32_t> meetLeaves(const GeneTree& tree, int32_t species, AnchoredTree* a) {
    const size_t nodes = tree.parent.size();
    std::vector<int32_t> leafNode;
    if (a->bySpecies) {
        leafNode.assign(static_cast<size_t>(species), -1);
        for (int32_t s = 0; s < species; ++s)
            a->leafSpecies.push_back(s);
        for (size_t v = 0; v < nodes; ++v)
            if (tree.species[v] >= 0)
                leafNode[static_cast<size_t>(tree.species[v])] = static_cast<int32_t>(v);
    } else {
        for (size_t v = 0; v < nodes; ++v)
            if (tree.species[v] >= 0) leafNode.push_back(static_cast<int32_t>(v));
        std::stable_sort(leafNode.begin(), leafNode.end(), [&tree](int32_t p, int32_t q) {
            return tree.species[static_cast<size_t>(p)] < tree.species[static_cast<size_t>(q)];
        });
        for (const int32_t v : leafNode)
            a->leafSpecies.push_back(tree.species[static_cast<size_t>(v)]);
    }
    const size_t leaves = leafNode.size();
    std::vector<int32_t> depth(nodes, 0);
    // Parents come after their children: from the top down, depths.
    for (size_t v = nodes; v-- > 0;)
        if (tree.parent[v] >= 0) depth[v] = depth[static_cast<size_t>(tree.parent[v])] + 1;
    std::vector<std::vector<int32_t>> below(nodes);
    std::vector<std::vector<int32_t>> children(nodes);
    for (size_t l = 0; l < leaves; ++l)
        if (leafNode[l] >= 0)
            below[static_cast<size_t>(leafNode[l])].push_back(static_cast<int32_t>(l));
    for (size_t v = 0; v < nodes; ++v)
        if (tree.parent[v] >= 0)
            children[static_cast<size_t>(tree.parent[v])].push_back(static_cast<int32_t>(v));
    // Leaves that never meet read as meeting deeper than any node, towards
    // the share of 0.
    a->leafMeetNode.assign(leaves * leaves, 0);
    a->meetDepth.assign(leaves * leaves, static_cast<int32_t>(nodes));
    a->toward.assign(leaves * leaves, static_cast<int32_t>(nodes));
    for (size_t v = 0; v < nodes; ++v) {
        const auto& kids = children[v];
        for (size_t i = 0; i < kids.size(); ++i)
            for (size_t j = 0; j < kids.size(); ++j) {
                if (i == j) continue;
                for (const int32_t x : below[static_cast<size_t>(kids[i])])
                    for (const int32_t y : below[static_cast<size_t>(kids[j])]) {
                        const size_t at = static_cast<size_t>(x) * leaves + static_cast<size_t>(y);
                        a->leafMeetNode[at] = static_cast<int32_t>(v);
                        a->meetDepth[at] = depth[v];
                        a->toward[at] = kids[j];
                    }
            }
        for (const int32_t c : kids) {
            auto& from = below[static_cast<size_t>(c)];
            below[v].insert(below[v].end(), from.begin(), from.end());
            std::vector<int32_t>().swap(from);
        }
    }
    return leafNode;
}

// The shares of every clade at every node: leaves of species outside the
// clade below the node's branch (down) and on its other side (up), over all
// of them. A clade holding every leaf of the tree adds nothing.
static void shareByClade(const GeneTree& tree, const std::vector<int32_t>& leafNode,
                         const AnchorClades& clades, int32_t unit, const TripleWeighting* weighting,
                         AnchoredTree* a) {
    const size_t nodes = tree.parent.size();
    const auto n = a->leavesOf.size();
    const size_t stride = shareStride(*a);
    const size_t count = static_cast<size_t>(clades.count);
    a->upBase = static_cast<int32_t>(count * stride);
    a->share.assign(count * stride + nodes * count, 0);
    std::vector<double> branch(nodes, 1.0);
    if (weighting != nullptr && !tree.support.empty())
        for (size_t v = 0; v < nodes; ++v)
            branch[v] = supportWeight(weighting->rule, &tree.support[v], 1);
    std::vector<int32_t> outside(nodes);
    for (int32_t c = 0; c < clades.count; ++c) {
        const uint8_t* inside = clades.inside.data() + static_cast<size_t>(c) * n;
        std::fill(outside.begin(), outside.end(), 0);
        int32_t all = 0;
        for (size_t l = 0; l < leafNode.size(); ++l)
            if (leafNode[l] >= 0 && inside[static_cast<size_t>(a->leafSpecies[l])] == 0) {
                outside[static_cast<size_t>(leafNode[l])] = 1;
                ++all;
            }
        if (all == 0) continue;
        for (size_t v = 0; v < nodes; ++v)
            if (tree.parent[v] >= 0) outside[static_cast<size_t>(tree.parent[v])] += outside[v];
        // unit * weight is at most 2^31 and a share at most 1: the rounded
        // value fits an entry, and the caller bounds the sum.
        const double scale = static_cast<double>(unit) * tree.weight / all;
        int32_t* down = a->share.data() + static_cast<size_t>(c) * stride;
        int32_t* up = a->share.data() + a->upBase + c;
        for (size_t v = 0; v < nodes; ++v) {
            down[v] = static_cast<int32_t>(std::llround(scale * branch[v] * outside[v]));
            up[v * count] =
                static_cast<int32_t>(std::llround(scale * branch[v] * (all - outside[v])));
        }
    }
}

static AnchoredTree prepareAnchored(const GeneTree& tree, int32_t species,
                                    const AnchorClades& clades, int32_t unit,
                                    const TripleWeighting* weighting, std::vector<char>* seen) {
    AnchoredTree a;
    a.nodes = static_cast<int32_t>(tree.parent.size());
    a.clades = clades.count;
    a.bySpecies = hasDistinctLeaves(tree, seen);
    a.leavesOf.resize(static_cast<size_t>(species));
    const std::vector<int32_t> leafNode = meetLeaves(tree, species, &a);
    for (size_t l = 0; l < leafNode.size(); ++l)
        if (leafNode[l] >= 0)
            a.leavesOf[static_cast<size_t>(a.leafSpecies[l])].push_back(static_cast<int32_t>(l));
    shareByClade(tree, leafNode, clades, unit, weighting, &a);
    return a;
}

// Prepared trees are added in batches of about this many bytes: each thread
// passes the whole batch for every row of its own, so the batch should stay
// in the cache it shares with the other threads.
constexpr size_t kAnchoredBatchBytes = size_t{4} << 20;

// Bytes of one prepared tree, for the batch limit.
static size_t anchoredBytes(const AnchoredTree& a) {
    return (a.leafMeetNode.size() * 3 + a.share.size() + a.leafSpecies.size() * 2) *
           sizeof(int32_t);
}

// The species tree's clade where every two species meet, with its depth.
struct CladeMeeting {
    const int32_t* clade;  // species x species
    const int32_t* depth;  // species x species
};

// Row w[species x][species y] gains, for every leaf z of a third species,
// the share of z's side of the median of x, y and z in the smallest clade
// of the three. The sides are chosen without branches: z is above the node
// u where x and y meet when it meets x higher up; it is on y's side when it
// meets x at u and y below u; otherwise on x's side or in a direction of its
// own at u, and towards it from where it meets x either way. By species,
// leaf z is species z and the leaves of x's and y's species point at the
// share of 0, so the loop runs over the row as it lies; otherwise leaves of
// x's or y's species are masked.
struct PairRow {
    int32_t* row;
    const int32_t* depthX;
    const int32_t* depthY;
    const int32_t* towardX;
    const int32_t* towardY;
    const int32_t* cladeX;
    const int32_t* cladeDepthX;
    const int32_t* shares;
    int32_t du;
    int32_t upRow;  // the up shares of the node where x and y meet
    int32_t pairClade;
    int32_t pairDepth;
    int32_t stride;
};

static int32_t pairShare(const PairRow& p, size_t z, size_t sz) {
    const int32_t c = p.cladeDepthX[sz] < p.pairDepth ? p.cladeX[sz] : p.pairClade;
    const int32_t dxz = p.depthX[z];
    const bool onY = dxz == p.du && p.depthY[z] > p.du;
    return p.shares[dxz < p.du ? p.upRow + c : c * p.stride + (onY ? p.towardY[z] : p.towardX[z])];
}

static inline int32_t speciesShare(const PairRow& p, size_t z) {
    const int32_t c = p.cladeDepthX[z] < p.pairDepth ? p.cladeX[z] : p.pairClade;
    const int32_t dxz = p.depthX[z];
    const int32_t down = dxz == p.du && p.depthY[z] > p.du ? p.towardY[z] : p.towardX[z];
    return p.shares[dxz < p.du ? p.upRow + c : c * p.stride + down];
}

static void addSpeciesRowPortable(const PairRow& p, size_t n) {
    for (size_t z = 0; z < n; ++z)
        p.row[z] += speciesShare(p, z);
}

#ifdef TRESSIL_X86_VECTOR
// Eight species at a time: the sides are selected lane by lane and the
// shares gathered. An index c * stride + side stays below the share table's
// size, which the table's memory keeps far below 2^31.
TRESSIL_TARGET_AVX2 static void addSpeciesRowVector(const PairRow& p, size_t n) {
    const __m256i du = broadcast(static_cast<uint32_t>(p.du));
    const __m256i upRow = broadcast(static_cast<uint32_t>(p.upRow));
    const __m256i pairDepth = broadcast(static_cast<uint32_t>(p.pairDepth));
    const __m256i pairClade = broadcast(static_cast<uint32_t>(p.pairClade));
    const __m256i stride = broadcast(static_cast<uint32_t>(p.stride));
    // Third species above u in the pair's own clade all take one share, so
    // eight of them need no gather. The pair's own species and missing ones
    // meet x no higher than u and never take this way.
    const __m256i above = broadcast(static_cast<uint32_t>(p.shares[p.upRow + p.pairClade]));
    size_t z = 0;
    for (; z + kLanes <= n; z += kLanes) {
        const __m256i outer = _mm256_cmpgt_epi32(pairDepth, loadLanes(p.cladeDepthX + z));
        const __m256i dxz = loadLanes(p.depthX + z);
        const __m256i up = _mm256_cmpgt_epi32(du, dxz);
        if (_mm256_movemask_epi8(_mm256_andnot_si256(outer, up)) == -1) {
            storeLanes(p.row + z, _mm256_add_epi32(loadLanes(p.row + z), above));
            continue;
        }
        const __m256i c = _mm256_blendv_epi8(pairClade, loadLanes(p.cladeX + z), outer);
        const __m256i onY = _mm256_and_si256(_mm256_cmpeq_epi32(dxz, du),
                                             _mm256_cmpgt_epi32(loadLanes(p.depthY + z), du));
        const __m256i down =
            _mm256_blendv_epi8(loadLanes(p.towardX + z), loadLanes(p.towardY + z), onY);
        const __m256i at = _mm256_blendv_epi8(_mm256_add_epi32(_mm256_mullo_epi32(c, stride), down),
                                              _mm256_add_epi32(upRow, c), up);
        const __m256i value = _mm256_i32gather_epi32(p.shares, at, 4);
        storeLanes(p.row + z, _mm256_add_epi32(loadLanes(p.row + z), value));
    }
    for (; z < n; ++z)
        p.row[z] += speciesShare(p, z);
}
#endif

static void addAnchoredPair(const AnchoredTree& a, const CladeMeeting& meeting, size_t x, size_t y,
                            bool useVector) {
    const size_t leaves = a.leafSpecies.size();
    const auto n = a.leavesOf.size();
    const auto sx = static_cast<size_t>(a.leafSpecies[x]);
    const auto sy = static_cast<size_t>(a.leafSpecies[y]);
    const PairRow p{changeTripleRow(static_cast<int>(sx), static_cast<int>(sy)),
                    a.meetDepth.data() + x * leaves,
                    a.meetDepth.data() + y * leaves,
                    a.toward.data() + x * leaves,
                    a.toward.data() + y * leaves,
                    meeting.clade + sx * n,
                    meeting.depth + sx * n,
                    a.share.data(),
                    a.meetDepth[x * leaves + y],
                    a.upBase + a.leafMeetNode[x * leaves + y] * a.clades,
                    meeting.clade[sx * n + sy],
                    meeting.depth[sx * n + sy],
                    static_cast<int32_t>(shareStride(a))};
    if (a.bySpecies) {
#ifdef TRESSIL_X86_VECTOR
        if (useVector) return addSpeciesRowVector(p, n);
#endif
        (void)useVector;
        return addSpeciesRowPortable(p, n);
    }
    for (size_t z = 0; z < leaves; ++z) {
        const auto sz = static_cast<size_t>(a.leafSpecies[z]);
        const int32_t value = pairShare(p, z, sz);
        p.row[sz] += (sz != sx && sz != sy) ? value : 0;
    }
}

// Rows of different first species are disjoint: threads share them out, and
// each passes every tree of the batch while its rows stay in the cache.
static void addAnchoredRows(const std::vector<AnchoredTree>& batch, const CladeMeeting& meeting,
                            int32_t n, std::atomic<int32_t>* next) {
    const bool useVector = vectorKernelsUsable();
    for (int32_t p = (*next)++; p < n; p = (*next)++)
        for (const AnchoredTree& a : batch)
            for (const int32_t x : a.leavesOf[static_cast<size_t>(p)]) {
                const auto leaves = static_cast<int32_t>(a.leafSpecies.size());
                for (int32_t y = x + 1; y < leaves; ++y)
                    if (a.leafSpecies[static_cast<size_t>(y)] > p &&
                        !a.leavesOf[static_cast<size_t>(a.leafSpecies[static_cast<size_t>(y)])]
                             .empty())
                        addAnchoredPair(a, meeting, static_cast<size_t>(x), static_cast<size_t>(y),
                                        useVector);
            }
}

void fillAnchoredTable(const std::vector<GeneTree>& trees, int32_t species,
                       const AnchorClades& clades, int32_t unit, const TripleWeighting* weighting) {
    sizeTripleTable(species);
    const auto n = static_cast<size_t>(species);
    std::vector<int32_t> cladeDepth(n * n, 0);
    for (size_t i = 0; i < n * n; ++i)
        if (clades.meet[i] >= 0) cladeDepth[i] = clades.depth[static_cast<size_t>(clades.meet[i])];
    // A species with itself: any clade, never used.
    std::vector<int32_t> cladeMeet = clades.meet;
    for (int32_t& c : cladeMeet)
        c = std::max(c, 0);
    const CladeMeeting meeting{cladeMeet.data(), cladeDepth.data()};
    std::vector<AnchoredTree> batch;
    size_t bytes = 0;
    int64_t done = 0;
    const auto flush = [&] {
        std::atomic<int32_t> next{0};
        runOnThreads(threadCountToUse(), [&batch, &meeting, species, &next] {
            addAnchoredRows(batch, meeting, species, &next);
        });
        done += static_cast<int64_t>(batch.size());
        reportProgress(ProgressStage::kFill, done, static_cast<int64_t>(trees.size()));
        batch.clear();
        bytes = 0;
    };
    std::vector<char> seen(n, 0);
    for (const GeneTree& tree : trees) {
        batch.push_back(prepareAnchored(tree, species, clades, unit, weighting, &seen));
        bytes += anchoredBytes(batch.back());
        if (bytes >= kAnchoredBatchBytes) flush();
    }
    if (!batch.empty()) flush();
}
