// The supports written on gene-tree branches: their scale, and collapsing the
// weak ones.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "named/read/read.h"

namespace {

constexpr double kPercent = 100;

[[noreturn]] void failLabel(const std::string& text, size_t offset) {
    throwAt(text, offset,
            "this branch label is not a support value; --weight and --min-support read "
            "branch labels as supports from 0 to 1 or from 0 to 100");
}

}  // namespace

double supportScaleOf(const std::string& bytes) {
    TreeSource source = openTreeSource(bytes);
    const std::string& text = sourceText(source);
    double scale = 1;
    NamedTree tree{};
    while (readNextTree(&source, &tree, true))
        for (const NamedNode& node : tree.nodes) {
            if (node.labelOffset == kNoLabel || node.children.empty()) continue;
            if (std::isnan(node.support) || node.support < 0 || node.support > kPercent)
                failLabel(text, node.labelOffset);
            if (node.support > 1) scale = kPercent;
        }
    return scale;
}

void normaliseSupports(NamedTree* tree, double scale) {
    for (NamedNode& node : tree->nodes)
        node.support /= scale;
}

void collapseWeakBranches(NamedTree* tree, double threshold) {
    std::vector<NamedNode>& nodes = tree->nodes;
    std::vector<bool> merged(nodes.size(), false);
    for (size_t i = 0; i < nodes.size(); ++i)
        merged[i] = !nodes[i].children.empty() && static_cast<int32_t>(i) != tree->root &&
                    nodes[i].support < threshold;  // false for a branch without a support
    // Children come first, so a merged child's own children are final when
    // its parent takes them over.
    for (NamedNode& node : nodes) {
        std::vector<int32_t> kept;
        for (const int32_t child : node.children) {
            if (!merged[static_cast<size_t>(child)]) {
                kept.push_back(child);
                continue;
            }
            const std::vector<int32_t>& grand = nodes[static_cast<size_t>(child)].children;
            kept.insert(kept.end(), grand.begin(), grand.end());
        }
        node.children = kept;
    }
    std::vector<int32_t> index(nodes.size(), -1);
    std::vector<NamedNode> compact;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (merged[i]) continue;
        index[i] = static_cast<int32_t>(compact.size());
        compact.push_back(std::move(nodes[i]));
    }
    for (NamedNode& node : compact)
        for (int32_t& child : node.children)
            child = index[static_cast<size_t>(child)];
    tree->root = index[static_cast<size_t>(tree->root)];
    nodes = std::move(compact);
}
