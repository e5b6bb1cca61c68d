// Bit-mask primitives of the exact method. Masks stay below 2^20 there, so
// every bit position handled here is below 32. The bits are located with
// count-zero builtins rather than walked one at a time, with the same results
// and the same enumeration order as a bit-by-bit scan: it is cheaper, and GCC
// 12 at -O2 was seen to drop the exit test of such a bit walk.
#include <climits>

#include "exact/exact.h"

constexpr int kMaskWidth = static_cast<int>(sizeof(uint32_t) * CHAR_BIT);

// Mask with bits 0..count-1 set; every bit for a count of 32 or more.
static uint32_t lowBitsMask(int count) {
    if (count <= 0) return 0;
    if (count >= kMaskWidth) return ~0u;
    return (1u << count) - 1u;
}

uint32_t nextSubset(uint32_t mask, int16_t n, int16_t k) {
    if (mask == 0) return lowBitsMask(k);
    // The lowest run of ones occupies bits lo..hi-1.
    const int lo = __builtin_ctz(mask);
    const uint32_t run = mask >> lo;
    if (run == ~0u >> lo) return 0;  // the run reaches bit 31: nothing above it
    const int hi = lo + __builtin_ctz(~run);
    if (hi >= n) return 0;
    // Carry the run one place up into bit hi and drop its other ones to the
    // bottom; bits above hi stay.
    const int runLength = hi - lo;
    return (mask & ~lowBitsMask(hi)) | (1u << hi) | lowBitsMask(runLength - 1);
}

int highestBit(uint32_t mask) {
    if (mask <= 1) return 0;
    return kMaskWidth - 1 - __builtin_clz(mask);
}

int16_t countCommon(uint32_t a, uint32_t b) {
    const uint32_t inRange = lowBitsMask(g_speciesCount);
    return static_cast<int16_t>(__builtin_popcount(a & b & inRange));
}
