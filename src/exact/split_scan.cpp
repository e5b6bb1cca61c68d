// The two scans over the splits of one subset: a portable one and an AVX2 one
// that evaluates eight low parts at a time. Both return the largest
// (value, tie key) pair, so they agree exactly.
#include "exact/split_scan.h"

#include <algorithm>
#include <climits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TRESSIL_X86_VECTOR 1
#endif

void fillSubsetSums(const uint32_t* weights, int bits, uint32_t* sums) {
    sums[0] = 0;
    for (int a = 0; a < bits; ++a) {
        const uint32_t half = 1u << a;
        const uint32_t weight = weights[a];
        uint32_t* upper = sums + half;
        for (uint32_t x = 0; x < half; ++x)
            upper[x] = sums[x] + weight;
    }
}

// Tie key of the side tried last of the split with left part A (tie key
// tieA): A itself while it is the smaller side, else S \ A, whose key is
// fullTie - tieA with fullTie = k above the mask of S.
static uint32_t lastTriedTie(uint32_t tieA, uint32_t leftLimit, uint32_t fullTie) {
    return tieA < leftLimit ? tieA : fullTie - tieA;
}

// Left parts with a tie key below this are the smaller side: size < k / 2.
static uint32_t leftTieLimit(int k) {
    return static_cast<uint32_t>((k + 1) / 2) << kTieSizeShift;
}

static uint32_t fullTieKey(const SplitTables& t) {
    return (static_cast<uint32_t>(t.k) << kTieSizeShift) | t.subset;
}

static uint32_t scoreOf(uint32_t mask) {
    return static_cast<uint32_t>(g_subsetScore[mask]);
}

SplitBest scanSplitsPortable(const SplitTables& t) {
    SplitBest best{INT32_MIN, 0};
    const uint32_t leftLimit = leftTieLimit(t.k);
    const uint32_t fullTie = fullTieKey(t);
    const uint32_t lowCount = 1u << t.lowBits;
    uint32_t linkSum[kLowParts];
    for (uint32_t y = 0; y < (1u << t.highBits); ++y) {
        fillSubsetSums(t.link[y], t.lowBits, linkSum);
        const uint32_t highTie = t.highTie[y];
        const uint32_t highCut = t.highCut[y];
        for (uint32_t x = (y == 0) ? 1 : 0; x < lowCount; ++x) {  // never the empty part
            const uint32_t tieA = t.lowTie[x] + highTie;
            const uint32_t a = tieA & kTieMaskBits;
            const uint32_t sum =
                scoreOf(a) + scoreOf(t.subset ^ a) + t.lowCut[x] + highCut - 2 * linkSum[x];
            const int32_t value = static_cast<int32_t>(sum);
            if (value < best.value) continue;
            const uint32_t tie = lastTriedTie(tieA, leftLimit, fullTie);
            if (value > best.value || tie > best.tie) best = {value, tie};
        }
    }
    return best;
}

#ifdef TRESSIL_X86_VECTOR

bool vectorScanAvailable() {
    return __builtin_cpu_supports("avx2");
}

constexpr int kLanes = 8;
// Low part bits walked by the outer loop of a scan: few, so that the inner
// runs are long, and enough to keep the inner link table small.
constexpr int kOuterBits = 2;

#define TRESSIL_TARGET_AVX2 __attribute__((target("avx2")))

TRESSIL_TARGET_AVX2 static __m256i broadcast(uint32_t value) {
    return _mm256_set1_epi32(static_cast<int>(value));
}

TRESSIL_TARGET_AVX2 static __m256i loadLanes(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// Where the scores of the eight left parts of a run, and of their right
// sides, are found. The members of S among the group species are its member
// positions 0..inGroup-1, so the left parts of a run fall into
// kLanes >> inGroup groups: the left parts sharing their other members, which
// differ only inside one aligned group of table entries. Each group is read
// with one plain load and its entries are moved into their lanes, which costs
// far less than gathering lane by lane. With no member among the group species
// every lane has its own group and a gather is used.
struct RunLayout {
    __m256i leftOrder;           // entry of a lane inside its left part's group
    __m256i rightOrder;          // entry of a lane inside its right side's group
    __m256i groupLanes[kLanes];  // lanes taken from group g
    uint32_t aboveGroup;         // index of S without its group bits
};

TRESSIL_TARGET_AVX2 static RunLayout layRuns(uint32_t subsetIndex, int inGroup) {
    RunLayout layout;
    const uint32_t inside = subsetIndex & kGroupMask;
    alignas(32) int32_t left[kLanes];
    alignas(32) int32_t right[kLanes];
    for (int lane = 0; lane < kLanes; ++lane) {
        // Deposit the low inGroup bits of the lane onto the members' bits.
        uint32_t entry = 0;
        int bit = 0;
        for (uint32_t rest = inside; rest != 0; rest &= rest - 1, ++bit)
            if ((lane >> bit) & 1) entry |= rest & (0u - rest);
        left[lane] = static_cast<int32_t>(entry);
        right[lane] = static_cast<int32_t>(entry ^ inside);
    }
    layout.leftOrder = loadLanes(left);
    layout.rightOrder = loadLanes(right);
    const __m256i laneGroup = _mm256_srli_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), inGroup);
    for (int g = 0; g < kLanes; ++g)
        layout.groupLanes[g] = _mm256_cmpeq_epi32(laneGroup, broadcast(static_cast<uint32_t>(g)));
    layout.aboveGroup = subsetIndex & ~kGroupMask;
    return layout;
}

struct RunScores {
    __m256i left;
    __m256i right;
};

// Scores of the left parts with indexes lowIndex[0..kLanes-1] | highIndex in
// the scores table, and of their right sides. The groups that the same run
// will read for the next high part are fetched into the cache meanwhile: the
// reads of one subset spread over the whole table, which the cache cannot
// hold, and the next high part is far enough ahead to hide the wait.
template <int kInGroup>
TRESSIL_TARGET_AVX2 static RunScores loadRunScores(const int32_t* scores, const uint32_t* lowIndex,
                                                   uint32_t highIndex, uint32_t nextHighIndex,
                                                   const RunLayout& layout) {
    RunScores run;
    if constexpr (kInGroup == 0) {
        const __m256i a = _mm256_or_si256(loadLanes(lowIndex), broadcast(highIndex));
        const __m256i b = _mm256_xor_si256(a, broadcast(layout.aboveGroup));
        run.left = _mm256_i32gather_epi32(scores, a, 4);
        run.right = _mm256_i32gather_epi32(scores, b, 4);
    } else {
        constexpr int kGroups = kLanes >> kInGroup;
        for (int g = 0; g < kGroups; ++g) {
            const uint32_t low = lowIndex[g << kInGroup];
            const uint32_t a = low | highIndex;
            const uint32_t next = low | nextHighIndex;
            _mm_prefetch(reinterpret_cast<const char*>(scores + next), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(scores + (next ^ layout.aboveGroup)),
                         _MM_HINT_T0);
            __m256i left = loadLanes(scores + a);
            if constexpr (kInGroup < kGroupBits)
                left = _mm256_permutevar8x32_epi32(left, layout.leftOrder);
            const __m256i right = _mm256_permutevar8x32_epi32(
                loadLanes(scores + (a ^ layout.aboveGroup)), layout.rightOrder);
            if (g == 0) {
                run.left = left;
                run.right = right;
            } else {
                run.left = _mm256_blendv_epi8(run.left, left, layout.groupLanes[g]);
                run.right = _mm256_blendv_epi8(run.right, right, layout.groupLanes[g]);
            }
        }
    }
    return run;
}

// The low part mask x = outer << innerBits | inner is walked with inner in
// runs of kLanes, and the link sum of x splits into innerLink[inner] +
// outerLink[outer]: two small tables per high part instead of one entry per
// low part.
template <int kInGroup>
TRESSIL_TARGET_AVX2 static SplitBest scanRuns(const SplitTables& t) {
    const RunLayout layout = layRuns(t.subsetIndex, kInGroup);
    const int innerBits = std::max(kVectorRunBits, t.lowBits - kOuterBits);
    const int outerBits = t.lowBits - innerBits;
    const uint32_t innerCount = 1u << innerBits;
    const __m256i leftLimit = broadcast(leftTieLimit(t.k));
    const __m256i fullTie = broadcast(fullTieKey(t));
    const __m256i noValue = broadcast(static_cast<uint32_t>(INT32_MIN));
    const __m256i noTie = _mm256_set1_epi32(-1);
    __m256i bestValue = noValue;
    __m256i bestTie = noTie;
    alignas(32) uint32_t innerLink[kLowParts];
    uint32_t outerLink[1u << kOuterBits];
    for (uint32_t y = 0; y < (1u << t.highBits); ++y) {
        fillSubsetSums(t.link[y], innerBits, innerLink);
        fillSubsetSums(t.link[y] + innerBits, outerBits, outerLink);
        const __m256i highTie = broadcast(t.highTie[y]);
        const uint32_t highIndex = t.highIndex[y];
        const uint32_t nextHighIndex = t.highIndex[std::min(y + 1, (1u << t.highBits) - 1)];
        for (uint32_t outer = 0; outer < (1u << outerBits); ++outer) {
            const __m256i partCut = broadcast(t.highCut[y] - 2 * outerLink[outer]);
            const uint32_t* lowTie = t.lowTie + (outer << innerBits);
            const uint32_t* lowCut = t.lowCut + (outer << innerBits);
            const uint32_t* lowIndex = t.lowIndex + (outer << innerBits);
            for (uint32_t inner = 0; inner < innerCount; inner += kLanes) {
                const __m256i tieA = _mm256_add_epi32(loadLanes(lowTie + inner), highTie);
                const RunScores run = loadRunScores<kInGroup>(t.scores, lowIndex + inner, highIndex,
                                                              nextHighIndex, layout);
                const __m256i cut = _mm256_sub_epi32(
                    loadLanes(lowCut + inner), _mm256_slli_epi32(loadLanes(innerLink + inner), 1));
                __m256i value = _mm256_add_epi32(_mm256_add_epi32(run.left, run.right),
                                                 _mm256_add_epi32(cut, partCut));
                if (y == 0 && outer == 0 && inner == 0)  // lane 0 is the empty left part
                    value = _mm256_blend_epi32(value, noValue, 1);
                // Tie keys matter only where a value reaches its lane's best, which
                // soon becomes rare.
                if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(bestValue, value)) == -1) continue;
                const __m256i tie = _mm256_blendv_epi8(_mm256_sub_epi32(fullTie, tieA), tieA,
                                                       _mm256_cmpgt_epi32(leftLimit, tieA));
                const __m256i better =
                    _mm256_or_si256(_mm256_cmpgt_epi32(value, bestValue),
                                    _mm256_and_si256(_mm256_cmpeq_epi32(value, bestValue),
                                                     _mm256_cmpgt_epi32(tie, bestTie)));
                bestValue = _mm256_max_epi32(bestValue, value);
                bestTie = _mm256_blendv_epi8(bestTie, tie, better);
            }
        }
    }
    alignas(32) int32_t laneValue[kLanes];
    alignas(32) int32_t laneTie[kLanes];
    _mm256_store_si256(reinterpret_cast<__m256i*>(laneValue), bestValue);
    _mm256_store_si256(reinterpret_cast<__m256i*>(laneTie), bestTie);
    int best = 0;
    for (int lane = 1; lane < kLanes; ++lane)
        if (laneValue[lane] > laneValue[best] ||
            (laneValue[lane] == laneValue[best] && laneTie[lane] > laneTie[best]))
            best = lane;
    return {laneValue[best], static_cast<uint32_t>(laneTie[best])};
}

SplitBest scanSplitsVector(const SplitTables& t) {
    switch (__builtin_popcount(t.subsetIndex & kGroupMask)) {
        case 0:
            return scanRuns<0>(t);
        case 1:
            return scanRuns<1>(t);
        case 2:
            return scanRuns<2>(t);
        default:
            return scanRuns<3>(t);
    }
}

#else

bool vectorScanAvailable() {
    return false;
}

SplitBest scanSplitsVector(const SplitTables& t) {
    return scanSplitsPortable(t);
}

#endif
