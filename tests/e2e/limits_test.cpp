// Inputs at and beyond the limits, deep nesting and junk, run as a user would.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/run_support.h"
#include "generator/random_input.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// trees random trees on leaves distinct species each, weight 1.
std::string randomTrees(int n, int trees, int leaves, unsigned seed) {
    std::mt19937 rng(seed);
    return randomInput({n, trees, leaves, leaves, 1, false, false, 0}, rng);
}

bool hasReport(const RunResult& r, int trees, int species) {
    return r.file.find("%Number of input triples: " + std::to_string(trees) +
                       "\n%Number of species: " + std::to_string(species) + "\n") !=
           std::string::npos;
}

TEST(Limits, AcceptsMostSpeciesAndTrees) {
    const RunResult r = runProgram(randomTrees(128, 5000, 3, 1), {"IN", "OUT"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(hasReport(r, 5000, 128)) << r.file.substr(0, 200);
}

TEST(Limits, LargestLegalInputIsDeterministic) {
    if (kSanitized) GTEST_SKIP() << "too slow under the sanitizers";
    const std::string input = randomTrees(128, 5000, 128, 2);
    const RunResult first = runProgram(input, {"IN", "OUT"});
    const RunResult second = runProgram(input, {"IN", "OUT"});
    EXPECT_EQ(first.status, 0);
    EXPECT_TRUE(hasReport(first, 5000, 128));
    EXPECT_EQ(first.out, second.out);
    EXPECT_EQ(first.file, second.file);
}

// Left-deep nesting needs one open entry per level and one leaf: 5000 levels.
TEST(Limits, DeepTreesAreReadWithoutExhaustingTheStack) {
    const int levels = 5000;
    std::string leftDeep = "128 1 " + std::string(levels, '(') + "0";
    for (int i = 1; i <= levels; ++i)
        leftDeep += "," + std::to_string(i % 128) + ")";
    RunResult r = runProgram(leftDeep + ";.", {"IN", "OUT"});
    EXPECT_EQ(r.status, 0) << r.out.substr(r.out.size() > 80 ? r.out.size() - 80 : 0);
    EXPECT_TRUE(hasReport(r, 1, 128));

    // Right-deep nesting holds an open entry and a leaf per level.
    std::string rightDeep = "128 1 ";
    const int rightLevels = 4900;
    for (int i = 0; i < rightLevels; ++i)
        rightDeep += "(" + std::to_string(i % 128) + ",";
    rightDeep += "0" + std::string(rightLevels, ')') + ";.";
    r = runProgram(rightDeep, {"IN", "OUT", "1"});
    EXPECT_EQ(r.status, 0);
}

TEST(Limits, JunkIsBadInput) {
    std::mt19937 rng(5);
    for (int round = 0; round < 5; ++round) {
        std::string junk = "3 1 (";
        for (int i = 0; i < 200; ++i)
            junk += static_cast<char>(rng() % 256);
        const RunResult r = runProgram(junk, {"IN", "OUT"});
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(r.out == "bad input format\n" || r.out == "# of triples not match\n") << r.out;
        EXPECT_EQ(r.file, "");
    }
}

}  // namespace
