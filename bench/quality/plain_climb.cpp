// The yardstick of the search above 20 species: the heuristic method's tree
// improved by a plain best-improvement climb of subtree moves. Reads a tressil
// input and prints the satisfied weight of the climbed tree.
//
//   tressil_plain_climb INPUT.txt
#include <cstdio>

#include "common/common.h"
#include "driver/driver.h"
#include "io/io.h"
#include "search/search_steps.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("use tressil_plain_climb INPUT.txt\n", stderr);
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
    // The tree the heuristic method writes, as it chooses it.
    SearchTree tree;
    treeFromNodes(runMethod(Method::kHeuristic).tree, g_speciesCount, &tree);
    if (g_speciesCount >= 3) {
        SearchTable table;
        prepareSearchTable(&table);
        MoveWork work;
        TreeGains gains;
        buildTreeGains(table, tree, &gains, &work);
        climbBySubtreeMoves(table, &tree, &gains, &work);
    }
    std::printf("%lld\n", static_cast<long long>(scoreSearchTree(tree)));
    return 0;
}
