// The heuristic candidates and the minimum cut on 128-species tables.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "common/common.h"
#include "heuristics/heuristics.h"

namespace {

// A table as the reader builds it from random triples (sparse) or from random
// trees on all species (dense, here as random entries of the same density).
void fillTable(bool dense) {
    static bool poolReady = false;
    if (!poolReady) allocateNodePool();
    poolReady = true;
    const int n = kMaxSpecies;
    g_speciesCount = n;
    sizeTripleTable(n);
    std::mt19937 rng(11);
    auto add = [](int i, int j, int k, int32_t w) { changeTripleRow(i, j)[k] += w; };
    if (!dense) {
        for (int t = 0; t < 5000; ++t) {
            const int i = static_cast<int>(rng() % n);
            const int j = static_cast<int>(rng() % n);
            const int k = static_cast<int>(rng() % n);
            if (i != j && j != k && i != k) add(i, j, k, 1 + static_cast<int32_t>(rng() % 9));
        }
        return;
    }
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k)
                if (k != i && k != j) add(i, j, k, static_cast<int32_t>(rng() % 40));
}

template <TreeNode* (*Build)()>
void runCandidate(benchmark::State& state) {
    fillTable(state.range(0) != 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(Build()->weight);
}

TreeNode* agglomerateGain() {
    return agglomerate(0, 0);
}
TreeNode* agglomerateRatio() {
    return agglomerate(1, 2);
}

BENCHMARK(runCandidate<agglomerateGain>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(runCandidate<agglomerateRatio>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(runCandidate<sequentialTree>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(runCandidate<minCutTree>)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// One division of all 128 species, the largest single minimum cut.
void BM_MinCutSplit(benchmark::State& state) {
    fillTable(state.range(0) != 0);
    static int64_t capacity[kMaxSpecies][kMaxSpecies];
    int32_t side[kMaxSpecies];
    const int n = kMaxSpecies;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            int64_t sum = 0;
            for (int k = 0; k < n; ++k)
                sum += tripleWeight(a, b, k);
            capacity[a][b] = a == b ? 0 : sum;
        }
    for (auto _ : state)
        benchmark::DoNotOptimize(minCutSplit(n, capacity, side));
}
BENCHMARK(BM_MinCutSplit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
