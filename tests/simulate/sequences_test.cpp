// The sequence simulator against the substitution model's own
// probabilities: base frequencies at stationarity, and the share of sites
// at which two sequences at distance d differ, each within 4 binomial
// standard errors, sqrt(p(1 - p) / sites). Sites are independent given the
// tree, so the counts are binomial.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "simulate/random.h"
#include "simulate/sequences.h"
#include "simulate/tree.h"

namespace {

constexpr int kSites = 50000;

const SubstitutionModel kGtr{{0.1, 0.2, 0.3, 0.4}, {1.0, 2.0, 0.5, 1.5, 3.0, 1.0}, 0.0};
const SubstitutionModel kJc{{0.25, 0.25, 0.25, 0.25}, {1, 1, 1, 1, 1, 1}, 0.0};

void expectShare(int count, int trials, double expected, const std::string& what) {
    const double standardError = std::sqrt(expected * (1.0 - expected) / trials);
    EXPECT_NEAR(static_cast<double>(count) / trials, expected, 4.0 * standardError) << what;
}

// Two sequences at distance d, the root halfway between them.
Alignment evolvePair(const SubstitutionModel& model, double d, uint32_t seed) {
    const SimTree tree =
        parseTrees("(x:" + std::to_string(d / 2) + ",y:" + std::to_string(d / 2) + ");")[0];
    std::mt19937_64 rng = engineFor(seed, 0, 0);
    return evolveAlignment(tree, model, kSites, rng);
}

int differingSites(const Alignment& alignment) {
    int count = 0;
    for (int s = 0; s < kSites; ++s)
        count += alignment.sequences[0][static_cast<size_t>(s)] !=
                 alignment.sequences[1][static_cast<size_t>(s)];
    return count;
}

// exp(Qd) by its Taylor series, with Q built here from the model's
// definition: Q_ij = s_ij pi_j, scaled to one substitution per unit time.
Matrix4 slowTransitionMatrix(const SubstitutionModel& model, double d) {
    const int pair[4][4] = {{-1, 0, 1, 2}, {0, -1, 3, 4}, {1, 3, -1, 5}, {2, 4, 5, -1}};
    Matrix4 q{};
    double rate = 0.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (i != j) {
                q[i][j] = model.exchangeabilities[pair[i][j]] * model.frequencies[j];
                q[i][i] -= q[i][j];
                rate += model.frequencies[i] * q[i][j];
            }
    Matrix4 sum{}, term{};
    for (int i = 0; i < 4; ++i)
        sum[i][i] = term[i][i] = 1.0;
    for (int n = 1; n < 60; ++n) {
        Matrix4 next{};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                for (int k = 0; k < 4; ++k)
                    next[i][j] += term[i][k] * q[k][j] * d / rate / n;
        term = next;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                sum[i][j] += term[i][j];
    }
    return sum;
}

TEST(SequenceEvolution, LeafBasesFollowTheStationaryFrequencies) {
    SubstitutionModel model = kGtr;
    model.alpha = 0.5;
    const Alignment alignment = evolvePair(model, 0.8, 21);
    for (int base = 0; base < 4; ++base) {
        int count = 0;
        for (const char c : alignment.sequences[1])
            count += c == "ACGT"[base];
        expectShare(count, kSites, model.frequencies[static_cast<size_t>(base)],
                    std::string("base ") + "ACGT"[base]);
    }
}

TEST(SequenceEvolution, DifferingSitesMatchTheModel) {
    for (const double d : {0.05, 0.3, 1.0}) {
        const std::string at = " at d = " + std::to_string(d);
        expectShare(differingSites(evolvePair(kJc, d, 22)), kSites,
                    0.75 * (1.0 - std::exp(-4.0 * d / 3.0)), "JC69" + at);
        // With a gamma of shape alpha and mean 1 over sites, e^-x averages
        // to (1 + x / alpha)^-alpha.
        SubstitutionModel gamma = kJc;
        gamma.alpha = 0.5;
        expectShare(differingSites(evolvePair(gamma, d, 23)), kSites,
                    0.75 * (1.0 - std::pow(1.0 + 4.0 * d / 3.0 / gamma.alpha, -gamma.alpha)),
                    "JC69+Gamma" + at);
        // GTR: two sequences agree with probability sum_i pi_i P_ii(d).
        const Matrix4 slow = slowTransitionMatrix(kGtr, d);
        const Matrix4 fast = transitionMatrix(decomposeModel(kGtr), d);
        double same = 0.0;
        for (size_t i = 0; i < 4; ++i) {
            same += kGtr.frequencies[i] * slow[i][i];
            for (size_t j = 0; j < 4; ++j)
                EXPECT_NEAR(fast[i][j], slow[i][j], 1e-12)
                    << "P(d)[" << i << "][" << j << "]" << at;
        }
        expectShare(differingSites(evolvePair(kGtr, d, 24)), kSites, 1.0 - same, "GTR" + at);
    }
}

}  // namespace
