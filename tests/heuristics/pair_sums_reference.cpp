#include "heuristics/pair_sums_reference.h"

#include "common/common.h"

static bool isMember(const int32_t* cluster, int32_t species) {
    return cluster[species] != 0;
}

static bool isOutside(const int32_t* a, const int32_t* b, int32_t species) {
    return !isMember(a, species) && !isMember(b, species);
}

int32_t mergeGain(const int32_t* a, const int32_t* b) {
    const int32_t n = g_speciesCount;
    int32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!isMember(a, i)) continue;
        for (int32_t j = 0; j < n; ++j) {
            if (!isMember(b, j)) continue;
            for (int32_t k = 0; k < n; ++k)
                if (isOutside(a, b, k)) sum += tripleWeight(i, j, k);
        }
    }
    return sum;
}

int32_t mergeConflict(const int32_t* a, const int32_t* b) {
    const int32_t n = g_speciesCount;
    int32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!isMember(a, i)) continue;
        for (int32_t j = 0; j < n; ++j) {
            if (!isMember(b, j)) continue;
            for (int32_t k = 0; k < n; ++k)
                if (isOutside(a, b, k)) sum += tripleWeight(i, k, j) + tripleWeight(j, k, i);
        }
    }
    return sum;
}

int32_t pairTotal(const int32_t* a, const int32_t* b) {
    const int32_t n = g_speciesCount;
    int32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!isMember(a, i)) continue;
        for (int32_t j = 0; j < n; ++j) {
            if (!isMember(b, j)) continue;
            for (int32_t k = 0; k < n; ++k)
                sum += tripleWeight(i, j, k);
        }
    }
    return sum;
}
