#include "newick/newick.h"

int main(int argc, char** argv) {
    return runNewickTool(argc, argv);
}
