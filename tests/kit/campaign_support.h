// What the tests of sharded and SLURM runs share: a hand-made set, a deterministic stub
// solver, the measured columns masked, and a folder's names.
#pragma once

#include "set_fixture.h"

#include <string>

// `instances` instances of one 10 x 10 object with a defect at (8, 8) to (10, 10) and the
// items 2 x 8 and 5 x 5 (bound 41), as items.txt and defects.txt in the folder.
void write_campaign_set(const std::string& folder, int instances);
// The set's words for defectkit, in that folder.
inline const char* const campaign_set = "--object 10x10 --items items.txt --defects defects.txt";
// Writes FOLDER/stub.sh and returns the --solver words that run it: instance K places both
// items when K mod 3 = 0, one when K mod 3 = 1, one on the defect when K mod 3 = 2. Each
// call is noted in FOLDER/calls; the instance named in FOLDER/hold ignores SIGTERM and
// waits to be killed.
std::string campaign_solver(const std::string& folder);
// The instances in FOLDER/calls (one digit each), sorted: solvers run at once note their
// calls in any order.
std::string sorted_calls(const std::string& folder);
// results.csv with wall_s, cpu_s and max_rss_kb replaced by "-".
std::string mask_measured(const std::string& csv);
// The summary with its wall time line replaced by "wall time -".
std::string mask_wall(const std::string& summary);
// The names in the folder, sorted, one a line.
std::string folder_names(const std::string& folder);
// Every occurrence of `from` in `text` replaced by `to`.
std::string replace_all(std::string text, const std::string& from, const std::string& to);
// Runs the shell command in the folder, stdin from an empty file; ended after 2 minutes.
KitRun run_shell_in(const std::string& folder, const std::string& command);
