// Upper bounds on the weight any tree can satisfy, read from the search's
// table: every weight of a species triple lies in the pair row of two of
// its species or in the block of its third species, so the loops run over
// the smallest species along rows, and a compiler can add eight at a time.
#include <algorithm>
#include <atomic>

#include "common/progress.h"
#include "common/vector_lanes.h"
#include "search/search_steps.h"

// w[x][y][z] for x running over 0..y-1: row y of the block of z.
static const int32_t* blockRow(const SearchTable& table, int32_t z, int32_t y) {
    return table.byThird.data() + static_cast<size_t>(z) * table.pairs +
           static_cast<size_t>(y) * static_cast<size_t>(y + 1) / 2;
}

int64_t tripleWeightBound(const SearchTable& table) {
    const int32_t n = table.n;
    int64_t bound = 0;
    for (int32_t c = 2; c < n; ++c)
        for (int32_t b = 1; b < c; ++b) {
            const int32_t* abc = blockRow(table, c, b);
            const int32_t* acb = blockRow(table, b, c);
            const int32_t* bca = tripleRow(b, c);
            for (int32_t a = 0; a < b; ++a)
                bound += std::max({abc[a], acb[a], bca[a]});
        }
    return bound;
}

// The weights of the sets {a, b, c, d} with b < c < d fixed, a running over
// 0..b-1: for each of the four triples, rows of its three resolutions.
struct FourRows {
    const int32_t *abc, *acb, *bca;  // {a, b, c}
    const int32_t *abd, *adb, *bda;  // {a, b, d}
    const int32_t *acd, *adc, *cda;  // {a, c, d}
    int64_t bcd, bdc, cdb;           // {b, c, d}: the same for every a
};

// The sum over a < b of the most weight a rooted tree on {a, b, c, d} can
// satisfy: the best of its fifteen shapes, each satisfying one resolution of
// each of the four triples. The three balanced shapes ((p,q),(r,s)) satisfy
// pq|r, pq|s, rs|p, rs|q; a ladder with s outermost satisfies every triple
// with s as the third species and one resolution of the other three species,
// so the best ladder leaving s first adds the best of those three.
__attribute__((always_inline)) inline int64_t sumBestOnFour(const FourRows& r, int32_t b) {
    int64_t sum = 0;
    for (int32_t a = 0; a < b; ++a) {
        const int64_t abc = r.abc[a], acb = r.acb[a], bca = r.bca[a];
        const int64_t abd = r.abd[a], adb = r.adb[a], bda = r.bda[a];
        const int64_t acd = r.acd[a], adc = r.adc[a], cda = r.cda[a];
        const int64_t balanced =
            std::max({abc + abd + cda + r.cdb, acb + acd + bda + r.bdc, adb + adc + bca + r.bcd});
        const int64_t ladders = std::max({abd + acd + r.bcd + std::max({abc, acb, bca}),
                                          abc + adc + r.bdc + std::max({abd, adb, bda}),
                                          acb + adb + r.cdb + std::max({acd, adc, cda}),
                                          bca + bda + cda + std::max({r.bcd, r.bdc, r.cdb})});
        sum += std::max(balanced, ladders);
    }
    return sum;
}

static int64_t sumBestOnFourPortable(const FourRows& rows, int32_t b) {
    return sumBestOnFour(rows, b);
}

#ifdef TRESSIL_X86_VECTOR
TRESSIL_INLINE_AVX2 __m256d lanesAt(const int32_t* row, int32_t a) {
    return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + a)));
}

TRESSIL_INLINE_AVX2 __m256d maxOf(__m256d x, __m256d y, __m256d z) {
    return _mm256_max_pd(_mm256_max_pd(x, y), z);
}

// The same, four values of a at a time in doubles, which hold every value
// here exactly: entries lie within 2^31, a shape's weight is four of them,
// and the sum over a < b of fewer than 2^20 shapes stays below 2^53.
TRESSIL_TARGET_AVX2 static int64_t sumBestOnFourVector(const FourRows& r, int32_t b) {
    const __m256d bcd = _mm256_set1_pd(static_cast<double>(r.bcd));
    const __m256d bdc = _mm256_set1_pd(static_cast<double>(r.bdc));
    const __m256d cdb = _mm256_set1_pd(static_cast<double>(r.cdb));
    const __m256d bestOfBcd = maxOf(bcd, bdc, cdb);
    __m256d sum = _mm256_setzero_pd();
    int32_t a = 0;
    for (; a + 4 <= b; a += 4) {
        const __m256d abc = lanesAt(r.abc, a), acb = lanesAt(r.acb, a), bca = lanesAt(r.bca, a);
        const __m256d abd = lanesAt(r.abd, a), adb = lanesAt(r.adb, a), bda = lanesAt(r.bda, a);
        const __m256d acd = lanesAt(r.acd, a), adc = lanesAt(r.adc, a), cda = lanesAt(r.cda, a);
        const __m256d balanced =
            maxOf(_mm256_add_pd(_mm256_add_pd(abc, abd), _mm256_add_pd(cda, cdb)),
                  _mm256_add_pd(_mm256_add_pd(acb, acd), _mm256_add_pd(bda, bdc)),
                  _mm256_add_pd(_mm256_add_pd(adb, adc), _mm256_add_pd(bca, bcd)));
        const __m256d lastD =
            _mm256_add_pd(_mm256_add_pd(abd, acd), _mm256_add_pd(bcd, maxOf(abc, acb, bca)));
        const __m256d lastC =
            _mm256_add_pd(_mm256_add_pd(abc, adc), _mm256_add_pd(bdc, maxOf(abd, adb, bda)));
        const __m256d lastB =
            _mm256_add_pd(_mm256_add_pd(acb, adb), _mm256_add_pd(cdb, maxOf(acd, adc, cda)));
        const __m256d lastA = _mm256_add_pd(_mm256_add_pd(bca, bda), _mm256_add_pd(cda, bestOfBcd));
        sum = _mm256_add_pd(
            sum, _mm256_max_pd(maxOf(balanced, lastD, lastC), _mm256_max_pd(lastB, lastA)));
    }
    double lanes[4];
    _mm256_storeu_pd(lanes, sum);
    // Exact integers below 2^53 each, so the conversion is exact too.
    int64_t total = static_cast<int64_t>(lanes[0]) + static_cast<int64_t>(lanes[1]) +
                    static_cast<int64_t>(lanes[2]) + static_cast<int64_t>(lanes[3]);
    FourRows rest = r;
    for (const int32_t** row : {&rest.abc, &rest.acb, &rest.bca, &rest.abd, &rest.adb, &rest.bda,
                                &rest.acd, &rest.adc, &rest.cda})
        *row += a;
    return total + sumBestOnFour(rest, b - a);
}
#endif

static FourRows fourRows(const SearchTable& table, int32_t b, int32_t c, int32_t d) {
    return {blockRow(table, c, b), blockRow(table, b, c), tripleRow(b, c),
            blockRow(table, d, b), blockRow(table, b, d), tripleRow(b, d),
            blockRow(table, d, c), blockRow(table, c, d), tripleRow(c, d),
            tripleWeight(b, c, d), tripleWeight(b, d, c), tripleWeight(c, d, b)};
}

// Every tree restricted to four species is one of their fifteen trees, and
// each triple lies in n - 3 sets of four, so the satisfied weight is at most
// the sum over the sets of four of their best, divided by n - 3. This is never
// above the triple bound, and sharper wherever the best resolutions of the
// four triples of a set do not fit in one tree. The sum has n^4 / 24 terms of
// four entries each: see kMaxQuartetBoundSpecies for why 64 bits hold it.
int64_t quartetWeightBound(const SearchTable& table) {
    const int32_t n = table.n;
    if (n < 4) return tripleWeightBound(table);
    const bool useVector = vectorKernelsUsable();
    std::atomic<int32_t> next{3};
    std::atomic<int64_t> total{0};
    runOnThreads(threadCountToUse(), [&] {
        int64_t sum = 0;
        for (int32_t d = next++; d < n; d = next++) {
            reportProgress(ProgressStage::kBound, d, n);
            for (int32_t c = 2; c < d; ++c)
                for (int32_t b = 1; b < c; ++b) {
                    const FourRows rows = fourRows(table, b, c, d);
#ifdef TRESSIL_X86_VECTOR
                    if (useVector) {
                        sum += sumBestOnFourVector(rows, b);
                        continue;
                    }
#endif
                    sum += sumBestOnFourPortable(rows, b);
                }
        }
        total += sum;
    });
    return std::min(tripleWeightBound(table), total.load() / (n - 3));
}
