// defectkit run --slurm (run_slurm.cpp), and what it shares with run.cpp: the set and the
// folder named again, by absolute paths, for a defectkit that runs elsewhere.
#pragma once

#include "run/run_loop.h"

#include <string>
#include <vector>

// The path made absolute from the working folder, in normal form ("" stays "").
std::string absolute(const std::string& path);
// The words that name the set on a command line: the same files by absolute paths.
std::string set_words(const KitSet& set, const SetOptions& options);
// With DIR prepared and its manifest claimed: writes DIR/run.sbatch and DIR/slurm/, prints
// the sbatch line, and with --submit / --wait submits it and waits. The exit status.
int run_slurm(const RunLoop& state, const std::vector<bool>& selected);
