// Writing a species tree's annotations: labels, a bracketed annotation of
// the coalescent figures that tree viewers read ([&name=value,...]), and
// branch lengths.
#include <cstdio>
#include <string>
#include <vector>

#include "named/annotate/annotate.h"

namespace {

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Posterior, counts, the three posteriors, the effective number of genes and
// the length, by name.
void addFullValues(const BranchEvidence& e, const BranchPosterior& p, ResultNode* node) {
    const double n = e.f[0] + e.f[1] + e.f[2];
    for (int i = 0; i < 3; ++i)
        node->values.emplace_back("f" + std::to_string(i + 1), formatted("%.6g", e.f[i]));
    for (int i = 0; i < 3; ++i)
        node->values.emplace_back("pp" + std::to_string(i + 1), formatted("%.4f", p.resolution[i]));
    node->values.emplace_back("n", formatted("%.6g", n));
    node->values.emplace_back("length", formatted("%.6g", branchLength(e.f[0], n)));
}

// The values as one comment that tree viewers read: [&name=value,...].
std::string valuesComment(const ResultNode& node) {
    std::string text;
    for (const auto& [name, value] : node.values)
        text += (text.empty() ? "[&" : ",") + name + "=" + value;
    return text + "]";
}

// The support of the kind asked for, in the label and among the values; ""
// where the kind has nothing to say of the node.
std::string supportOf(ResultNode* node, const std::vector<BranchEvidence>& evidence, size_t v,
                      SupportKind kind) {
    if (kind == SupportKind::kShare) {
        if (!node->label.empty()) node->values.emplace_back("share", node->label);
        return node->label;
    }
    if (kind != SupportKind::kPosterior && kind != SupportKind::kFull) return "";
    if (v >= evidence.size() || !evidence[v].bears) return "";
    const BranchPosterior posterior = branchPosterior(evidence[v].f);
    node->values.emplace_back("posterior", formatted("%.4f", posterior.resolution[0]));
    if (kind == SupportKind::kFull) addFullValues(evidence[v], posterior, node);
    return formatted("%.2f", posterior.resolution[0]);
}

// The root and, when the root split was given, its two sides.
std::vector<bool> nodesLeftBare(const ResultTree& tree, bool rootGiven) {
    std::vector<bool> bare(tree.nodes.size(), false);
    const ResultNode& root = tree.nodes[static_cast<size_t>(tree.root)];
    bare[static_cast<size_t>(tree.root)] = true;
    if (rootGiven)
        for (const int32_t side : root.children)
            bare[static_cast<size_t>(side)] = true;
    return bare;
}

}  // namespace

SupportKind supportKindNamed(const std::string& name) {
    if (name == "share") return SupportKind::kShare;
    if (name == "pp") return SupportKind::kPosterior;
    if (name == "full") return SupportKind::kFull;
    if (name == "bootstrap") return SupportKind::kBootstrap;
    return SupportKind::kNone;
}

void annotateTree(ResultTree* tree, const std::vector<BranchEvidence>& evidence,
                  const AnnotationRequest& request) {
    const std::vector<bool> bare = nodesLeftBare(*tree, request.rootGiven);
    for (size_t v = 0; v < tree->nodes.size(); ++v) {
        ResultNode& node = tree->nodes[v];
        const bool bears = v < evidence.size() && evidence[v].bears;
        if (request.lengths && bears && (node.children.empty() || !bare[v])) {
            // At a leaf, a species of several individuals: its own branch.
            const BranchEvidence& e = evidence[v];
            node.length = formatted("%.6g", branchLength(e.f[0], e.f[0] + e.f[1] + e.f[2]));
        }
        if (node.children.empty()) continue;
        if (bare[v]) {
            node.label.clear();
            continue;
        }
        const std::string support = supportOf(&node, evidence, v, request.support);
        node.label = support;
        if (request.bootstrap != nullptr) {
            // With another kind, the bootstrap follows its value as IQ-TREE
            // writes two supports, "0.95/87", so both stay in the label.
            const std::string boot = std::to_string((*request.bootstrap)[v]);
            node.values.emplace_back("bootstrap", boot);
            if (request.support == SupportKind::kBootstrap || request.support == SupportKind::kNone)
                node.label = boot;
            else if (!support.empty())
                node.label = support + "/" + boot;
        }
        if (request.support == SupportKind::kFull && !support.empty())
            node.comment = valuesComment(node);
    }
}
