// The reader on accepted and rejected texts, checked through the triple table
// it leaves and the message it ends with.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/common.h"
#include "common/run_support.h"
#include "common/test_support.h"
#include "io/io.h"

namespace {

using Entry = std::tuple<int, int, int, int32_t>;  // i < j, k, weight

// Every nonzero entry w[i][j][k] with i < j, after checking the mirror.
std::vector<Entry> nonzeroEntries() {
    std::vector<Entry> entries;
    const int n = g_speciesCount;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                EXPECT_EQ(tripleWeight(i, j, k), tripleWeight(j, i, k));
                if (i < j && tripleWeight(i, j, k) != 0)
                    entries.emplace_back(i, j, k, tripleWeight(i, j, k));
            }
    return entries;
}

struct Accepted {
    const char* name;
    std::string text;
    int species;
    int trees;
    std::vector<Entry> entries;
};

void PrintTo(const Accepted& c, std::ostream* os) {
    *os << c.name;
}

class ReaderAccepts : public ::testing::TestWithParam<Accepted> {};

TEST_P(ReaderAccepts, FillsTheTable) {
    const Accepted& c = GetParam();
    ASSERT_EQ(readText(c.text), "");
    EXPECT_EQ(g_speciesCount, c.species);
    EXPECT_EQ(g_treeCount, c.trees);
    EXPECT_EQ(nonzeroEntries(), c.entries);
}

const std::vector<Entry> k012of1 = {{0, 1, 2, 1}};

INSTANTIATE_TEST_SUITE_P(
    Texts, ReaderAccepts,
    ::testing::Values(
        Accepted{"OneTriple", "3 1 ((0,1),2);.", 3, 1, k012of1},
        Accepted{"Example",
                 "4 3\n((0,1),2):3;\n((0,1),3);\n((2,3),0):2;\n.\n",
                 4,
                 3,
                 {{0, 1, 2, 3}, {0, 1, 3, 1}, {2, 3, 0, 2}}},
        Accepted{"TextBeforeFirstGroup", "3 1 any words: 7; here\n((0,1),2);.", 3, 1, k012of1},
        Accepted{"CommaSpace", "3 1 ((0, 1), 2);.", 3, 1, k012of1},
        Accepted{"SpaceOnly", "3 1 ((0 1) 2);.", 3, 1, k012of1},
        Accepted{"LineBreaks", "3 1 ((0\n1)\n2);\n.", 3, 1, k012of1},
        Accepted{"CarriageReturns", "3 1\r\n((0,1),\r\n2);\r\n.\r\n", 3, 1, k012of1},
        Accepted{"TabRightAfterLeafIsConsumed", "3 1 ((0\t1),2);.", 3, 1, k012of1},
        Accepted{"ColonRightAfterLeafIsConsumed", "3 1 ((0:1),2);.", 3, 1, k012of1},
        Accepted{"WeightAfterRoot", "3 1 ((0,1),2):5;.", 3, 1, {{0, 1, 2, 5}}},
        Accepted{"WeightInside", "3 1 ((0,1):7,2);.", 3, 1, {{0, 1, 2, 7}}},
        Accepted{"LastWeightWins", "3 1 ((0,1):7,2):2;.", 3, 1, {{0, 1, 2, 2}}},
        Accepted{"ZeroWeightIsOne", "3 1 ((0,1),2):0;.", 3, 1, k012of1},
        Accepted{"EmptyWeightIsOne", "3 1 ((0,1),2):;.", 3, 1, k012of1},
        Accepted{"SpaceEndsWeightDigits", "3 1 ((0,1),2): 5;.", 3, 1, k012of1},
        Accepted{"JunkAfterWeightSkipped", "3 1 ((0,1),2):5x;.", 3, 1, {{0, 1, 2, 5}}},
        Accepted{"DoubleSemicolonResetsWeight", "3 1 ((0,1),2):5;;.", 3, 1, k012of1},
        Accepted{"FractionalWeightEndsList", "3 1 ((0,1),2):2.5;", 3, 1, {{0, 1, 2, 2}}},
        Accepted{"MaxWeight", "3 1 ((0,1),2):2147483647;.", 3, 1, {{0, 1, 2, 2147483647}}},
        Accepted{"WeightsAddWhole", "3 2 ((0,1),2):70000; ((1,0),2):5;.", 3, 2, {{0, 1, 2, 70005}}},
        Accepted{"QuartetTree",
                 "4 1 ((0,1),(2,3));.",
                 4,
                 1,
                 {{0, 1, 2, 1}, {0, 1, 3, 1}, {2, 3, 0, 1}, {2, 3, 1, 1}}},
        Accepted{"CaterpillarTree",
                 "4 1 (((0,1),2),3);.",
                 4,
                 1,
                 {{0, 1, 2, 1}, {0, 1, 3, 1}, {0, 2, 3, 1}, {1, 2, 3, 1}}},
        Accepted{"RepeatedSpecies", "2 1 ((0,1),0);.", 2, 1, {{0, 1, 0, 1}}},
        Accepted{"RepeatedPairAddsNothing", "2 1 ((0,0),1);.", 2, 1, {}},
        Accepted{"SingleSpecies", "1 1 (0 0);.", 1, 1, {}},
        Accepted{"LeadingZeros", "3 1 ((000,01),0002);.", 3, 1, k012of1},
        Accepted{"NoSemicolonTakesCurrentWeight", "3 1 ((0,1),2):4.", 3, 1, {{0, 1, 2, 4}}},
        Accepted{"NoSemicolonZeroWeightIsOne", "3 1 ((0,1),2):0.", 3, 1, k012of1},
        Accepted{
            "NoSemicolonAfterWeightedTree", "3 2 ((0,1),2) ((0,1),2):3;.", 3, 2, {{0, 1, 2, 4}}},
        Accepted{"InputEndsInsideWeight", "3 1 ((0,1),2):3", 3, 1, {{0, 1, 2, 3}}},
        Accepted{"LooseLeafCountsAsTree", "3 2 ((0,1),2) 1 .", 3, 2, k012of1}),
    [](const ::testing::TestParamInfo<Accepted>& info) { return std::string(info.param.name); });

struct Rejected {
    const char* name;
    std::string text;
    std::string message;
};

void PrintTo(const Rejected& c, std::ostream* os) {
    *os << c.name;
}

class ReaderRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(ReaderRejects, WithItsMessage) {
    const Rejected& c = GetParam();
    int status = 0;
    EXPECT_EQ(readText(c.text, &status), c.message);
    EXPECT_EQ(status, kExitInput);
    EXPECT_EQ(g_inFile, nullptr);
}

const std::string kBad = "bad input format\n";
const std::string kMismatch = "# of triples not match\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, ReaderRejects,
    ::testing::Values(
        Rejected{"TooManySpecies", "129 1 ((0,1),2);.", "too many species\n"},
        Rejected{"TooManyTrees", "3 5001 ((0,1),2);.", "too many triples\n"},
        Rejected{"SpeciesTestComesFirst", "129 5001 ((0,1),2);.", "too many species\n"},
        Rejected{"HugeSpeciesCount", "4294967296 1 ((0,1),2);.", "too many species\n"},
        Rejected{"ThousandDigitCount", std::string(1000, '9') + " 1 (", "too many species\n"},
        Rejected{"SignedSpeciesCount", "-3 1 ((0,1),2);.", "too many species\n"},
        Rejected{"PlusIsAnOrdinarySign", "+3 +2 ((0,1),2);.", kMismatch},
        Rejected{"Empty", "", kBad}, Rejected{"HeaderOnly", "3 1", kBad},
        Rejected{"NoHeaderMeansNoSpecies", "((0,1),2);.", kBad},
        Rejected{"MaxCountsPassTheLimits", "128 5000 ((0,127),5) .", kMismatch},
        Rejected{"ZeroTrees", "3 0 ((0,1),2);.", kMismatch},
        Rejected{"TooFewTrees", "3 2 ((0,1),2);.", kMismatch},
        Rejected{"TooManyTreesRead", "3 1 ((0,1),2); ((0,2),1);.", kMismatch},
        Rejected{"TabBetweenTokens", "3 1 ((0,1),\t2);.", kBad},
        Rejected{"Letter", "3 1 ((0,a),2);.", kBad}, Rejected{"Sign", "3 1 ((0,-1),2);.", kBad},
        Rejected{"NulByte", std::string("3 1 ((0,1),\0 2);.", 17), kBad},
        Rejected{"LeafAtSpeciesCount", "3 1 ((0,1),3);.", kBad},
        Rejected{"ThousandDigitLeaf", "3 1 ((0," + std::string(1000, '1') + "),2);.", kBad},
        Rejected{"ThousandDigitWeight", "3 1 ((0,1),2):" + std::string(1000, '7') + ";.", kBad},
        Rejected{"WeightPastInt32", "3 1 ((0,1),2):2147483648;.", kBad},
        Rejected{"GroupOfOne", "3 1 ((0),2);.", kBad}, Rejected{"EmptyGroup", "3 1 ((),2);.", kBad},
        Rejected{"GroupOfThree", "3 1 (0,1,2);.", kBad},
        Rejected{"StopsBeforeFullStop", "3 1 ((0,1),2);", kBad},
        Rejected{"StopsAfterClose", "3 1 ((0,1),2)", kBad},
        Rejected{"StopsAfterLeafIsMismatch", "3 1 ((0,1),2", kMismatch},
        Rejected{"SemicolonAfterOpen", "3 1 (;0,1);.", kBad},
        Rejected{"UnclosedGroupCounted", "3 2 ((0,1),2) (.", kBad},
        Rejected{"StackOverflow", "3 1 " + std::string(10000, '(') + ".", kBad},
        Rejected{"WeightTooLarge", "3 2 ((0,1),2):2147483647; ((0,1),2);.",
                 "triple weight too large\n"},
        Rejected{"FormatErrorBeforeWeightTooLarge", "3 2 ((0,1),2):2147483647; ((0,1),2); (.",
                 kMismatch}),
    [](const ::testing::TestParamInfo<Rejected>& info) { return std::string(info.param.name); });

}  // namespace
