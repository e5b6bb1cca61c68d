#include "search/search.h"

#include <vector>

#include "heuristics/heuristics.h"
#include "io/io.h"

namespace {

// A heap copy of a tree, so that it outlives the pool it was built in.
TreeNode* copyTree(const TreeNode* node) {
    TreeNode* copy = allocateNode();
    copy->label = node->label;
    if (node->left != nullptr) {
        copy->left = copyTree(node->left);
        copy->right = copyTree(node->right);
    }
    return copy;
}

// Species below every node; fills sets in children-first order.
SpeciesSet gatherSpecies(const TreeNode* node, int64_t* score) {
    if (node->left == nullptr) return singleSpecies(node->label);
    const SpeciesSet left = gatherSpecies(node->left, score);
    const SpeciesSet right = gatherSpecies(node->right, score);
    const SpeciesSet below = uniteSets(left, right);
    const SpeciesSet outside = subtractSets(firstSpecies(g_speciesCount), below);
    int l[kMaxSpecies], r[kMaxSpecies], o[kMaxSpecies];
    const int nl = listSpecies(left, l), nr = listSpecies(right, r), no = listSpecies(outside, o);
    for (int a = 0; a < nl; ++a)
        for (int b = 0; b < nr; ++b)
            for (int c = 0; c < no; ++c)
                *score += g_tripleWeight[l[a]][r[b]][o[c]];
    return below;
}

}  // namespace

int64_t scoreTree(const TreeNode* root) {
    int64_t score = 0;
    gatherSpecies(root, &score);
    return score;
}

int64_t tripleWeightBound() {
    const int n = g_speciesCount;
    int64_t bound = 0;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            for (int c = b + 1; c < n; ++c) {
                const int32_t ab = g_tripleWeight[a][b][c];
                const int32_t ac = g_tripleWeight[a][c][b];
                const int32_t bc = g_tripleWeight[b][c][a];
                bound += ab > ac ? (ab > bc ? ab : bc) : (ac > bc ? ac : bc);
            }
    return bound;
}

SearchResult searchTree() {
    static TreeNode* pool[kPoolSize];
    if (pool[0] == nullptr) allocatePoolRecords(pool);
    TreeNode* best = nullptr;
    int64_t bestScore = 0;
    for (int index = 0; index < kCandidateCount; ++index) {
        const TreeNode* root = buildCandidate(index, pool);
        const int64_t score = scoreTree(root);
        if (best == nullptr || score > bestScore) {
            if (best != nullptr) freeTree(best);
            best = copyTree(root);
            bestScore = score;
        }
    }
    return {best, bestScore, tripleWeightBound()};
}
