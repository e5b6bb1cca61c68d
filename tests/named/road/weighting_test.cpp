// Weighing triples by gene-tree supports, end to end: supports written on
// either scale give the same result, trees without supports weigh as
// before, and --min-support is collapsing the weak branches by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "common/common.h"
#include "named/named_support.h"
#include "named/road/road.h"

namespace {

// The tree in Newick with every inner node's support (scaled, unless it
// falls below drop, when the node's children join its parent).
std::string withSupports(const NamedTree& tree, int32_t node, double scale, double drop,
                         bool top = true) {
    const NamedNode& n = tree.nodes[static_cast<size_t>(node)];
    if (n.children.empty()) return n.name;
    std::string members;
    for (const int32_t child : n.children) {
        const NamedNode& c = tree.nodes[static_cast<size_t>(child)];
        std::string part = withSupports(tree, child, scale, drop, false);
        if (!c.children.empty() && c.support < drop) part = part.substr(1, part.rfind(')') - 1);
        members += (members.empty() ? "" : ",") + part;
    }
    std::string label;
    if (!top && !std::isnan(n.support)) label = std::to_string(n.support * scale);
    return "(" + members + ")" + label;
}

std::string geneTrees(double scale, double drop, int seed) {
    std::vector<std::string> pool;
    for (int t = 0; t < 9; ++t)
        pool.push_back("t" + std::to_string(t));
    std::mt19937 draw(static_cast<unsigned>(seed));
    std::string text;
    for (int g = 0; g < 25; ++g) {
        NamedTree tree = randomTree(randomTaxa(pool, 5, draw), draw);
        for (NamedNode& node : tree.nodes)
            node.support = static_cast<double>(draw() % 101) / 100;
        text += withSupports(tree, tree.root, scale, drop) + ";\n";
    }
    return text;
}

InferOptions weighed(WeightRule rule) {
    InferOptions options = inferOptions({}, InferMethod::kExact);
    options.weight = rule;
    return options;
}

TEST(SupportWeighting, ScalesAgreeAndUnlabelledTreesWeighAsBefore) {
    for (int seed = 1; seed <= 4; ++seed) {
        const InferResult shares =
            inferSpeciesTree(geneTrees(1, -1, seed), weighed(WeightRule::kAnyRight));
        const InferResult percent =
            inferSpeciesTree(geneTrees(100, -1, seed), weighed(WeightRule::kAnyRight));
        EXPECT_EQ(shares.newick, percent.newick);
        EXPECT_EQ(shares.report, percent.report);
        EXPECT_NE(shares.report.find("in thousandths"), std::string::npos);
    }
    const std::string bare = "((a,b),(c,d));\n((a,c),(b,d));\n(((a,b),c),d);\n";
    const InferResult plain = inferSpeciesTree(bare, inferOptions({}, InferMethod::kExact));
    const InferResult weights = inferSpeciesTree(bare, weighed(WeightRule::kAnyRight));
    EXPECT_EQ(plain.newick, weights.newick);
}

TEST(SupportWeighting, MinSupportIsCollapsingByHand) {
    for (int seed = 1; seed <= 4; ++seed) {
        InferOptions options = inferOptions({}, InferMethod::kExact);
        options.minSupport = 0.5;
        const InferResult collapsed = inferSpeciesTree(geneTrees(1, -1, seed), options);
        const InferResult byHand =
            inferSpeciesTree(geneTrees(1, 0.5, seed), inferOptions({}, InferMethod::kExact));
        EXPECT_EQ(collapsed.newick, byHand.newick);
        EXPECT_EQ(collapsed.report, byHand.report);
    }
}

// Which figures are weighed is said where they are shown: the picture's
// legend for shares, a note for the coalescent figures, which stay unweighed.
TEST(SupportWeighting, SaysWhichFiguresItWeighs) {
    for (const WeightRule rule : {WeightRule::kNone, WeightRule::kAnyRight}) {
        InferOptions options = weighed(rule);
        options.support = SupportKind::kShare;
        options.picture = true;
        const InferResult shares = inferSpeciesTree(geneTrees(1, -1, 1), options);
        options.support = SupportKind::kPosterior;
        const InferResult posterior = inferSpeciesTree(geneTrees(1, -1, 1), options);
        const bool weighs = rule != WeightRule::kNone;
        EXPECT_EQ(shares.svg.find("support-weighted") != std::string::npos, weighs);
        EXPECT_EQ(posterior.notes.find("unweighted") != std::string::npos, weighs);
        EXPECT_EQ(shares.notes.find("unweighted"), std::string::npos);
    }
}

// Weighed triples count in thousandths, so the room of one table entry
// holds a thousandth of the [&W] weight it holds unweighed: the largest
// weight that fits is taken and its total passes 32 bits, one more is refused.
TEST(SupportWeighting, WeightsAreRefusedWhereTheirThousandthsPassAnEntry) {
    const std::string tree = caterpillar(5);
    InferOptions options = inferOptions({}, InferMethod::kBest);  // past what --exact sums
    options.weight = WeightRule::kAnyRight;
    const InferResult largest = inferSpeciesTree("[&W 2147483]" + tree, options);
    EXPECT_NE(largest.report.find("fully supported triple: 21474830000.\n"), std::string::npos)
        << largest.report;
    try {
        inferSpeciesTree("[&W 2147484]" + tree, options);
        ADD_FAILURE() << "a weight past an entry's room in thousandths was taken";
    } catch (const NewickError& error) {
        EXPECT_NE(error.message.find("weights are too large"), std::string::npos) << error.message;
    }
}

}  // namespace

namespace {

std::string exactly(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// The tree with every branch's support and length, or with the hybrid
// weight of each branch written as its support.
std::string withLengths(const NamedTree& tree, int32_t node, double sites, bool hybridByHand) {
    const NamedNode& n = tree.nodes[static_cast<size_t>(node)];
    std::string text = n.name;
    if (!n.children.empty()) {
        text = "(";
        for (const int32_t child : n.children)
            text += (text.size() > 1 ? "," : "") + withLengths(tree, child, sites, hybridByHand);
        text += ")";
        if (node != tree.root)
            text +=
                exactly(hybridByHand ? n.support * (1 - std::exp(-n.length * sites)) : n.support);
    }
    return node == tree.root ? text + ";\n" : text + ":" + exactly(n.length);
}

// --weight hybrid is --weight support on supports relabelled by hand, for
// one alignment length and for one per tree, with rooted and anchored
// triples alike.
TEST(HybridWeighting, IsSupportOnRelabelledBranches) {
    std::vector<std::string> pool = {"O"};
    for (int t = 0; t < 8; ++t)
        pool.push_back("t" + std::to_string(t));
    std::mt19937 draw(26);
    for (const TripleKind kind : {TripleKind::kRooted, TripleKind::kAnchored}) {
        std::string asRead;
        std::string byHand;
        std::vector<double> sites;
        for (int g = 0; g < 30; ++g) {
            NamedTree tree = randomTree(randomTaxa(pool, 6, draw), draw);
            // A leaf's branch has no label to relabel: a length of 1 makes
            // its hybrid weight 1 exactly, as when it has no support.
            for (NamedNode& node : tree.nodes) {
                node.support = static_cast<double>(draw() % 101) / 100;
                node.length = node.children.empty() ? 1 : static_cast<double>(draw() % 200) / 4000;
            }
            sites.push_back(kind == TripleKind::kRooted ? 300 : 100 + static_cast<double>(g));
            asRead += withLengths(tree, tree.root, sites.back(), false);
            byHand += withLengths(tree, tree.root, sites.back(), true);
        }
        InferOptions hybrid = inferOptions({"O"}, InferMethod::kExact, SupportKind::kShare);
        hybrid.weight = WeightRule::kAnyRight;
        hybrid.triples = kind;
        InferOptions support = hybrid;
        hybrid.sites = kind == TripleKind::kRooted ? std::vector<double>{300} : sites;
        const InferResult a = inferSpeciesTree(asRead, hybrid);
        const InferResult b = inferSpeciesTree(byHand, support);
        EXPECT_EQ(a.newick, b.newick);
        EXPECT_EQ(a.report, b.report);
    }
    InferOptions hybrid = inferOptions({"O"}, InferMethod::kExact);
    hybrid.weight = WeightRule::kAnyRight;
    hybrid.sites = {300};
    try {
        inferSpeciesTree("((O,a),b,(c,d));", hybrid);
        FAIL() << "a tree without lengths was taken";
    } catch (const NewickError& error) {
        EXPECT_NE(error.message.find("tree 1 has no branch lengths"), std::string::npos);
    }
}

}  // namespace
