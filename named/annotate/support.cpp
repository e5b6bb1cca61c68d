// Support values: how much of the triple table agrees with each node.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/common.h"
#include "io/io.h"
#include "named/annotate/annotate.h"
#include "triples/triples.h"

namespace {

// The species of every node of a result tree; nodes are children first.
std::vector<SpeciesSet> speciesBelow(const ResultTree& tree) {
    std::vector<SpeciesSet> below(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        const ResultNode& node = tree.nodes[i];
        below[i] = node.children.empty() ? singleSpecies(node.taxon) : SpeciesSet{};
        for (const int32_t child : node.children)
            below[i] = uniteSets(below[i], below[static_cast<size_t>(child)]);
    }
    return below;
}

// Support as a share with two decimals, rounded half up in integers so that
// the text never depends on floating point; no label where no triple of the
// table bears on the node (the root has no species outside it).
}  // namespace

void labelSupport(ResultTree* tree) {
    const std::vector<SpeciesSet> below = speciesBelow(*tree);
    for (ResultNode& node : tree->nodes) {
        if (node.children.size() != 2) continue;  // a leaf, or a node that resolves nothing
        const TripleSupport support = tripleSupport(below[static_cast<size_t>(node.children[0])],
                                                    below[static_cast<size_t>(node.children[1])]);
        if (support.total == 0) continue;
        // agreeing <= total <= 2^31 * 3, so 200 * agreeing fits in 64 bits.
        const int64_t hundredths = (200 * support.agreeing + support.total) / (2 * support.total);
        const std::string digits = std::to_string(100 + hundredths);  // "1dd" or "2dd"
        node.label = std::to_string(hundredths / 100) + "." + digits.substr(digits.size() - 2);
    }
}

void labelSupportFromInput(ResultTree* tree, const std::string& inputPath) {
    CoreErrorsThrow guard;
    g_inFile = std::fopen(inputPath.c_str(), "r");
    if (g_inFile == nullptr) failWhole("cannot open the input file");
    readInput();
    std::fclose(g_inFile);
    g_inFile = nullptr;
    int32_t leaves = 0;
    for (const ResultNode& node : tree->nodes) {
        if (!node.children.empty()) continue;
        ++leaves;
        if (node.taxon >= g_speciesCount) leaves = -1;
        if (leaves < 0) break;
    }
    if (leaves != g_speciesCount)
        failWhole("this input file has " + std::to_string(g_speciesCount) +
                  " species, not those of the result tree; give the input file of this result");
    labelSupport(tree);
}
