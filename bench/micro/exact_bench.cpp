// Timing of the exact method's dynamic programme on random tables, with the
// portable and the vector split scan side by side.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "common/common.h"
#include "exact/exact.h"

// Every triple ij|k with k outside {i, j} gets a weight in 0..50.
static void fillRandomTriples(int n) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int32_t> weight(0, 50);
    g_speciesCount = n;
    sizeTripleTable(n);
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                if (k == i || k == j) continue;
                const int32_t w = weight(rng);
                changeTripleRow(i, j)[k] = w;
            }
}

// Arguments: species count, vector scan allowed (0/1), threads (0 = one per core).
static void BM_SolveExact(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    g_portableKernelsOnly = state.range(1) == 0;
    g_threadCount = static_cast<int>(state.range(2));
    fillRandomTriples(n);
    g_fullMask = nextSubset(0, static_cast<int16_t>(n), static_cast<int16_t>(n));
    for (auto _ : state) {
        solveExact();
        benchmark::DoNotOptimize(g_subsetScore[g_fullMask]);
    }
    // Bipartitions of every subset: the splits the programme weighs.
    const double splits = (std::pow(3.0, n) - 1) / 2 - (std::pow(2.0, n) - 1);
    state.counters["splits"] = splits;
    state.counters["splits/s"] =
        benchmark::Counter(splits, benchmark::Counter::kIsIterationInvariantRate);
    g_portableKernelsOnly = false;
    g_threadCount = 0;
}
BENCHMARK(BM_SolveExact)
    ->ArgNames({"n", "vector", "threads"})
    ->ArgsProduct({{14, 16, 18}, {0, 1}, {1}})
    ->Args({18, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
