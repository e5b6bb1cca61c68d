// Internal to the kernels that have a vector form (the triple table and the
// exact method): the AVX2 helpers they share. No module header includes it;
// the .cpp files of those kernels do.
//
// Vector code is written with AVX2 intrinsics, compiled for that target alone,
// function by function, and run only after vectorKernelsUsable() (common.h)
// said yes. The portable forms are plain loops, left to the compiler.
#pragma once

#include <cstdint>

// 32-bit table entries per vector.
constexpr int kLanes = 8;

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TRESSIL_X86_VECTOR 1
#define TRESSIL_TARGET_AVX2 __attribute__((target("avx2,popcnt")))
#define TRESSIL_INLINE_AVX2 __attribute__((target("avx2,popcnt"), always_inline)) inline

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
