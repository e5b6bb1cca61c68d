// The two scans over the splits of one subset: a portable one and an AVX2 one
// that evaluates eight low parts at a time. Both return the largest
// (value, tie key) pair, so they agree exactly.
#include "exact/split_scan.h"

#include <algorithm>
#include <climits>

#include "common/vector_lanes.h"

// Tie key of the side tried last of the split with left part A (tie key
// tieA): A itself while it is the smaller side, else S \ A, whose key is
// fullTie - tieA with fullTie = k above the mask of S.
static uint32_t lastTriedTie(uint32_t tieA, uint32_t leftLimit, uint32_t fullTie) {
    return tieA < leftLimit ? tieA : fullTie - tieA;
}

// Left parts with a tie key below this are the smaller side: size < k / 2.
static uint32_t leftTieLimit(int k) {
    return tieKey((k + 1) / 2, 0);
}

static uint32_t fullTieKey(const SplitTables& t) {
    return tieKey(t.k, t.subset);
}

// Moves the cut terms of a row to the next row of the walk: position q of
// the high part joins (subtract) or leaves (add).
static void stepRowCut(uint32_t* rowCut, const uint32_t* highToLow, uint32_t count, bool joins) {
    if (joins)
        for (uint32_t x = 0; x < count; ++x)
            rowCut[x] -= highToLow[x];
    else
        for (uint32_t x = 0; x < count; ++x)
            rowCut[x] += highToLow[x];
}

SplitBest scanSplitsPortable(const SplitTables& t) {
    SplitBest best{INT32_MIN, 0};
    const uint32_t leftLimit = leftTieLimit(t.k);
    const uint32_t fullTie = fullTieKey(t);
    const uint32_t lowCount = 1u << t.lowBits;
    uint32_t rowCut[kLowParts];  // lowCut[x] - 2 * (edge weight between x and y)
    std::copy(t.lowCut, t.lowCut + lowCount, rowCut);
    for (uint32_t row = 0; row < (1u << t.highBits); ++row) {
        const uint32_t y = highPartOfRow(row);
        if (row > 0) {
            const int q = __builtin_ctz(row);
            stepRowCut(rowCut, t.highToLow[q], lowCount, (y >> q) & 1);
        }
        const uint32_t highIndex = t.highIndex[y];
        const uint32_t highCut = t.highCut[y];
        for (uint32_t x = (y == 0) ? 1 : 0; x < lowCount; ++x) {  // never the empty part
            const uint32_t a = t.lowIndex[x] | highIndex;
            const uint32_t sum = static_cast<uint32_t>(t.scores[a]) +
                                 static_cast<uint32_t>(t.scores[t.subsetIndex ^ a]) + rowCut[x] +
                                 highCut;
            const int32_t value = static_cast<int32_t>(sum);
            if (value < best.value) continue;
            const uint32_t tieA = tieKey(__builtin_popcount(a), unrotateIndex(a, t.copy));
            const uint32_t tie = lastTriedTie(tieA, leftLimit, fullTie);
            if (value > best.value || tie > best.tie) best = {value, tie};
        }
    }
    return best;
}

#ifdef TRESSIL_X86_VECTOR

// Where the scores of the eight left parts of a run, and of their right
// sides, are found. The members of S among the group species are its member
// positions 0..inGroup-1, so the left parts of a run fall into
// kLanes >> inGroup groups: the left parts sharing their other members, which
// differ only inside one aligned group of table entries. Each group is read
// with one plain load and its entries are moved into their lanes, which costs
// far less than gathering lane by lane. With no member among the group species
// every lane has its own group and a gather is used.
//
// The lane orders depend only on which group species are members, so they
// are worked out once for each of the eight cases.
struct LaneOrders {
    int32_t left[1 << kGroupBits][kLanes];          // entry of a lane inside its left part's group
    int32_t right[1 << kGroupBits][kLanes];         // entry of a lane inside its right side's group
    int32_t group[kGroupBits + 1][kLanes][kLanes];  // by members in the group: lanes of group g
};

static constexpr LaneOrders makeLaneOrders() {
    LaneOrders orders{};
    for (uint32_t inside = 0; inside < (1u << kGroupBits); ++inside)
        for (int lane = 0; lane < kLanes; ++lane) {
            // Deposit the low bits of the lane onto the members' bits.
            uint32_t entry = 0;
            int bit = 0;
            for (uint32_t rest = inside; rest != 0; rest &= rest - 1, ++bit)
                if ((lane >> bit) & 1) entry |= rest & (0u - rest);
            orders.left[inside][lane] = static_cast<int32_t>(entry);
            orders.right[inside][lane] = static_cast<int32_t>(entry ^ inside);
        }
    for (int inGroup = 0; inGroup <= kGroupBits; ++inGroup)
        for (int g = 0; g < kLanes; ++g)
            for (int lane = 0; lane < kLanes; ++lane)
                orders.group[inGroup][g][lane] = (lane >> inGroup) == g ? -1 : 0;
    return orders;
}

static constexpr LaneOrders kLaneOrders = makeLaneOrders();

struct RunLayout {
    __m256i leftOrder;
    __m256i rightOrder;
    const int32_t (*groupLanes)[kLanes];  // lanes taken from group g
    uint32_t aboveGroup;                  // index of S without its group bits
};

TRESSIL_INLINE_AVX2 static RunLayout layRuns(uint32_t subsetIndex, int inGroup) {
    const uint32_t inside = subsetIndex & kGroupMask;
    return {loadLanes(kLaneOrders.left[inside]), loadLanes(kLaneOrders.right[inside]),
            kLaneOrders.group[inGroup], subsetIndex & ~kGroupMask};
}

struct RunScores {
    __m256i left;
    __m256i right;
};

// Scores of the left parts with indexes lowIndex[0..kLanes-1] | highIndex in
// the scores table, and of their right sides.
template <int kInGroup>
TRESSIL_INLINE_AVX2 static RunScores loadRunScores(const int32_t* scores, const uint32_t* lowIndex,
                                                   uint32_t highIndex, const RunLayout& layout) {
    RunScores run;
    if constexpr (kInGroup == 0) {
        const __m256i a = _mm256_or_si256(loadLanes(lowIndex), broadcast(highIndex));
        const __m256i b = _mm256_xor_si256(a, broadcast(layout.aboveGroup));
        run.left = _mm256_i32gather_epi32(scores, a, 4);
        run.right = _mm256_i32gather_epi32(scores, b, 4);
    } else {
        constexpr int kGroups = kLanes >> kInGroup;
        for (int g = 0; g < kGroups; ++g) {
            const uint32_t a = lowIndex[g << kInGroup] | highIndex;
            __m256i left = loadLanes(scores + a);
            if constexpr (kInGroup < kGroupBits)
                left = _mm256_permutevar8x32_epi32(left, layout.leftOrder);
            const __m256i right = _mm256_permutevar8x32_epi32(
                loadLanes(scores + (a ^ layout.aboveGroup)), layout.rightOrder);
            if (g == 0) {
                run.left = left;
                run.right = right;
            } else {
                const __m256i lanes = loadLanes(layout.groupLanes[g]);
                run.left = _mm256_blendv_epi8(run.left, left, lanes);
                run.right = _mm256_blendv_epi8(run.right, right, lanes);
            }
        }
    }
    return run;
}

// What the runs of one row share.
struct RowOfRuns {
    uint32_t y;          // the row's high part
    uint32_t highIndex;  // y as an index of the scores table
    __m256i highCut;
};

TRESSIL_INLINE_AVX2 static RowOfRuns layRow(const SplitTables& t, uint32_t row) {
    const uint32_t y = highPartOfRow(row);
    return {y, t.highIndex[y], broadcast(t.highCut[y])};
}

// Values of the eight splits whose low parts start at x, given their cut
// terms without the high part's.
template <int kInGroup>
TRESSIL_INLINE_AVX2 static __m256i runValue(const SplitTables& t, const RunLayout& layout,
                                            const RowOfRuns& row, uint32_t x, __m256i rowCut) {
    const RunScores run = loadRunScores<kInGroup>(t.scores, t.lowIndex + x, row.highIndex, layout);
    return _mm256_add_epi32(_mm256_add_epi32(run.left, run.right),
                            _mm256_add_epi32(rowCut, row.highCut));
}

TRESSIL_TARGET_AVX2 static __m256i maxOfLanes(__m256i v) {
    v = _mm256_max_epi32(v, _mm256_permute2x128_si256(v, v, 1));
    v = _mm256_max_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    return _mm256_max_epi32(v, _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
}

// How the cut terms change on entering a row: they are the low parts' own
// (the first row), or high position q joins or leaves the high part.
enum class RowStep { kFirst, kJoins, kLeaves };

// Moves the cut terms to the row and weighs its splits by value alone,
// returning the largest value of each lane. The first row holds the empty
// left part in lane 0 of its first run, which is left out.
template <int kInGroup, RowStep kStep>
TRESSIL_TARGET_AVX2 static __m256i scanRowValues(const SplitTables& t, const RunLayout& layout,
                                                 const RowOfRuns& row, const uint32_t* highToLow,
                                                 uint32_t* rowCut) {
    const __m256i noValue = broadcast(static_cast<uint32_t>(INT32_MIN));
    __m256i rowMax = noValue;
    for (uint32_t x = 0; x < (1u << t.lowBits); x += kLanes) {
        __m256i cut;
        if constexpr (kStep == RowStep::kFirst) {
            cut = loadLanes(t.lowCut + x);
        } else {
            const __m256i edge = loadLanes(highToLow + x);
            cut = loadLanes(rowCut + x);
            cut = kStep == RowStep::kJoins ? _mm256_sub_epi32(cut, edge)
                                           : _mm256_add_epi32(cut, edge);
        }
        storeLanes(rowCut + x, cut);
        __m256i value = runValue<kInGroup>(t, layout, row, x, cut);
        if (kStep == RowStep::kFirst && x == 0) value = _mm256_blend_epi32(value, noValue, 1);
        rowMax = _mm256_max_epi32(rowMax, value);
    }
    return rowMax;
}

// The largest tie key among the splits of a row whose value is best.
template <int kInGroup>
TRESSIL_TARGET_AVX2 static __m256i rowTies(const SplitTables& t, const RunLayout& layout,
                                           uint32_t row, __m256i best) {
    const RowOfRuns r = layRow(t, row);
    const __m256i leftLimit = broadcast(leftTieLimit(t.k));
    const __m256i fullTie = broadcast(fullTieKey(t));
    const __m256i noTie = _mm256_set1_epi32(-1);
    const __m256i laneSizes = _mm256_setr_epi32(0, 1, 1, 2, 1, 2, 2, 3);  // members of lane l
    const __m128i places = _mm_cvtsi32_si128(t.copy * kGroupBits);
    const __m128i otherPlaces = _mm_cvtsi32_si128(kMaxExactSpecies - t.copy * kGroupBits);
    __m256i bestTie = noTie;
    for (uint32_t x = 0; x < (1u << t.lowBits); x += kLanes) {
        __m256i cut = loadLanes(t.lowCut + x);
        for (int q = 0; q < t.highBits; ++q)
            if ((r.y >> q) & 1) cut = _mm256_sub_epi32(cut, loadLanes(t.highToLow[q] + x));
        const __m256i value = runValue<kInGroup>(t, layout, r, x, cut);
        __m256i isBest = _mm256_cmpeq_epi32(value, best);
        if (r.y == 0 && x == 0) isBest = _mm256_blend_epi32(isBest, _mm256_setzero_si256(), 1);
        if (_mm256_movemask_epi8(isBest) == 0) continue;
        // Tie keys of the left parts: sizes from the positions, masks from the indexes.
        const __m256i index = _mm256_or_si256(loadLanes(t.lowIndex + x), broadcast(r.highIndex));
        const __m256i mask = _mm256_and_si256(
            _mm256_or_si256(_mm256_sll_epi32(index, places), _mm256_srl_epi32(index, otherPlaces)),
            broadcast(kAllSpecies));
        const __m256i size =
            _mm256_add_epi32(laneSizes, broadcast(__builtin_popcount(x) + __builtin_popcount(r.y)));
        const __m256i tieA = _mm256_or_si256(_mm256_slli_epi32(size, kTieSizeShift), mask);
        const __m256i tie = _mm256_blendv_epi8(_mm256_sub_epi32(fullTie, tieA), tieA,
                                               _mm256_cmpgt_epi32(leftLimit, tieA));
        bestTie = _mm256_max_epi32(bestTie, _mm256_blendv_epi8(noTie, tie, isBest));
    }
    return bestTie;
}

// First every row is weighed by value alone, keeping each row's largest
// value of each lane; then the rows holding the best value are scanned again
// for its largest tie key.
template <int kInGroup>
TRESSIL_TARGET_AVX2 static SplitBest scanRuns(const SplitTables& t) {
    const RunLayout layout = layRuns(t.subsetIndex, kInGroup);
    const uint32_t rows = 1u << t.highBits;
    alignas(32) uint32_t rowCut[kLowParts];  // lowCut[x] - 2 * (edge weight between x and y)
    __m256i rowMax[kHighParts];
    rowMax[0] = scanRowValues<kInGroup, RowStep::kFirst>(t, layout, layRow(t, 0), nullptr, rowCut);
    __m256i best = rowMax[0];
    for (uint32_t row = 1; row < rows; ++row) {
        const RowOfRuns r = layRow(t, row);
        const int q = __builtin_ctz(row);
        const uint32_t* highToLow = t.highToLow[q];
        rowMax[row] =
            (r.y >> q) & 1
                ? scanRowValues<kInGroup, RowStep::kJoins>(t, layout, r, highToLow, rowCut)
                : scanRowValues<kInGroup, RowStep::kLeaves>(t, layout, r, highToLow, rowCut);
        best = _mm256_max_epi32(best, rowMax[row]);
    }
    best = maxOfLanes(best);
    __m256i bestTie = _mm256_set1_epi32(-1);
    for (uint32_t row = 0; row < rows; ++row)
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(rowMax[row], best)) != 0)
            bestTie = _mm256_max_epi32(bestTie, rowTies<kInGroup>(t, layout, row, best));
    bestTie = maxOfLanes(bestTie);
    return {_mm256_cvtsi256_si32(best), static_cast<uint32_t>(_mm256_cvtsi256_si32(bestTie))};
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

SplitBest scanSplitsVector(const SplitTables& t) {
    return scanSplitsPortable(t);
}

#endif
