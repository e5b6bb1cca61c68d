#include "heuristics/min_cut_reference.h"

#include "heuristics/heuristics.h"

std::unique_ptr<CapacityMatrix> newCapacityMatrix() {
    return std::make_unique<CapacityMatrix>();
}

// One sink: searches until no path is left; fills the sink's value, labels
// (in labels) and paths.
static void literalSink(int32_t m, int32_t t, const int64_t (*capacity)[kMaxSpecies],
                        LiteralCut& cut, std::vector<int32_t>& labels) {
    std::vector<std::vector<int64_t>> flow(m, std::vector<int64_t>(m, 0));
    std::vector<int32_t> visited(m, 0), predecessor(m, 0), stack;
    std::vector<int64_t> bottleneck(m, 0);
    visited[0] = 1;
    bottleneck[0] = kMinCutNoValue;
    for (;;) {
        for (int v = 1; v < m; ++v)
            visited[v] = predecessor[v] = bottleneck[v] = 0;
        stack.assign(1, 0);
        bool found = false;
        while (!found && !stack.empty()) {
            const int32_t u = stack.back();
            stack.pop_back();
            for (int v = 0; v < m; ++v) {
                if (visited[v] || capacity[u][v] <= flow[u][v]) continue;
                const int64_t r = capacity[u][v] - flow[u][v];
                bottleneck[v] = bottleneck[u] < r ? bottleneck[u] : r;
                predecessor[v] = u;
                visited[v] = 1;
                if (v == t)
                    found = true;
                else
                    stack.push_back(v);
            }
        }
        if (!found) break;
        std::vector<int32_t> path;
        for (int32_t v = t; v != 0; v = predecessor[v]) {
            path.insert(path.begin(), v);
            flow[predecessor[v]][v] += bottleneck[t];
        }
        path.insert(path.begin(), 0);
        cut.paths[t].push_back(path);
    }
    labels = visited;
    int64_t value = 0;
    for (int a = 0; a < m; ++a)
        value += flow[a][t];
    cut.sinkValue[t] = value;
}

LiteralCut literalMinCut(int32_t m, const int64_t (*capacity)[kMaxSpecies]) {
    LiteralCut cut;
    if (m == 2) {
        cut.value = capacity[0][1];
        cut.side = {1, 0};
        return cut;
    }
    cut.sinkValue.assign(m, 0);
    cut.paths.assign(m, {});
    std::vector<int32_t> labels;
    int64_t smallest = INT64_MAX;  // lowest-numbered sink wins among equals
    for (int t = 1; t < m; ++t) {
        literalSink(m, t, capacity, cut, labels);
        if (cut.sinkValue[t] < smallest) {
            smallest = cut.sinkValue[t];
            cut.side = labels;
        }
    }
    cut.value = smallest < kMinCutNoValue ? smallest : kMinCutNoValue;
    return cut;
}
