// The supports written on gene-tree branches: their scale, and collapsing the
// weak ones.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "named/read/tree_text.h"

namespace {

constexpr double kPercent = 100;

[[noreturn]] void failLabel(const std::string& text, size_t offset) {
    throwAt(text, offset,
            "this branch label is not a support value; --weight and --min-support read "
            "branch labels as supports from 0 to 1 or from 0 to 100, alone or joined by '/' "
            "as in 95.2/100");
}

// The values of a label joined by '/'; empty when one of them is not a
// number.
std::vector<double> labelValues(const std::string& label) {
    std::vector<double> values;
    size_t start = 0;
    for (;;) {
        const size_t slash = std::min(label.find('/', start), label.size());
        const std::string part = label.substr(start, slash - start);
        if (!isNumber(part)) return {};
        values.push_back(std::strtod(part.c_str(), nullptr));
        if (slash == label.size()) return values;
        start = slash + 1;
    }
}

std::string valueCount(size_t n) {
    return std::to_string(n) + (n == 1 ? " value" : " values");
}

}  // namespace

void readSupports(const std::string& text, NamedTree* tree, int field) {
    for (NamedNode& node : tree->nodes) {
        if (node.labelOffset == kNoLabel || node.children.empty()) continue;
        const std::vector<double> values = labelValues(node.label);
        if (values.empty()) failLabel(text, node.labelOffset);
        const size_t chosen = field == kLastField ? values.size() : static_cast<size_t>(field);
        if (chosen > values.size())
            throwAt(text, node.labelOffset,
                    "this branch label holds " + valueCount(values.size()) +
                        ", but --support-field " + std::to_string(field) + " asks for value " +
                        std::to_string(field) + "; give a field from 1 to " +
                        std::to_string(values.size()));
        const double support = values[chosen - 1];
        if (!(support >= 0 && support <= kPercent)) failLabel(text, node.labelOffset);
        node.support = support;
    }
}

double supportScaleOf(const std::string& bytes, int field) {
    TreeSource source = openTreeSource(bytes);
    // Only the labels matter here; a repeated name is the reading's to judge
    // (gene families hold them).
    source.repeats = RepeatedNames::kCopies;
    const std::string& text = sourceText(source);
    double scale = 1;
    NamedTree tree{};
    while (readNextTree(&source, &tree, true)) {
        readSupports(text, &tree, field);
        for (const NamedNode& node : tree.nodes)
            if (node.support > 1) scale = kPercent;  // false for a node without a label
    }
    return scale;
}

void normaliseSupports(NamedTree* tree, double scale) {
    for (NamedNode& node : tree->nodes)
        node.support /= scale;
}

CollapseCounts collapseWeakBranches(NamedTree* tree, double threshold) {
    std::vector<NamedNode>& nodes = tree->nodes;
    std::vector<bool> merged(nodes.size(), false);
    CollapseCounts counts{0, 0};
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].children.empty() || static_cast<int32_t>(i) == tree->root) continue;
        counts.labelled += std::isnan(nodes[i].support) ? 0 : 1;
        merged[i] = nodes[i].support < threshold;  // false for a branch without a support
        counts.collapsed += merged[i] ? 1 : 0;
    }
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
    return counts;
}
