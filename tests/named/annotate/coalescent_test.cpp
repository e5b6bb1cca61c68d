// The posterior of a branch's resolutions against integrating the
// likelihood times the prior over the branch length directly.
#include <gtest/gtest.h>

#include <cmath>

#include "named/annotate/annotate.h"

namespace {

// Integral over t in [0, inf) of P(counts | resolution shown, t) e^-t dt;
// with u = e^-t it is the integral over u in (0, 1] of
// (1 - 2u/3)^f (u/3)^(n - f) du, taken by Simpson's rule.
double evidence(double f, double n) {
    const int steps = 20000;
    double sum = 0;
    for (int k = 0; k <= steps; ++k) {
        const double u = static_cast<double>(k) / steps;
        const double value = std::pow(1 - 2 * u / 3, f) * std::pow(u / 3, n - f);
        sum += value * (k == 0 || k == steps ? 1 : k % 2 == 1 ? 4 : 2);
    }
    return sum / (3.0 * steps);
}

TEST(BranchPosterior, MatchesIntegratingOverTheBranchLength) {
    const double counts[][3] = {{0, 0, 0},      {1, 0, 0},   {3, 1, 1},  {5, 5, 5},  {10, 2, 0},
                                {2.5, 1.25, 0}, {20, 12, 8}, {7, 9, 11}, {40, 1, 1}, {0.5, 0, 3}};
    for (const auto& f : counts) {
        const double n = f[0] + f[1] + f[2];
        const BranchPosterior posterior = branchPosterior(f);
        double e[3];
        for (int i = 0; i < 3; ++i)
            e[i] = evidence(f[i], n);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(posterior.resolution[i], e[i] / (e[0] + e[1] + e[2]), 1e-6)
                << f[0] << " " << f[1] << " " << f[2];
    }
}

// Thousands of genes neither overflow nor round the losing resolutions away
// too early, and the posterior still sums to one.
TEST(BranchPosterior, StaysFiniteForThousandsOfGenes) {
    const double f[3] = {4000, 3900, 3800};
    const BranchPosterior posterior = branchPosterior(f);
    EXPECT_GT(posterior.resolution[0], 0.5);
    EXPECT_GT(posterior.resolution[1], 0);
    EXPECT_NEAR(posterior.resolution[0] + posterior.resolution[1] + posterior.resolution[2], 1,
                1e-12);
    EXPECT_DOUBLE_EQ(branchLength(10, 10), kMaxBranchLength);
    EXPECT_EQ(branchLength(1, 3), 0);
}

}  // namespace
