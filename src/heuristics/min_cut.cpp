// Division of a weighted vertex set by a forward-only flow.
//
// Vertex 0 is the source; every other vertex in turn is the sink. Each sink's
// flow is grown by depth-first augmenting paths over arcs that still have
// room, never using reverse residual arcs, so the flow is maximal rather than
// maximum. The sink with the smallest flow wins.
//
// The search keeps, per row, a bitset of the arcs that still have room, and
// walks a popped vertex's undiscovered room-arcs with bit operations in
// increasing vertex order. That is the same walk as scanning the whole row and
// testing capacity > flow at each entry, so every path, flow and label is the
// one the plain row scan gives; it only skips the entries without room.
#include <cstring>

#include "heuristics/heuristics.h"

constexpr int kWordBits = 64;
constexpr int kRowWords = kMaxSpecies / kWordBits;
static_assert(kMaxSpecies % kWordBits == 0, "rows are whole words");

// The source's bottleneck: no single augmentation carries more than this.
constexpr int32_t kAugmentCap = kMinCutNoValue;

// Working storage of one call; nothing survives between calls.
struct FlowWork {
    int32_t flow[kMaxSpecies][kMaxSpecies];     // flow[u][v] <= capacity[u][v]
    uint64_t positive[kMaxSpecies][kRowWords];  // capacity[u][v] > 0, fixed per call
    uint64_t room[kMaxSpecies][kRowWords];      // capacity[u][v] > flow[u][v]
    uint64_t visited[kRowWords];                // after a failed search: the source side
    int32_t predecessor[kMaxSpecies];           // read only for discovered vertices
    int32_t bottleneck[kMaxSpecies];            // read only for discovered vertices
    int32_t stack[kMaxSpecies];                 // each vertex enters at most once per search
    int32_t words;                              // words of a row that can hold vertices below m
};

static int lowestBit(uint64_t bits) {
    return __builtin_ctzll(bits);
}

static bool hasBit(const uint64_t* row, int v) {
    return (row[v / kWordBits] >> (v % kWordBits)) & 1U;
}

static void clearBit(uint64_t* row, int v) {
    row[v / kWordBits] &= ~(uint64_t{1} << (v % kWordBits));
}

// Arcs with positive capacity are exactly the arcs with room under zero flow.
static void markPositiveArcs(int32_t m, const int32_t (*capacity)[kMaxSpecies], FlowWork& work) {
    std::memset(work.positive, 0, sizeof work.positive);
    for (int u = 0; u < m; ++u)
        for (int v = 0; v < m; ++v)
            if (capacity[u][v] > 0)
                work.positive[u][v / kWordBits] |= uint64_t{1} << (v % kWordBits);
}

// One depth-first search from the source. Returns true when t is discovered;
// the path then runs back from t along predecessor. Otherwise visited holds
// every vertex reachable over arcs with room.
static bool findPath(int32_t t, const int32_t (*capacity)[kMaxSpecies], FlowWork& work) {
    std::memset(work.visited, 0, sizeof work.visited);
    work.visited[0] = 1;  // the source is never rediscovered
    int32_t top = 0;
    work.stack[top++] = 0;
    while (top > 0) {
        const int32_t u = work.stack[--top];
        for (int w = 0; w < work.words; ++w) {
            uint64_t fresh = work.room[u][w] & ~work.visited[w];
            // Marked on discovery, so a vertex enters the stack at most once.
            work.visited[w] |= fresh;
            while (fresh != 0) {
                const int32_t v = w * kWordBits + lowestBit(fresh);
                fresh &= fresh - 1;
                const int32_t left = capacity[u][v] - work.flow[u][v];
                work.bottleneck[v] = work.bottleneck[u] < left ? work.bottleneck[u] : left;
                work.predecessor[v] = u;
                // The sink is never pushed; the rest of u's row cannot change
                // the path already recorded, so the search ends here.
                if (v == t) return true;
                work.stack[top++] = v;
            }
        }
    }
    return false;
}

// Sends the bottleneck of the path found to t along it; returns the amount.
static int32_t augmentPath(int32_t t, const int32_t (*capacity)[kMaxSpecies], FlowWork& work) {
    const int32_t amount = work.bottleneck[t];
    for (int32_t v = t; v != 0; v = work.predecessor[v]) {
        const int32_t u = work.predecessor[v];
        work.flow[u][v] += amount;
        if (work.flow[u][v] == capacity[u][v]) clearBit(work.room[u], v);
    }
    return amount;
}

// Grows the flow to t until no path is left and returns its value, leaving the
// source side in visited. Every path enters t by exactly one arc and t never
// sends flow on, so the value is the sum of the amounts sent. It is 64-bit
// because the total into one sink is not capped and a caller's capacities may
// sum past 32 bits.
static int64_t sinkFlow(int32_t m, int32_t t, const int32_t (*capacity)[kMaxSpecies],
                        FlowWork& work) {
    std::memset(work.flow, 0, sizeof work.flow[0] * static_cast<size_t>(m));
    std::memcpy(work.room, work.positive, sizeof work.room[0] * static_cast<size_t>(m));
    int64_t total = 0;
    while (findPath(t, capacity, work))
        total += augmentPath(t, capacity, work);
    return total;
}

int32_t minCutSplit(int32_t m, const int32_t (*capacity)[kMaxSpecies], int32_t* side) {
    if (m == 2) {
        side[0] = 1;
        side[1] = 0;
        return capacity[0][1];
    }
    static_assert(sizeof(FlowWork) < 200 * 1024, "working storage stays on the stack");
    FlowWork work;
    work.words = (m + kWordBits - 1) / kWordBits;
    work.bottleneck[0] = kAugmentCap;
    markPositiveArcs(m, capacity, work);

    // The smallest flow over all sinks, the lowest-numbered sink among equals.
    // Tracking it even at or above kMinCutNoValue means that a cluster whose
    // sinks all reach that bound is still divided by a fresh labelling.
    int64_t smallest = INT64_MAX;
    for (int32_t t = 1; t < m; ++t) {
        const int64_t value = sinkFlow(m, t, capacity, work);
        if (value >= smallest) continue;
        smallest = value;
        for (int a = 0; a < m; ++a)
            side[a] = hasBit(work.visited, a) ? 1 : 0;
    }
    return smallest < kMinCutNoValue ? static_cast<int32_t>(smallest) : kMinCutNoValue;
}
