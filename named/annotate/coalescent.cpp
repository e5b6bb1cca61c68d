// What the multispecies coalescent says about one branch of a species tree,
// given how often the gene trees resolve its triples each way.
//
// For a species tree ((a,b),c) whose inner branch is t coalescent units
// long, a gene tree displays ab|c with probability z = 1 - (2/3)e^-t and each
// of the other two resolutions with (1 - z)/2. With counts f1 (the shown
// resolution), f2 and f3, n = f1 + f2 + f3:
//
// - Length: the z that best explains f1 is f1/n, so t = -ln((3/2)(1 - f1/n))
//   when f1/n > 1/3, and 0 otherwise.
// - Posterior: with an exponential prior of rate 1 on t, the prior of z is
//   uniform on [1/3, 1) (e^-t dt = (3/2) dz), so the evidence for resolution
//   i is (3/2) 2^-(n-fi) B(fi+1, n-fi+1) (1 - I_1/3(fi+1, n-fi+1)), where I
//   is the regularised incomplete beta function. The three resolutions are
//   equally likely beforehand.
//
// Everything is computed in logarithms: with thousands of genes the terms
// are far below the smallest double.
#include <algorithm>
#include <cmath>

#include "named/annotate/annotate.h"

namespace {

constexpr double kOneThird = 1.0 / 3.0;
constexpr int kMaxFractionTerms = 10000;
constexpr double kFractionPrecision = 1e-15;
constexpr double kTiny = 1e-300;  // keeps the continued fraction off zero

double logBeta(double a, double b) {
    return std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b);
}

// The continued fraction of I_x(a, b), by the modified Lentz method; it
// converges fast for x < (a + 1) / (a + b + 2).
double betaFraction(double a, double b, double x) {
    double c = 1.0;
    double d = 1.0 - (a + b) * x / (a + 1.0);
    if (std::fabs(d) < kTiny) d = kTiny;
    d = 1.0 / d;
    double fraction = d;
    for (int m = 1; m <= kMaxFractionTerms; ++m) {
        for (const bool even : {true, false}) {
            const double numerator =
                even ? m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m))
                     : -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
            d = 1.0 + numerator * d;
            if (std::fabs(d) < kTiny) d = kTiny;
            c = 1.0 + numerator / c;
            if (std::fabs(c) < kTiny) c = kTiny;
            d = 1.0 / d;
            fraction *= d * c;
            if (!even && std::fabs(d * c - 1.0) < kFractionPrecision) return fraction;
        }
    }
    return fraction;
}

// log I_x(a, b) for 0 < x < 1, by the continued fraction on whichever side
// converges, the other side through I_x(a, b) = 1 - I_(1-x)(b, a).
double logIncompleteBeta(double a, double b, double x) {
    const double front = a * std::log(x) + b * std::log1p(-x) - logBeta(a, b);
    if (x < (a + 1.0) / (a + b + 2.0)) return front + std::log(betaFraction(a, b, x) / a);
    const double other = std::exp(front + std::log(betaFraction(b, a, 1.0 - x) / b));
    return std::log1p(-std::min(other, 1.0));
}

// log of the evidence for one resolution, up to a factor all three share.
double logEvidence(double f, double n) {
    // 1 - I_1/3(f+1, n-f+1) = I_2/3(n-f+1, f+1)
    return f * std::log(2.0) + logBeta(f + 1.0, n - f + 1.0) +
           logIncompleteBeta(n - f + 1.0, f + 1.0, 2.0 * kOneThird);
}

}  // namespace

BranchPosterior branchPosterior(const double f[3]) {
    const double n = f[0] + f[1] + f[2];
    BranchPosterior posterior{{kOneThird, kOneThird, kOneThird}};
    if (!(n > 0)) return posterior;
    double logs[3];
    for (int i = 0; i < 3; ++i)
        logs[i] = logEvidence(f[i], n);
    const double top = std::max({logs[0], logs[1], logs[2]});
    double sum = 0;
    for (int i = 0; i < 3; ++i)
        sum += std::exp(logs[i] - top);
    for (int i = 0; i < 3; ++i)
        posterior.resolution[i] = std::exp(logs[i] - top) / sum;
    return posterior;
}

double branchLength(double f1, double n) {
    if (!(n > 0) || f1 / n <= kOneThird) return 0.0;
    const double rest = 1.0 - f1 / n;
    if (rest <= 0) return kMaxBranchLength;
    return std::min(kMaxBranchLength, -std::log(1.5 * rest));
}
