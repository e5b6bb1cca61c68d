#include "simulate/sequences.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "simulate/random.h"

static constexpr char kBases[] = "ACGT";

// The exchangeability of bases i != j in the order AC, AG, AT, CG, CT, GT.
static double exchangeability(const SubstitutionModel& model, int i, int j) {
    static constexpr int kPairIndex[4][4] = {
        {-1, 0, 1, 2}, {0, -1, 3, 4}, {1, 3, -1, 5}, {2, 4, 5, -1}};
    return model.exchangeabilities[static_cast<size_t>(kPairIndex[i][j])];
}

Matrix4 rateMatrix(const SubstitutionModel& model) {
    Matrix4 q{};
    double perSite = 0.0;  // expected substitutions per unit time before scaling
    for (int i = 0; i < 4; ++i) {
        double out = 0.0;
        for (int j = 0; j < 4; ++j) {
            if (i == j) continue;
            q[i][j] = exchangeability(model, i, j) * model.frequencies[static_cast<size_t>(j)];
            out += q[i][j];
        }
        q[i][i] = -out;
        perSite += model.frequencies[static_cast<size_t>(i)] * out;
    }
    for (auto& row : q)
        for (double& entry : row)
            entry /= perSite;
    return q;
}

void symmetricEigen(const Matrix4& matrix, std::array<double, 4>* values, Matrix4* vectors) {
    // Each rotation zeroes one off-diagonal pair; sweeps over all pairs
    // shrink the rest quadratically, so a handful of sweeps reach rounding.
    constexpr int kMaxSweeps = 64;
    constexpr double kOffDiagonalSquares = 1e-30;
    Matrix4 a = matrix;
    Matrix4& v = *vectors;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            v[i][j] = i == j ? 1.0 : 0.0;
    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
        double off = 0.0;
        for (int p = 0; p < 4; ++p)
            for (int q = p + 1; q < 4; ++q)
                off += a[p][q] * a[p][q];
        if (off < kOffDiagonalSquares) break;
        for (int p = 0; p < 4; ++p) {
            for (int q = p + 1; q < 4; ++q) {
                if (a[p][q] == 0.0) continue;
                // The rotation angle that zeroes a[p][q], through its
                // smaller tangent for stability.
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0);
                const double s = t * c;
                for (int k = 0; k < 4; ++k) {
                    const double kp = a[k][p], kq = a[k][q];
                    a[k][p] = c * kp - s * kq;
                    a[k][q] = s * kp + c * kq;
                }
                for (int k = 0; k < 4; ++k) {
                    const double pk = a[p][k], qk = a[q][k];
                    a[p][k] = c * pk - s * qk;
                    a[q][k] = s * pk + c * qk;
                }
                for (int k = 0; k < 4; ++k) {
                    const double kp = v[k][p], kq = v[k][q];
                    v[k][p] = c * kp - s * kq;
                    v[k][q] = s * kp + c * kq;
                }
            }
        }
    }
    for (int i = 0; i < 4; ++i)
        (*values)[static_cast<size_t>(i)] = a[i][i];
}

Decomposition decomposeModel(const SubstitutionModel& model) {
    const Matrix4 q = rateMatrix(model);
    Decomposition d{};
    for (size_t i = 0; i < 4; ++i)
        d.rootFrequencies[i] = std::sqrt(model.frequencies[i]);
    Matrix4 b{};
    for (size_t i = 0; i < 4; ++i)
        for (size_t j = 0; j < 4; ++j)
            b[i][j] = d.rootFrequencies[i] * q[i][j] / d.rootFrequencies[j];
    // B is symmetric in exact arithmetic; averaging removes the rounding.
    for (size_t i = 0; i < 4; ++i)
        for (size_t j = i + 1; j < 4; ++j)
            b[i][j] = b[j][i] = 0.5 * (b[i][j] + b[j][i]);
    symmetricEigen(b, &d.values, &d.vectors);
    return d;
}

std::array<double, 4> transitionRow(const Decomposition& d, int from, double t) {
    const size_t i = static_cast<size_t>(from);
    std::array<double, 4> decay;
    for (size_t k = 0; k < 4; ++k)
        decay[k] = std::exp(d.values[k] * t) * d.vectors[i][k];
    std::array<double, 4> row;
    for (size_t j = 0; j < 4; ++j) {
        double sum = 0.0;
        for (size_t k = 0; k < 4; ++k)
            sum += decay[k] * d.vectors[j][k];
        // Rounding can leave a tiny negative where the value is 0.
        row[j] = std::max(0.0, sum * d.rootFrequencies[j] / d.rootFrequencies[i]);
    }
    return row;
}

Matrix4 transitionMatrix(const Decomposition& d, double t) {
    Matrix4 p;
    for (int i = 0; i < 4; ++i)
        p[static_cast<size_t>(i)] = transitionRow(d, i, t);
    return p;
}

// A base drawn with the given probabilities (which may miss 1 by rounding;
// the last base takes what is left).
static int drawBase(const std::array<double, 4>& probabilities, std::mt19937_64& rng) {
    const double u = drawUniform(rng);
    double sum = 0.0;
    for (int j = 0; j < 3; ++j) {
        sum += probabilities[static_cast<size_t>(j)];
        if (u < sum) return j;
    }
    return 3;
}

// The gamma of shape alpha divided by alpha has mean 1, so branch lengths
// keep their meaning of expected substitutions per site.
static std::vector<double> siteRates(double alpha, int length, std::mt19937_64& rng) {
    std::vector<double> rates(static_cast<size_t>(length), 1.0);
    if (alpha > 0.0)
        for (double& rate : rates)
            rate = drawGamma(rng, alpha) / alpha;
    return rates;
}

Alignment evolveAlignment(const SimTree& tree, const SubstitutionModel& model, int length,
                          std::mt19937_64& rng) {
    const Decomposition d = decomposeModel(model);
    const std::vector<double> rates = siteRates(model.alpha, length, rng);
    const size_t sites = static_cast<size_t>(length);
    // Bases as 0..3 per node; parents come before children in reversed
    // postorder.
    std::vector<std::vector<int>> bases(tree.nodes.size());
    const std::vector<int> order = postorder(tree);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const SimNode& node = tree.nodes[static_cast<size_t>(*it)];
        std::vector<int>& own = bases[static_cast<size_t>(*it)];
        own.resize(sites);
        if (node.parent < 0) {
            for (int& base : own)
                base = drawBase(model.frequencies, rng);
            continue;
        }
        const std::vector<int>& above = bases[static_cast<size_t>(node.parent)];
        if (model.alpha > 0.0) {
            for (size_t s = 0; s < sites; ++s)
                own[s] = drawBase(transitionRow(d, above[s], rates[s] * node.length), rng);
        } else {
            const Matrix4 p = transitionMatrix(d, node.length);
            for (size_t s = 0; s < sites; ++s)
                own[s] = drawBase(p[static_cast<size_t>(above[s])], rng);
        }
    }
    std::vector<std::pair<std::string, int>> leaves;
    for (const int leaf : leavesOf(tree))
        leaves.emplace_back(tree.nodes[static_cast<size_t>(leaf)].name, leaf);
    std::sort(leaves.begin(), leaves.end());
    Alignment alignment;
    for (const auto& [name, leaf] : leaves) {
        std::string sequence(sites, 'A');
        for (size_t s = 0; s < sites; ++s)
            sequence[s] = kBases[bases[static_cast<size_t>(leaf)][s]];
        alignment.names.push_back(name);
        alignment.sequences.push_back(sequence);
    }
    return alignment;
}

std::string writePhylip(const Alignment& alignment) {
    const size_t sites = alignment.sequences.empty() ? 0 : alignment.sequences[0].size();
    std::string text = std::to_string(alignment.names.size()) + " " + std::to_string(sites) + "\n";
    for (size_t i = 0; i < alignment.names.size(); ++i)
        text += alignment.names[i] + " " + alignment.sequences[i] + "\n";
    return text;
}

std::string writeFasta(const Alignment& alignment) {
    std::string text;
    for (size_t i = 0; i < alignment.names.size(); ++i)
        text += ">" + alignment.names[i] + "\n" + alignment.sequences[i] + "\n";
    return text;
}
