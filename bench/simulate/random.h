// Seeded random draws for the simulators. Every draw is computed here from
// the raw 64-bit output of std::mt19937_64, never through a library
// distribution (whose output differs between standard libraries), so the
// same seed gives the same files with any standard library.
#pragma once

#include <cstdint>
#include <random>

// An engine of its own for each (seed, stream, index), so that gene g of a
// run draws the same numbers however many genes come before it, and a change
// to one stream (say, which taxa go missing) leaves the others alone.
// std::seed_seq's mixing is fixed by the standard, as the engine is.
std::mt19937_64 engineFor(uint64_t seed, uint32_t stream, uint32_t index);

// Uniform on [0, 1), with the 53 high bits of one engine output.
double drawUniform(std::mt19937_64& rng);

// Uniform on (0, 1): never 0, so its logarithm is finite.
double drawOpenUniform(std::mt19937_64& rng);

// Uniform on 0..bound-1, bound >= 1. The remainder's bias is below
// bound / 2^64, far under any count a simulation makes.
uint64_t drawBelow(std::mt19937_64& rng, uint64_t bound);

// Exponential with the given rate (> 0).
double drawExponential(std::mt19937_64& rng, double rate);

// Standard normal (Box-Muller, one value of the pair).
double drawNormal(std::mt19937_64& rng);

// Gamma with the given shape (> 0) and scale 1 (Marsaglia and Tsang, 2000;
// below shape 1 through Gamma(shape + 1) * U^(1/shape)).
double drawGamma(std::mt19937_64& rng, double shape);
