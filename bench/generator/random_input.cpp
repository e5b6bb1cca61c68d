#include "generator/random_input.h"

#include <utility>
#include <vector>

static unsigned below(std::mt19937& rng, unsigned bound) {
    return static_cast<unsigned>(rng() % bound);
}

// Joins two random subtrees until one is left.
static std::string randomTree(std::vector<std::string> parts, bool mixSeparators,
                              std::mt19937& rng) {
    while (parts.size() > 1) {
        const unsigned a = below(rng, static_cast<unsigned>(parts.size()));
        std::swap(parts[a], parts.back());
        std::string right = parts.back();
        parts.pop_back();
        const unsigned b = below(rng, static_cast<unsigned>(parts.size()));
        const char* separator = !mixSeparators || below(rng, 2) != 0 ? "," : " ";
        parts[b] = "(" + parts[b] + separator + right + ")";
    }
    return parts[0];
}

// A hidden tree over all species: the leaves in a random order, and between
// neighbours the depth at which they part; the deepest cut splits first.
struct HiddenTree {
    std::vector<int> order;
    std::vector<unsigned> gap;  // gap[i] parts order[i] and order[i + 1]
};

constexpr unsigned kGapRange = 1000000;

// The tree on positions first..last of a leaf list, split at the largest gap
// (the first of equals).
static std::string splitAtLargestGap(const std::vector<int>& leaves,
                                     const std::vector<unsigned>& gap, size_t first, size_t last) {
    if (first == last) return std::to_string(leaves[first]);
    size_t cut = first;
    for (size_t i = first; i < last; ++i)
        if (gap[i] > gap[cut]) cut = i;
    return "(" + splitAtLargestGap(leaves, gap, first, cut) + "," +
           splitAtLargestGap(leaves, gap, cut + 1, last) + ")";
}

// The hidden tree restricted to the chosen species, with every gap between
// them raised by a random amount of up to noise percent of the gap range.
static std::string geneTree(const HiddenTree& hidden, const std::vector<bool>& chosen,
                            unsigned noise, std::mt19937& rng) {
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

static HiddenTree makeHiddenTree(int species, std::mt19937& rng) {
    HiddenTree hidden;
    for (int i = 0; i < species; ++i)
        hidden.order.push_back(i);
    for (int i = species - 1; i > 0; --i)
        std::swap(hidden.order[static_cast<size_t>(i)],
                  hidden.order[below(rng, static_cast<unsigned>(i + 1))]);
    for (int i = 0; i + 1 < species; ++i)
        hidden.gap.push_back(below(rng, kGapRange));
    return hidden;
}

std::string randomInput(const RandomInputShape& shape, std::mt19937& rng) {
    std::string text = std::to_string(shape.species) + " " + std::to_string(shape.trees) + "\n";
    HiddenTree hidden;
    if (shape.geneTrees) hidden = makeHiddenTree(shape.species, rng);
    std::vector<int> order(static_cast<size_t>(shape.species));
    for (int t = 0; t < shape.trees; ++t) {
        int leaves = shape.minLeaves;
        if (shape.maxLeaves > shape.minLeaves)
            leaves += static_cast<int>(
                below(rng, static_cast<unsigned>(shape.maxLeaves - shape.minLeaves + 1)));
        for (int i = 0; i < shape.species; ++i)
            order[static_cast<size_t>(i)] = i;
        std::vector<std::string> parts;
        for (int i = 0; i < leaves; ++i) {  // a partial Fisher-Yates shuffle
            const unsigned j =
                static_cast<unsigned>(i) + below(rng, static_cast<unsigned>(shape.species - i));
            std::swap(order[static_cast<size_t>(i)], order[j]);
            parts.push_back(std::to_string(order[static_cast<size_t>(i)]));
        }
        std::string tree;
        if (shape.geneTrees) {
            std::vector<bool> chosen(static_cast<size_t>(shape.species), false);
            for (int i = 0; i < leaves; ++i)
                chosen[static_cast<size_t>(order[static_cast<size_t>(i)])] = true;
            tree = geneTree(hidden, chosen, shape.noise, rng);
        } else {
            tree = randomTree(parts, shape.mixSeparators, rng);
        }
        text += tree + ":" +
                std::to_string(1 + below(rng, static_cast<unsigned>(shape.maxWeight))) + ";\n";
    }
    return text + ".\n";
}
