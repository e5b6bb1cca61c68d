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

std::string randomInput(const RandomInputShape& shape, std::mt19937& rng) {
    std::string text = std::to_string(shape.species) + " " + std::to_string(shape.trees) + "\n";
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
        text += randomTree(parts, shape.mixSeparators, rng) + ":" +
                std::to_string(1 + below(rng, static_cast<unsigned>(shape.maxWeight))) + ";\n";
    }
    return text + ".\n";
}
