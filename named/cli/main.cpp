#include "named/cli/cli.h"

int main(int argc, char** argv) {
    return runNewickTool(argc, argv);
}
