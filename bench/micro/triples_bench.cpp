// Triple extraction from one input tree with all leaves distinct.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "common/common.h"
#include "triples/triples.h"

namespace {

TreeNode* randomTree(int leaves, std::mt19937& rng) {
    std::vector<TreeNode*> parts;
    for (int i = 0; i < leaves; ++i) {
        TreeNode* leaf = allocateNode();
        leaf->label = static_cast<int16_t>(i);
        parts.push_back(leaf);
    }
    std::shuffle(parts.begin(), parts.end(), rng);
    while (parts.size() > 1) {
        TreeNode* node = allocateNode();
        node->right = parts.back();
        parts.pop_back();
        const size_t at = rng() % parts.size();
        node->left = parts[at];
        parts[at] = node;
    }
    return parts[0];
}

// One batch of trees of the given size, as the reader hands them over.
void BM_AddTreeTriples(benchmark::State& state) {
    const int leaves = static_cast<int>(state.range(0));
    constexpr int kTrees = 256;
    g_speciesCount = kMaxSpecies;
    std::mt19937 rng(7);
    std::vector<TreeNode*> trees;
    for (int t = 0; t < kTrees; ++t)
        trees.push_back(randomTree(leaves, rng));
    for (auto _ : state) {
        clearTripleWeights();
        for (TreeNode* tree : trees)
            addTreeTriples(tree, 1);
        completeTripleWeights();
        benchmark::DoNotOptimize(tripleWeight(0, 1, 2));
    }
    for (TreeNode* tree : trees)
        freeTree(tree);
    state.SetItemsProcessed(state.iterations() * kTrees);
}
BENCHMARK(BM_AddTreeTriples)->Arg(3)->Arg(64)->Arg(128)->Unit(benchmark::kMillisecond);

}  // namespace
