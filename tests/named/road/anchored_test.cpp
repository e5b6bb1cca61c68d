// Anchored triples on gene trees simulated under the multispecies
// coalescent: judged against the clades of the true species tree, the
// table's best tree is that tree again.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <unordered_map>

#include "common/common.h"
#include "named/named_support.h"
#include "named/read/read.h"
#include "named/road/road_steps.h"
#include "simulate/coalescent.h"
#include "simulate/tree.h"

namespace {

// A Newick tree on the taxa of genes, by their numbers.
ResultTree numberedTree(const std::string& newick, const GeneTrees& genes) {
    std::unordered_map<std::string, int32_t> numbers;
    for (size_t t = 0; t < genes.names.size(); ++t)
        numbers.emplace(genes.names[t], static_cast<int32_t>(t));
    size_t pos = 0;
    NamedTree tree{};
    EXPECT_TRUE(readNextTree(newick, &pos, &tree, true));
    ResultTree result{{}, tree.root};
    for (const NamedNode& node : tree.nodes)
        result.nodes.push_back(
            {node.children.empty() ? numbers.at(node.name) : -1, node.children, "", "", ""});
    return result;
}

TEST(AnchoredTriples, OneRoundFromTheTrueTreeGivesItBack) {
    g_threadCount = 2;
    for (const unsigned seed : {1u, 2u, 3u}) {
        std::mt19937_64 rng(seed);
        const SimTree species = yuleSpeciesTree({14, 1, 1.0, 5.0}, rng);
        std::string text;
        for (int g = 0; g < 150; ++g) {
            SimTree gene = coalescentGeneTree(species, 1, rng);
            unrootTree(&gene, rng);
            text += writeNewick(gene);
        }
        GeneTrees genes = readGeneTrees(text, inferOptions({"O1"}, InferMethod::kExact));
        const ResultTree truth = numberedTree(writeNewick(species), genes);
        genes.anchor = anchorCladesOf(truth, static_cast<int32_t>(genes.names.size()));
        fillTable(genes, {});
        const SpeciesTree inferred = solveSpeciesTree(InferMethod::kExact, genes.ingroupCount);
        EXPECT_EQ(topologyKey(inferred.tree), topologyKey(truth)) << "seed " << seed;
    }
    g_threadCount = 0;
}

// Where the heuristic's trees would wander, the rounds end on a tree whose
// reported weight is what scoring it against its own clades gives: the tree
// kept and the table left are each other's.
TEST(AnchoredTriples, TheHeuristicEndsOnATreeItsTableScores) {
    for (const unsigned seed : {2u, 7u}) {
        std::mt19937_64 rng(seed);
        const SimTree species = yuleSpeciesTree({40, 1, 0.1, 0.7}, rng);
        std::string text;
        for (int g = 0; g < 60; ++g) {
            SimTree gene = coalescentGeneTree(species, 1, rng);
            unrootTree(&gene, rng);
            text += writeNewick(gene);
        }
        InferOptions options = inferOptions({"O1"}, InferMethod::kHeuristic);
        options.triples = TripleKind::kAnchored;
        const InferResult inferred = inferSpeciesTree(text, options);
        EXPECT_EQ(inferred.notes.find("still changed"), std::string::npos) << inferred.notes;
        const InferResult scored = scoreSpeciesTree(text, inferred.newick, options);
        const auto total = [](const std::string& report) {
            const size_t at = report.find("%Total weight of satisfied triples");
            return report.substr(at, report.find('\n', at) - at);
        };
        EXPECT_EQ(total(inferred.report), total(scored.report)) << "seed " << seed;
    }
}

}  // namespace
