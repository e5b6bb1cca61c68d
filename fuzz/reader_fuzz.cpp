// libFuzzer target: arbitrary bytes through the real reader and, when they
// form a valid input, through the methods: small inputs through the exact
// method and the search, which must never pass the optimum.
//
// The reader is fuzzed at every size. The methods see only inputs of up to
// kFuzzMethodSpecies species: under the fuzzer's instrumentation the eight
// heuristic constructions take seconds on large inputs (one of 122 species
// and 3 trees took over 10 s and ended a long campaign on a timeout;
// slow_122_species in the corpus has that shape), while up to this size one
// input stays near a tenth of a second.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/common.h"
#include "exact/exact.h"
#include "heuristics/heuristics.h"
#include "io/io.h"
#include "search/search.h"

namespace {

constexpr int kFuzzExactSpecies = 8;
constexpr int kFuzzMethodSpecies = 32;

struct FatalCaught {};

void throwOnFatal(int, const char*) {
    throw FatalCaught{};
}

bool readBytes(const uint8_t* data, size_t size) {
    g_inFile = size == 0 ? std::tmpfile() : fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (g_inFile == nullptr) return false;
    try {
        readInput();
    } catch (const FatalCaught&) {
        return false;  // fatalExit has closed the input
    }
    std::fclose(g_inFile);
    g_inFile = nullptr;
    return true;
}

// Every species must be the label of exactly one leaf.
void checkTree(const TreeNode* root) {
    int seen[kMaxSpecies] = {};
    const TreeNode* pending[2 * kMaxSpecies];
    int count = 0;
    pending[count++] = root;
    while (count > 0) {
        const TreeNode* node = pending[--count];
        if (node == nullptr) std::abort();
        if (node->left == nullptr && node->right == nullptr) {
            if (node->label < 0 || node->label >= g_speciesCount || seen[node->label]++)
                std::abort();
            continue;
        }
        if (count + 2 > 2 * kMaxSpecies) std::abort();
        pending[count++] = node->left;
        pending[count++] = node->right;
    }
    for (int i = 0; i < g_speciesCount; ++i)
        if (seen[i] != 1) std::abort();
}

void runHeuristics() {
    for (int index = 0; index < kCandidateCount; ++index)
        checkTree(buildCandidate(index, g_nodePool));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        allocateNodePool();
        g_fatalHandler = throwOnFatal;
        g_threadCount = 1;
        return true;
    }();
    (void)ready;
    g_nextLabel = kFirstInnerLabel;
    if (!readBytes(data, size) || g_speciesCount > kFuzzMethodSpecies) return 0;
    const auto n = static_cast<int16_t>(g_speciesCount);
    g_fullMask = nextSubset(0, n, n);
    if (g_speciesCount <= kFuzzExactSpecies) {
        solveExact();
        TreeNode* root = buildExactTree(g_fullMask);
        checkTree(root);
        freeTree(root);
        // The search never passes the optimum, and its bound never falls
        // below it.
        const SearchResult found = searchTree();
        checkTree(found.tree);
        if (found.satisfied > g_subsetScore[g_fullMask] ||
            found.bound < g_subsetScore[g_fullMask] || found.satisfied != scoreTree(found.tree))
            std::abort();
        freeTree(found.tree);
    } else {
        runHeuristics();
    }
    return 0;
}
