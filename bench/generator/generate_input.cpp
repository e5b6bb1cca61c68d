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

// A hidden tree over all species: the leaves in a random order, and between
// neighbours the depth at which they part; the deepest cut splits first.
struct HiddenTree {
    std::vector<int> order;
    std::vector<unsigned> gap;  // gap[i] parts order[i] and order[i + 1]
};

// The tree on positions first..last of a leaf list, split at the largest gap
// (the first of equals).
std::string splitAtLargestGap(const std::vector<int>& leaves, const std::vector<unsigned>& gap,
                              size_t first, size_t last) {
    if (first == last) return std::to_string(leaves[first]);
    size_t cut = first;
    for (size_t i = first; i < last; ++i)
        if (gap[i] > gap[cut]) cut = i;
    return "(" + splitAtLargestGap(leaves, gap, first, cut) + "," +
           splitAtLargestGap(leaves, gap, cut + 1, last) + ")";
}

// The hidden tree restricted to the chosen species, with every gap between
// them raised by a random amount of up to noise percent of the gap range.
std::string geneTree(const HiddenTree& hidden, const std::vector<bool>& chosen, unsigned noise,
                     std::mt19937& rng) {
    constexpr unsigned kGapRange = 1000000;
    std::vector<int> leaves;
    std::vector<unsigned> gap;
    unsigned pending = 0;
    for (size_t i = 0; i < hidden.order.size(); ++i) {
        if (chosen[static_cast<size_t>(hidden.order[i])]) {
            if (!leaves.empty()) gap.push_back(pending + below(rng, kGapRange / 100 * noise + 1));
            leaves.push_back(hidden.order[i]);
            pending = 0;
        }
        if (i + 1 < hidden.order.size() && hidden.gap[i] > pending) pending = hidden.gap[i];
    }
    return splitAtLargestGap(leaves, gap, 0, leaves.size() - 1);
}

HiddenTree makeHiddenTree(int species, std::mt19937& rng) {
    HiddenTree hidden;
    for (int i = 0; i < species; ++i)
        hidden.order.push_back(i);
    for (int i = species - 1; i > 0; --i)
        std::swap(hidden.order[static_cast<size_t>(i)],
                  hidden.order[below(rng, static_cast<unsigned>(i + 1))]);
    for (int i = 0; i + 1 < species; ++i)
        hidden.gap.push_back(below(rng, 1000000));
    return hidden;
}

}  // namespace

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
    std::printf("%d %d\n", species, trees);
    HiddenTree hidden;
    if (geneTrees) hidden = makeHiddenTree(species, rng);
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
        std::vector<bool> chosen(static_cast<size_t>(species), false);
        for (int i = 0; i < leaves; ++i)
            chosen[static_cast<size_t>(order[static_cast<size_t>(i)])] = true;
        const std::string tree =
            geneTrees ? geneTree(hidden, chosen, noise, rng) : randomTree(parts, rng);
        std::printf("%s:%u;\n", tree.c_str(), 1 + below(rng, static_cast<unsigned>(maxWeight)));
    }
    std::puts(".");
    return 0;
}
