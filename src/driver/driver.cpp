#include "driver/driver.h"

#include <sys/stat.h>

#include <string>
#include <system_error>
#include <thread>

#include "common/common.h"
#include "exact/exact.h"
#include "heuristics/heuristics.h"
#include "io/io.h"

namespace {

constexpr int kDumpSpecies = 6;  // the dump shows the pairs among species 0..5

[[noreturn]] void failUsage(const std::string& message) {
    fatalExit(kExitUsage, message.c_str());
}

// Writing over the input would destroy it before it is read.
bool sameFile(FILE* input, const char* outputPath) {
    struct stat in {};
    struct stat out {};
    if (fstat(fileno(input), &in) != 0 || stat(outputPath, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

void openFiles(const char* inputPath, const char* outputPath) {
    g_inFile = std::fopen(inputPath, "r");
    if (g_inFile == nullptr) failUsage(std::string("cannot open input file: ") + inputPath);
    if (sameFile(g_inFile, outputPath)) failUsage("input and output are the same file\n");
    g_outFile = std::fopen(outputPath, "w");
    if (g_outFile == nullptr) failUsage(std::string("cannot open output file: ") + outputPath);
}

void printDump() {
    for (int i = 0; i < kDumpSpecies; ++i)
        for (int j = i + 1; j < kDumpSpecies; ++j) {
            std::printf("\n(%d,%d):", i, j);
            for (int k = 0; k < kDumpSpecies; ++k)
                std::printf("%d,", g_tripleWeight[i][j][k]);
        }
}

// The min-cut candidate takes longest and touches nothing shared but its
// pool records, so it is built in a pool of its own, on a thread of its own
// when there are cores to spare, while the others take turns in g_nodePool.
TreeNode* s_minCutPool[kPoolSize];

// Builds every candidate and returns the first with the highest weight. Each
// construction in g_nodePool overwrites the records of the one before, so a
// winner other than the last one built there is built again, which gives the
// same tree since a construction depends on the table alone.
TreeNode* buildBestCandidate() {
    TreeNode* minCutRoot = nullptr;
    std::thread minCut;
    if (threadCountToUse() > 1) {
        try {
            minCut = std::thread(
                [&minCutRoot] { minCutRoot = buildCandidate(kMinCutCandidate, s_minCutPool); });
        } catch (const std::system_error&) {
        }
    }
    int32_t bestWeight = 0;
    int bestIndex = 0;
    for (int index = 0; index < kMinCutCandidate; ++index) {
        g_resultTree = buildCandidate(index, g_nodePool);
        if (index == 0 || g_resultTree->weight > bestWeight) {
            bestWeight = g_resultTree->weight;
            bestIndex = index;
        }
    }
    if (minCut.joinable())
        minCut.join();
    else
        minCutRoot = buildCandidate(kMinCutCandidate, s_minCutPool);
    if (minCutRoot->weight > bestWeight) return minCutRoot;
    if (bestIndex == kMinCutCandidate - 1) return g_resultTree;
    return buildCandidate(bestIndex, g_nodePool);
}

void writeResult(bool exact, int32_t total) {
    writeTree(g_resultTree);
    std::fputs(";\n", g_outFile);
    std::fprintf(g_outFile,
                 exact ? "%%Number of input trees: %d\n" : "%%Number of input triples: %d\n",
                 g_treeCount);
    std::fprintf(g_outFile, "%%Number of species: %d\n", g_speciesCount);
    std::fputs(exact ? "%Using method: Exact\n" : "%Using method: Heuristic\n", g_outFile);
    std::fprintf(g_outFile, "%%Total weight of satisfied triples: %d.\n", total);
}

void closeOutput(const char* outputPath) {
    const bool failed = std::ferror(g_outFile) != 0;
    const bool closeFailed = std::fclose(g_outFile) != 0;
    g_outFile = nullptr;
    if (failed || closeFailed)
        failUsage(std::string("cannot write output file: ") + outputPath + "\n");
}

}  // namespace

int runTressil(int argc, char** argv) {
    allocateNodePool();
    allocatePoolRecords(s_minCutPool);
    if (argc < 3) failUsage("use tressil inputfile outputfile [E/H]\n");
    openFiles(argv[1], argv[2]);
    bool exact = argc > 3 && argv[3][0] == '1';

    readInput();
    std::fclose(g_inFile);
    g_inFile = nullptr;

    printDump();
    if (g_speciesCount > kMaxExactSpecies) exact = false;
    std::fputs(exact ? " Finding the exact solution.\n" : "Finding the approximation solution.\n",
               stdout);
    std::fflush(stdout);
    g_fullMask =
        nextSubset(0, static_cast<int16_t>(g_speciesCount), static_cast<int16_t>(g_speciesCount));

    int32_t total = 0;
    if (exact) {
        solveExact();
        g_resultTree = buildExactTree(g_fullMask);
        total = g_subsetScore[g_fullMask];
    } else {
        g_resultTree = buildBestCandidate();
        total = g_resultTree->weight;
    }
    writeResult(exact, total);
    freeTree(g_resultTree);
    g_resultTree = nullptr;
    closeOutput(argv[2]);
    return 0;
}
