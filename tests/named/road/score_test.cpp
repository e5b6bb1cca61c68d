// score against infer: the tree infer wrote scores what infer reported, and
// a bootstrap whose one replicate draws every gene once holds every cluster.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/named_support.h"
#include "named/read/read.h"
#include "named/road/road_steps.h"

namespace {

int64_t reported(const std::string& report, const std::string& key) {
    const size_t at = report.find(key);
    return at == std::string::npos ? -1 : std::stoll(report.substr(at + key.size()));
}

TEST(Score, TheTreeInferWroteScoresWhatInferReported) {
    std::mt19937 rng(71);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<std::string> pool;
        for (int t = 0; t < 8 + 5 * trial; ++t)
            pool.push_back("t" + std::to_string(t));
        std::string genes;
        for (int g = 0; g < 30; ++g) {
            NamedTree tree = randomTree(randomTaxa(pool, g == 0 ? pool.size() : 4, rng), rng);
            collapseRandomly(&tree, 20, rng);
            genes += writeRandomNewick(tree, rng);
        }
        const std::vector<std::string> outgroup = {"t0", "t1"};
        InferOptions options = inferOptions(trial % 2 == 0 ? outgroup : std::vector<std::string>{},
                                            InferMethod::kBest, SupportKind::kPosterior);
        const InferResult inferred = inferSpeciesTree(genes, options);
        const InferResult scored = scoreSpeciesTree(genes, inferred.newick, options);
        const std::string total = "%Total weight of satisfied triples: ";
        EXPECT_EQ(reported(scored.report, total), reported(inferred.report, total)) << genes;
        EXPECT_EQ(scored.newick, inferred.newick);
    }
    try {
        scoreSpeciesTree("((A,B),(C,D));", "((A,B),(C,(E,F)));",
                         inferOptions({}, InferMethod::kBest));
        ADD_FAILURE() << "taxa that differ were taken";
    } catch (const SpeciesTreeError& error) {
        EXPECT_EQ(
            error.error.message,
            "the species tree and the gene trees hold different taxa: only in the species "
            "tree: E, F; only in the gene trees: D; give a species tree of the gene trees' taxa");
    }
}

TEST(Bootstrap, OneReplicateOfEveryGeneOnceHoldsEveryCluster) {
    std::mt19937 rng(73);
    std::vector<std::string> pool;
    for (int t = 0; t < 12; ++t)
        pool.push_back("t" + std::to_string(t));
    std::string text;
    for (int g = 0; g < 20; ++g)
        text += writeRandomNewick(randomTree(randomTaxa(pool, 5, rng), rng), rng);
    const InferOptions options = inferOptions({}, InferMethod::kSearch);
    const InferResult main = inferSpeciesTree(text, options);
    GeneTrees genes = readGeneTrees(text, options);
    std::vector<int32_t> everyOnce(genes.trees.size());
    std::iota(everyOnce.begin(), everyOnce.end(), 0);
    size_t pos = 0;
    NamedTree written{};
    ASSERT_TRUE(readNextTree(main.newick, &pos, &written));
    fillTable(genes, {});
    const SpeciesTree species = solveSpeciesTree(options.method, genes.ingroupCount);
    const BootstrapSupport support = bootstrapSupport(genes, species.tree, options, {everyOnce});
    for (size_t v = 0; v < species.tree.nodes.size(); ++v)
        EXPECT_EQ(support.percent[v], 100) << v;
    EXPECT_EQ(resultNewick(species.tree, genes.names), main.newick);
}

}  // namespace
