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
// the length, as one comment.
std::string fullAnnotation(const BranchEvidence& e, const BranchPosterior& p, const int32_t* boot) {
    const double n = e.f[0] + e.f[1] + e.f[2];
    std::string text = "[&posterior=" + formatted("%.4f", p.resolution[0]);
    for (int i = 0; i < 3; ++i)
        text += ",f" + std::to_string(i + 1) + "=" + formatted("%.6g", e.f[i]);
    for (int i = 0; i < 3; ++i)
        text += ",pp" + std::to_string(i + 1) + "=" + formatted("%.4f", p.resolution[i]);
    text += ",n=" + formatted("%.6g", n) + ",length=" + formatted("%.6g", branchLength(e.f[0], n));
    if (boot != nullptr) text += ",bootstrap=" + std::to_string(*boot);
    return text + "]";
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
        if (node.children.empty()) {
            // A species of several individuals: the length of its own branch.
            if (request.lengths && v < evidence.size() && evidence[v].bears) {
                const BranchEvidence& e = evidence[v];
                node.length = formatted("%.6g", branchLength(e.f[0], e.f[0] + e.f[1] + e.f[2]));
            }
            continue;
        }
        if (bare[v]) {
            node.label.clear();
            continue;
        }
        const int32_t* boot = request.bootstrap != nullptr ? &(*request.bootstrap)[v] : nullptr;
        if (request.support == SupportKind::kBootstrap && boot != nullptr)
            node.label = std::to_string(*boot);
        if (v >= evidence.size() || !evidence[v].bears) continue;
        const BranchEvidence& e = evidence[v];
        const BranchPosterior posterior = branchPosterior(e.f);
        if (request.support == SupportKind::kPosterior || request.support == SupportKind::kFull)
            node.label = formatted("%.2f", posterior.resolution[0]);
        if (request.support == SupportKind::kFull)
            node.comment = fullAnnotation(e, posterior, boot);
        if (request.lengths)
            node.length = formatted("%.6g", branchLength(e.f[0], e.f[0] + e.f[1] + e.f[2]));
    }
}
