// Bottom-up clustering: every species starts as its own cluster and the two
// active clusters with the highest score are joined, n-1 times.
//
// The score of a pair needs mergeGain, mergeConflict and pairTotal of the two
// clusters. Recomputing them from species flags after every join costs up to
// |Q|*n^2 table reads per join, about n^4/2 per tree. Instead the call keeps
// triple sums per cluster triple, which are additive when two clusters merge:
//
//   s_clusterTriple[z][x][y] = sum of w[i][j][k], i in x, j in y, k in z (x != y)
//   s_clusterPairTotal[x][y] = sum of w[i][j][k], i in x, j in y, every k
//
// so that, for active clusters q != j (every species lies in one active cluster)
//
//   pairTotal(q, j)     = s_clusterPairTotal[q][j]
//   mergeGain(q, j)     = pairTotal(q, j) - s_clusterTriple[q][q][j] - s_clusterTriple[j][q][j]
//   mergeConflict(q, j) = sum over active k other than q, j of
//                         s_clusterTriple[j][q][k] + s_clusterTriple[q][j][k]
//
// A join then costs O(n^2) and every sum is the same integer as the flag-based
// one. A sum over disjoint x and y meets each table entry with first index
// below second at most once, so it is bounded by the table's total: within
// 32 bits for tressil's input, whose reader keeps the total at or below
// INT32_MAX, but not for the many gene trees infer takes, so the sums are
// 64-bit. The table's symmetry in its first two indices makes
// s_clusterTriple symmetric in x and y, which the merge keeps by mirroring.
//
// The working table grows as n^3, so this construction runs up to
// kMaxSpecies species only.
#include <algorithm>
#include <cstdint>

#include "heuristics/heuristics.h"

// variant: 0 builds the score from the satisfied weight (gain) alone, 1 from
// gain - conflict.
constexpr int16_t kVariantGain = 0;
// scoring: 0 divides by nothing, 1 by the weight that the join decides
// (gain + conflict), 2 by pairTotal.
constexpr int16_t kScoringUndivided = 0;
constexpr int16_t kScoringByDecided = 1;

// Scale of the small gain term added to most scores, so that among equal main
// terms the join satisfying more weight scores higher.
constexpr int32_t kGainTieBreakDivisor = 5000;

// Working tables of one call; static because the largest is 16 MiB.
static int64_t s_clusterTriple[kMaxSpecies][kMaxSpecies][kMaxSpecies];
static int64_t s_clusterPairTotal[kMaxSpecies][kMaxSpecies];
static float s_pairScore[kMaxSpecies][kMaxSpecies];  // [a][b] and [b][a] always equal
static TreeNode* s_clusterNode[kMaxSpecies];         // subtree root of each cluster
static int32_t s_activeCluster[kMaxSpecies];         // active cluster numbers, ascending
static int32_t s_activeCount;

// The low 16 bits of a value read as a two's-complement number.
static int32_t cutTo16Bits(int64_t value) {
    const auto low = static_cast<int32_t>(value & 0xFFFF);
    return low >= 0x8000 ? low - 0x10000 : low;
}

// The low 32 bits of a value read as a two's-complement number.
static int32_t cutTo32Bits(int64_t value) {
    const auto low = static_cast<uint32_t>(static_cast<uint64_t>(value));
    return low >= 0x80000000u ? static_cast<int32_t>(low - 0x80000000u) + INT32_MIN
                              : static_cast<int32_t>(low);
}

static double tieBreakTerm(int64_t gain) {
    return static_cast<double>(gain) / static_cast<double>(kGainTieBreakDivisor);
}

float firstJoinScore(int16_t variant, int16_t scoring, int64_t total, int64_t conflict) {
    if (scoring == kScoringUndivided) {
        if (variant == kVariantGain) return static_cast<float>(total);
        // An integer quotient here, unlike in every later score. Near the
        // numbered format's weight limit the sum can pass INT32_MAX; it is
        // kept to its low 32 bits there, the score this join has always had.
        // Sums of larger terms, which only infer's tables hold, are kept whole.
        const int64_t sum = total - conflict + total / kGainTieBreakDivisor;
        if (total > INT32_MAX || conflict > INT32_MAX) return static_cast<float>(sum);
        return static_cast<float>(cutTo32Bits(sum));
    }
    // The first scores see the divisor only through its low 16 bits.
    const int32_t divisor = cutTo16Bits(scoring == kScoringByDecided ? total + conflict : total);
    if (divisor == 0) return 0.0f;
    const int64_t numerator = variant == kVariantGain ? total : total - conflict;
    return static_cast<float>(static_cast<double>(numerator) / static_cast<double>(divisor) +
                              tieBreakTerm(total));
}

float joinScore(int16_t variant, int16_t scoring, int64_t gain, int64_t conflict, int64_t total) {
    if (scoring == kScoringUndivided) {
        if (variant == kVariantGain) return static_cast<float>(gain);
        return static_cast<float>(static_cast<double>(gain - conflict) + tieBreakTerm(gain));
    }
    // gain and conflict count different triples, so their sum stays within
    // the table total.
    const int64_t divisor = scoring == kScoringByDecided ? gain + conflict : total;
    if (divisor == 0) return 0.0f;
    const int64_t numerator = variant == kVariantGain ? gain : gain - conflict;
    return static_cast<float>(static_cast<double>(numerator) / static_cast<double>(divisor) +
                              tieBreakTerm(gain));
}

// Species of z taken together when the table is copied: the rows of x are
// read along z a block at a time and written along y, so both stay cached.
constexpr int32_t kThirdBlock = 16;

// Every species its own cluster: the cluster sums are the table itself.
static void loadSingleSpeciesSums(int32_t n) {
    const int32_t* row[kMaxSpecies];
    for (int32_t x = 0; x < n; ++x) {
        for (int32_t y = 0; y < n; ++y)
            row[y] = tripleRow(x, y);
        for (int32_t z0 = 0; z0 < n; z0 += kThirdBlock) {
            const int32_t z1 = std::min(n, z0 + kThirdBlock);
            for (int32_t y = 0; y < n; ++y) {
                const int32_t* from = row[y];
                for (int32_t z = z0; z < z1; ++z)
                    s_clusterTriple[z][x][y] = x == y ? 0 : from[z];
            }
        }
        for (int32_t y = 0; y < n; ++y) {
            int64_t total = 0;
            if (x != y)
                for (int32_t z = 0; z < n; ++z)
                    total += row[y][z];
            s_clusterPairTotal[x][y] = total;
        }
    }
    s_activeCount = n;
    for (int32_t x = 0; x < n; ++x)
        s_activeCluster[x] = x;
}

static int64_t clusterPairTotal(int32_t q, int32_t j) {
    return s_clusterPairTotal[q][j];
}

static int64_t clusterGain(int32_t q, int32_t j) {
    return s_clusterPairTotal[q][j] - s_clusterTriple[q][q][j] - s_clusterTriple[j][q][j];
}

static int64_t clusterConflict(int32_t q, int32_t j) {
    // [k]: the weight of w[a][c][b], a in q, c in k, b in j: a meets c before b.
    const int64_t* qPairedOutside = s_clusterTriple[j][q];
    // [k]: the weight of w[b][c][a], b in j, c in k, a in q: b meets c before a.
    const int64_t* jPairedOutside = s_clusterTriple[q][j];
    // Every active cluster, then q and j taken back out: no test per cluster.
    int64_t sum = 0;
    for (int32_t a = 0; a < s_activeCount; ++a) {
        const int32_t k = s_activeCluster[a];
        sum += qPairedOutside[k] + jPairedOutside[k];
    }
    return sum - qPairedOutside[q] - jPairedOutside[q] - qPairedOutside[j] - jPairedOutside[j];
}

static void setPairScore(int32_t a, int32_t b, float score) {
    s_pairScore[a][b] = score;
    s_pairScore[b][a] = score;
}

static void scoreSingleSpecies(int32_t n, int16_t variant, int16_t scoring) {
    for (int32_t i = 0; i + 1 < n; ++i)
        for (int32_t j = i + 1; j < n; ++j)
            setPairScore(
                i, j,
                firstJoinScore(variant, scoring, clusterPairTotal(i, j), clusterConflict(i, j)));
}

static void setupLeaves(int32_t n, TreeNode** pool) {
    for (int32_t x = 0; x < n; ++x)
        s_clusterNode[x] = resetPoolNode(pool, x, x);
}

// The first active pair (lowest q, then lowest r) with the highest score.
// Scores are finite, so this is also the pair that a search keeping only
// scores above -5000 would take whenever it takes one; when none is above,
// the highest one is joined anyway, since every step must join a pair.
static void selectPair(int32_t* bestQ, int32_t* bestR) {
    float best = 0.0f;
    bool found = false;
    for (int32_t a = 0; a + 1 < s_activeCount; ++a) {
        const int32_t q = s_activeCluster[a];
        for (int32_t b = a + 1; b < s_activeCount; ++b) {
            const int32_t r = s_activeCluster[b];
            if (!found || s_pairScore[q][r] > best) {
                best = s_pairScore[q][r];
                *bestQ = q;
                *bestR = r;
                found = true;
            }
        }
    }
}

// Third species in r now count as in q.
static void mergeThirdIndex(int32_t q, int32_t r) {
    for (int32_t a = 0; a < s_activeCount; ++a) {
        const int32_t x = s_activeCluster[a];
        int64_t* into = s_clusterTriple[q][x];
        const int64_t* from = s_clusterTriple[r][x];
        for (int32_t b = 0; b < s_activeCount; ++b) {
            const int32_t y = s_activeCluster[b];
            into[y] += from[y];
        }
    }
}

static void dropActive(int32_t cluster) {
    int32_t kept = 0;
    for (int32_t a = 0; a < s_activeCount; ++a)
        if (s_activeCluster[a] != cluster) s_activeCluster[kept++] = s_activeCluster[a];
    s_activeCount = kept;
}

// Close-pair species in r now count as in q; r must already be inactive.
static void mergePairIndex(int32_t q, int32_t r) {
    for (int32_t a = 0; a < s_activeCount; ++a) {
        const int32_t z = s_activeCluster[a];
        int64_t* into = s_clusterTriple[z][q];
        const int64_t* from = s_clusterTriple[z][r];
        for (int32_t b = 0; b < s_activeCount; ++b) {
            const int32_t y = s_activeCluster[b];
            if (y == q) continue;
            into[y] += from[y];
            s_clusterTriple[z][y][q] = into[y];
        }
    }
    for (int32_t b = 0; b < s_activeCount; ++b) {
        const int32_t y = s_activeCluster[b];
        if (y == q) continue;
        s_clusterPairTotal[q][y] += s_clusterPairTotal[r][y];
        s_clusterPairTotal[y][q] = s_clusterPairTotal[q][y];
    }
}

static void rescore(int32_t q, int16_t variant, int16_t scoring) {
    for (int32_t a = 0; a < s_activeCount; ++a) {
        const int32_t j = s_activeCluster[a];
        if (j == q) continue;
        setPairScore(q, j,
                     joinScore(variant, scoring, clusterGain(q, j), clusterConflict(q, j),
                               clusterPairTotal(q, j)));
    }
}

TreeNode* agglomerate(int16_t variant, int16_t scoring) {
    return agglomerateInPool(variant, scoring, g_nodePool);
}

TreeNode* agglomerateInPool(int16_t variant, int16_t scoring, TreeNode** pool) {
    const int32_t n = g_speciesCount;
    if (n < 2) return singleLeafTree(pool);
    loadSingleSpeciesSums(n);
    scoreSingleSpecies(n, variant, scoring);
    setupLeaves(n, pool);
    int16_t nextSlot = static_cast<int16_t>(n);
    int32_t q = 0;
    for (int32_t s = 1; s < n; ++s) {
        int32_t r = 0;
        selectPair(&q, &r);
        TreeNode* node = pool[nextSlot++];
        node->label = nextSlot;  // n+1 .. 2n-1: one above the slot
        node->left = s_clusterNode[q];
        node->right = s_clusterNode[r];
        node->weight = node->left->weight + node->right->weight + clusterGain(q, r);
        s_clusterNode[q] = node;
        mergeThirdIndex(q, r);
        dropActive(r);
        mergePairIndex(q, r);
        rescore(q, variant, scoring);
    }
    return s_clusterNode[q];
}
