#include "run_driver.h"

#include <iostream>

int main() {
    static RunState state;
    OutputSink disk;
    return exit_status(run_program(state, std::cin, std::cout, disk));
}
