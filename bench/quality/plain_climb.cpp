// The yardstick of the search above 20 species: the heuristic method's tree
// improved by a plain best-improvement climb of subtree moves.
//
//   tressil_plain_climb INPUT.txt
//
// reads a tressil input and prints the satisfied weight of the climbed tree.
//
//   tressil_plain_climb --genes GENES.nwk [OUTGROUP]
//
// reads gene trees as infer does (rooted on OUTGROUP when given) and prints
// one line: the heuristic method's weight, its plain climb's, the search's,
// the plain climb the search makes from its best start, the bound of sets
// of four species and the triple bound.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/common.h"
#include "driver/driver.h"
#include "io/io.h"
#include "named/read/read.h"
#include "named/road/road.h"
#include "named/root/root.h"
#include "search/search.h"
#include "search/search_steps.h"
#include "triples/triples.h"

namespace {

int64_t plainClimbOfHeuristic() {
    // The tree the heuristic method writes, as it chooses it.
    SearchTree tree;
    treeFromNodes(runMethod(Method::kHeuristic).tree, g_speciesCount, &tree);
    if (g_speciesCount >= 3) climbPlainly(&tree);
    return scoreSearchTree(tree);
}

// One rooted gene tree, its taxa numbered, children first.

void fillFromGenes(const char* path, const char* outgroup) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    std::vector<std::string> names;
    std::unordered_map<std::string, int32_t> numbers;
    std::vector<GeneTree> trees;
    size_t pos = 0;
    NamedTree tree{};
    while (readNextTree(text.str(), &pos, &tree, true)) {
        if (tree.leafCount < 3) continue;
        if (outgroup != nullptr && rootOnOutgroup(&tree, {outgroup}).how == Rooting::kNoOutgroup)
            continue;
        numberTaxa(tree, numbers, names);
        trees.push_back(geneTreeOf(tree, numbers));
    }
    const auto species = static_cast<int32_t>(names.size());
    fillTripleTable(trees, species);
    g_speciesCount = species;
    g_treeCount = static_cast<int32_t>(trees.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--genes") {
        fillFromGenes(argv[2], argc > 3 ? argv[3] : nullptr);
        const int64_t heuristic = runMethod(Method::kHeuristic).total;
        const int64_t plain = plainClimbOfHeuristic();
        const SearchResult found = searchTree();
        SearchTable table;
        prepareSearchTable(&table);
        std::printf("%lld %lld %lld %lld %lld %lld\n", static_cast<long long>(heuristic),
                    static_cast<long long>(plain), static_cast<long long>(found.satisfied),
                    static_cast<long long>(found.plainClimb),
                    static_cast<long long>(quartetWeightBound(table)),
                    static_cast<long long>(tripleWeightBound(table)));
        freeTree(found.tree);
        return 0;
    }
    if (argc != 2) {
        std::fputs("use tressil_plain_climb INPUT.txt | --genes GENES.nwk [OUTGROUP]\n", stderr);
        return 1;
    }
    g_inFile = std::fopen(argv[1], "r");
    if (g_inFile == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    readInput();
    std::fclose(g_inFile);
    g_inFile = nullptr;
    std::printf("%lld\n", static_cast<long long>(plainClimbOfHeuristic()));
    return 0;
}
