// score against infer: the tree infer wrote scores what infer reported, and
// a bootstrap whose one replicate draws every gene once holds every cluster.
#include <gtest/gtest.h>

#include <iterator>
#include <numeric>
#include <random>
#include <set>
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

// Every tree lists the taxa in one order, so that any draw of them numbers
// the taxa alike and a replicate's tree is the tree its drawn trees give.
const char* const kDrawnGenes[] = {"((A,B),((C,D),(E,F)));", "(((A,B),C),(D,(E,F)));",
                                   "((A,(B,C)),((D,E),F));", "(A,((B,C),(D,(E,F))));",
                                   "(((A,B),(C,D)),(E,F));"};
constexpr int kDraws = 9;  // seed 1 gives clusters held by 5, 6 and 8 of them

// Taxon names below every node of a tree, children first as the nodes are.
std::vector<std::set<std::string>> namesBelow(const NamedTree& tree) {
    std::vector<std::set<std::string>> below(tree.nodes.size());
    for (size_t i = 0; i < tree.nodes.size(); ++i) {
        if (tree.nodes[i].children.empty()) below[i] = {tree.nodes[i].name};
        for (const int32_t child : tree.nodes[i].children)
            below[i].insert(below[static_cast<size_t>(child)].begin(),
                            below[static_cast<size_t>(child)].end());
    }
    return below;
}

// From the command line: with seed 1 unless another is given, each
// replicate's tree is the tree of its draw of the gene trees, every node is
// labelled with the percentage of them that hold its cluster, rounded half
// up, every gene tree can be drawn, and a file of one tree is drawn whole.
TEST(Bootstrap, ReplicatesAreTheTreesOfTheirDrawsAndLabelsTheirRoundedShare) {
    const std::string dir = makeScratchDirectory();
    std::string genes;
    for (const char* tree : kDrawnGenes)
        genes += std::string(tree) + "\n";
    writeFile(dir + "/genes.nwk", genes);
    std::vector<std::string> args = {
        "infer",    "--support=bootstrap", "--bootstrap", std::to_string(kDraws), "--replicates",
        "reps.nwk", "genes.nwk",           "out.nwk"};
    ASSERT_EQ(runIn(dir, TRESSIL_NEWICK_BINARY, args).status, 0);
    const std::string labelled = readFile(dir + "/out.nwk");
    const std::string replicates = readFile(dir + "/reps.nwk");
    args.insert(args.begin() + 1, {"--seed", "1"});
    ASSERT_EQ(runIn(dir, TRESSIL_NEWICK_BINARY, args).status, 0);
    EXPECT_EQ(readFile(dir + "/out.nwk"), labelled);
    EXPECT_EQ(readFile(dir + "/reps.nwk"), replicates);

    std::string expected;
    std::vector<std::set<std::set<std::string>>> held;
    for (const std::vector<int32_t>& draw : drawReplicates(std::size(kDrawnGenes), kDraws, 1)) {
        std::string drawn;
        for (const int32_t t : draw)
            drawn += kDrawnGenes[t];
        const InferResult replicate = inferSpeciesTree(drawn, inferOptions({}, InferMethod::kBest));
        expected += replicate.newick;
        held.push_back(clusterSets(parseNewick(replicate.newick).at(0)));
    }
    EXPECT_EQ(replicates, expected);
    const NamedTree tree = parseNewick(labelled).at(0);
    const std::vector<std::set<std::string>> below = namesBelow(tree);
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        if (tree.nodes[v].children.empty() || static_cast<int32_t>(v) == tree.root) continue;
        int count = 0;
        for (const std::set<std::set<std::string>>& clusters : held)
            count += static_cast<int>(clusters.count(below[v]));
        EXPECT_EQ(tree.nodes[v].support, (200 * count + kDraws) / (2 * kDraws)) << labelled;
    }

    std::set<int32_t> drawn;
    for (const std::vector<int32_t>& draw : drawReplicates(4, 10, 1))
        drawn.insert(draw.begin(), draw.end());
    EXPECT_EQ(drawn, (std::set<int32_t>{0, 1, 2, 3}));
    writeFile(dir + "/one.nwk", caterpillar(4) + "\n");
    const ToolRun one =
        runIn(dir, TRESSIL_NEWICK_BINARY,
              {"infer", "--support=bootstrap", "--bootstrap", "2", "one.nwk", "out.nwk"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(readFile(dir + "/out.nwk"), "(t3,(t2,(t1,t0)100)100);\n");
    removeScratchDirectory(dir);
}

}  // namespace
