// Placeholder until this job is built.
#include "commands.h"
#include <iostream>
int run_stats(const StatsOptions&) {
    std::cerr << "defectkit: not built yet\n";
    return 2;
}
