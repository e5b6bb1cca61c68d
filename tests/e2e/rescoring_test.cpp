// Random inputs through the program: the written tree, read back, must hold
// every species once and satisfy exactly the reported total; the heuristic
// path must write the first best of the eight candidates; the search's bound
// must be the sum over every set of four species.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>

#include "common/common.h"
#include "common/run_support.h"
#include "common/test_support.h"
#include "generator/random_input.h"
#include "heuristics/heuristics.h"

namespace {

// trees random trees of 2 to 6 distinct leaves, members joined by ',' or ' '.
std::string smallTreesInput(int n, int trees, std::mt19937& rng) {
    return randomInput({n, trees, 2, std::min(n, 6), 20, true, false, 0}, rng);
}

// Reads the tree text of an output file back into heap nodes.
TreeNode* parseResult(const std::string& text, size_t& at) {
    TreeNode* node = allocateNode();
    if (text[at] == '(') {
        ++at;
        node->left = parseResult(text, at);
        EXPECT_EQ(text.substr(at, 2), ",\n");
        at += 2;
        node->right = parseResult(text, at);
        EXPECT_EQ(text[at], ')');
        ++at;
        return node;
    }
    int label = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
        label = label * 10 + (text[at++] - '0');
    node->label = static_cast<int16_t>(label);
    return node;
}

int reportedValue(const std::string& file, const std::string& key) {
    const size_t at = file.find(key);
    return at == std::string::npos ? -1 : std::stoi(file.substr(at + key.size()));
}

int reportedTotal(const std::string& file) {
    return reportedValue(file, "%Total weight of satisfied triples: ");
}

// The tree as the writer lays it out.
std::string writtenText(const TreeNode* node) {
    if (node->left == nullptr && node->right == nullptr) return std::to_string(node->label);
    return "(" + writtenText(node->left) + ",\n" + writtenText(node->right) + ")";
}

// The first candidate with the highest root weight, built in-process.
std::string expectedHeuristicTree(int* total) {
    std::string best;
    int32_t bestWeight = 0;
    for (int index = 0; index < kCandidateCount; ++index) {
        TreeNode* root = buildCandidate(index, g_nodePool);
        if (index == 0 || root->weight > bestWeight) {
            bestWeight = root->weight;
            best = writtenText(root);
        }
    }
    *total = bestWeight;
    return best;
}

TEST(Rescoring, WrittenTreeSatisfiesTheReportedTotal) {
    if (g_nodePool[0] == nullptr) allocateNodePool();
    std::mt19937 rng(77);
    for (int round = 0; round < 24; ++round) {
        const bool exact = round % 2 == 0;
        const int n = exact ? 3 + round % 10 : 3 + static_cast<int>(rng() % 40);
        const std::string input = smallTreesInput(n, 1 + static_cast<int>(rng() % 60), rng);
        const RunResult run = runProgram(input, {"IN", "OUT", exact ? "1" : "H"});
        ASSERT_EQ(run.status, 0) << input;
        ASSERT_EQ(readText(input), "");  // the same table, in this process
        size_t at = 0;
        TreeNode* written = parseResult(run.file, at);
        EXPECT_EQ(run.file.substr(at, 2), ";\n");
        EXPECT_TRUE(isBinaryTreeOnAllSpecies(written, n)) << run.file;
        EXPECT_EQ(satisfiedWeight(written), reportedTotal(run.file)) << input;
        if (!exact) {
            int total = 0;
            EXPECT_EQ(writtenText(written), expectedHeuristicTree(&total));
            EXPECT_EQ(total, reportedTotal(run.file));
        }
        freeTree(written);
    }
}

// The search writes a tree that satisfies exactly its reported total, never
// less than the heuristic method's, and no more than its bound.
TEST(Rescoring, SearchTreeSatisfiesItsTotalWithinItsBound) {
    if (g_nodePool[0] == nullptr) allocateNodePool();
    std::mt19937 rng(78);
    for (int round = 0; round < 8; ++round) {
        const int n = 3 + static_cast<int>(rng() % 60);
        const std::string input = smallTreesInput(n, 1 + static_cast<int>(rng() % 80), rng);
        const RunResult run = runProgram(input, {"IN", "OUT", "--search"});
        ASSERT_EQ(run.status, 0) << input;
        ASSERT_EQ(readText(input), "");
        size_t at = 0;
        TreeNode* written = parseResult(run.file, at);
        EXPECT_TRUE(isBinaryTreeOnAllSpecies(written, n)) << run.file;
        const int total = reportedTotal(run.file);
        EXPECT_EQ(satisfiedWeight(written), total) << input;
        EXPECT_GE(reportedValue(run.file, "%Upper bound on satisfied weight: "), total);
        int heuristicTotal = 0;
        expectedHeuristicTree(&heuristicTotal);
        EXPECT_GE(total, heuristicTotal) << input;
        freeTree(written);
    }
}

// The most weight one rooted tree on the four species can satisfy. Such a
// tree is a pair of clusters of two or three of them, nested or disjoint.
int64_t bestTreeOnFour(const int (&four)[4]) {
    int64_t best = 0;
    for (unsigned a = 1; a < 16; ++a)
        for (unsigned b = a + 1; b < 16; ++b) {
            const int sa = __builtin_popcount(a);
            const int sb = __builtin_popcount(b);
            const unsigned both = a & b;
            if (sa < 2 || sa > 3 || sb < 2 || sb > 3 || (both != 0 && both != a && both != b))
                continue;
            int64_t satisfied = 0;
            for (int i = 0; i < 4; ++i)
                for (int j = i + 1; j < 4; ++j)
                    for (int k = 0; k < 4; ++k) {
                        const unsigned ij = 1u << i | 1u << j;
                        const bool apart = (a & ij) == ij && !(a >> k & 1u);
                        if (k != i && k != j && (apart || ((b & ij) == ij && !(b >> k & 1u))))
                            satisfied += tripleWeight(four[i], four[j], four[k]);
                    }
            best = std::max(best, satisfied);
        }
    return best;
}

// For fewer than four species the heaviest resolution of each triple;
// otherwise the best tree of each set of four, summed, over n - 3.
int64_t boundByBruteForce(int n) {
    int64_t sum = 0;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b)
            for (int c = b + 1; c < n; ++c) {
                if (n < 4)
                    sum += std::max(
                        {tripleWeight(a, b, c), tripleWeight(a, c, b), tripleWeight(b, c, a)});
                for (int d = c + 1; d < n; ++d)
                    sum += bestTreeOnFour({a, b, c, d});
            }
    return n < 4 ? sum : sum / (n - 3);
}

TEST(Rescoring, SearchBoundIsTheSumOverEverySetOfFour) {
    std::mt19937 rng(79);
    for (int round = 0; round < 12; ++round) {
        const int n = 3 + round % 8;
        const std::string input = smallTreesInput(n, 1 + static_cast<int>(rng() % 30), rng);
        const RunResult run = runProgram(input, {"IN", "OUT", "--search"});
        ASSERT_EQ(run.status, 0) << input;
        ASSERT_EQ(readText(input), "");
        EXPECT_EQ(reportedValue(run.file, "%Upper bound on satisfied weight: "),
                  boundByBruteForce(n))
            << input;
    }
}

}  // namespace
