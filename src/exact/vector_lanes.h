// Internal to the exact method: the vector helpers that the split tables and
// the split scans share.
#pragma once

#include <cstdint>
#include <cstring>

// Four table entries handled as one value; the compiler turns the arithmetic
// into whatever vector instructions the target has.
typedef uint32_t TableLanes __attribute__((vector_size(16)));
constexpr uint32_t kTableLanes = 4;

inline TableLanes loadTableLanes(const uint32_t* p) {
    TableLanes lanes;
    std::memcpy(&lanes, p, sizeof lanes);
    return lanes;
}

inline void storeTableLanes(uint32_t* p, TableLanes lanes) {
    std::memcpy(p, &lanes, sizeof lanes);
}

// AVX2 code is compiled for that target alone, function by function, and run
// only after a check of the processor (vectorKernelsUsable).
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TRESSIL_X86_VECTOR 1
#define TRESSIL_TARGET_AVX2 __attribute__((target("avx2,popcnt")))
#define TRESSIL_INLINE_AVX2 __attribute__((target("avx2,popcnt"), always_inline)) inline

constexpr int kLanes = 8;

TRESSIL_INLINE_AVX2 __m256i broadcast(uint32_t value) {
    return _mm256_set1_epi32(static_cast<int>(value));
}

TRESSIL_INLINE_AVX2 __m256i loadLanes(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

TRESSIL_INLINE_AVX2 void storeLanes(void* p, __m256i lanes) {
    _mm256_storeu_si256(static_cast<__m256i*>(p), lanes);
}
#endif
