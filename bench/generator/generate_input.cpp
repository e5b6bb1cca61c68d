// Writes a deterministic random tressil input: the header, then TREES trees,
// each a random rooted binary tree on LEAVES distinct species drawn from
// 0..SPECIES-1, with a random weight from 1 to MAXWEIGHT (default 9).
//
//   tressil_generate SPECIES TREES LEAVES SEED [MAXWEIGHT] > input.txt
//
// The same arguments give the same file with any standard library.
#include <cstdio>
#include <cstdlib>
#include <random>

#include "generator/random_input.h"

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fputs("use tressil_generate SPECIES TREES LEAVES SEED [MAXWEIGHT]\n", stderr);
        return 1;
    }
    const int species = std::atoi(argv[1]);
    const int trees = std::atoi(argv[2]);
    const int leaves = std::atoi(argv[3]);
    std::mt19937 rng(static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
    const int maxWeight = argc == 6 ? std::atoi(argv[5]) : 9;
    if (species < 1 || trees < 1 || leaves < 1 || leaves > species || maxWeight < 1) {
        std::fputs("need 1 <= LEAVES <= SPECIES, TREES >= 1 and MAXWEIGHT >= 1\n", stderr);
        return 1;
    }
    std::fputs(randomInput({species, trees, leaves, leaves, maxWeight, false}, rng).c_str(),
               stdout);
    return 0;
}
