// DNA sequences along a tree under GTR+Gamma: the substitution model, its
// transition probabilities and the evolution of an alignment from the root.
#pragma once

#include <array>
#include <random>
#include <string>
#include <vector>

#include "simulate/tree.h"

using Matrix4 = std::array<std::array<double, 4>, 4>;

// Bases are numbered A, C, G, T = 0, 1, 2, 3 throughout.
struct SubstitutionModel {
    std::array<double, 4> frequencies;        // stationary, summing to 1
    std::array<double, 6> exchangeabilities;  // AC, AG, AT, CG, CT, GT; > 0
    double alpha;  // shape of the gamma of site rates (mean 1); 0 for equal rates
};

// The rate matrix Q = S diag(frequencies), its diagonal making rows sum to
// 0, scaled to one expected substitution per site per unit time at
// stationarity, as branch lengths in substitutions per site assume.
Matrix4 rateMatrix(const SubstitutionModel& model);

// Q in the form that gives P(t) = exp(Qt) cheaply. Q is similar to the
// symmetric B = D Q D^-1 with D = diag(sqrt(frequencies)); with
// B = V diag(values) V^T, exp(Qt) = D^-1 V diag(exp(values t)) V^T D.
struct Decomposition {
    std::array<double, 4> values;
    Matrix4 vectors;                        // column k is the eigenvector of values[k]
    std::array<double, 4> rootFrequencies;  // sqrt of the frequencies
};
Decomposition decomposeModel(const SubstitutionModel& model);

// Eigenvalues and orthonormal eigenvectors (as columns) of a symmetric 4x4
// matrix, by cyclic Jacobi rotations.
void symmetricEigen(const Matrix4& matrix, std::array<double, 4>* values, Matrix4* vectors);

// P(t) = exp(Qt): entry [i][j] is the probability of base j after time t
// (substitutions per site) from base i.
Matrix4 transitionMatrix(const Decomposition& decomposition, double t);

// One row of P(t), for the base the branch starts from.
std::array<double, 4> transitionRow(const Decomposition& decomposition, int from, double t);

struct Alignment {
    std::vector<std::string> names;      // sorted, so every gene lists its taxa alike
    std::vector<std::string> sequences;  // of A, C, G, T
};

// Evolves length sites down the tree (lengths in substitutions per site):
// the root's bases are drawn from the stationary frequencies, each site's
// rate from a gamma of mean 1 and shape alpha (a continuous rate per site,
// not a few discrete classes), and each branch changes a base with the row
// of P(rate * length).
Alignment evolveAlignment(const SimTree& tree, const SubstitutionModel& model, int length,
                          std::mt19937_64& rng);

// Relaxed PHYLIP: "taxa sites", then each name, a blank and the sequence on
// one line. One block, so readers of interleaved PHYLIP take it too, and
// several such alignments one after another make the multi-alignment file
// that tree builders read in one run.
std::string writePhylip(const Alignment& alignment);

// FASTA: ">name" and the sequence on one line each.
std::string writeFasta(const Alignment& alignment);
