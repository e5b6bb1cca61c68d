#include "triples/triples.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Species below a node, as a set of up to 128 species.
struct SpeciesBits {
    uint64_t word[2];
};

constexpr int kDumpSpecies = 6;  // the diagnostic dump reads indices below this
// With this many third species or more, a whole masked row is added at once,
// which the compiler turns into vector adds.
constexpr int kDenseRowThreshold = 8;

SpeciesBits unite(const SpeciesBits& a, const SpeciesBits& b) {
    return {{a.word[0] | b.word[0], a.word[1] | b.word[1]}};
}

int countSpecies(const SpeciesBits& s) {
    return __builtin_popcountll(s.word[0]) + __builtin_popcountll(s.word[1]);
}

// Writes the members in increasing order and returns their number.
int listSpecies(const SpeciesBits& s, int* members) {
    int count = 0;
    for (int w = 0; w < 2; ++w)
        for (uint64_t bits = s.word[w]; bits != 0; bits &= bits - 1)
            members[count++] = 64 * w + __builtin_ctzll(bits);
    return count;
}

// Leaf sets of the two children of one inner node.
struct NodeSides {
    SpeciesBits left;
    SpeciesBits right;
};

// Running total of w[i][j][k] over i < j, all k: 64-bit so that the test
// against the limit itself cannot overflow.
int64_t s_tripleTotal = 0;
bool s_tooLarge = false;

// Walks the tree children first without recursion and records the leaf sets
// of both children of every inner node. A missing child has an empty set.
void collectSides(const TreeNode* root, std::vector<NodeSides>& sides) {
    struct Frame {
        const TreeNode* node;
        int stage;  // children already visited
    };
    static thread_local std::vector<Frame> frames;
    static thread_local std::vector<SpeciesBits> values;
    frames.clear();
    values.clear();
    sides.clear();
    frames.push_back({root, 0});
    while (!frames.empty()) {
        Frame& frame = frames.back();
        const TreeNode* node = frame.node;
        if (node == nullptr || (node->left == nullptr && node->right == nullptr)) {
            SpeciesBits set{{0, 0}};
            if (node != nullptr) {
                const int label = node->label;
                set.word[label / 64] |= uint64_t{1} << (label % 64);
            }
            values.push_back(set);
            frames.pop_back();
        } else if (frame.stage < 2) {
            const TreeNode* child = frame.stage == 0 ? node->left : node->right;
            ++frame.stage;
            frames.push_back({child, 0});  // a null child yields an empty set
        } else {
            const SpeciesBits right = values.back();
            values.pop_back();
            const SpeciesBits left = values.back();
            values.back() = unite(left, right);
            sides.push_back({left, right});
            frames.pop_back();
        }
    }
}

// Number of table additions the tree makes; stops counting past the limit.
int64_t countAdditions(const std::vector<NodeSides>& sides) {
    int64_t total = 0;
    for (const NodeSides& s : sides) {
        const int64_t a = countSpecies(s.left);
        const int64_t b = countSpecies(s.right);
        total += a * (b * (b - 1) / 2) + b * (a * (a - 1) / 2);
        if (total > kMaxTripleTotal) break;
    }
    return total;
}

// Adds weight to w[p][q][k] for every pair p < q of pairSide and k of thirdSide.
void addSideTriples(const SpeciesBits& pairSide, const SpeciesBits& thirdSide, int32_t weight) {
    int pairs[kMaxSpecies];
    int thirds[kMaxSpecies];
    const int pairCount = listSpecies(pairSide, pairs);
    if (pairCount < 2) return;
    const int thirdCount = listSpecies(thirdSide, thirds);
    if (thirdCount == 0) return;
    const int n = g_speciesCount;
    if (thirdCount >= kDenseRowThreshold) {
        int32_t addend[kMaxSpecies] = {};
        for (int t = 0; t < thirdCount; ++t)
            addend[thirds[t]] = weight;
        for (int a = 0; a < pairCount; ++a)
            for (int b = a + 1; b < pairCount; ++b) {
                int32_t* row = g_tripleWeight[pairs[a]][pairs[b]];
                for (int k = 0; k < n; ++k)
                    row[k] += addend[k];
            }
        return;
    }
    for (int a = 0; a < pairCount; ++a)
        for (int b = a + 1; b < pairCount; ++b) {
            int32_t* row = g_tripleWeight[pairs[a]][pairs[b]];
            for (int t = 0; t < thirdCount; ++t)
                row[thirds[t]] += weight;
        }
}

}  // namespace

void clearTripleWeights() {
    const int used = std::min(kMaxSpecies, std::max(g_speciesCount, kDumpSpecies));
    for (int i = 0; i < used; ++i)
        for (int j = 0; j < used; ++j)
            std::memset(g_tripleWeight[i][j], 0, sizeof(int32_t) * static_cast<size_t>(used));
    s_tripleTotal = 0;
    s_tooLarge = false;
}

void addTreeTriples(const TreeNode* node, int32_t weight) {
    if (node == nullptr || weight < 1 || s_tooLarge) return;
    static thread_local std::vector<NodeSides> sides;
    collectSides(node, sides);
    // Both factors are at most 2^31, so the product fits in 64 bits.
    const int64_t additions = countAdditions(sides);
    if (additions > kMaxTripleTotal || additions * weight > kMaxTripleTotal - s_tripleTotal) {
        s_tooLarge = true;
        return;
    }
    s_tripleTotal += additions * weight;
    for (const NodeSides& s : sides) {
        addSideTriples(s.right, s.left, weight);
        addSideTriples(s.left, s.right, weight);
    }
}

bool tripleWeightTooLarge() {
    return s_tooLarge;
}

void completeTripleWeights() {
    const int n = g_speciesCount;
    for (int p = 0; p < n; ++p)
        for (int q = p + 1; q < n; ++q)
            std::memcpy(g_tripleWeight[q][p], g_tripleWeight[p][q],
                        sizeof(int32_t) * static_cast<size_t>(n));
}

void collectLeaves(const TreeNode* node, int32_t* leafSet) {
    std::vector<const TreeNode*> pending;
    if (node != nullptr) pending.push_back(node);
    while (!pending.empty()) {
        const TreeNode* current = pending.back();
        pending.pop_back();
        if (current->left == nullptr && current->right == nullptr) {
            leafSet[current->label] = 1;
            continue;
        }
        if (current->right != nullptr) pending.push_back(current->right);
        if (current->left != nullptr) pending.push_back(current->left);
    }
}
