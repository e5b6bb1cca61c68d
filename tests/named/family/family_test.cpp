// Gene families: the costs of every root against rooting there and counting
// by hand, the cutting of nested duplications, and whole runs that must
// match runs without --families or with the species given another way.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "common/run_support.h"
#include "named/family/family.h"
#include "named/named_support.h"
#include "named/read/read.h"
#include "named/root/root.h"

namespace {

// A family of the text; the species of a leaf is the first letter of its
// name, numbered by its character.
NamedTree readFamily(const std::string& text, std::vector<int32_t>* species) {
    TreeSource source = openTreeSource(text);
    source.repeats = RepeatedNames::kCopies;
    NamedTree tree{};
    EXPECT_TRUE(readNextTree(&source, &tree, true));
    species->assign(tree.nodes.size(), -1);
    for (size_t v = 0; v < tree.nodes.size(); ++v)
        if (tree.nodes[v].children.empty()) (*species)[v] = tree.nodes[v].name[0];
    return tree;
}

std::vector<int32_t> speciesOf(const NamedTree& tree) {
    std::vector<int32_t> species(tree.nodes.size(), -1);
    for (size_t v = 0; v < tree.nodes.size(); ++v)
        if (tree.nodes[v].children.empty()) species[v] = tree.nodes[v].name[0];
    return species;
}

// The events of a rooted tree, straight from the definition.
FamilyCost costByHand(const NamedTree& tree) {
    std::vector<std::set<char>> below(tree.nodes.size());
    FamilyCost cost{0, 0};
    for (size_t v = 0; v < tree.nodes.size(); ++v) {
        const NamedNode& node = tree.nodes[v];
        if (node.children.empty()) below[v].insert(node.name[0]);
        bool shared = false;
        for (size_t i = 0; i < node.children.size(); ++i) {
            const std::set<char>& one = below[static_cast<size_t>(node.children[i])];
            for (size_t j = 0; j < i; ++j)
                for (const char s : below[static_cast<size_t>(node.children[j])])
                    shared = shared || one.count(s) != 0;
            below[v].insert(one.begin(), one.end());
        }
        if (!shared) continue;
        ++cost.duplications;
        for (const int32_t child : node.children)
            cost.losses += below[static_cast<size_t>(child)].size() < below[v].size() ? 1 : 0;
    }
    return cost;
}

TEST(Families, EveryRootCostsWhatRootingThereCounts) {
    std::mt19937 rng(27);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> leaves;
        const int count = 3 + static_cast<int>(rng() % 10);
        const int pool = 2 + static_cast<int>(rng() % 5);
        for (int i = 0; i < count; ++i)
            leaves.push_back(std::string(1, static_cast<char>('A' + rng() % pool)) +
                             std::to_string(i));
        NamedTree drawn = randomTree(leaves, rng);
        collapseRandomly(&drawn, round % 3 == 0 ? 30 : 0, rng);
        std::vector<int32_t> species;
        const NamedTree tree = readFamily(writeRandomNewick(drawn, rng), &species);
        const std::vector<FamilyCost> costs = familyRootCosts(tree, species);
        const FamilyRoots roots = bestFamilyRoots(tree, species, {});
        std::set<std::set<std::set<std::string>>> bestByHand;
        std::set<std::set<std::set<std::string>>> bestFound;
        FamilyCost least{INT64_MAX, INT64_MAX};
        for (size_t v = 0; v < tree.nodes.size(); ++v) {
            if (static_cast<int32_t>(v) == tree.root) continue;
            NamedTree rooted = tree;
            rootOnEdgeAbove(&rooted, static_cast<int32_t>(v));
            const FamilyCost byHand = costByHand(rooted);
            ASSERT_EQ(costs[v].duplications, byHand.duplications) << round << " node " << v;
            ASSERT_EQ(costs[v].losses, byHand.losses) << round << " node " << v;
            const FamilyCost direct = rootedFamilyCost(rooted, speciesOf(rooted), nullptr);
            ASSERT_EQ(direct.duplications, byHand.duplications);
            ASSERT_EQ(direct.losses, byHand.losses);
            const bool better = byHand.duplications != least.duplications
                                    ? byHand.duplications < least.duplications
                                    : byHand.losses < least.losses;
            if (better) bestByHand.clear();
            if (better) least = byHand;
            if (byHand.duplications == least.duplications && byHand.losses == least.losses)
                bestByHand.insert(clusterSets(rooted));
            if (std::count(roots.candidates.begin(), roots.candidates.end(), v) != 0)
                bestFound.insert(clusterSets(rooted));
        }
        EXPECT_EQ(roots.cost.duplications, least.duplications);
        EXPECT_EQ(roots.cost.losses, least.losses);
        EXPECT_EQ(bestFound, bestByHand) << round;
        EXPECT_EQ(static_cast<size_t>(roots.tied), roots.candidates.size());
        // Every piece holds one copy per species, and the pieces share out
        // the leaves.
        NamedTree rooted = tree;
        rootOnEdgeAbove(&rooted, roots.candidates[0]);
        std::vector<bool> duplication;
        rootedFamilyCost(rooted, speciesOf(rooted), &duplication);
        std::multiset<std::string> all;
        for (const NamedTree& piece : splitFamily(rooted, duplication)) {
            std::set<char> seen;
            for (const NamedNode& node : piece.nodes)
                if (node.children.empty()) {
                    EXPECT_TRUE(seen.insert(node.name[0]).second) << familyNewick(piece, nullptr);
                    all.insert(node.name);
                }
        }
        EXPECT_EQ(all, std::multiset<std::string>(leaves.begin(), leaves.end()));
    }
}

TEST(Families, NestedDuplicationsCutIntoPieces) {
    struct Case {
        std::string family;
        std::string pieces;
        std::string tags;
    };
    const Case cases[] = {
        // Equal halves: the one whose sorted names come first stays; the
        // lengths through the duplication add up.
        {"((((A1,B1),C1):1,((A2,B2),C2):2):0.5,D1);", "((A2,B2),C2);\n(((A1,B1),C1):1.5,D1);\n",
         "((((A1,B1)S,C1)S:1,((A2,B2)S,C2)S:2)D:0.5,D1)S;\n"},
        // A duplication below a duplication.
        {"(((A1,A2),B1),((A3,B2),C1));", "A2;\n(A1,B1);\n((A3,B2),C1);\n",
         "(((A1,A2)D,B1)S,((A3,B2)S,C1)S)D;\n"},
        // Three copies under one node: the one that stays is the largest.
        {"((A1,(A2,B1),(A3,(B2,C1))),D1);", "A1;\n(A2,B1);\n((A3,(B2,C1)),D1);\n",
         "((A1,(A2,B1)S,(A3,(B2,C1)S)S)D,D1)S;\n"},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> species;
        const NamedTree tree = readFamily(c.family, &species);
        std::vector<bool> duplication;
        rootedFamilyCost(tree, species, &duplication);
        std::string pieces;
        for (const NamedTree& piece : splitFamily(tree, duplication))
            pieces += familyNewick(piece, nullptr);
        EXPECT_EQ(pieces, c.pieces) << c.family;
        std::vector<std::string> labels(tree.nodes.size());
        for (size_t v = 0; v < tree.nodes.size(); ++v)
            if (!tree.nodes[v].children.empty()) labels[v] = duplication[v] ? "D" : "S";
        EXPECT_EQ(familyNewick(tree, &labels), c.tags) << c.family;
    }
}

// A copy of a gene entering the species-tree node, duplicated and lost at
// random on the way down, without incomplete lineage sorting; "" when every
// copy is lost. Leaves are named SPECIES_k.
std::string growFamily(const NamedTree& species, int32_t node, std::mt19937& rng,
                       std::vector<int>* copies) {
    const int roll = static_cast<int>(rng() % 100);
    if (roll < 10) return "";  // lost
    std::string one;
    std::string two;
    if (roll < 30) {  // duplicated: two copies follow the rest of the tree
        one = growFamily(species, node, rng, copies);
        two = growFamily(species, node, rng, copies);
    } else {
        const NamedNode& at = species.nodes[static_cast<size_t>(node)];
        if (at.children.empty()) {
            const auto s = static_cast<size_t>(at.name[1] - '0');
            return at.name + "_" + std::to_string(++(*copies)[s]);
        }
        one = growFamily(species, at.children[0], rng, copies);
        two = growFamily(species, at.children[1], rng, copies);
    }
    if (one.empty() || two.empty()) return one + two;
    return "(" + one + "," + two + ")";
}

class FamilyRuns : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = makeScratchDirectory(); }
    void TearDown() override { removeScratchDirectory(dir_); }
    ToolRun run(const std::vector<std::string>& args) {
        return runIn(dir_, TRESSIL_NEWICK_BINARY, args);
    }
    std::string dir_;
};

// Single-copy trees, some without the outgroup, are the same input with or
// without --families: the same tree, supports, bootstrap and report.
TEST_F(FamilyRuns, SingleCopyFamiliesReadAsGeneTrees) {
    std::mt19937 rng(5);
    std::vector<std::string> pool = {"O"};
    for (int i = 0; i < 9; ++i)
        pool.push_back("T" + std::to_string(i));
    std::string text;
    for (int t = 0; t < 40; ++t)
        text += writeRandomNewick(randomTree(randomTaxa(pool, 2, rng), rng), rng);
    writeFile(dir_ + "/genes.nwk", text);
    const std::vector<std::string> common = {
        "infer", "--outgroup", "O", "--support=pp", "--bootstrap", "20", "genes.nwk"};
    std::vector<std::string> plain = common;
    plain.push_back("plain.nwk");
    std::vector<std::string> families = common;
    families.insert(families.begin() + 1, "--families");
    families.push_back("families.nwk");
    const ToolRun without = run(plain);
    const ToolRun with = run(families);
    ASSERT_EQ(without.status, 0) << without.err;
    ASSERT_EQ(with.status, 0) << with.err;
    EXPECT_EQ(with.out, without.out);
    EXPECT_EQ(readFile(dir_ + "/families.nwk"), readFile(dir_ + "/plain.nwk"));
    const ToolRun encoded = run({"encode", "--outgroup", "O", "genes.nwk", "in.txt", "names.tsv"});
    const ToolRun encodedFamilies =
        run({"encode", "--families", "--outgroup", "O", "genes.nwk", "fin.txt", "fnames.tsv"});
    ASSERT_EQ(encodedFamilies.status, 0) << encodedFamilies.err;
    EXPECT_EQ(encodedFamilies.out, encoded.out);
    EXPECT_EQ(readFile(dir_ + "/fin.txt"), readFile(dir_ + "/in.txt"));
    EXPECT_EQ(readFile(dir_ + "/fnames.tsv"), readFile(dir_ + "/names.tsv"));
    // A second copy without --families fails at its place and names both ways.
    writeFile(dir_ + "/copies.nwk", "((A,B),(A,C));\n");
    const ToolRun copies = run({"infer", "copies.nwk", "out.nwk"});
    EXPECT_EQ(copies.status, 1);
    EXPECT_NE(copies.err.find("copies.nwk:1:9: taxon 'A' appears twice"), std::string::npos);
    EXPECT_NE(copies.err.find("--families reads gene families"), std::string::npos);
    EXPECT_NE(copies.err.find("--map reads several individuals"), std::string::npos);
    // Labels are read as supports whatever the names: copies are no error.
    writeFile(dir_ + "/copies.nwk", "((A,B)90,(A,B)80,C)70;\n");
    EXPECT_EQ(run({"infer", "--families", "--weight", "support", "copies.nwk", "out.nwk"}).status,
              0);
}

// Families of duplications and losses alone give back the species tree,
// its root included, though no tree is single-copy or rooted as written.
TEST_F(FamilyRuns, SimulatedFamiliesGiveBackTheSpeciesTree) {
    std::mt19937 rng(12);
    std::vector<std::string> taxa;
    for (int i = 0; i < 10; ++i)
        taxa.push_back("S" + std::to_string(i));
    for (int replicate = 0; replicate < 3; ++replicate) {
        const NamedTree species = randomTree(taxa, rng);
        std::string text;
        for (int f = 0; f < 80; ++f) {
            std::vector<int> copies(taxa.size(), 0);
            const std::string family = growFamily(species, species.root, rng, &copies);
            if (std::count(family.begin(), family.end(), ',') >= 2) text += family + ";\n";
        }
        writeFile(dir_ + "/families.nwk", text);
        const ToolRun ran =
            run({"infer", "--families", "--delimiter", "_", "families.nwk", "species.nwk"});
        ASSERT_EQ(ran.status, 0) << ran.err;
        EXPECT_EQ(clusterSets(parseNewick(readFile(dir_ + "/species.nwk")).at(0)),
                  clusterSets(species))
            << replicate;
    }
}

TEST_F(FamilyRuns, DelimiterAndMapNameTheSameSpecies) {
    std::mt19937 rng(8);
    std::string text;
    std::string map;
    for (int f = 0; f < 30; ++f) {
        std::vector<std::string> leaves;
        const int count = 4 + static_cast<int>(rng() % 9);
        for (int i = 0; i < count; ++i) {
            const std::string species = "S" + std::to_string(rng() % 7);
            const std::string gene = "f" + std::to_string(f) + "g" + std::to_string(i);
            leaves.push_back(species + " " + gene);  // written S3_f0g1 or 'S3 f0g1'
            map += species + "_" + gene + "\t" + species + "\n";
        }
        text += writeRandomNewick(randomTree(leaves, rng), rng);
    }
    writeFile(dir_ + "/families.nwk", text);
    writeFile(dir_ + "/genes.map", map);
    std::string outputs[2];
    const std::vector<std::string> naming[2] = {{"--delimiter", "_"}, {"--map", "genes.map"}};
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> args = {"infer",    "--families", "--log",  "log.tsv",
                                         "--pieces", "pieces.nwk", "--tags", "tags.nwk"};
        args.insert(args.end(), naming[i].begin(), naming[i].end());
        args.insert(args.end(), {"families.nwk", "species.nwk"});
        const ToolRun ran = run(args);
        ASSERT_EQ(ran.status, 0) << ran.err;
        outputs[i] = ran.out + readFile(dir_ + "/species.nwk") + readFile(dir_ + "/log.tsv") +
                     readFile(dir_ + "/pieces.nwk") + readFile(dir_ + "/tags.nwk");
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_NE(outputs[0].find(")D"), std::string::npos);  // some family has a duplication
}

}  // namespace
