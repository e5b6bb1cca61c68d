// Division of a weighted vertex set by a forward-only flow. Capacities are
// sums of table entries, 64-bit for the heavy tables infer fills; each
// augmentation carries at most kAugmentCap, so the number of augmentations
// grows with the weights, and the division runs up to kMaxSpecies species
// only.
//
// Vertex 0 is the source; every other vertex in turn is the sink. Each sink's
// flow is grown by depth-first augmenting paths over arcs that still have
// room, never using reverse residual arcs, so the flow is maximal rather than
// maximum. The sink with the smallest flow wins.
//
// Each search starts at the source with a last-in-first-out stack: a popped
// vertex's undiscovered neighbours over arcs with room are marked and pushed
// in increasing vertex order, and the search stops as soon as the sink is
// discovered. The path found carries the smallest room along it, but never
// more than kAugmentCap. The result depends on that exact course, so the
// faster formulation below follows it step by step and only skips work whose
// outcome is already known:
// - Arcs with room are one species set per row, and the vertices pushed by
//   one scan form one frame (the scanned vertex and the set of its pending
//   neighbours). Popping takes the highest pending vertex of the top frame,
//   the vertex a plain stack would pop.
// - The amount is taken along the path once it is found; how much room the
//   path to a vertex that does not lead to the sink has is never needed.
// - The search only looks at which arcs have room. An augmentation takes room
//   away only from arcs on its path, so the next search repeats the last one
//   step for step up to the scan of the first path vertex whose path arc
//   filled up (or of the sink's predecessor, when none did). The search state
//   at that scan is kept and the next search resumes there.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "heuristics/heuristics.h"

// Clusters at least this large share their sinks out among threads; for
// smaller ones starting threads would cost more than it saves.
constexpr int32_t kParallelSinkCount = 32;

// No single augmentation carries more than this.
constexpr int32_t kAugmentCap = kMinCutNoValue;

// The neighbours one scan pushed that are not popped yet.
struct SearchFrame {
    int32_t scanned;
    SpeciesSet pending;
};

// Working storage of one call; nothing survives between calls.
struct FlowWork {
    int64_t flow[kMaxSpecies][kMaxSpecies];  // flow[u][v] <= capacity[u][v]
    SpeciesSet positive[kMaxSpecies];        // capacity[u][v] > 0, fixed per call
    SpeciesSet room[kMaxSpecies];            // capacity[u][v] > flow[u][v]
    SpeciesSet visited;                      // after a failed search: the source side
    int32_t predecessor[kMaxSpecies];        // valid for popped vertices and the sink
    SearchFrame frames[kMaxSpecies];         // at most one per scanned vertex
    int32_t depth;                           // frames in use
    // State of the search when a vertex was popped, just before its scan.
    SpeciesSet visitedAtPop[kMaxSpecies];
    int32_t depthAtPop[kMaxSpecies];
    int32_t path[kMaxSpecies];  // last path found, source first, sink last
    // Arcs whose flow became nonzero for the current sink (u * kMaxSpecies + v),
    // so that only they are cleared for the next sink.
    int32_t usedArcs[kMaxSpecies * kMaxSpecies];
    int32_t usedCount;
};

// Arcs with positive capacity are exactly the arcs with room under zero flow.
static void markPositiveArcs(int32_t m, const int64_t (*capacity)[kMaxSpecies], FlowWork& work) {
    for (int u = 0; u < m; ++u) {
        SpeciesSet row{};
        for (int v = 0; v < m; ++v)
            if (capacity[u][v] > 0) insertSpecies(&row, v);
        work.positive[u] = row;
    }
}

// v is popped, discovered by the scan of u: keeps the search state for a
// later resumption at v (visited, the search's current set).
static void notePop(int32_t v, int32_t u, const SpeciesSet& visited, FlowWork& work) {
    work.predecessor[v] = u;
    copyMembers(&work.visitedAtPop[v], visited);
    work.depthAtPop[v] = work.depth;
}

// Takes the highest pending vertex of the top frame, dropping the frame when
// it empties. Returns -1 when no frame is left.
static int32_t popVertex(const SpeciesSet& visited, FlowWork& work) {
    if (work.depth == 0) return -1;
    SearchFrame& frame = work.frames[work.depth - 1];
    const int32_t v = takeHighestSpecies(&frame.pending);
    if (isEmptySet(frame.pending)) --work.depth;
    notePop(v, frame.scanned, visited, work);
    return v;
}

// Runs the search on from the scan of u. Returns true when t is discovered;
// the path then runs back from t along predecessor. Otherwise visited holds
// every vertex reachable over arcs with room.
//
// A scan that discovers vertices is followed at once by the pop of the
// highest of them, so that vertex is taken before its frame is stored, and a
// frame is stored only when vertices remain in it. The visited set is kept in
// a local while the search runs. Both only spare memory traffic; the order of
// the search is the same.
static bool searchFrom(int32_t u, int32_t t, FlowWork& work) {
    SpeciesSet visited = work.visited;
    SpeciesSet pending;
    bool found = false;
    while (u >= 0) {
        const bool discovers = keepOnlyOutside(&pending, work.room[u], visited);
        // The sink is never pushed; whatever u's scan discovers after it
        // cannot change the path already recorded, so the search ends here.
        if (containsSpecies(pending, t)) {
            work.predecessor[t] = u;
            found = true;
            break;
        }
        if (!discovers) {
            u = popVertex(visited, work);
            continue;
        }
        // Marked on discovery, so a vertex enters the stack at most once.
        addMembers(&visited, pending);
        const int32_t v = takeHighestSpecies(&pending);
        if (!isEmptySet(pending)) {
            work.frames[work.depth].scanned = u;
            copyMembers(&work.frames[work.depth++].pending, pending);
        }
        notePop(v, u, visited, work);
        u = v;
    }
    copyMembers(&work.visited, visited);
    return found;
}

// The path found to t, source first, and the smallest room along it.
struct FoundPath {
    int32_t length;
    int64_t room;
};

// Sends the smallest room along the path found to t (at most kAugmentCap)
// and returns the amount. Sets resumeAt to the position on the path of the
// first vertex whose path arc filled up, or of t's predecessor when none did.
static int64_t augmentPath(int32_t t, const int64_t (*capacity)[kMaxSpecies], FlowWork& work,
                           int32_t& resumeAt, FoundPath& found) {
    int32_t length = 1;
    for (int32_t v = t; v != 0; v = work.predecessor[v])
        ++length;
    int64_t room = INT64_MAX;
    for (int32_t v = t, i = length - 1; i >= 0; v = work.predecessor[v], --i) {
        work.path[i] = v;
        if (i == 0) break;
        room = std::min(room, capacity[work.predecessor[v]][v] - work.flow[work.predecessor[v]][v]);
    }
    const int64_t amount = std::min<int64_t>(room, kAugmentCap);
    found = {length, room - amount};

    resumeAt = length - 2;
    for (int32_t i = length - 2; i >= 0; --i) {
        const int32_t u = work.path[i];
        const int32_t v = work.path[i + 1];
        if (work.flow[u][v] == 0) work.usedArcs[work.usedCount++] = u * kMaxSpecies + v;
        work.flow[u][v] += amount;
        if (work.flow[u][v] == capacity[u][v]) {
            eraseSpecies(&work.room[u], v);
            resumeAt = i;
        }
    }
    return amount;
}

// While the path keeps more room than one augmentation carries, no arc of it
// fills, so the search resumed at t's predecessor finds the same path at
// once, and augments it again by kAugmentCap. Those augmentations are sent
// together: as many as leave room on every arc, or, when the flow passes
// the bound before that, up to the one that passes it, where the sink
// stops as it would have one augmentation at a time. Returns the amount
// sent and whether the sink stops.
static int64_t repeatAugmentations(const FoundPath& found, int64_t total, int64_t bound,
                                   FlowWork& work, bool& stop) {
    stop = false;
    if (found.room <= kAugmentCap) return 0;
    int64_t repeats = (found.room - 1) / kAugmentCap;
    if (total + repeats * kAugmentCap > bound) {
        repeats = (bound - total) / kAugmentCap + 1;
        stop = true;
    }
    for (int32_t i = 0; i + 1 < found.length; ++i)
        work.flow[work.path[i]][work.path[i + 1]] += repeats * kAugmentCap;
    return repeats * kAugmentCap;
}

// Puts the search back to the moment path vertex `position` was popped (or to
// the start, for the source) and returns that vertex, to be scanned next.
static int32_t resumeSearch(int32_t position, FlowWork& work) {
    const int32_t u = work.path[position];
    copyMembers(&work.visited, work.visitedAtPop[u]);
    work.depth = work.depthAtPop[u];
    return u;
}

// Grows the flow to t until no path is left and returns its value, leaving the
// source side in visited. Every path enters t by exactly one arc and t never
// sends flow on, so the value is the sum of the amounts sent. It is 64-bit
// because the total into one sink is not capped and a caller's capacities may
// sum past 32 bits. A sink whose flow passes `bound` (the smallest complete
// flow of another sink so far) can no longer have the smallest flow, and its
// search stops there with the partial value, which still exceeds the bound.
static int64_t sinkFlow(int32_t m, int32_t t, const int64_t (*capacity)[kMaxSpecies],
                        const std::atomic<int64_t>& bound, FlowWork& work) {
    std::copy(work.positive, work.positive + m, work.room);
    work.visitedAtPop[0] = singleSpecies(0);  // the source is never rediscovered
    work.depthAtPop[0] = 0;
    work.path[0] = 0;

    int64_t total = 0;
    int32_t next = resumeSearch(0, work);
    while (searchFrom(next, t, work)) {
        int32_t resumeAt = 0;
        FoundPath found{0, 0};
        total += augmentPath(t, capacity, work, resumeAt, found);
        const int64_t limit = bound.load(std::memory_order_relaxed);
        if (total > limit) break;
        bool stop = false;
        total += repeatAugmentations(found, total, limit, work, stop);
        if (stop) break;
        next = resumeSearch(resumeAt, work);
    }
    // Back to zero flow for the next sink.
    for (int i = 0; i < work.usedCount; ++i)
        work.flow[work.usedArcs[i] / kMaxSpecies][work.usedArcs[i] % kMaxSpecies] = 0;
    work.usedCount = 0;
    return total;
}

// What one sink leaves: its flow value and the source side of its last search.
struct SinkResult {
    int64_t value;
    SpeciesSet sourceSide;
};

// The sinks of one cluster, claimed one by one by the threads that share
// them. They are taken by increasing capacity into the sink, a bound on their
// flow, so that a small flow is known early and the other sinks stop sooner.
struct SinkShare {
    int32_t order[kMaxSpecies];  // sinks in the order they are taken
    std::atomic<int32_t> next{0};
    std::atomic<int64_t> smallest{INT64_MAX};  // smallest complete flow so far
};

static void orderSinks(int32_t m, const int64_t (*capacity)[kMaxSpecies], SinkShare& share) {
    int64_t into[kMaxSpecies];
    for (int32_t t = 1; t < m; ++t) {
        into[t] = 0;
        for (int32_t u = 0; u < m; ++u)
            into[t] += capacity[u][t] > 0 ? capacity[u][t] : 0;
        share.order[t - 1] = t;
    }
    std::stable_sort(share.order, share.order + m - 1,
                     [&into](int32_t a, int32_t b) { return into[a] < into[b]; });
}

static void lowerSmallest(std::atomic<int64_t>& smallest, int64_t value) {
    int64_t current = smallest.load(std::memory_order_relaxed);
    while (value < current && !smallest.compare_exchange_weak(current, value)) {
    }
}

// Solves the sinks this thread claims. Each sink starts from zero flow, so
// the sinks are independent of each other and of the thread they run on; a
// sink stopped early has a value above the smallest, whichever sinks were
// done before it, so the sink chosen and its flow never depend on the timing.
static void solveSinks(int32_t m, const int64_t (*capacity)[kMaxSpecies], SinkShare* share,
                       SinkResult* results) {
    // Too large for a thread's stack.
    std::unique_ptr<FlowWork> owned(new FlowWork);
    FlowWork& work = *owned;
    work.usedCount = 0;
    std::memset(work.flow, 0, sizeof work.flow[0] * static_cast<size_t>(m));
    markPositiveArcs(m, capacity, work);
    for (int32_t claimed = share->next++; claimed < m - 1; claimed = share->next++) {
        const int32_t t = share->order[claimed];
        const int64_t value = sinkFlow(m, t, capacity, share->smallest, work);
        results[t].value = value;
        results[t].sourceSide = work.visited;
        lowerSmallest(share->smallest, value);
    }
}

int64_t minCutSplit(int32_t m, const int64_t (*capacity)[kMaxSpecies], int32_t* side) {
    if (m == 2) {
        side[0] = 1;
        side[1] = 0;
        return capacity[0][1];
    }
    if (m < 2) return kMinCutNoValue;
    SinkResult results[kMaxSpecies];
    SinkShare share;
    orderSinks(m, capacity, share);
    const int threads = m >= kParallelSinkCount ? threadCountToUse() : 1;
    runOnThreads(threads, [&] { solveSinks(m, capacity, &share, results); });

    // The smallest flow over all sinks, the lowest-numbered sink among equals.
    // Tracking it even at or above kMinCutNoValue means that a cluster whose
    // sinks all reach that bound is still divided by a fresh labelling.
    int64_t smallest = INT64_MAX;
    for (int32_t t = 1; t < m; ++t) {
        if (results[t].value >= smallest) continue;
        smallest = results[t].value;
        for (int a = 0; a < m; ++a)
            side[a] = containsSpecies(results[t].sourceSide, a) ? 1 : 0;
    }
    return smallest < kMinCutNoValue ? smallest : kMinCutNoValue;
}
