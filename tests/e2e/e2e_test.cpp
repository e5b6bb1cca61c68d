// The program as a user runs it: input file in; standard output, output file
// and exit status compared byte for byte.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/run_support.h"

namespace {

using DumpEntries = std::map<std::tuple<int, int, int>, int>;

// The diagnostic dump: 15 groups for the pairs among species 0..5.
std::string dumpText(const DumpEntries& entries = {}) {
    std::string text;
    for (int i = 0; i < 6; ++i)
        for (int j = i + 1; j < 6; ++j) {
            text += "\n(" + std::to_string(i) + "," + std::to_string(j) + "):";
            for (int k = 0; k < 6; ++k) {
                const auto found = entries.find({i, j, k});
                text += std::to_string(found == entries.end() ? 0 : found->second) + ",";
            }
        }
    return text;
}

const std::string kExactLine = " Finding the exact solution.\n";
const std::string kHeuristicLine = "Finding the approximation solution.\n";
const std::string kSearchLine = "Searching for the best tree.\n";

std::string report(bool exact, int trees, int species, int total) {
    return std::string(exact ? "%Number of input trees: " : "%Number of input triples: ") +
           std::to_string(trees) + "\n%Number of species: " + std::to_string(species) +
           "\n%Using method: " + (exact ? "Exact" : "Heuristic") +
           "\n%Total weight of satisfied triples: " + std::to_string(total) + ".\n";
}

std::string searchReport(int trees, int species, int total, int bound) {
    return "%Number of input trees: " + std::to_string(trees) +
           "\n%Number of species: " + std::to_string(species) +
           "\n%Using method: Search\n%Total weight of satisfied triples: " + std::to_string(total) +
           ".\n%Upper bound on satisfied weight: " + std::to_string(bound) + ".\n";
}

// (((0,1),2),...,last) as the writer lays it out.
std::string caterpillar(int last) {
    std::string text = "0";
    for (int s = 1; s <= last; ++s)
        text = "(" + text + ",\n" + std::to_string(s) + ")";
    return text;
}

// (last,(...,(1,0))) as the writer lays it out.
std::string mirroredCaterpillar(int last) {
    std::string text = "0";
    for (int s = 1; s <= last; ++s)
        text = "(" + std::to_string(s) + ",\n" + text + ")";
    return text;
}

// What a caterpillar of weight 1 puts in the dump: ij|k for i < j < k.
DumpEntries caterpillarDump() {
    DumpEntries entries;
    for (int k = 0; k < 6; ++k)
        for (int j = 0; j < k; ++j)
            for (int i = 0; i < j; ++i)
                entries[{i, j, k}] = 1;
    return entries;
}

struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string file;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class EndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EndToEnd, MatchesByteForByte) {
    const Case& c = GetParam();
    const RunResult r = runProgram(c.input, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.file, c.file);
    EXPECT_EQ(r.inputAfter, c.input);  // never written, not even as the output path
}

const std::string kOneTriple = "3 1 ((0,1),2);.";
const DumpEntries kOneTripleDump = {{{0, 1, 2}, 1}};
const std::string kUsage = "use tressil inputfile outputfile [E/H]\n";
const std::string kAbsent = "<absent>";

INSTANTIATE_TEST_SUITE_P(
    Runs, EndToEnd,
    ::testing::Values(
        Case{"NoArguments", kOneTriple, {}, 1, kUsage, kAbsent},
        Case{"OneArgument", kOneTriple, {"IN"}, 1, kUsage, kAbsent},
        Case{"MissingInput",
             kOneTriple,
             {"/nonexistent/in.txt", "OUT"},
             1,
             "cannot open input file: /nonexistent/in.txt",
             kAbsent},
        Case{"UnwritableOutput",
             kOneTriple,
             {"IN", "/nonexistent/out.txt"},
             1,
             "cannot open output file: /nonexistent/out.txt",
             kAbsent},
        Case{"OutputIsInput",
             kOneTriple,
             {"IN", "IN"},
             1,
             "input and output are the same file\n",
             kAbsent},
        Case{"ExactOneTriple",
             kOneTriple,
             {"IN", "OUT", "1"},
             0,
             dumpText(kOneTripleDump) + kExactLine,
             "(2,\n(1,\n0));\n" + report(true, 1, 3, 1)},
        Case{"ExactByAnyLeadingOne",
             kOneTriple,
             {"IN", "OUT", "10", "ignored"},
             0,
             dumpText(kOneTripleDump) + kExactLine,
             "(2,\n(1,\n0));\n" + report(true, 1, 3, 1)},
        Case{"HeuristicByDefault",
             kOneTriple,
             {"IN", "OUT"},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             "((0,\n1),\n2);\n" + report(false, 1, 3, 1)},
        Case{"HeuristicByE",
             kOneTriple,
             {"IN", "OUT", "E"},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             "((0,\n1),\n2);\n" + report(false, 1, 3, 1)},
        Case{"HeuristicByZero",
             kOneTriple,
             {"IN", "OUT", "0"},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             "((0,\n1),\n2);\n" + report(false, 1, 3, 1)},
        Case{"HeuristicByEmptyArgument",
             kOneTriple,
             {"IN", "OUT", ""},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             "((0,\n1),\n2);\n" + report(false, 1, 3, 1)},
        Case{"ExactSingleSpecies",
             "1 1 (0 0);.",
             {"IN", "OUT", "1"},
             0,
             dumpText() + kExactLine,
             "0;\n" + report(true, 1, 1, 0)},
        Case{"HeuristicSingleSpecies",
             "1 1 (0 0);.",
             {"IN", "OUT"},
             0,
             dumpText() + kHeuristicLine,
             "0;\n" + report(false, 1, 1, 0)},
        Case{"ExactTwoSpecies",
             "2 1 (0,1);.",
             {"IN", "OUT", "1"},
             0,
             dumpText() + kExactLine,
             "(1,\n0);\n" + report(true, 1, 2, 0)},
        Case{"ExactAllZeroFourSpecies",
             "4 2 (0,1); (2,3);.",
             {"IN", "OUT", "1"},
             0,
             dumpText() + kExactLine,
             "((3,\n2),\n(1,\n0));\n" + report(true, 2, 4, 0)},
        Case{"ExactExampleFile",
             "4 3\n((0,1),2):3;\n((0,1),3);\n((2,3),0):2;\n.\n",
             {"IN", "OUT", "1"},
             0,
             dumpText({{{0, 1, 2}, 3}, {{0, 1, 3}, 1}, {{2, 3, 0}, 2}}) + kExactLine,
             "((3,\n2),\n(1,\n0));\n" + report(true, 3, 4, 6)},
        Case{"DumpShowsOnlySpeciesBelowSix",
             "7 1 ((5,6),0):9;.",
             {"IN", "OUT"},
             0,
             dumpText() + kHeuristicLine,
             "(((((0,\n1),\n2),\n3),\n4),\n(5,\n6));\n" + report(false, 1, 7, 9)},
        // The one input tree displays all 1140 triples on 20 species, so the
        // exact method must satisfy every one of them.
        Case{"ExactAt20",
             "20 1 " + caterpillar(19) + ";.",
             {"IN", "OUT", "1"},
             0,
             dumpText(caterpillarDump()) + kExactLine,
             mirroredCaterpillar(19) + ";\n" + report(true, 1, 20, 1140)},
        Case{"ExactFallsBackAbove20",
             "21 1 ((0,1),20);.",
             {"IN", "OUT", "1"},
             0,
             dumpText() + kHeuristicLine,
             caterpillar(20) +
                 ";\n" + report(false, 1, 21, 1)},
        Case{"BadInputLeavesEmptyOutput",
             "3 1 ((0,1),3);.",
             {"IN", "OUT"},
             255,
             "bad input format\n",
             ""},
        Case{"CountMismatch",
             "3 2 ((0,1),2);.",
             {"IN", "OUT", "1"},
             255,
             "# of triples not match\n",
             ""},
        Case{"TooManySpecies", "129 1 ((0,1),2);.", {"IN", "OUT"}, 255, "too many species\n", ""},
        Case{"TooManyTrees", "3 5001 ((0,1),2);.", {"IN", "OUT"}, 255, "too many triples\n", ""},
        Case{"PlusSignedCounts",
             "+3 +1 ((0,1),2);.",
             {"IN", "OUT"},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             "((0,\n1),\n2);\n" + report(false, 1, 3, 1)},
        Case{"WeightTooLarge",
             "3 2 ((0,1),2):2147483647; ((0,1),2);.",
             {"IN", "OUT"},
             255,
             "triple weight too large\n",
             ""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

const std::string kOneTripleSearch = "((0,\n1),\n2);\n" + searchReport(1, 3, 1, 1);
const std::string kOneTripleHeuristic = "((0,\n1),\n2);\n" + report(false, 1, 3, 1);
const std::string kOneTripleExact = "(2,\n(1,\n0));\n" + report(true, 1, 3, 1);

// Long options anywhere, "--" ending them; every argument without a leading
// "--" keeps its old meaning.
INSTANTIATE_TEST_SUITE_P(
    CommandLines, EndToEnd,
    ::testing::Values(
        Case{"SearchFirst",
             kOneTriple,
             {"--search", "IN", "OUT"},
             0,
             dumpText(kOneTripleDump) + kSearchLine,
             kOneTripleSearch},
        Case{"SearchLast",
             kOneTriple,
             {"IN", "OUT", "--search"},
             0,
             dumpText(kOneTripleDump) + kSearchLine,
             kOneTripleSearch},
        Case{"SearchBeforeExactArgument",
             kOneTriple,
             {"IN", "OUT", "1", "--search"},
             0,
             dumpText(kOneTripleDump) + kSearchLine,
             kOneTripleSearch},
        Case{"SearchByPrefix",
             kOneTriple,
             {"IN", "--sea", "OUT"},
             0,
             dumpText(kOneTripleDump) + kSearchLine,
             kOneTripleSearch},
        Case{"SearchBeyondTwentySpecies",
             "21 1 ((0,1),20);.",
             {"--search", "IN", "OUT"},
             0,
             dumpText() + kSearchLine,
             caterpillar(20) + ";\n" + searchReport(1, 21, 1, 1)},
        Case{"ThreadsJoined",
             kOneTriple,
             {"--threads=2", "IN", "OUT", "1"},
             0,
             dumpText(kOneTripleDump) + kExactLine,
             kOneTripleExact},
        Case{"ThreadsSeparate",
             kOneTriple,
             {"IN", "--threads", "3", "OUT"},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             kOneTripleHeuristic},
        Case{"OptionsEndAtDoubleDash",
             kOneTriple,
             {"IN", "--", "OUT", "--search"},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             kOneTripleHeuristic},
        Case{"SingleDashIsAnArgument",
             kOneTriple,
             {"IN", "OUT", "-1"},
             0,
             dumpText(kOneTripleDump) + kHeuristicLine,
             kOneTripleHeuristic},
        Case{"ZeroThreads",
             kOneTriple,
             {"--threads=0", "IN", "OUT"},
             1,
             "bad value for --threads: 0 (a whole number from 1 to 1024)\n",
             kAbsent},
        Case{"ThreadsWithoutValue",
             kOneTriple,
             {"IN", "OUT", "--threads"},
             1,
             "option --threads needs a value\n",
             kAbsent},
        Case{"UnknownOption",
             kOneTriple,
             {"--fast", "IN", "OUT"},
             1,
             "unknown option: --fast\n",
             kAbsent},
        Case{"SearchTakesNoValue",
             kOneTriple,
             {"--search=yes", "IN", "OUT"},
             1,
             "option --search takes no value\n",
             kAbsent},
        Case{"SearchWithoutFiles", kOneTriple, {"--search", "IN"}, 1, kUsage, kAbsent}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(CommandLine, HelpAndVersionAnswerAndStop) {
    const RunResult help = runProgram(kOneTriple, {"IN", "OUT", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("use tressil [options] inputfile outputfile [E/H]\n", 0), 0u);
    for (const char* option : {"--search", "--threads N", "--help", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(help.file, kAbsent);
    const RunResult version = runProgram(kOneTriple, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "tressil " TRESSIL_VERSION "\n");
}

}  // namespace
