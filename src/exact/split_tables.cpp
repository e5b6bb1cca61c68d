// The tables that a split scan reads for one subset: the graph on its
// members and the part tables built from it. Each has a portable form and an
// AVX2 form; both give the same integers.
#include "exact/split_tables.h"

#include "common/vector_lanes.h"

// The part tables grow by doubling: once the entries of the parts of the
// first p positions are known, those of the parts holding position p follow.
// table[half + x] = table[x] + step for every x below half.
static void extendAdding(uint32_t* table, uint32_t half, uint32_t step) {
    uint32_t* upper = table + half;
    for (uint32_t x = 0; x < half; ++x)
        upper[x] = table[x] + step;
}

static void extendCut(uint32_t* cut, const uint32_t* toPart, uint32_t half, uint32_t degree) {
    uint32_t* upper = cut + half;
    for (uint32_t x = 0; x < half; ++x)
        upper[x] = cut[x] + degree - 2 * toPart[x];
}

static void fillSubsetSums(const uint32_t* weights, int bits, uint32_t* sums) {
    sums[0] = 0;
    for (int a = 0; a < bits; ++a)
        extendAdding(sums, 1u << a, weights[a]);
}

static void fillEdgeWeightsPortable(OutsideRows low, OutsideRows high, SubsetEdges& e) {
    for (int i = 0; i < e.k; ++i) {
        e.edge[i][i] = 0;
        const int a = e.member[i];
        for (int j = i + 1; j < e.k; ++j) {
            const int b = e.member[j];
            const uint32_t sum = low[a][b] + high[a][b];
            e.edge[i][j] = sum;
            e.edge[j][i] = sum;
        }
    }
    for (int i = 0; i < e.k; ++i) {
        uint32_t degree = 0;
        for (int j = 0; j < e.k; ++j)
            degree += e.edge[i][j];
        e.degree[i] = degree;
    }
}

// Cut term and table index of every part over the member positions
// first..first+bits-1. Adding position p to a part x of the positions below it
// adds deg(p) and removes twice the edge weight between p and x.
static void fillPartTablesPortable(const SubsetEdges& e, int first, int bits, uint32_t* cut,
                                   uint32_t* index) {
    uint32_t toPart[kLowParts];  // edge weight between p and each part below it
    cut[0] = 0;
    index[0] = 0;
    for (int p = 0; p < bits; ++p) {
        const int a = first + p;
        fillSubsetSums(&e.edge[a][first], p, toPart);
        const uint32_t half = 1u << p;
        extendCut(cut, toPart, half, e.degree[a]);
        extendAdding(index, half, e.index[a]);  // the bit is new to every part below
    }
}

static void fillSplitTablesPortable(const SubsetEdges& e, SplitTables& t) {
    fillPartTablesPortable(e, 0, t.lowBits, t.lowCut, t.lowIndex);
    fillPartTablesPortable(e, t.lowBits, t.highBits, t.highCut, t.highIndex);
    for (int q = 0; q < t.highBits; ++q) {
        uint32_t twice[kLowBits];  // twice the edge weight from each low position to q
        for (int a = 0; a < t.lowBits; ++a)
            twice[a] = 2 * e.edge[t.lowBits + q][a];
        fillSubsetSums(twice, t.lowBits, t.highToLow[q]);
    }
}

#ifdef TRESSIL_X86_VECTOR

// Sum of the lanes.
TRESSIL_INLINE_AVX2 static uint32_t sumOfLanes(__m256i v) {
    __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(1, 0, 3, 2)));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
}

// Entry `pick` of the 24 entries r0, r1, r2, lane by lane; inR1 and inR2
// mark the lanes whose pick lies in r1 and in r2.
TRESSIL_INLINE_AVX2 static __m256i pickEntries(__m256i r0, __m256i r1, __m256i r2, __m256i pick,
                                               __m256i inR1, __m256i inR2) {
    const __m256i low = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(r0, pick),
                                           _mm256_permutevar8x32_epi32(r1, pick), inR1);
    return _mm256_blendv_epi8(low, _mm256_permutevar8x32_epi32(r2, pick), inR2);
}

// Each member's row of e over all species, in three vectors, from which the
// members' entries are picked; positions past k pick a zero padding entry.
TRESSIL_TARGET_AVX2 static void fillEdgeWeightsVector(OutsideRows low, OutsideRows high,
                                                      SubsetEdges& e) {
    const __m256i last0 = broadcast(kLanes - 1);
    const __m256i last1 = broadcast(2 * kLanes - 1);
    const __m256i pick0 = loadLanes(e.member);
    const __m256i pick1 = loadLanes(e.member + kLanes);
    const __m256i pick2 = loadLanes(e.member + 2 * kLanes);
    const __m256i inR1[3] = {_mm256_cmpgt_epi32(pick0, last0), _mm256_cmpgt_epi32(pick1, last0),
                             _mm256_cmpgt_epi32(pick2, last0)};
    const __m256i inR2[3] = {_mm256_cmpgt_epi32(pick0, last1), _mm256_cmpgt_epi32(pick1, last1),
                             _mm256_cmpgt_epi32(pick2, last1)};
    for (int i = 0; i < e.k; ++i) {
        const int a = e.member[i];
        const __m256i r0 = _mm256_add_epi32(loadLanes(low[a]), loadLanes(high[a]));
        const __m256i r1 =
            _mm256_add_epi32(loadLanes(low[a] + kLanes), loadLanes(high[a] + kLanes));
        const __m256i r2 =
            _mm256_add_epi32(loadLanes(low[a] + 2 * kLanes), loadLanes(high[a] + 2 * kLanes));
        const __m256i edges0 = pickEntries(r0, r1, r2, pick0, inR1[0], inR2[0]);
        const __m256i edges1 = pickEntries(r0, r1, r2, pick1, inR1[1], inR2[1]);
        const __m256i edges2 = pickEntries(r0, r1, r2, pick2, inR1[2], inR2[2]);
        storeLanes(e.edge[i], edges0);
        storeLanes(e.edge[i] + kLanes, edges1);
        storeLanes(e.edge[i] + 2 * kLanes, edges2);
        const __m256i degree = _mm256_add_epi32(_mm256_add_epi32(edges0, edges1), edges2);
        e.degree[i] = sumOfLanes(degree);
    }
}

// Lane l of laneHas(j) is all ones when bit j of l is set: which of the
// first three positions the part of lane l holds.
TRESSIL_INLINE_AVX2 static __m256i laneHas(int j) {
    const __m256i bit = broadcast(1u << j);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), bit),
                              bit);
}

// The sum of weights[j] over the first three positions j of each lane's part.
TRESSIL_INLINE_AVX2 static __m256i firstSums(const uint32_t* weights) {
    __m256i sums = _mm256_setzero_si256();
    for (int j = 0; j < 3; ++j)
        sums = _mm256_add_epi32(sums, _mm256_and_si256(laneHas(j), broadcast(weights[j])));
    return sums;
}

// sums[x] = sum of weights[a] over the bits a of x, for every x below 2^bits;
// bits >= 3. The first eight entries come at once, then each further bit
// doubles the table.
TRESSIL_TARGET_AVX2 static void fillSubsetSumsVector(const uint32_t* weights, int bits,
                                                     uint32_t* sums) {
    storeLanes(sums, firstSums(weights));
    for (int a = 3; a < bits; ++a) {
        const uint32_t half = 1u << a;
        const __m256i weight = broadcast(weights[a]);
        for (uint32_t x = 0; x < half; x += kLanes)
            storeLanes(sums + half + x, _mm256_add_epi32(loadLanes(sums + x), weight));
    }
}

// The part tables of fillPartTablesPortable for bits >= 3: the parts of the
// first three positions at once (degrees less twice the edges inside), then
// eight entries at a time.
TRESSIL_TARGET_AVX2 static void fillPartTablesVector(const SubsetEdges& e, int first, int bits,
                                                     uint32_t* cut, uint32_t* index) {
    const uint32_t(*edge)[kEdgeRow] = e.edge + first;
    __m256i inside = _mm256_setzero_si256();
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j)
            inside =
                _mm256_add_epi32(inside, _mm256_and_si256(_mm256_and_si256(laneHas(i), laneHas(j)),
                                                          broadcast(edge[i][first + j])));
    storeLanes(cut, _mm256_sub_epi32(firstSums(e.degree + first), _mm256_slli_epi32(inside, 1)));
    storeLanes(index, firstSums(e.index + first));  // the index bits are disjoint
    alignas(32) uint32_t toPart[kLowParts];         // edge weight between p and each part below it
    for (int p = 3; p < bits; ++p) {
        const int a = first + p;
        fillSubsetSumsVector(&e.edge[a][first], p, toPart);
        const uint32_t half = 1u << p;
        const __m256i degree = broadcast(e.degree[a]);
        const __m256i bit = broadcast(e.index[a]);
        for (uint32_t x = 0; x < half; x += kLanes) {
            const __m256i twice = _mm256_slli_epi32(loadLanes(toPart + x), 1);
            storeLanes(cut + half + x,
                       _mm256_sub_epi32(_mm256_add_epi32(loadLanes(cut + x), degree), twice));
            storeLanes(index + half + x, _mm256_or_si256(loadLanes(index + x), bit));
        }
    }
}

TRESSIL_TARGET_AVX2 static void fillSplitTablesVector(const SubsetEdges& e, SplitTables& t) {
    fillPartTablesVector(e, 0, t.lowBits, t.lowCut, t.lowIndex);
    if (t.highBits >= 3)
        fillPartTablesVector(e, t.lowBits, t.highBits, t.highCut, t.highIndex);
    else
        fillPartTablesPortable(e, t.lowBits, t.highBits, t.highCut, t.highIndex);
    for (int q = 0; q < t.highBits; ++q) {
        static_assert(kLowBits <= 2 * kLanes, "two vectors hold the low positions");
        // Twice the edge weight from each low position to q.
        alignas(32) uint32_t twice[2 * kLanes];
        const uint32_t* edge = e.edge[t.lowBits + q];
        storeLanes(twice, _mm256_slli_epi32(loadLanes(edge), 1));
        storeLanes(twice + kLanes, _mm256_slli_epi32(loadLanes(edge + kLanes), 1));
        fillSubsetSumsVector(twice, t.lowBits, t.highToLow[q]);
    }
}

#endif

void fillEdgeWeights(OutsideRows low, OutsideRows high, bool useVector, SubsetEdges& e) {
#ifdef TRESSIL_X86_VECTOR
    if (useVector) return fillEdgeWeightsVector(low, high, e);
#endif
    fillEdgeWeightsPortable(low, high, e);
}

void fillSplitTables(const SubsetEdges& e, bool useVector, SplitTables& t) {
#ifdef TRESSIL_X86_VECTOR
    if (useVector && t.lowBits >= kVectorRunBits) return fillSplitTablesVector(e, t);
#endif
    fillSplitTablesPortable(e, t);
}
