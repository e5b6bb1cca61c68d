#include "driver/driver.h"

#include <sys/stat.h>

#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <algorithm>

#include "common/common.h"
#include "exact/exact.h"
#include "heuristics/heuristics.h"
#include "io/io.h"
#include "search/search.h"
#include "triples/triples.h"

[[noreturn]] static void failUsage(const std::string& message) {
    fatalExit(kExitUsage, message.c_str());
}

// Writing over the input would destroy it before it is read.
static bool sameFile(FILE* input, const char* outputPath) {
    struct stat in {};
    struct stat out {};
    if (fstat(fileno(input), &in) != 0 || stat(outputPath, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

static void openFiles(const char* inputPath, const char* outputPath) {
    g_inFile = std::fopen(inputPath, "r");
    if (g_inFile == nullptr) failUsage(std::string("cannot open input file: ") + inputPath);
    if (sameFile(g_inFile, outputPath)) failUsage("input and output are the same file\n");
    g_outFile = std::fopen(outputPath, "w");
    if (g_outFile == nullptr) failUsage(std::string("cannot open output file: ") + outputPath);
}

static void printDump() {
    for (int i = 0; i < kDumpSpecies; ++i)
        for (int j = i + 1; j < kDumpSpecies; ++j) {
            std::printf("\n(%d,%d):", i, j);
            for (int k = 0; k < kDumpSpecies; ++k)
                std::printf("%d,", tripleWeight(i, j, k));
        }
}

// The min-cut candidate takes longest and touches nothing shared but its
// pool records, so it is built in a pool of its own, on a thread of its own
// when there are cores to spare, while the others take turns in g_nodePool.
static TreeNode* s_minCutPool[kPoolSize];

// Builds every candidate and returns the first with the highest weight. Each
// construction in g_nodePool overwrites the records of the one before, so a
// winner other than the last one built there is built again, which gives the
// same tree since a construction depends on the table alone.
static TreeNode* buildBestCandidate() {
    if (g_speciesCount > kMaxSpecies) {
        // The caterpillar alone runs at this size. Its 2n records are kept
        // for the whole process, like the pools: never destroyed, so they
        // stay reachable to the end.
        static std::vector<TreeNode*>& pool = *new std::vector<TreeNode*>;
        while (pool.size() < 2 * static_cast<size_t>(g_speciesCount))
            pool.push_back(allocateNode());
        return buildCandidate(kSequentialCandidate, pool.data());
    }
    TreeNode* minCutRoot = nullptr;
    std::thread minCut;
    if (threadCountToUse() > 1) {
        try {
            minCut = std::thread(
                [&minCutRoot] { minCutRoot = buildCandidate(kMinCutCandidate, s_minCutPool); });
        } catch (const std::system_error&) {
        }
    }
    int64_t bestWeight = 0;
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

constexpr char kUsage[] = "use tressil inputfile outputfile [E/H]\n";

constexpr char kHelp[] =
    "use tressil [options] inputfile outputfile [E/H]\n"
    "\n"
    "Builds one rooted binary tree on all species of the input that satisfies as\n"
    "much of its rooted-triple weight as it can, and writes it to outputfile.\n"
    "\n"
    "  E/H            a third argument that starts with 1 asks for the exact method\n"
    "                 (up to 20 species); any other, or none, for the heuristic one\n"
    "  --search       search for a better tree than the heuristic one, at any\n"
    "                 species count, and report an upper bound on the satisfied\n"
    "                 weight; the third argument is then ignored\n"
    "  --threads N    use N threads (default: one per core); results never depend\n"
    "                 on it\n"
    "  --help         show this text and exit\n"
    "  --version      show the version and exit\n"
    "  --             end of options: later arguments are file names even when\n"
    "                 they start with --\n";

static void closeOutput(const char* outputPath) {
    const bool failed = std::ferror(g_outFile) != 0;
    const bool closeFailed = std::fclose(g_outFile) != 0;
    g_outFile = nullptr;
    if (failed || closeFailed)
        failUsage(std::string("cannot write output file: ") + outputPath + "\n");
}

static const char* progressLine(Method method) {
    switch (method) {
        case Method::kExact:
            return " Finding the exact solution.\n";
        case Method::kHeuristic:
            return "Finding the approximation solution.\n";
        case Method::kSearch:
            break;
    }
    return "Searching for the best tree.\n";
}

// Help and version answer at once, before any file is touched; returns
// whether one was asked for.
static bool answerInformationRequests(const CommandLine& line) {
    if (!line.help && !line.version) return false;
    if (line.help)
        std::fputs(kHelp, stdout);
    else
        std::fputs("tressil " TRESSIL_VERSION "\n", stdout);
    std::fflush(stdout);
    return true;
}

MethodResult runMethod(Method method) {
    // Callers other than runTressil may run a method without allocating.
    if (g_nodePool[0] == nullptr) allocateNodePool();
    if (s_minCutPool[0] == nullptr) allocatePoolRecords(s_minCutPool);
    g_fullMask =
        nextSubset(0, static_cast<int16_t>(g_speciesCount), static_cast<int16_t>(g_speciesCount));
    switch (method) {
        case Method::kExact: {
            solveExact();
            return {buildExactTree(g_fullMask), g_subsetScore[g_fullMask], 0, false};
        }
        case Method::kHeuristic: {
            TreeNode* tree = buildBestCandidate();
            return {tree, tree->weight, 0, false};
        }
        case Method::kSearch:
            break;
    }
    const SearchResult found = searchTree();
    return {found.tree, found.satisfied, found.bound, found.boundFromTriples};
}

int64_t scaledNodes(int64_t nodes, int32_t species, int32_t count) {
    // In floating point: nodes times a count can pass 64 bits, and an
    // estimate needs no exact figure.
    return static_cast<int64_t>(static_cast<double>(nodes) * count / std::max(species, 1));
}

int64_t runMemoryBytes(Method method, int32_t species, int threads, int64_t trees, int64_t nodes) {
    const int64_t table = tripleTableBytes(species);
    const int64_t filling = geneTreeBytes(trees, nodes) + table +
                            fillWorkingBytes(species, table, threads, trees, nodes);
    int64_t working = 0;
    switch (method) {
        case Method::kExact:
            working = exactWorkingBytes(species);
            break;
        case Method::kHeuristic:
            working = candidatesWorkingBytes(species);
            break;
        case Method::kSearch:
            working = candidatesWorkingBytes(species) + searchWorkingBytes(species, threads);
            break;
    }
    // An eighth more for what the allocator keeps, and 8 MiB for the small
    // records the sums leave out.
    const int64_t peak = std::max(filling, table + working);
    return peak + peak / 8 + (int64_t{8} << 20);
}

int32_t largestFittingSpecies(Method method, int threads, int64_t trees, int64_t nodes,
                              int32_t species, int64_t available) {
    const auto fits = [&](int32_t count) {
        return runMemoryBytes(method, count, threads, trees, scaledNodes(nodes, species, count)) <=
               available;
    };
    int32_t fitting = 0;
    int32_t above = 1;
    while (fits(above) && above < INT32_MAX / 2)
        above *= 2;
    // runMemoryBytes grows with the species: halve the gap.
    while (above - fitting > 1) {
        const int32_t middle = fitting + (above - fitting) / 2;
        if (fits(middle))
            fitting = middle;
        else
            above = middle;
    }
    return fitting;
}

bool exactMethodFits() {
    return g_speciesCount <= kMaxExactSpecies && tripleTableTotal() <= kMaxTripleTotal;
}

void writeReport(FILE* out, Method method, const MethodResult& result) {
    std::fprintf(out,
                 method == Method::kHeuristic ? "%%Number of input triples: %d\n"
                                              : "%%Number of input trees: %d\n",
                 g_treeCount);
    std::fprintf(out, "%%Number of species: %d\n", g_speciesCount);
    std::fputs(method == Method::kExact       ? "%Using method: Exact\n"
               : method == Method::kHeuristic ? "%Using method: Heuristic\n"
                                              : "%Using method: Search\n",
               out);
    std::fprintf(out, "%%Total weight of satisfied triples: %lld.\n",
                 static_cast<long long>(result.total));
    if (method == Method::kSearch)
        std::fprintf(out,
                     result.boundFromTriples
                         ? "%%Upper bound on satisfied weight, from species triples: %lld.\n"
                         : "%%Upper bound on satisfied weight: %lld.\n",
                     static_cast<long long>(result.bound));
}

int runTressil(int argc, char** argv) {
    allocateNodePool();
    allocatePoolRecords(s_minCutPool);
    const CommandLine line = parseCommandLine(argc, argv);
    if (answerInformationRequests(line)) return 0;
    g_threadCount = line.threads;
    if (line.positional.size() < 2) failUsage(kUsage);
    const char* outputPath = line.positional[1].c_str();
    openFiles(line.positional[0].c_str(), outputPath);
    Method method = line.positional.size() > 2 && line.positional[2][0] == '1' ? Method::kExact
                                                                               : Method::kHeuristic;
    if (line.search) method = Method::kSearch;

    readInput();
    std::fclose(g_inFile);
    g_inFile = nullptr;

    printDump();
    if (method == Method::kExact && g_speciesCount > kMaxExactSpecies) method = Method::kHeuristic;
    std::fputs(progressLine(method), stdout);
    std::fflush(stdout);
    const MethodResult result = runMethod(method);
    g_resultTree = result.tree;
    writeTree(g_resultTree);
    std::fputs(";\n", g_outFile);
    writeReport(g_outFile, method, result);
    freeTree(g_resultTree);
    g_resultTree = nullptr;
    closeOutput(outputPath);
    return 0;
}
