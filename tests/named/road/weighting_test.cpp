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
