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
        for (uint32_t x = 0; x < half; ++x)
            sums[half | x] = sums[x] + weights[a];
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

#define TRESSIL_TARGET_AVX2 __attribute__((target("avx2")))

TRESSIL_TARGET_AVX2 static __m256i broadcast(uint32_t value) {
    return _mm256_set1_epi32(static_cast<int>(value));
}

TRESSIL_TARGET_AVX2 static __m256i loadLanes(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The low part mask x = outer << innerBits | inner is walked with inner in
// runs of kLanes, so the link sum of x is innerLink[inner] + outerLink[outer].
TRESSIL_TARGET_AVX2 SplitBest scanSplitsVector(const SplitTables& t) {
    const int innerBits = std::max(kVectorRunBits, (t.lowBits + 1) / 2);
    const int outerBits = t.lowBits - innerBits;
    const uint32_t innerCount = 1u << innerBits;
    const __m256i subset = broadcast(t.subset);
    const __m256i maskBits = broadcast(kTieMaskBits);
    const __m256i leftLimit = broadcast(leftTieLimit(t.k));
    const __m256i fullTie = broadcast(fullTieKey(t));
    const __m256i noValue = broadcast(static_cast<uint32_t>(INT32_MIN));
    const __m256i noTie = _mm256_set1_epi32(-1);
    const int* scores = g_subsetScore;
    __m256i bestValue = noValue;
    __m256i bestTie = noTie;
    uint32_t innerLink[kLowParts];
    uint32_t outerLink[kLowParts];
    for (uint32_t y = 0; y < (1u << t.highBits); ++y) {
        fillSubsetSums(t.link[y], innerBits, innerLink);
        fillSubsetSums(t.link[y] + innerBits, outerBits, outerLink);
        const __m256i highTie = broadcast(t.highTie[y]);
        for (uint32_t outer = 0; outer < (1u << outerBits); ++outer) {
            const __m256i partCut = broadcast(t.highCut[y] - 2 * outerLink[outer]);
            const uint32_t* lowTie = t.lowTie + (outer << innerBits);
            const uint32_t* lowCut = t.lowCut + (outer << innerBits);
            for (uint32_t inner = 0; inner < innerCount; inner += kLanes) {
                const __m256i tieA = _mm256_add_epi32(loadLanes(lowTie + inner), highTie);
                const __m256i a = _mm256_and_si256(tieA, maskBits);
                const __m256i b = _mm256_xor_si256(a, subset);
                const __m256i scoreSum = _mm256_add_epi32(_mm256_i32gather_epi32(scores, a, 4),
                                                          _mm256_i32gather_epi32(scores, b, 4));
                const __m256i cut = _mm256_sub_epi32(
                    loadLanes(lowCut + inner), _mm256_slli_epi32(loadLanes(innerLink + inner), 1));
                __m256i value = _mm256_add_epi32(scoreSum, _mm256_add_epi32(cut, partCut));
                __m256i tie = _mm256_blendv_epi8(_mm256_sub_epi32(fullTie, tieA), tieA,
                                                 _mm256_cmpgt_epi32(leftLimit, tieA));
                if (y == 0 && outer == 0 && inner == 0) {  // lane 0 is the empty left part
                    value = _mm256_blend_epi32(value, noValue, 1);
                    tie = _mm256_blend_epi32(tie, noTie, 1);
                }
                const __m256i better =
                    _mm256_or_si256(_mm256_cmpgt_epi32(value, bestValue),
                                    _mm256_and_si256(_mm256_cmpeq_epi32(value, bestValue),
                                                     _mm256_cmpgt_epi32(tie, bestTie)));
                bestValue = _mm256_max_epi32(bestValue, value);
                bestTie = _mm256_blendv_epi8(bestTie, tie, better);
            }
        }
    }
    int32_t laneValue[kLanes];
    int32_t laneTie[kLanes];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(laneValue), bestValue);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(laneTie), bestTie);
    int best = 0;
    for (int lane = 1; lane < kLanes; ++lane)
        if (laneValue[lane] > laneValue[best] ||
            (laneValue[lane] == laneValue[best] && laneTie[lane] > laneTie[best]))
            best = lane;
    return {laneValue[best], static_cast<uint32_t>(laneTie[best])};
}

#else

bool vectorScanAvailable() {
    return false;
}

SplitBest scanSplitsVector(const SplitTables& t) {
    return scanSplitsPortable(t);
}

#endif
