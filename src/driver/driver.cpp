#include "driver/driver.h"

#include "common/common.h"

int runTressil(int argc, char** argv) {
    (void)argc;
    (void)argv;
    return 0;
}
