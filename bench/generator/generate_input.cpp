// Writes a deterministic random tressil input: the header, then TREES trees,
// each a random rooted binary tree on LEAVES distinct species drawn from
// 0..SPECIES-1, with a random weight from 1 to MAXWEIGHT (default 9).
//
//   tressil_generate SPECIES TREES LEAVES SEED [MAXWEIGHT [NOISE]] > input.txt
//
// With NOISE (a percentage), the trees are gene-tree-like instead: each is a
// hidden species tree restricted to its LEAVES species, with its branching
// depths disturbed by up to NOISE percent of their range, so that it departs
// from the hidden tree more often the higher NOISE is.
//
// The same arguments give the same file with any standard library.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "generator/random_input.h"

int main(int argc, char** argv) {
    if (argc < 5 || argc > 7) {
        std::fputs("use tressil_generate SPECIES TREES LEAVES SEED [MAXWEIGHT [NOISE]]\n", stderr);
        return 1;
    }
    const int species = std::atoi(argv[1]);
    const int trees = std::atoi(argv[2]);
    const int leaves = std::atoi(argv[3]);
    std::mt19937 rng(static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    const int maxWeight = argc >= 6 ? std::atoi(argv[5]) : 9;
    const bool geneTrees = argc == 7;
    const auto noise = static_cast<unsigned>(geneTrees ? std::atoi(argv[6]) : 0);
    if (species < 1 || trees < 1 || leaves < 1 || leaves > species || maxWeight < 1) {
        std::fputs("need 1 <= LEAVES <= SPECIES, TREES >= 1 and MAXWEIGHT >= 1\n", stderr);
        return 1;
    }
    const std::string text =
        randomInput({species, trees, leaves, leaves, maxWeight, false, geneTrees, noise}, rng);
    std::fputs(text.c_str(), stdout);
    return 0;
}
