// Writes a deterministic random tressil input: the header, then TREES trees,
// each a random rooted binary tree on LEAVES distinct species drawn from
// 0..SPECIES-1, with a random weight from 1 to MAXWEIGHT (default 9).
//
//   tressil_generate SPECIES TREES LEAVES SEED [MAXWEIGHT] > input.txt
//
// Only the raw 32-bit engine output is used (never a library distribution),
// so the same arguments give the same file with any standard library.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

unsigned below(std::mt19937& rng, unsigned bound) {
    return static_cast<unsigned>(rng() % bound);
}

// Joins two random subtrees until one is left.
std::string randomTree(std::vector<std::string> parts, std::mt19937& rng) {
    while (parts.size() > 1) {
        const unsigned a = below(rng, static_cast<unsigned>(parts.size()));
        std::swap(parts[a], parts.back());
        std::string right = parts.back();
        parts.pop_back();
        const unsigned b = below(rng, static_cast<unsigned>(parts.size()));
        parts[b] = "(" + parts[b] + "," + right + ")";
    }
    return parts[0];
}

}  // namespace

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
    std::printf("%d %d\n", species, trees);
    std::vector<int> order(static_cast<size_t>(species));
    for (int t = 0; t < trees; ++t) {
        for (int i = 0; i < species; ++i)
            order[static_cast<size_t>(i)] = i;
        std::vector<std::string> parts;
        for (int i = 0; i < leaves; ++i) {  // a partial Fisher-Yates shuffle
            const unsigned j =
                static_cast<unsigned>(i) + below(rng, static_cast<unsigned>(species - i));
            std::swap(order[static_cast<size_t>(i)], order[j]);
            parts.push_back(std::to_string(order[static_cast<size_t>(i)]));
        }
        std::printf("%s:%u;\n", randomTree(parts, rng).c_str(),
                    1 + below(rng, static_cast<unsigned>(maxWeight)));
    }
    std::puts(".");
    return 0;
}
