// The run from the banner to the closing prompt: dialogue, seeding, the item phase, the
// defect phase, and pause-and-exit, the one way a run is abandoned.
#pragma once

#include "defect_generation.h"
#include "defectgen.h"
#include "item_generation.h"
#include "output_sink.h"
#include "random_stream.h"
#include "run_outcome.h"

#include <istream>
#include <ostream>

// Everything one run owns. The tables are large, so main keeps the record in static
// storage rather than on its stack.
struct RunState {
    RunParams params;
    RandomStream stream;
    ItemTable items;
    DefectCounts counts;
};

inline constexpr const char* closing_prompt = "\n\nProgram run finished. Enter a number to quit! ";

// Messages of the failures the run itself meets, each printed through pause-and-exit.
namespace message {
inline constexpr const char* no_memory = "The run could not get enough memory!";
inline constexpr const char* no_thread = "The run could not start a thread!";
// Of a file, after "The file " and its name.
inline constexpr const char* cannot_create = " could not be created!";
inline constexpr const char* locked = " is locked by another run!";
inline constexpr const char* cannot_write = " could not be written completely!";
} // namespace message

// Runs the whole program on the given console, its files going where `sink` says, and
// tells how it ended.
RunOutcome run_program(RunState& state, std::istream& in, std::ostream& out, OutputSink& sink);

// The status for main to exit with: 0 after a completed run, 1 otherwise.
int exit_status(const RunOutcome& outcome);

// Prints the outcome's message as the run printed it (nothing for a completed run).
void put_message(std::ostream& out, const RunOutcome& outcome);
