// defectkit run --slurm: the job array DIR/run.sbatch, whose task i of N runs the same
// `defectkit run` with --shard i/N, and the plan DIR/slurm/array.json that tells results
// which task holds which instance (so that it can print the line that runs the missing).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ArrayRequest {
    std::string dir;          // absolute, as the tasks see it
    std::string task_command; // `defectkit run ...` with every setting, without --shard
    std::int32_t tasks = 1;
    std::int64_t seconds = 0; // --time of each task
    std::int64_t mem_mb = 0;  // --mem of each task; 0: none (the cluster's default)
    std::int32_t cpus = 1;
    std::string partition; // empty: the cluster's default
    std::string account;
};

// --time for a task of `share` instances run `jobs` at a time, each stopped at
// time_limit x 1.1 + grace and killed 5 s later: that, plus a tenth and five minutes.
std::int64_t task_seconds(std::int64_t share, std::int32_t jobs, std::int64_t time_limit,
                          double grace);
// --mem for a task whose `jobs` solvers each have an address-space limit of `memory_mb`:
// theirs and 256 MB for defectkit itself; 0 when there is no limit.
std::int64_t task_mem_mb(std::int64_t memory_mb, std::int32_t jobs);
// Seconds as SLURM's D-HH:MM:SS.
std::string slurm_duration(std::int64_t seconds);
// False, with the message on stderr, when the folder's path holds a character that an
// #SBATCH line cannot carry (white space, a quote, a backslash, % or $).
bool sbatch_path_ok(const std::string& dir);
// The text of DIR/run.sbatch.
std::string sbatch_script(const ArrayRequest& request);

struct ArrayPlan {
    std::string script; // DIR/run.sbatch
    std::int32_t tasks = 0;
    std::vector<std::int32_t> instances; // the selected instances, in order
};

// DIR/slurm/array.json, whole or absent. False after a message.
bool write_array_plan(const std::string& dir, const ArrayPlan& plan);
// 1 when DIR/slurm/array.json was read, 0 when there is none (no SLURM run), -1 after a
// message when it cannot be read.
int read_array_plan(const std::string& dir, ArrayPlan& plan);
// "sbatch --array=LIST DIR/run.sbatch" for the tasks that hold the instances that have no
// result (`done` per instance number); "" when none is missing.
std::string resubmit_line(const ArrayPlan& plan, const std::vector<bool>& done);
