// What the scale benchmarks report besides whole runs: the time of filling
// the triple table alone, and the memory infer works out for a run before it
// allocates, to set beside the peak it then takes.
//
//   tressil_scale_probe GENES.nwk OUTGROUP [--anchored]
//
// reads and roots the gene trees as infer does and prints
//   species trees fill_seconds estimate_MiB [anchored_fill_seconds]
// where the estimate is of infer's whole peak with its default method: what
// it holds when it decides (the file's text and the trees) and what the run
// will take on top. With --anchored it also times one fill of anchored
// triples, against the clades of the tree the heuristic finds from the
// rooted table (the first round of --triples anchored).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/common.h"
#include "driver/driver.h"
#include "named/read/read.h"
#include "named/road/road.h"
#include "named/road/road_steps.h"
#include "named/root/root.h"
#include "triples/triples.h"

namespace {

// The process before it reads anything: code, libraries, the fixed tables
// of the exact method and the heuristics that a run touches.
constexpr int64_t kBaseBytes = int64_t{8} << 20;

}  // namespace

int main(int argc, char** argv) {
    const bool anchored = argc == 4 && std::string(argv[3]) == "--anchored";
    if (argc != 3 && !anchored) {
        std::fputs("use tressil_scale_probe GENES.nwk OUTGROUP [--anchored]\n", stderr);
        return 1;
    }
    std::ifstream file(argv[1]);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string text = buffer.str();
    std::vector<std::string> names;
    std::unordered_map<std::string, int32_t> numbers;
    std::vector<GeneTree> trees;
    int64_t nodes = 0;
    size_t pos = 0;
    NamedTree tree{};
    // OUTGROUP may list several taxa, separated by commas.
    std::unordered_set<std::string> outgroup;
    std::stringstream list(argv[2]);
    for (std::string name; std::getline(list, name, ',');)
        outgroup.insert(name);
    while (readNextTree(text, &pos, &tree, true)) {
        if (tree.leafCount < 3 || rootOnOutgroup(&tree, outgroup).how == Rooting::kNoOutgroup)
            continue;
        numberTaxa(tree, numbers, names);
        trees.push_back(geneTreeOf(tree, numbers));
        nodes += static_cast<int64_t>(trees.back().parent.size());
    }
    const auto species = static_cast<int32_t>(names.size());
    const Method method = species <= kMaxExactSpecies ? Method::kExact : Method::kSearch;
    const int64_t estimate = kBaseBytes + static_cast<int64_t>(text.size()) +
                             runMemoryBytes(method, species, threadCountToUse(),
                                            static_cast<int64_t>(trees.size()), nodes);
    const auto start = std::chrono::steady_clock::now();
    fillTripleTable(trees, species);
    const std::chrono::duration<double> fill = std::chrono::steady_clock::now() - start;
    std::printf("%d %zu %.2f %.0f", species, trees.size(), fill.count(),
                static_cast<double>(estimate) / (1 << 20));
    if (anchored) {
        g_speciesCount = species;
        const AnchorClades clades =
            anchorCladesOf(solveSpeciesTree(InferMethod::kHeuristic, 0).tree, species);
        const auto from = std::chrono::steady_clock::now();
        fillAnchoredTable(trees, species, clades, kWeightUnit);
        const std::chrono::duration<double> anchoredFill = std::chrono::steady_clock::now() - from;
        std::printf(" %.2f", anchoredFill.count());
    }
    std::printf("\n");
    return 0;
}
