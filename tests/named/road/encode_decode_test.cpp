// Encoding: numbering, merging of equal topologies, limits and the texts
// handed to tressil. Decoding: name tables, result files and quoting.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "named/annotate/annotate.h"
#include "named/named_support.h"
#include "named/picture/picture.h"
#include "named/read/read.h"
#include "named/road/road.h"

namespace {

const std::vector<std::string> kPool = {"Homo sapiens", "Pan",   "it's", "x(1)",      "a:b",
                                        "Gorilla",      "Pongo", "[c]",  "semi;colon"};

// The error of an encode, or line -1 when it succeeded.
NewickError encodeError(const std::string& text) {
    try {
        encodeTrees(text);
    } catch (const NewickError& error) {
        return error;
    }
    return NewickError{-1, -1, ""};
}

// count distinct triples ((a,b),c) on 25 taxa.
std::string distinctTriples(int count) {
    std::string text;
    for (int c = 0; c < 25 && count > 0; ++c)
        for (int a = 0; a < 25 && count > 0; ++a)
            for (int b = a + 1; b < 25 && count > 0; ++b)
                if (a != c && b != c) {
                    text += "((" + std::to_string(a) + "," + std::to_string(b) + ")," +
                            std::to_string(c) + ");";
                    --count;
                }
    return text;
}

TEST(NewickEncode, NumbersTaxaByFirstAppearanceInKeptTrees) {
    const EncodedTrees encoded =
        encodeTrees("(X,Y);\n((C,A),B);\nZ;\n[&W 3]((D,A):1,C);\n[&W 2147483647](A,(C,B));\n");
    EXPECT_EQ(tressilInputText(encoded),
              "4 3\n((0,1),2);\n(0,(1,3)):3;\n((0,2),1):2147483647;\n.\n");
    EXPECT_EQ(nameTableText(encoded), "0\tC\n1\tA\n2\tB\n3\tD\n");
    EXPECT_EQ(encoded.treesRead, 5);
    EXPECT_EQ(encoded.treesSkipped, 2);
}

TEST(NewickEncode, PermutedCopiesMergeIntoOneEntry) {
    std::mt19937 rng(7);
    std::vector<std::string> taxa;
    for (int t = 0; t < 40; ++t)
        taxa.push_back("taxon " + std::to_string(t));
    NamedTree tree = randomTree(taxa, rng);
    std::string text;
    int64_t total = 0;
    for (int copy = 1; copy <= 12; ++copy) {
        tree.weight = copy;
        total += copy;
        text += writeRandomNewick(tree, rng);
    }
    const EncodedTrees encoded = encodeTrees(text);
    ASSERT_EQ(encoded.topologies.size(), 1u);
    EXPECT_EQ(encoded.weights[0], total);
}

// Cross-check of the merging against the literal rule: two trees merge
// exactly when they have the same taxa and the same clusters.
TEST(NewickEncode, MergesExactlyTheTreesWithEqualClusters) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<NamedTree> bases;
        for (int b = 0; b < 5; ++b)
            bases.push_back(randomTree(randomTaxa(kPool, 3, rng), rng));
        std::string text;
        std::vector<std::set<std::set<std::string>>> groups;  // first appearance order
        std::vector<int64_t> weights;
        for (int t = 0; t < 15; ++t) {
            NamedTree tree = bases[rng() % bases.size()];
            tree.weight = 1 + static_cast<int64_t>(rng() % 9);
            text += writeRandomNewick(tree, rng);
            std::set<std::set<std::string>> clusters = clusterSets(tree);
            clusters.insert({"all:"});  // the root cluster fixes the taxa
            for (const std::string& name : leafNames(tree))
                clusters.insert({"leaf:" + name});
            size_t g = 0;
            while (g < groups.size() && groups[g] != clusters)
                ++g;
            if (g == groups.size()) {
                groups.push_back(clusters);
                weights.push_back(0);
            }
            weights[g] += tree.weight;
        }
        const EncodedTrees encoded = encodeTrees(text);
        ASSERT_EQ(encoded.weights, weights) << text;
        for (size_t g = 0; g < groups.size(); ++g) {
            // The topology text is itself Newick over the numbers.
            NamedTree back = parseNewick(encoded.topologies[g] + ";").at(0);
            for (NamedNode& node : back.nodes)
                if (node.children.empty()) node.name = encoded.names.at(std::stoul(node.name));
            std::set<std::set<std::string>> clusters = clusterSets(back);
            clusters.insert({"all:"});
            for (const std::string& name : leafNames(back))
                clusters.insert({"leaf:" + name});
            EXPECT_EQ(clusters, groups[g]) << text;
        }
    }
}

struct LimitCase {
    const char* name;
    std::string text;
    int line;  // -1: accepted
    std::string message;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class NewickEncodeLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(NewickEncodeLimits, StateTheLimitAndTheCount) {
    const NewickError error = encodeError(GetParam().text);
    EXPECT_EQ(error.line, GetParam().line);
    EXPECT_NE(error.message.find(GetParam().message), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NewickEncodeLimits,
    ::testing::Values(
        LimitCase{"MostTaxa", caterpillar(128), -1, ""},
        LimitCase{"TooManyTaxa", caterpillar(129), 0,
                  "too many taxa: 129 found, but tressil takes at most 128"},
        LimitCase{"TaxaOfSkippedTreesDoNotCount", caterpillar(128) + "(u,v);", -1, ""},
        LimitCase{"MostTrees", distinctTriples(5000) + distinctTriples(100), -1, ""},
        LimitCase{"TooManyTrees", distinctTriples(5001), 0,
                  "too many distinct trees: 5001 found after merging identical topologies, but "
                  "tressil takes at most 5000"},
        LimitCase{"SummedWeightAtMost", "[&W 2147483646]((A,B),C);((B,A),C);", -1, ""},
        LimitCase{"SummedWeightTooLarge", "(A,B);\n[&W 2147483647]((A,B),C);\n((B,A),C);", 2,
                  "weigh 2147483648 together, above 2147483647"},
        LimitCase{"NoTree", " [empty] ", 0, "no tree found"},
        LimitCase{"NoTreeWithThreeTaxa", "(A,B);C;", 0, "no tree has three or more taxa"}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    std::string table;
    std::string result;
    std::string tree;  // empty: an error is expected
    int line;
    int column;
    std::string message;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class NewickDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(NewickDecode, TreeOrError) {
    const DecodeCase& c = GetParam();
    try {
        EXPECT_EQ(decodeResult(c.result, parseNameTable(c.table)), c.tree);
        EXPECT_FALSE(c.tree.empty());
    } catch (const NewickError& error) {
        EXPECT_TRUE(c.tree.empty()) << error.message;
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.column, c.column);
        EXPECT_NE(error.message.find(c.message), std::string::npos) << error.message;
    }
}

const std::string kAbc = "0\tA\n1\tB\n2\tC\n";
const std::string kReport =
    "%Number of input trees: 1\n%Number of species: 3\n%Using method: Exact\n"
    "%Total weight of satisfied triples: 1.\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, NewickDecode,
    ::testing::Values(
        DecodeCase{"ResultFile", kAbc, "(2,\n(1,\n0));\n" + kReport, "(C,(B,A));\n", 0, 0, ""},
        DecodeCase{"SingleLeaf", kAbc, "1;\n" + kReport, "B;\n", 0, 0, ""},
        DecodeCase{"EarlierTablesKeepTheirMeaning",
                   "0\tHomo sapiens\n1\tit's\n2\tx:y\n3\tplain_name\n", "((0,\n1),\n(2,\n3));\n",
                   "((Homo_sapiens,'it''s'),('x:y',plain_name));\n", 0, 0, ""},
        DecodeCase{"TableCrlfBlankLinesAnyOrder", "2\tC\r\n\r\n0\tA\r\n1\tB", "(0,\r\n1);\r\n",
                   "(A,B);\n", 0, 0, ""},
        DecodeCase{"NumberNotInTable", kAbc, "(0,\n(3,\n1));\n", "", 2, 2, "taxon number 3"},
        DecodeCase{"RepeatedNumber", kAbc, "(0,\n0);\n", "", 2, 1, "appears twice"},
        DecodeCase{"EmptyResult", kAbc, " \n", "", 0, 0, "tressil wrote no tree"},
        DecodeCase{"TruncatedResult", kAbc, "((0,\n1),", "", 2, 4, "ends early"},
        DecodeCase{"ThreeMembers", kAbc, "(0,1,2);", "", 1, 1, "a group of 3 members"},
        DecodeCase{"OneMember", kAbc, "((0),1);", "", 1, 2, "a group of 1 members"},
        DecodeCase{"TextAfterTree", kAbc, "(0,1);\n%ok\nhello\n", "", 3, 1, "after the tree"},
        DecodeCase{"NotAResult", kAbc, "(A,B);", "", 1, 2, "'(' or a taxon number"},
        DecodeCase{"TableWithoutTab", "0 A\n", "0;", "", 1, 2, "expected a tab"},
        DecodeCase{"TableWithoutNumber", "x\tA\n", "0;", "", 1, 1, "number<TAB>name"},
        DecodeCase{"TableEmptyName", "0\tA\n1\t\n", "0;", "", 2, 3, "empty name"},
        DecodeCase{"TableRepeatedNumber", "0\tA\n0\tB\n", "0;", "", 2, 1, "first on line 1"},
        DecodeCase{"TableNumberTooLarge", "128\tA\n", "0;", "", 1, 1, "above 127"}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

// Any name survives quoting and reading back, in a tree and in the name
// table.
TEST(NewickDecode, QuotedNamesReadBackUnchanged) {
    const std::string alphabet = "ab _'()[]:;,.\"-|&\\\xC3\xA4";
    std::mt19937 rng(3);
    for (int trial = 0; trial < 500; ++trial) {
        std::string name;
        for (size_t length = 1 + rng() % 8; name.size() < length;)
            name += alphabet[rng() % alphabet.size()];
        const std::vector<NamedTree> trees = parseNewick("((" + quoteName(name) + ",x0),y0);");
        ASSERT_EQ(trees.size(), 1u) << name;
        EXPECT_EQ(trees[0].nodes[0].name, name);
        const EncodedTrees table{{name}, {}, {}, 0, 0, {}};
        EXPECT_EQ(parseNameTable(nameTableText(table)), std::vector<std::string>{name});
    }
}

}  // namespace
