// The loop of defectkit run: the set read once, instance by instance; each selected
// instance that has no result yet is written into its work folder as it comes, handed to
// a solver when one of the --jobs slots is free, and recorded when its solver has ended
// and every process it left is gone. Solvers are started and waited for on this thread
// only (solver_process.h tells their life cycle); the reader's worker thread only reads.
#pragma once

#include "commands/commands.h"
#include "run/instance_work.h"
#include "run/solver_process.h"

#include <memory>
#include <vector>

struct RunningInstance {
    InstanceWork work;
    SolverProcess process;
};

struct RunLoop {
    const RunOptions* options = nullptr;
    KitSet set;
    std::string dir;           // absolute
    std::int32_t largest = 0;  // the set's instances
    std::string command;       // the solver's command with its {words}
    std::vector<bool> pending; // per instance number: selected and without a result
    std::int32_t pending_left = 0;
    std::vector<std::unique_ptr<RunningInstance>> running;
    std::unique_ptr<RunningInstance> reading; // the instance being written, if selected
    int failure = 0;                          // 2 after an I/O problem that ends the run
};

// Reads the set and runs every pending instance. Returns 0, or 2 after an I/O problem,
// 1 or 2 after a problem in the set's files (printed), or 130 / 143 when interrupted.
int run_pending_instances(RunLoop& state);
// The command for one instance: every {word} replaced by its value, shell-quoted.
std::string solver_command(const RunLoop& state, const InstanceWork& work);
// "'text'" for /bin/sh, a single quote written as '\''.
std::string shell_quote(const std::string& text);
