// Support values: how much of the triple table agrees with each node.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/common.h"
#include "io/io.h"
#include "named/annotate/annotate.h"
#include "triples/triples.h"

namespace {

// The nodes of a tree listed parents first, children first instead.
StoredTree reversedOrder(const StoredTree& tree) {
    const auto size = static_cast<int32_t>(tree.parent.size());
    StoredTree reversed{tree.weight, {}, {}, {}};
    for (int32_t i = size - 1; i >= 0; --i) {
        const int32_t up = tree.parent[static_cast<size_t>(i)];
        reversed.parent.push_back(up < 0 ? -1 : size - 1 - up);
        reversed.taxon.push_back(tree.taxon[static_cast<size_t>(i)]);
    }
    return reversed;
}

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
// The trees of a tressil input file the reader has accepted: after the
// header, groups of two members in parentheses with leaf numbers, an
// optional ":weight" after a ')' (below 1 counts as 1), ';' after each tree
// and '.' at the end. Every separator the reader allows is skipped.
std::vector<StoredTree> numberedTrees(const std::string& text) {
    std::vector<StoredTree> trees;
    size_t pos = text.find('(');
    StoredTree tree{1, {}, {}, {}};
    std::vector<int32_t> open;  // inner nodes whose ')' is still to come
    int64_t weight = 1;
    const auto number = [&text, &pos] {
        int64_t value = 0;
        for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
            value = std::min<int64_t>(value * 10 + (text[pos] - '0'), INT32_MAX);
        return value;
    };
    while (pos < text.size() && text[pos] != '.') {
        const char c = text[pos];
        if (c == '(') {
            tree.parent.push_back(open.empty() ? -1 : open.back());
            tree.taxon.push_back(-1);
            open.push_back(static_cast<int32_t>(tree.parent.size() - 1));
            ++pos;
        } else if (c >= '0' && c <= '9') {
            const auto leaf = static_cast<int32_t>(number());
            tree.parent.push_back(open.empty() ? -1 : open.back());
            tree.taxon.push_back(leaf);
        } else if (c == ')') {
            open.pop_back();
            ++pos;
        } else if (c == ':') {
            ++pos;
            weight = number();
        } else if (c == ';') {
            tree.weight = std::max<int64_t>(weight, 1);
            trees.push_back(reversedOrder(tree));
            tree = StoredTree{1, {}, {}, {}};
            weight = 1;
            ++pos;
        } else {
            ++pos;
        }
    }
    return trees;
}

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

void labelSupportFromInput(ResultTree* tree, const std::string& inputPath, SupportKind kind) {
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
    if (kind == SupportKind::kShare) {
        labelSupport(tree);
        return;
    }
    std::ifstream in(inputPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    annotateTree(tree, branchEvidence(*tree, numberedTrees(text.str()), g_speciesCount),
                 {kind, false, false, nullptr});
}
