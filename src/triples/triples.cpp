#include "triples/triples.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>
#include <vector>

#include "common/vector_lanes.h"

// One byte of a set covers the species of one vector of table entries.
static_assert(kLanes == 8, "a set byte per vector");
// Inner nodes of distinct-leaf trees held before they are added to the table.
constexpr size_t kBatchNodes = size_t{1} << 16;

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

// A nonzero byte of a set: where its eight lanes start in a row, and which
// of them are members.
struct MaskByte {
    uint8_t offset;
    uint8_t bits;
};

static int listMaskBytes(const SpeciesSet& set, MaskByte* bytes) {
    int count = 0;
    for (int w = 0; w < kSpeciesWords; ++w)
        for (uint64_t bits = set.word[w]; bits != 0;) {
            const int shift = __builtin_ctzll(bits) & ~(kLanes - 1);
            bytes[count++] = {static_cast<uint8_t>(kSpeciesWordBits * w + shift),
                              static_cast<uint8_t>((bits >> shift) & 0xFFu)};
            bits &= ~(uint64_t{0xFF} << shift);
        }
    return count;
}

// The kernel: w[p][q][k] += weight for every q of others and every k of the
// set the bytes were listed from, rows being the table block w[p]. Rows are
// kMaxSpecies wide and a set holds no species at or above n, so whole bytes
// may be added: the lanes of other species add 0. The eight entries go
// through a local array: the compiler then adds them as vectors of the
// baseline instruction set, where in place it adds them one by one.
static void addToRowsPortable(int32_t (*rows)[kMaxSpecies], const int* others, int count,
                              const MaskByte* bytes, int byteCount, int32_t weight) {
    for (int o = 0; o < count; ++o) {
        int32_t* row = rows[others[o]];
        for (int b = 0; b < byteCount; ++b) {
            int32_t lanes[kLanes];
            std::memcpy(lanes, row + bytes[b].offset, sizeof lanes);
            const int32_t* mask = kByteMask.lane[bytes[b].bits];
            for (int j = 0; j < kLanes; ++j)
                lanes[j] += weight & mask[j];
            std::memcpy(row + bytes[b].offset, lanes, sizeof lanes);
        }
    }
}

#ifdef TRESSIL_X86_VECTOR
// The same with one AVX2 addition per set byte.
TRESSIL_TARGET_AVX2 static void addToRowsVector(int32_t (*rows)[kMaxSpecies], const int* others,
                                                int count, const MaskByte* bytes, int byteCount,
                                                int32_t weight) {
    const __m256i weights = broadcast(static_cast<uint32_t>(weight));
    for (int o = 0; o < count; ++o) {
        int32_t* row = rows[others[o]];
        for (int b = 0; b < byteCount; ++b) {
            int32_t* lanes = row + bytes[b].offset;
            const __m256i mask = loadLanes(kByteMask.lane[bytes[b].bits]);
            storeLanes(lanes, _mm256_add_epi32(loadLanes(lanes), _mm256_and_si256(weights, mask)));
        }
    }
}
#endif

static void addToRows(int32_t (*rows)[kMaxSpecies], const int* others, int count,
                      const MaskByte* bytes, int byteCount, int32_t weight, bool useVector) {
#ifdef TRESSIL_X86_VECTOR
    if (useVector) return addToRowsVector(rows, others, count, bytes, byteCount, weight);
#endif
    addToRowsPortable(rows, others, count, bytes, byteCount, weight);
}

// Leaf sets of the two children of one inner node, and the index of its
// parent among the tree's inner nodes (-1 at the root).
struct NodeSides {
    SpeciesSet left;
    SpeciesSet right;
    int32_t parent;
};

// An inner node of a batch tree, with the nonzero bytes of the set of its
// tree's species outside it.
struct BatchNode {
    SpeciesSet left;
    SpeciesSet right;
    int32_t parent;  // index in s_batchNodes, -1 at the root
    int32_t byteCount;
    MaskByte bytes[kMaxSpecies / kLanes];
};

struct BatchTree {
    int32_t weight;
    int32_t leafParent[kMaxSpecies];  // index in s_batchNodes, -1 if absent
};

// Running total of w[i][j][k] over i < j, all k: 64-bit so that the test
// against the limit itself cannot overflow.
static int64_t s_tripleTotal = 0;
static bool s_tooLarge = false;
static std::vector<BatchNode> s_batchNodes;
static std::vector<BatchTree> s_batchTrees;
static int32_t s_leafParent[kMaxSpecies];  // of the tree last walked, by species

// Walks the tree children first without recursion and records the leaf sets
// of both children of every inner node, parents after children, and the
// parent of every leaf in s_leafParent. A missing child has an empty set.
// Returns the number of leaves, repeats included.
static int64_t collectSides(const TreeNode* root, std::vector<NodeSides>& sides) {
    struct Frame {
        const TreeNode* node;
        int stage;  // children already visited
    };
    struct Value {
        SpeciesSet set;
        int32_t inner;  // index in sides, or -1 for a leaf or a missing child
        int32_t label;  // species of a leaf, or -1
    };
    static std::vector<Frame> frames;
    static std::vector<Value> values;
    frames.clear();
    values.clear();
    sides.clear();
    std::fill(s_leafParent, s_leafParent + kMaxSpecies, -1);
    int64_t leaves = 0;
    frames.push_back({root, 0});
    while (!frames.empty()) {
        Frame& frame = frames.back();
        const TreeNode* node = frame.node;
        if (node == nullptr || (node->left == nullptr && node->right == nullptr)) {
            Value value{SpeciesSet{}, -1, -1};
            if (node != nullptr) {
                ++leaves;
                value.label = node->label;
                insertSpecies(&value.set, value.label);
            }
            values.push_back(value);
            frames.pop_back();
        } else if (frame.stage < 2) {
            const TreeNode* child = frame.stage == 0 ? node->left : node->right;
            ++frame.stage;
            frames.push_back({child, 0});
        } else {
            const auto self = static_cast<int32_t>(sides.size());
            for (size_t c = values.size() - 2; c < values.size(); ++c) {
                if (values[c].inner >= 0) sides[static_cast<size_t>(values[c].inner)].parent = self;
                if (values[c].label >= 0) s_leafParent[values[c].label] = self;
            }
            const Value right = values.back();
            values.pop_back();
            const Value left = values.back();
            sides.push_back({left.set, right.set, -1});
            values.back() = {uniteSets(left.set, right.set), self, -1};
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
    MaskByte bytes[kMaxSpecies / kLanes];
    const int pairCount = listSpecies(pairSide, pairs);
    const int byteCount = listMaskBytes(thirdSide, bytes);
    for (int a = 0; a < pairCount; ++a)
        addToRows(g_tripleWeight[pairs[a]], pairs + a + 1, pairCount - a - 1, bytes, byteCount,
                  weight, useVector);
}

// With distinct leaves a pair p, q gains exactly the species of its tree
// outside the node where p and q meet: one row addition per pair. This adds
// the rows w[p][q] with q > p for one p, over every tree of the batch, so
// that the rows stay in cache while all trees pass. The nodes where p meets
// others are the ones on its way to the root.
static void addBatchRowsOf(int p, bool useVector) {
    int others[kMaxSpecies];
    for (const BatchTree& tree : s_batchTrees)
        for (int32_t u = tree.leafParent[p]; u >= 0;) {
            const BatchNode& node = s_batchNodes[static_cast<size_t>(u)];
            u = node.parent;
            if (node.byteCount == 0) continue;
            const SpeciesSet& otherSide = containsSpecies(node.left, p) ? node.right : node.left;
            const int count = listSpecies(membersAbove(otherSide, p), others);
            addToRows(g_tripleWeight[p], others, count, node.bytes, node.byteCount, tree.weight,
                      useVector);
        }
}

// Rows of different p are disjoint, so threads share them out with no
// locking, and the sums do not depend on who adds what.
static void addBatchRows(std::atomic<int>* nextRow, bool useVector) {
    for (int p = (*nextRow)++; p < g_speciesCount; p = (*nextRow)++)
        addBatchRowsOf(p, useVector);
}

static void flushBatch() {
    if (s_batchTrees.empty()) return;
    std::atomic<int> nextRow{0};
    const bool useVector = vectorKernelsUsable();
    runOnThreads(threadCountToUse(), [&nextRow, useVector] { addBatchRows(&nextRow, useVector); });
    s_batchNodes.clear();
    s_batchTrees.clear();
}

void clearTripleWeights() {
    // The dump reads the species below kDumpSpecies whatever n is.
    const int used = std::min(kMaxSpecies, std::max(g_speciesCount, kDumpSpecies));
    for (int i = 0; i < used; ++i)
        for (int j = 0; j < used; ++j)
            std::memset(g_tripleWeight[i][j], 0, sizeof(int32_t) * static_cast<size_t>(used));
    s_tripleTotal = 0;
    s_tooLarge = false;
    s_batchNodes.clear();
    s_batchTrees.clear();
}

void addTreeTriples(const TreeNode* node, int32_t weight) {
    if (node == nullptr || weight < 1 || s_tooLarge) return;
    static std::vector<NodeSides> sides;
    const int64_t leaves = collectSides(node, sides);
    // Both factors are at most 2^31, so the product fits in 64 bits.
    const int64_t additions = countAdditions(sides);
    if (additions > kMaxTripleTotal || additions * weight > kMaxTripleTotal - s_tripleTotal) {
        s_tooLarge = true;
        return;
    }
    s_tripleTotal += additions * weight;
    if (sides.empty()) return;
    const NodeSides& root = sides.back();
    const SpeciesSet all = uniteSets(root.left, root.right);
    if (leaves != countSpecies(all)) {
        const bool useVector = vectorKernelsUsable();
        for (const NodeSides& s : sides) {
            addSideTriples(s.right, s.left, weight, useVector);
            addSideTriples(s.left, s.right, weight, useVector);
        }
        return;
    }
    const auto base = static_cast<int32_t>(s_batchNodes.size());
    s_batchTrees.push_back({weight, {}});
    for (int species = 0; species < kMaxSpecies; ++species)
        s_batchTrees.back().leafParent[species] =
            s_leafParent[species] < 0 ? -1 : base + s_leafParent[species];
    for (const NodeSides& s : sides) {
        BatchNode node{s.left, s.right, s.parent < 0 ? -1 : base + s.parent, 0, {}};
        node.byteCount = listMaskBytes(subtractSets(all, uniteSets(s.left, s.right)), node.bytes);
        s_batchNodes.push_back(node);
    }
    if (s_batchNodes.size() >= kBatchNodes) flushBatch();
}

bool tripleWeightTooLarge() {
    return s_tooLarge;
}

void completeTripleWeights() {
    flushBatch();
    const int n = g_speciesCount;
    for (int p = 0; p < n; ++p)
        for (int q = p + 1; q < n; ++q)
            std::memcpy(g_tripleWeight[q][p], g_tripleWeight[p][q],
                        sizeof(int32_t) * static_cast<size_t>(n));
}

void addClusterTriples(const SpeciesSet& leaves, const SpeciesSet* clusters, int count,
                       int32_t weight) {
    if (weight < 1 || s_tooLarge) return;
    // Node 0 is the root; larger clusters first, so each comes after every
    // node that holds it and its parent is the innermost node seen so far.
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [clusters](int x, int y) {
        return countSpecies(clusters[x]) > countSpecies(clusters[y]);
    });
    std::vector<SpeciesSet> node{leaves};
    for (const int index : order)
        node.push_back(clusters[index]);
    std::vector<int> parent(node.size(), -1);
    int owner[kMaxSpecies];  // innermost node holding each species
    int species[kMaxSpecies];
    int members[kMaxSpecies];
    const int leafCount = listSpecies(leaves, species);
    for (int m = 0; m < leafCount; ++m)
        owner[species[m]] = 0;
    // Pairs that meet at a node: its pairs less those of its children.
    std::vector<int64_t> pairs(node.size());
    for (size_t v = 0; v < node.size(); ++v) {
        const int size = listSpecies(node[v], members);
        pairs[v] += int64_t{size} * (size - 1) / 2;
        if (v == 0) continue;
        parent[v] = owner[members[0]];
        pairs[static_cast<size_t>(parent[v])] -= int64_t{size} * (size - 1) / 2;
        for (int m = 0; m < size; ++m)
            owner[members[m]] = static_cast<int>(v);
    }
    int64_t additions = 0;  // at most 128^3 before the weight: no overflow
    for (size_t v = 0; v < node.size(); ++v)
        additions += pairs[v] * (leafCount - countSpecies(node[v]));
    if (additions > kMaxTripleTotal || additions * weight > kMaxTripleTotal - s_tripleTotal) {
        s_tooLarge = true;
        return;
    }
    s_tripleTotal += additions * weight;
    // p meets the others of each node on its way up, the root excepted,
    // where nothing is outside; the pair gains the tree's species outside the
    // node, through the same row kernel as every other tree.
    const bool useVector = vectorKernelsUsable();
    for (int m = 0; m < leafCount; ++m) {
        const int p = species[m];
        SpeciesSet below = singleSpecies(p);
        for (int v = owner[p]; v > 0;
             below = node[static_cast<size_t>(v)], v = parent[static_cast<size_t>(v)]) {
            const SpeciesSet& cluster = node[static_cast<size_t>(v)];
            int others[kMaxSpecies];
            const int otherCount =
                listSpecies(membersAbove(subtractSets(cluster, below), p), others);
            MaskByte bytes[kMaxSpecies / kLanes];
            const int byteCount = listMaskBytes(subtractSets(leaves, cluster), bytes);
            addToRows(g_tripleWeight[p], others, otherCount, bytes, byteCount, weight, useVector);
        }
    }
}

TripleSupport tripleSupport(const SpeciesSet& a, const SpeciesSet& b) {
    const SpeciesSet out = subtractSets(firstSpecies(g_speciesCount), uniteSets(a, b));
    int x[kMaxSpecies], y[kMaxSpecies], z[kMaxSpecies];
    const int nx = listSpecies(a, x), ny = listSpecies(b, y), nz = listSpecies(out, z);
    TripleSupport support{0, 0};
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            for (int k = 0; k < nz; ++k) {
                const int32_t agree = g_tripleWeight[x[i]][y[j]][z[k]];
                support.agreeing += agree;
                support.total +=
                    agree + g_tripleWeight[x[i]][z[k]][y[j]] + g_tripleWeight[y[j]][z[k]][x[i]];
            }
    return support;
}
