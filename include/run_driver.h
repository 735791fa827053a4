// The run from the banner to the closing prompt: dialogue, seeding, the item phase, the
// defect phase, and pause-and-exit, the one way a run is abandoned.
#pragma once

#include "defect_generation.h"
#include "defectgen.h"
#include "item_generation.h"
#include "output_file.h"
#include "random_stream.h"

#include <istream>
#include <ostream>
#include <string_view>

// Everything one run owns. The tables are large, so main keeps the record in static
// storage rather than on its stack.
struct RunState {
    RunParams params;
    RandomStream stream;
    ItemTable items;
    DefectCounts counts;
};

inline constexpr const char* closing_prompt = "\n\nProgram run finished. Enter a number to quit! ";

// Prints the message unchanged, waits for one number (whatever it is, or nothing at the
// end of input) and returns the status of an abandoned run, 1, for main to exit with.
int pause_and_exit(std::istream& in, std::ostream& out, std::string_view message);

// Runs the whole program on the given console. Files go to disk, or into `memory` when
// it is given. Returns the exit status: 0 after a completed run, 1 otherwise.
int run_program(RunState& state, std::istream& in, std::ostream& out, MemoryFiles* memory);
