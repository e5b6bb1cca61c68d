#include "simulate/random.h"

#include <cmath>

std::mt19937_64 engineFor(uint64_t seed, uint32_t stream, uint32_t index) {
    std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32), stream,
                           index};
    return std::mt19937_64(sequence);
}

double drawUniform(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

double drawOpenUniform(std::mt19937_64& rng) {
    return (static_cast<double>(rng() >> 11) + 0.5) * 0x1.0p-53;
}

uint64_t drawBelow(std::mt19937_64& rng, uint64_t bound) {
    return rng() % bound;
}

double drawExponential(std::mt19937_64& rng, double rate) {
    return -std::log(drawOpenUniform(rng)) / rate;
}

double drawNormal(std::mt19937_64& rng) {
    constexpr double kTwoPi = 6.283185307179586476925286766559;
    return std::sqrt(-2.0 * std::log(drawOpenUniform(rng))) * std::cos(kTwoPi * drawUniform(rng));
}

double drawGamma(std::mt19937_64& rng, double shape) {
    if (shape < 1.0) {
        const double boosted = drawGamma(rng, shape + 1.0);
        return boosted * std::pow(drawOpenUniform(rng), 1.0 / shape);
    }
    const double d = shape - 1.0 / 3.0;
    const double c = 1.0 / std::sqrt(9.0 * d);
    for (;;) {
        const double x = drawNormal(rng);
        double v = 1.0 + c * x;
        if (v <= 0.0) continue;
        v = v * v * v;
        const double u = drawOpenUniform(rng);
        if (std::log(u) < 0.5 * x * x + d - d * v + d * std::log(v)) return d * v;
    }
}
